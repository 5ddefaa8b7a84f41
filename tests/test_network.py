"""Soot reactors in Cantera reactor networks: the same physics as the plug-flow reactor,
conservation of mass and elements (gas + soot) in closed vessels and in networks of
Cantera's own flow devices, the stirred reactor's steady balance written by hand, the
analytic wash-in of soot fed to a reactor without sources, and the failures a user
meets."""
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


ELEMENTS = ("C", "H", "O", "N")


def contents(reactors):
    """Mass (kg) and moles of C, H, O, N of the gas and soot in reactors: the soot's
    carbon and hydrogen are C_tot and H_tot per kg of gas, its mass weighed with the
    phase's own atomic weights."""
    out = dict.fromkeys(("mass",) + ELEMENTS, 0.0)
    for r in reactors:
        g = r.phase
        _, _, C, H = r.soot_state
        out["mass"] += r.mass * (1.0 + C * g.atomic_weight("C") / 1e3
                                 + H * g.atomic_weight("H") / 1e3)
        for e in ELEMENTS:
            out[e] += element_moles(r, e) + r.mass * {"C": C, "H": H}.get(e, 0.0)
    return out


def per_kg(gas):
    """Mass (1 kg) and moles of C, H, O, N in a kg of the phase's gas."""
    out = {"mass": 1.0}
    for e in ELEMENTS:
        n = np.array([gas.n_atoms(k, e) for k in range(gas.n_species)])
        out[e] = 1000.0 * np.dot(gas.Y, n / gas.molecular_weights)
    return out


def frozen_gas(*extra):
    """The shipped mechanism's species the soot model needs, argon and nitrogen (and
    `extra` species), without reactions: soot is all that changes the gas."""
    full = fv.open_mechanism("abf.yaml")
    names = ["N2", "AR", "C2H2", "H2", "H", "O2", "OH", "H2O", "CO", "A4"]
    species = [full.species(n) for n in names] + list(extra)
    return ct.Solution(thermo="ideal-gas", kinetics="gas", transport_model="mixture-averaged",
                       species=species, reactions=[])


def test_isothermal_reactor_is_the_plug_flow_reactor_in_time():
    # the plug-flow reactor with a zero temperature history at constant pressure and an
    # isothermal constant-pressure reactor: the same equations with dt = dz/u. The
    # cross-linking model without carbonization keeps its hydrogen exactly, so the
    # network's H2 closure is zero and the two agree to the integrators' tolerance.
    case = with_overrides(fv.default_case("pfr"), {
        "temperature.mode": "history", "inlet.temperature": 1700.0, "inlet.pressure": 2.0e5,
        "reactor.length": 0.01, "integrator.rtol": 1e-10, "output.plots": False,
        "output.stations": 12, "soot.growth_model": "cross_linking",
        "soot.switches": [["carbonization_enabled", False]]})
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
def test_closed_batch_conserves_elements_and_mass(cls, energy, T0, X0):
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
    # carbon and hydrogen, gas + soot, to the integration tolerance; the gas mass lost is
    # the soot mass formed (the model's own hydrogen bookkeeping is closed on H2)
    assert (element_moles(r, "C") + r.mass * C - c0) / c0 == pytest.approx(0.0, abs=1e-8)
    assert (element_moles(r, "H") + r.mass * H - h0) / h0 == pytest.approx(0.0, abs=1e-8)
    # (weighed with the phase's atomic weights, H 1.008 against the model's 1.00784)
    assert (m0 - r.mass) == pytest.approx(r.soot_mass, rel=1e-7)
    assert r.soot_mass == pytest.approx(r.mass * (C * MW_C + H * MW_H), rel=1e-4)
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


def sources(model, r):
    """The soot sources at the reactor's state, mol/(kg s), from the test's own call."""
    g = r.phase
    model.update_gas(g.T, g.P, g.density, g.viscosity, g.mean_molecular_weight, g.X)
    model.update_solution(np.array(r.soot_state))
    return np.array([model.S_N_agg(), model.S_N_pri(), model.S_C_tot(), model.S_H_tot()])


def test_constant_pressure_chain_keeps_its_contents_and_its_steady_balance():
    # two constant-pressure soot reactors behind pressure controllers: each passes on the
    # contents (gas + soot) it receives, so both keep their contents and reach a steady
    # state, whose balances are written here from the flows: of a device's flow mdot out
    # of a soot reactor with sigma kg of soot per kg of gas, mdot / (1 + sigma) is gas
    net, r1, r2, link, out, model = stirred_chain()
    held = [r.mass + r.soot_mass for r in (r1, r2)]
    net.advance(0.2)  # 40 residence times of the first reactor
    net.advance_to_steady_state()
    X1, X2 = r1.soot_state, r2.soot_state
    assert X1[2] > 1e-6 and X2[2] > X1[2]  # the second reactor grows the soot it receives
    np.testing.assert_allclose([r.mass + r.soot_mass for r in (r1, r2)], held, rtol=1e-9)
    W_C, W_H = r1.phase.atomic_weight("C") / 1e3, r1.phase.atomic_weight("H") / 1e3

    def sigma(X):
        return X[2] * W_C + X[3] * W_H

    m_in, m12, m_out = r1.inlets[0].mass_flow_rate, link.mass_flow_rate, out.mass_flow_rate
    np.testing.assert_allclose([m12, m_out], [m_in, m_in], rtol=1e-9)
    for r, X_in, into, leave in ((r1, np.zeros(4), m_in, m12), (r2, X1, m12, m_out)):
        S, X = sources(model, r), r.soot_state
        g_in, g_out = into / (1.0 + sigma(X_in)), leave / (1.0 + sigma(X))
        # soot: formed + carried in = carried out; gas: what stays of it is what soot took
        np.testing.assert_allclose(r.mass * S + g_in * X_in, g_out * X, rtol=1e-6)
        assert g_in - g_out == pytest.approx(r.mass * (S[2] * W_C + S[3] * W_H), rel=1e-6)
    # the network's state vector holds the soot under its component names
    y = net.get_state()
    i = r2.component_index("C_tot")
    assert r2.component_name(i) == "C_tot" and net.component_name(r1.n_vars + i) == "second: C_tot"
    assert y[r1.n_vars + i] == pytest.approx(X2[2], rel=1e-12)


SOOT_OFF = ("inception_enabled", "growth_enabled", "oxidation_enabled", "coagulation_enabled")


@pytest.mark.parametrize("constant", ["pressure", "volume"])
def test_soot_fed_without_sources_washes_in_exponentially(constant):
    # A reactor of argon at 1000 K, its soot processes off and no soot, fed from a soot
    # reactor of argon at 2000 K holding 25 mol/kg of carbon in soot (sigma = 0.3 kg of soot
    # per kg of gas) at the flow mdot = M / tau, as much leaving. Its contents M (gas + soot)
    # stay; per kg of contents, x = X / (1 + sigma) washes in as
    # x_up (1 - exp(-t / tau)). The gas share of each flow is mdot / (1 + sigma) at the
    # sigma of the reactor it leaves; argon's heat capacities are constant, so its energy
    # balance is a one-line ODE: at constant pressure m cp dT/dt = g_in cp (T_up - T), at
    # constant volume m cv dT/dt = g_in (cp T_up - cv T) - g_out R_s T.
    from scipy.integrate import solve_ivp

    gas = frozen_gas()
    model = fv.configure_soot_model(gas, pahs=["A4"], switches=dict.fromkeys(SOOT_OFF, False))
    gas.TPX = 2000.0, 2.0e5, "AR:1"
    up = fv.SootConstPressureReactor(gas, soot_model=model, energy="off", clone=True, name="up")
    up.volume = 10.0
    X_up = np.array([3e-6, 9e-6, 25.0, 5.0])
    up.soot_state = X_up
    gas.TPX = 1000.0, 2.0e5, "AR:1"
    cls = fv.SootReactor if constant == "volume" else fv.SootConstPressureReactor
    r = cls(gas, soot_model=model, clone=True, name="fed")
    r.volume = 1e-3
    r.soot_state = np.zeros(4)
    M, tau = r.mass, 2e-3
    mdot = M / tau
    feed = ct.MassFlowController(up, r, mdot=mdot)
    sink = ct.Reservoir(gas, clone=True)
    if constant == "volume":
        ct.MassFlowController(r, sink, mdot=mdot)
    else:
        ct.PressureController(r, sink, primary=feed, K=1e-6)
    net = ct.ReactorNet([up, r])
    net.rtol, net.atol = 1e-10, 1e-20
    W_C, W_H = gas.atomic_weight("C") / 1e3, gas.atomic_weight("H") / 1e3
    s_up = X_up[2] * W_C + X_up[3] * W_H
    share_up = s_up / (1.0 + s_up)                  # soot per kg of contents upstream

    R_s = ct.gas_constant / gas.molecular_weights[gas.species_index("AR")]
    cp, cv = 2.5 * R_s, 1.5 * R_s

    def dTdt(t, T):
        share = share_up * (1.0 - np.exp(-t / tau))
        m, g_in, g_out = M * (1.0 - share), mdot * (1.0 - share_up), mdot * (1.0 - share)
        if constant == "pressure":
            return g_in * (2000.0 - T) / m
        return (g_in * (cp * 2000.0 - cv * T) - g_out * R_s * T) / (m * cv)

    times = np.array([0.5, 1.0, 2.0, 4.0]) * tau
    want_T = solve_ivp(dTdt, (0.0, times[-1]), [1000.0], t_eval=times, rtol=1e-11,
                       atol=1e-9).y[0]
    for t, T in zip(times, want_T):
        net.advance(t)
        X = r.soot_state
        s = X[2] * W_C + X[3] * W_H
        np.testing.assert_allclose(X / (1.0 + s), X_up / (1.0 + s_up) * (1.0 - np.exp(-t / tau)),
                                   rtol=1e-7)
        assert r.mass * (1.0 + s) == pytest.approx(M, rel=1e-7)
        assert r.T == pytest.approx(T, rel=1e-7)
    np.testing.assert_array_equal(up.soot_state, X_up)  # a source without sources keeps it


@pytest.fixture(scope="module")
def collected():
    """The network of test_network_conserves_mass_and_elements, its two outlets there from
    the start: [stirred soot, collector soot]."""
    return conserving_network("two outlets")


def conserving_network(scenario):
    """A reservoir of frozen gas feeds a constant-pressure soot reactor through a mass flow
    controller (tau 5 ms); a pressure controller and a valve lead its contents into a closed
    constant-volume soot reactor at half its pressure. Nothing leaves, so after t the
    reactors hold what they held plus mdot t of the feed. Returns (stirred, collector,
    contents at the start, the feed's contents per kg, mdot, t)."""
    gas = frozen_gas()
    if scenario == "no carbon":
        gas.TPX = 1500.0, ct.one_atm, "H2:0.3, O2:0.1, N2:0.6"
    else:
        gas.TPX = 1500.0, ct.one_atm, "C2H2:0.1, H2:0.1, H:1e-3, A4:1e-5, O2:2e-3, OH:1e-4, N2:0.8"
    feed = ct.Reservoir(gas, clone=True)
    model = fv.configure_soot_model(gas, pahs=["A4"])
    r = fv.SootConstPressureReactor(gas, soot_model=model, energy="off", clone=True,
                                    name="stirred")
    r.volume = 1e-4
    gas.TP = 1500.0, 0.5 * ct.one_atm
    c = fv.SootReactor(gas, soot_model=model, energy="off", clone=True, name="collector")
    c.volume = 1e-2
    mdot, end = r.mass / 5e-3, 0.015
    start = contents([r, c])
    inlet = ct.MassFlowController(feed, r, mdot=mdot)
    ct.PressureController(r, c, primary=inlet, K=1e-9)
    net = ct.ReactorNet([r, c])
    net.rtol, net.atol = 1e-10, 1e-24
    if scenario == "late outlet":  # added after the network initialised
        net.initialize()
        ct.Valve(r, c, K=2e-9)
        net.reinitialize()
    else:
        ct.Valve(r, c, K=2e-9)
    if scenario == "initialised again":  # halfway, as a new tolerance does
        net.advance(end / 2)
        net.rtol = 1e-10
    net.advance(end)
    return r, c, start, per_kg(feed.phase), mdot, end


@pytest.mark.parametrize("scenario", ["two outlets", "late outlet", "initialised again",
                                      "no carbon"])
def test_network_conserves_mass_and_elements(scenario, collected):
    r, c, start, feed, mdot, end = (conserving_network(scenario) if scenario != "two outlets"
                                    else collected)
    assert len(r.outlets) == 2 and all(d.mass_flow_rate > 0 for d in r.outlets)
    now = contents([r, c])
    for q in ("mass",) + ELEMENTS:
        fed = mdot * end * feed[q]
        assert now[q] - start[q] == pytest.approx(fed, rel=1e-8, abs=1e-20), q
    if scenario == "no carbon":  # nothing to make soot from: the floors, or below them
        m = r.soot_model
        floors = [m.N_agg_min, m.N_pri_min, m.C_tot_min, m.H_tot_min]
        for X in (r.soot_state, c.soot_state):
            assert np.all(X <= floors) and np.all(X > -1e-3 * np.array(floors))
    elif scenario != "two outlets":  # the same network as integrated in one go
        assert r.soot_state[2] > 1.0  # soot holds much of the carbon
        for reactor, reference in zip((r, c), collected[:2]):
            np.testing.assert_allclose(reactor.soot_state, reference.soot_state, rtol=1e-6)


def test_pseudo_species_rates_replace_the_phase_rates():
    # A dimer and a soot-PAH complex carried as gas species, which the phase turns into
    # each other (DIMER => 2 COMPLEX, 1000 1/s); with their steady-state switches off the
    # soot model's rates (here constant, a stand-in model without soot processes) replace
    # the phase's, so their concentrations grow at those rates and no faster.
    a4 = fv.open_mechanism("abf.yaml").species("A4")

    def pah_species(name, n):  # n A4 molecules' atoms and thermochemistry
        sp = ct.Species(name, {e: n * k for e, k in a4.composition.items()})
        coeffs = np.array(a4.thermo.coeffs, dtype=float)
        coeffs[1:] *= n
        sp.thermo = ct.NasaPoly2(a4.thermo.min_temp, a4.thermo.max_temp,
                                 a4.thermo.reference_pressure, coeffs)
        sp.transport = a4.transport
        return sp

    gas = frozen_gas(pah_species("DIMER", 2), pah_species("COMPLEX", 1))
    gas.add_reaction(ct.Reaction(equation="DIMER => 2 COMPLEX",
                                 rate=ct.ArrheniusRate(1e3, 0.0, 0.0)))
    gas.TPX = 1600.0, ct.one_atm, "H2:0.5, DIMER:1e-6, COMPLEX:1e-6, N2:0.5"
    real = fv.configure_soot_model(gas, pahs=["A4"])
    rates = {"DIMER": 2e-7, "COMPLEX": 5e-7}               # kmol/(m3 s)

    class Constant:
        """Pseudo-species rates fixed, no soot processes, no scrubbing."""
        def __init__(self):
            for name in ("MWs", "H2_index", "N_agg_min", "N_pri_min", "C_tot_min",
                         "H_tot_min", "MW_carbon", "MW_hydrogen", "Av"):
                setattr(self, name, getattr(real, name))
            self.scrub_wdot = np.zeros(gas.n_species)
            self.steady_state_physical_dimerization = False
            self.steady_state_PAH_adsorption = False
            self.phy_dimer_index_in_gas = [gas.species_index("DIMER")]
            self.soot_PAH_index_in_gas = [gas.species_index("COMPLEX")]
            self.phy_dimer_wdot = np.array([rates["DIMER"]])
            self.soot_PAH_wdot = np.array([rates["COMPLEX"]])

        def update_gas(self, *args):
            pass

        def update_solution(self, solution):
            self.N_agg, self.N_pri, self.C_tot, self.H_tot = np.maximum(
                solution, [self.N_agg_min, self.N_pri_min, self.C_tot_min, self.H_tot_min])

        def update_scrub_wdot(self):
            pass

        S_N_agg = S_N_pri = S_C_tot = S_H_tot = lambda self: 0.0

    r = fv.SootConstPressureReactor(gas, soot_model=Constant(), energy="off", clone=True)
    net = ct.ReactorNet([r])
    net.rtol, net.atol = 1e-10, 1e-20
    start = {n: r.phase[n].concentrations[0] for n in rates}
    for t in (1e-3, 3e-3):
        net.advance(t)
        for n, rate in rates.items():
            assert r.phase[n].concentrations[0] == pytest.approx(start[n] + rate * t, rel=1e-6), n


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
    # connections whose soot cannot be accounted for are refused when the network starts
    up = fv.SootReactor(gas, clone=True, name="upstream")
    down = fv.SootReactor(gas, soot_model=up.soot_model, clone=True, name="downstream")
    ct.MassFlowController(up, down, mdot=1e-3)
    with pytest.raises(ValueError, match=r"soot reactor 'upstream' feeds 'downstream' \(through "
                       r"a MassFlowController\) but is not in this network: add it"):
        ct.ReactorNet([down]).initialize()
    ct.Valve(down, ct.IdealGasReactor(gas, clone=True, name="gas only"), K=1e-5)
    with pytest.raises(ValueError, match=r"'downstream' flows into 'gas only' \(through a "
                       r"Valve\), a Cantera IdealGasReactor, which carries no soot"
                       r".*fumivex2.SootReactor"):
        ct.ReactorNet([up, down]).initialize()
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
