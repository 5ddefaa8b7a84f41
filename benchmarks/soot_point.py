"""Per-point cost of the soot model: driven from Python vs inside the C++ core.

For each PAH growth model with 4 PAHs at an ethylene-flame state this times the
sequence every driver runs per evaluation point (update_gas, update_solution,
S_N_agg, S_N_pri, S_C_tot, S_H_tot, update_scrub_wdot), once driven from Python
through the extension and once inside the C++ core (a small program built from
the core library with CMake), and prints both with their difference. It also
times a bare no-argument method call.

Run after `pip install .`:  python benchmarks/soot_point.py
"""
import os
import sys
import time

# no BLAS worker threads spinning beside the timed loop on a small machine
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import fumivex2 as fv  # noqa: E402
from core_bench import run_core  # noqa: E402

NAMES = ["N2", "C2H2", "H2", "H", "CO", "O2", "OH", "H2O", "CO2", "A1", "A2", "A3", "A4"]
MW = np.array([28.014, 26.038, 2.016, 1.008, 28.010, 31.998, 17.007, 18.015, 44.009,
               78.114, 128.174, 178.234, 202.256])
X = np.array([0.0, 0.02, 0.05, 2e-3, 0.05, 5e-3, 1e-3, 0.1, 0.03, 1e-4, 5e-5, 2e-5, 1e-5])
X[0] = 1.0 - X[1:].sum()
T, P, VISCOSITY = 1600.0, 101325.0, 5.0e-5
MEAN_MW = float(X @ MW)
DENSITY = P * MEAN_MW / 1000.0 / (8.31446261815324 * T)
SOLUTION = np.array([8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3])


def core_times(points):
    return {int(words[1]): float(words[2]) for words in run_core(points)}


def python_time(model, points):
    m = fv.CSootModel()
    m.species_names = NAMES
    m.MWs = MW / 1000.0
    m.PAH_index_in_gas = [9, 10, 11, 12]
    m.PAH_Number_Carbon = [6, 10, 14, 16]
    m.PAH_Number_Hydrogen = [6, 8, 10, 10]
    m._set_PAH_growth_model(model)
    with open(os.devnull, "w") as devnull:
        stdout, sys.stdout = sys.stdout, devnull
        try:
            m.initialize()
        finally:
            sys.stdout = stdout
    if model in (2, 3):
        m.initialize_stick_eff()
    update_gas, update_solution = m.update_gas, m.update_solution
    S = (m.S_N_agg, m.S_N_pri, m.S_C_tot, m.S_H_tot)
    scrub = m.update_scrub_wdot

    def run(n):
        for _ in range(n):
            update_gas(T, P, DENSITY, VISCOSITY, MEAN_MW, X)
            update_solution(SOLUTION)
            S[0](); S[1](); S[2](); S[3]()
            scrub()

    run(points // 10)
    best = float("inf")
    for _ in range(5):
        t0 = time.perf_counter_ns()
        run(points)
        best = min(best, (time.perf_counter_ns() - t0) / points)
    return best


def bare_call_time(n=200_000, repeats=25):
    m = fv.CSootModel()
    loop_only = float("inf")
    call = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter_ns()
        for _ in range(n):
            pass
        loop_only = min(loop_only, (time.perf_counter_ns() - t0) / n)
        t0 = time.perf_counter_ns()
        for _ in range(n):
            m.n_p()
        call = min(call, (time.perf_counter_ns() - t0) / n)
    return call, call - loop_only


def main():
    points = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    rounds = 3  # core and Python alternate; the best of each is kept (shared, noisy machines)
    core, py = {}, {}
    for _ in range(rounds):
        for model, ns in core_times(points * 10).items():
            core[model] = min(core.get(model, float("inf")), ns)
        for model in range(1, 6):
            py[model] = min(py.get(model, float("inf")), python_time(model, points))
    print(f"{'model':>6s} {'core ns/pt':>12s} {'python ns/pt':>14s} {'difference':>12s} {'ratio':>7s}")
    for model in range(1, 6):
        print(f"{model:6d} {core[model]:12.0f} {py[model]:14.0f} {py[model] - core[model]:12.0f} "
              f"{py[model] / core[model]:7.2f}")
    call, net = bare_call_time()
    print(f"bare no-argument method call (m.n_p()): {call:.1f} ns per call "
          f"({net:.1f} ns above an empty loop)")


if __name__ == "__main__":
    main()
