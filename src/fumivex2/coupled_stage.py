"""The two-way soot stage of every flame kind: the gas species and the four soot variables
solved together (``coupled.solve_coupled``) on a converged Cantera flame, its temperature
and flow held, on Cantera's grid refined where the soot variables need it.

The result has the profiles of the coupled gas and soot on that grid, and beside them the
one-way answer on the same grid (the soot carried through Cantera's species, which do not
feel it) as the columns "one-way soot volume fraction [-]" and "one-way X_<species> [-]" of
the growth species (C2H2 and the PAHs of the model), so that what the soot changed can be
read and drawn. rates.csv holds what the soot gives each gas species (kmol/(m3 s),
negative where the soot takes it), the rates the coupled species equations carry.

Cantera, pandas and NumPy are imported inside the functions that need them.
"""
from __future__ import annotations

import time

from . import results as R
from .cases import Case, CaseError
from .results import RunResult
from .soot_stage import stage
from .species import case_soot_model, report_species

__all__ = ["coupled_stage", "MAX_POINTS", "ONE_WAY_PREFIX",
           "one_way_column", "coupling_of"]

# Refinement of the coupled grid for the soot: coupled.solve_coupled's criteria on each soot
# variable, soot_solver.coupled_slope (the largest jump between points) and coupled_curve
# (the largest change of slope), as fractions of the variable's range, up to MAX_POINTS.
# Peak soot volume fraction measured at 0.1/0.2, 0.05/0.1, 0.025/0.05 and 0.0125/0.025:
# default burner flame (Cantera's 56 points) 9.64e-8 (75 points), 9.49e-8 (93), 9.32e-8
# (171), 9.27e-8 (309); default counterflow flame (61 points) 1.459e-9 (91), 1.447e-9
# (119), 1.351e-9 (187), 1.323e-9 (315). The default 0.025/0.05 is within about 2 % of the
# finest grid on both (0.05/0.1 left the counterflow flame 9 % high); the coupled to
# one-way ratio moves by 2 % at most between these grids.
MAX_POINTS = 500
ONE_WAY_PREFIX = R.ONE_WAY_PREFIX
GROWTH_KEY = ("C2H2",)


def one_way_column(column: str) -> str:
    """The column of the one-way value of a profiles column ("one-way X_A4 [-]")."""
    return ONE_WAY_PREFIX + column


def coupling_of(result) -> str:
    """How a flame run's gas and soot were coupled: "two-way", "one-way", or "one-way
    (fallback)" for a two-way run whose coupled solve stopped; "" for other runs."""
    return str(result.extra.get("coupling", ""))


def _growth_species(gas, case: Case, model) -> list:
    """(name, gas index) of the species the soot grows from: C2H2 and the model's PAHs."""
    key, pahs = report_species(gas, case, model)
    out = [(n, i) for n, i in key if n in GROWTH_KEY]
    return out + [p for p in pahs if p not in out]


def _soot_columns(gas, model, T, P, Y, soot) -> list:
    """The soot columns (results.soot_state_columns) at each point of mass fractions Y
    (K x n) and soot (4 x n, mol/kg), the gas at T (K) and P (Pa)."""
    import numpy as np

    rows = []
    for i in range(len(T)):
        gas.TPY = T[i], P, Y[:, i]
        d, mu, wbar = float(gas.density), float(gas.viscosity), float(gas.mean_molecular_weight)
        X = np.array(gas.X, dtype=float)
        model.update_gas(T[i], P, d, mu, wbar, X)
        model.update_solution(np.array(soot[:, i], dtype=float))
        rows.append(R.soot_state_columns(model, d, soot[:, i]))
    return rows


def coupled_stage(case: Case, gas, flame, *, position: str = R.HEIGHT,
                  where: str = "above the burner", model=None,
                  progress=None) -> RunResult:
    """Species and soot of a converged Cantera flame (a burner or counterflow flame)
    solved together, the flame's temperature and flow held (see the module's text).
    Status "converged" when the coupled solve met soot_solver.coupled_tolerance (the
    scaled residual of the coupled equations, recomputed at the answer), "not converged"
    otherwise (the state it reached is written). A coupled solve that stops (the soot
    model raising on the way) gives the one-way result, status "failed", labelled one-way
    (coupling "one-way (fallback)"). Raises CaseError for a flame or a soot model the
    coupled solve does not take."""
    import numpy as np
    import pandas as pd

    from .coupled import solve_coupled

    started = time.perf_counter()
    settings = case.soot_solver
    if model is None:
        model = case_soot_model(gas, case)
    stage(progress, "coupled species and soot", "")
    try:
        r = solve_coupled(gas, flame, model, rtol=settings.coupled_tolerance, refine=True,
                          slope=settings.coupled_slope, curve=settings.coupled_curve,
                          max_points=MAX_POINTS,
                          max_iterations=settings.max_iterations,
                          max_time_steps=settings.max_steps)
    except ValueError as e:
        raise CaseError(f"soot_solver.coupling \"two-way\": {e}; soot_solver.coupling = "
                        f"\"one-way\" carries the soot through the gas without it") from None
    except Exception as e:  # the soot model or Cantera stopped the coupled solve
        return _fallback(case, gas, flame, model, position, where, progress,
                         f"the coupled solve stopped: {type(e).__name__}: {e}", started)

    P = float(r.P)
    Y, soot = np.asarray(r.Y, dtype=float), np.asarray(r.soot, dtype=float)
    Y1, soot1 = np.asarray(r.one_way_Y, dtype=float), np.asarray(r.one_way_soot, dtype=float)
    T, z = np.asarray(r.T, dtype=float), np.asarray(r.grid, dtype=float)
    rho_u = np.asarray(r.rho_u, dtype=float)
    X = np.asarray(r.X, dtype=float)
    W = np.asarray(r.molecular_weights, dtype=float)
    X1 = (Y1 / W[:, None]) / np.sum(Y1 / W[:, None], axis=0)
    key, pahs = report_species(gas, case, model)
    growth = _growth_species(gas, case, model)
    failure = None
    try:
        rows = _soot_columns(gas, model, T, P, Y, soot)
        one_way_rows = _soot_columns(gas, model, T, P, Y1, soot1)
    except Exception as e:  # the soot model refuses a state the solve reached
        rows = one_way_rows = None
        failure = f"the soot model fails on the coupled answer: {type(e).__name__}: {e}"
    density = np.asarray(r.density, dtype=float)
    table = {position: z, R.T: T, R.VELOCITY: rho_u / density, R.DENSITY: density}
    for name, i in list(key) + list(pahs):
        table[R.species_column(name)] = X[i]
    if rows is not None:
        for col in rows[0]:
            table[col] = np.array([row[col] for row in rows], dtype=float)
        fv1 = np.array([row[R.FV] for row in one_way_rows], dtype=float)
        # the one-way soot where it is still at its floors says nothing (as the plots leave
        # the soot out there)
        from .output import C_TOT_FLOOR, FLOOR_FACTOR
        table[one_way_column(R.FV)] = np.where(soot1[2] < FLOOR_FACTOR * C_TOT_FLOOR,
                                               np.nan, fv1)
    for name, i in growth:
        table[one_way_column(R.species_column(name))] = X1[i]
    profiles = pd.DataFrame(table)
    # what the soot gives each species, kmol/(m3 s) (its hydrogen closure on H2 included)
    exchange = np.asarray(r.exchange, dtype=float) / W[:, None]
    rates = pd.DataFrame({position: z, **{f"{name} [kmol/(m3 s)]": exchange[k]
                                          for k, name in enumerate(gas.species_names)}})

    figures = _ratios(profiles, growth, position)
    figures["largest soot mass per gas mass [kg/kg]"] = float(r.max_soot_mass_ratio)
    figures["coupled solve"] = r.message
    counts = (f"{r.iterations} Newton iterations, {r.time_steps} pseudo-time steps, "
              f"{r.jacobians} Jacobians")
    extra = {"coupling": "two-way", "coupling summary": figures,
             "soot points": len(z), "flame points": len(flame.grid),
             "coupled grids": list(r.grids), "pressure [Pa]": P,
             "PAHs": [n for n, _ in pahs], "Newton iterations": r.iterations,
             "pseudo-time steps": r.time_steps, "Jacobians": r.jacobians,
             "rejected steps": r.rejected, "residual": float(r.residual),
             "tolerance": float(r.rtol), "coupled residual": float(r.residual),
             "coupled solve": r.message, "coupled solve time [s]": float(r.seconds),
             "max soot mass ratio [kg/kg]": float(r.max_soot_mass_ratio),
             "gas flows": coupled_gas_flows(gas, flame, z, Y, rho_u),
             # every species of the coupled gas (the checks' positivity reads them)
             "mass_fractions": pd.DataFrame({position: z, **{
                 f"Y_{name} [-]": Y[k] for k, name in enumerate(gas.species_names)}}),
             "soot path": "coupled" if r.converged else "none (not converged)"}
    if failure is not None:
        status, message = R.FAILED, failure
    elif r.converged:
        status = R.CONVERGED
        message = (f"species and soot converged together (two-way) on {len(z)} points: "
                   f"{counts} (scaled residual {r.residual:.1e}, tolerance {r.rtol:g})")
    else:
        status = R.NOT_CONVERGED_WORD
        message = (f"not converged: {r.message}; the coupled state reached is written. Raise "
                   f"soot_solver.max_iterations or max_steps; a residual that no longer falls "
                   f"can mean a grid point where the soot model switches between two formulas "
                   f"(other flame.slope or flame.curve move Cantera's grid); "
                   f"soot_solver.coupling = \"one-way\" gives the soot without its effect on "
                   f"the gas")
    extra["soot time [s]"] = time.perf_counter() - started
    return RunResult(case=case, profiles=profiles, status=status, message=message,
                     run_time=time.perf_counter() - started, rates=rates, extra=extra)


def _ratios(profiles, growth, position: str) -> dict:
    """Summary figures of the coupling: the coupled and one-way peak soot volume fractions
    and their ratio, and per growth species the coupled to one-way ratio of its mole
    fraction at the coupled soot peak."""
    import numpy as np

    out = {}
    fv = profiles[R.FV].to_numpy(dtype=float) if R.FV in profiles else None
    fv1 = profiles[one_way_column(R.FV)].to_numpy(dtype=float) \
        if one_way_column(R.FV) in profiles else None
    if fv is None or fv1 is None or not np.any(np.isfinite(fv)):
        return out
    i = int(np.nanargmax(fv))
    from .output import C_TOT_FLOOR, FLOOR_FACTOR
    if not profiles[R.C_TOT].iloc[i] >= FLOOR_FACTOR * C_TOT_FLOOR:
        # no soot anywhere: its "peak" is round-off at the floors, where the ratios of
        # traces of pyrene would mean nothing
        out["coupled / one-way"] = "not given: the soot stays at its floors"
        return out
    peak1 = float(np.nanmax(fv1)) if np.any(np.isfinite(fv1)) else None
    out["one-way peak soot volume fraction [-]"] = peak1
    out["coupled / one-way, peak soot volume fraction [-]"] = \
        float(fv[i]) / peak1 if peak1 else None
    for name, _ in growth:
        col = R.species_column(name)
        x, x1 = float(profiles[col].iloc[i]), float(profiles[one_way_column(col)].iloc[i])
        out[f"coupled / one-way, {name} at the soot peak [-]"] = x / x1 if x1 > 0 else None
    return out


def coupled_gas_flows(gas, flame, z, Y, rho_u) -> dict:
    """The gas flows of elements (mol/(m2 s)) and mass (kg/(m2 s)) of the coupled gas,
    as checks.flame_gas_flows gives Cantera's: "in" through the flame's inlets, "out"
    convected through the last point of a burner flame, "radial" leaving a counterflow
    flame sideways (_sideways: the held flow's 2 rho V times the content, as the upwind
    species rows write it, which the gas's own species conserve exactly)."""
    import numpy as np

    from .checks import assemble_gas_flows, element_content, species_table

    table = species_table(gas)
    content = element_content(table, np.asarray(Y, dtype=float).T)
    G = np.asarray(rho_u, dtype=float)
    return assemble_gas_flows(flame, table, content, G, lambda values: _sideways(G, values))


def _sideways(G, values) -> float:
    """What leaves a counterflow flame sideways of a quantity convected with the mass flux
    G (kg/(m2 s)) at `values` per kg, as the upwind rows of the species write it: each
    interior point's cell loses -(G_i - G_upwind) times the upwind value, and the interval
    holding the stagnation plane (G > 0 on its left, G <= 0 on its right) what flows into
    it from both sides."""
    out = 0.0
    n = len(G)
    for i in range(1, n - 1):
        if G[i] > 0:
            out -= (G[i] - G[i - 1]) * values[i - 1]
        else:
            out -= (G[i + 1] - G[i]) * values[i + 1]
    for i in range(n - 1):
        if G[i] > 0 >= G[i + 1]:
            out += G[i] * values[i] - G[i + 1] * values[i + 1]
    return float(out)


def _fallback(case, gas, flame, model, position, where, progress, why: str,
              started: float) -> RunResult:
    """The one-way result of a flame whose coupled solve stopped, labelled as such: status
    "failed", the message saying why and that the profiles are one-way."""
    from .soot_stage import Boundaries, soot_stage

    if hasattr(flame, "burner"):
        mdot = float(flame.burner.mdot)
        right = None if case.soot_solver.outlet == "outflow" else mdot
        boundaries = Boundaries(mdot, right)
    else:
        boundaries = Boundaries(float(flame.fuel_inlet.mdot), float(flame.oxidizer_inlet.mdot))
    result = soot_stage(case, gas, flame, boundaries, position=position, where=where,
                        model=model, progress=progress)
    result.extra["coupling"] = "one-way (fallback)"
    result.message = (f"{why}; the ONE-WAY result is written (the gas does not feel the soot; "
                      f"the one-way solve: {result.status}: {result.message})")
    result.status = R.FAILED
    result.run_time = time.perf_counter() - started
    return result
