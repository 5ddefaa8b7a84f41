"""The checks every run makes on its own result, and what they decide about its status.

``check_run(result)`` is called by every run kind on the result it returns. It

1. leaves the derived soot quantities (diameters, primaries per aggregate, H/C, number
   density) empty where the soot they derive from is not meaningful (`meaningful`) or
   N_pri < N_agg, and these and the volume fraction where they are not finite or beyond
   what particles can be (PHYSICAL_LIMITS);
2. computes the checks (`Check`): element balances of C, H, O and N and the total-mass
   balance (gas + soot: inflow - outflow - accumulation, relative to the throughput),
   positivity, N_pri >= N_agg where the soot is meaningful, the residual of the soot
   solve recomputed from the answer, and for flames how much of each growth species the
   soot takes (the one-way coupling);
3. turns a "converged" or "completed" run whose check fails beyond its tolerance into
   "suspect" (the status words are in `results`), and adds to the message of a failed or
   not-converged run the case's warnings, its likely cause.

Everything is computed from the result alone: its profiles, its tables (the mass fractions
of every species, the gas-species rates due to soot), and figures the run adds to
``result.extra`` with the helpers below (`species_table`, `element_content`,
`flame_gas_flows`, `recomputed_residual`). The checks are stored as plain dicts in
``result.extra["checks"]``, so that they survive a sweep's record.

Balances by kind (b_e: mol of element e per kg of gas from the mass fractions, s_e: the
soot's, C_tot for carbon and H_tot for hydrogen, mol/kg):

- plug-flow reactor: the element flow G (b_e + s_e) at every station against the inlet's
  (G the gas mass flux, kg/(m2 s); the soot deposited on a wall is not counted back);
- batch reactor: the amount m (b_e + s_e) at every time against the initial one (m the gas
  mass, kg);
- stirred reactor: at its steady state the content per kg of gas and soot,
  (b_e + s_e) / (1 + soot mass per kg of gas), against the inlet's (whatever leaves a
  well-stirred reactor has its content, and the steady state keeps the mass: the steady-
  state test of the run holds the total mass); its plug-flow section, a closed parcel, as
  the batch reactor from the stirred reactor's state;
- flames (burner and counterflow): Cantera's gas flows through the domain (inlets,
  outlet, and for the counterflow the radial outflow) with the soot's: what the soot
  carries out (the outlet's convective flow, and the radial outflow in a counterflow
  flame) against what it took from the gas (the integral of the gas-species rates due
  to soot), relative to the soot's own flow. Both are first-order discretisations, held
  to FLAME_GRID_TOLERANCE. In a one-way run the gas does not feel the soot: the carbon
  balance as computed (gas + soot, the gas never giving up the soot's carbon) and the
  soot's uptake of each growth species are held to ONE_WAY_LIMIT ("the gas would feel the
  soot"). In a two-way run the gas gives the soot what it takes: the element flows of the
  coupled gas and the soot together close (to FLAME_GRID_TOLERANCE), and the scaled
  residual of the coupled equations at the answer is held to its tolerance.

Hydrogen is not conserved exactly by the soot model (its dimers keep the hydrogen of
their PAHs while releasing H2, carbonization releases soot hydrogen to no species), which
the hydrogen balances show at the level of the soot's hydrogen.
"""
from __future__ import annotations

import math
from dataclasses import asdict, dataclass
from typing import Any, Optional

import numpy as np

from . import results as R

__all__ = ["Check", "check_run", "run_checks", "meaningful", "mask_derived",
           "species_table", "element_content", "flame_gas_flows", "assemble_gas_flows",
           "inlet_flows", "recomputed_residual",
           "one_way_ratios", "mask_unresolved", "BALANCE_TOLERANCE", "ONE_WAY_LIMIT", "FLOOR_MULTIPLE",
           "RESOLUTION", "ELEMENTS"]

ELEMENTS = ("C", "H", "O", "N")
M_C, M_H = 12.011e-3, 1.008e-3     # kg/mol: the soot's carbon and hydrogen
GAS_CONSTANT = 8314.462618        # J/(kmol K)

# A reactor's balance closes when inflow - outflow - accumulation is at most this fraction
# of the throughput of the element (or of the mass). Their integrators run at relative
# tolerances of 1e-6 to 1e-8 (the default cases close carbon to 1e-10); hydrogen carries
# the soot model's own bookkeeping, 3e-4 on the default plug-flow reactor (dimers keep
# the hydrogen of their PAHs while releasing H2). 1e-3 flags a species or a soot variable
# lost or gained anywhere at a per-mille level.
BALANCE_TOLERANCE = 1e-3
# A flame's gas (Cantera) and its soot (the soot solve) are both convected with first-order
# upwind differences, which conserve elements only to a first-order grid error. Measured:
# the gas of the default burner flame (56 points) C 0.15 %, H 1.5 %, of the default
# counterflow flame (61 points) 2.7 % for C, H, O and N, each halving as flame.slope and
# flame.curve are halved (the total mass closes to 1e-7); the soot's carbon on the
# default burner flame 4.5 % of its own flow on 40 soot points, 1.2 % on 150, 0.3 % on
# 600. Beyond 5 % the grid is too coarse for the flame's results.
FLAME_GRID_TOLERANCE = 0.05
# The soot is carried through a flame's gas one way: the gas does not feel what the soot
# takes. A run is suspect when the soot takes more than this fraction of a growth
# species' flux, or of the carbon the gas carries.
ONE_WAY_LIMIT = 0.1
# A soot variable is meaningful at a point when it is at least FLOOR_MULTIPLE times its
# floor (the model's value for "no soot") and, for the steady soot solve of a flame, at
# least RESOLUTION times the solve's tolerance times its largest value: the solve's
# scaled residual is relative to the largest term of each variable's equations over the
# whole grid, so it leaves each value uncertain by about the tolerance times the peak
# (on the default counterflow flame at 1e-6, values a million times below the peak came
# out negative or with N_pri < N_agg, where stepping to a residual of 3e-11 gives smooth
# ones with N_pri >= N_agg); 100 times that keeps a derived ratio within about 1 %.
FLOOR_MULTIPLE = 1000.0
RESOLUTION = 100.0
# Negative values are allowed within the noise of the solve: a soot variable down to
# -NEGATIVE_FLOORS floors (or minus the solve's tolerance times its peak, when larger),
# a mass or mole fraction down to -NEGATIVE_FRACTION.
NEGATIVE_FLOORS = 10.0
NEGATIVE_FRACTION = 1e-8
# N_pri >= N_agg holds where both are meaningful to this relative tolerance, and for a
# flame's steady soot solve to its tolerance times the peak of N_agg (its uncertainty)
CONSISTENCY_TOLERANCE = 1e-6
# values no particles reach (a run blown up before it failed): a volume fraction above 1,
# diameters above 1 mm, more particles than there are gas molecules at 10 MPa and 300 K
PHYSICAL_LIMITS = {R.FV: 1.0, R.D_P: 1e6, R.D_M: 1e6, R.NUMBER: 3e27}
# derived columns and the soot variables each needs meaningful
DERIVED = {R.NUMBER: ("N_agg",), R.N_P: ("N_agg", "N_pri"), R.D_P: ("N_pri", "C_tot"),
           R.D_M: ("N_agg", "N_pri", "C_tot"), R.HC: ("C_tot", "H_tot")}
# derived columns that need N_pri >= N_agg as well
NEEDS_CONSISTENT = (R.N_P, R.D_P, R.D_M)
VARIABLE_COLUMNS = dict(zip(R.SOOT_VARIABLES, (R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT)))
GROWTH_SPECIES = ("C2H2",)   # with the PAHs of the run
SUSPECT_ONE_WAY = "the gas would feel the soot"


@dataclass
class Check:
    """One check of a run: `value` against `limit` (it passes when |value| <= limit; a
    limit of None makes it a figure only), what the value is (`what`), and its `kind`:
    "check" or "one-way" (how much the soot would change the gas)."""
    name: str
    value: float
    limit: Optional[float]
    what: str
    kind: str = "check"
    where: str = ""

    @property
    def passed(self) -> bool:
        if self.limit is None:
            return True
        return math.isfinite(self.value) and abs(self.value) <= self.limit

    def as_dict(self) -> dict:
        out = asdict(self)
        out["passed"] = self.passed
        return out


# ---- what the runs add to their results ---------------------------------------------------

def species_table(gas) -> dict:
    """Names, molar masses (kg/kmol) and atoms of C, H, O and N of every species of a
    Cantera phase, as lists (result.extra["species"])."""
    names = list(gas.species_names)
    table = {"names": names, "W [kg/kmol]": [float(w) for w in gas.molecular_weights]}
    for e in ELEMENTS:
        table[e] = ([float(gas.n_atoms(k, e)) for k in range(len(names))]
                    if e in gas.element_names else [0.0] * len(names))
    return table


def _atoms(table: dict) -> tuple:
    W = np.asarray(table["W [kg/kmol]"], dtype=float)
    return W, {e: np.asarray(table[e], dtype=float) for e in ELEMENTS}


def element_content(table: dict, Y) -> dict:
    """mol of each element per kg of gas of mass fractions Y (one row per point, or one
    state), and "mass" (kg/kg: the sum of Y)."""
    W, atoms = _atoms(table)
    Y = np.asarray(Y, dtype=float)
    per = Y / W * 1000.0    # mol/kg per species
    out = {e: per @ atoms[e] for e in ELEMENTS}
    out["mass"] = Y.sum(axis=-1)
    return {k: (float(v) if np.ndim(v) == 0 else v) for k, v in out.items()}


def inlet_flows(flame, table: dict) -> dict:
    """What a flame's inlets (a burner, or a counterflow flame's two inlets) bring in, per
    element (mol/(m2 s)) and of mass (kg/(m2 s)): each inlet's mass flux times its
    content, which is what Cantera's inlet condition imposes on convection plus diffusion."""
    inlets = [getattr(flame, n) for n in ("burner", "fuel_inlet", "oxidizer_inlet")
              if hasattr(flame, n)]
    return {key: sum(float(b.mdot) * element_content(table, np.asarray(b.Y))[key]
                     for b in inlets) for key in ELEMENTS + ("mass",)}


def flame_gas_flows(flame, gas) -> dict:
    """Cantera's gas flows of elements (mol/(m2 s)) and mass (kg/(m2 s)) through a
    flame's domain: "in" through its inlets (the inlet mass flux times the inlet's
    content, what Cantera's inlet condition imposes on convection plus diffusion), "out"
    convected through the last point of a burner flame (Cantera's outlet has no diffusive
    flux), "radial" leaving a counterflow flame sideways (the integral of 2 rho V times
    the content, V the spread rate). Stored as result.extra["gas flows"]."""
    table = species_table(gas)
    z = np.asarray(flame.grid, dtype=float)
    Y = np.asarray(flame.Y, dtype=float).T                      # points x species
    content = element_content(table, Y)
    rho = np.asarray(flame.density, dtype=float)
    rho_u = rho * np.asarray(flame.velocity, dtype=float)

    def sideways(values):
        # gas enters a counterflow flame through both ends and leaves sideways only
        return _trapezoid(2.0 * rho * np.asarray(flame.spread_rate, dtype=float) * values, z)

    return assemble_gas_flows(flame, table, content, rho_u, sideways)


def assemble_gas_flows(flame, table: dict, content: dict, rho_u, sideways) -> dict:
    """{element or "mass": {"in", "out", "radial"}}: "in" through the flame's inlets,
    "out" convected (mass flux rho_u at the last point times the content there) through
    the end of a burner flame, "radial" = sideways(content along the grid) leaving a
    counterflow flame."""
    inflows = inlet_flows(flame, table)
    burner = hasattr(flame, "burner")
    out = {}
    for key in ELEMENTS + ("mass",):
        if burner:
            outflow, radial = float(rho_u[-1] * content[key][-1]), 0.0
        else:
            outflow, radial = 0.0, sideways(content[key])
        out[key] = {"in": inflows[key], "out": outflow, "radial": radial}
    return out


def recomputed_residual(make_solver, state) -> float:
    """The scaled steady residual of a soot solve's answer `state` (4 x points, mol/kg),
    evaluated on a new solver from make_solver() (one that has read the flame, holding
    nothing of the solve): the answer, not the solver's memory of it, is checked."""
    from ._fumivex2 import steady_residual

    solver = make_solver()
    for k, v in enumerate(R.SOOT_VARIABLES):
        setattr(solver, v + "_n", np.array(state[k], dtype=float))
    return float(steady_residual(solver))


# ---- meaningful soot ----------------------------------------------------------------------

_FLOORS: dict = {}


def soot_floors() -> dict:
    """The soot model's floor of each variable (mol/kg)."""
    if not _FLOORS:
        from ._fumivex2 import CSootModel

        m = CSootModel()
        _FLOORS.update({v: float(getattr(m, v + "_min")) for v in R.SOOT_VARIABLES})
    return dict(_FLOORS)


def _two_way(result) -> bool:
    """True for a flame whose species and soot were solved together."""
    return result.extra.get("coupling") == "two-way"


def _resolution(result) -> float:
    """The relative resolution of the run's soot values: the tolerance of the flame's
    steady soot solve, or of its coupled solve for a two-way run (0 for integrations,
    which control each value on its own scale)."""
    if _two_way(result):
        return float(result.case.soot_solver.coupled_tolerance)
    if result.case.kind in ("flame", "counterflow"):
        return float(result.case.soot_solver.tolerance)
    return 0.0


def meaningful(profiles, resolution: float = 0.0) -> dict:
    """Per soot variable, a boolean array: True where it is meaningful (see
    FLOOR_MULTIPLE and RESOLUTION); empty when the profiles have no soot."""
    floors = soot_floors()
    out = {}
    for v, col in VARIABLE_COLUMNS.items():
        if col not in profiles:
            return {}
        x = profiles[col].to_numpy(dtype=float)
        finite = x[np.isfinite(x)]
        peak = float(finite.max()) if finite.size else 0.0
        threshold = max(FLOOR_MULTIPLE * floors[v], RESOLUTION * resolution * peak)
        with np.errstate(invalid="ignore"):
            out[v] = np.isfinite(x) & (x >= threshold)
    return out


def _inconsistent(profiles, ok: dict, resolution: float = 0.0):
    """True where N_agg and N_pri are both meaningful and N_pri < N_agg beyond the
    uncertainty of the values (CONSISTENCY_TOLERANCE, and `resolution` times the peak of
    N_agg)."""
    a = profiles[R.N_AGG].to_numpy(dtype=float)
    p = profiles[R.N_PRI].to_numpy(dtype=float)
    peak = float(np.nanmax(a)) if np.any(np.isfinite(a)) else 0.0
    allowed = np.maximum(CONSISTENCY_TOLERANCE * np.abs(a), resolution * peak)
    return ok["N_agg"] & ok["N_pri"] & (a - p > allowed)


def mask_derived(result) -> dict:
    """Leave the derived soot columns of result.profiles empty (NaN) where the soot they
    derive from is not meaningful or N_pri < N_agg, and any of them (the volume fraction
    included) where it is not finite or beyond PHYSICAL_LIMITS; returns the count of
    points emptied per column."""
    p = result.profiles
    if p is None or len(p) == 0:
        return {}
    ok = meaningful(p, _resolution(result))
    if not ok:
        return {}
    # a ratio below one (N_pri < N_agg, by any amount) is never written
    a, n = (p[c].to_numpy(dtype=float) for c in (R.N_AGG, R.N_PRI))
    bad = _inconsistent(p, ok, _resolution(result)) | ~(n >= a)
    counts = {}
    for col, needs in DERIVED.items():
        if col not in p:
            continue
        keep = np.logical_and.reduce([ok[v] for v in needs])
        if col in NEEDS_CONSISTENT:
            keep &= ~bad
        x = p[col].to_numpy(dtype=float)
        drop = ~keep & ~np.isnan(x)
        if drop.any():
            p[col] = np.where(keep, x, np.nan)
        counts[col] = int(drop.sum())
    for col, limit in PHYSICAL_LIMITS.items():
        if col not in p:
            continue
        x = p[col].to_numpy(dtype=float)
        with np.errstate(invalid="ignore"):
            drop = ~np.isnan(x) & ~(np.isfinite(x) & (np.abs(x) <= limit))
        if drop.any():
            p[col] = np.where(drop, np.nan, x)
        counts[col] = counts.get(col, 0) + int(drop.sum())
    return counts



def mask_unresolved(result) -> dict:
    """Leave the soot variables themselves empty (NaN) where their values are below what
    the run resolves (not meaningful) and say nothing physical: a negative value, and
    N_agg and N_pri both where N_pri < N_agg (the model's rates keep N_pri >= N_agg, so
    such a pair is noise of the solve: on a counterflow flame at a tolerance of 1e-6 they
    appear a million times below the peak, and vanish when it is stepped to 3e-11).
    Called after the checks, which read the values as computed. Returns the count of
    points emptied per column."""
    p = result.profiles
    if p is None or len(p) == 0:
        return {}
    ok = meaningful(p, _resolution(result))
    if not ok:
        return {}
    a, n = (p[c].to_numpy(dtype=float) for c in (R.N_AGG, R.N_PRI))
    with np.errstate(invalid="ignore"):
        pair = ~(ok["N_agg"] & ok["N_pri"]) & (n < a)
    counts = {}
    for v, col in VARIABLE_COLUMNS.items():
        x = p[col].to_numpy(dtype=float)
        with np.errstate(invalid="ignore"):
            drop = ~ok[v] & (x < 0.0)
        if v in ("N_agg", "N_pri"):
            drop |= pair
        if drop.any():
            p[col] = np.where(drop, np.nan, x)
            counts[col] = int(drop.sum())
    return counts


# ---- the checks ---------------------------------------------------------------------------

def _relative(values, reference) -> float:
    """Largest |values - reference| / |reference| (NaN where nothing is finite)."""
    values = np.asarray(values, dtype=float)
    if not np.isfinite(reference) or reference == 0.0 or not np.any(np.isfinite(values)):
        return math.nan
    return float(np.nanmax(np.abs(values - reference)) / abs(reference))


def _soot_content(p) -> dict:
    """mol of each element per kg of gas in the soot (C_tot, H_tot), and kg/kg."""
    n = len(p)
    c = p[R.C_TOT].to_numpy(dtype=float) if R.C_TOT in p else np.zeros(n)
    h = p[R.H_TOT].to_numpy(dtype=float) if R.H_TOT in p else np.zeros(n)
    zero = np.zeros(n)
    return {"C": c, "H": h, "O": zero, "N": zero, "mass": c * M_C + h * M_H}


def _balance_checks(amounts: dict, reference: dict, what: str, where: str = "",
                    figures: tuple = ()) -> list:
    """A balance check per element and mass: the largest deviation of `amounts` (arrays)
    from `reference` (numbers), relative to the reference; those in `figures` are figures
    only (no limit)."""
    out = []
    for key in ELEMENTS + ("mass",):
        ref = reference[key]
        if not ref:
            continue   # no such element in the inflow
        name = "mass balance" if key == "mass" else f"{key} balance"
        out.append(Check(name, _relative(amounts[key], ref),
                         None if key in figures else BALANCE_TOLERANCE, what, where=where))
    return out


def _mass_fractions(result):
    table = result.extra.get("mass_fractions")
    if table is None:
        return None
    cols = [c for c in table.columns if str(c).startswith("Y_")]
    return table[cols].to_numpy(dtype=float)


def _pfr_balances(result) -> list:
    p, species = result.profiles, result.extra.get("species")
    Y = _mass_fractions(result)
    if species is None or Y is None or R.MASS_FLUX not in p or len(p) < 2:
        return []
    G = p[R.MASS_FLUX].to_numpy(dtype=float)
    gas, soot = element_content(species, Y), _soot_content(p)
    flows = {k: G * (gas[k] + soot[k]) for k in gas}
    what = ("element flow G (b + s) along the duct against the inlet's "
            "(G gas mass flux, b gas content, s soot content)")
    # soot deposited on the wall leaves the flow: the balances of what soot holds are
    # figures then
    wall = ("C", "H", "mass") if result.case.reactor.wall_deposition else ()
    if wall:
        what += "; the soot deposited on the wall is not in the result (C, H, mass: figures)"
    return _balance_checks(flows, {k: v[0] for k, v in flows.items()}, what, figures=wall)


def _batch_balances(result) -> list:
    p, species = result.profiles, result.extra.get("species")
    Y = _mass_fractions(result)
    if species is None or Y is None or R.GAS_MASS not in p or len(p) < 2:
        return []
    m = p[R.GAS_MASS].to_numpy(dtype=float)
    gas, soot = element_content(species, Y), _soot_content(p)
    amounts = {k: m * (gas[k] + soot[k]) for k in gas}
    return _balance_checks(amounts, {k: v[0] for k, v in amounts.items()},
                           "amount m (b + s) in the reactor against the initial one")


def _psr_balances(result) -> list:
    p, species = result.profiles, result.extra.get("species")
    Y = _mass_fractions(result)
    inlet = result.extra.get("inlet content [mol/kg]")
    if species is None or Y is None or inlet is None or len(p) == 0:
        return []
    gas, soot = element_content(species, Y), _soot_content(p)
    mixture = 1.0 + soot["mass"]     # kg of gas and soot per kg of gas
    per_kg = {k: (gas[k][:1] + soot[k][:1]) / mixture[:1] for k in gas}
    # per kg the mass itself balances by construction: the reactor's mass is held by its
    # steady state (psr.steady_tolerance), which decides "completed"
    per_kg["mass"], reference = per_kg["mass"] * 0.0, dict(inlet, mass=0.0)
    out = _balance_checks(per_kg, reference, "content per kg of gas and soot of the stirred "
                          "reactor against the inlet's", where="stirred reactor")
    m0 = result.extra.get("plug-flow initial mass [kg]")
    if len(p) > 1 and m0 and R.GAS_MASS in p:
        m = p[R.GAS_MASS].to_numpy(dtype=float)
        amounts = {k: m[1:] * (gas[k][1:] + soot[k][1:]) for k in gas}
        start = {k: m0 * (gas[k][0] + soot[k][0]) for k in gas}
        out += _balance_checks(amounts, start, "amount m (b + s) of the plug-flow parcel "
                               "against the stirred reactor's outflow", where="plug flow")
    return out


def _trapezoid(y, z) -> float:
    """Trapezoidal integral of y over the points z."""
    y, z = np.asarray(y, dtype=float), np.asarray(z, dtype=float)
    return float(np.sum(0.5 * (y[1:] + y[:-1]) * np.diff(z)))




def _rates(result):
    """(species names, rates: species x points, kmol/(m3 s)) of a flame's gas-species
    rates due to soot, or None."""
    r = result.rates
    if r is None or len(r) == 0:
        return None
    cols = [c for c in r.columns if str(c).endswith(" [kmol/(m3 s)]")]
    names = [str(c)[:-len(" [kmol/(m3 s)]")] for c in cols]
    return names, r[cols].to_numpy(dtype=float).T


def _flame_soot_flows(result) -> Optional[dict]:
    """The soot's net outflow (mol/(m2 s) per element, kg/(m2 s) of mass) and uptake from
    the gas on the soot grid; None without soot."""
    p, species = result.profiles, result.extra.get("species")
    pos = result.position_column()
    rates = _rates(result)
    if R.C_TOT not in p or species is None or rates is None or len(p) < 3:
        return None
    z = p[pos].to_numpy(dtype=float)
    rho_u = p[R.DENSITY].to_numpy(dtype=float) * p[R.VELOCITY].to_numpy(dtype=float)
    soot = _soot_content(p)
    names, W_rates = rates
    order = {n: i for i, n in enumerate(species["names"])}
    idx = [order[n] for n in names]
    W, atoms = _atoms(species)
    uptake_rate = {e: -(atoms[e][idx] @ W_rates) * 1000.0 for e in ELEMENTS}  # mol/(m3 s)
    uptake_rate["mass"] = -(W[idx] @ W_rates)                                 # kg/(m3 s)
    two_way = _two_way(result)
    if two_way:
        # the coupled rows are upwind: each interior point's sources act over the interval
        # on its upwind side, which is what they conserve (the trapezoidal rule differs by
        # a first-order grid error: 6 % on an 81-point burner flame where this closes to
        # 5e-4)
        u = p[R.VELOCITY].to_numpy(dtype=float)
        dz = np.diff(z)
        cells = np.zeros(len(z))
        cells[1:-1] = np.where(u[1:-1] > 0, dz[:-1], dz[1:])
    out = {}
    for key in ELEMENTS + ("mass",):
        s = soot[key]
        if result.case.kind == "counterflow":
            if two_way:
                from .coupled_stage import _sideways
                net = _sideways(rho_u, s)
            else:
                # leaves sideways with the gas: 2 rho V = -d(rho u)/dz
                net = _trapezoid(-np.gradient(rho_u, z) * s, z)
        else:
            # carried out through the last point (the soot enters at its floors)
            net = float(rho_u[-1] * s[-1])
        uptake = float(np.sum(uptake_rate[key] * cells)) if two_way else \
            _trapezoid(uptake_rate[key], z)
        out[key] = {"out": net, "uptake": uptake}
    return out


def _flame_balances(result) -> list:
    """The gas's balances (Cantera's flame on its own grid, relative to the inflow), the
    soot's (its outflow against its uptake from the gas, relative to the larger of the
    two: the soot's own flow), and the carbon balance as computed (gas + soot relative to
    the inflow, the gas never giving up the soot's carbon: the one-way coupling). The
    soot's hydrogen is a figure only: the soot model does not conserve hydrogen (its
    dimers keep the hydrogen of their PAHs while releasing H2), by an amount that in a
    one-way flame scales with the soot's excess uptake."""
    flows = result.extra.get("gas flows")
    if not flows:
        return []
    soot = _flame_soot_flows(result)
    two_way = _two_way(result)
    out = []
    for key in ELEMENTS + ("mass",):
        f = flows[key]
        if not f["in"]:
            continue
        gas_left = f["in"] - f["out"] - f["radial"]
        name = "mass balance" if key == "mass" else f"{key} balance"
        if two_way:
            # the coupled gas gives the soot what it takes: gas and soot out together
            # against the inflow (the soot's mass, left out of continuity, is within the
            # largest soot mass per gas mass of the run)
            soot_out = soot[key]["out"] if soot is not None and key in soot else 0.0
            out.append(Check(f"{name}, gas + soot", (gas_left - soot_out) / f["in"],
                             FLAME_GRID_TOLERANCE, "the coupled gas and the soot: in - out, "
                             "relative to the inflow"))
        else:
            out.append(Check(f"{name}, gas", gas_left / f["in"], FLAME_GRID_TOLERANCE,
                             "Cantera's flame: gas in - out, relative to the inflow"))
        if soot is None or key not in ("C", "H", "mass"):
            continue
        s = soot[key]
        flow = max(abs(s["out"]), abs(s["uptake"]), BALANCE_TOLERANCE * abs(f["in"]))
        out.append(Check(f"{name}, soot", (s["uptake"] - s["out"]) / flow,
                         None if key == "H" else FLAME_GRID_TOLERANCE,
                         "the soot's uptake from the gas - the soot carried out, relative "
                         "to the soot's flow" + (" (the soot model does not conserve "
                                                 "hydrogen: a figure)" if key == "H" else "")))
        if key == "C" and not two_way:
            # the balance as computed beyond the gas's own closure: the soot's carbon out,
            # which the gas never gave up
            out.append(Check("C balance as computed", -s["out"] / f["in"], ONE_WAY_LIMIT,
                             "gas + soot in - out beyond the gas's own balance: minus the "
                             "soot's carbon carried out (which the gas keeps), relative to "
                             "the inflow", kind="one-way"))
    return out


def one_way_ratios(result) -> dict:
    """Per growth species (C2H2 and the PAHs of the run): the soot's consumption of it
    integrated over the domain, relative to the flux of it that the gas carries: in a
    burner flame the largest convective flux u c (c = X P / (R T), kmol/m3), in a
    counterflow flame what leaves sideways (the integral of 2 V c). {} without soot."""
    p = result.profiles
    rates = _rates(result)
    if rates is None or R.T not in p or len(p) < 3:
        return {}
    names, W_rates = rates
    pos = result.position_column()
    z = p[pos].to_numpy(dtype=float)
    P = float(result.extra.get("pressure [Pa]", 101325.0))
    u = p[R.VELOCITY].to_numpy(dtype=float)
    rho = p[R.DENSITY].to_numpy(dtype=float)
    T = p[R.T].to_numpy(dtype=float)
    wanted = list(GROWTH_SPECIES) + [str(s) for s in result.extra.get("PAHs", ())]
    lower = {n.lower(): i for i, n in enumerate(names)}
    out = {}
    for s in wanted:
        col = R.species_column(s)
        if s.lower() not in lower or col not in p:
            continue
        c = p[col].to_numpy(dtype=float) * P / (GAS_CONSTANT * T)      # kmol/m3
        consumed = _trapezoid(-W_rates[lower[s.lower()]], z)       # kmol/(m2 s)
        if result.case.kind == "counterflow":
            carried = _trapezoid(-np.gradient(rho * u, z) / rho * c, z)
        else:
            carried = float(np.max(np.abs(u * c)))
        out[s] = consumed / carried if carried > 0 else math.inf
    return out


def _one_way_checks(result) -> list:
    what = ("the soot's consumption over the domain relative to the flux of the species "
            "the gas carries")
    return [Check(f"soot uptake of {s}", v, ONE_WAY_LIMIT, what, kind="one-way")
            for s, v in one_way_ratios(result).items()]


def _positivity(result) -> list:
    p = result.profiles
    floors = soot_floors()
    resolution = _resolution(result) or float(result.case.integrator.rtol)
    bad, worst = 0, ""
    below = np.zeros(len(p), dtype=bool)
    for v, col in VARIABLE_COLUMNS.items():
        if col not in p:
            continue
        x = p[col].to_numpy(dtype=float)
        finite = x[np.isfinite(x)]
        peak = float(finite.max()) if finite.size else 0.0
        allowed = max(NEGATIVE_FLOORS * floors[v], resolution * peak)
        neg = np.isfinite(x) & (x < -allowed)
        if neg.any() and not worst:
            i = int(np.argmin(np.where(neg, x, np.inf)))
            worst = f"{v} {x[i]:.3g} mol/kg at row {i}"
        below |= neg
    fractions = [c for c in p.columns if str(c).startswith("X_")]
    Y = _mass_fractions(result)
    gas_neg = np.zeros(len(p), dtype=bool)
    if fractions:
        gas_neg |= (p[fractions].to_numpy(dtype=float) < -NEGATIVE_FRACTION).any(axis=1)
    if Y is not None and len(Y) == len(p):
        gas_neg |= (Y < -NEGATIVE_FRACTION).any(axis=1)
    for col in (R.T, R.DENSITY):
        if col in p:
            gas_neg |= p[col].to_numpy(dtype=float) <= 0.0
    if gas_neg.any() and not worst:
        worst = f"a gas fraction, temperature or density at row {int(np.argmax(gas_neg))}"
    bad = int((below | gas_neg).sum())
    return [Check("positivity", float(bad), 0.0, "points with a negative soot variable "
                  "(beyond its noise) or a negative mass fraction, temperature or density",
                  where=worst)]


def _consistency(result) -> list:
    p = result.profiles
    ok = meaningful(p, _resolution(result))
    if not ok:
        return []
    bad = _inconsistent(p, ok, _resolution(result))
    where = ""
    if bad.any():
        i = int(np.argmax(bad))
        where = (f"{result.position_column()} = {p[result.position_column()].iloc[i]:.4g}: "
                 f"N_agg {p[R.N_AGG].iloc[i]:.3g}, N_pri {p[R.N_PRI].iloc[i]:.3g}")
    return [Check("N_pri >= N_agg", float(bad.sum()), 0.0,
                  "points where the soot is meaningful and N_pri < N_agg beyond the "
                  "uncertainty of the values", where=where)]


def _residual(result) -> list:
    if _two_way(result):
        value = result.extra.get("coupled residual")
        if value is None:
            return []
        return [Check("coupled residual", float(value),
                      float(result.case.soot_solver.coupled_tolerance),
                      "scaled residual of the coupled species and soot equations at the "
                      "answer, with its own diffusion coefficients")]
    value = result.extra.get("recomputed residual")
    if value is None:
        return []
    return [Check("soot residual", float(value), float(result.case.soot_solver.tolerance),
                  "scaled residual of the steady soot equations at the answer, on a new "
                  "solver")]


def run_checks(result) -> list:
    """The checks of a result (see the module's description)."""
    p = result.profiles
    if p is None or len(p) == 0:
        return []
    kind = result.case.kind
    checks = []
    if kind == "pfr":
        checks += _pfr_balances(result)
    elif kind == "batch":
        checks += _batch_balances(result)
    elif kind == "psr":
        checks += _psr_balances(result)
    else:
        checks += _flame_balances(result)
    checks += _positivity(result)
    checks += _consistency(result)
    checks += _residual(result)
    if kind in ("flame", "counterflow") and not _two_way(result):
        # the gas of a two-way run feels the soot: nothing to flag
        checks += _one_way_checks(result)
    return checks


# ---- the status ---------------------------------------------------------------------------

def check_run(result, gas=None) -> Any:
    """Mask the derived soot values that mean nothing, compute the checks into
    result.extra["checks"], and set the status: "suspect" for a run that converged or
    completed while a check failed beyond its tolerance ("suspect: the gas would feel the
    soot" when it is the one-way coupling), the case's warnings as the likely cause in
    the message of a failed or not-converged run. `gas` (the run's Cantera phase) supplies
    the species' atoms when the result does not hold them yet. Returns the result."""
    from .cases import case_warnings

    if gas is not None and "species" not in result.extra:
        result.extra["species"] = species_table(gas)
    try:
        emptied = mask_derived(result)
        checks = run_checks(result)
    except Exception as e:  # a check that cannot be computed is said, never skipped silently
        emptied, checks = {}, [Check("checks", math.nan, 0.0,
                                     f"the checks could not be computed: "
                                     f"{type(e).__name__}: {e}")]
    try:
        unresolved = mask_unresolved(result)
    except Exception:  # the checks above already say what could not be computed
        unresolved = {}
    for col, count in unresolved.items():
        emptied[col] = emptied.get(col, 0) + count
    result.extra["derived values left empty"] = emptied
    result.extra["checks"] = [c.as_dict() for c in checks]
    failed = [c for c in checks if not c.passed]
    if result.status in (R.CONVERGED, R.COMPLETED) and failed:
        reasons = []
        if any(c.kind == "one-way" for c in failed):
            reasons.append(SUSPECT_ONE_WAY)
        others = [c.name for c in failed if c.kind != "one-way"]
        if others:
            reasons.append(", ".join(others) + " beyond tolerance")
        result.extra["finished as"] = result.status
        result.status = R.SUSPECT
        result.message = f"suspect: {'; '.join(reasons)} ({result.message})"
    elif result.status in (R.FAILED,) + R.NOT_CONVERGED:
        warned = case_warnings(result.case)
        if warned:
            result.message += ("; the case was warned about, the likely cause: "
                               + "; ".join(warned))
    return result


# ---- how the checks are written -----------------------------------------------------------

CHECK_ROW = "(check)"     # the "data" column of a check's row in metrics.csv
CHECK_COLUMNS = ("value", "limit", "passed", "kind", "what", "where")


def metrics_rows(result) -> list:
    """The checks of a result as rows of metrics.csv: "data" is CHECK_ROW, "quantity" the
    check's name, then its value, limit, whether it passed, its kind, what the value is
    and where it is worst."""
    return [{"data": CHECK_ROW, "quantity": c["name"],
             **{k: c.get(k) for k in CHECK_COLUMNS}} for c in result.checks]


def summary_lines(result) -> list:
    """The checks of a result for summary.txt: one line each, the failed ones marked, and
    the count of derived values left empty."""
    checks = result.checks
    if not checks:
        return []
    failed = sum(not c["passed"] for c in checks)
    lines = [f"checks: {len(checks) - failed} of {len(checks)} passed"
             + ("" if not failed else f", {failed} failed (the run is {R.SUSPECT} when it "
                                      f"had {R.CONVERGED} or {R.COMPLETED})"),
             "  balances: inflow - outflow - accumulation relative to the throughput"
             + ("" if result.case.kind not in ("flame", "counterflow") or _two_way(result) else
                f"; the soot's uptake of a growth species relative to its flux (beyond "
                f"{ONE_WAY_LIMIT:g}: {SUSPECT_ONE_WAY})")]
    width = max(len(c["name"]) for c in checks)
    for c in checks:
        limit = "figure" if c["limit"] is None else f"limit {c['limit']:.3g}"
        mark = "ok" if c["passed"] else \
            ("FAILED: " + SUSPECT_ONE_WAY if c["kind"] == "one-way" else "FAILED")
        value = f"{c['value']:.3g}" if isinstance(c["value"], float) else str(c["value"])
        lines.append(f"  {c['name']:<{width}}  {value:>10}  ({limit})  {mark}"
                     + (f"  [{c['where']}]" if c.get("where") else ""))
    emptied = {k: v for k, v in (result.extra.get("derived values left empty") or {}).items()
               if v}
    if emptied:
        lines.append("values left empty where the soot is not meaningful (below "
                     f"{FLOOR_MULTIPLE:g} floors, or for a flame below {RESOLUTION:g} x the "
                     "solve's tolerance x the peak): derived values there, where N_pri < N_agg "
                     "or not physical; the soot variables themselves there only where "
                     "negative or N_pri < N_agg: " + ", ".join(f"{k.split(' [')[0]} {v} points"
                                                               for k, v in emptied.items()))
    return lines


def status_tag(result) -> str:
    """What a plot title says of how the run ended: nothing for a converged or completed
    run, else its status ("suspect: the gas would feel the soot", "RUN FAILED", ...)."""
    if result.status in (R.CONVERGED, R.COMPLETED):
        return ""
    if result.status == R.SUSPECT:
        return result.message.split(" (", 1)[0]
    if result.status == R.FAILED:
        if result.extra.get("coupling") == "one-way (fallback)":
            return "RUN FAILED: the coupled solve stopped, ONE-WAY result shown"
        return "RUN FAILED"
    return result.status.upper()
