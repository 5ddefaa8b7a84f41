// Self-collision dimerization: PAH growth models 2 ("self_collision") and
// 3 ("self_collision_lump").
//
// Each PAH forms dimers only by colliding with a molecule of its own kind.
// The dimers are short-lived; their concentration D (mol/m^3) follows from the
// quasi-steady balance
//     a D^2 + b D - omega = 0,
// production omega by PAH self-collision against loss by dimer-dimer collision
// (a D^2, inception of a new particle) and by dimer-aggregate collision
// (b D, condensation onto existing soot). Model 2 keeps one dimer population per
// PAH; model 3 lumps all dimers into one population whose composition and size
// are the omega-weighted mean over the PAHs.
//
// Units: concentrations mol/m^3, collision rates mol/(m^3 s), source terms
// mol/(kg s), scrub_wdot kmol/(m^3 s), molar masses kg/mol.
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

namespace {

// A concentration with negative (and NaN) values read as zero, mol/m^3.
inline double non_negative(double c) { return c > 0.0 ? c : 0.0; }

// Positive root of a D^2 + b D - omega = 0, or 0 when the discriminant is not
// positive; a (m^3/(mol s)), b (1/s), omega (mol/(m^3 s)) -> D (mol/m^3).
inline double dimer_balance(double a, double b, double omega) {
  const double disc = b * b + 4.0 * a * omega;
  if (disc > 0.0) return fdiv(std::sqrt(disc) - b, 2.0 * a);
  return 0.0;
}

}  // namespace

// ---- set-up ------------------------------------------------------------------

// Sizes the per-PAH arrays of model 2. stick_eff is only sized here (new
// entries 0.0); the caller fills it afterwards, normally by initialize_stick_eff.
void SootModel::create_PAH_dimer_slfclsn_body() {
  const std::size_t n = PAH_indices.size();
  omega_PAH.resize(n);
  _dimer_.resize(n);
  a_inc.resize(n);
  w_inc.resize(n);
  b_cond.resize(n);
  w_cond.resize(n);
  p_dC_tot_dt_PAH_each.resize(n);
  p_dH_tot_dt_PAH_each.resize(n);
  stick_eff.resize(n);
}

// Sizes the per-PAH arrays of model 3 (stick_eff as in model 2).
void SootModel::create_PAH_dimer_slfclsn_lump_body() {
  const std::size_t n = PAH_indices.size();
  dimer_weight.resize(n);
  omega_PAH.resize(n);
  _dimer_.resize(n);
  p_dC_tot_dt_PAH_each.resize(n);
  p_dH_tot_dt_PAH_each.resize(n);
  stick_eff.resize(n);
}

// ---- PAH self-collision rate (both models) -------------------------------------

// omega_PAH[i] (mol/(m^3 s)): free-molecular collision rate of PAH i with
// itself times its sticking efficiency; the molecular diameter is that of a
// sphere of soot density. omega_PAH_tot is their sum.
void SootModel::update_omega_PAH_body() {
  omega_PAH_tot = 0.0;
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const int g = FV_AT(PAH_indices, i);
    const double x = non_negative(molar_density(g));               // mol/m^3
    const double m = fdiv(aget(ArrayId::MWs, g), Av);               // kg per molecule
    const double d = kept_pow(PowSite::omega_diameter, i, fdiv(6.0 * m, rho_soot * Pi),
                              0.33333333334);  // m
    const double speed = std::sqrt(fdiv(4.0 * Pi * kB * T, m));
    const double eff = FV_AT(stick_eff, i);
    const double omega = speed * eff * (d * d) * (x * x) * Av;
    FV_AT(omega_PAH, i) = omega;
    omega_PAH_tot += omega;
  }
}

// ---- model 2: one dimer population per PAH ---------------------------------------

// a_inc[i] (m^3/(mol s)): free-molecular kernel of two equal dimers of PAH i
// with van der Waals enhancement, per mole; b_cond[i] (1/s): dimer-aggregate
// kernel times the aggregate number density.
void SootModel::update_ab_body() {
  const double A = std::sqrt(fdiv(6.0 * kB * T, rho_soot));
  const double F = kept_pow(pow_F_, fdiv(3.0, 4.0 * Pi), 0.166667);
  const double L = std::sqrt(fdiv(kB * Pi * T, 2.0 * rho_soot));
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const int g = FV_AT(PAH_indices, i);
    const double m_D = fdiv(2.0 * aget(ArrayId::MWs, g), Av);  // kg
    const double d_D =
        kept_pow(PowSite::dimer_diameter, i, fdiv(6.0 * m_D, Pi * rho_soot), 0.33333333334);  // m
    const double V_D = kept_pow(PowSite::dimer_cube, i, d_D, 3.0) * Pi / 6.0;  // m^3
    const double V_D_root = kept_pow(PowSite::dimer_volume_root, i, V_D, 0.166667);
    FV_AT(a_inc, i) = A * F * 4.4 * 4.0 * 1.41421356 * Av * V_D_root;
    const double d_sum = p_d_g + d_D;
    const double inv_V_D = fdiv(1.0, V_D);
    const double inv_V_Ag = fdiv(1.0, V_Ag());
    FV_AT(b_cond, i) =
        N_agg * Av * density * 1.3 * L * (d_sum * d_sum) * std::sqrt(inv_V_D + inv_V_Ag);
  }
}

// _dimer_[i] (mol/m^3): steady dimer concentration of PAH i.
void SootModel::update_dimer__body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const double a = FV_AT(a_inc, i);
    const double b = FV_AT(b_cond, i);
    const double omega = FV_AT(omega_PAH, i);
    FV_AT(_dimer_, i) = dimer_balance(a, b, omega);
  }
}

// w_inc[i] (mol/(m^3 s)): dimer-dimer collisions of PAH i, i.e. inception events.
void SootModel::update_w_inc_body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const double a = FV_AT(a_inc, i);
    const double D = FV_AT(_dimer_, i);
    FV_AT(w_inc, i) = 0.5 * a * (D * D);
  }
}

// w_cond[i] (mol/(m^3 s)): dimers of PAH i condensing on aggregates.
void SootModel::update_w_cond_body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const double b = FV_AT(b_cond, i);
    FV_AT(w_cond, i) = b * FV_AT(_dimer_, i);
  }
}

// Carbon growth by condensation of PAH i, mol/(kg s): a dimer brings two molecules.
double SootModel::dC_tot_dt_PAH_each_slfclsn_body(int PAH_id) {
  const double n_C = FV_AT(PAH_n_C, PAH_id);
  return fdiv(n_C * 2.0 * FV_AT(w_cond, PAH_id), density);
}

// Hydrogen growth by condensation of PAH i, mol/(kg s): each condensing
// molecule leaves two hydrogen atoms behind in the gas.
double SootModel::dH_tot_dt_PAH_each_slfclsn_body(int PAH_id) {
  const double n_H = FV_AT(PAH_n_H, PAH_id);
  return fdiv((n_H - 2.0) * 2.0 * FV_AT(w_cond, PAH_id), density);
}

void SootModel::PAH_growth_update_slfclsn_body() {
  update_omega_PAH();
  update_ab();
  update_dimer_();
  update_w_inc();
  update_w_cond();
  accumulate_PAH_growth(&SootModel::dC_tot_dt_PAH_each_slfclsn,
                        &SootModel::dH_tot_dt_PAH_each_slfclsn);
}

// Inception, mol/(kg s). An event joins two dimers, i.e. four PAH molecules,
// keeping all their hydrogen; new aggregates are counted in units of min_n_C
// carbon atoms.
double SootModel::inception_N_agg_slfclsn_body() {
  return sum_over_PAHs([&](long i) {
    const double n_C = FV_AT(PAH_n_C, i);
    return fdiv(fdiv(n_C * 4.0, static_cast<double>(min_n_C)) * FV_AT(w_inc, i), density);
  });
}

double SootModel::inception_C_tot_slfclsn_body() {
  return sum_over_PAHs([&](long i) {
    const double n_C = FV_AT(PAH_n_C, i);
    return fdiv(n_C * 4.0 * FV_AT(w_inc, i), density);
  });
}

double SootModel::inception_H_tot_slfclsn_body() {
  return sum_over_PAHs([&](long i) {
    const double n_H = FV_AT(PAH_n_H, i);
    return fdiv(n_H * 4.0 * FV_AT(w_inc, i), density);
  });
}

// Gas-phase consumption, kmol/(m^3 s): four PAH molecules per inception event;
// two per condensing dimer, each releasing two H atoms.
void SootModel::update_scrub_wdot_PAH_growth_slfclsn_body() {
  const long n = static_cast<long>(PAH_indices.size());
  if (inception_enabled) {
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      aadd(ArrayId::scrub_wdot, g, -(FV_AT(w_inc, i) * 4.0 / 1000.0));
    }
  }
  if (growth_enabled && growth_PAH_adsorption_enabled) {
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      const double r = FV_AT(w_cond, i) * 2.0 / 1000.0;
      aadd(ArrayId::scrub_wdot, g, -r);
      aadd(ArrayId::scrub_wdot, H_index, r);
    }
  }
}

// ---- model 3: one lumped dimer population ------------------------------------------

// dimer_weight[i]: share of PAH i in the lumped dimer (uniform when no PAH collides).
void SootModel::update_dimer_weight_body() {
  const long n = static_cast<long>(PAH_indices.size());
  if (omega_PAH_tot > 0.0) {
    for (long i = 0; i < n; ++i) FV_AT(dimer_weight, i) = fdiv(FV_AT(omega_PAH, i), omega_PAH_tot);
  } else {
    for (long i = 0; i < n; ++i) FV_AT(dimer_weight, i) = fdiv(1.0, static_cast<double>(n));
  }
}

// Composition (atoms) and volume V (m^3) of the lumped dimer, with PAH
// diameters from their carbon count; then its collision coefficients as in
// update_ab: a_lumpinc (m^3/(mol s)), b_lumpcond (1/s).
void SootModel::update_ab_lump_body() {
  const double A = std::sqrt(fdiv(6.0 * kB * T, rho_soot));
  const double F = kept_pow(pow_F_, fdiv(3.0, 4.0 * Pi), 0.166667);
  const double L = std::sqrt(fdiv(kB * Pi * T, 2.0 * rho_soot));
  lumpdimer_n_C = 0.0;
  lumpdimer_n_H = 0.0;
  double V = 0.0;
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const double w = FV_AT(dimer_weight, i);
    const double n_C = FV_AT(PAH_n_C, i);
    lumpdimer_n_C += 2.0 * w * n_C;
    lumpdimer_n_H += 2.0 * w * FV_AT(PAH_n_H, i);
    const double d_i = d_A * std::sqrt(2.0 * n_C / 3.0);  // m
    V += 2.0 * w * (Pi / 6.0) * kept_pow(PowSite::ring_cube, i, d_i, 3.0);
  }
  a_lumpinc = A * F * 4.4 * 4.0 * 1.41421356 * Av * std::pow(V, 0.166667);
  const double d_L = std::pow(fdiv(6.0 * V, Pi), 0.3333334);
  const double d_sum = d_L + p_d_g;
  b_lumpcond = N_agg * Av * density * 1.3 * L * (d_sum * d_sum) *
               std::sqrt(fdiv(1.0, V) + fdiv(1.0, V_Ag()));
}

// _lumpdimer_ (mol/m^3): steady concentration of the lumped dimer.
void SootModel::update_lumpdimer__body() {
  _lumpdimer_ = dimer_balance(a_lumpinc, b_lumpcond, omega_PAH_tot);
}

void SootModel::update_w_lumpinc_body() {
  w_lumpinc = 0.5 * a_lumpinc * (_lumpdimer_ * _lumpdimer_);
}

void SootModel::update_w_lumpcond_body() { w_lumpcond = b_lumpcond * _lumpdimer_; }

// Growth by the share of PAH i in the condensing lumped dimers, mol/(kg s).
double SootModel::dC_tot_dt_PAH_each_slfclsn_lump_body(int PAH_id) {
  const double n_C = FV_AT(PAH_n_C, PAH_id);
  return fdiv(n_C * 2.0 * w_lumpcond * FV_AT(dimer_weight, PAH_id), density);
}

double SootModel::dH_tot_dt_PAH_each_slfclsn_lump_body(int PAH_id) {
  const double n_H = FV_AT(PAH_n_H, PAH_id);
  return fdiv((n_H - 2.0) * 2.0 * w_lumpcond * FV_AT(dimer_weight, PAH_id), density);
}

void SootModel::PAH_growth_update_slfclsn_lump_body() {
  update_omega_PAH();
  update_dimer_weight();
  update_ab_lump();
  update_lumpdimer_();
  update_w_lumpinc();
  update_w_lumpcond();
  accumulate_PAH_growth(&SootModel::dC_tot_dt_PAH_each_slfclsn_lump,
                        &SootModel::dH_tot_dt_PAH_each_slfclsn_lump);
}

// Inception by lumped dimers, mol/(kg s); lumpdimer_n_C already counts two molecules.
double SootModel::inception_N_agg_slfclsn_lump_body() {
  return fdiv(fdiv(lumpdimer_n_C * 2.0, static_cast<double>(min_n_C)) * w_lumpinc, density);
}

double SootModel::inception_C_tot_slfclsn_lump_body() {
  return fdiv(lumpdimer_n_C * 2.0 * w_lumpinc, density);
}

double SootModel::inception_H_tot_slfclsn_lump_body() {
  return fdiv(lumpdimer_n_H * 2.0 * w_lumpinc, density);
}

// Gas-phase consumption, kmol/(m^3 s), shared among the PAHs by dimer_weight.
void SootModel::update_scrub_wdot_PAH_growth_slfclsn_lump_body() {
  const long n = static_cast<long>(PAH_indices.size());
  if (inception_enabled) {
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      aadd(ArrayId::scrub_wdot, g, -(w_lumpinc * 4.0 * FV_AT(dimer_weight, i) / 1000.0));
    }
  }
  if (growth_enabled && growth_PAH_adsorption_enabled) {
    for (long i = 0; i < n; ++i) {
      const int g = FV_AT(PAH_indices, i);
      const double r = w_lumpcond * 2.0 * FV_AT(dimer_weight, i) / 1000.0;
      aadd(ArrayId::scrub_wdot, g, -r);
      aadd(ArrayId::scrub_wdot, H_index, r);
    }
  }
}

}  // namespace fv::soot
