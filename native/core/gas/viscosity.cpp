#include "viscosity.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "../common/errors.hpp"

namespace fv::gas {

namespace {

// Rows of g and phi are padded to a multiple of this many columns (the widest
// block of rows k that the kernels below take together).
constexpr std::size_t kPad = 16;

[[noreturn]] void value_error(const std::string& message) {
  throw Error(ErrorKind::Value, message);
}

// The two kernels, over the K x stride matrices g and phi whose row j holds
// the entries of all k contiguously (both are stored that way: g is
// symmetric, phi is filled so):
//
//   fill_and_apply: phi[j][k] = g[j][k] (t t), t = u[j] + v[k] w[j], for all
//                   j, k, and out[k] = sum_j phi[j][k] x[j];
//   apply:          out[k] = sum_j phi[j][k] x[j] with phi as stored.
//
// Each sum is accumulated in the order j = 0 .. K-1. Blocks of neighbouring
// rows k share vector instructions while each row's additions keep their
// order (multiplies and adds stay separate: no fused multiply-add), so every
// variant gives the same bits, and apply gives fill_and_apply's.
struct Weights {
  const double* u;  // [K]
  const double* w;  // [K]
  const double* v;  // [stride], zero after K
};
using FillAndApply = void (*)(const double* g, std::size_t stride, std::size_t K,
                              const Weights& w, const double* x, double* phi, double* out);
using Apply = void (*)(const double* phi, std::size_t stride, std::size_t K, const double* x,
                       double* out);

#if !defined(__GNUC__)
void fill_and_apply_scalar(const double* g, std::size_t stride, std::size_t K, const Weights& w,
                           const double* x, double* phi, double* out) {
  for (std::size_t k = 0; k < stride; ++k) {
    double sum = 0.0;
    for (std::size_t j = 0; j < K; ++j) {
      const double t = w.u[j] + w.v[k] * w.w[j];
      const double p = g[j * stride + k] * (t * t);
      phi[j * stride + k] = p;
      sum += p * x[j];
    }
    out[k] = sum;
  }
}

void apply_scalar(const double* phi, std::size_t stride, std::size_t K, const double* x,
                  double* out) {
  for (std::size_t k = 0; k < stride; ++k) {
    double sum = 0.0;
    for (std::size_t j = 0; j < K; ++j) sum += phi[j * stride + k] * x[j];
    out[k] = sum;
  }
}
#else
typedef double Vec2 __attribute__((vector_size(2 * sizeof(double))));  // SSE2
typedef double Vec4 __attribute__((vector_size(4 * sizeof(double))));  // AVX

// Blocks of four vectors of rows: four independent sums in flight, which
// keeps the adders busy while each sum waits for its previous addition.
constexpr std::size_t kVectors = 4;

template <class V>
__attribute__((always_inline)) inline void fill_and_apply_blocked(
    const double* g, std::size_t stride, std::size_t K, const Weights& w, const double* x,
    double* phi, double* out) {
  constexpr std::size_t L = sizeof(V) / sizeof(double);
  static_assert(kPad % (kVectors * L) == 0, "blocks must tile the padded rows");
  for (std::size_t k0 = 0; k0 < stride; k0 += kVectors * L) {
    V vk[kVectors], sum[kVectors];
    for (std::size_t v = 0; v < kVectors; ++v) {
      std::memcpy(&vk[v], w.v + k0 + v * L, sizeof(V));
      sum[v] = V{};
    }
    for (std::size_t j = 0; j < K; ++j) {
      const double uj = w.u[j], wj = w.w[j], xj = x[j];
      const std::size_t row = j * stride + k0;
      for (std::size_t v = 0; v < kVectors; ++v) {
        V gv;
        std::memcpy(&gv, g + row + v * L, sizeof gv);
        const V t = uj + vk[v] * wj;
        const V p = gv * (t * t);
        std::memcpy(phi + row + v * L, &p, sizeof p);
        sum[v] += p * xj;
      }
    }
    for (std::size_t v = 0; v < kVectors; ++v) std::memcpy(out + k0 + v * L, &sum[v], sizeof(V));
  }
}

template <class V>
__attribute__((always_inline)) inline void apply_blocked(const double* phi, std::size_t stride,
                                                         std::size_t K, const double* x,
                                                         double* out) {
  constexpr std::size_t L = sizeof(V) / sizeof(double);
  for (std::size_t k0 = 0; k0 < stride; k0 += kVectors * L) {
    V sum[kVectors] = {};
    for (std::size_t j = 0; j < K; ++j) {
      const double xj = x[j];
      const double* row = phi + j * stride + k0;
      for (std::size_t v = 0; v < kVectors; ++v) {
        V p;
        std::memcpy(&p, row + v * L, sizeof p);
        sum[v] += p * xj;
      }
    }
    for (std::size_t v = 0; v < kVectors; ++v) std::memcpy(out + k0 + v * L, &sum[v], sizeof(V));
  }
}

void fill_and_apply_sse2(const double* g, std::size_t stride, std::size_t K, const Weights& w,
                         const double* x, double* phi, double* out) {
  fill_and_apply_blocked<Vec2>(g, stride, K, w, x, phi, out);
}
void apply_sse2(const double* phi, std::size_t stride, std::size_t K, const double* x,
                double* out) {
  apply_blocked<Vec2>(phi, stride, K, x, out);
}

#if defined(__x86_64__)
// Twice as many rows per instruction where the processor has AVX2.
__attribute__((target("avx2"))) void fill_and_apply_avx2(const double* g, std::size_t stride,
                                                         std::size_t K, const Weights& w,
                                                         const double* x, double* phi,
                                                         double* out) {
  fill_and_apply_blocked<Vec4>(g, stride, K, w, x, phi, out);
}
__attribute__((target("avx2"))) void apply_avx2(const double* phi, std::size_t stride,
                                                std::size_t K, const double* x, double* out) {
  apply_blocked<Vec4>(phi, stride, K, x, out);
}
#endif
#endif

struct Kernels {
  FillAndApply fill_and_apply;
  Apply apply;
};

// The variants for this processor, chosen once.
Kernels kernels_for_this_cpu() {
#if defined(__GNUC__) && defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return {fill_and_apply_avx2, apply_avx2};
#endif
#if defined(__GNUC__)
  return {fill_and_apply_sse2, apply_sse2};
#else
  return {fill_and_apply_scalar, apply_scalar};
#endif
}

const Kernels& kernels() {
  static const Kernels chosen = kernels_for_this_cpu();
  return chosen;
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
  M14_.resize(K_);
  Mm14_.resize(K_);
  for (std::size_t k = 0; k < K_; ++k) {
    M12_[k] = std::sqrt(M_[k]);
    M14_[k] = std::sqrt(M12_[k]);
    Mm14_[k] = 1.0 / M14_[k];
  }
  mu_.resize(K_);
  w_.resize(K_);
  v_.assign(stride_, 0.0);
  phi_.assign(K_ * stride_, 0.0);
  x_.resize(K_);
  X_.resize(K_);
  D_.assign(stride_, 0.0);
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
    v_[k] = s * Mm14_[k];
    w_[k] = M12_[k] / s;
  }
  T_ = T;
  phi_T_ = -1.0;  // phi is of another temperature now
}

void MixtureViscosity::species_viscosities(double T, double* mu) {
  update_T(T);
  std::copy(mu_.begin(), mu_.end(), mu);
}

double MixtureViscosity::operator()(double T, const double* X) {
  if (!(T > 0.0) || !std::isfinite(T))
    value_error("mixture viscosity: the temperature must be a positive number of kelvin, got " +
                std::to_string(T));
  if (have_result_ && T == T_result_ && std::equal(X_.begin(), X_.end(), X)) return result_;

  for (std::size_t j = 0; j < K_; ++j) x_[j] = std::max(tiny_mole_fraction, X[j]);
  if (T == phi_T_) {
    // phi holds this temperature's factors: one product with it
    kernels().apply(phi_.data(), stride_, K_, x_.data(), D_.data());
  } else {
    update_T(T);
    const Weights w{M14_.data(), w_.data(), v_.data()};
    kernels().fill_and_apply(g_.data(), stride_, K_, w, x_.data(), phi_.data(), D_.data());
    phi_T_ = T;
  }
  double mix = 0.0;
  for (std::size_t k = 0; k < K_; ++k) mix += x_[k] * mu_[k] / D_[k];
  std::copy(X, X + K_, X_.begin());
  T_result_ = T;
  result_ = mix;
  have_result_ = true;
  return mix;
}

}  // namespace fv::gas
