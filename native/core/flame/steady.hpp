// fv::flame steady soot solve: the steady soot profiles of a frozen flame,
// found directly, on the block-tridiagonal Newton machinery of block_newton.hpp
// (blocks of the four soot variables of a point).
//
// The equations are the steady form of the flame soot solvers' discrete
// equations at interior points, with the diffusivity D and the sources S
// evaluated by the soot model at the same soot values (no lag), and inflow
// boundary rows that balance the fluxes. For each soot variable N (mol/kg) at
// point i, with mdot > 0 the mass flux entering through that end:
//   interior 0 < i < m: lower N[i-1] + diag N[i] + upper N[i+1] - rho S = 0
//       (first-order upwind convection with the sign of u, central diffusion
//        on the non-uniform grid; the coefficients of the pseudo-time rows
//        without the time term rho/dt)
//   left inflow, i = 0:  mdot_left N[0] - rho D (N[1] - N[0])/dz[1] - mdot_left N_in,left = 0
//       (the soot flux into the domain, convective plus diffusive, equals the
//        flux the entering gas carries, mol/(m^2 s))
//   right inflow (flux condition), gas entering in -z:
//                        mdot_right N[m] + rho D (N[m] - N[m-1])/dz[m] - mdot_right N_in,right = 0
//   right outflow:       c (N[m] - N[m-1]) = 0, c = rho|u|/dz[m] (rho/dz[m] times
//                          1 m/s where u[m] = 0), a convective weight that gives
//                          the row the units of the others, mol/(m^3 s)
// (rho and D of the boundary point itself). With soot entering at or above
// zero, an inflow row makes N[0] a weighted mean of N_in and N[1]: the
// boundary value never falls below both.
// The four variables of a point are coupled only through the soot model at
// that point, so the Jacobian's off-diagonal blocks are diagonal.
//
// Scaling. Each variable's residual is measured against the largest term of
// that variable's equations anywhere on the grid (|coefficient x value|, the
// source term rho|S|, the diffusive and inflow terms of the boundary rows):
//   residual = max over k, i of |R_k,i| / max over i of largest term_k,i.
// This is dimensionless, blind to the many decades between N_agg (~1e-24 at
// its floor) and C_tot (~1e-2), and zero only at a solution. The Newton
// rows are scaled the same way before the block elimination.
//
// Method: damped Newton, with backward-Euler pseudo-time steps of the
// equations rho dN/dt + R(N) = 0 (interior rows; the boundary rows hold at
// every instant) where Newton stalls (block_newton.hpp). A step is applied per
// variable in asinh(N / floor) where it would carry a value past zero or far
// below it (see apply_step in steady.cpp). The Jacobian's diagonal blocks hold
// the transport coefficients exactly plus the soot model's part (D and S in
// the point's own four values) by finite differences of the model, each value
// perturbed by `perturbation` max(|N|, floor); the off-diagonal blocks are the
// exact transport coefficients.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "../common/errors.hpp"

namespace fv::flame {

constexpr int kSteadyVars = 4;  // N_agg, N_pri, C_tot, H_tot
using SootPoint = std::array<double, kSteadyVars>;

// The frozen gas of the flame and the boundary data, on the solver grid.
struct SteadyProblem {
  std::vector<double> dz;   // dz[i] = z[i] - z[i-1], dz[0] = dz[1], m
  std::vector<double> rho;  // kg/m^3
  std::vector<double> u;    // soot velocity u_gas + u_th, m/s
  double mdot_left = 0.0;   // mass flux entering on the left, kg/(m^2 s)
  double mdot_right = 0.0;  // mass flux entering on the right (flux condition), kg/(m^2 s)
  int boundary_type_right = 0;  // 0: flux condition; anything else: outflow
  SootPoint in_left{};      // soot entering on the left, mol/kg
  SootPoint in_right{};     // soot entering on the right (flux condition), mol/kg
  SootPoint floor{};        // the model's floors, mol/kg: perturbation and step scales
  long size() const { return static_cast<long>(rho.size()); }
};

// The soot model at point i of the grid: diffusivity D (m^2/s) and, when
// `sources`, the four source terms S (mol/(kg s)) at soot values N (mol/kg).
class PointModel {
 public:
  virtual ~PointModel() = default;
  virtual void evaluate(long i, const SootPoint& N, bool sources, double& D, SootPoint& S) = 0;
  // Whether an error of evaluate() says only that the soot values lie outside
  // the model's domain (its arithmetic failed there: a zero divisor, an
  // overflow). A Newton step that leads there is rejected like a non-finite
  // one, and the error is dropped; any other error propagates.
  virtual bool outside_domain(const Error& e) {
    return e.kind() == ErrorKind::ZeroDivision || e.kind() == ErrorKind::Overflow;
  }
};

struct SteadyOptions {
  double rtol = 1e-10;          // converged when the scaled residual is below this
  int max_iterations = 200;     // Newton iterations in all (steady and in time steps)
  int max_time_steps = 10000;   // accepted pseudo-time steps
  double dtau = 1e-5;           // first pseudo-time step, s
  double perturbation = 1e-7;   // relative finite-difference step
};

struct SteadyReport {
  bool converged = false;
  int iterations = 0;           // Newton iterations
  int time_steps = 0;           // accepted pseudo-time steps
  int jacobians = 0;            // Jacobian evaluations
  int rejected = 0;             // pseudo-time steps retried with a smaller step
  int linear_steps = 0;         // of the time steps, those made linearly implicit
  long evaluations = 0;         // soot-model point evaluations
  double residual = std::numeric_limits<double>::infinity();
  double dtau = 0.0;            // pseudo-time step at the end, s
  int worst_variable = 0;       // where the residual is largest (0..3)
  long worst_point = 0;
  std::string stop;             // why an unconverged solve stopped
};

// Scaled residual of the steady equations at N (one evaluation per point).
// Fills report.residual, worst_variable, worst_point and evaluations.
SteadyReport steady_residual(const SteadyProblem& p, PointModel& model,
                             const std::vector<SootPoint>& N);

// Solves the steady equations starting from N; N holds the last accepted
// state on return (the solution when report.converged), also when an error of
// the model propagates.
SteadyReport solve_steady(const SteadyProblem& p, PointModel& model, std::vector<SootPoint>& N,
                          const SteadyOptions& options);

// Up to `steps` pseudo-time steps of length dt (s) of rho dN/dt + R(N) = 0,
// each one linear solve with convection and diffusion implicit and the model's
// D and S at the old level (the scheme of the flame solvers' pseudo-time
// steps, with the boundary rows above). Stops when the scaled residual is
// below rtol (report.converged), and before a step whose result is not finite
// (report.stop); report.time_steps steps were made and N holds their result,
// also when an error of the model propagates.
SteadyReport step_steady(const SteadyProblem& p, PointModel& model, std::vector<SootPoint>& N,
                         double dt, int steps, double rtol);

}  // namespace fv::flame
