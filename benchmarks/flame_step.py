"""Cost of one flame-solver step per grid point, and whose cost it is.

A rich ethylene burner flame is solved with Cantera on the test mechanism
(the Appel-Bockhorn-Frenklach mechanism shipped with fumivex2); each flame soot solver (CFlameSolverOpt, and
CFlameSolver when the extension has it) then steps an exact CSootModel (PAHs
A2-A4, self-collision growth) through the flame on a uniform grid of 150
points (first argument to change it). Per point and step:

  total  the solver's solve(), per step (the difference of two step counts,
         so the once-per-solve interpolation is left out) and per grid point;
  (a)    the phase's own work: TPX assignment and mean_molecular_weight read,
         timed alone for the same sequence of states (the points in solver
         order, so successive states differ and Cantera's state cache gains
         nothing), minus the same loop on a trivial stand-in object;
  (b)    the soot model's own work for the same states in the C++ core
         (native/bench/soot_point_core.cpp, "flame" mode);
  ours   total - (a) - (b): everything the solver adds.

Run with the extension importable:  python benchmarks/flame_step.py [points]
"""
import os
import sys

# no BLAS worker threads spinning beside the timed loop on a small machine
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import contextlib  # noqa: E402
import io  # noqa: E402
import pathlib  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

import fumivex2 as fv  # noqa: E402
from fumivex2.species import shipped_mechanism  # noqa: E402
from core_bench import ROOT, run_core  # noqa: E402

ABF = shipped_mechanism()
PAHS = ("A2", "A3", "A4")
GROWTH_MODEL = 2  # self_collision
ROUNDS = 5
STEPS_SHORT, STEPS_LONG = 4, 24


def solved_flame(ct):
    gas = ct.Solution(str(ABF))
    gas.TPX = 300.0, ct.one_atm, {"C2H4": 1.0, "O2": 1.3, "AR": 2.5}
    flame = ct.BurnerFlame(gas, width=0.02)
    flame.burner.mdot = 0.08
    flame.set_refine_criteria(ratio=3.0, slope=0.3, curve=0.5, prune=0.1)
    flame.solve(loglevel=0, auto=True)
    return gas, flame


def soot_model(gas):
    m = fv.CSootModel()
    m.species_names = gas.species_names
    m.MWs = gas.molecular_weights / 1000.0
    m.PAH_index_in_gas = [gas.species_index(p) for p in PAHS]
    m.PAH_Number_Carbon = [gas.n_atoms(p, "C") for p in PAHS]
    m.PAH_Number_Hydrogen = [gas.n_atoms(p, "H") for p in PAHS]
    m._set_PAH_growth_model(GROWTH_MODEL)
    with contextlib.redirect_stdout(io.StringIO()):
        m.initialize()
    m.initialize_stick_eff()
    return m


def solver(cls, gas, flame, points):
    s = cls(gas, flame, np.linspace(flame.grid[0], flame.grid[-1], points), soot_model(gas))
    s.mdot_left = s.mdot_right = float(flame.burner.mdot)
    s.boundary_type_right = 1
    return s


def solve_seconds(s, steps):
    s.n_time_steps = steps
    with open(os.devnull, "w") as devnull, contextlib.redirect_stdout(devnull):
        t0 = time.perf_counter()
        s.solve()
        return time.perf_counter() - t0


def solver_order(n):
    return [0, n - 1] + list(range(1, n - 1))


def phase_loop_ns(obj, states, repeats=20):
    """Best ns per state of `obj.TPX = state; obj.mean_molecular_weight`."""
    best = float("inf")
    for _ in range(3):
        t0 = time.perf_counter_ns()
        for _ in range(repeats):
            for st in states:
                obj.TPX = st
                obj.mean_molecular_weight
        best = min(best, (time.perf_counter_ns() - t0) / (repeats * len(states)))
    return best


class StandIn:
    """Takes a TPX assignment and a mean_molecular_weight read at no cost of its own."""
    __slots__ = ("TPX", "mean_molecular_weight", "species_names")

    def __init__(self, gas):
        self.mean_molecular_weight = float(gas.mean_molecular_weight)
        self.species_names = gas.species_names


def write_states(path, gas, s, soot_levels):
    """The state file of the core program's flame mode (see soot_point_core.cpp)."""
    n, X = s.n_points, np.asarray(s.X)
    lines = [f"species {gas.n_species}"]
    lines += [f"{name} {float(w)!r}"
              for name, w in zip(gas.species_names, gas.molecular_weights)]
    lines.append(f"pahs {len(PAHS)}")
    lines += [f"{gas.species_index(p)} {float(gas.n_atoms(p, 'C'))!r} "
              f"{float(gas.n_atoms(p, 'H'))!r}"
              for p in PAHS]
    lines.append(f"growth_model {GROWTH_MODEL}")
    lines.append(f"points {n} steps {len(soot_levels)}")
    for i in range(n):
        gas.TPX = s.T[i], s.P, X[:, i]
        values = [s.T[i], s.P, s.rho[i], s.mu[i], gas.mean_molecular_weight] + list(X[:, i])
        lines.append(" ".join(repr(float(v)) for v in values))
    for levels in soot_levels:
        for i in range(n):
            lines.append(" ".join(repr(float(v[i])) for v in levels))
    pathlib.Path(path).write_text("\n".join(lines) + "\n")


def main():
    points = int(sys.argv[1]) if len(sys.argv) > 1 else 150
    import cantera as ct

    t0 = time.perf_counter()
    gas, flame = solved_flame(ct)
    print(f"profiles: a Cantera burner flame solved here ({len(flame.grid)} flame points, "
          f"{time.perf_counter() - t0:.1f} s), interpolated onto {points} solver points")
    print(f"phase: {ABF.name}, {gas.n_species} species; exact CSootModel, PAHs "
          f"{', '.join(PAHS)}, self_collision growth")

    solvers = {"CFlameSolverOpt": fv.CFlameSolverOpt}
    if getattr(fv, "CFlameSolver", None) is not None:
        solvers["CFlameSolver"] = fv.CFlameSolver
    else:
        print("CFlameSolver: not in this build, skipped")

    built = {}
    for name, cls in solvers.items():
        s = solver(cls, gas, flame, points)
        solve_seconds(s, 300)  # some soot first, so the model works on sooting states
        built[name] = s
    # the vector solver once more on a stand-in phase: its own cost without
    # Cantera's work evicting its data and code from the caches
    quiet = solver(fv.CFlameSolverOpt, gas, flame, points)
    quiet.gas = StandIn(gas)
    solve_seconds(quiet, 300)
    built["CFlameSolverOpt, stand-in phase"] = quiet

    # the states the vector solver meets: profiles and ten steps of soot levels
    ref = built["CFlameSolverOpt"]
    levels = []
    for _ in range(10):
        levels.append([list(getattr(ref, v + "_n")) for v in ("N_agg", "N_pri", "C_tot", "H_tot")])
        solve_seconds(ref, 1)
    X = np.asarray(ref.X)
    states = [(ref.T[i], ref.P, X[:, i]) for i in solver_order(ref.n_points)]
    with tempfile.TemporaryDirectory() as tmp:
        state_file = pathlib.Path(tmp) / "flame_states.txt"
        write_states(state_file, gas, ref, levels)
        run_core("flame", state_file, 1)  # build and warm up outside the timed rounds

        total = {name: float("inf") for name in built}
        setup = dict(total)
        phase = stand_in = core = float("inf")
        for _ in range(ROUNDS):  # alternate the measurements; keep the best of each
            for name, s in built.items():
                short = solve_seconds(s, STEPS_SHORT)
                long = solve_seconds(s, STEPS_LONG)
                per_step = (long - short) / (STEPS_LONG - STEPS_SHORT)
                total[name] = min(total[name], per_step / s.n_points * 1e9)
                setup[name] = min(setup[name], (short - STEPS_SHORT * per_step) * 1e3)
            phase = min(phase, phase_loop_ns(gas, states))
            stand_in = min(stand_in, phase_loop_ns(StandIn(gas), states))
            core = min(core, float(run_core("flame", state_file, 3)[0][1]))

    a = phase - stand_in
    print(f"(a) phase TPX + mean_molecular_weight: {phase:8.0f} ns in a loop, "
          f"{stand_in:.0f} ns on a stand-in: {a:8.0f} ns per point-step")
    print(f"(b) soot model in the C++ core:                               {core:8.0f} ns per point-step")
    for name in built:
        # a stand-in phase does no work of its own: (a) is nil there
        ours = total[name] - (0.0 if "stand-in" in name else a) - core
        verdict = "met" if ours <= 1000.0 else "NOT met"
        print(f"{name}: total {total[name]:8.0f} ns per point-step "
              f"(plus {setup[name]:.1f} ms per solve for the profiles); "
              f"ours = total - (a) - (b) = {ours:.0f} ns; target ours <= 1 us per point-step: {verdict}")


if __name__ == "__main__":
    main()
