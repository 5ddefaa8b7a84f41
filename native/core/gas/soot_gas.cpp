#include "soot_gas.hpp"

#include <cmath>

#include "../common/checked.hpp"
#include "../common/constants.hpp"

namespace fv::gas {

namespace c = fv::constants;

double SootGas::lambda_gas() const {
  return fdiv(mu, rho) * std::pow(fdiv(mean_MW * c::Pi, c::kB * 2.0 * c::Av * T), 0.5);
}

double SootGas::mole_fraction(long index) const { return FV_AT(X, index); }

double SootGas::molar_mass(long index) const { return FV_AT(MWs, index); }

double SootGas::mass_fraction(long index) const {
  return pydiv(FV_AT(X, index) * FV_AT(MWs, index), mean_MW);
}

double SootGas::concentration(long index) const { return pydiv(FV_AT(X, index) * rho, mean_MW); }

}  // namespace fv::gas
