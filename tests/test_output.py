"""Run outputs: the files of one run and of a sweep, what summary.txt says, failed runs,
the folder names, and the choice of log axes."""
import datetime
import math
import subprocess
import sys

import pathlib

import numpy as np
import pytest

from fumivex2 import results as R
from fumivex2.cases import default_case, load_case, with_overrides
from fumivex2.output import (_log_scale, default_folder, species_columns, summary_lines,
                             write_run, write_sweep)
from fumivex2.results import RunResult

pd = pytest.importorskip("pandas")
pytest.importorskip("matplotlib")
from test_sweep import standin_profiles, standin_run  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n"
RUN_PLOTS = ("soot_volume_fraction", "diameters", "number_density", "temperature", "species")


def pfr_result(**overrides):
    case = with_overrides(default_case("pfr"), {"name": "tiny reactor", "reactor.length": 0.08,
                                                **overrides})
    return standin_run(case)


def test_write_run_writes_tables_case_summary_and_plots(tmp_path):
    result = pfr_result(**{"species.pahs": ["A4"]})
    folder = write_run(result, tmp_path / "run")
    assert folder == tmp_path / "run"
    profiles = pd.read_csv(folder / "profiles.csv")
    assert list(profiles.columns) == list(result.profiles.columns)
    np.testing.assert_allclose(profiles.to_numpy(), result.profiles.to_numpy(), rtol=1e-15)
    assert load_case(folder / "case.toml") == result.case
    for stem in RUN_PLOTS:
        data = (folder / f"{stem}.png").read_bytes()
        assert data.startswith(PNG) and len(data) > 5000, stem
    assert not (folder / "rates.csv").exists()
    text = (folder / "summary.txt").read_text()
    fv = result.profiles[R.FV].iloc[-1]
    assert f"final {R.FV}" in text and f"{fv:.4g}" in text
    # the inception peak of the stand-in is at 0.3 of the length (row 7 of 25 at 0.3 m/...)
    x = result.profiles[R.Z].to_numpy()
    peak = x[np.argmax(np.exp(-((x / 0.08 - 0.3) / 0.1) ** 2))]
    assert f"inception peak at {R.Z}" in text and f"{peak:.4g}" in text
    assert "run time [s]" in text and "RUN FAILED" not in text
    assert "pyplot" not in " ".join(sys.modules)  # figures without pyplot: never a window


def test_flame_outputs_have_rates_and_height(tmp_path):
    case = with_overrides(default_case("flame"), {"flame.width": 0.015, "output.plots": False})
    result = standin_run(case)
    folder = write_run(result, tmp_path)
    rates = pd.read_csv(folder / "rates.csv")
    assert list(rates.columns) == [R.HEIGHT, "C2H2 [kmol/(m3 s)]"]
    assert len(rates) == len(result.profiles)
    lines = summary_lines(result)
    assert 3 <= len(lines) <= 5
    assert lines[0].startswith("ethylene-flame: converged in ")
    assert any("inception peaks at height = " in line for line in lines)


def test_failed_run_keeps_partial_profiles_and_says_so(tmp_path):
    result = pfr_result(**{"inlet.pressure": 99003.0})
    folder = write_run(result, tmp_path)
    assert len(pd.read_csv(folder / "profiles.csv")) == 10
    text = (folder / "summary.txt").read_text()
    assert text.splitlines()[0] == "RUN FAILED: integration failed at z = 0.0375 m"
    assert "rows in profiles.csv" in text and text.rstrip().endswith("10")
    # a run that failed before its first point: no rows, no plots, still a summary and case
    empty = RunResult(result.case, result.profiles.iloc[:0], "failed", "no start")
    folder = write_run(empty, tmp_path / "empty")
    assert (folder / "summary.txt").read_text().startswith("RUN FAILED: no start")
    assert not list(folder.glob("*.png")) and (folder / "case.toml").exists()
    none = RunResult(result.case, None, "failed", "phase not built")
    assert "phase not built" in (write_run(none, tmp_path / "none") / "summary.txt").read_text()


def test_plots_off_and_bad_plot_data(tmp_path):
    result = pfr_result(**{"output.plots": False})
    assert not list(write_run(result, tmp_path / "a").glob("*.png"))
    # all-NaN and all-zero columns still give a table and the other plots
    result = pfr_result()
    result.profiles[R.FV] = np.nan
    result.profiles[R.NUMBER] = 0.0
    folder = write_run(result, tmp_path / "b")
    assert (folder / "profiles.csv").exists() and (folder / "temperature.png").exists()


def test_species_plot_holds_key_species_fuel_and_pahs_and_a_residence_time_axis():
    from fumivex2.output import run_figures
    result = pfr_result(**{"species.pahs": ["C14H10"], "species.aliases": [["OH", "hydroxyl"]]})
    p = result.profiles
    before = species_columns(result)
    assert "X_N2 [-]" in p and "X_N2 [-]" not in before
    p[R.species_column("C2H4")] = 0.05
    p[R.species_column("hydroxyl")] = 1e-5
    p[R.species_column("AR")] = 0.5
    p[R.species_column("C14H10")] = 1e-8
    assert species_columns(result) == before + ["X_C2H4 [-]", "X_hydroxyl [-]", "X_C14H10 [-]"]
    z, t = p[R.Z].to_numpy(), p[R.RESIDENCE_TIME].to_numpy()
    figures, _ = run_figures(result)
    (top,) = figures["species"].axes[0].child_axes
    assert top.get_xlabel() == "residence time [ms]"
    forward, inverse = top._functions
    zm = 0.5 * (z[3] + z[4])
    assert forward(zm) == pytest.approx(1e3 * (t[3] + (t[4] - t[3]) * (zm - z[3]) / (z[4] - z[3])))
    # a tick beyond the last residence time lies beyond the last z (it was put at the
    # last z, over the last tick)
    assert inverse(1e3 * t[-1] * 1.15) > z[-1] * 1.1
    p[R.species_column("C14H10")] = 1e-33  # round-off of an absent species: no line
    lines = run_figures(result)[0]["species"].axes[0].get_lines()
    assert {"C2H4", "hydroxyl"} <= {ln.get_label() for ln in lines} and \
        "C14H10" not in {ln.get_label() for ln in lines}
    p[R.RESIDENCE_TIME] = np.nan           # no residence time: no second axis
    assert not run_figures(result)[0]["species"].axes[0].child_axes


def test_log_axis_when_values_span_decades():
    assert _log_scale([np.array([1000.0, 1700.0])]) is None
    assert _log_scale([np.array([0.0, 0.0])]) is None
    assert _log_scale([np.array([np.nan, -1.0])]) is None
    lo, hi = _log_scale([np.array([0.0, 1e-30, 1e-9]), np.array([2e-6])])
    assert math.isclose(hi, 3e-6) and math.isclose(lo, 2e-14 / 1.5)  # 8 decades below the top
    lo, hi = _log_scale([np.array([1e-3, 1.0])])
    assert math.isclose(lo, 1e-3 / 1.5) and math.isclose(hi, 1.5)


def test_default_folder_is_named_after_the_case_and_never_reused(tmp_path):
    case = with_overrides(default_case("pfr"), {"name": "my case/1",
                                                "output.folder": str(tmp_path / "out")})
    now = datetime.datetime(2031, 2, 3, 4, 5, 6)
    first = default_folder(case, now=now)
    second = default_folder(case, now=now)
    assert first == tmp_path / "out" / "my_case_1-20310203-040506"
    assert second == tmp_path / "out" / "my_case_1-20310203-040506-2"
    assert first.is_dir() and second.is_dir()


def test_write_sweep_overlays_and_tables(tmp_path):
    base = with_overrides(default_case("pfr"), {"reactor.length": 0.1})
    items = []
    for length in (0.06, 0.09):
        for model in ("self_collision", "cross_linking"):
            params = {"reactor.length": length, "soot.growth_model": model}
            items.append((params, standin_run(with_overrides(base, params))))
    items.append(({"reactor.length": 0.12, "soot.growth_model": "self_collision"}, None))
    folder = write_sweep(items, tmp_path)
    all_runs = pd.read_csv(folder / "all_runs.csv")
    assert list(all_runs.columns[:2]) == ["reactor.length", "soot.growth_model"]
    assert list(all_runs.columns[2:]) == list(items[0][1].profiles.columns)
    assert len(all_runs) == 4 * 25
    summary = pd.read_csv(folder / "sweep_summary.csv")
    assert list(summary["status"]) == ["completed"] * 4 + ["error"]
    last_fv = [r.profiles[R.FV].iloc[-1] for _, r in items[:4]]
    np.testing.assert_allclose(summary[f"final {R.FV}"][:4], last_fv, rtol=1e-15)
    for stem in ("soot_volume_fraction", "primary_diameter", "mobility_diameter",
                 "number_density", "temperature", "X_C2H2", "X_A4"):
        assert (folder / f"{stem}.png").read_bytes().startswith(PNG), stem
    assert not (folder / "X_N2.png").exists()
    # the overlays can be drawn by an executor's map (the sweep's idle workers): the same
    # files, every one drawn through it
    drawn = []

    def mapper(fn, jobs):
        jobs = list(jobs)
        drawn.extend(job[0] for job in jobs)
        return map(fn, jobs)

    again = write_sweep(items, tmp_path / "mapped", mapper=mapper)
    assert sorted(p.name for p in again.glob("*.png")) == sorted(p.name for p in folder.glob("*.png"))
    assert sorted(pathlib.Path(d).name for d in drawn) == sorted(p.name for p in folder.glob("*.png"))


def test_import_fumivex2_needs_numpy_only():
    code = ("import sys, fumivex2, fumivex2.cli, fumivex2.sweep, fumivex2.output; "
            "from fumivex2.cases import default_case, with_overrides; "
            "with_overrides(default_case('pfr'), {'inlet.pressure': '2e5'}); "
            "heavy = {'cantera', 'scipy', 'pandas', 'matplotlib', 'tqdm', 'dask', "
            "'distributed', 'sksundae', 'pint'}; print(sorted(heavy & set(sys.modules)))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"


def figure_lines(fig):
    """(label, x data, marker) of every line of a figure's main axes."""
    return [(ln.get_label(), np.asarray(ln.get_xdata(), dtype=float), ln.get_marker())
            for ln in fig.axes[0].get_lines()]


def test_run_plots_share_the_x_range_and_mark_a_counterflow_flame():
    """Every plot of a counterflow run spans the whole domain, also where the soot is at
    its floors (masked) near both inlets; the stagnation plane and the flame are marked on
    each; a value between two masked ones is shown as a dot; the legend stands clear of
    the axes (it covered the H and OH curves of the species plot)."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from fumivex2.output import run_figures

    z = np.linspace(0.0, 0.008, 41)
    soot = np.exp(-((z - 0.003) / 0.0008) ** 2)
    p = pd.DataFrame({R.POSITION: z, R.T: 300.0 + 2200.0 * np.exp(-((z - 0.0044) / 0.0015) ** 2),
                      R.C_TOT: np.where(soot > 1e-3, 1e-2 * soot, 1e-22), R.FV: 1e-8 * soot,
                      R.D_P: 3.0 + soot, R.D_M: np.where(np.arange(41) == 24, 9.0, np.nan),
                      R.species_column("C2H2"): 0.05 * soot + 1e-6,
                      R.species_column("H"): 1e-3 * (1.0 - soot) + 1e-7,
                      R.species_column("OH"): 1e-3 * np.exp(-((z - 0.0045) / 0.0005) ** 2),
                      R.species_column("O2"): 0.35 * z / 0.008})
    # the peak half-way between the points next to the masked ones: masked on both sides
    p.loc[23, R.D_M] = p.loc[25, R.D_M] = np.nan
    result = RunResult(default_case("counterflow"), p, "converged", "",
                       extra={"stagnation plane [m]": 0.003, "flame (peak T) [m]": 0.0044})
    figures, notes = run_figures(result)
    assert notes == [] and set(figures) == set(RUN_PLOTS) - {"number_density"}
    for stem, fig in figures.items():
        ax = fig.axes[0]
        assert ax.get_xlim() == pytest.approx((0.0, 8.0)), stem
        marks = {label: x for label, x, _ in figure_lines(fig) if len(x) == 2 and x[0] == x[1]}
        assert marks == {"stagnation plane, 3 mm": pytest.approx([3.0, 3.0]),
                         "flame (peak T), 4.4 mm": pytest.approx([4.4, 4.4])}, stem
        FigureCanvasAgg(fig).draw()
        legend, box = ax.get_legend().get_window_extent(), ax.get_window_extent()
        assert legend.x0 > box.x1, stem
    dots = [x for _, x, marker in figure_lines(figures["diameters"]) if marker == "."]
    assert len(dots) == 1 and dots[0] == pytest.approx([1e3 * z[24]])


@pytest.mark.parametrize("kind", ["batch-log", "batch-linear", "psr", "flame"])
def test_run_kind_plot_axes_and_points(kind):
    """Batch reactors with log-spaced rows on a log time axis (t = 0 left out), evenly
    spaced ones on a linear axis; a stirred reactor's point told apart from its plug-flow
    section; an imposed temperature profile's points (those in the domain) marked."""
    from fumivex2.output import run_figures

    profile = [[0.0, 0.002, 0.01, 0.05], [400.0, 700.0, 1900.0, 1700.0]]
    x = np.linspace(0.0, 0.03, 31)
    case, col, stem = {
        "batch-log": (with_overrides(default_case("batch"), {"batch.first_time": 2e-5,
                                                             "batch.end_time": 3e-3}),
                      R.TIME, "temperature"),
        "batch-linear": (with_overrides(default_case("batch"), {"batch.spacing": "linear"}),
                         R.TIME, "temperature"),
        "psr": (default_case("psr"), R.RESIDENCE_TIME, "diameters"),
        "flame": (with_overrides(default_case("flame"), {"flame.width": 0.03,
                                                         "flame.temperature_profile": profile}),
                  R.HEIGHT, "temperature")}[kind]
    if kind == "batch-log":
        x = np.concatenate([[0.0], np.geomspace(2e-5, 3e-3, 30)])
    elif kind == "psr":
        x = 0.01 + x / 2
    p = pd.DataFrame({col: x, R.T: np.interp(x, *profile), R.D_P: 30.0 + x, R.D_M: 31.0 + x})
    fig = run_figures(RunResult(case, p, "completed", ""))[0][stem]
    ax, lines = fig.axes[0], figure_lines(fig)
    labels = [label for label, _, _ in lines]
    if kind.startswith("batch"):
        log = kind == "batch-log"
        assert ax.get_xscale() == ("log" if log else "linear")
        assert ax.get_xlim() == pytest.approx((1e3 * x[1] if log else 0.0, 1e3 * x[-1]))
        assert min(lines[0][1]) == (1e3 * x[1] if log else 0.0)
    elif kind == "psr":
        squares = [xs for _, xs, marker in lines if marker == "s" and len(xs)]
        assert squares == [pytest.approx([10.0])] * 2  # one on each curve
        assert "stirred reactor (τ = 10 ms)" in labels
    else:
        (imposed,) = [ln for ln in ax.get_lines() if ln.get_label() == "imposed profile"]
        assert list(imposed.get_xdata()) == pytest.approx([0.0, 2.0, 10.0])  # mm
        assert list(imposed.get_ydata()) == [400.0, 700.0, 1900.0]


def test_summary_without_inception_names_no_place_and_gives_the_inlet():
    result = pfr_result()
    result.profiles[R.INCEPTION] = 0.0
    result.extra["summary"] = {"inlet mole fractions [-]": "N2 0.6, C2H4 0.2, O2 0.2"}
    s = result.summary()
    assert s[f"peak {R.INCEPTION}"] == 0.0 and f"inception peak at {R.Z}" not in s
    assert "inception peaks" not in "\n".join(summary_lines(result))
    keys = list(s)
    assert keys.index("inlet mole fractions [-]") < keys.index(f"final {R.FV}")
