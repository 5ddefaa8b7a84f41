// The steady soot solve of a flame: the residual rows of the four soot
// variables, their Jacobian blocks and steps, as a problem of the
// block-tridiagonal Newton machinery (block_newton.hpp).
#include "steady.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "../common/checked.hpp"
#include "block_newton.hpp"
#include "flame_rows.hpp"

namespace fv::flame {

namespace {

constexpr int K = kSteadyVars;
constexpr int kAux = 1 + K;  // per point in Evaluation::aux: D, then the four S
// a change of a soot variable below this fraction of its largest value
// anywhere does not matter for the step norm
constexpr double kStepAtol = 1e-9;

// Weight of the outflow row c (N[m] - N[m-1]): rho|u|/dz[m], or rho/dz[m] times
// 1 m/s where u[m] = 0, kg/(m^3 s).
double outflow_weight(const SteadyProblem& p, long m) {
  const double rho = FV_AT(p.rho, m), dzm = FV_AT(p.dz, m);
  const double c = CheckedDiv::div(rho * std::fabs(FV_AT(p.u, m)), dzm);
  return c > 0.0 ? c : CheckedDiv::div(rho, dzm);
}

// Coefficients of interior row i on N[i-1], N[i], N[i+1] with the diffusivity D.
Row steady_interior_row(const SteadyProblem& p, long i, double D) {
  const double rho = FV_AT(p.rho, i), u = FV_AT(p.u, i);
  const double dz_i = FV_AT(p.dz, i), dz_next = FV_AT(p.dz, i + 1);
  const double q = diffusion_factor<CheckedDiv>(rho, D, dz_i, dz_next);
  Row r;
  r.lower = interior_lower<CheckedDiv>(rho, u, q, dz_i);
  r.diag = steady_interior_diag<CheckedDiv>(rho, u, q, dz_i, dz_next);
  r.upper = interior_upper<CheckedDiv>(rho, u, q, dz_next);
  return r;
}

bool interior(const SteadyProblem& p, long i) { return i > 0 && i < p.size() - 1; }

// Residual of the four rows of point i for the values Nprev (point i-1), Ni
// and Nnext (point i+1), with the model's D and S at (i, Ni). `big` gets the
// largest term of each row. Boundary rows ignore the neighbour they do not
// couple to (which may then be null).
void row_residual(const SteadyProblem& p, long i, const double* Nprev, const double* Ni,
                  const double* Nnext, double D, const double* S, double* R, double* big) {
  const long m = p.size() - 1;
  const double rho = FV_AT(p.rho, i);
  if (i == 0) {
    // soot flux into the domain (convective minus diffusive, +z) = inflow flux
    const double dz1 = FV_AT(p.dz, 1);
    for (int k = 0; k < K; ++k) {
      const double out = p.mdot_left * Ni[k];
      const double diffusive = CheckedDiv::div(rho * D * (Nnext[k] - Ni[k]), dz1);
      const double inflow = p.mdot_left * p.in_left[k];
      R[k] = out - diffusive - inflow;
      big[k] = std::max({std::fabs(out), std::fabs(diffusive), std::fabs(inflow)});
    }
    return;
  }
  if (i == m) {
    const double dzm = FV_AT(p.dz, m);
    if (p.boundary_type_right == 0) {
      // the same balance for gas entering in -z
      for (int k = 0; k < K; ++k) {
        const double out = p.mdot_right * Ni[k];
        const double diffusive = CheckedDiv::div(rho * D * (Ni[k] - Nprev[k]), dzm);
        const double inflow = p.mdot_right * p.in_right[k];
        R[k] = out + diffusive - inflow;
        big[k] = std::max({std::fabs(out), std::fabs(diffusive), std::fabs(inflow)});
      }
    } else {
      const double c = outflow_weight(p, m);
      for (int k = 0; k < K; ++k) {
        R[k] = c * (Ni[k] - Nprev[k]);
        big[k] = std::max(std::fabs(c * Ni[k]), std::fabs(c * Nprev[k]));
      }
    }
    return;
  }
  const Row row = steady_interior_row(p, i, D);
  for (int k = 0; k < K; ++k) {
    const double a = row.lower * Nprev[k], b = row.diag * Ni[k], c = row.upper * Nnext[k];
    const double s = rho * S[k];
    R[k] = a + b + c - s;
    big[k] = std::max({std::fabs(a), std::fabs(b), std::fabs(c), std::fabs(s)});
  }
}

// Coefficients coupling row i to its neighbours, the same for all four
// variables: `lo` multiplies N[i-1], `up` N[i+1], `own` N[i], with D held at
// the model's value; g[k] is the derivative of row k in D (m^2/s).
void row_derivatives(const SteadyProblem& p, long i, const double* Nprev, const double* Ni,
                     const double* Nnext, double D, double& lo, double& own, double& up,
                     double* g) {
  const long m = p.size() - 1;
  const double rho = FV_AT(p.rho, i);
  lo = up = 0.0;
  if (i == 0) {
    const double dz1 = FV_AT(p.dz, 1);
    const double c = CheckedDiv::div(rho * D, dz1);
    up = -c;
    own = p.mdot_left + c;
    for (int k = 0; k < K; ++k) g[k] = -CheckedDiv::div(rho * (Nnext[k] - Ni[k]), dz1);
  } else if (i == m) {
    const double dzm = FV_AT(p.dz, m);
    if (p.boundary_type_right == 0) {
      const double c = CheckedDiv::div(rho * D, dzm);
      lo = -c;
      own = p.mdot_right + c;
      for (int k = 0; k < K; ++k) g[k] = CheckedDiv::div(rho * (Ni[k] - Nprev[k]), dzm);
    } else {
      own = outflow_weight(p, m);
      lo = -own;
      for (int k = 0; k < K; ++k) g[k] = 0.0;
    }
  } else {
    const double dz_i = FV_AT(p.dz, i), dz_next = FV_AT(p.dz, i + 1);
    const Row row = steady_interior_row(p, i, D);
    lo = row.lower;
    own = row.diag;
    up = row.upper;
    // the diffusive part of the row is -q (N[i-1]/dz_i - N[i] (1/dz_i + 1/dz_next)
    // + N[i+1]/dz_next), with q = 2 rho D / (dz_i + dz_next)
    const double dq = CheckedDiv::div(2.0 * rho, dz_next + dz_i);
    for (int k = 0; k < K; ++k)
      g[k] = -dq * (CheckedDiv::div(Nprev[k], dz_i) -
                    Ni[k] * (CheckedDiv::div(1.0, dz_i) + CheckedDiv::div(1.0, dz_next)) +
                    CheckedDiv::div(Nnext[k], dz_next));
  }
}

// How far a Newton step dN of one soot variable N (mol/kg) is taken, with the
// model's floor a as the variable's scale: the change actually made.
//   - Growth of a non-negative value: dN as it is (soot rises by many decades
//     from its floor in a few steps).
//   - Any other step is taken in y = asinh(N / a), N = a sinh(y), which is N/a
//     near zero and ln(2N/a) far from it: a fall of a large value becomes a
//     division instead of an overshoot past zero, and a value may cross zero
//     or grow below it only to a few floors (|dy| limited by kCap).
// The soot variables fall by many decades into an oxidation zone. A plain
// additive step, linearised where oxidation is fast, lands far below zero
// there, and below its floor the model reads the floor and no longer responds:
// Newton then cannot find its way back (measured on a counterflow flame).
// The change is never larger than dN itself.
constexpr double kCap = 2.0;

double limited_change(double N, double dN, double a) {
  if (!(a > 0.0) || (N >= 0.0 && dN >= 0.0)) return dN;
  const double y = std::asinh(N / a);
  double dy = dN / std::hypot(a, N);
  if (N < 0.0 && dN < 0.0) dy = std::max(dy, -kCap);
  else if (N > 0.0) dy = std::max(dy, -y - kCap);
  else dy = std::min(dy, -y + kCap);
  // a (sinh(y + dy) - sinh(y)) without the cancellation of the difference
  const double step = 2.0 * a * std::cosh(y + 0.5 * dy) * std::sinh(0.5 * dy);
  return dN < 0.0 ? std::max(step, dN) : std::min(step, dN);
}

// The steady soot equations as a problem of the block Newton machinery: four
// unknowns per point, row (i, k) at 4 i + k.
class SootRows final : public BlockProblem {
 public:
  SootRows(const SteadyProblem& p, PointModel& model, double perturbation)
      : p_(p), model_(model), perturbation_(perturbation) {}

  long evaluations = 0;  // soot-model point evaluations

  int block_size() const override { return K; }
  long points() const override { return p_.size(); }

  void evaluate(const std::vector<double>& x, Evaluation& e) override {
    const long n = p_.size();
    const auto nk = static_cast<std::size_t>(n) * K;
    e.aux.assign(static_cast<std::size_t>(n) * kAux, 0.0);
    for (long i = 0; i < n; ++i) {
      SootPoint N, S{};
      std::copy_n(&x[static_cast<std::size_t>(i) * K], K, N.begin());
      double* a = &e.aux[static_cast<std::size_t>(i) * kAux];
      model_.evaluate(i, N, interior(p_, i), a[0], S);
      ++evaluations;
      std::copy(S.begin(), S.end(), a + 1);
    }
    e.F.assign(nk, 0.0);
    SootPoint scale{};
    for (long i = 0; i < n; ++i) {
      const std::size_t j = static_cast<std::size_t>(i) * K;
      const double* a = &e.aux[static_cast<std::size_t>(i) * kAux];
      double big[K];
      row_residual(p_, i, i > 0 ? &x[j - K] : nullptr, &x[j], i + 1 < n ? &x[j + K] : nullptr,
                   a[0], a + 1, &e.F[j], big);
      for (int k = 0; k < K; ++k) scale[k] = std::max(scale[k], big[k]);
    }
    e.weight.resize(nk);
    for (std::size_t j = 0; j < nk; ++j) {
      const double s = scale[j % K];
      // a variable whose every term is zero has zero residual rows too
      e.weight[j] = s > 0.0 ? 1.0 / s : 1.0;
    }
  }

  // The transport part exactly; with `full`, the soot model's part (D and S in
  // the point's own four values) by finite differences of the model itself,
  // each value perturbed by `perturbation` max(|N|, floor). Differencing the
  // model rather than the whole row keeps the derivative accurate where the
  // row is dominated by other terms (an inflow, a large neighbour) far above
  // the perturbed value's own contribution.
  void jacobian(const std::vector<double>& x, const Evaluation& e, bool full,
                BlockTridiagonal& J) override {
    const long n = p_.size();
    J.zero();
    for (long i = 0; i < n; ++i) {
      const std::size_t j = static_cast<std::size_t>(i) * K;
      const double* a = &e.aux[static_cast<std::size_t>(i) * kAux];
      const double* Ni = &x[j];
      double lo, own, up, g[K];
      row_derivatives(p_, i, i > 0 ? &x[j - K] : nullptr, Ni, i + 1 < n ? &x[j + K] : nullptr,
                      a[0], lo, own, up, g);
      double* D = J.diag(i);
      for (int k = 0; k < K; ++k) {
        D[k * K + k] = own;
        if (i > 0) J.lower(i)[k * K + k] = lo;
        if (i + 1 < n) J.upper(i)[k * K + k] = up;
      }
      if (!full) continue;
      const bool inner = interior(p_, i);
      for (int c = 0; c < K; ++c) {
        SootPoint Np;
        std::copy_n(Ni, K, Np.begin());
        Np[c] += perturbation_ * std::max(std::fabs(Np[c]), p_.floor[c]);
        const double step = Np[c] - Ni[c];  // the step actually taken
        double Dp;
        SootPoint Sp{};
        model_.evaluate(i, Np, inner, Dp, Sp);
        ++evaluations;
        const double dD = (Dp - a[0]) / step;
        for (int k = 0; k < K; ++k) {
          D[k * K + c] += g[k] * dD;
          if (inner) D[k * K + c] -= p_.rho[i] * ((Sp[k] - a[1 + k]) / step);
        }
      }
    }
  }

  void time_coefficients(std::vector<double>& c) const override {
    const long n = p_.size();
    c.assign(static_cast<std::size_t>(n) * K, 0.0);
    for (long i = 1; i + 1 < n; ++i)
      for (int k = 0; k < K; ++k) c[static_cast<std::size_t>(i) * K + k] = p_.rho[i];
  }

  // A change matters against the variable's largest value anywhere, as its
  // residual is measured against its largest term: a value many decades below
  // its peak (soot burnt out in the oxidation zone, where the model is not
  // smooth) need not settle to its own last digits.
  void step_tolerance(const std::vector<double>& x, std::vector<double>& atol) const override {
    SootPoint peak = p_.floor;
    for (std::size_t j = 0; j < x.size(); ++j)
      peak[j % K] = std::max(peak[j % K], kStepAtol * std::fabs(x[j]));
    atol.resize(x.size());
    for (std::size_t j = 0; j < x.size(); ++j) atol[j] = peak[j % K];
  }

  void apply_step(const std::vector<double>& x, std::vector<double>& dx,
                  std::vector<double>& x_new) const override {
    x_new.resize(x.size());
    for (std::size_t j = 0; j < x.size(); ++j) {
      dx[j] = limited_change(x[j], dx[j], p_.floor[j % K]);
      x_new[j] = x[j] + dx[j];
    }
  }

  bool outside_domain(const Error& e) const override { return model_.outside_domain(e); }

 private:
  const SteadyProblem& p_;
  PointModel& model_;
  double perturbation_;
};

void check_sizes(const SteadyProblem& p, const std::vector<SootPoint>& N) {
  if (p.size() < 2 || N.size() != p.rho.size() || p.dz.size() != p.rho.size() ||
      p.u.size() != p.rho.size())
    throw Error(ErrorKind::Value, "steady soot solve: the profiles and the soot values need "
                                  "equal lengths of at least two points");
  // A solver that has not read its flame holds zero densities: every row would be zero
  // and the state would pass as a solution.
  for (std::size_t i = 0; i < p.rho.size(); ++i)
    if (!(p.rho[i] > 0.0) || !std::isfinite(p.rho[i]) || !std::isfinite(p.u[i]))
      throw Error(ErrorKind::Value,
                  "steady soot solve: the density at grid point " + std::to_string(i) + " is " +
                      std::to_string(p.rho[i]) + " kg/m3 and the velocity " +
                      std::to_string(p.u[i]) + " m/s; the solver must have read a flame "
                      "(solve() with n_time_steps = 0 does it)");
}

std::vector<double> flat(const std::vector<SootPoint>& N) {
  std::vector<double> x(N.size() * K);
  for (std::size_t i = 0; i < N.size(); ++i) std::copy(N[i].begin(), N[i].end(), &x[i * K]);
  return x;
}

void unflat(const std::vector<double>& x, std::vector<SootPoint>& N) {
  for (std::size_t i = 0; i < N.size(); ++i) std::copy_n(&x[i * K], K, N[i].begin());
}

SteadyReport to_report(const BlockNewtonReport& b, const SootRows& rows) {
  SteadyReport r;
  r.converged = b.converged;
  r.iterations = b.iterations;
  r.time_steps = b.time_steps;
  r.jacobians = b.jacobians;
  r.rejected = b.rejected;
  r.linear_steps = b.linear_steps;
  r.evaluations = rows.evaluations;
  r.residual = b.residual;
  r.dtau = b.dt;
  r.worst_variable = static_cast<int>(b.worst_row % K);
  r.worst_point = b.worst_row / K;
  r.stop = b.stop;
  return r;
}

}  // namespace

SteadyReport steady_residual(const SteadyProblem& p, PointModel& model,
                             const std::vector<SootPoint>& N) {
  check_sizes(p, N);
  SootRows rows(p, model, 0.0);
  Evaluation e;
  rows.evaluate(flat(N), e);
  BlockNewtonReport b;
  b.residual = weighted_max(e, &b.worst_row);
  return to_report(b, rows);
}

SteadyReport solve_steady(const SteadyProblem& p, PointModel& model, std::vector<SootPoint>& N,
                          const SteadyOptions& o) {
  check_sizes(p, N);
  SootRows rows(p, model, o.perturbation);
  BlockNewtonOptions bo;
  bo.rtol = o.rtol;
  bo.max_iterations = o.max_iterations;
  bo.max_time_steps = o.max_time_steps;
  bo.dt = o.dtau;
  std::vector<double> x = flat(N);
  BlockNewtonReport b;
  try {
    b = solve_block_newton(rows, x, bo);
  } catch (...) {
    unflat(x, N);
    throw;
  }
  unflat(x, N);
  return to_report(b, rows);
}

SteadyReport step_steady(const SteadyProblem& p, PointModel& model, std::vector<SootPoint>& N,
                         double dt, int steps, double rtol) {
  check_sizes(p, N);
  SootRows rows(p, model, 0.0);
  std::vector<double> x = flat(N);
  BlockNewtonReport b;
  try {
    b = step_linearly_implicit(rows, x, dt, steps, rtol);
  } catch (...) {
    unflat(x, N);
    throw;
  }
  unflat(x, N);
  return to_report(b, rows);
}

}  // namespace fv::flame
