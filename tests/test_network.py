"""Soot reactors in Cantera reactor networks: the same physics as the plug-flow reactor,
conservation in a closed vessel, soot balances of stirred reactors in a chain, and the
failures a user meets."""
import warnings

import numpy as np
import pytest

ct = pytest.importorskip("cantera")
import fumivex2 as fv  # noqa: E402
from fumivex2 import _fumivex2  # noqa: E402
from fumivex2.cases import with_overrides  # noqa: E402
from fumivex2.species import SpeciesError, case_soot_model, set_inlet  # noqa: E402

from conftest import Av, check_soot_columns  # noqa: E402

MW_C, MW_H = 12.011e-3, 1.00784e-3  # kg/mol

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")


def rich_gas(T=1450.0, P=101325.0, phi=3.0):
    gas = fv.open_mechanism("abf.yaml")
    gas.set_equivalence_ratio(phi, "C2H4:1", "O2:1, N2:3.76")
    gas.TP = T, P
    return gas


def element_moles(r, element):
    """Moles of an element in the reactor's gas, mol."""
    g = r.phase
    n = np.array([g.n_atoms(k, element) for k in range(g.n_species)])
    return r.mass * 1000.0 * np.sum(g.Y * n / g.molecular_weights)


def test_isothermal_reactor_is_the_plug_flow_reactor_in_time():
    # the plug-flow reactor with a zero temperature history at constant pressure and an
    # isothermal constant-pressure reactor: the same equations with dt = dz/u
    case = with_overrides(fv.default_case("pfr"), {
        "temperature.mode": "history", "inlet.temperature": 1700.0, "inlet.pressure": 2.0e5,
        "reactor.length": 0.01, "integrator.rtol": 1e-10, "output.plots": False,
        "output.stations": 12})
    p = fv.run_pfr(case).profiles
    gas = fv.open_mechanism("abf.yaml")
    set_inlet(gas, case.inlet)
    r = fv.SootConstPressureReactor(gas, soot_model=case_soot_model(gas, case), energy="off",
                                    clone=True)
    net = ct.ReactorNet([r])
    net.rtol, net.atol = 1e-11, 1e-24
    got = []
    for t in p["residence time [s]"].to_numpy()[1:]:
        net.advance(t)
        got.append(np.r_[r.soot_state, r.phase["C2H2", "H2", "A4"].X])
    got = np.array(got)
    want = p[["N_agg [mol/kg]", "N_pri [mol/kg]", "C_tot [mol/kg]", "H_tot [mol/kg]",
              "X_C2H2 [-]", "X_H2 [-]", "X_A4 [-]"]].to_numpy()[1:]
    assert want[-1, 2] > 1e-3  # soot has formed
    np.testing.assert_allclose(got, want, rtol=2e-6)
    assert r.T == pytest.approx(1700.0, abs=1e-9) and r.phase.P == pytest.approx(2.0e5)


@pytest.mark.parametrize("cls, energy, T0, X0", [
    ("SootReactor", "off", 1750.0, "C2H4:0.3, AR:0.7"),
    ("SootConstPressureReactor", "on", 1900.0, "C2H4:0.5, AR:0.5")])
def test_closed_batch_conserves_carbon_and_mass(cls, energy, T0, X0):
    gas = fv.open_mechanism("abf.yaml")
    gas.TPX = T0, 5.0e5, X0
    r = getattr(fv, cls)(gas, clone=True, energy=energy, growth_model="reactive_dimerization")
    net = ct.ReactorNet([r])
    net.rtol, net.atol = 1e-10, 1e-22
    m0, c0, h0 = r.mass, element_moles(r, "C"), element_moles(r, "H")
    net.advance(4e-3)
    N_agg, N_pri, C, H = r.soot_state
    assert C > 1e-4  # soot formed
    assert r.T == T0 if energy == "off" else r.T < T0 - 300.0  # pyrolysis cools the gas
    # carbon: gas + soot, to round-off; total mass: the gas mass lost is the soot mass
    # formed (the model's hydrogen bookkeeping is not exact by design: within 1 %)
    assert (element_moles(r, "C") + r.mass * C - c0) / c0 == pytest.approx(0.0, abs=1e-8)
    soot_mass = r.mass * (C * MW_C + H * MW_H)
    assert (m0 - r.mass) == pytest.approx(soot_mass, rel=1e-2)
    assert element_moles(r, "H") + r.mass * H == pytest.approx(h0, rel=1e-3)
    # the user properties, recomputed from the four variables
    import pandas as pd
    from fumivex2 import results as R
    rho = r.phase.density
    row = pd.DataFrame({R.N_AGG: [N_agg], R.N_PRI: [N_pri], R.C_TOT: [C], R.H_TOT: [H],
                        R.FV: [r.soot_volume_fraction], R.NUMBER: [r.number_density],
                        R.D_P: [r.primary_diameter * 1e9], R.D_M: [r.mobility_diameter * 1e9],
                        R.N_P: [N_pri / N_agg], R.HC: [H / C]})
    check_soot_columns(row, rho)


def stirred_chain(model_cls=None):
    """Reservoir -> stirred reactor (tau 5 ms) -> second stirred reactor -> reservoir, at
    constant pressure with the energy equation off."""
    gas = rich_gas(T=1500.0, phi=2.6)
    model = fv.configure_soot_model(gas, pahs=["A4"], cls=model_cls)
    feed = ct.Reservoir(gas, clone=True)
    r1 = fv.SootConstPressureReactor(gas, soot_model=model, energy="off", clone=True)
    r2 = fv.SootConstPressureReactor(gas, soot_model=model, energy="off", clone=True,
                                     name="second")
    r2.volume = 2.5e-3
    sink = ct.Reservoir(gas, clone=True)
    tau1 = 5e-3
    mfc = ct.MassFlowController(feed, r1, mdot=lambda t: r1.mass / tau1)
    link = ct.PressureController(r1, r2, primary=mfc, K=1e-5)
    out = ct.PressureController(r2, sink, primary=mfc, K=1e-5)
    net = ct.ReactorNet([r1, r2])
    net.rtol, net.atol = 1e-10, 1e-24
    return net, r1, r2, link, out, model


def rates(model, r):
    """The soot sources (mol/(kg s)) and the gas mass soot takes, V m_s (kg/s)."""
    g = r.phase
    model.update_gas(g.T, g.P, g.density, g.viscosity, g.mean_molecular_weight, g.X)
    model.update_solution(np.array(r.soot_state))
    model.update_scrub_wdot()
    S = np.array([model.S_N_agg(), model.S_N_pri(), model.S_C_tot(), model.S_H_tot()])
    return S, r.volume * np.dot(model.scrub_wdot, g.molecular_weights)


def test_stirred_reactors_in_series_balance_their_soot():
    net, r1, r2, link, out, model = stirred_chain()
    net.advance(0.2)  # 40 residence times of the first reactor
    X1, X2 = r1.soot_state, r2.soot_state
    assert X1[2] > 1e-6 and X2[2] > X1[2]  # the second reactor grows the soot it receives
    # steady soot: production + inflow = outflow + what stays in the gas the reactor loses
    # to soot (at constant pressure the outflow is the inflow: the gas mass shrinks by the
    # mass soot takes, m_s V < 0); the second reactor's inflow carries the first one's soot
    m_in, m12, m_out = r1.inlets[0].mass_flow_rate, link.mass_flow_rate, out.mass_flow_rate
    for r, X_in, into, leave in ((r1, 0.0, m_in, m12), (r2, X1, m12, m_out)):
        S, gained = rates(model, r)
        assert gained < 0
        dmdt = into - leave + gained
        X = r.soot_state
        np.testing.assert_allclose(r.mass * S + into * X_in, leave * X + X * dmdt, rtol=1e-6)
    # the network's state vector holds the soot under its component names
    y = net.get_state()
    i = r2.component_index("C_tot")
    assert r2.component_name(i) == "C_tot" and net.component_name(r1.n_vars + i) == "second: C_tot"
    assert y[r1.n_vars + i] == pytest.approx(X2[2], rel=1e-12)


def test_python_soot_model_gives_the_same_answer():
    class Tracing(fv.CSootModel):
        pass

    out = []
    for cls in (fv.CSootModel, Tracing):
        gas = fv.open_mechanism("abf.yaml")
        gas.TPX = 1750.0, 5.0e5, "C2H4:0.3, AR:0.7"
        r = fv.SootConstPressureReactor(gas, soot_model=fv.configure_soot_model(gas, cls=cls),
                                        clone=True)
        net = ct.ReactorNet([r])
        net.advance(1e-3)
        out.append(np.r_[r.soot_state, r.phase.Y, r.T])
    assert out[0][2] > 1e-9  # soot has begun to form
    np.testing.assert_array_equal(out[0], out[1])


def test_soot_state_is_set_before_integration_and_read_after():
    gas = rich_gas()
    r = fv.SootConstPressureReactor(gas, clone=True, energy="off")
    m = r.soot_model
    np.testing.assert_array_equal(r.soot_state, [m.N_agg_min, m.N_pri_min, m.C_tot_min,
                                                 m.H_tot_min])
    start = [2e-9, 5e-9, 3e-4, 7e-5]
    r.soot_state = start
    net = ct.ReactorNet([r])
    net.initialize()
    y0 = net.get_state()
    np.testing.assert_array_equal(y0[r.component_index("N_agg"):], start)
    net.advance(1e-4)
    assert 0.5 * start[0] < r.soot_state[0] < start[0]  # the seed particles coagulate


def test_bad_input_gives_one_clear_error():
    gas = rich_gas()
    r = fv.SootReactor(gas, clone=True)
    with pytest.raises(KeyError, match="no component 'C_tott'.*did you mean 'C_tot'"):
        r.component_index("C_tott")
    with pytest.raises(ValueError, match="takes 4 values"):
        r.soot_state = [1.0, 2.0]
    with pytest.raises(ValueError, match="finite and not negative"):
        r.soot_state = [1.0, -2.0, 3.0, np.nan]
    with pytest.raises(TypeError, match="unexpected keyword argument 'growth'.*growth_model"):
        fv.SootReactor(gas, growth="self_collision")
    with pytest.raises(ValueError, match="soot.growth_model"):
        fv.SootReactor(gas, growth_model="fast")
    with pytest.raises(TypeError, match="not both"):
        fv.SootReactor(gas, soot_model=r.soot_model, pahs=["A4"])
    other = ct.Solution("gri30.yaml")
    with pytest.raises(ValueError, match="configured for a mechanism with"):
        fv.SootConstPressureReactor(other, soot_model=r.soot_model)
    with pytest.raises(SpeciesError):
        fv.SootConstPressureReactor(ct.Solution("h2o2.yaml"))
    # the private entry points check what they are given
    with pytest.raises(TypeError):
        _fumivex2._network_soot_rows((1, 2), np.zeros(3), np.zeros(3))
    with pytest.raises(ValueError, match="components"):
        _fumivex2._network_load(np.zeros(3), np.zeros(4))
    with pytest.raises(TypeError, match="float64"):
        _fumivex2._network_load(np.zeros(3), np.zeros(3, dtype=np.float32))


def test_failing_soot_model_stops_the_network_with_its_message():
    class Broken(fv.CSootModel):
        def S_C_tot(self):
            raise RuntimeError("carbon source unavailable")

    gas = rich_gas()
    model = fv.configure_soot_model(gas, cls=Broken)
    r = fv.SootConstPressureReactor(gas, soot_model=model, clone=True)
    net = ct.ReactorNet([r])
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with pytest.raises(ct.CanteraError, match="carbon source unavailable"):
            net.advance(1e-4)
