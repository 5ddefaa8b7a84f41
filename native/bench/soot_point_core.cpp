// Per-point cost of the soot model inside the C++ core: for each PAH growth
// model with four PAHs at an ethylene-flame state, the sequence every driver
// runs (update_gas, update_solution, the four source terms, update_scrub_wdot).
// Prints one line per model: "model <k> <ns per point> <checksum>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "soot/vector_host.hpp"

using namespace fv::soot;

int main(int argc, char** argv) {
  const long points = argc > 1 ? std::atol(argv[1]) : 200000;
  const std::vector<std::string> names = {"N2", "C2H2", "H2", "H",  "CO", "O2", "OH",
                                          "H2O", "CO2", "A1", "A2", "A3", "A4"};
  const std::vector<double> MW = {28.014, 26.038, 2.016, 1.008, 28.010, 31.998, 17.007,
                                  18.015, 44.009, 78.114, 128.174, 178.234, 202.256};
  std::vector<double> X = {0.0, 0.02, 0.05, 2e-3, 0.05, 5e-3, 1e-3,
                           0.1, 0.03, 1e-4, 5e-5, 2e-5, 1e-5};
  double rest = 1.0;
  for (std::size_t i = 1; i < X.size(); ++i) rest -= X[i];
  X[0] = rest;
  double mean_MW = 0.0;
  for (std::size_t i = 0; i < X.size(); ++i) mean_MW += X[i] * MW[i];
  const double T = 1600.0, P = 101325.0, viscosity = 5.0e-5;
  const double density = P * mean_MW / 1000.0 / (8.31446261815324 * T);
  const double solution[4] = {8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3};

  for (int model = 1; model <= 5; ++model) {
    StandaloneSootModel m;
    std::vector<double>& mws = m.arrays().array(ArrayId::MWs);
    for (double w : MW) mws.push_back(w / 1000.0);
    m.arrays().array(ArrayId::X) = X;
    m.PAH_indices = {9, 10, 11, 12};
    m.PAH_n_C = {6, 10, 14, 16};
    m.PAH_n_H = {6, 8, 10, 10};
    m.set_PAH_growth_model(model);
    m.initialize(names);
    if (model == 2 || model == 3) m.initialize_stick_eff();

    double checksum = 0.0;
    auto run = [&](long n) {
      for (long i = 0; i < n; ++i) {
        m.update_gas(T, P, density, viscosity, mean_MW);
        m.update_solution(solution, 4);
        checksum += m.S_N_agg() + m.S_N_pri() + m.S_C_tot() + m.S_H_tot();
        m.update_scrub_wdot();
      }
    };
    run(points / 10);  // warm-up
    double best = 1e300;
    for (int rep = 0; rep < 5; ++rep) {
      const auto t0 = std::chrono::steady_clock::now();
      run(points);
      const auto t1 = std::chrono::steady_clock::now();
      const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / points;
      if (ns < best) best = ns;
    }
    std::printf("model %d %.1f %.6e\n", model, best, checksum);
  }
  return 0;
}
