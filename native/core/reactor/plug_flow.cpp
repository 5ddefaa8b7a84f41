#include "plug_flow.hpp"

#include <cmath>

#include "../common/checked.hpp"
#include "../common/constants.hpp"

namespace fv::reactor {

void PlugFlow::defaults() {
  Nu_const_temp = 3.66;
  Nu_const_heat = 4.63;
  Rt_offset = 0;
  rho_u_vfv_offset = 1;
  T_offset = 2;
  Y_offset = 3;
  soot_offset = 0;
  u = 0.0;
  _enable_fixed_density = false;
  _use_fixed_density = false;
  _enable_soot = false;
  _use_temp_time_history = false;
  _use_temp_value = false;
  _enable_wall_deposition = false;
  fixed_density = 0.0;
  k_dep = 0.0;
  perimeter = 0.0;
  area = 0.0;
}

double hydraulic_diameter(double area, double perimeter) { return fdiv(area * 4.0, perimeter); }

double external_heat(const PlugFlow& r, double T_wall, double T) {
  const double D_h = fdiv(4.0 * r.area, r.perimeter);
  return fdiv(r.perimeter, r.area) * fdiv(r.Nu_const_temp * 1e10, D_h) * (T_wall - T);
}

double reynolds(const PlugFlow& r, double density, double viscosity) {
  const double D_h = fdiv(4.0 * r.area, r.perimeter);
  return fdiv(density * r.u * D_h, viscosity);
}

double fanning_friction(double Re) { return fdiv(0.0791, std::pow(Re, 0.25)); }

double soot_derivative(double S, double X, double m_s, double rho, double u, double f,
                       double D_h, double k_dep) {
  const double convected = fdiv(S, u) - fdiv(X * m_s, rho * u);
  return convected - fdiv(1.0, (1.0 - f) * u) * fdiv(4.0, D_h) * k_dep * X;
}

double deposition_coefficient(double u, double ff, double nu, double D) {
  return (u * 0.042) * std::pow(ff, 0.5) * std::pow(fdiv(nu, D), -0.666666666667);
}

double deposit_thickness_growth_rate(double u, double rho, double N_agg, double Av, double d_m) {
  return fdiv(1.0, u) * rho * N_agg * Av * constants::pi / 6.0 * std::pow(d_m, 3.0);
}

}  // namespace fv::reactor
