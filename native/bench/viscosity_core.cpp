// Per-call cost of the mixture viscosity inside the C++ core.
//
//   viscosity_core <state file> [calls]
//     Cycles through the states of the file, so that every call meets a new
//     temperature and composition ("new"), a new temperature only ("T"), a new
//     composition only ("X"), or nothing new ("same"), in batches of four
//     rounds of the states. Prints "<kind> <ns per call> <sum of results>",
//     the least batch time of each kind. The state file (text, written by
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
  // without the interruptions of a busy machine. Four kinds of call: every
  // state new, only the temperature new (the first state's composition), only
  // the composition new (the first state's temperature), nothing new.
  MixtureViscosity mu(W, a, fits);
  using clock = std::chrono::steady_clock;
  const long batch = static_cast<long>(4 * S);
  const long batches = std::max(1L, calls / batch);
  const char* const kinds[4] = {"new", "T", "X", "same"};
  double best[4] = {1e300, 1e300, 1e300, 1e300}, sum[4] = {0.0, 0.0, 0.0, 0.0};
  for (long b = 0; b < batches; ++b) {
    for (int kind = 0; kind < 4; ++kind) {
      const bool new_T = kind < 2, new_X = kind == 0 || kind == 2;
      const auto t0 = clock::now();
      for (long i = 0; i < batch; ++i) {
        const std::size_t s = static_cast<std::size_t>(i) % S;
        sum[kind] += mu(T[new_T ? s : 0], &X[(new_X ? s : 0) * K]);
      }
      const auto t1 = clock::now();
      best[kind] = std::min(best[kind],
                            std::chrono::duration<double, std::nano>(t1 - t0).count() / batch);
    }
  }
  for (int kind = 0; kind < 4; ++kind)
    std::printf("%s %.1f %.17g\n", kinds[kind], best[kind], sum[kind]);
  return 0;
}
