// NumPy C-API for the extension. module.cpp defines FV_NUMPY_IMPORT to own the
// API table; every other file uses it.
#pragma once

#include <vector>

#include "errors.hpp"
#include "ref.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL fumivex2_ARRAY_API
#ifndef FV_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace fv::py {

// A float64 copy of a one-dimensional sequence of numbers, converted by NumPy
// (TypeError/ValueError from NumPy for anything else).
inline std::vector<double> float64_vector(PyObject* o) {
  Ref a(check(PyArray_FROMANY(o, NPY_DOUBLE, 1, 1, NPY_ARRAY_CARRAY_RO)));
  auto* x = reinterpret_cast<PyArrayObject*>(a.get());
  const double* d = static_cast<const double*>(PyArray_DATA(x));
  return std::vector<double>(d, d + PyArray_DIM(x, 0));
}

}  // namespace fv::py
