// fv::flame block-tridiagonal Newton machinery: the steady solution of a
// one-dimensional problem of n grid points with b unknowns each, whose
// equations at a point involve only that point and its two neighbours, so that
// the Jacobian is block tridiagonal with dense b x b blocks (b a run-time size:
// 4 for the soot of a frozen flame; species and soot together need K + 4).
//
// The problem (a BlockProblem) supplies its residual F(x) with row weights, its
// Jacobian, the time coefficients c of its time-dependent form
// c dx/dt + F(x) = 0 and how a step is applied; this file supplies the rest:
//   - BlockTridiagonal and BlockLU: the matrix and its block LU factors (block
//     Thomas elimination, partial pivoting inside each pivot block, rows scaled
//     by the problem's row weights so that pivoting compares like with like);
//   - solve_block_newton: damped Newton on F(x) = 0. When it stalls (no damped
//     step reduces the next Newton step, even with a fresh Jacobian, or its
//     iteration limit is reached), a round of implicit pseudo-time steps: each
//     a backward-Euler step c (y - x)/dt + F(y) = 0 solved by the same damped
//     Newton iteration, dt growing after a step that converged easily and
//     shrinking after one that failed; then Newton on the steady equations
//     again. Small steps follow the time-dependent problem and large ones
//     become Newton's method. Where a round's steps could not grow beyond the
//     first dt (the problem is not smooth enough for Newton at larger steps),
//     the next round takes linearly implicit steps of the first dt instead,
//     the steps of step_linearly_implicit: cheaper there, and converging
//     wherever that stepping converges.
//   - step_linearly_implicit: pseudo-time steps of one linear solve each, with
//     the Jacobian's transport part only (the problem's sources explicit).
//
// Damping follows the usual affine-invariant test: a step lambda dx is taken
// when the Newton step computed at the new point with the same Jacobian is
// smaller than dx, in the weighted norm
//   |dx| = sqrt(mean over rows of (dx / (rtol_x |x| + atol))^2),
// lambda shrinking by sqrt(2) a few times. The steady solve converges when max
// over rows of |F| times the problem's row weight is below rtol; a pseudo-time
// step when its next Newton step is small (step_converged). A failed attempt
// or step is given up after few dampings, and a Jacobian is used for a few
// iterations only: where the problem is not smooth (the soot model switches
// formulas and holds values at floors), a fresh Jacobian or a shorter step
// makes progress for less than many tries along one direction.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "../common/errors.hpp"

namespace fv::flame {

// n points, dense b x b blocks stored row-major: row block i holds `lower`
// (coefficients of the unknowns of point i-1; unused for i = 0), `diag`
// (point i) and `upper` (point i+1; unused for i = n-1).
class BlockTridiagonal {
 public:
  void resize(long points, int block);  // all blocks zero
  void zero();
  long points() const { return n_; }
  int block() const { return b_; }
  double* lower(long i) { return &lower_[at(i)]; }
  double* diag(long i) { return &diag_[at(i)]; }
  double* upper(long i) { return &upper_[at(i)]; }
  const double* lower(long i) const { return &lower_[at(i)]; }
  const double* diag(long i) const { return &diag_[at(i)]; }
  const double* upper(long i) const { return &upper_[at(i)]; }
  // y = A x (x and y of n b values); for tests and checks
  void multiply(const std::vector<double>& x, std::vector<double>& y) const;

 private:
  std::size_t at(long i) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(b_) * static_cast<std::size_t>(b_);
  }
  long n_ = 0;
  int b_ = 0;
  std::vector<double> lower_, diag_, upper_;
};

// LU factors of A + diag(c) s, rows scaled by `weight` (both n b values, s a
// number: 1/dt for a time step, 0 for the steady equations). The factors refer
// to A, which must not change until the last solve.
class BlockLU {
 public:
  // False when a pivot block is singular or not finite.
  bool factor(const BlockTridiagonal& A, const std::vector<double>& weight,
              const std::vector<double>& c, double s);
  // Solves (A + diag(c) s) x = r, x written over r; false when x is not finite.
  bool solve(std::vector<double>& r) const;

 private:
  bool factor_blocks(const BlockTridiagonal& A, const std::vector<double>& c, double s);
  void solve_blocks(std::vector<double>& r) const;

  const BlockTridiagonal* A_ = nullptr;
  std::vector<double> weight_;
  std::vector<double> lu_;  // LU of each pivot block
  std::vector<double> X_;   // (pivot block)^-1 times the scaled upper block
  std::vector<int> piv_;
  mutable std::vector<double> scratch_;  // one block row of the forward sweep
};

// What a problem computes at one state x (n b values, row (i, k) at i b + k).
struct Evaluation {
  std::vector<double> F;       // residual rows
  std::vector<double> weight;  // 1 / the size of each row's terms: F weight is dimensionless
  std::vector<double> aux;     // the problem's own values at x (for its Jacobian)
};

class BlockProblem {
 public:
  virtual ~BlockProblem() = default;
  virtual int block_size() const = 0;
  virtual long points() const = 0;
  // F, weight and aux at x. Errors propagate; those for which outside_domain()
  // is true reject the step that led to x instead.
  virtual void evaluate(const std::vector<double>& x, Evaluation& e) = 0;
  // dF/dx at x, whose evaluation is e. `full` false: the transport part only
  // (the problem's local terms, sources and coefficients, held at x).
  virtual void jacobian(const std::vector<double>& x, const Evaluation& e, bool full,
                        BlockTridiagonal& J) = 0;
  // Coefficient of dx/dt in each row of the time-dependent form (0: algebraic).
  virtual void time_coefficients(std::vector<double>& c) const = 0;
  // Change of each unknown below which it does not matter, for the step norm.
  virtual void step_tolerance(const std::vector<double>& x, std::vector<double>& atol) const = 0;
  // x_new = x + dx by default; a problem may take less than dx (keeping values
  // in range) and then writes the change actually made into dx.
  virtual void apply_step(const std::vector<double>& x, std::vector<double>& dx,
                          std::vector<double>& x_new) const;
  // Whether an error of evaluate() means only that x lies outside the domain
  // where the problem's arithmetic works (a zero divisor, an overflow).
  virtual bool outside_domain(const Error& e) const;
};

struct BlockNewtonOptions {
  double rtol = 1e-10;          // converged when max |F| weight is below this
  int max_iterations = 1000;    // Newton iterations in all (steady and in time steps)
  int max_time_steps = 10000;   // accepted pseudo-time steps
  double dt = 1e-5;             // first pseudo-time step
  double dt_min = 1e-14;        // the solve fails when a step this small fails
  double dt_max = 1e10;
  double grow = 2.0;            // dt factor after a step that converged easily
  double shrink = 4.0;          // dt divisor after a failed step
  int steps_per_round = 10;     // pseudo-time steps between attempts of steady Newton
  int newton_per_attempt = 30;  // Newton iterations of one attempt at the steady equations
  int newton_per_step = 8;      // Newton iterations of one pseudo-time step
  int max_jacobian_age = 3;     // Newton iterations on one Jacobian
  int steady_dampings = 2;      // reductions of a steady Newton step before it is refused
  int step_dampings = 2;        // the same inside a pseudo-time step
  double step_rtol = 1e-4;      // relative part of the step norm's weights, steady Newton
  double time_step_rtol = 1e-2; // the same inside a pseudo-time step: a step on the way
                                // to the steady state need not be accurate, only stable
  double step_converged = 10.0; // a pseudo-time step has converged when its next Newton
                                // step is below this in the step norm
  int linear_steps_per_round = 50; // linearly implicit steps of the first dt after a round
                                // of backward-Euler steps that could not grow dt (0: none)
};

struct BlockNewtonReport {
  bool converged = false;
  int iterations = 0;    // Newton iterations (steady and in time steps)
  int time_steps = 0;    // accepted pseudo-time steps
  int jacobians = 0;     // Jacobian evaluations
  int rejected = 0;      // pseudo-time steps that failed and were retried smaller
  int linear_steps = 0;  // of the time steps, those made linearly implicit
  int attempts = 0;      // attempts of Newton on the steady equations
  double residual = std::numeric_limits<double>::infinity();  // max |F| weight at the end
  long worst_row = 0;    // where it is largest
  double dt = 0.0;       // pseudo-time step at the end
  std::string stop;      // why an unconverged solve stopped
};

// max |F| weight over rows (NaN as soon as one row is NaN); `worst` gets its row.
double weighted_max(const Evaluation& e, long* worst = nullptr);

// Solves F(x) = 0 from x; x holds the last accepted state on return, also when
// an error propagates.
BlockNewtonReport solve_block_newton(BlockProblem& problem, std::vector<double>& x,
                                     const BlockNewtonOptions& options);

// Up to `steps` steps c (y - x)/dt + F(x) + J_T (y - x) = 0 with J_T the
// transport part of the Jacobian at x: convection and diffusion implicit, the
// problem's local terms at the old level. Stops when max |F| weight is below
// rtol (converged), and before a step whose result is not finite (report.stop);
// errors of the problem propagate (a fixed step has no other way to go), x
// then holding the last completed step. report.residual is that of x.
BlockNewtonReport step_linearly_implicit(BlockProblem& problem, std::vector<double>& x, double dt,
                                         int steps, double rtol);

}  // namespace fv::flame
