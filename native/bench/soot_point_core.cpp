// Per-point cost of the soot model inside the C++ core.
//
//   soot_point_core [points]
//     For each PAH growth model with four PAHs at an ethylene-flame state, the
//     sequence every driver runs (update_gas, update_solution, the four source
//     terms, update_scrub_wdot). Prints one line per model:
//     "model <k> <ns per point> <checksum>".
//   soot_point_core flame <state file> [repeats]
//     The soot model's share of a flame-solver step, for the states a solver
//     met: per step the points in the solver's order (0, m, 1 .. m-1), each
//     with update_gas, update_solution and the diffusion coefficient, and the
//     four source terms at interior points. Prints
//     "flame <ns per point-step> <checksum>". The state file (text, written by
//     benchmarks/flame_step.py) holds:
//       species K, then K lines "<name> <molar mass kg/kmol>"
//       pahs n, then n lines "<gas index> <carbon atoms> <hydrogen atoms>"
//       growth_model g
//       points n steps S
//       n lines "T P density viscosity mean_MW X_0 .. X_{K-1}" (K, Pa, kg/m3, Pa s, kg/kmol)
//       S*n lines "N_agg N_pri C_tot H_tot" (mol/kg), step by step, point by point
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "soot/vector_host.hpp"

using namespace fv::soot;

namespace {

struct Pah {
  int index;
  double n_C, n_H;
};

// Species, molar masses (kg/kmol), PAHs and growth model, then initialize.
void configure(StandaloneSootModel& m, const std::vector<std::string>& names,
               const std::vector<double>& MW, const std::vector<Pah>& pahs, int model) {
  std::vector<double>& mws = m.arrays().array(ArrayId::MWs);
  mws.clear();
  for (double w : MW) mws.push_back(w / 1000.0);
  m.arrays().array(ArrayId::X).assign(MW.size(), 0.0);
  m.PAH_indices.clear();
  m.PAH_n_C.clear();
  m.PAH_n_H.clear();
  for (const Pah& p : pahs) {
    m.PAH_indices.push_back(p.index);
    m.PAH_n_C.push_back(p.n_C);
    m.PAH_n_H.push_back(p.n_H);
  }
  m.set_PAH_growth_model(model);
  m.initialize(names);
  if (model == 2 || model == 3) m.initialize_stick_eff();
}

// Best of `repeats` timed runs of run(), ns per unit (run() does `units`).
template <class Run>
double best_ns(int repeats, double units, Run&& run) {
  double best = 1e300;
  for (int rep = 0; rep < repeats; ++rep) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    const auto t1 = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / units;
    if (ns < best) best = ns;
  }
  return best;
}

int fixed_state(long points) {
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
  const std::vector<Pah> pahs = {{9, 6, 6}, {10, 10, 8}, {11, 14, 10}, {12, 16, 10}};

  for (int model = 1; model <= 5; ++model) {
    StandaloneSootModel m;
    configure(m, names, MW, pahs, model);
    m.arrays().array(ArrayId::X) = X;
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
    const double ns = best_ns(5, static_cast<double>(points), [&] { run(points); });
    std::printf("model %d %.1f %.6e\n", model, ns, checksum);
  }
  return 0;
}

int flame_states(const char* path, int repeats) {
  std::ifstream in(path);
  std::string word;
  long K = 0, n_pah = 0, n = 0, steps = 0;
  int model = 0;
  in >> word >> K;
  std::vector<std::string> names(static_cast<std::size_t>(K));
  std::vector<double> MW(static_cast<std::size_t>(K));
  for (long k = 0; k < K; ++k) in >> names[k] >> MW[k];
  in >> word >> n_pah;
  std::vector<Pah> pahs(static_cast<std::size_t>(n_pah));
  for (Pah& p : pahs) in >> p.index >> p.n_C >> p.n_H;
  in >> word >> model >> word >> n >> word >> steps;
  struct Gas {
    double T, P, rho, mu, mean_MW;
    std::vector<double> X;
  };
  std::vector<Gas> gas(static_cast<std::size_t>(n));
  for (Gas& g : gas) {
    in >> g.T >> g.P >> g.rho >> g.mu >> g.mean_MW;
    g.X.resize(static_cast<std::size_t>(K));
    for (double& x : g.X) in >> x;
  }
  std::vector<double> soot(static_cast<std::size_t>(steps * n * 4));
  for (double& v : soot) in >> v;
  if (!in || n < 2) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }

  StandaloneSootModel m;
  configure(m, names, MW, pahs, model);
  std::vector<double>& X = m.arrays().array(ArrayId::X);
  std::vector<long> order = {0, n - 1};
  for (long i = 1; i < n - 1; ++i) order.push_back(i);
  double checksum = 0.0;
  auto run = [&] {
    for (long t = 0; t < steps; ++t) {
      for (long i : order) {
        Gas& g = gas[static_cast<std::size_t>(i)];
        X.swap(g.X);  // the model reads the point's mole fractions in place
        m.update_gas(g.T, g.P, g.rho, g.mu, g.mean_MW);
        m.update_solution(&soot[static_cast<std::size_t>((t * n + i) * 4)], 4);
        checksum += m.slot_d(SlotId::diffus_coeff);
        if (i != 0 && i != n - 1)
          checksum += m.S_N_agg() + m.S_N_pri() + m.S_C_tot() + m.S_H_tot();
        X.swap(g.X);
      }
    }
  };
  run();  // warm-up
  const double ns = best_ns(repeats, static_cast<double>(steps * n), run);
  std::printf("flame %.1f %.6e\n", ns, checksum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "flame") == 0)
    return flame_states(argv[2], argc > 3 ? std::atoi(argv[3]) : 5);
  return fixed_state(argc > 1 ? std::atol(argv[1]) : 200000);
}
