"""The plug-flow reactor run: a case in, axial profiles of the gas and the soot out.

``run_pfr(case)`` opens the mechanism, sets the inlet, builds the soot model and a
``CPFROde``, integrates it with a stiff integrator down the duct (to the case's length, or
until the gas has spent the case's residence time in it) and returns a ``RunResult`` whose
profiles hold ``case.output.stations`` rows at evenly spaced z.

The integrators: CVODE from scikit-sundae (the default when it is installed: 1.6 times as
fast as SciPy's BDF on the default case with soot, 1.8 times without), SciPy's BDF and
LSODA (slower still). CVODE and BDF get the
Jacobian from ``ReactorJacobian``: the gas block from Cantera's analytic rate derivatives,
the columns the soot model reacts to (temperature, the key species and PAHs, the soot
variables) by finite differences, so that one Jacobian costs about a dozen right-hand-side
evaluations instead of one per state variable.

An integration that fails (a solver error, a non-finite derivative, a step that became too
small, an error of the phase or the soot model) keeps the stations it reached: the result
has status "failed" and says where and why it stopped. Ctrl-C is not caught.

Cantera, SciPy, pandas and scikit-sundae are imported inside the functions.
"""
from __future__ import annotations

import math
import threading
import time
from dataclasses import dataclass
from typing import Callable

import numpy as np

from . import results as R
from .cases import Case, CaseError
from .checks import check_run
from .results import SOOT_VARIABLES, RunResult
from .species import InletError, cantera_message, inlet_summary, parse_composition, \
    set_inlet  # noqa: F401

__all__ = ["run_pfr", "InletError", "set_inlet", "parse_composition", "build_reactor",
           "Reactor", "ReactorJacobian", "available_methods", "choose_method"]

METHODS = ("cvode", "BDF", "LSODA")
_PROGRESS_CALLS = 100       # at most about this many progress reports per run
_STUCK_STEPS = 5000         # a run is stuck when this many steps advance z by less than
_STUCK_FRACTION = 1e-3      # this fraction of the expected length
_USE_JACOBIAN = True        # ReactorJacobian for CVODE and BDF (False: their own differences)


class _IntegrationStop(Exception):
    """Raised inside the right-hand side to stop the integrator (the reason is the text)."""


# ---- the reactor --------------------------------------------------------------------------

@dataclass
class Reactor:
    """A configured reactor: the phase, its CPFROde, the soot model (None with soot off),
    the output species and the inlet state vector."""
    gas: object
    rhs: object
    model: object
    key: tuple          # (model name, mechanism index) of the key species found
    pahs: tuple         # (mechanism name, mechanism index) of the PAHs
    y0: np.ndarray      # [residence time, mass flux, T, Y..., soot block]
    length: float       # m: the end of the duct, or a bound when the stop is a residence time

    @property
    def soot(self) -> bool:
        return self.model is not None

    @property
    def n_species(self) -> int:
        return len(self.gas.species_names)


def build_reactor(case: Case) -> Reactor:
    """Phase, soot model and CPFROde of a plug-flow case, with the inlet state vector."""
    from ._fumivex2 import CPFROde
    from .species import case_soot_model, open_mechanism, report_species, set_inlet
    from .viscosity import ViscositySolution

    if case.kind != "pfr":
        raise CaseError(f"case {case.name!r} is a {case.kind} case: run it with run_flame")
    # the same phase, whose viscosity (read by CPFROde at every point) the extension
    # computes from the species fits when the transport model allows (fumivex2.viscosity)
    gas = ViscositySolution(origin=open_mechanism(case.mechanism.file, case.mechanism.phase))
    set_inlet(gas, case.inlet)
    model = case_soot_model(gas, case) if case.soot.enabled else None
    key, pahs = report_species(gas, case, model)

    rc = case.reactor
    rhs = CPFROde(gas)
    if model is not None:
        rhs.soot_model = model
        rhs._enable_wall_deposition = bool(rc.wall_deposition)
    rhs.soot_enabled = model is not None
    if rc.perimeter == 0.0 and rc.area == 0.0:
        rhs.area, rhs.perimeter = math.pi * rc.diameter ** 2 / 4.0, math.pi * rc.diameter
    else:
        rhs.area, rhs.perimeter = rc.area, rc.perimeter
    tc = case.temperature
    if tc.mode == "wall":
        rhs._use_temp_value = True
        rhs.temp_value = np.array(tc.wall_profile, dtype=float)
    else:
        rhs._use_temp_time_history = True
        rhs.time_derivative_temp_history = np.array(tc.history, dtype=float)
    rhs.initialize()

    G = rc.mass_flux if rc.mass_flux > 0 else gas.density * rc.velocity   # kg/(m2 s)
    parts = [[0.0, G, gas.T], gas.Y]
    if model is not None:
        parts.append([model.N_agg_min, model.N_pri_min, model.C_tot_min, model.H_tot_min])
    y0 = np.hstack(parts).astype(float)
    if rc.residence_time > 0:
        # the stop is the residence time; the duct is long enough for any plausible speed-up
        length = 1000.0 * rc.residence_time * G / gas.density
    else:
        length = rc.length
    return Reactor(gas, rhs, model, key, pahs, y0, float(length))


# ---- tolerances ---------------------------------------------------------------------------

# absolute tolerances of the components whose scale does not depend on the case
ATOL_RESIDENCE_TIME = 1e-12   # s
ATOL_MASS_FLUX = 1e-12        # of the inlet mass flux
ATOL_TEMPERATURE = 1e-6       # K


def absolute_tolerances(reactor: Reactor, atol_species: float) -> np.ndarray:
    """The integrator's absolute tolerance per state component, each on its own scale:
    residence time 1e-12 s, mass flux 1e-12 of the inlet's, temperature 1e-6 K, the mass
    fractions `atol_species` (the case's integrator.atol), and each soot variable its floor
    in the soot model (mol/kg): the model reads every smaller value as the floor, so
    differences below it have no meaning, while one tolerance for all (1e-20) left the
    soot block uncontrolled near its floors (1e-24 to 1e-21 mol/kg)."""
    K = reactor.n_species
    atol = np.empty(reactor.y0.size)
    atol[0] = ATOL_RESIDENCE_TIME
    atol[1] = ATOL_MASS_FLUX * abs(reactor.y0[1])
    atol[2] = ATOL_TEMPERATURE
    atol[3:3 + K] = atol_species
    if reactor.soot:
        m = reactor.model
        atol[3 + K:] = [m.N_agg_min, m.N_pri_min, m.C_tot_min, m.H_tot_min]
    return atol


# ---- Jacobian -----------------------------------------------------------------------------

class ReactorJacobian:
    """dF/dy of a CPFROde right-hand side F at (z, y).

    The gas block comes from Cantera's analytic derivatives of the net production rates
    (with respect to concentrations and temperature), chained through the density to
    mass fractions; the residence-time and mass-flux columns are exact (nothing depends on
    the residence time, everything else on the mass flux as 1/G). The columns of the
    variables the soot model and the wall heat react to, temperature, the key species,
    the PAHs and the four soot variables, are forward differences of F, which carry all
    the soot coupling. Dependences of the soot rows on the other species (through the
    density, viscosity and mean molar mass only) are left out: the Newton iteration of a
    stiff integrator needs a good Jacobian, not an exact one."""

    def __init__(self, reactor: Reactor, fun: Callable, typical: np.ndarray):
        self.r = reactor
        self.fun = fun
        # below this magnitude a component is resolved only absolutely (atol / rtol): the
        # smallest difference step of each column, on the integrator's own scale
        self.typical = np.asarray(typical, dtype=float)
        K = reactor.n_species
        self.K = K
        self.n = reactor.y0.size
        cols = [2]
        if reactor.soot:
            cols += [3 + i for _, i in reactor.key] + [3 + i for _, i in reactor.pahs]
            cols += list(range(3 + K, 3 + K + 4))
        self.fd_columns = np.array(sorted(set(cols)), dtype=int)
        self.W = np.asarray(reactor.gas.molecular_weights, dtype=float)   # kg/kmol
        rhs = reactor.rhs
        D_h = 4.0 * rhs.area / rhs.perimeter
        # d(external heat)/dT, W/(m3 K): the wall conductance of the wall-profile mode
        self.dq_dT = -(rhs.perimeter / rhs.area) * (rhs.Nu_const_temp * 1e10 / D_h)
        self.wall = bool(rhs._use_temp_value)
        self.evaluations = 0

    def __call__(self, z: float, y: np.ndarray, f0: np.ndarray | None = None) -> np.ndarray:
        if f0 is None:
            f0 = self.fun(z, y)
        else:
            self.fun(z, y)           # the phase must hold this state
        gas, K = self.r.gas, self.K
        J = np.zeros((self.n, self.n))
        G, T = y[1], y[2]
        rho = gas.density
        rho_u = rho * self.r.rhs.u                           # kg/(m2 s)
        W = self.W
        Wbar = gas.mean_molecular_weight
        C = gas.concentrations                                # kmol/m3
        dC = _rate_derivatives(gas)                          # d(omega_i)/dC_j, 1/s
        dC_C = dC @ C
        # d(omega)/dY at constant T, P: C_i = rho Y_i / W_i, d(rho)/dY_j = -rho Wbar / W_j
        # (the same products on the dense copy: a quarter of the time of sparse multiply)
        A = (dC if isinstance(dC, np.ndarray) else _dense(dC)) * (rho / W)[None, :]
        A -= np.outer(dC_C, Wbar / W)
        dw_dT = np.asarray(gas.net_production_rates_ddT) - dC_C / T
        Ys = slice(3, 3 + K)
        J[Ys, Ys] = (W / rho_u)[:, None] * A
        J[Ys, 2] = W / rho_u * dw_dT
        if self.wall:
            cp = gas.cp_mass
            h = gas.partial_molar_enthalpies                  # J/kmol
            J[2, Ys] = -(h @ A) / (rho_u * cp)
        else:
            J[2, Ys] = -f0[2] * Wbar / W
        J[0, Ys] = -f0[0] * Wbar / W
        J[0, 2] = -f0[0] / T
        J[:, 1] = -f0 / G
        J[1, 1] = 0.0
        # finite-difference columns: the full coupling of T, key species, PAHs and soot
        for j in self.fd_columns:
            yj = y[j]
            d = 1.5e-8 * max(abs(yj), self.typical[j])
            yp = y.copy()
            yp[j] = yj + d
            d = yp[j] - yj
            J[:, j] = (self.fun(z, yp) - f0) / d
        self.fun(z, y)               # leave the phase and the model at y
        self.evaluations += 1
        return J


def _rate_derivatives(gas):
    """d(net production rates)/d(concentrations) of the phase's state. Cantera builds this
    matrix sparse and converts it to a dense array slowly (about 1.3 ms against 0.16 ms
    for the sparse matrix with 101 species), so it is read in sparse form; the sparse
    switch of Cantera is process-wide and is put back as it was."""
    try:
        import cantera._utils as cu
        cu._USE_SPARSE  # noqa: B018 (present in this Cantera version?)
    except (ImportError, AttributeError):
        return np.asarray(gas.net_production_rates_ddCi)
    import cantera as ct
    with _SPARSE_SWITCH:  # runs in threads of one process (Dask) switch it one at a time
        previous = bool(cu._USE_SPARSE)
        try:
            ct.use_sparse(True)
            return gas.net_production_rates_ddCi
        finally:
            ct.use_sparse(previous)


_SPARSE_SWITCH = threading.Lock()


def _dense(matrix) -> np.ndarray:
    return np.asarray(matrix.toarray())


# ---- integrators --------------------------------------------------------------------------

def available_methods() -> tuple:
    """The integrators that can run here."""
    try:
        import sksundae.cvode  # noqa: F401
        return METHODS
    except ImportError:
        return METHODS[1:]


def choose_method(method: str) -> str:
    """The integrator for a case's integrator.method ('auto': CVODE when scikit-sundae is
    installed, measured 1.6-1.8 times as fast as BDF on the default case; else BDF)."""
    available = available_methods()
    if method == "auto":
        return available[0]
    if method not in METHODS:
        raise CaseError(f"integrator.method is {method!r}: use one of 'auto', "
                        f"{', '.join(map(repr, METHODS))}")
    if method not in available:
        raise CaseError("integrator.method is 'cvode' but scikit-sundae is not installed: "
                        "pip install scikit-sundae, or use method 'BDF'")
    return method


class _SciPyStepper:
    """A SciPy OdeSolver advanced one step at a time, keeping each step's interpolant."""

    def __init__(self, method, fun, jac, y0, z_end, rtol, atol, max_step):
        from scipy.integrate import BDF, LSODA
        cls = {"BDF": BDF, "LSODA": LSODA}[method]
        kw = dict(rtol=rtol, atol=atol, max_step=max_step if max_step > 0 else np.inf)
        if jac is not None and method == "BDF":
            kw["jac"] = jac
        self.solver = cls(fun, 0.0, y0, z_end, **kw)
        self.ts, self.pieces = [0.0], []

    @property
    def t(self):
        return self.solver.t

    @property
    def y(self):
        return self.solver.y

    def step(self):
        message = self.solver.step()
        if self.solver.status == "failed":
            raise _IntegrationStop(str(message))
        self.ts.append(self.solver.t)
        self.pieces.append(self.solver.dense_output())

    def last_step(self, z):
        return self.pieces[-1](z)

    def history(self, zs):
        from scipy.integrate import OdeSolution
        return OdeSolution(np.array(self.ts), self.pieces)(zs).T

    def stats(self):
        s = self.solver
        return {"rhs evaluations": int(s.nfev), "jacobians": int(s.njev),
                "steps": len(self.ts) - 1}


class _CVODEStepper:
    """scikit-sundae's CVODE in one-step mode, with a user Jacobian."""

    def __init__(self, fun, jac, y0, z_end, rtol, atol, max_step):
        from sksundae.cvode import CVODE

        def rhsfn(t, y, yp):
            yp[:] = fun(t, y)

        kw = dict(rtol=rtol, atol=atol, max_step=max_step, max_num_steps=20_000)
        if jac is not None:
            def jacfn(t, y, yp, JJ):
                JJ[:, :] = jac(t, y, yp)
            kw["jacfn"] = jacfn
        self.solver = CVODE(rhsfn, **kw)
        self.z_end = z_end
        self.fun = fun
        r = self.solver.init_step(0.0, y0)
        self.t, self.y = 0.0, np.array(y0, dtype=float)
        self.ts, self.ys = [0.0], [self.y]
        self._f = {}
        self._stale = False
        self._last = r
        if not r.success:
            raise _IntegrationStop(r.message)

    def step(self):
        for _ in range(2):    # after an interpolation CVODE first returns its current point
            r = self.solver.step(self.z_end, method="onestep", tstop=self.z_end)
            self._last = r
            if not r.success:
                raise _IntegrationStop(r.message)
            t = float(np.atleast_1d(r.t)[-1])
            if t > self.t or not self._stale:
                break
        self._stale = False
        y = np.array(r.y, dtype=float).reshape(-1, self.y.size)[-1]
        if not t > self.t:
            raise _IntegrationStop("step size too small")
        self.t, self.y = t, y
        self.ts.append(t)
        self.ys.append(y)

    def advance_to(self, z):
        """The state at z, CVODE stepping on its own up to there."""
        r = self.solver.step(z, tstop=self.z_end)
        self._last = r
        t = float(np.atleast_1d(r.t)[-1])
        y = np.array(r.y, dtype=float).reshape(-1, self.y.size)[-1]
        if np.isfinite(y).all() and t >= self.t:
            self.t, self.y = t, y
        if not r.success:
            raise _IntegrationStop(r.message)
        return y

    def last_step(self, z):
        if z >= self.t:
            return self.y.copy()
        self._stale = True
        r = self.solver.step(z)
        if not r.success:
            raise _IntegrationStop(r.message)
        return np.array(r.y, dtype=float).reshape(-1, self.y.size)[-1]

    def _slope(self, k):
        if k not in self._f:
            self._f[k] = self.fun(self.ts[k], self.ys[k])
        return self._f[k]

    def history(self, zs):
        """Values at zs from the accepted steps: cubic Hermite interpolation between steps
        with the right-hand side at both ends."""
        ts = np.array(self.ts)
        out = np.empty((len(zs), self.y.size))
        for n, z in enumerate(zs):
            k = int(np.clip(np.searchsorted(ts, z) - 1, 0, len(ts) - 2)) if len(ts) > 1 else 0
            if len(ts) == 1:
                out[n] = self.ys[0]
                continue
            t0, t1 = ts[k], ts[k + 1]
            h = t1 - t0
            s = (z - t0) / h
            f0, f1 = self._slope(k), self._slope(k + 1)
            h00, h10 = 2 * s**3 - 3 * s**2 + 1, s**3 - 2 * s**2 + s
            h01, h11 = -2 * s**3 + 3 * s**2, s**3 - s**2
            out[n] = h00 * self.ys[k] + h10 * h * f0 + h01 * self.ys[k + 1] + h11 * h * f1
        return out

    def stats(self):
        out = {}
        if self._last is not None:
            out.update({"rhs evaluations": int(self._last.nfev),
                        "jacobians": int(self._last.njev)})
        return out


# ---- the run ------------------------------------------------------------------------------

def run_pfr(case: Case, *, progress: Callable[[float, float], None] | None = None) -> RunResult:
    """Run a plug-flow reactor case.

    Returns a RunResult whose profiles (a pandas DataFrame) hold `case.output.stations`
    rows at evenly spaced z from the inlet to the end of the run: z, residence time, T,
    velocity, mass flux, density, the mole fractions of the seven key species (by the
    soot model's names: X_C2H2 ...) and of the PAHs (by their mechanism names), and with
    soot on the soot columns of `results` (N_agg ... inception rate). The mass fractions of
    every species at the same stations are in ``result.extra["mass_fractions"]`` (z and
    one "Y_<name> [-]" column per species), with which element fluxes can be balanced.

    `progress(z_reached, z_total)` (m) is called about a hundred times as the integration
    advances; when the stop is a residence time, z_total is the length extrapolated from
    the residence time reached so far. Status "completed", or "failed" with the stations
    reached and a message "integration stopped at z = ... m (t = ... s): <reason>".
    Raises CaseError (or a subclass) for a case that cannot run.
    """
    import pandas as pd

    started = time.perf_counter()
    reactor = build_reactor(case)
    inputs = inlet_summary(reactor.gas)  # the phase is at the inlet state until integrated
    inputs["inlet mass flux [kg/(m2 s)]"] = float(reactor.y0[1])
    inputs["inlet velocity [m/s]"] = float(reactor.y0[1]) / float(reactor.gas.density)
    method = choose_method(case.integrator.method)
    set_up = time.perf_counter()
    rhs = reactor.rhs
    ic = case.integrator

    dot, ones = np.dot, np.ones(reactor.y0.size)

    def fun(z, y):
        try:
            dy = rhs(z, y)
        except Exception as e:   # the phase's, the model's or NumPy's error at this state
            raise _IntegrationStop(f"{type(e).__name__}: {cantera_message(e)}") from e
        # the sum is finite when every component is (a dot product: a third of the cost of
        # isfinite); when it is not, a component is not finite or the sum overflowed: look
        if not math.isfinite(dot(dy, ones)) and not np.isfinite(dy).all():
            bad = int(np.flatnonzero(~np.isfinite(dy))[0])
            raise _IntegrationStop(f"non-finite derivative of {_state_name(reactor, bad)}")
        return dy

    atol = absolute_tolerances(reactor, ic.atol)
    jac = None
    jacobian = ReactorJacobian(reactor, fun, atol / ic.rtol) \
        if _USE_JACOBIAN and method in ("cvode", "BDF") else None
    if jacobian is not None:
        jac = (lambda z, y, f0=None: jacobian(z, y, f0))

    tres = case.reactor.residence_time
    z_end = reactor.length
    stations = case.output.stations
    status, reason = "completed", ""
    known = tres <= 0            # stations known in advance (a length stop)
    z_st = np.linspace(0.0, z_end, stations) if known else None
    rows_z: list = []
    rows_y: list = []
    next_report = 0.0
    z_stop = None
    stepper = None
    # the expected length (m), against which a stuck integrator is recognised
    scale = z_end if known else tres * reactor.y0[1] / reactor.gas.density
    try:
        if method == "cvode":
            stepper = _CVODEStepper(fun, jac, reactor.y0, z_end, ic.rtol, atol, ic.max_step)
        else:
            stepper = _SciPyStepper(method, fun, jac, reactor.y0, z_end, ic.rtol, atol,
                                    ic.max_step)
        if known:
            rows_z.append(0.0)
            rows_y.append(reactor.y0.copy())
        steps, z_checked = 0, 0.0
        if known and isinstance(stepper, _CVODEStepper):
            # CVODE runs its own step loop to each station and interpolates there
            for zi in z_st[1:]:
                y = stepper.advance_to(zi)
                rows_z.append(zi)
                rows_y.append(y)
                if progress is not None and zi >= next_report:
                    progress(float(zi), z_end)
                    next_report = zi + z_end / _PROGRESS_CALLS
        while stepper.t < z_end:
            z_prev = stepper.t
            stepper.step()
            steps += 1
            z, y = stepper.t, stepper.y
            if not np.isfinite(y).all():
                raise _IntegrationStop("the state became non-finite")
            if steps % _STUCK_STEPS == 0:
                if z - z_checked < _STUCK_FRACTION * scale:
                    raise _IntegrationStop(f"the integrator is stuck: {_STUCK_STEPS} steps "
                                           f"advanced z by only {z - z_checked:.3g} m")
                z_checked = z
            if not known and y[0] >= tres:
                z_stop = _crossing(stepper, z_prev, z, tres)
                if progress is not None:
                    progress(float(z_stop), float(z_stop))
                break
            if known:
                i = len(rows_z)
                while i < stations and z_st[i] <= z:
                    rows_z.append(z_st[i])
                    rows_y.append(stepper.last_step(z_st[i]))
                    i += 1
            if progress is not None and z >= next_report:
                total = z_end if known else z * tres / max(y[0], 1e-300)
                progress(float(min(z, total)), float(total))
                next_report = z + total / _PROGRESS_CALLS
        else:
            if not known:
                status = "failed"
                reason = (f"the residence time {tres:g} s was not reached within "
                          f"{z_end:g} m")
            elif progress is not None:
                progress(z_end, z_end)
    except _IntegrationStop as e:
        status, reason = "failed", str(e)
    if stepper is None:
        z_reached, y_reached = 0.0, reactor.y0
    else:
        z_reached, y_reached = stepper.t, stepper.y

    integrated = time.perf_counter()
    # station values
    if known:
        zs, ys = np.array(rows_z), np.array(rows_y).reshape(len(rows_z), -1)
        if status == "failed" and (len(zs) == 0 or z_reached > zs[-1]) and \
                np.isfinite(y_reached).all():
            zs, ys = np.append(zs, z_reached), np.vstack([ys, y_reached])
    else:
        z_last = z_stop if z_stop is not None else z_reached
        zs = np.linspace(0.0, z_last, stations) if z_last > 0 else np.zeros(1)
        ys = stepper.history(zs) if stepper is not None and z_last > 0 \
            else reactor.y0[None, :].copy()
    profiles, fractions = _profiles(reactor, zs, ys, pd)

    run_time = time.perf_counter() - started
    inputs["gas viscosity"] = _viscosity_note(reactor)
    extra = {"summary": inputs, "integrator": method, "mass_fractions": fractions,
             "set-up time [s]": set_up - started, "integration time [s]": integrated - set_up}
    if stepper is not None:
        extra.update(stepper.stats())
    if jacobian is not None:
        extra["jacobians"] = jacobian.evaluations
    if status == "failed":
        t_reached = float(y_reached[0]) if np.isfinite(y_reached[0]) else float("nan")
        message = (f"integration stopped at z = {z_reached:.6g} m (t = {t_reached:.6g} s): "
                   f"{reason}")
    else:
        last = zs[-1]
        message = (f"reached z = {last:.6g} m (residence time {ys[-1][0]:.6g} s) with "
                   f"{method}")
    result = RunResult(case=case, profiles=profiles, status=status, message=message,
                       run_time=run_time, extra=extra)
    return check_run(result, reactor.gas)


def _viscosity_note(reactor: Reactor) -> str:
    """How the gas viscosity the soot model reads was computed."""
    from .viscosity import NOT_USED

    return reactor.gas.viscosity_method if reactor.soot else NOT_USED


def _crossing(stepper, z0, z1, tres):
    """z in [z0, z1] where the residence time reaches tres (on the step's interpolant)."""
    from scipy.optimize import brentq

    def g(z):
        return stepper.last_step(z)[0] - tres
    if g(z0) >= 0:
        return z0
    return float(brentq(g, z0, z1, xtol=1e-12 * max(z1, 1e-300), rtol=1e-12))


def _state_name(reactor: Reactor, i: int) -> str:
    K = reactor.n_species
    if i < 3:
        return ("residence time", "mass flux", "temperature")[i]
    if i < 3 + K:
        return f"Y_{reactor.gas.species_names[i - 3]}"
    return SOOT_VARIABLES[i - 3 - K]


def _profiles(reactor: Reactor, zs, ys, pd):
    """The profile table and the mass-fraction table at the stations: the right-hand side is
    evaluated at each one so that the phase and the soot model hold that state."""
    gas, rhs, model = reactor.gas, reactor.rhs, reactor.model
    K = reactor.n_species
    rows, fractions = [], []
    for z, y in zip(zs, ys):
        row = {R.Z: float(z), R.RESIDENCE_TIME: float(y[0])}
        ok = np.isfinite(y).all()
        if ok:
            try:
                rhs(float(z), y)
            except Exception:
                ok = False
        if ok:
            row.update({R.T: float(y[2]), R.VELOCITY: float(rhs.u), R.MASS_FLUX: float(y[1]),
                        R.DENSITY: float(gas.density)})
            X = gas.X
            for name, i in reactor.key:
                row[R.species_column(name)] = float(X[i])
            for name, i in reactor.pahs:
                row[R.species_column(name)] = float(X[i])
            if model is not None:
                row.update({k: float(v) for k, v in
                            R.soot_state_columns(model, gas.density, y[3 + K:]).items()})
            fractions.append(np.asarray(y[3:3 + K], dtype=float))
        else:
            fractions.append(np.full(K, np.nan))
        rows.append(row)
    columns = [R.Z, R.RESIDENCE_TIME, R.T, R.VELOCITY, R.MASS_FLUX, R.DENSITY]
    columns += [R.species_column(n) for n, _ in reactor.key]
    columns += [R.species_column(n) for n, _ in reactor.pahs]
    if model is not None:
        columns += [R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT, R.FV, R.NUMBER, R.D_P, R.D_M, R.N_P,
                    R.HC, R.INCEPTION]
    profiles = pd.DataFrame(rows, columns=columns)
    mass = pd.DataFrame(np.array(fractions).reshape(len(zs), K),
                        columns=[f"Y_{n} [-]" for n in gas.species_names])
    mass.insert(0, R.Z, np.asarray(zs, dtype=float))
    return profiles, mass
