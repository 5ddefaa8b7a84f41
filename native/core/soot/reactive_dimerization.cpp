// STUB: reactive dimerization and PAH adsorption (growth model 1)
#include "soot_model.hpp"

namespace fv::soot {

void SootModel::update_phy_dimer__body() { throw Error(ErrorKind::NotImplemented, "update_phy_dimer_"); }
double SootModel::reduced_m_body(int, int) { throw Error(ErrorKind::NotImplemented, "reduced_m"); }
double SootModel::reduced_d_body(int, int) { throw Error(ErrorKind::NotImplemented, "reduced_d"); }
double SootModel::k_FWD_body(int, int) { throw Error(ErrorKind::NotImplemented, "k_FWD"); }
double SootModel::k_REV_body(int, int) { throw Error(ErrorKind::NotImplemented, "k_REV"); }
double SootModel::k_REAC_body() { throw Error(ErrorKind::NotImplemented, "k_REAC"); }
double SootModel::ROP_dimer_body(int) { throw Error(ErrorKind::NotImplemented, "ROP_dimer"); }
double SootModel::beta_fm_soot_PAH_body(int) { throw Error(ErrorKind::NotImplemented, "beta_fm_soot_PAH"); }
double SootModel::beta_cont_soot_PAH_body(int) { throw Error(ErrorKind::NotImplemented, "beta_cont_soot_PAH"); }
double SootModel::C_S_soot_body(double) { throw Error(ErrorKind::NotImplemented, "C_S_soot"); }
double SootModel::k_f_soot_PAH_body(int) { throw Error(ErrorKind::NotImplemented, "k_f_soot_PAH"); }
double SootModel::k_r_soot_PAH_body(int) { throw Error(ErrorKind::NotImplemented, "k_r_soot_PAH"); }
double SootModel::k_PAH_body() { throw Error(ErrorKind::NotImplemented, "k_PAH"); }
double SootModel::soot_PAH_star_body(int) { throw Error(ErrorKind::NotImplemented, "soot_PAH_star"); }
double SootModel::dC_tot_dt_PAH_each_reactived_body(int) { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_PAH_each_reactived"); }
double SootModel::dC_tot_dt_PAH_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_PAH"); }
double SootModel::dH_tot_dt_PAH_each_reactived_body(int) { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_PAH_each_reactived"); }
double SootModel::dH_tot_dt_PAH_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_PAH"); }
void SootModel::create_PAH_dimer_reactived_body() { throw Error(ErrorKind::NotImplemented, "create_PAH_dimer_reactived"); }
void SootModel::update_phy_dimer_wdot_body() { throw Error(ErrorKind::NotImplemented, "update_phy_dimer_wdot"); }
void SootModel::update_soot_PAH_wdot_body() { throw Error(ErrorKind::NotImplemented, "update_soot_PAH_wdot"); }
void SootModel::update_p_soot_PAH_body() { throw Error(ErrorKind::NotImplemented, "update_p_soot_PAH"); }
void SootModel::PAH_growth_update_reactived_body() { throw Error(ErrorKind::NotImplemented, "PAH_growth_update_reactived"); }
double SootModel::inception_N_agg_reactived_body() { throw Error(ErrorKind::NotImplemented, "inception_N_agg_reactived"); }
double SootModel::inception_C_tot_reactived_body() { throw Error(ErrorKind::NotImplemented, "inception_C_tot_reactived"); }
double SootModel::inception_H_tot_reactived_body() { throw Error(ErrorKind::NotImplemented, "inception_H_tot_reactived"); }
void SootModel::update_scrub_wdot_PAH_growth_reactived_body() { throw Error(ErrorKind::NotImplemented, "update_scrub_wdot_PAH_growth_reactived"); }
void SootModel::update_ROP() { throw Error(ErrorKind::NotImplemented, "update_ROP"); }

}  // namespace fv::soot
