// Translation between core exceptions and Python exceptions.
#pragma once

#include "ref.hpp"

namespace fv::py {

// Inside a catch block: set the Python exception matching the active C++
// exception and return nullptr (or -1 through the int variant).
PyObject* set_python_error() noexcept;
inline int set_python_error_int() noexcept {
  set_python_error();
  return -1;
}

// Throws the marker that a Python exception is already set.
[[noreturn]] void throw_pending();

// Checks a result from the C-API: a null result means an exception is set.
inline PyObject* check(PyObject* o) {
  if (!o) throw_pending();
  return o;
}
inline double check_double(double v) {
  if (v == -1.0 && PyErr_Occurred()) throw_pending();
  return v;
}

// The Python error pending when it was made, taken out of the interpreter so
// that clean-up code may call the C API (and run Python code) safely; put
// back by restore(), or dropped by the destructor when the clean-up failed
// with an error of its own (that error then stands: it happened first in the
// order the caller observes).
class SavedError {
 public:
  SavedError() { PyErr_Fetch(&type_, &value_, &traceback_); }
  SavedError(const SavedError&) = delete;
  SavedError& operator=(const SavedError&) = delete;
  ~SavedError() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
  }
  void restore() {
    PyErr_Restore(type_, value_, traceback_);
    type_ = value_ = traceback_ = nullptr;
  }

 private:
  PyObject* type_ = nullptr;
  PyObject* value_ = nullptr;
  PyObject* traceback_ = nullptr;
};

// Runs `cleanup` while the active C++ exception (inside a catch block) is
// being propagated: a pending Python error is saved around it and restored
// after it. When the clean-up itself fails, its exception propagates instead.
template <class F>
void while_unwinding(F&& cleanup) {
  SavedError saved;
  cleanup();
  saved.restore();
}

// Runs `body` and turns C++ exceptions into a Python error (nullptr result).
template <class F>
PyObject* guarded(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return set_python_error();
  }
}
template <class F>
int guarded_int(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return set_python_error_int();
  }
}

}  // namespace fv::py
