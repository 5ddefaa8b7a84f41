"""The soot stage of every flame kind: the four soot variables carried through a converged
Cantera flame on a uniform grid (a ``CFlameSolverOpt`` holds the grid and the flame's
profiles on it), with the gas held fixed.

The soot equations are those of ``solve_steady``: upwind convection, central diffusion and
the soot model's sources at interior points, and inflow ends where the soot flux into the
domain (convective plus diffusive) equals the flux the entering gas carries. Two methods
reach their steady solution:

- "steady" (the default): ``solve_steady``, damped Newton with implicit pseudo-time steps
  where Newton stalls, from the floors; its budgets are ``soot_solver.max_iterations``
  Newton iterations and ``soot_solver.max_steps`` pseudo-time steps.
- "pseudo-time": ``pseudo_time_steps``, pseudo-time steps of ``soot_solver.dt`` with the
  soot model's sources at the old level, in chunks of ``soot_solver.chunk``.

Either way the result is "converged" only when the scaled residual of the steady equations
(``steady_residual``: the largest over points and variables of |R| relative to the largest
term of that variable's equations) is below ``soot_solver.tolerance``; a state that
oscillates or settles where the equations do not hold is reported as not converged.

Cantera, pandas and NumPy are imported inside the functions that need them.
"""
from __future__ import annotations

import contextlib
import math
import time
from dataclasses import dataclass
from typing import Callable, Optional

from . import results as R
from .cases import Case, CaseError
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


def _locate_failure(solver, state, n: int, tolerance: float):
    """Repeats a chunk of pseudo-time steps that raised, one step at a time from `state`
    (its start). Returns the steps that went well and the error of the next one; the
    solver is left after the steps that went well."""
    from ._fumivex2 import pseudo_time_steps

    _set_soot_state(solver, state)
    good, error = 0, None
    for _ in range(n):
        try:
            report = pseudo_time_steps(solver, 1, rtol=tolerance)
        except Exception as e:
            error = e
            break
        good += int(report.time_steps)
        if report.time_steps == 0:
            break
    return good, error


@dataclass
class _Stepping:
    steps: int = 0
    residual: float = math.inf
    converged: bool = False
    failure: Optional[str] = None


def _step(solver, gas, model, settings, where: Callable[[int], str],
          progress: Progress) -> _Stepping:
    """Pseudo-time steps in chunks until the steady residual is below the tolerance or
    soot_solver.max_steps steps are used. A step that would give non-finite values, or
    where the soot model's arithmetic fails, ends the stepping before it (the solver keeps
    the last finite state); a chunk in which the soot model raises is repeated step by step
    to say in which step."""
    import numpy as np

    from ._fumivex2 import pseudo_time_steps

    out = _Stepping()
    budget = settings.max_steps
    while out.steps < budget:
        n = min(settings.chunk, budget - out.steps)
        start = _soot_state(solver)
        try:
            report = pseudo_time_steps(solver, n, rtol=settings.tolerance)
        except Exception:  # the soot model raised: which step?
            good, error = _locate_failure(solver, start, n, settings.tolerance)
            out.steps += good
            step = out.steps + 1
            bad = _bad_point(solver, gas, model, _soot_state(solver))
            at = "" if bad is None else f" ({bad[1]} {where(bad[0])})"
            out.failure = (f"the soot solver stopped in step {step}: {type(error).__name__}: "
                           f"{error}{at}; profiles after {step - 1} steps")
            return out
        out.steps += int(report.time_steps)
        out.residual = float(report.residual)
        if progress is not None:
            progress(out.steps, budget)
        if report.converged:
            out.converged = True
            break
        if report.time_steps < n:  # stopped before a step that fails
            step = out.steps + 1
            state = _soot_state(solver)
            bad = _bad_point(solver, gas, model, state) if np.all(np.isfinite(state)) else None
            at = " (the soot model is finite everywhere before it: try a smaller " \
                 "soot_solver.dt)" if bad is None else f" ({bad[1]} {where(bad[0])})"
            out.failure = (f"pseudo-time step {step} stopped: {report.stop}{at}; profiles after "
                           f"{step - 1} steps")
            return out
    return out


# ---- the stage ------------------------------------------------------------------------------

def soot_stage(case: Case, gas, flame, boundaries: Boundaries, *, position: str = R.HEIGHT,
               where: str = "above the burner", model=None, progress: Progress = None) -> RunResult:
    """Soot through a converged Cantera flame (any kind: `flame` has grid, T, density,
    viscosity, velocity, X and P). `boundaries` says how gas crosses the ends of the grid;
    `position` is the name of the position column and `where` the words that follow a
    position in messages ("3 mm above the burner"). `model` is the soot model for `gas`
    (built from the case when None). progress(done, total) is called after each chunk of
    pseudo-time steps (method "pseudo-time").

    Returns the result with the gas and soot profiles on the soot grid and the gas-species
    rates due to soot; status "converged" (the steady residual below the tolerance),
    "not converged" (the steady solve used its budgets or stalled), "step budget used"
    (pseudo-time stepping did not get there) or "failed" (the soot model stopped, or a soot
    variable would have become NaN or infinite: the profiles then hold the last finite
    state). extra holds the solve's Newton iterations, pseudo-time steps, Jacobians and
    rejected steps, and the residual. Raises CaseError for a tolerance of 1 or more."""
    import numpy as np
    import pandas as pd

    from ._fumivex2 import solve_steady, steady_residual

    started = time.perf_counter()
    settings = case.soot_solver
    if not 0.0 < settings.tolerance < 1.0:
        raise CaseError(f"soot_solver.tolerance is {settings.tolerance!r}: it must be above 0 "
                        f"and below 1 (the scaled residual of the soot equations is a few "
                        f"units at most, so 1 or more would pass any profiles)")
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
    failure, converged = None, False
    iterations = steps = jacobians = rejected = 0
    residual, stop = math.inf, ""
    stage(progress, "soot", "steps" if settings.method == "pseudo-time" else "")

    if settings.method == "steady":
        try:
            report = solve_steady(solver, rtol=settings.tolerance,
                                  max_iterations=settings.max_iterations,
                                  max_time_steps=settings.max_steps)
        except Exception as e:  # the soot model raised on the way
            state = _soot_state(solver)
            if not np.all(np.isfinite(state)):
                _set_soot_state(solver, initial)
            bad = _bad_point(solver, gas, model, _soot_state(solver))
            failure = (f"the steady soot solve stopped: {type(e).__name__}: {e}"
                       + ("" if bad is None else f" ({bad[1]} {at(bad[0])})"))
        else:
            iterations, steps = int(report.iterations), int(report.time_steps)
            jacobians, rejected = int(report.jacobians), int(report.rejected)
            residual, converged, stop = float(report.residual), bool(report.converged), \
                str(report.stop)
            extra["steady solve"] = str(report.message)
            extra["steady solve time [s]"] = float(report.seconds)
    else:
        run = _step(solver, gas, model, settings, at, progress)
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

    extra.update({"soot path": settings.method if converged else "none (not converged)",
                  "Newton iterations": iterations, "pseudo-time steps": steps,
                  "Jacobians": jacobians, "rejected steps": rejected,
                  "residual": residual, "tolerance": settings.tolerance})
    how = f"scaled residual {residual:.1e}, tolerance {settings.tolerance:g}"
    counts = (f"{iterations} Newton iterations, {steps} pseudo-time steps ({rejected} "
              f"rejected), {jacobians} Jacobians")
    if failure is not None:
        status, message = "failed", failure
        extra["soot path"] = "none (failed)"
    elif converged and settings.method == "steady":
        status = "converged"
        message = f"soot profiles converged by the steady solve: {counts} ({how})"
    elif converged:
        status = "converged"
        message = f"soot profiles converged by pseudo-time after {steps} steps ({how})"
    elif settings.method == "steady":
        status = "not converged"
        message = (f"not converged: the steady soot solve ({stop}) left the {how} after "
                   f"{counts}; raise soot_solver.max_iterations or max_steps. A residual that "
                   f"no longer falls can mean that a soot grid point sits where the soot "
                   f"model switches between two formulas: another soot_solver.points moves "
                   f"the grid")
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
