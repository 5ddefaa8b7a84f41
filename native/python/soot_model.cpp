// CSootModel: the Python type around fv::soot::SootModel.
//
// The object holds the core model, the Python objects behind its array fields
// and slots (PyHost), and for instances of Python subclasses a PyHooks that
// routes each overridden method to the Python attribute of the same name.
#include <algorithm>
#include <new>

#include "bind/args.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/fields.hpp"
#include "bind/items.hpp"
#include "bind/numpy.hpp"
#include "bind/overrides.hpp"
#include "soot/soot_model.hpp"
#include "types.hpp"

namespace fv::py {

using namespace fv::soot;

namespace {

PyObject* g_names[kMethodCount];  // interned method names
PyObject* g_own[kMethodCount];    // CSootModel's own descriptors, by method id
std::vector<PyObject*> g_params[kMethodCount];  // keyword names per method

inline int idx(ArrayId a) { return static_cast<int>(a); }
inline int idx(SlotId s) { return static_cast<int>(s); }
inline int idx(MethodId m) { return static_cast<int>(m); }

// Array fields and slot callables of one model, as Python objects.
class PyHost final : public Host {
 public:
  PyObject* arrays[kArrayCount] = {};
  PyObject* slot_objs[kSlotCount] = {};

  // item_* keep their own reference while Python code may run
  long size(ArrayId a) override { return item_count(arrays[idx(a)]); }
  double get(ArrayId a, long i) override { return item_get(arrays[idx(a)], i); }
  void set(ArrayId a, long i, double v) override { item_set(arrays[idx(a)], i, v); }
  void zeros(ArrayId a, long n) override { Py_XSETREF(arrays[idx(a)], fv::py::zeros(n)); }
  void zeros_like(ArrayId dst, ArrayId src) override {
    assign_zeros_like(arrays[idx(dst)], arrays[idx(src)]);
  }
  double call_slot_d(SlotId s) override {
    Ref r(call(s));
    return check_double(PyFloat_AsDouble(r.get()));
  }
  void call_slot_v(SlotId s) override { Ref r(call(s)); }
  // Plain when every array field is None or a writeable 1-D float64 ndarray
  // of native byte order (item access then runs no Python code and allocates
  // nothing) and no two of them share memory (byte ranges disjoint). The
  // overlap test depends only on the views, so it is skipped when they are
  // those of the last successful test.
  bool plain_arrays(ArrayView* views) override {
    bool changed[kArrayCount];
    bool same = checked_;
    for (int i = 0; i < kArrayCount; ++i) {
      PyObject* a = arrays[i];
      views[i] = ArrayView{};
      if (a != Py_None) {
        PyArrayObject* x = a ? plain_vector(a) : nullptr;
        if (!x || !PyArray_ISWRITEABLE(x)) return false;
        views[i] = ArrayView{PyArray_BYTES(x), PyArray_STRIDE(x, 0),
                             static_cast<long>(PyArray_DIM(x, 0)), true};
      }
      const ArrayView& v = views[i];
      const ArrayView& w = last_views_[i];
      changed[i] = v.data != w.data || v.stride != w.stride || v.size != w.size ||
                   v.present != w.present;
      same = same && !changed[i];
    }
    if (same) return true;
    // Pairs of unchanged views were disjoint at the last successful test, so
    // only the changed ones need testing (a drivers' new column view of X at
    // every grid point is one change among many fields).
    const bool ok = checked_ ? disjoint_changed(views, changed) : disjoint(views);
    checked_ = false;
    if (!ok) return false;
    std::copy(views, views + kArrayCount, last_views_);
    checked_ = true;
    return true;
  }

 private:
  // The byte range [lo, hi) a view touches; false for an empty view.
  static bool byte_range(const ArrayView& v, const char** lo, const char** hi) {
    if (!v.present || v.size == 0) return false;
    const char* first = v.data;
    const char* last = first + (v.size - 1) * v.stride;
    *lo = v.stride < 0 ? last : first;
    *hi = (v.stride < 0 ? first : last) + sizeof(double);
    return true;
  }

  static bool disjoint_changed(const ArrayView* views, const bool* changed) {
    for (int i = 0; i < kArrayCount; ++i) {
      const char *li, *hi_;
      if (!changed[i] || !byte_range(views[i], &li, &hi_)) continue;
      for (int k = 0; k < kArrayCount; ++k) {
        const char *lk, *hk;
        if (k == i || (changed[k] && k < i) || !byte_range(views[k], &lk, &hk)) continue;
        if (li < hk && lk < hi_) return false;
      }
    }
    return true;
  }

  static bool disjoint(const ArrayView* views) {
    const char* lo[kArrayCount];
    const char* hi[kArrayCount];
    int n = 0;
    for (int i = 0; i < kArrayCount; ++i) {
      const char *l, *h;
      if (!byte_range(views[i], &l, &h)) continue;
      for (int k = 0; k < n; ++k)
        if (l < hi[k] && lo[k] < h) return false;
      lo[n] = l;
      hi[n] = h;
      ++n;
    }
    return true;
  }

  ArrayView last_views_[kArrayCount];  // of the last successful plain test
  bool checked_ = false;

  PyObject* call(SlotId s) {
    Ref fn = Ref::borrow(slot_objs[idx(s)]);
    return check(PyObject_CallNoArgs(fn.get()));
  }
};

// Late binding for instances of Python subclasses.
class PyHooks final : public Hooks {
 public:
  explicit PyHooks(PyObject* self) : self_(self), table_(self, g_names, g_own, kMethodCount) {}

  bool overrides(MethodId id) override { return table_.overridden(idx(id)); }
  double call_d0(MethodId id) override { return as_double(call(id, nullptr, 0)); }
  void call_v0(MethodId id) override { Ref r(call(id, nullptr, 0)); }
  double call_di(MethodId id, int a) override {
    Ref x(check(PyLong_FromLong(a)));
    PyObject* args[1] = {x.get()};
    return as_double(call(id, args, 1));
  }
  double call_dd(MethodId id, double a) override {
    Ref x(check(PyFloat_FromDouble(a)));
    PyObject* args[1] = {x.get()};
    return as_double(call(id, args, 1));
  }
  double call_dii(MethodId id, int a, int b) override {
    Ref x(check(PyLong_FromLong(a)));
    Ref y(check(PyLong_FromLong(b)));
    PyObject* args[2] = {x.get(), y.get()};
    return as_double(call(id, args, 2));
  }
  Maybe call_oi(MethodId id, int a) override {
    Ref x(check(PyLong_FromLong(a)));
    PyObject* args[1] = {x.get()};
    Ref r(call(id, args, 1));
    if (r.get() == Py_None) return std::nullopt;
    return check_double(PyFloat_AsDouble(r.get()));
  }

 private:
  PyObject* call(MethodId id, PyObject** args, std::size_t n) {
    PyObject* stack[3] = {self_, n > 0 ? args[0] : nullptr, n > 1 ? args[1] : nullptr};
    return check(PyObject_VectorcallMethod(g_names[idx(id)], stack, n + 1, nullptr));
  }
  static double as_double(PyObject* owned) {
    Ref r(owned);
    return check_double(PyFloat_AsDouble(r.get()));
  }
  PyObject* self_;
  OverrideTable table_;
};

}  // namespace

struct SootModelObject {
  PyObject_HEAD
  SootModel core;
  PyHost host;
  PyHooks* hooks;
  PyObject* soot_PAH_MWs;
  PyObject* soot_coales_type;
  PyObject* species_names;
};

PyTypeObject SootModelType = {PyVarObject_HEAD_INIT(nullptr, 0)};

template <>
SootModel& core_of<SootModel>(PyObject* self) {
  return reinterpret_cast<SootModelObject*>(self)->core;
}

SootModel* exact_soot_core(PyObject* o) {
  return Py_IS_TYPE(o, &SootModelType) ? &reinterpret_cast<SootModelObject*>(o)->core : nullptr;
}

void soot_store_gas(PyObject* self, const double v[5], PyObject* X) {
  assign(reinterpret_cast<SootModelObject*>(self)->host.arrays[static_cast<int>(ArrayId::X)], X);
  reinterpret_cast<SootModelObject*>(self)->core.update_gas(v[0], v[1], v[2], v[3], v[4]);
}

PyObject* soot_gas_X(PyObject* self) {
  return reinterpret_cast<SootModelObject*>(self)->host.arrays[static_cast<int>(ArrayId::X)];
}

PyObject* soot_scrub_wdot(PyObject* self) {
  return reinterpret_cast<SootModelObject*>(self)
      ->host.arrays[static_cast<int>(ArrayId::scrub_wdot)];
}

void soot_load_solution(PyObject* self, PyObject* solution) {
  Ref held = Ref::borrow(solution);
  SootModel& m = reinterpret_cast<SootModelObject*>(self)->core;
  const int offsets[4] = {m.N_agg_offset, m.N_pri_offset, m.C_tot_offset, m.H_tot_offset};
  for (int k = 0; k < 4; ++k) m.load_soot_variable(k, item_get(solution, offsets[k]));
  m.refresh_after_solution();
}

void soot_load_solution(PyObject* self, const double values[4]) {
  SootModel& m = reinterpret_cast<SootModelObject*>(self)->core;
  const int offsets[4] = {m.N_agg_offset, m.N_pri_offset, m.C_tot_offset, m.H_tot_offset};
  for (int k = 0; k < 4; ++k) {
    // NumPy's rule on a 4-element array: negative positions count from the end
    const long j = offsets[k] < 0 ? offsets[k] + 4L : offsets[k];
    if (j < 0 || j >= 4) throw_out_of_bounds(offsets[k], 4);
    m.load_soot_variable(k, values[j]);
  }
  m.refresh_after_solution();
}

namespace {

inline SootModelObject* obj(PyObject* self) { return reinterpret_cast<SootModelObject*>(self); }
inline SootModel& core(PyObject* self) { return obj(self)->core; }

// Stores a slot value and classifies it: one of this model's own methods of
// the slot's signature is called directly, anything else through Python.
void set_slot(SootModelObject* o, SlotId s, PyObject* v);

// ---- methods bound to the bodies ------------------------------------------------

template <double (SootModel::*F)()>
PyObject* w_d0(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble((core(self).*F)()); });
}
template <void (SootModel::*F)()>
PyObject* w_v0(PyObject* self, PyObject*) {
  return guarded([&] {
    (core(self).*F)();
    return Py_NewRef(Py_None);
  });
}
template <double (SootModel::*F)(int)>
PyObject* w_di(PyObject* self, PyObject* arg) {
  int a;
  if (!to_int(arg, &a)) return nullptr;
  return guarded([&] { return PyFloat_FromDouble((core(self).*F)(a)); });
}
template <double (SootModel::*F)(double)>
PyObject* w_dd(PyObject* self, PyObject* arg) {
  double a;
  if (!to_double(arg, &a)) return nullptr;
  return guarded([&] { return PyFloat_FromDouble((core(self).*F)(a)); });
}
template <MethodId Id, double (SootModel::*F)(int, int)>
PyObject* w_dii(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* a[2];
  if (!parse_args(method_info(Id).name, g_params[idx(Id)].data(), 2, args, nargs, kwnames, a))
    return nullptr;
  int i, j;
  if (!to_int(a[0], &i) || !to_int(a[1], &j)) return nullptr;
  return guarded([&] { return PyFloat_FromDouble((core(self).*F)(i, j)); });
}
template <Maybe (SootModel::*F)(int)>
PyObject* w_oi(PyObject* self, PyObject* arg) {
  int k;
  if (!to_int(arg, &k)) return nullptr;
  return guarded([&] {
    const Maybe r = (core(self).*F)(k);
    return r ? PyFloat_FromDouble(*r) : Py_NewRef(Py_None);
  });
}

// ---- methods with Python objects in their signature ------------------------------

PyObject* method(PyObject* self, MethodId id) {
  return PyObject_GetAttr(self, g_names[idx(id)]);
}

PyObject* set_PAH_growth_model(PyObject* self, PyObject* model) {
  for (int k = 1; k <= 5; ++k) {
    Ref number(PyLong_FromLong(k));
    if (!number) return nullptr;
    const int eq = PyObject_RichCompareBool(model, number.get(), Py_EQ);
    if (eq < 0) return nullptr;
    if (!eq) continue;
    for (int i = 0; i < 6; ++i) {
      Ref m(method(self, kGrowthModelMethods[k - 1][i]));
      if (!m) return nullptr;
      set_slot(obj(self), kGrowthSlots[i], m.get());
    }
    core(self).PAH_growth_model = k;
    break;
  }
  Py_RETURN_NONE;
}

PyObject* set_alpha_model(PyObject* self, PyObject* arg) {
  int alpha_type;
  if (!to_int(arg, &alpha_type)) return nullptr;
  core(self)._alpha_model = alpha_type;
  if (alpha_type < 0 || alpha_type > 2) {
    PyErr_SetString(PyExc_ValueError, "Error in _set_alpha_model function!");
    return nullptr;
  }
  Ref m(method(self, kAlphaModels[alpha_type]));
  if (!m) return nullptr;
  set_slot(obj(self), SlotId::alpha, m.get());
  Py_RETURN_NONE;
}

PyObject* set_coales_type(PyObject* self, PyObject* coales_type) {
  assign(obj(self)->soot_coales_type, coales_type);
  for (int k = 0; k <= 4; ++k) {
    Ref number(PyLong_FromLong(k));
    if (!number) return nullptr;
    const int eq = PyObject_RichCompareBool(coales_type, number.get(), Py_EQ);
    if (eq < 0) return nullptr;
    if (!eq) continue;
    const CoalesType& t = kCoalesTypes[k];
    SootModel& m = core(self);
    if (t.set_energies) {
      m.Ea_coales = t.Ea;
      m.As_coales = t.As;
    }
    if (t.set_d_crit) m.d_crit_coales = t.d_crit;
    if (t.t_law != CoalesType::TimeLaw::Unchanged) {
      Ref law(t.t_law == CoalesType::TimeLaw::None ? Py_NewRef(Py_None) : method(self, t.t_coales));
      if (!law) return nullptr;
      set_slot(obj(self), SlotId::t_coales, law.get());
    }
    Ref rate(t.N_pri_coales == MethodId::count_ ? Py_NewRef(Py_None)
                                                : method(self, t.N_pri_coales));
    if (!rate) return nullptr;
    set_slot(obj(self), SlotId::N_pri_coales, rate.get());
    m.coalescence_enabled = t.enabled;
    break;
  }
  Py_RETURN_NONE;
}

PyObject* set_validation_case(PyObject* self, PyObject* validation) {
  for (int k : {1, 0}) {
    Ref number(PyLong_FromLong(k));
    if (!number) return nullptr;
    const int eq = PyObject_RichCompareBool(validation, number.get(), Py_EQ);
    if (eq < 0) return nullptr;
    if (!eq) continue;
    core(self).validation_case = k;
    Ref kernel(method(self, k ? MethodId::beta_coag_validation : MethodId::beta_coag_hm));
    if (!kernel) return nullptr;
    set_slot(obj(self), SlotId::beta_coag, kernel.get());
    Ref diffusion(method(self, k ? MethodId::diffus_coeff_const : MethodId::diffus_coeff_morph));
    if (!diffusion) return nullptr;
    set_slot(obj(self), SlotId::diffus_coeff, diffusion.get());
    Py_RETURN_NONE;
  }
  PyErr_SetString(PyExc_ValueError, "Error in _set_validation_case function!");
  return nullptr;
}

// Selectors and checkNameOfSpecies, called by attribute (so overrides are honoured)
// except on exact CSootModel objects, which call the implementation directly.
enum class Own { PAH_growth, alpha, coales, validation, check_species };
constexpr const char* kOwnNames[] = {"_set_PAH_growth_model", "_set_alpha_model",
                                     "_set_coales_type", "_set_validation_case",
                                     "checkNameOfSpecies"};
PyObject* check_name_of_species(PyObject* self, PyObject*);

PyObject* call_own(PyObject* self, Own which, PyObject* arg) {
  if (Py_IS_TYPE(self, &SootModelType)) {
    switch (which) {
      case Own::PAH_growth: return set_PAH_growth_model(self, arg);
      case Own::alpha: return set_alpha_model(self, arg);
      case Own::coales: return set_coales_type(self, arg);
      case Own::validation: return set_validation_case(self, arg);
      case Own::check_species: return check_name_of_species(self, nullptr);
    }
  }
  Ref fn(PyObject_GetAttrString(self, kOwnNames[static_cast<int>(which)]));
  if (!fn) return nullptr;
  return arg ? PyObject_CallOneArg(fn.get(), arg) : PyObject_CallNoArgs(fn.get());
}

PyObject* call_own_int(PyObject* self, Own which, long value) {
  Ref arg(PyLong_FromLong(value));
  if (!arg) return nullptr;
  return call_own(self, which, arg.get());
}

PyObject* check_name_of_species(PyObject* self, PyObject*) {
  for (const char* species : kKeySpecies) {
    Ref name(PyUnicode_FromString(species));
    if (!name) return nullptr;
    // read afresh for each name and owned while the elements' __eq__ runs,
    // which may rebind species_names
    Ref names = Ref::borrow(obj(self)->species_names ? obj(self)->species_names : Py_None);
    const int found = PySequence_Contains(names.get(), name.get());
    if (found < 0) return nullptr;
    if (!found) {
      PyErr_Format(PyExc_ValueError, "%s does not exist in species list!", species);
      return nullptr;
    }
  }
  Ref print = Ref::borrow(PyDict_GetItemString(PyEval_GetBuiltins(), "print"));
  if (!print) {
    PyErr_SetString(PyExc_RuntimeError, "print is not available");
    return nullptr;
  }
  Ref line(PyUnicode_FromString("Key species are found in species list"));
  if (!line) return nullptr;
  Ref r(PyObject_CallOneArg(print.get(), line.get()));
  if (!r) return nullptr;
  Py_RETURN_TRUE;
}

PyObject* initialize(PyObject* self, PyObject*) {
  Ref checked(call_own(self, Own::check_species, nullptr));
  if (!checked) return nullptr;
  const int ok = PyObject_IsTrue(checked.get());
  if (ok < 0) return nullptr;
  if (!ok) {
    PyErr_SetString(PyExc_ValueError, "Error in initializing the soot model!");
    return nullptr;
  }
  int SootModel::*const index_fields[7] = {&SootModel::C2H2_index, &SootModel::H2_index,
                                           &SootModel::H_index,    &SootModel::CO_index,
                                           &SootModel::O2_index,   &SootModel::OH_index,
                                           &SootModel::H2O_index};
  for (int k = 0; k < 7; ++k) {
    Ref names = Ref::borrow(obj(self)->species_names ? obj(self)->species_names : Py_None);
    Ref position(PyObject_CallMethod(names.get(), "index", "s", kKeySpecies[k]));
    if (!position) return nullptr;
    int i;
    if (!to_int(position.get(), &i)) return nullptr;
    core(self).*index_fields[k] = i;
  }
  return guarded([&] {
    core(self).slot_v(SlotId::create_PAH_dimer);
    return Py_NewRef(Py_None);
  });
}

PyObject* update_gas(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static PyObject* names[6] = {
      PyUnicode_InternFromString("T"),         PyUnicode_InternFromString("P"),
      PyUnicode_InternFromString("density"),   PyUnicode_InternFromString("viscosity"),
      PyUnicode_InternFromString("mean_MW"),   PyUnicode_InternFromString("X")};
  PyObject* a[6];
  if (!parse_args("update_gas", names, 6, args, nargs, kwnames, a)) return nullptr;
  double v[5];
  for (int i = 0; i < 5; ++i)
    if (!to_double(a[i], &v[i])) return nullptr;
  if (!check_array_arg(a[5], "X")) return nullptr;
  return guarded([&] {
    soot_store_gas(self, v, a[5]);
    return Py_NewRef(Py_None);
  });
}

PyObject* update_solution(PyObject* self, PyObject* solution) {
  if (!check_array_arg(solution, "solution")) return nullptr;
  return guarded([&] {
    soot_load_solution(self, solution);
    return Py_NewRef(Py_None);
  });
}

// ---- fields -------------------------------------------------------------------------

template <ArrayId A>
PyObject* get_array(PyObject* self, void*) {
  return Py_NewRef(obj(self)->host.arrays[idx(A)]);
}
template <ArrayId A, char Kind>
int set_array(PyObject* self, PyObject* v, void*) {
  if (!v) v = Py_None;
  if (!check_object_kind(v, Kind)) return -1;
  assign(obj(self)->host.arrays[idx(A)], v);
  return 0;
}
template <SlotId S>
PyObject* get_slot(PyObject* self, void*) {
  return Py_NewRef(obj(self)->host.slot_objs[idx(S)]);
}
template <SlotId S>
int set_slot_field(PyObject* self, PyObject* v, void*) {
  set_slot(obj(self), S, v ? v : Py_None);
  return 0;
}

#define FV_ENTRY_NUMBER(n, acc) \
  field<get_number<&SootModel::n>, set_number<&SootModel::n>>(#n, Access::acc, FieldKind::Number),
#define FV_FIELD_DOUBLE(n, acc) FV_ENTRY_NUMBER(n, acc)
#define FV_FIELD_INT(n, acc) FV_ENTRY_NUMBER(n, acc)
#define FV_FIELD_BOOL(n, acc) FV_ENTRY_NUMBER(n, acc)
#define FV_FIELD_DVEC(n, acc) \
  field<get_vector<&SootModel::n>, set_vector<&SootModel::n>>(#n, Access::acc, FieldKind::Vector),
#define FV_FIELD_IVEC(n, acc) FV_FIELD_DVEC(n, acc)
#define FV_FIELD_ARRAY(n, acc) \
  field<get_array<ArrayId::n>, set_array<ArrayId::n, 'a'>>(#n, Access::acc, FieldKind::Object),
#define FV_FIELD_AOBJ(n, acc) \
  field<get_array<ArrayId::n>, set_array<ArrayId::n, 'o'>>(#n, Access::acc, FieldKind::Object),
#define FV_FIELD_SLOT(n, acc) \
  field<get_slot<SlotId::n>, set_slot_field<SlotId::n>>(#n, Access::acc, FieldKind::Object),
#define FV_FIELD_OBJECT(n, acc)                                                                \
  field<get_object<&SootModelObject::n>, set_object<&SootModelObject::n, 'o'>>( \
      #n, Access::acc, FieldKind::Object),
#define FV_FIELD_LIST(n, acc)                                                                  \
  field<get_object<&SootModelObject::n>, set_object<&SootModelObject::n, 'l'>>( \
      #n, Access::acc, FieldKind::Object),
const Field g_fields[] = {
#define FV_FIELD(kind, name, access) FV_FIELD_##kind(name, access)
#include "soot/soot_fields.def"
#undef FV_FIELD
};
constexpr int kFieldCount = sizeof(g_fields) / sizeof(g_fields[0]);

const PickleInfo g_pickle = {"CSootModel", g_fields, kFieldCount,
                             {0x4a76d08, 0xc59345e, 0xd578c34}, "__pyx_unpickle_CSootModel"};

// Name-valued fronts of the selectors: names in setter order with their numbers.
struct NameProperty {
  const char* names[5];
  int numbers[5];
  int count;
  const char* get_error;
  const char* set_error;
  Own selector;
};
const NameProperty kNameProperties[4] = {
    {{"reactive_dimerization", "self_collision", "self_collision_lump", "cross_linking",
      "irreversible_dimerization"},
     {1, 2, 3, 4, 5}, 5, "PAH growth model not set!", "Invalid PAH growth model!",
     Own::PAH_growth},
    {{"constant", "empirical", "composition"}, {0, 1, 2}, 3, "Invalid alpha model type!",
     "Invalid alpha model!", Own::alpha},
    {{"titania", "silica", "md-derived", "CtoH-based", "disabled"}, {1, 2, 3, 4, 0}, 5,
     "coalescence not set!", "Invalid coalescence type!", Own::coales},
    {{"coagulation", "no_validation"}, {1, 0}, 2, "validation error!", "validation error!",
     Own::validation},
};

PyObject* name_property_raw(PyObject* self, int which) {
  switch (which) {
    case 0: return PyLong_FromLong(core(self).PAH_growth_model);
    case 1: return PyLong_FromLong(core(self)._alpha_model);
    case 2: return Py_NewRef(obj(self)->soot_coales_type ? obj(self)->soot_coales_type : Py_None);
    default: return PyLong_FromLong(core(self).validation_case);
  }
}

template <int Which>
PyObject* get_name_property(PyObject* self, void*) {
  const NameProperty& p = kNameProperties[Which];
  Ref raw(name_property_raw(self, Which));
  if (!raw) return nullptr;
  for (int i = 0; i < p.count; ++i) {
    Ref number(PyLong_FromLong(p.numbers[i]));
    if (!number) return nullptr;
    const int eq = PyObject_RichCompareBool(raw.get(), number.get(), Py_EQ);
    if (eq < 0) return nullptr;
    if (eq) return PyUnicode_FromString(p.names[i]);
  }
  PyErr_SetString(PyExc_ValueError, p.get_error);
  return nullptr;
}

template <int Which>
int set_name_property(PyObject* self, PyObject* value, void*) {
  if (!value) return raise_del();
  const NameProperty& p = kNameProperties[Which];
  for (int i = 0; i < p.count; ++i) {
    Ref name(PyUnicode_FromString(p.names[i]));
    if (!name) return -1;
    const int eq = PyObject_RichCompareBool(value, name.get(), Py_EQ);
    if (eq < 0) return -1;
    if (eq) {
      Ref r(call_own_int(self, p.selector, p.numbers[i]));
      return r ? 0 : -1;
    }
  }
  PyErr_SetString(PyExc_ValueError, p.set_error);
  return -1;
}

std::vector<PyGetSetDef> extra_properties() {
  return {
      property<get_vector<&SootModel::PAH_indices>, set_vector<&SootModel::PAH_indices>>("PAH_index_in_gas"),
      property<get_vector<&SootModel::PAH_n_C>, set_vector<&SootModel::PAH_n_C>>("PAH_Number_Carbon"),
      property<get_vector<&SootModel::PAH_n_H>, set_vector<&SootModel::PAH_n_H>>("PAH_Number_Hydrogen"),
      property<get_vector<&SootModel::stick_eff>, set_vector<&SootModel::stick_eff>>("PAH_sticking_efficiency"),
      property<get_vector<&SootModel::soot_PAH_indices>, set_vector<&SootModel::soot_PAH_indices>>("soot_PAH_index_in_gas"),
      property<get_vector<&SootModel::phy_dimer_indices>, set_vector<&SootModel::phy_dimer_indices>>("phy_dimer_index_in_gas"),
      property<get_name_property<0>, set_name_property<0>>("PAH_growth_model_name"),
      property<get_name_property<1>, set_name_property<1>>("alpha_model"),
      property<get_name_property<2>, set_name_property<2>>("coalescence_type"),
      property<get_name_property<3>, set_name_property<3>>("validation"),
  };
}

PyObject* soot_reduce(PyObject* self, PyObject*) { return reduce(self, g_pickle); }
PyObject* soot_setstate(PyObject* self, PyObject* state) { return setstate(self, state, g_pickle); }

// ---- method table ---------------------------------------------------------------------

#define FV_DEF_D0(n) method_noargs<w_d0<&SootModel::n##_body>>(#n, nullptr),
#define FV_DEF_V0(n) method_noargs<w_v0<&SootModel::n##_body>>(#n, nullptr),
#define FV_DEF_DI(n) method_o<w_di<&SootModel::n##_body>>(#n, nullptr),
#define FV_DEF_DD(n) method_o<w_dd<&SootModel::n##_body>>(#n, nullptr),
#define FV_DEF_OI(n) method_o<w_oi<&SootModel::n##_body>>(#n, nullptr),
#define FV_DEF_DII(n) method_fast<w_dii<MethodId::n, &SootModel::n##_body>>(#n, nullptr),

PyMethodDef g_methods[] = {
#define FV_METHOD(kind, name, params, note) FV_DEF_##kind(name)
#include "soot/soot_methods.def"
#undef FV_METHOD
    method_o<set_PAH_growth_model>("_set_PAH_growth_model",
        "CSootModel._set_PAH_growth_model(self, model)"),
    method_o<set_alpha_model>("_set_alpha_model",
        "CSootModel._set_alpha_model(self, int alpha_type)"),
    method_o<set_coales_type>("_set_coales_type", "CSootModel._set_coales_type(self, coales_type)"),
    method_o<set_validation_case>("_set_validation_case",
        "CSootModel._set_validation_case(self, validation)"),
    method_noargs<check_name_of_species>("checkNameOfSpecies",
        "CSootModel.checkNameOfSpecies(self)"),
    method_noargs<initialize>("initialize", "CSootModel.initialize(self)"),
    method_fast<update_gas>("update_gas",
        "CSootModel.update_gas(self, double T, double P, double density, double viscosity, double mean_MW, ndarray X)"),
    method_o<update_solution>("update_solution",
        "CSootModel.update_solution(self, ndarray solution)"),
    method_noargs<soot_reduce>("__reduce__", "CSootModel.__reduce__(self)"),
    method_o<soot_setstate>("__setstate__", "CSootModel.__setstate__(self, __pyx_state)"),
    method_noargs<copy_shallow>("__copy__", "CSootModel.__copy__(self)"),
    method_o<copy_deep>("__deepcopy__", "CSootModel.__deepcopy__(self, memo)"),
    method_end()};

void set_slot(SootModelObject* o, SlotId s, PyObject* v) {
  Slot kind{};
  if (v != Py_None) {
    kind.kind = Slot::Kind::External;
    if (PyCFunction_Check(v) && PyCFunction_GET_SELF(v) == reinterpret_cast<PyObject*>(o)) {
      PyMethodDef* ml = reinterpret_cast<PyCFunctionObject*>(v)->m_ml;
      if (ml >= g_methods && ml < g_methods + kMethodCount) {
        const MethodId id = static_cast<MethodId>(ml - g_methods);
        if (method_info(id).kind == slot_kind(s)) kind = Slot{Slot::Kind::Own, id};
      }
    }
  }
  assign(o->host.slot_objs[idx(s)], v);
  o->core.slots[idx(s)] = kind;
}

// ---- type slots -------------------------------------------------------------------------

PyObject* soot_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  SootModelObject* o = obj(self);
  new (&o->core) SootModel();
  new (&o->host) PyHost();
  for (auto& a : o->host.arrays) a = Py_NewRef(Py_None);
  for (auto& s : o->host.slot_objs) s = Py_NewRef(Py_None);
  o->soot_PAH_MWs = Py_NewRef(Py_None);
  o->soot_coales_type = Py_NewRef(Py_None);
  o->species_names = Py_NewRef(Py_None);
  o->hooks = nullptr;
  if (type != &SootModelType) {
    o->hooks = new (std::nothrow) PyHooks(self);
    if (!o->hooks) {
      Py_DECREF(self);
      return PyErr_NoMemory();
    }
  }
  o->core.attach(&o->host, o->hooks);
  return self;
}

int soot_init(PyObject* self, PyObject* args, PyObject* kwds) {
  if (!check_no_init_args(args, kwds)) return -1;
  SootModel& m = core(self);
  m.defaults_1();
  Ref r(call_own_int(self, Own::coales, 0));
  if (!r) return -1;
  m.defaults_2();
  r.reset(call_own_int(self, Own::validation, 0));
  if (!r) return -1;
  m.defaults_3();
  r.reset(call_own_int(self, Own::alpha, 1));
  if (!r) return -1;
  r.reset(call_own_int(self, Own::PAH_growth, 1));
  return r ? 0 : -1;
}

int soot_traverse(PyObject* self, visitproc visit, void* arg) {
  SootModelObject* o = obj(self);
  for (PyObject* a : o->host.arrays) Py_VISIT(a);
  for (PyObject* s : o->host.slot_objs) Py_VISIT(s);
  Py_VISIT(o->soot_PAH_MWs);
  Py_VISIT(o->soot_coales_type);
  Py_VISIT(o->species_names);
  return 0;
}

int soot_clear(PyObject* self) {
  SootModelObject* o = obj(self);
  for (auto& a : o->host.arrays) assign(a, Py_None);
  for (int s = 0; s < kSlotCount; ++s) set_slot(o, static_cast<SlotId>(s), Py_None);
  assign(o->soot_PAH_MWs, Py_None);
  assign(o->soot_coales_type, Py_None);
  assign(o->species_names, Py_None);
  return 0;
}

void soot_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  SootModelObject* o = obj(self);
  for (auto& a : o->host.arrays) Py_CLEAR(a);
  for (auto& s : o->host.slot_objs) Py_CLEAR(s);
  Py_CLEAR(o->soot_PAH_MWs);
  Py_CLEAR(o->soot_coales_type);
  Py_CLEAR(o->species_names);
  delete o->hooks;
  o->host.~PyHost();
  o->core.~SootModel();
  Py_TYPE(self)->tp_free(self);
}

}  // namespace

PyMethodDef g_unpickle_soot_model = method_fast<reconstruct<&SootModelType, &g_pickle>>("__pyx_unpickle_CSootModel",
    "__pyx_unpickle_CSootModel(__pyx_type, long __pyx_checksum, __pyx_state)");

int ready_soot_model(PyObject* module) {
  static std::vector<std::string> docs;  // docstrings of the table methods
  docs.reserve(kMethodCount);
  for (int i = 0; i < kMethodCount; ++i) {
    const MethodInfo& info = kMethods[i];
    std::string doc = std::string("CSootModel.") + info.name + "(self";
    if (*info.params) doc += std::string(", ") + info.params;
    doc += ")";
    if (*info.note) doc += std::string("\n") + info.note;
    docs.push_back(doc);
    g_methods[i].ml_doc = docs.back().c_str();
    g_names[i] = PyUnicode_InternFromString(info.name);
    if (!g_names[i]) return -1;
    g_params[i] = parameter_names(info.params);
  }
  const TypeSlots slots =
      type_slots<soot_new, soot_init, soot_dealloc, soot_traverse, soot_clear>(
          "fumivex2._fumivex2.CSootModel", "CSootModel()", sizeof(SootModelObject), g_methods,
          make_getset(g_fields, kFieldCount, extra_properties()));
  if (ready_type(&SootModelType, slots) < 0) return -1;
  for (int i = 0; i < kMethodCount; ++i) {
    g_own[i] = PyDict_GetItemWithError(SootModelType.tp_dict, g_names[i]);
    if (!g_own[i]) {
      if (!PyErr_Occurred()) PyErr_Format(PyExc_SystemError, "missing method %U", g_names[i]);
      return -1;
    }
  }
  return publish_type(module, &SootModelType);
}

}  // namespace fv::py
