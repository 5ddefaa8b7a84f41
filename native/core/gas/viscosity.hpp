// fv::gas::MixtureViscosity — the dynamic viscosity of an ideal-gas mixture
// from pure-species fits in ln T and Wilke's mixing rule, the way Cantera's
// mixture-averaged, multicomponent and unity-Lewis-number transport compute
// it:
//
//   mu = sum_k x_k mu_k / sum_j Phi_kj x_j,
//   Phi_kj = (1 + sqrt(mu_k / mu_j) (M_j / M_k)^(1/4))^2 / sqrt(8 (1 + M_k / M_j)),
//
// with mole fractions below 1e-20 (negative ones included) taken as 1e-20.
//
// With s_k = sqrt(mu_k), rho_k = s_k M_k^(-1/4) and the symmetric
// g_kj = 1 / sqrt(8 (M_k + M_j)), the factors are
//
//   Phi_kj = S_kj M_j / mu_j,  S_kj = g_kj (rho_k + rho_j)^2  (symmetric),
//
// and Phi_kk = 1, so that
//
//   sum_j Phi_kj x_j = sum_{j<k} S_kj z_j + x_k + sum_{j>k} S_kj z_j,  z_j = x_j M_j / mu_j.
//
// A state takes three operations per entry of the upper triangle of S, made
// from g (built once per mechanism) instead of square roots and divisions, and
// two products with it; only the triangle of g is stored and read (K^2 / 2
// numbers), each entry serving both sums. The species fits are evaluated
// again only at a new temperature. Every term is positive: the sums lose nothing to
// cancellation. The same on every processor.
//
// A state near one of the last few evaluated in full costs O(K): an
// integrator's finite-difference Jacobian changes one variable at a time, so
// at the base state's temperature its columns' mole fractions are the base's
// times one factor c (the mean molar mass changed) except one, x_j' = c x_j +
// delta. Then, with D_k = sum_j Phi_kj x_j of the base,
//
//   D_k' = c D_k + S_kj (M_j / mu_j) delta   (k != j),   D_j' = c D_j + delta,
//
// from column j of S alone. A state is taken as such only when every other
// mole fraction agrees with c x_k to a few units in the last place (or both
// are below the floor of 1e-20); the result then agrees with the full sums to
// a few units in the last place, so it can depend on the calls before at that
// level, never more.
//
// An object caches its last states; it is not for concurrent use.
#pragma once

#include <cstddef>
#include <vector>

namespace fv::gas {

// Form of a pure-species viscosity fit, mu_k in Pa s, T in K.
enum class ViscosityFit {
  // sqrt(mu_k) = T^(1/4) sum_n a_kn (ln T)^n (Cantera's own fits, 5 coefficients)
  sqrt_T14,
  // mu_k = exp(sum_n a_kn (ln T)^n) (Chemkin-compatible "-CK" fits, 4 coefficients)
  log,
};

class MixtureViscosity {
 public:
  static constexpr std::size_t max_coefficients = 5;  // a_k0 .. a_k4
  static constexpr double tiny_mole_fraction = 1e-20;

  // molar_masses: M_k, kg/kmol (any common unit: only ratios enter), all
  // positive and finite. coefficients[k]: a_k0 .. a_kn, 1 to 5 finite values.
  // fits[k]: the form of species k's fit. Throws fv::Error (ValueError) on
  // anything else.
  MixtureViscosity(const std::vector<double>& molar_masses,
                   const std::vector<std::vector<double>>& coefficients,
                   const std::vector<ViscosityFit>& fits);

  std::size_t n_species() const { return K_; }
  const std::vector<double>& molar_masses() const { return M_; }
  const std::vector<std::vector<double>>& coefficients() const { return a_; }
  const std::vector<ViscosityFit>& fits() const { return fit_; }

  // Mixture viscosity, Pa s, at temperature T (K, positive and finite, else
  // fv::Error ValueError) and the K mole fractions X (not renormalised).
  // The same (T, X) as the previous call returns the previous result.
  double operator()(double T, const double* X);

  // Pure-species viscosities mu_k, Pa s, at T (K) into mu[0 .. K).
  void species_viscosities(double T, double* mu);

  // Calls answered from a base state's sums in O(K) (see above), and in full.
  std::size_t near_calls() const { return near_calls_; }
  std::size_t full_calls() const { return full_calls_; }

 private:
  // A state evaluated in full: its temperature, floored mole fractions x,
  // sums D and the index of its largest mole fraction (and the next largest).
  struct Base {
    double T = -1.0;
    std::vector<double> x, D;
    std::size_t first = 0, second = 0;
  };
  static constexpr std::size_t kBases = 4;

  void update_T(double T);
  // Answers from a base state when x_ (floored) is one of its neighbours.
  bool near_base(double T, double& mix);
  bool near_one(const Base& b, std::size_t a, double& mix);
  double g(std::size_t j, std::size_t m) const;  // g_jm, j != m

  std::size_t K_ = 0;
  std::size_t blocks_ = 0;  // blocks of columns (of 8), covering K
  std::vector<double> M_;
  std::vector<std::vector<double>> a_;
  std::vector<ViscosityFit> fit_;
  std::vector<double> a5_;     // a_k0 .. a_k4 per species, zeros after the last given one

  // The upper triangle of g by blocks of columns: block b holds, for each
  // row j < count_[b], the row's 8 entries of the block, zero where m <= j or
  // m >= K (storage aligned to 64 bytes, as the vectors below).
  std::vector<std::size_t> count_;
  std::vector<std::size_t> start_;  // where block b starts in g
  std::vector<double> g_;      // g_jm = 1 / sqrt(8 (M_j + M_m)), built once

  // Built once from the molar masses.
  std::vector<double> Mm14_;   // M_k^(-1/4)

  // At the temperature of the last update_T.
  double T_ = -1.0;
  std::vector<double> mu_;     // mu_k, Pa s
  std::vector<double> rho_;    // rho_k = s_k M_k^(-1/4), zeros after K
  std::vector<double> r_;      // M_k / mu_k

  // The last state and its result.
  std::vector<double> X_;
  double T_result_ = -1.0;
  double result_ = 0.0;
  bool have_result_ = false;

  // The last states evaluated in full, the most recent at next_ - 1 (mod kBases).
  Base bases_[kBases];
  std::size_t next_ = 0;
  std::size_t near_calls_ = 0, full_calls_ = 0;

  // Work arrays: the mole fractions, at least tiny_mole_fraction; z (zeros
  // after K); the sums over j < k; the partial sums over j > k, 8 per row;
  // the sums over j > k.
  std::vector<double> x_;
  std::vector<double> z_;
  std::vector<double> lower_;
  std::vector<double> partial_;
  std::vector<double> upper_;
};

}  // namespace fv::gas
