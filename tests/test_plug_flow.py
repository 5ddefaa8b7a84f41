"""CPFROde: configuration, the right-hand side on a fake phase and soot model (exact
checks against the duct equations written out in plain Python), the two soot-model
paths, copying and pickling, hostile input, and integrations on real Cantera phases."""
import copy
import gc
import pickle
import weakref

import numpy as np
import pytest

import fumivex2 as fv
from conftest import SOLUTION, configure, gas_args, MW_KMOL, NAMES, abf_soot_model, require_abf

Av = 6.02214076e23
K = len(NAMES)


class FakePhase:
    """A phase of the small test mechanism: production rates, enthalpies and cp depend
    on the state in a simple smooth way. Every member use is logged."""

    def __init__(self, T=1600.0, P=101325.0):
        self.log = []
        self._T, self._P = T, P
        self._Y = np.full(K, 1.0 / K)
        self.species_names = list(NAMES)
        self.molecular_weights = MW_KMOL.copy()
        self.viscosity_value = 5.3e-5

    def set_unnormalized_mass_fractions(self, Y):
        self.log.append("set_Y")
        self._Y = np.array(Y, dtype=float)

    @property
    def TP(self):
        return self._T, self._P

    @TP.setter
    def TP(self, value):
        self.log.append("TP")
        self._T, self._P = float(value[0]), float(value[1])

    @property
    def T(self):
        return self._T

    @property
    def P(self):
        return self._P

    @property
    def mean_molecular_weight(self):
        return 1.0 / float(np.sum(self._Y / self.molecular_weights))

    @property
    def X(self):
        return self._Y / self.molecular_weights * self.mean_molecular_weight

    @property
    def density(self):
        self.log.append("density")
        return self._P * self.mean_molecular_weight / (8314.46261815324 * self._T)

    @property
    def net_production_rates(self):
        self.log.append("wdot")
        k = np.arange(K)
        return (np.sin(k + self._T / 300.0) * 1e-3 * self._Y.sum()).astype(float)

    @property
    def partial_molar_enthalpies(self):
        return (np.arange(K) - 4.0) * 1.0e7 + 2.9e4 * self._T

    @property
    def cp(self):
        return 1200.0 + 0.1 * self._T

    @property
    def viscosity(self):
        return self.viscosity_value


class FakeSoot:
    """A stand-in soot model with fixed, distinct values for every member the reactor
    reads, so the reactor's own arithmetic can be checked exactly."""

    Av = 6.02214076e23

    def __init__(self, fv_value=1e-7):
        self.fv_value = fv_value
        self.calls = []
        self.scrub_wdot = np.linspace(-2e-4, 3e-4, K)
        self.N_agg, self.N_pri, self.C_tot, self.H_tot = 3e-8, 7e-8, 2e-2, 3e-3
        self.steady_state_physical_dimerization = True
        self.steady_state_PAH_adsorption = True
        self.phy_dimer_wdot = np.array([1.5, 2.5])
        self.phy_dimer_index_in_gas = [9, 10]
        self.soot_PAH_wdot = np.array([-4.0, -5.0, -6.0])
        self.soot_PAH_index_in_gas = [10, 11, 12]

    def volume_fraction(self):
        return self.fv_value

    def update_gas(self, T, P, density, viscosity, mean_MW, X):
        self.calls.append(("update_gas", T, P, density, viscosity, mean_MW, np.array(X)))

    def update_solution(self, solution):
        self.calls.append(("update_solution", np.array(solution)))

    def update_scrub_wdot(self):
        self.calls.append(("update_scrub_wdot",))

    def diffus_coeff(self):
        return 2.2e-7

    def d_m(self):
        return 4.1e-8

    def S_N_agg(self):
        return 11.0

    def S_N_pri(self):
        return 13.0

    def S_C_tot(self):
        return 17.0

    def S_H_tot(self):
        return 19.0


def reactor(phase=None, soot=None, deposition=False):
    r = fv.CPFROde(phase or FakePhase())
    r.perimeter, r.area = 0.031, 7.9e-5
    r._use_temp_value = True
    r.temp_value = np.array([[0.0, 0.5, 1.0], [1500.0, 1700.0, 1650.0]])
    if soot is not None:
        r.soot_model = soot
    r.soot_enabled = soot is not None
    r._enable_wall_deposition = deposition
    return r


def state(phase, soot=True, G=0.05, T=1620.0):
    Y = np.linspace(1.0, 2.0, K)
    Y /= Y.sum()
    parts = [[0.01, G, T], Y] + ([SOLUTION] if soot else [])
    return np.hstack(parts)


def expected(r, phase, soot, z, y):
    """The duct equations written out in plain Python (soot on)."""
    G, T = y[1], y[2]
    phase.set_unnormalized_mass_fractions(y[3:r.soot_offset])
    phase.TP = T, r.P
    wdot = phase.net_production_rates
    rho = r.fixed_density if r._enable_fixed_density else phase.density
    fvol = soot.volume_fraction()
    f = 0.0 if 0 < fvol else fvol
    u = G / ((1 - f) * rho)
    Dh = 4 * r.area / r.perimeter
    Tw = np.interp(z, r.temp_value[0], r.temp_value[1])
    q = (r.perimeter / r.area) * (r.Nu_const_temp * 1e10 / Dh) * (Tw - T)
    dT = (q - np.dot(phase.partial_molar_enthalpies, wdot)) / (rho * u * phase.cp)
    W = phase.molecular_weights
    m_s = np.sum(soot.scrub_wdot * W)
    Dh = r.area * 4 / r.perimeter
    k_dep = r.k_dep
    if r._enable_wall_deposition:
        nu = phase.viscosity / rho
        Re = phase.density * u * Dh / phase.viscosity
        k_dep = (u * 0.042) * (0.0791 / Re ** 0.25) ** 0.5 * (nu / soot.diffus_coeff()) ** (-0.666666666667)
    dsoot = [S / u - X * m_s / (rho * u) - (1 / ((1 - f) * u)) * (4 / Dh) * k_dep * X
             for S, X in ((soot.S_N_agg(), soot.N_agg), (soot.S_N_pri(), soot.N_pri),
                          (soot.S_C_tot(), soot.C_tot), (soot.S_H_tot(), soot.H_tot))]
    w = wdot.copy()
    if not soot.steady_state_physical_dimerization:
        i = soot.phy_dimer_index_in_gas
        w[i[0]:i[-1] + 1] = soot.phy_dimer_wdot
    if not soot.steady_state_PAH_adsorption:
        j = soot.soot_PAH_index_in_gas
        w[j[0]:j[-1] + 1] = soot.soot_PAH_wdot
    dY = ((w + soot.scrub_wdot) * W - y[3:r.soot_offset] * m_s) / (rho * u)
    return np.hstack([1 / u, (1 - f) * m_s, dT, dY, dsoot]), u, k_dep


def assert_equal_rel(a, b, rtol=1e-13):
    np.testing.assert_allclose(a, b, rtol=rtol, atol=0.0)


# ---- construction and configuration -----------------------------------------------------

def test_construction_defaults_and_attribute_types():
    phase = FakePhase(P=2.5e5)
    r = fv.CPFROde(phase)
    assert r.gas is phase and r.P == 2.5e5 and r.soot_model is None
    assert (r.Rt_offset, r.rho_u_vfv_offset, r.T_offset, r.Y_offset, r.soot_offset) == (0, 1, 2, 3, 0)
    assert (r.Nu_const_temp, r.Nu_const_heat) == (3.66, 4.63)
    assert r.wdot.shape == (K,)
    assert (r.u, r.fixed_density, r.k_dep, r.perimeter, r.area) == (0.0,) * 5
    assert not any((r._enable_fixed_density, r._use_fixed_density, r._enable_soot,
                    r._use_temp_time_history, r._use_temp_value, r._enable_wall_deposition))
    assert r.temp_value is None and r.time_derivative_temp_history is None
    assert fv.CPFROde(phase=phase).gas is phase
    with pytest.raises(TypeError, match=r"__init__\(\) takes exactly 1 positional argument \(2 given\)"):
        fv.CPFROde(phase, phase)
    with pytest.raises(TypeError, match=r"takes exactly 1 positional argument \(0 given\)"):
        fv.CPFROde()
    with pytest.raises(AttributeError):
        fv.CPFROde(object())
    with pytest.raises(AttributeError):
        r.Nu_const_heat = 1.0
    with pytest.raises(TypeError, match="Cannot convert list to numpy.ndarray"):
        r.temp_value = [[0, 1], [2, 3]]
    del r.wdot
    assert r.wdot is None
    with pytest.raises(NotImplementedError, match="__del__"):
        del r.perimeter
    r.soot_offset = np.int64(7)
    r._enable_soot = "yes"
    assert r.soot_offset == 7 and r._enable_soot is True


def test_soot_enabled_is_an_unset_per_instance_value_until_assigned():
    phase = FakePhase()
    r = fv.CPFROde(phase)
    with pytest.raises(AttributeError, match="_soot_enabled"):
        r.soot_enabled
    with pytest.raises(AttributeError, match="_soot_enabled"):
        r.initialize()
    flag = [1]
    r.soot_enabled = flag            # stored unconverted; a true value sets soot_offset
    assert r.soot_enabled is flag and r.soot_offset == 3 + K
    r.Y_offset = 5
    r.soot_enabled = 0               # false: offset left alone
    assert r.soot_enabled == 0 and r.soot_offset == 3 + K
    with pytest.raises(NotImplementedError, match="__del__"):
        del r.soot_enabled

    class Sub(fv.CPFROde):
        pass

    s = Sub(phase)
    with pytest.raises(AttributeError, match="_soot_enabled"):
        s.soot_enabled
    s.soot_enabled = True
    assert s.__dict__["_soot_enabled"] is True and s.soot_offset == 3 + K
    s._soot_enabled = False          # a subclass reaches the value directly
    assert s.soot_enabled is False


def test_initialize_checks_in_order():
    r = fv.CPFROde(FakePhase())
    r.soot_enabled = True
    with pytest.raises(Exception, match="soot model is enabled, but not assigned") as e:
        r.initialize()
    assert type(e.value) is Exception
    r.soot_enabled = False
    r.perimeter, r.area = 0.1, 0.0
    with pytest.raises(Exception, match="Wrong reactor geometry!"):
        r.initialize()
    r.area = float("nan")                       # NaN passes the <= 0 test
    with pytest.raises(Exception, match="You have to use temperature value or temperature history"):
        r.initialize()
    r._use_temp_value = r._use_temp_time_history = True
    with pytest.raises(Exception, match="cannot use temperature value and temperature history"):
        r.initialize()
    r._use_temp_time_history = False
    assert r.initialize() is None


def test_gri30_soot_offset():
    ct = pytest.importorskip("cantera")
    r = fv.CPFROde(ct.Solution("gri30.yaml"))
    r.soot_enabled = True
    assert r.soot_offset == 56


# ---- the right-hand side ------------------------------------------------------------------

@pytest.mark.parametrize("deposition", [False, True])
@pytest.mark.parametrize("fvol", [1e-6, -1e-6])
def test_soot_on_derivative_matches_the_duct_equations(deposition, fvol):
    phase, soot = FakePhase(), FakeSoot(fvol)
    r = reactor(phase, soot, deposition)
    r.k_dep = 0.0 if deposition else 3.3e-3      # without deposition the stored value applies
    y = state(phase)
    z = 0.37
    got = r(z, y)
    want, u, k_dep = expected(r, FakePhase(), soot, z, y)
    assert got.shape == (3 + K + 4,) and got.dtype == np.float64
    assert_equal_rel(got, want)
    assert r.u == u
    rho = y[1] / ((1 - min(fvol, 0.0)) * u)
    assert r.k_dep == pytest.approx(k_dep, rel=1e-13)
    assert r.wdot is not None
    if deposition:
        want_rate = (1 / u) * rho * soot.N_agg * Av * np.pi / 6 * soot.d_m() ** 3
        assert r.deposit_thickness_growth_rate == pytest.approx(want_rate, rel=1e-13)
    # the soot model is driven with the phase's own state, the soot block and then scrubbing
    names = [c[0] for c in soot.calls]
    assert names == ["update_gas", "update_solution", "update_scrub_wdot"]
    T, P, density, viscosity, mean_MW, X = soot.calls[0][1:]
    assert (T, P, viscosity) == (y[2], r.P, phase.viscosity_value)
    np.testing.assert_array_equal(soot.calls[1][1], SOLUTION)


def test_phase_is_used_in_order_and_density_is_the_phase_one_with_fixed_density():
    phase, soot = FakePhase(), FakeSoot()
    r = reactor(phase, soot)
    r._enable_fixed_density, r.fixed_density = True, 0.3
    y = state(phase)
    phase.log.clear()
    got = r(0.2, y)
    assert phase.log == ["set_Y", "TP", "wdot", "density"]   # step 8 reads the phase density
    assert r.u == y[1] / 0.3                         # fixed density in the velocity
    assert soot.calls[0][3] == phase.density != 0.3   # the phase's own in update_gas
    assert_equal_rel(got, expected(r, FakePhase(), soot, 0.2, y)[0])


def test_pseudo_species_rates_replace_the_phase_rates():
    phase, soot = FakePhase(), FakeSoot()
    soot.steady_state_physical_dimerization = False
    soot.steady_state_PAH_adsorption = False
    r = reactor(phase, soot)
    y = state(phase)
    got = r(0.1, y)
    assert_equal_rel(got, expected(r, FakePhase(), soot, 0.1, y)[0])
    np.testing.assert_array_equal(r.wdot[9:13], [1.5, -4.0, -5.0, -6.0])
    soot.phy_dimer_index_in_gas = []
    with pytest.raises(IndexError):
        r(0.1, y)
    soot.phy_dimer_index_in_gas = [9, 11]                # three slots for two rates
    with pytest.raises(ValueError):
        r(0.1, y)


def test_soot_off_keeps_the_state_layout():
    phase = FakePhase()
    r = reactor(phase)
    r.soot_offset = 1                              # not consulted while soot is off
    y = state(phase, soot=False)
    got = r(0.6, y)
    p = FakePhase()
    p.set_unnormalized_mass_fractions(y[3:])
    p.TP = y[2], r.P
    w, rho = p.net_production_rates, p.density
    u = y[1] / rho
    Tw = np.interp(0.6, r.temp_value[0], r.temp_value[1])
    q = (r.perimeter / r.area) * (r.Nu_const_temp * 1e10 / (4 * r.area / r.perimeter)) * (Tw - y[2])
    dT = (q - np.dot(p.partial_molar_enthalpies, w)) / (rho * u * p.cp)
    assert got.shape == (3 + K,)
    assert_equal_rel(got, np.hstack([1 / u, 0.0, dT, w * p.molecular_weights / (rho * u)]))
    # the species slice is y[Y_offset:Y_offset+K], also with extra trailing entries
    np.testing.assert_array_equal(r(0.6, np.hstack([y, 1.0, 2.0])), got)


def test_temperature_history_heat_and_friction():
    phase = FakePhase()
    r = reactor(phase)
    r._use_temp_value, r._use_temp_time_history = False, True
    r.time_derivative_temp_history = np.array([[0.0, 2.0], [100.0, 100.0]])
    y = state(phase, soot=False)
    d = r(0.5, y)
    assert d[2] == pytest.approx(100.0 / r.u, rel=1e-15)
    r.temp_value = np.array([[0.0, 1.0], [1000.0, 1000.0]])
    assert r.external_heat(0.5, 1000.0) == 0.0
    assert r.external_heat(z=2.0, T=900.0) == pytest.approx(
        (0.031 / 7.9e-5) * (3.66e10 / (4 * 7.9e-5 / 0.031)) * 100.0, rel=1e-15)
    rho = phase.density
    r.u = 10000.0 * phase.viscosity / (rho * 4 * r.area / r.perimeter)
    assert r.reynolds() == pytest.approx(10000.0, rel=1e-14)
    assert r.fanning_friction() == pytest.approx(0.0791 / 10, rel=1e-14)


def test_wall_temperature_is_numpy_interpolation():
    r = reactor()
    table = np.array([[0.0, 0.2, 0.2, 0.7, 0.9, 1.0], [1200.0, 1500.0, 1550.0, 1700.0, 1650.0, 1640.0]])
    scale = (r.perimeter / r.area) * (r.Nu_const_temp * 1e10 / (4 * r.area / r.perimeter))
    for layout in (table, np.asfortranarray(table), table.astype(np.float32), table[:, ::-1][:, ::-1]):
        r.temp_value = layout
        for z in (-1.0, 0.0, 0.1, 0.2, 0.45, 0.7, 0.95, 1.0, 3.0, float("nan")):
            want = scale * (np.interp(z, layout[0], layout[1]) - 1000.0)
            got = r.external_heat(z, 1000.0)
            assert got == want or (np.isnan(got) and np.isnan(want)), (layout.flags, z)
    r.temp_value = np.zeros((2, 0))
    with pytest.raises(ValueError, match="array of sample points is empty"):
        r.external_heat(0.1, 1000.0)
    r.temp_value = np.zeros(3)
    with pytest.raises(ValueError):
        r.external_heat(0.1, 1000.0)
    r.temp_value = None
    with pytest.raises(TypeError):
        r.external_heat(0.1, 1000.0)


def test_zero_divisors_raise_float_division():
    phase = FakePhase()
    r = reactor(phase)
    y = state(phase, soot=False, G=0.0)
    r.u = 5.0
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        r(0.1, y)
    assert r.u == 0.0                                # stored before the check
    r.perimeter = 0.0
    for call in (lambda: r.external_heat(0.1, 1000.0), r.reynolds, r.fanning_friction):
        with pytest.raises(ZeroDivisionError, match="^float division$"):
            call()
    r2 = reactor(FakePhase(), FakeSoot())
    r2.area = 0.0                                    # D_h = 0 in the soot derivatives
    r2._use_temp_value, r2._use_temp_time_history = False, True
    r2.time_derivative_temp_history = np.array([[0.0, 1.0], [0.0, 0.0]])
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        r2(0.1, state(phase))


def test_arguments_and_bad_states():
    phase = FakePhase()
    r = reactor(phase)
    y = state(phase, soot=False)
    assert np.array_equal(r(t=0.1, y=y), r(0.1, y))
    with pytest.raises(TypeError, match=r"__call__\(\) takes exactly 2 positional arguments \(1 given\)"):
        r(0.1)
    with pytest.raises(TypeError, match="Argument 'y' has incorrect type"):
        r(0.1, list(y))
    with pytest.raises(TypeError):
        r("z", y)
    with pytest.raises(TypeError):
        r(0.1, None)
    with pytest.raises(IndexError):
        r(0.1, np.array([0.0, 0.05]))            # no temperature
    with pytest.raises(ValueError):
        r(0.1, y[:5])                             # too few mass fractions for the phase
    r.T_offset = -1                               # NumPy's negative index
    r(0.1, np.hstack([y, 1600.0]))
    r.T_offset = 10 ** 6 // 7
    with pytest.raises(IndexError):
        r(0.1, y)


class Overriding(fv.CPFROde):
    def external_heat(self, z, T):
        return 2.0 * super().external_heat(z, T)

    def reynolds(self):
        return 4.0e4


def test_own_methods_are_looked_up_on_the_object():
    phase = FakePhase()
    base, sub = reactor(phase, FakeSoot(), True), Overriding(phase)
    for attr in ("perimeter", "area", "_use_temp_value", "temp_value", "soot_model",
                 "_enable_wall_deposition"):
        setattr(sub, attr, getattr(base, attr))
    sub.soot_enabled = True
    y = state(phase)
    sub(0.3, y)
    assert sub.fanning_friction() == 0.0791 / 4.0e4 ** 0.25
    base.u = sub.u
    nu = phase.viscosity / phase.density
    assert sub.k_dep == pytest.approx((sub.u * 0.042) * sub.fanning_friction() ** 0.5
                                      * (nu / 2.2e-7) ** (-0.666666666667), rel=1e-14)
    assert sub.external_heat(0.3, 1500.0) == 2.0 * base.external_heat(0.3, 1500.0)


# ---- the soot model's two paths -------------------------------------------------------------

class TrivialSoot(fv.CSootModel):
    pass


def test_exact_soot_model_and_subclass_give_identical_derivatives():
    ct = require_abf()
    from conftest import ABF
    gas = ct.Solution(str(ABF))
    gas.TPX = 1650.0, ct.one_atm, "C2H2:0.05, H2:0.08, H:0.002, CO:0.05, O2:0.004, OH:0.001, H2O:0.1, A2:1e-4, A3:5e-5, A4:2e-5, AR:0.7"
    results = []
    for cls in (fv.CSootModel, TrivialSoot):
        m = abf_soot_model(gas, "reactive_dimerization", ("A2", "A3", "A4"), cls)
        r = reactor(gas, m, deposition=True)
        out = []
        for k, T in enumerate((1650.0, 1700.0, 1750.0)):
            y = np.hstack([0.0, 0.1, T, gas.Y, SOLUTION * (1 + k)])
            out.append(r(0.2 * k, y))
        results.append(np.array(out))
        assert (r.soot_model.__class__ is cls)
    np.testing.assert_array_equal(results[0], results[1])


# ---- copying, pickling, garbage collection ---------------------------------------------------

def test_pickle_and_deepcopy_give_independent_reactors():
    phase, soot = FakePhase(), configure(fv.CSootModel())
    r = fv.CPFROde(phase)
    r.soot_model = soot
    r.soot_enabled = True
    r.perimeter, r.area, r._use_temp_value = 0.031, 7.9e-5, True
    r.temp_value = np.array([[0.0, 1.0], [1500.0, 1600.0]])
    r._enable_wall_deposition = True
    y = state(phase)
    d0 = r(0.4, y)
    for clone in (pickle.loads(pickle.dumps(r)), copy.deepcopy(r)):
        assert type(clone) is fv.CPFROde and clone.soot_enabled is True
        assert clone.deposit_thickness_growth_rate == r.deposit_thickness_growth_rate
        assert clone.soot_model is not soot and clone.gas is not phase
        # slots of the copied model are bound to the copy, not to the original
        assert clone.soot_model.diffus_coeff.__self__ is clone.soot_model
        np.testing.assert_array_equal(clone(0.4, y), d0)
    reduced = r.__reduce__()
    assert reduced[0] is fv._fumivex2.__pyx_unpickle_CPFROde and reduced[1][1] == 0xa50cd52
    assert len(reduced[2]) == 25 and reduced[2][-1]["_soot_enabled"] is True
    shallow = copy.copy(r)
    assert shallow.soot_model is soot and shallow.gas is phase
    with pytest.raises(pickle.PickleError, match=r"Incompatible checksums \(0x1234567 vs \(0xa50cd52"):
        fv._fumivex2.__pyx_unpickle_CPFROde(fv.CPFROde, 0x1234567, None)
    for checksum in (0x9951450, 0xa04a8eb):
        bare = fv._fumivex2.__pyx_unpickle_CPFROde(fv.CPFROde, checksum, reduced[2])
        assert bare.perimeter == 0.031 and bare.soot_enabled is True


def test_reactor_cycles_are_collected():
    class Model(fv.CSootModel):
        pass

    class Reactor(fv.CPFROde):     # (weak references need a subclass)
        pass

    m = Model()
    r = Reactor(FakePhase())
    r.soot_model = m
    m.reactor = r                       # the model refers back to the reactor
    ref = weakref.ref(r)
    del r, m
    gc.collect()
    assert ref() is None


HOSTILE = [None, float("nan"), -1, 10 ** 30, "x", np.zeros((2, 2)), np.array([1, 2]),
           np.zeros(0), [1.0]]


@pytest.mark.parametrize("field", [f for f in dir(fv.CPFROde) if not f.startswith("__")
                                   and not callable(getattr(fv.CPFROde, f))])
def test_hostile_fields_then_evaluate(field):
    for value in HOSTILE:
        phase = FakePhase()
        r = reactor(phase, configure(fv.CSootModel()), deposition=True)
        try:
            setattr(r, field, value)
        except (TypeError, ValueError, OverflowError, AttributeError):
            continue
        for call in (lambda: r(0.3, state(phase)), r.initialize, r.reynolds, r.fanning_friction,
                     lambda: r.external_heat(0.1, 1500.0)):
            try:
                call()
            except Exception:
                pass


# ---- integrations on real Cantera phases -----------------------------------------------------

def ethylene_reactor(ct, soot=True, length=0.1):
    from conftest import ABF
    gas = ct.Solution(str(ABF))
    gas.TPX = 1000.0, ct.one_atm, {"C2H4": 1.0, "O2": 1.0, "N2": 3.0}
    r = fv.CPFROde(gas)
    if soot:
        r.soot_model = abf_soot_model(gas, "self_collision", ("A4",))
    r.soot_enabled = soot
    D = 0.01
    r.area, r.perimeter = np.pi * D * D / 4, np.pi * D
    r._use_temp_value = True
    r.temp_value = np.array([[0.0, 0.05, length], [1000.0, 1700.0, 1700.0]])
    r.initialize()
    return gas, r


def test_sooting_ethylene_reactor_conserves_carbon():
    ct = require_abf()
    from scipy.integrate import solve_ivp
    gas, r = ethylene_reactor(ct, length=0.1)
    m = r.soot_model
    y0 = np.hstack([0.0, gas.density * 0.5, gas.T, gas.Y,
                    m.N_agg_min, m.N_pri_min, m.C_tot_min, m.H_tot_min])
    sol = solve_ivp(r, (0.0, 0.1), y0, method="BDF", rtol=1e-8, atol=1e-20)
    assert sol.success
    assert sol.y[0, -1] > 0.05                              # residence time, s
    so = r.soot_offset
    volume = []
    for k in (0, 3 * sol.t.size // 4, -1):
        r(sol.t[k], sol.y[:, k])
        volume.append(m.volume_fraction())
    assert volume[0] < 1e-20 < volume[1] < volume[2] and volume[2] > 1e-8
    nC = np.array([gas.n_atoms(s, "C") for s in gas.species_names])
    carbon = sol.y[1] * (1000.0 * (sol.y[3:so].T @ (nC / gas.molecular_weights)) + sol.y[so + 2])
    assert np.ptp(carbon) / carbon[0] < 1e-6


def test_soot_free_reactor_follows_a_constant_pressure_reactor():
    ct = require_abf()
    from scipy.integrate import solve_ivp
    gas, r = ethylene_reactor(ct, soot=False)
    r._use_temp_value, r._use_temp_time_history = False, True
    r.time_derivative_temp_history = np.array([[0.0, 1.0], [0.0, 0.0]])
    gas.TPX = 1600.0, ct.one_atm, {"C2H4": 1.0, "O2": 1.0, "N2": 3.0}
    Y0 = gas.Y
    y0 = np.hstack([0.0, gas.density * 0.5, gas.T, Y0])
    sol = solve_ivp(r, (0.0, 0.002), y0, method="BDF", rtol=1e-9, atol=1e-14, dense_output=True)
    assert sol.success
    gas.TPY = 1600.0, ct.one_atm, Y0
    try:
        reactor_ = ct.IdealGasConstPressureReactor(gas, energy="off", clone=True)
    except TypeError:                      # Cantera before 3.2
        reactor_ = ct.IdealGasConstPressureReactor(gas, energy="off")
    net = ct.ReactorNet([reactor_])
    net.rtol, net.atol = 1e-10, 1e-16
    contents = reactor_.phase if hasattr(type(reactor_), "phase") else reactor_.thermo
    for k in range(1, sol.t.size, max(1, sol.t.size // 8)):
        net.advance(sol.y[0, k])
        np.testing.assert_allclose(sol.y[3:, k], contents.Y, rtol=1e-5, atol=1e-9)


class WidePhase(FakePhase):
    """Many species with large, cancelling enthalpy-rate products."""

    def __init__(self, n=517):
        super().__init__()
        rng = np.random.default_rng(7)
        self.n = n
        self.species_names = [f"S{k}" for k in range(n)]
        self.molecular_weights = rng.uniform(2.0, 200.0, n)
        self._Y = np.full(n, 1.0 / n)
        self._w = rng.normal(0.0, 1.0, n)
        self._h = rng.normal(0.0, 1e8, n)

    @property
    def net_production_rates(self):
        return self._w * (1.0 + self._T * 1e-6)

    @property
    def partial_molar_enthalpies(self):
        return self._h


def test_sums_follow_numpy_to_the_bit():
    """Heat release (a dot product) and scrubbed mass (a sum) over many species are
    NumPy's own, not just close to them."""
    phase = WidePhase()
    r = fv.CPFROde(phase)
    r.perimeter, r.area, r._use_temp_value = 0.031, 7.9e-5, True
    r.temp_value = np.array([[0.0, 1.0], [1700.0, 1700.0]])
    soot = FakeSoot()
    soot.scrub_wdot = np.random.default_rng(3).normal(0.0, 1e-3, phase.n)
    r.soot_model = soot
    r.soot_enabled = True
    y = np.hstack([0.0, 0.05, 1650.0, np.full(phase.n, 1.0 / phase.n), SOLUTION])
    got = r(0.5, y)
    p = WidePhase()
    p.set_unnormalized_mass_fractions(y[3:3 + p.n])
    p.TP = y[2], r.P
    w, rho = p.net_production_rates, p.density
    u = y[1] / rho
    q = (r.perimeter / r.area) * (r.Nu_const_temp * 1e10 / (4 * r.area / r.perimeter)) * (1700.0 - y[2])
    assert got[2] == (q - np.dot(p.partial_molar_enthalpies, w)) / (rho * u * p.cp)
    m_s = np.sum(soot.scrub_wdot * p.molecular_weights)
    assert got[1] == m_s
    dY = ((w + soot.scrub_wdot) * p.molecular_weights - y[3:3 + p.n] * m_s) / (rho * u)
    np.testing.assert_array_equal(got[3:3 + p.n], dY)


# ---- paths and modes the tests above leave out --------------------------------------------

def test_fixed_density_enters_the_deposition_kinematic_viscosity():
    phase, soot = FakePhase(), FakeSoot()
    r = reactor(phase, soot, deposition=True)
    r._enable_fixed_density, r.fixed_density = True, 0.3
    y = state(phase)
    got = r(0.2, y)
    want, u, k_dep = expected(r, FakePhase(), soot, 0.2, y)
    # nu = mu / 0.3, the Reynolds number from the phase's own density
    Re = phase.density * u * 4 * r.area / r.perimeter / phase.viscosity
    by_hand = (u * 0.042) * (0.0791 / Re ** 0.25) ** 0.5 * \
        ((phase.viscosity / 0.3) / soot.diffus_coeff()) ** (-0.666666666667)
    assert r.k_dep == pytest.approx(by_hand, rel=1e-13) and k_dep == pytest.approx(by_hand, rel=1e-13)
    assert_equal_rel(got, want)


def test_zero_velocity_in_temperature_history_mode_is_float_division():
    # dT/dz = (dT/dt) / u has no guarded division of its own in this mode
    for soot in (None, FakeSoot()):
        phase = FakePhase()
        r = reactor(phase, soot)
        r._use_temp_value, r._use_temp_time_history = False, True
        r.time_derivative_temp_history = np.array([[0.0, 1.0], [50.0, 50.0]])
        with pytest.raises(ZeroDivisionError, match="^float division$"):
            r(0.1, state(phase, soot=soot is not None, G=0.0))
        assert r.u == 0.0


class SwappedPhase(FakePhase):
    """Molar masses and production rates as byte-swapped float64 arrays (the same numbers,
    not plain vectors): NumPy computes the species rows."""

    @property
    def net_production_rates(self):
        return super().net_production_rates.astype(">f8")

    @property
    def molecular_weights(self):
        return MW_KMOL.astype(">f8")

    @molecular_weights.setter
    def molecular_weights(self, value):
        pass


@pytest.mark.parametrize("soot_on", [False, True])
def test_generic_species_rows_equal_the_fast_path_to_the_bit(soot_on):
    fast_soot, slow_soot = (FakeSoot(), FakeSoot()) if soot_on else (None, None)
    if soot_on:
        slow_soot.scrub_wdot = list(slow_soot.scrub_wdot)       # not an array at all
    y = state(FakePhase(), soot=soot_on)
    fast = reactor(FakePhase(), fast_soot)(0.3, y)
    slow = reactor(SwappedPhase(), slow_soot)(0.3, y)
    assert slow.dtype == np.float64 and slow.dtype.isnative
    np.testing.assert_array_equal(slow, fast)
    if soot_on:                                   # and both are the duct equations
        assert_equal_rel(fast, expected(reactor(FakePhase(), FakeSoot()), FakePhase(),
                                        FakeSoot(), 0.3, y)[0])
