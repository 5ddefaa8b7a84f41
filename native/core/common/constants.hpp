// Physical constants shared by the soot model, the gas record and the drivers.
#pragma once

namespace fv::constants {

inline constexpr double Av = 6.02214076e23;        // Avogadro number, 1/mol
inline constexpr double kB = 1.3806488e-23;        // Boltzmann constant, J/K
inline constexpr double R = 8.31446261815324;      // gas constant, J/(mol K)
inline constexpr double Pi = 3.1415926535;         // the model's ten-decimal pi
inline constexpr double pi = 3.141592653589793;    // full double-precision pi
inline constexpr double P_atm = 101325.0;          // reference pressure, Pa
inline constexpr double rho_soot = 1800.0;         // soot material density, kg/m^3
inline constexpr double MW_carbon = 0.012011;      // kg/mol
inline constexpr double MW_hydrogen = 0.00100784;  // kg/mol

}  // namespace fv::constants
