// The pseudo-time step shared by both flame soot solvers, written once and
// instantiated per storage policy (NumPy array fields whose arithmetic NumPy
// reports, or plain vectors with checked division).
//
// One step: the left boundary row (point 0), the right boundary row (point m),
// the interior rows 1 .. m-1, then the four tridiagonal solves. Every row
// starts with the point evaluation: the phase set to the point's state, the
// soot model given that gas and the current soot values, and the soot
// diffusivity asked for. Interior rows then take the four source terms.
//
// A storage policy P provides, on the solver's current fields (read afresh at
// each use, since Python code run by any call may replace them):
//   PointObjects& points();           column views and the TPX tuple
//   PyObject* X(); gas(); model();    borrowed current objects
//   double P(); T(i); rho(i); mu(i); now(k, i);
//   Py_ssize_t last_index();                m, read where the step needs it
//   void left_row(D); right_row(m, D, dt); interior_coefficients(i, D, dt);
//   void interior_rhs(i, k, dt, S);   B_k[i] from the source S of variable k
//   void solve_systems(); advance();  the four solves; N_n = N_n1
//   Ref lookup_print(); void prepare_steps();
// and two constants for the order in which the point evaluation reads:
//   kTemperatureFirst: T[i] is read before the column X[:, i] is taken;
//   kMeanMWObject: the phase's mean molecular weight is read right after its
//     state is set and handed to a model called through Python as the object
//     the phase gave (else it is read after the profiles, as a float).
#pragma once

#include "bind/attrs.hpp"
#include "bind/errors.hpp"
#include "flame_point.hpp"
#include "soot_calls.hpp"

namespace fv::py::flame_driver {

// Names every flame solver reads from the phase, the flame and the soot model.
struct Names {
  PyObject* mean_MW = interned("mean_molecular_weight");
  PyObject* species_names = interned("species_names");
  PyObject* grid = interned("grid");
  PyObject* density = interned("density");
  PyObject* T = interned("T");
  PyObject* viscosity = interned("viscosity");
  PyObject* velocity = interned("velocity");
  PyObject* X = interned("X");
  PyObject* step_label = interned("Time Step = ");
  PyObject* floors[4] = {interned("N_agg_min"), interned("N_pri_min"), interned("C_tot_min"),
                         interned("H_tot_min")};
};
inline const Names& names() {
  static const Names n;  // first use is under the interpreter lock
  return n;
}

// Point i: gas.TPX = (T[i], P, X[:, i]); soot_model.update_gas(T[i], P, rho[i],
// mu[i], gas.mean_molecular_weight, X[:, i]); soot_model.update_solution([N_agg[i],
// N_pri[i], C_tot[i], H_tot[i]]); then, when asked for, the soot diffusivity
// soot_model.diffus_coeff(), m^2/s (0 otherwise).
template <class P>
double evaluate_point(P& p, Py_ssize_t i, bool want_D) {
  PointObjects& cache = p.points();
  // One view of column i serves the phase and the soot model (equal values;
  // a new one is made when the phase replaced or reshaped X meanwhile).
  Ref col;
  double T;
  if constexpr (P::kTemperatureFirst) {
    T = p.T(i);
    col = cache.column(p.X(), i);
  } else {
    col = cache.column(p.X(), i);
    T = p.T(i);
  }
  {
    Ref gas = Ref::borrow(p.gas());
    cache.assign_TPX(gas.get(), T, p.P(), col.get());
  }
  if constexpr (P::kMeanMWObject) {
    Ref mean_MW;
    {
      Ref gas = Ref::borrow(p.gas());
      mean_MW = get(gas.get(), names().mean_MW);
    }
    if (!column_current(p.X(), col.get(), i)) col = cache.column(p.X(), i);
    Ref model = Ref::borrow(p.model());
    SootCalls calls(model.get());
    if (calls.direct()) {
      const double mean_MW_value = as_double(mean_MW.get());
      calls.update_gas(p.T(i), p.P(), p.rho(i), p.mu(i), mean_MW_value, col.get());
    } else {
      Ref a[4] = {new_float(p.T(i)), new_float(p.P()), new_float(p.rho(i)), new_float(p.mu(i))};
      PyObject* const args[6] = {a[0].get(), a[1].get(), a[2].get(),
                                 a[3].get(), mean_MW.get(), col.get()};
      calls.update_gas(args);
    }
  } else {
    if (!column_current(p.X(), col.get(), i)) col = cache.column(p.X(), i);
    const double T_i = p.T(i);
    const double P_i = p.P();
    const double rho = p.rho(i);
    const double mu = p.mu(i);
    double mean_MW;
    {
      Ref gas = Ref::borrow(p.gas());
      mean_MW = get_float(gas.get(), names().mean_MW);
    }
    Ref model = Ref::borrow(p.model());
    SootCalls(model.get()).update_gas(T_i, P_i, rho, mu, mean_MW, col.get());
  }
  {
    double values[4];
    for (int k = 0; k < 4; ++k) values[k] = p.now(k, i);
    Ref model = Ref::borrow(p.model());
    SootCalls(model.get()).update_solution(values);
  }
  if (!want_D) return 0.0;
  Ref model = Ref::borrow(p.model());
  return SootCalls(model.get()).diffus_coeff();
}

// The four source terms of `model` into S, mol/(kg s). An exact soot model
// gives them in one call; when one of them fails, `partial(done)` runs for
// the `done` terms computed before it, with the failure's Python error put
// aside, and the failure propagates. Returns false (nothing called) for a
// model called through Python, whose terms the caller asks for one by one.
template <class Partial>
bool batched_sources(PyObject* model, double S[4], Partial&& partial) {
  Ref held = Ref::borrow(model);
  int done = 0;
  try {
    return SootCalls(held.get()).sources(S, done);
  } catch (...) {
    while_unwinding([&] { partial(done); });
    throw;
  }
}

// The right-hand sides of interior row i, each stored as if its source term
// had been asked for just before its row (also when a later term fails).
template <class P>
void source_rows(P& p, Py_ssize_t i, double dt) {
  double S[4];
  const bool batched = batched_sources(p.model(), S, [&](int done) {
    for (int k = 0; k < done; ++k) p.interior_rhs(i, k, dt, S[k]);
  });
  for (int k = 0; k < 4; ++k) {
    if (!batched) {
      Ref model = Ref::borrow(p.model());
      S[k] = SootCalls(model.get()).source(static_cast<SootSource>(k));
    }
    p.interior_rhs(i, k, dt, S[k]);
  }
}

// One pseudo-time step of length dt, s.
template <class P>
void step(P& p, double dt) {
  p.left_row(evaluate_point(p, 0, true));
  const Py_ssize_t m = p.last_index();
  p.right_row(m, evaluate_point(p, m, true), dt);
  const Py_ssize_t last = p.last_index();
  for (Py_ssize_t i = 1; i < last; ++i) {
    p.interior_coefficients(i, evaluate_point(p, i, true), dt);
    source_rows(p, i, dt);
  }
  p.solve_systems();
}

// `steps` pseudo-time steps, each followed by print("Time Step = ", t) and
// the new level becoming the current one.
template <class P>
void run_steps(P& p, double dt, Py_ssize_t steps) {
  if (steps <= 0) return;
  Ref print = p.lookup_print();
  p.prepare_steps();
  for (Py_ssize_t t = 0; t < steps; ++t) {
    step(p, dt);
    Ref t_obj(check(PyLong_FromSsize_t(t)));
    call(print.get(), {names().step_label, t_obj.get()});
    p.advance();
  }
}

// builtins.print, from the builtins module
inline Ref print_from_module() {
  Ref builtins(check(PyImport_ImportModule("builtins")));
  return Ref(check(PyObject_GetAttrString(builtins.get(), "print")));
}

// print from the builtins of the calling frame
inline Ref print_from_frame() {
  PyObject* builtins = PyEval_GetBuiltins();  // borrowed
  static PyObject* const name = interned("print");
  PyObject* fn = builtins ? PyDict_GetItemWithError(builtins, name) : nullptr;
  if (!fn) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "name 'print' is not defined");
    throw_pending();
  }
  return Ref::borrow(fn);
}

}  // namespace fv::py::flame_driver
