// The Python types of the extension and their module-level reconstructors.
#pragma once

#include "bind/ref.hpp"

namespace fv::soot {
class SootModel;
}
namespace fv::gas {
class MixtureViscosity;
}

namespace fv::py {

extern PyTypeObject SootModelType;
extern PyTypeObject SootGasType;
extern PyMethodDef g_unpickle_soot_model;
extern PyMethodDef g_unpickle_soot_gas;
extern PyTypeObject PlugFlowType;
extern PyMethodDef g_unpickle_plug_flow;
extern PyTypeObject FlameSolverType;
extern PyMethodDef g_unpickle_flame_solver;
extern PyMethodDef g_unpickle_flame_solver_vec;
extern PyTypeObject FlameVecType;
// solve_steady, pseudo_time_steps and steady_residual (steady_solve.cpp) and their report type
extern PyMethodDef g_solve_steady;
extern PyMethodDef g_pseudo_time_steps;
extern PyMethodDef g_steady_residual;
extern PyMethodDef g_network_load;
extern PyMethodDef g_network_soot_rows;
extern PyMethodDef g_network_eval;
int ready_steady_report(PyObject* module);
// _MixtureViscosity (viscosity.cpp)
extern PyTypeObject MixtureViscosityType;
int ready_mixture_viscosity(PyObject* module);
// The mixture viscosity, Pa s, at T (a Python number, K) and the mole
// fractions X (a float64 array read in place, or any sequence of numbers).
double mixture_viscosity_at(fv::gas::MixtureViscosity& mu, PyObject* T, PyObject* X);
// viscosity(T, X) for a driver that holds a viscosity object from
// fumivex2.viscosity: an exact _MixtureViscosity runs in C++, any other
// callable is called through Python; float result, Pa s.
double call_mixture_viscosity(PyObject* viscosity, PyObject* T, PyObject* X);
// The core of an exact, initialised _MixtureViscosity, else null (the caller
// keeps `o` alive while it uses the core).
fv::gas::MixtureViscosity* exact_mixture_viscosity(PyObject* o);
// _solve_coupled_flame, _coupled_flame_residual and _solve_soot_on_gas (coupled_flame.cpp)
extern PyMethodDef g_solve_coupled_flame;
extern PyMethodDef g_coupled_flame_residual;
extern PyMethodDef g_coupled_flame_jacobian;
extern PyMethodDef g_solve_soot_on_gas;

// PyType_Ready and publish in the module; -1 with an exception on failure.
int ready_soot_model(PyObject* module);
int ready_soot_gas(PyObject* module);
int ready_plug_flow(PyObject* module);
int ready_flame_solver(PyObject* module);
int ready_flame_solver_vec(PyObject* module);

// Direct access to an exact CSootModel for the drivers (soot_calls.cpp).
// The core of `o` when it is an exact CSootModel, else null.
fv::soot::SootModel* exact_soot_core(PyObject* o);
// update_gas after argument conversion: X (an array or None) is stored, then
// the gas state (T K, P Pa, density kg/m3, viscosity Pa s, mean_MW kg/kmol).
void soot_store_gas(PyObject* self, const double v[5], PyObject* X);
// The mole fractions and scrubbing rates the model holds (its X and
// scrub_wdot fields, borrowed; may be null).
PyObject* soot_gas_X(PyObject* self);
PyObject* soot_scrub_wdot(PyObject* self);
// update_solution on an array object, or on the values of a 4-element array.
void soot_load_solution(PyObject* self, PyObject* solution);
void soot_load_solution(PyObject* self, const double values[4]);

}  // namespace fv::py
