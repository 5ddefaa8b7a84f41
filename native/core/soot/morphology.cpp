// STUB: particle morphology and gas-side quantities
#include "soot_model.hpp"

namespace fv::soot {

double SootModel::molar_density_body(int) { throw Error(ErrorKind::NotImplemented, "molar_density"); }
double SootModel::calc_lambda_gas_body() { throw Error(ErrorKind::NotImplemented, "calc_lambda_gas"); }
double SootModel::diffus_coeff_const_body() { throw Error(ErrorKind::NotImplemented, "diffus_coeff_const"); }
double SootModel::diffus_coeff_morph_body() { throw Error(ErrorKind::NotImplemented, "diffus_coeff_morph"); }
double SootModel::dispersion_exponent_body() { throw Error(ErrorKind::NotImplemented, "dispersion_exponent"); }
double SootModel::volume_fraction_body() { throw Error(ErrorKind::NotImplemented, "volume_fraction"); }
double SootModel::total_mass_body() { throw Error(ErrorKind::NotImplemented, "total_mass"); }
double SootModel::carbon_mass_body() { throw Error(ErrorKind::NotImplemented, "carbon_mass"); }
double SootModel::hydrogen_mass_body() { throw Error(ErrorKind::NotImplemented, "hydrogen_mass"); }
double SootModel::SSA_body() { throw Error(ErrorKind::NotImplemented, "SSA"); }
double SootModel::V_tot_body() { throw Error(ErrorKind::NotImplemented, "V_tot"); }
double SootModel::A_tot_body() { throw Error(ErrorKind::NotImplemented, "A_tot"); }
double SootModel::A_Ag_body() { throw Error(ErrorKind::NotImplemented, "A_Ag"); }
double SootModel::V_Ag_body() { throw Error(ErrorKind::NotImplemented, "V_Ag"); }
double SootModel::m_Ag_body() { throw Error(ErrorKind::NotImplemented, "m_Ag"); }
double SootModel::d_m_body() { throw Error(ErrorKind::NotImplemented, "d_m"); }
double SootModel::d_g_body() { throw Error(ErrorKind::NotImplemented, "d_g"); }
double SootModel::V_p_body() { throw Error(ErrorKind::NotImplemented, "V_p"); }
double SootModel::A_p_body() { throw Error(ErrorKind::NotImplemented, "A_p"); }
double SootModel::d_p_body() { throw Error(ErrorKind::NotImplemented, "d_p"); }
double SootModel::n_p_body() { throw Error(ErrorKind::NotImplemented, "n_p"); }
double SootModel::m_p_body() { throw Error(ErrorKind::NotImplemented, "m_p"); }

}  // namespace fv::soot
