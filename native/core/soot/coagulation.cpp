// Coagulation of aggregates and coalescence (sintering or merging) of the
// primaries inside them.
//
// Kernels are for two aggregates of the current mean size, from the cached
// sizes of the last update_solution and the mean free path of the last
// update_gas; m_Ag and n_p are recomputed on every call.
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

namespace {

// Free-molecular kernel of two equal aggregates, m^3/s, with the cached
// gyration diameter as collision diameter.
double free_molecular_kernel(SootModel& m) {
  return 4.0 * std::pow(pydiv(m.Pi * m.kB * m.T, m.m_Ag()), 0.5) * std::pow(m.p_d_g, 2.0);
}

}  // namespace

// ---- kernels -----------------------------------------------------------------------

double SootModel::beta_coag_fm_body() { return free_molecular_kernel(*this); }

// The coagulation validation case uses the free-molecular kernel alone.
double SootModel::beta_coag_validation_body() { return free_molecular_kernel(*this); }

// Continuum kernel with the slip correction of the mobility diameter, m^3/s.
double SootModel::beta_coag_cont_body() {
  const double Kn = fdiv(2.0 * p_lambda_gas, p_d_m);
  const double Cc = 1.0 + Kn * (1.21 + 0.4 * std::exp(fdiv(-0.78 * p_d_m, p_lambda_gas)));
  return fdiv(8.0 * kB * T, 3.0 * viscosity) * Cc;
}

// Transition-regime kernel: 1.82 times the harmonic combination of the
// free-molecular and continuum kernels, m^3/s.
double SootModel::beta_coag_hm_body() {
  const double fm = beta_coag_fm();
  const double cont = beta_coag_cont();
  return fdiv(1.82 * fm * cont, fm + cont);
}

// Turbulent kernel from the mobility-equivalent sphere volume, m^3/s; zero
// while K_T_factor (1/s) is zero.
double SootModel::beta_coag_turb_body() {
  return 8.0 * K_T_factor * (constants::pi / 6.0) * std::pow(p_d_m, 3.0);
}

// ---- coagulation rate --------------------------------------------------------------

// Loss of aggregates, mol per kg gas per s: -0.5 beta n^2 with the number
// concentration n = N_agg Av density, converted back per kg of gas.
double SootModel::N_agg_coag_body() {
  const double beta = slot_d(SlotId::beta_coag);
  const double beta_total = beta + beta_coag_turb();
  return -0.5 * beta_total * std::pow(N_agg, 2.0) * Av * density;
}

// ---- coalescence times, s ----------------------------------------------------------

// Sintering time of the titania law.
double SootModel::t_f_titania_body() {
  return As_coales * std::pow(p_d_p, 4.0) * T * std::exp(fdiv(Ea_coales, T));
}

// Sintering time of the silica law with its critical diameter.
double SootModel::t_f_silica_body() {
  return As_coales * p_d_p * std::exp(fdiv(Ea_coales, T) * (1.0 - fdiv(d_crit_coales, p_d_p)));
}

// Size-independent sintering time (temperature only).
double SootModel::t_f_md_derived_body() { return std::pow(10.0, 0.0014 * T - 11.4303); }

// ---- coalescence rates, mol per kg gas per s -------------------------------------------

// Loss of primaries by sintering, with the coalescence time held at or above
// t_coales_min.
double SootModel::N_pri_coales_sintering_body() {
  const double n = n_p();
  if (!(n > 1.0)) return 0.0;
  double tau = slot_d(SlotId::t_coales);
  if (t_coales_min > tau) tau = t_coales_min;
  return (n - std::pow(n, 0.6666666667)) * fdiv(-3.0, tau) * N_agg;
}

// Loss of primaries by merging of hydrogen-rich particles (C/H below
// CtoH_crit), at the coagulation rate written for primaries.
double SootModel::N_pri_coales_merge_body() {
  if (!(CtoH_crit > fdiv(C_tot, H_tot))) return 0.0;
  const double beta = slot_d(SlotId::beta_coag);
  const double beta_total = beta + beta_coag_turb();
  return -0.5 * beta_total * std::pow(N_pri, 2.0) * Av * density;
}

}  // namespace fv::soot
