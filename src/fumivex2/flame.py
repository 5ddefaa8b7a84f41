"""Burner-stabilised flame with soot: a Cantera ``BurnerFlame`` solved on the case's
mechanism and inlet, then the soot variables carried through it by ``CFlameSolverOpt``.

The soot solver steps in pseudo-time with the gas held fixed. It is run in chunks of
``soot_solver.chunk`` steps (each ``solve`` continues from where the previous one ended)
until no soot variable changes by more than ``soot_solver.tolerance`` of its largest value
over a chunk, or until ``soot_solver.max_steps`` are used. The solver's per-step progress
lines are discarded.

Cantera, pandas and NumPy are imported inside the functions that need them.
"""
from __future__ import annotations

import contextlib
import math
import time
import warnings
from typing import Callable, Optional

from . import results as R
from .cases import Case, CaseError
from .results import RunResult
from .species import (case_soot_model, cantera_message, open_mechanism,  # noqa: F401
                      report_species, set_inlet)

__all__ = ["run_flame", "soot_in_flame", "solve_burner_flame", "set_inlet", "FlameFailure"]

SOOT_VARIABLES = ("N_agg", "N_pri", "C_tot", "H_tot")
# a burner flame whose peak temperature is less than this above the burner temperature has
# not ignited (Cantera then returns the cold, non-reacting solution as converged)
MIN_FLAME_RISE = 100.0  # K

Progress = Optional[Callable[[float, float], None]]


class FlameFailure(Exception):
    """The burner flame could not be solved, or it did not burn; `flame` is the non-burning
    solution when there is one."""

    def __init__(self, message: str, flame=None):
        super().__init__(message)
        self.flame = flame


class _Sink:
    """A text stream that drops what is written to it."""

    def write(self, text: str) -> int:
        return len(text)

    def flush(self) -> None:
        pass


# ---- the flame ------------------------------------------------------------------------------

def solve_burner_flame(gas, case: Case):
    """A converged Cantera BurnerFlame for the phase's current state (the inlet) and the
    case's flame table. Raises CaseError for refinement criteria Cantera refuses, and
    FlameFailure when the flame does not converge or does not burn."""
    import cantera as ct

    settings = case.flame
    T_in = gas.T
    try:
        flame = ct.BurnerFlame(gas, width=settings.width)
    except ct.CanteraError as e:
        raise CaseError(f"flame: {cantera_message(e)}") from None
    flame.burner.mdot = settings.mass_flux
    try:
        flame.set_refine_criteria(ratio=settings.ratio, slope=settings.slope, curve=settings.curve,
                                  prune=settings.prune)
    except ct.CanteraError as e:
        raise CaseError(f"flame grid refinement: {cantera_message(e)}") from None
    try:
        flame.transport_model = settings.transport
    except ct.CanteraError as e:
        raise CaseError(f"flame.transport {settings.transport!r}: {cantera_message(e)}") from None
    try:
        with contextlib.redirect_stdout(_Sink()), warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)  # from Cantera's blow-off check
            flame.solve(loglevel=0, auto=True)
    except ct.CanteraError as e:
        raise FlameFailure(f"the burner flame did not converge: {cantera_message(e)}") from None
    except (ArithmeticError, LookupError, ValueError) as e:
        # raised by Cantera's own Python callbacks on a flame that has gone out
        raise FlameFailure(f"the burner flame did not converge: Cantera's solver stopped with "
                           f"{type(e).__name__}: {e}") from None
    rise = float(flame.T.max()) - T_in
    if rise < MIN_FLAME_RISE:
        raise FlameFailure(f"no flame: the peak temperature is {flame.T.max():.0f} K, "
                           f"{rise:.0f} K above the burner; the mixture does not burn at "
                           f"{settings.mass_flux:g} kg/(m2 s) in {settings.width:g} m", flame)
    return flame


# ---- profiles -------------------------------------------------------------------------------

def _profile_species(gas, case: Case, model=None) -> list:
    """(column name, species index) of the key species and the PAHs a run reports."""
    key, pahs = report_species(gas, case, model)
    return list(key) + list(pahs)


def _gas_table(height, T, velocity, density, X, species) -> dict:
    table = {R.HEIGHT: height, R.T: T, R.VELOCITY: velocity, R.DENSITY: density}
    for name, i in species:
        table[R.species_column(name)] = X[i]
    return table


def flame_profiles(gas, case: Case, flame):
    """The gas profiles of a flame on its own grid."""
    import pandas as pd
    return pd.DataFrame(_gas_table(flame.grid, flame.T, flame.velocity, flame.density, flame.X,
                                   _profile_species(gas, case)))


def _empty_profiles(gas, case: Case, model=None):
    import numpy as np
    import pandas as pd
    species = _profile_species(gas, case, model)
    empty = np.zeros(0)
    table = _gas_table(empty, empty, empty, empty, np.zeros((gas.n_species, 0)), species)
    return pd.DataFrame(table)


# ---- soot -----------------------------------------------------------------------------------

def _soot_state(solver):
    import numpy as np
    return np.array([getattr(solver, v + "_n") for v in SOOT_VARIABLES])


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


def soot_in_flame(case: Case, gas, flame, *, model=None, progress: Progress = None) -> RunResult:
    """Soot through a converged burner flame: CFlameSolverOpt on a uniform grid of
    case.soot_solver.points over the flame, stepped in chunks until the soot profiles stop
    changing or the step budget is used. `model` is the soot model for `gas` (built from the
    case when None). progress(steps_done, max_steps) is called after each chunk.

    Returns the result with the gas and soot profiles on the soot grid and the gas-species
    rates due to soot; status "converged", "step budget used" or "failed" (the solver
    stopped or a soot variable became NaN or infinite: the profiles then hold the last
    finite state)."""
    import numpy as np
    import pandas as pd

    from ._fumivex2 import CFlameSolverOpt

    started = time.perf_counter()
    settings = case.soot_solver
    if model is None:
        model = case_soot_model(gas, case)
    species = _profile_species(gas, case, model)
    fgrid = np.asarray(flame.grid, dtype=float)
    grid = np.linspace(fgrid[0], fgrid[-1], settings.points)
    P = float(flame.P)
    mdot = float(flame.burner.mdot)  # kg/(m2 s), the same at every height of a burner flame

    solver = CFlameSolverOpt(gas, flame, grid, model)
    solver.P = P
    solver.mdot_left = mdot
    if settings.outlet == "outflow":
        solver.boundary_type_right = 1
    else:
        # flux condition: the gas crosses the right end with the burner mass flux and
        # carries the soot floors in
        solver.boundary_type_right = 0
        solver.mdot_right = mdot
    solver.dt = settings.dt
    # soot cannot be steady before the gas has crossed the domain once: convergence is only
    # declared after this much pseudo-time
    slowness = 1.0 / np.asarray(flame.velocity, dtype=float)  # s/m
    flow_time = float(np.sum(0.5 * (slowness[1:] + slowness[:-1]) * np.diff(fgrid)))  # s

    state = _soot_state(solver)
    steps, last, change, failure = 0, 0, None, None
    sink = _Sink()
    while steps < settings.max_steps:
        n = min(settings.chunk, settings.max_steps - steps)
        solver.n_time_steps = n
        try:
            with contextlib.redirect_stdout(sink):
                solver.solve()
            new = _soot_state(solver)
            finite = bool(np.all(np.isfinite(new)))
        except Exception:  # the solver's own arithmetic checks, or the soot model's
            finite = False
        if not finite:
            good, state, error, where = _locate_failure(solver, gas, model, state, n, sink)
            steps += good
            at = "" if where is None else \
                f" ({where[1]} at {grid[where[0]] * 1000:.3g} mm above the burner)"
            if error is not None:
                failure = (f"the soot solver stopped in step {steps + 1}: "
                           f"{type(error).__name__}: {error}{at}; profiles after {steps} steps")
            else:
                at = at or " (the soot model is finite everywhere before it: try a smaller " \
                    "soot_solver.dt)"
                failure = (f"the soot variables became NaN or infinite in step {steps + 1}{at}; "
                           f"profiles after {steps} steps")
            break
        with np.errstate(divide="ignore", invalid="ignore"):
            # per full chunk: a shorter last chunk counts as if it had run chunk steps
            change = np.abs(new - state).max(axis=1) / np.abs(new).max(axis=1) * (settings.chunk / n)
        state, steps, last = new, steps + n, n
        if progress is not None:
            progress(steps, settings.max_steps)
        if steps * settings.dt >= flow_time and np.all(change < settings.tolerance):
            break

    # the gas on the soot grid, interpolated as the solver does
    T = np.interp(grid, fgrid, flame.T)
    rho = np.interp(grid, fgrid, flame.density)
    mu = np.interp(grid, fgrid, flame.viscosity)
    u = np.interp(grid, fgrid, flame.velocity)
    X = np.array([np.interp(grid, fgrid, row) for row in np.asarray(flame.X)])
    table = _gas_table(grid, T, u, rho, X, species)
    soot_rows, rates = [], None
    try:
        for i in range(len(grid)):
            gas.TPX = T[i], P, X[:, i]
            model.update_gas(T[i], P, rho[i], mu[i], gas.mean_molecular_weight, X[:, i])
            model.update_solution(state[:, i].copy())
            soot_rows.append(R.soot_state_columns(model, rho[i]))
        solver.update_wdot_correction()
        W = np.array(solver.wdot_correction_soot, dtype=float)
        rates = pd.DataFrame({R.HEIGHT: grid,
                              **{f"{name} [kmol/(m3 s)]": W[k] for k, name in
                                 enumerate(gas.species_names)}})
    except Exception as e:  # the soot model refuses a state the solver reached
        i = len(soot_rows) if len(soot_rows) < len(grid) else len(grid) - 1
        failure = failure or (f"the soot model fails at {grid[i] * 1000:.3g} mm above the "
                              f"burner after {steps} steps: {type(e).__name__}: {e}")
    if len(soot_rows) == len(grid):
        for col in soot_rows[0]:
            table[col] = np.array([row[col] for row in soot_rows], dtype=float)
    profiles = pd.DataFrame(table)

    if failure is None:
        soot_cols = list(soot_rows[0])
        values = profiles[soot_cols].to_numpy()
        if not np.all(np.isfinite(values)):
            i, j = (int(a[0]) for a in np.nonzero(~np.isfinite(values)))
            failure = (f"{soot_cols[j]} is {values[i, j]} at {grid[i] * 1000:.3g} mm above the "
                       f"burner after {steps} steps")
    extra = {"steps": steps, "flow time [s]": flow_time, "soot points": len(grid),
             "flame points": len(fgrid), "PAHs": [gas.species_names[i] for i in model.PAH_index_in_gas]}
    if change is not None:
        extra["largest change"] = dict(zip(SOOT_VARIABLES, map(float, change)))
    if failure is not None:
        status, message = "failed", failure
    else:
        k = int(np.argmax(change))
        detail = (f"largest change over the last {last} steps {change[k]:.1e} of "
                  f"{SOOT_VARIABLES[k]}'s largest value; tolerance {settings.tolerance:g}")
        if steps * settings.dt >= flow_time and np.all(change < settings.tolerance):
            status, message = "converged", f"soot profiles converged after {steps} steps ({detail})"
        elif np.all(change < settings.tolerance):
            status = "step budget used"
            message = (f"step budget used: {steps} steps of {settings.dt:g} s are less than the "
                       f"{flow_time:.3g} s the gas takes through the flame ({detail}); raise "
                       f"soot_solver.max_steps or soot_solver.dt")
        else:
            status = "step budget used"
            message = (f"step budget used: {steps} steps and the soot profiles still change "
                       f"({detail}); raise soot_solver.max_steps or soot_solver.dt")
    return RunResult(case=case, profiles=profiles, status=status, message=message,
                     run_time=time.perf_counter() - started, rates=rates, extra=extra)


# ---- the run --------------------------------------------------------------------------------

def run_flame(case: Case, *, progress: Progress = None) -> RunResult:
    """A burner-stabilised flame with soot: the Cantera BurnerFlame of the case's mechanism,
    inlet and flame table, then CFlameSolverOpt through it (soot_in_flame). With soot off,
    the flame's own profiles (status "completed"). A flame that does not converge or does
    not burn gives status "failed" with the reason; user errors raise CaseError.
    progress(steps_done, max_steps) is called after each chunk of soot steps."""
    started = time.perf_counter()
    if case.kind != "flame":
        raise CaseError(f"this is a {case.kind!r} case: a flame run needs kind = \"flame\"")
    gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
    set_inlet(gas, case.inlet)
    inlet_state = gas.TPX
    # species and options are checked before the (long) flame solve
    model = case_soot_model(gas, case) if case.soot.enabled else None
    gas.TPX = inlet_state
    try:
        flame = solve_burner_flame(gas, case)
    except FlameFailure as e:
        profiles = flame_profiles(gas, case, e.flame) if e.flame is not None else \
            _empty_profiles(gas, case, model)
        return RunResult(case=case, profiles=profiles, status="failed", message=str(e),
                         run_time=time.perf_counter() - started)
    flame_time = time.perf_counter() - started
    if model is None:
        result = RunResult(case=case, profiles=flame_profiles(gas, case, flame),
                           status="completed",
                           message=f"flame solved on {len(flame.grid)} points; soot off",
                           extra={"flame points": len(flame.grid)})
    else:
        result = soot_in_flame(case, gas, flame, model=model, progress=progress)
    result.extra["flame time [s]"] = flame_time
    result.run_time = time.perf_counter() - started
    return result
