"""Measured data: reading data files into the units of profiles.csv, the agreement figures,
markers and plotted units in the figures, metrics.csv and summary.txt, [[data]] in case
files and --data on the command line; every bad data file gives one CaseError line."""
import dataclasses
import math
import pathlib

import numpy as np
import pytest

from fumivex2 import results as R
from fumivex2.cases import CaseError, DataSpec, default_case, load_case, with_overrides
from fumivex2.measured import agreement, load_data, read_data
from fumivex2.output import C_TOT_FLOOR, run_figures, write_run, write_sweep

pd = pytest.importorskip("pandas")
pytest.importorskip("matplotlib")
from test_cli import run, standins  # noqa: E402,F401
from test_sweep import standin_run  # noqa: E402

HAB = R.HEIGHT
EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples" / "measured"


def write(tmp_path, text, name="data.csv"):
    path = tmp_path / name
    path.write_text(text)
    return path


def test_units_and_quantities_are_converted_to_the_profiles_units(tmp_path):
    path = write(tmp_path, "# measured by someone\n\n"
                 "height above burner [cm], soot volume fraction [ppm],primary diameter [m],"
                 "number density [cm^-3],Mobility diameter [nm],T [K],X_C2H2 [ppm]\n"
                 "0.5,3,2e-8,2e6,10,1800,150\n"
                 "1.5,,,,,1900,\n"
                 "2.0,4.5,3e-8,1e6,,nan,10\n")
    d = read_data(path, HAB)
    assert d.label == "data" and d.position == HAB
    np.testing.assert_allclose(d.x, [0.005, 0.015, 0.02], rtol=1e-15)
    expected = {R.FV: [3e-6, np.nan, 4.5e-6], R.D_P: [20.0, np.nan, 30.0],
                R.NUMBER: [2e12, np.nan, 1e12], R.D_M: [10.0, np.nan, np.nan],
                R.T: [1800.0, 1900.0, np.nan], R.species_column("C2H2"): [1.5e-4, np.nan, 1e-5]}
    assert list(d.columns) == list(expected)
    for column, values in expected.items():
        np.testing.assert_allclose(d.columns[column], values, rtol=1e-15, err_msg=column)
    # the position of each run kind, and a label
    other = write(tmp_path, "z [mm],soot volume fraction [ppb]\n7,2\n", "reactor.csv")
    d = read_data(other, R.Z, "Jones")
    assert d.label == "Jones" and d.x.tolist() == [0.007]
    assert d.columns[R.FV].tolist() == pytest.approx([2e-9], rel=1e-15)
    d = read_data(write(tmp_path, "position [m],T [K]\n0.001,300\n", "cf.csv"), "position [m]")
    assert d.x.tolist() == [0.001] and d.columns[R.T].tolist() == [300.0]


@pytest.mark.parametrize("position, header, factor", [
    (R.TIME, "time [us]", 1e-6), (R.TIME, "time [\u00b5s]", 1e-6), (R.TIME, "time [ms]", 1e-3),
    (R.RESIDENCE_TIME, "residence time [us]", 1e-6), (HAB, "height above burner [cm]", 1e-2)])
@pytest.mark.parametrize("sep", [",", ";", "\t"])
def test_position_units_and_separators(tmp_path, position, header, factor, sep):
    # a spreadsheet in a decimal-comma locale separates cells with semicolons or tabs
    d = read_data(write(tmp_path, sep.join([header, "T [K]"]) + "\n"
                        + sep.join(["2.5", "1500"]) + "\n" + sep.join(["40", "1600"]) + "\n"),
                  position)
    assert d.x.tolist() == [2.5 * factor, 40 * factor]
    assert d.columns[R.T].tolist() == [1500.0, 1600.0]
    if sep == ";":
        with pytest.raises(CaseError, match=r"line 2, column 'T \[K\]': '1500,5' is not a "
                                            r"number \(write a decimal point, not a comma\)$"):
            read_data(write(tmp_path, f"{header};T [K]\n2;1500,5\n"), position)


BAD = [
    ("height above burner [mm],soot volume fraction\n1,2\n", "'soot volume fraction' has no unit"),
    ("height above burner [mm],soot fraction [ppm]\n1,2\n",
     "unknown quantity 'soot fraction'; known quantities: height above burner"),
    ("height above burner [mm],soot volume fraction [ppmv]\n1,2\n",
     "unknown unit 'ppmv' for soot volume fraction; use one of -, ppm, ppb"),
    ("height above burner [mm],T [K]\n1,2\n2,hot\n", "line 3, column 'T [K]': 'hot' is not a number"),
    ("height above burner [mm],T [K]\n1,1800\n3,1900\n2,2000\n", "line 4, column 'height above "
     "burner [mm]': positions must increase from row to row (height above burner [mm] 3 then 2)"),
    ("height above burner [mm],T [K]\n1,1800\n1,1900\n", "positions must increase"),
    ("height above burner [mm],T [K]\n1,1800\n,1900\n", "line 3, column 'height above burner "
     "[mm]': the position is missing"),
    ("", "is empty"),
    ("height above burner [mm],T [K]\n", "has a header but no data rows"),
    ("T [K],X_OH [-]\n1800,1e-4\n", "has no position column: name it 'height above burner [m]'"),
    ("z [m],T [K]\n0.1,1800\n", "'z [m]' is the position of another kind of run"),
    ("height above burner [mm],T [K],T [K]\n1,2,3\n", "column 'T [K]' is given twice"),
    ("height above burner [mm]\n1\n", "has only the position column"),
    ("height above burner [mm],T [K]\n1,2,3\n", "line 2: 3 cells but 2 columns"),
]


@pytest.mark.parametrize("text, message", BAD, ids=[m[:30] for _, m in BAD])
def test_bad_data_files_give_one_clear_line(tmp_path, text, message):
    path = write(tmp_path, text)
    with pytest.raises(CaseError) as e:
        read_data(path, HAB)
    assert type(e.value) is CaseError
    text = str(e.value)
    assert text.startswith(f"data file {str(path)!r}") and "\n" not in text
    assert message in text


def test_agreement_figures_on_known_ratios(tmp_path):
    x = np.linspace(0.0, 0.02, 11)                          # computed profile, m
    computed = 1e-7 + 5e-5 * x                              # linear: interpolation is exact
    xm = np.array([0.001, 0.0047, 0.013, 0.019, 0.025])     # the last one is outside
    exact = 1e-7 + 5e-5 * xm
    d = dataclasses.replace(read_data(write(tmp_path, "height above burner [m],T [K]\n0,1\n"),
                                      HAB), x=xm)
    # computed = 2 x measured everywhere: ratio 2, factor 2; the outside point is not used
    a = agreement(d, x, computed, exact / 2.0)
    assert (a["points in range"], a["points outside range"], a["points not positive"]) == (4, 1, 0)
    assert a["geometric-mean ratio"] == pytest.approx(2.0, rel=1e-12)
    assert a["largest factor"] == pytest.approx(2.0, rel=1e-12)
    # mixed ratios, a zero and a missing measurement
    measured = exact / np.array([0.5, 4.0, np.nan, 1.0, 3.0])
    measured[0] = 0.0
    a = agreement(d, x, computed, measured)
    ratios = np.array([4.0, 1.0])                            # computed/measured of the valid points
    assert (a["points in range"], a["points outside range"], a["points not positive"]) == (3, 1, 1)
    assert a["geometric-mean ratio"] == pytest.approx(math.exp(np.log(ratios).mean()), rel=1e-12)
    assert a["largest factor"] == pytest.approx(4.0, rel=1e-12) and a["worst at"] == 0.0047
    # a measured value far above the computed one counts as a factor too; nothing to compare
    a = agreement(d, x, computed, exact * 10.0)
    assert a["largest factor"] == pytest.approx(10.0, rel=1e-12)
    a = agreement(d, x, np.zeros_like(x), exact)
    assert a["points not positive"] == 4 and math.isnan(a["geometric-mean ratio"])
    a = agreement(d, np.empty(0), np.empty(0), exact)     # a run that wrote no rows
    assert a["points outside range"] == 5 and a["points in range"] == 0
    # points exactly at the ends of the computed range are compared
    ends = dataclasses.replace(d, x=np.array([0.0, 0.02]))
    a = agreement(ends, x, computed, (1e-7 + 5e-5 * ends.x) / 3.0)
    assert (a["points in range"], a["points outside range"]) == (2, 0)
    assert a["geometric-mean ratio"] == pytest.approx(3.0, rel=1e-12)


def test_data_entirely_outside_the_computed_range_is_refused_or_noted(tmp_path):
    from fumivex2.measured import agreement_rows

    def case(kind, text, **overrides):
        path = write(tmp_path, text, f"{kind}.csv")
        return with_overrides(default_case(kind), {"data": [{"file": str(path)}], **overrides})

    # heights in mm under an [m] header, a 3 cm flame: refused before the run, with numbers
    flame = case("flame", "height above burner [m],T [K]\n3,1500\n30,1700\n",
                 **{"flame.width": 0.03})
    with pytest.raises(CaseError) as e:
        load_data(flame)
    assert type(e.value) is CaseError
    assert str(e.value).endswith(
        "all 2 positions, 3 to 30 m, lie outside the flame's domain (flame.width), 0 to 0.03 m: "
        "is the unit of the position column ('height above burner [m]') right? (read in [mm], "
        "all would lie inside)")
    with pytest.raises(CaseError, match=r"4 to 50 ms, lie outside the times computed "
                                        r"\(batch.end_time\), 0 to 3 ms.*read in \[us\], all "
                                        r"would lie inside\)$"):
        load_data(case("batch", "time [ms],T [K]\n4,1700\n50,1700\n"))
    # the ends of the domain are inside; a reactor run to a residence time fixes no range
    assert len(load_data(case("flame", "height above burner [mm],T [K]\n20,1500\n30,1500\n"))) == 1
    reactor = case("pfr", "z [m],T [K]\n2,1500\n3,1500\n", **{"reactor.residence_time": 0.01})
    data = load_data(reactor)
    # after the run: a note with the computed range, and no figures
    result = standin_run(reactor)
    rows, notes = agreement_rows(result, data)
    z = result.profiles[R.Z]
    assert notes == [f"data 'pfr': nothing compared: all 2 positions, 2 to 3 m, lie outside the "
                     f"computed range, 0 to {z.iloc[-1]:g} m: is the unit of the position column "
                     f"('z [m]') right? (read in [cm] or [mm], all would lie inside)"]
    assert rows[0]["points in range"] == 0


def flame_with_data(tmp_path, **overrides):
    """A stand-in flame run (height 0..15 mm) with a data file of fv, mobility diameter and
    C2H2 (one point above the computed range) and C_tot at its floor in the first rows."""
    path = write(tmp_path, "height above burner [mm],soot volume fraction [ppm],"
                 "mobility diameter [nm],X_C2H2 [-]\n"
                 "3,0.05,,0.03\n6,0.1,12,\n12,0.2,30,0.01\n20,0.3,50,\n")
    case = with_overrides(default_case("flame"), {"flame.width": 0.015,
                                                  "data": [{"file": str(path),
                                                            "label": "Smith"}], **overrides})
    result = standin_run(case)
    p = result.profiles
    p[R.C_TOT] = np.where(np.arange(len(p)) < 3, C_TOT_FLOOR, 1e-3)
    return result, path


def test_plots_show_data_markers_in_paper_units_and_mask_floors(tmp_path):
    result, path = flame_with_data(tmp_path)
    data = [read_data(path, HAB, "Smith")]
    figures, notes = run_figures(result, data)
    assert notes == []
    x_mm = np.array([3.0, 6.0, 12.0, 20.0])
    expected = {"soot_volume_fraction": ("Smith", x_mm, [0.05, 0.1, 0.2, 0.3]),
                "diameters": ("Smith: mobility diameter [nm]", x_mm[1:], [12.0, 30.0, 50.0]),
                "species": ("Smith: C2H2", x_mm[[0, 2]], [0.03, 0.01])}
    for stem, fig in figures.items():
        (ax,) = fig.axes
        assert ax.get_xlabel() == "height above burner [mm]"
        marks = [ln for ln in ax.get_lines() if ln.get_marker() not in ("None", None, "")]
        if stem not in expected:
            assert marks == [], stem
            continue
        (mark,) = marks
        label, xs, ys = expected[stem]
        assert mark.get_label() == label and mark.get_linestyle() == "None"
        np.testing.assert_allclose(mark.get_xdata(), xs, rtol=1e-12)
        np.testing.assert_allclose(mark.get_ydata(), ys, rtol=1e-12)
        assert label in [t.get_text() for t in ax.get_legend().get_texts()]
    ax = figures["soot_volume_fraction"].axes[0]
    assert ax.get_ylabel() == "soot volume fraction [ppm]" and ax.get_yscale() == "log"
    assert figures["number_density"].axes[0].get_yscale() == "log"
    assert figures["diameters"].axes[0].get_yscale() == "linear"
    # the curves: x in mm, fv in ppm, nothing drawn at the soot floors (first 3 rows)
    p = result.profiles
    curve = ax.get_lines()[0]
    np.testing.assert_allclose(curve.get_xdata(), p[HAB] * 1e3, rtol=1e-12)
    np.testing.assert_allclose(curve.get_ydata()[3:], p[R.FV][3:] * 1e6, rtol=1e-12)
    for stem in ("soot_volume_fraction", "diameters", "number_density"):
        y = figures[stem].axes[0].get_lines()[0].get_ydata()
        assert np.isnan(y[:3]).all() and np.isfinite(y[3:]).all(), stem
    assert np.isfinite(figures["temperature"].axes[0].get_lines()[0].get_ydata()).all()


def test_metrics_csv_and_summary_and_sweep_overlays(tmp_path):
    result, path = flame_with_data(tmp_path, **{"output.plots": False})
    folder = write_run(result, tmp_path / "run")
    metrics = pd.read_csv(folder / "metrics.csv")
    assert list(metrics["quantity"]) == [R.FV, R.D_M, R.species_column("C2H2")]
    assert set(metrics["data"]) == {"Smith"} and set(metrics["file"]) == {str(path)}
    p = result.profiles
    xm = np.array([0.003, 0.006, 0.012])                   # inside 0..15 mm; 20 mm is outside
    ratio = np.interp(xm, p[HAB], p[R.FV]) / np.array([0.05e-6, 0.1e-6, 0.2e-6])
    row = metrics.iloc[0]
    assert (row["points in range"], row["points outside range"], row["points not positive"]) \
        == (3, 1, 0)
    assert row["geometric-mean ratio computed/measured [-]"] == pytest.approx(
        np.exp(np.log(ratio).mean()), rel=1e-9)
    k = np.argmax(np.abs(np.log(ratio)))
    assert row["largest factor [-]"] == pytest.approx(max(ratio[k], 1 / ratio[k]), rel=1e-9)
    assert row[f"worst point at {HAB}"] == xm[k]
    text = (folder / "summary.txt").read_text()
    assert (f"Smith, {R.FV}: 3 points in the computed range (1 outside, 0 not positive); "
            f"geometric-mean ratio {np.exp(np.log(ratio).mean()):.3g}") in text
    # the same data as markers on a sweep's overlays, in ppm
    jobs = []
    shown = dataclasses.replace(result, case=with_overrides(result.case, {"output.plots": True}))
    items = [({"flame.mass_flux": m}, shown) for m in (0.08, 0.09)]
    write_sweep(items, tmp_path / "sweep",
                mapper=lambda fn, js: (jobs.extend(js), map(fn, jobs))[1])
    (fv_job,) = [j for j in jobs if j[0].endswith("soot_volume_fraction.png")]
    (marks,) = fv_job[7]
    assert marks[0] == "Smith" and fv_job[6] is True
    np.testing.assert_allclose(marks[2], [0.05, 0.1, 0.2, 0.3], rtol=1e-12)
    # a data file gone by the time the outputs are written: a note, the outputs still there
    path.unlink()
    folder = write_run(result, tmp_path / "gone")
    assert "note: measured data not used: data file" in (folder / "summary.txt").read_text()
    assert not (folder / "metrics.csv").exists() and (folder / "profiles.csv").exists()


def test_data_in_case_files_and_on_the_command_line(standins, capsys):
    sub = standins / "cases"
    sub.mkdir()
    write(sub, "height above burner [mm],T [K]\n1,1500\n", "T.csv")
    (sub / "f.toml").write_text('kind = "flame"\n[[data]]\nfile = "T.csv"\n'
                                '[output]\nplots = false\n')
    case = load_case(sub / "f.toml")
    assert case.data == (DataSpec(file=str(sub / "T.csv"), label=""),)  # from the case's folder
    shipped = load_data(load_case(EXAMPLES / "flame.toml"))     # the docs' worked example
    assert [len(d.x) for d in shipped] == [9] and shipped[0].label == "illustrative data"
    rc, out, err = run(capsys, "flame", str(sub / "f.toml"), "--out", "res",
                       "--data", "cases/T.csv:Label: with colon")
    assert rc == 0, err
    metrics = pd.read_csv(standins / "res" / "metrics.csv")
    assert list(metrics["data"]) == ["T", "Label: with colon"]
    assert load_case(standins / "res" / "case.toml").data == case.data + (
        DataSpec(file=str(sub / "T.csv"), label="Label: with colon"),)
    # a bad data file stops the command before the run, with one line and status 2
    write(standins, "height above burner [mm],T [C]\n1,1500\n", "bad.csv")
    rc, out, err = run(capsys, "flame", "--data", "bad.csv", "--out", "never")
    assert rc == 2 and err.count("\n") == 1 and "unknown unit 'C' for T" in err
    assert not (standins / "never").exists()
    rc, out, err = run(capsys, "pfr", "--data", "missing.csv")
    assert rc == 2 and "missing.csv' does not exist" in err
