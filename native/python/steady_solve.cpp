// solve_steady(solver, *, rtol, max_iterations) and steady_residual(solver):
// the steady soot solve of a flame (fv::flame::solve_steady) on the profiles a
// CFlameSolver or CFlameSolverOpt has read from its flame.
//
// Everything is read from the solver through its attributes, as a user would
// (so a subclass's properties are honoured): the profiles rho, u, dz, T, mu
// and X, P, the boundary data and the current-level soot arrays. The gas is
// frozen: the phase is given each point's state once, before the solve, and
// its mean molecular weight read there; each evaluation then hands the soot
// model the same update_gas arguments the pseudo-time solvers would. An exact
// CSootModel is called in C++, anything else through Python (SootCalls).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bind/args.hpp"
#include "bind/attrs.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/numpy.hpp"
#include "common/errors.hpp"
#include "flame/steady.hpp"
#include "flame_driver.hpp"
#include "soot_calls.hpp"
#include "types.hpp"

namespace fv::py {

namespace {

using fv::flame::kSteadyVars;
using fv::flame::SootPoint;
using fv::flame::SteadyProblem;
using fv::flame::SteadyReport;

constexpr const char* kVarNames[kSteadyVars] = {"N_agg", "N_pri", "C_tot", "H_tot"};

Ref attr(PyObject* o, const char* name) { return Ref(check(PyObject_GetAttrString(o, name))); }

double attr_double(PyObject* o, const char* name) {
  Ref v = attr(o, name);
  return as_double(v.get());
}

// getattr(o, name) as n doubles: any 1-D sequence of numbers, converted by
// NumPy; ValueError for another length.
std::vector<double> attr_profile(PyObject* o, const char* name, long n) {
  Ref v = attr(o, name);
  std::vector<double> values = float64_vector(v.get());
  const long len = static_cast<long>(values.size());
  if (n >= 0 && len != n)
    throw Error(ErrorKind::Value, std::string("steady soot solve: the solver's ") + name +
                                      " has " + std::to_string(len) + " values for " +
                                      std::to_string(n) + " grid points");
  return values;
}

// The soot model at the solver's frozen gas, point by point.
class BoundModel final : public fv::flame::PointModel {
 public:
  BoundModel(PyObject* model, double P) : model_(Ref::borrow(model)), calls_(model_.get()), P_(P) {}

  std::vector<double> T, rho, mu, mean_MW;  // K, kg/m^3, Pa s, kg/kmol
  std::vector<Ref> X;                        // mole fractions of each point (copies)

  void evaluate(long i, const SootPoint& N, bool sources, double& D, SootPoint& S) override {
    const auto j = static_cast<std::size_t>(i);
    calls_.update_gas(T[j], P_, rho[j], mu[j], mean_MW[j], X[j].get());
    calls_.update_solution(N.data());
    D = calls_.diffus_coeff();
    if (!sources) return;
    // no rows are stored before the solve is over, so a failing term leaves nothing to replay
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
    return PointModel::outside_domain(e);
  }

 private:
  Ref model_;
  SootCalls calls_;
  double P_;
};

// Everything the steady solve needs from one solver.
struct Setup {
  SteadyProblem problem;
  std::vector<SootPoint> N;
  std::unique_ptr<BoundModel> model;
  double dt = 0.0;
  bool arrays = false;  // CFlameSolver (NumPy arrays) rather than CFlameSolverOpt
};

Setup read_solver(PyObject* solver) {
  Setup s;
  if (PyObject_TypeCheck(solver, &FlameSolverType)) {
    s.arrays = true;
  } else if (!PyObject_TypeCheck(solver, &FlameVecType)) {
    PyErr_Format(PyExc_TypeError,
                 "the steady soot solve needs a CFlameSolver or CFlameSolverOpt, not %.200s",
                 Py_TYPE(solver)->tp_name);
    throw_pending();
  }
  SteadyProblem& p = s.problem;
  p.rho = attr_profile(solver, "rho", -1);
  const long n = static_cast<long>(p.rho.size());
  if (n < 2)
    throw Error(ErrorKind::Value, "steady soot solve: the solver has " + std::to_string(n) +
                                      " grid points; at least two are needed");
  p.u = attr_profile(solver, "u", n);
  p.dz = attr_profile(solver, "dz", n);
  p.mdot_left = attr_double(solver, "mdot_left");
  p.mdot_right = attr_double(solver, "mdot_right");
  {
    Ref b = attr(solver, "boundary_type_right");
    int v;
    if (!to_int(b.get(), &v)) throw_pending();
    p.boundary_type_right = v;
  }
  for (int k = 0; k < kSteadyVars; ++k) {
    const std::string name = kVarNames[k];
    if (s.arrays) {
      p.in_left[k] = p.in_right[k] = attr_double(solver, (name + "_in").c_str());
    } else {
      p.in_left[k] = attr_double(solver, (name + "_in_left").c_str());
      p.in_right[k] = attr_double(solver, (name + "_in_right").c_str());
    }
  }
  s.N.assign(static_cast<std::size_t>(n), SootPoint{});
  for (int k = 0; k < kSteadyVars; ++k) {
    const std::vector<double> v = attr_profile(solver, (std::string(kVarNames[k]) + "_n").c_str(), n);
    for (long i = 0; i < n; ++i) s.N[static_cast<std::size_t>(i)][k] = v[static_cast<std::size_t>(i)];
  }
  s.dt = attr_double(solver, "dt");
  const double P = attr_double(solver, "P");

  Ref model = attr(solver, "soot_model");
  const char* floors[kSteadyVars] = {"N_agg_min", "N_pri_min", "C_tot_min", "H_tot_min"};
  for (int k = 0; k < kSteadyVars; ++k) p.floor[k] = std::fabs(attr_double(model.get(), floors[k]));
  s.model = std::make_unique<BoundModel>(model.get(), P);
  BoundModel& bm = *s.model;
  bm.T = attr_profile(solver, "T", n);
  bm.mu = attr_profile(solver, "mu", n);
  bm.rho = p.rho;

  // the phase at each point, once: gas.TPX = (T, P, X[:, i]), then its mean molar mass
  Ref gas = attr(solver, "gas");
  Ref X = attr(solver, "X");
  Ref all(check(PySlice_New(nullptr, nullptr, nullptr)));
  bm.X.reserve(static_cast<std::size_t>(n));
  bm.mean_MW.reserve(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i) {
    Ref index(check(PyLong_FromLong(i)));
    Ref key(check(PyTuple_Pack(2, all.get(), index.get())));
    Ref column(check(PyObject_GetItem(X.get(), key.get())));
    Ref copy(check(PyArray_FROMANY(column.get(), NPY_DOUBLE, 1, 1,
                                   NPY_ARRAY_CARRAY | NPY_ARRAY_ENSURECOPY)));
    Ref T(check(PyFloat_FromDouble(bm.T[static_cast<std::size_t>(i)])));
    Ref Pv(check(PyFloat_FromDouble(P)));
    Ref state(check(PyTuple_Pack(3, T.get(), Pv.get(), copy.get())));
    if (PyObject_SetAttrString(gas.get(), "TPX", state.get()) < 0) throw_pending();
    bm.mean_MW.push_back(attr_double(gas.get(), "mean_molecular_weight"));
    bm.X.push_back(std::move(copy));
  }
  return s;
}

// The result into the solver's current-level arrays (and the new-level ones,
// which equal them after a pseudo-time solve too).
void write_solution(PyObject* solver, const Setup& s) {
  const long n = static_cast<long>(s.N.size());
  for (int k = 0; k < kSteadyVars; ++k) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = s.N[static_cast<std::size_t>(i)][k];
    const std::string name = kVarNames[k];
    if (s.arrays) {
      npy_intp dims[1] = {n};
      Ref a(check(PyArray_SimpleNew(1, dims, NPY_DOUBLE)));
      std::copy(v.begin(), v.end(), static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get()))));
      if (PyObject_SetAttrString(solver, (name + "_n").c_str(), a.get()) < 0 ||
          PyObject_SetAttrString(solver, (name + "_n1").c_str(), a.get()) < 0)
        throw_pending();
    } else {
      for (const char* level : {"_n", "_n1"}) {
        Ref list(check(new_list(v)));
        if (PyObject_SetAttrString(solver, (name + level).c_str(), list.get()) < 0) throw_pending();
      }
    }
  }
}

// ---- the report ------------------------------------------------------------------------

PyTypeObject* g_report_type = nullptr;

PyStructSequence_Field g_report_fields[] = {
    {"converged", "True when the scaled residual is below rtol"},
    {"iterations", "Newton iterations (on the steady equations and inside pseudo-time steps)"},
    {"residual", "final scaled residual: max over points and variables of |R| divided by the "
                 "largest term of that variable's equations"},
    {"seconds", "wall-clock time of the call, s"},
    {"evaluations", "soot-model point evaluations"},
    {"rejected", "pseudo-time steps that failed and were retried with a smaller step"},
    {"message", "one line saying how the call ended"},
    {"time_steps", "pseudo-time steps taken"},
    {"jacobians", "Jacobian evaluations (pseudo_time_steps: one transport matrix per step)"},
    {"stop", "why the call ended early: a budget used, a stall, or (pseudo_time_steps) a step "
             "that fails; '' when converged or when every step asked for was made"},
    {nullptr, nullptr}};

constexpr int kReportFields = 10;

PyStructSequence_Desc g_report_desc = {
    "fumivex2._fumivex2.SteadyReport",
    "How a steady soot solve or a run of pseudo-time steps ended: converged, iterations, "
    "residual, seconds, evaluations, rejected, message, time_steps, jacobians, stop.",
    g_report_fields, kReportFields};

PyObject* make_report(const SteadyReport& r, double seconds, const char* text) {
  Ref out(check(PyStructSequence_New(g_report_type)));
  PyObject* items[kReportFields] = {
      PyBool_FromLong(r.converged),        PyLong_FromLong(r.iterations),
      PyFloat_FromDouble(r.residual),      PyFloat_FromDouble(seconds),
      PyLong_FromLong(r.evaluations),      PyLong_FromLong(r.rejected),
      PyUnicode_FromString(text),          PyLong_FromLong(r.time_steps),
      PyLong_FromLong(r.jacobians),        PyUnicode_FromString(r.converged ? "" : r.stop.c_str())};
  bool ok = true;
  for (int j = 0; j < kReportFields; ++j) {
    if (!items[j]) ok = false;
    PyStructSequence_SET_ITEM(out.get(), j, items[j]);  // steals, null included
  }
  if (!ok) throw_pending();
  return out.release();
}

std::string solve_message(const SteadyReport& r, double rtol) {
  char steps[120];
  if (r.linear_steps > 0)
    std::snprintf(steps, sizeof steps, "%d pseudo-time steps (%d of them linearly implicit, %d "
                  "rejected)", r.time_steps, r.linear_steps, r.rejected);
  else
    std::snprintf(steps, sizeof steps, "%d pseudo-time steps (%d rejected)", r.time_steps,
                  r.rejected);
  char text[480];
  if (r.converged)
    std::snprintf(text, sizeof text,
                  "converged: scaled residual %.3g < %.3g after %d Newton iterations, %s, %d "
                  "Jacobians",
                  r.residual, rtol, r.iterations, steps, r.jacobians);
  else
    std::snprintf(text, sizeof text,
                  "not converged (%s): scaled residual %.3g (tolerance %.3g) after %d Newton "
                  "iterations, %s, %d Jacobians; largest in %s at grid point %ld",
                  r.stop.empty() ? "stopped" : r.stop.c_str(), r.residual, rtol, r.iterations,
                  steps, r.jacobians, kVarNames[r.worst_variable], r.worst_point);
  return text;
}

std::string steps_message(const SteadyReport& r, int steps, double dt, double rtol) {
  char text[400];
  if (r.converged)
    std::snprintf(text, sizeof text,
                  "converged: scaled residual %.3g < %.3g after %d pseudo-time steps of %.3g s",
                  r.residual, rtol, r.time_steps, dt);
  else if (!r.stop.empty())
    std::snprintf(text, sizeof text,
                  "stopped before step %d of %d (%s): scaled residual %.3g; largest in %s at "
                  "grid point %ld",
                  r.time_steps + 1, steps, r.stop.c_str(), r.residual,
                  kVarNames[r.worst_variable], r.worst_point);
  else
    std::snprintf(text, sizeof text,
                  "%d pseudo-time steps of %.3g s: scaled residual %.3g (tolerance %.3g); "
                  "largest in %s at grid point %ld",
                  r.time_steps, dt, r.residual, rtol, kVarNames[r.worst_variable],
                  r.worst_point);
  return text;
}

// ---- the module functions ------------------------------------------------------------------

// rtol: a number strictly between 0 and 1 (the scaled residual never exceeds a few
// units, so a larger tolerance would pass any state).
bool read_rtol(const char* function, PyObject* value, double* rtol) {
  if (!to_double(value, rtol)) return false;
  if (!(*rtol > 0.0 && *rtol < 1.0)) {
    PyErr_Format(PyExc_ValueError, "%s(): rtol must be above 0 and below 1, got %R", function,
                 value);
    return false;
  }
  return true;
}

bool read_count(const char* function, const char* name, PyObject* value, int* out) {
  if (!to_int(value, out)) return false;
  if (*out < 0) {
    PyErr_Format(PyExc_ValueError, "%s(): %s must be 0 or more, got %d", function, name, *out);
    return false;
  }
  return true;
}

template <class F>
PyObject* with_solver(PyObject* solver, F&& run) {
  Ref held = Ref::borrow(solver);
  return guarded([&] {
    const auto start = std::chrono::steady_clock::now();
    Setup s = read_solver(solver);
    std::string text;
    SteadyReport r;
    try {
      r = run(s, text);
    } catch (...) {
      // the last accepted state is written back before the error propagates; an
      // error while writing it must not hide the first one
      PyObject *type, *value, *tb;
      PyErr_Fetch(&type, &value, &tb);
      try {
        write_solution(solver, s);
      } catch (...) {
      }
      PyErr_Clear();
      PyErr_Restore(type, value, tb);
      throw;
    }
    write_solution(solver, s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return make_report(r, seconds, text.c_str());
  });
}

PyObject* py_solve_steady(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs != 1) {
    PyErr_Format(PyExc_TypeError, "solve_steady() takes exactly 1 positional argument (%zd given)",
                 nargs);
    return nullptr;
  }
  fv::flame::SteadyOptions options;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t j = 0; j < nkw; ++j) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, j);
    PyObject* value = args[nargs + j];
    if (PyUnicode_CompareWithASCIIString(key, "rtol") == 0) {
      if (!read_rtol("solve_steady", value, &options.rtol)) return nullptr;
    } else if (PyUnicode_CompareWithASCIIString(key, "max_iterations") == 0) {
      if (!read_count("solve_steady", "max_iterations", value, &options.max_iterations))
        return nullptr;
    } else if (PyUnicode_CompareWithASCIIString(key, "max_time_steps") == 0) {
      if (!read_count("solve_steady", "max_time_steps", value, &options.max_time_steps))
        return nullptr;
    } else {
      PyErr_Format(PyExc_TypeError, "solve_steady() got an unexpected keyword argument '%U'",
                   key);
      return nullptr;
    }
  }
  return with_solver(args[0], [&](Setup& s, std::string& text) {
    if (s.dt > 0.0 && std::isfinite(s.dt)) options.dtau = s.dt;
    const SteadyReport r = fv::flame::solve_steady(s.problem, *s.model, s.N, options);
    text = solve_message(r, options.rtol);
    return r;
  });
}

PyObject* py_pseudo_time_steps(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError,
                 "pseudo_time_steps() takes exactly 2 positional arguments (%zd given)", nargs);
    return nullptr;
  }
  int steps = 0;
  if (!read_count("pseudo_time_steps", "steps", args[1], &steps)) return nullptr;
  double rtol = 1e-10;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t j = 0; j < nkw; ++j) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, j);
    if (PyUnicode_CompareWithASCIIString(key, "rtol") == 0) {
      if (!read_rtol("pseudo_time_steps", args[nargs + j], &rtol)) return nullptr;
    } else {
      PyErr_Format(PyExc_TypeError,
                   "pseudo_time_steps() got an unexpected keyword argument '%U'", key);
      return nullptr;
    }
  }
  return with_solver(args[0], [&](Setup& s, std::string& text) {
    const SteadyReport r = fv::flame::step_steady(s.problem, *s.model, s.N, s.dt, steps, rtol);
    text = steps_message(r, steps, s.dt, rtol);
    return r;
  });
}

PyObject* py_steady_residual(PyObject*, PyObject* solver) {
  Ref held = Ref::borrow(solver);
  return guarded([&] {
    Setup s = read_solver(solver);
    const SteadyReport r = fv::flame::steady_residual(s.problem, *s.model, s.N);
    return PyFloat_FromDouble(r.residual);
  });
}

}  // namespace

PyMethodDef g_solve_steady = method_fast<py_solve_steady>("solve_steady",
    "solve_steady(solver, *, rtol=1e-10, max_iterations=200, max_time_steps=10000)\n--\n\n"
    "Steady soot profiles of a flame solver (CFlameSolver or CFlameSolverOpt) whose solve()\n"
    "has read the flame: the steady soot equations (the solver's interior rows without their\n"
    "time term; inflow rows that balance the soot flux into the domain against the flux the\n"
    "entering gas carries), solved by damped Newton from its current-level arrays, with\n"
    "implicit pseudo-time steps (starting at the solver's dt) where Newton stalls. The\n"
    "result is written into N_agg_n ... H_tot_n (and the _n1 arrays), also when the solve\n"
    "does not converge or the soot model raises. 0 < rtol < 1; max_iterations bounds the\n"
    "Newton iterations, max_time_steps the pseudo-time steps. Returns a SteadyReport; its\n"
    "residual is the largest |R| of any point divided by the largest term of that\n"
    "variable's equations.");

PyMethodDef g_pseudo_time_steps = method_fast<py_pseudo_time_steps>("pseudo_time_steps",
    "pseudo_time_steps(solver, steps, *, rtol=1e-10)\n--\n\n"
    "Up to `steps` implicit pseudo-time steps of the solver's dt on the steady soot equations\n"
    "of solve_steady (convection and diffusion implicit, the soot model's diffusivity and\n"
    "sources at the old level, as in the solver's own solve()), from its current-level\n"
    "arrays, stopping once the scaled residual is below rtol, or before a step whose result\n"
    "is not finite (the report's stop says so). The state after the steps made is written\n"
    "into N_agg_n ... H_tot_n (and _n1), also when the soot model raises. Returns a\n"
    "SteadyReport.");

PyMethodDef g_steady_residual = method_o<py_steady_residual>("steady_residual",
    "steady_residual(solver)\n--\n\n"
    "Scaled residual of the steady soot equations at the solver's current-level arrays (the\n"
    "measure solve_steady converges on); the arrays are not changed.");

int ready_steady_report(PyObject* module) {
  if (!g_report_type) {
    g_report_type = PyStructSequence_NewType(&g_report_desc);
    if (!g_report_type) return -1;
  }
  return PyModule_AddObjectRef(module, "SteadyReport", reinterpret_cast<PyObject*>(g_report_type));
}

}  // namespace fv::py
