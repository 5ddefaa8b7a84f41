// fv::reactor — soot rows of a zero-dimensional reactor in a reactor network.
//
// The reactor's state begins with the gas mass m (kg) and holds the species
// mass fractions Y_k; its equations are LHS dy/dt = RHS with, for the species,
// LHS = m and RHS in kg/s (Cantera's mass-based ideal-gas reactors). Soot adds
// four variables X (mol per kg of gas) with LHS = 1. Apart from the hydrogen
// closure below, these are the plug-flow reactor's equations written in time
// instead of distance (dt = dz/u).
//
// The reactor's contents are its gas and its soot, m (1 + sigma) kg with
// sigma = C_tot W_C + H_tot W_H the soot mass per gas mass. A flow device moves
// contents: of a flow mdot (kg/s) leaving a soot reactor, mdot / (1 + sigma) is
// gas and the rest soot, so that a reactor whose outflow equals its inflow
// (a pressure controller on a constant-pressure reactor) keeps its contents.
#pragma once

#include "../common/checked.hpp"

namespace fv::reactor {

// The gas-soot exchange. Soot formation takes the scrubbed species out of the
// gas (or gives them back) at scrub_k (kmol/(m^3 s)) over the reactor volume V
// (m^3): a_k = V scrub_k W_k kg/s of species k (plus, for the pseudo-species
// whose steady-state switch is off, the soot model's rate in place of the
// phase's). The soot gains m (S_C W_C + S_H W_H) kg/s from its source terms.
// Carbon and oxygen balance between the two exactly, hydrogen does not (the
// model's own bookkeeping: dimers keep the hydrogen of their PAHs while H2 is
// released, carbonization removes soot hydrogen with no gas product), so the
// difference is exchanged with the gas as H2. The gas then loses exactly the
// mass the soot gains, and a reactor's contents (gas + soot) are conserved.
//
// The H2 (kg/s) that closes the exchange: the species terms change the gas
// mass by `exchanged` (kg/s, sum of a_k) while the soot gains `soot_gain`.
inline double hydrogen_closure(double exchanged, double soot_gain) {
  return -(exchanged + soot_gain);
}

// What soot adds to the right-hand side m dY_k/dt of species k, kg/s: the
// species' own exchange a_k (the H2 closure included), less the dilution of
// every species by the change of the gas mass, -soot_gain (kg/s).
inline double network_species_term(double a_k, double Y, double soot_gain) {
  return a_k + Y * soot_gain;
}

// Soot mass per kg of gas, kg/kg, of the soot variables C_tot and H_tot
// (mol/kg); of their source terms (mol/(kg s)), kg/(kg s). W_C and W_H are
// the atomic weights (kg/mol) the gas phase uses, so that the soot's mass and
// the gas's elements are counted alike and balance together.
inline double soot_mass_ratio(double C_tot, double H_tot, double W_C, double W_H) {
  return C_tot * W_C + H_tot * W_H;
}

// The gas in a flow mdot (kg/s) of contents whose soot mass per gas mass is
// sigma: mdot / (1 + sigma), kg/s.
inline double gas_flow(double mdot, double sigma) { return fdiv(mdot, 1.0 + sigma); }

// dX/dt of one soot variable X (mol/kg), 1/s x mol/kg: the source S
// (mol/(kg s)), the soot carried in by inlets n_in (mol/s), the soot leaving
// with the outlets' gas mdot_out (kg/s) at the reactor's own X, and the change
// of the gas mass dm/dt (kg/s, everything included: flows, surfaces and the
// mass soot takes) for a gas mass m (kg). Zero mass raises "float division".
inline double network_soot_derivative(double S, double X, double n_in, double mdot_out,
                                      double dmdt, double m) {
  return S + fdiv(n_in - mdot_out * X - X * dmdt, m);
}

}  // namespace fv::reactor
