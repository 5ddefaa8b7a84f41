// CPFROde: the right-hand side of the plug-flow reactor for an ODE integrator.
//
// The object holds the reactor's numbers (fv::reactor::PlugFlow), the phase,
// the soot model and three array attributes. Every member of the phase and of
// the soot model is looked up by name at each use; the reactor's own
// external_heat, reynolds and fanning_friction are called through Python when
// a subclass replaces them. An exact CSootModel is driven in C++ (SootCalls).
#include <new>
#include <vector>

#include "bind/args.hpp"
#include "bind/attrs.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/fields.hpp"
#include "bind/items.hpp"
#include "bind/numpy.hpp"
#include "bind/overrides.hpp"
#include "common/checked.hpp"
#include "common/numpy_math.hpp"
#include "reactor/plug_flow.hpp"
#include "soot_calls.hpp"
#include "types.hpp"

namespace fv::py {

using fv::reactor::PlugFlow;

struct PlugFlowObject {
  PyObject_HEAD
  PlugFlow core;
  PyObject* gas;
  PyObject* wdot;
  PyObject* temp_value;
  PyObject* time_derivative_temp_history;
  PyObject* soot_model;
  // Per-instance values of instances without a __dict__ (null until assigned);
  // instances of subclasses keep them in their __dict__ instead.
  PyObject* soot_enabled;   // behind the soot_enabled property ("_soot_enabled")
  PyObject* deposit_rate;   // deposit_thickness_growth_rate, m/s
  std::vector<double>* scratch;  // products of scrubbed rates and molar masses
};

PyTypeObject PlugFlowType = {PyVarObject_HEAD_INIT(nullptr, 0)};

template <>
PlugFlow& core_of<PlugFlow>(PyObject* self) {
  return reinterpret_cast<PlugFlowObject*>(self)->core;
}

namespace {

inline PlugFlowObject* obj(PyObject* self) { return reinterpret_cast<PlugFlowObject*>(self); }
inline PlugFlow& core(PyObject* self) { return obj(self)->core; }

enum Method { kExternalHeat, kReynolds, kFanningFriction, kMethodCount };
constexpr const char* kMethodNames[kMethodCount] = {"external_heat", "reynolds",
                                                    "fanning_friction"};
OwnMethods<kMethodCount> g_own;

struct Names {
  PyObject* set_Y = PyUnicode_InternFromString("set_unnormalized_mass_fractions");
  PyObject* TP = PyUnicode_InternFromString("TP");
  PyObject* wdot = PyUnicode_InternFromString("net_production_rates");
  PyObject* density = PyUnicode_InternFromString("density");
  PyObject* h = PyUnicode_InternFromString("partial_molar_enthalpies");
  PyObject* cp = PyUnicode_InternFromString("cp");
  PyObject* viscosity = PyUnicode_InternFromString("viscosity");
  PyObject* W = PyUnicode_InternFromString("molecular_weights");
  PyObject* species_names = PyUnicode_InternFromString("species_names");
  PyObject* soot_enabled = PyUnicode_InternFromString("_soot_enabled");
  PyObject* deposit = PyUnicode_InternFromString("deposit_thickness_growth_rate");
};
const Names& names() {
  static const Names n;
  return n;
}

// ---- small Python helpers (throwing) ---------------------------------------------

[[noreturn]] void throw_exception(const char* message) {
  throw Error(ErrorKind::Exception, message);
}
// o[start:stop] (stop null: to the end)
Ref slice(PyObject* o, long start, const long* stop) {
  Ref a(check(PyLong_FromLong(start)));
  Ref b(stop ? check(PyLong_FromLong(*stop)) : Py_NewRef(Py_None));
  Ref s(check(PySlice_New(a.get(), b.get(), nullptr)));
  return Ref(check(PyObject_GetItem(o, s.get())));
}
void require_array(PyObject* v) {
  if (!check_object_kind(v, 'a')) throw_pending();
}

// numpy.interp(x, table[0], table[1]) for a scalar x
double interp_row(double x, PyObject* table) {
  // A 2-D float64 array with contiguous rows is read in place: the same
  // numbers NumPy would take from its row views.
  if (PyArray_CheckExact(table)) {
    auto* t = reinterpret_cast<PyArrayObject*>(table);
    if (PyArray_NDIM(t) == 2 && PyArray_TYPE(t) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(t) &&
        PyArray_ISALIGNED(t) && PyArray_DIM(t, 0) >= 2 && PyArray_STRIDE(t, 1) == sizeof(double)) {
      const long n = static_cast<long>(PyArray_DIM(t, 1));
      if (n == 0) throw Error(ErrorKind::Value, "array of sample points is empty");
      const char* data = PyArray_BYTES(t);
      return fv::interp(x, reinterpret_cast<const double*>(data),
                        reinterpret_cast<const double*>(data + PyArray_STRIDE(t, 0)), n);
    }
  }
  Ref i0(check(PyLong_FromLong(0))), i1(check(PyLong_FromLong(1)));
  Ref row0(check(PyObject_GetItem(table, i0.get())));
  Ref row1(check(PyObject_GetItem(table, i1.get())));
  Ref fp(check(PyArray_ContiguousFromAny(row1.get(), NPY_DOUBLE, 1, 1)));
  Ref xp(check(PyArray_ContiguousFromAny(row0.get(), NPY_DOUBLE, 1, 1)));
  auto* fa = reinterpret_cast<PyArrayObject*>(fp.get());
  auto* xa = reinterpret_cast<PyArrayObject*>(xp.get());
  const long n = static_cast<long>(PyArray_DIM(xa, 0));
  if (n == 0) throw Error(ErrorKind::Value, "array of sample points is empty");
  if (PyArray_DIM(fa, 0) != n) throw Error(ErrorKind::Value, "fp and xp are not of the same length.");
  return fv::interp(x, static_cast<const double*>(PyArray_DATA(xa)),
                    static_cast<const double*>(PyArray_DATA(fa)), n);
}

// ---- the per-instance values -------------------------------------------------------

bool has_dict(PyObject* self) {
  PyObject** d = _PyObject_GetDictPtr(self);
  return d != nullptr;
}

[[noreturn]] void throw_no_attribute(PyObject* self, PyObject* name) {
  PyErr_Format(PyExc_AttributeError, "'%.50s' object has no attribute '%U'",
               Py_TYPE(self)->tp_name, name);
  throw_pending();
}

// the object behind soot_enabled (a new reference)
Ref soot_enabled_value(PyObject* self) {
  if (has_dict(self)) return get(self, names().soot_enabled);
  if (!obj(self)->soot_enabled) throw_no_attribute(self, names().soot_enabled);
  return Ref::borrow(obj(self)->soot_enabled);
}

bool soot_on(PyObject* self) {
  Ref v = soot_enabled_value(self);
  const int t = PyObject_IsTrue(v.get());
  if (t < 0) throw_pending();
  return t != 0;
}

PyObject* get_soot_enabled(PyObject* self, void*) {
  return guarded([&] { return soot_enabled_value(self).release(); });
}

int set_soot_enabled(PyObject* self, PyObject* value, void*) {
  if (!value) return raise_del();
  return guarded_int([&] {
    const int t = PyObject_IsTrue(value);
    if (t < 0) throw_pending();
    if (t) {
      Ref species = get(obj(self)->gas ? obj(self)->gas : Py_None, names().species_names);
      const Py_ssize_t K = PyObject_Length(species.get());
      if (K < 0) throw_pending();
      const long offset = static_cast<long>(core(self).Y_offset) + static_cast<long>(K);
      if (offset > INT_MAX) throw Error(ErrorKind::Overflow, "value too large to convert to int");
      core(self).soot_offset = static_cast<int>(offset);
    }
    if (has_dict(self)) {
      if (PyObject_SetAttr(self, names().soot_enabled, value) < 0) throw_pending();
    } else {
      assign(obj(self)->soot_enabled, value);
    }
    return 0;
  });
}

// deposit_thickness_growth_rate: the instance __dict__ when there is one
PyObject* get_deposit_rate(PyObject* self, void*) {
  PyObject** d = _PyObject_GetDictPtr(self);
  if (d) {
    PyObject* v = *d ? PyDict_GetItemWithError(*d, names().deposit) : nullptr;
    if (v) return Py_NewRef(v);
    if (PyErr_Occurred()) return nullptr;
  } else if (obj(self)->deposit_rate) {
    return Py_NewRef(obj(self)->deposit_rate);
  }
  PyErr_Format(PyExc_AttributeError, "'%.50s' object has no attribute '%U'",
               Py_TYPE(self)->tp_name, names().deposit);
  return nullptr;
}

int set_deposit_rate(PyObject* self, PyObject* value, void*) {
  PyObject** d = _PyObject_GetDictPtr(self);
  if (!d) {
    if (!value && !obj(self)->deposit_rate) {
      PyErr_Format(PyExc_AttributeError, "'%.50s' object has no attribute '%U'",
                   Py_TYPE(self)->tp_name, names().deposit);
      return -1;
    }
    Py_XSETREF(obj(self)->deposit_rate, Py_XNewRef(value));
    return 0;
  }
  if (!*d) {
    *d = PyDict_New();
    if (!*d) return -1;
  }
  if (value) return PyDict_SetItem(*d, names().deposit, value);
  if (PyDict_DelItem(*d, names().deposit) < 0) {
    if (PyErr_ExceptionMatches(PyExc_KeyError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_AttributeError, "'%.50s' object has no attribute '%U'",
                   Py_TYPE(self)->tp_name, names().deposit);
    }
    return -1;
  }
  return 0;
}

void store_deposit_rate(PyObject* self, double v) {
  Ref value = new_float(v);
  if (set_deposit_rate(self, value.get(), nullptr) < 0) throw_pending();
}

// pickled per-instance values of an instance without a __dict__
PyObject* extra_state(PyObject* self) {
  PlugFlowObject* o = obj(self);
  if (!o->soot_enabled && !o->deposit_rate) return nullptr;
  Ref d(PyDict_New());
  if (!d) return nullptr;
  if (o->soot_enabled && PyDict_SetItem(d.get(), names().soot_enabled, o->soot_enabled) < 0)
    return nullptr;
  if (o->deposit_rate && PyDict_SetItem(d.get(), names().deposit, o->deposit_rate) < 0)
    return nullptr;
  return d.release();
}

int restore_extra(PyObject* self, PyObject* extra) {
  if (!PyDict_Check(extra)) return 0;
  PyObject* v = PyDict_GetItemWithError(extra, names().soot_enabled);
  if (!v && PyErr_Occurred()) return -1;
  if (v) assign(obj(self)->soot_enabled, v);
  v = PyDict_GetItemWithError(extra, names().deposit);
  if (!v && PyErr_Occurred()) return -1;
  if (v) assign(obj(self)->deposit_rate, v);
  return 0;
}

// ---- the reactor's own methods ---------------------------------------------------------

double external_heat_body(PyObject* self, double z, double T) {
  const PlugFlow& r = core(self);
  fv::reactor::hydraulic_diameter(r.area, r.perimeter);  // a zero perimeter fails first
  Ref table = Ref::borrow(obj(self)->temp_value);
  const double T_wall = interp_row(z, table.get());
  return fv::reactor::external_heat(core(self), T_wall, T);
}

double reynolds_body(PyObject* self) {
  const double density = get_float(obj(self)->gas, names().density);
  const double viscosity = get_float(obj(self)->gas, names().viscosity);
  return fv::reactor::reynolds(core(self), density, viscosity);
}

double call_method_double(PyObject* self, Method m, PyObject* const* args, std::size_t n) {
  PyObject* stack[3] = {self, n > 0 ? args[0] : nullptr, n > 1 ? args[1] : nullptr};
  Ref r(check(PyObject_VectorcallMethod(g_own.names[m], stack, n + 1, nullptr)));
  return float_value(r.get());
}

// Entries: the body, or the subclass's replacement through Python.
double external_heat(PyObject* self, double z, double T) {
  if (!g_own.replaced_in(self, &PlugFlowType, kExternalHeat)) return external_heat_body(self, z, T);
  Ref a = new_float(z), b = new_float(T);
  PyObject* args[2] = {a.get(), b.get()};
  return call_method_double(self, kExternalHeat, args, 2);
}

double reynolds(PyObject* self) {
  if (!g_own.replaced_in(self, &PlugFlowType, kReynolds)) return reynolds_body(self);
  return call_method_double(self, kReynolds, nullptr, 0);
}

double fanning_friction_body(PyObject* self) { return fv::reactor::fanning_friction(reynolds(self)); }

double fanning_friction(PyObject* self) {
  if (!g_own.replaced_in(self, &PlugFlowType, kFanningFriction)) return fanning_friction_body(self);
  return call_method_double(self, kFanningFriction, nullptr, 0);
}

PyObject* py_external_heat(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  static PyObject* params[2] = {PyUnicode_InternFromString("z"), PyUnicode_InternFromString("T")};
  PyObject* a[2];
  if (!parse_args("external_heat", params, 2, args, nargs, kwnames, a)) return nullptr;
  double z, T;
  if (!to_double(a[0], &z) || !to_double(a[1], &T)) return nullptr;
  return guarded([&] { return PyFloat_FromDouble(external_heat_body(self, z, T)); });
}

PyObject* py_reynolds(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble(reynolds_body(self)); });
}

PyObject* py_fanning_friction(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble(fanning_friction_body(self)); });
}

PyObject* py_initialize(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const PlugFlow& r = core(self);
    if (soot_on(self) && (!obj(self)->soot_model || obj(self)->soot_model == Py_None))
      throw_exception("soot model is enabled, but not assigned");
    if (r.perimeter <= 0.0 || r.area <= 0.0) throw_exception("Wrong reactor geometry!");
    if (r._use_temp_value && r._use_temp_time_history)
      throw_exception("You cannot use temperature value and temperature history together");
    if (!r._use_temp_value && !r._use_temp_time_history)
      throw_exception("You have to use temperature value or temperature history");
    return Py_NewRef(Py_None);
  });
}

// ---- the right-hand side ---------------------------------------------------------------

// The species rows of the result from plain float64 vectors of one length:
//   m_s   = sum(scrub W)                                  (kg/(m^3 s))
//   dY/dz = ((wdot + scrub) W - Y m_s) / (rho u)
// evaluated element by element exactly as NumPy evaluates the expressions.
// Returns false (nothing computed) when the operands are not such vectors.
struct Vectors {
  PyArrayObject* a[4];
  long n = 0;
  bool load(PyObject* const* objs, int count) {
    for (int i = 0; i < count; ++i) {
      a[i] = plain_vector(objs[i]);
      if (!a[i]) return false;
      const long len = static_cast<long>(PyArray_DIM(a[i], 0));
      if (i == 0) n = len;
      else if (len != n) return false;
    }
    return true;
  }
  double at(int k, long i) const {
    double v;
    std::memcpy(&v, PyArray_BYTES(a[k]) + i * PyArray_STRIDE(a[k], 0), sizeof v);
    return v;
  }
};

// numpy.dot(a, b) as a double. Two aligned float64 vectors of one length go
// straight to the dtype's dot function, which is what numpy.dot runs for them
// (BLAS ddot where the strides allow), so the sum is NumPy's to the bit.
double numpy_dot(PyObject* a, PyObject* b) {
  PyArrayObject* x = plain_vector(a);
  PyArrayObject* y = plain_vector(b);
  if (x && y && PyArray_DIM(x, 0) == PyArray_DIM(y, 0) && PyArray_ISALIGNED(x) &&
      PyArray_ISALIGNED(y) && PyArray_STRIDE(x, 0) > 0 && PyArray_STRIDE(y, 0) > 0) {
    double out = 0.0;
    PyDataType_GetArrFuncs(PyArray_DESCR(x))->dotfunc(
        PyArray_BYTES(x), PyArray_STRIDE(x, 0), PyArray_BYTES(y), PyArray_STRIDE(y, 0),
        reinterpret_cast<char*>(&out), PyArray_DIM(x, 0), nullptr);
    return out;
  }
  Ref dot(check(PyArray_MatrixProduct2(a, b, nullptr)));
  return float_value(dot.get());
}

// sum(scrub * W)
double scrubbed_mass_rate(PlugFlowObject* o, PyObject* scrub, PyObject* W) {
  PyObject* objs[2] = {scrub, W};
  Vectors v;
  if (v.load(objs, 2)) {
    o->scratch->resize(static_cast<std::size_t>(v.n));
    for (long i = 0; i < v.n; ++i) (*o->scratch)[i] = v.at(0, i) * v.at(1, i);
    return fv::numpy_sum(o->scratch->data(), v.n);
  }
  static PyObject* sum = numpy_attr("sum").release();
  Ref product(check(PyNumber_Multiply(scrub, W)));
  Ref total(check(PyObject_CallOneArg(sum, product.get())));
  return float_value(total.get());
}

// Species rows computed through NumPy for operands that are not plain vectors:
// an array, converted to a float64 vector for the result.
Ref rows_to_vector(PyObject* rows) {
  require_array(rows);
  return Ref(check(PyArray_FROMANY(rows, NPY_DOUBLE, 0, 1, NPY_ARRAY_CARRAY_RO)));
}

// The derivative array [1/u, dG/dz, dT/dz, species rows..., soot...]. The
// species rows come from the N operands `objs` element by element through
// `row` (a core formula on plain numbers) when they are plain float64 vectors
// of one length; otherwise `numpy_rows()` computes them through NumPy, and
// that array, converted to float64, gives them.
template <int N, class Row, class NumPyRows>
PyObject* derivative(const fv::reactor::DerivativeHead& head, PyObject* const (&objs)[N],
                     Row row, NumPyRows numpy_rows, const double* soot, int n_soot) {
  Vectors v;
  Ref computed;
  const double* src = nullptr;
  long n;
  if (v.load(objs, N)) {
    n = v.n;
  } else {
    Ref rows = numpy_rows();
    computed = rows_to_vector(rows.get());
    auto* a = reinterpret_cast<PyArrayObject*>(computed.get());
    n = static_cast<long>(PyArray_SIZE(a));
    src = static_cast<const double*>(PyArray_DATA(a));
  }
  npy_intp dims[1] = {3 + n + n_soot};
  Ref out(check(PyArray_SimpleNew(1, dims, NPY_DOUBLE)));
  double* d = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
  fv::reactor::write_head_and_soot(head, n, soot, n_soot, d);
  if (src) {
    std::copy(src, src + n, d + 3);
  } else {
    for (long i = 0; i < n; ++i) {
      double x[N];
      for (int k = 0; k < N; ++k) x[k] = v.at(k, i);
      d[3 + i] = row(x);
    }
  }
  return out.release();
}

PyObject* evaluate(PyObject* self, double t, PyObject* y) {
  PlugFlowObject* o = obj(self);
  const Names& nm = names();
  Ref gas = Ref::borrow(o->gas ? o->gas : Py_None);
  const bool soot = soot_on(self);

  // 1-3: composition, then (T, P), then the production rates of that state
  Ref W_early;  // soot off: molar masses, whose length is the species count
  Ref Y;
  if (soot) {
    const long stop = core(self).soot_offset;
    Y = slice(y, core(self).Y_offset, &stop);
  } else {
    W_early = get(gas.get(), nm.W);
    const Py_ssize_t K = PyObject_Length(W_early.get());
    if (K < 0) throw_pending();
    const long stop = static_cast<long>(core(self).Y_offset) + static_cast<long>(K);
    Y = slice(y, core(self).Y_offset, &stop);
  }
  {
    PyObject* stack[2] = {gas.get(), Y.get()};
    Ref r(check(PyObject_VectorcallMethod(nm.set_Y, stack, 2, nullptr)));
  }
  const double T = item_get(y, core(self).T_offset);
  {
    Ref T_obj = new_float(T), P_obj = new_float(core(self).P);
    Ref TP(check(PyTuple_Pack(2, T_obj.get(), P_obj.get())));
    if (PyObject_SetAttr(gas.get(), nm.TP, TP.get()) < 0) throw_pending();
  }
  {
    Ref w = get(gas.get(), nm.wdot);
    require_array(w.get());
    assign(o->wdot, w.get());
  }

  // 4-5: density and velocity
  const double rho = core(self)._enable_fixed_density ? core(self).fixed_density
                                                      : get_float(gas.get(), nm.density);
  const double G = item_get(y, core(self).rho_u_vfv_offset);
  Ref soot_model = Ref::borrow(o->soot_model ? o->soot_model : Py_None);
  SootCalls sm(soot_model.get());
  double f = 0.0;
  double u;
  if (soot) {
    f = fv::reactor::soot_correction(sm.volume_fraction());
    u = fv::reactor::gas_velocity(G, rho, f);
  } else {
    u = fv::reactor::gas_velocity(G, rho);
  }
  core(self).u = u;
  if (u == 0.0) throw_zero_division("float division");

  // 6: temperature gradient, from the production rates before any override
  double dTdz;
  if (!core(self)._use_temp_time_history) {
    const double q = external_heat(self, t, T);
    Ref h = get(gas.get(), nm.h);
    Ref w = Ref::borrow(o->wdot);
    const double released = numpy_dot(h.get(), w.get());
    const double cp = get_float(gas.get(), nm.cp);
    dTdz = fv::reactor::temperature_gradient(q, released, rho, u, cp);
  } else {
    Ref table = Ref::borrow(o->time_derivative_temp_history);
    dTdz = interp_row(t, table.get()) / u;
  }

  if (!soot) {
    // species production rates per unit length: wdot W / (rho u)
    Ref w = Ref::borrow(o->wdot);
    PyObject* const objs[2] = {w.get(), W_early.get()};
    const double rho_u = rho * u;
    return derivative(
        {u, 0.0, dTdz}, objs,
        [&](const double* x) { return fv::reactor::gas_species_row(x[0], x[1], rho_u); },
        [&] {
          Ref product(check(PyNumber_Multiply(w.get(), W_early.get())));
          Ref rho_u_obj = new_float(rho_u);
          return Ref(check(PyNumber_TrueDivide(product.get(), rho_u_obj.get())));
        },
        nullptr, 0);
  }

  // 8-10: the soot model at the phase's state
  sm.update_gas_from(gas.get());
  {
    Ref tail = slice(y, core(self).soot_offset, nullptr);
    sm.update_solution(tail.get());
  }
  sm.update_scrub_wdot();

  // 11: mass transferred from the gas to soot, kg/(m^3 s)
  Ref W = get(gas.get(), nm.W);
  double m_s;
  {
    Ref scrub(sm.attr("scrub_wdot"));
    m_s = scrubbed_mass_rate(o, scrub.get(), W.get());
  }
  const double D_h = fv::reactor::hydraulic_diameter(core(self).area, core(self).perimeter);

  // 12: wall deposition
  if (core(self)._enable_wall_deposition) {
    const double nu = fdiv(get_float(gas.get(), nm.viscosity), rho);
    const double ff = fanning_friction(self);
    const double D = sm.diffus_coeff();
    core(self).k_dep = fv::reactor::deposition_coefficient(u, ff, nu, D);
    const double N_agg = sm.attr_double("N_agg");
    const double Av = sm.attr_double("Av");
    const double d_m = sm.d_m();
    store_deposit_rate(self, fv::reactor::deposit_thickness_growth_rate(u, rho, N_agg, Av, d_m));
  }

  // 13: the four soot variables
  double dsoot[4];
  {
    static const char* const variables[4] = {"N_agg", "N_pri", "C_tot", "H_tot"};
    double S[4];
    int done = 0;
    const bool batched = sm.sources(S, done);  // an exact model: all four in one call
    for (int k = 0; k < 4; ++k) {
      if (!batched) S[k] = sm.source(static_cast<SootSource>(k));
      const double X = sm.attr_double(variables[k]);
      dsoot[k] = fv::reactor::soot_derivative(S[k], X, m_s, rho, u, f, D_h, core(self).k_dep);
    }
  }

  // 14: pseudo-species rates of the soot model replace the phase's
  static const char* const pseudo[2][3] = {
      {"steady_state_physical_dimerization", "phy_dimer_wdot", "phy_dimer_index_in_gas"},
      {"steady_state_PAH_adsorption", "soot_PAH_wdot", "soot_PAH_index_in_gas"}};
  for (const auto& p : pseudo) {
    if (sm.attr_bool(p[0])) continue;
    Ref rates(sm.attr(p[1]));
    Ref indices(sm.attr(p[2]));
    Ref first(check(PySequence_GetItem(indices.get(), 0)));
    Ref last(check(PySequence_GetItem(indices.get(), -1)));
    Ref one(check(PyLong_FromLong(1)));
    Ref stop(check(PyNumber_Add(last.get(), one.get())));
    Ref range(check(PySlice_New(first.get(), stop.get(), nullptr)));
    Ref w = Ref::borrow(o->wdot ? o->wdot : Py_None);
    if (PyObject_SetItem(w.get(), range.get(), rates.get()) < 0) throw_pending();
  }

  // 15-17: species rows, mass flux, and the whole derivative
  const double dG = fv::reactor::mass_flux_gradient(f, m_s);
  Ref w = Ref::borrow(o->wdot ? o->wdot : Py_None);
  Ref scrub(sm.attr("scrub_wdot"));
  PyObject* const objs[4] = {w.get(), scrub.get(), W.get(), Y.get()};
  const double rho_u = rho * u;
  return derivative(
      {u, dG, dTdz}, objs,
      [&](const double* x) { return fv::reactor::species_row(x[0], x[1], x[2], x[3], m_s, rho_u); },
      [&] {
        Ref sum(check(PyNumber_Add(w.get(), scrub.get())));
        Ref weighted(check(PyNumber_Multiply(sum.get(), W.get())));
        Ref m_s_obj = new_float(m_s);
        Ref loss(check(PyNumber_Multiply(Y.get(), m_s_obj.get())));
        Ref diff(check(PyNumber_Subtract(weighted.get(), loss.get())));
        Ref rho_u_obj = new_float(rho_u);
        return Ref(check(PyNumber_TrueDivide(diff.get(), rho_u_obj.get())));
      },
      dsoot, 4);
}

PyObject* pfr_call(PyObject* self, PyObject* args, PyObject* kwds) {
  static PyObject* params[2] = {PyUnicode_InternFromString("t"), PyUnicode_InternFromString("y")};
  PyObject* a[2];
  if (!parse_tuple_args("__call__", params, 2, args, kwds, a)) return nullptr;
  double t;
  if (!to_double(a[0], &t)) return nullptr;
  if (!check_array_arg(a[1], "y")) return nullptr;
  Ref self_ref = Ref::borrow(self);
  Ref y = Ref::borrow(a[1]);
  return guarded([&] { return evaluate(self, t, y.get()); });
}

// ---- fields ---------------------------------------------------------------------------

#define FV_NUM(n, acc) \
  field<get_number<&PlugFlow::n>, set_number<&PlugFlow::n>>(#n, Access::acc, FieldKind::Number)
#define FV_OBJ(n, kind) \
  field<get_object<&PlugFlowObject::n>, set_object<&PlugFlowObject::n, kind>>(#n, \
      Access::RW, FieldKind::Object)
const Field g_fields[] = {
    FV_NUM(Nu_const_heat, RO),
    FV_NUM(Nu_const_temp, RO),
    FV_NUM(P, RW),
    FV_NUM(Rt_offset, RW),
    FV_NUM(T_offset, RW),
    FV_NUM(Y_offset, RW),
    FV_NUM(_enable_fixed_density, RW),
    FV_NUM(_enable_soot, RW),
    FV_NUM(_enable_wall_deposition, RW),
    FV_NUM(_use_fixed_density, RW),
    FV_NUM(_use_temp_time_history, RW),
    FV_NUM(_use_temp_value, RW),
    FV_NUM(area, RW),
    FV_NUM(fixed_density, RW),
    FV_OBJ(gas, 'o'),
    FV_NUM(k_dep, RW),
    FV_NUM(perimeter, RW),
    FV_NUM(rho_u_vfv_offset, RW),
    FV_OBJ(soot_model, 'o'),
    FV_NUM(soot_offset, RW),
    FV_OBJ(temp_value, 'a'),
    FV_OBJ(time_derivative_temp_history, 'a'),
    FV_NUM(u, RW),
    FV_OBJ(wdot, 'a'),
};
#undef FV_NUM
#undef FV_OBJ
constexpr int kFieldCount = sizeof(g_fields) / sizeof(g_fields[0]);
static_assert(kFieldCount == 24, "CPFROde pickles 24 fields");

const PickleInfo g_pickle = {"CPFROde", g_fields, kFieldCount,
                             {0xa50cd52, 0x9951450, 0xa04a8eb}, "__pyx_unpickle_CPFROde",
                             extra_state, restore_extra};

PyObject* pfr_reduce(PyObject* self, PyObject*) { return reduce(self, g_pickle); }
PyObject* pfr_setstate(PyObject* self, PyObject* state) { return setstate(self, state, g_pickle); }

PyMethodDef g_methods[] = {
    method_fast<py_external_heat>("external_heat",
        "CPFROde.external_heat(self, double z, double T)"),
    method_noargs<py_reynolds>("reynolds", "CPFROde.reynolds(self)"),
    method_noargs<py_fanning_friction>("fanning_friction", "CPFROde.fanning_friction(self)"),
    method_noargs<py_initialize>("initialize", "CPFROde.initialize(self)"),
    method_noargs<pfr_reduce>("__reduce__", "CPFROde.__reduce__(self)"),
    method_o<pfr_setstate>("__setstate__", "CPFROde.__setstate__(self, __pyx_state)"),
    method_noargs<copy_shallow>("__copy__", "CPFROde.__copy__(self)"),
    method_o<copy_deep>("__deepcopy__", "CPFROde.__deepcopy__(self, memo)"),
    method_end()};

// ---- type slots -----------------------------------------------------------------------

PyObject* pfr_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  PlugFlowObject* o = obj(self);
  new (&o->core) PlugFlow();
  o->scratch = new (std::nothrow) std::vector<double>();
  if (!o->scratch) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  for (PyObject** f : {&o->gas, &o->wdot, &o->temp_value, &o->time_derivative_temp_history,
                       &o->soot_model})
    *f = Py_NewRef(Py_None);
  o->soot_enabled = nullptr;
  o->deposit_rate = nullptr;
  return self;
}

int pfr_init(PyObject* self, PyObject* args, PyObject* kwds) {
  static PyObject* params[1] = {PyUnicode_InternFromString("phase")};
  PyObject* phase = nullptr;
  if (PyTuple_GET_SIZE(args) == 1 && (!kwds || PyDict_GET_SIZE(kwds) == 0)) {
    phase = PyTuple_GET_ITEM(args, 0);
  } else if (!parse_tuple_args("__init__", params, 1, args, kwds, &phase)) {
    return -1;
  }
  PlugFlowObject* o = obj(self);
  assign(o->gas, phase);
  Ref P(PyObject_GetAttrString(phase, "P"));
  if (!P || !to_double(P.get(), &o->core.P)) return -1;
  o->core.Nu_const_temp = 3.66;
  o->core.Nu_const_heat = 4.63;
  Ref w(PyObject_GetAttrString(phase, "net_production_rates"));
  if (!w || !check_object_kind(w.get(), 'a')) return -1;
  assign(o->wdot, w.get());
  const double P_value = o->core.P;
  o->core.defaults();
  o->core.P = P_value;
  assign(o->soot_model, Py_None);
  return 0;
}

int pfr_traverse(PyObject* self, visitproc visit, void* arg) {
  PlugFlowObject* o = obj(self);
  Py_VISIT(o->gas);
  Py_VISIT(o->wdot);
  Py_VISIT(o->temp_value);
  Py_VISIT(o->time_derivative_temp_history);
  Py_VISIT(o->soot_model);
  Py_VISIT(o->soot_enabled);
  Py_VISIT(o->deposit_rate);
  return 0;
}

int pfr_clear(PyObject* self) {
  PlugFlowObject* o = obj(self);
  for (PyObject** f : {&o->gas, &o->wdot, &o->temp_value, &o->time_derivative_temp_history,
                       &o->soot_model})
    assign(*f, Py_None);
  Py_CLEAR(o->soot_enabled);
  Py_CLEAR(o->deposit_rate);
  return 0;
}

void pfr_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  PlugFlowObject* o = obj(self);
  for (PyObject** f : {&o->gas, &o->wdot, &o->temp_value, &o->time_derivative_temp_history,
                       &o->soot_model, &o->soot_enabled, &o->deposit_rate})
    Py_CLEAR(*f);
  delete o->scratch;
  o->core.~PlugFlow();
  Py_TYPE(self)->tp_free(self);
}

}  // namespace

PyMethodDef g_unpickle_plug_flow = method_fast<reconstruct<&PlugFlowType, &g_pickle>>("__pyx_unpickle_CPFROde",
    "__pyx_unpickle_CPFROde(__pyx_type, long __pyx_checksum, __pyx_state)");

int ready_plug_flow(PyObject* module) {
  const TypeSlots slots = type_slots<pfr_new, pfr_init, pfr_dealloc, pfr_traverse, pfr_clear,
                                    pfr_call>(
      "fumivex2._fumivex2.CPFROde", "CPFROde(phase)", sizeof(PlugFlowObject), g_methods,
      make_getset(g_fields, kFieldCount,
                  {property<get_soot_enabled, set_soot_enabled>("soot_enabled"),
                   property<get_deposit_rate, set_deposit_rate>("deposit_thickness_growth_rate")}));
  if (ready_type(&PlugFlowType, slots) < 0) return -1;
  if (g_own.init(&PlugFlowType, kMethodNames) < 0) return -1;
  return publish_type(module, &PlugFlowType);
}

}  // namespace fv::py
