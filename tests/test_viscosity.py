"""The mixture viscosity computed in the extension against Cantera's own, and its fallbacks."""
import math
import pickle

import numpy as np
import pytest

ct = pytest.importorskip("cantera")

from fumivex2 import _fumivex2  # noqa: E402
from fumivex2 import viscosity as fvv  # noqa: E402
from fumivex2.species import mechanism_source  # noqa: E402

MixtureViscosity = _fumivex2._MixtureViscosity
cantera_viscosity = ct.Transport.viscosity.__get__
TEMPERATURES = [300.0, 3000.0, 650.0, 1000.0, 1400.0, 1800.0, 2200.0, 2600.0, 475.0]
INLETS = ["C2H4:1, O2:1, N2:3", "C2H4:1, O2:1.3, AR:2.5", "C2H4:0.2, AR:0.8",
          "C2H4:1, O2:1.5, N2:5.64", "O2:0.35, N2:0.65", "C2H4:1"]


@pytest.fixture(scope="module")
def compositions():
    """Mole fractions met by the default runs: their inlets, the inlets burnt to
    equilibrium, a sooting rich-ethylene reactor (radicals and PAHs) along its way, a
    pure gas, and the small negative fractions an integrator leaves."""
    gas = ct.Solution(mechanism_source("abf.yaml"))
    found = []
    for inlet in INLETS:
        gas.TPX = 1000.0, ct.one_atm, inlet
        found.append(gas.X)
        if "O2" in inlet and "C2H4" in inlet:
            gas.equilibrate("HP")
            found.append(gas.X)
    gas.set_equivalence_ratio(3.0, "C2H4:1", "O2:1, N2:3.76")
    gas.TP = 1400.0, ct.one_atm
    reactor = ct.IdealGasConstPressureReactor(gas, clone=True)
    net = ct.ReactorNet([reactor])
    for t in np.geomspace(1e-5, 5e-3, 5):
        net.advance(t)
        found.append(reactor.phase.X)
    found.append(np.eye(gas.n_species)[gas.species_index("N2")])
    negative = found[-2].copy()
    for name in ("H", "OH", "A4"):
        negative[gas.species_index(name)] = -1e-7
    found.append(negative)
    return found


def set_state(gas, T, X):
    gas.TP = T, ct.one_atm
    gas.set_unnormalized_mole_fractions(X)   # keeps negative fractions, as a reactor does


@pytest.mark.parametrize("model", sorted(fvv.WILKE_MODELS))
def test_equal_to_cantera_at_every_state(model, compositions):
    """Temperatures 300-3000 K (each met with several compositions in turn, then again),
    the compositions of the default runs; default and -CK fits; every transport model
    whose viscosity is Wilke's rule. Through the object and through the phase's property."""
    gas = fvv.ViscositySolution(mechanism_source("abf.yaml"), transport_model=model)
    assert gas.viscosity_method.startswith("fumivex2") and model in gas.viscosity_method
    mu = fvv.mixture_viscosity(gas)
    worst = 0.0
    for T in TEMPERATURES + TEMPERATURES[:2]:
        gas.TP = T, None
        np.testing.assert_allclose(mu.species_viscosities(T), gas.species_viscosities,
                                   rtol=1e-14, atol=0.0)
        for X in compositions:
            set_state(gas, T, X)
            theirs = cantera_viscosity(gas)
            for ours in (gas.viscosity, mu(gas.T, gas.X)):
                worst = max(worst, abs(ours - theirs) / theirs)
    assert worst <= 1e-13


def test_composition_changed_in_place_and_states_revisited():
    """The last state is remembered by value: the same array changed in place, and an
    earlier state met again, give Cantera's values at those states."""
    gas = ct.Solution(mechanism_source("abf.yaml"))
    mu = fvv.mixture_viscosity(gas)
    gas.TPX = 1500.0, ct.one_atm, "C2H4:1, O2:1, N2:3"
    X = gas.X
    first = mu(1500.0, X)
    X[gas.species_index("C2H4")] -= 0.1
    X[gas.species_index("H2")] += 0.1
    gas.X = X
    assert mu(1500.0, X) == pytest.approx(cantera_viscosity(gas), rel=1e-13)
    assert mu(1500.0, X) != pytest.approx(first, rel=1e-6)
    gas.TPX = 1500.0, ct.one_atm, "C2H4:1, O2:1, N2:3"
    assert mu(1500.0, gas.X) == first


def test_wilke_rule_by_hand_with_both_fit_forms():
    """Two species, one fitted as ln mu (constant 2e-5 Pa s), one as sqrt(mu) / T^(1/4)
    (mu = 1e-6 sqrt(T) Pa s), mixed by Wilke's rule written out here."""
    M = np.array([4.0, 36.0])
    mu_sp = np.array([2e-5, 1e-6 * math.sqrt(900.0)])
    x = np.array([0.3, 0.7])
    phi = np.array([[(1 + math.sqrt(mu_sp[k] / mu_sp[j]) * (M[j] / M[k]) ** 0.25) ** 2
                     / math.sqrt(8 * (1 + M[k] / M[j])) for j in range(2)] for k in range(2)])
    expected = sum(x[k] * mu_sp[k] / (phi[k] @ x) for k in range(2))
    mu = MixtureViscosity(M, [[math.log(2e-5)], [1e-3]], [True, False])
    np.testing.assert_allclose(mu.species_viscosities(900.0), mu_sp, rtol=1e-15)
    assert mu(900.0, x) == pytest.approx(expected, rel=1e-14)
    # one species alone: its own viscosity (a mole fraction of zero counts as 1e-20)
    assert mu(900.0, [0.0, 1.0]) == pytest.approx(mu_sp[1], rel=1e-15)


@pytest.mark.parametrize("model", ["ionized-gas", "high-pressure-Chung-in-name-only"])
def test_other_transport_models_keep_canteras_call(model, monkeypatch):
    gas = fvv.ViscositySolution(mechanism_source("abf.yaml"))
    if model == "ionized-gas":
        gas.transport_model = model
    else:
        # a model announcing a known name whose viscosity differs: refused by the check
        class Differing:
            def __get__(self, obj, cls=None):
                return 1.5 * cantera_viscosity(obj)
        monkeypatch.setattr(fvv, "_CANTERA_VISCOSITY", Differing())
        gas.transport_model = "mixture-averaged"
    assert fvv.mixture_viscosity(gas) is None
    assert fvv.fast_viscosity(gas) == (None, gas.viscosity_method)
    assert gas.viscosity_method.startswith("Cantera")
    gas.TPX = 1700.0, 2e5, "C2H4:1, O2:1, N2:3"
    assert gas.viscosity == fvv._CANTERA_VISCOSITY.__get__(gas)


def test_phase_rereads_changed_fits_and_shares_state():
    base = ct.Solution(mechanism_source("abf.yaml"))
    gas = fvv.ViscositySolution(origin=base)
    assert fvv.viscosity_method(base).startswith("Cantera")
    assert fvv.viscosity_method(gas).startswith("fumivex2")
    k = gas.species_index("N2")
    coefficients = gas.get_viscosity_polynomial(k)
    coefficients[0] *= 1.2
    gas.set_viscosity_polynomial(k, coefficients)
    base.TPX = 1234.0, ct.one_atm, "N2:0.7, C2H4:0.3"          # the state is shared
    assert gas.viscosity == pytest.approx(cantera_viscosity(base), rel=1e-13)
    again = pickle.loads(pickle.dumps(gas))
    again.TPX = 1234.0, ct.one_atm, "N2:0.7, C2H4:0.3"
    assert again.viscosity == pytest.approx(cantera_viscosity(again), rel=1e-13)


def test_arguments_of_the_object():
    M, a, f = [28.0, 2.0], [[1e-3, 1e-5], [2e-3]], [False, False]
    mu = MixtureViscosity(M, a, f)
    x = np.array([0.25, 0.75])
    reference = mu(1200.0, x)
    wide = np.zeros(4)
    wide[::2] = x
    for X in ([0.25, 0.75], wide[::2], x.astype(np.float32), (0.25, 0.75)):
        assert mu(1200.0, X) == reference
    assert mu(T=1200.0, X=x) == reference and mu.n_species == 2
    assert pickle.loads(pickle.dumps(mu))(1200.0, x) == reference
    for T in (0.0, -300.0, math.nan, math.inf):
        with pytest.raises(ValueError, match="temperature"):
            mu(T, x)
    with pytest.raises(ValueError, match="X has 3 mole fractions for 2 species"):
        mu(1200.0, [0.2, 0.3, 0.5])
    with pytest.raises(TypeError):
        mu("hot", x)
    with pytest.raises(TypeError, match="takes exactly 2 positional arguments"):
        mu(1200.0)
    bad = [([], [], []), ([28.0], a, f), ([28.0, 0.0], a, f), ([28.0, math.nan], a, f),
           (M, [[], [1.0]], f), (M, [[1.0] * 6, [1.0]], f), (M, [[1.0], [math.inf]], f)]
    for args in bad:
        with pytest.raises(ValueError):
            MixtureViscosity(*args)
    with pytest.raises(TypeError):
        MixtureViscosity(M, 5, f)
    empty = MixtureViscosity.__new__(MixtureViscosity)
    for use in (lambda: empty(1200.0, x), lambda: empty.species_viscosities(1200.0),
                lambda: empty.n_species, lambda: pickle.dumps(empty)):
        with pytest.raises(ValueError, match="not been initialised"):
            use()


def test_jacobian_columns_from_the_base_sums(compositions):
    """An integrator's finite-difference Jacobian at a sooting state: each mass fraction
    moved in turn by sqrt(eps) of itself (species at zero from below the 1e-20 floor to
    above it), at the base's temperature. These are answered from the base state's
    sums (counted), each equal to Cantera's at that state and to a full evaluation by a
    fresh object; what is more than one variable away is evaluated in full."""
    gas = ct.Solution(mechanism_source("abf.yaml"))
    mu = fvv.mixture_viscosity(gas)
    fresh = pickle.dumps(mu)          # an object with no states behind it
    T = 1650.0
    set_state(gas, T, compositions[-3])
    Y0 = gas.Y
    Y0[gas.species_index("A4")] = 0.0

    def check(Y, temperature=T):
        gas.TP = temperature, ct.one_atm
        gas.set_unnormalized_mass_fractions(Y)
        ours = mu(gas.T, gas.X)
        assert ours == pytest.approx(pickle.loads(fresh)(gas.T, gas.X), rel=5e-15, abs=0.0)
        assert ours == pytest.approx(cantera_viscosity(gas), rel=1e-13, abs=0.0)

    check(Y0)
    near, full = mu.calls
    for j in range(gas.n_species):
        Y = Y0.copy()
        Y[j] += 1.49e-8 * max(abs(Y0[j]), 1e-12)
        check(Y)
    assert mu.calls == (near + gas.n_species, full)
    # two species moved, a new temperature: in full
    Y = Y0.copy()
    Y[gas.species_index("H")] *= 1.001
    Y[gas.species_index("OH")] *= 1.001
    check(Y)
    check(Y0, T + 1e-5)
    assert mu.calls == (near + gas.n_species, full + 2)
    # most of the mixture taken away by one species: equal however it is answered
    for name, factor in (("N2", 0.1), ("N2", 10.0), ("H2", 1e-6)):
        Y = Y0.copy()
        Y[gas.species_index(name)] *= factor
        check(Y)
