// PAH growth model 1: reactive dimerization and PAH adsorption.
//
// Inception: two PAH molecules collide into a physically bound dimer, which
// reacts irreversibly into a soot nucleus. Surface growth: a gas-phase PAH
// adsorbs on an aggregate as a soot-PAH complex, which reacts into the
// particle and releases two H atoms. The dimer and the complex are either in
// quasi-steady state or transported gas-phase pseudo-species.
//
// Units: concentrations mol/m^3, molar masses kg/mol, soot source terms
// mol/(kg s); the gas-phase rate arrays phy_dimer_wdot, soot_PAH_wdot and
// scrub_wdot are kmol/(m^3 s) (mol rates divided by 1000).
//
// PAHs are addressed by their position in PAH_indices; pairs (j, k), j <= k,
// are numbered with j outer and k from j upward: (0,0), (0,1) ... (1,1) ...
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

// ---- PAH properties (shared with growth models 4 and 5) --------------------------

// Mass of one molecule of the PAH at position i, kg.
double SootModel::pah_mass(int i) {
  return memoized_at(memo_pah_mass_, i, [&] {
    const int g = FV_AT(PAH_indices, i);
    return fdiv(aget(ArrayId::MWs, g), Av);
  });
}

// Molar mass of the PAH at position i, kg/mol.
double SootModel::pah_MW(int i) {
  return memoized_at(memo_pah_MW_, i, [&] { return aget(ArrayId::MWs, FV_AT(PAH_indices, i)); });
}

// Material density of the PAH at position i, kg/m^3: the mean atomic molar
// mass (kg/mol) scaled by 171943.5197.
double SootModel::pah_density(int i) {
  const double n_C = FV_AT(PAH_n_C, i);
  const double n_H = FV_AT(PAH_n_H, i);
  return fdiv(171943.5197 * (n_C * MW_carbon + n_H * MW_hydrogen), n_C + n_H);
}

// Diameter of a sphere of the given mass (kg) and material density (kg/m^3), m,
// for PAH i.
double SootModel::sphere_diameter(int i, double mass, double rho) {
  return kept_pow(PowSite::pah_diameter, i, fdiv(6.0 * mass, rho * Pi), 0.3333333333333333);
}

// Diameter of the PAH at position i, m (mass first, then density; d_PAH keeps
// the same value with the opposite order).
double SootModel::pah_diameter(int i) {
  return memoized_at(memo_pah_diameter_, i, [&] {
    const double mass = pah_mass(i);
    const double rho = pah_density(i);
    return sphere_diameter(i, mass, rho);
  });
}

// Concentration of the PAH at position i in the gas, mol/m^3 (not clipped).
double SootModel::pah_concentration(int i) {
  return memoized_at(memo_pah_concentration_, i,
                     [&] { return molar_density(FV_AT(PAH_indices, i)); });
}

namespace {

// Negative (and NaN) concentrations read as zero.
inline double non_negative(double c) { return c > 0.0 ? c : 0.0; }

// ---- pair kernels: one source for the methods and the fast path ----------------

// a b / (a + b): the reduced mass of two masses (kg or kg/mol).
inline double reduced_value(double a, double b) { return fdiv(a * b, a + b); }

// Collision diameter of two molecules of diameters d_1, d_2 (m): twice their
// harmonic combination, m.
inline double collision_diameter(double d_1, double d_2) {
  return fdiv(2.0 * d_1 * d_2, d_1 + d_2);
}

// Physical dimerization rate constant, m^3/(mol s), for collision diameter d
// (m) and reduced mass mu (kg): free-molecular collision rate with a van der
// Waals enhancement of 2.2 and a collision efficiency of 0.1 (full-precision pi).
inline double forward_rate(double prefactor, double Av, double kB, double T, double d,
                           double mu) {
  return prefactor * 2.2 * 0.1 * Av * std::pow(d, 2.0) *
         std::sqrt(fdiv(8.0 * constants::pi * kB * T, mu));
}

// Boltzmann factor of the binding of a physically bound pair of reduced molar
// mass mu (kg/mol): exp(-0.115 E ln10 / (R T)), E = 933420 mu - 34053.
inline double binding_exp(double T, double R, double mu) {
  const double E = 933420.0 * mu - 34053.0;
  return std::exp(fdiv(-0.115 * E * std::log(10.0), T * R));
}

// Dissociation rate (1/s) from the forming rate constant and the binding factor.
inline double reverse_rate(double forward, double binding) {
  return forward * std::pow(10.0, -1.8) * binding;
}

}  // namespace

// ---- set-up ---------------------------------------------------------------------

void SootModel::create_PAH_dimer_reactived_body() {
  const long n = static_cast<long>(PAH_indices.size());
  p_k_f_soot_PAH.resize(n);
  p_k_r_soot_PAH.resize(n);
  p_soot_PAH_star.resize(n);
  p_dC_tot_dt_PAH_each.resize(n);
  p_dH_tot_dt_PAH_each.resize(n);
  azeros(ArrayId::soot_PAH_wdot, n);

  const long n_pairs = n * (n + 1) / 2;
  dimer_PAH_1_id.resize(n_pairs);
  dimer_PAH_2_id.resize(n_pairs);
  azeros(ArrayId::dimer_n_C, n_pairs);
  azeros(ArrayId::dimer_n_H, n_pairs);
  azeros(ArrayId::p_ROP, n_pairs);
  azeros(ArrayId::phy_dimer_wdot, n_pairs);
  p_phy_dimer_.resize(n_pairs);

  long p = 0;
  for (long j = 0; j < n; ++j) {
    for (long k = j; k < n; ++k) {
      FV_AT(dimer_PAH_1_id, p) = static_cast<int>(j);
      FV_AT(dimer_PAH_2_id, p) = static_cast<int>(k);
      // the dimer keeps every atom of both PAHs
      aset(ArrayId::dimer_n_C, p, FV_AT(PAH_n_C, j) + FV_AT(PAH_n_C, k));
      aset(ArrayId::dimer_n_H, p, FV_AT(PAH_n_H, j) + FV_AT(PAH_n_H, k));
      ++p;
    }
  }
}

// ---- pair kinetics ---------------------------------------------------------------

// Reduced mass of the pair, kg.
double SootModel::reduced_m_body(int PAH_1_id, int PAH_2_id) {
  const double m_1 = pah_mass(PAH_1_id);
  const double m_2 = pah_mass(PAH_2_id);
  return reduced_value(m_1, m_2);
}

// Collision diameter of the pair, m: twice the harmonic combination of the
// two PAH diameters.
double SootModel::reduced_d_body(int PAH_1_id, int PAH_2_id) {
  const double d_1 = pah_diameter(PAH_1_id);
  const double d_2 = pah_diameter(PAH_2_id);
  return collision_diameter(d_1, d_2);
}

// Physical dimerization rate constant of the pair, m^3/(mol s).
double SootModel::k_FWD_body(int PAH_1_id, int PAH_2_id) {
  return memoized_pair(memo_k_FWD_, PAH_1_id, PAH_2_id, [&] {
    const double d = reduced_d(PAH_1_id, PAH_2_id);
    const double mu = reduced_m(PAH_1_id, PAH_2_id);
    return forward_rate(k_FWD_prefactor, Av, kB, T, d, mu);
  });
}

// Dissociation rate of the physical dimer, 1/s.
double SootModel::k_REV_body(int PAH_1_id, int PAH_2_id) {
  return memoized_pair(memo_k_REV_, PAH_1_id, PAH_2_id, [&] {
    const double MW_1 = pah_MW(PAH_1_id);
    const double MW_2 = pah_MW(PAH_2_id);
    const double mu = reduced_value(MW_1, MW_2);
    const double forward = k_FWD(PAH_1_id, PAH_2_id);
    return reverse_rate(forward, binding_exp(T, R, mu));
  });
}

// ---- direct pair kinetics (memo on) ----------------------------------------------
// With no hooks every entry runs its body, so the pair loops may form k_FWD and
// k_REV from the kernels above on per-PAH values gathered once, doing the
// fallible steps of k_FWD_body, reduced_d_body, reduced_m_body and k_REV_body
// in their order. If a per-PAH value cannot be formed, the loops take the
// entry path instead, which raises that error where it belongs.

bool SootModel::load_pah_inputs() {
  const long n = static_cast<long>(PAH_indices.size());
  pah_inputs_.resize(static_cast<std::size_t>(n));
  try {
    for (long i = 0; i < n; ++i) {
      const int a = static_cast<int>(i);
      PahInputs& in = pah_inputs_[static_cast<std::size_t>(i)];
      in.c = pah_concentration(a);
      in.d = pah_diameter(a);
      in.m = pah_mass(a);
      in.MW = pah_MW(a);
    }
  } catch (const Error& e) {
    if (e.kind() == ErrorKind::PythonPending) throw;
    return false;  // nothing but kept values was changed
  }
  return true;
}

void SootModel::pair_rates_direct(long j, long k, double& forward, double& reverse) {
  const PahInputs& A = pah_inputs_[static_cast<std::size_t>(j)];
  const PahInputs& B = pah_inputs_[static_cast<std::size_t>(k)];
  const double d = collision_diameter(A.d, B.d);
  const double mu = reduced_value(A.m, B.m);
  forward = forward_rate(k_FWD_prefactor, Av, kB, T, d, mu);
  const double mu_MW = reduced_value(A.MW, B.MW);
  reverse = reverse_rate(forward, binding_exp(T, R, mu_MW));
  if (j < memo_n_pair_ && k < memo_n_pair_) {  // later k_FWD/k_REV calls of this scope
    const std::size_t cell = static_cast<std::size_t>(j * memo_n_pair_ + k);
    memo_k_FWD_[cell] = MemoCell{forward, memo_epoch_};
    memo_k_REV_[cell] = MemoCell{reverse, memo_epoch_};
  }
}

// Rate of the irreversible reaction of a physical dimer into a nucleus, 1/s.
double SootModel::k_REAC_body() {
  return memoized(Memo::k_REAC, [this] {
    return K_REACT_prefactor * 5.0e6 * std::exp(fdiv(-Ea_REACT_prefactor * 96232.0, T * R));
  });
}

// Reaction rate of the physical dimer of pair dimer_id, mol/(m^3 s).
double SootModel::ROP_dimer_body(int dimer_id) {
  const double k = k_REAC();
  return k * FV_AT(p_phy_dimer_, dimer_id);
}

// ---- physical dimer --------------------------------------------------------------

// Physical dimer concentrations, mol/m^3: the quasi-steady balance of
// formation against dissociation and reaction, or the transported species.
void SootModel::update_phy_dimer__body() {
  if (steady_state_physical_dimerization) {
    const long n = static_cast<long>(PAH_indices.size());
    const bool direct = memo_on_ && load_pah_inputs();
    long p = 0;
    for (long j = 0; j < n; ++j) {
      for (long k = j; k < n; ++k) {
        if (direct && memo_on_) {
          const double c_j = pah_inputs_[static_cast<std::size_t>(j)].c;
          const double c_k = pah_inputs_[static_cast<std::size_t>(k)].c;
          double forward, reverse;
          pair_rates_direct(j, k, forward, reverse);
          const double formation = forward * c_j * c_k;
          const double loss = reverse + k_REAC();
          FV_AT(p_phy_dimer_, p) = fdiv(formation, loss);
        } else {
          const int a = static_cast<int>(j);
          const int b = static_cast<int>(k);
          const double c_j = pah_concentration(a);
          const double c_k = pah_concentration(b);
          const double formation = k_FWD(a, b) * c_j * c_k;
          const double loss = k_REV(a, b) + k_REAC();
          FV_AT(p_phy_dimer_, p) = fdiv(formation, loss);
        }
        ++p;
      }
    }
  } else {
    const long n_pairs = static_cast<long>(dimer_PAH_1_id.size());
    for (long p = 0; p < n_pairs; ++p)
      FV_AT(p_phy_dimer_, p) = molar_density(FV_AT(phy_dimer_indices, p));
  }
}

// Nucleation rate per pair, mol/(m^3 s); a negative rate (from negative
// concentrations) is set to zero.
void SootModel::update_ROP() {
  const long n_pairs = static_cast<long>(dimer_PAH_1_id.size());
  for (long p = 0; p < n_pairs; ++p) {
    double r = ROP_dimer(static_cast<int>(p));
    if (r < 0.0) r = 0.0;
    aset(ArrayId::p_ROP, p, r);
  }
}

// Net production of each transported physical-dimer species by formation and
// dissociation, kmol/(m^3 s). Its loss by reaction is booked in scrub_wdot.
void SootModel::update_phy_dimer_wdot_body() {
  const long n = static_cast<long>(PAH_indices.size());
  const bool direct = memo_on_ && load_pah_inputs();
  long p = 0;
  for (long j = 0; j < n; ++j) {
    for (long k = j; k < n; ++k) {
      const int a = static_cast<int>(j);
      const int b = static_cast<int>(k);
      double formation, dissociation;
      if (direct && memo_on_) {
        const double c_j = pah_inputs_[static_cast<std::size_t>(j)].c;
        const double c_k = pah_inputs_[static_cast<std::size_t>(k)].c;
        const double c_D = molar_density(FV_AT(phy_dimer_indices, p));
        double forward, reverse;
        pair_rates_direct(j, k, forward, reverse);
        formation = forward * c_j * c_k;
        dissociation = reverse * c_D;
      } else {
        const double c_j = pah_concentration(a);
        const double c_k = pah_concentration(b);
        const double c_D = molar_density(FV_AT(phy_dimer_indices, p));
        formation = k_FWD(a, b) * c_j * c_k;
        dissociation = k_REV(a, b) * c_D;
      }
      aset(ArrayId::phy_dimer_wdot, p, (formation - dissociation) / 1000.0);
      ++p;
    }
  }
}

// ---- soot-PAH adsorption ---------------------------------------------------------

// Free-molecular collision kernel of an aggregate (gyration diameter) with the
// PAH, m^3/s, with the van der Waals enhancement 2.2.
double SootModel::beta_fm_soot_PAH_body(int PAH_id) {
  const double d_i = pah_diameter(PAH_id);
  const double inv_m_agg = fdiv(1.0, m_Ag());
  const double inv_m_i = fdiv(1.0, pah_mass(PAH_id));
  return 2.2 * std::pow(p_d_g + d_i, 2.0) *
         std::sqrt(Pi * kB * T / 2.0 * (inv_m_agg + inv_m_i));
}

// Continuum collision kernel of an aggregate with the PAH, m^3/s. The
// aggregate's slip correction is taken at its mobility diameter.
double SootModel::beta_cont_soot_PAH_body(int PAH_id) {
  const double d_i = pah_diameter(PAH_id);
  const double prefactor = fdiv(2.0 * kB * T, 3.0 * viscosity);
  // the aggregate's correction is the same for every PAH
  const double soot = fdiv(memoized(Memo::C_S_soot_d_m, [this] { return C_S_soot(p_d_m); }), p_d_g);
  const double pah = fdiv(C_S_soot(d_i), d_i);
  return prefactor * (soot + pah) * (d_i + p_d_g);
}

// Cunningham slip correction at diameter d (m) in the gas of mean free path
// p_lambda_gas.
double SootModel::C_S_soot_body(double d) {
  const double lambda = p_lambda_gas;
  return 1.0 + fdiv(2.0 * lambda, d) * (1.21 + 0.4 * std::exp(fdiv(-0.78 * d, lambda)));
}

// Forward adsorption rate constant, m^3/(mol s): harmonic transition between
// the free-molecular and continuum kernels.
double SootModel::k_f_soot_PAH_body(int PAH_id) {
  return memoized_at(memo_k_f_soot_PAH_, PAH_id, [&] {
    const double fm = beta_fm_soot_PAH(PAH_id);
    const double cont = beta_cont_soot_PAH(PAH_id);
    return fdiv(Av * fm * cont, fm + cont);
  });
}

// Desorption rate of the soot-PAH complex, from the stored forward constant
// and the binding of the PAH to an aggregate counted as carbon only.
double SootModel::k_r_soot_PAH_body(int PAH_id) {
  const double M_agg = fdiv(C_tot * MW_carbon, N_agg);  // kg/mol
  const double MW_i = pah_MW(PAH_id);
  const double mu = fdiv(M_agg * MW_i, M_agg + MW_i);
  const double forward = FV_AT(p_k_f_soot_PAH, PAH_id);
  return reverse_rate(forward, binding_exp(T, R, mu));
}

// Rate of the complex's reaction into soot, 1/s.
double SootModel::k_PAH_body() {
  return memoized(Memo::k_PAH, [this] {
    return K_PAH_ADS_prefactor * 2.0e10 * std::exp(fdiv(-Ea_PAH_ADS_prefactor * 96232.0, T * R));
  });
}

// Quasi-steady concentration of the soot-PAH complex, mol/m^3.
double SootModel::soot_PAH_star_body(int PAH_id) {
  const double c_i = non_negative(pah_concentration(PAH_id));
  const double adsorption = N_agg * density * FV_AT(p_k_f_soot_PAH, PAH_id) * c_i;
  const double desorption = FV_AT(p_k_r_soot_PAH, PAH_id);
  return fdiv(adsorption, desorption + k_PAH());
}

// Complex concentrations, mol/m^3: quasi-steady or the transported species.
void SootModel::update_p_soot_PAH_body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    if (steady_state_PAH_adsorption)
      FV_AT(p_soot_PAH_star, i) = soot_PAH_star(static_cast<int>(i));
    else
      FV_AT(p_soot_PAH_star, i) = non_negative(molar_density(FV_AT(soot_PAH_indices, i)));
  }
}

// Net production of each transported soot-PAH species by adsorption and
// desorption, kmol/(m^3 s). Its loss by reaction is booked in scrub_wdot.
void SootModel::update_soot_PAH_wdot_body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const double c_i = non_negative(pah_concentration(static_cast<int>(i)));
    const double c_S = non_negative(molar_density(FV_AT(soot_PAH_indices, i)));
    const double adsorption = N_agg * density * FV_AT(p_k_f_soot_PAH, i) * c_i;
    const double desorption = FV_AT(p_k_r_soot_PAH, i) * c_S;
    aset(ArrayId::soot_PAH_wdot, i, (adsorption - desorption) / 1000.0);
  }
}

// ---- growth by adsorption, mol/(kg s) ----------------------------------------------

double SootModel::dC_tot_dt_PAH_each_reactived_body(int PAH_id) {
  const double n_C = FV_AT(PAH_n_C, PAH_id);
  const double k = k_PAH();
  return fdiv(n_C * k * FV_AT(p_soot_PAH_star, PAH_id), density);
}

// Two hydrogen atoms leave per adsorbed PAH.
double SootModel::dH_tot_dt_PAH_each_reactived_body(int PAH_id) {
  const double n_H = FV_AT(PAH_n_H, PAH_id);
  const double k = k_PAH();
  return fdiv((n_H - 2.0) * k * FV_AT(p_soot_PAH_star, PAH_id), density);
}

double SootModel::dC_tot_dt_PAH_body() {
  const long n = static_cast<long>(p_dC_tot_dt_PAH_each.size());
  double sum = 0.0;
  for (long i = 0; i < n; ++i) sum += FV_AT(p_dC_tot_dt_PAH_each, i);
  return sum;
}

double SootModel::dH_tot_dt_PAH_body() {
  const long n = static_cast<long>(p_dH_tot_dt_PAH_each.size());
  double sum = 0.0;
  for (long i = 0; i < n; ++i) sum += FV_AT(p_dH_tot_dt_PAH_each, i);
  return sum;
}

// ---- per-state update ------------------------------------------------------------

void SootModel::PAH_growth_update_reactived_body() {
  update_phy_dimer_();
  update_ROP();
  if (!steady_state_physical_dimerization) update_phy_dimer_wdot();

  const long n = static_cast<long>(PAH_indices.size());
  for (long j = 0; j < n; ++j) {
    // the desorption rate reads the forward constant stored just before
    FV_AT(p_k_f_soot_PAH, j) = k_f_soot_PAH(static_cast<int>(j));
    FV_AT(p_k_r_soot_PAH, j) = k_r_soot_PAH(static_cast<int>(j));
  }

  update_p_soot_PAH();
  if (!steady_state_PAH_adsorption) update_soot_PAH_wdot();

  const long n_growth = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n_growth; ++i) {
    FV_AT(p_dC_tot_dt_PAH_each, i) = dC_tot_dt_PAH_each_reactived(static_cast<int>(i));
    FV_AT(p_dH_tot_dt_PAH_each, i) = dH_tot_dt_PAH_each_reactived(static_cast<int>(i));
  }

  p_dC_tot_dt_PAH = dC_tot_dt_PAH();
  p_dH_tot_dt_PAH = dH_tot_dt_PAH();
}

// ---- inception, mol/(kg s) ---------------------------------------------------------

// New aggregates: one per dimer, or, with modified_particle_addition, one per
// min_n_C carbon atoms of dimers.
double SootModel::inception_N_agg_reactived_body() {
  if (modified_particle_addition) {
    const double carbon = adot(ArrayId::p_ROP, ArrayId::dimer_n_C);
    return fdiv(fdiv(carbon, static_cast<double>(min_n_C)), density);
  }
  return fdiv(asum(ArrayId::p_ROP), density);
}

double SootModel::inception_C_tot_reactived_body() {
  return fdiv(adot(ArrayId::p_ROP, ArrayId::dimer_n_C), density);
}

double SootModel::inception_H_tot_reactived_body() {
  return fdiv(adot(ArrayId::p_ROP, ArrayId::dimer_n_H), density);
}

// ---- scrubbing, kmol/(m^3 s) -------------------------------------------------------

// Gas-phase consumption by inception and adsorption. Each dimerization
// releases one H2, each adsorbed PAH two H atoms. A self-pair charges its PAH
// twice. Every term is written back before the next is formed, so an error
// leaves the terms already added in place.
void SootModel::update_scrub_wdot_PAH_growth_reactived_body() {
  MemoScope memo(*this);
  const ArrayId W = ArrayId::scrub_wdot;
  if (inception_enabled) {
    const long n_pairs = static_cast<long>(dimer_PAH_1_id.size());
    for (long p = 0; p < n_pairs; ++p) {
      ElementRead rop(*this, ArrayId::p_ROP, p);
      if (steady_state_physical_dimerization) {
        aadd(W, FV_AT(PAH_indices, FV_AT(dimer_PAH_1_id, p)), -(rop() / 1000.0));
        aadd(W, FV_AT(PAH_indices, FV_AT(dimer_PAH_2_id, p)), -(rop() / 1000.0));
        aadd(W, H2_index, rop() / 1000.0);
      } else {
        // the transported dimer's net formation is drawn from both PAHs, its
        // reaction from the dimer species
        ElementRead wdot(*this, ArrayId::phy_dimer_wdot, p);
        aadd(W, FV_AT(PAH_indices, FV_AT(dimer_PAH_1_id, p)), -wdot());
        aadd(W, FV_AT(PAH_indices, FV_AT(dimer_PAH_2_id, p)), -wdot());
        aadd(W, H2_index, rop() / 1000.0);
        aadd(W, FV_AT(phy_dimer_indices, p), -(rop() / 1000.0));
      }
    }
  }

  if (growth_enabled && growth_PAH_adsorption_enabled) {
    // PAH molecules taken up by the particles, and H atoms set free (two per PAH)
    auto carbon_uptake = [this](long i) {
      return fdiv(FV_AT(p_dC_tot_dt_PAH_each, i) * density, FV_AT(PAH_n_C, i) * 1000.0);
    };
    auto hydrogen_release = [this](long i) {
      return fdiv(FV_AT(p_dH_tot_dt_PAH_each, i) * density * 2.0,
                  (FV_AT(PAH_n_H, i) - 2.0) * 1000.0);
    };
    const long n = static_cast<long>(PAH_indices.size());
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      if (steady_state_PAH_adsorption) {
        aadd(W, g, -carbon_uptake(i));
        aadd(W, H_index, hydrogen_release(i));
      } else {
        // the transported complex's net formation is drawn from the PAH, its
        // reaction into soot from the complex species
        aadd(W, g, -aget(ArrayId::soot_PAH_wdot, i));
        aadd(W, H_index, hydrogen_release(i));
        aadd(W, FV_AT(soot_PAH_indices, i), -carbon_uptake(i));
      }
    }
  }
}

}  // namespace fv::soot
