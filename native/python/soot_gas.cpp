// CSootGas: the Python type around fv::gas::SootGas, a plain gas-state record.
#include <new>

#include "bind/args.hpp"
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
    {"_MWs", get_vector<&SootGas::MWs>, set_vector<&SootGas::MWs>, Access::RW, FieldKind::Vector},
    {"_P", get_number<&SootGas::P>, set_number<&SootGas::P>, Access::RW, FieldKind::Number},
    {"_T", get_number<&SootGas::T>, set_number<&SootGas::T>, Access::RW, FieldKind::Number},
    {"_X", get_vector<&SootGas::X>, set_vector<&SootGas::X>, Access::RW, FieldKind::Vector},
    {"_mean_MW", get_number<&SootGas::mean_MW>, set_number<&SootGas::mean_MW>, Access::RO,
     FieldKind::Number},
    {"_mu", get_number<&SootGas::mu>, set_number<&SootGas::mu>, Access::RW, FieldKind::Number},
    {"_rho", get_number<&SootGas::rho>, set_number<&SootGas::rho>, Access::RW, FieldKind::Number},
};
const PickleInfo g_pickle = {"CSootGas", g_fields, 7, {0xdc43364, 0xa9c873e, 0xd6ef8b0},
                             "__pyx_unpickle_CSootGas"};

PyObject* gas_reduce(PyObject* self, PyObject*) { return reduce(self, g_pickle); }
PyObject* gas_setstate(PyObject* self, PyObject* state) { return setstate(self, state, g_pickle); }

PyMethodDef g_methods[] = {
    {"C", indexed<&SootGas::concentration>, METH_O, "CSootGas.C(self, int index)"},
    {"X", indexed<&SootGas::mole_fraction>, METH_O, "CSootGas.X(self, int index)"},
    {"Y", indexed<&SootGas::mass_fraction>, METH_O, "CSootGas.Y(self, int index)"},
    {"MW", indexed<&SootGas::molar_mass>, METH_O, "CSootGas.MW(self, int index)"},
    {"_lambda_gas", lambda_gas, METH_NOARGS, "CSootGas._lambda_gas(self)"},
    {"update", (PyCFunction)(void (*)(void))update_state<6>, METH_FASTCALL | METH_KEYWORDS,
     "CSootGas.update(self, double T, double P, X, double rho, double mu, double mean_MW)"},
    {"update_TPX", (PyCFunction)(void (*)(void))update_state<3>, METH_FASTCALL | METH_KEYWORDS,
     "CSootGas.update_TPX(self, double T, double P, X)"},
    {"update_mean_MW", update_one<&SootGas::mean_MW>, METH_O,
     "CSootGas.update_mean_MW(self, double mean_MW)"},
    {"update_rho", update_one<&SootGas::rho>, METH_O, "CSootGas.update_rho(self, double rho)"},
    {"update_mu", update_one<&SootGas::mu>, METH_O, "CSootGas.update_mu(self, double mu)"},
    {"update_MWs", update_MWs, METH_O, "CSootGas.update_MWs(self, MWs)"},
    {"__reduce__", gas_reduce, METH_NOARGS, "CSootGas.__reduce__(self)"},
    {"__setstate__", gas_setstate, METH_O, "CSootGas.__setstate__(self, __pyx_state)"},
    {"__copy__", copy_shallow, METH_NOARGS, "CSootGas.__copy__(self)"},
    {"__deepcopy__", copy_deep, METH_O, "CSootGas.__deepcopy__(self, memo)"},
    {nullptr, nullptr, 0, nullptr}};

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

PyMethodDef g_unpickle_soot_gas = {
    "__pyx_unpickle_CSootGas", (PyCFunction)(void (*)(void))reconstruct<&SootGasType, &g_pickle>,
    METH_FASTCALL | METH_KEYWORDS,
    "__pyx_unpickle_CSootGas(__pyx_type, long __pyx_checksum, __pyx_state)"};

int ready_soot_gas(PyObject* module) {
  const TypeSlots slots = {
      "fumivex2._fumivex2.CSootGas", "CSootGas()", sizeof(SootGasObject), gas_new, gas_init,
      gas_dealloc, nullptr, nullptr, g_methods,
      make_getset(g_fields, 7,
                  {{"lambda_gas", get_lambda_gas, nullptr, nullptr, nullptr},
                   {"T", get_number<&SootGas::T>, nullptr, nullptr, nullptr},
                   {"P", get_number<&SootGas::P>, nullptr, nullptr, nullptr},
                   {"mean_MW", get_number<&SootGas::mean_MW>, nullptr, nullptr, nullptr},
                   {"rho", get_number<&SootGas::rho>, nullptr, nullptr, nullptr},
                   {"mu", get_number<&SootGas::mu>, nullptr, nullptr, nullptr},
                   {"MWs", get_MWs, nullptr, nullptr, nullptr},
                   {"n_species", get_n_species, nullptr, nullptr, nullptr}})};
  if (ready_type(&SootGasType, slots) < 0) return -1;
  return publish_type(module, &SootGasType);
}

}  // namespace fv::py
