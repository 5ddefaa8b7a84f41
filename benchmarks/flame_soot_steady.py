"""The steady soot solve against pseudo-time stepping, side by side, from the floors.

Cases: the shipped default burner and counterflow flames, the burner flames of
docs/flames.md (1 atm with the measured temperature profile, 5 kPa), and an ethylene
counterflow flame (pure C2H4 at 0.12 kg/(m2 s) against 35 % O2 in N2 at 0.36 kg/(m2 s),
12 mm, the default soot model: ABF mechanism, pyrene, self-collision growth) on uniform
soot grids of 41 to 301 points and on Cantera's own grids at three refinements. Every soot
solver is set up as the run layer does it (soot entering at the floors, the case's dt).

For each case:
  steady    fumivex2.solve_steady from the floors to a scaled residual of TOL: Newton
            iterations, pseudo-time steps, Jacobians, rejected steps, seconds (best of
            ROUNDS);
  stepping  fumivex2.pseudo_time_steps of the case's dt from the floors until the same
            residual (at most MAX_STEPS steps), seconds;
  speed-up  stepping seconds / steady seconds ("-" where stepping does not get there).

Cantera solves each flame once (about 20 s each, minutes in all); --cache DIR keeps the
solved flames in DIR and reuses them on the next run.

Run with the package installed:  python benchmarks/flame_soot_steady.py [--cache DIR]
"""
import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import argparse  # noqa: E402
import pathlib  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import fumivex2 as fv  # noqa: E402
from fumivex2 import flame as flame_run  # noqa: E402
from fumivex2.cases import default_case, with_overrides  # noqa: E402
from fumivex2.counterflow import solve_counterflow_flame  # noqa: E402
from fumivex2.soot_stage import Boundaries, make_soot_solver  # noqa: E402
from fumivex2.species import case_soot_model, open_mechanism, set_inlet  # noqa: E402

TOL = 1e-10
ROUNDS = 3
CHUNK = 1000
MAX_STEPS = 50000

# the measured-like profile of docs/flames.md (heights m, T K)
PROFILE_1ATM = [[0.0, 0.002, 0.005, 0.01, 0.05], [400.0, 700.0, 1500.0, 1900.0, 1700.0]]
PROFILE_5KPA = [[0.0, 0.002, 0.005, 0.01, 0.03, 0.05],
                [400.0, 700.0, 1500.0, 1900.0, 1800.0, 1700.0]]
ETHYLENE_12MM = {"counterflow.width": 0.012, "counterflow.fuel_mass_flux": 0.12,
                 "counterflow.oxidizer_mass_flux": 0.36}
# (name, kind, case overrides, soot grids: point counts, 0 for Cantera's grid)
FLAMES = [
    ("burner, default", "flame", {}, (150, 0)),
    ("burner, 1 atm, measured T", "flame", {"flame.temperature_profile": PROFILE_1ATM}, (150, 0)),
    ("burner, 5 kPa", "flame", {"inlet.pressure": 5000.0, "flame.width": 0.05,
                                "flame.mass_flux": 0.0, "flame.velocity": 0.5,
                                "flame.temperature_profile": PROFILE_5KPA}, (150, 0)),
    ("counterflow, default", "counterflow", {}, (150, 0)),
    ("ethylene counterflow 12 mm", "counterflow", ETHYLENE_12MM,
     (41, 61, 81, 121, 151, 201, 301, 0)),
    ("  finer Cantera grid", "counterflow",
     {**ETHYLENE_12MM, "flame.slope": 0.15, "flame.curve": 0.25, "flame.prune": 0.05}, (0,)),
    ("  finest Cantera grid", "counterflow",
     {**ETHYLENE_12MM, "flame.slope": 0.08, "flame.curve": 0.12, "flame.prune": 0.02}, (0,)),
]
PROFILES = ("grid", "T", "density", "viscosity", "velocity", "X")


class Flame:
    """The converged profiles the soot stage reads (grid, T, density, viscosity, velocity,
    X, P) and the inflow mass fluxes."""

    def __init__(self, data):
        for k in PROFILES:
            setattr(self, k, np.asarray(data[k], dtype=float))
        self.P = float(data["P"])
        self.mdot = (float(data["left"]), None if np.isnan(data["right"]) else float(data["right"]))


def solve_flame(name, kind, case, gas, cache):
    path = None
    if cache is not None:
        key = "".join(c if c.isalnum() else "-" for c in name.strip()) + ".npz"
        path = pathlib.Path(cache) / key
        if path.exists():
            return Flame(np.load(path)), None
    started = time.perf_counter()
    if kind == "flame":
        set_inlet(gas, case.inlet)
        f = flame_run.solve_burner_flame(gas, case)
        left, right = float(f.burner.mdot), np.nan
    else:
        f = solve_counterflow_flame(gas, case)
        left, right = float(f.fuel_inlet.mdot), float(f.oxidizer_inlet.mdot)
    data = {k: getattr(f, k) for k in PROFILES}
    data.update(P=f.P, left=left, right=right)
    if path is not None:
        path.parent.mkdir(parents=True, exist_ok=True)
        np.savez(path, **data)
    return Flame(data), time.perf_counter() - started


def solver_for(case, gas, model, flame, points):
    grid_case = with_overrides(case, {"soot_solver.points": max(points, 2)})
    s = make_soot_solver(grid_case, gas, flame, model, Boundaries(*flame.mdot))
    if points == 0:  # Cantera's own grid
        own = fv.CFlameSolverOpt(gas, flame, flame.grid.copy(), model)
        own.P, own.dt, own.mdot_left = s.P, s.dt, s.mdot_left
        own.boundary_type_right, own.mdot_right = s.boundary_type_right, s.mdot_right
        for v in ("N_agg", "N_pri", "C_tot", "H_tot"):
            for side in ("_in_left", "_in_right"):
                setattr(own, v + side, getattr(s, v + side))
        own.n_time_steps = 0
        own.solve()
        s = own
    return s


def measure(label, case, gas, model, flame, points):
    best, report = float("inf"), None
    for _ in range(ROUNDS):
        s = solver_for(case, gas, model, flame, points)
        started = time.perf_counter()
        report = fv.solve_steady(s, rtol=TOL, max_iterations=1000, max_time_steps=MAX_STEPS)
        best = min(best, time.perf_counter() - started)
    n = len(s.z)
    s = solver_for(case, gas, model, flame, points)
    steps, started = 0, time.perf_counter()
    while steps < MAX_STEPS:
        r = fv.pseudo_time_steps(s, CHUNK, rtol=TOL)
        steps += r.time_steps
        if r.converged or r.time_steps < CHUNK:
            break
    stepping = time.perf_counter() - started
    where = "Cantera" if points == 0 else "uniform"
    steady = (f"{report.iterations:5d} {report.time_steps:5d} {report.jacobians:5d} "
              f"{report.rejected:4d} {best:8.3f}") if report.converged else \
        f"  not converged ({report.stop}, residual {report.residual:.1e}) {best:8.3f}"
    if r.converged:
        tail = f"{steps:7d} {stepping:8.2f} {stepping / best:7.0f}x"
    else:
        tail = f"{steps:7d} {stepping:8.2f}       -  (stepping: residual {r.residual:.1e})"
    print(f"{label:28s} {where:8s} {n:5d}  {steady}  {tail}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cache", help="directory for the solved Cantera flames")
    args = parser.parse_args()
    print(f"scaled residual {TOL:g}; steady: best of {ROUNDS}; stepping at the case's dt, "
          f"at most {MAX_STEPS} steps")
    print(f"{'flame':28s} {'grid':8s} {'points':>5s}  {'Newton':>5s} {'steps':>5s} "
          f"{'Jac.':>5s} {'rej.':>4s} {'steady s':>8s}  {'steps':>7s} {'stepping s':>8s} "
          f"{'speed-up':>8s}")
    for name, kind, overrides, grids in FLAMES:
        case = with_overrides(default_case(kind), overrides)
        gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
        model = case_soot_model(gas, case)
        flame, seconds = solve_flame(name, kind, case, gas, args.cache)
        label = name
        for points in grids:
            measure(label, case, gas, model, flame, points)
            label = ""


if __name__ == "__main__":
    main()
