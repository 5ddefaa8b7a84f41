#include "items.hpp"

#include <cstdio>

#include "common/errors.hpp"
#include "errors.hpp"

namespace fv::py {

void throw_out_of_bounds(Py_ssize_t i, Py_ssize_t n) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "index %zd is out of bounds for axis 0 with size %zd", i, n);
  throw Error(ErrorKind::Index, buf);
}

void throw_out_of_bounds(Py_ssize_t i, Py_ssize_t axis, Py_ssize_t n) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "index %zd is out of bounds for axis %zd with size %zd", i, axis,
                n);
  throw Error(ErrorKind::Index, buf);
}

// The generic paths keep their own reference: they may run Python code that
// replaces the field the array came from.
Py_ssize_t generic_count(PyObject* a) {
  Ref held = Ref::borrow(a);
  const Py_ssize_t n = PyObject_Length(a);
  if (n < 0) throw_pending();
  return n;
}

double generic_get(PyObject* a, Py_ssize_t i) {
  Ref held = Ref::borrow(a);
  Ref index(check(PyLong_FromSsize_t(i)));
  Ref item(check(PyObject_GetItem(a, index.get())));
  return check_double(PyFloat_AsDouble(item.get()));
}

void generic_set(PyObject* a, Py_ssize_t i, double v) {
  Ref held = Ref::borrow(a);
  Ref index(check(PyLong_FromSsize_t(i)));
  Ref value(check(PyFloat_FromDouble(v)));
  if (PyObject_SetItem(a, index.get(), value.get()) < 0) throw_pending();
}

namespace {
// the tuple (i, j)
Ref index_pair(Py_ssize_t i, Py_ssize_t j) {
  Ref a(check(PyLong_FromSsize_t(i)));
  Ref b(check(PyLong_FromSsize_t(j)));
  return Ref(check(PyTuple_Pack(2, a.get(), b.get())));
}
}  // namespace

double generic_get2(PyObject* a, Py_ssize_t i, Py_ssize_t j) {
  Ref held = Ref::borrow(a);
  Ref index = index_pair(i, j);
  Ref item(check(PyObject_GetItem(a, index.get())));
  return check_double(PyFloat_AsDouble(item.get()));
}

void generic_set2(PyObject* a, Py_ssize_t i, Py_ssize_t j, double v) {
  Ref held = Ref::borrow(a);
  Ref index = index_pair(i, j);
  Ref value(check(PyFloat_FromDouble(v)));
  if (PyObject_SetItem(a, index.get(), value.get()) < 0) throw_pending();
}

PyObject* zeros(Py_ssize_t n) {
  npy_intp dims[1] = {n};
  return check(PyArray_ZEROS(1, dims, NPY_DOUBLE, 0));
}

PyObject* zeros_like(PyObject* a) {
  if (PyArrayObject* x = plain_vector(a)) {
    npy_intp dims[1] = {PyArray_DIM(x, 0)};
    return check(PyArray_ZEROS(1, dims, NPY_DOUBLE, 0));
  }
  Ref held = Ref::borrow(a);
  static PyObject* fn = nullptr;  // numpy.zeros_like, looked up once
  if (!fn) {
    Ref np(check(PyImport_ImportModule("numpy")));
    fn = check(PyObject_GetAttrString(np.get(), "zeros_like"));
  }
  return check(PyObject_CallOneArg(fn, a));
}

}  // namespace fv::py

namespace fv::py {

bool reusable_vector(PyObject* o, npy_intp n) {
  PyArrayObject* x = o ? plain_vector(o) : nullptr;
  return x && Py_REFCNT(o) == 1 &&
         reinterpret_cast<PyArrayObject_fields*>(x)->weakreflist == nullptr &&
         PyArray_CHKFLAGS(x, NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_OWNDATA | NPY_ARRAY_WRITEABLE) &&
         PyArray_DIM(x, 0) == n;
}

void assign_zeros_like(PyObject*& field, PyObject* a) {
  PyArrayObject* src = plain_vector(a);
  if (src && reusable_vector(field, PyArray_DIM(src, 0))) {
    PyArrayObject* old = reinterpret_cast<PyArrayObject*>(field);
    std::memset(PyArray_DATA(old), 0, static_cast<std::size_t>(PyArray_NBYTES(old)));
    return;
  }
  PyObject* z = zeros_like(a);
  Py_XSETREF(field, z);
}

}  // namespace fv::py
