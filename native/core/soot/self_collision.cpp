// STUB: self-collision dimerization (growth models 2 and 3)
#include "soot_model.hpp"

namespace fv::soot {

void SootModel::update_omega_PAH_body() { throw Error(ErrorKind::NotImplemented, "update_omega_PAH"); }
void SootModel::update_ab_body() { throw Error(ErrorKind::NotImplemented, "update_ab"); }
void SootModel::update_dimer__body() { throw Error(ErrorKind::NotImplemented, "update_dimer_"); }
void SootModel::update_w_inc_body() { throw Error(ErrorKind::NotImplemented, "update_w_inc"); }
void SootModel::update_w_cond_body() { throw Error(ErrorKind::NotImplemented, "update_w_cond"); }
double SootModel::dC_tot_dt_PAH_each_slfclsn_body(int) { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_PAH_each_slfclsn"); }
double SootModel::dH_tot_dt_PAH_each_slfclsn_body(int) { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_PAH_each_slfclsn"); }
void SootModel::update_dimer_weight_body() { throw Error(ErrorKind::NotImplemented, "update_dimer_weight"); }
void SootModel::update_ab_lump_body() { throw Error(ErrorKind::NotImplemented, "update_ab_lump"); }
void SootModel::update_lumpdimer__body() { throw Error(ErrorKind::NotImplemented, "update_lumpdimer_"); }
void SootModel::update_w_lumpinc_body() { throw Error(ErrorKind::NotImplemented, "update_w_lumpinc"); }
void SootModel::update_w_lumpcond_body() { throw Error(ErrorKind::NotImplemented, "update_w_lumpcond"); }
double SootModel::dC_tot_dt_PAH_each_slfclsn_lump_body(int) { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_PAH_each_slfclsn_lump"); }
double SootModel::dH_tot_dt_PAH_each_slfclsn_lump_body(int) { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_PAH_each_slfclsn_lump"); }
double SootModel::inception_N_agg_slfclsn_body() { throw Error(ErrorKind::NotImplemented, "inception_N_agg_slfclsn"); }
double SootModel::inception_C_tot_slfclsn_body() { throw Error(ErrorKind::NotImplemented, "inception_C_tot_slfclsn"); }
double SootModel::inception_H_tot_slfclsn_body() { throw Error(ErrorKind::NotImplemented, "inception_H_tot_slfclsn"); }
void SootModel::create_PAH_dimer_slfclsn_body() { throw Error(ErrorKind::NotImplemented, "create_PAH_dimer_slfclsn"); }
void SootModel::PAH_growth_update_slfclsn_body() { throw Error(ErrorKind::NotImplemented, "PAH_growth_update_slfclsn"); }
void SootModel::update_scrub_wdot_PAH_growth_slfclsn_body() { throw Error(ErrorKind::NotImplemented, "update_scrub_wdot_PAH_growth_slfclsn"); }
double SootModel::inception_N_agg_slfclsn_lump_body() { throw Error(ErrorKind::NotImplemented, "inception_N_agg_slfclsn_lump"); }
double SootModel::inception_C_tot_slfclsn_lump_body() { throw Error(ErrorKind::NotImplemented, "inception_C_tot_slfclsn_lump"); }
double SootModel::inception_H_tot_slfclsn_lump_body() { throw Error(ErrorKind::NotImplemented, "inception_H_tot_slfclsn_lump"); }
void SootModel::create_PAH_dimer_slfclsn_lump_body() { throw Error(ErrorKind::NotImplemented, "create_PAH_dimer_slfclsn_lump"); }
void SootModel::PAH_growth_update_slfclsn_lump_body() { throw Error(ErrorKind::NotImplemented, "PAH_growth_update_slfclsn_lump"); }
void SootModel::update_scrub_wdot_PAH_growth_slfclsn_lump_body() { throw Error(ErrorKind::NotImplemented, "update_scrub_wdot_PAH_growth_slfclsn_lump"); }

}  // namespace fv::soot
