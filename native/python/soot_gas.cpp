// CSootGas: the Python type around fv::gas::SootGas, a plain gas-state record.
#include <new>

#include "bind/args.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/fields.hpp"
#include "gas/soot_gas.hpp"
#include "types.hpp"

namespace fv::py {

using fv::gas::SootGas;

struct SootGasObject {
  PyObject_HEAD
  SootGas core;
};

PyTypeObject SootGasType = {PyVarObject_HEAD_INIT(nullptr, 0)};

template <>
SootGas& core_of<SootGas>(PyObject* self) {
  return reinterpret_cast<SootGasObject*>(self)->core;
}

namespace {

inline SootGas& gas(PyObject* self) { return core_of<SootGas>(self); }

PyObject* lambda_gas(PyObject* self, PyObject*) {
  return guarded([&] { return PyFloat_FromDouble(gas(self).lambda_gas()); });
}

// lambda_gas property: _lambda_gas() looked up on the object
PyObject* get_lambda_gas(PyObject* self, void*) {
  if (Py_IS_TYPE(self, &SootGasType)) return lambda_gas(self, nullptr);
  return PyObject_CallMethod(self, "_lambda_gas", nullptr);
}

template <double (SootGas::*F)(long) const>
PyObject* indexed(PyObject* self, PyObject* arg) {
  int i;
  if (!to_int(arg, &i)) return nullptr;
  return guarded([&] { return PyFloat_FromDouble((gas(self).*F)(i)); });
}

template <double SootGas::*M>
PyObject* update_one(PyObject* self, PyObject* arg) {
  double v;
  if (!to_double(arg, &v)) return nullptr;
  gas(self).*M = v;
  Py_RETURN_NONE;
}

PyObject* update_MWs(PyObject* self, PyObject* arg) {
  if (!to_double_vector(arg, &gas(self).MWs)) return nullptr;
  Py_RETURN_NONE;
}

// update(T, P, X, rho, mu, mean_MW) and update_TPX(T, P, X): every argument is
// converted before anything is stored.
template <int N>
PyObject* update_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  static PyObject* names[6] = {PyUnicode_InternFromString("T"), PyUnicode_InternFromString("P"),
                               PyUnicode_InternFromString("X"), PyUnicode_InternFromString("rho"),
                               PyUnicode_InternFromString("mu"),
                               PyUnicode_InternFromString("mean_MW")};
  PyObject* a[6];
  if (!parse_args(N == 6 ? "update" : "update_TPX", names, N, args, nargs, kwnames, a))
    return nullptr;
  double v[6];
  std::vector<double> X;
  for (int i = 0; i < N; ++i) {
    if (i == 2 ? !to_double_vector(a[i], &X) : !to_double(a[i], &v[i])) return nullptr;
  }
  SootGas& g = gas(self);
  g.T = v[0];
  g.P = v[1];
  g.X.swap(X);
  if (N == 6) {
    g.rho = v[3];
    g.mu = v[4];
    g.mean_MW = v[5];
  }
  Py_RETURN_NONE;
}

PyObject* get_MWs(PyObject* self, void*) { return new_list(gas(self).MWs); }
PyObject* get_n_species(PyObject* self, void*) {
  return PyLong_FromSize_t(gas(self).MWs.size());
}

const Field g_fields[] = {
    field<get_vector<&SootGas::MWs>, set_vector<&SootGas::MWs>>("_MWs",
        Access::RW, FieldKind::Vector),
    field<get_number<&SootGas::P>, set_number<&SootGas::P>>("_P", Access::RW, FieldKind::Number),
    field<get_number<&SootGas::T>, set_number<&SootGas::T>>("_T", Access::RW, FieldKind::Number),
    field<get_vector<&SootGas::X>, set_vector<&SootGas::X>>("_X", Access::RW, FieldKind::Vector),
    field<get_number<&SootGas::mean_MW>, set_number<&SootGas::mean_MW>>("_mean_MW",
        Access::RO, FieldKind::Number),
    field<get_number<&SootGas::mu>, set_number<&SootGas::mu>>("_mu", Access::RW, FieldKind::Number),
    field<get_number<&SootGas::rho>, set_number<&SootGas::rho>>("_rho",
        Access::RW, FieldKind::Number),
};
const PickleInfo g_pickle = {"CSootGas", g_fields, 7, {0xdc43364, 0xa9c873e, 0xd6ef8b0},
                             "__pyx_unpickle_CSootGas"};

PyObject* gas_reduce(PyObject* self, PyObject*) { return reduce(self, g_pickle); }
PyObject* gas_setstate(PyObject* self, PyObject* state) { return setstate(self, state, g_pickle); }

PyMethodDef g_methods[] = {
    method_o<indexed<&SootGas::concentration>>("C", "CSootGas.C(self, int index)"),
    method_o<indexed<&SootGas::mole_fraction>>("X", "CSootGas.X(self, int index)"),
    method_o<indexed<&SootGas::mass_fraction>>("Y", "CSootGas.Y(self, int index)"),
    method_o<indexed<&SootGas::molar_mass>>("MW", "CSootGas.MW(self, int index)"),
    method_noargs<lambda_gas>("_lambda_gas", "CSootGas._lambda_gas(self)"),
    method_fast<update_state<6>>("update",
        "CSootGas.update(self, double T, double P, X, double rho, double mu, double mean_MW)"),
    method_fast<update_state<3>>("update_TPX", "CSootGas.update_TPX(self, double T, double P, X)"),
    method_o<update_one<&SootGas::mean_MW>>("update_mean_MW",
        "CSootGas.update_mean_MW(self, double mean_MW)"),
    method_o<update_one<&SootGas::rho>>("update_rho", "CSootGas.update_rho(self, double rho)"),
    method_o<update_one<&SootGas::mu>>("update_mu", "CSootGas.update_mu(self, double mu)"),
    method_o<update_MWs>("update_MWs", "CSootGas.update_MWs(self, MWs)"),
    method_noargs<gas_reduce>("__reduce__", "CSootGas.__reduce__(self)"),
    method_o<gas_setstate>("__setstate__", "CSootGas.__setstate__(self, __pyx_state)"),
    method_noargs<copy_shallow>("__copy__", "CSootGas.__copy__(self)"),
    method_o<copy_deep>("__deepcopy__", "CSootGas.__deepcopy__(self, memo)"),
    method_end()};

PyObject* gas_new(PyTypeObject* type, PyObject*, PyObject*) {
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  new (&reinterpret_cast<SootGasObject*>(self)->core) SootGas();
  return self;
}

int gas_init(PyObject*, PyObject* args, PyObject* kwds) {
  return check_no_init_args(args, kwds) ? 0 : -1;
}

void gas_dealloc(PyObject* self) {
  reinterpret_cast<SootGasObject*>(self)->core.~SootGas();
  Py_TYPE(self)->tp_free(self);
}

}  // namespace

PyMethodDef g_unpickle_soot_gas = method_fast<reconstruct<&SootGasType, &g_pickle>>("__pyx_unpickle_CSootGas",
    "__pyx_unpickle_CSootGas(__pyx_type, long __pyx_checksum, __pyx_state)");

int ready_soot_gas(PyObject* module) {
  const TypeSlots slots = type_slots<gas_new, gas_init, gas_dealloc, nullptr, nullptr>(
      "fumivex2._fumivex2.CSootGas", "CSootGas()", sizeof(SootGasObject), g_methods,
      make_getset(g_fields, 7,
                  {property<get_lambda_gas>("lambda_gas"),
                   property<get_number<&SootGas::T>>("T"),
                   property<get_number<&SootGas::P>>("P"),
                   property<get_number<&SootGas::mean_MW>>("mean_MW"),
                   property<get_number<&SootGas::rho>>("rho"),
                   property<get_number<&SootGas::mu>>("mu"),
                   property<get_MWs>("MWs"),
                   property<get_n_species>("n_species")}));
  if (ready_type(&SootGasType, slots) < 0) return -1;
  return publish_type(module, &SootGasType);
}

}  // namespace fv::py
