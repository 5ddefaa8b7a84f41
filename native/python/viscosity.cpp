// _MixtureViscosity: the Python type around fv::gas::MixtureViscosity, built
// from the species data that fumivex2.viscosity reads from a Cantera phase.
//
//   _MixtureViscosity(molar_masses, coefficients, log_fits)
//       molar_masses  K numbers, kg/kmol
//       coefficients  K sequences of 1 to 5 fit coefficients a_k0 .. a_kn
//       log_fits      K truth values: True for mu_k = exp(sum a_kn (ln T)^n),
//                     False for sqrt(mu_k) = T^(1/4) sum a_kn (ln T)^n
//   mu(T, X)                      mixture viscosity, Pa s, at T (K) and the
//                                 K mole fractions X
//   mu.species_viscosities(T)     the K pure-species viscosities, Pa s
//
// Drivers in C++ call call_mixture_viscosity (types.hpp) with the T and X
// they already read from their phase.
#include <memory>
#include <string>
#include <vector>

#include "bind/args.hpp"
#include "bind/attrs.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/fields.hpp"
#include "bind/items.hpp"
#include "bind/numpy.hpp"
#include "common/errors.hpp"
#include "gas/viscosity.hpp"
#include "types.hpp"

namespace fv::py {

using fv::gas::MixtureViscosity;
using fv::gas::ViscosityFit;

struct MixtureViscosityObject {
  PyObject_HEAD
  MixtureViscosity* core;  // null until __init__ succeeds
};

PyTypeObject MixtureViscosityType = {PyVarObject_HEAD_INIT(nullptr, 0)};

namespace {

[[noreturn]] void value_error(const std::string& message) {
  throw Error(ErrorKind::Value, message);
}

MixtureViscosity& core(PyObject* self) {
  MixtureViscosity* c = reinterpret_cast<MixtureViscosityObject*>(self)->core;
  if (!c) value_error("this _MixtureViscosity has not been initialised");
  return *c;
}

// One sequence argument as a list of its items.
Ref items_of(PyObject* o, const char* what) {
  Ref seq(PySequence_Fast(o, what));
  if (!seq) throw_pending();
  return seq;
}

int mixture_init(PyObject* self, PyObject* args, PyObject* kwds) {
  static PyObject* const names[3] = {interned("molar_masses"),
                                     interned("coefficients"), interned("log_fits")};
  PyObject* a[3];
  if (!parse_tuple_args("_MixtureViscosity", names, 3, args, kwds, a)) return -1;
  const std::vector<double> W = float64_vector(a[0]);
  Ref rows = items_of(a[1], "coefficients must be a sequence of sequences of numbers");
  std::vector<std::vector<double>> coefficients;
  for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(rows.get()); ++k)
    coefficients.push_back(float64_vector(PySequence_Fast_GET_ITEM(rows.get(), k)));
  Ref flags = items_of(a[2], "log_fits must be a sequence of truth values");
  std::vector<ViscosityFit> fits;
  for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(flags.get()); ++k) {
    bool log_fit;
    if (!to_bool(PySequence_Fast_GET_ITEM(flags.get(), k), &log_fit)) throw_pending();
    fits.push_back(log_fit ? ViscosityFit::log : ViscosityFit::sqrt_T14);
  }
  auto built = std::make_unique<MixtureViscosity>(W, coefficients, fits);
  auto* obj = reinterpret_cast<MixtureViscosityObject*>(self);
  delete obj->core;
  obj->core = built.release();
  return 0;
}

void mixture_dealloc(PyObject* self) {
  auto* obj = reinterpret_cast<MixtureViscosityObject*>(self);
  delete obj->core;
  obj->core = nullptr;
  Py_TYPE(self)->tp_free(self);
}

PyObject* mixture_call(PyObject* self, PyObject* args, PyObject* kwds) {
  static PyObject* const names[2] = {interned("T"), interned("X")};
  PyObject* a[2];
  if (!parse_tuple_args("__call__", names, 2, args, kwds, a)) return nullptr;
  return PyFloat_FromDouble(mixture_viscosity_at(core(self), a[0], a[1]));
}

PyObject* species_viscosities(PyObject* self, PyObject* T_obj) {
  MixtureViscosity& mu = core(self);
  const double T = as_double(T_obj);
  const npy_intp n = static_cast<npy_intp>(mu.n_species());
  Ref out(check(PyArray_SimpleNew(1, &n, NPY_DOUBLE)));
  mu.species_viscosities(
      T, static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get()))));
  return out.release();
}

PyObject* get_n_species(PyObject* self, void*) {
  return PyLong_FromSize_t(core(self).n_species());
}

// (calls answered from a base state's sums, calls evaluated in full)
PyObject* get_calls(PyObject* self, void*) {
  const MixtureViscosity& mu = core(self);
  return check(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(mu.near_calls()),
                             static_cast<Py_ssize_t>(mu.full_calls())));
}

// (type(self), (molar_masses, coefficients, log_fits)): the object is rebuilt
// from its inputs.
PyObject* mixture_reduce(PyObject* self, PyObject*) {
  const MixtureViscosity& mu = core(self);
  Ref W(check(new_list(mu.molar_masses())));
  Ref coefficients(check(PyList_New(0)));
  for (const std::vector<double>& a : mu.coefficients()) {
    Ref row(check(new_list(a)));
    if (PyList_Append(coefficients.get(), row.get()) < 0) throw_pending();
  }
  Ref fits(check(PyList_New(0)));
  for (ViscosityFit f : mu.fits())
    if (PyList_Append(fits.get(), f == ViscosityFit::log ? Py_True : Py_False) < 0)
      throw_pending();
  return check(Py_BuildValue("(O(OOO))", Py_TYPE(self), W.get(), coefficients.get(), fits.get()));
}

PyMethodDef g_methods[] = {
    method_o<species_viscosities>("species_viscosities",
        "species_viscosities(T)\n--\n\nPure-species viscosities, Pa s, at T (K)."),
    method_noargs<mixture_reduce>("__reduce__", nullptr),
    method_end(),
};

PyGetSetDef g_getset[] = {
    property<get_n_species>("n_species"),
    property<get_calls>("calls"),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

double mixture_viscosity_at(MixtureViscosity& mu, PyObject* T_obj, PyObject* X) {
  const double T = as_double(T_obj);
  const std::size_t K = mu.n_species();
  PyArrayObject* x = plain_vector(X);
  std::vector<double> copy;
  const double* data = nullptr;
  std::size_t n = 0;
  if (x && PyArray_STRIDE(x, 0) == static_cast<npy_intp>(sizeof(double))) {
    data = static_cast<const double*>(PyArray_DATA(x));
    n = static_cast<std::size_t>(PyArray_DIM(x, 0));
  } else {
    copy = float64_vector(X);
    data = copy.data();
    n = copy.size();
  }
  if (n != K)
    value_error("mixture viscosity: X has " + std::to_string(n) + " mole fractions for " +
                std::to_string(K) + " species");
  return mu(T, data);
}

MixtureViscosity* exact_mixture_viscosity(PyObject* o) {
  if (!Py_IS_TYPE(o, &MixtureViscosityType)) return nullptr;
  return reinterpret_cast<MixtureViscosityObject*>(o)->core;
}

double call_mixture_viscosity(PyObject* viscosity, PyObject* T, PyObject* X) {
  if (Py_IS_TYPE(viscosity, &MixtureViscosityType))
    return mixture_viscosity_at(core(viscosity), T, X);
  PyObject* stack[2] = {T, X};
  Ref result(check(PyObject_Vectorcall(viscosity, stack, 2, nullptr)));
  return float_value(result.get());
}

int ready_mixture_viscosity(PyObject* module) {
  const TypeSlots slots = type_slots<PyType_GenericNew, mixture_init, mixture_dealloc, nullptr,
                                     nullptr, mixture_call>(
      "fumivex2._fumivex2._MixtureViscosity",
      "_MixtureViscosity(molar_masses, coefficients, log_fits)\n\n"
      "Mixture viscosity by Wilke's rule from pure-species fits in ln T (molar masses in\n"
      "kg/kmol; per species 1 to 5 coefficients and whether the fit is of ln mu rather\n"
      "than of sqrt(mu) / T^(1/4)). Called as mu(T, X): Pa s at T (K) and mole fractions X.",
      sizeof(MixtureViscosityObject), g_methods, g_getset);
  if (ready_type(&MixtureViscosityType, slots) < 0) return -1;
  return PyModule_AddObjectRef(module, "_MixtureViscosity",
                               reinterpret_cast<PyObject*>(&MixtureViscosityType));
}

}  // namespace fv::py
