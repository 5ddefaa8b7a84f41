// STUB: coagulation and coalescence
#include "soot_model.hpp"

namespace fv::soot {

double SootModel::beta_coag_validation_body() { throw Error(ErrorKind::NotImplemented, "beta_coag_validation"); }
double SootModel::beta_coag_cont_body() { throw Error(ErrorKind::NotImplemented, "beta_coag_cont"); }
double SootModel::beta_coag_fm_body() { throw Error(ErrorKind::NotImplemented, "beta_coag_fm"); }
double SootModel::beta_coag_hm_body() { throw Error(ErrorKind::NotImplemented, "beta_coag_hm"); }
double SootModel::beta_coag_turb_body() { throw Error(ErrorKind::NotImplemented, "beta_coag_turb"); }
double SootModel::N_agg_coag_body() { throw Error(ErrorKind::NotImplemented, "N_agg_coag"); }
double SootModel::t_f_titania_body() { throw Error(ErrorKind::NotImplemented, "t_f_titania"); }
double SootModel::t_f_silica_body() { throw Error(ErrorKind::NotImplemented, "t_f_silica"); }
double SootModel::t_f_md_derived_body() { throw Error(ErrorKind::NotImplemented, "t_f_md_derived"); }
double SootModel::N_pri_coales_sintering_body() { throw Error(ErrorKind::NotImplemented, "N_pri_coales_sintering"); }
double SootModel::N_pri_coales_merge_body() { throw Error(ErrorKind::NotImplemented, "N_pri_coales_merge"); }

}  // namespace fv::soot
