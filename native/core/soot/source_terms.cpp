// STUB: source-term assembly and scrubbing
#include "soot_model.hpp"

namespace fv::soot {

Maybe SootModel::inception_body(int) { throw Error(ErrorKind::NotImplemented, "inception"); }
Maybe SootModel::growth_body(int) { throw Error(ErrorKind::NotImplemented, "growth"); }
Maybe SootModel::oxidation_body(int) { throw Error(ErrorKind::NotImplemented, "oxidation"); }
Maybe SootModel::coagulation_body(int) { throw Error(ErrorKind::NotImplemented, "coagulation"); }
Maybe SootModel::coalescence_body(int) { throw Error(ErrorKind::NotImplemented, "coalescence"); }
double SootModel::S_N_agg_body() { throw Error(ErrorKind::NotImplemented, "S_N_agg"); }
double SootModel::S_N_pri_body() { throw Error(ErrorKind::NotImplemented, "S_N_pri"); }
double SootModel::S_C_tot_body() { throw Error(ErrorKind::NotImplemented, "S_C_tot"); }
double SootModel::S_H_tot_body() { throw Error(ErrorKind::NotImplemented, "S_H_tot"); }
void SootModel::update_scrub_wdot_body() { throw Error(ErrorKind::NotImplemented, "update_scrub_wdot"); }

}  // namespace fv::soot
