// STUB: oxidation
#include "soot_model.hpp"

namespace fv::soot {

double SootModel::omega_O2_body() { throw Error(ErrorKind::NotImplemented, "omega_O2"); }
double SootModel::omega_OH_body() { throw Error(ErrorKind::NotImplemented, "omega_OH"); }
double SootModel::dC_tot_dt_O2_alt_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_O2_alt"); }
double SootModel::dC_tot_dt_OH_alt_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_OH_alt"); }
double SootModel::dH_tot_dt_O2_alt_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_O2_alt"); }
double SootModel::dH_tot_dt_OH_alt_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_OH_alt"); }
double SootModel::dC_tot_dt_O2_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_O2"); }
double SootModel::dC_tot_dt_OH_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_OH"); }
double SootModel::dC_tot_dt_Ox_body() { throw Error(ErrorKind::NotImplemented, "dC_tot_dt_Ox"); }
double SootModel::dH_tot_dt_O2_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_O2"); }
double SootModel::dH_tot_dt_OH_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_OH"); }
double SootModel::dH_tot_dt_Ox_body() { throw Error(ErrorKind::NotImplemented, "dH_tot_dt_Ox"); }

}  // namespace fv::soot
