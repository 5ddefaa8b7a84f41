"""The soot stage of a flame: the steady solve against pseudo-time stepping, side by side.

For each shipped default flame (the burner flame and the counterflow flame) Cantera solves
the flame once; then, on the run layer's soot grid, soot model and boundaries:

  steady        fumivex2.solve_steady from the floor values to the scaled residual TOL
                (best of ROUNDS), with its Newton steps and soot-model evaluations;
  pseudo-time   CFlameSolverOpt.solve() at the case's default step, in chunks of CHUNK
                steps, until fumivex2.steady_residual falls below the same TOL (or
                MAX_STEPS are used);
  ratio         pseudo-time / steady;
  share         the whole steady soot stage (set-up read of the flame + solve +
                update_wdot_correction) against Cantera's flame solve.

Run with the package installed:  python benchmarks/flame_soot_steady.py
"""
import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import contextlib  # noqa: E402
import io  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import fumivex2 as fv  # noqa: E402
from fumivex2 import flame as flame_run  # noqa: E402
from fumivex2.cases import default_case  # noqa: E402
from fumivex2.counterflow import solve_counterflow_flame  # noqa: E402
from fumivex2.soot_stage import Boundaries, make_soot_solver  # noqa: E402
from fumivex2.species import case_soot_model, open_mechanism, set_inlet  # noqa: E402

TOL = 1e-8
ROUNDS = 3
CHUNK = 200
MAX_STEPS = 200000
VARS = ("N_agg", "N_pri", "C_tot", "H_tot")


def burner():
    case = default_case("flame")
    gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
    set_inlet(gas, case.inlet)
    model = case_soot_model(gas, case)
    started = time.perf_counter()
    flame = flame_run.solve_burner_flame(gas, case)
    seconds = time.perf_counter() - started
    return case, gas, model, flame, seconds, Boundaries(float(flame.burner.mdot))


def counterflow():
    case = default_case("counterflow")
    gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
    model = case_soot_model(gas, case)
    started = time.perf_counter()
    flame = solve_counterflow_flame(gas, case)
    seconds = time.perf_counter() - started
    return case, gas, model, flame, seconds, Boundaries(float(flame.fuel_inlet.mdot),
                                                         float(flame.oxidizer_inlet.mdot))


def new_solver(case, gas, model, flame, boundaries):
    return make_soot_solver(case, gas, flame, model, boundaries)


def measure(name, built):
    case, gas, model, flame, flame_seconds, boundaries = built
    best, report = float("inf"), None
    for _ in range(ROUNDS):
        started = time.perf_counter()
        s = new_solver(case, gas, model, flame, boundaries)
        report = fv.solve_steady(s, rtol=TOL, max_iterations=case.soot_solver.max_iterations)
        s.update_wdot_correction()
        best = min(best, time.perf_counter() - started)
    steady_answer = np.array([getattr(s, v + "_n") for v in VARS])

    s = new_solver(case, gas, model, flame, boundaries)
    s.n_time_steps = CHUNK
    steps, residual = 0, fv.steady_residual(s)
    started = time.perf_counter()
    while residual >= TOL and steps < MAX_STEPS:
        with contextlib.redirect_stdout(io.StringIO()):
            s.solve()
        steps += CHUNK
        residual = fv.steady_residual(s)
    pseudo = time.perf_counter() - started
    pseudo_answer = np.array([getattr(s, v + "_n") for v in VARS])
    diff = np.max(np.abs(pseudo_answer - steady_answer).max(axis=1)
                  / np.abs(steady_answer).max(axis=1))

    print(f"{name}: {len(flame.grid)} flame points, {case.soot_solver.points} soot points, "
          f"Cantera's flame solve {flame_seconds:.2f} s")
    print(f"  steady       {report.iterations:4d} Newton steps ({report.rejected} rejected), "
          f"{report.evaluations} evaluations, residual {report.residual:.1e}, "
          f"{best * 1000:.1f} ms for the whole soot stage")
    print(f"  pseudo-time  {steps:6d} steps of {case.soot_solver.dt:g} s, residual {residual:.1e}, "
          f"{pseudo:.2f} s")
    print(f"  ratio        pseudo-time / steady = {pseudo / best:.0f}x; "
          f"soot stage / flame solve = {best / flame_seconds:.1%}; "
          f"largest difference of the answers {diff:.1e} of each variable's peak")


def main():
    measure("burner flame (default case)", burner())
    measure("counterflow flame (default case)", counterflow())


if __name__ == "__main__":
    main()
