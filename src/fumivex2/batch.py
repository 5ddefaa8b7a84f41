"""The batch reactor run: a closed reactor (a shock tube behind its reflected shock, a rapid
compression machine after compression) from a case's initial state, in time.

``run_batch(case)`` opens the mechanism, sets the initial state from the ``[inlet]`` table,
builds the soot model, puts a ``SootReactor`` (constant volume) or a
``SootConstPressureReactor`` (``batch.constant``) alone in a Cantera ``ReactorNet`` and
advances it to each output time. The profiles hold ``case.output.stations`` rows: t = 0,
then log-spaced times from ``batch.first_time`` to ``batch.end_time`` (``batch.spacing =
"log"``, the default: at shock-tube temperatures soot inception starts within a few
hundred microseconds while the particles grow for milliseconds, and both get rows) or evenly
spaced ones ("linear").

Cantera's integrator (CVODES) takes one absolute tolerance for every component of the
state. The soot variables sit at their floors (1.66e-24 mol/kg for N_agg and N_pri,
6.3e-22 mol/kg for C_tot) until inception, far below the mass fractions' tolerance, so the
network's tolerance is the smaller of the case's ``integrator.atol`` and the smallest floor:
soot is then resolved from its first particles on (about 25 % more steps than 1e-20 on
the default case, with the results the same to 1e-8). ``integrator.rtol`` is the network's
relative tolerance; ``method`` and ``max_step`` are the plug-flow reactor's and not used.

An integration that fails (Cantera's error, or an error of the soot model) keeps the rows
computed before it: the result has status "failed", and the message gives the time
reached and Cantera's own line. Ctrl-C is not caught.

The helpers shared with the stirred-reactor run (``fumivex2.psr``) are defined here.
Cantera and pandas are imported inside the functions.
"""
from __future__ import annotations

import time
from typing import Callable, Optional

import numpy as np

from . import results as R
from .cases import Case, CaseError
from .checks import check_run
from .results import RunResult
from .species import cantera_message, inlet_summary

__all__ = ["run_batch", "network_atol"]

Progress = Optional[Callable[[float, float], None]]
_PROGRESS_CALLS = 100   # at most about this many progress reports per run
SOOT_COLUMNS = (R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT, R.FV, R.NUMBER, R.D_P, R.D_M, R.N_P,
                R.HC, R.INCEPTION)


# ---- shared with the stirred-reactor run ------------------------------------------------------

def network_atol(model, atol: float) -> float:
    """The absolute tolerance of a network of soot reactors: the case's (for the mass
    fractions), or the smallest floor of the soot variables (mol/kg) when that is smaller,
    so that soot near its floors is resolved (Cantera has one tolerance for all components)."""
    if model is None:
        return float(atol)
    return float(min(atol, *(getattr(model, f) for f in R.SOOT_FLOORS)))


def set_up(case: Case, kind: str, run: str):
    """(phase at the inlet state, soot model or None, key species, PAHs) of a network case of
    this kind (CaseError for another kind, naming the run)."""
    from .species import case_soot_model, open_mechanism, report_species, set_inlet

    if case.kind != kind:
        raise CaseError(f"case {case.name!r} is a {case.kind} case: a {run} run needs "
                        f"kind = \"{kind}\"")
    gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
    set_inlet(gas, case.inlet)
    model = case_soot_model(gas, case) if case.soot.enabled else None
    key, pahs = report_species(gas, case, model)
    return gas, model, key, pahs


def make_reactor(gas, model, *, constant: str, energy: bool, name: str, clone: bool):
    """A soot reactor (a Cantera ideal-gas reactor with soot off) on gas (clone=False: the
    caller gives it a phase that nothing else in the network uses) or on a copy of it;
    constant is "volume" or "pressure". A copy parses the mechanism again (about 0.4 s for
    the shipped one), so the runs copy only where a phase would be shared."""
    import cantera as ct

    from .network import SootConstPressureReactor, SootReactor

    on = "on" if energy else "off"
    if model is None:
        cls = ct.IdealGasReactor if constant == "volume" else ct.IdealGasConstPressureReactor
        return cls(gas, energy=on, name=name, clone=clone)
    cls = SootReactor if constant == "volume" else SootConstPressureReactor
    return cls(gas, soot_model=model, energy=on, name=name, clone=clone)


def state_row(reactor, model, key, pahs) -> tuple:
    """(gas and soot columns of the reactor's current state, its mass fractions)."""
    from .network import reactor_phase

    g = reactor_phase(reactor)
    row = {R.T: float(g.T), R.PRESSURE: float(g.P), R.DENSITY: float(g.density),
           R.GAS_MASS: float(reactor.mass)}
    X = g.X
    for name, i in tuple(key) + tuple(pahs):
        row[R.species_column(name)] = float(X[i])
    if model is not None:
        model.update_gas(g.T, g.P, g.density, reactor.gas_viscosity, g.mean_molecular_weight,
                         X)
        state = np.array(reactor.soot_state, dtype=float)
        model.update_solution(state.copy())
        row.update({k: float(v) for k, v in
                    R.soot_state_columns(model, g.density, state).items()})
    return row, np.array(g.Y, dtype=float)


def profile_columns(leading, key, pahs, soot: bool) -> list:
    columns = list(leading) + [R.T, R.PRESSURE, R.DENSITY, R.GAS_MASS]
    columns += [R.species_column(n) for n, _ in tuple(key) + tuple(pahs)]
    if soot:
        columns += list(SOOT_COLUMNS)
    return columns


def tables(rows, fractions, columns, position: str, species_names):
    """The profiles and the mass-fraction table (position, then Y_<name> [-] per species)."""
    import pandas as pd

    profiles = pd.DataFrame(rows, columns=columns)
    Y = np.array(fractions, dtype=float).reshape(len(fractions), len(species_names))
    mass = pd.DataFrame(Y, columns=[f"Y_{n} [-]" for n in species_names])
    mass.insert(0, position, profiles[position].to_numpy(dtype=float) if len(rows) else [])
    return profiles, mass


def failure_reason(error: BaseException) -> str:
    """One line for an error raised while a network integrates: Cantera's own line, or the
    error type and its message (an error of the soot model in a reactor's hook)."""
    import cantera as ct

    if isinstance(error, ct.CanteraError):
        # CVODES says what failed on the line after its error code: keep both
        lines = [s.strip() for s in str(error).splitlines()]
        lines = [s for s in lines if s and not set(s) <= {"*"} and "thrown by" not in s]
        if len(lines) > 1 and lines[0].startswith("CVodes error"):
            return f"{lines[0]}: {lines[1]}"
        return cantera_message(error)
    return f"{type(error).__name__}: {cantera_message(error)}"


def viscosity_note(reactor, model) -> str:
    """How the gas viscosity the soot model reads was computed in a soot reactor."""
    from .viscosity import NOT_USED

    return NOT_USED if model is None else reactor.viscosity_method


def solver_stats(net) -> dict:
    """Cantera's integrator counters (steps, right-hand sides, Jacobians), as plain ints."""
    try:
        stats = net.solver_stats
    except Exception:  # an older Cantera, or a network never initialised
        return {}
    return {f"integrator {k}": int(v) for k, v in stats.items()
            if k in ("steps", "rhs_evals", "jac_evals", "err_test_fails")}


# ---- the run ----------------------------------------------------------------------------------

def output_times(case: Case) -> np.ndarray:
    """The output times (s): 0, then stations - 1 times up to batch.end_time, log-spaced from
    batch.first_time or evenly spaced."""
    b, n = case.batch, case.output.stations
    if b.spacing == "log":
        later = np.geomspace(b.first_time, b.end_time, n - 1)
    else:
        later = np.linspace(0.0, b.end_time, n)[1:]
    later[-1] = b.end_time  # exactly, whatever the rounding of geomspace
    return np.concatenate([[0.0], later])


def run_batch(case: Case, *, progress: Progress = None) -> RunResult:
    """Run a batch-reactor case.

    Returns a RunResult whose profiles hold `case.output.stations` rows at the output times
    (see output_times): time, T, pressure, density, the mole fractions of the seven key
    species (by the soot model's names: X_C2H2 ...) and of the PAHs, and with soot on the
    soot columns of `results`. The mass fractions of every species at the same times are in
    ``result.extra["mass_fractions"]``. `progress(t_reached, end_time)` (s) is called about
    a hundred times. Status "completed", or "failed" with the rows reached and a message
    "integration stopped at t = ... s: <reason>". Raises CaseError (or a subclass) for a
    case that cannot run.
    """
    import cantera as ct

    started = time.perf_counter()
    gas, model, key, pahs = set_up(case, "batch", "batch")
    inputs = inlet_summary(gas)
    b = case.batch
    reactor = make_reactor(gas, model, constant=b.constant, energy=b.energy, name="batch",
                           clone=False)
    net = ct.ReactorNet([reactor])
    net.rtol = case.integrator.rtol
    net.atol = network_atol(model, case.integrator.atol)
    set_up_done = time.perf_counter()

    times = output_times(case)
    rows, fractions = [], []
    status, message = "completed", ""
    next_report = 0.0
    try:
        for t in times:
            if t > 0.0:
                net.advance(float(t))
            row, Y = state_row(reactor, model, key, pahs)
            row[R.TIME] = float(t)
            rows.append(row)
            fractions.append(Y)
            if progress is not None and (t >= next_report or t == times[-1]):
                progress(float(t), float(b.end_time))
                next_report = t + b.end_time / _PROGRESS_CALLS
    except Exception as e:  # Cantera's error, or one of the soot model in the reactor's hook
        status = "failed"
        reached = float(net.time)
        message = f"integration stopped at t = {reached:.6g} s: {failure_reason(e)}"
    if status == "completed":
        message = (f"reached t = {times[-1]:.6g} s at constant {b.constant}, energy "
                   f"{'on' if b.energy else 'off'}, with Cantera's CVODES")
    integrated = time.perf_counter()
    columns = profile_columns([R.TIME], key, pahs, model is not None)
    profiles, mass = tables(rows, fractions, columns, R.TIME, gas.species_names)
    inputs["gas viscosity"] = viscosity_note(reactor, model)
    extra = {"summary": inputs, "integrator": "CVODES (Cantera)", "atol": float(net.atol),
             "mass_fractions": mass, "set-up time [s]": set_up_done - started,
             "integration time [s]": integrated - set_up_done}
    extra.update(solver_stats(net))
    return check_run(RunResult(case=case, profiles=profiles, status=status, message=message,
                               run_time=time.perf_counter() - started, extra=extra), gas)
