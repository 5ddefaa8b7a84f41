// Particle morphology, bulk soot properties and the gas-side quantities the
// particle processes need (concentrations, mean free path, diffusivity).
//
// Picture: an aggregate holds n_p equal spherical primaries; the carbon volume
// is shared equally among all primaries, hydrogen adds mass but no volume
// (except in the volume fraction). Composite quantities call their components
// through the entries so that an override of, say, A_p reaches A_tot and SSA.
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

// ---- gas-side quantities ------------------------------------------------------

// Molar concentration of gas species `index`, mol/m^3 (X follows NumPy indexing).
// Kept per gas index while the memo is on; an index the host rejects is never
// kept, so the table grows at most to the length of X.
double SootModel::molar_density_body(int index) {
  auto compute = [&] { return fdiv(aget(ArrayId::X, index) * density, mean_MW); };
  if (!memo_on_ || index < 0) return compute();
  const auto i = static_cast<std::size_t>(index);
  if (i < memo_molar_density_.size() && memo_molar_density_[i].epoch == memo_epoch_)
    return memo_molar_density_[i].value;
  const std::uint64_t epoch = memo_epoch_;
  const double c = compute();
  if (memo_on_ && memo_epoch_ == epoch) {
    if (i >= memo_molar_density_.size()) memo_molar_density_.resize(i + 1);
    memo_molar_density_[i] = MemoCell{c, epoch};
  }
  return c;
}

// Mean free path of the gas, m; kB * Av stands for the gas constant.
double SootModel::calc_lambda_gas_body() {
  return fdiv(viscosity, density) * std::pow(fdiv(Pi * mean_MW, 2.0 * kB * Av * T), 0.5);
}

// Fixed soot diffusion coefficient, m^2/s (coagulation validation case).
double SootModel::diffus_coeff_const_body() { return diffus_coeff_const_val; }

// Stokes-Einstein diffusivity of an aggregate of the cached mobility diameter
// with slip correction, m^2/s. Reads only the cached p_d_m and p_lambda_gas.
double SootModel::diffus_coeff_morph_body() {
  const double Kn = fdiv(2.0 * p_lambda_gas, p_d_m);
  const double Cc = 1.0 + Kn * (1.21 + 0.4 * std::exp(fdiv(-0.78 * p_d_m, p_lambda_gas)));
  return fdiv(kB * T, fdiv(3.0 * Pi * viscosity * p_d_m, Cc));
}

// Optical dispersion exponent, linear in the soot H/C atom ratio (-).
double SootModel::dispersion_exponent_body() {
  return 2.339156177 * fdiv(H_tot, C_tot) + 0.690753997;
}

// ---- bulk soot properties -------------------------------------------------------

// Soot volume fraction, m^3 soot per m^3 gas; carbon and hydrogen mass both count.
double SootModel::volume_fraction_body() {
  return fdiv((C_tot * MW_carbon + H_tot * MW_hydrogen) * density, rho_soot);
}

// Soot mass, kg per kg of gas mixture.
double SootModel::total_mass_body() {
  const double carbon = carbon_mass();
  return carbon + hydrogen_mass();
}

// Carbon held in soot, kg per kg of gas mixture.
double SootModel::carbon_mass_body() { return C_tot * MW_carbon; }

// Hydrogen held in soot, kg per kg of gas mixture.
double SootModel::hydrogen_mass_body() { return H_tot * MW_hydrogen; }

// Specific surface area, m^2 per g of soot.
double SootModel::SSA_body() {
  const double area = A_tot();
  return pydiv(area, total_mass()) / 1000.0;
}

// Soot volume from the carbon mass only, m^3 per kg of gas.
double SootModel::V_tot_body() { return fdiv(C_tot * MW_carbon, rho_soot); }

// Total primary-particle surface, m^2 per kg of gas.
double SootModel::A_tot_body() { return N_pri * Av * A_p(); }

// ---- aggregates ----------------------------------------------------------------

// Surface of one aggregate, m^2.
double SootModel::A_Ag_body() {
  const double n = n_p();
  return n * A_p();
}

// Volume of one aggregate, m^3.
double SootModel::V_Ag_body() {
  return memoized(Memo::V_Ag, [this] { return pydiv(V_tot(), N_agg * Av); });
}

// Mass of one aggregate, kg.
double SootModel::m_Ag_body() {
  return memoized(Memo::m_Ag, [this] { return V_Ag() * rho_soot; });
}

// Mobility diameter, m: d_p n_p^0.45, never below the primary diameter.
double SootModel::d_m_body() {
  return memoized(Memo::d_m, [this] {
    const double single = d_p();
    const double d = d_p();
    const double chain = d * std::pow(n_p(), 0.45);
    return (chain > single) ? chain : single;
  });
}

// Gyration diameter, m, from the mobility diameter.
double SootModel::d_g_body() {
  const double n = n_p();
  if (n > 1.5) {
    const double dm = d_m();
    return fdiv(dm, std::pow(n, -0.2) + 0.4);
  }
  return d_m() / 1.29;
}

// ---- primary particles ------------------------------------------------------------

// Volume of one primary particle, m^3.
double SootModel::V_p_body() { return pydiv(V_tot(), N_pri * Av); }

// Surface of one primary particle, m^2 (exponent 0.6666666667 as calibrated).
double SootModel::A_p_body() { return Pi * std::pow(fdiv(6.0 * V_p(), Pi), 0.6666666667); }

// Primary particle diameter, m (exponent 0.333334 as calibrated).
double SootModel::d_p_body() {
  return memoized(Memo::d_p, [this] { return std::pow(fdiv(6.0 * V_p(), Pi), 0.333334); });
}

// Primaries per aggregate (-).
double SootModel::n_p_body() { return fdiv(N_pri, N_agg); }

// Mass of one primary particle, kg.
double SootModel::m_p_body() { return Pi * rho_soot * std::pow(d_p(), 3.0) / 6.0; }

}  // namespace fv::soot
