// fv::reactor — the steady plug-flow reactor (a duct of constant cross-section)
// written as an ODE system along the axial coordinate z. This file holds the
// reactor's stored numbers and the formulas of its right-hand side on plain
// doubles; the binding layer reads the gas and the soot model and assembles
// the state-vector derivative from these pieces. Every division by zero raises
// ZeroDivisionError "float division".
#pragma once

#include "../common/checked.hpp"

namespace fv::reactor {

struct PlugFlow {
  double P = 0.0;               // reactor pressure, Pa
  double Nu_const_temp = 0.0;   // Nusselt number, constant wall temperature (3.66)
  double Nu_const_heat = 0.0;   // Nusselt number, constant wall heat flux (4.63; unused)
  int Rt_offset = 0;            // state-vector positions: residence time,
  int rho_u_vfv_offset = 0;     //   mass flux,
  int T_offset = 0;             //   temperature,
  int Y_offset = 0;             //   first mass fraction,
  int soot_offset = 0;          //   first soot variable
  double u = 0.0;               // gas velocity of the last evaluation, m/s
  double fixed_density = 0.0;   // kg/m^3, used when _enable_fixed_density
  bool _enable_fixed_density = false;
  bool _use_fixed_density = false;  // stored only
  bool _enable_soot = false;        // stored only
  bool _use_temp_time_history = false;
  bool _use_temp_value = false;
  bool _enable_wall_deposition = false;
  double k_dep = 0.0;           // wall deposition mass-transfer coefficient, m/s
  double perimeter = 0.0;       // wetted perimeter, m
  double area = 0.0;            // cross-section, m^2

  // Values after construction (the gas-derived P and wdot are set by the caller).
  void defaults();
};

// 4 area / perimeter, m
double hydraulic_diameter(double area, double perimeter);
// Wall heat source per unit volume, W/m^3, for wall temperature T_wall (K):
// (perimeter/area) (Nu 1e10 / D_h) (T_wall - T); 1e10 W/(m K) is an effective
// wall conductivity that pins the gas to the wall profile.
double external_heat(const PlugFlow& r, double T_wall, double T);
// Reynolds number rho u D_h / mu
double reynolds(const PlugFlow& r, double density, double viscosity);
// Blasius: 0.0791 / Re^0.25
double fanning_friction(double Re);
// Mass-flux correction: 0 for a positive soot volume fraction, else fv.
inline double soot_correction(double fv) { return 0.0 < fv ? 0.0 : fv; }
// dX/dz of one soot variable X (mol/kg) with source S (mol/(kg s)), scrubbed
// mass rate m_s (kg/(m^3 s)), density rho, velocity u, correction f and
// deposition coefficient k_dep (m/s).
double soot_derivative(double S, double X, double m_s, double rho, double u, double f,
                       double D_h, double k_dep);
// Wall deposition coefficient, m/s: (u 0.042) ff^0.5 (nu/D)^(-2/3), with the
// Fanning factor ff, kinematic viscosity nu (m^2/s), soot diffusivity D (m^2/s).
double deposition_coefficient(double u, double ff, double nu, double D);
// Growth rate of the deposit thickness, from aggregates N_agg (mol/kg) of
// mobility diameter d_m (m): ((1/u) rho) N_agg Av pi/6 d_m^3.
double deposit_thickness_growth_rate(double u, double rho, double N_agg, double Av, double d_m);

// ---- the derivative of the state vector ---------------------------------------------
// y = [residence time, mass flux G, T, Y_1..Y_K, soot variables...]; the
// binding reads the phase and the soot model, these compute on the numbers.

// Gas velocity u = G / ((1 - f) rho), m/s, from the mass flux G (kg/(m^2 s)),
// the density rho (kg/m^3) and the soot correction f (0 without soot).
inline double gas_velocity(double G, double rho, double f) { return fdiv(G, (1.0 - f) * rho); }
inline double gas_velocity(double G, double rho) { return fdiv(G, rho); }
// dT/dz, K/m: (q - sum h wdot) / (rho u cp), q and the released heat in W/m^3,
// cp J/(kg K).
inline double temperature_gradient(double q, double released, double rho, double u, double cp) {
  return fdiv(q - released, rho * u * cp);
}
// dG/dz, kg/(m^3 s): the mass the gas gives to soot, (1 - f) m_s.
inline double mass_flux_gradient(double f, double m_s) { return (1.0 - f) * m_s; }
// dY_k/dz, 1/m, with soot: ((wdot + scrub) W - Y m_s) / (rho u), with the
// production and scrubbing rates in kmol/(m^3 s), W kg/kmol, rho_u = rho u.
inline double species_row(double wdot, double scrub, double W, double Y, double m_s,
                          double rho_u) {
  return ((wdot + scrub) * W - Y * m_s) / rho_u;
}
// dY_k/dz, 1/m, without soot: wdot W / (rho u).
inline double gas_species_row(double wdot, double W, double rho_u) { return wdot * W / rho_u; }

// The scalar parts of the derivative.
struct DerivativeHead {
  double u;     // m/s
  double dG;    // kg/(m^3 s)
  double dTdz;  // K/m
};
// out[0..2] = 1/u, dG, dT/dz and out[3 + n_species + k] = soot[k] for k < n_soot;
// the species rows out[3 .. 3 + n_species) are the caller's.
inline void write_head_and_soot(const DerivativeHead& h, long n_species, const double* soot,
                                int n_soot, double* out) {
  out[0] = 1.0 / h.u;
  out[1] = h.dG;
  out[2] = h.dTdz;
  for (int k = 0; k < n_soot; ++k) out[3 + n_species + k] = soot[k];
}

}  // namespace fv::reactor
