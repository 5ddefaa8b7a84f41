// Attribute reads, interned names and NumPy function lookups shared by the
// drivers (reactor, flame solvers, steady solve). All of them throw
// PythonErrorPending with the interpreter's own error set on failure.
#pragma once

#include <initializer_list>

#include "args.hpp"
#include "errors.hpp"

namespace fv::py {

// An interned string that lives for the process.
PyObject* interned(const char* s);

// The interned string for a name given as a string literal (the literal's
// address identifies it; the table is filled on first use of each name).
PyObject* literal_name(const char* name);

// getattr(o, name)
inline Ref get(PyObject* o, PyObject* name) { return Ref(check(PyObject_GetAttr(o, name))); }
inline Ref get(PyObject* o, const char* name) { return get(o, literal_name(name)); }

// The value of a number the way the binding converts arguments (to_double).
inline double as_double(PyObject* v) {
  double d;
  if (!to_double(v, &d)) throw_pending();
  return d;
}

// float(v) through the float protocol alone (PyFloat_AsDouble), as the
// drivers read results of Python calls.
inline double float_value(PyObject* v) { return check_double(PyFloat_AsDouble(v)); }

// float(getattr(o, name)) through the float protocol
inline double get_float(PyObject* o, PyObject* name) {
  Ref v = get(o, name);
  return float_value(v.get());
}

inline Ref new_int(long v) { return Ref(check(PyLong_FromLong(v))); }
inline Ref new_float(double v) { return Ref(check(PyFloat_FromDouble(v))); }

// fn(*args)
inline Ref call(PyObject* fn, std::initializer_list<PyObject*> args) {
  return Ref(check(PyObject_Vectorcall(fn, args.begin(), args.size(), nullptr)));
}

// numpy.<name>, looked up at each use (the module itself once)
Ref numpy_attr(const char* name);

}  // namespace fv::py
