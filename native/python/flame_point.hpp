// What both flame soot solvers do with the caller's objects at one grid point:
// the column of the composition array and the phase's state assignment.
#pragma once

#include "bind/ref.hpp"

namespace fv::py {

// X[:, i]. For an exact 2-D float64 ndarray the view is built here (the
// column's data with the row stride, X as its base), as NumPy's own indexing
// gives it, with NumPy's bounds rule; anything else is indexed through Python.
Ref column_view(PyObject* X, long i);

// Whether `col` is still X[:, i] as column_view would build it now (the
// phase's code may have replaced or reshaped X since the view was taken).
bool column_current(PyObject* X, PyObject* col, long i);

// gas.TPX = (T, P, col). The tuple of the previous point is refilled when
// nobody but `cache` holds it (nothing can tell it from a new one); otherwise
// a new tuple is made and cached.
void assign_TPX(PyObject* gas, PyObject*& cache, double T, double P, PyObject* col);

// numpy.<name>, looked up at each use
Ref numpy_attr(const char* name);

}  // namespace fv::py
