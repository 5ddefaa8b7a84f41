// Block-tridiagonal matrices, their block LU factors and the damped Newton /
// pseudo-time stepping solve built on them (see block_newton.hpp).
#include "block_newton.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace fv::flame {

// ---- matrices ------------------------------------------------------------------------------

void BlockTridiagonal::resize(long points, int block) {
  n_ = points;
  b_ = block;
  const std::size_t size = at(points);
  lower_.assign(size, 0.0);
  diag_.assign(size, 0.0);
  upper_.assign(size, 0.0);
}

void BlockTridiagonal::zero() {
  std::fill(lower_.begin(), lower_.end(), 0.0);
  std::fill(diag_.begin(), diag_.end(), 0.0);
  std::fill(upper_.begin(), upper_.end(), 0.0);
}

void BlockTridiagonal::multiply(const std::vector<double>& x, std::vector<double>& y) const {
  const std::size_t b = static_cast<std::size_t>(b_);
  y.assign(x.size(), 0.0);
  for (long i = 0; i < n_; ++i) {
    const std::size_t row = static_cast<std::size_t>(i) * b;
    for (std::size_t r = 0; r < b; ++r) {
      double v = 0.0;
      for (std::size_t l = 0; l < b; ++l) {
        v += diag(i)[r * b + l] * x[row + l];
        if (i > 0) v += lower(i)[r * b + l] * x[row - b + l];
        if (i + 1 < n_) v += upper(i)[r * b + l] * x[row + b + l];
      }
      y[row + r] = v;
    }
  }
}

namespace {

// In-place LU factorisation with partial pivoting of the b x b row-major block
// a; piv[c] is the row swapped with row c at column c. False for a zero or
// non-finite pivot.
bool lu_factor(double* a, int* piv, int b) {
  for (int c = 0; c < b; ++c) {
    int r = c;
    double big = std::fabs(a[c * b + c]);
    for (int j = c + 1; j < b; ++j) {
      const double v = std::fabs(a[j * b + c]);
      if (v > big) {
        big = v;
        r = j;
      }
    }
    if (!(big > 0.0) || !std::isfinite(big)) return false;
    piv[c] = r;
    if (r != c)
      for (int l = 0; l < b; ++l) std::swap(a[r * b + l], a[c * b + l]);
    const double inv = 1.0 / a[c * b + c];
    for (int j = c + 1; j < b; ++j) {
      const double f = a[j * b + c] * inv;
      a[j * b + c] = f;
      for (int l = c + 1; l < b; ++l) a[j * b + l] -= f * a[c * b + l];
    }
  }
  return true;
}

// Solves lu X = M for `cols` right-hand sides held as the columns of the b x
// cols row-major matrix m, in place.
void lu_solve(const double* lu, const int* piv, int b, double* m, int cols) {
  // the row interchanges in the order they were made, then L and U
  for (int c = 0; c < b; ++c)
    if (piv[c] != c)
      for (int l = 0; l < cols; ++l) std::swap(m[piv[c] * cols + l], m[c * cols + l]);
  for (int c = 0; c < b; ++c)
    for (int j = c + 1; j < b; ++j) {
      const double f = lu[j * b + c];
      for (int l = 0; l < cols; ++l) m[j * cols + l] -= f * m[c * cols + l];
    }
  for (int c = b - 1; c >= 0; --c) {
    for (int j = c + 1; j < b; ++j) {
      const double f = lu[c * b + j];
      for (int l = 0; l < cols; ++l) m[c * cols + l] -= f * m[j * cols + l];
    }
    const double inv = 1.0 / lu[c * b + c];
    for (int l = 0; l < cols; ++l) m[c * cols + l] *= inv;
  }
}

}  // namespace

bool BlockLU::factor_blocks(const BlockTridiagonal& A, const std::vector<double>& c, double s) {
  const long n = A.points();
  const int b = A.block();
  const std::size_t bb = static_cast<std::size_t>(b) * static_cast<std::size_t>(b);
  for (long i = 0; i < n; ++i) {
    double* P = &lu_[static_cast<std::size_t>(i) * bb];
    const double* w = &weight_[static_cast<std::size_t>(i) * b];
    const double* D = A.diag(i);
    for (int r = 0; r < b; ++r) {
      for (int l = 0; l < b; ++l) P[r * b + l] = w[r] * D[r * b + l];
      P[r * b + r] += w[r] * c[static_cast<std::size_t>(i) * b + r] * s;
    }
    if (i > 0) {
      // P -= (w L_i) X_{i-1}
      const double* L = A.lower(i);
      const double* X = &X_[static_cast<std::size_t>(i - 1) * bb];
      for (int r = 0; r < b; ++r)
        for (int l = 0; l < b; ++l) {
          const double f = w[r] * L[r * b + l];
          if (f == 0.0) continue;  // off-diagonal blocks are often diagonal
          for (int col = 0; col < b; ++col) P[r * b + col] -= f * X[l * b + col];
        }
    }
    int* piv = &piv_[static_cast<std::size_t>(i) * b];
    if (!lu_factor(P, piv, b)) return false;
    if (i + 1 < n) {
      double* X = &X_[static_cast<std::size_t>(i) * bb];
      const double* U = A.upper(i);
      for (int r = 0; r < b; ++r)
        for (int l = 0; l < b; ++l) X[r * b + l] = w[r] * U[r * b + l];
      lu_solve(P, piv, b, X, b);
    }
  }
  return true;
}

void BlockLU::solve_blocks(std::vector<double>& r) const {
  const BlockTridiagonal& A = *A_;
  const long n = A.points();
  const int b = A.block();
  const std::size_t bb = static_cast<std::size_t>(b) * static_cast<std::size_t>(b);
  double* scaled = scratch_.data();
  for (long i = 0; i < n; ++i) {
    double* y = &r[static_cast<std::size_t>(i) * b];
    const double* w = &weight_[static_cast<std::size_t>(i) * b];
    for (int k = 0; k < b; ++k) scaled[k] = w[k] * y[k];
    if (i > 0) {
      const double* L = A.lower(i);
      const double* prev = y - b;
      for (int k = 0; k < b; ++k) {
        double v = 0.0;
        for (int l = 0; l < b; ++l) v += L[k * b + l] * prev[l];
        scaled[k] -= w[k] * v;
      }
    }
    lu_solve(&lu_[static_cast<std::size_t>(i) * bb], &piv_[static_cast<std::size_t>(i) * b],
                b, scaled, 1);
    std::copy(scaled, scaled + b, y);
  }
  for (long i = n - 1; i-- > 0;) {
    double* y = &r[static_cast<std::size_t>(i) * b];
    const double* next = y + b;
    const double* X = &X_[static_cast<std::size_t>(i) * bb];
    for (int k = 0; k < b; ++k) {
      double v = 0.0;
      for (int l = 0; l < b; ++l) v += X[k * b + l] * next[l];
      y[k] -= v;
    }
  }
}

bool BlockLU::factor(const BlockTridiagonal& A, const std::vector<double>& weight,
                     const std::vector<double>& c, double s) {
  A_ = &A;
  weight_ = weight;
  const long n = A.points();
  const int b = A.block();
  const std::size_t bb = static_cast<std::size_t>(b) * static_cast<std::size_t>(b);
  lu_.resize(static_cast<std::size_t>(n) * bb);
  X_.resize(static_cast<std::size_t>(n) * bb);
  piv_.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(b));
  scratch_.resize(static_cast<std::size_t>(b));
  return factor_blocks(A, c, s);
}

bool BlockLU::solve(std::vector<double>& r) const {
  solve_blocks(r);
  for (double v : r)
    if (!std::isfinite(v)) return false;
  return true;
}

// ---- problems ------------------------------------------------------------------------------

void BlockProblem::apply_step(const std::vector<double>& x, std::vector<double>& dx,
                              std::vector<double>& x_new) const {
  x_new.resize(x.size());
  for (std::size_t j = 0; j < x.size(); ++j) x_new[j] = x[j] + dx[j];
}

bool BlockProblem::outside_domain(const Error& e) const {
  return e.kind() == ErrorKind::ZeroDivision || e.kind() == ErrorKind::Overflow;
}

double weighted_max(const Evaluation& e, long* worst) {
  double big = -1.0;
  for (std::size_t j = 0; j < e.F.size(); ++j) {
    const double v = std::fabs(e.F[j]) * e.weight[j];
    if (std::isnan(v) || v > big) {
      big = v;
      if (worst) *worst = static_cast<long>(j);
      if (std::isnan(v)) return v;
    }
  }
  return big < 0.0 ? 0.0 : big;
}

// ---- the solve -----------------------------------------------------------------------------

namespace {

const double kDamp = std::sqrt(2.0);  // damping factor between trials of one Newton step
constexpr int kEasySteps = 3;         // a pseudo-time step that needed at most this many
                                      // Newton iterations lets dt grow
constexpr double kSlowRound = 2.0;    // a round of backward-Euler steps whose largest step
                                      // stayed below this multiple of the first dt is
                                      // followed by a round of linearly implicit steps

// One point of the iteration: the state x, its evaluation and the residual G
// of the system being solved there.
struct Iterate {
  std::vector<double> x, G;
  Evaluation e;
  void swap(Iterate& o) {
    x.swap(o.x);
    G.swap(o.G);
    std::swap(e, o.e);
  }
};

// What one Newton solve works on: the steady equations F(x) = 0 (s = 0), or a
// backward-Euler step c (x - x0) s + F(x) = 0 of length dt = 1/s.
class System {
 public:
  System(BlockProblem& p, const std::vector<double>& c, double step_rtol, int dampings)
      : p_(p), c_(c), step_rtol_(step_rtol), dampings_(dampings) {}
  std::vector<double> x0;  // start of the step
  double s = 0.0;          // 1/dt; 0: the steady equations

  bool steady() const { return s == 0.0; }
  int dampings() const { return dampings_; }

  // Evaluates the problem at it.x and the system's residual; false outside
  // the problem's domain or for a non-finite residual.
  bool evaluate(Iterate& it) {
    try {
      p_.evaluate(it.x, it.e);
    } catch (const Error& err) {
      if (!p_.outside_domain(err)) throw;
      return false;
    }
    residual(it);
    for (double v : it.G)
      if (!std::isfinite(v)) return false;
    return true;
  }

  void residual(Iterate& it) const {
    it.G = it.e.F;
    if (!steady())
      for (std::size_t j = 0; j < it.G.size(); ++j) it.G[j] += c_[j] * (it.x[j] - x0[j]) * s;
  }

  // weights of the step norm: step_rtol |x| + the problem's absolute tolerance
  void error_weights(const Iterate& it, std::vector<double>& ewt) const {
    p_.step_tolerance(it.x, ewt);
    for (std::size_t j = 0; j < ewt.size(); ++j) ewt[j] += step_rtol_ * std::fabs(it.x[j]);
  }

 private:
  BlockProblem& p_;
  const std::vector<double>& c_;
  double step_rtol_;
  int dampings_;
};

enum class Outcome { Converged, Stalled };

// The Newton iteration with its Jacobian: one Jacobian J = dF/dx serves the
// steady equations (factors of J) and the pseudo-time steps (factors of
// J + c/dt); it is evaluated afresh after max_jacobian_age iterations, or when
// a step computed with an older one is refused.
class Solver {
 public:
  Solver(BlockProblem& p, const BlockNewtonOptions& o, BlockNewtonReport& r)
      : p_(p), o_(o), r_(r) {
    p_.time_coefficients(c_);
    J_.resize(p.points(), p.block_size());
  }

  const std::vector<double>& coefficients() const { return c_; }

  // Newton on the system from `it` (evaluated), at most `limit` iterations;
  // `it` holds the last accepted iterate. Steady equations: converged when
  // the weighted residual is below rtol; a step: when the next Newton step is
  // below the step tolerance. Stalled when no damped step is accepted with a
  // fresh Jacobian, or the limit is reached.
  Outcome newton(System& sys, Iterate& it, int limit) {
    int done = 0;
    while (true) {
      if (sys.steady() && weighted_max(it.e) < o_.rtol) return Outcome::Converged;
      if (done >= limit || r_.iterations >= o_.max_iterations) return Outcome::Stalled;
      bool fresh = false;
      if (!valid_ || age_ >= o_.max_jacobian_age) {
        p_.jacobian(it.x, it.e, true, J_);
        ++r_.jacobians;
        valid_ = true;
        age_ = 0;
        factored_s_ = -1.0;
        fresh = true;
      }
      if (factored_s_ != sys.s) {
        factored_s_ = sys.s;
        if (!lu_.factor(J_, it.e.weight, c_, sys.s)) {
          valid_ = false;
          if (fresh) return Outcome::Stalled;
          continue;
        }
      }
      ++done;
      ++r_.iterations;
      ++age_;
      if (!newton_step(it, dx0_)) {
        valid_ = false;
        if (fresh) return Outcome::Stalled;
        continue;
      }
      sys.error_weights(it, ewt_);
      const double s0 = norm(dx0_);
      bool accepted = false;
      double s1 = 0.0, lambda = 1.0;
      dx_.resize(dx0_.size());
      for (int m = 0; m <= sys.dampings() && !accepted; ++m, lambda /= kDamp) {
        for (std::size_t j = 0; j < dx0_.size(); ++j) dx_[j] = lambda * dx0_[j];
        p_.apply_step(it.x, dx_, trial_.x);
        if (!sys.evaluate(trial_)) continue;
        if (!newton_step(trial_, dx1_)) continue;
        s1 = norm(dx1_);
        accepted = s1 < s0 || s1 < 1.0;
      }
      if (!accepted) {
        valid_ = false;
        if (fresh) return Outcome::Stalled;
        continue;
      }
      it.swap(trial_);
      if (!sys.steady() && s1 < o_.step_converged) return Outcome::Converged;
    }
  }

 private:
  // dx = -(the factored matrix)^-1 G
  bool newton_step(const Iterate& it, std::vector<double>& dx) {
    dx.resize(it.G.size());
    for (std::size_t j = 0; j < dx.size(); ++j) dx[j] = -it.G[j];
    return lu_.solve(dx);
  }

  // root mean square of dx / ewt
  double norm(const std::vector<double>& dx) const {
    double sum = 0.0;
    for (std::size_t j = 0; j < dx.size(); ++j) {
      const double v = dx[j] / ewt_[j];
      sum += v * v;
    }
    return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(dx.size(), 1)));
  }

  BlockProblem& p_;
  const BlockNewtonOptions& o_;
  BlockNewtonReport& r_;
  std::vector<double> c_, dx0_, dx1_, dx_, ewt_;
  BlockTridiagonal J_;
  BlockLU lu_;
  Iterate trial_;
  bool valid_ = false;
  int age_ = 0;
  double factored_s_ = -1.0;
};

void check_problem(BlockProblem& p, const std::vector<double>& x) {
  const long n = p.points();
  const int b = p.block_size();
  if (n < 1 || b < 1 || x.size() != static_cast<std::size_t>(n) * static_cast<std::size_t>(b))
    throw Error(ErrorKind::Value, "block Newton solve: the state has " +
                                      std::to_string(x.size()) + " values for " +
                                      std::to_string(n) + " points of " + std::to_string(b));
}

}  // namespace

namespace {

// One linearly implicit step c (y - x)/dt + F(x) + J_T (y - x) = 0 from (x, e):
// y and its evaluation into (y, e_new). False when y is not finite or, with
// domain_fails, lies outside the problem's domain (y, e_new then undefined);
// other errors propagate.
bool linear_step(BlockProblem& p, const std::vector<double>& x, const Evaluation& e,
                 const std::vector<double>& c, double dt, BlockTridiagonal& J, BlockLU& lu,
                 std::vector<double>& y, Evaluation& e_new, const char** why,
                 bool domain_fails = true) {
  p.jacobian(x, e, false, J);
  y.resize(x.size());
  for (std::size_t j = 0; j < x.size(); ++j) y[j] = -e.F[j];
  if (!lu.factor(J, e.weight, c, 1.0 / dt) || !lu.solve(y)) {
    *why = "its result is not finite";
    return false;
  }
  for (std::size_t j = 0; j < x.size(); ++j) y[j] += x[j];
  try {
    p.evaluate(y, e_new);
  } catch (const Error& err) {
    if (!domain_fails || !p.outside_domain(err)) throw;
    *why = "the model's arithmetic fails at its result";
    return false;
  }
  return true;
}

}  // namespace

BlockNewtonReport solve_block_newton(BlockProblem& p, std::vector<double>& x,
                                     const BlockNewtonOptions& o) {
  check_problem(p, x);
  BlockNewtonReport r;
  Solver solver(p, o, r);
  System steady(p, solver.coefficients(), o.step_rtol, o.steady_dampings);
  System step(p, solver.coefficients(), o.time_step_rtol, o.step_dampings);
  // `it` is always the last accepted state; x is set from it on every exit,
  // an error that propagates included
  Iterate it, saved, trial;
  it.x = x;
  p.evaluate(it.x, it.e);  // errors at the starting state propagate
  steady.residual(it);
  const double first_dt = (o.dt > 0.0 && std::isfinite(o.dt)) ? o.dt : 1e-5;
  double dt = first_dt;
  auto finish = [&](const char* why) {
    x = it.x;
    r.residual = weighted_max(it.e, &r.worst_row);
    r.converged = r.residual < o.rtol;
    r.dt = dt;
    if (!r.converged) r.stop = why;
    return r;
  };
  BlockTridiagonal transport;  // for the linearly implicit rounds
  BlockLU transport_lu;
  bool linear_round = false;
  try {
    if (!std::isfinite(weighted_max(it.e)))
      return finish("the residual at the starting state is not finite");
    while (true) {
      if (weighted_max(it.e) < o.rtol) return finish("");
      if (r.iterations >= o.max_iterations) return finish("Newton iteration budget used");
      if (r.time_steps >= o.max_time_steps) return finish("pseudo-time step budget used");
      // Newton on the steady equations; its end state is kept only when its
      // residual is below that of its start
      ++r.attempts;
      saved = it;
      if (solver.newton(steady, it, o.newton_per_attempt) == Outcome::Converged)
        return finish("");
      if (!(weighted_max(it.e) < weighted_max(saved.e))) it.swap(saved);
      if (linear_round) {
        // Backward-Euler steps could not grow beyond the first step, where
        // they cost several evaluations each: linearly implicit steps of the
        // first dt make the same progress for one evaluation each (where the
        // problem is not smooth, they also converge where Newton bounces)
        if (transport.points() == 0) transport.resize(p.points(), p.block_size());
        const char* why = "";
        for (int k = 0; k < o.linear_steps_per_round; ++k) {
          if (r.time_steps >= o.max_time_steps || weighted_max(it.e) < o.rtol) break;
          if (!linear_step(p, it.x, it.e, solver.coefficients(), first_dt, transport,
                           transport_lu, trial.x, trial.e, &why))
            break;
          it.swap(trial);
          steady.residual(it);
          ++r.time_steps;
          ++r.linear_steps;
        }
        linear_round = false;
        continue;
      }
      // a round of backward-Euler steps, then Newton again
      double largest_dt = 0.0;
      for (int done = 0; done < o.steps_per_round;) {
        if (r.iterations >= o.max_iterations || r.time_steps >= o.max_time_steps) break;
        step.x0 = it.x;
        step.s = 1.0 / dt;
        trial = it;
        step.residual(trial);
        const int before = r.iterations;
        if (solver.newton(step, trial, o.newton_per_step) == Outcome::Converged) {
          it.swap(trial);
          steady.residual(it);
          ++done;
          ++r.time_steps;
          largest_dt = std::max(largest_dt, dt);
          if (r.iterations - before <= kEasySteps) dt = std::min(dt * o.grow, o.dt_max);
          if (weighted_max(it.e) < o.rtol) break;
        } else {
          ++r.rejected;
          dt /= o.shrink;
          if (!(dt >= o.dt_min)) return finish("pseudo-time step below its minimum");
        }
      }
      linear_round = o.linear_steps_per_round > 0 && largest_dt <= kSlowRound * first_dt;
    }
  } catch (...) {
    x = it.x;
    throw;
  }
}

BlockNewtonReport step_linearly_implicit(BlockProblem& p, std::vector<double>& x, double dt,
                                         int steps, double rtol) {
  check_problem(p, x);
  if (!(dt > 0.0) || !std::isfinite(dt))
    throw Error(ErrorKind::Value, "pseudo-time steps need a positive, finite dt, got " +
                                      std::to_string(dt));
  BlockNewtonReport r;
  r.dt = dt;
  std::vector<double> c, y;
  p.time_coefficients(c);
  BlockTridiagonal J;
  J.resize(p.points(), p.block_size());
  BlockLU lu;
  Evaluation e, e_new;
  p.evaluate(x, e);
  for (int k = 0; k < steps && !(weighted_max(e) < rtol); ++k) {
    const char* why = "";
    ++r.jacobians;
    if (!linear_step(p, x, e, c, dt, J, lu, y, e_new, &why, false)) {
      r.stop = why;
      break;
    }
    x.swap(y);
    std::swap(e, e_new);
    ++r.time_steps;
    ++r.linear_steps;
  }
  r.residual = weighted_max(e, &r.worst_row);
  r.converged = r.residual < rtol;
  return r;
}

}  // namespace fv::flame
