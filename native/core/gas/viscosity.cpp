#include "viscosity.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "../common/errors.hpp"

namespace fv::gas {

namespace {

// Columns are taken in blocks of this many (one cache line): the sums over
// j > k keep one partial sum per column of a block (column m mod kBlock).
constexpr std::size_t kBlock = 8;

[[noreturn]] void value_error(const std::string& message) {
  throw Error(ErrorKind::Value, message);
}

// The start of v's storage rounded up to 64 bytes (vectors hold kBlock more
// numbers than they use), so that every block of a row is one cache line.
double* aligned(std::vector<double>& v) {
  const auto p = reinterpret_cast<std::uintptr_t>(v.data());
  return reinterpret_cast<double*>((p + 63) & ~static_cast<std::uintptr_t>(63));
}
const double* aligned(const std::vector<double>& v) {
  return aligned(const_cast<std::vector<double>&>(v));
}

// ((l0 + l1) + (l2 + l3)) + ((l4 + l5) + (l6 + l7)): a row's partial sums,
// in the same order on every path.
inline double block_sum(const double l[kBlock]) {
  return ((l[0] + l[1]) + (l[2] + l[3])) + ((l[4] + l[5]) + (l[6] + l[7]));
}

// The sums over the upper triangle of S, all at once, with
// S_jm = g_jm (u u), u = rho_j + rho_m, made from g as it is read:
//
//   lower[m] = sum_{j<m} S_jm z_j (in the order of j),
//   upper[j] = sum_{m>j} S_jm z_m (a partial sum per column of a block,
//              m mod kBlock, over the blocks in order, then block_sum).
//
// The triangle of g is stored by blocks of columns: block b (columns 8b ..
// 8b + 7) holds, for each row j < count[b], the row's kBlock entries, zero
// where m <= j or m >= K. Zeros add nothing: every product is positive or
// zero. Walking the triangle block by block keeps the sums of a block's
// columns in registers and reads g in the order it is stored. S is not kept:
// making it again costs three operations per entry, while storing it would
// double the memory the sums go through (which, between the other work of a
// reactor's evaluation, is what they cost). Vectors of neighbouring columns
// keep each column's additions in their order, so every variant gives the
// same bits.
struct Triangle {
  const std::size_t* count;  // per block, the rows that reach it
  std::size_t K, blocks;
  const double* rho;         // [blocks kBlock]
  const double* z;           // [blocks kBlock]
  double* lower;             // [blocks kBlock], set
  double* partial;           // [K kBlock], work
  double* upper;             // [K], set
};
using TriangleKernel = void (*)(const Triangle& t, const double* g);

#if !defined(__GNUC__)
void sums_scalar(const Triangle& t, const double* g) {
  for (std::size_t i = 0; i < t.K * kBlock; ++i) t.partial[i] = 0.0;
  std::size_t at = 0;
  for (std::size_t b = 0; b < t.blocks; ++b) {
    const std::size_t m0 = b * kBlock;
    double low[kBlock] = {};
    for (std::size_t j = 0; j < t.count[b]; ++j) {
      for (std::size_t l = 0; l < kBlock; ++l, ++at) {
        const double u = t.rho[j] + t.rho[m0 + l];
        const double s = g[at] * (u * u);
        low[l] += s * t.z[j];
        t.partial[j * kBlock + l] += s * t.z[m0 + l];
      }
    }
    for (std::size_t l = 0; l < kBlock; ++l) t.lower[m0 + l] = low[l];
  }
  for (std::size_t j = 0; j < t.K; ++j) t.upper[j] = block_sum(t.partial + j * kBlock);
}
#else
typedef double Vec2 __attribute__((vector_size(2 * sizeof(double))));  // SSE2
typedef double Vec4 __attribute__((vector_size(4 * sizeof(double))));  // AVX

template <class V>
__attribute__((always_inline)) inline void sums_blocked(const Triangle& t, const double* g) {
  constexpr std::size_t L = sizeof(V) / sizeof(double);
  constexpr std::size_t N = kBlock / L;  // vectors per block
  // the fields in locals: the stores below (memcpy) could alias the struct
  const std::size_t K = t.K, blocks = t.blocks;
  const std::size_t* const count = t.count;
  const double* const rho = t.rho;
  const double* const z = t.z;
  double* const lower = t.lower;
  double* const partial = t.partial;
  for (std::size_t i = 0; i < K * kBlock; ++i) partial[i] = 0.0;
  const double* gb = g;
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t m0 = b * kBlock, rows = count[b];
    V rho_m[N], z_m[N], low[N];
    for (std::size_t v = 0; v < N; ++v) {
      std::memcpy(&rho_m[v], rho + m0 + v * L, sizeof(V));
      std::memcpy(&z_m[v], z + m0 + v * L, sizeof(V));
      low[v] = V{};
    }
    for (std::size_t j = 0; j < rows; ++j) {
      const double rho_j = rho[j], z_j = z[j];
      double* const part = partial + j * kBlock;
      const std::size_t at = j * kBlock;
      for (std::size_t v = 0; v < N; ++v) {
        V gv;
        std::memcpy(&gv, gb + at + v * L, sizeof gv);
        const V u = rho_j + rho_m[v];
        const V s = gv * (u * u);
        low[v] += s * z_j;
        V p;
        std::memcpy(&p, part + v * L, sizeof p);
        p += s * z_m[v];
        std::memcpy(part + v * L, &p, sizeof p);
      }
    }
    for (std::size_t v = 0; v < N; ++v) std::memcpy(lower + m0 + v * L, &low[v], sizeof(V));
    gb += rows * kBlock;
  }
  for (std::size_t j = 0; j < K; ++j) t.upper[j] = block_sum(partial + j * kBlock);
}

void sums_sse2(const Triangle& t, const double* g) { sums_blocked<Vec2>(t, g); }

#if defined(__x86_64__)
// Twice as many columns per instruction where the processor has AVX2
// (multiplies and adds stay separate: no fused multiply-add).
__attribute__((target("avx2"))) void sums_avx2(const Triangle& t, const double* g) {
  sums_blocked<Vec4>(t, g);
}
#endif
#endif

// The variant for this processor, chosen once.
TriangleKernel kernel_for_this_cpu() {
#if defined(__GNUC__) && defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return sums_avx2;
#endif
#if defined(__GNUC__)
  return sums_sse2;
#else
  return sums_scalar;
#endif
}

void triangle_sums(const Triangle& t, const double* g) {
  static const TriangleKernel chosen = kernel_for_this_cpu();
  chosen(t, g);
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
  blocks_ = (K_ + kBlock - 1) / kBlock;
  const std::size_t Kp = blocks_ * kBlock;
  count_.resize(blocks_);
  start_.resize(blocks_);
  std::size_t n = 0;
  for (std::size_t b = 0; b < blocks_; ++b) {
    count_[b] = std::min(K_, b * kBlock + kBlock - 1);  // rows j < m for some m of b
    start_[b] = n;
    n += count_[b] * kBlock;
  }
  g_.assign(n + kBlock, 0.0);
  double* g = aligned(g_);
  for (std::size_t b = 0, at = 0; b < blocks_; ++b)
    for (std::size_t j = 0; j < count_[b]; ++j)
      for (std::size_t m = b * kBlock; m < (b + 1) * kBlock; ++m, ++at)
        if (m > j && m < K_) g[at] = 1.0 / std::sqrt(8.0 * (M_[j] + M_[m]));
  Mm14_.resize(K_);
  for (std::size_t k = 0; k < K_; ++k) Mm14_[k] = 1.0 / std::sqrt(std::sqrt(M_[k]));
  mu_.resize(K_);
  r_.resize(K_);
  rho_.assign(Kp + kBlock, 0.0);
  X_.resize(K_);
  x_.assign(K_, 0.0);
  z_.assign(Kp + kBlock, 0.0);
  lower_.assign(Kp + kBlock, 0.0);
  partial_.assign(K_ * kBlock + kBlock, 0.0);
  upper_.assign(K_, 0.0);
  for (Base& b : bases_) {
    b.x.assign(K_, 0.0);
    b.D.assign(K_, 0.0);
  }
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
    aligned(rho_)[k] = s * Mm14_[k];
    r_[k] = M_[k] / mu_[k];
  }
  T_ = T;
}

void MixtureViscosity::species_viscosities(double T, double* mu) {
  update_T(T);
  std::copy(mu_.begin(), mu_.end(), mu);
}

double MixtureViscosity::g(std::size_t j, std::size_t m) const {
  const std::size_t p = std::min(j, m), q = std::max(j, m);
  return aligned(g_)[start_[q / kBlock] + p * kBlock + q % kBlock];
}

// x_ (floored) against base b with the factor c taken from species a: every
// other mole fraction must be c times the base's to a few units in the last
// place (8 epsilon: Cantera's mole fractions of two states with the same
// mass fractions but one differ by a rounding each, c by two) or both at the
// floor; at most one, j, may differ by more.
bool MixtureViscosity::near_one(const Base& b, std::size_t a, double& mix) {
  constexpr double tol = 8.0 * DBL_EPSILON;
  const double c = x_[a] / b.x[a];
  if (!(c > 0.0) || !std::isfinite(c)) return false;
  std::size_t j = K_;  // the one that differs, if any
  for (std::size_t k = 0; k < K_; ++k) {
    const double xk = x_[k], bk = b.x[k];
    if (xk == tiny_mole_fraction && bk == tiny_mole_fraction) continue;
    if (std::fabs(xk - c * bk) <= tol * xk) continue;
    if (j != K_) return false;
    j = k;
  }
  double sum = 0.0;
  if (j == K_) {
    for (std::size_t k = 0; k < K_; ++k) sum += x_[k] * mu_[k] / (c * b.D[k]);
  } else {
    const double delta = x_[j] - c * b.x[j];
    const double dz = delta * r_[j];
    const double* rho = aligned(rho_);
    for (std::size_t k = 0; k < K_; ++k) {
      const double scaled = c * b.D[k];
      double D;
      if (k == j) {
        D = scaled + delta;
      } else {
        const double u = rho[k] + rho[j];
        D = scaled + g(k, j) * (u * u) * dz;
      }
      // a decrease that removes most of the sum would lose digits: in full instead
      if (!(D >= 0.5 * scaled)) return false;
      sum += x_[k] * mu_[k] / D;
    }
  }
  mix = sum;
  return true;
}

bool MixtureViscosity::near_base(double T, double& mix) {
  for (std::size_t i = 1; i <= kBases; ++i) {
    const Base& b = bases_[(next_ + kBases - i) % kBases];
    if (b.T != T) continue;
    if (near_one(b, b.first, mix)) return true;
    if (b.second != b.first && near_one(b, b.second, mix)) return true;
  }
  return false;
}

double MixtureViscosity::operator()(double T, const double* X) {
  if (!(T > 0.0) || !std::isfinite(T))
    value_error("mixture viscosity: the temperature must be a positive number of kelvin, got " +
                std::to_string(T));
  if (have_result_ && T == T_result_ && std::equal(X_.begin(), X_.end(), X)) return result_;

  update_T(T);  // nothing to do at the temperature of the last call
  for (std::size_t k = 0; k < K_; ++k) x_[k] = std::max(tiny_mole_fraction, X[k]);
  double mix = 0.0;
  if (near_base(T, mix)) {
    ++near_calls_;
  } else {
    double* z = aligned(z_);
    for (std::size_t k = 0; k < K_; ++k) z[k] = x_[k] * r_[k];
    const Triangle sums{count_.data(), K_,       blocks_,          aligned(rho_), z,
                        aligned(lower_), aligned(partial_), upper_.data()};
    triangle_sums(sums, aligned(g_));
    Base& b = bases_[next_];
    next_ = (next_ + 1) % kBases;
    b.T = T;
    b.first = b.second = 0;
    for (std::size_t k = 0; k < K_; ++k) {
      const double D = (sums.lower[k] + x_[k]) + sums.upper[k];
      mix += x_[k] * mu_[k] / D;
      b.x[k] = x_[k];
      b.D[k] = D;
      if (x_[k] > x_[b.first]) {
        b.second = b.first;
        b.first = k;
      } else if (k != b.first && (b.second == b.first || x_[k] > x_[b.second])) {
        b.second = k;
      }
    }
    ++full_calls_;
  }
  std::copy(X, X + K_, X_.begin());
  T_result_ = T;
  result_ = mix;
  have_result_ = true;
  return mix;
}

}  // namespace fv::gas
