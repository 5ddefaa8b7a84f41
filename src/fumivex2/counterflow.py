"""Counterflow diffusion flame with soot: a Cantera ``CounterflowDiffusionFlame`` of the
case's fuel and oxidiser streams, then the soot stage (``soot_stage.soot_stage``) through
it with soot entering at the floor values through both inlets.

Positions run from the fuel inlet (0) to the oxidiser inlet (``counterflow.width``). The
soot equation of the similarity form of the flow, with N per kg of gas, needs only the
axial velocity: the radial divergence of the flow drops out through the continuity
equation, so the flame solver of a burner flame carries soot through it unchanged. Soot
forms on the fuel side of the flame and is carried by the gas and by thermophoresis to
the stagnation plane (u = 0), where it gathers.

Cantera, pandas and NumPy are imported inside the functions that need them.
"""
from __future__ import annotations

import math
import time
from typing import Callable, Optional

from . import results as R
from .cases import Case, CaseError
from .checks import check_run, flame_gas_flows
from .flame import (MIN_FLAME_RISE, NOT_BURNING, FlameFailure, failed_flame, flame_profiles,
                    flame_viscosity_note, require_oxygen, solve_from_neighbour)
from .results import RunResult
from .soot_stage import Boundaries, soot_stage
from .species import InletError, case_soot_model, cantera_message, mole_fractions_text, \
    open_mechanism, parse_composition

__all__ = ["run_counterflow", "solve_counterflow_flame", "stream_mass_fluxes"]

Progress = Optional[Callable[[float, float], None]]


def _set_stream(gas, composition: str, T: float, P: float, where: str) -> None:
    import cantera as ct

    comp = parse_composition(gas, composition, where)
    try:
        gas.TPX = T, P, comp
    except ct.CanteraError as e:
        raise InletError(f"{where}: the mechanism refuses this state: {cantera_message(e)}") \
            from None


def stream_mass_fluxes(gas, case: Case) -> tuple:
    """(fuel, oxidiser) mass fluxes in kg/(m2 s), both positive: given, or the velocity
    times the stream's density; an oxidiser without either gets the momentum flux of the
    fuel stream (rho u^2 equal on both sides)."""
    return _streams(gas, case)[:2]


def _streams(gas, case: Case) -> tuple:
    """(fuel mass flux, oxidiser mass flux, summary entries of the two streams): each
    stream's mole fractions, density, velocity and mass flux."""
    c = case.counterflow
    _set_stream(gas, c.fuel, c.fuel_temperature, c.pressure, "counterflow.fuel")
    rho_f = float(gas.density)
    fuel_X = mole_fractions_text(gas)
    _set_stream(gas, c.oxidizer, c.oxidizer_temperature, c.pressure, "counterflow.oxidizer")
    rho_o = float(gas.density)
    fuel = c.fuel_mass_flux or c.fuel_velocity * rho_f
    if c.oxidizer_mass_flux or c.oxidizer_velocity:
        oxidizer = c.oxidizer_mass_flux or c.oxidizer_velocity * rho_o
    else:
        oxidizer = fuel * math.sqrt(rho_o / rho_f)  # (m/rho_o)^2 rho_o = (m_f/rho_f)^2 rho_f
    entries = {"fuel mole fractions [-]": fuel_X,
               "oxidiser mole fractions [-]": mole_fractions_text(gas),
               "fuel density [kg/m3]": rho_f, "oxidiser density [kg/m3]": rho_o,
               "fuel velocity [m/s]": fuel / rho_f, "oxidiser velocity [m/s]": oxidizer / rho_o,
               "fuel mass flux [kg/(m2 s)]": fuel, "oxidiser mass flux [kg/(m2 s)]": oxidizer}
    return fuel, oxidizer, entries


def flame_structure(flame, streams: dict) -> dict:
    """Summary entries of a solved counterflow flame (positions in m from the fuel inlet):
    the stagnation plane; the flame, as the peak temperature and as the peak heat release
    rate; the global strain rate of the two streams, 2 V_O / L (1 + V_F sqrt(rho_F) /
    (V_O sqrt(rho_O))) with the inlet velocities V and densities rho of `streams` (the
    entries of _streams) and the separation L; and the oxidiser-side strain rate, the
    largest |du/dz| of the axial velocity u between the flame (peak T) and the oxidiser
    inlet (1/s)."""
    import numpy as np

    z = np.asarray(flame.grid, dtype=float)
    u = np.asarray(flame.velocity, dtype=float)
    T = np.asarray(flame.T, dtype=float)
    q = np.asarray(flame.heat_release_rate, dtype=float)  # W/m3
    v_f, v_o = streams["fuel velocity [m/s]"], streams["oxidiser velocity [m/s]"]
    rho_f, rho_o = streams["fuel density [kg/m3]"], streams["oxidiser density [kg/m3]"]
    width = float(z[-1] - z[0])
    flame_at = int(np.argmax(T))
    dudz = np.gradient(u, z)
    return {"stagnation plane [m]": stagnation_plane(flame),
            "flame (peak T) [m]": float(z[flame_at]),
            "flame (peak heat release) [m]": float(z[int(np.argmax(q))]),
            "peak heat release rate [W/m3]": float(q.max()),
            "global strain rate [1/s]": 2.0 * v_o / width
            * (1.0 + v_f * math.sqrt(rho_f) / (v_o * math.sqrt(rho_o))),
            "oxidiser-side strain rate [1/s]": float(np.max(np.abs(dudz[flame_at:])))}


def solve_counterflow_flame(gas, case: Case, progress: Progress = None, *,
                            restart: bool = False):
    """A converged Cantera CounterflowDiffusionFlame of the case's streams (see
    counterflow_flame, which also says how it was started)."""
    return counterflow_flame(gas, case, progress, restart=restart)[0]


def counterflow_flame(gas, case: Case, progress: Progress = None, *, restart: bool = False):
    """(flame, "neighbour" or "fresh"): a converged Cantera CounterflowDiffusionFlame of the case's streams. Raises CaseError
    or InletError for values Cantera or the mechanism refuse, FlameFailure when the flame
    does not converge or does not burn. With `restart`, started from the last counterflow
    flame of this process with the same grid settings (flame.solve_from_neighbour)."""
    import cantera as ct

    c = case.counterflow
    fuel, oxidizer = stream_mass_fluxes(gas, case)

    def build():
        _set_stream(gas, c.fuel, c.fuel_temperature, c.pressure, "counterflow.fuel")
        try:
            flame = ct.CounterflowDiffusionFlame(gas, width=c.width)
        except ct.CanteraError as e:
            raise CaseError(f"counterflow: {cantera_message(e)}") from None
        flame.P = c.pressure
        flame.fuel_inlet.X = parse_composition(gas, c.fuel, "counterflow.fuel")
        flame.fuel_inlet.T = c.fuel_temperature
        flame.fuel_inlet.mdot = fuel
        flame.oxidizer_inlet.X = parse_composition(gas, c.oxidizer, "counterflow.oxidizer")
        flame.oxidizer_inlet.T = c.oxidizer_temperature
        flame.oxidizer_inlet.mdot = oxidizer
        return flame

    flame, start = solve_from_neighbour(build, case, progress, "counterflow flame", restart)
    rise = float(flame.T.max()) - max(c.fuel_temperature, c.oxidizer_temperature)
    if rise < MIN_FLAME_RISE:
        raise FlameFailure(f"{NOT_BURNING}: the peak temperature is {flame.T.max():.0f} K, "
                           f"{rise:.0f} K above the hotter stream (fuel {fuel:.4g}, oxidiser "
                           f"{oxidizer:.4g} kg/(m2 s) over {c.width:g} m)", flame)
    return flame, start


def stagnation_plane(flame) -> float:
    """m from the fuel inlet: where the axial velocity changes sign (linear in between)."""
    import numpy as np

    z, u = np.asarray(flame.grid, dtype=float), np.asarray(flame.velocity, dtype=float)
    k = np.nonzero((u[:-1] > 0) & (u[1:] <= 0))[0]
    if len(k) == 0:
        return math.nan
    i = int(k[0])
    return float(z[i] + (z[i + 1] - z[i]) * u[i] / (u[i] - u[i + 1]))


def run_counterflow(case: Case, *, progress: Progress = None, restart: bool = False) -> RunResult:
    """A counterflow diffusion flame with soot: the Cantera flame of the case's streams,
    then the soot stage with soot entering at the floors through both inlets (the fuel
    mass flux on the left, the oxidiser's on the right). Soot off: the flame's profiles
    (status "completed"). A flame that does not converge or burn gives status "failed";
    user errors raise CaseError. Positions in the column "position [m]" from the fuel
    inlet; extra holds the stagnation plane and the flame (peak temperature) positions,
    and extra["summary"] the streams and the flame's structure (_streams,
    flame_structure). `restart`: as for flame.run_flame."""
    started = time.perf_counter()
    if case.kind != "counterflow":
        raise CaseError(f"this is a {case.kind!r} case: a counterflow run needs "
                        f"kind = \"counterflow\"")
    c = case.counterflow
    gas = open_mechanism(case.mechanism.file, case.mechanism.phase)
    streams = _streams(gas, case)[2]  # leaves the phase at the oxidiser stream's state
    require_oxygen(gas, "counterflow.oxidizer", c.oxidizer)
    model = case_soot_model(gas, case) if case.soot.enabled else None
    try:
        flame, start = counterflow_flame(gas, case, progress, restart=restart)
    except FlameFailure as e:
        failed = failed_flame(gas, case, model, e, started, R.POSITION)
        failed.extra["summary"] = streams
        return failed
    flame_time = time.perf_counter() - started
    structure = flame_structure(flame, streams)
    where = {k: structure[k] for k in ("stagnation plane [m]", "flame (peak T) [m]")}
    where.update({"fuel mass flux [kg/(m2 s)]": float(flame.fuel_inlet.mdot),
                  "oxidiser mass flux [kg/(m2 s)]": float(flame.oxidizer_inlet.mdot)})
    if model is None:
        result = RunResult(case=case, profiles=flame_profiles(gas, case, flame, R.POSITION),
                           status="completed",
                           message=f"flame solved on {len(flame.grid)} points; soot off",
                           extra={"flame points": len(flame.grid)})
    else:
        if case.soot_solver.coupling == "two-way":
            from .coupled_stage import coupled_stage
            result = coupled_stage(case, gas, flame, position=R.POSITION,
                                   where="from the fuel inlet", model=model, progress=progress)
        else:
            boundaries = Boundaries(float(flame.fuel_inlet.mdot),
                                    float(flame.oxidizer_inlet.mdot))
            result = soot_stage(case, gas, flame, boundaries, position=R.POSITION,
                                where="from the fuel inlet", model=model, progress=progress)
            result.extra["coupling"] = "one-way"
    result.extra.update(where)
    result.extra["summary"] = {**streams, **structure,
                               "gas viscosity": flame_viscosity_note(gas, model)}
    result.extra["flame time [s]"] = flame_time
    result.extra["flame start"] = start
    if "gas flows" not in result.extra:  # a two-way run's are those of the coupled gas
        result.extra["gas flows"] = flame_gas_flows(flame, gas)
    result.run_time = time.perf_counter() - started
    return check_run(result, gas)
