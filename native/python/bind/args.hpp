// Argument parsing and conversion with the module's fixed error texts.
#pragma once

#include <vector>

#include "ref.hpp"

namespace fv::py {

// "%.200s() takes %.8s %zd positional argument%.1s (%zd given)" (TypeError)
void raise_arg_count(const char* func, Py_ssize_t expected, Py_ssize_t given);

// __init__ of a type whose constructor takes no arguments: false with the
// count or keyword TypeError set.
bool check_no_init_args(PyObject* args, PyObject* kwds);

// Sorts positional and keyword arguments of a METH_FASTCALL | METH_KEYWORDS
// call into out[0..n) (borrowed). Every parameter is required. Returns false
// with a TypeError set on a wrong count, an unknown or a repeated keyword.
bool parse_args(const char* func, PyObject* const* names, Py_ssize_t n, PyObject* const* args,
                Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

// The same for a call with a tuple and a dict (tp_init, tp_call). The values
// in out are borrowed from args and kwds.
bool parse_tuple_args(const char* func, PyObject* const* names, Py_ssize_t n, PyObject* args,
                      PyObject* kwds, PyObject** out);

// Conversions; each returns false with the interpreter's own error set.
bool to_double(PyObject* o, double* out);
bool to_int(PyObject* o, int* out);  // C int range, OverflowError beyond
bool to_bool(PyObject* o, bool* out);
// NumPy array, subclass or None; else
// "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)"
bool check_array_arg(PyObject* o, const char* argname);
// Any iterable of numbers into a vector (the vector is untouched on failure).
bool to_double_vector(PyObject* o, std::vector<double>* out);
bool to_int_vector(PyObject* o, std::vector<int>* out);

PyObject* new_list(const std::vector<double>& v);
PyObject* new_list(const std::vector<int>& v);

// Interned Python strings for parameter names ("int PAH_1_id, int PAH_2_id"
// gives PAH_1_id and PAH_2_id); the list lives for the process.
std::vector<PyObject*> parameter_names(const char* params);

}  // namespace fv::py
