// Soot in Cantera reactor networks: the two calls a soot reactor makes per
// evaluation of the network's right-hand side.
//
//   _network_load(state, y)           copies the reactor's state vector y (any
//                                     buffer of doubles: Cantera hands a view of
//                                     its own array) into `state` (float64 array)
//   _network_soot_rows(ctx, LHS, RHS) adds soot's terms to the reactor's
//                                     equations LHS dy/dt = RHS, in place
//
// ctx is the tuple the reactor builds when its network initialises:
//   (phase, soot_model, cell, species_offset, W, inflows, outflows)
// with cell the list [state copy (float64 array), offset of the soot variables],
// W the molar masses (kg/kmol, float64 array), inflows a tuple of
// (flow device, the upstream soot reactor's cell or None) and outflows a tuple
// of flow devices. A cell is read at each call: an upstream reactor replaces its
// state copy when the network initialises it again. The phase holds the reactor's state when Cantera
// calls the hook (its eval restores it), so the soot model is given the gas the
// way the plug-flow reactor gives it: T, P, density, viscosity, mean molar mass
// and mole fractions read from the phase. An exact CSootModel runs in C++.
#include <cstring>
#include <string>
#include <vector>

#include "bind/args.hpp"
#include "bind/attrs.hpp"
#include "bind/entry.hpp"
#include "bind/errors.hpp"
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

// A one-dimensional C-contiguous buffer of doubles, held for the call.
class Doubles {
 public:
  Doubles(PyObject* o, bool writable, const char* what) {
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
  Py_buffer view_{};
  bool held_ = false;
};

long index_value(PyObject* o, const char* what) {
  const long v = PyLong_AsLong(o);
  if (v == -1 && PyErr_Occurred()) throw_pending();
  if (v < 0) value_error(std::string(what) + " must not be negative");
  return v;
}

// A soot reactor's [state copy, soot offset] list.
struct Cell {
  explicit Cell(PyObject* o) {
    if (!PyList_Check(o) || PyList_GET_SIZE(o) != 2)
      type_error("a soot reactor's cell is a list [state, soot offset]");
    state = Ref::borrow(PyList_GET_ITEM(o, 0));
    Ref off = Ref::borrow(PyList_GET_ITEM(o, 1));
    if (state.get() == Py_None || off.get() == Py_None)
      value_error("a soot reactor in this network has not been initialised");
    offset = index_value(off.get(), "soot offset");
  }
  Ref state;
  long offset = 0;
};

struct Names {
  PyObject* wdot = interned("net_production_rates");
  PyObject* mdot = interned("mass_flow_rate");
};
const Names& names() {
  static const Names n;
  return n;
}

// The gas-phase rates of the soot model's pseudo-species replace the phase's
// when their steady-state switch is off (as in the plug-flow reactor):
// RHS[k] += (rate - wdot_k) W_k V over the species range they occupy.
void substitute_pseudo_species(PyObject* phase, SootCalls& sm, const double* W, long K, double V,
                               double* rhs_species) {
  static const char* const pseudo[2][3] = {
      {"steady_state_physical_dimerization", "phy_dimer_wdot", "phy_dimer_index_in_gas"},
      {"steady_state_PAH_adsorption", "soot_PAH_wdot", "soot_PAH_index_in_gas"}};
  std::vector<double> wdot;
  for (const auto& p : pseudo) {
    if (sm.attr_bool(p[0])) continue;
    Ref rates_obj(sm.attr(p[1]));
    Ref indices(sm.attr(p[2]));
    const std::vector<double> rates = float64_vector(rates_obj.get());
    const Py_ssize_t n_idx = PyObject_Length(indices.get());
    if (n_idx < 0) throw_pending();
    if (n_idx == 0) value_error(std::string("soot model: ") + p[2] + " is empty");
    Ref first_obj(check(PySequence_GetItem(indices.get(), 0)));
    Ref last_obj(check(PySequence_GetItem(indices.get(), -1)));
    const long first = index_value(first_obj.get(), p[2]);
    const long last = index_value(last_obj.get(), p[2]);
    if (last < first || last >= K)
      value_error(std::string("soot model: ") + p[2] + " is out of the phase's species range");
    if (static_cast<long>(rates.size()) != last - first + 1)
      value_error(std::string("soot model: ") + p[1] + " has " + std::to_string(rates.size()) +
                  " values for species " + std::to_string(first) + " to " + std::to_string(last));
    if (wdot.empty()) {
      Ref w = get(phase, names().wdot);
      wdot = float64_vector(w.get());
      if (static_cast<long>(wdot.size()) != K) value_error("phase: net_production_rates has the wrong length");
    }
    for (long k = first; k <= last; ++k)
      rhs_species[k] += (rates[static_cast<std::size_t>(k - first)] - wdot[static_cast<std::size_t>(k)]) *
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
    Doubles dst(args[0], true, "state");
    Doubles src(args[1], false, "y");
    if (dst.n != src.n)
      value_error("the reactor's state has " + std::to_string(src.n) + " components, its copy " +
                  std::to_string(dst.n) + " (initialise the network again)");
    std::memmove(dst.data, src.data, static_cast<std::size_t>(src.n) * sizeof(double));
    return Py_NewRef(Py_None);
  });
}

PyObject* py_network_soot_rows(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError,
                 "_network_soot_rows() takes exactly 3 positional arguments (%zd given)", nargs);
    return nullptr;
  }
  return guarded([&] {
    PyObject* ctx = args[0];
    if (!PyTuple_Check(ctx) || PyTuple_GET_SIZE(ctx) != 7)
      type_error("_network_soot_rows(): the context must be a tuple of 7 items");
    PyObject* phase = PyTuple_GET_ITEM(ctx, 0);
    Ref model = Ref::borrow(PyTuple_GET_ITEM(ctx, 1));
    const Cell cell(PyTuple_GET_ITEM(ctx, 2));
    Doubles state(cell.state.get(), false, "state");
    const long so = cell.offset;
    const long sp = index_value(PyTuple_GET_ITEM(ctx, 3), "species offset");
    Doubles W(PyTuple_GET_ITEM(ctx, 4), false, "molar masses");
    PyObject* inflows = PyTuple_GET_ITEM(ctx, 5);
    PyObject* outflows = PyTuple_GET_ITEM(ctx, 6);
    if (!PyTuple_Check(inflows) || !PyTuple_Check(outflows))
      type_error("_network_soot_rows(): inflows and outflows must be tuples");
    Doubles lhs(args[1], true, "LHS");
    Doubles rhs(args[2], true, "RHS");
    const long K = W.n;
    const long n = state.n;
    if (lhs.n != n || rhs.n != n)
      value_error("the reactor's equations have " + std::to_string(rhs.n) +
                  " rows for a state of " + std::to_string(n) + " components");
    if (sp < 1 || sp + K > so || so + kSoot != n)
      value_error("the soot reactor's layout does not fit its state vector");

    // The soot model at the reactor's gas and soot state.
    SootCalls sm(model.get());
    const Names& nm = names();
    const double rho = sm.update_gas_from(phase);
    double soot[kSoot];
    std::memcpy(soot, state.data + so, sizeof soot);
    sm.update_solution(soot);
    sm.update_scrub_wdot();
    double S[kSoot];
    int done = 0;
    if (!sm.sources(S, done))
      for (int k = 0; k < kSoot; ++k) S[k] = sm.source(static_cast<SootSource>(k));
    static const char* const variables[kSoot] = {"N_agg", "N_pri", "C_tot", "H_tot"};
    double X[kSoot];
    for (int k = 0; k < kSoot; ++k) X[k] = sm.attr_double(variables[k]);
    Ref scrub_obj(sm.attr("scrub_wdot"));
    const std::vector<double> scrub = float64_vector(scrub_obj.get());
    if (static_cast<long>(scrub.size()) != K)
      value_error("soot model: scrub_wdot has " + std::to_string(scrub.size()) +
                  " values for a phase of " + std::to_string(K) + " species");

    // Gas: mass, volume and the species rows.
    const double m = state.data[0];
    const double V = fdiv(m, rho);
    const double m_s = fv::reactor::scrubbed_mass_rate(scrub.data(), W.data, K);
    double* rhs_species = rhs.data + sp;
    const double* Y = state.data + sp;
    for (long k = 0; k < K; ++k)
      rhs_species[k] += fv::reactor::network_species_term(V, scrub[static_cast<std::size_t>(k)],
                                                          W.data[k], Y[k], m_s);
    substitute_pseudo_species(phase, sm, W.data, K, V, rhs_species);
    rhs.data[0] += V * m_s;
    const double dmdt = rhs.data[0];

    // Soot carried by the flows: in at the upstream reactor's values (none from
    // a reservoir or a gas-only reactor), out at this reactor's own.
    double n_in[kSoot] = {0.0, 0.0, 0.0, 0.0};
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(inflows); ++i) {
      PyObject* item = PyTuple_GET_ITEM(inflows, i);
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2)
        type_error("_network_soot_rows(): an inflow is (device, upstream cell or None)");
      const double mdot = get_float(PyTuple_GET_ITEM(item, 0), nm.mdot);
      PyObject* up = PyTuple_GET_ITEM(item, 1);
      if (up == Py_None) continue;
      const Cell up_cell(up);
      Doubles upstream(up_cell.state.get(), false, "upstream state");
      const long uo = up_cell.offset;
      if (uo + kSoot > upstream.n) value_error("the upstream soot offset is out of its state");
      for (int k = 0; k < kSoot; ++k) n_in[k] += mdot * upstream.data[uo + k];
    }
    double mdot_out = 0.0;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(outflows); ++i)
      mdot_out += get_float(PyTuple_GET_ITEM(outflows, i), nm.mdot);

    for (int k = 0; k < kSoot; ++k) {
      lhs.data[so + k] = 1.0;
      rhs.data[so + k] = fv::reactor::network_soot_derivative(S[k], X[k], n_in[k], mdot_out, dmdt, m);
    }
    return Py_NewRef(Py_None);
  });
}

}  // namespace

PyMethodDef g_network_load = method_fast<py_network_load>("_network_load",
    "_network_load(state, y)\n--\n\n"
    "Copies a soot reactor's state vector y into the float64 array state.");

PyMethodDef g_network_soot_rows = method_fast<py_network_soot_rows>("_network_soot_rows",
    "_network_soot_rows(ctx, LHS, RHS)\n--\n\n"
    "Adds soot's terms to a soot reactor's equations LHS dy/dt = RHS in place (the reactor's\n"
    "after_eval hook).");

}  // namespace fv::py
