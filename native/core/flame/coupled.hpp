// fv::flame coupled species-and-soot solve: the steady gas species and soot of
// a flame whose temperature and mass flux are held, found together by the
// block-tridiagonal Newton machinery (block_newton.hpp) with blocks of the
// K + 4 unknowns of a point (the K mass fractions, then N_agg, N_pri, C_tot,
// H_tot).
//
// Species rows: the discrete species equations of a one-dimensional flame
// (the burner-stabilised and the axisymmetric stagnation flow alike) with the
// soot's exchange with the gas added. At an interior point i, in kg/(m^3 s):
//   rho_u_i dY_k/dz + 2 (j_k,i+1/2 - j_k,i-1/2) / (z_i+1 - z_i-1)
//       - W_k wdot_k - (a_k - Y_k m_s) = 0
// with
//   - dY_k/dz upwind with the sign of rho_u_i (from the left for rho_u > 0);
//   - the diffusive mass fluxes at the midpoints, mixture-averaged in the
//     mole-fraction gradient, with the correction flux that makes them sum
//     to zero:
//       f_k = c_k (X_k,i - X_k,i+1) / (z_i+1 - z_i),
//       j_k = f_k - Y_k,i sum_l f_l,
//     c_k = rho D_km W_k / Wbar at the midpoint state (mean T and mean Y of
//     the two points), kg/(m s); mole fractions X_k = Y_k Wbar / W_k with
//     Wbar = 1 / sum Y_l / W_l (the Y as they stand, not renormalised);
//   - wdot_k the gas's net production rate at the point (kmol/(m^3 s));
//   - a_k = W_k scrub_k the mass the soot gives species k (scrub_k the soot
//     model's scrubbing rate, kmol/(m^3 s)), with the hydrogen the soot model
//     does not account for given to H2 so that the gas loses exactly the
//     mass the soot gains (reactor/network.hpp), and m_s = sum_k a_k the gas's
//     mass change, kg/(m^3 s): the soot takes mass from the gas at -m_s.
// The mass flux rho_u (and the temperature) are held: the soot's mass, about
// 1e-3 of the gas's, is left out of continuity.
// Boundary rows: an inlet at the left (and, for a stagnation flow, at the
// right) balances the species flux into the domain against what the inlet
// carries, j_k + rho_u Y_k - mdot Y_k,in = 0 at the left and
// j_k + rho_u Y_k + mdot Y_k,in = 0 at the right (rho_u < 0 there, j the
// flux at the first or last midpoint); an outflow end takes its neighbour's
// composition, (Y_k,m - Y_k,m-1) |rho_u_m| / dz_m = 0. At each end one species
// (the most abundant of the starting state there) has instead the row
// sum_k Y_k - 1 = 0.
// Soot rows: the conservation law of each soot variable N (mol/kg),
//   d/dz (rho_u N + rho u_th N - rho D dN/dz) = rho S,
// written, with the same held rho_u, so that each element's rows of the gas and
// of the soot add up to what crosses the domain's ends: at an interior point i,
// in mol/(m^3 s),
//   rho_u_i dN/dz + (Q_i+1/2 - Q_i-1/2) / h_i - rho_i S_i = 0,  h_i = (z_i+1 - z_i-1)/2,
// with
//   - dN/dz upwind with the sign of rho_u_i, as the species rows: the convective
//     form of the flux's divergence, which continuity makes it (rho_u constant
//     through a burner flame; in a stagnation flow the difference of rho_u
//     between neighbours is the gas leaving radially, which takes the upwind
//     point's gas and soot alike);
//   - Q the face flux of diffusion and thermophoresis between points j and j+1:
//       Q = -(rho D)_f (N_j+1 - N_j) / (z_j+1 - z_j) + V_f N_up,
//     (rho D)_f the mean of the two points' rho D (kg/(m s)), V_f = rho u_th =
//     -0.538 (mu/T)_f (T_j+1 - T_j) / (z_j+1 - z_j) (kg/(m^2 s)) with (mu/T)_f the
//     mean of the two points', and N_up the soot of the point the drift comes from;
//   - rho_i and S_i (the soot model's sources, mol/(kg s)) at the point, as the
//     species rows take their sources, so that the soot's gain and the gas's
//     loss cancel point by point.
// Summed over the points with the weights h_i (equal to the spacing on an even
// grid, where the species rows' convection and diffusion telescope too), the
// face fluxes cancel in pairs and the convective terms leave rho_u N at the
// ends (the gas's rho_u Y alike), so that
//   sum of the elements' rows = what the ends' rows say enters minus what leaves.
// Boundary rows, written with the same face fluxes: an inlet on the left
//   rho_u_0 N_0 + Q_1/2 - mdot N_in,left = 0,
// on the right rho_u_m N_m + Q_m-1/2 + mdot_right N_in,right = 0 (rho_u_m < 0): the
// soot crossing the first (last) face, convected, diffused and drifted, is what the
// entering gas carries; an outflow end takes its neighbour's soot,
// (N_m - N_m-1) w = 0 with the species' outflow weight w.
// The soot model reads T, P, the density rho = P Wbar / (R T), the mixture
// viscosity and X of the point of the current state.
//
// Scaling: each species' rows are measured against the largest term of that
// species' equations anywhere on the grid (no less than a flux of the largest
// mass flux times 1e-20 over the domain width), the rows sum Y - 1 as they
// stand, the soot rows as in the steady soot solve. The solve converges when
// the largest scaled row is below rtol.
//
// Jacobian: the transport part exactly, for diffusion coefficients held at
// the values of the last update (they are brought up to date with each new
// Jacobian and before a state is accepted: BlockProblem::refresh); the gas's
// rate derivatives from the caller (dwdot/dX at constant T, P and molar
// concentration, turned into dwdot/dY here); the soot model's part by finite
// differences of the model in the point's own K + 4 unknowns: its sources, and
// its rho D and the viscosity, which enter the face fluxes of the point's two
// faces (and so the rows of its neighbours) linearly.
#pragma once

#include <limits>
#include <string>
#include <vector>

#include "../common/errors.hpp"
#include "steady.hpp"

namespace fv::flame {

constexpr double kGasConstant = 8314.46261815324;  // J/(kmol K)

// The gas phase of the flame: thermochemistry and transport at a state, as
// the caller reaches them (Cantera through its Python API).
class FlameGas {
 public:
  virtual ~FlameGas() = default;
  // Sets the state: T (K), P (Pa) and the K mass fractions Y, used as given
  // (not renormalised).
  virtual void set_state(double T, double P, const double* Y) = 0;
  // Net production rates at the state, kmol/(m^3 s), K values.
  virtual void net_production_rates(double* wdot) = 0;
  // d wdot_k / d X_j at the state's T, P and molar concentration, each X_j
  // varied alone, kmol/(m^3 s); K x K row-major (row k, column j).
  virtual void rates_ddX(double* J) = 0;
  // Mixture-averaged diffusion coefficients for mole-fraction gradients at
  // the state, m^2/s, K values.
  virtual void mix_diff_coeffs(double* D) = 0;
  // Mixture viscosity at T (K) and the mole fractions X, Pa s (any state, not
  // only the one set).
  virtual double viscosity(double T, const double* X) = 0;
};

// The gas at a point as the soot model reads it.
struct SootGasState {
  double T = 0.0;        // K
  double P = 0.0;        // Pa
  double rho = 0.0;      // kg/m^3
  double mu = 0.0;       // Pa s
  double mean_MW = 0.0;  // kg/kmol
  const double* X = nullptr;  // K mole fractions
};

// The soot model at one point.
class FlameSootModel {
 public:
  virtual ~FlameSootModel() = default;
  // Diffusivity D (m^2/s) at the gas and soot values N (mol/kg); with
  // `sources`, the four source terms S (mol/(kg s)) and, when scrub is not
  // null, the K scrubbing rates (kmol/(m^3 s)) into scrub.
  virtual void evaluate(const SootGasState& gas, const SootPoint& N, bool sources, double& D,
                        SootPoint& S, double* scrub) = 0;
  // Whether an error of evaluate() means only that the state lies outside
  // the model's domain (see PointModel::outside_domain).
  virtual bool outside_domain(const Error& e) {
    return e.kind() == ErrorKind::ZeroDivision || e.kind() == ErrorKind::Overflow;
  }
};

// The flame: grid, held fields and boundary data.
struct CoupledProblem {
  std::vector<double> z;         // grid, m, strictly increasing, n >= 3 points
  std::vector<double> T;         // K, held
  std::vector<double> rho_u;     // mass flux rho u, kg/(m^2 s), held
  std::vector<double> rho_time;  // density of the time term of pseudo-time steps, kg/m^3
  std::vector<double> W;         // molar masses, kg/kmol (K species)
  double P = 0.0;                // Pa
  double mdot_left = 0.0;        // mass flux entering on the left, kg/(m^2 s)
  std::vector<double> Y_left;    // its mass fractions
  SootPoint N_left{};            // its soot, mol/kg
  bool right_inlet = false;      // gas enters on the right (else: outflow)
  double mdot_right = 0.0;       // mass flux entering on the right (positive), kg/(m^2 s)
  std::vector<double> Y_right;
  SootPoint N_right{};
  SootPoint floor{};             // the soot model's floors, mol/kg
  bool gas_sources = true;       // the soot's exchange with the gas in the species rows
  long H2_index = -1;            // species that takes the soot model's unaccounted
                                 // hydrogen (-1: none, the gas then loses
                                 // sum W_k scrub_k)
  double W_C = 0.0, W_H = 0.0;   // atomic weights of C and H, kg/mol (soot mass)
  long points() const { return static_cast<long>(z.size()); }
  long species() const { return static_cast<long>(W.size()); }
  int block() const { return static_cast<int>(W.size()) + kSteadyVars; }
};

struct CoupledOptions {
  double rtol = 1e-8;           // converged when the largest scaled row is below this
  int max_iterations = 300;     // Newton iterations in all (steady and in time steps)
  int max_time_steps = 2000;    // accepted pseudo-time steps
  double dt = 1e-6;             // first pseudo-time step, s
  double perturbation = 1e-7;   // relative finite-difference step of the soot model
};

struct CoupledReport {
  bool converged = false;
  int iterations = 0;           // Newton iterations
  int time_steps = 0;           // accepted pseudo-time steps
  int jacobians = 0;            // Jacobian evaluations
  int rejected = 0;             // pseudo-time steps retried with a smaller step
  int linear_steps = 0;         // of the time steps, those made linearly implicit
  long evaluations = 0;         // residual evaluations
  long transport_updates = 0;   // updates of the midpoint diffusion coefficients
  long soot_evaluations = 0;    // soot-model point evaluations
  double residual = std::numeric_limits<double>::infinity();
  long worst_point = 0;         // where the scaled residual is largest
  int worst_component = 0;      // 0..K-1 a species, K..K+3 a soot variable
  double dt = 0.0;              // pseudo-time step at the end, s
  std::string stop;             // why an unconverged solve stopped
  // wall-clock time, s, of the calls to the gas (rates, rate derivatives,
  // diffusion coefficients, viscosity) and to the soot model
  double seconds_rates = 0.0, seconds_rate_jacobians = 0.0, seconds_transport = 0.0,
         seconds_viscosity = 0.0, seconds_soot = 0.0;
};

// Everything the rows compute at one state, for checks and output.
struct CoupledEvaluation {
  std::vector<double> F;       // rows, n (K + 4): species kg/(m^3 s) (sum Y - 1 rows
                               // dimensionless), soot mol/(m^3 s)
  std::vector<double> weight;  // 1 / the scale of each row
  std::vector<double> rho;     // density at each point, kg/m^3
  std::vector<double> mu;      // viscosity at each point, Pa s
  std::vector<double> u_soot;  // soot velocity at each point (gas plus the thermophoretic
                               // drift of the backward temperature difference), m/s
  std::vector<double> wdot;    // n K, kmol/(m^3 s) (interior points; 0 at the ends)
  std::vector<double> scrub;   // n K soot scrubbing rates, kmol/(m^3 s) (interior points)
  std::vector<double> exchange;  // n K: a_k, the mass the soot gives species k, kg/(m^3 s)
  std::vector<double> m_s;     // n: sum_k a_k, kg/(m^3 s)
  std::vector<double> flux;    // (n - 1) K diffusive mass fluxes at the midpoints, kg/(m^2 s)
  double residual = 0.0;       // max |F| weight
  long worst_point = 0;
  int worst_component = 0;
};

// The rows at the state x (n (K + 4) values, point i's block at i (K + 4)),
// with the diffusion coefficients of the state `transport` (x itself when
// null). x must hold finite values.
CoupledEvaluation coupled_residual(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                                   const std::vector<double>& x,
                                   const std::vector<double>* transport = nullptr);

// The Jacobian of the rows at x (with the diffusion coefficients of x held),
// as the solve forms it; J is resized to the problem.
class BlockTridiagonal;
void coupled_jacobian(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                      const std::vector<double>& x, double perturbation, BlockTridiagonal& J);

// Solves the coupled rows from x; x holds the last accepted state on return
// (the solution when report.converged), also when an error propagates.
CoupledReport solve_coupled(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                            std::vector<double>& x, const CoupledOptions& options);

// The steady soot solve (steady.hpp) on the gas of x held (its species as
// they stand): the soot part of x is solved, the species are left alone.
SteadyReport solve_soot_on_gas(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                               std::vector<double>& x, const SteadyOptions& options);

}  // namespace fv::flame
