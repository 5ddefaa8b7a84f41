// Soot in Cantera reactor networks: the two calls a soot reactor makes per
// evaluation of the network's right-hand side.
//
//   _network_load(state, y)           copies the reactor's state vector y (any
//                                     buffer of doubles: Cantera hands a view of
//                                     its own array) into `state` (float64 array,
//                                     or the reactor's cell list: its item 0)
//   _network_soot_rows(ctx, LHS, RHS) adds soot's terms to the reactor's
//                                     equations LHS dy/dt = RHS, in place
//   _network_eval(box, t, LHS, RHS)   the same with ctx = box[0] (t unused)
//
// A reactor that does not override its hooks gives Cantera
// functools.partial(_network_load, cell) and partial(_network_eval, box) as
// its update_state and eval hooks, so that an evaluation runs no Python code
// of its own.
//
// ctx is the tuple the reactor builds when its network initialises:
//   (reactor, phase, soot_model, cell, species_offset, T_index, W,
//    constant_volume, soot_reactor_class, H2_index, (W_C, W_H), viscosity,
//    inverse_W)
// with cell the list [state copy (float64 array), offset of the soot
// variables, offset of the species, initialisation pass, phase], W the
// molar masses (kg/kmol, float64 array) and W_C, W_H the phase's atomic
// weights of carbon and hydrogen (kg/mol) and viscosity the phase's mixture
// viscosity object from fumivex2.viscosity, or None to read the phase's own
// viscosity attribute, inverse_W the numbers 1 / W_k (float64 array) to make
// the mole fractions and mean molar mass from the state's mass fractions as
// the phase does, or None to read them from the phase. The reactor's inlets
// and outlets are
// read at each call, so a flow device added after the network initialised
// counts as soon as Cantera's own equations count it; an upstream soot
// reactor's cell is read at each call too.
//
// A flow device carries the reactor's contents, gas and soot (see
// reactor/network.hpp): Cantera's own equations count the whole flow mdot as
// gas, and the rows here take the soot's share sigma / (1 + sigma) back out of
// the gas mass, species and energy equations, for the outflows at this
// reactor's sigma and for the inflows at the upstream soot reactor's.
//
// The phase holds the reactor's state when Cantera calls the hook (its eval
// restores it), so the soot model is given the gas the way the plug-flow
// reactor gives it: T, P, density, viscosity, mean molar mass and mole
// fractions read from the phase, in one place (give_gas), the viscosity
// computed from T and X by the viscosity object when there is one. An exact
// CSootModel runs in C++.
#include <cstring>
#include <string>
#include <vector>

#include "bind/args.hpp"
#include "bind/attrs.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
#include "bind/items.hpp"
#include "bind/numpy.hpp"
#include "common/checked.hpp"
#include "reactor/network.hpp"
#include "soot_calls.hpp"
#include "types.hpp"

namespace fv::py {

namespace {

constexpr int kSoot = 4;

[[noreturn]] void value_error(const std::string& message) {
  throw Error(ErrorKind::Value, message);
}
[[noreturn]] void type_error(const std::string& message) {
  throw Error(ErrorKind::Type, message);
}

// A one-dimensional C-contiguous buffer of doubles, held for the call: an
// exact float64 ndarray is read in place, anything else through the buffer
// protocol.
class Doubles {
 public:
  Doubles(PyObject* o, bool writable, const char* what) {
    if (PyArrayObject* a = plain_vector(o)) {
      if (PyArray_IS_C_CONTIGUOUS(a) && (!writable || PyArray_ISWRITEABLE(a))) {
        array_ = Ref::borrow(o);
        n = static_cast<long>(PyArray_DIM(a, 0));
        data = static_cast<double*>(PyArray_DATA(a));
        return;
      }
    }
    int flags = PyBUF_FORMAT | PyBUF_C_CONTIGUOUS;
    if (writable) flags |= PyBUF_WRITABLE;
    if (PyObject_GetBuffer(o, &view_, flags) < 0) {
      PyErr_Clear();
      type_error(std::string(what) + " must be a contiguous" + (writable ? " writable" : "") +
                 " buffer of float64 values, got " + Py_TYPE(o)->tp_name);
    }
    held_ = true;
    const char* f = view_.format ? view_.format : "B";
    if (*f == '@' || *f == '=' || *f == '<') ++f;
    if (view_.ndim != 1 || view_.itemsize != sizeof(double) || std::strcmp(f, "d") != 0)
      type_error(std::string(what) + " must be a one-dimensional buffer of float64 values");
    n = static_cast<long>(view_.shape ? view_.shape[0] : view_.len / view_.itemsize);
    data = static_cast<double*>(view_.buf);
  }
  ~Doubles() {
    if (held_) PyBuffer_Release(&view_);
  }
  Doubles(const Doubles&) = delete;
  Doubles& operator=(const Doubles&) = delete;

  double* data = nullptr;
  long n = 0;

 private:
  Ref array_;
  Py_buffer view_{};
  bool held_ = false;
};

long index_value(PyObject* o, const char* what) {
  const long v = PyLong_AsLong(o);
  if (v == -1 && PyErr_Occurred()) throw_pending();
  if (v < 0) value_error(std::string(what) + " must not be negative");
  return v;
}

// repr(reactor.name), or of the object itself when it has none
std::string name_of(PyObject* reactor) {
  Ref n(PyObject_GetAttrString(reactor, "name"));
  if (!n) PyErr_Clear();
  Ref r(PyObject_Repr(n ? n.get() : reactor));
  if (!r) {
    PyErr_Clear();
    return "?";
  }
  const char* c = PyUnicode_AsUTF8(r.get());
  if (!c) {
    PyErr_Clear();
    return "?";
  }
  return c;
}

// A soot reactor's [state copy, soot offset, species offset, pass, phase] list.
struct Cell {
  Cell(PyObject* o, PyObject* owner) {
    if (!PyList_Check(o) || PyList_GET_SIZE(o) != 5)
      type_error("a soot reactor's cell is a list [state, soot offset, species offset, pass, "
                 "phase]");
    state = Ref::borrow(PyList_GET_ITEM(o, 0));
    Ref off = Ref::borrow(PyList_GET_ITEM(o, 1));
    Ref sp = Ref::borrow(PyList_GET_ITEM(o, 2));
    phase = Ref::borrow(PyList_GET_ITEM(o, 4));
    if (state.get() == Py_None || off.get() == Py_None || sp.get() == Py_None)
      value_error("soot reactor " + name_of(owner) +
                  " is not in this network (it was never initialised): add it to the "
                  "ReactorNet with the reactors it feeds");
    offset = index_value(off.get(), "soot offset");
    species = index_value(sp.get(), "species offset");
  }
  Ref state;
  Ref phase;
  long offset = 0;
  long species = 0;
};

struct Names {
  PyObject* wdot = interned("net_production_rates");
  PyObject* mdot = interned("mass_flow_rate");
  PyObject* inlets = interned("inlets");
  PyObject* outlets = interned("outlets");
  PyObject* upstream = interned("upstream");
  PyObject* cell = interned("_cell");
  PyObject* energy = interned("energy_enabled");
  PyObject* restore = interned("restore_thermo_state");
  PyObject* P = interned("P");
  PyObject* h_mass = interned("enthalpy_mass");
  PyObject* h_k = interned("partial_molar_enthalpies");
  PyObject* u_k = interned("partial_molar_int_energies");
  PyObject* name = interned("name");
};
const Names& names() {
  static const Names n;
  return n;
}

// The gas-phase rates of the soot model's pseudo-species replace the phase's
// when their steady-state switch is off (as in the plug-flow reactor):
// added[k] += (rate - wdot_k) W_k V (kg/s) over the species range they occupy.
void substitute_pseudo_species(PyObject* phase, SootCalls& sm, const double* W, long K, double V,
                               double* added) {
  static const char* const pseudo[2][2] = {{"phy_dimer_wdot", "phy_dimer_index_in_gas"},
                                            {"soot_PAH_wdot", "soot_PAH_index_in_gas"}};
  const bool steady[2] = {sm.steady_state_dimerization(), sm.steady_state_adsorption()};
  std::vector<double> wdot;
  for (int i = 0; i < 2; ++i) {
    if (steady[i]) continue;
    const char* const rates_name = pseudo[i][0];
    const char* const indices_name = pseudo[i][1];
    Ref rates_obj(sm.attr(rates_name));
    Ref indices(sm.attr(indices_name));
    const std::vector<double> rates = float64_vector(rates_obj.get());
    const Py_ssize_t n_idx = PyObject_Length(indices.get());
    if (n_idx < 0) throw_pending();
    if (n_idx == 0) value_error(std::string("soot model: ") + indices_name + " is empty");
    Ref first_obj(check(PySequence_GetItem(indices.get(), 0)));
    Ref last_obj(check(PySequence_GetItem(indices.get(), -1)));
    const long first = index_value(first_obj.get(), indices_name);
    const long last = index_value(last_obj.get(), indices_name);
    if (last < first || last >= K)
      value_error(std::string("soot model: ") + indices_name +
                  " is out of the phase's species range");
    if (static_cast<long>(rates.size()) != last - first + 1)
      value_error(std::string("soot model: ") + rates_name + " has " +
                  std::to_string(rates.size()) + " values for species " + std::to_string(first) +
                  " to " + std::to_string(last));
    if (wdot.empty()) {
      Ref w = get(phase, names().wdot);
      wdot = float64_vector(w.get());
      if (static_cast<long>(wdot.size()) != K) value_error("phase: net_production_rates has the wrong length");
    }
    for (long k = first; k <= last; ++k)
      added[k] += (rates[static_cast<std::size_t>(k - first)] - wdot[static_cast<std::size_t>(k)]) *
                        W[k] * V;
  }
}

PyObject* py_network_load(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "_network_load() takes exactly 2 positional arguments (%zd given)",
                 nargs);
    return nullptr;
  }
  return guarded([&] {
    PyObject* target = args[0];
    if (PyList_Check(target)) {  // a reactor's cell: [state, ...]
      if (PyList_GET_SIZE(target) < 1) value_error("a soot reactor's cell is empty");
      target = PyList_GET_ITEM(target, 0);
    }
    Ref held = Ref::borrow(target);
    if (target == Py_None)
      value_error("the soot reactor is not in a network (it was never initialised)");
    Doubles dst(target, true, "state");
    Doubles src(args[1], false, "y");
    if (dst.n != src.n)
      value_error("the reactor's state has " + std::to_string(src.n) + " components, its copy " +
                  std::to_string(dst.n) + " (initialise the network again)");
    std::memmove(dst.data, src.data, static_cast<std::size_t>(src.n) * sizeof(double));
    return Py_NewRef(Py_None);
  });
}

// The one place the soot model is given the phase's gas: T, P, density,
// viscosity, mean molar mass and mole fractions, read from the phase (which
// holds the reactor's state while Cantera evaluates it); the viscosity from
// the viscosity object (None: the phase's own). Returns the density, kg/m^3.
double give_gas(PyObject* phase, PyObject* viscosity, SootCalls& sm) {
  return sm.update_gas_from(phase, viscosity);
}

// The same from the state's mass fractions Y: the phase holds them as given
// (Cantera's reactors set them unnormalised), and its mole fractions and mean
// molar mass are X_k = (Y_k rW_k) / s and 1 / s, s = sum_k Y_k rW_k in the
// order of k, rW_k = 1 / W_k: computed here exactly as the phase computes
// them (the reactor checks that they agree when its network initialises),
// without making the phase's copy of X. T, P and the density are the phase's.
double give_gas_from_state(PyObject* phase, PyObject* viscosity, SootCalls& sm, const double* Y,
                           const double* rW, long K) {
  // the array the model was given last, overwritten when nothing else holds it
  // (as the model reuses its scrub_wdot), else a new one
  Ref X_obj;
  PyObject* last = sm.direct() ? soot_gas_X(sm.model()) : nullptr;
  if (last && reusable_vector(last, K)) {
    X_obj = Ref::borrow(last);
  } else {
    const npy_intp n = K;
    X_obj = Ref(check(PyArray_SimpleNew(1, &n, NPY_DOUBLE)));
  }
  double* X = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(X_obj.get())));
  double sum = 0.0;
  for (long k = 0; k < K; ++k) {
    X[k] = Y[k] * rW[k];
    sum += X[k];
  }
  const double mean_MW = 1.0 / sum;
  for (long k = 0; k < K; ++k) X[k] *= mean_MW;
  return sm.update_gas_with(phase, viscosity, X_obj.get(), mean_MW);
}

// The items of a list or tuple attribute (reactor.inlets, reactor.outlets).
Ref sequence_attr(PyObject* o, PyObject* name) {
  Ref v = get(o, name);
  return Ref(check(PySequence_Fast(v.get(), "a reactor's inlets and outlets are sequences")));
}

// One flow into the reactor from an upstream soot reactor.
struct SootInflow {
  Ref upstream;     // the reactor
  double mdot;      // kg/s of contents
  double gas;       // kg/s of gas in it
  Cell cell;
};

// The rows of _network_soot_rows(ctx, LHS, RHS); throws on failure.
void soot_rows(PyObject* ctx, PyObject* lhs_obj, PyObject* rhs_obj) {
  if (!PyTuple_Check(ctx) || PyTuple_GET_SIZE(ctx) != 13)
    type_error("_network_soot_rows(): the context must be a tuple of 13 items");
  PyObject* reactor = PyTuple_GET_ITEM(ctx, 0);
  PyObject* phase = PyTuple_GET_ITEM(ctx, 1);
  Ref model = Ref::borrow(PyTuple_GET_ITEM(ctx, 2));
  const Cell cell(PyTuple_GET_ITEM(ctx, 3), reactor);
  Doubles state(cell.state.get(), false, "state");
  const long so = cell.offset;
  const long sp = index_value(PyTuple_GET_ITEM(ctx, 4), "species offset");
  const long iT = index_value(PyTuple_GET_ITEM(ctx, 5), "temperature index");
  Doubles W(PyTuple_GET_ITEM(ctx, 6), false, "molar masses");
  const int constant_volume = PyObject_IsTrue(PyTuple_GET_ITEM(ctx, 7));
  if (constant_volume < 0) throw_pending();
  PyObject* soot_class = PyTuple_GET_ITEM(ctx, 8);
  const long iH2 = index_value(PyTuple_GET_ITEM(ctx, 9), "H2 index");
  PyObject* weights = PyTuple_GET_ITEM(ctx, 10);
  if (!PyTuple_Check(weights) || PyTuple_GET_SIZE(weights) != 2)
    type_error("_network_soot_rows(): the atomic weights are a tuple (W_C, W_H)");
  const double W_C = as_double(PyTuple_GET_ITEM(weights, 0));
  const double W_H = as_double(PyTuple_GET_ITEM(weights, 1));
  PyObject* viscosity = PyTuple_GET_ITEM(ctx, 11);
  Doubles lhs(lhs_obj, true, "LHS");
  Doubles rhs(rhs_obj, true, "RHS");
  const long K = W.n;
  const long n = state.n;
  if (lhs.n != n || rhs.n != n)
    value_error("the reactor's equations have " + std::to_string(rhs.n) +
                " rows for a state of " + std::to_string(n) + " components");
  if (sp < 1 || sp + K > so || so + kSoot != n || iT < 1 || iT >= sp || sp != cell.species)
    value_error("the soot reactor's layout does not fit its state vector");

  // The soot model at the reactor's gas and soot state; the transport terms
  // below use the state's own soot values X (the model sees them clamped to
  // its floors, which only its rates may do: a value below the floor must
  // relax to the inflow's like any other).
  SootCalls sm(model.get());
  const Names& nm = names();
  PyObject* inverse_W = PyTuple_GET_ITEM(ctx, 12);
  double rho;
  if (inverse_W == Py_None) {
    rho = give_gas(phase, viscosity, sm);
  } else {
    Doubles rW(inverse_W, false, "inverse molar masses");
    if (rW.n != K) value_error("the soot reactor's inverse molar masses do not fit its phase");
    rho = give_gas_from_state(phase, viscosity, sm, state.data + sp, rW.data, K);
  }
  double X[kSoot];
  std::memcpy(X, state.data + so, sizeof X);
  sm.update_solution(X);
  sm.update_scrub_wdot();
  double S[kSoot];
  int done = 0;
  if (!sm.sources(S, done))
    for (int k = 0; k < kSoot; ++k) S[k] = sm.source(static_cast<SootSource>(k));
  // Gas: the species exchanged with the soot, closed on H2 so that the gas
  // loses exactly the mass the soot gains (reactor/network.hpp). The
  // scrubbing rates are read where the model keeps them when they are a
  // float64 array (no Python code runs while they are read).
  const double m = state.data[0];
  const double V = fdiv(m, rho);
  std::vector<double> added(static_cast<std::size_t>(K));  // kg/s per species
  {
    Ref scrub_obj(sm.scrub_wdot());
    const auto wrong_length = [K](std::size_t n) {
      value_error("soot model: scrub_wdot has " + std::to_string(n) + " values for a phase of " +
                  std::to_string(K) + " species");
    };
    if (PyArrayObject* a = plain_vector(scrub_obj.get())) {
      if (PyArray_DIM(a, 0) != K) wrong_length(static_cast<std::size_t>(PyArray_DIM(a, 0)));
      const char* p = PyArray_BYTES(a);
      const npy_intp step = PyArray_STRIDE(a, 0);
      for (long k = 0; k < K; ++k, p += step)
        added[static_cast<std::size_t>(k)] =
            V * *reinterpret_cast<const double*>(p) * W.data[k];
    } else {
      const std::vector<double> scrub = float64_vector(scrub_obj.get());
      if (static_cast<long>(scrub.size()) != K) wrong_length(scrub.size());
      for (long k = 0; k < K; ++k)
        added[static_cast<std::size_t>(k)] = V * scrub[static_cast<std::size_t>(k)] * W.data[k];
    }
  }
  substitute_pseudo_species(phase, sm, W.data, K, V, added.data());
  double exchanged = 0.0;
  for (double a : added) exchanged += a;
  const double soot_gain = m * fv::reactor::soot_mass_ratio(S[2], S[3], W_C, W_H);
  if (iH2 >= K) value_error("soot model: H2_index is out of the phase's species range");
  added[static_cast<std::size_t>(iH2)] += fv::reactor::hydrogen_closure(exchanged, soot_gain);
  double* rhs_species = rhs.data + sp;
  const double* Y = state.data + sp;
  for (long k = 0; k < K; ++k)
    rhs_species[k] +=
        fv::reactor::network_species_term(added[static_cast<std::size_t>(k)], Y[k], soot_gain);
  rhs.data[0] -= soot_gain;

  // Flows, read afresh: the contents leave at this reactor's soot per gas
  // mass sigma, and enter at the upstream soot reactor's (none from a
  // reservoir or a gas-only reactor).
  const int energy = [&] {
    Ref e = get(reactor, nm.energy);
    const int v = PyObject_IsTrue(e.get());
    if (v < 0) throw_pending();
    return v;
  }();
  const double sigma = fv::reactor::soot_mass_ratio(X[2], X[3], W_C, W_H);
  Ref outlets = sequence_attr(reactor, nm.outlets);
  double mdot_out = 0.0;  // gas, kg/s
  double soot_out = 0.0;  // soot mass, kg/s
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(outlets.get()); ++i) {
    // held: reading a flow rate can run Python (a controller's mdot function)
    Ref device = Ref::borrow(PySequence_Fast_GET_ITEM(outlets.get(), i));
    const double mdot = get_float(device.get(), nm.mdot);
    const double gas = fv::reactor::gas_flow(mdot, sigma);
    mdot_out += gas;
    soot_out += mdot - gas;
  }
  rhs.data[0] += soot_out;  // Cantera took the whole flow out of the gas
  if (constant_volume && energy && soot_out != 0.0)
    rhs.data[iT] += soot_out * fdiv(get_float(phase, nm.P), rho);  // its flow work P/rho

  Ref inlets = sequence_attr(reactor, nm.inlets);
  double n_in[kSoot] = {0.0, 0.0, 0.0, 0.0};
  std::vector<SootInflow> soot_inflows;
  for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(inlets.get()); ++i) {
    Ref held = Ref::borrow(PySequence_Fast_GET_ITEM(inlets.get(), i));
    PyObject* device = held.get();
    Ref up = get(device, nm.upstream);
    const int is_soot = PyObject_IsInstance(up.get(), soot_class);
    if (is_soot < 0) throw_pending();
    if (!is_soot) continue;
    const double mdot = get_float(device, nm.mdot);
    Ref up_cell_obj = get(up.get(), nm.cell);
    Cell up_cell(up_cell_obj.get(), up.get());
    Doubles upstream(up_cell.state.get(), false, "upstream state");
    const long uo = up_cell.offset;
    if (uo + kSoot > upstream.n || up_cell.species < 1 || up_cell.species + K > uo)
      value_error("the upstream soot reactor's layout does not fit its state vector");
    const double* Xu = upstream.data + uo;
    const double sigma_up = fv::reactor::soot_mass_ratio(Xu[2], Xu[3], W_C, W_H);
    const double gas = fv::reactor::gas_flow(mdot, sigma_up);
    for (int k = 0; k < kSoot; ++k) n_in[k] += gas * Xu[k];
    // Cantera counted the whole flow as gas of the upstream composition
    const double soot = mdot - gas;
    const double* Yu = upstream.data + up_cell.species;
    rhs.data[0] -= soot;
    for (long k = 0; k < K; ++k) rhs_species[k] -= soot * (Yu[k] - Y[k]);
    if (energy && soot != 0.0)
      soot_inflows.push_back({std::move(up), mdot, gas, std::move(up_cell)});
  }
  if (!soot_inflows.empty()) {
    // and gave the energy equation the soot's share of the inflow's enthalpy:
    // h_in - sum_k e_k Y_in,k / W_k per kg, with e_k this reactor's partial
    // molar enthalpies (constant pressure) or internal energies (volume), J/kmol
    Ref e_obj = get(phase, constant_volume ? nm.u_k : nm.h_k);
    const std::vector<double> e = float64_vector(e_obj.get());
    if (static_cast<long>(e.size()) != K)
      value_error("phase: partial molar properties have the wrong length");
    for (const SootInflow& f : soot_inflows) {
      Ref r(check(PyObject_CallMethodNoArgs(f.upstream.get(), nm.restore)));
      const double h_in = get_float(f.cell.phase.get(), nm.h_mass);
      Doubles upstream(f.cell.state.get(), false, "upstream state");
      const double* Yu = upstream.data + f.cell.species;
      double carried = h_in;
      for (long k = 0; k < K; ++k)
        carried -= e[static_cast<std::size_t>(k)] * Yu[k] / W.data[k];
      rhs.data[iT] -= (f.mdot - f.gas) * carried;
    }
    Ref r(check(PyObject_CallMethodNoArgs(reactor, nm.restore)));
  }
  const double dmdt = rhs.data[0];

  for (int k = 0; k < kSoot; ++k) {
    lhs.data[so + k] = 1.0;
    rhs.data[so + k] =
        fv::reactor::network_soot_derivative(S[k], X[k], n_in[k], mdot_out, dmdt, m);
  }
}

PyObject* py_network_soot_rows(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError,
                 "_network_soot_rows() takes exactly 3 positional arguments (%zd given)", nargs);
    return nullptr;
  }
  return guarded([&] {
    soot_rows(args[0], args[1], args[2]);
    return Py_NewRef(Py_None);
  });
}

PyObject* py_network_eval(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  if (nargs != 4) {
    PyErr_Format(PyExc_TypeError,
                 "_network_eval() takes exactly 4 positional arguments (%zd given)", nargs);
    return nullptr;
  }
  return guarded([&] {
    PyObject* box = args[0];
    if (!PyList_Check(box) || PyList_GET_SIZE(box) != 1)
      type_error("_network_eval(): the box must be a list of one item");
    Ref ctx = Ref::borrow(PyList_GET_ITEM(box, 0));  // held: the rows can run Python
    if (ctx.get() == Py_None)
      value_error("the soot reactor is not in a network (it was never initialised)");
    soot_rows(ctx.get(), args[2], args[3]);
    return Py_NewRef(Py_None);
  });
}

}  // namespace

PyMethodDef g_network_load = method_fast<py_network_load>("_network_load",
    "_network_load(state, y)\n--\n\n"
    "Copies a soot reactor's state vector y into the float64 array state (or into item 0\n"
    "of a list, the reactor's cell).");

PyMethodDef g_network_soot_rows = method_fast<py_network_soot_rows>("_network_soot_rows",
    "_network_soot_rows(ctx, LHS, RHS)\n--\n\n"
    "Adds soot's terms to a soot reactor's equations LHS dy/dt = RHS in place (the reactor's\n"
    "after_eval hook).");

PyMethodDef g_network_eval = method_fast<py_network_eval>("_network_eval",
    "_network_eval(box, t, LHS, RHS)\n--\n\n"
    "_network_soot_rows(box[0], LHS, RHS): a soot reactor's after_eval hook, bound to the\n"
    "list that holds its context.");

}  // namespace fv::py
