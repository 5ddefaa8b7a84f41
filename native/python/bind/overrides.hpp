// Which of a type's own methods an instance's class (or the instance's
// __dict__) replaces. One state byte per method id, filled lazily by a lookup
// through the MRO and dropped whenever the class or its version tag changes.
#pragma once

#include <cstdint>
#include <vector>

#include "errors.hpp"

namespace fv::py {

class OverrideTable {
 public:
  // names: interned method names; own: the base type's descriptors (borrowed,
  // alive as long as the base type); both indexed by method id.
  OverrideTable(PyObject* self, PyObject* const* names, PyObject* const* own, int n)
      : self_(self), names_(names), own_(own), state_(static_cast<std::size_t>(n), 0) {}

  bool overridden(int id) {
    PyTypeObject* tp = Py_TYPE(self_);
    // a class with its own attribute lookup: always ask it
    if (tp->tp_getattro != PyObject_GenericGetAttr) return true;
    const bool tagged = (tp->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) != 0;
    if (tp != type_ || !tagged || tp->tp_version_tag != tag_) {
      std::fill(state_.begin(), state_.end(), 0);
      type_ = tp;
      tag_ = 0;
    }
    std::uint8_t& s = state_[static_cast<std::size_t>(id)];
    if (s == 0) {
      PyObject* found = _PyType_Lookup(tp, names_[id]);  // borrowed; sets no error
      s = found == own_[id] ? 1 : 2;
      // the lookup assigns a version tag when the type had none
      if (tp->tp_flags & Py_TPFLAGS_VALID_VERSION_TAG) tag_ = tp->tp_version_tag;
    }
    if (s == 2) return true;
    PyObject** dictptr = _PyObject_GetDictPtr(self_);
    if (dictptr && *dictptr && PyDict_GET_SIZE(*dictptr) > 0) {
      if (PyDict_GetItemWithError(*dictptr, names_[id])) return true;
      if (PyErr_Occurred()) throw_pending();
    }
    return false;
  }

 private:
  PyObject* self_;
  PyObject* const* names_;
  PyObject* const* own_;
  std::vector<std::uint8_t> state_;
  PyTypeObject* type_ = nullptr;
  unsigned int tag_ = 0;
};

}  // namespace fv::py

namespace fv::py {

// The same question without a per-instance table, for the drivers, whose own
// methods are asked about a few times per evaluation: does the instance's
// class (or its __dict__) replace the base type's descriptor `own` of `name`?
// Exact instances of `base` never do (static types are immutable).
inline bool replaced(PyObject* self, PyTypeObject* base, PyObject* name, PyObject* own) {
  PyTypeObject* tp = Py_TYPE(self);
  if (tp == base) return false;
  if (tp->tp_getattro != PyObject_GenericGetAttr) return true;
  if (_PyType_Lookup(tp, name) != own) return true;
  PyObject** dictptr = _PyObject_GetDictPtr(self);
  if (dictptr && *dictptr && PyDict_GET_SIZE(*dictptr) > 0) {
    if (PyDict_GetItemWithError(*dictptr, name)) return true;
    if (PyErr_Occurred()) throw_pending();
  }
  return false;
}

// Interned names of a type's overridable methods and the type's own
// descriptors for them, filled once the type is ready.
template <int N>
struct OwnMethods {
  PyObject* names[N] = {};
  PyObject* own[N] = {};
  int init(PyTypeObject* type, const char* const (&method_names)[N]) {
    for (int i = 0; i < N; ++i) {
      names[i] = PyUnicode_InternFromString(method_names[i]);
      if (!names[i]) return -1;
      own[i] = PyDict_GetItemWithError(type->tp_dict, names[i]);  // borrowed, lives with type
      if (!own[i]) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_SystemError, "missing method %U", names[i]);
        return -1;
      }
    }
    return 0;
  }
  bool replaced_in(PyObject* self, PyTypeObject* base, int i) const {
    return fv::py::replaced(self, base, names[i], own[i]);
  }
};

}  // namespace fv::py
