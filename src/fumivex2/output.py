"""Run outputs on disk: tables, the case as run, a readable summary and plots.

``write_run(result, folder)`` writes one run; ``write_sweep(results, folder)`` writes the
overlays and tables of a sweep. Everything a run computed is written, also when it
failed: the partial profiles, with the failure at the top of summary.txt. A plot that
cannot be drawn is reported in summary.txt and does not stop the tables from being
written.

Plots are drawn on Matplotlib ``Figure`` objects and saved with the Agg canvas, without
pyplot: no window opens and the backend of an interactive session is left alone.
pandas and Matplotlib are imported inside the functions that need them.
"""
from __future__ import annotations

import datetime
import math
import pathlib
import re
from typing import Any, Callable, Iterable, Mapping, Sequence

from .cases import Case, CaseError, case_to_toml
from .results import D_M, D_P, FV, NUMBER, T, RunResult

__all__ = ["write_run", "write_sweep", "default_folder", "summary_text", "summary_lines",
           "PLOT_FILES"]

# species whose mole fractions are plotted (with the PAHs of the run)
PLOTTED_SPECIES = ("C2H2", "H2", "O2", "OH")
_PAH_NAMES = ("A1", "A2", "A3", "A4", "C6H6", "C10H8", "C14H10", "C16H10")
_SPECIES_COLUMN = re.compile(r"^X_(.+) \[-\]$")

# the plots of one run: file stem -> (title, columns, y-axis label)
PLOT_FILES = {
    "soot_volume_fraction": ("soot volume fraction", (FV,), "soot volume fraction [-]"),
    "diameters": ("particle diameters", (D_P, D_M), "diameter [nm]"),
    "number_density": ("particle number density", (NUMBER,), "number density [1/m3]"),
    "temperature": ("temperature", (T,), "T [K]"),
    "species": ("key species and PAHs", None, "mole fraction [-]"),
}


# ---- folders ------------------------------------------------------------------------------

def default_folder(case: Case, root: str | pathlib.Path | None = None, *, suffix: str = "",
                   now: datetime.datetime | None = None) -> pathlib.Path:
    """A new folder ``<root>/<case name><suffix>-<YYYYmmdd-HHMMSS>`` (root: the case's
    output.folder), with -2, -3, ... appended if that name is taken."""
    root = pathlib.Path(case.output.folder if root is None else root)
    stamp = (now or datetime.datetime.now()).strftime("%Y%m%d-%H%M%S")
    base = f"{_slug(case.name) or 'case'}{suffix}-{stamp}"
    n = 1
    while True:
        folder = root / (base if n == 1 else f"{base}-{n}")
        try:
            folder.mkdir(parents=True, exist_ok=False)
            return folder
        except FileExistsError:
            n += 1
        except OSError as e:
            raise CaseError(f"cannot create the output folder {str(folder)!r}: "
                            f"{e.strerror}") from None


def prepare_folder(folder: str | pathlib.Path) -> pathlib.Path:
    """folder, created if needed; a clear error when it cannot be."""
    folder = pathlib.Path(folder)
    if folder.exists() and not folder.is_dir():
        raise CaseError(f"output folder {str(folder)!r} is a file: give a folder")
    try:
        folder.mkdir(parents=True, exist_ok=True)
    except OSError as e:
        raise CaseError(f"cannot create the output folder {str(folder)!r}: {e.strerror}") from None
    return folder


def _slug(text: str) -> str:
    return re.sub(r"[^A-Za-z0-9_.=+-]+", "_", str(text)).strip("_")


# ---- one run ------------------------------------------------------------------------------

def write_run(result: RunResult, folder: str | pathlib.Path, *, label: str | None = None,
              notes: Sequence[str] = (), plots: bool = True) -> pathlib.Path:
    """Write one run into folder (created if needed) and return the folder:
    profiles.csv, case.toml (the case as run), summary.txt, rates.csv (flames) and, unless
    `plots` or the case's output.plots is false, one PNG per quantity. `label` is added to
    the plot titles; `notes` are extra lines for summary.txt."""
    folder = prepare_folder(folder)
    notes = list(notes)
    profiles = result.profiles
    has_rows = profiles is not None and len(profiles) > 0
    if profiles is not None:
        profiles.to_csv(folder / "profiles.csv", index=False)
    if result.rates is not None:
        result.rates.to_csv(folder / "rates.csv", index=False)
    (folder / "case.toml").write_text(case_to_toml(result.case))
    if plots and result.case.output.plots and has_rows:
        notes += plot_run(result, folder, label=label)
    (folder / "summary.txt").write_text(summary_text(result, notes))
    return folder


def plot_run(result: RunResult, folder: pathlib.Path, *, label: str | None = None) -> list:
    """The PNG plots of one run; returns a note for each plot that could not be drawn."""
    notes = []
    p = result.profiles
    xcol = result.position_column()
    if xcol not in p:
        return [f"no plots: the profiles have no {xcol!r} column"]
    x = p[xcol].to_numpy(dtype=float)
    title = result.case.name + (f" ({label})" if label else "")
    for stem, (what, columns, ylabel) in PLOT_FILES.items():
        if columns is None:
            columns = species_columns(result)
        columns = [c for c in columns if c in p]
        if not columns:
            continue
        try:
            series = [(_legend_name(c), x, p[c].to_numpy(dtype=float)) for c in columns]
            _save_plot(folder / f"{stem}.png", series, xcol, ylabel, f"{title}: {what}",
                       legend=len(series) > 1)
        except Exception as e:  # a plot is a view of the CSV, which is written already
            notes.append(f"plot {stem}.png not written: {type(e).__name__}: {e}")
    return notes


def species_columns(result: RunResult) -> list:
    """Mole-fraction columns to plot: C2H2, H2, O2, OH and the PAHs of the run."""
    p = result.profiles
    wanted = {s.lower() for s in PLOTTED_SPECIES + _PAH_NAMES}
    wanted |= {str(s).lower() for s in result.case.species.pahs}
    wanted |= {str(s).lower() for s in result.extra.get("pahs", ())}
    for key, mech in result.case.species.aliases:
        if key.upper() in PLOTTED_SPECIES or key.upper() in _PAH_NAMES:
            wanted.add(mech.lower())
    out = []
    for c in p.columns:
        m = _SPECIES_COLUMN.match(str(c))
        if m and m.group(1).lower() in wanted:
            out.append(c)
    return out


def _legend_name(column: str) -> str:
    m = _SPECIES_COLUMN.match(column)
    return m.group(1) if m else column


def _log_scale(arrays) -> tuple | None:
    """(bottom, top) of a log axis when the positive values span more than two decades,
    else None. The bottom is kept within 8 decades of the top, so that the zeros and
    round-off of an inlet do not squash the curve."""
    import numpy as np

    values = np.concatenate([np.asarray(a, dtype=float).ravel() for a in arrays])
    values = values[np.isfinite(values) & (values > 0)]
    if values.size == 0:
        return None
    lo, hi = float(values.min()), float(values.max())
    if hi <= 100.0 * lo:
        return None
    return max(lo, hi * 1e-8) / 1.5, hi * 1.5


def plot_job(job: tuple) -> str | None:
    """Draw one overlay (path, series, xlabel, ylabel, title, legend); a note if it failed.
    A module-level function, so that worker processes can run it."""
    path, series, xlabel, ylabel, title, legend = job
    try:
        _save_plot(path, series, xlabel, ylabel, title, legend=legend)
    except Exception as e:
        return f"plot {pathlib.Path(path).name} not written: {type(e).__name__}: {e}"
    return None


def _save_plot(path, series, xlabel, ylabel, title, *, legend):
    """One PNG with a line per (name, x, y) of series."""
    from matplotlib.figure import Figure

    fig = Figure(figsize=(6.4, 4.4))
    # fixed margins: one draw per file (a layout engine draws twice)
    fig.subplots_adjust(left=0.14, right=0.97, bottom=0.12, top=0.92)
    ax = fig.subplots()
    for name, x, y in series:
        ax.plot(x, y, label=name)
    limits = _log_scale([y for _, _, y in series])
    if limits:
        ax.set_yscale("log")
        ax.set_ylim(*limits)
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_title(title, fontsize=10)
    ax.grid(True, which="major", alpha=0.3)
    if legend:
        ax.legend(fontsize=8)
    fig.savefig(path, dpi=110)


# ---- summary ------------------------------------------------------------------------------

def _fmt(value: Any) -> str:
    if isinstance(value, float):
        return f"{value:.4g}" if math.isfinite(value) else str(value)
    if value is None:
        return "n/a"
    return str(value)


def summary_text(result: RunResult, notes: Sequence[str] = ()) -> str:
    """summary.txt: how the run ended, then every value of result.summary() (units in
    the names), then notes."""
    s = result.summary()
    lines = []
    rows = 0 if result.profiles is None else len(result.profiles)
    if not result.ok:
        lines.append(f"RUN FAILED: {result.message}")
        lines.append("(the profiles computed before the failure are in profiles.csv)" if rows
                     else "(nothing was computed: profiles.csv holds the column names only)")
        lines.append("")
    elif not result.converged:
        lines.append(f"NOT CONVERGED: {result.message}")
        lines.append("")
    width = max(len(k) for k in s)
    for k, v in s.items():
        lines.append(f"{k:<{width}}  {_fmt(v)}")
    lines.append(f"{'rows in profiles.csv':<{width}}  {rows}")
    if notes:
        lines.append("")
        lines += [f"note: {n}" for n in notes]
    return "\n".join(lines) + "\n"


def summary_lines(result: RunResult) -> list:
    """Three to five short lines for the terminal."""
    s = result.summary()
    pos = result.position_column()
    where = {"flame": "height", "counterflow": "position"}.get(result.case.kind, "z")
    lines = [f"{result.case.name}: {result.status} in {result.run_time:.3g} s"
             + (f" ({result.message})" if result.message else "")]
    fv = s.get(f"final {FV}")
    if fv is not None:
        lines.append(f"  final soot volume fraction {fv:.3g} (peak {s.get(f'peak {FV}', fv):.3g})")
    dp, dm = s.get(f"final {D_P}"), s.get(f"final {D_M}")
    if dp is not None and dm is not None:
        lines.append(f"  final diameters: primary {dp:.3g} nm, mobility {dm:.3g} nm")
    nd = s.get(f"final {NUMBER}")
    peak = s.get(f"inception peak at {pos}")
    parts = []
    if nd is not None:
        parts.append(f"number density {nd:.3g} 1/m3")
    if peak is not None:
        parts.append(f"inception peaks at {where} = {peak:.3g} m")
    if parts:
        lines.append("  " + "; ".join(parts))
    return lines


# ---- sweeps -------------------------------------------------------------------------------

def params_label(params: Mapping[str, Any]) -> str:
    """'length=0.1, growth_model=cross_linking' (last part of each key)."""
    return ", ".join(f"{k.rsplit('.', 1)[-1]}={v}" for k, v in params.items())


def _sweep_items(results: Iterable) -> list:
    """(params, result or None, status, message, folder) of each case; accepts sweep
    records (with params, result, status, message, folder) or (params, RunResult) pairs."""
    items = []
    for r in results:
        if isinstance(r, tuple):
            params, res = r
            items.append((dict(params), res, res.status if res is not None else "error",
                          res.message if res is not None else "", ""))
        else:
            items.append((dict(r.params), r.result, r.status, r.message, str(r.folder)))
    return items


SWEEP_QUANTITIES = {
    "soot_volume_fraction": ("soot volume fraction", FV),
    "primary_diameter": ("primary diameter", D_P),
    "mobility_diameter": ("mobility diameter", D_M),
    "number_density": ("particle number density", NUMBER),
    "temperature": ("temperature", T),
}
MAX_LEGEND = 12  # cases named in an overlay's legend


def write_sweep(results: Iterable, folder: str | pathlib.Path, *,
                name: str | None = None, plots: bool = True,
                mapper: Callable | None = None) -> pathlib.Path:
    """Write the sweep's tables and overlays into folder: sweep_summary.csv (one row per
    case: the varied parameters, status, message and summary values), all_runs.csv (every
    case's profiles with the varied parameters as leading columns) and, when `plots` and
    the cases have plots on, one overlay PNG per quantity (a line per case). `mapper`
    (an executor's map, on this machine) draws the overlays in parallel."""
    import pandas as pd

    folder = prepare_folder(folder)
    items = _sweep_items(results)
    rows, tables = [], []
    for params, res, status, message, sub in items:
        row = dict(params)
        row.update({"status": status, "message": message, "folder": sub})
        if res is not None:
            s = res.summary()
            row.update({k: v for k, v in s.items()
                        if k not in ("case", "kind", "status", "message")})
            if res.profiles is not None and len(res.profiles):
                t = res.profiles.copy()
                for i, (k, v) in enumerate(params.items()):
                    t.insert(i, k, v if not isinstance(v, (list, tuple)) else str(v))
                tables.append(t)
        rows.append(row)
    pd.DataFrame(rows).to_csv(folder / "sweep_summary.csv", index=False)
    if tables:
        pd.concat(tables, ignore_index=True).to_csv(folder / "all_runs.csv", index=False)
    done = [(p, r) for p, r, *_ in items if r is not None and r.profiles is not None
            and len(r.profiles)]
    if plots and done and all(r.case.output.plots for _, r in done):
        notes = plot_sweep(done, folder, name=name, mapper=mapper)
        if notes:
            (folder / "plot_notes.txt").write_text("\n".join(notes) + "\n")
    return folder


def plot_sweep(done: Sequence[tuple], folder: pathlib.Path, *, name: str | None = None,
               mapper: Callable | None = None) -> list:
    """One overlay per quantity (and per plotted species), drawn by mapper (an executor's
    map) or here; returns notes for plots that could not be drawn."""
    notes = []
    first = done[0][1]
    xcol = first.position_column()
    name = name or first.case.name
    quantities = dict(SWEEP_QUANTITIES)
    species = []
    for _, r in done:
        species += [c for c in species_columns(r) if c not in species]
    for c in species:
        quantities[f"X_{_slug(_legend_name(c))}"] = (f"{_legend_name(c)} mole fraction", c)
    legend = len(done) <= MAX_LEGEND
    jobs = []
    for stem, (what, col) in quantities.items():
        series = [(params_label(p), r.profiles[r.position_column()].to_numpy(dtype=float),
                   r.profiles[col].to_numpy(dtype=float))
                  for p, r in done if col in r.profiles and r.position_column() in r.profiles]
        if not series:
            continue
        title = f"{name}: {what}, {len(series)} cases" + ("" if legend else " (legend omitted)")
        jobs.append((str(folder / f"{stem}.png"), series, xcol, col, title, legend))
    notes += [n for n in (mapper or map)(plot_job, jobs) if n]
    return notes
