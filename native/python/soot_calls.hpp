// How a driver (reactor, flame solvers) calls its soot model. An exact
// CSootModel cannot have its attributes replaced from Python (no instance
// dictionary, immutable type), so its methods are called straight in the C++
// core; any other object is called through Python attribute lookup at each
// use. Both routes convert arguments and results the same way and raise the
// same errors. Every call throws fv::Error / PythonErrorPending on failure.
#pragma once

#include "bind/ref.hpp"

namespace fv::soot {
class SootModel;
}

namespace fv::py {

enum class SootSource : int { N_agg = 0, N_pri, C_tot, H_tot };

class SootCalls {
 public:
  // `model` is borrowed; the caller keeps it alive while the calls run.
  explicit SootCalls(PyObject* model);

  bool direct() const { return core_ != nullptr; }
  PyObject* model() const { return model_; }

  // update_gas(T, P, density, viscosity, mean_MW, X) with Python values
  // (converted to double on entry) or with doubles.
  void update_gas(PyObject* const args[6]);
  // update_gas with the phase's T, P, density, viscosity, mean_molecular_weight
  // and X, read in that order; returns float(density), kg/m^3. With a
  // viscosity object from fumivex2.viscosity (not None), the phase's
  // viscosity is not read: T, P, density, mean_molecular_weight and X are, in
  // that order, and the viscosity is viscosity(T, X) (call_mixture_viscosity).
  double update_gas_from(PyObject* phase, PyObject* viscosity = nullptr);
  void update_gas(double T, double P, double density, double viscosity, double mean_MW,
                  PyObject* X);
  // update_gas with the phase's T, P and density (read in that order) and the
  // given mole fractions X (float64 array) and mean molar mass, the viscosity
  // as in update_gas_from. Returns the density, kg/m^3.
  double update_gas_with(PyObject* phase, PyObject* viscosity, PyObject* X, double mean_MW);
  // update_solution(solution) with an array object, or with a new 4-element
  // float array [N_agg, N_pri, C_tot, H_tot].
  void update_solution(PyObject* solution);
  void update_solution(const double values[4]);
  void update_scrub_wdot();
  double diffus_coeff();         // float(model.diffus_coeff())
  double source(SootSource s);   // float(model.S_N_agg()) ...
  // The four source terms into out[0..3] when the model is called in C++ (in
  // one call; `done` counts the finished ones, also when it throws); false,
  // with nothing called, for a model called through Python, whose four
  // methods the caller calls one by one with source().
  bool sources(double out[4], int& done);
  double volume_fraction();      // float(model.volume_fraction())
  double d_m();                  // float(model.d_m())
  // model.scrub_wdot (a new reference): the field itself for an exact
  // CSootModel, else through getattr
  PyObject* scrub_wdot();
  // the steady-state switches of the physical dimer and of PAH adsorption
  bool steady_state_dimerization();
  bool steady_state_adsorption();
  // getattr(model, name) (a new reference); name is a string literal
  PyObject* attr(const char* name);
  double attr_double(const char* name);
  bool attr_bool(const char* name);

 private:
  PyObject* call0(PyObject* name);
  double call0_double(PyObject* name);

  PyObject* model_;
  fv::soot::SootModel* core_;  // exact CSootModel, else null
};

}  // namespace fv::py
