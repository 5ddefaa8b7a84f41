// STUB: cross-linking (growth model 4) and irreversible dimerization (model 5)
#include "soot_model.hpp"

namespace fv::soot {

double SootModel::m_PAH_body(int) { throw Error(ErrorKind::NotImplemented, "m_PAH"); }
double SootModel::d_PAH_body(int) { throw Error(ErrorKind::NotImplemented, "d_PAH"); }
void SootModel::update_PAH_radical_body() { throw Error(ErrorKind::NotImplemented, "update_PAH_radical"); }
double SootModel::k_f3_crosslinking_body(int) { throw Error(ErrorKind::NotImplemented, "k_f3_crosslinking"); }
double SootModel::k_f4_crosslinking_body(int) { throw Error(ErrorKind::NotImplemented, "k_f4_crosslinking"); }
double SootModel::PAH_radical_body(int) { throw Error(ErrorKind::NotImplemented, "PAH_radical"); }
void SootModel::update_ROP_crosslinking_body() { throw Error(ErrorKind::NotImplemented, "update_ROP_crosslinking"); }
double SootModel::ROP_dimer_crosslinking_body(int) { throw Error(ErrorKind::NotImplemented, "ROP_dimer_crosslinking"); }
double SootModel::PAH_adsorption_rate_body(int) { throw Error(ErrorKind::NotImplemented, "PAH_adsorption_rate"); }
double SootModel::dC_tot_dt_PAH_each_crosslinking_body(int) { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_PAH_each_crosslinking"); }
double SootModel::dH_tot_dt_PAH_each_crosslinking_body(int) { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_PAH_each_crosslinking"); }
double SootModel::inception_N_agg_crosslinking_body() { throw Error(ErrorKind::NotImplemented, "inception_N_agg_crosslinking"); }
double SootModel::inception_C_tot_crosslinking_body() { throw Error(ErrorKind::NotImplemented, "inception_C_tot_crosslinking"); }
double SootModel::inception_H_tot_crosslinking_body() { throw Error(ErrorKind::NotImplemented, "inception_H_tot_crosslinking"); }
void SootModel::create_PAH_dimer_crosslinking_body() { throw Error(ErrorKind::NotImplemented, "create_PAH_dimer_crosslinking"); }
void SootModel::PAH_growth_update_crosslinking_body() { throw Error(ErrorKind::NotImplemented, "PAH_growth_update_crosslinking"); }
void SootModel::update_scrub_wdot_PAH_growth_crosslinking_body() { throw Error(ErrorKind::NotImplemented, "update_scrub_wdot_PAH_growth_crosslinking"); }
double SootModel::k_PAH_ads_irrevd_body(int) { throw Error(ErrorKind::NotImplemented, "k_PAH_ads_irrevd"); }
double SootModel::dC_tot_dt_PAH_each_irrevd_body(int) { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_PAH_each_irrevd"); }
double SootModel::dH_tot_dt_PAH_each_irrevd_body(int) { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_PAH_each_irrevd"); }
double SootModel::inception_N_agg_irrevd_body() { throw Error(ErrorKind::NotImplemented, "inception_N_agg_irrevd"); }
double SootModel::inception_C_tot_irrevd_body() { throw Error(ErrorKind::NotImplemented, "inception_C_tot_irrevd"); }
double SootModel::inception_H_tot_irrevd_body() { throw Error(ErrorKind::NotImplemented, "inception_H_tot_irrevd"); }
void SootModel::create_PAH_dimer_irrevd_body() { throw Error(ErrorKind::NotImplemented, "create_PAH_dimer_irrevd"); }
void SootModel::PAH_growth_update_irrevd_body() { throw Error(ErrorKind::NotImplemented, "PAH_growth_update_irrevd"); }
void SootModel::update_scrub_wdot_PAH_growth_irrevd_body() { throw Error(ErrorKind::NotImplemented, "update_scrub_wdot_PAH_growth_irrevd"); }
void SootModel::update_ROP_irrevd() { throw Error(ErrorKind::NotImplemented, "update_ROP_irrevd"); }
double SootModel::k_nuc_irrevd(int, int) { throw Error(ErrorKind::NotImplemented, "k_nuc_irrevd"); }

}  // namespace fv::soot
