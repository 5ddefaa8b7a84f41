"""Run outputs on disk: tables, the case as run, a readable summary and plots.

``write_run(result, folder)`` writes one run; ``write_sweep(results, folder)`` writes the
overlays and tables of a sweep. Everything a run computed is written, also when it
failed: the partial profiles, with the failure at the top of summary.txt. A plot that
cannot be drawn is reported in summary.txt and does not stop the tables from being
written.

Plots are drawn on Matplotlib ``Figure`` objects and saved with the Agg canvas, without
pyplot: no window opens and the backend of an interactive session is left alone.
pandas and Matplotlib are imported inside the functions that need them.

Plots use the units of the field's papers; the files keep the units of profiles.csv.
Flame heights and positions are drawn in mm (the reactor's z stays in m), times (batch
reactors) and residence times (stirred reactors) in ms, the soot volume fraction in ppm;
the volume fraction, number density and mole fractions on log axes in every run kind,
diameters and temperature on linear ones. Soot quantities are not drawn where soot is still
at the model's floor values (see `soot_floor_mask`). The measured data of the case
(``[[data]]``) is drawn as markers over the computed curves and compared with them in
metrics.csv and summary.txt (see ``fumivex2.measured``).
"""
from __future__ import annotations

import contextlib
import datetime
import math
import os
import pathlib
import re
import threading
from typing import Any, Callable, Iterable, Mapping, Sequence

from . import checks
from .cases import Case, CaseError, case_to_toml
from .results import (C_TOT, D_M, D_P, FV, HC, HELD, N_P, NUMBER, ONE_WAY_PREFIX,
                      RESIDENCE_TIME, T, Z, RunResult)

__all__ = ["write_run", "write_sweep", "default_folder", "summary_text", "summary_lines",
           "PLOT_FILES", "run_figures", "soot_floor_mask"]

# species whose mole fractions are plotted (with the fuel's hydrocarbons and the PAHs)
PLOTTED_SPECIES = ("C2H2", "H2", "H", "CO", "O2", "OH", "H2O")
_PAH_NAMES = ("A1", "A2", "A3", "A4", "C6H6", "C10H8", "C14H10", "C16H10")
_SPECIES_COLUMN = re.compile(r"^X_(.+) \[-\]$")
# a hydrocarbon's formula name, with an isomer prefix (C2H4, CH4, NC7H16, iC8H18)
_HYDROCARBON = re.compile(r"^(?:[nis]-?)?C\d*H\d+$", re.I)

# the plots of one run: file stem -> (title, columns, y-axis label, log axis)
PLOT_FILES = {
    "soot_volume_fraction": ("soot volume fraction", (FV,), "soot volume fraction [ppm]", True),
    "diameters": ("particle diameters", (D_P, D_M), "diameter [nm]", False),
    "number_density": ("particle number density", (NUMBER,), "number density [1/m3]", True),
    "temperature": ("temperature", (T,), "T [K]", False),
    "species": ("key species, fuel and PAHs", None, "mole fraction [-]", True),
}
# a log axis reaches down to this fraction of its largest value (8 decades)
LOG_SPAN = 1e-8
# plotted unit of a profiles.csv column: column -> (factor from its unit, axis label)
PLOT_UNITS = {FV: (1e6, "soot volume fraction [ppm]")}

# The soot model floors its variables at one aggregate and primary per kg over Avogadro's
# number and C_tot at 378/Av mol/kg (a 378-carbon particle per kg of gas): there is no soot
# there, and the diameters (a flat ~2 nm) and volume fraction (~1e-27) of that state are
# not worth drawing. A point is at the floor when C_tot < FLOOR_FACTOR * C_TOT_FLOOR.
AVOGADRO = 6.02214076e23  # 1/mol
C_TOT_FLOOR = 378.0 / AVOGADRO  # mol/kg
FLOOR_FACTOR = 10.0
SOOT_COLUMNS = (FV, D_P, D_M, NUMBER, N_P, HC)


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


@contextlib.contextmanager
def atomic_path(path: str | pathlib.Path):
    """A temporary name beside `path` to write to, renamed to `path` when the block ends
    without an error and removed otherwise: a reader (a resumed sweep) never finds a
    half-written file under the final name. The name keeps the suffix, so that pandas and
    Matplotlib pick the format from it."""
    path = pathlib.Path(path)
    tmp = path.with_name(f".{path.stem}.{os.getpid()}-{threading.get_ident()}.partial"
                         f"{path.suffix}")
    try:
        yield tmp
        os.replace(tmp, path)
    finally:
        with contextlib.suppress(OSError):
            tmp.unlink()


def write_text(path: str | pathlib.Path, text: str) -> None:
    """Write text into path atomically (see atomic_path)."""
    with atomic_path(path) as tmp:
        tmp.write_text(text)


def write_csv(table, path: str | pathlib.Path) -> None:
    """A DataFrame into path as CSV without its index, atomically (see atomic_path)."""
    with atomic_path(path) as tmp:
        table.to_csv(tmp, index=False)


def _slug(text: str) -> str:
    return re.sub(r"[^A-Za-z0-9_.=+-]+", "_", str(text)).strip("_")


# ---- one run ------------------------------------------------------------------------------

def write_run(result: RunResult, folder: str | pathlib.Path, *, label: str | None = None,
              notes: Sequence[str] = (), plots: bool = True) -> pathlib.Path:
    """Write one run into folder (created if needed) and return the folder:
    profiles.csv, case.toml (the case as run), summary.txt, rates.csv (flames),
    metrics.csv (when the case has measured data) and, unless `plots` or the case's
    output.plots is false, one PNG per quantity. `label` is added to the plot titles;
    `notes` are extra lines for summary.txt."""
    from .measured import METRIC_COLUMNS, agreement_rows

    folder = prepare_folder(folder)
    notes = list(notes)
    profiles = result.profiles
    has_rows = profiles is not None and len(profiles) > 0
    if profiles is not None:
        write_csv(profiles, folder / "profiles.csv")
    if result.rates is not None:
        write_csv(result.rates, folder / "rates.csv")
    write_text(folder / "case.toml", case_to_toml(result.case))
    data, data_notes = case_data(result.case)
    metrics, metric_notes = agreement_rows(result, data)
    notes += data_notes + metric_notes
    check_rows = checks.metrics_rows(result) + coupling_rows(result)
    if data or check_rows:
        import pandas as pd

        columns = list(METRIC_COLUMNS) + [f"worst point at {result.position_column()}"]
        columns += list(checks.CHECK_COLUMNS) if check_rows else []
        write_csv(pd.DataFrame(list(metrics) + check_rows, columns=columns),
                  folder / "metrics.csv")
    if plots and result.case.output.plots and has_rows:
        tag = checks.status_tag(result)  # how the run ended, in every plot's title
        label = "; ".join(t for t in (label, tag) if t) or None
        notes += plot_run(result, folder, label=label, data=data)
    write_text(folder / "summary.txt", summary_text(result, notes, metrics=metrics))
    return folder


COUPLING_ROW = "(coupling)"   # the "data" column of a coupling figure's row in metrics.csv


def coupling_rows(result: RunResult) -> list:
    """The coupling figures of a two-way flame as rows of metrics.csv: "data" is
    COUPLING_ROW, "quantity" the figure, "value" its value (the coupled residual is a
    check's row)."""
    figures = result.extra.get("coupling summary") or {}
    if not figures:
        return []
    peak = result.summary().get(f"peak {FV}")
    rows = [{"data": COUPLING_ROW, "quantity": f"peak {FV}", "value": peak,
             "what": "the coupled result"}]
    rows += [{"data": COUPLING_ROW, "quantity": k, "value": v} for k, v in figures.items()
             if isinstance(v, (int, float))]
    return rows


def case_data(case: Case) -> tuple:
    """(MeasuredData of every [[data]] entry that can be read, a note for each that
    cannot): outputs are written also when a data file went missing after the run began."""
    from .measured import position_column, read_data

    data, notes = [], []
    for d in case.data:
        try:
            data.append(read_data(d.file, position_column(case), d.label))
        except CaseError as e:
            notes.append(f"measured data not used: {e}")
    return data, notes


def plot_run(result: RunResult, folder: pathlib.Path, *, label: str | None = None,
             data: Sequence = ()) -> list:
    """The PNG plots of one run, with the measured `data` (MeasuredData) as markers;
    returns a note for each plot that could not be drawn."""
    figures, notes = run_figures(result, data, label=label)
    for stem, fig in figures.items():
        try:
            with atomic_path(folder / f"{stem}.png") as tmp:
                fig.savefig(tmp, dpi=110)
        except Exception as e:  # a plot is a view of the CSV, which is written already
            notes.append(f"plot {stem}.png not written: {type(e).__name__}: {e}")
    return notes


def run_figures(result: RunResult, data: Sequence = (), *, label: str | None = None) -> tuple:
    """({file stem: Matplotlib Figure}, notes) of the plots of one run in plotted units,
    soot floors masked, each measured quantity of `data` as markers over its curve. The
    plots of a run share one x range and its marks (see _run_view)."""
    p = result.profiles
    xcol = result.position_column()
    if xcol not in p:
        return {}, [f"no plots: the profiles have no {xcol!r} column"]
    xf, xlabel = _x_axis(xcol)
    x = p[xcol].to_numpy(dtype=float) * xf
    masked = _masked(p)
    title = result.case.name + (f" ({label})" if label else "")
    top_axis = _residence_time_axis(p, xcol, x)
    view = _run_view(result, x, xf)
    figures, notes = {}, []
    for stem, (what, columns, ylabel, log) in PLOT_FILES.items():
        if columns is None:
            measured = [c for d in data for c in d.columns if c.startswith("X_") and c in p]
            columns = _visible_species(p, species_columns(result), keep=measured)
            columns += [c for c in measured if c not in columns]
        columns = [c for c in columns if c in p]
        if not columns:
            continue
        try:
            two_way = [c for c in columns if ONE_WAY_PREFIX + c in p]
            single = "coupled" if two_way else view.single
            names = [_legend_name(c) for c in columns] if len(columns) > 1 else [single]
            series = [(n, x, masked[c] * _y_axis(c)[0]) for n, c in zip(names, columns)]
            # a two-way run: the one-way curve of what the soot changed, dashed in the
            # colour of its coupled curve
            for c in two_way:
                i = columns.index(c)
                name = f"{names[i]}, one-way" if len(columns) > 1 else "one-way"
                series.append((name, x, masked[ONE_WAY_PREFIX + c] * _y_axis(c)[0],
                               {"linestyle": "--", "like": i}))
            markers = _markers(data, columns, xf, several=len(columns) > 1)
            if stem == "temperature" and view.imposed is not None:
                markers.append(("imposed profile", *view.imposed, None, "x"))
            figures[stem] = _figure(series, xlabel, ylabel, f"{title}: {what}",
                                    legend=len(series) > 1 or bool(markers) or view.legend,
                                    log=log, markers=markers, top_axis=top_axis, view=view)
        except Exception as e:
            notes.append(f"plot {stem}.png not written: {type(e).__name__}: {e}")
    return figures, notes


class _RunView:
    """What the plots of one run share: the x range (`xlim`, plotted units: every plot
    spans all the run's rows, also where a soot quantity is masked), a log x axis (`xlog`:
    a batch reactor's log-spaced output times), vertical marks (`marks`: (x, legend label,
    line style), a counterflow flame's stagnation plane and flame), the first row told
    apart (`first`: its legend label; a stirred reactor ahead of its plug-flow section),
    the legend name of a plot's only curve (`single`) and a burner flame's imposed
    temperature points (`imposed`: x, T)."""

    def __init__(self, xlim=None, xlog=False):
        self.xlim, self.xlog, self.marks = xlim, xlog, []
        self.first, self.single, self.imposed = None, "computed", None

    @property
    def legend(self) -> bool:
        return bool(self.marks or self.first)


# vertical marks of a counterflow flame: extra key, legend words, line style
_FLAME_MARKS = (("stagnation plane [m]", "stagnation plane", "--"),
                ("flame (peak T) [m]", "flame (peak T)", ":"))


def _run_view(result: RunResult, x, xf: float) -> _RunView:
    """The _RunView of a run whose position column, in plotted units, is x (xf times its
    unit in profiles.csv)."""
    import numpy as np

    case = result.case
    xlog = case.kind == "batch" and case.batch.spacing == "log"
    xs = x[np.isfinite(x) & ((x > 0) if xlog else True)]
    xlim = (float(xs.min()), float(xs.max())) if xs.size and xs.max() > xs.min() else None
    unit = _x_axis(result.position_column())[1].rsplit("[", 1)[-1].rstrip("]")
    view = _RunView(xlim, xlog)
    if case.kind == "counterflow":
        for key, words, style in _FLAME_MARKS:
            at = result.extra.get(key)
            if isinstance(at, (int, float)) and math.isfinite(at):
                view.marks.append((at * xf, f"{words}, {at * xf:.3g} {unit}", style))
    elif case.kind == "psr" and len(x):
        # the first row is the stirred reactor, the rows after it its plug-flow section
        reactor = f"stirred reactor (τ = {x[0]:.3g} {unit})"
        if len(x) > 1:
            view.first, view.single = reactor, "plug-flow section"
        else:  # a lone point is drawn as a marker anyway
            view.single = reactor
    elif case.kind == "flame" and case.flame.temperature_profile:
        z, T = (np.asarray(row, dtype=float) for row in case.flame.temperature_profile)
        inside = (z * xf >= xlim[0]) & (z * xf <= xlim[1]) if xlim else np.ones(len(z), bool)
        view.imposed = (z[inside] * xf, T[inside])
    return view


def _residence_time_axis(profiles, xcol: str, x):
    """('residence time [ms]', x, t in ms) for plots against a reactor's z, when the
    residence time increases along the rows; else None."""
    import numpy as np

    if xcol != Z or RESIDENCE_TIME not in profiles or len(x) < 2:
        return None
    t = profiles[RESIDENCE_TIME].to_numpy(dtype=float) * 1e3
    if not (np.all(np.isfinite(t)) and np.all(np.isfinite(x)) and np.all(np.diff(x) > 0)
            and np.all(np.diff(t) > 0)):
        return None
    return "residence time [ms]", x, t


def _interp_linear(x, xp, fp):
    """np.interp continued beyond the ends along the end intervals: the ticks of a
    secondary axis beyond the data then fall outside the axes instead of piling up at an
    end."""
    import numpy as np

    x = np.asarray(x, dtype=float)
    y = np.interp(x, xp, fp)
    y = np.where(x < xp[0], fp[0] + (x - xp[0]) * (fp[1] - fp[0]) / (xp[1] - xp[0]), y)
    return np.where(x > xp[-1], fp[-1] + (x - xp[-1]) * (fp[-1] - fp[-2]) / (xp[-1] - xp[-2]), y)


def soot_floor_mask(profiles):
    """Boolean array, True where the soot is still at the model's floor values
    (C_tot < FLOOR_FACTOR * C_TOT_FLOOR); None when the profiles have no C_tot."""
    if C_TOT not in profiles:
        return None
    c = profiles[C_TOT].to_numpy(dtype=float)
    return c < FLOOR_FACTOR * C_TOT_FLOOR


def _masked(profiles) -> dict:
    """Plotted values per column: soot columns NaN at the floors (Matplotlib leaves a gap),
    every column NaN where it is not finite."""
    import numpy as np

    mask = soot_floor_mask(profiles)
    out = {}
    for c in profiles.columns:
        try:
            v = profiles[c].to_numpy(dtype=float)
        except (TypeError, ValueError):
            continue
        v = np.where(np.isfinite(v), v, np.nan)
        if mask is not None and c in SOOT_COLUMNS:
            v = np.where(mask, np.nan, v)
        out[c] = v
    return out


def _x_axis(column: str) -> tuple:
    """(factor, label) of a position axis: the reactor's z in m, flame heights and
    positions in mm, times in ms."""
    if column.endswith(" [s]"):
        return 1e3, column[:-len(" [s]")] + " [ms]"
    if column == Z or not column.endswith(" [m]"):
        return 1.0, column
    return 1e3, column[:-len(" [m]")] + " [mm]"


def _y_axis(column: str) -> tuple:
    """(factor, label) of a quantity's axis."""
    return PLOT_UNITS.get(column, (1.0, column))


def _log_axis(column: str) -> bool:
    """Quantities that span decades get a log axis, the same in every run kind."""
    return column in (FV, NUMBER) or column.startswith("X_")


_MARKER_STYLES = ("o", "s", "^", "D", "v", "P")


def _markers(data: Sequence, columns: Sequence, xf: float, *, several: bool) -> list:
    """(legend name, x, y, index of the curve of the same quantity or None, style) of each
    measured quantity among columns, in plotted units."""
    import numpy as np

    out = []
    for k, d in enumerate(data):
        for i, c in enumerate(columns):
            if c not in d.columns:
                continue
            y = np.asarray(d.columns[c], dtype=float)
            at = ~np.isnan(y)
            name = f"{d.label}: {_legend_name(c)}" if several else d.label
            out.append((name, d.x[at] * xf, y[at] * _y_axis(c)[0], i,
                        _MARKER_STYLES[k % len(_MARKER_STYLES)]))
    return out


def species_columns(result: RunResult) -> list:
    """Mole-fraction columns to plot: the key species (C2H2, H2, H, CO, O2, OH, H2O), the
    fuel's hydrocarbons (any species named by a C/H formula, as C2H4 or NC7H16) and the PAHs
    of the run."""
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
        if m and (m.group(1).lower() in wanted or _HYDROCARBON.match(m.group(1))):
            out.append(c)
    return out


def _legend_name(column: str) -> str:
    m = _SPECIES_COLUMN.match(column)
    return m.group(1) if m else column


def _visible_species(profiles, columns, keep=()) -> list:
    """The mole-fraction columns that reach the species plot's log axis (within LOG_SPAN
    of the largest): a species absent all along (CO, O2 in a pyrolysis: zero, or round-off
    of 1e-33) is left out rather than shown as an empty legend entry. `keep` stay."""
    import numpy as np

    peak = {c: float(np.max(np.nan_to_num(profiles[c].to_numpy(dtype=float), nan=0.0),
                            initial=0.0)) for c in columns if c in profiles}
    top = max(peak.values(), default=0.0)
    return [c for c in peak if c in keep or (peak[c] > 0 and peak[c] >= top * LOG_SPAN)]


def _log_scale(arrays, always: bool = False) -> tuple | None:
    """(bottom, top) of a log axis when the positive values span more than two decades
    (`always`: when there are positive values at all), else None. The bottom is kept within
    LOG_SPAN of the top, so that the zeros and round-off of an inlet do not squash the
    curve."""
    import numpy as np

    values = np.concatenate([np.asarray(a, dtype=float).ravel() for a in arrays])
    values = values[np.isfinite(values) & (values > 0)]
    if values.size == 0:
        return None
    lo, hi = float(values.min()), float(values.max())
    if hi <= 100.0 * lo and not always:
        return None
    return max(lo, hi * LOG_SPAN) / 1.5, hi * 1.5


def plot_job(job: tuple) -> str | None:
    """Draw one overlay (path, series, xlabel, ylabel, title, legend, log, markers); a note
    if it failed. A module-level function, so that worker processes can run it."""
    path, series, xlabel, ylabel, title, legend, log, markers = job
    try:
        fig = _figure(series, xlabel, ylabel, title, legend=legend, log=log, markers=markers)
        with atomic_path(path) as tmp:
            fig.savefig(tmp, dpi=110)
    except Exception as e:
        return f"plot {pathlib.Path(path).name} not written: {type(e).__name__}: {e}"
    return None


def _figure(series, xlabel, ylabel, title, *, legend, log=None, markers=(), top_axis=None,
            view=None):
    """A Figure with a line per (name, x, y) of series and the measured points of markers
    (name, x, y, index of their curve or None, marker style) over them. log: True for a
    log axis whenever there are positive values, None to decide by their span. top_axis:
    (label, x, values) for a second scale along the top, values increasing with x (the
    residence time over a reactor's z). view: the _RunView of a run's plots (its legend
    then stands beside the axes, so that it covers no curve); None for an overlay."""
    import numpy as np
    from matplotlib.figure import Figure

    # a run's legend stands in a column right of the axes; fixed margins: one draw per
    # file (a layout engine draws twice)
    beside = view is not None and legend
    view = view or _RunView()
    fig = Figure(figsize=(8.6, 4.4) if beside else (6.4, 4.4))
    fig.subplots_adjust(left=0.11 if beside else 0.14, right=0.72 if beside else 0.97,
                        bottom=0.12, top=0.84 if top_axis else 0.92)
    ax = fig.subplots()
    if view.xlog:  # log-spaced rows: t = 0 has no place on the axis
        series = [(n, x[x > 0], y[x > 0], *rest) for n, x, y, *rest in series]
        markers = [(n, x[x > 0], y[x > 0], *rest) for n, x, y, *rest in markers]
        ax.set_xscale("log")
    if top_axis:
        label, xs, vs = top_axis
        top = ax.secondary_xaxis("top", functions=(lambda x: _interp_linear(x, xs, vs),
                                                   lambda v: _interp_linear(v, vs, xs)))
        top.set_xlabel(label)
    lines = []
    for name, x, y, *style in series:
        # a one-point series (a stirred reactor alone) is drawn as a marker; a style
        # {"linestyle", "like": index of the curve whose colour it takes} draws it apart
        extra = dict(style[0]) if style else {}
        if "like" in extra:
            extra["color"] = lines[extra.pop("like")].get_color()
        line = ax.plot(x, y, label=name, marker="o" if len(x) == 1 else None, **extra)[0]
        lines.append(line)
        alone = _isolated(y) if len(x) > 1 else ()
        if len(alone):  # a value between two gaps draws no line: a dot shows it
            ax.plot(x[alone], y[alone], linestyle="none", marker=".", color=line.get_color())
        if view.first and len(x) > 1 and np.isfinite(y[0]):
            ax.plot(x[:1], y[:1], linestyle="none", marker="s", markersize=7,
                    color=line.get_color(), clip_on=False)  # whole, at the axis' end
    if view.first:  # one legend entry for the first row of every curve
        ax.plot([], [], linestyle="none", marker="s", markersize=7, color="0.3",
                label=view.first)
    for name, x, y, i, style in markers:
        color = lines[i].get_color() if i is not None else "black"
        ax.plot(x, y, linestyle="none", marker=style, markersize=5, markerfacecolor="none",
                color=color, label=name, clip_on=style != "x")  # imposed points: whole
    for at, name, style in view.marks:
        ax.axvline(at, color="0.35", linestyle=style, linewidth=1.0, label=name)
    limits = None if log is False else _log_scale(
        [y for _, _, y, *_ in series] + [y for _, _, y, *_ in markers], always=bool(log))
    if limits:
        ax.set_yscale("log")
        ax.set_ylim(*limits)
    if view.xlim:
        ax.set_xlim(*view.xlim)
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_title(title, fontsize=10)
    ax.grid(True, which="major", alpha=0.3)
    if legend and beside:
        ax.legend(fontsize=8, loc="upper left", bbox_to_anchor=(1.02, 1.0), borderaxespad=0.0)
    elif legend:
        ax.legend(fontsize=8)
    return fig


def _isolated(y):
    """Indices of the finite values of y whose neighbours are both missing (NaN or
    beyond the ends): a line through such a value has no length."""
    import numpy as np

    ok = np.isfinite(np.asarray(y, dtype=float))
    before = np.concatenate([[False], ok[:-1]])
    after = np.concatenate([ok[1:], [False]])
    return np.nonzero(ok & ~before & ~after)[0]


# ---- summary ------------------------------------------------------------------------------

def _fmt(value: Any) -> str:
    if isinstance(value, float):
        return f"{value:.4g}" if math.isfinite(value) else str(value)
    if value is None:
        return "n/a"
    return str(value)


def summary_text(result: RunResult, notes: Sequence[str] = (), *,
                 metrics: Sequence[Mapping] = ()) -> str:
    """summary.txt: how the run ended, then every value of result.summary() (units in
    the names), the agreement with measured data (rows of metrics.csv), then notes."""
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
    elif result.suspect:
        lines.append(f"SUSPECT: {result.message.removeprefix(result.status + ': ')}")
        lines.append("")
    width = max(len(k) for k in s)
    for k, v in s.items():
        lines.append(f"{k:<{width}}  {_fmt(v)}")
    lines.append(f"{'rows in profiles.csv':<{width}}  {rows}")
    if result.extra.get("coupling") == "two-way":
        ratio = result.extra.get("max soot mass ratio [kg/kg]")
        lines += ["", f"coupling: {HELD}" + (f" (the soot reaches {ratio:.3g} kg per kg of gas "
                                              f"at most)" if ratio is not None else ""),
                  "  the one-way values (the soot carried through Cantera's gas on the same "
                  "grid) are the 'one-way' columns of profiles.csv and the dashed curves"]
    checked = checks.summary_lines(result)
    if checked:
        lines += [""] + checked + ["  (the checks are also in metrics.csv)"]
    if metrics:
        lines += ["", "measured data: computed/measured, the computed profile interpolated to "
                  "the measured positions (metrics.csv)"]
        lines += [f"  {_metric_line(row)}" for row in metrics]
    if notes:
        lines.append("")
        lines += [f"note: {n}" for n in notes]
    return "\n".join(lines) + "\n"


def _metric_line(row: Mapping) -> str:
    """One row of metrics.csv as a sentence."""
    worst = next(k for k in row if k.startswith("worst point at "))
    position = worst[len("worst point at "):]
    unit = position.rsplit(" [", 1)
    text = (f"{row['data']}, {row['quantity']}: {row['points in range']} points in the "
            f"computed range ({row['points outside range']} outside, "
            f"{row['points not positive']} not positive)")
    gm = row["geometric-mean ratio computed/measured [-]"]
    if math.isfinite(gm):
        text += (f"; geometric-mean ratio {gm:.3g}, largest factor "
                 f"{row['largest factor [-]']:.3g} at {unit[0]} = {row[worst]:.4g} "
                 f"{unit[1].rstrip(']') if len(unit) > 1 else ''}").rstrip()
    else:
        text += "; nothing to compare"
    return text


# how summary_lines names a run kind's position, and its unit
_PEAK_WORDS = {"flame": ("height", "m"), "counterflow": ("position", "m"),
               "batch": ("t", "s"), "psr": ("residence time", "s")}


def summary_lines(result: RunResult) -> list:
    """Three to five short lines for the terminal."""
    s = result.summary()
    pos = result.position_column()
    where, unit = _PEAK_WORDS.get(result.case.kind, ("z", "m"))
    lines = [f"{result.case.name}: {result.status} in {result.run_time:.3g} s"
             + (f" ({result.message})" if result.message else "")]
    fv = s.get(f"final {FV}")
    if fv is not None:
        lines.append(f"  final soot volume fraction {fv:.3g} (peak {s.get(f'peak {FV}', fv):.3g})")
    dp, dm = s.get(f"final {D_P}"), s.get(f"final {D_M}")
    if dp is not None and dm is not None:
        lines.append(f"  final diameters: primary {dp:.3g} nm, mobility {dm:.3g} nm")
    nd = s.get(f"final {NUMBER}")
    at = s.get(f"soot volume fraction peak at {pos}")
    if at is not None:  # the kinds whose summary gives peaks (a counterflow flame)
        plane = s.get("stagnation plane [m]")
        lines.append(f"  peak soot volume fraction {s[f'peak {FV}']:.3g} at {where} = {at:.3g} "
                     f"{unit}" + (f" (stagnation plane {plane:.3g} {unit})" if plane else ""))
        dp = s.get("primary diameter at the soot peak [nm]")
        dm = s.get("mobility diameter at the soot peak [nm]")
        if dp is not None and dm is not None:
            lines.append(f"  diameters at the soot peak: primary {dp:.3g} nm, mobility "
                         f"{dm:.3g} nm")
        nd = s.get(f"peak {NUMBER}")
    peak = s.get(f"inception peak at {pos}")
    parts = []
    if nd is not None:
        parts.append(f"{'peak ' if at is not None else ''}number density {nd:.3g} 1/m3")
    if peak is not None:
        parts.append(f"inception peaks at {where} = {peak:.3g} {unit}")
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
            if res.checks:
                row["checks failed"] = ", ".join(c["name"] for c in res.checks
                                                 if not c["passed"]) or "none"
            if res.profiles is not None and len(res.profiles):
                t = res.profiles.copy()
                for i, (k, v) in enumerate(params.items()):
                    t.insert(i, k, v if not isinstance(v, (list, tuple)) else str(v))
                tables.append(t)
        rows.append(row)
    write_csv(pd.DataFrame(rows), folder / "sweep_summary.csv")
    if tables:
        write_csv(pd.concat(tables, ignore_index=True), folder / "all_runs.csv")
    done = [(p, r) for p, r, *_ in items if r is not None and r.profiles is not None
            and len(r.profiles)]
    if plots and done and all(r.case.output.plots for _, r in done):
        notes = plot_sweep(done, folder, name=name, mapper=mapper)
        if notes:
            write_text(folder / "plot_notes.txt", "\n".join(notes) + "\n")
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
    xf, xlabel = _x_axis(xcol)
    data, notes = case_data(first.case)  # the base case's data, drawn on every overlay
    masked = [(p, r, _masked(r.profiles)) for p, r in done]
    jobs = []
    for stem, (what, col) in quantities.items():
        series = [(params_label(p), r.profiles[r.position_column()].to_numpy(dtype=float) * xf,
                   m[col] * _y_axis(col)[0])
                  for p, r, m in masked if col in m and r.position_column() in r.profiles]
        if not series:
            continue
        markers = [(name, x, y, None, style)
                   for name, x, y, _, style in _markers(data, [col], xf, several=False)]
        if markers and not legend:  # too many cases to name: the legend names the data only
            series = [("_" + n, x, y) for n, x, y in series]
        title = f"{name}: {what}, {len(series)} cases" + ("" if legend else " (legend omitted)")
        jobs.append((str(folder / f"{stem}.png"), series, xlabel, _y_axis(col)[1], title,
                     legend or bool(markers), _log_axis(col), markers))
    notes += [n for n in (mapper or map)(plot_job, jobs) if n]
    return notes
