"""The reactor-network kinds, batch and psr: their shipped defaults shortened, checked
against balances computed here from the rows (carbon in a closed reactor,
enthalpy where it is adiabatic, the stirred reactor's steady soot balance with a soot
model of its own); every option once; a failing integration that keeps its rows; the
case values refused; a batch sweep against serial runs; both commands end to end."""
import math
import pathlib

import numpy as np
import pytest

from conftest import ABF, check_soot_columns, require_abf

Av = 6.02214076e23


def case(kind, **overrides):
    from fumivex2.cases import default_case, with_overrides
    return with_overrides(default_case(kind), overrides)


def mass_fractions(result, gas):
    return result.extra["mass_fractions"][[f"Y_{s} [-]" for s in gas.species_names]].to_numpy()


def element_per_kg(gas, Y, element):
    """mol of an element per kg of gas in the mass fractions Y (rows)."""
    n = np.array([gas.n_atoms(s, element) for s in gas.species_names])
    return Y @ (1000.0 * n / gas.molecular_weights)


@pytest.fixture(scope="module")
def gas():
    ct = require_abf()
    return ct.Solution(str(ABF))


@pytest.fixture(scope="module")
def batch():
    """The default shock tube cut to 1.5 ms on 25 rows (soot forms from 0.3 ms)."""
    require_abf()
    from fumivex2.batch import run_batch
    calls = []
    result = run_batch(case("batch", **{"batch.end_time": 1.5e-3, "batch.first_time": 2e-5,
                                        "output.stations": 25}),
                       progress=lambda t, total: calls.append((t, total)))
    return result, calls


@pytest.fixture(scope="module")
def psr():
    """The default stirred reactor with 4 cm of its plug-flow section on 9 rows."""
    require_abf()
    from fumivex2.psr import run_psr
    return run_psr(case("psr", **{"psr.pfr_length": 0.04, "output.stations": 9}))


def test_batch_default_conserves_elements_and_reports_its_state(batch, gas):
    from fumivex2 import results as R
    result, calls = batch
    p = result.profiles
    assert result.status == "completed" and result.position_column() == R.TIME
    assert list(p.columns[:4]) == [R.TIME, R.T, R.PRESSURE, R.DENSITY]
    # t = 0, then 24 times log-spaced from 20 us to 1.5 ms
    assert np.allclose(p[R.TIME], np.r_[0.0, np.geomspace(2e-5, 1.5e-3, 24)], rtol=1e-12,
                       atol=0)
    assert calls[-1] == (1.5e-3, 1.5e-3) and len(calls) <= 25
    assert np.all(p[R.T] == 1700.0)                                   # energy off
    assert 1e-11 < p[R.FV].iloc[-1] < 1e-7 and p[R.FV].iloc[0] < 1e-25
    check_soot_columns(p, p[R.DENSITY].to_numpy())

    Y = mass_fractions(result, gas)
    W = gas.molecular_weights
    moles = Y / W
    for name in ("C2H2", "H2", "A4"):
        X = moles[:, gas.species_index(name)] / moles.sum(axis=1)
        assert np.allclose(p[R.species_column(name)], X, rtol=1e-10, atol=1e-30), name
    # ideal gas: p = rho R T / W_mean
    W_mean = 1.0 / moles.sum(axis=1)
    assert np.allclose(p[R.PRESSURE], p[R.DENSITY] * 8314.462618 * p[R.T] / W_mean, rtol=1e-9)
    assert p[R.PRESSURE].iloc[-1] > 1.1 * 5e5          # moles made by pyrolysis, fixed volume
    # closed and of fixed volume: carbon per m3, gas plus soot, is conserved (hydrogen is not
    # by the soot model's construction, see test_element_balance)
    rho = p[R.DENSITY].to_numpy()
    carbon = rho * (element_per_kg(gas, Y, "C") + p[R.C_TOT].to_numpy())
    assert np.abs(carbon / carbon[0] - 1).max() < 1e-8
    assert p[R.C_TOT].iloc[-1] / element_per_kg(gas, Y[-1:], "C")[0] > 1e-4


def test_batch_at_constant_pressure_with_energy_on_linear_times_and_soot_off(gas):
    """Without soot, the adiabatic closed reactor at constant pressure keeps its enthalpy."""
    require_abf()
    from fumivex2 import results as R
    from fumivex2.batch import run_batch
    result = run_batch(case("batch", **{"batch.constant": "pressure", "batch.energy": True,
                                        "batch.spacing": "linear", "batch.end_time": 3e-4,
                                        "output.stations": 7, "soot.enabled": False}))
    p = result.profiles
    assert result.status == "completed" and R.C_TOT not in p and R.FV not in p
    assert np.allclose(p[R.TIME], np.linspace(0.0, 3e-4, 7), rtol=1e-12, atol=0)
    assert np.allclose(p[R.PRESSURE], 5e5, rtol=1e-12, atol=0)
    assert p[R.T].iloc[-1] < 1700.0 - 30.0            # ethylene pyrolysis takes heat
    Y = mass_fractions(result, gas)
    h = []
    for T, Yi in zip(p[R.T], Y):
        gas.TPY = T, 5e5, Yi
        h.append(gas.enthalpy_mass)
    assert np.abs(np.array(h) - h[0]).max() < 1e-7 * gas.cp_mass * 1700.0


def soot_sources(gas, model, T, P, Y, soot):
    """S of the four soot variables (mol/(kg s)) at a gas state, from the given model."""
    gas.TPY = T, P, Y
    model.update_gas(gas.T, gas.P, gas.density, gas.viscosity, gas.mean_molecular_weight, gas.X)
    model.update_solution(np.array(soot, dtype=float))
    return np.array([model.S_N_agg(), model.S_N_pri(), model.S_C_tot(), model.S_H_tot()])


def test_psr_default_is_steady_adiabatic_and_feeds_its_plug_flow(psr, gas):
    from fumivex2 import results as R
    from fumivex2.species import configure_soot_model, set_inlet
    p, c = psr.profiles, psr.case
    assert psr.status == "completed" and psr.position_column() == R.RESIDENCE_TIME
    assert "steady after" in psr.message and psr.extra["stirred reactor time [s]"] >= 0.05
    tau, V = c.psr.residence_time, c.psr.volume
    A = math.pi * c.psr.pfr_diameter ** 2 / 4
    assert p[R.RESIDENCE_TIME].iloc[0] == tau and p[R.Z].iloc[0] == 0.0
    assert np.all(np.diff(p[R.RESIDENCE_TIME]) > 0)
    assert np.allclose(p[R.Z], np.linspace(0.0, 0.04, 9), rtol=0, atol=2e-4)
    assert p[R.Z].iloc[-1] == pytest.approx(0.04, rel=1e-6)
    # the outflow enters the duct at rho V / tau: u = V / (tau A); then rho u A holds
    assert p[R.VELOCITY].iloc[0] == pytest.approx(V / (tau * A), rel=1e-9)
    flux = (p[R.DENSITY] * p[R.VELOCITY]).to_numpy()
    assert np.abs(flux / flux[0] - 1).max() < 1e-4
    # dz/dt = u along the duct (Simpson over pairs of rows against the trapezoids)
    t, z, u = (p[col].to_numpy()[1:] for col in (R.RESIDENCE_TIME, R.Z, R.VELOCITY))
    assert np.allclose(np.diff(z) / np.diff(t), 0.5 * (u[1:] + u[:-1]), rtol=1e-3)
    assert np.all(np.abs(p[R.PRESSURE] - 101325.0) < 1e-3)
    assert 1800.0 < p[R.T].iloc[0] < 2000.0 and p[R.FV].max() > 1e-12
    check_soot_columns(p, p[R.DENSITY].to_numpy())

    Y = mass_fractions(psr, gas)
    # adiabatic: the reactor's and the duct's gas keep the inlet's enthalpy (soot holds
    # about 1e-5 of the mass)
    set_inlet(gas, c.inlet)
    h_in = gas.enthalpy_mass
    for T, Yi in zip(p[R.T], Y):
        gas.TPY = T, 101325.0, Yi
        assert gas.enthalpy_mass == pytest.approx(h_in, abs=1e-4 * gas.cp_mass * T)
    # steady soot balance of the stirred reactor: the feed brings its contents, gas and
    # soot, m (1 + sigma) over tau, and as much leaves, of which m / tau is gas carrying X:
    # m S = m X / tau
    model = configure_soot_model(gas)
    soot = p[[R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT]].to_numpy()
    S = [soot_sources(gas, model, p[R.T].iloc[i], p[R.PRESSURE].iloc[i], Y[i], soot[i])
         for i in range(4)]
    np.testing.assert_allclose(S[0] * tau, soot[0], rtol=1e-5)
    # the duct's parcel carries that soot on: row to row, X grows by its source
    # (trapezoids over 0.4 ms, in which X grows by 2-5 %)
    for i in (1, 2, 3):
        dt = p[R.RESIDENCE_TIME].iloc[i] - p[R.RESIDENCE_TIME].iloc[i - 1]
        np.testing.assert_allclose(soot[i - 1] + dt * (S[i - 1] + S[i]) / 2, soot[i], rtol=5e-3)


def test_psr_held_at_the_inlet_temperature_isothermal_duct_and_budget_used():
    require_abf()
    from fumivex2 import results as R
    from fumivex2.psr import run_psr
    c = case("psr", **{"psr.energy": False, "inlet.temperature": 1600.0,
                       "psr.residence_time": 2e-3, "psr.volume": 1e-4,
                       "psr.max_residence_times": 2, "psr.pfr_thermal": "isothermal",
                       "psr.pfr_length": 0.02, "psr.pfr_area": 3e-4, "output.stations": 4})
    result = run_psr(c)
    p = result.profiles
    assert result.status == "not converged" and not result.converged and result.ok
    assert "not steady after 2 residence times (0.004 s)" in result.message
    assert len(p) == 4 and np.all(p[R.T] == 1600.0)
    assert p[R.VELOCITY].iloc[0] == pytest.approx(1e-4 / (2e-3 * 3e-4), rel=1e-9)
    assert p[R.Z].iloc[-1] == pytest.approx(0.02, rel=1e-6)


@pytest.mark.parametrize("phi, tau, steady_within, T_range", [
    (1.4, 1e-2, 12, (2150.0, 2250.0)),   # burning, no soot forms
    (3.0, 1e-4, 40, (299.9, 300.1)),      # blown out
])
def test_psr_without_soot_is_steady_with_its_soot_at_the_floors(phi, tau, steady_within,
                                                               T_range):
    # The soot starts at its floors and washes out as exp(-t/tau) towards its steady value
    # (the sources at the floors times tau, next to nothing); soot below 1000 floors does
    # not count in the steady-state test, so a burning reactor is steady once that is
    # (1 - 1/e) exp(1 - n) / 1000 < 1e-6 of the floors, n = 8 residence times, and the
    # gas with it (an outflow at the floors' sources would drift below them forever).
    require_abf()
    from fumivex2 import results as R
    from fumivex2.psr import run_psr
    result = run_psr(case("psr", **{"inlet.equivalence_ratio": phi, "psr.residence_time": tau,
                                    "psr.pfr_length": 0.0, "output.stations": 3}))
    p = result.profiles
    assert result.status == "completed", result.message
    done = result.extra["stirred reactor time [s]"] / tau
    assert done <= steady_within
    assert T_range[0] < p[R.T].iloc[0] < T_range[1]
    assert ("does not burn at this residence time (blow-out)" in result.message) == (phi == 3.0)
    assert p[R.FV].iloc[0] < 1e-26 and p[R.C_TOT].iloc[0] == pytest.approx(378 / Av, rel=1e-9)


def failing_network(ct, after):
    """A ReactorNet class whose advance raises Cantera's error from its `after`-th call on."""
    class Failing(ct.ReactorNet):
        calls = 0

        def advance(self, t, *args, **kwargs):
            type(self).calls += 1
            if type(self).calls > after:
                raise ct.CanteraError("CVodes error encountered. Error code: -3\n"
                                      "At t = 1e-4, mxstep steps taken before tout.")
            return super().advance(t, *args, **kwargs)
    return Failing


@pytest.mark.parametrize("kind, after, rows, where", [
    ("batch", 5, 6, "integration stopped at t = "),
    ("psr", 4, 1, "the stirred reactor's integration stopped at t = 0.04 s (4 residence times)"),
])
def test_failed_integration_keeps_its_rows(monkeypatch, tmp_path, kind, after, rows, where):
    ct = require_abf()
    from fumivex2.output import write_run
    import pandas as pd
    from fumivex2.sweep import runner_for

    monkeypatch.setattr(ct, "ReactorNet", failing_network(ct, after))
    section = {"psr.pfr_length": 0.02} if kind == "psr" else {}
    result = runner_for(kind)(case(kind, **{"output.stations": 12, **section}))
    assert result.status == "failed"
    assert where in result.message
    assert result.message.endswith("CVodes error encountered. Error code: -3: At t = 1e-4, "
                                   "mxstep steps taken before tout." +
                                   ("" if kind == "batch" else
                                    "; the profiles hold its state after 4 residence times"))
    assert len(result.profiles) == rows == len(result.extra["mass_fractions"])
    write_run(result, tmp_path, plots=False)
    assert len(pd.read_csv(tmp_path / "profiles.csv")) == rows
    assert (tmp_path / "summary.txt").read_text().startswith("RUN FAILED: ")


@pytest.mark.parametrize("key, value, message", [
    ("batch.end_time", 0.0, "batch.end_time must be a positive number"),
    ("batch.first_time", 0.01, "batch.first_time (0.01 s) must be below batch.end_time"),
    ("psr.residence_time", -0.01, "psr.residence_time must be a positive number"),
    ("psr.volume", 0.0, "psr.volume must be a positive number"),
    ("psr.pfr_diameter", 0.0, "psr.pfr_diameter must be a positive number"),
    ("psr.pfr_length", -0.1, "psr.pfr_length must be zero or positive"),
])
def test_bad_reactor_values_are_refused_at_load(tmp_path, key, value, message):
    from fumivex2.cases import CaseError, load_case
    table, name = key.split(".")
    path = tmp_path / "c.toml"
    path.write_text(f'kind = "{table}"\n[{table}]\n{name} = {value!r}\n')
    with pytest.raises(CaseError) as e:
        load_case(path)
    assert type(e.value) is CaseError and message in str(e.value)


def test_batch_sweep_matches_serial_runs(tmp_path):
    require_abf()
    import pandas as pd
    from fumivex2.batch import run_batch
    from fumivex2.sweep import run_sweep
    # plots off: the overlays are the other kinds' code, and the slowest part here
    base = case("batch", **{"batch.end_time": 4e-4, "batch.first_time": 4e-5,
                            "output.stations": 6, "output.plots": False})
    outcome = run_sweep(base, {"inlet.temperature": [1650.0, 1750.0]}, tmp_path, workers=2)
    assert [r.status for r in outcome.records] == ["completed", "completed"]
    hot = outcome.records[1]
    assert hot.case.inlet.temperature == 1750.0
    pd.testing.assert_frame_equal(hot.result.profiles, run_batch(hot.case).profiles, rtol=1e-12)
    summary = pd.read_csv(tmp_path / "sweep_summary.csv")
    assert list(summary["inlet.temperature"]) == [1650.0, 1750.0]
    runs = pd.read_csv(tmp_path / "all_runs.csv")
    assert len(runs) == 12 and set(runs["time [s]"]) == set(hot.result.profiles["time [s]"])


def test_commands_run_both_kinds_with_measured_times(tmp_path, monkeypatch, capsys):
    require_abf()
    import pandas as pd
    from fumivex2 import results as R
    from fumivex2.cases import load_case
    from fumivex2.cli import main
    from fumivex2.output import run_figures
    monkeypatch.chdir(tmp_path)
    (tmp_path / "b.toml").write_text('kind = "batch"\n[batch]\nend_time = 5e-4\n'
                                     'first_time = 5e-5\n[output]\nstations = 8\n')
    # T is held at 1700 K: two points in range at 0.1 and 0.2 ms, one beyond 0.5 ms
    (tmp_path / "T.csv").write_text("time [ms],T [K]\n0.1,1700\n0.2,850\n9.0,1700\n")
    assert main(["batch", "b.toml", "--out", "b", "--data", "T.csv:held"]) == 0
    out = capsys.readouterr().out
    assert "ethylene-shock-tube: completed" in out and "outputs in b" in out
    p = pd.read_csv(tmp_path / "b" / "profiles.csv")
    assert len(p) == 8 and p[R.TIME].iloc[-1] == pytest.approx(5e-4)
    metrics = pd.read_csv(tmp_path / "b" / "metrics.csv").iloc[0]
    assert (metrics["points in range"], metrics["points outside range"]) == (2, 1)
    assert metrics["geometric-mean ratio computed/measured [-]"] == pytest.approx(math.sqrt(2))
    assert metrics["worst point at time [s]"] == pytest.approx(2e-4)
    for stem in ("soot_volume_fraction", "diameters", "temperature", "species"):
        assert (tmp_path / "b" / f"{stem}.png").stat().st_size > 5000, stem
    # a stirred reactor not steady within its budget: results written, exit status 3
    (tmp_path / "s.toml").write_text('kind = "psr"\n[psr]\nmax_residence_times = 1\n'
                                     'residence_time = 0.002\npfr_length = 0.0\n'
                                     '[output]\nplots = false\n')
    assert main(["psr", "s.toml", "--out", "s", "-q"]) == 3
    assert "the run did not converge: the stirred reactor is not steady after 1 residence " \
        "times" in capsys.readouterr().err
    p = pd.read_csv(tmp_path / "s" / "profiles.csv")
    assert len(p) == 1 and p[R.RESIDENCE_TIME].iloc[0] == 0.002
    # its one row is drawn as a marker, at 2 ms
    figures, _ = run_figures(R.RunResult(load_case(tmp_path / "s.toml"), p, "not converged", ""))
    (line,) = figures["temperature"].axes[0].lines
    assert line.get_marker() == "o" and list(line.get_xdata()) == [2.0]
