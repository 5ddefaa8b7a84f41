"""Burner-stabilised flame with soot: a Cantera ``BurnerFlame`` solved on the case's
mechanism and inlet (freely burning, or with an imposed temperature profile and the energy
equation off), then the soot variables carried through it by the soot stage
(``soot_stage.soot_stage``, shared by every flame kind).

Cantera, pandas and NumPy are imported inside the functions that need them.
"""
from __future__ import annotations

import contextlib
import re
import time
import warnings
from typing import Callable, Optional

from . import results as R
from .cases import Case, CaseError
from .checks import check_run, flame_gas_flows
from .results import RunResult
from .soot_stage import SOOT_VARIABLES, Boundaries, soot_stage, stage  # noqa: F401
from .species import (case_soot_model, cantera_message, inlet_summary,  # noqa: F401
                      open_mechanism, report_species, set_inlet)

__all__ = ["run_flame", "soot_in_flame", "solve_burner_flame", "set_inlet", "FlameFailure",
           "solve_cantera_flame", "inlet_mass_flux", "require_oxygen"]

# a burner flame whose peak temperature is less than this above the burner temperature has
# not ignited (Cantera then returns the cold, non-reacting solution as converged)
MIN_FLAME_RISE = 100.0  # K

Progress = Optional[Callable[[float, float], None]]
NOT_BURNING = "the flame does not burn at these conditions"


class FlameFailure(Exception):
    """The flame could not be solved, or it did not burn; `flame` is Cantera's flame object
    when it holds a solution worth writing (None otherwise)."""

    def __init__(self, message: str, flame=None):
        super().__init__(message)
        self.flame = flame


class _CanteraLog:
    """Cantera's solver log (loglevel 1), turned into progress reports: the size of the
    grid each time a grid is solved, and the number of refinements so far."""

    SOLVED = re.compile(r"Problem solved on \[(\d+)\]")

    def __init__(self, progress):
        self.progress = progress
        self.refinements = 0
        self.text = ""      # the tail of the log, for messages
        self.pending = ""   # the line being written (Cantera writes lines in pieces)

    def write(self, text: str) -> int:
        self.text = (self.text + text)[-4000:]
        if self.progress is not None:
            lines = (self.pending + text).split("\n")
            self.pending = lines.pop()
            for line in lines:
                if "Refining grid" in line:
                    self.refinements += 1
                m = self.SOLVED.search(line)
                if m:
                    self.progress(int(m.group(1)), None)
        return len(text)

    def flush(self) -> None:
        pass


def solve_cantera_flame(flame, case: Case, progress: Progress = None, *, auto: bool = True,
                        what: str = "flame"):
    """Sets the case's refinement criteria and transport model on a Cantera flame and
    solves it, Cantera's log turned into progress(points, None) calls when `progress` has a
    stage method. Raises CaseError for criteria Cantera refuses and FlameFailure when the
    solve fails (without the flame: what it holds then is no solution)."""
    import cantera as ct

    settings = case.flame
    try:
        flame.set_refine_criteria(ratio=settings.ratio, slope=settings.slope,
                                  curve=settings.curve, prune=settings.prune)
    except ct.CanteraError as e:
        raise CaseError(f"flame grid refinement: {cantera_message(e)}") from None
    try:
        flame.transport_model = settings.transport
    except ct.CanteraError as e:
        raise CaseError(f"flame.transport {settings.transport!r}: {cantera_message(e)}") from None
    reports = getattr(progress, "stage", None) is not None
    log = _CanteraLog(progress if reports else None)
    stage(progress, f"{what} (Cantera)", "grid points")
    try:
        with contextlib.redirect_stdout(log), warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)  # from Cantera's blow-off check
            flame.solve(loglevel=1 if reports else 0, refine_grid=True, auto=auto)
    except ct.CanteraError as e:
        raise FlameFailure(f"the {what} did not converge: {cantera_message(e)}") from None
    except (ArithmeticError, LookupError, ValueError):
        # raised by Cantera's own Python callbacks on a flame that has gone out; what they
        # say is about Cantera's arrays, not about the case
        raise FlameFailure(f"{NOT_BURNING}: Cantera's solver found no burning solution (check "
                           f"the composition and the mass flux)") from None
    return flame


def require_oxygen(gas, stream: str, text: str, imposed: bool = False) -> None:
    """CaseError when the phase's current mixture, the flame's `stream` (the case key,
    whose value is `text`), holds no oxygen: nothing in it can burn, and Cantera's solver
    would only fail on the way or return the cold mixture."""
    if "O" in gas.element_names and gas.elemental_mole_fraction("O") > 0.0:
        return
    what = ("with the temperature imposed, the run would be the fuel's pyrolysis at a "
            "flame's temperatures, not a flame (a pfr or a batch case heats a mixture without "
            "oxygen)" if imposed else "nothing can burn")
    raise CaseError(f"{stream} {text!r} holds no oxygen: {what}; give the oxidiser in "
                    f"{stream}")


# ---- starting from a neighbour's solution ---------------------------------------------------

# The last converged flame of this process per kind of grid (see _neighbour_key), kept for
# sweeps that start each flame from the solution of the case before it (restart=True).
_NEIGHBOURS: dict = {}


def _neighbour_key(case: Case, what: str) -> tuple:
    """What a neighbour's solution must share to be a starting point: the flame kind, the
    mechanism, the domain and the grid refinement. Mass flux, composition, pressure and
    temperatures may differ."""
    f = case.flame
    width = case.counterflow.width if what == "counterflow flame" else f.width
    return (what, case.mechanism.file, case.mechanism.phase, width, f.transport, f.ratio,
            f.slope, f.curve, f.prune)


def _boundary_state(flame) -> list:
    """(inlet, mdot, T, X) of each inlet of a flame, and its pressure."""
    inlets = [getattr(flame, n) for n in ("burner", "fuel_inlet", "oxidizer_inlet")
              if hasattr(flame, n)]
    return [(b, b.mdot, b.T, b.X) for b in inlets] + [flame.P]


def solve_from_neighbour(build, case: Case, progress: Progress, what: str, restart: bool,
                         auto: bool = True):
    """solve_cantera_flame on build() (a new flame with the case's boundary values). With
    `restart`, a flame of this process with the same grid settings (_neighbour_key) is the
    starting point: its solution with this case's inlets, solved without Cantera's
    automatic start-up (about ten times faster for a neighbouring mass flux); when that
    fails, a fresh flame is solved as without `restart`. Returns (flame, start) with start
    "neighbour" or "fresh". The result of a restarted flame agrees with a fresh one to
    Cantera's tolerances on its own (possibly different) grid, not to the last digit, so a
    sweep with restarts depends slightly on the order its cases ran in."""
    key = _neighbour_key(case, what)
    start = "fresh"
    flame = None
    if restart and key in _NEIGHBOURS:
        flame = build()
        boundaries = _boundary_state(flame)
        try:
            flame.set_initial_guess(data=_NEIGHBOURS[key])
            for b, mdot, T, X in boundaries[:-1]:
                b.mdot, b.T, b.X = mdot, T, X
            flame.P = boundaries[-1]
            flame = solve_cantera_flame(flame, case, progress, auto=False, what=what)
            start = "neighbour"
        except Exception:  # any failure of the shortcut: solve afresh
            flame = None
    if flame is None:
        flame = solve_cantera_flame(build(), case, progress, auto=auto, what=what)
    if restart:
        _NEIGHBOURS[key] = flame.to_array()
    return flame, start


def inlet_mass_flux(gas, mass_flux: float, velocity: float) -> float:
    """kg/(m2 s): mass_flux when given (non-zero), else velocity (m/s) times the density of
    the phase's current state."""
    return mass_flux if mass_flux else velocity * float(gas.density)


# ---- the flame ------------------------------------------------------------------------------

def solve_burner_flame(gas, case: Case, progress: Progress = None, *, restart: bool = False):
    """A converged Cantera BurnerFlame for the phase's current state (the inlet) and the
    case's flame table (see burner_flame, which also says how it was started)."""
    return burner_flame(gas, case, progress, restart=restart)[0]


def burner_flame(gas, case: Case, progress: Progress = None, *, restart: bool = False):
    """(flame, start): a converged Cantera BurnerFlame for the phase's current state (the
    inlet) and the case's flame table, and "neighbour" or "fresh" (solve_from_neighbour).
    Freely burning, or with the energy equation off and the gas
    temperature fixed to flame.temperature_profile at every grid point. Raises CaseError for
    refinement criteria Cantera refuses, and FlameFailure when the flame does not converge
    or does not burn."""
    import cantera as ct
    import numpy as np

    settings = case.flame
    T_in = gas.T
    inlet = gas.TPX
    mdot = inlet_mass_flux(gas, settings.mass_flux, settings.velocity)
    profile = settings.temperature_profile

    def build():
        gas.TPX = inlet
        try:
            flame = ct.BurnerFlame(gas, width=settings.width)
        except ct.CanteraError as e:
            raise CaseError(f"flame: {cantera_message(e)}") from None
        flame.burner.mdot = mdot
        if profile:
            # Cantera takes the profile against the fraction of the domain and, with the
            # energy equation off, fixes T to it at every point of every grid it refines
            # to; its automatic mode would switch the energy equation back on
            z, T = (np.asarray(row, dtype=float) for row in profile)
            flame.flame.set_fixed_temp_profile(z / settings.width, T)
            flame.energy_enabled = False
        return flame

    # an imposed profile is solved without the automatic start-up anyway, and quickly:
    # it is never started from a neighbour
    flame, start = solve_from_neighbour(build, case, progress, "burner flame",
                                        restart and not profile, auto=not profile)
    if not profile:
        rise = float(flame.T.max()) - T_in
        if rise < MIN_FLAME_RISE:
            raise FlameFailure(f"{NOT_BURNING}: the peak temperature is {flame.T.max():.0f} K, "
                               f"{rise:.0f} K above the burner, at {mdot:.4g} kg/(m2 s) in "
                               f"{settings.width:g} m", flame)
    return flame, start


# ---- profiles -------------------------------------------------------------------------------

def _profile_species(gas, case: Case, model=None) -> list:
    """(column name, species index) of the key species and the PAHs a run reports."""
    key, pahs = report_species(gas, case, model)
    return list(key) + list(pahs)


def _gas_table(height, T, velocity, density, X, species, position=R.HEIGHT) -> dict:
    table = {position: height, R.T: T, R.VELOCITY: velocity, R.DENSITY: density}
    for name, i in species:
        table[R.species_column(name)] = X[i]
    return table


def flame_profiles(gas, case: Case, flame, position: str = R.HEIGHT):
    """The gas profiles of a flame on its own grid."""
    import pandas as pd
    return pd.DataFrame(_gas_table(flame.grid, flame.T, flame.velocity, flame.density, flame.X,
                                   _profile_species(gas, case), position))


def _empty_profiles(gas, case: Case, model=None, position: str = R.HEIGHT):
    import numpy as np
    import pandas as pd
    species = _profile_species(gas, case, model)
    empty = np.zeros(0)
    table = _gas_table(empty, empty, empty, empty, np.zeros((gas.n_species, 0)), species,
                       position)
    return pd.DataFrame(table)


# ---- soot -----------------------------------------------------------------------------------

def soot_in_flame(case: Case, gas, flame, *, model=None, progress: Progress = None) -> RunResult:
    """Soot through a converged burner flame: with soot_solver.coupling "two-way" the
    species and soot solved together (coupled_stage.coupled_stage), with "one-way" the
    soot carried through Cantera's gas (soot_stage.soot_stage): gas enters at the burner
    with the burner mass flux, and leaves at the right end (soot_solver.outlet 'outflow')
    or enters there with the same mass flux ('inlet')."""
    if case.soot_solver.coupling == "two-way":
        from .coupled_stage import coupled_stage
        return coupled_stage(case, gas, flame, model=model, progress=progress)
    mdot = float(flame.burner.mdot)  # kg/(m2 s), the same at every height of a burner flame
    right = None if case.soot_solver.outlet == "outflow" else mdot
    result = soot_stage(case, gas, flame, Boundaries(mdot, right), model=model,
                        progress=progress)
    result.extra["coupling"] = "one-way"
    return result


# ---- the run --------------------------------------------------------------------------------

def run_flame(case: Case, *, progress: Progress = None, restart: bool = False) -> RunResult:
    """A burner-stabilised flame with soot: the Cantera BurnerFlame of the case's mechanism,
    inlet and flame table, then CFlameSolverOpt through it (soot_in_flame). With soot off,
    the flame's own profiles (status "completed"). A flame that does not converge or does
    not burn gives status "failed" with the reason; user errors raise CaseError.
    progress(done, total) is called as the run goes (see soot_stage; with a `stage` method,
    also for Cantera's solve). With `restart` the flame starts from the last flame this
    process solved with the same grid settings (for sweeps: solve_from_neighbour)."""
    started = time.perf_counter()
    if case.kind != "flame":
        raise CaseError(f"this is a {case.kind!r} case: a flame run needs kind = \"flame\"")
    gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
    set_inlet(gas, case.inlet)
    stream = ("inlet.oxidizer", case.inlet.oxidizer) if case.inlet.fuel else \
        ("inlet.composition", case.inlet.composition)
    require_oxygen(gas, *stream, imposed=bool(case.flame.temperature_profile))
    inlet_state = gas.TPX
    inputs = burner_summary(gas, case)
    # species and options are checked before the (long) flame solve
    model = case_soot_model(gas, case) if case.soot.enabled else None
    gas.TPX = inlet_state
    try:
        flame, start = burner_flame(gas, case, progress, restart=restart)
    except FlameFailure as e:
        failed = failed_flame(gas, case, model, e, started)
        failed.extra["summary"] = inputs
        return failed
    flame_time = time.perf_counter() - started
    if model is None:
        result = RunResult(case=case, profiles=flame_profiles(gas, case, flame),
                           status="completed",
                           message=f"flame solved on {len(flame.grid)} points; soot off",
                           extra={"flame points": len(flame.grid)})
    else:
        result = soot_in_flame(case, gas, flame, model=model, progress=progress)
    result.extra["summary"] = {**inputs, "gas viscosity": flame_viscosity_note(gas, model)}
    result.extra["flame time [s]"] = flame_time
    result.extra["flame start"] = start
    if "gas flows" not in result.extra:  # a two-way run's are those of the coupled gas
        result.extra["gas flows"] = flame_gas_flows(flame, gas)
    result.run_time = time.perf_counter() - started
    return check_run(result, gas)


def burner_summary(gas, case: Case) -> dict:
    """Summary entries of a burner flame's inlet (the phase at the inlet state): its mole
    fractions and density, and the burner mass flux with the velocity it means at the
    inlet state, whichever of the two the case gave."""
    inputs = inlet_summary(gas)
    mdot = inlet_mass_flux(gas, case.flame.mass_flux, case.flame.velocity)
    inputs["burner mass flux [kg/(m2 s)]"] = mdot
    inputs["burner velocity at the inlet state [m/s]"] = mdot / float(gas.density)
    inputs["burner given by"] = "flame.mass_flux" if case.flame.mass_flux else "flame.velocity"
    return inputs


def flame_viscosity_note(gas, model) -> str:
    """How the gas viscosity the soot stage reads was computed: by Cantera's transport on
    the flame's points."""
    from .viscosity import NOT_USED

    return NOT_USED if model is None else f"Cantera's flame ({gas.transport_model} transport)"


def failed_flame(gas, case: Case, model, failure: FlameFailure, started: float,
                 position: str = R.HEIGHT) -> RunResult:
    """The result of a flame that failed: the profiles of Cantera's last solution when it
    holds one, else none (the message says which)."""
    profiles, message = None, str(failure)
    if failure.flame is not None:
        with contextlib.suppress(Exception):  # a flame left without a usable solution
            profiles = flame_profiles(gas, case, failure.flame, position)
    if profiles is None or len(profiles) == 0:
        # no suffix: the summary and the command line say that nothing was computed
        profiles = _empty_profiles(gas, case, model, position)
    else:
        message += f"; the gas profiles of Cantera's last solution ({len(profiles)} points) are written"
    return check_run(RunResult(case=case, profiles=profiles, status="failed", message=message,
                               run_time=time.perf_counter() - started), gas)
