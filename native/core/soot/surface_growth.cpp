// STUB: HACA surface growth, site fractions, carbonization
#include "soot_model.hpp"

namespace fv::soot {

double SootModel::gamma_body() { throw Error(ErrorKind::NotImplemented, "gamma"); }
double SootModel::alpha_constant_body() { throw Error(ErrorKind::NotImplemented, "alpha_constant"); }
double SootModel::alpha_empirical_body() { throw Error(ErrorKind::NotImplemented, "alpha_empirical"); }
double SootModel::alpha_ctoh_based_body() { throw Error(ErrorKind::NotImplemented, "alpha_ctoh_based"); }
double SootModel::chi_soot_0_body() { throw Error(ErrorKind::NotImplemented, "chi_soot_0"); }
double SootModel::beta_soot_C2H2_body() { throw Error(ErrorKind::NotImplemented, "beta_soot_C2H2"); }
double SootModel::K_s_body() { throw Error(ErrorKind::NotImplemented, "K_s"); }
double SootModel::dC_tot_dt_HACA_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_HACA"); }
double SootModel::dC_tot_dt_HACA_alt_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_HACA_alt"); }
double SootModel::c_soot_nought_body() { throw Error(ErrorKind::NotImplemented, "c_soot_nought"); }
double SootModel::dH_tot_dt_HACA_alt_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_HACA_alt"); }
double SootModel::dH_tot_dt_carb_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_carb"); }

}  // namespace fv::soot
