// What both flame soot solvers do with the caller's objects at one grid point:
// the column of the composition array and the phase's state assignment.
#pragma once

#include <vector>

#include "bind/attrs.hpp"
#include "bind/ref.hpp"

namespace fv::py {

// X[:, i]. For an exact 2-D float64 ndarray the view is built here (the
// column's data with the row stride, X as its base), as NumPy's own indexing
// gives it, with NumPy's bounds rule; anything else is indexed through Python.
Ref column_view(PyObject* X, long i);

// Whether `col` is still X[:, i] as column_view would build it now (the
// phase's code may have replaced or reshaped X since the view was taken).
bool column_current(PyObject* X, PyObject* col, long i);

// The objects a solver hands out at every grid point, kept for reuse: the
// view of each column of X and the (T, P, X) tuple. One is reused only when
// nothing but this cache refers to it (no reference, no weak reference), so
// nobody can tell it from a new one; the allocations are saved.
//
// Python code can run inside every call here (a phase's TPX setter, indexing
// a subclass of ndarray, the __del__ of a released object) and can call the
// solver again, which clears or refills this cache. So each call holds its
// own reference to every object it uses, and objects the cache lets go of are
// released only after the cache no longer points to them.
class PointObjects {
 public:
  PointObjects() = default;
  PointObjects(const PointObjects&) = delete;
  PointObjects& operator=(const PointObjects&) = delete;
  ~PointObjects() { clear(); }

  // X[:, i], as column_view gives it
  Ref column(PyObject* X, long i);
  // gas.TPX = (T, P, col)
  void assign_TPX(PyObject* gas, double T, double P, PyObject* col);
  void clear();
  // clear() at the end of a solver's call, with the error the call may have
  // left pending put aside while the kept objects are released
  void clear_after_call();
  int traverse(visitproc visit, void* arg);

 private:
  std::vector<PyObject*> columns_;  // by column index, null where none is kept
  PyObject* tpx_ = nullptr;
};

}  // namespace fv::py
