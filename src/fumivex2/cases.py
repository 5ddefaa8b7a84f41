"""Case files: what one reactor or flame run is, as a small TOML file and as frozen,
picklable dataclasses.

A case file has a ``kind`` ("pfr", "flame", "counterflow", "batch" or "psr") and tables
mirroring the dataclasses below; every field has a default and a unit, so a file need only
say what differs.
``default_case(kind)`` gives the shipped default cases, ``case_to_toml(case)`` writes any
case back as a commented file, ``load_case(path)`` reads one, and ``with_overrides(case,
{"reactor.length": 0.2})`` makes the variants a sweep runs.

A number field also takes a quantity with its unit as text ("1 atm", "30 cm", "25 degC"),
converted to the field's SI unit; values outside the range where the mechanism and the
soot model mean anything are warned about (``CaseWarning``).

Only the standard library is imported here; pint, which reads the units, is imported on the
first value given with a unit.
"""
from __future__ import annotations

import difflib
import math
import os
import pathlib
import re
import tomllib
import warnings
from dataclasses import MISSING, dataclass, field, fields, is_dataclass, replace
from typing import Any, Mapping

__all__ = [
    "Case", "CaseError", "CaseWarning", "case_warnings", "MechanismSpec", "SpeciesSpec",
    "InletSpec", "ReactorSpec",
    "TemperatureSpec", "SootSpec", "IntegratorSpec", "FlameSpec", "CounterflowSpec",
    "SootSolverSpec", "BatchSpec", "PsrSpec", "OutputSpec", "DataSpec", "default_case",
    "load_case", "parse_case", "case_to_toml",
    "with_overrides", "case_fields",
]

KINDS = ("pfr", "flame", "counterflow", "batch", "psr")
# the kinds whose soot is carried through a Cantera flame by the flame soot solver
FLAME_KINDS = ("flame", "counterflow")
GROWTH_MODELS = ("reactive_dimerization", "self_collision", "self_collision_lump",
                 "cross_linking", "irreversible_dimerization")
ALPHA_MODELS = ("constant", "empirical", "composition")
COALESCENCE_TYPES = ("titania", "silica", "md-derived", "CtoH-based", "disabled")
VALIDATION_CASES = ("coagulation", "no_validation")
COUPLINGS = ("two-way", "one-way")
SWITCHES = ("inception_enabled", "growth_enabled", "growth_HACA_enabled",
            "growth_PAH_adsorption_enabled", "carbonization_enabled", "oxidation_enabled",
            "coagulation_enabled", "coalescence_enabled", "scrubbing_enabled")


class CaseError(ValueError):
    """A case file or case value that cannot be used; the message says what to do."""


class CaseWarning(UserWarning):
    """A case value that runs but is likely a slip: outside the range where the mechanism
    and the soot model mean anything, or overridden by another setting of the case."""


def _f(default, unit: str, doc: str, choices: tuple = (), path_or_table: bool = False):
    """A case field with its unit, meaning and (for text fields) allowed values;
    path_or_table: a table field that also takes the path of a file (text)."""
    meta = {"unit": unit, "doc": doc, "choices": choices, "path_or_table": path_or_table}
    if isinstance(default, (list, dict)):
        raise TypeError("use tuples for sequence defaults")
    return field(default=default, metadata=meta)


@dataclass(frozen=True)
class MechanismSpec:
    file: str = _f("abf.yaml", "", "Cantera mechanism: a path, or a name Cantera resolves; "
                   "'abf.yaml' is the Appel-Bockhorn-Frenklach mechanism shipped with fumivex2")
    phase: str = _f("", "", "phase name in the file ('' = the first phase)")


@dataclass(frozen=True)
class SpeciesSpec:
    aliases: tuple = _f((), "", "mechanism names for the key species and PAHs, as pairs "
                        "[[\"C2H2\", \"c2h2\"], [\"A4\", \"C16H10\"]] (case-insensitive lookup "
                        "without aliases)")
    pahs: tuple = _f((), "", "PAH species of the soot model; empty = pyrene (A4), else the "
                     "largest of A3 and A2 in the mechanism")


@dataclass(frozen=True)
class InletSpec:
    pressure: float = _f(101325.0, "Pa", "pressure")
    temperature: float = _f(1000.0, "K", "inlet temperature")
    composition: str = _f("C2H4:1, O2:1, N2:3", "", "inlet composition as 'name:amount, ...' "
                          "(normalised); ignored when fuel is given")
    basis: str = _f("mole", "", "basis of composition, and of fuel and oxidizer for an "
                     "equivalence-ratio inlet (with 'mass' their amounts are mass fractions: the "
                     "default oxidizer is then not air)", ("mole", "mass"))
    fuel: str = _f("", "", "fuel composition for an equivalence-ratio inlet (e.g. 'C2H4:1')")
    oxidizer: str = _f("O2:1, N2:3.76", "", "oxidiser composition for an equivalence-ratio inlet")
    equivalence_ratio: float = _f(1.0, "", "equivalence ratio when fuel is given")


@dataclass(frozen=True)
class ReactorSpec:
    diameter: float = _f(0.01, "m", "duct diameter (used when perimeter and area are 0)")
    perimeter: float = _f(0.0, "m", "wetted perimeter (with area, instead of diameter)")
    area: float = _f(0.0, "m^2", "cross-section (with perimeter, instead of diameter)")
    velocity: float = _f(0.5, "m/s", "inlet velocity (used when mass_flux is 0)")
    mass_flux: float = _f(0.0, "kg/(m^2 s)", "inlet mass flux rho*u (instead of velocity)")
    length: float = _f(0.3, "m", "reactor length (used when residence_time is 0)")
    residence_time: float = _f(0.0, "s", "stop when the gas has spent this long in the duct "
                               "(instead of length)")
    wall_deposition: bool = _f(False, "", "remove soot by deposition on the duct wall (mass transfer from the friction factor and the soot diffusivity)")


@dataclass(frozen=True)
class TemperatureSpec:
    mode: str = _f("wall", "", "'wall': the gas follows a wall-temperature profile; "
                   "'history': the gas temperature follows a prescribed dT/dt", ("wall", "history"))
    wall_profile: tuple = _f(((0.0, 0.05, 0.3), (1000.0, 1700.0, 1700.0)), "m, K",
                             "wall temperature: axial positions (row 1) and temperatures (row 2), "
                             "linear in between, end values held")
    history: tuple = _f(((0.0, 1.0), (0.0, 0.0)), "m, K/s",
                        "temperature history: axial positions (row 1) and dT/dt (row 2)")


@dataclass(frozen=True)
class SootSpec:
    enabled: bool = _f(True, "", "carry soot (False: gas only)")
    growth_model: str = _f("self_collision", "", "PAH dimerization / growth model", GROWTH_MODELS)
    alpha_model: str = _f("empirical", "", "fraction of active surface sites", ALPHA_MODELS)
    coalescence: str = _f("disabled", "", "coalescence of primary particles", COALESCENCE_TYPES)
    validation: str = _f("no_validation", "", "validation case (coagulation: free-molecular kernel, "
                         "constant soot diffusivity)",
                         VALIDATION_CASES)
    sticking: tuple = _f((), "", "PAH sticking efficiencies, one per PAH; empty = "
                         "the model's mass-based estimate (self-collision models)")
    switches: tuple = _f((), "", "process switches to change, as pairs "
                         "[[\"oxidation_enabled\", false]]; names: " + ", ".join(SWITCHES))


@dataclass(frozen=True)
class IntegratorSpec:
    method: str = _f("auto", "", "stiff integrator of pfr runs: 'auto' (the fastest available), "
                     "'cvode' (scikit-sundae), 'BDF' or 'LSODA' (SciPy); batch and psr runs use "
                     "Cantera's own (CVODES)", ("auto", "cvode", "BDF", "LSODA"))
    rtol: float = _f(1e-8, "", "relative tolerance")
    atol: float = _f(1e-20, "", "absolute tolerance of the mass fractions (pfr: the other "
                     "components have their own: residence time 1e-12 s, mass flux 1e-12 of the "
                     "inlet's, T 1e-6 K, each soot variable its floor, in mol/kg; batch and psr: "
                     "Cantera takes one tolerance for every component, the smaller of this and "
                     "the smallest soot floor, 1.66e-24 mol/kg)")
    max_step: float = _f(0.0, "m", "largest step of pfr runs (0 = no limit)")


@dataclass(frozen=True)
class FlameSpec:
    width: float = _f(0.02, "m", "domain width above the burner")
    mass_flux: float = _f(0.08, "kg/(m^2 s)", "burner mass flux (0: use velocity)")
    velocity: float = _f(0.0, "m/s", "gas velocity leaving the burner at the inlet state "
                         "(used when mass_flux is 0)")
    temperature_profile: tuple = _f(
        (), "m, K", "imposed gas temperature: heights above the burner (row 1) and "
        "temperatures (row 2), linear in between, end values held; or the path of a CSV file "
        "(relative to the case file) with columns 'height above burner [mm|cm|m]' and "
        "'T [K]'; empty = solve the energy equation", path_or_table=True)
    transport: str = _f("mixture-averaged", "", "transport model of the flame (every flame "
                        "kind)", ("mixture-averaged", "multicomponent"))
    ratio: float = _f(3.0, "", "grid refinement (every flame kind): largest ratio of "
                      "neighbouring spacings")
    slope: float = _f(0.3, "", "grid refinement: largest relative jump between points")
    curve: float = _f(0.5, "", "grid refinement: largest relative change of slope")
    prune: float = _f(0.1, "", "grid refinement: remove points below this fraction of the criteria")


@dataclass(frozen=True)
class CounterflowSpec:
    width: float = _f(0.008, "m", "distance between the fuel and the oxidiser inlet")
    pressure: float = _f(101325.0, "Pa", "pressure")
    fuel: str = _f("C2H4:1", "", "fuel stream mole fractions as 'name:amount, ...' "
                   "(normalised)")
    fuel_temperature: float = _f(300.0, "K", "fuel stream temperature")
    fuel_mass_flux: float = _f(0.0, "kg/(m^2 s)", "fuel stream mass flux (0: use fuel_velocity)")
    fuel_velocity: float = _f(0.2, "m/s", "fuel stream velocity at the fuel inlet "
                              "(used when fuel_mass_flux is 0)")
    oxidizer: str = _f("O2:0.35, N2:0.65", "", "oxidiser stream mole fractions")
    oxidizer_temperature: float = _f(300.0, "K", "oxidiser stream temperature")
    oxidizer_mass_flux: float = _f(0.0, "kg/(m^2 s)", "oxidiser stream mass flux (0: use "
                                   "oxidizer_velocity)")
    oxidizer_velocity: float = _f(0.0, "m/s", "oxidiser stream velocity at its inlet, towards "
                                  "the fuel (0 with mass_flux 0: the velocity that balances the "
                                  "momentum of the fuel stream)")


@dataclass(frozen=True)
class SootSolverSpec:
    points: int = _f(150, "", "points of the soot grid (uniform over the flame width)")
    method: str = _f("steady", "", "'steady': Newton on the steady soot equations, with implicit "
                     "pseudo-time steps where Newton stalls; 'pseudo-time': pseudo-time steps "
                     "of dt only",
                     ("steady", "pseudo-time"))
    tolerance: float = _f(1e-6, "", "converged when the scaled residual of the steady soot "
                          "equations (largest over points and variables, each relative to the "
                          "largest term of its equations) is below this")
    max_iterations: int = _f(200, "", "Newton iteration budget of the steady solve (its "
                             "pseudo-time steps included)")
    dt: float = _f(5e-5, "s", "pseudo-time step (the soot sources are explicit: too large a "
                   "step oscillates or settles where the steady equations do not hold, which "
                   "the residual test reports as not converged)")
    chunk: int = _f(200, "", "pseudo-time steps per solve call between residual checks")
    max_steps: int = _f(10000, "", "pseudo-time step budget (also of the steps inside the "
                        "steady solve, whose first step is dt)")
    outlet: str = _f("outflow", "", "right boundary of a burner flame: 'outflow' or 'inlet' "
                     "(flux condition); a counterflow flame's oxidiser inlet is always a flux "
                     "condition", ("outflow", "inlet"))
    coupling: str = _f("two-way", "", "'two-way': the gas species and the soot solved "
                       "together on Cantera's temperature and flow (the gas feels what the soot "
                       "takes; profiles on Cantera's grid refined for the soot); 'one-way': the "
                       "soot carried through Cantera's gas, which does not feel it (profiles on "
                       "soot_solver.points)", COUPLINGS)
    coupled_tolerance: float = _f(1e-8, "", "two-way: converged when the scaled residual of "
                                  "the coupled species and soot equations is below this")
    coupled_slope: float = _f(0.025, "", "two-way: Cantera's grid refined until no soot "
                              "variable jumps by more than this fraction of its range between "
                              "neighbouring points")
    coupled_curve: float = _f(0.05, "", "two-way: ... and no soot variable's slope changes by "
                              "more than this fraction of its range between neighbouring "
                              "intervals")


@dataclass(frozen=True)
class BatchSpec:
    constant: str = _f("volume", "", "what the closed reactor keeps: 'volume' (a shock tube "
                       "behind its reflected shock, a rapid compression machine after "
                       "compression) or 'pressure'", ("volume", "pressure"))
    energy: bool = _f(False, "", "solve the energy equation (adiabatic); false: the gas stays "
                      "at inlet.temperature")
    end_time: float = _f(0.003, "s", "time integrated from the initial state (the [inlet] "
                         "table)")
    spacing: str = _f("log", "", "output times: 'log', log-spaced from first_time to end_time "
                      "(inception, within a few hundred microseconds at shock-tube temperatures, "
                      "and growth over milliseconds both get rows), or 'linear', evenly spaced",
                      ("log", "linear"))
    first_time: float = _f(1e-5, "s", "first output time after 0 with log spacing")


@dataclass(frozen=True)
class PsrSpec:
    residence_time: float = _f(0.01, "s", "residence time of the stirred reactor (mass over "
                               "mass flow)")
    volume: float = _f(2.5e-4, "m^3", "volume of the stirred reactor (with residence_time, the "
                       "mass flow into the plug-flow section)")
    energy: bool = _f(True, "", "adiabatic stirred reactor, started burning from the inlet "
                      "mixture's equilibrium; false: held at inlet.temperature, started from "
                      "the inlet mixture")
    steady_tolerance: float = _f(1e-6, "", "steady when no state component changes by more "
                                 "than this fraction over one residence time")
    max_residence_times: int = _f(100, "", "integration budget of the stirred reactor, in "
                                  "residence times (not steady by then: status 'not "
                                  "converged')")
    pfr_length: float = _f(0.16, "m", "plug-flow section after the stirred reactor (0: none)")
    pfr_diameter: float = _f(0.051, "m", "diameter of the plug-flow section (used when "
                             "pfr_area is 0)")
    pfr_area: float = _f(0.0, "m^2", "cross-section of the plug-flow section (instead of "
                         "pfr_diameter)")
    pfr_thermal: str = _f("adiabatic", "", "plug-flow section 'adiabatic', or 'isothermal' at "
                          "the stirred reactor's temperature", ("adiabatic", "isothermal"))


@dataclass(frozen=True)
class OutputSpec:
    folder: str = _f("fumivex2-out", "", "folder for run outputs (a subfolder per run)")
    plots: bool = _f(True, "", "write PNG plots")
    stations: int = _f(200, "", "output rows along the reactor (pfr), in time (batch), or "
                       "in the stirred reactor and along the plug-flow section after it (psr)")


@dataclass(frozen=True)
class DataSpec:
    """One measured-data file of a case (a [[data]] entry)."""
    file: str = _f("", "", "measured-data CSV, with '<quantity> [<unit>]' headers; a relative "
                   "path is taken from the case file's folder")
    label: str = _f("", "", "legend label of the data ('' = the file name without .csv)")


@dataclass(frozen=True)
class Case:
    name: str = _f("case", "", "case name, used in output folder names")
    kind: str = _f("pfr", "", "'pfr' (plug-flow reactor), 'flame' (burner flame), "
                   "'counterflow' (counterflow diffusion flame), 'batch' (closed batch "
                   "reactor) or 'psr' (stirred reactor and plug-flow section)", KINDS)
    data: tuple = field(default=(), metadata={
        "unit": "", "choices": (), "item": DataSpec,
        "doc": "measured data drawn beside the computed profiles, with agreement figures: "
               "[[data]] tables with file (a CSV) and optional label"})
    mechanism: MechanismSpec = field(default_factory=MechanismSpec)
    species: SpeciesSpec = field(default_factory=SpeciesSpec)
    inlet: InletSpec = field(default_factory=InletSpec)
    reactor: ReactorSpec = field(default_factory=ReactorSpec)
    temperature: TemperatureSpec = field(default_factory=TemperatureSpec)
    soot: SootSpec = field(default_factory=SootSpec)
    integrator: IntegratorSpec = field(default_factory=IntegratorSpec)
    flame: FlameSpec = field(default_factory=FlameSpec)
    counterflow: CounterflowSpec = field(default_factory=CounterflowSpec)
    soot_solver: SootSolverSpec = field(default_factory=SootSolverSpec)
    batch: BatchSpec = field(default_factory=BatchSpec)
    psr: PsrSpec = field(default_factory=PsrSpec)
    output: OutputSpec = field(default_factory=OutputSpec)

    def __post_init__(self):
        _validate(self)


# What each kind of run does not read: whole tables (ALL) or some of their keys. Every
# other key applies; a case file that sets a key its kind does not read is refused
# (_check_applies), so that no value is silently left unused.
ALL = "*"
_FLAME_ONLY = ("width", "mass_flux", "velocity", "temperature_profile")
_UNUSED = {
    "pfr": {"flame": ALL, "counterflow": ALL, "soot_solver": ALL, "batch": ALL, "psr": ALL},
    "flame": {"reactor": ALL, "temperature": ALL, "integrator": ALL, "counterflow": ALL,
              "batch": ALL, "psr": ALL, "output": ("stations",)},
    "counterflow": {"inlet": ALL, "reactor": ALL, "temperature": ALL, "integrator": ALL,
                    "batch": ALL, "psr": ALL, "flame": _FLAME_ONLY, "soot_solver": ("outlet",),
                    "output": ("stations",)},
    "batch": {"reactor": ALL, "temperature": ALL, "flame": ALL, "counterflow": ALL,
              "soot_solver": ALL, "psr": ALL, "integrator": ("method", "max_step")},
    "psr": {"reactor": ALL, "temperature": ALL, "flame": ALL, "counterflow": ALL,
            "soot_solver": ALL, "batch": ALL, "integrator": ("method", "max_step")},
}

# Where a kind takes what a key of another kind says: by (kind, "table.key"); else the key
# of the same name (with or without a stream or section prefix) in the kind's own tables;
# else by (kind, "table").
_FLAME_INTEGRATOR = ("the flame is solved by Cantera's own solver and the soot by the soot "
                     "stage: its tolerances are in [soot_solver] (tolerance, max_iterations)")
_FLAME_STATIONS = ("flame profiles are written on the soot grid, soot_solver.points")
_NETWORK_INTEGRATOR = ("Cantera's own integrator (CVODES) runs it: only integrator.rtol and "
                       "integrator.atol apply")
_INSTEAD = {
    ("counterflow", "inlet.composition"): "the two streams are counterflow.fuel and "
                                          "counterflow.oxidizer (mole fractions)",
    ("counterflow", "inlet.basis"): "the streams counterflow.fuel and counterflow.oxidizer "
                                    "are mole fractions",
    ("counterflow", "inlet.equivalence_ratio"): "a diffusion flame has no equivalence ratio: "
                                                "give the streams as counterflow.fuel and "
                                                "counterflow.oxidizer",
    ("counterflow", "flame.temperature_profile"): "a counterflow flame always solves the "
                                                  "energy equation",
    ("counterflow", "soot_solver.outlet"): "the oxidiser inlet of a counterflow flame is "
                                           "always an inflow (flux) boundary",
    ("counterflow", "output.stations"): _FLAME_STATIONS,
    ("counterflow", "integrator"): _FLAME_INTEGRATOR,
    ("flame", "output.stations"): _FLAME_STATIONS,
    ("flame", "integrator"): _FLAME_INTEGRATOR,
    ("flame", "reactor.length"): "the domain above the burner is flame.width",
    ("flame", "reactor.residence_time"): "the domain above the burner is flame.width",
    ("flame", "reactor"): "a burner flame has no duct: [flame] holds its width and the burner's "
                          "mass flux or velocity",
    ("flame", "temperature"): "an imposed gas temperature is flame.temperature_profile",
    ("flame", "counterflow.fuel"): "the premixed inlet is inlet.composition (or inlet.fuel "
                                   "with inlet.oxidizer and inlet.equivalence_ratio)",
    ("pfr", "flame.width"): "the duct's extent is reactor.length (or reactor.residence_time)",
    ("pfr", "flame.temperature_profile"): "the gas temperature is set by [temperature] "
                                          "(wall_profile or history)",
    ("pfr", "soot_solver"): "a plug-flow run integrates the soot with the gas: its tolerances "
                            "are in [integrator]",
    ("pfr", "counterflow.fuel"): "the inlet is inlet.composition (or inlet.fuel with "
                                 "inlet.oxidizer and inlet.equivalence_ratio)",
    ("pfr", "batch.end_time"): "the duct's extent is reactor.length or reactor.residence_time",
    ("batch", "integrator.method"): _NETWORK_INTEGRATOR,
    ("batch", "integrator.max_step"): _NETWORK_INTEGRATOR,
    ("batch", "reactor.residence_time"): "a batch reactor runs to batch.end_time",
    ("batch", "reactor"): "a batch reactor is closed: [batch] says what it keeps constant and "
                          "how long it runs",
    ("batch", "temperature"): "a batch reactor is adiabatic (batch.energy = true) or held at "
                              "inlet.temperature",
    ("batch", "soot_solver"): "a batch run integrates the soot with the gas: its tolerances are "
                              "integrator.rtol and integrator.atol",
    ("psr", "integrator.method"): _NETWORK_INTEGRATOR,
    ("psr", "integrator.max_step"): _NETWORK_INTEGRATOR,
    ("psr", "reactor.velocity"): "the stirred reactor's flow is its mass over "
                                 "psr.residence_time",
    ("psr", "reactor.mass_flux"): "the stirred reactor's flow is its mass over "
                                  "psr.residence_time",
    ("psr", "reactor"): "the plug-flow section after the stirred reactor is set by "
                        "psr.pfr_length, psr.pfr_diameter (or psr.pfr_area) and "
                        "psr.pfr_thermal",
    ("psr", "temperature"): "the stirred reactor is adiabatic (psr.energy = true) or held at "
                            "inlet.temperature, and its plug-flow section psr.pfr_thermal",
    ("psr", "soot_solver"): "a stirred-reactor run integrates the soot with the gas: its "
                            "tolerances are integrator.rtol and integrator.atol",
}
# tables whose keys of the same name elsewhere mean something else (a flame's soot solve
# against a reactor's integrator)
_OWN_SOLVER = ("soot_solver", "integrator")
# prefixes that name a stream or a section: "fuel_velocity" is the "velocity" of a stream
_PREFIXES = ("fuel_", "oxidizer_", "pfr_")


def applies(kind: str, table: str, name: str) -> bool:
    """Whether a run of `kind` reads the key `name` of `table` ('' for top-level keys)."""
    unused = _UNUSED.get(kind, {}).get(table, ())
    return not (unused == ALL or name in unused)


def _instead(kind: str, table: str, name: str) -> str:
    """Where a case of `kind` takes what `table.name` says, as a phrase."""
    hint = _INSTEAD.get((kind, f"{table}.{name}"))
    if hint or table in _OWN_SOLVER:
        return hint or _INSTEAD[(kind, table)]
    stem = name
    for p in _PREFIXES:
        stem = stem[len(p):] if stem.startswith(p) else stem
    names = [stem] + [p + stem for p in _PREFIXES]
    own = [f"{t}.{n}" for t, cls in _tables().items() if t != table for n in names
           if n in {g.name for g in fields(cls)} and applies(kind, t, n)]
    if own:
        return f"a {kind} case takes it as {' and '.join(own)}"
    if (kind, table) in _INSTEAD:
        return _INSTEAD[(kind, table)]
    read = [t for t, cls in _tables().items() if any(applies(kind, t, g.name) for g in fields(cls))]
    return f"a {kind} case reads the tables {', '.join(f'[{t}]' for t in read)}"


def _tables() -> dict:
    """{name: dataclass} of the tables of a case, in file order."""
    return {f.name: f.default_factory for f in fields(Case) if f.default_factory is not MISSING}


def _not_applying(kind: str, table: str, name: str) -> str:
    return (f"{table}.{name} does not apply to a {kind} case ({_TITLES[kind]}): "
            f"{_instead(kind, table, name)}")


def _check_applies(data: Mapping[str, Any], kind: str, where: str) -> None:
    """Refuse the keys of a case file's tables that a run of `kind` does not read."""
    tables = _tables()
    for table, values in data.items():
        if table not in tables or not isinstance(values, Mapping):
            continue  # unknown tables and non-tables get their own messages
        known = {g.name for g in fields(tables[table])}
        for name in values:
            if name in known and not applies(kind, table, name):
                raise CaseError(f"{where}{_not_applying(kind, table, name)}")


_TITLES = {"pfr": "plug-flow reactor", "flame": "burner flame",
           "counterflow": "counterflow diffusion flame", "batch": "batch reactor",
           "psr": "stirred reactor"}


def default_case(kind: str = "pfr") -> Case:
    """The shipped default case: a sooting ethylene-rich plug-flow reactor ("pfr"), a rich
    premixed ethylene burner flame ("flame"), ethylene against 35 % oxygen in nitrogen
    ("counterflow"), ethylene pyrolysis in a shock tube ("batch": 20 % C2H4 in argon at
    1700 K and 5 bar, constant volume, held at 1700 K for 3 ms) or an adiabatic stirred
    reactor of ethylene and air at equivalence ratio 2 with a 16 cm plug-flow section
    after it ("psr"), all on the Appel-Bockhorn-Frenklach mechanism."""
    if kind == "pfr":
        return Case(name="ethylene-pfr", kind="pfr")
    if kind == "flame":
        return Case(name="ethylene-flame", kind="flame",
                    inlet=InletSpec(temperature=300.0, composition="C2H4:1, O2:1.3, AR:2.5"))
    if kind == "counterflow":
        return Case(name="ethylene-counterflow", kind="counterflow")
    if kind == "batch":
        return Case(name="ethylene-shock-tube", kind="batch",
                    inlet=InletSpec(temperature=1700.0, pressure=5.0e5,
                                    composition="C2H4:0.2, AR:0.8"))
    if kind == "psr":
        return Case(name="ethylene-psr", kind="psr",
                    inlet=InletSpec(temperature=300.0, fuel="C2H4:1",
                                    equivalence_ratio=2.0))
    raise CaseError(f"unknown case kind {kind!r}: use one of {', '.join(KINDS)}")


# ---- reading --------------------------------------------------------------------------------

def load_case(path: str | pathlib.Path) -> Case:
    """Read a case file (TOML)."""
    p = pathlib.Path(path)
    try:
        text = p.read_text()
    except FileNotFoundError:
        raise CaseError(f"case file {str(p)!r} does not exist") from None
    except OSError as e:
        raise CaseError(f"case file {str(p)!r} cannot be read: {e.strerror}") from None
    try:
        data = tomllib.loads(text)
    except tomllib.TOMLDecodeError as e:
        raise CaseError(f"case file {str(p)!r} is not valid TOML: {e}") from None
    case = parse_case(data, source=str(p), folder=p.parent)
    if case.data:  # data paths relative to the case file, kept absolute from here on
        here = p.parent
        case = replace(case, data=tuple(replace(d, file=os.path.abspath(here / d.file))
                                        for d in case.data))
    return case


def parse_case(data: Mapping[str, Any], source: str = "case",
               folder: str | pathlib.Path | None = None) -> Case:
    """A case from the tables of a parsed case file; unknown keys are refused with close
    matches, values are converted to the field types, and a key that the case's kind does
    not read is refused with where that kind takes it. A temperature profile given as a
    CSV file is read here (its path relative to `folder`, default the working directory),
    so the case holds the table."""
    if not isinstance(data, Mapping):
        raise CaseError(f"{source}: a case is a table of keys, got {type(data).__name__}")
    kind = data.get("kind", "pfr")
    if kind in KINDS:
        _check_applies(data, kind, f"{source}: ")
    base = default_case(kind) if kind in KINDS else Case()
    case = _build(Case, data, base, source, "")
    profile = case.flame.temperature_profile
    if isinstance(profile, str) and profile.strip():
        path = pathlib.Path(folder or ".") / profile
        table = read_temperature_profile(path, f"{source}: 'flame.temperature_profile'")
        try:
            case = replace(case, flame=replace(case.flame, temperature_profile=table))
        except CaseError as e:
            raise CaseError(f"{source}: {e} (read from {str(path)!r})") from None
    elif isinstance(profile, str):
        case = replace(case, flame=replace(case.flame, temperature_profile=()))
    return case


# heights in a temperature-profile file, by unit: factor to m
_LENGTH_UNITS = {"m": 1.0, "cm": 0.01, "mm": 0.001}


def read_temperature_profile(path: str | pathlib.Path, where: str = "temperature profile"):
    """((heights m), (T K)) from a CSV file whose header names the columns
    'height above burner [mm|cm|m]' and 'T [K]' (in either order); every other row two
    numbers, heights increasing."""
    import csv
    import re

    path = pathlib.Path(path)
    try:
        with open(path, newline="") as fh:
            rows = [r for r in csv.reader(fh) if r and any(c.strip() for c in r)]
    except FileNotFoundError:
        raise CaseError(f"{where}: file {str(path)!r} does not exist") from None
    except (OSError, UnicodeDecodeError) as e:
        raise CaseError(f"{where}: file {str(path)!r} cannot be read: {e}") from None
    if not rows:
        raise CaseError(f"{where}: file {str(path)!r} is empty")
    header = [re.match(r"^\s*(.*?)\s*\[\s*(.*?)\s*\]\s*$", c) for c in rows[0]]
    expect = ("the header must name two columns 'height above burner [mm]' (or [cm], [m]) "
              "and 'T [K]'")
    if len(rows[0]) != 2 or not all(header):
        raise CaseError(f"{where}: {str(path)!r}: {expect}, got {','.join(rows[0])!r}")
    names = {m.group(1).lower(): (k, m.group(2)) for k, m in enumerate(header)}
    if set(names) != {"height above burner", "t"}:
        raise CaseError(f"{where}: {str(path)!r}: {expect}, got {','.join(rows[0])!r}")
    kz, zunit = names["height above burner"]
    kt, tunit = names["t"]
    if zunit not in _LENGTH_UNITS or tunit != "K":
        raise CaseError(f"{where}: {str(path)!r}: units [{zunit}], [{tunit}]: heights in mm, cm "
                        f"or m, temperatures in K")
    z, T = [], []
    for n, row in enumerate(rows[1:], start=2):
        try:
            if len(row) != 2:
                raise ValueError
            z.append(float(row[kz]) * _LENGTH_UNITS[zunit])
            T.append(float(row[kt]))
        except ValueError:
            raise CaseError(f"{where}: {str(path)!r} line {n}: two numbers expected, got "
                            f"{','.join(row)!r}") from None
    table = (tuple(z), tuple(T))
    _check_table(where, table)
    return table


def _build(cls, data: Mapping[str, Any], base, source: str, prefix: str):
    known = {f.name: f for f in fields(cls)}
    values = {}
    for key, value in data.items():
        where = f"{prefix}{key}"
        if key not in known:
            raise CaseError(f"{source}: unknown key {where!r}{_suggest(key, known)}")
        f = known[key]
        current = getattr(base, key)
        if "item" in f.metadata:
            values[key] = _entries(value, f.metadata["item"], source, where)
        elif is_dataclass(current):
            if not isinstance(value, Mapping):
                raise CaseError(f"{source}: {where!r} must be a table ([{where}])")
            values[key] = _build(type(current), value, current, source, where + ".")
        else:
            values[key] = _convert(value, current, f, f"{source}: {where!r}")
    try:
        return replace(base, **values)
    except CaseError as e:
        raise CaseError(f"{source}: {e}") from None


def _entries(value, cls, source: str, where: str) -> tuple:
    """An array of tables ([[data]]) as a tuple of cls, each table checked like a table."""
    if not isinstance(value, (list, tuple)) or not all(isinstance(v, Mapping) for v in value):
        raise CaseError(f"{source}: {where!r} must be an array of tables ([[{where}]] with "
                        f"{', '.join(f.name for f in fields(cls))})")
    return tuple(_build(cls, v, cls(), source, f"{where}[{i}].") for i, v in enumerate(value))


def _suggest(name: str, options) -> str:
    close = difflib.get_close_matches(name, list(options), n=3, cutoff=0.6)
    return f" (did you mean {', '.join(repr(c) for c in close)}?)" if close else \
        f" (known keys: {', '.join(sorted(options))})"


def _convert(value, current, f, where: str):
    """value converted to the type of the field's current value."""
    unit = f.metadata.get("unit", "")
    if isinstance(current, bool):
        if not isinstance(value, bool):
            raise CaseError(f"{where} must be true or false, got {value!r}")
        return value
    if isinstance(current, int):
        if isinstance(value, bool) or not isinstance(value, int):
            raise CaseError(f"{where} must be a whole number, got {value!r}")
        return value
    if isinstance(current, float):
        if isinstance(value, str):
            return _quantity(value, unit, where)
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            hint = f" in {unit}" if unit else ""
            raise CaseError(f"{where} must be a number{hint}, got {value!r}")
        return float(value)
    if f.metadata.get("path_or_table"):
        if isinstance(value, str):
            return value
        if not isinstance(value, (list, tuple)):
            raise CaseError(f"{where} must be a table [[positions], [values]] or the path of "
                            f"a CSV file, got {value!r}")
        return _freeze(value)
    if isinstance(current, str):
        if not isinstance(value, str):
            raise CaseError(f"{where} must be text, got {value!r}")
        choices = f.metadata.get("choices", ())
        if choices and value not in choices:
            raise CaseError(f"{where} is {value!r}: use one of {', '.join(map(repr, choices))}"
                            f"{_close_only(value, choices)}")
        return value
    if isinstance(current, tuple):
        if not isinstance(value, (list, tuple)):
            raise CaseError(f"{where} must be a list, got {value!r}")
        return _freeze(value)
    raise CaseError(f"{where}: unsupported value {value!r}")


# ---- values with units ----------------------------------------------------------------------

# the SI units of the case fields: what they measure and how a value with a unit is written
_QUANTITIES = {
    "Pa": ("pressure", '"1 atm", "100 kPa", "3 bar"'),
    "K": ("temperature", '"1500 K", "25 degC"'),
    "m": ("length", '"30 cm", "5 mm"'),
    "s": ("time", '"5 ms"'),
    "m/s": ("velocity", '"50 cm/s"'),
    "kg/(m^2 s)": ("mass flux", '"0.08 kg/m^2/s"'),
    "m^2": ("area", '"0.8 cm^2"'),
}
# a number, then the unit: "1.5e5 Pa", "-20 degC", ".3 m"
_NUMBER_UNIT = re.compile(r"^\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*(.*?)\s*$")
_REGISTRY = None  # pint's unit registry, made on the first value with a unit


def _units():
    global _REGISTRY
    if _REGISTRY is None:
        import pint

        _REGISTRY = pint.UnitRegistry()
    return _REGISTRY


def _quantity(text: str, unit: str, where: str) -> float:
    """text ("1 atm", "30 cm", "25 degC", or a bare number) as a number in the field's SI
    unit. The number is split off before pint reads the unit, so that an offset unit
    means the temperature itself ("25 degC" is 298.15 K, not a difference of 25 K) and a
    decimal comma ("1,5 bar") is refused instead of read as 15 bar."""
    m = _NUMBER_UNIT.match(text)
    if m and not m.group(2):
        return float(m.group(1))                       # a bare number: in the field's unit
    if not unit:
        raise CaseError(f"{where} must be a number (it has no unit), got {text!r}")
    name, examples = _QUANTITIES.get(unit, ("quantity", ""))
    expected = (f"{where} must be a number in {unit} or a {name} with its unit"
                + (f" ({examples})" if examples else "") + f", got {text!r}")
    if not m:
        raise CaseError(f"{expected}: not a number followed by a unit")
    try:
        units = _units()
    except ImportError:
        raise CaseError(f"{expected}: reading units needs the pint package (python3 -m pip "
                        f"install pint), or give the number in {unit}") from None
    import pint

    try:
        q = units.Quantity(float(m.group(1)), units.parse_units(m.group(2)))
    except pint.UndefinedUnitError as e:
        raise CaseError(f"{expected}: unknown unit {_unit_names(e)}") from None
    except Exception as e:  # pint's parser: a unit expression it cannot read
        why = f" ({e})" if str(e) else ""
        raise CaseError(f"{expected}: {m.group(2)!r} is not a unit{why}") from None
    try:
        value = float(q.to(units.parse_units(unit)).magnitude)
    except pint.DimensionalityError:
        raise CaseError(f"{expected}, a {_measure(q)}") from None
    # 15 digits: "5 um" is 5e-06 m, not the 4.9999999999999996e-06 of the conversion factors
    return float(f"{value:.15g}")


def _unit_names(error) -> str:
    names = getattr(error, "unit_names", None) or ()
    names = [names] if isinstance(names, str) else list(names)
    return ", ".join(repr(n) for n in names) or "in it"


def _measure(q) -> str:
    """What a pint quantity measures: a name from _QUANTITIES, else its dimensions."""
    units = _units()
    for unit, (name, _) in _QUANTITIES.items():
        if q.dimensionality == units.parse_units(unit).dimensionality:
            return name
    return "plain number" if q.dimensionless else f"quantity of dimension {q.dimensionality}"


def _close_only(value: str, choices) -> str:
    close = difflib.get_close_matches(value, list(choices), n=1, cutoff=0.5)
    return f" (did you mean {close[0]!r}?)" if close else ""


def _freeze(value):
    if isinstance(value, (list, tuple)):
        return tuple(_freeze(v) for v in value)
    return value


# ---- validation -----------------------------------------------------------------------------

def _validate(case: Case) -> None:
    if case.kind not in KINDS:
        raise CaseError(f"kind is {case.kind!r}: use one of {', '.join(map(repr, KINDS))}")
    for table, cls in _tables().items():  # a case built in Python: unread values stay default
        part, default = getattr(case, table), cls()
        for g in fields(cls):
            if not applies(case.kind, table, g.name) and \
                    getattr(part, g.name) != getattr(default, g.name):
                raise CaseError(_not_applying(case.kind, table, g.name))
    for f in fields(case):
        part = getattr(case, f.name)
        if is_dataclass(part):
            for g in fields(part):
                choices = g.metadata.get("choices", ())
                value = getattr(part, g.name)
                if choices and value not in choices:
                    raise CaseError(f"{f.name}.{g.name} is {value!r}: use one of "
                                    f"{', '.join(map(repr, choices))}{_close_only(str(value), choices)}")
    positive = {
        "inlet.pressure": case.inlet.pressure, "inlet.temperature": case.inlet.temperature,
        "integrator.rtol": case.integrator.rtol, "flame.width": case.flame.width,
        "soot_solver.dt": case.soot_solver.dt,
        "soot_solver.tolerance": case.soot_solver.tolerance,
        "soot_solver.coupled_tolerance": case.soot_solver.coupled_tolerance,
        "soot_solver.coupled_slope": case.soot_solver.coupled_slope,
        "soot_solver.coupled_curve": case.soot_solver.coupled_curve,
        "counterflow.width": case.counterflow.width,
        "counterflow.pressure": case.counterflow.pressure,
        "counterflow.fuel_temperature": case.counterflow.fuel_temperature,
        "counterflow.oxidizer_temperature": case.counterflow.oxidizer_temperature,
        "batch.end_time": case.batch.end_time, "batch.first_time": case.batch.first_time,
        "psr.residence_time": case.psr.residence_time, "psr.volume": case.psr.volume,
        "psr.steady_tolerance": case.psr.steady_tolerance,
    }
    if case.psr.pfr_length != 0.0:
        if case.psr.pfr_area == 0.0:
            positive["psr.pfr_diameter"] = case.psr.pfr_diameter
        else:
            positive["psr.pfr_area"] = case.psr.pfr_area
    if case.flame.mass_flux == 0.0:
        positive["flame.velocity"] = case.flame.velocity
    else:
        positive["flame.mass_flux"] = case.flame.mass_flux
    if case.counterflow.fuel_mass_flux == 0.0:
        positive["counterflow.fuel_velocity"] = case.counterflow.fuel_velocity
    else:
        positive["counterflow.fuel_mass_flux"] = case.counterflow.fuel_mass_flux
    if case.reactor.perimeter == 0.0 and case.reactor.area == 0.0:
        positive["reactor.diameter"] = case.reactor.diameter
    else:
        positive["reactor.perimeter"] = case.reactor.perimeter
        positive["reactor.area"] = case.reactor.area
    if case.reactor.mass_flux == 0.0:
        positive["reactor.velocity"] = case.reactor.velocity
    else:
        positive["reactor.mass_flux"] = case.reactor.mass_flux
    if case.reactor.residence_time == 0.0:
        positive["reactor.length"] = case.reactor.length
    else:
        positive["reactor.residence_time"] = case.reactor.residence_time
    for name, v in positive.items():
        if not (isinstance(v, (int, float)) and math.isfinite(v) and v > 0):
            raise CaseError(f"{name} must be a positive number, got {v!r}")
    for name, v in (("integrator.atol", case.integrator.atol),
                    ("integrator.max_step", case.integrator.max_step),
                    ("counterflow.oxidizer_mass_flux", case.counterflow.oxidizer_mass_flux),
                    ("counterflow.oxidizer_velocity", case.counterflow.oxidizer_velocity),
                    ("psr.pfr_length", case.psr.pfr_length),
                    ("psr.pfr_diameter", case.psr.pfr_diameter),
                    ("psr.pfr_area", case.psr.pfr_area)):
        if not (math.isfinite(v) and v >= 0):
            raise CaseError(f"{name} must be zero or positive, got {v!r}")
    for name, v in (("soot_solver.points", case.soot_solver.points),
                    ("soot_solver.chunk", case.soot_solver.chunk),
                    ("soot_solver.max_steps", case.soot_solver.max_steps),
                    ("soot_solver.max_iterations", case.soot_solver.max_iterations),
                    ("output.stations", case.output.stations),
                    ("psr.max_residence_times", case.psr.max_residence_times)):
        if v < (2 if name.endswith("points") or name.endswith("stations") else 1):
            raise CaseError(f"{name} is {v}: too small")
    if (case.kind == "flame" and case.soot.enabled and case.soot_solver.outlet != "outflow"
            and case.soot_solver.coupling == "two-way"):
        raise CaseError(f"soot_solver.outlet {case.soot_solver.outlet!r} applies to one-way "
                        f"runs: a two-way run's right end is the outflow of Cantera's flame; "
                        f"set soot_solver.coupling = \"one-way\" for the flux condition")
    if not case.soot_solver.coupled_tolerance < 1.0:
        raise CaseError(f"soot_solver.coupled_tolerance is {case.soot_solver.coupled_tolerance!r}: "
                        f"it must be below 1 (the scaled residual of the coupled equations is "
                        f"a few units at most, so 1 or more would pass any state)")
    if (case.kind in FLAME_KINDS and case.soot.enabled
            and case.soot_solver.coupling == "two-way"
            and case.flame.transport != "mixture-averaged"):
        raise CaseError(f"soot_solver.coupling \"two-way\" solves the species with "
                        f"mixture-averaged diffusion; flame.transport is "
                        f"{case.flame.transport!r}: set flame.transport = "
                        f"\"mixture-averaged\", or soot_solver.coupling = \"one-way\"")
    if case.batch.spacing == "log" and case.batch.first_time >= case.batch.end_time:
        raise CaseError(f"batch.first_time ({case.batch.first_time!r} s) must be below "
                        f"batch.end_time ({case.batch.end_time!r} s) with log spacing")
    for name, table in (("temperature.wall_profile", case.temperature.wall_profile),
                        ("temperature.history", case.temperature.history)):
        _check_table(name, table)
    if min(case.temperature.wall_profile[1]) <= 0:
        raise CaseError(f"temperature.wall_profile: temperatures must be positive (K), got "
                        f"{list(case.temperature.wall_profile[1])!r}")
    profile = case.flame.temperature_profile
    if profile and not isinstance(profile, str):
        _check_table("flame.temperature_profile", profile)
        if min(profile[1]) <= 0:
            raise CaseError(f"flame.temperature_profile: temperatures must be positive, got "
                            f"{list(profile[1])!r}")
        if case.kind == "flame":
            _check_profile_span(profile[0], case.flame.width)
    for pair in case.species.aliases:
        if not (isinstance(pair, tuple) and len(pair) == 2 and all(isinstance(p, str) for p in pair)):
            raise CaseError(f"species.aliases must be pairs of names like [\"C2H2\", \"c2h2\"], "
                            f"got {pair!r}")
    for p in case.species.pahs:
        if not isinstance(p, str):
            raise CaseError(f"species.pahs must be species names, got {p!r}")
    for pair in case.soot.switches:
        if not (isinstance(pair, tuple) and len(pair) == 2 and isinstance(pair[1], bool)):
            raise CaseError(f"soot.switches must be pairs like [\"oxidation_enabled\", false], "
                            f"got {pair!r}")
        if pair[0] not in SWITCHES:
            raise CaseError(f"soot.switches: unknown switch {pair[0]!r}"
                            f"{_suggest(pair[0], SWITCHES)}")
    for d in case.data:
        if not isinstance(d, DataSpec) or not isinstance(d.file, str) or not d.file.strip():
            raise CaseError("each [[data]] table needs a file: file = \"measured.csv\"")
        if not isinstance(d.label, str):
            raise CaseError(f"data label must be text, got {d.label!r}")
    for v in case.soot.sticking:
        if isinstance(v, bool) or not isinstance(v, (int, float)) or not (0 <= v):
            raise CaseError(f"soot.sticking must be non-negative numbers, got {v!r}")
    for key, unit, value in _unit_values(case, _RANGES):
        # absolute pressures and temperatures: zero or below is no gas state
        if not all(_number(v) and math.isfinite(v) and v > 0 for v in value):
            shown = value[0] if len(value) == 1 else list(value)
            raise CaseError(f"{key} must be positive ({unit}), got {shown!r}")
    for text in case_warnings(case):
        # stacklevel 1: one location, so that the default filter shows each text once
        # however often the case is rebuilt (reading a file builds it several times)
        warnings.warn(text, CaseWarning)


# an imposed temperature profile may run past the flame's domain, but not by more than
# this many domain widths (further is a slip of units: mm written for m)
PROFILE_OVERREACH = 10.0


def _check_profile_span(z, width: float) -> None:
    """An imposed flame temperature profile (heights z, m) must cover the domain [0,
    width] and not run far past it: Cantera holds the end values beyond the profile, so
    a profile in the wrong unit still runs, with the flame's temperature wrong."""
    first, last = z[0], z[-1]
    slack = 1e-9 * width  # m: heights converted from mm or cm round in the last digit
    units = ("heights are in m; a CSV profile names its unit in its header, "
             "'height above burner [mm]'")
    if last > PROFILE_OVERREACH * width:
        guess = next((f" (in {u}, its last height would be {last * f:g} m)"
                      for u, f in (("mm", 1e-3), ("cm", 1e-2))
                      if width - slack <= last * f <= PROFILE_OVERREACH * width), "")
        raise CaseError(f"flame.temperature_profile runs to {last:g} m, {last / width:.0f} "
                        f"times the flame's width of {width:g} m (flame.width): were its "
                        f"heights written in another unit{guess}? Its {units}")
    fixes = []
    if first > slack:
        fixes.append("start it at the burner, height 0")
    if last < width - slack:
        fixes.append(f"extend it to {width:g} m or set flame.width to {last:g} m")
    if fixes:
        raise CaseError(f"flame.temperature_profile covers {first:g} to {last:g} m but the "
                        f"flame spans 0 to {width:g} m (flame.width): the profile must cover "
                        f"the whole domain ({'; '.join(fixes)}); its {units}")


# Where the mechanism and the soot model mean anything, by the unit of a field: values of
# fields in these units outside their range are warned about (a unit slip, or a state
# beyond what the model was made and checked for). Every field and table row in "Pa" or
# "K" is covered, whatever table or kind it belongs to.
_RANGES = {"Pa": (100.0, 1.0e7, "100 Pa", "10 MPa", '"1 atm"'),
           "K": (250.0, 4000.0, "250 K", "4000 K", '"25 degC"')}


def _unit_values(case: Case, units) -> list:
    """(key, unit, values) of every number field whose unit is in units, and of every
    table row in such a unit (a table's unit lists its rows' units: "m, K")."""
    out = []
    for table, name, value, unit, *_ in case_fields(case):
        key = f"{table}.{name}" if table else name
        row_units = [u.strip() for u in unit.split(",")]
        if _number(value) and unit in units:
            out.append((key, unit, (value,)))
        elif isinstance(value, tuple) and len(row_units) > 1 and len(value) == len(row_units):
            out += [(key, u, row) for u, row in zip(row_units, value) if u in units]
    return out


def _number(v) -> bool:
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def case_warnings(case: Case) -> list:
    """The warnings of a case, as text: pressures and temperatures of the tables its kind
    uses outside the range where the mechanism and the soot model mean anything, and a
    plug-flow inlet temperature that the wall temperature overrides. Building a case
    issues them as CaseWarning."""
    out = []
    for key, unit, values in _unit_values(case, _RANGES):
        table, _, name = key.rpartition(".")
        if not applies(case.kind, table, name):
            continue
        low, high, low_text, high_text, example = _RANGES[unit]
        bad = [v for v in values if not low <= v <= high]
        if not bad:
            continue
        meant = (f"the mechanism and the soot model mean anything from {low_text} to "
                 f"{high_text} only")
        if len(values) == 1:
            side = f"below {low_text}" if bad[0] < low else f"above {high_text}"
            out.append(f"{key} is {bad[0]:g} {unit}, {side}: {meant} (a plain number is in "
                       f"{unit}; write any other unit, as in {example})")
        else:
            out.append(f"{key} holds {', '.join(f'{v:g}' for v in bad)} {unit}: {meant}")
    if case.kind == "pfr" and case.temperature.mode == "wall":
        T_wall = case.temperature.wall_profile[1][0]
        if abs(case.inlet.temperature - T_wall) > 0.5:  # K
            out.append(f"inlet.temperature is {case.inlet.temperature:g} K but the wall starts "
                       f"at {T_wall:g} K: in wall mode the gas takes the wall temperature "
                       f"within a few mm (about 1.5 mm in the default duct), so the inlet "
                       f"temperature hardly changes the results; vary the wall profile instead")
    return out


def _check_table(name: str, table) -> None:
    ok = (isinstance(table, tuple) and len(table) == 2 and all(isinstance(r, tuple) for r in table)
          and len(table[0]) == len(table[1]) and len(table[0]) >= 1)
    if ok:
        values = [v for row in table for v in row]
        ok = all(isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v)
                 for v in values)
    if not ok:
        raise CaseError(f"{name} must be two rows of equal length, positions and values, "
                        f"like [[0.0, 0.1], [1000.0, 1700.0]]; got {table!r}")
    z = table[0]
    if any(b <= a for a, b in zip(z, z[1:])):
        raise CaseError(f"{name}: the positions (first row) must increase, got {list(z)!r}")


# ---- writing --------------------------------------------------------------------------------

def case_fields(case_or_cls=Case):
    """(table, name, default value, unit, doc, choices) for every leaf field, in file order."""
    out = []
    case = case_or_cls if isinstance(case_or_cls, Case) else Case()
    for f in fields(Case):
        value = getattr(case, f.name)
        if is_dataclass(value):
            for g in fields(value):
                out.append((f.name, g.name, getattr(value, g.name), g.metadata.get("unit", ""),
                            g.metadata.get("doc", ""), g.metadata.get("choices", ())))
        else:
            out.append(("", f.name, value, f.metadata.get("unit", ""), f.metadata.get("doc", ""),
                        f.metadata.get("choices", ())))
    return out


def _toml_value(v) -> str:
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, (int, float)):
        return repr(v)
    if isinstance(v, str):
        return '"' + v.replace("\\", "\\\\").replace('"', '\\"') + '"'
    if isinstance(v, tuple):
        return "[" + ", ".join(_toml_value(x) for x in v) + "]"
    raise TypeError(f"cannot write {v!r} to TOML")


def case_to_toml(case: Case, commented: bool = True) -> str:
    """The case as a TOML case file (with each field's meaning and unit as comments): the
    keys its kind reads, and of the inlet only the form in use (composition, or fuel and
    oxidizer at an equivalence ratio); with `commented`, the other form's keys follow as
    comments."""
    lines = [f"# fumivex2 {_TITLES[case.kind]} case"]
    if commented:
        lines.append("# Every key is optional: a missing key takes the value shown here.")
    table = None
    unused_inlet = ("composition",) if case.inlet.fuel else ("oxidizer", "equivalence_ratio")
    for tname, name, value, unit, doc, choices in case_fields(case):
        if not applies(case.kind, tname, name) or (tname, name) == ("", "data"):
            continue  # [[data]] goes last
        unused = tname == "inlet" and name in unused_inlet
        if unused and not commented:
            continue
        if tname != table:
            lines.append("")
            if tname:
                lines.append(f"[{tname}]")
            table = tname
        comment = ""
        if commented:
            extra = f" [{unit}]" if unit else ""
            options = f" (one of: {', '.join(choices)})" if choices and len(choices) > 2 else ""
            comment = f"  # {doc}{extra}{options}"
        if unused:
            why = ("not used: the inlet is fuel and oxidizer at equivalence_ratio"
                   if case.inlet.fuel else "used only with fuel (empty here: the inlet is "
                   "the composition)")
            lines.append(f"# {name} = {_toml_value(value)}  # {why}")
            continue
        lines.append(f"{name} = {_toml_value(value)}{comment}")
    for d in case.data:
        lines += ["", "[[data]]", f"file = {_toml_value(d.file)}"]
        if d.label:
            lines.append(f"label = {_toml_value(d.label)}")
    if commented and not case.data:
        lines += ["", "# measured data to draw beside the profiles (one table per file):",
                  "# [[data]]", "# file = \"measured.csv\"  # header: '<quantity> [<unit>]' "
                  "per column", "# label = \"my measurements\""]
    return "\n".join(lines) + "\n"


# ---- variants -------------------------------------------------------------------------------

def with_overrides(case: Case, overrides: Mapping[str, Any]) -> Case:
    """A copy of case with dotted keys replaced: {"reactor.length": 0.2, "soot.growth_model":
    "cross_linking"}; values are converted as in a case file. A key that the case's kind
    (or the kind the overrides give it) does not read is refused like in a case file."""
    data = case_as_dict(case)
    kind = overrides.get("kind", case.kind)
    for key, value in overrides.items():
        parts = key.split(".")
        node = data
        for p in parts[:-1]:
            if p not in node or not isinstance(node[p], dict):
                raise CaseError(f"unknown key {key!r}{_suggest(p, [k for k, v in node.items() if isinstance(v, dict)])}")
            node = node[p]
        if parts[-1] not in node:
            raise CaseError(f"unknown key {key!r}{_suggest(parts[-1], node)}")
        if len(parts) == 2 and kind in KINDS and not applies(kind, parts[0], parts[1]):
            raise CaseError(f"variant: {_not_applying(kind, parts[0], parts[1])}")
        node[parts[-1]] = value
    if kind in KINDS:  # what the kind does not read stays out (and at its defaults)
        for table, values in data.items():
            if isinstance(values, dict):
                data[table] = {k: v for k, v in values.items() if applies(kind, table, k)}
    return parse_case(data, source="variant")


def case_as_dict(case: Case) -> dict:
    """The case as nested dicts of plain values (lists for sequences)."""
    def plain(v):
        if isinstance(v, tuple):
            return [plain(x) for x in v]
        if is_dataclass(v):
            return {g.name: plain(getattr(v, g.name)) for g in fields(v)}
        return v
    out = {}
    for f in fields(case):
        value = getattr(case, f.name)
        if is_dataclass(value):
            out[f.name] = {g.name: plain(getattr(value, g.name)) for g in fields(value)}
        else:
            out[f.name] = plain(value)
    return out

