#include "attrs.hpp"

#include <utility>
#include <vector>

namespace fv::py {

PyObject* interned(const char* s) {
  PyObject* o = PyUnicode_InternFromString(s);
  if (!o) throw_pending();
  return o;
}

PyObject* literal_name(const char* name) {
  static std::vector<std::pair<const char*, PyObject*>> names;  // under the interpreter lock
  for (const auto& [key, value] : names)
    if (key == name) return value;
  PyObject* s = interned(name);
  names.emplace_back(name, s);
  return s;
}

Ref numpy_attr(const char* name) {
  static PyObject* np = nullptr;
  if (!np) np = check(PyImport_ImportModule("numpy"));
  return Ref(check(PyObject_GetAttrString(np, name)));
}

}  // namespace fv::py
