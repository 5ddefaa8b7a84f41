// Error types raised by the numeric core. The Python binding turns each kind
// into the matching Python exception; plain C++ callers catch fv::Error.
#pragma once

#include <stdexcept>
#include <string>

namespace fv {

enum class ErrorKind {
  ZeroDivision,   // ZeroDivisionError
  Index,          // IndexError
  Value,          // ValueError
  Type,           // TypeError
  Overflow,       // OverflowError
  NotImplemented, // NotImplementedError
  Runtime,        // RuntimeError
  Exception,      // the interpreter's base Exception (reactor configuration errors)
  PythonPending,  // an exception is already set in the Python interpreter
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

// Raised by host callbacks when a Python exception is pending; carries no text
// of its own so the original exception reaches the caller unchanged.
class PythonErrorPending : public Error {
 public:
  PythonErrorPending() : Error(ErrorKind::PythonPending, "") {}
};

[[noreturn]] void throw_index_error(long index, std::size_t size, const char* what);
[[noreturn]] void throw_zero_division(const char* message);

}  // namespace fv
