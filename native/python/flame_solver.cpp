// CFlameSolver: soot carried through a converged one-dimensional flame by
// implicit pseudo-time stepping, with every profile held as a NumPy array.
//
// The solver owns no numbers of its own beyond a few scalars: its arrays are
// the caller-visible NumPy objects (replaceable at any time by assignment),
// read and written element by element through bounds-checked helpers. The
// element arithmetic is done on C doubles with IEEE results (inf, NaN), as
// NumPy float64 scalars compute; every stored value is checked for the IEEE
// flags its computation raised, and NumPy itself is then made to report the
// same condition, so its warning text, category and error state
// (numpy.errstate) apply unchanged.
//
// The phase, the flame and the soot model are looked up by name at each use;
// an exact CSootModel is driven in C++ (SootCalls). solve_TDMA is called
// through Python only when a subclass replaces it.
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "bind/args.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/fields.hpp"
#include "bind/items.hpp"
#include "bind/numpy.hpp"
#include "bind/overrides.hpp"
#include "common/errors.hpp"
#include "flame/flame_rows.hpp"
#include "flame/fp_status.hpp"
#include "flame_driver.hpp"
#include "flame_point.hpp"
#include "soot_calls.hpp"
#include "types.hpp"

namespace fv::py {

// The scalar attributes.
struct FlameNumbers {
  int n_time_steps = 0;
  double dt = 0.0;           // s
  int n_species = 0;
  int n_points = 0;
  double P = 0.0;            // Pa
  double mdot_left = 0.0;    // kg/(m^2 s)
  double mdot_right = 0.0;   // kg/(m^2 s)
  int boundary_type_right = 0;
  double N_agg_in = 0.0;     // mol/kg, soot entering through a flux boundary
  double N_pri_in = 0.0;
  double C_tot_in = 0.0;
  double H_tot_in = 0.0;
};

struct FlameSolverObject {
  PyObject_HEAD
  FlameNumbers core;
  PyObject* gas;
  PyObject* flame;
  PyObject* soot_model;
  PyObject* z;
  PyObject* dz;
  PyObject* T;
  PyObject* mu;
  PyObject* rho;
  PyObject* u_gas;
  PyObject* u_th;
  PyObject* u;
  PyObject* X;
  PyObject* wdot_correction_soot;
  PyObject* A;
  PyObject* B_N_agg;
  PyObject* B_N_pri;
  PyObject* B_C_tot;
  PyObject* B_H_tot;
  PyObject* N_agg_n;
  PyObject* N_agg_n1;
  PyObject* N_pri_n;
  PyObject* N_pri_n1;
  PyObject* C_tot_n;
  PyObject* C_tot_n1;
  PyObject* H_tot_n;
  PyObject* H_tot_n1;
  PointObjects* point;  // column views and the state tuple, kept for reuse
};

PyTypeObject FlameSolverType = {PyVarObject_HEAD_INIT(nullptr, 0)};

template <>
FlameNumbers& core_of<FlameNumbers>(PyObject* self) {
  return reinterpret_cast<FlameSolverObject*>(self)->core;
}

namespace {

using Member = PyObject* FlameSolverObject::*;
using fv::flame::IeeeDiv;

inline FlameSolverObject* obj(PyObject* self) { return reinterpret_cast<FlameSolverObject*>(self); }

// Every object field, for allocation, the garbage collector and deallocation.
constexpr Member kObjects[] = {
    &FlameSolverObject::gas,     &FlameSolverObject::flame,   &FlameSolverObject::soot_model,
    &FlameSolverObject::z,       &FlameSolverObject::dz,      &FlameSolverObject::T,
    &FlameSolverObject::mu,      &FlameSolverObject::rho,     &FlameSolverObject::u_gas,
    &FlameSolverObject::u_th,    &FlameSolverObject::u,       &FlameSolverObject::X,
    &FlameSolverObject::wdot_correction_soot,                 &FlameSolverObject::A,
    &FlameSolverObject::B_N_agg, &FlameSolverObject::B_N_pri, &FlameSolverObject::B_C_tot,
    &FlameSolverObject::B_H_tot, &FlameSolverObject::N_agg_n, &FlameSolverObject::N_agg_n1,
    &FlameSolverObject::N_pri_n, &FlameSolverObject::N_pri_n1, &FlameSolverObject::C_tot_n,
    &FlameSolverObject::C_tot_n1, &FlameSolverObject::H_tot_n, &FlameSolverObject::H_tot_n1,
};

// One transported soot variable: its arrays, inlet value, source term and the
// name of its floor in the soot model.
struct Variable {
  Member now;    // current time level
  Member next;   // new time level
  Member rhs;    // right-hand side of its system
  double FlameNumbers::*inlet;
  SootSource source;
  const char* floor;
};
constexpr Variable kVariables[4] = {
    {&FlameSolverObject::N_agg_n, &FlameSolverObject::N_agg_n1, &FlameSolverObject::B_N_agg,
     &FlameNumbers::N_agg_in, SootSource::N_agg, "N_agg_min"},
    {&FlameSolverObject::N_pri_n, &FlameSolverObject::N_pri_n1, &FlameSolverObject::B_N_pri,
     &FlameNumbers::N_pri_in, SootSource::N_pri, "N_pri_min"},
    {&FlameSolverObject::C_tot_n, &FlameSolverObject::C_tot_n1, &FlameSolverObject::B_C_tot,
     &FlameNumbers::C_tot_in, SootSource::C_tot, "C_tot_min"},
    {&FlameSolverObject::H_tot_n, &FlameSolverObject::H_tot_n1, &FlameSolverObject::B_H_tot,
     &FlameNumbers::H_tot_in, SootSource::H_tot, "H_tot_min"},
};

enum Method { kSolveTDMA, kMethodCount };
constexpr const char* kMethodNames[kMethodCount] = {"solve_TDMA"};
OwnMethods<kMethodCount> g_own;

// ---- small Python helpers (throwing) ---------------------------------------------

// field = value, for an array field: a NumPy array or None
void store_array(PyObject* self, Member field, PyObject* value) {
  if (!check_object_kind(value, 'a')) throw_pending();
  assign(obj(self)->*field, value);
}

// Reads obj->*field[i] (the field is looked up at each read: Python code run
// by a generic element access may replace it).
inline double at(PyObject* self, Member field, long i) { return item_get(obj(self)->*field, i); }
inline void put(PyObject* self, Member field, long i, double v) {
  Ref held = Ref::borrow(obj(self)->*field);
  item_set(held.get(), i, v);
}
inline void put2(PyObject* self, Member field, long i, long j, double v) {
  Ref held = Ref::borrow(obj(self)->*field);
  item_set2(held.get(), i, j, v);
}

// ---- IEEE arithmetic reported through NumPy ---------------------------------------

// Makes NumPy report the IEEE conditions in `flags` (FpFlag bits) by
// evaluating a float64 scalar operation that raises each of them, in the
// order NumPy checks them. NumPy's error state decides: a RuntimeWarning
// (the default), a FloatingPointError (thrown on as a pending error),
// nothing, or the installed callback.
void report_fp(int flags) {
  static PyObject* s[5] = {};  // float64 1.0, 0.0, 1e308, 10.0, 1e-308
  if (!s[4]) {
    const double values[5] = {1.0, 0.0, 1e308, 10.0, 1e-308};
    for (int k = 0; k < 5; ++k) {
      if (s[k]) continue;
      s[k] = PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyDoubleArrType_Type), "d",
                                   values[k]);
      if (!s[k]) throw_pending();
    }
  }
  using namespace fv::flame;
  if (flags & kFpDivideByZero) Ref r(check(PyNumber_TrueDivide(s[0], s[1])));
  if (flags & kFpOverflow) Ref r(check(PyNumber_Multiply(s[2], s[3])));
  if (flags & kFpUnderflow) Ref r(check(PyNumber_Multiply(s[4], s[4])));
  if (flags & kFpInvalid) Ref r(check(PyNumber_TrueDivide(s[1], s[1])));
  fv::flame::fp_clear(nullptr);
}

// After a value was computed and stored at `result`: report what it raised.
inline void check_fp(const double* result) {
  if (const int flags = fv::flame::fp_raised(result)) report_fp(flags);
}

// formula(v) on a private copy v of `args`, as one block of IEEE arithmetic
// whose flags are reported through NumPy before the value is returned.
template <int N, class F>
double ieee(const double (&args)[N], F formula) {
  double v[N];
  for (int k = 0; k < N; ++k) v[k] = args[k];
  fv::flame::fp_clear(v);
  const double result = formula(static_cast<const double*>(v));
  check_fp(&result);
  return result;
}

// ---- the Thomas algorithm ------------------------------------------------------------

// The values of a 1-D array as doubles (float(src[k]) for k < len(src)).
std::vector<double> load(PyObject* src) {
  const long n = item_count(src);
  std::vector<double> v(static_cast<std::size_t>(n));
  if (PyArrayObject* x = plain_vector(src)) {
    const char* p = PyArray_BYTES(x);
    const npy_intp stride = PyArray_STRIDE(x, 0);
    const long have = std::min<long>(n, static_cast<long>(PyArray_DIM(x, 0)));
    for (long k = 0; k < have; ++k) std::memcpy(&v[k], p + k * stride, sizeof(double));
    if (have < n) throw_out_of_bounds(have, PyArray_DIM(x, 0));
    return v;
  }
  for (long k = 0; k < n; ++k) v[k] = generic_get(src, k);
  return v;
}

[[noreturn]] void throw_short(const char* name, long have, long need, long nf) {
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "solve_TDMA: %s holds %ld values, a system of %ld equations needs %ld", name,
                have, nf, need);
  throw Error(ErrorKind::Value, buf);
}

// The three diagonals of a tridiagonal system, read once for several
// right-hand sides: a (sub-), b (main), c (super-diagonal).
struct Diagonals {
  std::vector<double> a, b, c;
};

Diagonals load_diagonals(PyObject* a, PyObject* b, PyObject* c) {
  Ref ha = Ref::borrow(a), hb = Ref::borrow(b), hc = Ref::borrow(c);
  Diagonals m;
  m.a = load(a);
  m.b = load(b);
  m.c = load(c);
  return m;
}

// The solution of the system with right-hand side d: a new float64 array x
// with a[j-1] x[j-1] + b[j] x[j] + c[j] x[j+1] = d[j], j = 0 .. len(d)-1.
PyObject* tdma(const Diagonals& m, PyObject* d) {
  Ref hd = Ref::borrow(d);
  const long nf = item_count(d);
  if (nf == 0) throw Error(ErrorKind::Value, "solve_TDMA: the right-hand side d is empty");
  const long na = static_cast<long>(m.a.size()), nb = static_cast<long>(m.b.size()),
             nc = static_cast<long>(m.c.size());
  if (na < nf - 1) throw_short("a", na, nf - 1, nf);
  if (nb < nf) throw_short("b", nb, nf, nf);
  if (nc < nf - 1) throw_short("c", nc, nf - 1, nf);
  const std::vector<double> dv = load(d);
  // working copies a', b', c', d' side by side (the solution overwrites b'),
  // followed by a second copy of the inputs
  const std::size_t size = static_cast<std::size_t>(4 * nf);
  std::vector<double> w(2 * size);
  double* wa = w.data();
  double* wb = wa + nf;
  double* wc = wb + nf;
  double* wd = wc + nf;
  std::copy(m.a.begin(), m.a.begin() + (nf - 1), wa);
  std::copy(m.b.begin(), m.b.begin() + nf, wb);
  std::copy(m.c.begin(), m.c.begin() + (nf - 1), wc);
  std::copy(dv.begin(), dv.begin() + nf, wd);
  std::memcpy(w.data() + size, w.data(), size * sizeof(double));
  // The elimination as one block; when it raised a flag, once more from the
  // copy with every value checked, so that NumPy reports each operation as it
  // would have, in order (and an error stops at the first).
  fv::flame::fp_clear(w.data());
  fv::flame::solve_tridiagonal<IeeeDiv>(wa, wb, wc, wd, wb, static_cast<std::size_t>(nf));
  if (fv::flame::fp_raised(w.data())) {
    std::memcpy(w.data(), w.data() + size, size * sizeof(double));
    fv::flame::fp_clear(w.data());
    fv::flame::solve_tridiagonal<IeeeDiv>(wa, wb, wc, wd, wb, static_cast<std::size_t>(nf),
                                          [](const double& v) { check_fp(&v); });
  }
  npy_intp dims[1] = {nf};
  Ref x(check(PyArray_SimpleNew(1, dims, NPY_DOUBLE)));
  std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(x.get())), wb,
              static_cast<std::size_t>(nf) * sizeof(double));
  return x.release();
}

PyObject* tdma(PyObject* a, PyObject* b, PyObject* c, PyObject* d) {
  Ref hd = Ref::borrow(d);
  const long nf = item_count(d);
  if (nf == 0) throw Error(ErrorKind::Value, "solve_TDMA: the right-hand side d is empty");
  return tdma(load_diagonals(a, b, c), d);
}

// self.solve_TDMA(a, b, c, d): the body unless a subclass replaces the method
Ref solve_TDMA(PyObject* self, PyObject* a, PyObject* b, PyObject* c, PyObject* d) {
  if (!g_own.replaced_in(self, &FlameSolverType, kSolveTDMA)) return Ref(tdma(a, b, c, d));
  PyObject* stack[5] = {self, a, b, c, d};
  return Ref(check(PyObject_VectorcallMethod(g_own.names[kSolveTDMA], stack, 5, nullptr)));
}

// ---- solve -----------------------------------------------------------------------------

// field = numpy.interp(z, grid, profile)
void interpolate(PyObject* self, PyObject* interp, PyObject* grid, PyObject* profile,
                 Member field) {
  Ref z = Ref::borrow(obj(self)->z);
  Ref r = call(interp, {z.get(), grid, profile});
  store_array(self, field, r.get());
}

// The array solver's storage for the step driver: every profile, row and
// soot level is the NumPy array the field holds at the moment of use, and
// every stored value is computed as one block of IEEE arithmetic whose flags
// NumPy reports.
struct ArrayStorage {
  using Fs = FlameSolverObject;
  static constexpr bool kTemperatureFirst = false;
  static constexpr bool kMeanMWObject = false;

  PyObject* self;
  long m;          // last grid point, fixed for the whole solve
  double rho_i = 0.0;  // kg/m^3, density of the interior row being assembled
  Ref diagonal, offset_upper, offset_lower;

  FlameSolverObject* o() const { return obj(self); }
  PointObjects& points() { return *o()->point; }
  PyObject* X() { return o()->X; }
  PyObject* gas() { return o()->gas; }
  PyObject* model() { return o()->soot_model; }
  double P() { return o()->core.P; }
  double T(long i) { return at(self, &Fs::T, i); }
  double rho(long i) { return at(self, &Fs::rho, i); }
  double mu(long i) { return at(self, &Fs::mu, i); }
  double now(int k, long i) { return at(self, kVariables[k].now, i); }
  long last_index() { return m; }

  void left_row(double D) {
    put2(self, &Fs::A, 0, 0, o()->core.mdot_left);
    for (const Variable& v : kVariables) {
      const double args[7] = {D,
                              at(self, &Fs::rho, 0),
                              at(self, v.now, 0),
                              at(self, v.now, 1),
                              at(self, &Fs::dz, 1),
                              at(self, &Fs::u, 0),
                              o()->core.*v.inlet};
      const double B = ieee(args, [](const double* a) {
        return fv::flame::left_rhs<IeeeDiv>(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
      });
      put(self, v.rhs, 0, B);
    }
  }

  void right_row(long m, double D, double dt) {
    if (o()->core.boundary_type_right == 0) {
      put2(self, &Fs::A, m, m, o()->core.mdot_right);
      for (const Variable& v : kVariables) {
        const double args[8] = {D,
                                at(self, &Fs::rho, m),
                                at(self, v.now, m),
                                at(self, v.now, m - 1),
                                at(self, &Fs::dz, m),
                                at(self, &Fs::rho, m - 1),
                                at(self, &Fs::u, m),
                                o()->core.*v.inlet};
        const double B = ieee(args, [](const double* a) {
          return fv::flame::right_flux_rhs<IeeeDiv>(a[0], a[1], a[2], a[3], a[4], a[5], a[6],
                                                    a[7]);
        });
        put(self, v.rhs, m, B);
      }
      return;
    }
    const double diag_args[2] = {at(self, &Fs::rho, m), dt};
    const double diag = ieee(diag_args, [](const double* a) {
      return fv::flame::outflow_diag<IeeeDiv>(a[0], a[1]);
    });
    put2(self, &Fs::A, m, m, diag);
    for (const Variable& v : kVariables) {
      const double args[3] = {at(self, &Fs::rho, m), dt, at(self, v.now, m - 1)};
      const double B = ieee(args, [](const double* a) {
        return fv::flame::outflow_rhs<IeeeDiv>(a[0], a[1], a[2]);
      });
      put(self, v.rhs, m, B);
    }
  }

  void interior_coefficients(long i, double D, double dt) {
    rho_i = at(self, &Fs::rho, i);
    const double rho = rho_i;
    const double u = at(self, &Fs::u, i);
    const double dz_i = at(self, &Fs::dz, i);
    const double dz_next = at(self, &Fs::dz, i + 1);
    const double q_args[4] = {rho, D, dz_i, dz_next};
    const double q = ieee(q_args, [](const double* a) {
      return fv::flame::diffusion_factor<IeeeDiv>(a[0], a[1], a[2], a[3]);
    });
    const double lower_args[4] = {rho, u, q, dz_i};
    put2(self, &Fs::A, i, i - 1, ieee(lower_args, [](const double* a) {
           return fv::flame::interior_lower<IeeeDiv>(a[0], a[1], a[2], a[3]);
         }));
    const double diag_args[6] = {rho, u, q, dz_i, dz_next, dt};
    put2(self, &Fs::A, i, i, ieee(diag_args, [](const double* a) {
           return fv::flame::interior_diag<IeeeDiv>(a[0], a[1], a[2], a[3], a[4], a[5]);
         }));
    const double upper_args[4] = {rho, u, q, dz_next};
    put2(self, &Fs::A, i, i + 1, ieee(upper_args, [](const double* a) {
           return fv::flame::interior_upper<IeeeDiv>(a[0], a[1], a[2], a[3]);
         }));
  }

  // B_N[i] = rho/dt N[i] + rho S, with the row's density read before its sources
  void interior_rhs(long i, int k, double dt, double S) {
    const Variable& v = kVariables[k];
    const double args[4] = {rho_i, dt, at(self, v.now, i), S};
    const double B = ieee(args, [](const double* a) {
      return fv::flame::interior_rhs<IeeeDiv>(a[0], a[1], a[2], a[3]);
    });
    put(self, v.rhs, i, B);
  }

  Ref lookup_print() { return flame_driver::print_from_module(); }
  void prepare_steps() {
    diagonal = numpy_attr("diagonal");
    offset_upper = new_int(1);
    offset_lower = new_int(-1);
  }

  // the diagonals of A through numpy.diagonal, then N_n1 = solve_TDMA(...) for each variable
  void solve_systems() {
    Ref A = Ref::borrow(o()->A);
    Ref diag = call(diagonal.get(), {A.get()});
    Ref upper = call(diagonal.get(), {A.get(), offset_upper.get()});
    Ref lower = call(diagonal.get(), {A.get(), offset_lower.get()});
    if (g_own.replaced_in(self, &FlameSolverType, kSolveTDMA)) {
      for (const Variable& v : kVariables) {
        Ref B = Ref::borrow(o()->*v.rhs);
        Ref x = solve_TDMA(self, lower.get(), diag.get(), upper.get(), B.get());
        store_array(self, v.next, x.get());
      }
    } else {
      // our own solve_TDMA four times on the same diagonals, read once
      std::optional<Diagonals> m;
      for (const Variable& v : kVariables) {
        Ref B = Ref::borrow(o()->*v.rhs);
        if (item_count(B.get()) == 0)
          throw Error(ErrorKind::Value, "solve_TDMA: the right-hand side d is empty");
        if (!m) m = load_diagonals(lower.get(), diag.get(), upper.get());
        Ref x(tdma(*m, B.get()));
        store_array(self, v.next, x.get());
      }
    }
  }

  void advance() {
    for (const Variable& v : kVariables) assign(o()->*v.now, o()->*v.next);
  }
};

void solve(PyObject* self) {
  FlameSolverObject* o = obj(self);
  using Fs = FlameSolverObject;
  const auto& nm = flame_driver::names();
  Ref interp = numpy_attr("interp");
  Ref flame = Ref::borrow(o->flame);

  // gas profiles on the solver grid, each flame profile read once
  Ref grid = get(flame.get(), nm.grid);
  {
    const std::pair<PyObject*, Member> profiles[4] = {
        {nm.density, &Fs::rho}, {nm.T, &Fs::T}, {nm.viscosity, &Fs::mu}, {nm.velocity, &Fs::u_gas}};
    for (const auto& [name, field] : profiles) {
      Ref profile = get(flame.get(), name);
      interpolate(self, interp.get(), grid.get(), profile.get(), field);
    }
  }

  // thermophoretic drift, in place, then the soot velocity u = u_gas + u_th
  const long n = o->core.n_points;
  const long m = n - 1;
  for (long i = 1; i <= m; ++i) {
    const double args[5] = {at(self, &Fs::mu, i), at(self, &Fs::rho, i), at(self, &Fs::T, i),
                            at(self, &Fs::T, i - 1), at(self, &Fs::dz, i)};
    const double v = ieee(args, [](const double* a) {
      return fv::flame::thermophoretic_velocity<IeeeDiv>(a[0], a[1], a[2], a[3], a[4]);
    });
    put(self, &Fs::u_th, i, v);
  }
  put(self, &Fs::u_th, 0, at(self, &Fs::u_th, 1));
  {
    Ref u_gas = Ref::borrow(o->u_gas), u_th = Ref::borrow(o->u_th);
    Ref u(check(PyNumber_Add(u_gas.get(), u_th.get())));
    store_array(self, &Fs::u, u.get());
  }

  // composition: row k of X from row k of the flame's X (read once)
  {
    Ref flame_X = get(flame.get(), nm.X);
    Ref all(check(PySlice_New(nullptr, nullptr, nullptr)));
    const long species = o->core.n_species;
    for (long k = 0; k < species; ++k) {
      Ref index = new_int(k);
      Ref key(check(PyTuple_Pack(2, index.get(), all.get())));
      Ref row(check(PyObject_GetItem(flame_X.get(), key.get())));
      Ref z = Ref::borrow(o->z);
      Ref r = call(interp.get(), {z.get(), grid.get(), row.get()});
      Ref X = Ref::borrow(o->X);
      if (PyObject_SetItem(X.get(), key.get(), r.get()) < 0) throw_pending();
    }
  }

  // pseudo-time steps
  const double dt = o->core.dt;
  const long steps = o->core.n_time_steps;
  ArrayStorage storage{self, m};
  flame_driver::run_steps(storage, dt, steps);
}

// Column i of W = the values of `scrub`, one per row of W; a scrub shorter
// than the column fails on its first missing element.
void store_column(PyObject* self, long i, PyObject* scrub) {
  Ref W = Ref::borrow(obj(self)->wdot_correction_soot);
  long rows;
  if (PyArrayObject* x = plain_matrix(W.get())) rows = static_cast<long>(PyArray_DIM(x, 0));
  else rows = generic_count(W.get());
  for (long k = 0; k < rows; ++k) {
    const double v = item_get(scrub, k);
    put2(self, &FlameSolverObject::wdot_correction_soot, k, i, v);
  }
}

void update_wdot_correction(PyObject* self) {
  FlameSolverObject* o = obj(self);
  const long n = o->core.n_points;
  for (long i = 0; i < n; ++i) {
    ArrayStorage storage{self, n - 1};
    flame_driver::evaluate_point(storage, i, false);
    Ref model = Ref::borrow(o->soot_model);
    SootCalls sm(model.get());
    sm.update_scrub_wdot();
    Ref scrub(sm.attr("scrub_wdot"));
    store_column(self, i, scrub.get());
  }
}

// ---- construction ----------------------------------------------------------------------

Ref zeros(PyObject* shape) {
  Ref fn = numpy_attr("zeros");
  return call(fn.get(), {shape});
}

void construct(PyObject* self, PyObject* phase, PyObject* flame, PyObject* grid,
               PyObject* soot_model) {
  FlameSolverObject* o = obj(self);
  using Fs = FlameSolverObject;
  FlameNumbers& c = o->core;
  assign(o->gas, phase);
  assign(o->flame, flame);
  assign(o->soot_model, soot_model);
  store_array(self, &Fs::z, grid);
  {
    Ref shape = get(grid, "shape");
    Ref first(check(PySequence_GetItem(shape.get(), 0)));
    if (!to_int(first.get(), &c.n_points)) throw_pending();
  }
  // backward spacing with dz[0] = dz[1]
  {
    Ref diff = numpy_attr("diff");
    Ref d = call(diff.get(), {grid});
    store_array(self, &Fs::dz, d.get());
    Ref first(check(PySequence_GetItem(d.get(), 0)));
    Ref pair(check(PyTuple_Pack(2, first.get(), d.get())));
    Ref hstack = numpy_attr("hstack");
    Ref dz = call(hstack.get(), {pair.get()});
    store_array(self, &Fs::dz, dz.get());
  }
  c.dt = 1e-05;
  c.n_time_steps = 2000;
  {
    Ref species = get(phase, flame_driver::names().species_names);
    const Py_ssize_t K = PyObject_Length(species.get());
    if (K < 0) throw_pending();
    Ref K_obj(check(PyLong_FromSsize_t(K)));
    if (!to_int(K_obj.get(), &c.n_species)) throw_pending();
  }
  c.P = 101325.0;
  {
    Ref zeros_like = numpy_attr("zeros_like");
    for (Member f : {&Fs::rho, &Fs::mu, &Fs::T, &Fs::u_th, &Fs::u_gas, &Fs::u}) {
      Ref z = Ref::borrow(o->z);
      Ref a = call(zeros_like.get(), {z.get()});
      store_array(self, f, a.get());
    }
  }
  Ref points = new_int(c.n_points);
  {
    Ref species = new_int(c.n_species);
    Ref shape(check(PyTuple_Pack(2, species.get(), points.get())));
    for (Member f : {&Fs::X, &Fs::wdot_correction_soot}) store_array(self, f, zeros(shape.get()).get());
    Ref square(check(PyTuple_Pack(2, points.get(), points.get())));
    store_array(self, &Fs::A, zeros(square.get()).get());
  }
  for (const Variable& v : kVariables) store_array(self, v.rhs, zeros(points.get()).get());
  for (const Variable& v : kVariables) {
    store_array(self, v.now, zeros(points.get()).get());
    store_array(self, v.next, zeros(points.get()).get());
  }
  // the soot-free state: every point at the model's floors
  {
    Ref ones_like = numpy_attr("ones_like");
    for (const Variable& v : kVariables) {
      Ref floor(check(PyObject_GetAttrString(soot_model, v.floor)));
      Ref current = Ref::borrow(o->*v.now);
      Ref ones = call(ones_like.get(), {current.get()});
      Ref start(check(PyNumber_Multiply(floor.get(), ones.get())));
      store_array(self, v.now, start.get());
    }
    for (const Variable& v : kVariables) {
      Ref floor(check(PyObject_GetAttrString(soot_model, v.floor)));
      if (!to_double(floor.get(), &(c.*v.inlet))) throw_pending();
    }
  }
  c.mdot_left = 0.0;
  c.mdot_right = 0.0;
  c.boundary_type_right = 0;
}

// ---- methods ------------------------------------------------------------------------------

PyObject* py_solve(PyObject* self, PyObject*) {
  PyObject* r = guarded([&] {
    solve(self);
    return Py_NewRef(Py_None);
  });
  obj(self)->point->clear_after_call();  // kept for one call only
  return r;
}

PyObject* py_update_wdot_correction(PyObject* self, PyObject*) {
  PyObject* r = guarded([&] {
    update_wdot_correction(self);
    return Py_NewRef(Py_None);
  });
  obj(self)->point->clear_after_call();
  return r;
}

PyObject* py_solve_TDMA(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  static const char* const params[4] = {"a", "b", "c", "d"};
  static PyObject* names[4] = {PyUnicode_InternFromString("a"), PyUnicode_InternFromString("b"),
                               PyUnicode_InternFromString("c"), PyUnicode_InternFromString("d")};
  PyObject* a[4];
  if (!parse_args("solve_TDMA", names, 4, args, nargs, kwnames, a)) return nullptr;
  for (int k = 0; k < 4; ++k)
    if (!check_array_arg(a[k], params[k])) return nullptr;
  (void)self;
  return guarded([&] { return tdma(a[0], a[1], a[2], a[3]); });
}

PyObject* get_grid(PyObject* self, void*) { return Py_NewRef(obj(self)->z); }

// ---- fields ---------------------------------------------------------------------------

#define FV_NUM(n) \
  field<get_number<&FlameNumbers::n>, set_number<&FlameNumbers::n>>(#n, \
      Access::RW, FieldKind::Number)
#define FV_OBJ(n, kind)                                                                       \
  field<get_object<&FlameSolverObject::n>, set_object<&FlameSolverObject::n, kind>>(#n, \
      Access::RW, FieldKind::Object)
#define FV_ARR(n) FV_OBJ(n, 'a')
const Field g_fields[] = {
    FV_ARR(A),
    FV_ARR(B_C_tot),
    FV_ARR(B_H_tot),
    FV_ARR(B_N_agg),
    FV_ARR(B_N_pri),
    FV_NUM(C_tot_in),
    FV_ARR(C_tot_n),
    FV_ARR(C_tot_n1),
    FV_NUM(H_tot_in),
    FV_ARR(H_tot_n),
    FV_ARR(H_tot_n1),
    FV_NUM(N_agg_in),
    FV_ARR(N_agg_n),
    FV_ARR(N_agg_n1),
    FV_NUM(N_pri_in),
    FV_ARR(N_pri_n),
    FV_ARR(N_pri_n1),
    FV_NUM(P),
    FV_ARR(T),
    FV_ARR(X),
    FV_NUM(boundary_type_right),
    FV_NUM(dt),
    FV_ARR(dz),
    FV_OBJ(flame, 'o'),
    FV_OBJ(gas, 'o'),
    FV_NUM(mdot_left),
    FV_NUM(mdot_right),
    FV_ARR(mu),
    FV_NUM(n_points),
    FV_NUM(n_species),
    FV_NUM(n_time_steps),
    FV_ARR(rho),
    FV_OBJ(soot_model, 'o'),
    FV_ARR(u),
    FV_ARR(u_gas),
    FV_ARR(u_th),
    FV_ARR(wdot_correction_soot),
    FV_ARR(z),
};
#undef FV_NUM
#undef FV_OBJ
#undef FV_ARR
constexpr int kFieldCount = sizeof(g_fields) / sizeof(g_fields[0]);
static_assert(kFieldCount == 38, "CFlameSolver pickles 38 fields");

const PickleInfo g_pickle = {"CFlameSolver", g_fields, kFieldCount,
                             {0xbc67692, 0xc2dbab9, 0xeac5e7e}, "__pyx_unpickle_CFlameSolver"};

PyObject* fs_reduce(PyObject* self, PyObject*) { return reduce(self, g_pickle); }
PyObject* fs_setstate(PyObject* self, PyObject* state) { return setstate(self, state, g_pickle); }

PyMethodDef g_methods[] = {
    method_noargs<py_solve>("solve", "CFlameSolver.solve(self)"),
    method_noargs<py_update_wdot_correction>("update_wdot_correction",
        "CFlameSolver.update_wdot_correction(self)"),
    method_fast<py_solve_TDMA>("solve_TDMA",
        "CFlameSolver.solve_TDMA(self, ndarray a, ndarray b, ndarray c, ndarray d)"),
    method_noargs<fs_reduce>("__reduce__", "CFlameSolver.__reduce__(self)"),
    method_o<fs_setstate>("__setstate__", "CFlameSolver.__setstate__(self, __pyx_state)"),
    method_noargs<copy_shallow>("__copy__", "CFlameSolver.__copy__(self)"),
    method_o<copy_deep>("__deepcopy__", "CFlameSolver.__deepcopy__(self, memo)"),
    method_end()};

// ---- type slots -----------------------------------------------------------------------

PyObject* fs_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  FlameSolverObject* o = obj(self);
  new (&o->core) FlameNumbers();
  for (Member f : kObjects) o->*f = Py_NewRef(Py_None);
  o->point = new (std::nothrow) PointObjects();
  if (!o->point) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  return self;
}

int fs_init(PyObject* self, PyObject* args, PyObject* kwds) {
  static PyObject* params[4] = {
      PyUnicode_InternFromString("phase"), PyUnicode_InternFromString("flame"),
      PyUnicode_InternFromString("grid"), PyUnicode_InternFromString("soot_model")};
  PyObject* a[4];
  if (!parse_tuple_args("__init__", params, 4, args, kwds, a)) return -1;
  // the arguments stay alive even if a dictionary entry is replaced meanwhile
  Ref held[4] = {Ref::borrow(a[0]), Ref::borrow(a[1]), Ref::borrow(a[2]), Ref::borrow(a[3])};
  return guarded_int([&] {
    construct(self, a[0], a[1], a[2], a[3]);
    return 0;
  });
}

int fs_traverse(PyObject* self, visitproc visit, void* arg) {
  FlameSolverObject* o = obj(self);
  for (Member f : kObjects) Py_VISIT(o->*f);
  if (o->point) {
    const int r = o->point->traverse(visit, arg);
    if (r) return r;
  }
  return 0;
}

int fs_clear(PyObject* self) {
  FlameSolverObject* o = obj(self);
  for (Member f : kObjects) assign(o->*f, Py_None);
  o->point->clear();
  return 0;
}

void fs_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  FlameSolverObject* o = obj(self);
  for (Member f : kObjects) Py_CLEAR(o->*f);
  delete o->point;
  o->core.~FlameNumbers();
  Py_TYPE(self)->tp_free(self);
}

}  // namespace

PyMethodDef g_unpickle_flame_solver = method_fast<reconstruct<&FlameSolverType, &g_pickle>>("__pyx_unpickle_CFlameSolver",
    "__pyx_unpickle_CFlameSolver(__pyx_type, long __pyx_checksum, __pyx_state)");

int ready_flame_solver(PyObject* module) {
  const TypeSlots slots = type_slots<fs_new, fs_init, fs_dealloc, fs_traverse, fs_clear>(
      "fumivex2._fumivex2.CFlameSolver", "CFlameSolver(phase, flame, grid, soot_model)",
      sizeof(FlameSolverObject), g_methods,
      make_getset(g_fields, kFieldCount, {property<get_grid>("grid")}));
  if (ready_type(&FlameSolverType, slots) < 0) return -1;
  if (g_own.init(&FlameSolverType, kMethodNames) < 0) return -1;
  return publish_type(module, &FlameSolverType);
}

}  // namespace fv::py
