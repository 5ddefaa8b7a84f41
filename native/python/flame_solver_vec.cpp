// CFlameSolverOpt: soot transport through a converged 1-D flame by implicit
// pseudo-time stepping, with the profiles and the tridiagonal system held in
// plain vectors (fv::flame::FlameVectors).
//
// Per grid point and step the solver sets the phase's TPX, reads its mean
// molecular weight and drives the soot model (update_gas, update_solution,
// diffus_coeff and, at interior points, the four source terms). Every member
// of the phase, the flame and the soot model is looked up by name at each use;
// an exact CSootModel is called in C++ (SootCalls). solve_TDMA is looked up on
// the object at every call: a subclass's replacement is called through Python
// with lists, our own is run directly on the vectors. Nothing here keeps a
// data pointer across a call that can run Python code: vectors are indexed
// afresh (and bounds-checked) after every such call.
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bind/args.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/fields.hpp"
#include "bind/items.hpp"
#include "bind/numpy.hpp"
#include "bind/overrides.hpp"
#include "flame/flame_vectors.hpp"
#include "flame_driver.hpp"
#include "flame_point.hpp"
#include "soot_calls.hpp"
#include "types.hpp"

namespace fv::py {

using fv::flame::FlameVectors;
using fv::flame::kSootVarCount;

struct FlameVecObject {
  PyObject_HEAD
  FlameVectors core;
  PyObject* gas;
  PyObject* flame;
  PyObject* soot_model;
  PyObject* X;                     // mole fractions [species, point]
  PyObject* wdot_correction_soot;  // kmol/(m^3 s) [species, point]
  PointObjects* point;  // column views and the state tuple, kept for reuse
};

PyTypeObject FlameVecType = {PyVarObject_HEAD_INIT(nullptr, 0)};

template <>
FlameVectors& core_of<FlameVectors>(PyObject* self) {
  return reinterpret_cast<FlameVecObject*>(self)->core;
}

namespace {

inline FlameVecObject* obj(PyObject* self) { return reinterpret_cast<FlameVecObject*>(self); }

enum Method { kSolveTDMA, kMethodCount };
constexpr const char* kMethodNames[kMethodCount] = {"solve_TDMA"};
OwnMethods<kMethodCount> g_own;


// ---- NumPy helpers ---------------------------------------------------------------

// W[k, i] = v, bounds-checked; exact float64 2-D arrays through their buffer.
void set_element(PyObject* W, long k, long i, double v) {
  if (PyArray_CheckExact(W)) {
    auto* a = reinterpret_cast<PyArrayObject*>(W);
    if (PyArray_NDIM(a) == 2 && PyArray_TYPE(a) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(a) &&
        PyArray_ISWRITEABLE(a)) {
      const long rows = static_cast<long>(PyArray_DIM(a, 0));
      const long cols = static_cast<long>(PyArray_DIM(a, 1));
      if (k < 0 || k >= rows || i < 0 || i >= cols) {
        PyErr_Format(PyExc_IndexError,
                     "index (%ld, %ld) is out of bounds for wdot_correction_soot of shape "
                     "(%ld, %ld)",
                     k, i, rows, cols);
        throw_pending();
      }
      std::memcpy(PyArray_BYTES(a) + k * PyArray_STRIDE(a, 0) + i * PyArray_STRIDE(a, 1), &v,
                  sizeof v);
      return;
    }
  }
  Ref held = Ref::borrow(W);
  Ref key(check(Py_BuildValue("(ll)", k, i)));
  Ref value(check(PyFloat_FromDouble(v)));
  if (PyObject_SetItem(W, key.get(), value.get()) < 0) throw_pending();
}

// numpy.interp(x, xp, fp)
Ref interp(PyObject* x, PyObject* xp, PyObject* fp) {
  Ref fn = numpy_attr("interp");
  PyObject* args[3] = {x, xp, fp};
  return Ref(check(PyObject_Vectorcall(fn.get(), args, 3, nullptr)));
}

// An interpolated profile as a vector: its values as a list gives them.
void store_profile(PyObject* values, std::vector<double>& out) {
  if (PyArrayObject* a = plain_vector(values)) {
    const npy_intp n = PyArray_DIM(a, 0);
    std::vector<double> v(static_cast<std::size_t>(n));
    for (npy_intp j = 0; j < n; ++j)
      std::memcpy(&v[static_cast<std::size_t>(j)], PyArray_BYTES(a) + j * PyArray_STRIDE(a, 0),
                  sizeof(double));
    out.swap(v);
    return;
  }
  Ref list(check(PyObject_CallMethodNoArgs(values, literal_name("tolist"))));
  if (!to_double_vector(list.get(), &out)) throw_pending();
}

// ---- the Thomas algorithm ----------------------------------------------------------

// N_k^{n+1} = solve_TDMA(lower, diag, upper, B_k), looked up on the object.
void solve_variable(PyObject* self, int k) {
  FlameVectors& s = obj(self)->core;
  if (!g_own.replaced_in(self, &FlameVecType, kSolveTDMA)) {
    fv::flame::solve_variable(s, k);
    return;
  }
  Ref a(check(new_list(s.lower))), b(check(new_list(s.diag))), c(check(new_list(s.upper)));
  Ref d(check(new_list(s.B(k))));
  PyObject* stack[5] = {self, a.get(), b.get(), c.get(), d.get()};
  Ref x(check(PyObject_VectorcallMethod(g_own.names[kSolveTDMA], stack, 5, nullptr)));
  if (!to_double_vector(x.get(), &s.next(k))) throw_pending();
}

PyObject* py_solve_TDMA(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static PyObject* params[4] = {PyUnicode_InternFromString("a"), PyUnicode_InternFromString("b"),
                                PyUnicode_InternFromString("c"), PyUnicode_InternFromString("d")};
  PyObject* p[4];
  if (!parse_args("solve_TDMA", params, 4, args, nargs, kwnames, p)) return nullptr;
  std::vector<double> a, b, c, d;
  if (!to_double_vector(p[0], &a) || !to_double_vector(p[1], &b) || !to_double_vector(p[2], &c) ||
      !to_double_vector(p[3], &d))
    return nullptr;
  return guarded([&] {
    fv::flame::thomas_in_place(a, b, c, d);
    return new_list(b);
  });
}

// ---- solve ----------------------------------------------------------------------------

// Profiles interpolated onto z, thermophoretic and total velocity, composition.
void set_profiles(FlameVecObject* o) {
  FlameVectors& s = o->core;
  const auto& nm = flame_driver::names();
  Ref flame = Ref::borrow(o->flame);
  Ref z(check(new_list(s.z)));
  Ref grid = get(flame.get(), nm.grid);
  const struct {
    PyObject* name;
    std::vector<double> FlameVectors::*field;
  } profiles[4] = {{nm.density, &FlameVectors::rho},
                   {nm.T, &FlameVectors::T},
                   {nm.viscosity, &FlameVectors::mu},
                   {nm.velocity, &FlameVectors::u_gas}};
  for (const auto& p : profiles) {
    Ref values = get(flame.get(), p.name);
    Ref result = interp(z.get(), grid.get(), values.get());
    store_profile(result.get(), s.*p.field);
  }
  fv::flame::set_velocities(s, s.n_points);

  Ref X_flame = get(flame.get(), nm.X);
  Ref all(check(PySlice_New(nullptr, nullptr, nullptr)));
  for (long k = 0; k < s.n_species; ++k) {
    Ref index(check(PyLong_FromLong(k)));
    Ref row(check(PyObject_GetItem(X_flame.get(), index.get())));
    Ref result = interp(z.get(), grid.get(), row.get());
    Ref key(check(PyTuple_Pack(2, index.get(), all.get())));
    Ref X = Ref::borrow(o->X);
    if (PyObject_SetItem(X.get(), key.get(), result.get()) < 0) throw_pending();
  }
}

// The soot model as stored now (each use reads the field afresh).
struct Model {
  Ref ref;
  SootCalls calls;
  explicit Model(FlameVecObject* o) : ref(Ref::borrow(o->soot_model)), calls(ref.get()) {}
};

// The vector solver's storage for the step driver: profiles, rows and soot
// levels in FlameVectors, every access bounds-checked and every division
// checked ("float division").
struct VectorStorage {
  static constexpr bool kTemperatureFirst = true;
  static constexpr bool kMeanMWObject = true;

  PyObject* self;

  FlameVecObject* o() const { return obj(self); }
  FlameVectors& s() const { return o()->core; }
  PointObjects& points() { return *o()->point; }
  PyObject* X() { return o()->X; }
  PyObject* gas() { return o()->gas; }
  PyObject* model() { return o()->soot_model; }
  double P() { return s().P; }
  double T(long i) { return fv::flame::at(s().T, i, "T"); }
  double rho(long i) { return fv::flame::at(s().rho, i, "rho"); }
  double mu(long i) { return fv::flame::at(s().mu, i, "mu"); }
  double now(int k, long i) { return fv::flame::at(s().current(k), i, fv::flame::kN_names[k]); }
  // n_points may be changed by Python code run during the step: read at each use
  long last_index() { return static_cast<long>(s().n_points) - 1; }

  void left_row(double D) { fv::flame::left_boundary(s(), D); }
  void right_row(long m, double D, double dt) { fv::flame::right_boundary(s(), m, D, dt); }
  void interior_coefficients(long i, double D, double dt) {
    fv::flame::interior_coefficients(s(), i, D, dt);
  }
  void interior_rhs(long i, int k, double dt, double S) {
    fv::flame::interior_source(s(), i, k, dt, S);
  }
  void solve_systems() {
    for (int k = 0; k < kSootVarCount; ++k) solve_variable(self, k);
  }
  void advance() { fv::flame::advance(s()); }
  Ref lookup_print() { return flame_driver::print_from_frame(); }
  void prepare_steps() {}
};

void solve(PyObject* self) {
  FlameVecObject* o = obj(self);
  set_profiles(o);
  const double dt = o->core.dt;
  const int steps = o->core.n_time_steps;
  VectorStorage storage{self};
  flame_driver::run_steps(storage, dt, steps);
}

PyObject* py_solve(PyObject* self, PyObject*) {
  Ref held = Ref::borrow(self);
  PyObject* r = guarded([&] {
    solve(self);
    return Py_NewRef(Py_None);
  });
  obj(self)->point->clear_after_call();  // kept for one call only
  return r;
}

// Column i of wdot_correction_soot = the soot model's scrubbing rates at point i.
PyObject* py_update_wdot_correction(PyObject* self, PyObject*) {
  Ref held = Ref::borrow(self);
  PyObject* r = guarded([&] {
    FlameVecObject* o = obj(self);
    const long n = o->core.n_points;
    VectorStorage storage{self};
    for (long i = 0; i < n; ++i) {
      flame_driver::evaluate_point(storage, i, false);
      Model(o).calls.update_scrub_wdot();
      Ref scrub(Model(o).calls.attr("scrub_wdot"));
      for (long k = 0; k < o->core.n_species; ++k) {
        const double v = item_get(scrub.get(), k);
        Ref W = Ref::borrow(o->wdot_correction_soot);
        set_element(W.get(), k, i, v);
      }
    }
    return Py_NewRef(Py_None);
  });
  obj(self)->point->clear_after_call();  // kept for one call only
  return r;
}

PyObject* get_grid(PyObject* self, void*) { return new_list(obj(self)->core.z); }

// ---- fields ---------------------------------------------------------------------------

#define FV_NUM(n) \
  field<get_number<&FlameVectors::n>, set_number<&FlameVectors::n>>(#n, \
      Access::RW, FieldKind::Number)
#define FV_VEC(n) \
  field<get_vector<&FlameVectors::n>, set_vector<&FlameVectors::n>>(#n, \
      Access::RW, FieldKind::Vector)
#define FV_OBJ(n, kind) \
  field<get_object<&FlameVecObject::n>, set_object<&FlameVecObject::n, kind>>(#n, \
      Access::RW, FieldKind::Object)
const Field g_fields[] = {
    FV_VEC(B_C_tot),
    FV_VEC(B_H_tot),
    FV_VEC(B_N_agg),
    FV_VEC(B_N_pri),
    FV_NUM(C_tot_in_left),
    FV_NUM(C_tot_in_right),
    FV_VEC(C_tot_n),
    FV_VEC(C_tot_n1),
    FV_NUM(H_tot_in_left),
    FV_NUM(H_tot_in_right),
    FV_VEC(H_tot_n),
    FV_VEC(H_tot_n1),
    FV_NUM(N_agg_in_left),
    FV_NUM(N_agg_in_right),
    FV_VEC(N_agg_n),
    FV_VEC(N_agg_n1),
    FV_NUM(N_pri_in_left),
    FV_NUM(N_pri_in_right),
    FV_VEC(N_pri_n),
    FV_VEC(N_pri_n1),
    FV_NUM(P),
    FV_VEC(T),
    FV_OBJ(X, 'a'),
    FV_NUM(boundary_type_right),
    FV_VEC(diag),
    FV_NUM(dt),
    FV_VEC(dz),
    FV_OBJ(flame, 'o'),
    FV_OBJ(gas, 'o'),
    FV_VEC(lower),
    FV_NUM(mdot_left),
    FV_NUM(mdot_right),
    FV_VEC(mu),
    FV_NUM(n_points),
    FV_NUM(n_species),
    FV_NUM(n_time_steps),
    FV_VEC(rho),
    FV_OBJ(soot_model, 'o'),
    FV_VEC(u),
    FV_VEC(u_gas),
    FV_VEC(u_th),
    FV_VEC(upper),
    FV_OBJ(wdot_correction_soot, 'a'),
    FV_VEC(z),
};
#undef FV_NUM
#undef FV_VEC
#undef FV_OBJ
constexpr int kFieldCount = sizeof(g_fields) / sizeof(g_fields[0]);
static_assert(kFieldCount == 44, "CFlameSolverOpt pickles 44 fields");

const PickleInfo g_pickle = {"CFlameSolverOpt", g_fields, kFieldCount,
                             {0x4425ef5, 0xe9075ae, 0xc5057d9},
                             "__pyx_unpickle_CFlameSolverOpt"};

PyObject* fs_reduce(PyObject* self, PyObject*) { return reduce(self, g_pickle); }
PyObject* fs_setstate(PyObject* self, PyObject* state) { return setstate(self, state, g_pickle); }

PyMethodDef g_methods[] = {
    method_noargs<py_solve>("solve", "CFlameSolverOpt.solve(self)"),
    method_noargs<py_update_wdot_correction>("update_wdot_correction",
        "CFlameSolverOpt.update_wdot_correction(self)"),
    method_fast<py_solve_TDMA>("solve_TDMA", "CFlameSolverOpt.solve_TDMA(self, a, b, c, d)"),
    method_noargs<fs_reduce>("__reduce__", "CFlameSolverOpt.__reduce__(self)"),
    method_o<fs_setstate>("__setstate__", "CFlameSolverOpt.__setstate__(self, __pyx_state)"),
    method_noargs<copy_shallow>("__copy__", "CFlameSolverOpt.__copy__(self)"),
    method_o<copy_deep>("__deepcopy__", "CFlameSolverOpt.__deepcopy__(self, memo)"),
    method_end()};

// ---- construction ------------------------------------------------------------------------

PyObject* fs_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  FlameVecObject* o = obj(self);
  new (&o->core) FlameVectors();
  for (PyObject** f : {&o->gas, &o->flame, &o->soot_model, &o->X, &o->wdot_correction_soot})
    *f = Py_NewRef(Py_None);
  o->point = new (std::nothrow) PointObjects();
  if (!o->point) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return self;
}

// tuple + dict arguments sorted into the four parameters
bool init_args(PyObject* args, PyObject* kwds, PyObject** out) {
  static PyObject* params[4] = {
      PyUnicode_InternFromString("phase"), PyUnicode_InternFromString("flame"),
      PyUnicode_InternFromString("grid"), PyUnicode_InternFromString("soot_model")};
  return parse_tuple_args("__init__", params, 4, args, kwds, out);
}

PyObject* zeros_2d(long rows, long cols) {
  npy_intp dims[2] = {rows, cols};
  return check(PyArray_ZEROS(2, dims, NPY_DOUBLE, 0));
}

void construct(PyObject* self, PyObject* const a[4]) {
  FlameVecObject* o = obj(self);
  FlameVectors& s = o->core;
  const auto& nm = flame_driver::names();
  // 1. the three collaborators
  assign(o->gas, a[0]);
  assign(o->flame, a[1]);
  assign(o->soot_model, a[3]);
  // 2-3. grid and spacing
  if (!to_double_vector(a[2], &s.z)) throw_pending();
  const Py_ssize_t length = PyObject_Length(a[2]);
  if (length < 0) throw_pending();
  if (length > INT_MAX) throw Error(ErrorKind::Overflow, "grid has too many points");
  s.n_points = static_cast<int>(length);
  if (s.n_points < 2)
    throw Error(ErrorKind::Value, "CFlameSolverOpt needs a grid of at least two points (got " +
                                      std::to_string(s.n_points) + ")");
  const long n = s.n_points;
  fv::flame::set_spacing(s, n);
  // 4-5. settings
  s.dt = 1e-05;
  s.n_time_steps = 2000;
  {
    Ref gas = Ref::borrow(o->gas);
    Ref species = get(gas.get(), nm.species_names);
    const Py_ssize_t K = PyObject_Length(species.get());
    if (K < 0) throw_pending();
    if (K > INT_MAX) throw Error(ErrorKind::Overflow, "value too large to convert to int");
    s.n_species = static_cast<int>(K);
  }
  s.P = 101325.0;
  // 6-8. profiles, arrays, diagonals, right-hand sides and soot levels
  const auto N = static_cast<std::size_t>(n);
  for (auto* v : {&s.rho, &s.mu, &s.T, &s.u_th, &s.u_gas, &s.u}) v->assign(N, 0.0);
  {
    Ref X(zeros_2d(s.n_species, n));
    assign(o->X, X.get());
    Ref W(zeros_2d(s.n_species, n));
    assign(o->wdot_correction_soot, W.get());
  }
  s.upper.assign(N - 1, 0.0);
  s.diag.assign(N, 0.0);
  s.lower.assign(N - 1, 0.0);
  for (int k = 0; k < kSootVarCount; ++k) s.B(k).assign(N, 0.0);
  for (int k = 0; k < kSootVarCount; ++k) {
    s.current(k).assign(N, 0.0);
    s.next(k).assign(N, 0.0);
  }
  // 9. the soot model's floors at every point, read afresh for each
  for (long i = 0; i < n; ++i)
    for (int k = 0; k < kSootVarCount; ++k) {
      Ref model = Ref::borrow(o->soot_model);
      Ref floor = get(model.get(), nm.floors[k]);
      fv::flame::at(s.current(k), i, fv::flame::kN_names[k]) = as_double(floor.get());
    }
  // 10. inlet values: left, then right
  double* inlets[2][kSootVarCount] = {
      {&s.N_agg_in_left, &s.N_pri_in_left, &s.C_tot_in_left, &s.H_tot_in_left},
      {&s.N_agg_in_right, &s.N_pri_in_right, &s.C_tot_in_right, &s.H_tot_in_right}};
  for (auto& side : inlets)
    for (int k = 0; k < kSootVarCount; ++k) {
      Ref model = Ref::borrow(o->soot_model);
      Ref floor = get(model.get(), nm.floors[k]);
      *side[k] = as_double(floor.get());
    }
  // 11. boundary data
  s.mdot_left = 0.0;
  s.mdot_right = 0.0;
  s.boundary_type_right = 0;
}

int fs_init(PyObject* self, PyObject* args, PyObject* kwds) {
  PyObject* a[4];
  if (!init_args(args, kwds, a)) return -1;
  return guarded_int([&] {
    construct(self, a);
    return 0;
  });
}

int fs_traverse(PyObject* self, visitproc visit, void* arg) {
  FlameVecObject* o = obj(self);
  Py_VISIT(o->gas);
  Py_VISIT(o->flame);
  Py_VISIT(o->soot_model);
  Py_VISIT(o->X);
  Py_VISIT(o->wdot_correction_soot);
  if (o->point) {
    const int r = o->point->traverse(visit, arg);
    if (r) return r;
  }
  return 0;
}

int fs_clear(PyObject* self) {
  FlameVecObject* o = obj(self);
  for (PyObject** f : {&o->gas, &o->flame, &o->soot_model, &o->X, &o->wdot_correction_soot})
    assign(*f, Py_None);
  o->point->clear();
  return 0;
}

void fs_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  FlameVecObject* o = obj(self);
  for (PyObject** f : {&o->gas, &o->flame, &o->soot_model, &o->X, &o->wdot_correction_soot})
    Py_CLEAR(*f);
  delete o->point;
  o->core.~FlameVectors();
  Py_TYPE(self)->tp_free(self);
}

}  // namespace

PyMethodDef g_unpickle_flame_solver_vec = method_fast<reconstruct<&FlameVecType, &g_pickle>>("__pyx_unpickle_CFlameSolverOpt",
    "__pyx_unpickle_CFlameSolverOpt(__pyx_type, long __pyx_checksum, __pyx_state)");

int ready_flame_solver_vec(PyObject* module) {
  const TypeSlots slots = type_slots<fs_new, fs_init, fs_dealloc, fs_traverse, fs_clear>(
      "fumivex2._fumivex2.CFlameSolverOpt", "CFlameSolverOpt(phase, flame, grid, soot_model)",
      sizeof(FlameVecObject), g_methods,
      make_getset(g_fields, kFieldCount, {property<get_grid>("grid")}));
  if (ready_type(&FlameVecType, slots) < 0) return -1;
  if (g_own.init(&FlameVecType, kMethodNames) < 0) return -1;
  return publish_type(module, &FlameVecType);
}

}  // namespace fv::py
