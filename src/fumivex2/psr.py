"""The stirred-reactor run: a well-stirred reactor at its steady state, then optionally a
plug-flow section that its outflow enters (the classic stirred reactor + plug-flow set-up of
soot studies).

The network: a ``Reservoir`` at the ``[inlet]`` state feeds a constant-volume
``SootReactor`` of ``psr.volume`` through a ``MassFlowController`` whose flow is the
reactor's contents (gas and soot) over ``psr.residence_time`` (so the residence time of both
is exact whatever the density), and a ``PressureController`` lets the same flow out to a
``Reservoir`` at the inlet pressure, which holds the reactor's pressure there; of that
outflow, the reactor's gas mass over the residence time is gas, the rest soot. With ``psr.energy`` on, the
reactor is adiabatic and starts from the inlet mixture's chemical equilibrium at the inlet
enthalpy and pressure: a burning start, from which it settles on the burning steady state
when there is one (a cold start stays cold). With energy off it is held at
``inlet.temperature`` and starts from the inlet mixture.

Steady state: the network is advanced one residence time at a time until no component of
the reactor's state (temperature, mass, the mass fractions above 1e-10, the soot variables
above 1000 times their floors) changes by more than ``psr.steady_tolerance`` of its value
over one residence time. Near a steady state most disturbances are washed out at the
flow's rate 1/tau or faster, so this takes some 8-40 residence times (soot that stays at
its floors washes out to its steady value within 8); one that is not steady within
``psr.max_residence_times`` ends with status "not converged" (the run still writes the
state reached and the plug-flow section after it). A reactor that cannot burn at its
residence time falls from the burning start towards the inlet temperature: that is a
steady state too, and the message says the reactor blew out (below BURNING_SHARE of the
burning start's temperature rise over the inlet).

Plug-flow section: a Lagrangian parcel. A ``SootConstPressureReactor`` starts from the
stirred reactor's outlet state (gas and soot; soot below zero, a reactor whose soot stays at
its floors, enters as zero) and is integrated in time; at constant
pressure and without axial mixing, its time history is the steady plug flow's profile,
with dz = u dt and u = mdot_gas / (rho A), mdot_gas the gas of the stirred reactor's outflow
reduced as the soot takes mass from the gas (the parcel's mass over its initial mass). z is the
trapezoidal integral of u over at least 200 time steps, each chosen to cover an even share
of the section on the velocity's last trend, so that the output rows fall about evenly
along it; the last row is at the section's end to 1e-9 of its length. ``psr.pfr_thermal``:
"adiabatic" (energy on) or "isothermal" (at the stirred reactor's temperature).

Profiles: the first row is the stirred reactor (residence time = psr.residence_time, z = 0,
its outflow's velocity in the duct); the plug-flow rows follow with the residence time of
the stirred reactor plus the time in the duct. The tolerances are the batch run's
(``fumivex2.batch``); a failing integration keeps the rows reached (status "failed").
"""
from __future__ import annotations

import math
import time
from typing import Callable, Optional

import numpy as np

from . import results as R
from .batch import (failure_reason, make_reactor, network_atol, profile_columns, set_up,
                    solver_stats, state_row, tables, viscosity_note)
from .cases import Case
from .checks import check_run, element_content, species_table
from .results import RunResult
from .soot_stage import stage
from .species import inlet_summary

__all__ = ["run_psr", "steady_change"]

Progress = Optional[Callable[[float, float], None]]
# a component below these does not count in the steady-state test
Y_NEGLIGIBLE = 1e-10            # mass fraction
SOOT_NEGLIGIBLE_FLOORS = 1e3    # soot variable, in its floors
PRESSURE_COEFF = 0.01           # kg/(s Pa): outflow per pascal above the outlet pressure
# a reactor that kept less than this share of its burning start's temperature rise over
# the inlet has blown out
BURNING_SHARE = 0.1
_PROGRESS_CALLS = 100
# the plug-flow section: z integrated over at least this many intervals; the last row
# reaches the length first short by END_SHORT of the remaining way, then in up to
# END_TRIES steps to within END_TOLERANCE of it
MIN_INTERVALS = 200
END_SHORT = 1e-3
END_TRIES = 5
END_TOLERANCE = 1e-9


def _scales(reactor, model) -> np.ndarray:
    """Per component of the reactor's state, the value below which its changes are not
    counted (see steady_change)."""
    from .network import reactor_phase

    phase = reactor_phase(reactor)
    n = reactor.n_vars
    floor = np.zeros(n)
    k0 = reactor.component_index(phase.species_name(0))
    floor[k0:k0 + phase.n_species] = Y_NEGLIGIBLE
    if model is not None:
        for name, f in zip(R.SOOT_VARIABLES, R.SOOT_FLOORS):
            floor[reactor.component_index(name)] = SOOT_NEGLIGIBLE_FLOORS * getattr(model, f)
    return floor


def steady_change(before: np.ndarray, after: np.ndarray, floor: np.ndarray) -> tuple:
    """(largest relative change of a state component between two states, its index): each
    change relative to the component's magnitude, at least `floor` of it."""
    scale = np.maximum(np.abs(after), floor)
    scale[scale == 0.0] = 1.0
    change = np.abs(after - before) / scale
    i = int(np.argmax(change))
    return float(change[i]), i


def _contents(reactor) -> float:
    """The reactor's gas and soot, kg (a gas-only reactor: its gas)."""
    return float(reactor.mass + getattr(reactor, "soot_mass", 0.0))


def _burns(T: float, T_inlet: float, T_burning: float) -> bool:
    """Whether a reactor at T (K) still burns: above the inlet temperature by at least
    BURNING_SHARE of the way to the burning start's (K)."""
    return T - T_inlet >= BURNING_SHARE * (T_burning - T_inlet)


def _area(case: Case) -> float:
    p = case.psr
    return p.pfr_area if p.pfr_area > 0 else math.pi * p.pfr_diameter ** 2 / 4.0


def _time_to_cover(dz: float, u: float, dudt: float) -> float:
    """The time (s) in which a parcel at velocity u (m/s) that changes at dudt (m/s^2)
    covers dz (m): the root of u t + dudt t^2 / 2 = dz, or dz / u when the change is
    negligible or the parcel would stop first."""
    disc = u * u + 2.0 * dudt * dz
    if abs(dudt) * dz <= 1e-9 * u * u or disc <= 0.0:
        return dz / u
    return 2.0 * dz / (u + math.sqrt(disc))


def run_psr(case: Case, *, progress: Progress = None) -> RunResult:
    """Run a stirred-reactor case (see the module's description).

    Returns a RunResult whose profiles hold the stirred reactor's steady state and, with a
    plug-flow section, `case.output.stations` - 1 rows along it: residence time, z and
    velocity (with a plug-flow section), T, pressure, density, the mole fractions of the key
    species and PAHs and with soot on the soot columns of `results`. The mass fractions of
    every species at the same rows are in ``result.extra["mass_fractions"]``; the time the
    stirred reactor was integrated in ``extra["stirred reactor time [s]"]``, the flow through
    it (gas and soot) in ``extra["mass flow [kg/s]"]``.
    `progress(reached, total)` is called in two stages (with a `stage` method): the stirred
    reactor in residence times, then the plug-flow section in m. Status "completed", "not
    converged" (no steady state within psr.max_residence_times), or "failed" with the rows
    reached. Raises CaseError (or a subclass) for a case that cannot run.
    """
    import cantera as ct

    from .network import reactor_phase

    started = time.perf_counter()
    gas, model, key, pahs = set_up(case, "psr", "stirred-reactor")
    p = case.psr
    tau = p.residence_time
    pfr = p.pfr_length > 0
    atol = network_atol(model, case.integrator.atol)

    # the reservoirs share gas at the inlet state (a reservoir's flows read its phase as it
    # is, so no reactor may share it); the stirred reactor gets its own copy
    inlet_state = gas.TPY
    burning = None
    if p.energy:  # a burning start: the inlet mixture at equilibrium
        gas.equilibrate("HP")
        burning = gas.T
    reactor = make_reactor(gas, model, constant="volume", energy=p.energy, name="psr",
                           clone=True)
    reactor.volume = p.volume
    gas.TPY = inlet_state
    inlet = ct.Reservoir(gas, name="inlet", clone=False)
    outlet = ct.Reservoir(gas, name="outlet", clone=False)
    inlet_content = element_content(species_table(gas), gas.Y)
    # the contents (gas and soot) over the residence time: the gas and the soot then both
    # stay tau on average, and at the steady state as much leaves, mass / tau of it gas
    feed = ct.MassFlowController(inlet, reactor, mdot=lambda t: _contents(reactor) / tau)
    ct.PressureController(reactor, outlet, primary=feed, K=PRESSURE_COEFF)
    net = ct.ReactorNet([reactor])
    net.rtol, net.atol = case.integrator.rtol, atol

    leading = [R.RESIDENCE_TIME] + ([R.Z, R.VELOCITY] if pfr else [])
    columns = profile_columns(leading, key, pahs, model is not None)
    rows, fractions = [], []
    status, notes = "completed", []
    extra = {"summary": {**inlet_summary(gas), "gas viscosity": viscosity_note(reactor, model)},
             "integrator": "CVODES (Cantera)", "atol": float(atol),
             "inlet content [mol/kg]": inlet_content}
    area = _area(case) if pfr else float("nan")

    def add_row(r, residence_time, z=None, velocity=None, keep=True):
        row, Y = state_row(r, model, key, pahs)
        row[R.RESIDENCE_TIME] = residence_time
        if pfr:
            row[R.Z], row[R.VELOCITY] = z, velocity
        if keep:
            rows.append(row)
            fractions.append(Y)
        return row, Y

    # ---- the stirred reactor to its steady state
    stage(progress, "stirred reactor", "residence times")
    change, worst, steady = math.inf, 0, False
    net.initialize()
    floor = _scales(reactor, model)
    before = np.array(net.get_state(), dtype=float)
    done = 0
    last = None   # the row of the state after the last whole residence time
    mdot = gas_flow = float("nan")
    try:
        while done < p.max_residence_times:
            net.advance((done + 1) * tau)
            done += 1
            after = np.array(net.get_state(), dtype=float)
            change, worst = steady_change(before, after, floor)
            before = after
            mdot = _contents(reactor) / tau     # kg/s, gas and soot, through at this state
            gas_flow = float(reactor.mass) / tau  # kg/s, the gas in it
            velocity = gas_flow / (reactor_phase(reactor).density * area) if pfr else None
            last = add_row(reactor, tau, 0.0 if pfr else None, velocity, keep=False)
            if progress is not None:
                progress(float(done), float(p.max_residence_times))
            if change <= p.steady_tolerance:
                steady = True
                break
    except Exception as e:  # Cantera's error, or one of the soot model in a hook
        status = "failed"
        notes.append(f"the stirred reactor's integration stopped at t = {net.time:.6g} s "
                     f"({net.time / tau:.3g} residence times): {failure_reason(e)}"
                     + (f"; the profiles hold its state after {done} residence times"
                        if last else ""))
    extra["stirred reactor time [s]"] = done * tau
    extra["stirred reactor change per residence time [-]"] = change
    extra.update({f"stirred reactor {k}": v for k, v in solver_stats(net).items()})
    if last is not None:
        rows.append(last[0])
        fractions.append(last[1])
    T = reactor_phase(reactor).T
    if status != "failed" and not steady:
        status = "not converged"
        notes.append(f"the stirred reactor is not steady after {done} residence times "
                     f"({done * tau:.4g} s): {net.component_name(worst)} still changes by "
                     f"{change:.2g} of its value per residence time (psr.steady_tolerance "
                     f"{p.steady_tolerance:g})")
    elif steady:
        notes.append(f"stirred reactor steady after {done} residence times "
                     f"({done * tau:.4g} s) at {T:.1f} K")
    if burning is not None and status != "failed" and not _burns(T, inlet_state[0], burning):
        notes.append(f"the stirred reactor does not burn at this residence time (blow-out): "
                     f"from the burning start at {burning:.0f} K it fell to {T:.1f} K, "
                     f"near the inlet's {inlet_state[0]:.1f} K; a longer psr.residence_time "
                     f"keeps it burning")

    # ---- the plug-flow section: a parcel of the outflow
    if pfr and status != "failed":
        stage(progress, "plug-flow section", "m")
        status, note = _plug_flow(case, gas, model, reactor, gas_flow, area, add_row, progress,
                                  status, extra)
        notes.append(note)
    profiles, mass = tables(rows, fractions, columns, R.RESIDENCE_TIME, gas.species_names)
    extra["mass_fractions"] = mass
    extra["mass flow [kg/s]"] = mdot
    return check_run(RunResult(case=case, profiles=profiles, status=status,
                               message="; ".join(notes),
                               run_time=time.perf_counter() - started, extra=extra), gas)


def _plug_flow(case: Case, gas, model, stirred, gas_flow: float, area: float, add_row, progress,
               status: str, extra: dict) -> tuple:
    """Integrate the parcel along the plug-flow section, adding a row at each station;
    (status, note)."""
    import cantera as ct

    from .network import reactor_phase

    p = case.psr
    tau, length = p.residence_time, p.pfr_length
    g = reactor_phase(stirred)
    # the stirred reactor's network is done with, and with it its reservoirs' phase: gas
    gas.TPY = g.T, g.P, g.Y
    parcel = make_reactor(gas, model, constant="pressure",
                          energy=p.pfr_thermal == "adiabatic", name="plug flow", clone=False)
    if model is not None:
        # a value below zero is no soot (a reactor whose soot stays at the floors, where
        # its sources can be negative, settles a little below zero): it enters as zero
        parcel.soot_state = np.maximum(stirred.soot_state, 0.0)
    net = ct.ReactorNet([parcel])
    net.rtol, net.atol = case.integrator.rtol, network_atol(model, case.integrator.atol)
    phase = reactor_phase(parcel)
    m0 = parcel.mass
    extra["plug-flow initial mass [kg]"] = float(m0)

    def velocity():  # m/s: the gas mass flow left after soot took its share
        return gas_flow * (parcel.mass / m0) / (phase.density * area)

    n = case.output.stations - 1
    # sub-steps per row, so that z is integrated over at least MIN_INTERVALS intervals
    sub = max(1, math.ceil(MIN_INTERVALS / n))
    t, z, u, dudt = 0.0, 0.0, velocity(), 0.0
    next_report = 0.0

    def cover(dz):  # advance the parcel over about dz (m) along the duct
        nonlocal t, z, u, dudt
        if dz <= 0.0:  # a step that went past its target: the next one makes up for it
            return
        dt = _time_to_cover(dz, u, dudt)
        net.advance(t + dt)
        u_new = velocity()
        z += 0.5 * (u + u_new) * dt
        dudt = (u_new - u) / dt
        t, u = t + dt, u_new

    try:
        for i in range(1, n + 1):
            for j in range(1, sub + 1):
                target = length * ((i - 1) * sub + j) / (n * sub)
                if i < n or j < sub:
                    cover(target - z)
                    continue
                # the end: most of the way on the prediction, then top up to the length
                cover((1.0 - END_SHORT) * (length - z))
                for _ in range(END_TRIES):
                    if length - z <= END_TOLERANCE * length:
                        break
                    cover(length - z)
            add_row(parcel, tau + t, z, u)
            if progress is not None and (z >= next_report or i == n):
                progress(float(min(z, length)), float(length))
                next_report = z + length / _PROGRESS_CALLS
    except Exception as e:  # Cantera's error, or one of the soot model in a hook
        extra["plug-flow time [s]"] = float(net.time)
        return "failed", (f"the plug-flow section's integration stopped at {net.time:.6g} s in "
                          f"the duct (z about {z:.4g} m): {failure_reason(e)}")
    extra["plug-flow time [s]"] = t
    extra.update({f"plug-flow {k}": v for k, v in solver_stats(net).items()})
    return status, (f"plug-flow section {z:.4g} m ({p.pfr_thermal}) in {t:.4g} s, leaving at "
                    f"{phase.T:.1f} K")
