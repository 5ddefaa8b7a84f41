"""What a run returns: the profiles as a table with units in the column names, the case
that produced them, and how the run ended.

Column names are shared by the reactor, batch, stirred-reactor and flame runs, the output
files and the plots; they are defined here once.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any

from .cases import Case

__all__ = ["RunResult", "COLUMNS", "soot_state_columns", "species_column", "POSITIONS",
           "NOT_CONVERGED", "COMPLETED", "CONVERGED", "SUSPECT", "FAILED", "STATUSES",
           "exit_status"]

# position columns
Z = "z [m]"
HEIGHT = "height above burner [m]"
POSITION = "position [m]"  # counterflow flames: from the fuel inlet
RESIDENCE_TIME = "residence time [s]"
TIME = "time [s]"  # batch reactors: from the initial state
# gas columns
T = "T [K]"
VELOCITY = "velocity [m/s]"
MASS_FLUX = "mass flux [kg/(m2 s)]"
DENSITY = "density [kg/m3]"
PRESSURE = "pressure [Pa]"
GAS_MASS = "gas mass [kg]"  # batch and stirred reactors: the gas in the reactor or parcel
# soot columns (the four variables, then derived quantities)
N_AGG = "N_agg [mol/kg]"
N_PRI = "N_pri [mol/kg]"
C_TOT = "C_tot [mol/kg]"
H_TOT = "H_tot [mol/kg]"
FV = "soot volume fraction [-]"
NUMBER = "number density [1/m3]"
D_P = "primary diameter [nm]"
D_M = "mobility diameter [nm]"
N_P = "primaries per aggregate [-]"
HC = "H/C [-]"
INCEPTION = "inception rate [1/(m3 s)]"
# a two-way flame's one-way values beside the coupled ones: "one-way " + the column
ONE_WAY_PREFIX = "one-way "

# the position column of each run kind (a time for the reactor-network kinds: batch
# reactors in time, stirred reactors and their plug-flow section in residence time)
POSITIONS = {"pfr": Z, "flame": HEIGHT, "counterflow": POSITION, "batch": TIME,
             "psr": RESIDENCE_TIME}
# How a run ended. The words, what they mean and the command line's exit status of each
# are defined here once; summaries, plots and the command line read them from here.
COMPLETED = "completed"    # an integration reached its end, and every check passed
CONVERGED = "converged"    # an iterative solve met its tolerance, and every check passed
SUSPECT = "suspect"        # it finished, but a check of the result failed (fumivex2.checks)
STEP_BUDGET = "step budget used"
NOT_CONVERGED_WORD = "not converged"
FAILED = "failed"
# statuses of runs that ended with results that are not converged
NOT_CONVERGED = (STEP_BUDGET, NOT_CONVERGED_WORD)
# status -> (exit status, what it means)
STATUSES = {
    COMPLETED: (0, "done"),
    CONVERGED: (0, "done"),
    FAILED: (1, "a run failed (its partial results are written)"),
    STEP_BUDGET: (3, "not converged (its results are written)"),
    NOT_CONVERGED_WORD: (3, "not converged (its results are written)"),
    SUSPECT: (4, "suspect: a check of the result failed (a balance, positivity, "
                 "N_pri >= N_agg, the recomputed residual, or the gas would feel the soot; "
                 "results written, the checks in summary.txt)"),
}
EXIT_USAGE, EXIT_INTERRUPTED = 2, 130


def exit_status(status: str) -> int:
    """The command line's exit status of a run that ended with `status` (1 for anything
    unknown, as a sweep case that raised: "error")."""
    return STATUSES.get(status, (1, ""))[0]


def exit_status_help() -> str:
    """One line per exit status, for --help and the docs."""
    seen: dict = {}
    for status, (code, meaning) in STATUSES.items():
        seen.setdefault(code, meaning)
    seen[EXIT_USAGE] = "a user error"
    seen[EXIT_INTERRUPTED] = "interrupted"
    return ", ".join(f"{code} {meaning}" for code, meaning in sorted(seen.items()))
# the soot model's four variables (mol per kg of gas) and the names of their floor values
SOOT_VARIABLES = ("N_agg", "N_pri", "C_tot", "H_tot")
SOOT_FLOORS = tuple(f"{v}_min" for v in SOOT_VARIABLES)

COLUMNS = {name: value for name, value in globals().items()
           if name.isupper() and isinstance(value, str) and "[" in value}


def species_column(name: str) -> str:
    """Column of the mole fraction of species `name`."""
    return f"X_{name} [-]"


def soot_state_columns(model, density: float, state=None) -> dict:
    """The soot columns of one point from a soot model that has been given the gas
    (update_gas) and the soot variables (update_solution); density in kg/m3. The four
    variables are the run's own `state` (N_agg, N_pri, C_tot, H_tot in mol/kg) when given
    (negative values included, which the run's checks look at), else the model's reading
    of them (floored); the derived quantities are the model's."""
    n_agg = model.N_agg
    own = [model.N_agg, model.N_pri, model.C_tot, model.H_tot] if state is None else \
        [float(v) for v in state]
    return {
        N_AGG: own[0],
        N_PRI: own[1],
        C_TOT: own[2],
        H_TOT: own[3],
        FV: model.volume_fraction(),
        NUMBER: n_agg * model.Av * density,
        D_P: model.d_p() * 1e9,
        D_M: model.d_m() * 1e9,
        N_P: model.n_p(),
        HC: model.H_tot / model.C_tot,
        INCEPTION: (model.inception(1) or 0.0) * model.Av * density,
    }


@dataclass
class RunResult:
    """The outcome of one run: `profiles` (a pandas DataFrame, one row per station or grid
    point, units in the column names), the `case`, whether it finished (`status`:
    "completed", "converged", "suspect", "step budget used", "not converged" or "failed") and a
    one-line `message`;
    flames also carry `rates`, the gas-species rates due to soot from
    update_wdot_correction (kmol/(m3 s), one column per species). The status is one of
    STATUSES: "suspect" when a check of the result (fumivex2.checks, stored in
    extra["checks"]) failed."""
    case: Case
    profiles: Any
    status: str
    message: str
    run_time: float = 0.0  # s
    rates: Any = None
    extra: dict = field(default_factory=dict)

    @property
    def ok(self) -> bool:
        return self.status != FAILED

    @property
    def converged(self) -> bool:
        """False when the run ended with results that are not converged."""
        return self.status not in NOT_CONVERGED and self.ok

    @property
    def suspect(self) -> bool:
        """True when a check of the result failed (status "suspect")."""
        return self.status == SUSPECT

    @property
    def checks(self) -> list:
        """The checks of the result (dicts: name, value, limit, passed, what, kind,
        where), as fumivex2.checks computed them."""
        return list(self.extra.get("checks") or ())

    def position_column(self) -> str:
        return POSITIONS.get(self.case.kind, Z)

    def summary(self) -> dict:
        """How the run ended and its run time; the entries the run kind adds in
        extra["summary"] (the inlet mole fractions, a burner's mass flux, a counterflow
        flame's structure); then from the profiles: the final soot volume fraction,
        diameters and number density (counterflow flames, whose last row is the oxidiser
        inlet: the peaks and where they are), where inception peaks (only when it is
        positive somewhere) and the peak volume fraction."""
        import numpy as np

        p = self.profiles
        out = {"case": self.case.name, "kind": self.case.kind, "status": self.status,
               "message": self.message, "run time [s]": self.run_time}
        if self.extra.get("coupling"):
            out["coupling"] = COUPLING_WORDS.get(self.extra["coupling"], self.extra["coupling"])
        out.update(self.extra.get("summary") or {})
        if p is None or len(p) == 0:
            return _finite(out)
        pos = self.position_column()
        if self.case.kind in PEAK_KINDS:
            out.update(_peaks(p, pos))
        else:
            last = p.iloc[-1]
            for col in (FV, D_P, D_M, NUMBER, N_P, HC, T):
                if col in p:
                    out[f"final {col}"] = float(last[col])
        if INCEPTION in p:
            rate = p[INCEPTION].to_numpy(dtype=float)
            rate = np.where(np.isfinite(rate), rate, -np.inf)
            i = int(np.argmax(rate))
            if rate[i] > 0.0:  # a run without inception has no place where it peaks
                out[f"inception peak at {pos}"] = float(p[pos].iloc[i])
            out[f"peak {INCEPTION}"] = max(float(rate[i]), 0.0)
        if FV in p and f"peak {FV}" not in out:
            out[f"peak {FV}"] = float(p[FV].max())
        # a two-way flame: its one-way counterpart and what the coupling changed
        out.update(self.extra.get("coupling summary") or {})
        return _finite(out)


# how a flame's summary names its coupling (extra["coupling"])
COUPLING_WORDS = {
    "two-way": "two-way: gas species and soot solved together (the values are the coupled ones)",
    "one-way": "one-way: the soot carried through Cantera's gas, which does not feel it",
    "one-way (fallback)": "ONE-WAY (fallback: the coupled solve stopped): the soot carried "
                          "through Cantera's gas, which does not feel it",
}
HELD = ("temperature and flow are held at Cantera's flame (no energy equation, no soot "
        "radiation); the soot's mass is left out of continuity")

# run kinds whose last row is an inlet, not the end of a development: their summary gives
# the peaks and where they are instead of the values in the last row
PEAK_KINDS = ("counterflow",)


def _finite(out: dict) -> dict:
    return {k: (v if not isinstance(v, float) or math.isfinite(v) else None)
            for k, v in out.items()}


def _peaks(p, pos: str) -> dict:
    """The peak soot volume fraction and number density with their positions, the particle
    sizes and H/C where the volume fraction peaks, and the peak temperature with its
    position; values left empty in the profiles (NaN) are skipped."""
    import numpy as np

    out = {}

    def peak(col):  # row of the largest value of col, or None
        if col not in p:
            return None
        v = p[col].to_numpy(dtype=float)
        return None if not np.any(np.isfinite(v)) else int(np.nanargmax(v))

    x = p[pos].to_numpy(dtype=float)
    i = peak(FV)
    if i is not None:
        out[f"peak {FV}"] = float(p[FV].iloc[i])
        out[f"{FV.split(' [')[0]} peak at {pos}"] = float(x[i])
        for col in (D_P, D_M, N_P, HC):
            if col in p:
                name, unit = col.split(" [")
                out[f"{name} at the soot peak [{unit}"] = float(p[col].iloc[i])
    for col in (NUMBER, T):
        k = peak(col)
        if k is not None:
            out[f"peak {col}"] = float(p[col].iloc[k])
            out[f"{col.split(' [')[0]} peak at {pos}"] = float(x[k])
    return out
