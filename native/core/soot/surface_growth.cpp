// HACA surface growth (hydrogen abstraction, acetylene addition), the
// surface-site-fraction (alpha) models and carbonization.
//
// Two HACA forms coexist: the site-balance form (*_alt, built on the
// steady-state radical-site count c_soot_nought) feeds the source terms; the
// collision form (gamma, dC_tot_dt_HACA) is available on request only.
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

namespace {

// C-H sites per m^2 of soot surface.
constexpr double kSiteDensity = 2.3e19;

// Negative concentrations (numerical noise in the gas solution) count as none.
inline double non_negative(double c) { return (c < 0.0) ? 0.0 : c; }

}  // namespace

// ---- site fraction (alpha) models ------------------------------------------------

// Constant site fraction (-).
double SootModel::alpha_constant_body() { return alpha_constant_value; }

// Site fraction from temperature and mu, the carbon atoms of one primary
// particle (-), limited to [0, 1].
double SootModel::alpha_empirical_body() {
  return memoized(Memo::alpha_empirical, [this] {
    const double mu = fdiv(Pi * rho_soot / 6.0 * std::pow(d_p(), 3.0) * Av, MW_carbon);
    const double a = 12.65 - 0.00563 * T;
    const double x = (fdiv(a, std::log10(mu)) - 1.38) + 0.00068 * T;
    double alpha = std::tanh(x);
    if (alpha > 1.0) alpha = 1.0;
    if (alpha < 0.0) alpha = 0.0;
    return alpha;
  });
}

// Site fraction equal to the soot H/C atom ratio, limited to [0, 1] (-).
double SootModel::alpha_ctoh_based_body() {
  double r = fdiv(H_tot, C_tot);
  if (r > 1.0) r = 1.0;
  if (r < 0.0) r = 0.0;
  return r;
}

// ---- site-balance HACA -------------------------------------------------------------

// Acetylene addition at a radical site and O2 attack on it, m^3/(mol s); shared
// by the site balance and the growth and oxidation rates built on it.
double SootModel::k4_HACA() {
  return memoized(Memo::k4_HACA,
                  [this] { return 80.0 * std::pow(T, 1.56) * std::exp(fdiv(-1912.43, T)); });
}

double SootModel::k5_HACA() {
  return memoized(Memo::k5_HACA, [this] { return 2200000.0 * std::exp(fdiv(-3774.53, T)); });
}

// Steady-state radical sites on the soot surface, mol per kg of gas. Rate
// constants in m^3/(mol s); a gas without any of the six species gives 0.
double SootModel::c_soot_nought_body() {
  return memoized(Memo::c_soot_nought, [this] {
    const double c_H = non_negative(molar_density(H_index));
    const double c_OH = non_negative(molar_density(OH_index));
    const double c_H2 = non_negative(molar_density(H2_index));
    const double c_H2O = non_negative(molar_density(H2O_index));
    const double c_C2H2 = non_negative(molar_density(C2H2_index));
    const double c_O2 = non_negative(molar_density(O2_index));

    // C-H + H -> C* + H2; C-H + OH -> C* + H2O; C* + C2H2 -> C-H + H; C* + O2 -> products;
    // C* + H2 -> C-H + H; C* + H2O -> C-H + OH; C* + H -> C-H
    const double k1f = 4.17e7 * std::exp(fdiv(-6542.52, T));
    const double k2f = 10000.0 * std::pow(T, 0.734) * std::exp(fdiv(-719.68, T));
    const double k4 = k4_HACA();
    const double k5 = k5_HACA();
    const double k1b = 3900000.0 * std::exp(fdiv(-5535.98, T));
    const double k2b = 368.0 * std::pow(T, 1.139) * std::exp(fdiv(-8605.94, T));
    const double k3 = 20000000.0;

    const double numerator = k1f * c_H + k2f * c_OH;
    const double denominator = k1b * c_H2 + k2b * c_H2O + k3 * c_H + k4 * c_C2H2 + k5 * c_O2 +
                               k1f * c_H + k2f * c_OH;
    if (denominator == 0.0) return 0.0;
    double f = numerator / denominator;
    if (f > 1.0) f = 1.0;
    if (f < 0.0) f = 0.0;
    return fdiv(kSiteDensity * f * p_A_tot, Av);
  });
}

// Carbon growth by acetylene addition at radical sites, mol C per kg gas per s;
// two carbon atoms per reaction. [C2H2] is used as is (no clip).
double SootModel::dC_tot_dt_HACA_alt_body() {
  return memoized(Memo::dC_tot_dt_HACA_alt, [this] {
    const double k4 = k4_HACA();
    const double c_C2H2 = molar_density(C2H2_index);
    const double alpha = slot_d(SlotId::alpha);
    return 2.0 * HACA_prefactor * alpha * k4 * c_C2H2 * c_soot_nought();
  });
}

// Hydrogen accompanying HACA growth: one H per eight C, mol H per kg gas per s.
double SootModel::dH_tot_dt_HACA_alt_body() { return 0.125 * dC_tot_dt_HACA_alt(); }

// ---- collision-efficiency HACA -------------------------------------------------------

// Acetylene-addition rate constant of the collision form, m^3/(mol s).
double SootModel::K_s_body() { return 80.0 * std::pow(T, 1.56) * std::exp(fdiv(-1912.4, T)); }

// Radical site density from the H/H2 ratio, sites per m^2, capped at the
// C-H site density.
double SootModel::chi_soot_0_body() {
  const double c_H2 = non_negative(molar_density(H2_index));
  const double c_H = non_negative(molar_density(H_index));
  if (c_H2 == 0.0) return 0.0;
  if (c_H / c_H2 <= 0.0) return 0.0;
  const double chi = 3.833e17 * c_H / c_H2;
  return (chi > kSiteDensity) ? kSiteDensity : chi;
}

// Free-molecular acetylene-particle collision kernel, m^3/s. 3.48e-10 m is the
// acetylene collision-diameter contribution, 2.506265664160401e25 1/kg the
// reciprocal of its molecular mass 3.99e-26 kg.
double SootModel::beta_soot_C2H2_body() {
  const double inv_mass = fdiv(1.0, m_p()) + 2.506265664160401e25;
  return 2.2 * Pi * std::pow(p_d_p + 3.48e-10, 2.0) *
         std::pow(fdiv(kB * T, 2.0 * Pi) * inv_mass, 0.5);
}

// Probability that an acetylene collision adds carbon (-).
double SootModel::gamma_body() {
  const double alpha = slot_d(SlotId::alpha);
  const double ks = K_s();
  const double chi = chi_soot_0();
  const double area = A_Ag();
  const double beta = beta_soot_C2H2();
  return fdiv(alpha * ks * chi * area, beta * Av);
}

// Carbon growth rate of the collision form, mol C per kg gas per s.
double SootModel::dC_tot_dt_HACA_body() {
  const double c_C2H2 = non_negative(molar_density(C2H2_index));
  const double g = gamma();
  const double beta = beta_soot_C2H2();
  return 2.0 * g * beta * c_C2H2 * N_agg * Av;
}

// ---- carbonization -----------------------------------------------------------------

// Hydrogen loss by thermal dehydrogenation, mol H per kg gas per s (<= 0).
double SootModel::dH_tot_dt_carb_body() {
  if (!carbonization_enabled) return 0.0;
  return -H_tot * A_carb * std::exp(fdiv(-Ea_carb, R * T));
}

}  // namespace fv::soot
