// PAH growth models 4 ("cross_linking") and 5 ("irreversible_dimerization").
// Both consider homo-dimers only: each PAH dimerizes with its own kind.
//
// Model 4 is radical driven: H abstraction turns a PAH into a radical held in
// quasi-steady state; radical + PAH forms a dimer (inception) and a radical
// hitting a primary particle is adsorbed (growth).
// Model 5 lets every collision of two like PAH molecules form a dimer at the
// free-molecular rate and grows particles by direct PAH adsorption.
//
// Units: concentrations mol/m^3, rate constants m^3/(mol s), rates
// mol/(m^3 s), source terms mol/(kg s), scrub_wdot kmol/(m^3 s), molar masses
// kg/mol.
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

namespace {

// A concentration with negative (and NaN) values read as zero, mol/m^3.
inline double non_negative(double c) { return c > 0.0 ? c : 0.0; }

}  // namespace

// ---- PAH properties ------------------------------------------------------------

// Mass of one molecule of PAH i, kg.
double SootModel::m_PAH_body(int PAH_id) { return pah_mass(PAH_id); }

// Diameter of PAH i, m, from its molecule mass and a material density
// (kg/m^3) set by its mean atomic molar mass; the density is formed first.
double SootModel::d_PAH_body(int PAH_id) {
  return memoized_at(memo_pah_diameter_, PAH_id, [&] {
    const double rho = pah_density(PAH_id);
    const double m = m_PAH(PAH_id);
    return sphere_diameter(PAH_id, m, rho);
  });
}

// ---- model 4: cross-linking --------------------------------------------------------

void SootModel::create_PAH_dimer_crosslinking_body() {
  const std::size_t n = PAH_indices.size();
  p_k_f_soot_PAH.resize(n);
  p_dC_tot_dt_PAH_each.resize(n);
  p_dH_tot_dt_PAH_each.resize(n);
  azeros(ArrayId::p_ROP, static_cast<long>(n));
  p_PAH_radical_.resize(n);
}

// Radical + PAH -> dimer, m^3/(mol s): enhanced free-molecular kernel with a
// collision diameter of twice the PAH diameter.
double SootModel::k_f3_crosslinking_body(int PAH_id) {
  return memoized_at(memo_k_f3_, PAH_id, [&] {
    const double speed = std::sqrt(fdiv(8.0 * Pi * kB * T, reduced_m(PAH_id, PAH_id)));
    const double d = 2.0 * d_PAH(PAH_id);
    return speed * cross_k_f3_prefactor * 2.2 * Av * (d * d);
  });
}

// Radical adsorption on soot, m^3/(mol s).
double SootModel::k_f4_crosslinking_body(int PAH_id) {
  return adsorb_eff * k_f_soot_PAH(PAH_id);
}

// Steady radical concentration of PAH i, mol/m^3: produced by H abstraction
// (PAH + H -> R + H2, k_f1), consumed by its reverse (k_r1), H addition (k_f2),
// dimerization (k_f3) and adsorption on primaries (k_f4, N_pri density per m^3
// in mol). Zero when nothing consumes the radical.
double SootModel::PAH_radical_body(int PAH_id) {
  const int g = FV_AT(PAH_indices, PAH_id);
  const double c_PAH = non_negative(molar_density(g));
  const double c_H2 = non_negative(molar_density(H2_index));
  const double c_H = non_negative(molar_density(H_index));
  const double S = N_pri * density;

  const double n_C = FV_AT(PAH_n_C, PAH_id);
  // the temperature factors are the same for every PAH
  const double k_f1 = cross_k_f1_prefactor * 98.0 * n_C *
                      memoized(Memo::T_pow_1_84, [this] { return std::pow(T, 1.84); }) *
                      memoized(Memo::exp_k_f1, [this] { return std::exp(fdiv(-62886.6, R * T)); });
  // the reverse step uses the fixed gas constant, not the R attribute
  const double k_r1 = memoized(Memo::k_r1, [this] {
    return cross_k_r1_prefactor * 0.016 * std::pow(T, 2.63) *
           std::exp(fdiv(-17837.4, 8.31446261815324 * T));
  });
  // 8.079999999999999e-17 is the double just below 8.08e-17
  const double k_f2 = memoized(Memo::k_f2, [this] {
    return cross_k_f2_prefactor * 8.079999999999999e-17 * Av * std::pow(T, 0.13);
  });

  const double k_f3 = k_f3_crosslinking(PAH_id);
  const double k_f4 = k_f4_crosslinking(PAH_id);
  const double D = k_r1 * c_H2 + k_f2 * c_H + k_f3 * c_PAH + k_f4 * S;
  if (D > 0.0) return k_f1 * c_PAH * c_H / D;
  return 0.0;
}

void SootModel::update_PAH_radical_body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) FV_AT(p_PAH_radical_, i) = PAH_radical(static_cast<int>(i));
}

// Dimerization rate of PAH i, mol/(m^3 s).
double SootModel::ROP_dimer_crosslinking_body(int PAH_id) {
  const double k_f3 = k_f3_crosslinking(PAH_id);
  const double radical = FV_AT(p_PAH_radical_, PAH_id);
  const int g = FV_AT(PAH_indices, PAH_id);
  return k_f3 * radical * non_negative(molar_density(g));
}

void SootModel::update_ROP_crosslinking_body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    double r = ROP_dimer_crosslinking(static_cast<int>(i));
    if (r < 0.0) r = 0.0;
    aset(ArrayId::p_ROP, i, r);
  }
}

// Adsorption rate of radicals of PAH i on primary particles, mol/(m^3 s).
double SootModel::PAH_adsorption_rate_body(int PAH_id) {
  const double k_f4 = k_f4_crosslinking(PAH_id);
  return k_f4 * FV_AT(p_PAH_radical_, PAH_id) * N_pri * density;
}

// Growth by adsorbed radicals of PAH i, mol/(kg s); two hydrogen atoms per
// molecule end up in the gas.
double SootModel::dC_tot_dt_PAH_each_crosslinking_body(int PAH_id) {
  const double n_C = FV_AT(PAH_n_C, PAH_id);
  return fdiv(n_C * PAH_adsorption_rate(PAH_id), density);
}

double SootModel::dH_tot_dt_PAH_each_crosslinking_body(int PAH_id) {
  const double n_H = FV_AT(PAH_n_H, PAH_id);
  return fdiv((n_H - 2.0) * PAH_adsorption_rate(PAH_id), density);
}

void SootModel::PAH_growth_update_crosslinking_body() {
  update_PAH_radical();
  update_ROP_crosslinking();
  accumulate_PAH_growth(&SootModel::dC_tot_dt_PAH_each_crosslinking,
                        &SootModel::dH_tot_dt_PAH_each_crosslinking);
}

// Inception, mol/(kg s): a dimer holds two molecules of its PAH with all their
// hydrogen; new aggregates are counted in units of min_n_C carbon atoms.
double SootModel::inception_N_agg_crosslinking_body() {
  return sum_over_PAHs([&](long i) {
    const double n_C = FV_AT(PAH_n_C, i);
    return fdiv(fdiv(2.0 * n_C, static_cast<double>(min_n_C)) * aget(ArrayId::p_ROP, i), density);
  });
}

double SootModel::inception_C_tot_crosslinking_body() {
  return sum_over_PAHs([&](long i) {
    const double n_C = FV_AT(PAH_n_C, i);
    return fdiv(2.0 * n_C * aget(ArrayId::p_ROP, i), density);
  });
}

double SootModel::inception_H_tot_crosslinking_body() {
  return sum_over_PAHs([&](long i) {
    const double n_H = FV_AT(PAH_n_H, i);
    return fdiv(2.0 * n_H * aget(ArrayId::p_ROP, i), density);
  });
}

// Gas-phase consumption, kmol/(m^3 s): two PAH molecules per dimer (their
// hydrogen stays in the dimer); each adsorbed radical takes one PAH molecule
// and releases two H atoms.
void SootModel::update_scrub_wdot_PAH_growth_crosslinking_body() {
  MemoScope memo(*this);  // the adsorption rates share PAH sizes and the slip correction
  const long n = static_cast<long>(PAH_indices.size());
  if (inception_enabled) {
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      aadd(ArrayId::scrub_wdot, g, -(2.0 * aget(ArrayId::p_ROP, i) / 1000.0));
    }
  }
  if (growth_enabled && growth_PAH_adsorption_enabled) {
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      const double a = PAH_adsorption_rate(static_cast<int>(i));
      aadd(ArrayId::scrub_wdot, g, -(a / 1000.0));
      aadd(ArrayId::scrub_wdot, H_index, 2.0 * a / 1000.0);
    }
  }
}

// ---- model 5: irreversible dimerization ----------------------------------------------

// Homo-pair tables: entry i is the dimer of PAH i with itself.
void SootModel::create_PAH_dimer_irrevd_body() {
  const std::size_t n = PAH_indices.size();
  p_dC_tot_dt_PAH_each.resize(n);
  p_dH_tot_dt_PAH_each.resize(n);
  dimer_PAH_1_id.resize(n);
  dimer_PAH_2_id.resize(n);
  const long len = static_cast<long>(n);
  azeros(ArrayId::dimer_n_C, len);
  azeros(ArrayId::dimer_n_H, len);
  azeros(ArrayId::p_ROP, len);
  for (long i = 0; i < len; ++i) {
    FV_AT(dimer_PAH_1_id, i) = static_cast<int>(i);
    FV_AT(dimer_PAH_2_id, i) = static_cast<int>(i);
    aset(ArrayId::dimer_n_C, i, 2.0 * FV_AT(PAH_n_C, i));
    aset(ArrayId::dimer_n_H, i, 2.0 * FV_AT(PAH_n_H, i));
  }
}

// Dimerization constant of PAHs j and k, m^3/(mol s): enhanced free-molecular
// collision kernel, every collision sticking.
double SootModel::k_nuc_irrevd(int PAH_1_id, int PAH_2_id) {
  const double d = reduced_d(PAH_1_id, PAH_2_id);
  const double mu = reduced_m(PAH_1_id, PAH_2_id);
  return (d * d) * Av * 2.2 * std::sqrt(fdiv(8.0 * Pi * kB * T, mu));
}

// p_ROP[p], mol/(m^3 s); concentrations and rates are used unclipped.
void SootModel::update_ROP_irrevd() {
  const long n = static_cast<long>(dimer_PAH_1_id.size());
  for (long p = 0; p < n; ++p) {
    const int j = FV_AT(dimer_PAH_1_id, p);
    const int k = FV_AT(dimer_PAH_2_id, p);
    const double k_nuc = k_nuc_irrevd(j, k);
    const double c_j = molar_density(FV_AT(PAH_indices, j));
    const double c_k = molar_density(FV_AT(PAH_indices, k));
    aset(ArrayId::p_ROP, p, k_nuc * c_j * c_k);
  }
}

// Free-molecular soot-PAH collision kernel with van der Waals enhancement, m^3/s
// per particle pair.
double SootModel::k_PAH_ads_irrevd_body(int PAH_id) {
  return memoized_at(memo_k_PAH_ads_, PAH_id, [&] {
    const double d_sum = p_d_g + d_PAH(PAH_id);
    const double inv_m_Ag = fdiv(1.0, m_Ag());
    const double inv_m_PAH = fdiv(1.0, m_PAH(PAH_id));
    return 2.2 * (d_sum * d_sum) * std::sqrt((Pi * kB * T / 2.0) * (inv_m_Ag + inv_m_PAH));
  });
}

// Growth by direct adsorption of PAH i on aggregates, mol/(kg s). Carbon and
// hydrogen use the same molar constant Av * k_PAH_ads_irrevd (m^3/(mol s)), so
// both terms and the scrubbing derived from them count the same events; two
// hydrogen atoms per adsorbed molecule go to the gas.
double SootModel::dC_tot_dt_PAH_each_irrevd_body(int PAH_id) {
  const double n_C = FV_AT(PAH_n_C, PAH_id);
  const double k = Av * k_PAH_ads_irrevd(PAH_id);
  const double c = non_negative(molar_density(FV_AT(PAH_indices, PAH_id)));
  return fdiv(n_C * k * (N_agg * density) * c, density);
}

double SootModel::dH_tot_dt_PAH_each_irrevd_body(int PAH_id) {
  const double n_H = FV_AT(PAH_n_H, PAH_id);
  const double k = Av * k_PAH_ads_irrevd(PAH_id);
  const double c = non_negative(molar_density(FV_AT(PAH_indices, PAH_id)));
  return fdiv((n_H - 2.0) * k * (N_agg * density) * c, density);
}

void SootModel::PAH_growth_update_irrevd_body() {
  update_ROP_irrevd();
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    FV_AT(p_dC_tot_dt_PAH_each, i) = dC_tot_dt_PAH_each_irrevd(static_cast<int>(i));
    FV_AT(p_dH_tot_dt_PAH_each, i) = dH_tot_dt_PAH_each_irrevd(static_cast<int>(i));
  }
  p_dC_tot_dt_PAH = dC_tot_dt_PAH();
  p_dH_tot_dt_PAH = dH_tot_dt_PAH();
}

// Inception, mol/(kg s), over the homo-pair tables.
double SootModel::inception_N_agg_irrevd_body() {
  if (modified_particle_addition) {
    // each new particle counted as min_n_C carbon atoms' worth of dimers
    const double carbon = adot(ArrayId::p_ROP, ArrayId::dimer_n_C);
    return fdiv(fdiv(carbon, static_cast<double>(min_n_C)), density);
  }
  return fdiv(asum(ArrayId::p_ROP), density);
}

double SootModel::inception_C_tot_irrevd_body() {
  return fdiv(adot(ArrayId::p_ROP, ArrayId::dimer_n_C), density);
}

double SootModel::inception_H_tot_irrevd_body() {
  return fdiv(adot(ArrayId::p_ROP, ArrayId::dimer_n_H), density);
}

// Gas-phase consumption, kmol/(m^3 s): both molecules of each dimer (the same
// species twice) with one H2 released per event; adsorbed PAH derived from the
// carbon growth, two H atoms released per adsorbed molecule.
void SootModel::update_scrub_wdot_PAH_growth_irrevd_body() {
  MemoScope memo(*this);
  if (inception_enabled) {
    const long n_pairs = static_cast<long>(dimer_PAH_1_id.size());
    for (long p = 0; p < n_pairs; ++p) {
      const int g_1 = FV_AT(PAH_indices, FV_AT(dimer_PAH_1_id, p));
      const int g_2 = FV_AT(PAH_indices, FV_AT(dimer_PAH_2_id, p));
      ElementRead rop(*this, ArrayId::p_ROP, p);
      aadd(ArrayId::scrub_wdot, g_1, -(rop() / 1000.0));
      aadd(ArrayId::scrub_wdot, g_2, -(rop() / 1000.0));
      aadd(ArrayId::scrub_wdot, H2_index, rop() / 1000.0);
    }
  }
  if (growth_enabled && growth_PAH_adsorption_enabled) {
    const long n = static_cast<long>(PAH_indices.size());
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      const double dC = FV_AT(p_dC_tot_dt_PAH_each, i);
      const double n_C = FV_AT(PAH_n_C, i);
      aadd(ArrayId::scrub_wdot, g, -fdiv(dC * density, n_C * 1000.0));
      const double dH = FV_AT(p_dH_tot_dt_PAH_each, i);
      const double n_H = FV_AT(PAH_n_H, i);
      aadd(ArrayId::scrub_wdot, H_index, fdiv(dH * density * 2.0, (n_H - 2.0) * 1000.0));
    }
  }
}

}  // namespace fv::soot
