"""The soot stage of every flame kind: the four soot variables carried through a converged
Cantera flame by ``CFlameSolverOpt`` on a uniform grid, with the gas held fixed.

Two paths reach the steady soot profiles:

- "steady" (the default): ``solve_steady`` solves the solver's discrete equations without
  their time term directly (Newton with pseudo-transient continuation). When it does not
  converge, pseudo-time stepping continues from its last state (the step budget
  ``soot_solver.max_steps``) and the steady solve is tried once more from there.
- "pseudo-time": implicit pseudo-time steps in chunks of ``soot_solver.chunk``.

Either way the result is "converged" only when the scaled residual of the steady equations
(``steady_residual``: the largest over points and variables of |R| relative to the largest
term of that variable's equations) is below ``soot_solver.tolerance``; a state that
oscillates or settles where the equations do not hold is reported as not converged,
whatever the step. The solver's per-step progress lines are discarded.

Cantera, pandas and NumPy are imported inside the functions that need them.
"""
from __future__ import annotations

import contextlib
import math
import time
from dataclasses import dataclass
from typing import Callable, Optional

from . import results as R
from .cases import Case
from .results import SOOT_VARIABLES, RunResult
from .species import case_soot_model, report_species

__all__ = ["Boundaries", "soot_stage", "make_soot_solver", "SOOT_VARIABLES", "stage"]

Progress = Optional[Callable[[float, float], None]]


@dataclass(frozen=True)
class Boundaries:
    """How soot enters and leaves the soot grid: the mass flux through the left end
    (kg/(m2 s)), and through the right end when gas enters there (None: outflow)."""
    mdot_left: float
    mdot_right: Optional[float] = None


class _Sink:
    """A text stream that drops what is written to it."""

    def write(self, text: str) -> int:
        return len(text)

    def flush(self) -> None:
        pass


def stage(progress, what: str, unit: str = "") -> None:
    """Tells a progress display that a new stage of the run begins (displays without a
    `stage` method get the numbers only)."""
    start = getattr(progress, "stage", None)
    if start is not None:
        start(what, unit)


# ---- the solver -----------------------------------------------------------------------------

def make_soot_solver(case: Case, gas, flame, model, boundaries: Boundaries):
    """A CFlameSolverOpt on case.soot_solver.points uniform points over the flame, at the
    flame's pressure, soot entering at the floors, that has read the flame."""
    import numpy as np

    from ._fumivex2 import CFlameSolverOpt

    settings = case.soot_solver
    fgrid = np.asarray(flame.grid, dtype=float)
    grid = np.linspace(fgrid[0], fgrid[-1], settings.points)
    solver = CFlameSolverOpt(gas, flame, grid, model)
    solver.P = float(flame.P)
    solver.mdot_left = boundaries.mdot_left
    floors = [getattr(model, v + "_min") for v in SOOT_VARIABLES]
    for v, floor in zip(SOOT_VARIABLES, floors):
        setattr(solver, v + "_in_left", floor)
        setattr(solver, v + "_in_right", floor)
    if boundaries.mdot_right is None:
        solver.boundary_type_right = 1
    else:
        solver.boundary_type_right = 0
        solver.mdot_right = boundaries.mdot_right
    solver.dt = settings.dt
    solver.n_time_steps = 0
    with contextlib.redirect_stdout(_Sink()):
        solver.solve()  # reads the flame onto the grid; no step
    return solver


def _soot_state(solver):
    import numpy as np
    return np.array([getattr(solver, v + "_n") for v in SOOT_VARIABLES], dtype=float)


def _set_soot_state(solver, state) -> None:
    for k, v in enumerate(SOOT_VARIABLES):
        setattr(solver, v + "_n", state[k])


def _bad_point(solver, gas, model, state):
    """(point, what) for the first grid point where the soot model gives a non-finite
    diffusion coefficient or source term, or raises, at the solver's gas profiles and the
    soot state `state`; None when every point is finite."""
    import numpy as np
    T, rho, mu, X, P = solver.T, solver.rho, solver.mu, solver.X, solver.P
    n = len(T)
    X = np.asarray(X, dtype=float)
    for i in range(n):
        try:
            gas.TPX = T[i], P, X[:, i]
            model.update_gas(T[i], P, rho[i], mu[i], gas.mean_molecular_weight, X[:, i])
            model.update_solution(np.array(state[:, i], dtype=float))
            values = {"diffusion coefficient": model.diffus_coeff()}
            if 0 < i < n - 1:
                for v in SOOT_VARIABLES:
                    values[f"{v} source"] = getattr(model, "S_" + v)()
        except Exception as e:
            return i, f"{type(e).__name__}: {e}"
        for what, value in values.items():
            if not math.isfinite(value):
                return i, f"the {what} is {value}"
    return None


def _locate_failure(solver, gas, model, state, n: int, sink):
    """Repeats a failed chunk one step at a time from `state` (its last finite state).
    Returns the steps that went well, the state after them, the error of the next step
    (None when it gave NaN or infinite values) and where the soot model fails then."""
    import numpy as np
    _set_soot_state(solver, state)
    solver.n_time_steps = 1
    good, error = 0, None
    for _ in range(n):
        try:
            with contextlib.redirect_stdout(sink):
                solver.solve()
        except Exception as e:
            error = e
            break
        new = _soot_state(solver)
        if not np.all(np.isfinite(new)):
            break
        state, good = new, good + 1
    _set_soot_state(solver, state)
    return good, state, error, _bad_point(solver, gas, model, state)


@dataclass
class _Stepping:
    steps: int = 0
    residual: float = math.inf
    converged: bool = False
    failure: Optional[str] = None


def _step(solver, gas, model, settings, budget: int, where: Callable[[int], str],
          progress: Progress, done: int = 0) -> _Stepping:
    """Pseudo-time steps in chunks until the steady residual is below the tolerance or
    `budget` steps are used; a chunk that fails or goes non-finite is repeated step by step
    to say where, and the solver is left at the last finite state."""
    import numpy as np

    from ._fumivex2 import steady_residual

    out = _Stepping()
    sink = _Sink()
    state = _soot_state(solver)
    while out.steps < budget:
        n = min(settings.chunk, budget - out.steps)
        solver.n_time_steps = n
        try:
            with contextlib.redirect_stdout(sink):
                solver.solve()
            new = _soot_state(solver)
            finite = bool(np.all(np.isfinite(new)))
        except Exception:  # the solver's own arithmetic checks, or the soot model's
            finite = False
        if not finite:
            good, state, error, bad = _locate_failure(solver, gas, model, state, n, sink)
            out.steps += good
            at = "" if bad is None else f" ({bad[1]} {where(bad[0])})"
            step = done + out.steps + 1
            if error is not None:
                out.failure = (f"the soot solver stopped in step {step}: "
                               f"{type(error).__name__}: {error}{at}; profiles after "
                               f"{step - 1} steps")
            else:
                at = at or " (the soot model is finite everywhere before it: try a smaller " \
                    "soot_solver.dt)"
                out.failure = (f"the soot variables became NaN or infinite in step {step}{at}; "
                               f"profiles after {step - 1} steps")
            return out
        state = new
        out.steps += n
        out.residual = float(steady_residual(solver))
        if progress is not None:
            progress(done + out.steps, done + budget)
        if out.residual < settings.tolerance:
            out.converged = True
            break
    return out


# ---- the stage ------------------------------------------------------------------------------

def soot_stage(case: Case, gas, flame, boundaries: Boundaries, *, position: str = R.HEIGHT,
               where: str = "above the burner", model=None, progress: Progress = None) -> RunResult:
    """Soot through a converged Cantera flame (any kind: `flame` has grid, T, density,
    viscosity, velocity, X and P). `boundaries` says how gas crosses the ends of the grid;
    `position` is the name of the position column and `where` the words that follow a
    position in messages ("3 mm above the burner"). `model` is the soot model for `gas`
    (built from the case when None). progress(done, total) is called after each chunk of
    pseudo-time steps.

    Returns the result with the gas and soot profiles on the soot grid and the gas-species
    rates due to soot; status "converged" (the steady residual below the tolerance),
    "not converged" (the steady solve and its fallback did not get there), "step budget
    used" (the pseudo-time path did not) or "failed" (the solver or the soot model
    stopped, or a soot variable became NaN or infinite: the profiles then hold the last
    finite state). extra["soot path"] says which path produced the profiles."""
    import numpy as np
    import pandas as pd

    from ._fumivex2 import solve_steady, steady_residual

    started = time.perf_counter()
    settings = case.soot_solver
    if model is None:
        model = case_soot_model(gas, case)
    key, pahs = report_species(gas, case, model)
    species = list(key) + list(pahs)
    solver = make_soot_solver(case, gas, flame, model, boundaries)
    grid = np.linspace(float(flame.grid[0]), float(flame.grid[-1]), settings.points)
    fgrid = np.asarray(flame.grid, dtype=float)
    P = float(solver.P)

    def at(i: int) -> str:
        return f"at {grid[i] * 1000:.3g} mm {where}"

    initial = _soot_state(solver)
    extra = {"soot method": settings.method, "soot points": len(grid),
             "flame points": len(fgrid), "pressure [Pa]": P,
             "PAHs": [gas.species_names[i] for i in model.PAH_index_in_gas]}
    failure, converged, path = None, False, settings.method
    steps, iterations, residual = 0, 0, math.inf
    stage(progress, "soot", "steps" if settings.method == "pseudo-time" else "")

    def steady(label: str):
        nonlocal iterations, residual, converged, failure, path
        try:
            report = solve_steady(solver, rtol=settings.tolerance,
                                  max_iterations=settings.max_iterations)
        except Exception as e:  # the soot model refuses a state on the way
            state = _soot_state(solver)
            if not np.all(np.isfinite(state)):
                _set_soot_state(solver, initial)
            bad = _bad_point(solver, gas, model, _soot_state(solver))
            failure = (f"the steady soot solve stopped: {type(e).__name__}: {e}"
                       + ("" if bad is None else f" ({bad[1]} {at(bad[0])})"))
            return None
        iterations += int(report.iterations)
        residual = float(report.residual)
        extra.setdefault("steady solves", []).append(
            {"converged": bool(report.converged), "iterations": int(report.iterations),
             "residual": residual, "seconds": float(report.seconds),
             "message": str(report.message)})
        if report.converged:
            converged, path = True, label
        return report

    if settings.method == "steady":
        report = steady("steady")
        if failure is None and not converged:
            # fall back: pseudo-time steps from the steady solve's last state (from the
            # floors when that state is not finite), then the steady solve from there
            if not np.all(np.isfinite(_soot_state(solver))):
                _set_soot_state(solver, initial)
            stage(progress, "soot (pseudo-time fallback)", "steps")
            run = _step(solver, gas, model, settings, settings.max_steps, at, progress)
            steps, failure = run.steps, run.failure
            if run.converged:
                converged, residual = True, run.residual
                path = "pseudo-time (fallback after the steady solve did not converge)"
            elif failure is None:
                residual = run.residual
                steady("steady after pseudo-time stepping")
        extra["first steady solve"] = "" if report is None else str(report.message)
    else:
        run = _step(solver, gas, model, settings, settings.max_steps, at, progress)
        steps, failure, residual, converged = run.steps, run.failure, run.residual, run.converged
    state = _soot_state(solver)
    if failure is None and math.isinf(residual):
        residual = float(steady_residual(solver))

    # the gas on the soot grid, interpolated as the solver does
    T = np.interp(grid, fgrid, flame.T)
    rho = np.interp(grid, fgrid, flame.density)
    mu = np.interp(grid, fgrid, flame.viscosity)
    u = np.interp(grid, fgrid, flame.velocity)
    X = np.array([np.interp(grid, fgrid, row) for row in np.asarray(flame.X)])
    table = {position: grid, R.T: T, R.VELOCITY: u, R.DENSITY: rho}
    for name, i in species:
        table[R.species_column(name)] = X[i]
    soot_rows, rates = [], None
    try:
        for i in range(len(grid)):
            gas.TPX = T[i], P, X[:, i]
            model.update_gas(T[i], P, rho[i], mu[i], gas.mean_molecular_weight, X[:, i])
            model.update_solution(state[:, i].copy())
            soot_rows.append(R.soot_state_columns(model, rho[i], state[:, i]))
        solver.update_wdot_correction()
        W = np.array(solver.wdot_correction_soot, dtype=float)
        rates = pd.DataFrame({position: grid,
                              **{f"{name} [kmol/(m3 s)]": W[k] for k, name in
                                 enumerate(gas.species_names)}})
    except Exception as e:  # the soot model refuses a state the solver reached
        i = min(len(soot_rows), len(grid) - 1)
        failure = failure or (f"the soot model fails {at(i)}: {type(e).__name__}: {e}")
    if len(soot_rows) == len(grid):
        for col in soot_rows[0]:
            table[col] = np.array([row[col] for row in soot_rows], dtype=float)
    profiles = pd.DataFrame(table)
    if failure is None:
        soot_cols = list(soot_rows[0])
        values = profiles[soot_cols].to_numpy()
        if not np.all(np.isfinite(values)):
            i, j = (int(a[0]) for a in np.nonzero(~np.isfinite(values)))
            failure = f"{soot_cols[j]} is {values[i, j]} {at(i)}"

    extra.update({"soot path": path if converged else "none (not converged)",
                  "steady iterations": iterations, "steps": steps,
                  "residual": residual, "tolerance": settings.tolerance})
    how = f"scaled residual {residual:.1e}, tolerance {settings.tolerance:g}"
    if failure is not None:
        status, message = "failed", failure
        extra["soot path"] = "none (failed)"
    elif converged and path.startswith("steady"):
        status = "converged"
        message = (f"soot profiles converged by the {path} solve in {iterations} iterations"
                   + (f" and {steps} pseudo-time steps" if steps else "") + f" ({how})")
    elif converged:
        status = "converged"
        message = f"soot profiles converged by {path} after {steps} steps ({how})"
    elif settings.method == "steady":
        status = "not converged"
        message = (f"not converged: the steady soot solve ({iterations} iterations), "
                   f"{steps} pseudo-time steps of {settings.dt:g} s and the steady solve again "
                   f"left the {how}; raise soot_solver.max_iterations or max_steps, or try "
                   f"more soot_solver.points")
    else:
        status = "step budget used"
        message = (f"step budget used: {steps} steps of {settings.dt:g} s left the {how}; "
                   f"raise soot_solver.max_steps, or use soot_solver.method = \"steady\"")
    if np.all(np.isfinite(state)):
        from .checks import recomputed_residual

        try:  # the answer checked on a new solver (fumivex2.checks)
            extra["recomputed residual"] = recomputed_residual(
                lambda: make_soot_solver(case, gas, flame, model, boundaries), state)
        except Exception as e:
            extra["recomputed residual"] = math.nan
            extra["recomputed residual error"] = f"{type(e).__name__}: {e}"
    extra["soot time [s]"] = time.perf_counter() - started
    return RunResult(case=case, profiles=profiles, status=status, message=message,
                     run_time=time.perf_counter() - started, rates=rates, extra=extra)
