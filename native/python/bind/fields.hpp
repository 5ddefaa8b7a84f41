// Stored fields of a Python type: one table per type gives its properties and
// its pickled state. Each entry has a getter and a setter (the setter is also
// used by unpickling, so read-only fields have one too).
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "args.hpp"
#include "errors.hpp"

namespace fv::py {

enum class Access { RW, RO, NONE };  // NONE: pickled, no property
enum class FieldKind { Number, Vector, Object };

struct Field {
  const char* name;
  getter get;
  setter set;
  Access access;
  FieldKind kind;  // Object fields decide between the two pickle forms
};

// The core object inside a Python object; specialised by each type file.
template <class Core>
Core& core_of(PyObject* self);

template <class T>
struct member_traits;
template <class C, class T>
struct member_traits<T C::*> {
  using owner = C;
  using type = T;
};

inline int raise_del() {
  PyErr_SetString(PyExc_NotImplementedError, "__del__");
  return -1;
}

// ---- numbers and growable arrays (members of the core object) ------------------
template <auto M>
PyObject* get_number(PyObject* self, void*) {
  using C = typename member_traits<decltype(M)>::owner;
  using T = typename member_traits<decltype(M)>::type;
  const T v = core_of<C>(self).*M;
  if constexpr (std::is_same_v<T, double>) return PyFloat_FromDouble(v);
  else if constexpr (std::is_same_v<T, bool>) return PyBool_FromLong(v);
  else return PyLong_FromLong(v);
}

template <auto M>
int set_number(PyObject* self, PyObject* value, void*) {
  using C = typename member_traits<decltype(M)>::owner;
  using T = typename member_traits<decltype(M)>::type;
  if (!value) return raise_del();
  T v;
  bool ok;
  if constexpr (std::is_same_v<T, double>) ok = to_double(value, &v);
  else if constexpr (std::is_same_v<T, bool>) ok = to_bool(value, &v);
  else ok = to_int(value, &v);
  if (!ok) return -1;
  core_of<C>(self).*M = v;
  return 0;
}

template <auto M>
PyObject* get_vector(PyObject* self, void*) {
  using C = typename member_traits<decltype(M)>::owner;
  return new_list(core_of<C>(self).*M);
}

template <auto M>
int set_vector(PyObject* self, PyObject* value, void*) {
  using C = typename member_traits<decltype(M)>::owner;
  if (!value) return raise_del();
  auto& field = core_of<C>(self).*M;
  if constexpr (std::is_same_v<typename member_traits<decltype(M)>::type, std::vector<double>>)
    return to_double_vector(value, &field) ? 0 : -1;
  else
    return to_int_vector(value, &field) ? 0 : -1;
}

// ---- object fields (members of the Python object) -------------------------------
template <auto M>
PyObject* get_object(PyObject* self, void*) {
  using O = typename member_traits<decltype(M)>::owner;
  PyObject* v = reinterpret_cast<O*>(self)->*M;
  return Py_NewRef(v ? v : Py_None);
}

// kind: 'o' any object, 'l' list or None, 'a' NumPy array or None; sets the
// error ("Expected list, got ...", "Cannot convert ... to numpy.ndarray")
bool check_object_kind(PyObject* value, char kind);

template <auto M, char Kind>
int set_object(PyObject* self, PyObject* value, void*) {
  using O = typename member_traits<decltype(M)>::owner;
  if (!value) value = Py_None;
  if (!check_object_kind(value, Kind)) return -1;
  assign(reinterpret_cast<O*>(self)->*M, value);
  return 0;
}

// ---- property table and pickling ------------------------------------------------

// Properties of `fields` (RW and RO ones) followed by `extra`, null-terminated.
PyGetSetDef* make_getset(const Field* fields, int n, std::vector<PyGetSetDef> extra);

// Field names joined by single spaces, in state order.
std::string field_names(const Field* fields, int n, const char* sep);

struct PickleInfo {
  const char* type_name;      // e.g. "CSootGas"
  const Field* fields;
  int n;
  long checksums[3];          // MD5-, SHA-256- and SHA-1-based; the first is written
  const char* reconstructor;  // module-level function name
  // Per-instance values an instance without a __dict__ may hold (drivers):
  // `extra_state` returns them as a new dict, or null without an error when
  // there are none; `restore_extra` takes them back from such a dict. The dict
  // travels where a subclass's __dict__ does, as one extra last element.
  PyObject* (*extra_state)(PyObject* self) = nullptr;
  int (*restore_extra)(PyObject* self, PyObject* extra) = nullptr;
};

// obj.__reduce__()
PyObject* reduce(PyObject* self, const PickleInfo& info);
// obj.__setstate__(state): state must be a tuple
PyObject* setstate(PyObject* self, PyObject* state, const PickleInfo& info);
// reconstructor(type, checksum, state) for `base`
PyObject* unpickle(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyTypeObject* base, const PickleInfo& info);

// The module-level reconstructor of one type, as a METH_FASTCALL | METH_KEYWORDS function.
template <PyTypeObject* Type, const PickleInfo* Info>
PyObject* reconstruct(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return unpickle(args, nargs, kwnames, Type, *Info);
}

// obj.__copy__() and obj.__deepcopy__(memo): the object's reduction rebuilt
// (memo null: shallow). The host's copy functions take bound methods of
// built-in types as atoms, so a copy would keep slots bound to the original;
// here a built-in method bound to one of this module's objects is bound anew
// to the copy of that object (the original itself for a shallow copy of
// anything but `self`), as unpickling does.
PyObject* copy_object(PyObject* self, PyObject* memo);

// Instances of this module's types (registered by publish_type).
void register_own_type(PyTypeObject* type);
bool is_own_object(PyObject* o);

// The slots every type of the module fills; ready_type sets them (cyclic GC
// when traverse is given, always subclassable) and readies the type.
struct TypeSlots {
  const char* name;  // qualified: "fumivex2._fumivex2.<class>"
  const char* doc;
  Py_ssize_t basicsize;
  newfunc tp_new;
  initproc tp_init;
  destructor tp_dealloc;
  traverseproc tp_traverse;  // null: no cyclic garbage collection
  inquiry tp_clear;
  PyMethodDef* methods;
  PyGetSetDef* getset;
  ternaryfunc tp_call = nullptr;
};
int ready_type(PyTypeObject* type, const TypeSlots& slots);

// A ready type into the module under its class name (the last part of
// tp_name), registered as one of the module's own types; -1 on failure.
int publish_type(PyObject* module, PyTypeObject* type);

// The module object, for looking up reconstructors; set by module init.
extern PyObject* g_module;

}  // namespace fv::py

namespace fv::py {
// Method-table entries for __copy__ and __deepcopy__.
inline PyObject* copy_shallow(PyObject* self, PyObject*) { return copy_object(self, nullptr); }
inline PyObject* copy_deep(PyObject* self, PyObject* memo) {
  if (memo != Py_None) return copy_object(self, memo);
  Ref fresh(PyDict_New());
  return fresh ? copy_object(self, fresh.get()) : nullptr;
}
}  // namespace fv::py
