// Source terms of the four soot variables and the gas-species production
// rates caused by soot formation (scrubbing).
//
// soot_variable: 1 N_agg, 2 N_pri, 3 C_tot, 4 H_tot. A disabled process
// contributes 0.0 to every variable; an enabled one gives no value (None) for
// any other number, which makes the sum of the source term fail.
#include "soot_model.hpp"

namespace fv::soot {

namespace {

// a + b where either may be missing, failing as the host does when None is
// added to a float.
double add_rates(const Maybe& a, const Maybe& b) {
  if (a && b) return *a + *b;
  const char* left = a ? "float" : "NoneType";
  const char* right = b ? "float" : "NoneType";
  throw Error(ErrorKind::Type, std::string("unsupported operand type(s) for +: '") + left +
                                   "' and '" + right + "'");
}

}  // namespace

// ---- process contributions, mol per kg gas per s ----------------------------------

// New particles from PAH dimers: one new primary per new aggregate.
Maybe SootModel::inception_body(int soot_variable) {
  if (!inception_enabled) return 0.0;
  switch (soot_variable) {
    case 1: return slot_d(SlotId::inception_N_agg);
    case 2: return slot_d(SlotId::inception_N_agg);
    case 3: return slot_d(SlotId::inception_C_tot);
    case 4: return slot_d(SlotId::inception_H_tot);
    default: return std::nullopt;
  }
}

// Surface growth by HACA and PAH adsorption, with carbonization acting on
// the hydrogen; all from the caches of the last update_solution.
Maybe SootModel::growth_body(int soot_variable) {
  if (!growth_enabled) return 0.0;
  switch (soot_variable) {
    case 1:
    case 2:
      return 0.0;
    case 3: {
      double rate = 0.0;
      rate += growth_HACA_enabled ? p_dC_tot_dt_HACA_alt : 0.0;
      rate += growth_PAH_adsorption_enabled ? p_dC_tot_dt_PAH : 0.0;
      return rate;
    }
    case 4: {
      double rate = 0.0;
      rate += growth_HACA_enabled ? p_dH_tot_dt_HACA_alt : 0.0;
      rate += growth_PAH_adsorption_enabled ? p_dH_tot_dt_PAH : 0.0;
      rate += carbonization_enabled ? p_dH_tot_dt_carb : 0.0;
      return rate;
    }
    default:
      return std::nullopt;
  }
}

// Site-based oxidation by OH and O2, from the caches of the last update_solution.
Maybe SootModel::oxidation_body(int soot_variable) {
  if (!oxidation_enabled) return 0.0;
  switch (soot_variable) {
    case 1:
    case 2:
      return 0.0;
    case 3: return p_dC_tot_dt_OH + p_dC_tot_dt_O2;
    case 4: return p_dH_tot_dt_OH + p_dH_tot_dt_O2;
    default: return std::nullopt;
  }
}

// Coagulation removes aggregates only.
Maybe SootModel::coagulation_body(int soot_variable) {
  if (!coagulation_enabled) return 0.0;
  switch (soot_variable) {
    case 1: return N_agg_coag();
    case 2:
    case 3:
    case 4:
      return 0.0;
    default: return std::nullopt;
  }
}

// Coalescence removes primaries only.
Maybe SootModel::coalescence_body(int soot_variable) {
  if (!coalescence_enabled) return 0.0;
  switch (soot_variable) {
    case 2: return slot_d(SlotId::N_pri_coales);
    case 1:
    case 3:
    case 4:
      return 0.0;
    default: return std::nullopt;
  }
}

// ---- source terms --------------------------------------------------------------

// Sum of the five processes for one soot variable, added left to right; each
// process is evaluated just before it is added. Nothing is written meanwhile,
// so the per-call memo (and its direct array views) may serve the whole sum.
#define FV_SOURCE_TERM(name, k)                          \
  double SootModel::name##_body() {                      \
    MemoScope memo(*this);                               \
    const Maybe a = inception(k);                        \
    const Maybe b = growth(k);                           \
    double s = add_rates(a, b);                          \
    s = add_rates(s, oxidation(k));                      \
    s = add_rates(s, coagulation(k));                    \
    return add_rates(s, coalescence(k));                 \
  }
FV_SOURCE_TERM(S_N_agg, 1)
FV_SOURCE_TERM(S_N_pri, 2)
FV_SOURCE_TERM(S_C_tot, 3)
FV_SOURCE_TERM(S_H_tot, 4)
#undef FV_SOURCE_TERM

void SootModel::source_terms(double out[4], int& done) {
  MemoScope memo(*this);
  done = 0;
  out[0] = S_N_agg();
  done = 1;
  out[1] = S_N_pri();
  done = 2;
  out[2] = S_C_tot();
  done = 3;
  out[3] = S_H_tot();
  done = 4;
}

// ---- scrubbing -----------------------------------------------------------------

// Gas production rates caused by soot, accumulated into scrub_wdot in
// kmol/(m^3 s): the PAH terms of the growth model, then HACA (two C per
// acetylene, atomic H released), then oxidation by O2 and OH. 1/1000 turns
// mol/m^3 into kmol/m^3.
void SootModel::update_scrub_wdot_body() {
  if (!scrubbing_enabled) return;
  MemoScope memo(*this);  // the PAH terms and the surface terms share array views
  slot_v(SlotId::update_scrub_wdot_PAH_growth);

  const ArrayId W = ArrayId::scrub_wdot;
  if (growth_enabled && growth_HACA_enabled) {
    aadd(W, C2H2_index, -(density * p_dC_tot_dt_HACA_alt / 2000.0));
    aadd(W, H_index, p_dC_tot_dt_HACA_alt * 0.875 * density / 1000.0);
  }
  if (!oxidation_enabled) return;

  // O2: one O2 per two carbon atoms, CO released
  aadd(W, CO_index, density * p_dC_tot_dt_O2 / (-1000.0));
  aadd(W, H2_index, p_dH_tot_dt_O2 * density / (-1000.0));
  aadd(W, H_index, -(p_dH_tot_dt_O2 * density / (-1000.0)));
  aadd(W, O2_index, -(p_dC_tot_dt_O2 * (-0.5) * density / 1000.0));
  // OH: CO released, one H2 per two hydrogen atoms
  aadd(W, CO_index, density * p_dC_tot_dt_OH / (-1000.0));
  aadd(W, H2_index, (p_dH_tot_dt_OH + p_dC_tot_dt_OH) * (-0.5) * density / 1000.0);
  aadd(W, OH_index, -(p_dC_tot_dt_OH * density / (-1000.0)));
}

}  // namespace fv::soot
