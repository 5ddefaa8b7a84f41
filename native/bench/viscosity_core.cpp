// Per-call cost of the mixture viscosity inside the C++ core.
//
//   viscosity_core <state file> [calls]
//     Cycles through the states of the file, so that every call meets a new
//     temperature and composition, then calls again at an unchanged state, in
//     batches of four rounds of the states. Prints "new <ns per call> <sum of
//     results>" and "same <ns per call> <sum>" (the least batch time of each
//     kind, in ns per call). The state file (text, written by
//     benchmarks/viscosity.py) holds:
//       species K, then K lines "<molar mass kg/kmol> <log fit 0|1> <n> a_0 .. a_{n-1}"
//       states S, then S lines "T X_0 .. X_{K-1}" (K, mole fractions)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "gas/viscosity.hpp"

using fv::gas::MixtureViscosity;
using fv::gas::ViscosityFit;

namespace {

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "viscosity_core: %s\n", message.c_str());
  std::exit(2);
}

void expect(std::ifstream& in, const char* word) {
  std::string w;
  if (!(in >> w) || w != word) fail(std::string("expected '") + word + "' in the state file");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) fail("usage: viscosity_core <state file> [calls]");
  const long calls = argc > 2 ? std::atol(argv[2]) : 200000;
  std::ifstream in(argv[1]);
  if (!in) fail(std::string("cannot open ") + argv[1]);

  std::size_t K = 0;
  expect(in, "species");
  in >> K;
  std::vector<double> W(K);
  std::vector<std::vector<double>> a(K);
  std::vector<ViscosityFit> fits(K);
  for (std::size_t k = 0; k < K; ++k) {
    int log_fit = 0;
    std::size_t n = 0;
    in >> W[k] >> log_fit >> n;
    a[k].resize(n);
    for (double& v : a[k]) in >> v;
    fits[k] = log_fit ? ViscosityFit::log : ViscosityFit::sqrt_T14;
  }
  std::size_t S = 0;
  expect(in, "states");
  in >> S;
  std::vector<double> T(S), X(S * K);
  for (std::size_t s = 0; s < S; ++s) {
    in >> T[s];
    for (std::size_t k = 0; k < K; ++k) in >> X[s * K + k];
  }
  if (!in || S < 2) fail("the state file is incomplete (at least two states are needed)");

  // Many short batches, each timed alone: the least batch time is the cost
  // without the interruptions of a busy machine.
  MixtureViscosity mu(W, a, fits);
  using clock = std::chrono::steady_clock;
  const long batch = static_cast<long>(4 * S);
  const long batches = std::max(1L, calls / batch);
  double best_new = 1e300, best_same = 1e300, sum = 0.0, same = 0.0;
  for (long b = 0; b < batches; ++b) {
    auto t0 = clock::now();
    for (long i = 0; i < batch; ++i) {
      const std::size_t s = static_cast<std::size_t>(i) % S;
      sum += mu(T[s], &X[s * K]);
    }
    auto t1 = clock::now();
    best_new = std::min(best_new, std::chrono::duration<double, std::nano>(t1 - t0).count() / batch);
    t0 = clock::now();
    for (long i = 0; i < batch; ++i) same += mu(T[0], &X[0]);
    t1 = clock::now();
    best_same = std::min(best_same, std::chrono::duration<double, std::nano>(t1 - t0).count() / batch);
  }
  std::printf("new %.1f %.17g\nsame %.1f %.17g\n", best_new, sum, best_same, same);
  return 0;
}
