// Soot oxidation by O2 and OH.
//
// The site-based rates (*_alt) feed the source terms through the caches of
// update_solution; the surface-flux rates (omega_*, dC_tot_dt_O2, ...) are
// available on request only. All rates are in mol of atoms per kg of gas per
// s and are negative or zero.
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

namespace {

inline double non_negative(double c) { return (c < 0.0) ? 0.0 : c; }

// Soot at or below this H/C atom ratio is not attacked by the site-based and
// hydrogen surface-flux rates.
constexpr double kHtoC_min = 0.1;

}  // namespace

// ---- site-based rates ------------------------------------------------------------

// Carbon loss by O2 at radical sites: two carbon atoms per reacting O2.
double SootModel::dC_tot_dt_O2_alt_body() {
  if (fdiv(H_tot, C_tot) <= kHtoC_min) return 0.0;
  const double c_O2 = non_negative(molar_density(O2_index));
  const double k5 = k5_HACA();  // C* + O2, m^3/(mol s)
  const double alpha = slot_d(SlotId::alpha);
  return -2.0 * alpha * k5 * c_O2 * c_soot_nought();
}

// Carbon loss by OH, proportional to [OH] and the aggregate amount.
double SootModel::dC_tot_dt_OH_alt_body() {
  if (fdiv(H_tot, C_tot) <= kHtoC_min) return 0.0;
  const double c_OH = non_negative(molar_density(OH_index));
  return -0.13 * c_OH * N_agg * density;
}

// Oxidation leaves soot hydrogen unchanged in the site-based form; the ratio
// is still formed so that C_tot = 0 is reported as in the carbon rates.
double SootModel::dH_tot_dt_O2_alt_body() {
  (void)fdiv(H_tot, C_tot);
  return 0.0;
}

double SootModel::dH_tot_dt_OH_alt_body() {
  (void)fdiv(H_tot, C_tot);
  return 0.0;
}

// ---- surface-flux rates ------------------------------------------------------------

// Carbon oxidation flux by O2 from the O2 partial pressure in atm, kg/(m^2 s).
// Activation energies in cal/mol over 1.987 T.
double SootModel::omega_O2_body() {
  const double p = fdiv(P * aget(ArrayId::X, O2_index), P_atm);
  const double k_A = 20.0 * std::exp(fdiv(-30000.0, 1.987 * T));
  const double k_B = 0.00446 * std::exp(fdiv(-15200.0, 1.987 * T));
  const double k_T = 151000.0 * std::exp(fdiv(-97000.0, 1.987 * T));
  const double k_Z = 21.3 * std::exp(fdiv(4100.0, 1.987 * T));
  const double x = fdiv(1.0, 1.0 + fdiv(k_T, k_B) * p);
  return fdiv(420.0 * k_A * p, 1.0 + k_Z * p) * x + k_B * p * (1.0 - x);
}

// Carbon oxidation flux by OH from the OH partial pressure in atm, kg/(m^2 s);
// 167.70000000000002 = 0.13 * 1290.
double SootModel::omega_OH_body() {
  const double p = fdiv(P * aget(ArrayId::X, OH_index), P_atm);
  return fdiv(167.70000000000002 * p, std::pow(T, 0.5));
}

// Carbon loss from the O2 flux; particles not above the smallest size are spared.
double SootModel::dC_tot_dt_O2_body() {
  if (d_p_min >= p_d_p) return 0.0;
  return pydiv(-omega_O2() * p_A_tot, MW_carbon);
}

double SootModel::dC_tot_dt_OH_body() {
  if (d_p_min >= p_d_p) return 0.0;
  return pydiv(-omega_OH() * p_A_tot, MW_carbon);
}

// Hydrogen loss from the surface flux, the same expression as the carbon rate.
double SootModel::dH_tot_dt_O2_body() {
  if (fdiv(H_tot, C_tot) <= kHtoC_min) return 0.0;
  return pydiv(-omega_O2() * p_A_tot, MW_carbon);
}

double SootModel::dH_tot_dt_OH_body() {
  if (fdiv(H_tot, C_tot) <= kHtoC_min) return 0.0;
  return pydiv(-omega_OH() * p_A_tot, MW_carbon);
}

// ---- cached totals -----------------------------------------------------------------

// Site-based oxidation rates of the last update_solution, OH first.
double SootModel::dC_tot_dt_Ox_body() { return p_dC_tot_dt_OH + p_dC_tot_dt_O2; }

double SootModel::dH_tot_dt_Ox_body() { return p_dH_tot_dt_OH + p_dH_tot_dt_O2; }

}  // namespace fv::soot
