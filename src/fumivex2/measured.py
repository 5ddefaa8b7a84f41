"""Measured data beside the computation: reading a measured-profile CSV into the units of
profiles.csv, and the agreement figures of a run against it.

A data file is a CSV whose header row names each column as ``<quantity> [<unit>]``. One
column is the run's position (``height above burner`` for burner flames, ``z`` for the
reactor, ``position`` for counterflow flames, in m, cm or mm; ``time`` for batch reactors
and ``residence time`` for stirred reactors, in s, ms or us); the others use the quantity
names of profiles.csv (``soot volume fraction``, ``primary diameter``, ``mobility
diameter``, ``number density``, ``T``, ``X_<species>``) in any of the units listed in
`UNITS`. Values are converted to the units of profiles.csv on reading. Lines starting with
``#`` before the header are comments; an empty cell (or ``nan``) means "not measured at
this position", so quantities measured at different positions can share one file.

Agreement of one quantity (``agreement``): the computed profile is interpolated linearly to
each measured position inside the computed range; points outside it are counted, never
extrapolated. The ratio computed/measured is defined only where both values are positive:
the other points in range are counted as "not positive" and left out of the figures.
From the compared points: the geometric-mean ratio exp(mean(ln(c/m))), the largest factor
max(c/m, m/c) and the position of the point where that factor is reached.

Only the standard library is imported at module level; NumPy inside the functions.
"""
from __future__ import annotations

import csv
import math
import os
import pathlib
import re
from dataclasses import dataclass, field
from typing import Any, Sequence

from .cases import Case, CaseError, DataSpec
from .results import D_M, D_P, FV, NUMBER, T, RunResult, species_column

__all__ = ["MeasuredData", "read_data", "load_data", "agreement", "agreement_rows",
           "position_column", "data_specs_from_args", "QUANTITIES", "POSITION_UNITS",
           "TIME_UNITS", "METRIC_COLUMNS"]

# position units -> factor to m
POSITION_UNITS = {"m": 1.0, "cm": 1e-2, "mm": 1e-3}
# units of the time positions (batch and stirred reactors) -> factor to s
TIME_UNITS = {"s": 1.0, "ms": 1e-3, "us": 1e-6, "\u00b5s": 1e-6}
# quantity -> (column of profiles.csv, {unit: factor to that column's unit})
QUANTITIES = {
    "soot volume fraction": (FV, {"-": 1.0, "ppm": 1e-6, "ppb": 1e-9}),
    "primary diameter": (D_P, {"nm": 1.0, "m": 1e9}),
    "mobility diameter": (D_M, {"nm": 1.0, "m": 1e9}),
    "number density": (NUMBER, {"1/m3": 1.0, "1/cm3": 1e6}),
    "T": (T, {"K": 1.0}),
}
# mole fractions X_<species>: {unit: factor to -}
SPECIES_UNITS = {"-": 1.0, "ppm": 1e-6}
# other spellings of the number-density units
_UNIT_ALIASES = {"1/m^3": "1/m3", "m^-3": "1/m3", "m-3": "1/m3",
                 "1/cm^3": "1/cm3", "cm^-3": "1/cm3", "cm-3": "1/cm3"}
# position quantities of the run kinds (reactor, burner flame, counterflow flame, batch
# reactor, stirred reactor)
_POSITIONS = ("z", "height above burner", "position", "time", "residence time")
_HEADER = re.compile(r"^\s*(?P<q>[^\[\]]*?)\s*\[\s*(?P<u>[^\[\]]*?)\s*\]\s*$")
_MISSING = {"", "nan"}

# figures of one data file x quantity, in the order of metrics.csv (the worst point's
# position column is added with the run's position name)
METRIC_COLUMNS = ("data", "file", "quantity", "points in range", "points outside range",
                  "points not positive", "geometric-mean ratio computed/measured [-]",
                  "largest factor [-]")


@dataclass(frozen=True, eq=False)
class MeasuredData:
    """One measured-data file in the units of profiles.csv: positions `x` (m or s, increasing)
    under the profiles' position column `position`, and per profiles.csv column the
    measured values (NaN where that quantity was not measured)."""
    label: str
    file: str
    position: str
    x: Any
    columns: dict = field(default_factory=dict)
    position_unit: str = ""  # the unit of the positions in the file's header ("" = SI)


def position_column(case: Case) -> str:
    """The profiles' position column of a run of this case, e.g. 'height above burner [m]'."""
    return RunResult(case, None, "", "").position_column()


def _quantity_name(column: str) -> str:
    return column.rsplit(" [", 1)[0]


def position_units(position: str) -> dict:
    """{unit: factor to the unit of profiles.csv} of a run's position column: lengths, or
    times for the columns in s."""
    return TIME_UNITS if position.endswith("[s]") else POSITION_UNITS


def _position_hint(position: str) -> str:
    """'z [m]' (or [cm], [mm]), in the units of the run's position."""
    first, *others = position_units(position)
    return (f"'{_quantity_name(position)} [{first}]' (or "
            f"{', '.join(f'[{u}]' for u in others)})")


def _known_quantities(position: str) -> str:
    return (f"{_quantity_name(position)} (the position: "
            f"{', '.join(position_units(position))}), "
            + ", ".join(f"{q} ({', '.join(u)})" for q, (_, u) in QUANTITIES.items())
            + f", X_<species> ({', '.join(SPECIES_UNITS)})")


def _parse_header(cell: str, where: str, position: str) -> tuple:
    """(profiles column, factor to its unit) of one header cell."""
    m = _HEADER.match(cell)
    if not m or not m.group("q"):
        raise CaseError(f"{where}: column {cell.strip()!r} has no unit: write it as "
                        f"'<quantity> [<unit>]', e.g. 'soot volume fraction [ppm]'; known "
                        f"quantities: {_known_quantities(position)}")
    q, unit = m.group("q"), m.group("u")
    unit = _UNIT_ALIASES.get(unit.replace(" ", ""), unit.replace(" ", ""))
    pos_q = _quantity_name(position)
    if q.lower() == pos_q.lower():
        column, units = position, position_units(position)
    elif q.startswith("X_") and len(q) > 2:
        column, units = species_column(q[2:]), SPECIES_UNITS
    elif q in QUANTITIES or (q.lower() in QUANTITIES and q.lower() != "t"):
        column, units = QUANTITIES[q if q in QUANTITIES else q.lower()]
    elif q.lower() in _POSITIONS:
        raise CaseError(f"{where}: column {cell.strip()!r} is the position of another kind "
                        f"of run: this run's position is {_position_hint(position)}")
    else:
        raise CaseError(f"{where}: column {cell.strip()!r}: unknown quantity {q!r}; known "
                        f"quantities: {_known_quantities(position)}")
    if unit not in units:
        raise CaseError(f"{where}: column {cell.strip()!r}: unknown unit {unit!r} for {q}; "
                        f"use one of {', '.join(units)}")
    return column, units[unit]


def read_data(path: str | os.PathLike, position: str, label: str = "") -> MeasuredData:
    """The measured data of one CSV file, converted to the units of profiles.csv; `position`
    is the profiles' position column of the run (e.g. 'z [m]'). A file that cannot be used
    raises CaseError with one line naming the file and the column."""
    import numpy as np

    p = pathlib.Path(path)
    where = f"data file {str(p)!r}"
    try:
        with open(p, newline="", encoding="utf-8-sig") as fh:
            lines = fh.read().splitlines(keepends=True)
        delimiter = _delimiter(lines)
        rows = [(i + 1, r) for i, r in enumerate(csv.reader(lines, delimiter=delimiter))]
    except FileNotFoundError:
        raise CaseError(f"{where} does not exist") from None
    except (OSError, UnicodeDecodeError) as e:
        raise CaseError(f"{where} cannot be read: {getattr(e, 'strerror', None) or e}") from None
    except csv.Error as e:
        raise CaseError(f"{where} is not a CSV file: {e}") from None
    # comments and blank lines before the header, blank lines anywhere
    rows = [(n, r) for n, r in rows if any(c.strip() for c in r)]
    while rows and rows[0][1][0].lstrip().startswith("#"):
        rows.pop(0)
    if not rows:
        raise CaseError(f"{where} is empty: it needs a header row ('<quantity> [<unit>]' "
                        f"per column) and data rows")
    (_, header), body = rows[0], rows[1:]
    columns, factors = [], []
    for cell in header:
        column, factor = _parse_header(cell, where, position)
        if column in columns:
            raise CaseError(f"{where}: column {cell.strip()!r} is given twice")
        columns.append(column)
        factors.append(factor)
    if position not in columns:
        raise CaseError(f"{where} has no position column: name it "
                        f"{_position_hint(position)}; known quantities: "
                        f"{_known_quantities(position)}")
    if len(columns) < 2:
        raise CaseError(f"{where} has only the position column: add a measured quantity; "
                        f"known quantities: {_known_quantities(position)}")
    if not body:
        raise CaseError(f"{where} has a header but no data rows")
    values = np.full((len(body), len(columns)), np.nan)
    for i, (line, row) in enumerate(body):
        if len(row) > len(columns):
            raise CaseError(f"{where}, line {line}: {len(row)} cells but {len(columns)} "
                            f"columns in the header")
        for j, cell in enumerate(row):
            text = cell.strip()
            if text.lower() in _MISSING:
                continue
            try:
                v = float(text)
            except ValueError:
                v = math.nan
            if not math.isfinite(v):
                comma = "," in text and _is_number(text.replace(",", "."))
                raise CaseError(f"{where}, line {line}, column {header[j].strip()!r}: "
                                f"{text!r} is not a number"
                                + (" (write a decimal point, not a comma)" if comma else ""))
            values[i, j] = v * factors[j]
    k = columns.index(position)
    x = values[:, k]
    if np.isnan(x).any():
        line = body[int(np.argmax(np.isnan(x)))][0]
        raise CaseError(f"{where}, line {line}, column {header[k].strip()!r}: the position is "
                        f"missing")
    steps = np.diff(x)
    if (steps <= 0).any():
        i = int(np.argmax(steps <= 0)) + 1
        raise CaseError(f"{where}, line {body[i][0]}, column {header[k].strip()!r}: positions "
                        f"must increase from row to row ({header[k].strip()} "
                        f"{x[i - 1] / factors[k]:g} then {x[i] / factors[k]:g})")
    data = {c: values[:, j] for j, c in enumerate(columns) if j != k}
    unit = _HEADER.match(header[k]).group("u").replace(" ", "")
    return MeasuredData(label=label or p.stem, file=str(p), position=position, x=x,
                        columns=data, position_unit=unit)


def _delimiter(lines: Sequence[str]) -> str:
    """The separator of a data file's cells, from its header (the first line that is
    neither blank nor a comment): a comma; else a tab or a semicolon, as spreadsheets
    write CSV files in locales whose decimal separator is the comma."""
    for line in lines:
        if line.strip() and not line.lstrip().startswith("#"):
            for sep in (",", "\t", ";"):
                if sep in line:
                    return sep
            break
    return ","


def _is_number(text: str) -> bool:
    try:
        return math.isfinite(float(text))
    except ValueError:
        return False


def _in_file_units(data: MeasuredData, values) -> tuple:
    """values (in the profiles' unit) in the unit of the data file's positions, and that
    unit's name."""
    units = position_units(data.position)
    unit = data.position_unit if data.position_unit in units else next(iter(units))
    return tuple(v / units[unit] for v in values), unit


def _outside(data: MeasuredData, low: float, high: float, what: str) -> str:
    """What to say about a data file whose positions all lie outside [low, high] (the
    profiles' unit), '' when one lies inside."""
    import numpy as np

    x = np.asarray(data.x, dtype=float)
    if x.size == 0 or ((x >= low) & (x <= high)).any():
        return ""
    (first, last, lo, hi), unit = _in_file_units(data, (x[0], x[-1], low, high))
    units = position_units(data.position)
    raw = x / units[unit]
    inside, seen = {}, {units[unit]}
    for u, f in units.items():  # one spelling per factor ("us", not also "\u00b5s")
        if f not in seen:
            seen.add(f)
            inside[u] = int(((raw * f >= low) & (raw * f <= high)).sum())
    most = max(inside.values(), default=0)
    fits = [u for u, n in inside.items() if n == most and most]
    how = "all" if most == x.size else "some"
    guess = f" (read in {' or '.join(f'[{u}]' for u in fits)}, {how} would lie inside)" \
        if fits else ""
    return (f"all {x.size} positions, {first:g} to {last:g} {unit}, lie outside {what}, "
            f"{lo:g} to {hi:g} {unit}: is the unit of the position column "
            f"('{_quantity_name(data.position)} [{unit}]') right?{guess}")


def _case_range(case: Case) -> tuple | None:
    """(low, high, what) of the positions a run of case computes, in the profiles' unit,
    where the case alone fixes them; None where the run decides (a reactor run to a
    residence time, a stirred reactor's rows)."""
    if case.kind == "flame":
        return 0.0, case.flame.width, "the flame's domain (flame.width)"
    if case.kind == "counterflow":
        return 0.0, case.counterflow.width, "the distance between the inlets (counterflow.width)"
    if case.kind == "pfr" and case.reactor.residence_time == 0.0:
        return 0.0, case.reactor.length, "the reactor (reactor.length)"
    if case.kind == "batch":
        return 0.0, case.batch.end_time, "the times computed (batch.end_time)"
    return None


def load_data(case: Case) -> list:
    """The measured data of every [[data]] entry of case, for its run kind's position.
    A file none of whose positions lies where the run computes (when the case fixes
    that: a flame's domain, a reactor's length, a batch reactor's time) is refused with
    its numbers: most often a slip of units in its header."""
    pos = position_column(case)
    out = [read_data(d.file, pos, d.label) for d in case.data]
    span = _case_range(case)
    for d in out if span else ():
        text = _outside(d, *span)
        if text:
            raise CaseError(f"data file {d.file!r}: {text}")
    return out


def data_specs_from_args(values: Sequence[str]) -> tuple:
    """DataSpec entries of the command line's --data FILE or FILE:LABEL (paths relative to
    the current folder). The file is the text up to the first ':' after which the text
    before it names an existing file (so both file names and labels may hold ':'); without
    such a file, the text up to the first ':'."""
    out = []
    for text in values:
        file, label = text, ""
        if not os.path.isfile(text) and ":" in text:
            cuts = [i for i, ch in enumerate(text) if ch == ":"]
            i = next((i for i in cuts if os.path.isfile(text[:i])), cuts[0])
            file, label = text[:i], text[i + 1:]
        if not file:
            raise CaseError(f"--data {text!r}: give a CSV file, optionally followed by "
                            f":LABEL")
        out.append(DataSpec(file=os.path.abspath(file), label=label))
    return tuple(out)


def agreement(data: MeasuredData, x, computed, measured) -> dict:
    """Agreement figures of one quantity: computed values `computed` at positions `x` (the
    run's profile, increasing) against `measured` at data.x (NaN: not measured)."""
    import numpy as np

    x = np.asarray(x, dtype=float)
    computed = np.asarray(computed, dtype=float)
    measured = np.asarray(measured, dtype=float)
    at = ~np.isnan(measured)
    xm, ym = data.x[at], measured[at]
    ok = np.isfinite(x)
    x, computed = x[ok], computed[ok]
    inside = (xm >= x[0]) & (xm <= x[-1]) if x.size else np.zeros(xm.shape, bool)
    yc = np.interp(xm[inside], x, computed) if x.size else np.empty(0)
    positive = np.isfinite(yc) & (yc > 0) & (ym[inside] > 0)
    out = {"points in range": int(inside.sum()), "points outside range": int((~inside).sum()),
           "points not positive": int((~positive).sum()),
           "geometric-mean ratio": math.nan, "largest factor": math.nan, "worst at": math.nan}
    if positive.any():
        log_ratio = np.log(yc[positive] / ym[inside][positive])
        worst = int(np.argmax(np.abs(log_ratio)))
        out["geometric-mean ratio"] = float(np.exp(log_ratio.mean()))
        out["largest factor"] = float(np.exp(abs(log_ratio[worst])))
        out["worst at"] = float(xm[inside][positive][worst])
    return out


def agreement_rows(result: RunResult, data: Sequence[MeasuredData]) -> tuple:
    """(rows of metrics.csv, notes): one row per data file x measured quantity, units in
    the column names; a note for each measured quantity the run has no profile of."""
    import numpy as np

    p = result.profiles
    pos = result.position_column()
    has_x = p is not None and pos in p
    x = p[pos].to_numpy(dtype=float) if has_x else np.empty(0)
    rows, notes = [], []
    span = x[np.isfinite(x)]
    for d in data:
        text = _outside(d, span[0], span[-1], "the computed range") if len(span) else ""
        if text:
            notes.append(f"data {d.label!r}: nothing compared: {text}")
        for column, measured in d.columns.items():
            if has_x and len(p) and column not in p:
                notes.append(f"data {d.label!r}: the run has no {column!r} to compare with")
                continue
            if has_x and column in p:
                computed = p[column].to_numpy(dtype=float)
            else:  # no profiles: every point is outside the (empty) computed range
                computed = np.empty(0)
                x = np.empty(0)
            a = agreement(d, x, computed, measured)
            rows.append({"data": d.label, "file": d.file, "quantity": column,
                         "points in range": a["points in range"],
                         "points outside range": a["points outside range"],
                         "points not positive": a["points not positive"],
                         "geometric-mean ratio computed/measured [-]": a["geometric-mean ratio"],
                         "largest factor [-]": a["largest factor"],
                         f"worst point at {pos}": a["worst at"]})
    return rows, notes
