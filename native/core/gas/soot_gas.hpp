// fv::gas::SootGas — a stand-alone record of one gas state. Values are stored
// as given (no unit conversion).
#pragma once

#include <vector>

namespace fv::gas {

class SootGas {
 public:
  std::vector<double> X;    // mole fractions
  std::vector<double> MWs;  // species molar masses
  double mu = 0.0;          // dynamic viscosity
  double T = 0.0;           // temperature
  double P = 0.0;           // pressure
  double rho = 0.0;         // density
  double mean_MW = 0.0;     // mean molar mass

  // Mean free path, m for SI inputs with molar masses in kg/mol.
  double lambda_gas() const;
  double mole_fraction(long index) const;     // X[index]
  double molar_mass(long index) const;        // MWs[index]
  double mass_fraction(long index) const;     // X[index] MWs[index] / mean_MW
  double concentration(long index) const;     // X[index] rho / mean_MW
};

}  // namespace fv::gas
