// fv::flame — the numerics shared by both flame soot solvers: thermophoretic
// drift, the rows of the implicit pseudo-time step for one soot variable, and
// the Thomas algorithm. The discretised equation at an interior point i is
// implicit Euler in time, first-order upwind convection and central diffusion
// on the non-uniform grid (dz[i] = z[i] - z[i-1]):
//   rho (N' - N)/dt + rho u dN'/dz = rho D d2N'/dz2 + rho S.
// Every formula keeps the operation order of the solver's definition, so both
// solvers produce the same numbers.
//
// Div selects what a division does: IeeeDiv gives IEEE results (inf, NaN),
// as NumPy scalar arithmetic does; CheckedDiv raises ZeroDivisionError
// "float division" for a zero divisor.
#pragma once

#include <cmath>
#include <cstddef>

#include "../common/checked.hpp"

namespace fv::flame {

struct IeeeDiv {
  static double div(double a, double b) { return a / b; }
};
struct CheckedDiv {
  static double div(double a, double b) { return fdiv(a, b); }
};

// Thermophoretic drift velocity at point i >= 1, m/s:
// -0.538 mu / (rho T) (T - T_prev) / dz, with mu Pa s, rho kg/m^3, T K, dz m.
template <class Div>
double thermophoretic_velocity(double mu, double rho, double T, double T_prev, double dz) {
  return Div::div(Div::div(-0.538 * mu, rho * T) * (T - T_prev), dz);
}

// Coefficients of row i: lower multiplies N'[i-1], diag N'[i], upper N'[i+1].
struct Row {
  double lower, diag, upper;
};

// Interior row with density rho, soot velocity u, diffusivity D (m^2/s), the
// spacings dz_i = z[i]-z[i-1] and dz_next = z[i+1]-z[i], and time step dt (s).
// Upwind from the left for u > 0, from the right otherwise (u = 0 and NaN
// included; the comparison is a quiet one, so a NaN velocity raises no flag).
// The entries are also available one by one, from the diffusion factor q,
// for callers that check each stored value.

// q = 2 rho D / (dz_next + dz_i), kg/(m^3 s)
template <class Div>
double diffusion_factor(double rho, double D, double dz_i, double dz_next) {
  return Div::div((2.0 * rho) * D, dz_next + dz_i);
}

template <class Div>
double interior_lower(double rho, double u, double q, double dz_i) {
  if (std::isgreater(u, 0.0)) return Div::div(-rho * u, dz_i) - q * Div::div(1.0, dz_i);
  return -q * Div::div(1.0, dz_i);
}

template <class Div>
double interior_diag(double rho, double u, double q, double dz_i, double dz_next, double dt) {
  const double diffusion_diag = q * (Div::div(-1.0, dz_next) - Div::div(1.0, dz_i));
  if (std::isgreater(u, 0.0)) return Div::div(rho, dt) + Div::div(rho * u, dz_i) - diffusion_diag;
  return Div::div(rho, dt) + Div::div(-rho * u, dz_next) - diffusion_diag;
}

// Diagonal of interior row i in the steady equations: interior_diag without
// the time term rho/dt, same branches and operation order otherwise.
template <class Div>
double steady_interior_diag(double rho, double u, double q, double dz_i, double dz_next) {
  const double diffusion_diag = q * (Div::div(-1.0, dz_next) - Div::div(1.0, dz_i));
  if (std::isgreater(u, 0.0)) return Div::div(rho * u, dz_i) - diffusion_diag;
  return Div::div(-rho * u, dz_next) - diffusion_diag;
}

template <class Div>
double interior_upper(double rho, double u, double q, double dz_next) {
  if (std::isgreater(u, 0.0)) return -q * Div::div(1.0, dz_next);
  return Div::div(rho * u, dz_next) - q * Div::div(1.0, dz_next);
}

template <class Div>
Row interior_row(double rho, double u, double D, double dz_i, double dz_next, double dt) {
  const double q = diffusion_factor<Div>(rho, D, dz_i, dz_next);
  Row r;
  r.lower = interior_lower<Div>(rho, u, q, dz_i);
  r.diag = interior_diag<Div>(rho, u, q, dz_i, dz_next, dt);
  r.upper = interior_upper<Div>(rho, u, q, dz_next);
  return r;
}

// Right-hand side of an interior row: rho/dt N + rho S (S in units of N per s).
template <class Div>
double interior_rhs(double rho, double dt, double N, double S) {
  return Div::div(rho, dt) * N + rho * S;
}

// Left boundary right-hand side (the row's diagonal is mdot_left): explicit
// diffusion with D negated plus the inflow rho0 u0 N_in.
template <class Div>
double left_rhs(double D, double rho0, double N0, double N1, double dz1, double u0, double N_in) {
  return Div::div(-D * rho0 * (N1 - N0), dz1) + rho0 * u0 * N_in;
}

// Right boundary right-hand side under the flux condition (diagonal
// mdot_right): the inflow uses the density of the neighbouring point m-1
// with the velocity of point m.
template <class Div>
double right_flux_rhs(double D, double rho_m, double N_m, double N_prev, double dz_m,
                      double rho_prev, double u_m, double N_in) {
  return Div::div(D * rho_m * (N_m - N_prev), dz_m) - rho_prev * u_m * N_in;
}

// Right boundary under the outflow condition: diagonal rho_m/dt and
// right-hand side rho_m/dt N[m-1], so N'[m] takes its neighbour's old value.
template <class Div>
double outflow_diag(double rho_m, double dt) {
  return Div::div(rho_m, dt);
}
template <class Div>
double outflow_rhs(double rho_m, double dt, double N_prev) {
  return Div::div(rho_m, dt) * N_prev;
}

// Thomas algorithm, in place on working copies: a (sub-diagonal, a[j-1] in
// row j), b (diagonal), c (super-diagonal), d (right-hand side), n = length
// of d >= 1 (the caller checks that a and c hold n-1 and b n values).
// No pivoting. The solution is written into x (which may alias b). `check`
// is called with every value right after it is computed (the multiplier,
// each updated b and d, each x), for callers that watch each operation.
struct NoCheck {
  void operator()(const double&) const {}
};

template <class Div, class Check = NoCheck>
void solve_tridiagonal(const double* a, double* b, const double* c, double* d, double* x,
                       std::size_t n, Check check = Check()) {
  for (std::size_t j = 1; j < n; ++j) {
    const double mc = Div::div(a[j - 1], b[j - 1]);
    check(mc);
    b[j] = b[j] - mc * c[j - 1];
    check(b[j]);
    d[j] = d[j] - mc * d[j - 1];
    check(d[j]);
  }
  x[n - 1] = Div::div(d[n - 1], b[n - 1]);
  check(x[n - 1]);
  for (std::size_t j = n - 1; j-- > 0;) {
    x[j] = Div::div(d[j] - c[j] * x[j + 1], b[j]);
    check(x[j]);
  }
}

}  // namespace fv::flame
