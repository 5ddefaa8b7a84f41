// Element access on the arrays a model holds. A 1-D float64 ndarray (exact
// type, native byte order) is read and written through its buffer with its
// stride; any other object goes through the generic item protocol, so every
// dtype, subclass and None behaves exactly as in Python. Errors are thrown as
// fv::Error / PythonErrorPending. No data pointer is kept between calls.
#pragma once

#include <cstring>

#include "numpy.hpp"

namespace fv::py {

// The array when `a` is an exact 1-D float64 ndarray in native byte order.
inline PyArrayObject* plain_vector(PyObject* a) {
  if (!PyArray_CheckExact(a)) return nullptr;
  PyArrayObject* x = reinterpret_cast<PyArrayObject*>(a);
  if (PyArray_NDIM(x) != 1 || PyArray_TYPE(x) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(x))
    return nullptr;
  return x;
}

[[noreturn]] void throw_out_of_bounds(Py_ssize_t i, Py_ssize_t n);

// Address of element i, NumPy's rule: negative indices count from the end.
inline char* element(PyArrayObject* x, Py_ssize_t i) {
  const npy_intp n = PyArray_DIM(x, 0);
  const npy_intp j = i < 0 ? i + n : i;
  if (j < 0 || j >= n) throw_out_of_bounds(i, n);
  return PyArray_BYTES(x) + j * PyArray_STRIDE(x, 0);
}

Py_ssize_t generic_count(PyObject* a);
double generic_get(PyObject* a, Py_ssize_t i);
void generic_set(PyObject* a, Py_ssize_t i, double v);

// len(a)
inline Py_ssize_t item_count(PyObject* a) {
  if (PyArrayObject* x = plain_vector(a)) return PyArray_DIM(x, 0);
  return generic_count(a);
}

// float(a[i])
inline double item_get(PyObject* a, Py_ssize_t i) {
  if (PyArrayObject* x = plain_vector(a)) {
    double v;
    std::memcpy(&v, element(x, i), sizeof v);
    return v;
  }
  return generic_get(a, i);
}

// a[i] = v
inline void item_set(PyObject* a, Py_ssize_t i, double v) {
  PyArrayObject* x = plain_vector(a);
  if (x && PyArray_ISWRITEABLE(x)) {
    std::memcpy(element(x, i), &v, sizeof v);
    return;
  }
  generic_set(a, i, v);
}

// ---- two-dimensional arrays: element (i, j) ---------------------------------------

// The array when `a` is an exact 2-D float64 ndarray in native byte order.
inline PyArrayObject* plain_matrix(PyObject* a) {
  if (!PyArray_CheckExact(a)) return nullptr;
  PyArrayObject* x = reinterpret_cast<PyArrayObject*>(a);
  if (PyArray_NDIM(x) != 2 || PyArray_TYPE(x) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(x))
    return nullptr;
  return x;
}

[[noreturn]] void throw_out_of_bounds(Py_ssize_t i, Py_ssize_t axis, Py_ssize_t n);

// Position i along `axis` of x, NumPy's rule: negative indices count from the end.
inline npy_intp position(PyArrayObject* x, int axis, Py_ssize_t i) {
  const npy_intp n = PyArray_DIM(x, axis);
  const npy_intp j = i < 0 ? i + n : i;
  if (j < 0 || j >= n) throw_out_of_bounds(i, axis, n);
  return j;
}

// Address of element (i, j) of a 2-D array.
inline char* element2(PyArrayObject* x, Py_ssize_t i, Py_ssize_t j) {
  const npy_intp r = position(x, 0, i);
  const npy_intp c = position(x, 1, j);
  return PyArray_BYTES(x) + r * PyArray_STRIDE(x, 0) + c * PyArray_STRIDE(x, 1);
}

double generic_get2(PyObject* a, Py_ssize_t i, Py_ssize_t j);
void generic_set2(PyObject* a, Py_ssize_t i, Py_ssize_t j, double v);

// float(a[i, j])
inline double item_get2(PyObject* a, Py_ssize_t i, Py_ssize_t j) {
  if (PyArrayObject* x = plain_matrix(a)) {
    double v;
    std::memcpy(&v, element2(x, i, j), sizeof v);
    return v;
  }
  return generic_get2(a, i, j);
}

// a[i, j] = v
inline void item_set2(PyObject* a, Py_ssize_t i, Py_ssize_t j, double v) {
  PyArrayObject* x = plain_matrix(a);
  if (x && PyArray_ISWRITEABLE(x)) {
    std::memcpy(element2(x, i, j), &v, sizeof v);
    return;
  }
  generic_set2(a, i, j, v);
}

PyObject* zeros(Py_ssize_t n);            // numpy.zeros(n)
PyObject* zeros_like(PyObject* a);  // numpy.zeros_like(a)

// Sets `field` to numpy.zeros_like(a). When the array `field` holds is
// referenced by nothing else (no other reference, no weak reference) and is a
// contiguous float64 vector of the right length, it is zeroed in place
// instead: no one can tell it from a new array, and the allocation is saved.
void assign_zeros_like(PyObject*& field, PyObject* a);

// `o` is an exact, writeable, C-contiguous float64 ndarray of n elements that
// owns its data and that nothing but its one holder refers to (no other
// reference, no weak reference): its holder may overwrite it in place.
bool reusable_vector(PyObject* o, npy_intp n);

}  // namespace fv::py
