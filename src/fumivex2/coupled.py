"""Species and soot of a flame solved together: the gas feels what the soot takes.

``solve_coupled(gas, flame, model)`` takes a converged Cantera flame (a ``BurnerFlame``, with
its temperature imposed or computed, or a ``CounterflowDiffusionFlame``) and solves, on the
flame's own grid, the gas species and the four soot variables together, with the flame's
temperature and mass flux (and a counterflow flame's spread rate) held at Cantera's values:

- species rows as Cantera's one-dimensional flow writes them (upwind convection,
  mixture-averaged diffusion in the mole-fraction gradient with the correction flux, the
  inlet and outlet rows), plus the soot's exchange with the gas: the scrubbing rates of
  the soot model as mass sources of each species, the hydrogen the soot model does not
  account for given to H2 so that the gas loses exactly the mass the soot gains, and the
  dilution term -Y_k m_s (the plug-flow reactor's form);
- soot rows in flux form: convection by the held mass flux as the species rows write it,
  diffusion and thermophoresis as fluxes through the faces between points (the mean of the
  two points' rho D and mu / T), the sources at the points, inlet rows that balance the
  flux through the first face against what the entering gas carries; so the elements of
  gas and soot together leave as they enter (to round-off on an even grid). The soot
  model reads the gas of the current state (density from the ideal gas at the local mean
  molar mass, the mixture viscosity, the mole fractions). The one-way soot, the start of
  the solve, is the steady soot solve's (``solve_steady``), whose rows take each point's
  own rho D and the thermophoretic drift in upwind form.

The soot's mass (about 1e-3 of the gas's) is left out of continuity: the mass flux stays
Cantera's. The temperature is held: no energy equation, no soot radiation.

The solve starts from Cantera's species with the soot solved one way on them (the soot's
exchange with the gas switched off: the result reported as ``one_way_soot``), then damped
Newton on the block-tridiagonal system of the K + 4 unknowns of each point, with implicit
pseudo-time steps where Newton stalls; Cantera's analytic rate derivatives give the gas's
chemistry blocks, the diffusion coefficients are updated with every Jacobian and before a
state is accepted, the soot model's dependence on the gas and on its own variables is
differenced. ``refine`` adds grid points where the soot profiles need them (slope and
curvature of the soot variables, as Cantera's criteria on its own variables) and solves
again on the finer grid.

Cantera and NumPy are imported inside the functions that need them.
"""
from __future__ import annotations

import math
import time
from dataclasses import dataclass, field
from typing import Optional

__all__ = ["CoupledFlameProblem", "CoupledResult", "solve_coupled", "coupled_residual",
           "flame_problem", "SOOT_VARIABLES"]

SOOT_VARIABLES = ("N_agg", "N_pri", "C_tot", "H_tot")


@dataclass
class CoupledFlameProblem:
    """The flame as the extension's coupled solve reads it (see coupled_flame.cpp): grid
    z (m), held temperature T (K), mass flux rho_u (kg/(m2 s)), the density rho (kg/m3,
    the time term of pseudo-time steps), the pressure P (Pa), the inlets (mass flux,
    mass fractions, soot values in mol/kg) and the soot's exchange with the gas."""
    gas: object
    soot_model: object
    viscosity: object
    z: object
    T: object
    rho_u: object
    rho: object
    P: float
    mdot_left: float
    Y_left: object
    N_left: object
    right_inlet: bool = False
    mdot_right: float = 0.0
    Y_right: object = None
    N_right: object = None
    gas_sources: bool = True
    H2_index: int = -1
    W_C: float = 0.0
    W_H: float = 0.0
    V: object = None   # spread rate of a stagnation flow, 1/s (reported, not solved)


@dataclass
class CoupledResult:
    """A coupled solve of a flame.

    grid (m), T (K), rho_u (kg/(m2 s)), V (1/s, counterflow; None for a burner flame) are
    the held fields on the solve's grid; Y (K x n) the mass fractions, soot (4 x n, mol/kg:
    N_agg, N_pri, C_tot, H_tot) the soot; density (kg/m3) the ideal-gas density of the
    answer; scrub (K x n, kmol/(m3 s)) the soot model's scrubbing rates, exchange (K x n,
    kg/(m3 s)) the mass the soot gives each species (H2's closure included), m_s (kg/(m3 s))
    their sum (negative where soot forms); one_way_soot (4 x n) the soot solved on the
    starting species without the exchange (on the final grid), one_way_Y the starting
    species there. converged says whether the scaled residual of the full coupled system
    (recomputed at the answer with its own diffusion coefficients) is below rtol; the
    counts add up over the grids solved (grids: their point counts)."""
    kind: str
    grid: object
    T: object
    rho_u: object
    V: object
    P: float
    Y: object
    soot: object
    density: object
    scrub: object
    exchange: object
    m_s: object
    one_way_soot: object
    one_way_Y: object
    species_names: list
    converged: bool
    residual: float
    rtol: float
    message: str
    iterations: int = 0
    time_steps: int = 0
    jacobians: int = 0
    rejected: int = 0
    evaluations: int = 0
    seconds: float = 0.0
    seconds_cantera: float = 0.0      # in Cantera's rates, rate derivatives and transport
    seconds_soot_model: float = 0.0   # in the soot model
    one_way_seconds: float = 0.0
    max_soot_mass_ratio: float = 0.0  # largest soot mass per gas mass, kg/kg
    start: str = ""                   # the starting soot of the solve that converged (or the last)
    molecular_weights: object = None  # kg/kmol, K
    grids: list = field(default_factory=list)
    reports: list = field(default_factory=list)

    @property
    def X(self):
        """Mole fractions (K x n) of the answer."""
        import numpy as np
        W = np.asarray(self.molecular_weights, dtype=float)[:, None]
        Y = np.asarray(self.Y, dtype=float)
        return (Y / W) / np.sum(Y / W, axis=0)


def _soot_floors(model):
    return [abs(float(getattr(model, v + "_min"))) for v in SOOT_VARIABLES]


def flame_problem(gas, flame, model, *, viscosity="auto", gas_sources: bool = True,
                  hydrogen_closure: bool = True) -> CoupledFlameProblem:
    """The coupled problem of a converged Cantera flame on its own grid: a BurnerFlame
    (outflow on the right) or a CounterflowDiffusionFlame (inlets at both ends; fuel on the
    left). Soot enters through every inlet at the model's floors. Raises ValueError for a
    flame this solve does not mirror (multicomponent or mass-basis diffusion, the Soret
    effect, a soot model that carries pseudo-species in the gas)."""
    import numpy as np

    from .viscosity import mixture_viscosity

    if flame.transport_model not in ("mixture-averaged", "mixture-averaged-CK"):
        raise ValueError(f"the coupled solve mirrors mixture-averaged diffusion; this flame "
                         f"uses {flame.transport_model!r} transport")
    if getattr(flame.flame, "flux_gradient_basis", "molar") != "molar":
        raise ValueError("the coupled solve mirrors diffusion in the mole-fraction gradient; "
                         "this flame's flux_gradient_basis is 'mass'")
    if flame.soret_enabled:
        raise ValueError("the coupled solve has no thermal diffusion (Soret effect)")
    for switch in ("steady_state_physical_dimerization", "steady_state_PAH_adsorption"):
        if not bool(getattr(model, switch)):
            raise ValueError(f"the coupled solve needs the soot model's {switch} on (its "
                             f"pseudo-species are not carried in the flame)")
    if gas.n_species != flame.gas.n_species or \
            list(gas.species_names) != list(flame.gas.species_names):
        raise ValueError("the phase and the flame's phase have different species")
    z = np.array(flame.grid, dtype=float)
    rho = np.array(flame.density, dtype=float)
    rho_u = rho * np.array(flame.velocity, dtype=float)
    floors = np.array(_soot_floors(model), dtype=float)
    if viscosity == "auto":
        viscosity = mixture_viscosity(gas)
    H2 = int(model.H2_index) if hydrogen_closure else -1
    common = dict(gas=gas, soot_model=model, viscosity=viscosity, z=z,
                  T=np.array(flame.T, dtype=float), rho_u=rho_u, rho=rho, P=float(flame.P),
                  N_left=floors.copy(), gas_sources=gas_sources, H2_index=H2,
                  W_C=float(gas.atomic_weight("C")) / 1000.0,
                  W_H=float(gas.atomic_weight("H")) / 1000.0)
    if hasattr(flame, "burner"):
        return CoupledFlameProblem(mdot_left=float(flame.burner.mdot),
                                   Y_left=np.array(flame.burner.Y, dtype=float), **common)
    if hasattr(flame, "fuel_inlet") and hasattr(flame, "oxidizer_inlet"):
        return CoupledFlameProblem(mdot_left=float(flame.fuel_inlet.mdot),
                                   Y_left=np.array(flame.fuel_inlet.Y, dtype=float),
                                   right_inlet=True, mdot_right=float(flame.oxidizer_inlet.mdot),
                                   Y_right=np.array(flame.oxidizer_inlet.Y, dtype=float),
                                   N_right=floors.copy(),
                                   V=np.array(flame.spread_rate, dtype=float), **common)
    raise ValueError(f"the coupled solve takes a BurnerFlame or a CounterflowDiffusionFlame, "
                     f"not a {type(flame).__name__}")


def coupled_residual(problem: CoupledFlameProblem, Y, soot, *, transport=None) -> dict:
    """The rows of the coupled system at mass fractions Y (K x n) and soot (4 x n), with
    that state's own diffusion coefficients (those of the mass fractions `transport` when
    given): a dict with F and weight ((K + 4) x n; species rows first, kg/(m3 s), the rows
    sum Y - 1 of the most abundant species at each end dimensionless, soot rows mol/(m3 s)),
    residual (the largest |F| weight), worst_point, worst_component, and per point rho,
    mu, u_soot (the soot's velocity, m/s), wdot, scrub, exchange, m_s, and the diffusive
    mass fluxes at the midpoints (flux, K x (n - 1))."""
    from ._fumivex2 import _coupled_flame_residual
    kwargs = {} if transport is None else {"transport": transport}
    with _exact_rate_derivatives(problem.gas):
        return _coupled_flame_residual(problem, Y, soot, **kwargs)


class _exact_rate_derivatives:
    """Cantera's rate derivatives without their approximations (third-body and falloff
    terms included) while the solve runs, in Cantera's sparse form when SciPy is there
    (half the time of the dense form on the shipped mechanism); the phase's settings and
    state, and Cantera's choice of output, restored after. Measured on the default burner
    flame: the approximate derivatives differ from finite differences by 5 %, the exact
    ones by 4e-9."""

    def __init__(self, gas):
        self.gas = gas

    def __enter__(self):
        import cantera as ct

        self.settings = dict(self.gas.derivative_settings)
        self.state = self.gas.TPY
        self.gas.derivative_settings = {"skip-third-bodies": False, "skip-falloff": False}
        self.sparse = None
        try:
            from cantera import _utils
            before = bool(_utils._USE_SPARSE)
            import scipy.sparse  # noqa: F401
            ct.use_sparse(True)
            self.sparse = before
        except Exception:  # no SciPy, or a Cantera that keeps the setting elsewhere
            pass
        return self

    def __exit__(self, *exc):
        import cantera as ct

        if self.sparse is not None:
            ct.use_sparse(self.sparse)
        self.gas.derivative_settings = self.settings
        self.gas.TPY = self.state
        return False


def _refine(problem: CoupledFlameProblem, Y, soot, *, slope: float, curve: float,
            ratio: float, max_points: int):
    """Midpoints to insert where the soot profiles need them, by Cantera's criteria on
    each soot variable v: a jump |v_j+1 - v_j| above slope (max v - min v), a change of
    the slope between neighbouring intervals above curve (max - min of the slopes), and
    neighbouring spacings in a ratio above `ratio`. Returns the new problem, Y and soot
    (fields and state interpolated linearly), or None when no point is needed."""
    import numpy as np

    z = np.asarray(problem.z, dtype=float)
    n = len(z)
    dz = np.diff(z)
    split = np.zeros(n - 1, dtype=bool)
    for v in np.asarray(soot, dtype=float):
        span = v.max() - v.min()
        if not span > 0:
            continue
        split |= np.abs(np.diff(v)) > slope * span
        s = np.diff(v) / dz
        sspan = s.max() - s.min()
        if sspan > 0:
            big = np.abs(np.diff(s)) > curve * sspan
            if not problem.right_inlet:
                # the outflow rows set the last slope to zero: a kink no point resolves
                # (each pass would halve the last interval, down to nothing)
                big[-1] = False
            split[:-1] |= big
            split[1:] |= big
    room = max_points - n
    where = np.nonzero(split)[0][:max(room, 0)]
    z_new = np.sort(np.concatenate([z, 0.5 * (z[where] + z[where + 1])]))
    # the spacing ratio is made good on the new grid before it is solved (one solve per
    # pass of the soot criteria, not one per point the ratio cascades into: on the 5 kPa
    # burner flame 12 grids became 5)
    while len(z_new) < max_points:
        h = np.diff(z_new)
        wide = np.zeros(len(h), dtype=bool)
        wide[:-1] |= h[:-1] > ratio * h[1:]
        wide[1:] |= h[1:] > ratio * h[:-1]
        if not wide.any():
            break
        where = np.nonzero(wide)[0][:max_points - len(z_new)]
        z_new = np.sort(np.concatenate([z_new, 0.5 * (z_new[where] + z_new[where + 1])]))
    if len(z_new) == n:
        return None
    return _interpolated(problem, z_new, Y, soot)


_REFINE_RETRIES = 3   # splits beside a stalled point before a refinement is given up


def _interpolated(problem: CoupledFlameProblem, z_new, Y, soot):
    """The problem's held fields and the state (Y, soot) on the grid z_new, linearly."""
    import numpy as np

    z = np.asarray(problem.z, dtype=float)

    def at(values):
        values = np.asarray(values, dtype=float)
        if values.ndim == 1:
            return np.interp(z_new, z, values)
        return np.array([np.interp(z_new, z, row) for row in values])

    fields = dict(problem.__dict__)
    fields.update(z=z_new, T=at(problem.T), rho_u=at(problem.rho_u), rho=at(problem.rho))
    if problem.V is not None:
        fields["V"] = at(problem.V)
    return CoupledFlameProblem(**fields), at(Y), at(soot)


def _split_beside(finer, coarse: CoupledFlameProblem, Y, soot, point: int):
    """The refined problem `finer` (problem, Y, soot) with the intervals on both sides of
    `point` halved, fields and state interpolated from the converged coarse solution."""
    import numpy as np

    z = np.asarray(finer[0].z, dtype=float)
    point = min(max(int(point), 0), len(z) - 1)
    extra = [0.5 * (z[j] + z[j + 1]) for j in (point - 1, point) if 0 <= j < len(z) - 1]
    return _interpolated(coarse, np.sort(np.concatenate([z, extra])), Y, soot)


def solve_coupled(gas, flame, model, *, rtol: float = 1e-8, gas_sources: bool = True,
                  hydrogen_closure: bool = True, refine: bool = False, slope: float = 0.1,
                  curve: float = 0.2, ratio: float = 2.0, max_points: int = 500,
                  max_iterations: int = 300, max_time_steps: int = 2000, dt: float = 1e-6,
                  viscosity="auto", start: Optional[tuple] = None) -> CoupledResult:
    """Species and soot of a converged Cantera flame solved together (see the module's
    text), on the flame's grid (refined for the soot with `refine`).

    gas: the flame's phase (mixture-averaged transport); model: a CSootModel configured for
    it. rtol: the scaled residual the answer must reach. gas_sources False leaves out the
    soot's exchange with the gas (the species then solve Cantera's own equations);
    hydrogen_closure False lets the gas lose sum W_k scrub_k only (the plug-flow reactor's
    bookkeeping) instead of exactly the soot's mass. max_iterations and max_time_steps
    bound the Newton iterations and pseudo-time steps of each grid's solve, dt is the first
    pseudo-time step (s). slope, curve and ratio are the refinement's criteria (see
    _refine); measured on the shipped flames, their defaults put the peak soot volume
    fraction within 2 % of that on finer grids for the burner flame (75 against 93
    points), 5 % at 5 kPa (62 against 75), 1 % and 8 % for the counterflow flame (91
    against 119 and 187), where Cantera's own criteria (0.3, 0.5, 3) applied to the soot
    left the counterflow flame's peak 18 % low. start: (Y, soot) to start from instead
    of Cantera's species with the one-way soot. Returns a CoupledResult (the phase left
    in the state it came in); raises ValueError for flames and models the solve does not
    take."""
    # Cantera's flame sets the phase to each point's state when its profiles are read:
    # the caller's phase state is restored at the end
    state = gas.TDY   # (the density as it is: TP would restore P to within round-off only)
    try:
        return _solve_coupled(gas, flame, model, rtol=rtol, gas_sources=gas_sources,
                              hydrogen_closure=hydrogen_closure, refine=refine, slope=slope,
                              curve=curve, ratio=ratio, max_points=max_points,
                              max_iterations=max_iterations, max_time_steps=max_time_steps,
                              dt=dt, viscosity=viscosity, start=start)
    finally:
        gas.set_unnormalized_mass_fractions(state[2])   # as it was, to the last bit
        gas.TD = state[:2]


def _solve_coupled(gas, flame, model, *, rtol, gas_sources, hydrogen_closure, refine, slope,
                   curve, ratio, max_points, max_iterations, max_time_steps, dt, viscosity,
                   start) -> CoupledResult:
    import numpy as np

    from ._fumivex2 import _solve_coupled_flame, _solve_soot_on_gas

    started = time.perf_counter()
    kind = "burner" if hasattr(flame, "burner") else "counterflow"
    problem = flame_problem(gas, flame, model, viscosity=viscosity, gas_sources=gas_sources,
                            hydrogen_closure=hydrogen_closure)
    n = len(problem.z)
    one_way_problem = CoupledFlameProblem(**{**problem.__dict__, "gas_sources": False})
    Y0 = np.array(flame.Y, dtype=float)
    floors = np.array(_soot_floors(model), dtype=float)
    reports, grids = [], []
    one_way_seconds = 0.0
    with _exact_rate_derivatives(gas):
        N0 = np.repeat(floors[:, None], n, axis=1)
        if start is None:
            N1, r1 = _solve_soot_on_gas(one_way_problem, Y0, N0, rtol=min(rtol, 1e-8))
            one_way_seconds = float(r1["seconds"])
            reports.append({"stage": "one-way soot", **r1})
            # the one-way soot is the natural start unless it holds more carbon than the
            # gas carries (a growth model that runs away without the gas's limit), when
            # the soot's floors are closer to the answer; the other start is tried when
            # the first does not converge
            starts = [("one-way soot", N1), ("soot at its floors", N0)]
            if np.any(N1[2] > _carbon(gas, Y0)):
                starts.reverse()
        else:
            Y0, N1 = (np.array(a, dtype=float) for a in start)
            starts = [("given", N1)]
        base = problem
        for how, Ns in starts:
            problem = base
            Y, N, report = _solve_coupled_flame(problem, Y0, Ns, rtol=rtol,
                                                max_iterations=max_iterations,
                                                max_time_steps=max_time_steps, dt=dt)
            reports.append({"stage": f"coupled on {len(problem.z)} points from the {how}",
                            **report})
            # Stalled on one of the soot model's switches (the scaled residual stuck at a
            # point whose state sits at the switch; measured: the counterflow flame with
            # 50 % O2, at 1.49 primaries per aggregate), the intervals beside that point
            # are split and the solve continued from the stalled state on that grid.
            for split in range(_REFINE_RETRIES):
                if report["converged"] or not 0 < report["residual"] < 1.0:
                    break
                problem, Ys, Nsplit = _split_beside((problem,), problem, Y, N,
                                                    report["worst_point"])
                Y, N, report = _solve_coupled_flame(problem, Ys, Nsplit, rtol=rtol,
                                                    max_iterations=max(30, max_iterations // 5),
                                                    max_time_steps=max_time_steps, dt=dt)
                reports.append({"stage": f"coupled on {len(problem.z)} points (split beside "
                                         f"a stalled point) from the {how}", **report})
            if report["converged"]:
                break
        started_from = how
        grids.append(len(problem.z))
        refinement = ""
        while refine and report["converged"]:
            finer = _refine(problem, Y, N, slope=slope, curve=curve, ratio=ratio,
                            max_points=max_points)
            if finer is None:
                break
            # From the interpolated solution a few Newton iterations do; many more mean a
            # point on one of the soot model's switches: it switches formulas at some
            # states (the gyration diameter at 1.5 primaries per aggregate jumps by
            # 2.5 %), and a point whose state lands on such a switch can leave the
            # equations without a root there. Splitting the two intervals beside the
            # point where the attempt stalled moves the points off the switch (measured
            # on the default burner flame: 60 iterations stalled at 1e-2 on 59 points, 7
            # converged on 61); after a few such tries the converged solution of the
            # grid before is kept.
            for split in range(_REFINE_RETRIES + 1):
                Yf, Nf, report_f = _solve_coupled_flame(
                    finer[0], finer[1], finer[2], rtol=rtol,
                    max_iterations=max(20, max_iterations // 10),
                    max_time_steps=max_time_steps, dt=dt)
                reports.append({"stage": f"coupled on {len(finer[0].z)} points (refined)",
                                **report_f})
                if report_f["converged"] or split == _REFINE_RETRIES:
                    break
                stalled_at = int(report_f["worst_point"])
                finer = _split_beside(finer, problem, Y, N, stalled_at)
            if not report_f["converged"]:
                refinement = (f"the refinement to {len(finer[0].z)} points did not converge "
                              f"({report_f['stop'] or 'stopped'}); the solution on "
                              f"{len(problem.z)} points is kept")
                break
            problem, Y, N, report = finer[0], Yf, Nf, report_f
            grids.append(len(problem.z))
        check = _coupled_residual_raw(problem, Y, N)
        # the one-way soot on the final grid: Cantera's species interpolated there
        if len(problem.z) != n:
            Yc = np.array([np.interp(problem.z, np.asarray(flame.grid, dtype=float), row)
                           for row in np.asarray(flame.Y, dtype=float)])
            Nc = np.array([np.interp(problem.z, np.asarray(flame.grid, dtype=float), row)
                           for row in N1]) if start is None else N
            Nc, r2 = _solve_soot_on_gas(CoupledFlameProblem(**{**problem.__dict__,
                                                               "gas_sources": False}), Yc, Nc)
            one_way_seconds += float(r2["seconds"])
            reports.append({"stage": "one-way soot on the final grid", **r2})
            one_way = (Yc, Nc)
        else:
            one_way = (np.array(flame.Y, dtype=float), N1)
    residual = float(check["residual"])
    converged = bool(report["converged"]) and residual < rtol
    coupled = [r for r in reports if str(r["stage"]).startswith("coupled")]
    total = lambda key: sum(int(r.get(key, 0)) for r in coupled)  # noqa: E731
    seconds_cantera = sum(float(r.get(k, 0.0)) for r in coupled for k in
                          ("seconds_rates", "seconds_rate_jacobians", "seconds_transport"))
    W_C, W_H = problem.W_C, problem.W_H
    sigma = np.asarray(N[2]) * W_C + np.asarray(N[3]) * W_H
    last = coupled[-1]
    what = "converged" if converged else f"not converged ({last.get('stop') or 'stopped'})"
    message = (f"coupled species and soot {what}: scaled residual {residual:.2e} "
               f"(tolerance {rtol:g}) on {len(problem.z)} points after {total('iterations')} "
               f"Newton iterations, {total('time_steps')} pseudo-time steps, "
               f"{total('jacobians')} Jacobians" + (f"; {refinement}" if refinement else ""))
    result = CoupledResult(
        kind=kind, grid=np.asarray(problem.z), T=np.asarray(problem.T),
        rho_u=np.asarray(problem.rho_u), V=problem.V, P=problem.P, Y=Y, soot=N,
        density=np.asarray(check["rho"]), scrub=np.asarray(check["scrub"]),
        exchange=np.asarray(check["exchange"]), m_s=np.asarray(check["m_s"]),
        one_way_soot=one_way[1], one_way_Y=one_way[0], species_names=list(gas.species_names),
        converged=converged, residual=residual, rtol=rtol, message=message,
        iterations=total("iterations"), time_steps=total("time_steps"),
        jacobians=total("jacobians"), rejected=total("rejected"),
        evaluations=total("evaluations"), seconds=time.perf_counter() - started,
        seconds_cantera=seconds_cantera,
        seconds_soot_model=sum(float(r.get("seconds_soot", 0.0)) for r in coupled),
        one_way_seconds=one_way_seconds, max_soot_mass_ratio=float(np.max(sigma)),
        start=started_from, molecular_weights=np.array(gas.molecular_weights, dtype=float), grids=grids,
        reports=reports)
    return result


def _carbon(gas, Y):
    """mol of carbon per kg of gas of the mass fractions Y (K x n)."""
    import numpy as np

    if "C" not in gas.element_names:
        return np.zeros(np.shape(Y)[1])
    atoms = np.array([gas.n_atoms(k, "C") for k in range(gas.n_species)], dtype=float)
    W = np.asarray(gas.molecular_weights, dtype=float)
    return 1000.0 * (atoms / W) @ np.asarray(Y, dtype=float)


def _coupled_residual_raw(problem, Y, soot) -> dict:
    from ._fumivex2 import _coupled_flame_residual
    return _coupled_flame_residual(problem, Y, soot)
