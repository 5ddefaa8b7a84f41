// Element access on the arrays a model holds. A 1-D float64 ndarray (exact
// type, native byte order) is read and written through its buffer with its
// stride; any other object goes through the generic item protocol, so every
// dtype, subclass and None behaves exactly as in Python. Errors are thrown as
// fv::Error / PythonErrorPending. No data pointer is kept between calls.
#pragma once

#include "numpy.hpp"

namespace fv::py {

long item_count(PyObject* a);                 // len(a)
double item_get(PyObject* a, long i);         // float(a[i])
void item_set(PyObject* a, long i, double v); // a[i] = v
PyObject* zeros(long n);                      // numpy.zeros(n)
PyObject* zeros_like(PyObject* a);            // numpy.zeros_like(a)

}  // namespace fv::py
