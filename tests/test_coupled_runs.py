"""Flames run two-way (species and soot solved together) from case files: the default
burner and counterflow cases on the session's Cantera flames, what the coupling changes
against the one-way run of the same flame (pyrene taken by the soot, Cantera's own
species for the one-way values), the balances of gas and soot, the summary, metrics and
plots, and what a coupled solve that does not converge or stops is reported as."""
import numpy as np
import pandas as pd
import pytest

from conftest import require_abf
from fumivex2 import results as R
from fumivex2.cases import CaseError, default_case, load_case, with_overrides

# the coupled grid refined more coarsely than the default (0.025/0.05): seconds per run
FAST = {"soot_solver.coupled_slope": 0.1, "soot_solver.coupled_curve": 0.2}


def _case_file(tmp_path, kind, text=""):
    path = tmp_path / f"{kind}.toml"
    path.write_text(f'kind = "{kind}"\n' + text)
    return load_case(path)


def _using(monkeypatch, module, name, solved):
    """Make the run take the session's Cantera flame instead of solving its own."""
    monkeypatch.setattr(module, name, lambda gas, case, *a, **k: (solved[1], "fresh"))


@pytest.fixture(scope="module")
def burner_runs(burner_flame, tmp_path_factory):
    """The default burner case from a case file, two-way (coupling not given: the default)
    and one-way, on the session's flame (the same inlet and burner)."""
    require_abf()
    from fumivex2 import flame as F
    mp = pytest.MonkeyPatch()
    _using(mp, F, "burner_flame", burner_flame)
    try:
        tmp = tmp_path_factory.mktemp("burner")
        fast = "".join(f"{k.split('.')[1]} = {v}\n" for k, v in FAST.items())
        two = F.run_flame(_case_file(tmp, "flame", f"[soot_solver]\n{fast}"))
        one = F.run_flame(_case_file(tmp, "flame", '[soot_solver]\ncoupling = "one-way"\n'
                                     'points = 80\n'))
    finally:
        mp.undo()
    return two, one


@pytest.fixture(scope="module")
def counterflow_run(counterflow_flame, tmp_path_factory):
    require_abf()
    from fumivex2 import counterflow as CF
    mp = pytest.MonkeyPatch()
    _using(mp, CF, "counterflow_flame", counterflow_flame)
    try:
        fast = "".join(f"{k.split('.')[1]} = {v}\n" for k, v in FAST.items())
        return CF.run_counterflow(_case_file(tmp_path_factory.mktemp("cf"), "counterflow",
                                             f"[soot_solver]\n{fast}"))
    finally:
        mp.undo()


def _checks(result):
    return {c["name"]: c for c in result.checks}


def test_default_flames_run_two_way_and_converge(burner_runs, counterflow_run):
    """Both default cases are two-way without saying so; each is converged with its
    coupled residual and gas + soot balances checked, and no one-way check applies."""
    for result in (burner_runs[0], counterflow_run):
        assert result.extra["coupling"] == "two-way"
        assert result.status == R.CONVERGED, result.message
        checks = _checks(result)
        assert checks["coupled residual"]["passed"]
        assert checks["coupled residual"]["value"] < result.case.soot_solver.coupled_tolerance
        for name in ("C balance, gas + soot", "O balance, gas + soot", "mass balance, gas + soot"):
            assert checks[name]["passed"], checks[name]
        assert not any(c["kind"] == "one-way" for c in result.checks)
        # the profiles are on the coupled grid: Cantera's, refined for the soot
        assert len(result.profiles) == result.extra["coupled grids"][-1]
        assert result.extra["coupled grids"][0] == result.extra["flame points"]


def test_burner_carbon_balance_by_hand(burner_runs, burner_flame):
    """Carbon through the two-way burner flame from Cantera's element data: what the
    burner feeds (its mass flux times the inlet's carbon) leaves with the coupled gas and
    the soot at the last point, to the grid's first-order error (the check's limit) and to
    the soot's mass per gas mass (left out of continuity)."""
    result = burner_runs[0]
    gas, flame = burner_flame
    p = result.profiles
    gas.TPY = flame.burner.T, flame.P, flame.burner.Y
    mdot = float(flame.burner.mdot)
    inflow = mdot * gas.elemental_mass_fraction("C") / gas.atomic_weight("C") * 1000.0
    last = p.iloc[-1]
    Y = result.extra["mass_fractions"].iloc[-1]
    gas.TPY = last[R.T], flame.P, [Y[f"Y_{s} [-]"] for s in gas.species_names]
    carbon_out = gas.elemental_mass_fraction("C") / gas.atomic_weight("C") * 1000.0
    rho_u = last[R.DENSITY] * last[R.VELOCITY]
    assert rho_u == pytest.approx(mdot, rel=1e-6)    # Cantera's flow, held (to its tolerance)
    out = rho_u * (carbon_out + last[R.C_TOT])
    assert out == pytest.approx(inflow, rel=0.02)
    check = _checks(result)["C balance, gas + soot"]["value"]
    assert abs(check) < 0.02


def test_summary_gives_the_coupling(burner_runs, tmp_path):
    from fumivex2.output import write_run
    result = burner_runs[0]
    folder = write_run(result, tmp_path / "run", plots=False)
    text = (folder / "summary.txt").read_text()
    assert text.index("two-way") < text.index("coupled / one-way")
    for line in ("coupled / one-way, peak soot volume fraction [-]",
                 "coupled / one-way, C2H2 at the soot peak [-]",
                 "coupled / one-way, A4 at the soot peak [-]",
                 "largest soot mass per gas mass [kg/kg]",
                 "no energy equation, no soot radiation"):
        assert line in text
    assert "Newton iterations" in text and "Jacobians" in text
    metrics = pd.read_csv(folder / "metrics.csv")
    figures = metrics[metrics["data"] == "(coupling)"].set_index("quantity")["value"]
    s = result.summary()
    # the ratio against the peaks of the two columns written beside each other
    p = result.profiles
    ratio = np.nanmax(p[R.FV]) / np.nanmax(p["one-way " + R.FV])
    assert figures["coupled / one-way, peak soot volume fraction [-]"] == pytest.approx(ratio)
    assert s["coupled / one-way, peak soot volume fraction [-]"] == pytest.approx(ratio)


def test_soot_takes_pyrene_from_the_coupled_gas(burner_runs, burner_flame):
    """Where the soot grows, the coupled pyrene is below the one-way run's (Cantera's,
    which the soot does not touch), and the one-way values written beside the coupled
    ones are Cantera's species on the coupled grid."""
    two, one = burner_runs
    gas, flame = burner_flame
    p, q = two.profiles, one.profiles
    pos = R.HEIGHT
    z = p[pos].to_numpy()
    a4 = gas.species_index("A4")
    # at Cantera's own points (the refinement adds others between them)
    at = np.isin(z, flame.grid)
    assert at.sum() == len(flame.grid)
    assert np.allclose(p["one-way X_A4 [-]"][at], flame.X[a4], rtol=1e-9, atol=1e-20)
    growing = p[R.C_TOT].to_numpy() > 1e-3 * np.nanmax(p[R.C_TOT])
    coupled = p[R.species_column("A4")].to_numpy()[growing]
    one_way = np.interp(z[growing], q[pos], q[R.species_column("A4")])
    assert np.all(coupled < one_way)
    assert coupled[-1] < 0.5 * one_way[-1]
    # and the one-way run's soot stands above the coupled soot at the end
    assert q[R.FV].iloc[-1] > 2.0 * p[R.FV].iloc[-1]


def test_one_way_case_keeps_cantera_species(burner_runs, burner_flame):
    """A one-way run is today's: its species are Cantera's, interpolated onto the soot
    grid, and the one-way checks apply."""
    one = burner_runs[1]
    gas, flame = burner_flame
    p = one.profiles
    assert one.extra["coupling"] == "one-way" and len(p) == 80
    for s in ("C2H2", "A4", "H2"):
        expected = np.interp(p[R.HEIGHT], flame.grid, flame.X[gas.species_index(s)])
        assert np.array_equal(p[R.species_column(s)].to_numpy(), expected)
    assert "soot uptake of A4" in _checks(one)
    assert not any(c.startswith("one-way") for c in p.columns)


def test_counterflow_summary_and_plot_mark_what_the_soot_changed(counterflow_run, tmp_path):
    from fumivex2.output import run_figures, write_run
    result = counterflow_run
    s = result.summary()
    assert s["coupling"].startswith("two-way")
    # (on this coarse Cantera grid the one-way species, Cantera's interpolated, differ from
    # species solved on the refined grid by more than the soot changes: no bound at 1)
    assert 0.5 < s["coupled / one-way, peak soot volume fraction [-]"] < 2.0
    figures, notes = run_figures(result)
    assert not notes
    dashed = {line.get_label(): line for line in figures["species"].axes[0].get_lines()
              if line.get_linestyle() == "--"}
    assert {"C2H2, one-way", "A4, one-way"} <= set(dashed)
    solid = {line.get_label(): line for line in figures["species"].axes[0].get_lines()}
    assert dashed["A4, one-way"].get_color() == solid["A4"].get_color()
    soot = {line.get_label() for line in figures["soot_volume_fraction"].axes[0].get_lines()}
    assert {"coupled", "one-way"} <= soot


@pytest.mark.parametrize("kinds, values, words", [
    (("flame", "counterflow"), {"soot_solver.coupling": "bogus"}, "'two-way', 'one-way'"),
    (("flame", "counterflow"), {"soot_solver.coupling": "two-way",
                                "flame.transport": "multicomponent"}, "mixture-averaged"),
    (("flame", "counterflow"), {"soot_solver.coupled_tolerance": 2.0}, "below 1"),
    (("flame", "counterflow"), {"soot_solver.coupled_slope": -0.1}, "positive"),
    (("flame",), {"soot_solver.outlet": "inlet"}, "applies to one-way runs"),
])
def test_bad_coupling_values_are_case_errors(kinds, values, words):
    for kind in kinds:
        with pytest.raises(CaseError, match=words) as err:
            with_overrides(default_case(kind), values)
        assert type(err.value) is CaseError
    # the same values one-way, or without soot, are not refused for the coupling
    if "coupling" not in str(values) and "coupled" not in str(values):
        for kind in kinds:
            with_overrides(default_case(kind), {**values, "soot_solver.coupling": "one-way"})


def test_coupling_is_part_of_the_case_id_and_printed():
    from fumivex2.cases import case_to_toml
    from fumivex2.sweep import case_id
    case = default_case("flame")
    one = with_overrides(case, {"soot_solver.coupling": "one-way"})
    assert case_id(case) != case_id(one)
    assert 'coupling = "two-way"' in case_to_toml(case)


def test_coupled_solve_short_of_its_tolerance_is_not_converged(burner_flame, monkeypatch):
    """A budget too small for the coupled solve: the state reached is written with status
    "not converged" (exit status 3), never converged."""
    from fumivex2 import flame as F
    _using(monkeypatch, F, "burner_flame", burner_flame)
    result = F.run_flame(with_overrides(default_case("flame"), {
        "soot_solver.max_iterations": 1, "soot_solver.max_steps": 1,
        "soot_solver.coupled_tolerance": 1e-14, **FAST}))
    assert result.status == R.NOT_CONVERGED_WORD
    assert R.exit_status(result.status) == 3
    assert "not converged" in result.message and len(result.profiles) > 0
    assert not _checks(result)["coupled residual"]["passed"]


def test_coupled_solve_that_stops_falls_back_to_one_way_labelled(burner_flame, monkeypatch,
                                                                 tmp_path):
    from fumivex2 import coupled
    from fumivex2 import flame as F
    from fumivex2.output import write_run
    _using(monkeypatch, F, "burner_flame", burner_flame)

    def stops(*args, **kwargs):
        raise ArithmeticError("the soot model stopped")

    monkeypatch.setattr(coupled, "solve_coupled", stops)
    result = F.run_flame(with_overrides(default_case("flame"), {"soot_solver.points": 40}))
    assert result.status == R.FAILED and result.extra["coupling"] == "one-way (fallback)"
    folder = write_run(result, tmp_path / "run", plots=False)
    text = (folder / "summary.txt").read_text()
    assert text.startswith("RUN FAILED: the coupled solve stopped: ArithmeticError")
    assert "ONE-WAY" in text.splitlines()[0]
    assert "ONE-WAY" in result.summary()["coupling"]
    from fumivex2.checks import status_tag
    assert "ONE-WAY" in status_tag(result)
