#include "items.hpp"

#include <cstdio>
#include <cstring>

#include "common/errors.hpp"
#include "errors.hpp"

namespace fv::py {

// The buffer of `a` when it is an exact 1-D float64 array in native byte order.
static inline bool plain_vector(PyObject* a, PyArrayObject** arr) {
  if (!PyArray_CheckExact(a)) return false;
  PyArrayObject* x = reinterpret_cast<PyArrayObject*>(a);
  if (PyArray_NDIM(x) != 1 || PyArray_TYPE(x) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(x))
    return false;
  *arr = x;
  return true;
}

// NumPy's rule: negative indices count from the end.
static inline char* element(PyArrayObject* x, long i) {
  const npy_intp n = PyArray_DIM(x, 0);
  const npy_intp j = i < 0 ? i + n : i;
  if (j < 0 || j >= n) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "index %ld is out of bounds for axis 0 with size %ld", i,
                  static_cast<long>(n));
    throw Error(ErrorKind::Index, buf);
  }
  return PyArray_BYTES(x) + j * PyArray_STRIDE(x, 0);
}

long item_count(PyObject* a) {
  PyArrayObject* x;
  if (plain_vector(a, &x)) return static_cast<long>(PyArray_DIM(x, 0));
  const Py_ssize_t n = PyObject_Length(a);
  if (n < 0) throw_pending();
  return static_cast<long>(n);
}

double item_get(PyObject* a, long i) {
  PyArrayObject* x;
  if (plain_vector(a, &x)) {
    double v;
    std::memcpy(&v, element(x, i), sizeof v);
    return v;
  }
  Ref index(check(PyLong_FromLong(i)));
  Ref item(check(PyObject_GetItem(a, index.get())));
  return check_double(PyFloat_AsDouble(item.get()));
}

void item_set(PyObject* a, long i, double v) {
  PyArrayObject* x;
  if (plain_vector(a, &x) && PyArray_ISWRITEABLE(x)) {
    std::memcpy(element(x, i), &v, sizeof v);
    return;
  }
  Ref index(check(PyLong_FromLong(i)));
  Ref value(check(PyFloat_FromDouble(v)));
  if (PyObject_SetItem(a, index.get(), value.get()) < 0) throw_pending();
}

PyObject* zeros(long n) {
  npy_intp dims[1] = {n};
  return check(PyArray_ZEROS(1, dims, NPY_DOUBLE, 0));
}

PyObject* zeros_like(PyObject* a) {
  PyArrayObject* x;
  if (plain_vector(a, &x)) {
    npy_intp dims[1] = {PyArray_DIM(x, 0)};
    return check(PyArray_ZEROS(1, dims, NPY_DOUBLE, 0));
  }
  static PyObject* fn = nullptr;  // numpy.zeros_like, looked up once
  if (!fn) {
    Ref np(check(PyImport_ImportModule("numpy")));
    fn = check(PyObject_GetAttrString(np.get(), "zeros_like"));
  }
  return check(PyObject_CallOneArg(fn, a));
}

}  // namespace fv::py
