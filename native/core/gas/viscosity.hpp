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
// Writing sqrt(8 (1 + M_k / M_j)) through the symmetric
// g_kj = 1 / sqrt(8 (M_k + M_j)) and taking M_j^(1/4) into the square gives,
// with s_k = sqrt(mu_k),
//
//   Phi_kj = g_kj (M_j^(1/4) + v_k w_j)^2,  v_k = s_k M_k^(-1/4),  w_j = M_j^(1/2) / s_j,
//
// so that the K^2 factors of a new temperature take a few multiplications
// each on the matrix g (built once per mechanism) instead of square roots and
// divisions. They are kept: a new composition at the same temperature (as in
// the columns of a finite-difference Jacobian) costs one product with them.
// Every term is positive: the sums lose nothing to cancellation. The result
// depends on (T, X) alone, not on the calls before.
//
// An object caches its last state; it is not for concurrent use.
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

 private:
  void update_T(double T);

  std::size_t K_ = 0;
  std::size_t stride_ = 0;  // K rounded up to the kernel's block: row length of g
  std::vector<double> M_;
  std::vector<std::vector<double>> a_;
  std::vector<ViscosityFit> fit_;
  std::vector<double> a5_;     // a_k0 .. a_k4 per species, zeros after the last given one

  // Built once from the molar masses.
  std::vector<double> g_;      // g_kj = 1 / sqrt(8 (M_k + M_j)), K rows of stride_, zero padded
  std::vector<double> M12_;    // M_j^(1/2)
  std::vector<double> M14_;    // M_j^(1/4)
  std::vector<double> Mm14_;   // M_k^(-1/4)

  // At the temperature of the last update_T.
  double T_ = -1.0;
  std::vector<double> mu_;     // mu_k, Pa s
  std::vector<double> w_;      // M_j^(1/2) / s_j
  std::vector<double> v_;      // s_k M_k^(-1/4), stride_ long, zero padded

  // Phi_kj at phi_T_ (the same temperature as T_, or -1: not filled), row j
  // holding all k, K rows of stride_.
  std::vector<double> phi_;
  double phi_T_ = -1.0;

  // The last state and its result.
  std::vector<double> X_;
  double T_result_ = -1.0;
  double result_ = 0.0;
  bool have_result_ = false;

  // Work arrays: the mole fractions, at least tiny_mole_fraction (K), and
  // the sums sum_j Phi_kj x_j (stride_).
  std::vector<double> x_;
  std::vector<double> D_;
};

}  // namespace fv::gas
