// fv::reactor — soot rows of a zero-dimensional reactor in a reactor network.
//
// The reactor's state begins with the gas mass m (kg) and holds the species
// mass fractions Y_k; its equations are LHS dy/dt = RHS with, for the species,
// LHS = m and RHS in kg/s (Cantera's mass-based ideal-gas reactors). Soot adds
// four variables X (mol per kg of gas) with LHS = 1. Soot formation takes the
// scrubbed species out of the gas (or gives them back): at the rate
// scrub_k (kmol/(m^3 s)) over the reactor volume V (m^3), which changes the gas
// mass by V m_s with m_s = sum_k scrub_k W_k (kg/(m^3 s), negative while soot
// grows). These are the plug-flow reactor's equations written in time instead
// of distance (dt = dz/u).
#pragma once

#include "../common/checked.hpp"

namespace fv::reactor {

// The scrubbed mass rate m_s, kg/(m^3 s), from the scrubbing rates (kmol/(m^3 s))
// and molar masses (kg/kmol) of n species.
inline double scrubbed_mass_rate(const double* scrub, const double* W, long n) {
  double m_s = 0.0;
  for (long k = 0; k < n; ++k) m_s += scrub[k] * W[k];
  return m_s;
}

// What soot adds to the right-hand side m dY_k/dt of species k, kg/s:
// V (scrub_k W_k - Y_k m_s) (the species itself, and the dilution of every
// species by the mass that leaves the gas).
inline double network_species_term(double V, double scrub, double W, double Y, double m_s) {
  return V * (scrub * W - Y * m_s);
}

// dX/dt of one soot variable X (mol/kg), 1/s x mol/kg: the source S
// (mol/(kg s)), the soot carried in by inlets n_in (mol/s), the soot leaving
// with the outlets' mass mdot_out (kg/s) at the reactor's own X, and the change
// of the gas mass dm/dt (kg/s, everything included: flows, surfaces and the
// mass soot takes) for a gas mass m (kg). Zero mass raises "float division".
inline double network_soot_derivative(double S, double X, double n_in, double mdot_out,
                                      double dmdt, double m) {
  return S + fdiv(n_in - mdot_out * X - X * dmdt, m);
}

}  // namespace fv::reactor
