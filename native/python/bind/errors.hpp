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
