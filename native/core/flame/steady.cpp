// The steady soot solve of a flame: residual rows, their Newton blocks, the
// block-tridiagonal elimination and the pseudo-transient Newton iteration.
#include "steady.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "../common/checked.hpp"
#include "flame_rows.hpp"

namespace fv::flame {

namespace {

constexpr int K = kSteadyVars;
using Block = std::array<std::array<double, K>, K>;  // [row][column]

// The soot model's answer at every point of a state.
struct PointValues {
  std::vector<double> D;
  std::vector<SootPoint> S;
};

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

// Residual of the four rows of point i for the values Nprev (point i-1),
// Ni and Nnext (point i+1), with the model's D and S at (i, Ni). `big` gets
// the largest term of each row. Boundary rows ignore the neighbour they do
// not couple to (which may then be null).
void row_residual(const SteadyProblem& p, long i, const SootPoint* Nprev, const SootPoint& Ni,
                  const SootPoint* Nnext, double D, const SootPoint& S, SootPoint& R,
                  SootPoint& big) {
  const long m = p.size() - 1;
  const double rho = FV_AT(p.rho, i), u = FV_AT(p.u, i);
  if (i == 0) {
    const double dz1 = FV_AT(p.dz, 1);
    for (int k = 0; k < K; ++k) {
      const double flux = CheckedDiv::div(D * rho * ((*Nnext)[k] - Ni[k]), dz1);
      const double inflow = rho * u * p.in_left[k];
      const double out = p.mdot_left * Ni[k];
      R[k] = out + flux - inflow;
      big[k] = std::max({std::fabs(out), std::fabs(flux), std::fabs(inflow)});
    }
    return;
  }
  if (i == m) {
    const double dzm = FV_AT(p.dz, m);
    if (p.boundary_type_right == 0) {
      const double rho_prev = FV_AT(p.rho, m - 1);
      for (int k = 0; k < K; ++k) {
        const double flux = CheckedDiv::div(D * rho * (Ni[k] - (*Nprev)[k]), dzm);
        const double inflow = rho_prev * u * p.in_right[k];
        const double out = p.mdot_right * Ni[k];
        R[k] = out - flux + inflow;
        big[k] = std::max({std::fabs(out), std::fabs(flux), std::fabs(inflow)});
      }
    } else {
      const double c = outflow_weight(p, m);
      for (int k = 0; k < K; ++k) {
        R[k] = c * (Ni[k] - (*Nprev)[k]);
        big[k] = std::max(std::fabs(c * Ni[k]), std::fabs(c * (*Nprev)[k]));
      }
    }
    return;
  }
  const Row row = steady_interior_row(p, i, D);
  for (int k = 0; k < K; ++k) {
    const double a = row.lower * (*Nprev)[k], b = row.diag * Ni[k], c = row.upper * (*Nnext)[k];
    const double s = rho * S[k];
    R[k] = a + b + c - s;
    big[k] = std::max({std::fabs(a), std::fabs(b), std::fabs(c), std::fabs(s)});
  }
}

// Coefficients coupling row i to its neighbours, per variable (the same for
// all four): `lo` multiplies N[i-1], `up` N[i+1]; D is the model's at i.
// `own` is the derivative of the row in its own value with D held fixed, and
// g[k] the derivative of row k in D (m^2/s) at the values Nprev, Ni, Nnext.
void row_derivatives(const SteadyProblem& p, long i, const SootPoint* Nprev, const SootPoint& Ni,
                     const SootPoint* Nnext, double D, double& lo, double& own, double& up,
                     SootPoint& g) {
  const long m = p.size() - 1;
  const double rho = FV_AT(p.rho, i);
  lo = up = 0.0;
  if (i == 0) {
    const double dz1 = FV_AT(p.dz, 1);
    up = CheckedDiv::div(D * rho, dz1);
    own = p.mdot_left - up;
    for (int k = 0; k < K; ++k) g[k] = CheckedDiv::div(rho * ((*Nnext)[k] - Ni[k]), dz1);
  } else if (i == m) {
    const double dzm = FV_AT(p.dz, m);
    if (p.boundary_type_right == 0) {
      lo = CheckedDiv::div(D * rho, dzm);
      own = p.mdot_right - lo;
      for (int k = 0; k < K; ++k) g[k] = -CheckedDiv::div(rho * (Ni[k] - (*Nprev)[k]), dzm);
    } else {
      own = outflow_weight(p, m);
      lo = -own;
      g.fill(0.0);
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
      g[k] = -dq * (CheckedDiv::div((*Nprev)[k], dz_i) -
                    Ni[k] * (CheckedDiv::div(1.0, dz_i) + CheckedDiv::div(1.0, dz_next)) +
                    CheckedDiv::div((*Nnext)[k], dz_next));
  }
}

bool interior(const SteadyProblem& p, long i) { return i > 0 && i < p.size() - 1; }

// The model at every point of N.
void evaluate_all(const SteadyProblem& p, PointModel& model, const std::vector<SootPoint>& N,
                  PointValues& v, long& evaluations) {
  const long n = p.size();
  v.D.assign(static_cast<std::size_t>(n), 0.0);
  v.S.assign(static_cast<std::size_t>(n), SootPoint{});
  for (long i = 0; i < n; ++i) {
    model.evaluate(i, N[static_cast<std::size_t>(i)], interior(p, i), v.D[i], v.S[i]);
    ++evaluations;
  }
}

// All residual rows of N with the model values v; scale[k] = largest term of
// variable k anywhere.
void residual_rows(const SteadyProblem& p, const std::vector<SootPoint>& N, const PointValues& v,
                   std::vector<SootPoint>& R, SootPoint& scale) {
  const long n = p.size();
  R.assign(static_cast<std::size_t>(n), SootPoint{});
  scale.fill(0.0);
  for (long i = 0; i < n; ++i) {
    SootPoint big;
    row_residual(p, i, i > 0 ? &N[i - 1] : nullptr, N[i], i + 1 < n ? &N[i + 1] : nullptr,
                 v.D[i], v.S[i], R[i], big);
    for (int k = 0; k < K; ++k) scale[k] = std::max(scale[k], big[k]);
  }
}

// max |R_k,i| / scale_k (NaN as soon as one row is NaN); where the largest is.
double scaled_norm(const std::vector<SootPoint>& R, const SootPoint& scale, int* worst_k,
                   long* worst_i) {
  double worst = -1.0;
  for (std::size_t i = 0; i < R.size(); ++i)
    for (int k = 0; k < K; ++k) {
      const double r = std::fabs(R[i][k]);
      double x;
      if (scale[k] > 0.0) x = r / scale[k];
      else x = r > 0.0 ? std::numeric_limits<double>::infinity() : r;  // r is 0 or NaN here
      if (std::isnan(x) || x > worst) {
        worst = x;
        if (worst_k) *worst_k = k;
        if (worst_i) *worst_i = static_cast<long>(i);
        if (std::isnan(x)) return x;
      }
    }
  return worst;
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

double update(double N, double dN, double a) {
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

// sqrt(mean over points and variables of (R_k,i / scale_k)^2)
double scaled_rms(const std::vector<SootPoint>& R, const SootPoint& scale) {
  double sum = 0.0;
  for (const SootPoint& r : R)
    for (int k = 0; k < K; ++k) {
      const double x = scale[k] > 0.0 ? r[k] / scale[k] : (r[k] == 0.0 ? 0.0 : std::numeric_limits<double>::infinity());
      sum += x * x;
    }
  return std::sqrt(sum / (K * static_cast<double>(R.size())));
}

// ---- 4 x 4 blocks ------------------------------------------------------------------

// LU factorisation with partial pivoting in place; false for a zero or
// non-finite pivot.
bool lu_factor(Block& a, std::array<int, K>& piv) {
  for (int c = 0; c < K; ++c) {
    int r = c;
    for (int j = c + 1; j < K; ++j)
      if (std::fabs(a[j][c]) > std::fabs(a[r][c])) r = j;
    if (!(std::fabs(a[r][c]) > 0.0) || !std::isfinite(a[r][c])) return false;
    piv[c] = r;
    if (r != c) std::swap(a[r], a[c]);
    for (int j = c + 1; j < K; ++j) {
      const double f = a[j][c] / a[c][c];
      a[j][c] = f;
      for (int l = c + 1; l < K; ++l) a[j][l] -= f * a[c][l];
    }
  }
  return true;
}

void lu_solve(const Block& lu, const std::array<int, K>& piv, SootPoint& b) {
  for (int c = 0; c < K; ++c) {
    if (piv[c] != c) std::swap(b[c], b[piv[c]]);
    for (int j = c + 1; j < K; ++j) b[j] -= lu[j][c] * b[c];
  }
  for (int c = K - 1; c >= 0; --c) {
    for (int l = c + 1; l < K; ++l) b[c] -= lu[c][l] * b[l];
    b[c] /= lu[c][c];
  }
}

// The Newton system at one state: diagonal blocks (finite differences),
// neighbour coefficients, residual rows and the per-variable row weights.
struct Newton {
  std::vector<Block> diag;
  std::vector<double> lo, up;
  std::vector<double> transient;  // rho on interior rows, 0 on boundary rows
  SootPoint weight{};             // 1 / scale per variable
};

// Block Thomas on (diag + transient/dtau, lo, up) with rows weighted; the
// right-hand side is -R. False when a pivot block is singular or the result
// is not finite.
bool solve_blocks(const Newton& s, double dtau, const std::vector<SootPoint>& R,
                  std::vector<SootPoint>& x) {
  const std::size_t n = R.size();
  std::vector<Block> lu(n);
  std::vector<std::array<int, K>> piv(n);
  std::vector<Block> W(n);       // (pivot block)^-1 times the weighted upper coupling
  std::vector<SootPoint> y(n);   // (pivot block)^-1 times the eliminated right-hand side
  x.assign(n, SootPoint{});
  for (std::size_t i = 0; i < n; ++i) {
    Block a = s.diag[i];
    for (int k = 0; k < K; ++k) a[k][k] += s.transient[i] / dtau;
    SootPoint r;
    for (int k = 0; k < K; ++k) r[k] = -R[i][k];
    for (int k = 0; k < K; ++k) {
      for (int l = 0; l < K; ++l) a[k][l] *= s.weight[k];
      r[k] *= s.weight[k];
    }
    if (i > 0) {
      // row i minus (lo_i) times the eliminated row i-1
      for (int k = 0; k < K; ++k) {
        const double c = s.lo[i] * s.weight[k];
        for (int l = 0; l < K; ++l) a[k][l] -= c * W[i - 1][k][l];
        r[k] -= c * y[i - 1][k];
      }
    }
    lu[i] = a;
    if (!lu_factor(lu[i], piv[i])) return false;
    y[i] = r;
    lu_solve(lu[i], piv[i], y[i]);
    if (i + 1 < n) {
      // W_i = a^-1 (up_i weight) column by column
      for (int l = 0; l < K; ++l) {
        SootPoint col{};
        col[l] = s.up[i] * s.weight[l];
        lu_solve(lu[i], piv[i], col);
        for (int k = 0; k < K; ++k) W[i][k][l] = col[k];
      }
    }
  }
  x[n - 1] = y[n - 1];
  for (std::size_t i = n - 1; i-- > 0;) {
    for (int k = 0; k < K; ++k) {
      double v = y[i][k];
      for (int l = 0; l < K; ++l) v -= W[i][k][l] * x[i + 1][l];
      x[i][k] = v;
    }
  }
  for (const SootPoint& v : x)
    for (double e : v)
      if (!std::isfinite(e)) return false;
  return true;
}

// Newton blocks at N (model values v): the transport part exactly, the soot
// model's part (D and S in the point's own four values) by finite differences
// of the model itself, each value perturbed by `perturbation` max(|N|, floor).
// Differencing the model rather than the whole row keeps the derivative
// accurate where the row is dominated by other terms (an inflow, a large
// neighbour) far above the perturbed value's own contribution.
void build_newton(const SteadyProblem& p, PointModel& model, const std::vector<SootPoint>& N,
                  const PointValues& v, const SootPoint& scale, double perturbation, Newton& s,
                  long& evaluations) {
  const long n = p.size();
  s.diag.assign(static_cast<std::size_t>(n), Block{});
  s.lo.assign(static_cast<std::size_t>(n), 0.0);
  s.up.assign(static_cast<std::size_t>(n), 0.0);
  s.transient.assign(static_cast<std::size_t>(n), 0.0);
  for (int k = 0; k < K; ++k) s.weight[k] = scale[k] > 0.0 ? 1.0 / scale[k] : 1.0;
  for (long i = 0; i < n; ++i) {
    const bool inner = interior(p, i);
    double own;
    SootPoint g;
    row_derivatives(p, i, i > 0 ? &N[i - 1] : nullptr, N[i], i + 1 < n ? &N[i + 1] : nullptr,
                    v.D[i], s.lo[i], own, s.up[i], g);
    if (inner) s.transient[i] = p.rho[i];
    Block& b = s.diag[i];
    for (int k = 0; k < K; ++k) b[k][k] = own;
    for (int j = 0; j < K; ++j) {
      SootPoint Np = N[i];
      Np[j] += perturbation * std::max(std::fabs(Np[j]), p.floor[j]);
      const double step = Np[j] - N[i][j];  // the step actually taken
      double D;
      SootPoint S{};
      model.evaluate(i, Np, inner, D, S);
      ++evaluations;
      const double dD = (D - v.D[i]) / step;
      for (int k = 0; k < K; ++k) {
        b[k][j] += g[k] * dD;
        if (inner) b[k][j] -= p.rho[i] * ((S[k] - v.S[i][k]) / step);
      }
    }
  }
}

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

}  // namespace

SteadyReport steady_residual(const SteadyProblem& p, PointModel& model,
                             const std::vector<SootPoint>& N) {
  check_sizes(p, N);
  SteadyReport report;
  PointValues v;
  std::vector<SootPoint> R;
  SootPoint scale;
  evaluate_all(p, model, N, v, report.evaluations);
  residual_rows(p, N, v, R, scale);
  report.residual = scaled_norm(R, scale, &report.worst_variable, &report.worst_point);
  return report;
}

SteadyReport solve_steady(const SteadyProblem& p, PointModel& model, std::vector<SootPoint>& N,
                          const SteadyOptions& o) {
  check_sizes(p, N);
  SteadyReport report;
  PointValues v, v_try;
  std::vector<SootPoint> R, R_try, F_try, dN, N_try;
  SootPoint scale, scale_try;
  evaluate_all(p, model, N, v, report.evaluations);
  residual_rows(p, N, v, R, scale);
  double norm = scaled_norm(R, scale, &report.worst_variable, &report.worst_point);
  double dtau = (o.dtau > 0.0 && std::isfinite(o.dtau)) ? o.dtau : 1e-5;
  Newton s;
  while (!(norm < o.rtol) && report.iterations < o.max_iterations && std::isfinite(norm)) {
    build_newton(p, model, N, v, scale, o.perturbation, s, report.evaluations);
    const double current_rms = scaled_rms(R, scale);
    bool accepted = false;
    while (!accepted && report.iterations < o.max_iterations) {
      ++report.iterations;
      if (solve_blocks(s, dtau, R, dN)) {
        N_try = N;
        for (std::size_t i = 0; i < N.size(); ++i)
          for (int k = 0; k < K; ++k) {
            dN[i][k] = update(N[i][k], dN[i][k], p.floor[k]);
            N_try[i][k] = N[i][k] + dN[i][k];
          }
        bool inside = true;
        try {
          evaluate_all(p, model, N_try, v_try, report.evaluations);
        } catch (const Error& e) {
          // a step into values where the model's arithmetic fails is a step too far
          if (!model.outside_domain(e)) throw;
          inside = false;
        }
        if (inside) residual_rows(p, N_try, v_try, R_try, scale_try);
        // The step is one linearised implicit-Euler step of length dtau: it is
        // accepted when it solved that step, i.e. when the pseudo-time residual
        // R(N + dN) + rho/dtau dN is below the steady residual the step started
        // from (root mean square over the grid, both against the starting
        // state's scale). A uniform rise of a variable along a stretch of the
        // flame leaves the steady residual where it was, so a test on that
        // alone would refuse every small first step; the mean rather than the
        // largest value lets the whole profile progress while a few points
        // where the model has kinks (its floors, primaries per aggregate held
        // at one) lag behind.
        if (inside) F_try = R_try;
        for (std::size_t i = 0; inside && i < N.size(); ++i)
          for (int k = 0; k < K; ++k)
            F_try[i][k] += s.transient[i] / dtau * dN[i][k];
        const double trial =
            inside ? scaled_rms(F_try, scale) : std::numeric_limits<double>::quiet_NaN();
        if (trial < current_rms) {
          accepted = true;
          N.swap(N_try);
          R.swap(R_try);
          v.D.swap(v_try.D);
          v.S.swap(v_try.S);
          scale = scale_try;
          norm = scaled_norm(R, scale, &report.worst_variable, &report.worst_point);
          dtau = std::min(dtau * o.grow, 1e200);
          continue;
        }
      }
      ++report.rejected;
      dtau /= o.shrink;
      if (!(dtau > 1e-300)) break;
    }
    if (!accepted) break;
  }
  report.residual = norm;
  report.converged = norm < o.rtol;
  report.dtau = dtau;
  return report;
}

}  // namespace fv::flame
