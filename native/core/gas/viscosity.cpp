#include "viscosity.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "../common/errors.hpp"

namespace fv::gas {

namespace {

// Rows of g are padded to a multiple of this many columns (the widest block
// of rows k that the sums below take together).
constexpr std::size_t kPad = 8;

[[noreturn]] void value_error(const std::string& message) {
  throw Error(ErrorKind::Value, message);
}

// out[0 .. 3 stride): for every k < stride the three sums
//   out[k] = sum_j g[j][k] w[3j],  out[stride + k] = sum_j g[j][k] w[3j + 1],
//   out[2 stride + k] = sum_j g[j][k] w[3j + 2],
// each accumulated in the order j = 0 .. K-1 (g is symmetric, so row j of g
// holds g_kj for all k contiguously). Blocks of neighbouring rows k share
// vector instructions while each row's additions keep their order, so every
// variant below gives the same bits.
using ThreeSums = void (*)(const double* g, std::size_t stride, std::size_t K, const double* w,
                           double* out);

#if !defined(__GNUC__)
void three_sums_scalar(const double* g, std::size_t stride, std::size_t K, const double* w,
                       double* out) {
  for (std::size_t k = 0; k < stride; ++k) {
    double a = 0.0, b = 0.0, c = 0.0;
    for (std::size_t j = 0; j < K; ++j) {
      const double gkj = g[j * stride + k];
      a += gkj * w[3 * j];
      b += gkj * w[3 * j + 1];
      c += gkj * w[3 * j + 2];
    }
    out[k] = a;
    out[stride + k] = b;
    out[2 * stride + k] = c;
  }
}
#else
typedef double Vec2 __attribute__((vector_size(2 * sizeof(double))));  // SSE2
typedef double Vec4 __attribute__((vector_size(4 * sizeof(double))));  // AVX

// Blocks of two vectors of rows: six accumulators, which stay in registers
// when V is the machine's own vector width.
template <class V>
__attribute__((always_inline)) inline void three_sums_blocked(const double* g, std::size_t stride,
                                                              std::size_t K, const double* w,
                                                              double* out) {
  constexpr std::size_t L = sizeof(V) / sizeof(double);
  static_assert(kPad % (2 * L) == 0, "blocks must tile the padded rows");
  for (std::size_t k0 = 0; k0 < stride; k0 += 2 * L) {
    V a0 = {}, a1 = {}, b0 = {}, b1 = {}, c0 = {}, c1 = {};
    const double* column = g + k0;
    for (std::size_t j = 0; j < K; ++j, column += stride) {
      V g0, g1, p, q, r;
      std::memcpy(&g0, column, sizeof g0);
      std::memcpy(&g1, column + L, sizeof g1);
      const double* wj = w + 3 * j;
      for (std::size_t l = 0; l < L; ++l) {
        p[l] = wj[0];
        q[l] = wj[1];
        r[l] = wj[2];
      }
      a0 += g0 * p;
      a1 += g1 * p;
      b0 += g0 * q;
      b1 += g1 * q;
      c0 += g0 * r;
      c1 += g1 * r;
    }
    std::memcpy(out + k0, &a0, sizeof a0);
    std::memcpy(out + k0 + L, &a1, sizeof a1);
    std::memcpy(out + stride + k0, &b0, sizeof b0);
    std::memcpy(out + stride + k0 + L, &b1, sizeof b1);
    std::memcpy(out + 2 * stride + k0, &c0, sizeof c0);
    std::memcpy(out + 2 * stride + k0 + L, &c1, sizeof c1);
  }
}

void three_sums_sse2(const double* g, std::size_t stride, std::size_t K, const double* w,
                     double* out) {
  three_sums_blocked<Vec2>(g, stride, K, w, out);
}

#if defined(__x86_64__)
// Twice as many rows per instruction where the processor has AVX2 (multiplies
// and adds stay separate: no fused multiply-add, so the bits do not change).
__attribute__((target("avx2"))) void three_sums_avx2(const double* g, std::size_t stride,
                                                     std::size_t K, const double* w,
                                                     double* out) {
  three_sums_blocked<Vec4>(g, stride, K, w, out);
}
#endif
#endif

// The variant for this processor, chosen once.
ThreeSums three_sums_for_this_cpu() {
#if defined(__GNUC__) && defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return three_sums_avx2;
#endif
#if defined(__GNUC__)
  return three_sums_sse2;
#else
  return three_sums_scalar;
#endif
}

void three_sums(const double* g, std::size_t stride, std::size_t K, const double* w,
                double* out) {
  static const ThreeSums chosen = three_sums_for_this_cpu();
  chosen(g, stride, K, w, out);
}

}  // namespace

MixtureViscosity::MixtureViscosity(const std::vector<double>& molar_masses,
                                   const std::vector<std::vector<double>>& coefficients,
                                   const std::vector<ViscosityFit>& fits)
    : K_(molar_masses.size()), M_(molar_masses), a_(coefficients), fit_(fits) {
  if (K_ == 0) value_error("a mixture viscosity needs at least one species");
  if (a_.size() != K_ || fit_.size() != K_)
    value_error("mixture viscosity: " + std::to_string(K_) + " molar masses, " +
                std::to_string(a_.size()) + " coefficient lists and " +
                std::to_string(fit_.size()) + " fit forms (one each per species)");
  for (std::size_t k = 0; k < K_; ++k) {
    if (!(M_[k] > 0.0) || !std::isfinite(M_[k]))
      value_error("mixture viscosity: the molar mass of species " + std::to_string(k) +
                  " is not a positive number");
    if (a_[k].empty() || a_[k].size() > max_coefficients)
      value_error("mixture viscosity: species " + std::to_string(k) + " has " +
                  std::to_string(a_[k].size()) + " fit coefficients (1 to 5)");
    for (double v : a_[k])
      if (!std::isfinite(v))
        value_error("mixture viscosity: a fit coefficient of species " + std::to_string(k) +
                    " is not finite");
    if (fit_[k] != ViscosityFit::sqrt_T14 && fit_[k] != ViscosityFit::log)
      value_error("mixture viscosity: unknown fit form for species " + std::to_string(k));
  }

  a5_.assign(K_ * max_coefficients, 0.0);
  for (std::size_t k = 0; k < K_; ++k)
    std::copy(a_[k].begin(), a_[k].end(), a5_.begin() + k * max_coefficients);
  stride_ = (K_ + kPad - 1) / kPad * kPad;
  g_.assign(K_ * stride_, 0.0);
  for (std::size_t j = 0; j < K_; ++j)
    for (std::size_t k = 0; k < K_; ++k)
      g_[j * stride_ + k] = 1.0 / std::sqrt(8.0 * (M_[k] + M_[j]));
  M12_.resize(K_);
  M34_.resize(K_);
  Mm14_.resize(K_);
  for (std::size_t k = 0; k < K_; ++k) {
    M12_[k] = std::sqrt(M_[k]);
    M34_[k] = M12_[k] * std::sqrt(M12_[k]);
    Mm14_[k] = 1.0 / std::sqrt(M12_[k]);
  }
  mu_.resize(K_);
  q_.resize(K_);
  r_.resize(K_);
  b_.resize(K_);
  c_.resize(K_);
  X_.resize(K_);
  w_.assign(3 * K_, 0.0);
  sums_.assign(3 * stride_, 0.0);
}

void MixtureViscosity::update_T(double T) {
  if (!(T > 0.0) || !std::isfinite(T))
    value_error("mixture viscosity: the temperature must be a positive number of kelvin, got " +
                std::to_string(T));
  if (T == T_) return;
  // powers of ln T as products, in the order the fits were made with
  const double L = std::log(T);
  const double powers[max_coefficients] = {1.0, L, L * L, L * L * L, L * L * L * L};
  const double T14 = std::sqrt(std::sqrt(T));
  for (std::size_t k = 0; k < K_; ++k) {
    // the terms in order of n; the zeros after a shorter fit add nothing
    const double* a = &a5_[k * max_coefficients];
    const double sum = powers[0] * a[0] + powers[1] * a[1] + powers[2] * a[2] +
                       powers[3] * a[3] + powers[4] * a[4];
    double s;  // sqrt(mu_k); the fitted root keeps its sign, as the mixing rule uses it
    if (fit_[k] == ViscosityFit::sqrt_T14) {
      s = T14 * sum;
      mu_[k] = s * s;
    } else {
      mu_[k] = std::exp(sum);
      s = std::sqrt(mu_[k]);
    }
    const double inv_s = 1.0 / s;
    q_[k] = M34_[k] * inv_s;
    r_[k] = M_[k] * (inv_s * inv_s);
    b_[k] = 2.0 * s * Mm14_[k];
    c_[k] = mu_[k] * (Mm14_[k] * Mm14_[k]);
  }
  T_ = T;
  have_result_ = false;
}

void MixtureViscosity::species_viscosities(double T, double* mu) {
  update_T(T);
  std::copy(mu_.begin(), mu_.end(), mu);
}

double MixtureViscosity::operator()(double T, const double* X) {
  const bool same_T = T == T_;
  update_T(T);
  if (same_T && have_result_ && std::equal(X_.begin(), X_.end(), X)) return result_;

  for (std::size_t j = 0; j < K_; ++j) {
    const double x = std::max(tiny_mole_fraction, X[j]);
    w_[3 * j] = M12_[j] * x;
    w_[3 * j + 1] = q_[j] * x;
    w_[3 * j + 2] = r_[j] * x;
  }
  three_sums(g_.data(), stride_, K_, w_.data(), sums_.data());
  const double* A = sums_.data();
  const double* B = A + stride_;
  const double* C = B + stride_;
  double mix = 0.0;
  for (std::size_t k = 0; k < K_; ++k) {
    const double x = std::max(tiny_mole_fraction, X[k]);
    const double denominator = A[k] + b_[k] * B[k] + c_[k] * C[k];
    mix += x * mu_[k] / denominator;
  }
  std::copy(X, X + K_, X_.begin());
  result_ = mix;
  have_result_ = true;
  return mix;
}

}  // namespace fv::gas
