// The coupled species-and-soot solve of a flame (coupled.hpp): its rows, their
// Jacobian blocks and steps, as a problem of the block-tridiagonal Newton
// machinery (block_newton.hpp). The soot rows are in flux form (coupled.hpp
// states them), unlike the steady soot solve's, so that gas and soot conserve
// the elements together.
#include "coupled.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "../common/checked.hpp"
#include "block_newton.hpp"
#include "flame_rows.hpp"
#include "soot_rows.hpp"

namespace fv::flame {

namespace {

constexpr int NS = kSteadyVars;
// The smallest scale of a species' rows: the largest mass flux times this
// mass fraction over the domain width (a species that stays below it
// everywhere need not converge relative to its own size).
constexpr double kSpeciesScaleFloor = 1e-20;
// A change of a mass fraction below this does not matter for the step norm.
constexpr double kStepAtolY = 1e-10;
// A change of a soot variable below this fraction of its largest value
// anywhere does not matter for the step norm (as in the steady soot solve).
constexpr double kStepAtolSoot = 1e-9;
// The scale below which a step of a mass fraction is taken in asinh(Y / scale)
// (soot_rows::limited_change): a species may fall by a factor per step but not
// far past zero.
constexpr double kSpeciesStepScale = 1e-18;
// Finite-difference step of Y_j: perturbation (|Y_j| + this).
constexpr double kStepFloorY = 1e-5;
// The soot's thermophoretic drift u_th = -0.538 (mu / (rho T)) dT/dz, m/s (as in the
// steady soot solve).
constexpr double kThermophoresis = 0.538;

// Per point in Evaluation::aux.
enum PointAux : int { kWbar = 0, kRho, kMu, kUsoot, kD, kMs, kS0, kSigma0 = kS0 + NS };

using Clock = std::chrono::steady_clock;

// Adds the wall-clock time of its lifetime to `total`, s.
class Timed {
 public:
  explicit Timed(double& total) : total_(total), start_(Clock::now()) {}
  ~Timed() { total_ += std::chrono::duration<double>(Clock::now() - start_).count(); }
  Timed(const Timed&) = delete;
  Timed& operator=(const Timed&) = delete;

 private:
  double& total_;
  Clock::time_point start_;
};

// The gas of one point: temperature (K), mean molar mass (kg/kmol), density
// (kg/m^3), viscosity (Pa s) and soot velocity (m/s).
struct PointGas {
  double T = 0.0, Wbar = 0.0, rho = 0.0, mu = 0.0, u_soot = 0.0;
};

void check_problem(const CoupledProblem& p) {
  const long n = p.points(), K = p.species();
  auto fail = [](const std::string& what) {
    throw Error(ErrorKind::Value, "coupled flame solve: " + what);
  };
  if (n < 3) fail("the grid has " + std::to_string(n) + " points; at least three are needed");
  if (K < 1) fail("the gas has no species");
  if (p.T.size() != p.z.size() || p.rho_u.size() != p.z.size() || p.rho_time.size() != p.z.size())
    fail("T, rho_u and the time-term density need one value per grid point");
  for (long i = 0; i < n; ++i) {
    if (!std::isfinite(p.z[i]) || (i > 0 && !(p.z[i] > p.z[i - 1])))
      fail("the grid must be finite and strictly increasing (point " + std::to_string(i) + ")");
    if (!(p.T[i] > 0.0) || !std::isfinite(p.T[i]) || !std::isfinite(p.rho_u[i]) ||
        !(p.rho_time[i] > 0.0) || !std::isfinite(p.rho_time[i]))
      fail("temperature, mass flux or density not finite and positive at point " +
           std::to_string(i));
  }
  for (double w : p.W)
    if (!(w > 0.0) || !std::isfinite(w)) fail("molar masses must be positive and finite");
  if (!(p.P > 0.0) || !std::isfinite(p.P)) fail("the pressure must be positive and finite");
  if (static_cast<long>(p.Y_left.size()) != K ||
      (p.right_inlet && static_cast<long>(p.Y_right.size()) != K))
    fail("the inlet compositions need one mass fraction per species");
  if (!(p.mdot_left > 0.0) || !std::isfinite(p.mdot_left))
    fail("the left inlet's mass flux must be positive and finite");
  if (p.right_inlet && (!(p.mdot_right > 0.0) || !std::isfinite(p.mdot_right)))
    fail("the right inlet's mass flux must be positive and finite");
  if (p.H2_index >= K) fail("the H2 index lies outside the species");
  if (p.gas_sources && p.H2_index >= 0 && (!(p.W_C > 0.0) || !(p.W_H > 0.0)))
    fail("the atomic weights of C and H must be positive");
}

void check_state(const CoupledProblem& p, const std::vector<double>& x) {
  const std::size_t size = static_cast<std::size_t>(p.points()) * static_cast<std::size_t>(p.block());
  if (x.size() != size)
    throw Error(ErrorKind::Value, "coupled flame solve: the state has " + std::to_string(x.size()) +
                                      " values for " + std::to_string(p.points()) +
                                      " points of " + std::to_string(p.block()));
  for (double v : x)
    if (!std::isfinite(v))
      throw Error(ErrorKind::Value, "coupled flame solve: the starting state is not finite");
}

// The coupled rows as a problem of the block Newton machinery.
class CoupledRows final : public BlockProblem {
 public:
  CoupledRows(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot, double perturbation,
              const std::vector<double>& x0)
      : p_(p), gas_(gas), soot_(soot), perturbation_(perturbation), n_(p.points()),
        K_(p.species()), b_(p.block()) {
    const auto n = static_cast<std::size_t>(n_), K = static_cast<std::size_t>(K_);
    dz_.assign(n, 0.0);
    for (std::size_t i = 1; i < n; ++i) dz_[i] = p.z[i] - p.z[i - 1];
    dz_[0] = dz_[1];
    c_.assign((n - 1) * K, 0.0);
    X_.assign(n * K, 0.0);
    wdot_.assign(n * K, 0.0);
    scrub_.assign(n * K, 0.0);
    exchange_.assign(n * K, 0.0);
    flux_.assign((n - 1) * K, 0.0);
    qdiff_.assign((n - 1) * NS, 0.0);
    qth_.assign((n - 1) * NS, 0.0);
    drhoD_.assign(n * static_cast<std::size_t>(b_), 0.0);
    dmu_.assign(n * K, 0.0);
    work_.assign(K, 0.0);
    work2_.assign(K, 0.0);
    Yp_.assign(K, 0.0);
    Xp_.assign(K, 0.0);
    JX_.assign(K * K, 0.0);
    AL_.assign(K * K, 0.0);
    AR_.assign(K * K, 0.0);
    double G = 0.0;
    for (double v : p.rho_u) G = std::max(G, std::fabs(v));
    G = std::max({G, p.mdot_left, p.right_inlet ? p.mdot_right : 0.0});
    species_scale_floor_ = G * kSpeciesScaleFloor / (p.z.back() - p.z.front());
    // the row sum Y - 1 of each end belongs to the most abundant species there
    const double* Y0 = &x0[0];
    const double* Ym = &x0[static_cast<std::size_t>(n_ - 1) * b_];
    excess_left_ = static_cast<int>(std::max_element(Y0, Y0 + K_) - Y0);
    excess_right_ = static_cast<int>(std::max_element(Ym, Ym + K_) - Ym);
  }

  CoupledReport counts;  // evaluations, updates and times so far

  int block_size() const override { return b_; }
  long points() const override { return n_; }

  void evaluate(const std::vector<double>& x, Evaluation& e) override {
    ++counts.evaluations;
    const auto K = static_cast<std::size_t>(K_);
    const std::size_t n = static_cast<std::size_t>(n_);
    const std::size_t PA = kSigma0 + K;
    e.aux.assign(n * PA + (n - 1), 0.0);
    std::fill(wdot_.begin(), wdot_.end(), 0.0);
    std::fill(scrub_.begin(), scrub_.end(), 0.0);
    std::fill(exchange_.begin(), exchange_.end(), 0.0);
    for (long i = 0; i < n_; ++i) {
      const std::size_t j = static_cast<std::size_t>(i) * b_;
      const double* Y = &x[j];
      double* X = &X_[static_cast<std::size_t>(i) * K];
      double* a = &e.aux[static_cast<std::size_t>(i) * PA];
      PointGas g;
      point_gas(i, Y, X, g);
      a[kWbar] = g.Wbar;
      a[kRho] = g.rho;
      a[kMu] = g.mu;
      a[kUsoot] = g.u_soot;
      const bool inner = interior(i);
      if (inner) {
        Timed t(counts.seconds_rates);
        gas_.set_state(p_.T[i], p_.P, Y);
        gas_.net_production_rates(&wdot_[static_cast<std::size_t>(i) * K]);
      }
      SootPoint N, S{};
      std::copy_n(&x[j + K], NS, N.begin());
      double* scrub = (inner && p_.gas_sources) ? &scrub_[static_cast<std::size_t>(i) * K] : nullptr;
      point_soot(g, X, N, inner, a[kD], S, scrub);
      std::copy(S.begin(), S.end(), a + kS0);
      if (scrub) {
        double* ex = &exchange_[static_cast<std::size_t>(i) * K];
        a[kMs] = exchange(scrub, S, g.rho, ex);
        for (std::size_t k = 0; k < K; ++k) a[kSigma0 + k] = ex[k] - Y[k] * a[kMs];
      }
    }
    // diffusive fluxes at the midpoints, with the lagged coefficients
    double* sums = &e.aux[n * PA];
    for (long m = 0; m + 1 < n_; ++m) {
      const std::size_t mk = static_cast<std::size_t>(m) * K;
      const double* XL = &X_[mk];
      const double* XR = &X_[mk + K];
      const double* YL = &x[static_cast<std::size_t>(m) * b_];
      const double dz = p_.z[m + 1] - p_.z[m];
      double* f = &flux_[mk];
      double sum = 0.0;
      for (std::size_t k = 0; k < K; ++k) {
        f[k] = c_[mk + k] * (XL[k] - XR[k]) / dz;
        sum -= f[k];
      }
      for (std::size_t k = 0; k < K; ++k) f[k] += sum * YL[k];
      sums[m] = sum;
    }
    rows(x, e);
  }

  void jacobian(const std::vector<double>& x, const Evaluation& e, bool full,
                BlockTridiagonal& J) override {
    const auto K = static_cast<std::size_t>(K_);
    const std::size_t b = static_cast<std::size_t>(b_);
    const std::size_t n = static_cast<std::size_t>(n_);
    const std::size_t PA = kSigma0 + K;
    J.zero();
    // the profiles of x (later evaluations have overwritten the stored ones)
    for (std::size_t i = 0; i < n; ++i) {
      const double* a = &e.aux[i * PA];
      const double* Y = &x[i * b];
      for (std::size_t k = 0; k < K; ++k) X_[i * K + k] = Y[k] * a[kWbar] / p_.W[k];
    }
    const double* sums = &e.aux[n * PA];

    // species: convection
    for (long i = 1; i + 1 < n_; ++i) {
      const double ru = p_.rho_u[i];
      double* D = J.diag(i);
      if (ru > 0.0) {
        const double c = ru / dz_[i];
        for (std::size_t k = 0; k < K; ++k) {
          D[k * b + k] += c;
          J.lower(i)[k * b + k] -= c;
        }
      } else {
        const double c = ru / dz_[i + 1];
        for (std::size_t k = 0; k < K; ++k) {
          D[k * b + k] -= c;
          J.upper(i)[k * b + k] += c;
        }
      }
    }
    // species: diffusion through each midpoint, into the rows of its two points
    for (long m = 0; m + 1 < n_; ++m) {
      flux_derivatives(m, x, e.aux[static_cast<std::size_t>(m) * PA + kWbar],
                       e.aux[static_cast<std::size_t>(m + 1) * PA + kWbar], sums[m]);
      if (interior(m)) {
        const double c = 2.0 / (p_.z[m + 1] - p_.z[m - 1]);
        add_block(J.diag(m), AL_, c, -1);
        add_block(J.upper(m), AR_, c, -1);
      } else if (m == 0) {
        add_block(J.diag(0), AL_, 1.0, excess_left_);
        add_block(J.upper(0), AR_, 1.0, excess_left_);
      }
      const long r = m + 1;
      if (interior(r)) {
        const double c = -2.0 / (p_.z[r + 1] - p_.z[r - 1]);
        add_block(J.lower(r), AL_, c, -1);
        add_block(J.diag(r), AR_, c, -1);
      } else if (p_.right_inlet) {
        add_block(J.lower(r), AL_, 1.0, excess_right_);
        add_block(J.diag(r), AR_, 1.0, excess_right_);
      }
    }
    // species: the ends
    {
      double* D = J.diag(0);
      for (std::size_t k = 0; k < K; ++k)
        if (static_cast<int>(k) != excess_left_) D[k * b + k] += p_.rho_u[0];
      for (std::size_t l = 0; l < b; ++l) D[excess_left_ * b + l] = l < K ? 1.0 : 0.0;
      const long m = n_ - 1;
      double* Dm = J.diag(m);
      if (p_.right_inlet) {
        for (std::size_t k = 0; k < K; ++k)
          if (static_cast<int>(k) != excess_right_) Dm[k * b + k] += p_.rho_u[m];
      } else {
        const double w = outflow_weight(m);
        for (std::size_t k = 0; k < K; ++k)
          if (static_cast<int>(k) != excess_right_) {
            Dm[k * b + k] += w;
            J.lower(m)[k * b + k] -= w;
          }
      }
      for (std::size_t l = 0; l < b; ++l) {
        Dm[excess_right_ * b + l] = l < K ? 1.0 : 0.0;
        J.lower(m)[excess_right_ * b + l] = 0.0;
      }
    }
    // soot: convection as the species', and the boundary rows' own terms
    for (long i = 1; i + 1 < n_; ++i) {
      const double ru = p_.rho_u[i];
      const bool left = ru > 0.0;
      const double c = left ? ru / dz_[i] : ru / dz_[i + 1];
      for (std::size_t k = K; k < b; ++k) {
        const std::size_t r = k * b + k;
        if (left) {
          J.diag(i)[r] += c;
          J.lower(i)[r] -= c;
        } else {
          J.diag(i)[r] -= c;
          J.upper(i)[r] += c;
        }
      }
    }
    {
      const long m = n_ - 1;
      const double w = outflow_weight(m);
      for (std::size_t k = K; k < b; ++k) {
        const std::size_t r = k * b + k;
        J.diag(0)[r] += p_.rho_u[0];
        if (p_.right_inlet) {
          J.diag(m)[r] += p_.rho_u[m];
        } else {
          J.diag(m)[r] += w;
          J.lower(m)[r] -= w;
        }
      }
    }
    // the point terms (the gas's rates and the soot model, differenced), which also
    // give the derivatives of each point's rho D and viscosity for the face fluxes
    std::fill(drhoD_.begin(), drhoD_.end(), 0.0);
    std::fill(dmu_.begin(), dmu_.end(), 0.0);
    if (full) {
      for (long i = 0; i < n_; ++i) {
        if (interior(i)) rate_derivatives(i, x, e, J);
        soot_derivatives(i, x, e, J);
      }
    }
    // soot: the face fluxes, linear in N for the coefficients held, and through
    // (rho D) and V in the two points' unknowns
    for (long m = 0; m + 1 < n_; ++m) {
      const Face f = face(m, e.aux);
      const double* NL = &x[static_cast<std::size_t>(m) * b + K];
      const double* NR = NL + b;
      const double lin_L = f.A / f.dz + (f.V > 0.0 ? f.V : 0.0);
      const double lin_R = -f.A / f.dz + (f.V > 0.0 ? 0.0 : f.V);
      // row factors: +1/h of the row on the left, -1/h of the row on the right;
      // an inlet row takes its face flux with factor 1, an outflow row none
      const double cL = interior(m) ? 2.0 / (p_.z[m + 1] - p_.z[m - 1]) : 1.0;
      const long r = m + 1;
      const double cR = interior(r) ? -2.0 / (p_.z[r + 1] - p_.z[r - 1])
                                    : (p_.right_inlet ? 1.0 : 0.0);
      for (int side = 0; side < 2; ++side) {
        const long pt = m + side;  // the point whose unknowns are the columns
        const double* dA = &drhoD_[static_cast<std::size_t>(pt) * b];  // d(rho D)/dx
        const double* dmu = &dmu_[static_cast<std::size_t>(pt) * K];
        const double dV_dmu = f.dV_dmu[side];
        for (std::size_t k = 0; k < NS; ++k) {
          const double dQ_dA = -0.5 * (NR[k] - NL[k]) / f.dz;  // per d(rho D) of a point
          const double dQ_dV = f.V > 0.0 ? NL[k] : NR[k];
          const double lin = side == 0 ? lin_L : lin_R;
          for (int rs = 0; rs < 2; ++rs) {
            const double fac = rs == 0 ? cL : cR;
            if (fac == 0.0) continue;
            const long row = m + rs;
            double* B = row == pt ? J.diag(row) : (pt > row ? J.upper(row) : J.lower(row));
            double* out = &B[(K + k) * b];
            out[K + k] += fac * lin;
            if (!full) continue;
            for (std::size_t c = 0; c < b; ++c) out[c] += fac * dQ_dA * dA[c];
            for (std::size_t c = 0; c < K; ++c) out[c] += fac * dQ_dV * dV_dmu * dmu[c];
          }
        }
      }
    }
  }

  void time_coefficients(std::vector<double>& c) const override {
    c.assign(static_cast<std::size_t>(n_) * b_, 0.0);
    for (long i = 1; i + 1 < n_; ++i)
      std::fill_n(&c[static_cast<std::size_t>(i) * b_], b_, p_.rho_time[i]);
  }

  void step_tolerance(const std::vector<double>& x, std::vector<double>& atol) const override {
    SootPoint peak = p_.floor;
    const auto K = static_cast<std::size_t>(K_);
    for (std::size_t j = 0; j < x.size(); ++j) {
      const std::size_t k = j % b_;
      if (k >= K) peak[k - K] = std::max(peak[k - K], kStepAtolSoot * std::fabs(x[j]));
    }
    atol.resize(x.size());
    for (std::size_t j = 0; j < x.size(); ++j) {
      const std::size_t k = j % b_;
      atol[j] = k < K ? kStepAtolY : peak[k - K];
    }
  }

  void apply_step(const std::vector<double>& x, std::vector<double>& dx,
                  std::vector<double>& x_new) const override {
    const auto K = static_cast<std::size_t>(K_);
    x_new.resize(x.size());
    for (std::size_t j = 0; j < x.size(); ++j) {
      const std::size_t k = j % b_;
      if (k < K) {
        dx[j] = soot_rows::limited_change(x[j], dx[j], kSpeciesStepScale);
      } else {
        dx[j] = soot_rows::limited_change(x[j], dx[j], p_.floor[k - K]);
      }
      x_new[j] = x[j] + dx[j];
    }
  }

  bool outside_domain(const Error& e) const override {
    return e.kind() == ErrorKind::ZeroDivision || e.kind() == ErrorKind::Overflow ||
           soot_.outside_domain(e);
  }

  bool refresh(const std::vector<double>& x, Evaluation& e) override {
    if (x == transport_at_) return false;
    update_transport(x);
    evaluate(x, e);
    return true;
  }

  // The diffusion coefficients of the midpoints between the points of x.
  void update_transport(const std::vector<double>& x) {
    Timed t(counts.seconds_transport);
    ++counts.transport_updates;
    const auto K = static_cast<std::size_t>(K_);
    for (long m = 0; m + 1 < n_; ++m) {
      const double* YL = &x[static_cast<std::size_t>(m) * b_];
      const double* YR = YL + b_;
      for (std::size_t k = 0; k < K; ++k) work_[k] = 0.5 * (YL[k] + YR[k]);
      const double T = 0.5 * (p_.T[m] + p_.T[m + 1]);
      const double Wbar = mean_molar_mass(work_.data());
      const double rho = p_.P * Wbar / (kGasConstant * T);
      gas_.set_state(T, p_.P, work_.data());
      gas_.mix_diff_coeffs(work2_.data());
      double* c = &c_[static_cast<std::size_t>(m) * K];
      for (std::size_t k = 0; k < K; ++k) c[k] = work2_[k] * p_.W[k] * rho / Wbar;
    }
    transport_at_ = x;
  }

  // Everything of the last evaluation, for coupled_residual.
  void detail(const Evaluation& e, CoupledEvaluation& d) const {
    const std::size_t n = static_cast<std::size_t>(n_), PA = kSigma0 + static_cast<std::size_t>(K_);
    d.F = e.F;
    d.weight = e.weight;
    d.rho.resize(n);
    d.mu.resize(n);
    d.u_soot.resize(n);
    d.m_s.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      d.rho[i] = e.aux[i * PA + kRho];
      d.mu[i] = e.aux[i * PA + kMu];
      d.u_soot[i] = e.aux[i * PA + kUsoot];
      d.m_s[i] = e.aux[i * PA + kMs];
    }
    d.wdot = wdot_;
    d.scrub = scrub_;
    d.exchange = exchange_;
    d.flux = flux_;
    long worst = 0;
    d.residual = weighted_max(e, &worst);
    d.worst_point = worst / b_;
    d.worst_component = static_cast<int>(worst % b_);
  }

 private:
  bool interior(long i) const { return i > 0 && i < n_ - 1; }

  // 1 / sum Y_k / W_k, kg/kmol; ZeroDivision for a sum that is not positive
  // (the state lies outside the domain of the rows)
  double mean_molar_mass(const double* Y) const {
    double s = 0.0;
    for (long k = 0; k < K_; ++k) s += Y[k] / p_.W[k];
    if (!(s > 0.0) || !std::isfinite(s))
      throw Error(ErrorKind::ZeroDivision, "coupled flame solve: mass fractions without a "
                                           "positive mean molar mass");
    return 1.0 / s;
  }

  // Mean molar mass, X, density, viscosity and soot velocity of point i at Y.
  void point_gas(long i, const double* Y, double* X, PointGas& g) {
    g.Wbar = mean_molar_mass(Y);
    for (long k = 0; k < K_; ++k) X[k] = Y[k] * g.Wbar / p_.W[k];
    const double T = p_.T[i];
    g.T = T;
    g.rho = p_.P * g.Wbar / (kGasConstant * T);
    {
      Timed t(counts.seconds_viscosity);
      g.mu = gas_.viscosity(T, X);
    }
    // the thermophoretic drift from the backward temperature difference; the
    // first point's soot velocity enters no row
    const double u_th =
        i > 0 ? thermophoretic_velocity<CheckedDiv>(g.mu, g.rho, T, p_.T[i - 1], dz_[i]) : 0.0;
    g.u_soot = CheckedDiv::div(p_.rho_u[i], g.rho) + u_th;
  }

  void point_soot(const PointGas& g, const double* X, const SootPoint& N, bool sources, double& D,
                  SootPoint& S, double* scrub) {
    Timed t(counts.seconds_soot);
    ++counts.soot_evaluations;
    SootGasState s;
    s.T = g.T;
    s.P = p_.P;
    s.rho = g.rho;
    s.mu = g.mu;
    s.mean_MW = g.Wbar;
    s.X = X;
    soot_.evaluate(s, N, sources, D, S, scrub);
  }

  // a_k = W_k scrub_k (kg/(m^3 s)) into a, closed on H2 so that the gas loses
  // the soot's mass gain rho (S_C W_C + S_H W_H); returns m_s = sum a_k.
  double exchange(const double* scrub, const SootPoint& S, double rho, double* a) const {
    double m_s = 0.0;
    for (long k = 0; k < K_; ++k) {
      a[k] = p_.W[k] * scrub[k];
      m_s += a[k];
    }
    if (p_.H2_index >= 0) {
      const double gain = rho * (S[2] * p_.W_C + S[3] * p_.W_H);
      const double closure = -(m_s + gain);
      a[p_.H2_index] += closure;
      m_s += closure;
    }
    return m_s;
  }

  // Weight of the outflow rows (Y_m - Y_m-1) w: |rho_u|/dz, or rho/dz times
  // 1 m/s where rho_u = 0, kg/(m^3 s).
  double outflow_weight(long m) const {
    const double w = std::fabs(p_.rho_u[m]) / dz_[m];
    return w > 0.0 ? w : p_.rho_time[m] / dz_[m];
  }

  // The residual rows and their weights at x, from the point values and
  // fluxes computed by evaluate().
  void rows(const std::vector<double>& x, Evaluation& e) {
    const auto K = static_cast<std::size_t>(K_);
    const std::size_t b = static_cast<std::size_t>(b_), n = static_cast<std::size_t>(n_);
    const std::size_t PA = kSigma0 + K;
    e.F.assign(n * b, 0.0);
    scale_.assign(K + NS, 0.0);
    auto note = [this](std::size_t k, double v) { scale_[k] = std::max(scale_[k], std::fabs(v)); };
    for (long i = 1; i + 1 < n_; ++i) {
      const std::size_t j = static_cast<std::size_t>(i) * b;
      const double* Y = &x[j];
      const double ru = p_.rho_u[i];
      const bool left = ru > 0.0;
      const double dz = left ? dz_[i] : dz_[i + 1];
      const double* Yup = left ? &x[j - b] : &x[j + b];
      const double span = 2.0 / (p_.z[i + 1] - p_.z[i - 1]);
      const double* fR = &flux_[static_cast<std::size_t>(i) * K];
      const double* fL = fR - K;
      const double* w = &wdot_[static_cast<std::size_t>(i) * K];
      const double* sigma = &e.aux[static_cast<std::size_t>(i) * PA + kSigma0];
      for (std::size_t k = 0; k < K; ++k) {
        const double own = ru * Y[k] / dz, up = ru * Yup[k] / dz;
        const double conv = left ? own - up : up - own;
        const double dR = span * fR[k], dL = span * fL[k];
        const double chem = p_.W[k] * w[k];
        e.F[j + k] = conv + (dR - dL) - chem - sigma[k];
        note(k, own);
        note(k, up);
        note(k, dR);
        note(k, dL);
        note(k, chem);
        note(k, sigma[k]);
      }
    }
    // left inlet
    {
      const double* Y = &x[0];
      const double* f = &flux_[0];
      double sum = 0.0;
      for (std::size_t k = 0; k < K; ++k) {
        sum += Y[k];
        const double conv = p_.rho_u[0] * Y[k], in = p_.mdot_left * p_.Y_left[k];
        e.F[k] = f[k] + conv - in;
        note(k, f[k]);
        note(k, conv);
        note(k, in);
      }
      e.F[excess_left_] = sum - 1.0;
    }
    // right end
    {
      const long m = n_ - 1;
      const std::size_t j = static_cast<std::size_t>(m) * b;
      const double* Y = &x[j];
      const double* Yprev = &x[j - b];
      double sum = 0.0;
      if (p_.right_inlet) {
        const double* f = &flux_[static_cast<std::size_t>(m - 1) * K];
        for (std::size_t k = 0; k < K; ++k) {
          sum += Y[k];
          const double conv = p_.rho_u[m] * Y[k], in = p_.mdot_right * p_.Y_right[k];
          e.F[j + k] = f[k] + conv + in;
          note(k, f[k]);
          note(k, conv);
          note(k, in);
        }
      } else {
        const double w = outflow_weight(m);
        for (std::size_t k = 0; k < K; ++k) {
          sum += Y[k];
          e.F[j + k] = w * (Y[k] - Yprev[k]);
          note(k, w * Y[k]);
          note(k, w * Yprev[k]);
        }
      }
      e.F[j + excess_right_] = sum - 1.0;
    }
    // soot: the face fluxes, then each point's row
    for (long m = 0; m + 1 < n_; ++m) {
      const Face f = face(m, e.aux);
      const double* NL = &x[static_cast<std::size_t>(m) * b + K];
      const double* NR = NL + b;
      double* q = &qdiff_[static_cast<std::size_t>(m) * NS];
      double* t = &qth_[static_cast<std::size_t>(m) * NS];
      for (std::size_t k = 0; k < NS; ++k) {
        q[k] = -f.A * (NR[k] - NL[k]) / f.dz;
        t[k] = f.V * (f.V > 0.0 ? NL[k] : NR[k]);
      }
    }
    for (long i = 1; i + 1 < n_; ++i) {
      const std::size_t j = static_cast<std::size_t>(i) * b + K;
      const double* N = &x[j];
      const double* a = &e.aux[static_cast<std::size_t>(i) * PA];
      const double ru = p_.rho_u[i];
      const bool left = ru > 0.0;
      const double dz = left ? dz_[i] : dz_[i + 1];
      const double* Nup = left ? &x[j - b] : &x[j + b];
      const double span = 2.0 / (p_.z[i + 1] - p_.z[i - 1]);
      const std::size_t fR = static_cast<std::size_t>(i) * NS, fL = fR - NS;
      for (std::size_t k = 0; k < NS; ++k) {
        const double own = ru * N[k] / dz, up = ru * Nup[k] / dz;
        const double conv = left ? own - up : up - own;
        const double qR = span * qdiff_[fR + k], qL = span * qdiff_[fL + k];
        const double tR = span * qth_[fR + k], tL = span * qth_[fL + k];
        const double src = a[kRho] * a[kS0 + k];
        e.F[j + k] = conv + (qR + tR) - (qL + tL) - src;
        for (double v : {own, up, qR, qL, tR, tL, src}) note(K + k, v);
      }
    }
    {
      // left inlet: the soot flux through the first face, convective (rho_u[0] N[0],
      // as the species' inlet row) plus diffusive and thermophoretic, equals what the
      // entering gas carries
      const double* N = &x[K];
      for (std::size_t k = 0; k < NS; ++k) {
        const double conv = p_.rho_u[0] * N[k], in = p_.mdot_left * p_.N_left[k];
        e.F[K + k] = conv + qdiff_[k] + qth_[k] - in;
        for (double v : {conv, qdiff_[k], qth_[k], in}) note(K + k, v);
      }
      const long m = n_ - 1;
      const std::size_t j = static_cast<std::size_t>(m) * b + K;
      const double* Nm = &x[j];
      if (p_.right_inlet) {
        // the same for gas entering in -z (rho_u[m] < 0)
        const std::size_t f = static_cast<std::size_t>(m - 1) * NS;
        for (std::size_t k = 0; k < NS; ++k) {
          const double conv = p_.rho_u[m] * Nm[k], in = p_.mdot_right * p_.N_right[k];
          e.F[j + k] = conv + qdiff_[f + k] + qth_[f + k] + in;
          for (double v : {conv, qdiff_[f + k], qth_[f + k], in}) note(K + k, v);
        }
      } else {
        // outflow: the neighbour's soot, weighted as the species' outflow rows
        const double w = outflow_weight(m);
        const double* Nprev = &x[j - b];
        for (std::size_t k = 0; k < NS; ++k) {
          e.F[j + k] = w * (Nm[k] - Nprev[k]);
          note(K + k, w * Nm[k]);
          note(K + k, w * Nprev[k]);
        }
      }
    }
    e.weight.resize(n * b);
    for (std::size_t j = 0; j < n * b; ++j) {
      const std::size_t k = j % b;
      double s = scale_[k];
      if (k < K) s = std::max(s, species_scale_floor_);
      e.weight[j] = s > 0.0 ? 1.0 / s : 1.0;
    }
    e.weight[static_cast<std::size_t>(excess_left_)] = 1.0;
    e.weight[static_cast<std::size_t>(n_ - 1) * b + excess_right_] = 1.0;
  }

  // d j_k / d Y_j of the fluxes at midpoint m, with respect to the left point
  // (into AL_) and the right point (into AR_), K x K row-major, for the
  // coefficients c held: with f_k = c_k (X_k,L - X_k,R)/dz, s = -sum_l f_l,
  // j_k = f_k + s Y_k,L, and dX_k/dY_j = Wbar (delta_kj / W_k - X_k / W_j).
  void flux_derivatives(long m, const std::vector<double>& x, double WbarL, double WbarR,
                        double sum) {
    const auto K = static_cast<std::size_t>(K_);
    const std::size_t mk = static_cast<std::size_t>(m) * K;
    const double* c = &c_[mk];
    const double* XL = &X_[mk];
    const double* XR = &X_[mk + K];
    const double* YL = &x[static_cast<std::size_t>(m) * b_];
    const double dz = p_.z[m + 1] - p_.z[m];
    double CL = 0.0, CR = 0.0;
    for (std::size_t k = 0; k < K; ++k) {
      CL += c[k] * XL[k];
      CR += c[k] * XR[k];
    }
    // d s / d Y_j,L = -WbarL/(W_j dz) (c_j - CL); d s / d Y_j,R = WbarR/(W_j dz) (c_j - CR)
    for (std::size_t j = 0; j < K; ++j) {
      work_[j] = -WbarL / (p_.W[j] * dz) * (c[j] - CL);
      work2_[j] = WbarR / (p_.W[j] * dz) * (c[j] - CR);
    }
    for (std::size_t k = 0; k < K; ++k) {
      double* L = &AL_[k * K];
      double* R = &AR_[k * K];
      const double cL = c[k] * XL[k] * WbarL / dz;
      const double cR = c[k] * XR[k] * WbarR / dz;
      for (std::size_t j = 0; j < K; ++j) {
        const double invW = 1.0 / p_.W[j];
        L[j] = -cL * invW + YL[k] * work_[j];
        R[j] = cR * invW + YL[k] * work2_[j];
      }
      L[k] += c[k] * WbarL / (p_.W[k] * dz) + sum;
      R[k] -= c[k] * WbarR / (p_.W[k] * dz);
    }
  }

  // block[k][j] += f A[k][j] for the species rows k (other than `skip`) and
  // columns j of a J block
  void add_block(double* block, const std::vector<double>& A, double f, int skip) const {
    const auto K = static_cast<std::size_t>(K_);
    const std::size_t b = static_cast<std::size_t>(b_);
    for (std::size_t k = 0; k < K; ++k) {
      if (static_cast<int>(k) == skip) continue;
      double* row = &block[k * b];
      const double* a = &A[k * K];
      for (std::size_t j = 0; j < K; ++j) row[j] += f * a[j];
    }
  }

  // -W_k dwdot_k/dY_j into the diagonal block of interior point i.
  void rate_derivatives(long i, const std::vector<double>& x, const Evaluation& e,
                        BlockTridiagonal& J) {
    const auto K = static_cast<std::size_t>(K_);
    const std::size_t b = static_cast<std::size_t>(b_);
    const double* Y = &x[static_cast<std::size_t>(i) * b];
    const double* X = &X_[static_cast<std::size_t>(i) * K];
    const double Wbar = e.aux[static_cast<std::size_t>(i) * (kSigma0 + K) + kWbar];
    {
      Timed t(counts.seconds_rate_jacobians);
      gas_.set_state(p_.T[i], p_.P, Y);
      gas_.rates_ddX(JX_.data());
    }
    // dwdot_k/dY_j = sum_l dwdot_k/dX_l dX_l/dY_j = Wbar/W_j (J_kj - sum_l J_kl X_l)
    double* D = J.diag(i);
    for (std::size_t k = 0; k < K; ++k) {
      const double* row = &JX_[k * K];
      double v = 0.0;
      for (std::size_t l = 0; l < K; ++l) v += row[l] * X[l];
      double* out = &D[k * b];
      for (std::size_t j = 0; j < K; ++j)
        out[j] -= p_.W[k] * (Wbar / p_.W[j]) * (row[j] - v);
    }
  }

  // The soot model's part of the diagonal block of point i by finite
  // differences in the point's own unknowns: the soot rows' sources, the
  // species rows' exchange with the soot, and the derivatives of the point's
  // rho D and viscosity (into drhoD_ and dmu_, for the face fluxes).
  void soot_derivatives(long i, const std::vector<double>& x, const Evaluation& e,
                        BlockTridiagonal& J) {
    const auto K = static_cast<std::size_t>(K_);
    const std::size_t b = static_cast<std::size_t>(b_);
    const std::size_t PA = kSigma0 + K;
    const std::size_t j0 = static_cast<std::size_t>(i) * b;
    const double* a = &e.aux[static_cast<std::size_t>(i) * PA];
    const double* Y = &x[j0];
    const bool inner = interior(i);
    const bool exchange_rows = inner && p_.gas_sources;
    SootPoint N;
    std::copy_n(&x[j0 + K], NS, N.begin());
    const double* sigma = a + kSigma0;
    double* D = J.diag(i);
    double* dA = &drhoD_[j0];
    double* dmu = &dmu_[static_cast<std::size_t>(i) * K];
    PointGas base;
    base.T = p_.T[i];
    base.Wbar = a[kWbar];
    base.rho = a[kRho];
    base.mu = a[kMu];
    base.u_soot = a[kUsoot];
    const double rhoD = base.rho * a[kD];
    const double* X = &X_[static_cast<std::size_t>(i) * K];
    double* scrub = exchange_rows ? work_.data() : nullptr;

    // the soot variables
    for (std::size_t c = 0; c < NS; ++c) {
      SootPoint Np = N;
      Np[c] += perturbation_ * std::max(std::fabs(Np[c]), p_.floor[c]);
      const double h = Np[c] - N[c];
      double Dp;
      SootPoint Sp{};
      point_soot(base, X, Np, inner, Dp, Sp, scrub);
      dA[K + c] = base.rho * (Dp - a[kD]) / h;
      if (inner)
        for (std::size_t k = 0; k < NS; ++k)
          D[(K + k) * b + K + c] -= base.rho * ((Sp[k] - a[kS0 + k]) / h);
      if (exchange_rows) {
        const double m_s = exchange(scrub, Sp, base.rho, work2_.data());
        for (std::size_t k = 0; k < K; ++k)
          D[k * b + K + c] -= ((work2_[k] - Y[k] * m_s) - sigma[k]) / h;
      }
    }
    // the mass fractions: the gas the soot model reads, the density and the
    // viscosity change together
    std::copy_n(Y, K, Yp_.begin());
    for (std::size_t c = 0; c < K; ++c) {
      const double h0 = perturbation_ * (std::fabs(Y[c]) + kStepFloorY);
      Yp_[c] = Y[c] + h0;
      const double h = Yp_[c] - Y[c];
      PointGas gp;
      point_gas(i, Yp_.data(), Xp_.data(), gp);
      double Dp;
      SootPoint Sp{};
      point_soot(gp, Xp_.data(), N, inner, Dp, Sp, scrub);
      dA[c] = (gp.rho * Dp - rhoD) / h;
      dmu[c] = (gp.mu - base.mu) / h;
      if (inner)
        for (std::size_t k = 0; k < NS; ++k)
          D[(K + k) * b + c] -= (gp.rho * Sp[k] - base.rho * a[kS0 + k]) / h;
      if (exchange_rows) {
        const double m_s = exchange(scrub, Sp, gp.rho, work2_.data());
        for (std::size_t k = 0; k < K; ++k)
          D[k * b + c] -= ((work2_[k] - Yp_[k] * m_s) - sigma[k]) / h;
      }
      Yp_[c] = Y[c];
    }
  }

  // The soot's transport coefficients at face m (between points m and m+1):
  // spacing dz (m), A = (rho D) as the mean of the two points' (kg/(m s)) and the
  // thermophoretic mass flux coefficient V = rho u_th = -0.538 (mu/T) dT/dz with
  // mu/T the mean of the two points' (kg/(m^2 s)); dV_dmu[s] = dV/dmu of point m+s.
  struct Face {
    double dz, A, V, dV_dmu[2];
  };
  Face face(long m, const std::vector<double>& aux) const {
    const std::size_t PA = kSigma0 + static_cast<std::size_t>(K_);
    const double* aL = &aux[static_cast<std::size_t>(m) * PA];
    const double* aR = aL + PA;
    Face f;
    f.dz = p_.z[m + 1] - p_.z[m];
    f.A = 0.5 * (aL[kRho] * aL[kD] + aR[kRho] * aR[kD]);
    const double g = -kThermophoresis * 0.5 * (p_.T[m + 1] - p_.T[m]) / f.dz;
    f.dV_dmu[0] = g / p_.T[m];
    f.dV_dmu[1] = g / p_.T[m + 1];
    f.V = f.dV_dmu[0] * aL[kMu] + f.dV_dmu[1] * aR[kMu];
    return f;
  }

  const CoupledProblem& p_;
  FlameGas& gas_;
  FlameSootModel& soot_;
  double perturbation_;
  long n_, K_;
  int b_;
  std::vector<double> dz_;       // dz_[i] = z[i] - z[i-1], dz_[0] = dz_[1], m
  std::vector<double> c_;        // (n-1) K: rho D_km W_k / Wbar of each midpoint, kg/(m s)
  std::vector<double> transport_at_;  // the state of the last update of c_
  std::vector<double> X_;        // n K mole fractions of the last evaluation
  std::vector<double> wdot_, scrub_, exchange_;  // n K of the last evaluation
  std::vector<double> flux_;     // (n-1) K diffusive mass fluxes of the last evaluation
  std::vector<double> scale_;    // K + 4 row scales of the last evaluation
  std::vector<double> qdiff_, qth_;  // (n-1) 4 soot diffusive and thermophoretic fluxes at
                                     // the faces of the last evaluation, mol/(m^2 s)
  std::vector<double> drhoD_;    // n (K + 4): d(rho D)/dx of each point's own unknowns
  std::vector<double> dmu_;      // n K: d mu/dY of each point
  std::vector<double> work_, work2_, Yp_, Xp_, JX_, AL_, AR_;
  double species_scale_floor_ = 0.0;
  int excess_left_ = 0, excess_right_ = 0;
};

}  // namespace

CoupledEvaluation coupled_residual(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                                   const std::vector<double>& x,
                                   const std::vector<double>* transport) {
  check_problem(p);
  check_state(p, x);
  if (transport) check_state(p, *transport);
  CoupledRows rows(p, gas, soot, 0.0, x);
  rows.update_transport(transport ? *transport : x);
  Evaluation e;
  rows.evaluate(x, e);
  CoupledEvaluation d;
  rows.detail(e, d);
  return d;
}

void coupled_jacobian(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                      const std::vector<double>& x, double perturbation, BlockTridiagonal& J) {
  check_problem(p);
  check_state(p, x);
  CoupledRows rows(p, gas, soot, perturbation, x);
  rows.update_transport(x);
  Evaluation e;
  rows.evaluate(x, e);
  J.resize(p.points(), p.block());
  rows.jacobian(x, e, true, J);
}

CoupledReport solve_coupled(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                            std::vector<double>& x, const CoupledOptions& o) {
  check_problem(p);
  check_state(p, x);
  CoupledRows rows(p, gas, soot, o.perturbation, x);
  rows.update_transport(x);
  BlockNewtonOptions bo;
  bo.rtol = o.rtol;
  bo.max_iterations = o.max_iterations;
  bo.max_time_steps = o.max_time_steps;
  bo.dt = o.dt;
  const BlockNewtonReport b = solve_block_newton(rows, x, bo);
  CoupledReport r = rows.counts;
  r.converged = b.converged;
  r.iterations = b.iterations;
  r.time_steps = b.time_steps;
  r.jacobians = b.jacobians;
  r.rejected = b.rejected;
  r.linear_steps = b.linear_steps;
  r.residual = b.residual;
  r.worst_point = b.worst_row / p.block();
  r.worst_component = static_cast<int>(b.worst_row % p.block());
  r.dt = b.dt;
  r.stop = b.stop;
  return r;
}

namespace {

// The soot model at the gas of a state held, point by point.
class HeldGasModel final : public PointModel {
 public:
  HeldGasModel(FlameSootModel& soot, std::vector<SootGasState> gas, std::vector<double> X)
      : soot_(soot), gas_(std::move(gas)), X_(std::move(X)) {}
  void evaluate(long i, const SootPoint& N, bool sources, double& D, SootPoint& S) override {
    soot_.evaluate(gas_[static_cast<std::size_t>(i)], N, sources, D, S, nullptr);
  }
  bool outside_domain(const Error& e) override { return soot_.outside_domain(e); }

 private:
  FlameSootModel& soot_;
  std::vector<SootGasState> gas_;
  std::vector<double> X_;  // owns the mole fractions gas_ points into
};

}  // namespace

SteadyReport solve_soot_on_gas(const CoupledProblem& p, FlameGas& gas, FlameSootModel& soot,
                               std::vector<double>& x, const SteadyOptions& o) {
  check_problem(p);
  check_state(p, x);
  const long n = p.points(), K = p.species();
  const std::size_t b = static_cast<std::size_t>(p.block());
  SteadyProblem sp;
  sp.dz.assign(static_cast<std::size_t>(n), 0.0);
  for (long i = 1; i < n; ++i) sp.dz[i] = p.z[i] - p.z[i - 1];
  sp.dz[0] = sp.dz[1];
  sp.rho.resize(static_cast<std::size_t>(n));
  sp.u.resize(static_cast<std::size_t>(n));
  sp.mdot_left = p.mdot_left;
  sp.mdot_right = p.mdot_right;
  sp.boundary_type_right = p.right_inlet ? 0 : 1;
  sp.in_left = p.N_left;
  sp.in_right = p.N_right;
  sp.floor = p.floor;
  std::vector<double> X(static_cast<std::size_t>(n * K));
  std::vector<SootGasState> states(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i) {
    const double* Y = &x[static_cast<std::size_t>(i) * b];
    double s = 0.0;
    for (long k = 0; k < K; ++k) s += Y[k] / p.W[k];
    if (!(s > 0.0))
      throw Error(ErrorKind::Value, "coupled flame solve: mass fractions without a positive "
                                    "mean molar mass at point " + std::to_string(i));
    const double Wbar = 1.0 / s;
    double* Xi = &X[static_cast<std::size_t>(i * K)];
    for (long k = 0; k < K; ++k) Xi[k] = Y[k] * Wbar / p.W[k];
    SootGasState& g = states[static_cast<std::size_t>(i)];
    g.T = p.T[i];
    g.P = p.P;
    g.mean_MW = Wbar;
    g.rho = p.P * Wbar / (kGasConstant * p.T[i]);
    g.mu = gas.viscosity(p.T[i], Xi);
    g.X = Xi;
    const double u_th = i > 0 ? thermophoretic_velocity<CheckedDiv>(g.mu, g.rho, p.T[i],
                                                                     p.T[i - 1], sp.dz[i])
                              : 0.0;
    sp.rho[i] = g.rho;
    sp.u[i] = CheckedDiv::div(p.rho_u[i], g.rho) + u_th;
  }
  // (the moved vector keeps its storage, into which the states point)
  HeldGasModel model(soot, std::move(states), std::move(X));
  std::vector<SootPoint> N(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i)
    std::copy_n(&x[static_cast<std::size_t>(i) * b + K], kSteadyVars, N[i].begin());
  SteadyReport r;
  auto write_back = [&] {
    for (long i = 0; i < n; ++i)
      std::copy(N[i].begin(), N[i].end(), &x[static_cast<std::size_t>(i) * b + K]);
  };
  try {
    r = solve_steady(sp, model, N, o);
  } catch (...) {
    write_back();
    throw;
  }
  write_back();
  return r;
}

}  // namespace fv::flame
