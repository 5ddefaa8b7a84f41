"""From a Cantera phase to a configured soot model.

Mechanisms spell species differently (``C2H2`` or ``c2h2``, ``A4`` or ``C16H10``). The
soot model looks for seven key species by their exact names and takes its PAHs by
index, with carbon and hydrogen counts. This module finds the key species
case-insensitively (or through explicit aliases), chooses the PAHs, and builds a
``CSootModel`` that cannot be mis-configured by the usual slips: molar masses in
kg/mol, the key species renamed for the model, sticking efficiencies set for the
self-collision models, the confirmation line of ``initialize`` captured.

Importing this module (the run layer, ``configure_soot_model``) adds the package's data
folder to Cantera's search path when Cantera is installed, so ``ct.Solution("abf.yaml")``
finds the shipped mechanism; ``import fumivex2`` alone does not import Cantera.
"""
from __future__ import annotations

import contextlib
import difflib
import importlib.resources
import io
import math
import pathlib
import re
import warnings
from dataclasses import dataclass
from typing import Any, Iterable, Sequence

from .cases import (ALPHA_MODELS, COALESCENCE_TYPES, GROWTH_MODELS, SWITCHES, VALIDATION_CASES,
                    CaseError)

__all__ = ["KEY_SPECIES", "SpeciesError", "InletError", "SpeciesMap", "open_mechanism",
           "map_species", "configure_soot_model", "shipped_mechanism", "parse_composition",
           "set_inlet", "case_soot_model", "report_species", "cantera_message",
           "mole_fractions_text", "inlet_summary"]

KEY_SPECIES = ("C2H2", "H2", "H", "CO", "O2", "OH", "H2O")
# the aromatics by ring count, with the formula names other mechanisms use
PAH_NAMES = {"A1": ("C6H6",), "A2": ("C10H8",), "A3": ("C14H10",), "A4": ("C16H10",)}
DEFAULT_PAHS = ("A4", "A3", "A2")  # pyrene, else the largest of phenanthrene/naphthalene


class SpeciesError(CaseError):
    """A species, mechanism or soot-model option that cannot be used."""


class InletError(CaseError):
    """An inlet composition or condition that cannot be used."""


def cantera_message(error: BaseException) -> str:
    """The message of a Cantera error without its frame of asterisks and origin line."""
    for line in str(error).splitlines():
        line = line.strip()
        if line and not set(line) <= {"*"} and "thrown by" not in line:
            return line
    return str(error).strip() or type(error).__name__


def shipped_mechanism(name: str = "abf.yaml") -> pathlib.Path:
    """Path of a mechanism shipped with fumivex2 (package data)."""
    return pathlib.Path(str(importlib.resources.files("fumivex2") / "data" / name))


def _register_data_folder() -> None:
    """Adds the shipped data folder to Cantera's search path (once; nothing without
    Cantera)."""
    try:
        import cantera as ct
    except ImportError:
        return
    folder = str(shipped_mechanism().parent)
    if folder not in ct.get_data_directories():
        ct.add_directory(folder)


_register_data_folder()


def mechanism_source(file: str = "abf.yaml") -> str:
    """What open_mechanism hands to Cantera for `file`: the shipped copy for "abf.yaml"
    (unless a file of that name is in the working folder), else `file` as given."""
    if file == "abf.yaml" and not pathlib.Path(file).exists():
        return str(shipped_mechanism())
    return file


def mechanism_path(file: str = "abf.yaml") -> pathlib.Path | None:
    """The file Cantera reads for `file` (see mechanism_source): the path itself when it
    exists, else the first of Cantera's data folders that holds it; None when neither does.
    Imports Cantera only for a name that is not a path."""
    source = pathlib.Path(mechanism_source(file))
    if source.is_file():
        return source.resolve()
    if source.is_absolute():
        return None
    try:
        import cantera as ct
        folders = ct.get_data_directories()
    except (ImportError, AttributeError):
        return None
    for folder in folders:
        candidate = pathlib.Path(folder) / source
        if candidate.is_file():
            return candidate.resolve()
    return None


def phase_names(file: str = "abf.yaml") -> list:
    """The names of the phases a YAML mechanism defines (its top-level `phases:` list in
    block style), read as text; [] when the file cannot be found or read."""
    path = mechanism_path(file)
    try:
        lines = path.read_text().splitlines() if path else []
    except (OSError, UnicodeDecodeError):
        return []
    names, inside, indent = [], False, None
    for line in lines:
        if not inside:
            inside = line.rstrip() == "phases:"
            continue
        if line and not line[0].isspace() and not line.startswith("-"):
            break                                   # the next top-level key
        m = re.match(r"^(\s*)- name:\s*(\S+)", line)
        if m and (indent is None or len(m.group(1)) == indent):
            indent = len(m.group(1))
            names.append(m.group(2).strip("'\""))
    return names


def open_mechanism(file: str = "abf.yaml", phase: str = ""):
    """A Cantera Solution of `file`: the shipped copy for "abf.yaml", a path, or a name
    Cantera resolves from its own data folders. Refuses a mechanism without transport
    data (the soot model needs the gas viscosity)."""
    import cantera as ct

    source = mechanism_source(file)
    try:
        gas = ct.Solution(source, phase) if phase else ct.Solution(source)
    except ct.CanteraError as e:
        text = str(e)
        if "not found" in text or "No such file" in text:
            raise SpeciesError(f"mechanism {file!r} not found: give a path to a Cantera YAML "
                               f"file or the name of one Cantera ships (e.g. 'gri30.yaml')") \
                from None
        if phase and f"'name' = '{phase}'" in text:
            names = phase_names(file)
            listed = f"; phases in the file: {', '.join(names)}" if names else ""
            raise SpeciesError(f"mechanism {file!r} has no phase named {phase!r}{listed} "
                               f"(mechanism.phase)") from None
        raise SpeciesError(f"mechanism {file!r} cannot be read: {cantera_message(e)}") from None
    require_transport(gas, file)
    return gas


def require_transport(gas, file: str | None = None) -> None:
    """Refuses a phase without a transport model: the soot model needs the gas viscosity
    at every point, which Cantera cannot give without transport data."""
    model = getattr(gas, "transport_model", "mixture-averaged")  # not a Cantera phase: skip
    if model in ("none", "None", "", None):
        source = file or getattr(gas, "source", "") or ""
        what = f"mechanism {source!r}" if source else "the phase"
        raise SpeciesError(f"{what} has no transport data, but the soot model needs the gas "
                           f"viscosity: use a mechanism with transport data (for example the "
                           f"shipped 'abf.yaml')")


@dataclass(frozen=True)
class SpeciesMap:
    """Where the soot model's species are in a mechanism."""
    key: tuple      # (model name, mechanism name, index) for the seven key species
    pahs: tuple     # (mechanism name, index, carbon atoms, hydrogen atoms) per PAH
    soot_names: tuple  # the mechanism's species names with the key species renamed

    def pah_names(self) -> list:
        return [p[0] for p in self.pahs]


def _alias_table(aliases) -> dict:
    if isinstance(aliases, dict):
        pairs = aliases.items()
    else:
        pairs = aliases or ()
    return {str(a).lower(): str(b) for a, b in pairs}


def find_species(gas, name: str, aliases=()) -> int:
    """Index of species `name` in the phase: through an alias, by exact name, ignoring case,
    or (aromatics A1-A4) under its formula name."""
    names = list(gas.species_names)
    table = _alias_table(aliases)
    if name.lower() in table:  # an alias is the only name tried
        candidates = [table[name.lower()]]
    else:
        candidates = [name] + list(PAH_NAMES.get(name.upper(), ()))
        candidates += [ring for ring, formulas in PAH_NAMES.items() if name.upper() in formulas]
    for c in candidates:
        if c in names:
            return names.index(c)
    lower = {n.lower(): i for i, n in enumerate(names)}
    for c in candidates:
        if c.lower() in lower:
            return lower[c.lower()]
    close = difflib.get_close_matches(name, names, n=3, cutoff=0.6)
    hint = f" (close: {', '.join(close)})" if close else ""
    via = f" (alias {table[name.lower()]!r})" if name.lower() in table else ""
    raise SpeciesError(f"species {name!r}{via} is not in the mechanism{hint}: add an alias "
                       f"[\"{name}\", \"<mechanism name>\"] to species.aliases")


def map_species(gas, aliases=(), pahs: Sequence[str] = ()) -> SpeciesMap:
    """The key species and PAHs of the soot model in phase `gas`. Without `pahs`: pyrene
    (A4), else the largest of A3 and A2 present (with a warning); benzene only when asked."""
    key = []
    names = list(gas.species_names)
    for k in KEY_SPECIES:
        i = find_species(gas, k, aliases)
        key.append((k, names[i], i))
    if pahs:
        chosen = [find_species(gas, p, aliases) for p in pahs]
    else:
        chosen = []
        for p in DEFAULT_PAHS:
            try:
                chosen = [find_species(gas, p, aliases)]
                break
            except SpeciesError:
                continue
        if not chosen:
            raise SpeciesError("the mechanism has none of the PAHs A4 (pyrene), A3, A2: name the "
                               "PAH species to use in species.pahs")
        if names[chosen[0]].upper() not in ("A4", "C16H10"):
            warnings.warn(f"pyrene (A4) is not in the mechanism; using {names[chosen[0]]} as the "
                          f"soot model's PAH", stacklevel=2)
    if len(set(chosen)) != len(chosen):
        raise SpeciesError("species.pahs names the same species twice")
    key_indices = {i for _, _, i in key}
    table = []
    for i in chosen:
        n = names[i]
        if i in key_indices:
            raise SpeciesError(f"{n!r} is a key species of the soot model, not a PAH")
        n_C, n_H = float(gas.n_atoms(n, "C")), float(gas.n_atoms(n, "H"))
        if n_C < 2:
            raise SpeciesError(f"{n!r} has {n_C:g} carbon atoms: not an aromatic for the soot model")
        table.append((n, i, n_C, n_H))
    soot_names = list(names)
    for k, n, i in key:
        soot_names[i] = k
    return SpeciesMap(tuple(key), tuple(table), tuple(soot_names))


def _choose(kind: str, value: str, options: Iterable[str]) -> str:
    options = tuple(options)
    if value in options:
        return value
    close = difflib.get_close_matches(str(value), options, n=1, cutoff=0.5)
    hint = f" (did you mean {close[0]!r}?)" if close else ""
    raise SpeciesError(f"unknown {kind} {value!r}: use one of {', '.join(map(repr, options))}{hint}")


def configure_soot_model(gas, pahs: Sequence[str] = (), growth_model: str = "self_collision",
                         aliases=(), alpha_model: str = "empirical",
                         coalescence: str = "disabled", validation: str = "no_validation",
                         sticking: Sequence[float] = (), switches=(), cls=None) -> Any:
    """A CSootModel initialised for Cantera phase `gas`: species names (key species
    renamed), molar masses in kg/mol, the PAHs with their carbon and hydrogen counts, the
    chosen sub-models (by their names), switches given as (name, bool) pairs or a dict,
    and sticking efficiencies (the model's mass-based estimate for the self-collision
    models unless given). The confirmation line of initialize() is not printed."""
    from ._fumivex2 import CSootModel

    require_transport(gas)
    growth_model = _choose("PAH growth model", growth_model, GROWTH_MODELS)
    alpha_model = _choose("alpha model", alpha_model, ALPHA_MODELS)
    coalescence = _choose("coalescence type", coalescence, COALESCENCE_TYPES)
    validation = _choose("validation case", validation, VALIDATION_CASES)
    mapping = map_species(gas, aliases, pahs)
    model = (cls or CSootModel)()
    model.species_names = list(mapping.soot_names)
    model.MWs = gas.molecular_weights / 1000.0   # kg/kmol -> kg/mol
    model.PAH_index_in_gas = [p[1] for p in mapping.pahs]
    model.PAH_Number_Carbon = [p[2] for p in mapping.pahs]
    model.PAH_Number_Hydrogen = [p[3] for p in mapping.pahs]
    model.PAH_growth_model_name = growth_model
    model.alpha_model = alpha_model
    model.coalescence_type = coalescence
    model.validation = validation
    pairs = switches.items() if isinstance(switches, dict) else switches
    for name, on in pairs:
        setattr(model, _choose("switch", name, SWITCHES), bool(on))
    with contextlib.redirect_stdout(io.StringIO()):
        model.initialize()
    if sticking:
        if len(sticking) != len(mapping.pahs):
            raise SpeciesError(f"soot.sticking has {len(sticking)} values for "
                               f"{len(mapping.pahs)} PAHs ({', '.join(mapping.pah_names())})")
        model.PAH_sticking_efficiency = [float(v) for v in sticking]
    elif growth_model.startswith("self_collision"):
        model.initialize_stick_eff()
    return model


# ---- the inlet ------------------------------------------------------------------------------

def _resolve(gas, name: str, where: str) -> str:
    names = list(gas.species_names)
    if name in names:
        return name
    lower = {n.lower(): n for n in names}
    if name.lower() in lower:
        return lower[name.lower()]
    close = difflib.get_close_matches(name, names, n=3, cutoff=0.6)
    hint = f" (close: {', '.join(close)})" if close else ""
    raise SpeciesError(f"{where}: species {name!r} is not in the mechanism{hint}")


def parse_composition(gas, text: str, where: str = "inlet.composition") -> dict:
    """{mechanism species name: amount} from 'name:amount, name:amount' (commas or spaces
    between pairs); names are matched exactly, else ignoring case. Amounts must be finite
    and not negative, and sum to a positive value. Unknown species raise SpeciesError (with
    close matches), anything else InletError."""
    if not isinstance(text, str) or not text.strip():
        raise InletError(f"{where} is empty: give amounts like 'C2H4:1, O2:1.3, AR:2.5'")
    items = [t for t in re.split(r"[,\s]+", re.sub(r"\s*:\s*", ":", text.strip())) if t]
    out: dict = {}
    for item in items:
        name, sep, amount = item.rpartition(":")
        if not sep or not name:
            raise InletError(f"{where}: {item!r} is not 'name:amount' (as in 'C2H4:1, O2:1.3')")
        try:
            value = float(amount)
        except ValueError:
            raise InletError(f"{where}: the amount of {name!r} is {amount!r}, not a number") \
                from None
        if not math.isfinite(value) or value < 0:
            raise InletError(f"{where}: the amount of {name!r} must be zero or positive, "
                             f"got {amount}")
        species = _resolve(gas, name, where)
        if species in out:
            raise InletError(f"{where} names {species!r} twice")
        out[species] = value
    if sum(out.values()) <= 0:
        raise InletError(f"{where}: the amounts sum to zero; at least one must be positive")
    return out


def set_inlet(gas, inlet) -> None:
    """Sets the phase to an InletSpec: temperature, pressure and either the composition
    (mole or mass fractions) or the fuel and oxidiser mixed at the equivalence ratio."""
    import cantera as ct
    import numpy as np

    T, P = inlet.temperature, inlet.pressure
    try:
        if inlet.fuel:
            phi = inlet.equivalence_ratio
            if not (math.isfinite(phi) and phi > 0):
                raise InletError(f"inlet.equivalence_ratio must be a positive number, got {phi!r}")
            fuel = parse_composition(gas, inlet.fuel, "inlet.fuel")
            oxidizer = parse_composition(gas, inlet.oxidizer, "inlet.oxidizer")
            gas.TP = T, P
            mixing = (f"inlet: fuel {inlet.fuel!r} and oxidiser {inlet.oxidizer!r} cannot be "
                      f"mixed at equivalence ratio {phi:g}")
            try:
                gas.set_equivalence_ratio(phi, fuel, oxidizer, basis=inlet.basis)
            except ct.CanteraError as e:
                raise InletError(f"{mixing}: {cantera_message(e)}") from None
            if not np.all(np.isfinite(gas.X)):  # Cantera leaves NaN for an oxidiser without O
                raise InletError(f"{mixing}: they give no valid mixture (does the oxidiser "
                                 f"contain oxygen?)")
            gas.TP = T, P
        else:
            comp = parse_composition(gas, inlet.composition, "inlet.composition")
            if inlet.basis == "mass":
                gas.TPY = T, P, comp
            else:
                gas.TPX = T, P, comp
    except ct.CanteraError as e:
        raise InletError(f"inlet: the mechanism refuses this state: {cantera_message(e)}") \
            from None
    if not (np.all(np.isfinite(gas.X)) and math.isfinite(gas.density) and gas.density > 0):
        raise InletError("inlet: the composition gives no valid gas state")


def mole_fractions_text(gas, smallest: float = 1e-6) -> str:
    """The phase's mole fractions as 'C2H4 0.2083, O2 0.2708, AR 0.5208': every species
    above `smallest`, largest first, four significant digits."""
    X = gas.mole_fraction_dict(threshold=smallest)
    return ", ".join(f"{name} {x:.4g}" for name, x in
                     sorted(X.items(), key=lambda item: -item[1]))


def inlet_summary(gas) -> dict:
    """Summary entries of the inlet a run used (the phase at the inlet state): its mole
    fractions, whatever the case gave (a composition, or fuel and oxidiser at an
    equivalence ratio), and its density."""
    return {"inlet mole fractions [-]": mole_fractions_text(gas),
            "inlet density [kg/m3]": float(gas.density)}


# ---- a case's soot model and reported species ---------------------------------------------

def case_soot_model(gas, case):
    """The soot model a case asks for, for phase `gas` (see configure_soot_model)."""
    s = case.soot
    return configure_soot_model(
        gas, pahs=case.species.pahs, growth_model=s.growth_model, aliases=case.species.aliases,
        alpha_model=s.alpha_model, coalescence=s.coalescence, validation=s.validation,
        sticking=s.sticking, switches=s.switches)


def fuel_species(gas, case) -> tuple:
    """(mechanism name, index) of the fuel's hydrocarbons: the species of the inlet's fuel
    (counterflow: the fuel stream), else the species of the inlet composition with carbon
    and hydrogen and no oxygen; () when the text cannot be read (the inlet reports that)."""
    if case.kind == "counterflow":
        text = case.counterflow.fuel
    else:
        text = case.inlet.fuel or case.inlet.composition
    try:
        names = parse_composition(gas, text, "fuel")
    except CaseError:
        return ()
    def atoms(name, element):
        try:
            return gas.n_atoms(name, element)
        except Exception:  # Cantera refuses an element the mechanism does not have
            return 0

    return tuple((n, gas.species_index(n)) for n in names
                 if atoms(n, "C") > 0 and atoms(n, "H") > 0 and atoms(n, "O") == 0)


def report_species(gas, case, model=None) -> tuple:
    """The species a run reports: ((model name, index) of the key species and then (mechanism
    name, index) of the fuel's hydrocarbons, (mechanism name, index) of the PAHs). With a soot model, its own; without one, those the mechanism has
    (an explicit PAH list must be complete)."""
    names = list(gas.species_names)
    if model is not None:
        soot_names = list(model.species_names)
        key = [(k, soot_names.index(k)) for k in KEY_SPECIES]
        pahs = tuple((names[i], i) for i in model.PAH_index_in_gas)
        return _with_fuel(gas, case, key, pahs), pahs
    key = []
    for k in KEY_SPECIES:
        try:
            key.append((k, find_species(gas, k, case.species.aliases)))
        except SpeciesError:
            pass
    if case.species.pahs:
        idx = [find_species(gas, p, case.species.aliases) for p in case.species.pahs]
    else:
        idx = []
        for p in DEFAULT_PAHS:
            try:
                idx = [find_species(gas, p, case.species.aliases)]
                break
            except SpeciesError:
                continue
    pahs = tuple((names[i], i) for i in idx)
    return _with_fuel(gas, case, key, pahs), pahs


def _with_fuel(gas, case, key: list, pahs: tuple) -> tuple:
    """The key species followed by the fuel's hydrocarbons not among them or the PAHs."""
    taken = {i for _, i in key} | {i for _, i in pahs}
    return tuple(key) + tuple((n, i) for n, i in fuel_species(gas, case) if i not in taken)
