#include "soot_calls.hpp"

#include <utility>
#include <vector>

#include "bind/args.hpp"
#include "bind/attrs.hpp"
#include "bind/errors.hpp"
#include "bind/numpy.hpp"
#include "soot/soot_model.hpp"
#include "types.hpp"

namespace fv::py {

namespace {

struct Names {
  PyObject* update_gas = interned("update_gas");
  PyObject* update_solution = interned("update_solution");
  PyObject* update_scrub_wdot = interned("update_scrub_wdot");
  PyObject* diffus_coeff = interned("diffus_coeff");
  PyObject* volume_fraction = interned("volume_fraction");
  PyObject* d_m = interned("d_m");
  PyObject* sources[4] = {interned("S_N_agg"), interned("S_N_pri"), interned("S_C_tot"),
                          interned("S_H_tot")};
};

const Names& names() {
  static const Names n;  // first use is under the interpreter lock
  return n;
}

// float(result) of a call, the result's reference taken over
double owned_float(PyObject* owned) {
  Ref r(owned);
  return float_value(r.get());
}

}  // namespace

SootCalls::SootCalls(PyObject* model) : model_(model), core_(exact_soot_core(model)) {}

PyObject* SootCalls::call0(PyObject* name) {
  PyObject* stack[1] = {model_};
  return check(PyObject_VectorcallMethod(name, stack, 1, nullptr));
}

double SootCalls::call0_double(PyObject* name) { return owned_float(call0(name)); }

double SootCalls::update_gas_from(PyObject* phase, PyObject* viscosity) {
  if (viscosity && viscosity != Py_None) {
    static PyObject* const mean_MW = interned("mean_molecular_weight");
    static PyObject* const X = interned("X");
    Ref x = get(phase, X);
    return update_gas_with(phase, viscosity, x.get(), get_float(phase, mean_MW));
  }
  static PyObject* const attrs[6] = {interned("T"),         interned("P"),
                                     interned("density"),   interned("viscosity"),
                                     interned("mean_molecular_weight"), interned("X")};
  Ref a[6];
  for (int i = 0; i < 6; ++i) a[i] = get(phase, attrs[i]);
  PyObject* const args[6] = {a[0].get(), a[1].get(), a[2].get(), a[3].get(), a[4].get(),
                             a[5].get()};
  update_gas(args);
  return float_value(a[2].get());
}

double SootCalls::update_gas_with(PyObject* phase, PyObject* viscosity, PyObject* X,
                                  double mean_MW) {
  static PyObject* const attrs[3] = {interned("T"), interned("P"), interned("density")};
  static PyObject* const own_viscosity = interned("viscosity");
  Ref a[3];
  double v[3];  // T, P, density
  for (int i = 0; i < 3; ++i) {
    a[i] = get(phase, attrs[i]);
    if (!to_double(a[i].get(), &v[i])) throw_pending();
  }
  const double mu = viscosity && viscosity != Py_None
                        ? call_mixture_viscosity(viscosity, a[0].get(), X)
                        : get_float(phase, own_viscosity);
  update_gas(v[0], v[1], v[2], mu, mean_MW, X);
  return v[2];
}

void SootCalls::update_gas(PyObject* const args[6]) {
  if (core_) {
    double v[5];
    for (int i = 0; i < 5; ++i)
      if (!to_double(args[i], &v[i])) throw_pending();
    if (!check_array_arg(args[5], "X")) throw_pending();
    soot_store_gas(model_, v, args[5]);
    return;
  }
  PyObject* stack[7] = {model_, args[0], args[1], args[2], args[3], args[4], args[5]};
  Ref r(check(PyObject_VectorcallMethod(names().update_gas, stack, 7, nullptr)));
}

void SootCalls::update_gas(double T, double P, double density, double viscosity,
                           double mean_MW, PyObject* X) {
  if (core_) {
    if (!check_array_arg(X, "X")) throw_pending();
    const double v[5] = {T, P, density, viscosity, mean_MW};
    soot_store_gas(model_, v, X);
    return;
  }
  Ref a[5] = {Ref(check(PyFloat_FromDouble(T))), Ref(check(PyFloat_FromDouble(P))),
              Ref(check(PyFloat_FromDouble(density))), Ref(check(PyFloat_FromDouble(viscosity))),
              Ref(check(PyFloat_FromDouble(mean_MW)))};
  PyObject* const args[6] = {a[0].get(), a[1].get(), a[2].get(), a[3].get(), a[4].get(), X};
  update_gas(args);
}

void SootCalls::update_solution(PyObject* solution) {
  if (core_) {
    if (!check_array_arg(solution, "solution")) throw_pending();
    soot_load_solution(model_, solution);
    return;
  }
  PyObject* stack[2] = {model_, solution};
  Ref r(check(PyObject_VectorcallMethod(names().update_solution, stack, 2, nullptr)));
}

void SootCalls::update_solution(const double values[4]) {
  if (core_) {
    soot_load_solution(model_, values);
    return;
  }
  npy_intp dims[1] = {4};
  Ref a(check(PyArray_SimpleNew(1, dims, NPY_DOUBLE)));
  auto* data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get())));
  for (int k = 0; k < 4; ++k) data[k] = values[k];
  update_solution(a.get());
}

void SootCalls::update_scrub_wdot() {
  if (core_) return core_->update_scrub_wdot();
  Ref r(call0(names().update_scrub_wdot));
}

double SootCalls::diffus_coeff() {
  if (core_) return core_->slot_d(fv::soot::SlotId::diffus_coeff);
  return call0_double(names().diffus_coeff);
}

double SootCalls::source(SootSource s) {
  if (core_) {
    switch (s) {
      case SootSource::N_agg: return core_->S_N_agg();
      case SootSource::N_pri: return core_->S_N_pri();
      case SootSource::C_tot: return core_->S_C_tot();
      case SootSource::H_tot: return core_->S_H_tot();
    }
  }
  return call0_double(names().sources[static_cast<int>(s)]);
}

bool SootCalls::sources(double out[4], int& done) {
  done = 0;
  if (!core_) return false;
  core_->source_terms(out, done);
  return true;
}

double SootCalls::volume_fraction() {
  if (core_) return core_->volume_fraction();
  return call0_double(names().volume_fraction);
}

double SootCalls::d_m() {
  if (core_) return core_->d_m();
  return call0_double(names().d_m);
}

PyObject* SootCalls::attr(const char* name) {
  return check(PyObject_GetAttr(model_, literal_name(name)));
}

double SootCalls::attr_double(const char* name) { return owned_float(attr(name)); }

PyObject* SootCalls::scrub_wdot() {
  if (core_) {
    PyObject* a = soot_scrub_wdot(model_);
    return Py_NewRef(a ? a : Py_None);
  }
  return attr("scrub_wdot");
}

bool SootCalls::steady_state_dimerization() {
  return core_ ? core_->steady_state_physical_dimerization
               : attr_bool("steady_state_physical_dimerization");
}

bool SootCalls::steady_state_adsorption() {
  return core_ ? core_->steady_state_PAH_adsorption : attr_bool("steady_state_PAH_adsorption");
}

bool SootCalls::attr_bool(const char* name) {
  Ref v(attr(name));
  const int t = PyObject_IsTrue(v.get());
  if (t < 0) throw_pending();
  return t != 0;
}

}  // namespace fv::py
