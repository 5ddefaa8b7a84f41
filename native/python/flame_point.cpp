#include "flame_point.hpp"

#include <utility>

#include "bind/errors.hpp"
#include "bind/items.hpp"
#include "bind/numpy.hpp"

namespace fv::py {

Ref column_view(PyObject* X, long i) {
  Ref held = Ref::borrow(X);  // indexing through Python may replace the solver's X
  if (PyArrayObject* a = plain_matrix(X)) {
    const npy_intp j = position(a, 1, i);
    npy_intp dims[1] = {PyArray_DIM(a, 0)};
    npy_intp strides[1] = {PyArray_STRIDE(a, 0)};
    PyArray_Descr* descr = PyArray_DESCR(a);
    Py_INCREF(descr);
    Ref view(check(PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, strides,
                                        PyArray_BYTES(a) + j * PyArray_STRIDE(a, 1),
                                        PyArray_FLAGS(a) & NPY_ARRAY_WRITEABLE, nullptr)));
    // the view keeps X alive (the reference is stolen)
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(view.get()), Py_NewRef(X)) < 0)
      throw_pending();
    return view;
  }
  Ref index(check(PyLong_FromLong(i)));
  Ref all(check(PySlice_New(nullptr, nullptr, nullptr)));
  Ref key(check(PyTuple_Pack(2, all.get(), index.get())));
  return Ref(check(PyObject_GetItem(X, key.get())));
}

bool column_current(PyObject* X, PyObject* col, long i) {
  PyArrayObject* a = plain_matrix(X);
  if (!a || !PyArray_CheckExact(col) || i < 0 || i >= PyArray_DIM(a, 1)) return false;
  auto* c = reinterpret_cast<PyArrayObject*>(col);
  return PyArray_BASE(c) == X && PyArray_NDIM(c) == 1 &&
         PyArray_BYTES(c) == PyArray_BYTES(a) + i * PyArray_STRIDE(a, 1) &&
         PyArray_DIM(c, 0) == PyArray_DIM(a, 0) && PyArray_STRIDE(c, 0) == PyArray_STRIDE(a, 0) &&
         (PyArray_FLAGS(c) & NPY_ARRAY_WRITEABLE) == (PyArray_FLAGS(a) & NPY_ARRAY_WRITEABLE);
}

namespace {

// Nothing but the cache refers to o.
bool unshared(PyObject* o) {
  if (Py_REFCNT(o) != 1) return false;
  if (!PyArray_Check(o)) return true;
  return reinterpret_cast<PyArrayObject_fields*>(o)->weakreflist == nullptr;
}

}  // namespace

Ref PointObjects::column(PyObject* X, long i) {
  // X stays alive for the whole call: indexing it through Python (or the
  // release of a replaced view) may drop the solver's own reference to it.
  Ref held = Ref::borrow(X);
  if (i >= 0 && static_cast<std::size_t>(i) < columns_.size()) {
    PyObject* kept = columns_[static_cast<std::size_t>(i)];
    if (kept && unshared(kept) && column_current(X, kept, i)) return Ref::borrow(kept);
  }
  Ref view = column_view(X, i);
  if (i >= 0 && PyArray_CheckExact(view.get()) && column_current(X, view.get(), i)) {
    if (static_cast<std::size_t>(i) >= columns_.size())
      columns_.resize(static_cast<std::size_t>(i) + 1, nullptr);
    // the replaced view is released once the slot holds the new one: its
    // release can run Python code that uses (or clears) this cache
    Ref replaced(std::exchange(columns_[static_cast<std::size_t>(i)], Py_NewRef(view.get())));
  }
  return view;
}

void PointObjects::assign_TPX(PyObject* gas, double T, double P, PyObject* col) {
  static PyObject* const name = PyUnicode_InternFromString("TPX");
  Ref held_gas = Ref::borrow(gas), held_col = Ref::borrow(col);
  Ref T_obj(check(PyFloat_FromDouble(T)));
  Ref P_obj(check(PyFloat_FromDouble(P)));
  // What the tuple held before, released only after the phase has taken the
  // new state: releasing an item (a composition view with a __del__, say) can
  // run Python code that calls this solver again and clears this cache.
  Ref old[3];
  Ref tpx;  // our own reference to the tuple handed over, across the setter
  if (tpx_ && unshared(tpx_)) {
    tpx = Ref::borrow(tpx_);
    PyObject* const fresh[3] = {T_obj.release(), P_obj.release(), Py_NewRef(col)};
    for (Py_ssize_t k = 0; k < 3; ++k) {
      old[k] = Ref(PyTuple_GET_ITEM(tpx.get(), k));  // the tuple's reference, taken over
      PyTuple_SET_ITEM(tpx.get(), k, fresh[k]);
    }
    if (!PyObject_GC_IsTracked(tpx.get())) PyObject_GC_Track(tpx.get());
  } else {
    tpx = Ref(check(PyTuple_New(3)));
    PyTuple_SET_ITEM(tpx.get(), 0, T_obj.release());
    PyTuple_SET_ITEM(tpx.get(), 1, P_obj.release());
    PyTuple_SET_ITEM(tpx.get(), 2, Py_NewRef(col));
    old[0] = Ref(std::exchange(tpx_, Py_NewRef(tpx.get())));  // a tuple someone else keeps
  }
  if (PyObject_SetAttr(gas, name, tpx.get()) < 0) throw_pending();
}

void PointObjects::clear() {
  // Taken out of the cache before any is released: a release can run Python
  // code that uses the cache again (filling or clearing it meanwhile).
  std::vector<PyObject*> columns;
  columns.swap(columns_);
  Ref tpx(std::exchange(tpx_, nullptr));
  for (PyObject*& c : columns) Py_CLEAR(c);
}

void PointObjects::clear_after_call() {
  SavedError saved;
  clear();
  saved.restore();
}

int PointObjects::traverse(visitproc visit, void* arg) {
  for (PyObject* c : columns_) Py_VISIT(c);
  Py_VISIT(tpx_);
  return 0;
}

}  // namespace fv::py
