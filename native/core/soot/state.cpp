// Soot model state: method table, construction defaults, selectors,
// initialisation, the per-point update sequence and slot dispatch.
#include <cmath>

#include "soot_model.hpp"

namespace fv::soot {

namespace c = fv::constants;

const MethodInfo kMethods[kMethodCount] = {
#define FV_METHOD(kind, name, params, note) {#name, MethodKind::kind, params, note},
#include "soot_methods.def"
#undef FV_METHOD
};

const MethodId kGrowthModelMethods[5][6] = {
    {MethodId::inception_N_agg_reactived, MethodId::inception_C_tot_reactived,
     MethodId::inception_H_tot_reactived, MethodId::PAH_growth_update_reactived,
     MethodId::create_PAH_dimer_reactived, MethodId::update_scrub_wdot_PAH_growth_reactived},
    {MethodId::inception_N_agg_slfclsn, MethodId::inception_C_tot_slfclsn,
     MethodId::inception_H_tot_slfclsn, MethodId::PAH_growth_update_slfclsn,
     MethodId::create_PAH_dimer_slfclsn, MethodId::update_scrub_wdot_PAH_growth_slfclsn},
    {MethodId::inception_N_agg_slfclsn_lump, MethodId::inception_C_tot_slfclsn_lump,
     MethodId::inception_H_tot_slfclsn_lump, MethodId::PAH_growth_update_slfclsn_lump,
     MethodId::create_PAH_dimer_slfclsn_lump,
     MethodId::update_scrub_wdot_PAH_growth_slfclsn_lump},
    {MethodId::inception_N_agg_crosslinking, MethodId::inception_C_tot_crosslinking,
     MethodId::inception_H_tot_crosslinking, MethodId::PAH_growth_update_crosslinking,
     MethodId::create_PAH_dimer_crosslinking,
     MethodId::update_scrub_wdot_PAH_growth_crosslinking},
    {MethodId::inception_N_agg_irrevd, MethodId::inception_C_tot_irrevd,
     MethodId::inception_H_tot_irrevd, MethodId::PAH_growth_update_irrevd,
     MethodId::create_PAH_dimer_irrevd, MethodId::update_scrub_wdot_PAH_growth_irrevd},
};

using Law = CoalesType::TimeLaw;
const CoalesType kCoalesTypes[5] = {
    // disabled: energies reset, both callables removed
    {true, 0.0, 0.0, false, 0.0, Law::None, MethodId::count_, MethodId::count_, false},
    // titania
    {true, 33100.0, 7.44e16, false, 0.0, Law::Method, MethodId::t_f_titania,
     MethodId::N_pri_coales_sintering, true},
    // silica
    {true, 180000.0, 1.1e-14, true, 2.5e-9, Law::Method, MethodId::t_f_silica,
     MethodId::N_pri_coales_sintering, true},
    // MD-derived, size independent
    {true, 0.0, 0.0, false, 0.0, Law::Method, MethodId::t_f_md_derived,
     MethodId::N_pri_coales_sintering, true},
    // C/H-based merging keeps the previous sintering law and parameters
    {false, 0.0, 0.0, false, 0.0, Law::Unchanged, MethodId::count_,
     MethodId::N_pri_coales_merge, true},
};

const MethodId kAlphaModels[3] = {MethodId::alpha_constant, MethodId::alpha_empirical,
                                  MethodId::alpha_ctoh_based};

MethodKind slot_kind(SlotId s) {
  switch (s) {
    case SlotId::PAH_growth_update:
    case SlotId::create_PAH_dimer:
    case SlotId::update_scrub_wdot_PAH_growth:
      return MethodKind::V0;
    default:
      return MethodKind::D0;
  }
}

// ---- construction defaults -------------------------------------------------

void SootModel::defaults_1() {
  rho_soot = c::rho_soot;
  MW_carbon = c::MW_carbon;
  MW_hydrogen = c::MW_hydrogen;
  Av = c::Av;
  kB = c::kB;
  R = c::R;
  P_atm = c::P_atm;
  Pi = c::Pi;

  inception_enabled = true;
  growth_enabled = true;
  growth_HACA_enabled = true;
  growth_PAH_adsorption_enabled = true;
  coagulation_enabled = true;
  oxidation_enabled = true;
  carbonization_enabled = false;
  scrubbing_enabled = true;
  coalescence_enabled = false;

  min_n_C = 378;
  min_n_H = 20;
  d_A = std::sqrt(3.0) * 1.395e-10;  // ring size: sqrt(3) x aromatic C-C bond, m
  // smallest primary: a soot sphere of min_n_C carbon atoms (full-precision pi)
  d_p_min = std::pow(6.0 / c::pi * min_n_C * MW_carbon / (rho_soot * Av), 1.0 / 3.0);
  A_p_min = Pi * std::pow(6.0 / Pi * min_n_C * MW_carbon / (rho_soot * Av), 2.0 / 3.0);

  use_unity_alpha = false;
  use_empirical_alpha = true;
  steady_state_physical_dimerization = true;
  steady_state_PAH_adsorption = true;
  modified_particle_addition = false;

  N_agg_offset = 0;
  N_pri_offset = 1;
  C_tot_offset = 2;
  H_tot_offset = 3;
  Phy_dimer_offset = -1;
  PAH_soot_offset = -1;
  dimer_offset = 0;
  soot_PAH_offset = 0;

  K_REACT_prefactor = 1.0;
  Ea_REACT_prefactor = 1.0;
  k_FWD_prefactor = 1.0;
  K_PAH_ADS_prefactor = 1.0;
  Ea_PAH_ADS_prefactor = 1.0;
  K_T_factor = 0.0;

  N_agg_min = 1.0 / Av;
  N_pri_min = 1.0 / Av;
  C_tot_min = min_n_C / Av;
  H_tot_min = min_n_H / Av;
  N_agg = N_agg_min;
  N_pri = N_pri_min;
  C_tot = C_tot_min;
  H_tot = H_tot_min;
}

void SootModel::defaults_2() {
  t_coales_min = 1e-12;
  CtoH_crit = 2.5;
  A_carb = 4.85e5;
  Ea_carb = 83680.0;
  diffus_coeff_const_val = 0.0;
}

void SootModel::defaults_3() {
  adsorb_eff = 1.0;
  cross_k_f1_prefactor = 1.0;
  cross_k_r1_prefactor = 1.0;
  cross_k_f2_prefactor = 1.0;
  cross_k_f3_prefactor = 1.0;
  HACA_prefactor = 1.0;
  alpha_constant_value = 1.0;
}

void SootModel::apply_defaults() {
  defaults_1();
  set_coales_type(0);
  defaults_2();
  set_validation_case(0);
  defaults_3();
  set_alpha_model(1);
  set_PAH_growth_model(1);
}

// ---- C++ selectors ---------------------------------------------------------

void SootModel::bind_own(SlotId s, MethodId m) {
  slots[static_cast<int>(s)] = Slot{Slot::Kind::Own, m};
}

void SootModel::set_PAH_growth_model(int model) {
  if (model < 1 || model > 5) return;
  for (int i = 0; i < 6; ++i) bind_own(kGrowthSlots[i], kGrowthModelMethods[model - 1][i]);
  PAH_growth_model = model;
}

void SootModel::set_alpha_model(int alpha_type) {
  _alpha_model = alpha_type;
  if (alpha_type < 0 || alpha_type > 2)
    throw Error(ErrorKind::Value, "Error in _set_alpha_model function!");
  bind_own(SlotId::alpha, kAlphaModels[alpha_type]);
}

void SootModel::set_coales_type(int coales_type) {
  if (coales_type < 0 || coales_type > 4) return;
  const CoalesType& t = kCoalesTypes[coales_type];
  if (t.set_energies) {
    Ea_coales = t.Ea;
    As_coales = t.As;
  }
  if (t.set_d_crit) d_crit_coales = t.d_crit;
  if (t.t_law == CoalesType::TimeLaw::None) clear_slot(SlotId::t_coales);
  if (t.t_law == CoalesType::TimeLaw::Method) bind_own(SlotId::t_coales, t.t_coales);
  if (t.N_pri_coales == MethodId::count_)
    clear_slot(SlotId::N_pri_coales);
  else
    bind_own(SlotId::N_pri_coales, t.N_pri_coales);
  coalescence_enabled = t.enabled;
}

void SootModel::set_validation_case(int validation) {
  if (validation == 1) {
    validation_case = 1;
    bind_own(SlotId::beta_coag, MethodId::beta_coag_validation);
    bind_own(SlotId::diffus_coeff, MethodId::diffus_coeff_const);
  } else if (validation == 0) {
    validation_case = 0;
    bind_own(SlotId::beta_coag, MethodId::beta_coag_hm);
    bind_own(SlotId::diffus_coeff, MethodId::diffus_coeff_morph);
  } else {
    throw Error(ErrorKind::Value, "Error in _set_validation_case function!");
  }
}

// ---- initialisation ------------------------------------------------------------

void SootModel::initialize(const std::vector<std::string>& species_names) {
  int index[7];
  for (int k = 0; k < 7; ++k) {
    index[k] = -1;
    for (std::size_t i = 0; i < species_names.size(); ++i) {
      if (species_names[i] == kKeySpecies[k]) {
        index[k] = static_cast<int>(i);
        break;
      }
    }
    if (index[k] < 0)
      throw Error(ErrorKind::Value,
                  std::string(kKeySpecies[k]) + " does not exist in species list!");
  }
  C2H2_index = index[0];
  H2_index = index[1];
  H_index = index[2];
  CO_index = index[3];
  O2_index = index[4];
  OH_index = index[5];
  H2O_index = index[6];
  slot_v(SlotId::create_PAH_dimer);
}

void SootModel::initialize_stick_eff_body() {
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    // 15 M^4 with M in kg/mol, i.e. 1.5e-11 M^4 with M in g/mol
    const double sticking = 15.0 * std::pow(aget(ArrayId::MWs, FV_AT(PAH_indices, i)), 4.0);
    FV_AT(stick_eff, i) = sticking;
  }
}

// ---- per-point update ----------------------------------------------------------

void SootModel::update_gas(double T_, double P_, double density_, double viscosity_,
                           double mean_MW_) {
  T = T_;
  density = density_;
  viscosity = viscosity_;
  P = P_;
  mean_MW = mean_MW_ / 1000.0;  // kg/kmol -> kg/mol
  host_->zeros_like(ArrayId::scrub_wdot, ArrayId::X);
  p_lambda_gas = calc_lambda_gas();
}

void SootModel::load_soot_variable(int which, double v) {
  // plain greater-than: NaN and values equal to the floor pass unchanged
  switch (which) {
    case 0: N_agg = (N_agg_min > v) ? N_agg_min : v; break;
    case 1: N_pri = (N_pri_min > v) ? N_pri_min : v; break;
    case 2: C_tot = (C_tot_min > v) ? C_tot_min : v; break;
    case 3: H_tot = (H_tot_min > v) ? H_tot_min : v; break;
    default: break;
  }
}

void SootModel::refresh_after_solution() {
  MemoScope memo(*this);
  p_d_p = d_p();
  p_d_m = d_m();
  p_d_g = d_g();
  p_A_tot = A_tot();
  // the PAH kernels and the surface rates read these four caches
  memo_forget_except_morphology();
  slot_v(SlotId::PAH_growth_update);
  p_dC_tot_dt_HACA_alt = dC_tot_dt_HACA_alt();
  p_dH_tot_dt_HACA_alt = dH_tot_dt_HACA_alt();
  p_dH_tot_dt_carb = dH_tot_dt_carb();
  p_dC_tot_dt_O2 = dC_tot_dt_O2_alt();
  p_dC_tot_dt_OH = dC_tot_dt_OH_alt();
  p_dH_tot_dt_O2 = dH_tot_dt_O2_alt();
  p_dH_tot_dt_OH = dH_tot_dt_OH_alt();
}

void SootModel::update_solution(const double* solution, long n) {
  const int offsets[4] = {N_agg_offset, N_pri_offset, C_tot_offset, H_tot_offset};
  for (int k = 0; k < 4; ++k) {
    long i = offsets[k] < 0 ? offsets[k] + n : offsets[k];
    if (i < 0 || i >= n) throw_index_error(offsets[k], static_cast<std::size_t>(n), "solution");
    load_soot_variable(k, solution[i]);
  }
  refresh_after_solution();
}

// ---- per-call memo ---------------------------------------------------------------

SootModel::MemoScope::MemoScope(SootModel& m) : m_(m), owner_(!m.memo_open_) {
  if (owner_) m_.memo_open();
}

SootModel::MemoScope::~MemoScope() {
  if (owner_) m_.memo_close();
}

// Pairs are kept for up to this many PAHs (a table of n^2 cells).
constexpr std::size_t kMaxMemoPairPAHs = 128;

void SootModel::memo_open() {
  const bool on = hooks_ == nullptr && host_ != nullptr && host_->plain_arrays(views_);
  const std::size_t n = PAH_indices.size();
  if (on && n != memo_n_PAH_) {
    for (std::vector<MemoCell>* t :
         {&memo_pah_mass_, &memo_pah_MW_, &memo_pah_diameter_, &memo_pah_concentration_,
          &memo_k_f_soot_PAH_, &memo_k_f3_, &memo_k_PAH_ads_})
      t->resize(n);
    for (std::vector<PowCell>& t : pow_cells_) t.resize(n);  // keeps the cells of earlier calls
    const std::size_t side = n <= kMaxMemoPairPAHs ? n : 0;
    memo_k_FWD_.resize(side * side);
    memo_k_REV_.resize(side * side);
    memo_n_pair_ = static_cast<int>(side);
    memo_n_PAH_ = n;
  }
  ++memo_epoch_;  // cells of earlier scopes are stale
  memo_on_ = on;
  memo_open_ = true;
}

double SootModel::kept_pow(PowCell& cell, double x, double y) {
  if (!memo_on_) return std::pow(x, y);
  std::uint64_t bx, by;
  std::memcpy(&bx, &x, sizeof bx);
  std::memcpy(&by, &y, sizeof by);
  if (cell.valid && cell.x == bx && cell.y == by) return cell.value;
  const double v = std::pow(x, y);
  cell = PowCell{bx, by, v, true};
  return v;
}

void SootModel::memo_forget_except_morphology() {
  const std::uint64_t old = memo_epoch_++;
  for (Memo key : {Memo::d_p, Memo::d_m, Memo::V_Ag, Memo::m_Ag}) {
    MemoCell& c = memo_[static_cast<int>(key)];
    if (c.epoch == old) c.epoch = memo_epoch_;
  }
}

void SootModel::memo_close() {
  memo_open_ = false;
  memo_on_ = false;
  ++memo_epoch_;
}

// ---- slots and arrays ----------------------------------------------------------

double SootModel::call_own_d0(MethodId m) {
  switch (m) {
#define FV_OWN_D0(n) case MethodId::n: return n##_body();
#define FV_OWN_V0(n)
#define FV_OWN_DI(n)
#define FV_OWN_DD(n)
#define FV_OWN_DII(n)
#define FV_OWN_OI(n)
#define FV_METHOD(kind, name, params, note) FV_OWN_##kind(name)
#include "soot_methods.def"
#undef FV_METHOD
    default:
      throw Error(ErrorKind::Type, "slot method has the wrong signature");
  }
}

void SootModel::call_own_v0(MethodId m) {
  switch (m) {
#undef FV_OWN_D0
#undef FV_OWN_V0
#define FV_OWN_D0(n)
#define FV_OWN_V0(n) case MethodId::n: n##_body(); return;
#define FV_METHOD(kind, name, params, note) FV_OWN_##kind(name)
#include "soot_methods.def"
#undef FV_METHOD
    default:
      throw Error(ErrorKind::Type, "slot method has the wrong signature");
  }
}

void SootModel::accumulate_PAH_growth(double (SootModel::*dC)(int),
                                      double (SootModel::*dH)(int)) {
  p_dC_tot_dt_PAH = 0.0;
  p_dH_tot_dt_PAH = 0.0;
  const long n = static_cast<long>(PAH_indices.size());
  for (long i = 0; i < n; ++i) {
    const double c = (this->*dC)(static_cast<int>(i));
    FV_AT(p_dC_tot_dt_PAH_each, i) = c;
    p_dC_tot_dt_PAH += c;
    const double h = (this->*dH)(static_cast<int>(i));
    FV_AT(p_dH_tot_dt_PAH_each, i) = h;
    p_dH_tot_dt_PAH += h;
  }
}

double SootModel::asum(ArrayId a) {
  const long n = alen(a);
  double s = 0.0;
  for (long i = 0; i < n; ++i) s += aget(a, i);
  return s;
}

double SootModel::adot(ArrayId a, ArrayId b) {
  const long na = alen(a);
  const long nb = alen(b);
  if (na != nb) {
    throw Error(ErrorKind::Value, "shapes (" + std::to_string(na) + ",) and (" +
                                      std::to_string(nb) + ",) not aligned: " +
                                      std::to_string(na) + " (dim 0) != " +
                                      std::to_string(nb) + " (dim 0)");
  }
  double s = 0.0;
  for (long i = 0; i < na; ++i) s += aget(a, i) * aget(b, i);
  return s;
}

}  // namespace fv::soot
