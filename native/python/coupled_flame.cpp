// _solve_coupled_flame, _coupled_flame_residual and _solve_soot_on_gas: the
// coupled species-and-soot solve of a flame (fv::flame::solve_coupled) and its
// pieces, for fumivex2.coupled, which builds the problem from a Cantera flame.
//
// The problem is any object with the attributes
//   gas          the Cantera phase of the flame (Solution with kinetics and
//                mixture-averaged transport)
//   soot_model   a CSootModel (or subclass) configured for `gas`
//   viscosity    a fumivex2.viscosity object mu(T, X) or None (gas.viscosity)
//   z, T, rho_u, rho   grid (m), temperature (K), mass flux (kg/(m2 s)) and
//                density (kg/m3, the time term of pseudo-time steps), held
//   P            pressure, Pa
//   mdot_left, Y_left, N_left     the left inlet: kg/(m2 s), K mass fractions,
//                four soot values (mol/kg)
//   right_inlet  whether gas enters on the right; then mdot_right, Y_right, N_right
//   gas_sources  whether the soot's exchange with the gas enters the species rows
//   H2_index     the species that takes the soot model's unaccounted hydrogen
//                (-1: none)
//   W_C, W_H     atomic weights of C and H, kg/mol
// and the state is given as Y (K x n mass fractions) and N (4 x n soot values).
//
// Cantera is reached through its Python API: per point and residual the
// phase's state is set (set_unnormalized_mass_fractions, then TP) and
// net_production_rates read; per Jacobian also net_production_rates_ddX; at
// each midpoint and transport update mix_diff_coeffs. An exact CSootModel is
// called in C++, anything else through Python (SootCalls); an exact
// _MixtureViscosity in C++.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "bind/args.hpp"
#include "bind/attrs.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/numpy.hpp"
#include "common/errors.hpp"
#include "flame/block_newton.hpp"
#include "flame/coupled.hpp"
#include "flame_driver.hpp"
#include "gas/viscosity.hpp"
#include "soot_calls.hpp"
#include "types.hpp"

namespace fv::py {

namespace {

using fv::flame::CoupledProblem;
using fv::flame::kSteadyVars;
using fv::flame::SootGasState;
using fv::flame::SootPoint;

[[noreturn]] void value_error(const std::string& message) {
  throw Error(ErrorKind::Value, message);
}

double attr_double(PyObject* o, const char* name) {
  Ref v = get(o, name);
  return as_double(v.get());
}

bool attr_truth(PyObject* o, const char* name) {
  Ref v = get(o, name);
  const int t = PyObject_IsTrue(v.get());
  if (t < 0) throw_pending();
  return t != 0;
}

// getattr(o, name) as `n` doubles (n < 0: any length)
std::vector<double> attr_vector(PyObject* o, const char* name, long n) {
  Ref v = get(o, name);
  std::vector<double> values = float64_vector(v.get());
  if (n >= 0 && static_cast<long>(values.size()) != n)
    value_error(std::string("coupled flame: ") + name + " has " + std::to_string(values.size()) +
                " values, " + std::to_string(n) + " expected");
  return values;
}

SootPoint attr_soot(PyObject* o, const char* name) {
  const std::vector<double> v = attr_vector(o, name, kSteadyVars);
  SootPoint N;
  std::copy(v.begin(), v.end(), N.begin());
  return N;
}

// A rows x cols float64 array read from any object NumPy converts, row-major.
std::vector<double> matrix(PyObject* o, long rows, long cols, const char* what) {
  Ref a(check(PyArray_FROMANY(o, NPY_DOUBLE, 2, 2, NPY_ARRAY_CARRAY_RO)));
  auto* x = reinterpret_cast<PyArrayObject*>(a.get());
  if (PyArray_DIM(x, 0) != rows || PyArray_DIM(x, 1) != cols)
    value_error(std::string("coupled flame: ") + what + " has shape (" +
                std::to_string(PyArray_DIM(x, 0)) + ", " + std::to_string(PyArray_DIM(x, 1)) +
                "), (" + std::to_string(rows) + ", " + std::to_string(cols) + ") expected");
  const double* d = static_cast<const double*>(PyArray_DATA(x));
  return std::vector<double>(d, d + rows * cols);
}

// `n` doubles of a one-dimensional float64 result into out; ValueError for
// another length.
void copy_values(PyObject* o, double* out, long n, const char* what) {
  Ref a(check(PyArray_FROMANY(o, NPY_DOUBLE, 1, 1, NPY_ARRAY_CARRAY_RO)));
  auto* x = reinterpret_cast<PyArrayObject*>(a.get());
  if (PyArray_DIM(x, 0) != n)
    value_error(std::string("coupled flame: ") + what + " has " +
                std::to_string(PyArray_DIM(x, 0)) + " values for " + std::to_string(n) +
                " species");
  const double* d = static_cast<const double*>(PyArray_DATA(x));
  std::copy(d, d + n, out);
}

Ref new_vector(const double* v, long n) {
  npy_intp dims[1] = {n};
  Ref a(check(PyArray_SimpleNew(1, dims, NPY_DOUBLE)));
  std::copy(v, v + n, static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get()))));
  return a;
}

// rows x cols array whose element (r, c) is v[c * stride + offset + r]: a
// block of the point-major state, as species x points.
Ref new_columns(const std::vector<double>& v, long rows, long cols, long stride, long offset) {
  npy_intp dims[2] = {rows, cols};
  Ref a(check(PyArray_SimpleNew(2, dims, NPY_DOUBLE)));
  double* d = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get())));
  for (long r = 0; r < rows; ++r)
    for (long c = 0; c < cols; ++c)
      d[r * cols + c] = v[static_cast<std::size_t>(c * stride + offset + r)];
  return a;
}

// The phase through its Python API.

class CanteraGas final : public fv::flame::FlameGas {
 public:
  CanteraGas(PyObject* gas, PyObject* viscosity, long K, double P)
      : gas_(Ref::borrow(gas)), viscosity_(Ref::borrow(viscosity)), K_(K), P_(P),
        core_(viscosity == Py_None ? nullptr : exact_mixture_viscosity(viscosity)) {
    npy_intp dims[1] = {K};
    Y_ = Ref(check(PyArray_SimpleNew(1, dims, NPY_DOUBLE)));
    if (core_ && static_cast<long>(core_->n_species()) != K)
      value_error("coupled flame: the viscosity object has " +
                  std::to_string(core_->n_species()) + " species, the phase " +
                  std::to_string(K));
  }

  void set_state(double T, double P, const double* Y) override {
    // Cantera copies the values at once: one array serves every call
    std::copy(Y, Y + K_, static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(Y_.get()))));
    PyObject* stack[2] = {gas_.get(), Y_.get()};
    Ref r(check(PyObject_VectorcallMethod(names().set_Y, stack, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)));
    Ref TP(check(Py_BuildValue("(dd)", T, P)));
    if (PyObject_SetAttr(gas_.get(), names().TP, TP.get()) < 0) throw_pending();
  }

  void net_production_rates(double* wdot) override {
    Ref w = get(gas_.get(), names().wdot);
    copy_values(w.get(), wdot, K_, "net_production_rates");
  }

  void rates_ddX(double* J) override {
    Ref d = get(gas_.get(), names().ddX);
    if (PyArray_Check(d.get())) {
      const std::vector<double> m = matrix(d.get(), K_, K_, "net_production_rates_ddX");
      std::copy(m.begin(), m.end(), J);
      return;
    }
    // a sparse matrix (Cantera's use_sparse, half the time of the dense form):
    // compressed columns read as they are, anything else through its dense form
    Ref format = get(d.get(), names().format);
    if (PyUnicode_Check(format.get()) && PyUnicode_CompareWithASCIIString(format.get(), "csc") == 0) {
      Ref data_obj = get(d.get(), names().data), rows_obj = get(d.get(), names().indices),
          starts_obj = get(d.get(), names().indptr);
      const std::vector<double> data = float64_vector(data_obj.get());
      const std::vector<double> rows = float64_vector(rows_obj.get());
      const std::vector<double> starts = float64_vector(starts_obj.get());
      if (static_cast<long>(starts.size()) != K_ + 1 || rows.size() != data.size())
        value_error("coupled flame: net_production_rates_ddX is not a K x K matrix");
      std::fill(J, J + K_ * K_, 0.0);
      for (long c = 0; c < K_; ++c) {
        const auto begin = static_cast<long>(starts[static_cast<std::size_t>(c)]);
        const auto end = static_cast<long>(starts[static_cast<std::size_t>(c) + 1]);
        if (begin < 0 || end < begin || end > static_cast<long>(data.size()))
          value_error("coupled flame: net_production_rates_ddX has inconsistent columns");
        for (long q = begin; q < end; ++q) {
          const auto r = static_cast<long>(rows[static_cast<std::size_t>(q)]);
          if (r < 0 || r >= K_) value_error("coupled flame: net_production_rates_ddX row out of range");
          J[r * K_ + c] += data[static_cast<std::size_t>(q)];
        }
      }
      return;
    }
    PyObject* stack[1] = {d.get()};
    Ref dense(check(PyObject_VectorcallMethod(names().toarray, stack,
                                              1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)));
    const std::vector<double> m = matrix(dense.get(), K_, K_, "net_production_rates_ddX");
    std::copy(m.begin(), m.end(), J);
  }

  void mix_diff_coeffs(double* D) override {
    Ref d = get(gas_.get(), names().mix_diff);
    copy_values(d.get(), D, K_, "mix_diff_coeffs");
  }

  double viscosity(double T, const double* X) override {
    if (core_) return (*core_)(T, X);
    Ref Xa = new_vector(X, K_);
    Ref Tv = new_float(T);
    if (viscosity_.get() != Py_None) return call_mixture_viscosity(viscosity_.get(), Tv.get(), Xa.get());
    Ref state(check(Py_BuildValue("(ddO)", T, P_, Xa.get())));
    if (PyObject_SetAttr(gas_.get(), names().TPX, state.get()) < 0) throw_pending();
    return get_float(gas_.get(), names().viscosity);
  }

 private:
  struct Names {
    PyObject* set_Y = interned("set_unnormalized_mass_fractions");
    PyObject* TP = interned("TP");
    PyObject* TPX = interned("TPX");
    PyObject* wdot = interned("net_production_rates");
    PyObject* ddX = interned("net_production_rates_ddX");
    PyObject* mix_diff = interned("mix_diff_coeffs");
    PyObject* viscosity = interned("viscosity");
    PyObject* toarray = interned("toarray");
    PyObject* format = interned("format");
    PyObject* data = interned("data");
    PyObject* indices = interned("indices");
    PyObject* indptr = interned("indptr");
  };
  static const Names& names() {
    static const Names n;  // first use is under the interpreter lock
    return n;
  }

  Ref gas_, viscosity_, Y_;
  long K_;
  double P_;
  fv::gas::MixtureViscosity* core_;
};

// The soot model at a point's gas, through SootCalls.
class SootModelCalls final : public fv::flame::FlameSootModel {
 public:
  SootModelCalls(PyObject* model, long K) : model_(Ref::borrow(model)), calls_(model), K_(K) {}

  void evaluate(const SootGasState& g, const SootPoint& N, bool sources, double& D, SootPoint& S,
                double* scrub) override {
    // a new X for every call: the model keeps the object it is given
    Ref X = new_vector(g.X, K_);
    calls_.update_gas(g.T, g.P, g.rho, g.mu, g.mean_MW, X.get());
    calls_.update_solution(N.data());
    D = calls_.diffus_coeff();
    if (!sources) return;
    if (scrub) {
      calls_.update_scrub_wdot();
      Ref s(calls_.attr("scrub_wdot"));
      copy_values(s.get(), scrub, K_, "the soot model's scrub_wdot");
    }
    if (!flame_driver::batched_sources(model_.get(), S.data(), [](int) {}))
      for (int k = 0; k < kSteadyVars; ++k) S[k] = calls_.source(static_cast<SootSource>(k));
  }

  // The same errors count on both routes: the core's ZeroDivision and Overflow,
  // and a Python ArithmeticError raised by a model called through Python.
  bool outside_domain(const Error& e) override {
    if (e.kind() == ErrorKind::PythonPending) {
      if (!PyErr_ExceptionMatches(PyExc_ArithmeticError)) return false;
      PyErr_Clear();
      return true;
    }
    return FlameSootModel::outside_domain(e);
  }

 private:
  Ref model_;
  SootCalls calls_;
  long K_;
};

// Everything one call needs from the problem object.
struct Setup {
  CoupledProblem problem;
  Ref gas, model, viscosity;
  std::vector<double> x;  // point-major state
};

Setup read_problem(PyObject* o, PyObject* Y, PyObject* N) {
  Setup s;
  s.gas = get(o, "gas");
  s.model = get(o, "soot_model");
  s.viscosity = get(o, "viscosity");
  CoupledProblem& p = s.problem;
  p.W = attr_vector(s.gas.get(), "molecular_weights", -1);
  const long K = static_cast<long>(p.W.size());
  p.z = attr_vector(o, "z", -1);
  const long n = static_cast<long>(p.z.size());
  p.T = attr_vector(o, "T", n);
  p.rho_u = attr_vector(o, "rho_u", n);
  p.rho_time = attr_vector(o, "rho", n);
  p.P = attr_double(o, "P");
  p.mdot_left = attr_double(o, "mdot_left");
  p.Y_left = attr_vector(o, "Y_left", K);
  p.N_left = attr_soot(o, "N_left");
  p.right_inlet = attr_truth(o, "right_inlet");
  if (p.right_inlet) {
    p.mdot_right = attr_double(o, "mdot_right");
    p.Y_right = attr_vector(o, "Y_right", K);
    p.N_right = attr_soot(o, "N_right");
  }
  p.gas_sources = attr_truth(o, "gas_sources");
  {
    Ref h = get(o, "H2_index");
    int v;
    if (!to_int(h.get(), &v)) throw_pending();
    p.H2_index = v;
  }
  p.W_C = attr_double(o, "W_C");
  p.W_H = attr_double(o, "W_H");
  const char* floors[kSteadyVars] = {"N_agg_min", "N_pri_min", "C_tot_min", "H_tot_min"};
  for (int k = 0; k < kSteadyVars; ++k) p.floor[k] = std::fabs(attr_double(s.model.get(), floors[k]));
  const std::vector<double> Yv = matrix(Y, K, n, "Y");
  const std::vector<double> Nv = matrix(N, kSteadyVars, n, "N");
  const long b = K + kSteadyVars;
  s.x.assign(static_cast<std::size_t>(n * b), 0.0);
  for (long i = 0; i < n; ++i) {
    for (long k = 0; k < K; ++k) s.x[static_cast<std::size_t>(i * b + k)] = Yv[static_cast<std::size_t>(k * n + i)];
    for (long k = 0; k < kSteadyVars; ++k)
      s.x[static_cast<std::size_t>(i * b + K + k)] = Nv[static_cast<std::size_t>(k * n + i)];
  }
  return s;
}

// Keyword arguments of a solve.
struct SolveOptions {
  double rtol, dt;
  int max_iterations, max_time_steps;
};

bool read_options(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  SolveOptions& o) {
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t j = 0; j < nkw; ++j) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, j);
    PyObject* value = args[nargs + j];
    if (PyUnicode_CompareWithASCIIString(key, "rtol") == 0) {
      if (!to_double(value, &o.rtol)) return false;
      if (!(o.rtol > 0.0 && o.rtol < 1.0)) {
        PyErr_Format(PyExc_ValueError, "%s(): rtol must be above 0 and below 1, got %R", function,
                     value);
        return false;
      }
    } else if (PyUnicode_CompareWithASCIIString(key, "dt") == 0) {
      if (!to_double(value, &o.dt)) return false;
      if (!(o.dt > 0.0) || !std::isfinite(o.dt)) {
        PyErr_Format(PyExc_ValueError, "%s(): dt must be positive and finite, got %R", function,
                     value);
        return false;
      }
    } else if (PyUnicode_CompareWithASCIIString(key, "max_iterations") == 0 ||
               PyUnicode_CompareWithASCIIString(key, "max_time_steps") == 0) {
      const bool iterations = PyUnicode_CompareWithASCIIString(key, "max_iterations") == 0;
      int* out = iterations ? &o.max_iterations : &o.max_time_steps;
      if (!to_int(value, out)) return false;
      if (*out < 0) {
        PyErr_Format(PyExc_ValueError, "%s(): %U must be 0 or more, got %d", function, key, *out);
        return false;
      }
    } else {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
      return false;
    }
  }
  return true;
}

bool check_positional(const char* function, Py_ssize_t nargs) {
  if (nargs == 3) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes exactly 3 positional arguments (%zd given)", function,
               nargs);
  return false;
}

// dict[key] = value, the value's reference taken over
void put(PyObject* d, const char* key, PyObject* value) {
  Ref v(check(value));
  if (PyDict_SetItemString(d, key, v.get()) < 0) throw_pending();
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The counts both solves report (a CoupledReport or a SteadyReport), and the
// wall-clock seconds since `start`.
template <class Report>
void put_counts(PyObject* d, const Report& r, std::chrono::steady_clock::time_point start) {
  put(d, "converged", PyBool_FromLong(r.converged));
  put(d, "residual", PyFloat_FromDouble(r.residual));
  put(d, "iterations", PyLong_FromLong(r.iterations));
  put(d, "time_steps", PyLong_FromLong(r.time_steps));
  put(d, "jacobians", PyLong_FromLong(r.jacobians));
  put(d, "rejected", PyLong_FromLong(r.rejected));
  put(d, "stop", PyUnicode_FromString(r.converged ? "" : r.stop.c_str()));
  put(d, "seconds", PyFloat_FromDouble(seconds_since(start)));
}

PyObject* py_solve_coupled(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const char* const fn = "_solve_coupled_flame";
  if (!check_positional(fn, nargs)) return nullptr;
  SolveOptions so{1e-8, 1e-6, 300, 2000};
  if (!read_options(fn, args, nargs, kwnames, so)) return nullptr;
  Ref problem = Ref::borrow(args[0]), Y = Ref::borrow(args[1]), N = Ref::borrow(args[2]);
  return guarded([&] {
    const auto start = std::chrono::steady_clock::now();
    Setup s = read_problem(problem.get(), Y.get(), N.get());
    const CoupledProblem& p = s.problem;
    CanteraGas gas(s.gas.get(), s.viscosity.get(), p.species(), p.P);
    SootModelCalls soot(s.model.get(), p.species());
    fv::flame::CoupledOptions o;
    o.rtol = so.rtol;
    o.dt = so.dt;
    o.max_iterations = so.max_iterations;
    o.max_time_steps = so.max_time_steps;
    const fv::flame::CoupledReport r = fv::flame::solve_coupled(p, gas, soot, s.x, o);
    const long n = p.points(), K = p.species(), b = p.block();
    Ref report(check(PyDict_New()));
    PyObject* d = report.get();
    put_counts(d, r, start);
    put(d, "linear_steps", PyLong_FromLong(r.linear_steps));
    put(d, "evaluations", PyLong_FromLong(r.evaluations));
    put(d, "transport_updates", PyLong_FromLong(r.transport_updates));
    put(d, "soot_evaluations", PyLong_FromLong(r.soot_evaluations));
    put(d, "worst_point", PyLong_FromLong(r.worst_point));
    put(d, "worst_component", PyLong_FromLong(r.worst_component));
    put(d, "dt", PyFloat_FromDouble(r.dt));
    put(d, "seconds_rates", PyFloat_FromDouble(r.seconds_rates));
    put(d, "seconds_rate_jacobians", PyFloat_FromDouble(r.seconds_rate_jacobians));
    put(d, "seconds_transport", PyFloat_FromDouble(r.seconds_transport));
    put(d, "seconds_viscosity", PyFloat_FromDouble(r.seconds_viscosity));
    put(d, "seconds_soot", PyFloat_FromDouble(r.seconds_soot));
    Ref Yout = new_columns(s.x, K, n, b, 0);
    Ref Nout = new_columns(s.x, kSteadyVars, n, b, K);
    return check(PyTuple_Pack(3, Yout.get(), Nout.get(), report.get()));
  });
}

PyObject* py_coupled_residual(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  static const char* const fn = "_coupled_flame_residual";
  if (!check_positional(fn, nargs)) return nullptr;
  PyObject* transport = nullptr;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t j = 0; j < nkw; ++j) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, j);
    if (PyUnicode_CompareWithASCIIString(key, "transport") == 0) {
      transport = args[nargs + j];
    } else {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fn, key);
      return nullptr;
    }
  }
  Ref problem = Ref::borrow(args[0]), Y = Ref::borrow(args[1]), N = Ref::borrow(args[2]);
  Ref held = Ref::borrow(transport ? transport : Py_None);
  return guarded([&] {
    Setup s = read_problem(problem.get(), Y.get(), N.get());
    const CoupledProblem& p = s.problem;
    CanteraGas gas(s.gas.get(), s.viscosity.get(), p.species(), p.P);
    SootModelCalls soot(s.model.get(), p.species());
    std::vector<double> xt;
    if (held.get() != Py_None) {
      // the mass fractions whose diffusion coefficients are used, with the state's soot
      const long n = p.points(), K = p.species(), b = p.block();
      const std::vector<double> Yt = matrix(held.get(), K, n, "transport");
      xt = s.x;
      for (long i = 0; i < n; ++i)
        for (long k = 0; k < K; ++k)
          xt[static_cast<std::size_t>(i * b + k)] = Yt[static_cast<std::size_t>(k * n + i)];
    }
    const fv::flame::CoupledEvaluation e =
        fv::flame::coupled_residual(p, gas, soot, s.x, xt.empty() ? nullptr : &xt);
    const long n = p.points(), K = p.species(), b = p.block();
    Ref out(check(PyDict_New()));
    PyObject* d = out.get();
    put(d, "F", new_columns(e.F, b, n, b, 0).release());
    put(d, "weight", new_columns(e.weight, b, n, b, 0).release());
    put(d, "residual", PyFloat_FromDouble(e.residual));
    put(d, "worst_point", PyLong_FromLong(e.worst_point));
    put(d, "worst_component", PyLong_FromLong(e.worst_component));
    put(d, "rho", new_vector(e.rho.data(), n).release());
    put(d, "mu", new_vector(e.mu.data(), n).release());
    put(d, "u_soot", new_vector(e.u_soot.data(), n).release());
    put(d, "m_s", new_vector(e.m_s.data(), n).release());
    put(d, "wdot", new_columns(e.wdot, K, n, K, 0).release());
    put(d, "scrub", new_columns(e.scrub, K, n, K, 0).release());
    put(d, "exchange", new_columns(e.exchange, K, n, K, 0).release());
    put(d, "flux", new_columns(e.flux, K, n - 1, K, 0).release());
    return out.release();
  });
}

PyObject* py_coupled_jacobian(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  static const char* const fn = "_coupled_flame_jacobian";
  if (!check_positional(fn, nargs)) return nullptr;
  if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fn,
                 PyTuple_GET_ITEM(kwnames, 0));
    return nullptr;
  }
  Ref problem = Ref::borrow(args[0]), Y = Ref::borrow(args[1]), N = Ref::borrow(args[2]);
  return guarded([&] {
    Setup s = read_problem(problem.get(), Y.get(), N.get());
    const CoupledProblem& p = s.problem;
    CanteraGas gas(s.gas.get(), s.viscosity.get(), p.species(), p.P);
    SootModelCalls soot(s.model.get(), p.species());
    fv::flame::BlockTridiagonal J;
    fv::flame::coupled_jacobian(p, gas, soot, s.x, fv::flame::CoupledOptions().perturbation, J);
    const long n = p.points(), b = p.block();
    npy_intp dims[4] = {3, n, b, b};
    Ref out(check(PyArray_ZEROS(4, dims, NPY_DOUBLE, 0)));
    double* d = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    const std::size_t bb = static_cast<std::size_t>(b * b);
    for (long i = 0; i < n; ++i) {
      if (i > 0) std::copy_n(J.lower(i), bb, d + (0 * n + i) * bb);
      std::copy_n(J.diag(i), bb, d + (1 * n + i) * bb);
      if (i + 1 < n) std::copy_n(J.upper(i), bb, d + (2 * n + i) * bb);
    }
    return out.release();
  });
}

PyObject* py_solve_soot_on_gas(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  static const char* const fn = "_solve_soot_on_gas";
  if (!check_positional(fn, nargs)) return nullptr;
  SolveOptions so{1e-10, 1e-5, 200, 10000};
  if (!read_options(fn, args, nargs, kwnames, so)) return nullptr;
  Ref problem = Ref::borrow(args[0]), Y = Ref::borrow(args[1]), N = Ref::borrow(args[2]);
  return guarded([&] {
    const auto start = std::chrono::steady_clock::now();
    Setup s = read_problem(problem.get(), Y.get(), N.get());
    const CoupledProblem& p = s.problem;
    CanteraGas gas(s.gas.get(), s.viscosity.get(), p.species(), p.P);
    SootModelCalls soot(s.model.get(), p.species());
    fv::flame::SteadyOptions o;
    o.rtol = so.rtol;
    o.dtau = so.dt;
    o.max_iterations = so.max_iterations;
    o.max_time_steps = so.max_time_steps;
    const fv::flame::SteadyReport r = fv::flame::solve_soot_on_gas(p, gas, soot, s.x, o);
    const long n = p.points(), K = p.species(), b = p.block();
    Ref report(check(PyDict_New()));
    PyObject* d = report.get();
    put_counts(d, r, start);
    Ref Nout = new_columns(s.x, kSteadyVars, n, b, K);
    return check(PyTuple_Pack(2, Nout.get(), report.get()));
  });
}

}  // namespace

PyMethodDef g_solve_coupled_flame = method_fast<py_solve_coupled>("_solve_coupled_flame",
    "_solve_coupled_flame(problem, Y, N, *, rtol=1e-8, max_iterations=300, max_time_steps=2000,\n"
    "dt=1e-6)\n--\n\n"
    "The coupled species-and-soot solve of a flame whose temperature and mass flux are held\n"
    "(see fumivex2.coupled), from mass fractions Y (K x n) and soot values N (4 x n).\n"
    "Returns (Y, N, report): the last accepted state and a dict of counts and times.");

PyMethodDef g_coupled_flame_residual = method_fast<py_coupled_residual>("_coupled_flame_residual",
    "_coupled_flame_residual(problem, Y, N, *, transport=None)\n--\n\n"
    "The rows of the coupled solve at Y and N, with the diffusion coefficients of that state\n"
    "(of the mass fractions `transport`, K x n, when given):\n"
    "a dict of F and weight ((K + 4) x n), the scaled residual and where it is largest, and\n"
    "per point the density, viscosity, soot velocity, gas rates, the soot's scrubbing rates\n"
    "and exchange with the gas, and the diffusive fluxes at the midpoints.");

PyMethodDef g_coupled_flame_jacobian = method_fast<py_coupled_jacobian>("_coupled_flame_jacobian",
    "_coupled_flame_jacobian(problem, Y, N)\n--\n\n"
    "The Jacobian of the coupled rows at Y and N as the solve forms it (diffusion\n"
    "coefficients of that state held): an array (3, n, K + 4, K + 4) of the blocks coupling\n"
    "each point's rows to the unknowns of the point before it, its own and the one after.");

PyMethodDef g_solve_soot_on_gas = method_fast<py_solve_soot_on_gas>("_solve_soot_on_gas",
    "_solve_soot_on_gas(problem, Y, N, *, rtol=1e-10, max_iterations=200,\n"
    "max_time_steps=10000, dt=1e-5)\n--\n\n"
    "The steady soot solve on the gas Y held: returns (N, report).");

}  // namespace fv::py
