// fv::flame steady soot solve: the state at which the pseudo-time iteration of
// the flame soot solvers stops changing, found directly.
//
// The equations are the steady form of the solvers' discrete equations, with
// the diffusivity D and the sources S evaluated by the soot model at the same
// soot values (no lag). For each soot variable N (mol/kg) at point i:
//   interior 0 < i < m: lower N[i-1] + diag N[i] + upper N[i+1] - rho S = 0
//       (first-order upwind convection with the sign of u, central diffusion
//        on the non-uniform grid; the coefficients of the pseudo-time rows
//        without the time term rho/dt)
//   left, i = 0:         mdot_left N[0] + D rho (N[1] - N[0])/dz[1] - rho u N_in,left = 0
//   right, flux:         mdot_right N[m] - D rho (N[m] - N[m-1])/dz[m]
//                          + rho[m-1] u[m] N_in,right = 0
//   right, outflow:      c (N[m] - N[m-1]) = 0, c = rho|u|/dz[m] (rho/dz[m] times
//                          1 m/s where u[m] = 0), a convective weight that gives
//                          the row the units of the others, mol/(m^3 s)
// The four variables of a point are coupled only through the soot model at
// that point, so the Newton matrix is block tridiagonal with 4 x 4 blocks.
//
// Scaling. Each variable's residual is measured against the largest term of
// that variable's equations anywhere on the grid (|coefficient x value|, the
// source term rho|S|, the diffusive and inflow terms of the boundary rows):
//   residual = max over k, i of |R_k,i| / max over i of largest term_k,i.
// This is dimensionless, blind to the many decades between N_agg (~1e-24 at
// its floor) and C_tot (~1e-2), and zero only at a solution. The Newton
// rows are scaled the same way before the block elimination (partial pivoting
// inside each block is then meaningful); the unknowns stay the solver's own
// variables (mol/kg), to which pivoting is indifferent.
//
// Method: damped Newton with pseudo-transient continuation. Each step solves
//   (J + rho/dtau) dN = -R(N)
// (the time term on interior rows only), i.e. one linearised implicit-Euler
// step of pseudo-time length dtau. The step is damped per variable where it
// would carry a value past zero or far below it (taken in asinh(N / floor),
// see update() in steady.cpp). It is accepted when the model is finite there
// and its pseudo-time residual R(N + dN) + rho/dtau dN is below the steady
// residual at N (root mean square over the grid); dtau then grows by `grow`,
// otherwise it shrinks by `shrink` and the step is recomputed with the same
// Jacobian. A step into values where the model's arithmetic fails (a zero
// divisor) counts as rejected. As dtau grows the method becomes plain Newton.
// The diagonal blocks of J hold the transport coefficients exactly plus the
// soot model's part (D and S in the point's own four values) by finite
// differences of the model, each value perturbed by `perturbation`
// max(|N|, floor); the off-diagonal blocks are the exact transport
// coefficients.
//
// Where the model is not smooth at the solution (primaries per aggregate held
// at one in an oxidation zone, values at their floors) the finite-difference
// Newton iteration may stall at a scaled residual of 1e-7 to 1e-10; the
// report then says so and the caller can step in pseudo-time from there.
#pragma once

#include <array>
#include <cstddef>
#include <limits>
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
  double mdot_left = 0.0;   // kg/(m^2 s)
  double mdot_right = 0.0;  // kg/(m^2 s), flux condition only
  int boundary_type_right = 0;  // 0: flux condition; anything else: outflow
  SootPoint in_left{};      // soot entering on the left, mol/kg
  SootPoint in_right{};     // soot entering on the right (flux condition), mol/kg
  SootPoint floor{};        // the model's floors, mol/kg: perturbation sizes
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
  int max_iterations = 200;     // Newton steps tried (accepted and rejected)
  double dtau = 1e-5;           // first pseudo-time step, s
  double grow = 3.0;            // dtau factor after an accepted step
  double shrink = 5.0;          // dtau divisor after a rejected step
  double perturbation = 1e-7;   // relative finite-difference step
};

struct SteadyReport {
  bool converged = false;
  int iterations = 0;           // Newton steps tried
  int rejected = 0;             // of which rejected
  long evaluations = 0;         // soot-model point evaluations
  double residual = std::numeric_limits<double>::infinity();
  double dtau = 0.0;            // pseudo-time step at the end, s
  int worst_variable = 0;       // where the residual is largest (0..3)
  long worst_point = 0;
};

// Scaled residual of the steady equations at N (one evaluation per point).
// Fills report.residual, worst_variable, worst_point and evaluations.
SteadyReport steady_residual(const SteadyProblem& p, PointModel& model,
                             const std::vector<SootPoint>& N);

// Solves the steady equations starting from N; N holds the last accepted
// state on return (the solution when report.converged). Errors of the model
// propagate; N is then left as it was before the failing evaluation's step.
SteadyReport solve_steady(const SteadyProblem& p, PointModel& model, std::vector<SootPoint>& N,
                          const SteadyOptions& options);

}  // namespace fv::flame
