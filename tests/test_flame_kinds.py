"""Flame kinds in the run layer: a low-pressure burner flame with an imposed temperature
profile (the profile at every grid point, the pressure through to the soot solver and the
soot model, the burner given by velocity), the counterflow diffusion flame (streams, soot
entering at the floors through both inlets and gathering at the stagnation plane), flames
that do not burn, and temperature-profile files."""
import numpy as np
import pytest

import fumivex2 as fv
from conftest import ABF, abf_soot_model
from fumivex2 import results as R
from fumivex2.cases import CaseError, default_case, load_case, with_overrides

VARS = ("N_agg", "N_pri", "C_tot", "H_tot")
COARSE = {"flame.ratio": 6.0, "flame.slope": 0.8, "flame.curve": 0.95, "flame.prune": 0.0}
# a measured-like profile of a 5 kPa flame: heights m, T K
PROFILE = ((0.0, 0.002, 0.005, 0.01, 0.03, 0.05), (400.0, 700.0, 1500.0, 1900.0, 1800.0, 1700.0))


class Recorder(list):
    """A progress display that records its stages and reports."""

    def stage(self, what, unit=""):
        self.append(("stage", what, unit))

    def __call__(self, done, total):
        self.append((done, total))


class RecordingModel(fv.CSootModel):
    """Records the pressure of every update_gas call (a Python override: the solver then
    calls the model through Python)."""

    def update_gas(self, T, P, rho, mu, mw, X):
        self.pressures.append(P)
        return super().update_gas(T, P, rho, mu, mw, X)


@pytest.fixture(scope="module")
def low_pressure():
    """(case, gas, flame) of a rich ethylene flame at 5 kPa, 5 cm, the burner given as
    0.5 m/s at the inlet state, the temperature imposed."""
    pytest.importorskip("cantera")
    from fumivex2.flame import solve_burner_flame
    from fumivex2.species import open_mechanism, set_inlet

    case = with_overrides(default_case("flame"), {
        **COARSE, "inlet.pressure": 5000.0, "flame.width": 0.05, "flame.mass_flux": 0.0,
        "flame.velocity": 0.5, "flame.temperature_profile": [list(r) for r in PROFILE],
        "soot_solver.points": 40, "soot_solver.method": "pseudo-time",
        "soot_solver.chunk": 20, "soot_solver.max_steps": 20, "soot_solver.coupling": "one-way"})
    gas = open_mechanism("abf.yaml")
    set_inlet(gas, case.inlet)
    rho_in = 5000.0 * gas.mean_molecular_weight / 1000.0 / (8.31446261815324 * 300.0)
    progress = Recorder()
    flame = solve_burner_flame(gas, case, progress)
    return case, gas, flame, rho_in, progress


def test_imposed_profile_low_pressure_and_velocity(low_pressure):
    from fumivex2.flame import soot_in_flame
    from fumivex2.soot_stage import Boundaries, make_soot_solver

    case, gas, flame, rho_in, progress = low_pressure
    # Cantera's solve reported as a stage: the grid size each time a grid is solved
    assert progress[0] == ("stage", "burner flame (Cantera)", "grid points")
    sizes = [done for done, total in progress[1:]]
    assert all(total is None for _, total in progress[1:]) and len(sizes) >= 2
    assert sizes == sorted(sizes) and sizes[-1] == len(flame.grid)
    # the table at every point of the refined grid, the burner face included
    np.testing.assert_allclose(flame.T, np.interp(flame.grid, *PROFILE), rtol=1e-12)
    assert len(flame.grid) > 10 and flame.P == 5000.0
    assert flame.burner.mdot == pytest.approx(0.5 * rho_in, rel=1e-9)
    # the pressure reaches the solver, the soot model inside it, and the phase
    solver = make_soot_solver(case, gas, flame, abf_soot_model(gas, pahs=("A4",)),
                              Boundaries(0.01))
    assert solver.P == 5000.0
    model = abf_soot_model(gas, pahs=("A4",), cls=RecordingModel)
    model.pressures = []
    r = soot_in_flame(case, gas, flame, model=model)
    assert r.status in ("converged", "step budget used") and r.extra["pseudo-time steps"] == 20
    assert len(model.pressures) > 40 * 20 and set(model.pressures) == {5000.0}
    assert model.P == 5000.0 and gas.P == pytest.approx(5000.0, rel=1e-12)
    assert r.extra["pressure [Pa]"] == 5000.0


def inception_by_dimerization(T, P, X_pah, mw, n_C, n_H):
    """Inception events per m3 and s of reactive dimerization of one PAH with its dimer
    in steady state, written from the rate expressions: the concentration c = X P / (R T)
    (ideal gas, mol/m3), the collision constant k_f = 2.2 * 0.1 * Av d^2 sqrt(8 pi kB T /
    mu) of two molecules of diameter d (reduced diameter and mass of a pair of equal
    molecules: d and m / 2), the dissociation k_r = k_f 10^-1.8 exp(-0.115 E ln10 / (R T))
    with E = 933420 mu_mol - 34053, the reaction k = 5e6 exp(-96232 / (R T)), and
    events = k [D] Av with [D] = k_f c^2 / (k_r + k)."""
    Av, kB, R, Pi = 6.02214076e23, 1.3806488e-23, 8.31446261815324, 3.1415926535
    m = mw / Av                                                    # kg per molecule
    rho_pah = 171943.5197 * (n_C * 0.012011 + n_H * 0.00100784) / (n_C + n_H)  # kg/m3
    d = (6.0 * m / (rho_pah * Pi)) ** (1.0 / 3.0)
    k_f = 0.22 * Av * d ** 2 * np.sqrt(8.0 * np.pi * kB * T / (m / 2.0))
    k_r = k_f * 10.0 ** -1.8 * np.exp(-0.115 * (933420.0 * mw / 2.0 - 34053.0) * np.log(10.0)
                                      / (R * T))
    k = 5.0e6 * np.exp(-96232.0 / (R * T))
    c = X_pah * P / (R * T)
    return k * k_f * c ** 2 / (k_r + k) * Av


def test_low_pressure_inception_against_a_hand_calculation(low_pressure):
    """The inception rate column (events per m3 and s) of the 5 kPa flame's profiles,
    worked out by hand from the temperature, the pyrene mole fraction and the pressure alone
    (an ideal gas): a density or pressure on the way from the flame to the soot model's
    concentrations other than the flame's own shows as a factor (20 for one at 1 atm), and
    so does a rate per kg of gas written as one per m3."""
    from fumivex2.flame import soot_in_flame

    case, gas, flame, _, _ = low_pressure
    model = abf_soot_model(gas, growth_model="reactive_dimerization", pahs=("A4",))
    p = soot_in_flame(case, gas, flame, model=model).profiles
    k = gas.species_index("A4")
    hand = inception_by_dimerization(p[R.T].to_numpy(), 5000.0, p["X_A4 [-]"].to_numpy(),
                                     gas.molecular_weights[k] / 1000.0, 16.0, 10.0)
    rate = p[R.INCEPTION].to_numpy()
    assert rate.max() > 0 and np.all(rate >= 0)
    # the soot grid interpolates density, T and X linearly, each on its own: the ideal-gas
    # density of the interpolated state differs by up to a few per mille in the flame front
    np.testing.assert_allclose(rate, hand, rtol=1e-2, atol=1e-9 * rate.max())


SOLVED = {}  # the phase and the Cantera flame of the counterflow fixture


@pytest.fixture(scope="module")
def counterflow():
    pytest.importorskip("cantera")
    from fumivex2 import counterflow as cf

    case = with_overrides(default_case("counterflow"), {**COARSE, "soot_solver.points": 80,
                                                        "soot_solver.coupling": "one-way"})
    solve = cf.counterflow_flame

    def keep(gas, *args, **kwargs):
        out = solve(gas, *args, **kwargs)
        SOLVED.update(gas=gas, flame=out[0])
        return out

    cf.counterflow_flame = keep
    try:
        return cf.run_counterflow(case)
    finally:
        cf.counterflow_flame = solve


def test_counterflow_steady_soot_satisfies_its_equations(counterflow):
    """The run's soot solver, solved steadily on the run's flame, against the steady
    equations written out in NumPy (both inlets with the flux condition): every row, the
    balance of each cell, closes to the tolerance."""
    from test_steady_solve import residual_np
    from fumivex2.soot_stage import Boundaries, make_soot_solver
    from fumivex2.species import case_soot_model

    case, gas, flame = counterflow.case, SOLVED["gas"], SOLVED["flame"]
    model = case_soot_model(gas, case)
    solver = make_soot_solver(case, gas, flame, model, Boundaries(
        float(flame.fuel_inlet.mdot), float(flame.oxidizer_inlet.mdot)))
    assert solver.boundary_type_right == 0 and solver.P == flame.P
    assert (solver.mdot_left, solver.mdot_right) == (flame.fuel_inlet.mdot,
                                                     flame.oxidizer_inlet.mdot)
    assert solver.mdot_right != solver.mdot_left  # momentum-matched streams of unequal density
    report = fv.solve_steady(solver, rtol=case.soot_solver.tolerance)
    assert report.converged, report.message
    assert residual_np(solver) < case.soot_solver.tolerance
    # the same profiles as the run's (which hold the solution itself, but for negative noise
    # far below the peak, left empty)
    ours, written = np.array(solver.C_tot_n), counterflow.profiles[R.C_TOT].to_numpy()
    kept = np.isfinite(written)
    assert np.all(ours[~kept] < 0) and np.all(-ours[~kept] < 1e-6 * ours.max())
    np.testing.assert_allclose(ours[kept], written[kept], rtol=1e-9, atol=1e-9 * ours.max())


def test_counterflow_soot_enters_at_floors_and_gathers_at_the_stagnation_plane(counterflow):
    import cantera as ct

    r = counterflow
    # converged; suspect for the one-way coupling alone (the soot takes pyrene the gas keeps)
    assert r.extra["finished as"] == "converged", r.message
    assert r.status == "suspect" and r.message.startswith("suspect: the gas would feel the soot (")
    p = r.profiles
    z, u, f_v = (p[c].to_numpy() for c in (R.POSITION, R.VELOCITY, R.FV))
    # stagnation plane from the profiles: where u changes sign, linear in between
    k = int(np.nonzero((u[:-1] > 0) & (u[1:] <= 0))[0][0])
    z0 = z[k] + (z[k + 1] - z[k]) * u[k] / (u[k] - u[k + 1])
    assert abs(r.extra["stagnation plane [m]"] - z0) < z[1] - z[0]
    assert 0.0 < z0 < r.extra["flame (peak T) [m]"] < 0.008  # soot side: fuel side of the flame
    assert abs(z[np.argmax(f_v)] - z0) < 3 * (z[1] - z[0])
    assert f_v.max() > 1e4 * min(f_v[0], f_v[-1])
    # the floors at both inlets
    m = fv.CSootModel()
    floors = [getattr(m, v + "_min") for v in VARS]
    for col, floor in zip((R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT), floors):
        assert p[col].iloc[0] == pytest.approx(floor, rel=1e-3)
        assert p[col].iloc[-1] == pytest.approx(floor, rel=1e-3)
    # the streams: 0.2 m/s of ethylene, the oxidiser at the same momentum flux
    gas = ct.Solution(str(ABF))
    gas.TPX = 300.0, 101325.0, "C2H4:1"
    fuel = 0.2 * gas.density
    rho_f = gas.density
    gas.TPX = 300.0, 101325.0, "O2:0.35, N2:0.65"
    assert r.extra["fuel mass flux [kg/(m2 s)]"] == pytest.approx(fuel, rel=1e-9)
    assert (r.extra["oxidiser mass flux [kg/(m2 s)]"] ** 2 / gas.density
            == pytest.approx(fuel ** 2 / rho_f, rel=1e-9))


def test_counterflow_summary_gives_structure_and_peaks_with_positions(counterflow):
    """The summary of a counterflow flame: the streams, the structure, and the peaks where
    the profiles have them (not the oxidiser inlet's values); the global strain rate of two
    streams of equal momentum flux (rho_F V_F^2 = rho_O V_O^2) is 4 V_O / L."""
    import cantera as ct
    from fumivex2.output import summary_lines

    r = counterflow
    s = r.summary()
    p = r.profiles
    z = p[R.POSITION].to_numpy()
    assert not [k for k in s if k.startswith("final ")]
    for col, key in ((R.FV, "soot volume fraction"), (R.NUMBER, "number density"),
                     (R.T, "T")):
        i = int(np.nanargmax(p[col].to_numpy()))
        assert s[f"{key} peak at {R.POSITION}"] == z[i] and s[f"peak {col}"] == p[col].iloc[i]
    i = int(np.nanargmax(p[R.FV].to_numpy()))
    assert s["mobility diameter at the soot peak [nm]"] == p[R.D_M].iloc[i]
    assert s[f"inception peak at {R.POSITION}"] == z[int(np.argmax(p[R.INCEPTION].to_numpy()))]
    assert s["stagnation plane [m]"] == r.extra["stagnation plane [m]"]
    # the flame, by either measure, on the oxidiser side of the stagnation plane, the two
    # measures within a millimetre
    plane, at_T, at_q = (s[k] for k in ("stagnation plane [m]", "flame (peak T) [m]",
                                        "flame (peak heat release) [m]"))
    assert plane < min(at_T, at_q) and abs(at_T - at_q) < 1e-3
    gas = ct.Solution(str(ABF))
    gas.TPX = 300.0, 101325.0, "O2:0.35, N2:0.65"
    v_o = s["oxidiser mass flux [kg/(m2 s)]"] / gas.density
    assert s["global strain rate [1/s]"] == pytest.approx(4.0 * v_o / 0.008, rel=1e-9)
    assert s["oxidiser-side strain rate [1/s]"] > s["global strain rate [1/s]"]
    assert (s["fuel mole fractions [-]"], s["oxidiser mole fractions [-]"]) == \
        ("C2H4 1", "N2 0.65, O2 0.35")
    text = "\n".join(summary_lines(r))
    assert f"peak soot volume fraction {s[f'peak {R.FV}']:.3g} at position = " in text
    assert "final" not in text


def test_flames_without_oxygen_or_that_go_out_say_what_was_wrong(tmp_path, monkeypatch):
    ct = pytest.importorskip("cantera")
    from fumivex2.counterflow import run_counterflow
    from fumivex2.flame import run_flame
    from fumivex2.output import write_run

    monkeypatch.setattr(ct.FlameBase, "solve", lambda *a, **k: pytest.fail("flame solved"))
    imposed = {"flame.temperature_profile": [[0.0, 0.005, 0.02], [300.0, 1800.0, 1700.0]]}
    for run, case, key in (
            (run_flame, {"inlet.composition": "C2H4:1, AR:5"}, "inlet.composition"),
            (run_flame, {"inlet.composition": "C2H4:1, AR:5", **imposed}, "inlet.composition"),
            (run_counterflow, {"counterflow.oxidizer": "N2:0.8, AR:0.2"}, "counterflow.oxidizer")):
        kind = "flame" if run is run_flame else "counterflow"
        with pytest.raises(CaseError) as e:
            run(with_overrides(default_case(kind), case))
        assert type(e.value) is CaseError
        assert str(e.value).startswith(f"{key} {case[key]!r} holds no oxygen: ")
        assert ("pyrolysis" in str(e.value)) == ("flame.temperature_profile" in case)

    # Cantera's own callbacks fail on a flame that went out: the reason, once, without
    # the text of their exception
    def goes_out(self, *args, **kwargs):
        raise IndexError("index 3 is out of bounds for axis 0 with size 3")

    monkeypatch.setattr(ct.FlameBase, "solve", goes_out)
    r = run_flame(default_case("flame"))
    assert r.status == "failed" and len(r.profiles) == 0
    assert r.message == ("the flame does not burn at these conditions: Cantera's solver found "
                         "no burning solution (check the composition and the mass flux)")
    summary = (write_run(r, tmp_path) / "summary.txt").read_text()
    assert summary.count("nothing was computed") == 1 and "index 3" not in summary
    assert "profiles computed before" not in summary


def test_temperature_profile_files(tmp_path):
    (tmp_path / "T.csv").write_text("height above burner [mm],T [K]\n0,400\n1.5,900\n20,1800\n")
    (tmp_path / "case.toml").write_text('kind = "flame"\n[flame]\ntemperature_profile = "T.csv"\n')
    case = load_case(tmp_path / "case.toml")  # relative to the case file, read into the case
    assert case.flame.temperature_profile == ((0.0, 0.0015, 0.02), (400.0, 900.0, 1800.0))
    bad = {"height [mm],T [K]\n0,400\n": "the header must name two columns",
           "height above burner [in],T [K]\n0,400\n": "heights in mm, cm or m",
           "height above burner [cm],T [K]\n0,400\n1,x\n": "line 3: two numbers expected",
           "height above burner [m],T [K]\n0.1,400\n0.05,500\n": "must increase"}
    for text, message in bad.items():
        (tmp_path / "T.csv").write_text(text)
        with pytest.raises(CaseError) as e:
            load_case(tmp_path / "case.toml")
        assert type(e.value) is CaseError and message in str(e.value)
        assert "\n" not in str(e.value)
    with pytest.raises(CaseError, match="flame.velocity must be a positive number"):
        with_overrides(default_case("flame"), {"flame.mass_flux": 0.0})


def test_counterflow_restarted_from_its_neighbour_takes_its_own_streams(counterflow):
    """A flame started from the previous flame's solution (sweeps with --restart-flames)
    solves with its own inlets: a fuel stream 30 % faster must give 30 % more fuel mass
    flux through the fuel inlet, not the neighbour's, and the start is reported."""
    from fumivex2 import counterflow as cf
    from fumivex2 import flame as fl
    case = counterflow.case
    faster = with_overrides(case, {"soot.enabled": False,
                                   "counterflow.fuel_velocity": 1.3 * case.counterflow.fuel_velocity})
    fl._NEIGHBOURS.clear()
    first = cf.run_counterflow(with_overrides(case, {"soot.enabled": False}), restart=True)
    second = cf.run_counterflow(faster, restart=True)
    assert (first.extra["flame start"], second.extra["flame start"]) == ("fresh", "neighbour")
    key = "fuel mass flux [kg/(m2 s)]"
    assert second.extra[key] == pytest.approx(1.3 * first.extra[key], rel=1e-12)
    inlet_speed = [r.profiles[R.VELOCITY].iloc[0] for r in (first, second)]
    assert inlet_speed[1] == pytest.approx(1.3 * inlet_speed[0], rel=0.01)
    assert second.extra["stagnation plane [m]"] > first.extra["stagnation plane [m]"]


def test_counterflow_flame_takes_the_case_pressure(counterflow, monkeypatch):
    """The Cantera flame handed to the solver is at the case's pressure, started afresh or
    from a neighbour's solution (which was solved at 1 atm). The solve is stubbed: it
    records the pressure and stops, so the restart falls back to a fresh flame."""
    from fumivex2 import counterflow as cf
    from fumivex2 import flame as fl

    class Stop(Exception):
        pass

    seen = []

    def record(flame, *args, **kwargs):
        seen.append(float(flame.P))
        raise Stop

    case = with_overrides(counterflow.case, {"counterflow.pressure": 42000.0})
    monkeypatch.setattr(fl, "solve_cantera_flame", record)
    monkeypatch.setitem(fl._NEIGHBOURS, fl._neighbour_key(case, "counterflow flame"),
                        SOLVED["flame"].to_array())
    with pytest.raises(Stop):
        cf.counterflow_flame(SOLVED["gas"], case, restart=True)
    assert seen == [42000.0, 42000.0]  # the neighbour's start, then the fresh flame


def test_counterflow_streams_cantera_refuses_are_one_line_inlet_errors():
    """A stream state Cantera refuses (past the case's own checks) is the run layer's error
    type, naming the stream."""
    import dataclasses
    import types

    pytest.importorskip("cantera")
    from fumivex2.counterflow import stream_mass_fluxes
    from fumivex2.species import InletError, open_mechanism

    gas = open_mechanism("abf.yaml")
    streams = default_case("counterflow").counterflow
    for stream in ("fuel", "oxidizer"):
        bad = dataclasses.replace(streams, **{f"{stream}_temperature": -5.0})
        with pytest.raises(InletError) as err:
            stream_mass_fluxes(gas, types.SimpleNamespace(counterflow=bad))
        assert type(err.value) is InletError and "\n" not in str(err.value)
        assert str(err.value).startswith(
            f"counterflow.{stream}: the mechanism refuses this state: ")
