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
           "NOT_CONVERGED"]

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

# the position column of each run kind (a time for the reactor-network kinds: batch
# reactors in time, stirred reactors and their plug-flow section in residence time)
POSITIONS = {"pfr": Z, "flame": HEIGHT, "counterflow": POSITION, "batch": TIME,
             "psr": RESIDENCE_TIME}
# statuses of runs that ended with results that are not converged
NOT_CONVERGED = ("step budget used", "not converged")
# the soot model's four variables (mol per kg of gas) and the names of their floor values
SOOT_VARIABLES = ("N_agg", "N_pri", "C_tot", "H_tot")
SOOT_FLOORS = tuple(f"{v}_min" for v in SOOT_VARIABLES)

COLUMNS = {name: value for name, value in globals().items()
           if name.isupper() and isinstance(value, str) and "[" in value}


def species_column(name: str) -> str:
    """Column of the mole fraction of species `name`."""
    return f"X_{name} [-]"


def soot_state_columns(model, density: float) -> dict:
    """The soot columns of one point from a soot model that has been given the gas
    (update_gas) and the soot variables (update_solution); density in kg/m3."""
    n_agg = model.N_agg
    return {
        N_AGG: n_agg,
        N_PRI: model.N_pri,
        C_TOT: model.C_tot,
        H_TOT: model.H_tot,
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
    "completed", "converged", "step budget used", "not converged" or "failed") and a
    one-line `message`;
    flames also carry `rates`, the gas-species rates due to soot from
    update_wdot_correction (kmol/(m3 s), one column per species)."""
    case: Case
    profiles: Any
    status: str
    message: str
    run_time: float = 0.0  # s
    rates: Any = None
    extra: dict = field(default_factory=dict)

    @property
    def ok(self) -> bool:
        return self.status != "failed"

    @property
    def converged(self) -> bool:
        """False when the run ended with results that are not converged."""
        return self.status not in NOT_CONVERGED and self.ok

    def position_column(self) -> str:
        return POSITIONS.get(self.case.kind, Z)

    def summary(self) -> dict:
        """Final soot volume fraction, diameters, number density, where inception peaks,
        run time."""
        p = self.profiles
        out = {"case": self.case.name, "kind": self.case.kind, "status": self.status,
               "message": self.message, "run time [s]": self.run_time}
        if "gas viscosity" in self.extra:  # how the viscosity the soot model reads was made
            out["gas viscosity"] = self.extra["gas viscosity"]
        if p is None or len(p) == 0:
            return out
        last = p.iloc[-1]
        for col in (FV, D_P, D_M, NUMBER, N_P, HC, T):
            if col in p:
                out[f"final {col}"] = float(last[col])
        if INCEPTION in p and len(p):
            i = int(p[INCEPTION].to_numpy().argmax())
            out[f"inception peak at {self.position_column()}"] = float(p[self.position_column()].iloc[i])
            out[f"peak {INCEPTION}"] = float(p[INCEPTION].iloc[i])
        if FV in p:
            out[f"peak {FV}"] = float(p[FV].max())
        return {k: (v if not isinstance(v, float) or math.isfinite(v) else None) for k, v in out.items()}
