// Two NumPy algorithms reproduced operation for operation, so that results
// computed here equal those of the same expression written with NumPy:
// one-dimensional linear interpolation (numpy.interp with a scalar x) and the
// pairwise summation numpy.sum uses for float64 vectors.
#pragma once

#include <cmath>
#include <cstddef>

namespace fv {

// Largest j with xp[j] <= x for x inside [xp[0], xp[n-1]]; -1 below, n above.
// The same probes in the same order as NumPy's search, so that even an
// unsorted xp gives NumPy's answer. n >= 1.
inline long interp_search(double x, const double* xp, long n, long guess) {
  constexpr long kLikelyInCache = 8;
  long imin = 0, imax = n;
  if (x > xp[n - 1]) return n;
  if (x < xp[0]) return -1;
  if (n <= 4) {
    long i = 1;
    while (i < n && x >= xp[i]) ++i;
    return i - 1;
  }
  if (guess > n - 3) guess = n - 3;
  if (guess < 1) guess = 1;
  if (x < xp[guess]) {
    if (x < xp[guess - 1]) {
      imax = guess - 1;
      if (guess > kLikelyInCache && x >= xp[guess - kLikelyInCache]) imin = guess - kLikelyInCache;
    } else {
      return guess - 1;
    }
  } else {
    if (x < xp[guess + 1]) return guess;
    if (x < xp[guess + 2]) return guess + 1;
    imin = guess + 2;
    if (guess < n - kLikelyInCache - 1 && x < xp[guess + kLikelyInCache])
      imax = guess + kLikelyInCache;
  }
  while (imin < imax) {
    const long imid = imin + ((imax - imin) >> 1);
    if (x >= xp[imid]) imin = imid + 1;
    else imax = imid;
  }
  return imin - 1;
}

// numpy.interp(x, xp, fp) for one x, n >= 1 sample points (the caller checks
// the lengths): end values held outside, NaN x passed through.
inline double interp(double x, const double* xp, const double* fp, long n) {
  const double left = fp[0], right = fp[n - 1];
  if (n == 1) return x < xp[0] ? left : (x > xp[0] ? right : fp[0]);
  if (std::isnan(x)) return x;
  const long j = interp_search(x, xp, n, 0);
  if (j == -1) return left;
  if (j == n) return right;
  if (j == n - 1) return fp[j];
  if (xp[j] == x) return fp[j];  // exact sample point: no slope
  const double slope = (fp[j + 1] - fp[j]) / (xp[j + 1] - xp[j]);
  double r = slope * (x - xp[j]) + fp[j];
  if (std::isnan(r)) {  // try from the other end of the interval
    r = slope * (x - xp[j + 1]) + fp[j + 1];
    if (std::isnan(r) && fp[j] == fp[j + 1]) r = fp[j];
  }
  return r;
}

// Pairwise sum of n doubles with eight partial sums per block of up to 128,
// as numpy.sum adds a float64 vector; the reduction starts from 0.0.
inline double pairwise_sum_block(const double* a, std::ptrdiff_t n) {
  if (n < 8) {
    double r = 0.0;
    for (std::ptrdiff_t i = 0; i < n; ++i) r += a[i];
    return r;
  }
  if (n <= 128) {
    double r[8];
    for (int k = 0; k < 8; ++k) r[k] = a[k];
    std::ptrdiff_t i = 8;
    for (; i < n - (n % 8); i += 8)
      for (int k = 0; k < 8; ++k) r[k] += a[i + k];
    double s = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
    for (; i < n; ++i) s += a[i];
    return s;
  }
  std::ptrdiff_t n2 = n / 2;
  n2 -= n2 % 8;
  return pairwise_sum_block(a, n2) + pairwise_sum_block(a + n2, n - n2);
}

inline double numpy_sum(const double* a, std::ptrdiff_t n) { return 0.0 + pairwise_sum_block(a, n); }

}  // namespace fv
