// fv::flame::FlameVectors — the numbers of the vector-based flame soot solver:
// its settings, the gas profiles on the solver grid, the three diagonals of
// the implicit system, the right-hand sides and the four soot variables at
// two time levels, all as plain vectors of doubles.
//
// The functions below assemble and solve one pseudo-time step on these
// vectors. Every element access is bounds-checked (IndexError naming the
// vector), because any vector may have been replaced by one of another
// length; every division by a spacing, by dz[i+1] + dz[i], by dt, by a pivot
// or by T rho raises ZeroDivisionError "float division" for a zero divisor.
// Units: z, dz m; T K; mu Pa s; rho kg/m^3; velocities m/s; dt s; mass fluxes
// kg/(m^2 s); soot variables mol/kg; diffusivities m^2/s.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "../common/checked.hpp"
#include "flame_rows.hpp"

namespace fv::flame {

// The four soot variables, in the order every step treats them.
enum SootVar : int { kNagg = 0, kNpri, kCtot, kHtot, kSootVarCount };

struct FlameVectors {
  int n_time_steps = 0;
  int n_species = 0;
  int n_points = 0;
  int boundary_type_right = 0;  // 0: flux (inlet) condition; else outflow
  double dt = 0.0;              // pseudo-time step, s
  double P = 0.0;               // pressure, Pa
  double mdot_left = 0.0;       // mass flux closing the left row, kg/(m^2 s)
  double mdot_right = 0.0;      // mass flux closing the right flux row
  // soot content of the gas entering through each boundary, mol/kg
  double N_agg_in_left = 0.0, N_pri_in_left = 0.0, C_tot_in_left = 0.0, H_tot_in_left = 0.0;
  double N_agg_in_right = 0.0, N_pri_in_right = 0.0, C_tot_in_right = 0.0,
         H_tot_in_right = 0.0;

  std::vector<double> z, dz;                       // grid and backward spacing
  std::vector<double> T, mu, rho, u_gas, u_th, u;  // profiles on the grid
  std::vector<double> upper, diag, lower;          // the tridiagonal matrix
  std::vector<double> B_N_agg, B_N_pri, B_C_tot, B_H_tot;
  std::vector<double> N_agg_n, N_agg_n1, N_pri_n, N_pri_n1;
  std::vector<double> C_tot_n, C_tot_n1, H_tot_n, H_tot_n1;

  std::vector<double>& B(int k) {
    std::vector<double>* v[kSootVarCount] = {&B_N_agg, &B_N_pri, &B_C_tot, &B_H_tot};
    return *v[k];
  }
  std::vector<double>& current(int k) {
    std::vector<double>* v[kSootVarCount] = {&N_agg_n, &N_pri_n, &C_tot_n, &H_tot_n};
    return *v[k];
  }
  std::vector<double>& next(int k) {
    std::vector<double>* v[kSootVarCount] = {&N_agg_n1, &N_pri_n1, &C_tot_n1, &H_tot_n1};
    return *v[k];
  }
  double in_left(int k) const {
    const double v[kSootVarCount] = {N_agg_in_left, N_pri_in_left, C_tot_in_left, H_tot_in_left};
    return v[k];
  }
  double in_right(int k) const {
    const double v[kSootVarCount] = {N_agg_in_right, N_pri_in_right, C_tot_in_right,
                                     H_tot_in_right};
    return v[k];
  }

  // working copies for the Thomas algorithm (not state)
  std::vector<double> work_b, work_d;
};

// Names used in index errors.
constexpr const char* kB_names[kSootVarCount] = {"B_N_agg", "B_N_pri", "B_C_tot", "B_H_tot"};
constexpr const char* kN_names[kSootVarCount] = {"N_agg_n", "N_pri_n", "C_tot_n", "H_tot_n"};
constexpr const char* kN1_names[kSootVarCount] = {"N_agg_n1", "N_pri_n1", "C_tot_n1",
                                                  "H_tot_n1"};

// v[i] for i from the solver's loops, IndexError "index i is out of range for
// <name> of length n" otherwise.
inline double& at(std::vector<double>& v, long i, const char* name) {
  return checked_at(v, i, name);
}

// dz sized to n: dz[j] = z[j] - z[j-1] for j = 1 .. n-1, dz[0] = dz[1].
inline void set_spacing(FlameVectors& s, long n) {
  s.dz.assign(static_cast<std::size_t>(n), 0.0);
  for (long j = 1; j < n; ++j) at(s.dz, j, "dz") = at(s.z, j, "z") - at(s.z, j - 1, "z");
  at(s.dz, 0, "dz") = at(s.dz, 1, "dz");
}

// Thermophoretic drift u_th[i] for i = 1 .. n-1 from left to right, then
// u_th[0] = u_th[1]; then u[i] = u_th[i] + u_gas[i] for i = 0 .. n-1.
inline void set_velocities(FlameVectors& s, long n) {
  for (long i = 1; i < n; ++i)
    at(s.u_th, i, "u_th") = thermophoretic_velocity<CheckedDiv>(
        at(s.mu, i, "mu"), at(s.rho, i, "rho"), at(s.T, i, "T"), at(s.T, i - 1, "T"),
        at(s.dz, i, "dz"));
  at(s.u_th, 0, "u_th") = at(s.u_th, 1, "u_th");
  for (long i = 0; i < n; ++i) at(s.u, i, "u") = at(s.u_th, i, "u_th") + at(s.u_gas, i, "u_gas");
}

// Left boundary row (point 0) with the diffusivity D of point 0: diagonal
// mdot_left, explicit right-hand sides with the left inlet values, and no
// coupling to point 1 (upper[0] = 0).
inline void left_boundary(FlameVectors& s, double D) {
  at(s.diag, 0, "diag") = s.mdot_left;
  for (int k = 0; k < kSootVarCount; ++k) {
    std::vector<double>& N = s.current(k);
    const double rhs = left_rhs<CheckedDiv>(D, at(s.rho, 0, "rho"), at(N, 0, kN_names[k]),
                                            at(N, 1, kN_names[k]), at(s.dz, 1, "dz"),
                                            at(s.u, 0, "u"), s.in_left(k));
    at(s.B(k), 0, kB_names[k]) = rhs;
  }
  at(s.upper, 0, "upper") = 0.0;
}

// Right boundary row (point m) with the diffusivity D of point m: the flux
// condition with the right inlet values (boundary_type_right 0) or the
// outflow condition; no coupling to point m-1 (lower[m-1] = 0).
inline void right_boundary(FlameVectors& s, long m, double D, double dt) {
  if (s.boundary_type_right == 0) {
    at(s.diag, m, "diag") = s.mdot_right;
    for (int k = 0; k < kSootVarCount; ++k) {
      std::vector<double>& N = s.current(k);
      const double rhs = right_flux_rhs<CheckedDiv>(
          D, at(s.rho, m, "rho"), at(N, m, kN_names[k]), at(N, m - 1, kN_names[k]),
          at(s.dz, m, "dz"), at(s.rho, m - 1, "rho"), at(s.u, m, "u"), s.in_right(k));
      at(s.B(k), m, kB_names[k]) = rhs;
    }
  } else {
    at(s.diag, m, "diag") = outflow_diag<CheckedDiv>(at(s.rho, m, "rho"), dt);
    for (int k = 0; k < kSootVarCount; ++k) {
      const double rhs =
          outflow_rhs<CheckedDiv>(at(s.rho, m, "rho"), dt, at(s.current(k), m - 1, kN_names[k]));
      at(s.B(k), m, kB_names[k]) = rhs;
    }
  }
  at(s.lower, m - 1, "lower") = 0.0;
}

// Coefficients of interior row i (1 <= i <= m-1) into lower[i-1], diag[i],
// upper[i], with the diffusivity D of point i.
inline void interior_coefficients(FlameVectors& s, long i, double D, double dt) {
  const Row r = interior_row<CheckedDiv>(at(s.rho, i, "rho"), at(s.u, i, "u"), D,
                                         at(s.dz, i, "dz"), at(s.dz, i + 1, "dz"), dt);
  at(s.lower, i - 1, "lower") = r.lower;
  at(s.diag, i, "diag") = r.diag;
  at(s.upper, i, "upper") = r.upper;
}

// Right-hand side of interior row i for variable k with its source S.
inline void interior_source(FlameVectors& s, long i, int k, double dt, double S) {
  const double rhs =
      interior_rhs<CheckedDiv>(at(s.rho, i, "rho"), dt, at(s.current(k), i, kN_names[k]), S);
  at(s.B(k), i, kB_names[k]) = rhs;
}

// Thomas algorithm on the tridiagonal system with sub-diagonal a (a[j-1] in
// row j), diagonal b, super-diagonal c and right-hand side d; nf = d.size().
// b and d are working copies and are overwritten; the solution is left in b.
// ValueError for an empty d or for a, b, c too short; ZeroDivisionError
// "float division" for a zero pivot.
inline void thomas_in_place(const std::vector<double>& a, std::vector<double>& b,
                            const std::vector<double>& c, std::vector<double>& d) {
  const std::size_t nf = d.size();
  if (nf == 0) throw Error(ErrorKind::Value, "solve_TDMA: the right-hand side d is empty");
  auto require = [nf](const char* name, std::size_t have, std::size_t need) {
    if (have < need)
      throw Error(ErrorKind::Value, std::string("solve_TDMA: ") + name + " has " +
                                        std::to_string(have) + " elements, " +
                                        std::to_string(need) + " needed for " +
                                        std::to_string(nf) + " equations");
  };
  require("a", a.size(), nf - 1);
  require("b", b.size(), nf);
  require("c", c.size(), nf - 1);
  solve_tridiagonal<CheckedDiv>(a.data(), b.data(), c.data(), d.data(), b.data(), nf);
  b.resize(nf);
}

// Solution of the system (lower, diag, upper, B_k) into next(k); next(k) is
// left unchanged when the solve fails.
inline void solve_variable(FlameVectors& s, int k) {
  s.work_b = s.diag;
  s.work_d = s.B(k);
  thomas_in_place(s.lower, s.work_b, s.upper, s.work_d);
  s.next(k).swap(s.work_b);
}

// The new level becomes the current one (a copy, not shared storage).
inline void advance(FlameVectors& s) {
  for (int k = 0; k < kSootVarCount; ++k) s.current(k) = s.next(k);
}

}  // namespace fv::flame
