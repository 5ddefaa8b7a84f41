#include "args.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "numpy.hpp"

namespace fv::py {

void raise_arg_count(const char* func, Py_ssize_t expected, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
               func, "exactly", expected, expected == 1 ? "" : "s", given);
}

bool check_no_init_args(PyObject* args, PyObject* kwds) {
  if (PyTuple_GET_SIZE(args) != 0) {
    raise_arg_count("__init__", 0, PyTuple_GET_SIZE(args));
    return false;
  }
  if (kwds && PyDict_GET_SIZE(kwds) > 0) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    PyDict_Next(kwds, &pos, &key, &value);
    PyErr_Format(PyExc_TypeError, "__init__() got an unexpected keyword argument '%S'", key);
    return false;
  }
  return true;
}

bool parse_args(const char* func, PyObject* const* names, Py_ssize_t n, PyObject* const* args,
                Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  if (nargs > n) {
    raise_arg_count(func, n, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < n; ++i) out[i] = i < nargs ? args[i] : nullptr;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", func);
      return false;
    }
    Py_ssize_t pos = -1;
    for (Py_ssize_t i = 0; i < n && pos < 0; ++i) {
      if (key == names[i]) pos = i;
    }
    for (Py_ssize_t i = 0; i < n && pos < 0; ++i) {
      const int eq = PyUnicode_Compare(key, names[i]);
      if (eq == -1 && PyErr_Occurred()) return false;
      if (eq == 0) pos = i;
    }
    if (pos < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", func, key);
      return false;
    }
    if (out[pos]) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", func,
                   key);
      return false;
    }
    out[pos] = args[nargs + k];
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!out[i]) {
      raise_arg_count(func, n, i);
      return false;
    }
  }
  return true;
}

bool parse_tuple_args(const char* func, PyObject* const* names, Py_ssize_t n, PyObject* args,
                      PyObject* kwds, PyObject** out) {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  const Py_ssize_t nkw = kwds ? PyDict_GET_SIZE(kwds) : 0;
  std::vector<PyObject*> stack(static_cast<std::size_t>(nargs + nkw));
  for (Py_ssize_t i = 0; i < nargs; ++i) stack[i] = PyTuple_GET_ITEM(args, i);
  Ref kwnames;
  if (nkw) {
    kwnames.reset(PyTuple_New(nkw));
    if (!kwnames) return false;
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwds, &pos, &key, &value) && k < nkw) {
      PyTuple_SET_ITEM(kwnames.get(), k, Py_NewRef(key));
      stack[nargs + k] = value;
      ++k;
    }
  }
  return parse_args(func, names, n, stack.data(), nargs, kwnames.get(), out);
}

bool to_double(PyObject* o, double* out) {
  const double v = PyFloat_CheckExact(o) ? PyFloat_AS_DOUBLE(o) : PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) return false;
  *out = v;
  return true;
}

bool to_int(PyObject* o, int* out) {
  const long v = PyLong_AsLong(o);
  if (v == -1 && PyErr_Occurred()) return false;
  if (v < INT_MIN || v > INT_MAX) {
    PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
    return false;
  }
  *out = static_cast<int>(v);
  return true;
}

bool to_bool(PyObject* o, bool* out) {
  const int t = PyObject_IsTrue(o);
  if (t < 0) return false;
  *out = t != 0;
  return true;
}

bool check_array_arg(PyObject* o, const char* argname) {
  if (o == Py_None || PyArray_Check(o)) return true;
  PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
               argname, PyArray_Type.tp_name, Py_TYPE(o)->tp_name);
  return false;
}

// The most values a converted vector holds (2 GiB of doubles). An iterable
// that claims more through its length hint, or yields more, is refused with
// MemoryError instead of exhausting the process's memory.
constexpr Py_ssize_t kMaxVectorItems = Py_ssize_t{1} << 28;
// Storage reserved from a length hint at most: the hint may lie, so beyond
// this the vector grows with the values actually yielded.
constexpr Py_ssize_t kMaxReserveFromHint = 4096;

static bool refuse_length(Py_ssize_t n) {
  PyErr_Format(PyExc_MemoryError, "cannot convert an iterable of more than %zd values (%zd)",
               kMaxVectorItems, n);
  return false;
}

template <class T, class Convert>
static bool to_vector(PyObject* o, std::vector<T>* out, Convert convert) {
  Ref held = Ref::borrow(o);
  Ref it(PyObject_GetIter(o));
  if (!it) return false;
  const Py_ssize_t hint = PyObject_LengthHint(o, 0);
  if (hint < 0) return false;
  if (hint > kMaxVectorItems) return refuse_length(hint);
  try {
    std::vector<T> v;
    v.reserve(static_cast<std::size_t>(std::min(hint, kMaxReserveFromHint)));
    while (PyObject* item = PyIter_Next(it.get())) {
      Ref owned(item);
      T x;
      if (!convert(item, &x)) return false;
      if (static_cast<Py_ssize_t>(v.size()) >= kMaxVectorItems)
        return refuse_length(static_cast<Py_ssize_t>(v.size()) + 1);
      v.push_back(x);
    }
    if (PyErr_Occurred()) return false;
    out->swap(v);
    return true;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  }
}

bool to_double_vector(PyObject* o, std::vector<double>* out) { return to_vector(o, out, to_double); }
bool to_int_vector(PyObject* o, std::vector<int>* out) { return to_vector(o, out, to_int); }

template <class T, class Make>
static PyObject* make_list(const std::vector<T>& v, Make make) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(v.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < v.size(); ++i) {
    PyObject* item = make(v[i]);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* new_list(const std::vector<double>& v) { return make_list(v, PyFloat_FromDouble); }
PyObject* new_list(const std::vector<int>& v) {
  return make_list(v, [](int x) { return PyLong_FromLong(x); });
}

std::vector<PyObject*> parameter_names(const char* params) {
  std::vector<PyObject*> names;
  std::string text(params);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    const std::size_t last_space = item.find_last_of(' ');
    std::string name = last_space == std::string::npos ? item : item.substr(last_space + 1);
    if (!name.empty()) names.push_back(PyUnicode_InternFromString(name.c_str()));
    start = end + 1;
  }
  return names;
}

}  // namespace fv::py
