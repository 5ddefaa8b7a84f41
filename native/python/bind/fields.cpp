#include "fields.hpp"

#include <cstdio>
#include <cstring>

#include "numpy.hpp"

namespace fv::py {

PyObject* g_module = nullptr;

bool check_object_kind(PyObject* value, char kind) {
  if (value == Py_None || kind == 'o') return true;
  if (kind == 'l') {
    if (PyList_CheckExact(value)) return true;
    PyErr_Format(PyExc_TypeError, "Expected %.16s, got %.200s", "list", Py_TYPE(value)->tp_name);
    return false;
  }
  if (PyArray_Check(value)) return true;
  PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(value)->tp_name,
               PyArray_Type.tp_name);
  return false;
}

PyGetSetDef* make_getset(const Field* fields, int n, std::vector<PyGetSetDef> extra) {
  auto* table = new std::vector<PyGetSetDef>();  // lives as long as the type
  for (int i = 0; i < n; ++i) {
    const Field& f = fields[i];
    if (f.access == Access::NONE) continue;
    table->push_back({f.name, f.get, f.access == Access::RW ? f.set : nullptr, nullptr, nullptr});
  }
  for (const auto& e : extra) table->push_back(e);
  table->push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
  return table->data();
}

std::string field_names(const Field* fields, int n, const char* sep) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += sep;
    s += fields[i].name;
  }
  return s;
}

// getattr(self, "__dict__", None), with None as a null result and no error
static PyObject* instance_dict(PyObject* self) {
  PyObject* d = PyObject_GetAttrString(self, "__dict__");
  if (!d) {
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    return nullptr;
  }
  if (d == Py_None) {
    Py_DECREF(d);
    return nullptr;
  }
  return d;
}

PyObject* reduce(PyObject* self, const PickleInfo& info) {
  Ref state(PyTuple_New(info.n));
  if (!state) return nullptr;
  bool use_setstate = false;
  for (int i = 0; i < info.n; ++i) {
    PyObject* v = info.fields[i].get(self, nullptr);
    if (!v) return nullptr;
    if (info.fields[i].kind == FieldKind::Object && v != Py_None) use_setstate = true;
    PyTuple_SET_ITEM(state.get(), i, v);
  }
  // the instance dictionary of a subclass travels as one extra last element;
  // so do the per-instance values of an instance without one
  Ref dict(instance_dict(self));
  if (!dict && PyErr_Occurred()) return nullptr;
  if (!dict && info.extra_state) {
    dict.reset(info.extra_state(self));
    if (!dict && PyErr_Occurred()) return nullptr;
  }
  if (dict) {
    Ref extended(PyTuple_New(info.n + 1));
    if (!extended) return nullptr;
    for (int i = 0; i < info.n; ++i)
      PyTuple_SET_ITEM(extended.get(), i, Py_NewRef(PyTuple_GET_ITEM(state.get(), i)));
    PyTuple_SET_ITEM(extended.get(), info.n, dict.release());
    state = std::move(extended);
    use_setstate = true;
  }
  Ref fn(PyObject_GetAttrString(g_module, info.reconstructor));
  if (!fn) return nullptr;
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
  if (use_setstate)
    return Py_BuildValue("O(OlO)O", fn.get(), type, info.checksums[0], Py_None, state.get());
  return Py_BuildValue("O(OlO)", fn.get(), type, info.checksums[0], state.get());
}

static int store_state(PyObject* self, PyObject* state, const PickleInfo& info) {
  if (state == Py_None) {
    PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
    return -1;
  }
  if (!PyTuple_CheckExact(state)) {
    PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "tuple", Py_TYPE(state)->tp_name);
    return -1;
  }
  const Py_ssize_t len = PyTuple_GET_SIZE(state);
  for (int i = 0; i < info.n; ++i) {
    if (i >= len) {
      PyErr_SetString(PyExc_IndexError, "tuple index out of range");
      return -1;
    }
    if (info.fields[i].set(self, PyTuple_GET_ITEM(state, i), nullptr) < 0) return -1;
  }
  if (len > info.n) {
    Ref dict(instance_dict(self));
    if (!dict && PyErr_Occurred()) return -1;
    if (!dict && info.restore_extra) return info.restore_extra(self, PyTuple_GET_ITEM(state, info.n));
    if (dict) {
      Ref update(PyObject_GetAttrString(dict.get(), "update"));
      if (!update) return -1;
      Ref r(PyObject_CallOneArg(update.get(), PyTuple_GET_ITEM(state, info.n)));
      if (!r) return -1;
    }
  }
  return 0;
}

PyObject* setstate(PyObject* self, PyObject* state, const PickleInfo& info) {
  if (store_state(self, state, info) < 0) return nullptr;
  Py_RETURN_NONE;
}

PyObject* unpickle(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyTypeObject* base, const PickleInfo& info) {
  static PyObject* names[3] = {PyUnicode_InternFromString("__pyx_type"),
                               PyUnicode_InternFromString("__pyx_checksum"),
                               PyUnicode_InternFromString("__pyx_state")};
  PyObject* a[3];
  if (!parse_args(info.reconstructor, names, 3, args, nargs, kwnames, a)) return nullptr;
  const long checksum = PyLong_AsLong(a[1]);
  if (checksum == -1 && PyErr_Occurred()) return nullptr;
  if (checksum != info.checksums[0] && checksum != info.checksums[1] &&
      checksum != info.checksums[2]) {
    Ref pickle(PyImport_ImportModule("pickle"));
    if (!pickle) return nullptr;
    Ref error(PyObject_GetAttrString(pickle.get(), "PickleError"));
    if (!error) return nullptr;
    const std::string fmt = "Incompatible checksums (0x%x vs (0x" +
                            [&] {
                              char buf[64];
                              std::snprintf(buf, sizeof buf, "%lx, 0x%lx, 0x%lx",
                                            info.checksums[0], info.checksums[1],
                                            info.checksums[2]);
                              return std::string(buf);
                            }() +
                            ") = (" + field_names(info.fields, info.n, ", ") + "))";
    Ref pyfmt(PyUnicode_FromString(fmt.c_str()));
    Ref value(PyLong_FromLong(checksum));
    if (!pyfmt || !value) return nullptr;
    Ref message(PyUnicode_Format(pyfmt.get(), value.get()));
    if (!message) return nullptr;
    PyErr_SetObject(error.get(), message.get());
    return nullptr;
  }
  // base.__new__(type): a bare instance, no defaults applied
  Ref new_fn(PyObject_GetAttrString(reinterpret_cast<PyObject*>(base), "__new__"));
  if (!new_fn) return nullptr;
  Ref result(PyObject_CallOneArg(new_fn.get(), a[0]));
  if (!result) return nullptr;
  if (a[2] != Py_None) {
    if (!PyObject_TypeCheck(result.get(), base)) {
      PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s",
                   Py_TYPE(result.get())->tp_name, base->tp_name);
      return nullptr;
    }
    if (!PyTuple_CheckExact(a[2])) {
      PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "tuple",
                   Py_TYPE(a[2])->tp_name);
      return nullptr;
    }
    if (store_state(result.get(), a[2], info) < 0) return nullptr;
  }
  return result.release();
}

// ---- copying -------------------------------------------------------------------

namespace {

PyTypeObject* g_own_types[8];
int g_own_type_count = 0;

// copy.deepcopy(v, memo)
PyObject* deep_copy(PyObject* v, PyObject* memo) {
  static PyObject* fn = nullptr;
  if (!fn) {
    Ref copy(PyImport_ImportModule("copy"));
    if (!copy) return nullptr;
    fn = PyObject_GetAttrString(copy.get(), "deepcopy");
    if (!fn) return nullptr;
  }
  return PyObject_CallFunctionObjArgs(fn, v, memo, nullptr);
}

// One element of a state for the copy: a built-in method bound to one of our
// objects is bound to that object's copy; anything else is deep-copied (or
// kept, for a shallow copy).
PyObject* copy_element(PyObject* v, PyObject* self, PyObject* copy, PyObject* memo) {
  if (PyDict_CheckExact(v)) {
    // the instance dictionary of a subclass: its values are copied the same way,
    // so one of the object's own methods kept there is bound to the copy
    Ref out(PyDict_New());
    if (!out) return nullptr;
    if (memo) {
      Ref key(PyLong_FromVoidPtr(v));
      if (!key || PyObject_SetItem(memo, key.get(), out.get()) < 0) return nullptr;
    }
    Ref items(PyDict_Items(v));  // a snapshot: copying may run Python code
    if (!items) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
      PyObject* item = PyList_GET_ITEM(items.get(), i);
      Ref key(memo ? deep_copy(PyTuple_GET_ITEM(item, 0), memo)
                   : Py_NewRef(PyTuple_GET_ITEM(item, 0)));
      if (!key) return nullptr;
      Ref value(copy_element(PyTuple_GET_ITEM(item, 1), self, copy, memo));
      if (!value || PyDict_SetItem(out.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return out.release();
  }
  if (PyCFunction_Check(v)) {
    PyObject* receiver = PyCFunction_GET_SELF(v);
    if (receiver && is_own_object(receiver) && (memo || receiver == self)) {
      Ref target(receiver == self ? Py_NewRef(copy) : deep_copy(receiver, memo));
      if (!target) return nullptr;
      return PyObject_GetAttrString(target.get(),
                                    reinterpret_cast<PyCFunctionObject*>(v)->m_ml->ml_name);
    }
  }
  return memo ? deep_copy(v, memo) : Py_NewRef(v);
}

}  // namespace

void register_own_type(PyTypeObject* type) {
  if (g_own_type_count < 8) g_own_types[g_own_type_count++] = type;
}

int ready_type(PyTypeObject* type, const TypeSlots& s) {
  type->tp_name = s.name;
  type->tp_doc = s.doc;
  type->tp_basicsize = s.basicsize;
  type->tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | (s.tp_traverse ? Py_TPFLAGS_HAVE_GC : 0);
  type->tp_new = s.tp_new;
  type->tp_init = s.tp_init;
  type->tp_dealloc = s.tp_dealloc;
  type->tp_traverse = s.tp_traverse;
  type->tp_clear = s.tp_clear;
  type->tp_methods = s.methods;
  type->tp_getset = s.getset;
  type->tp_call = s.tp_call;
  return PyType_Ready(type);
}

int publish_type(PyObject* module, PyTypeObject* type) {
  register_own_type(type);
  const char* dot = std::strrchr(type->tp_name, '.');
  return PyModule_AddObjectRef(module, dot ? dot + 1 : type->tp_name,
                               reinterpret_cast<PyObject*>(type));
}

bool is_own_object(PyObject* o) {
  for (int i = 0; i < g_own_type_count; ++i)
    if (PyObject_TypeCheck(o, g_own_types[i])) return true;
  return false;
}

PyObject* copy_object(PyObject* self, PyObject* memo) {
  Ref rv(PyObject_CallMethod(self, "__reduce_ex__", "i", 4));
  if (!rv) return nullptr;
  if (!PyTuple_Check(rv.get()) || PyTuple_GET_SIZE(rv.get()) < 2) {
    PyErr_SetString(PyExc_TypeError, "__reduce_ex__ must return a tuple of at least 2 items");
    return nullptr;
  }
  PyObject* fn = PyTuple_GET_ITEM(rv.get(), 0);
  Ref args = Ref::borrow(PyTuple_GET_ITEM(rv.get(), 1));
  if (memo) {
    args.reset(deep_copy(args.get(), memo));
    if (!args) return nullptr;
  }
  if (!PyTuple_Check(args.get())) {
    PyErr_SetString(PyExc_TypeError, "the reduction's arguments must be a tuple");
    return nullptr;
  }
  Ref copy(PyObject_Call(fn, args.get(), nullptr));
  if (!copy) return nullptr;
  if (memo) {
    Ref key(PyLong_FromVoidPtr(self));
    if (!key || PyObject_SetItem(memo, key.get(), copy.get()) < 0) return nullptr;
  }
  PyObject* state = PyTuple_GET_SIZE(rv.get()) > 2 ? PyTuple_GET_ITEM(rv.get(), 2) : Py_None;
  if (state == Py_None) return copy.release();
  Ref new_state;
  if (PyTuple_Check(state)) {
    const Py_ssize_t n = PyTuple_GET_SIZE(state);
    new_state.reset(PyTuple_New(n));
    if (!new_state) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* e = copy_element(PyTuple_GET_ITEM(state, i), self, copy.get(), memo);
      if (!e) return nullptr;
      PyTuple_SET_ITEM(new_state.get(), i, e);
    }
  } else {
    new_state.reset(memo ? deep_copy(state, memo) : Py_NewRef(state));
    if (!new_state) return nullptr;
  }
  Ref r(PyObject_CallMethod(copy.get(), "__setstate__", "(O)", new_state.get()));
  if (!r) return nullptr;
  return copy.release();
}

}  // namespace fv::py
