"""The plug-flow reactor run: shortened default cases end to end, the inlet options, the
stops, failures that keep what was reached, and the user errors of a reactor case.

Carbon is balanced from the mass fractions of every species, which a run returns in
result.extra["mass_fractions"] (the profiles hold only the key species and PAHs)."""
import re
import sys

import numpy as np
import pytest

from conftest import require_abf

Av = 6.02214076e23


def case(**overrides):
    from fumivex2.cases import default_case, with_overrides
    return with_overrides(default_case("pfr"), overrides)


def run(**overrides):
    from fumivex2.pfr import run_pfr
    return run_pfr(case(**overrides))


@pytest.fixture(scope="module")
def sooting():
    """The default case cut to 12 cm (soot appears after about 5 cm)."""
    require_abf()
    from fumivex2.pfr import run_pfr
    calls = []
    result = run_pfr(case(**{"reactor.length": 0.12, "output.stations": 25}),
                     progress=lambda z, total: calls.append((z, total)))
    return result, calls


def test_default_case_forms_soot_and_conserves_carbon(sooting):
    import cantera as ct
    from fumivex2 import results as R
    result, calls = sooting
    p = result.profiles
    assert result.status == "completed" and result.ok and result.run_time > 0
    expected = [R.Z, R.RESIDENCE_TIME, R.T, R.VELOCITY, R.MASS_FLUX, R.DENSITY]
    expected += [f"X_{k} [-]" for k in ("C2H2", "H2", "H", "CO", "O2", "OH", "H2O", "C2H4", "A4")]
    expected += [R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT, R.FV, R.NUMBER, R.D_P, R.D_M, R.N_P,
                 R.HC, R.INCEPTION]
    assert list(p.columns) == expected
    assert all(re.search(r"\[.+\]$", c) for c in p.columns)
    assert np.allclose(p[R.Z], np.linspace(0.0, 0.12, 25), rtol=0, atol=1e-15)

    fv = p[R.FV].to_numpy()
    assert fv[0] < 1e-20 and 1e-9 < fv[-1] < 1e-5
    assert np.all(np.diff(fv[len(fv) // 2:]) > 0)
    # the gas is pinned to the wall: 1000 K -> 1700 K over 5 cm, then held
    wall = np.interp(p[R.Z], [0.0, 0.05, 0.12], [1000.0, 1700.0, 1700.0])
    assert np.abs(p[R.T] - wall).max() < 0.5

    # carbon flux, mol C/(m2 s): mass flux * (sum Y_k n_C,k / W_k + C_tot)
    gas = ct.Solution(str(_abf()))
    nC = np.array([gas.n_atoms(s, "C") for s in gas.species_names])
    Y = result.extra["mass_fractions"][[f"Y_{s} [-]" for s in gas.species_names]].to_numpy()
    carbon = p[R.MASS_FLUX] * (Y @ (1000.0 * nC / gas.molecular_weights) + p[R.C_TOT])
    assert carbon.iloc[-1] / carbon.iloc[0] - 1 == pytest.approx(0, abs=1e-6)
    soot_share = (p[R.MASS_FLUX] * p[R.C_TOT] / carbon).iloc[-1]
    assert soot_share > 1e-4                 # soot holds a visible part of the carbon

    # mole fractions, velocity, number density and residence time from the state
    W = gas.molecular_weights
    moles = Y / W
    X_C2H2 = moles[:, gas.species_index("C2H2")] / moles.sum(axis=1)
    assert np.allclose(p["X_C2H2 [-]"], X_C2H2, rtol=1e-10, atol=1e-30)
    assert np.allclose(p[R.VELOCITY], p[R.MASS_FLUX] / p[R.DENSITY], rtol=1e-12)
    # the number density is left empty where the soot is still near its floors
    given = p[R.NUMBER].notna()
    assert given[p[R.N_AGG] > 1e4 / Av].all() and not given.iloc[0]
    assert np.allclose(p[R.NUMBER][given], (p[R.N_AGG] * Av * p[R.DENSITY])[given], rtol=1e-12)
    t = np.concatenate([[0.0], np.cumsum(np.diff(p[R.Z]) * 0.5 *
                                         (1 / p[R.VELOCITY].to_numpy()[1:] +
                                          1 / p[R.VELOCITY].to_numpy()[:-1]))])
    assert np.allclose(p[R.RESIDENCE_TIME], t, rtol=2e-2)     # trapezoids on 25 stations
    assert p[R.RESIDENCE_TIME].iloc[-1] == pytest.approx(t[-1], rel=3e-3)

    # progress: increasing positions, at most about a hundred calls, ending at the end
    assert 5 <= len(calls) <= 110 and calls[-1] == (0.12, 0.12)
    assert all(b[0] >= a[0] for a, b in zip(calls, calls[1:]))


def _abf():
    from fumivex2.species import shipped_mechanism
    return shipped_mechanism()


def test_soot_off_equals_a_gas_only_reactor():
    require_abf()
    import cantera as ct
    from scipy.integrate import solve_ivp
    import fumivex2 as fv
    from fumivex2 import results as R
    result = run(**{"soot.enabled": False, "reactor.length": 0.04, "output.stations": 9,
                    "reactor.diameter": 0.012, "reactor.velocity": 0.4})
    p = result.profiles
    assert result.status == "completed" and R.FV not in p and R.N_AGG not in p
    # the same reactor integrated directly
    gas = ct.Solution(str(_abf()))
    gas.TPX = 1000.0, 101325.0, {"C2H4": 1.0, "O2": 1.0, "N2": 3.0}
    r = fv.CPFROde(gas)
    r.soot_enabled = False
    r.area, r.perimeter = np.pi * 0.012 ** 2 / 4, np.pi * 0.012
    r._use_temp_value = True
    r.temp_value = np.array([[0.0, 0.05, 0.3], [1000.0, 1700.0, 1700.0]])
    r.initialize()
    y0 = np.hstack([0.0, gas.density * 0.4, gas.T, gas.Y])
    sol = solve_ivp(r, (0.0, 0.04), y0, method="BDF", rtol=1e-10, atol=1e-22,
                    t_eval=p[R.Z].to_numpy())
    assert sol.success
    assert np.allclose(p[R.RESIDENCE_TIME], sol.y[0], rtol=1e-6)
    assert np.allclose(p[R.T], sol.y[2], rtol=1e-7)
    assert np.allclose(p[R.MASS_FLUX], gas.density * 0 + y0[1], rtol=1e-12)
    k = gas.species_index("C2H2")
    Y = result.extra["mass_fractions"][f"Y_C2H2 [-]"].to_numpy()
    assert np.allclose(Y, sol.y[3 + k], rtol=1e-4, atol=1e-12)


def test_equivalence_ratio_and_mass_basis_inlets():
    require_abf()
    from fumivex2 import results as R
    short = {"reactor.length": 0.002, "output.stations": 3, "soot.enabled": False}
    # C2H4 + 3 O2: at equivalence ratio 2, 1 C2H4 to 1.5 O2 and 1.5 * 3.76 N2
    r = run(**short, **{"inlet.fuel": "C2H4:1", "inlet.oxidizer": "O2:1, N2:3.76",
                        "inlet.equivalence_ratio": 2.0})
    assert r.profiles[R.species_column("O2")].iloc[0] == pytest.approx(1.5 / (1 + 1.5 * 4.76))
    # the same composition by mass: C2H4:2, O2:3, N2:5 is normalised to 0.2, 0.3, 0.5
    r = run(**short, **{"inlet.composition": "C2H4:2, O2:3, N2:5", "inlet.basis": "mass"})
    Y0 = r.extra["mass_fractions"].iloc[0]
    assert (Y0["Y_C2H4 [-]"], Y0["Y_O2 [-]"], Y0["Y_N2 [-]"]) == pytest.approx((0.2, 0.3, 0.5))
    r = run(**short, **{"inlet.composition": "c2h4:2, O2:3, N2:5", "inlet.basis": "mole"})
    Y0 = r.extra["mass_fractions"].iloc[0]
    W = {"C2H4": 28.054, "O2": 31.998, "N2": 28.014}
    mass = {k: n * W[k] for k, n in (("C2H4", 2), ("O2", 3), ("N2", 5))}
    assert Y0["Y_O2 [-]"] == pytest.approx(mass["O2"] / sum(mass.values()), rel=1e-4)
    # inlet mass flux instead of velocity
    r = run(**short, **{"reactor.mass_flux": 0.25})
    assert r.profiles[R.MASS_FLUX].iloc[0] == 0.25


@pytest.mark.parametrize("method", ["cvode", "BDF"])
def test_residence_time_stop_ends_where_a_length_run_reaches_that_time(method):
    require_abf()
    from fumivex2 import results as R
    pytest.importorskip("sksundae") if method == "cvode" else None
    r = run(**{"reactor.residence_time": 0.012, "output.stations": 7,
               "integrator.method": method})
    p = r.profiles
    assert r.status == "completed" and len(p) == 7
    z_end = p[R.Z].iloc[-1]
    assert p[R.RESIDENCE_TIME].iloc[-1] == pytest.approx(0.012, rel=1e-9)
    assert np.allclose(p[R.Z], np.linspace(0, z_end, 7))
    again = run(**{"reactor.length": float(z_end), "output.stations": 7,
                   "integrator.method": method})
    assert again.profiles[R.RESIDENCE_TIME].iloc[-1] == pytest.approx(0.012, rel=1e-6)
    assert np.allclose(again.profiles[R.T], p[R.T], rtol=1e-6)


def test_integrators_agree_on_the_sooting_reactor(sooting):
    from fumivex2 import results as R
    reference = sooting[0].profiles
    for method in ("BDF", "LSODA"):
        r = run(**{"reactor.length": 0.12, "output.stations": 25, "integrator.method": method})
        assert r.extra["integrator"] == method
        assert np.allclose(r.profiles[R.FV], reference[R.FV], rtol=1e-4, atol=1e-15)
        assert np.allclose(r.profiles[R.D_M], reference[R.D_M], rtol=1e-4, equal_nan=True)


def test_wall_deposition_removes_soot(sooting):
    from fumivex2 import results as R
    r = run(**{"reactor.length": 0.12, "output.stations": 25, "reactor.wall_deposition": True})
    fv, fv_free = r.profiles[R.FV].iloc[-1], sooting[0].profiles[R.FV].iloc[-1]
    assert r.status == "completed" and 0.5 * fv_free < fv < fv_free


def test_automatic_integrator_choice(monkeypatch):
    from fumivex2.cases import CaseError
    from fumivex2.pfr import choose_method
    pytest.importorskip("sksundae")
    assert choose_method("auto") == "cvode" and choose_method("LSODA") == "LSODA"
    monkeypatch.setitem(sys.modules, "sksundae.cvode", None)    # as if not installed
    assert choose_method("auto") == "BDF"
    with pytest.raises(CaseError, match="scikit-sundae is not installed"):
        choose_method("cvode")


def test_failed_integration_keeps_the_stations_reached():
    require_abf()
    from fumivex2 import results as R
    # the gas heats at 1e9 K/s from 5 mm on: the state runs away within a fraction of a mm
    r = run(**{"reactor.length": 0.02, "output.stations": 21, "soot.enabled": True,
               "temperature.mode": "history",
               "temperature.history": [[0.0, 0.005, 0.0051], [0.0, 0.0, 1e9]]})
    assert r.status == "failed" and not r.ok
    m = re.fullmatch(r"integration stopped at z = (\S+) m \(t = (\S+) s\): (.+)", r.message)
    assert m, r.message
    z_stop = float(m.group(1))
    p = r.profiles
    assert 0.004 <= z_stop < 0.006 and p[R.Z].iloc[-1] == pytest.approx(z_stop)
    assert len(p) >= 5 and np.allclose(p[R.Z].iloc[:5], [0, 0.001, 0.002, 0.003, 0.004])
    assert np.isfinite(p[[R.T, R.FV, "X_C2H2 [-]"]].to_numpy()).all()
    assert r.summary()["status"] == "failed"


def test_reactor_jacobian_gas_block_matches_differences():
    require_abf()
    from scipy.integrate import solve_ivp
    from fumivex2.pfr import ReactorJacobian, absolute_tolerances, build_reactor
    reactor = build_reactor(case(**{"reactor.length": 0.02}))
    f = reactor.rhs
    K = reactor.n_species
    atol = absolute_tolerances(reactor, 3e-19)
    m = reactor.model
    # one tolerance per block, each on its own scale
    assert list(atol[:3]) == [1e-12, 1e-12 * reactor.y0[1], 1e-6]
    assert (atol[3:3 + K] == 3e-19).all()
    assert list(atol[3 + K:]) == [m.N_agg_min, m.N_pri_min, m.C_tot_min, m.H_tot_min]
    sol = solve_ivp(f, (0, 0.02), reactor.y0, method="BDF", rtol=1e-8, atol=atol)
    z, y = sol.t[-1], sol.y[:, -1]
    J = ReactorJacobian(reactor, f, atol / 1e-8)(z, y)
    analytic = set(range(3, 3 + K)) - set(ReactorJacobian(reactor, f, atol / 1e-8).fd_columns)
    columns = [j for j in sorted(analytic) if y[j] > 1e-3]        # major species
    assert len(columns) >= 3
    for j in columns:
        d = 1e-6 * y[j]
        up, down = y.copy(), y.copy()
        up[j] += d
        down[j] -= d
        column = (f(z, up) - f(z, down)) / (2 * d)
        rows = slice(3, 3 + K)
        assert np.linalg.norm(J[rows, j] - column[rows]) < 1e-4 * np.linalg.norm(column[rows])
    assert np.all(J[:, 0] == 0)                     # nothing depends on the residence time


def test_bad_reactor_cases_raise_one_clear_error():
    require_abf()
    from fumivex2.cases import CaseError
    from fumivex2.pfr import InletError
    from fumivex2.species import SpeciesError
    with pytest.raises(SpeciesError, match=r"species 'C2H44' is not in the mechanism "
                                           r"\(close: C2H4"):
        run(**{"inlet.composition": "C2H44:1, O2:1"})
    # (the inlet parser's messages are tested with the flame run, which shares it)
    with pytest.raises(InletError, match="the amounts sum to zero"):
        run(**{"inlet.composition": "C2H4:0, O2:0"})
    with pytest.raises(SpeciesError, match="inlet.fuel: species 'XYZ'"):
        run(**{"inlet.fuel": "XYZ:1"})
    with pytest.raises(InletError, match="equivalence_ratio must be a positive number"):
        run(**{"inlet.fuel": "C2H4:1", "inlet.equivalence_ratio": -2.0})
    with pytest.raises(SpeciesError, match="species 'A7' is not in the mechanism"):
        run(**{"species.pahs": ["A7"]})
    with pytest.raises(CaseError, match="is a flame case: run it with run_flame"):
        from fumivex2.cases import default_case
        from fumivex2.pfr import run_pfr
        run_pfr(default_case("flame"))


def _mixture(gas, fuel, oxidizer, phi, basis):
    """Mole fractions of fuel and oxidiser (dicts of amounts on `basis`) mixed at
    equivalence ratio phi, by hand: moles of oxidiser per mole of fuel = O2 needed / (phi
    X_O2 of the oxidiser), O2 needed = sum X_k (n_C + n_H / 4 - n_O / 2)."""
    W = dict(zip(gas.species_names, gas.molecular_weights))

    def moles(amounts):
        n = {k: v / W[k] if basis == "mass" else v for k, v in amounts.items()}
        return {k: v / sum(n.values()) for k, v in n.items()}
    xf, xo = moles(fuel), moles(oxidizer)
    need = sum(x * (gas.n_atoms(k, "C") + gas.n_atoms(k, "H") / 4 - gas.n_atoms(k, "O") / 2)
               for k, x in xf.items())
    n_ox = need / (phi * xo["O2"])
    X = np.zeros(gas.n_species)
    for part, scale in ((xf, 1.0), (xo, n_ox)):
        for k, x in part.items():
            X[gas.species_index(k)] += scale * x / (1.0 + n_ox)
    return X


def test_inlet_forms_on_both_bases_and_refused_states():
    require_abf()
    import dataclasses
    from fumivex2.species import InletError, open_mechanism, set_inlet
    gas = open_mechanism("abf.yaml")
    W = gas.molecular_weights
    fuel, oxidizer = {"C2H4": 1.0, "H2": 0.5}, {"O2": 1.0, "N2": 3.76}
    for basis in ("mole", "mass"):
        inlet = case(**{"inlet.fuel": "C2H4:1, H2:0.5", "inlet.oxidizer": "O2:1, N2:3.76",
                        "inlet.equivalence_ratio": 1.5, "inlet.basis": basis,
                        "inlet.pressure": 2e5}).inlet
        set_inlet(gas, inlet)
        np.testing.assert_allclose(gas.X, _mixture(gas, fuel, oxidizer, 1.5, basis),
                                   rtol=1e-12, atol=1e-15)
        assert gas.TP == pytest.approx((1000.0, 2e5), rel=1e-12)
        # the composition form: amounts are mole or mass fractions
        set_inlet(gas, case(**{"inlet.composition": "C2H4:2, O2:3, N2:5",
                               "inlet.basis": basis}).inlet)
        n = np.zeros(gas.n_species)
        for k, v in (("C2H4", 2.0), ("O2", 3.0), ("N2", 5.0)):
            n[gas.species_index(k)] = v / W[gas.species_index(k)] if basis == "mass" else v
        np.testing.assert_allclose(gas.X, n / n.sum(), rtol=1e-12, atol=1e-15)
    # Cantera's refusal of the state: one line, the run layer's error type
    for form in ({}, {"fuel": "C2H4:1"}):
        for T, P in ((-5.0, 1e5), (300.0, -1.0)):
            bad = dataclasses.replace(case().inlet, temperature=T, pressure=P, **form)
            with pytest.raises(InletError) as err:
                set_inlet(gas, bad)
            assert type(err.value) is InletError and "\n" not in str(err.value)
            assert str(err.value).startswith("inlet: the mechanism refuses this state: ")


def test_soot_columns_and_the_mass_given_by_the_gas_to_soot(sooting):
    from conftest import check_soot_columns
    from fumivex2 import results as R
    from fumivex2.pfr import build_reactor
    result = sooting[0]
    p = result.profiles
    check_soot_columns(p, p[R.DENSITY].to_numpy())
    assert 1.0 < p[R.D_P].iloc[-1] < 100.0                  # nanometres of young soot
    # total mass: the gas mass flux lost equals the soot mass formed, d(G Y_soot)/dz =
    # rho (S_C MW_C + S_H MW_H), at the last station (rebuilt from the result)
    reactor = build_reactor(result.case)
    Y = result.extra["mass_fractions"].iloc[-1, 1:].to_numpy(dtype=float)
    last = p.iloc[-1]
    y = np.hstack([last[R.RESIDENCE_TIME], last[R.MASS_FLUX], last[R.T], Y,
                   [last[c] for c in (R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT)]])
    dy = reactor.rhs(float(last[R.Z]), y)
    m = reactor.model
    formed = reactor.gas.density * (m.S_C_tot() * 0.012011 + m.S_H_tot() * 0.00100784)
    assert formed > 0 and -dy[1] == pytest.approx(formed, rel=1e-2)   # kg/(m3 s)


def test_the_case_pressure_reaches_the_phase_the_model_and_the_reactor():
    require_abf()
    from fumivex2.pfr import build_reactor
    reactor = build_reactor(case(**{"inlet.pressure": 3e5, "reactor.length": 0.002,
                                    "reactor.velocity": 0.3}))
    gas, rhs, model = reactor.gas, reactor.rhs, reactor.model
    rhs(0.0, reactor.y0)
    # (the phase's pressure is computed back from its density: equal to rounding)
    assert [rhs.P, gas.P, model.P] == pytest.approx([3e5] * 3, rel=1e-12)
    rho = 3e5 * gas.mean_molecular_weight / (8314.46261815324 * 1000.0)
    assert gas.density == pytest.approx(rho, rel=1e-10)
    # the inlet mass flux is the velocity at the inlet density at that pressure
    assert reactor.y0[1] == pytest.approx(0.3 * rho, rel=1e-10)
    assert rhs.u == pytest.approx(0.3, rel=1e-10)
