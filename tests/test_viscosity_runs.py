"""The mixture viscosity where the runs use it: Wilke's rule by hand on mixtures of every
size the kernel blocks differently, results that depend on the state alone, the reactor
runs unchanged against the same runs on Cantera's viscosity, the reactors' hooks, and
the plug-flow run's check of the derivative."""
import math
import re

import numpy as np
import pytest

ct = pytest.importorskip("cantera")

from conftest import require_abf  # noqa: E402
from fumivex2 import _fumivex2  # noqa: E402
from fumivex2 import viscosity as fvv  # noqa: E402

MixtureViscosity = _fumivex2._MixtureViscosity


def wilke(M, mu_k, x):
    """Wilke's rule as written: sum_k x_k mu_k / sum_j Phi_kj x_j, mole fractions below
    1e-20 taken as 1e-20."""
    x = np.maximum(np.asarray(x, dtype=float), 1e-20)
    K = len(M)
    phi = np.empty((K, K))
    for k in range(K):
        for j in range(K):
            phi[k, j] = ((1.0 + math.sqrt(mu_k[k] / mu_k[j]) * (M[j] / M[k]) ** 0.25) ** 2
                         / math.sqrt(8.0 * (1.0 + M[k] / M[j])))
    return float(sum(x[k] * mu_k[k] / (phi[k] @ x) for k in range(K)))


@pytest.mark.parametrize("K", [1, 3, 7, 8, 9, 16, 17, 30])
def test_mixtures_of_every_block_size_against_wilke_by_hand(K):
    """Species counts below, at and across the kernel's blocks of eight columns; both fit
    forms mixed; several compositions at one temperature (the factors of a temperature
    serve them all), then another temperature and back."""
    rng = np.random.default_rng(K)
    M = rng.uniform(1.0, 250.0, K)
    log_fit = rng.random(K) < 0.4
    # viscosities of 1e-5 to 1e-4 Pa s at 1500 K: ln mu = a0 + a1 ln T, or sqrt(mu) = T^(1/4) a0
    target = rng.uniform(1e-5, 1e-4, K)
    a1 = rng.uniform(0.5, 0.8, K)
    coefficients = [[math.log(t) - b * math.log(1500.0), b] if lf else [math.sqrt(t) / 1500.0 ** 0.25]
                    for t, b, lf in zip(target, a1, log_fit)]
    mu = MixtureViscosity(M, coefficients, list(log_fit))

    def species(T):
        return np.array([math.exp(c[0] + c[1] * math.log(T)) if lf else (T ** 0.25 * c[0]) ** 2
                         for c, lf in zip(coefficients, log_fit)])

    compositions = [rng.dirichlet(np.ones(K)) for _ in range(3)]
    trace = compositions[0].copy()
    trace[rng.integers(K)] = 0.0             # a species absent (not renormalised)
    compositions.append(trace)
    for T in (1500.0, 900.0, 1500.0):
        np.testing.assert_allclose(mu.species_viscosities(T), species(T), rtol=1e-13)
        for x in compositions:
            assert mu(T, x) == pytest.approx(wilke(M, species(T), x), rel=1e-13)


def test_result_depends_on_the_state_alone():
    """The same (T, X), not one variable away from a state just met, gives the same bits
    whatever came before: met first, after other compositions at its temperature, and
    after another temperature."""
    require_abf()
    from fumivex2.species import mechanism_source
    gas = ct.Solution(mechanism_source("abf.yaml"))
    states = []
    for T, inlet in ((1500.0, "C2H4:1, O2:1, N2:3"), (1500.0, "C2H4:1, O2:3, N2:11"),
                     (2100.0, "C2H2:1, H2:2, A4:0.001, N2:5"), (1500.0, "H2:1, N2:1")):
        gas.TPX = T, ct.one_atm, inlet
        states.append((gas.T, gas.X))
    first = [fvv.mixture_viscosity(gas)(T, X) for T, X in states]   # each on a new object
    mu = fvv.mixture_viscosity(gas)
    for order in ([0, 1, 2, 3], [3, 2, 1, 0], [1, 0, 3, 2, 0, 1]):
        for i in order:
            assert mu(*states[i]) == first[i]


RUNS = {
    # soot appears after 5 cm of the default duct
    "pfr": ("fumivex2.pfr", "run_pfr", {"reactor.length": 0.07, "output.stations": 6}),
    "batch": ("fumivex2.batch", "run_batch", {"batch.end_time": 1.5e-3,
                                              "batch.first_time": 2e-5, "output.stations": 6}),
    "psr": ("fumivex2.psr", "run_psr", {"psr.pfr_length": 0.01, "output.stations": 4}),
}


@pytest.mark.parametrize("kind", sorted(RUNS))
def test_runs_unchanged_from_the_runs_on_canteras_viscosity(kind, monkeypatch):
    """The default plug-flow, batch and stirred reactors (shortened) give the results of
    the same runs on Cantera's own viscosity to the integrator's tolerance (rtol 1e-8:
    within 1e-6 of each column's peak), and their summaries say which one they used."""
    require_abf()
    import importlib

    from fumivex2 import results as R
    from fumivex2.cases import default_case, with_overrides
    module, name, overrides = RUNS[kind]
    run = getattr(importlib.import_module(module), name)
    case = with_overrides(default_case(kind), overrides)
    ours = run(case)
    monkeypatch.setattr(fvv, "mixture_viscosity", lambda gas: None)
    theirs = run(case)
    assert ours.status == theirs.status == "completed"
    assert ours.summary()["gas viscosity"].startswith("fumivex2 in C++ (Wilke's rule")
    assert theirs.summary()["gas viscosity"] == "Cantera (mixture-averaged transport)"
    a, b = ours.profiles, theirs.profiles
    assert list(a.columns) == list(b.columns) and len(a) == len(b)
    assert a[R.FV].iloc[-1] > 1e-12                                   # soot formed
    for column in (R.FV, R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT, R.D_M, R.T, R.DENSITY,
                   R.species_column("C2H2")):
        x, y = a[column].to_numpy(dtype=float), b[column].to_numpy(dtype=float)
        # values below what the run resolves are left empty, in the same rows
        assert np.array_equal(np.isnan(x), np.isnan(y)), column
        assert np.nanmax(np.abs(x - y)) <= 1e-6 * np.nanmax(np.abs(y)), column


def test_soot_off_reads_no_viscosity():
    require_abf()
    from fumivex2.batch import run_batch
    from fumivex2.cases import default_case, with_overrides
    r = run_batch(with_overrides(default_case("batch"), {
        "batch.end_time": 1e-4, "output.stations": 3, "soot.enabled": False}))
    assert r.summary()["gas viscosity"] == fvv.NOT_USED


def network(cls, gas, model, end=6e-4):
    """A sooting constant-pressure reactor of class cls advanced to `end` (s)."""
    gas.set_equivalence_ratio(3.0, "C2H4:1", "O2:1, N2:3.76")
    gas.TP = 1500.0, ct.one_atm
    r = cls(gas, soot_model=model, clone=True)
    net = ct.ReactorNet([r])
    net.advance(end)
    return r, net


@pytest.fixture(scope="module")
def sooting_gas():
    require_abf()
    import fumivex2 as fv
    gas = fv.open_mechanism("abf.yaml")
    return gas, fv.configure_soot_model(gas)


def test_hooks_overridden_by_a_subclass_run_and_change_nothing(sooting_gas):
    """A reactor that keeps the extension's functions as Cantera's hooks, and subclasses
    that override one hook or the other (and call the base), integrate to the same bits;
    the overriding methods are called at every evaluation."""
    import fumivex2 as fv
    gas, model = sooting_gas
    calls = {"eval": 0, "update": 0}

    class CountedEval(fv.SootConstPressureReactor):
        def after_eval(self, t, LHS, RHS):
            calls["eval"] += 1
            super().after_eval(t, LHS, RHS)

    class CountedUpdate(fv.SootConstPressureReactor):
        def after_update_state(self, y):
            calls["update"] += 1
            super().after_update_state(y)

    plain, net = network(fv.SootConstPressureReactor, gas, model)
    assert "after_eval" in vars(plain) and "after_update_state" in vars(plain)
    evaluations = int(net.solver_stats["rhs_evals"] + net.solver_stats["lin_rhs_evals"])
    for cls, key in ((CountedEval, "eval"), (CountedUpdate, "update")):
        other, _ = network(cls, gas, model)
        assert f"after_{'eval' if key == 'eval' else 'update_state'}" not in vars(other)
        assert calls[key] >= evaluations
        assert np.array_equal(other.soot_state, plain.soot_state)
        assert np.array_equal(other.phase.Y, plain.phase.Y) and other.phase.T == plain.phase.T
    assert plain.soot_volume_fraction > 0 and plain.viscosity_method.startswith("fumivex2")


@pytest.mark.parametrize("kind", ["SootReactor", "SootConstPressureReactor"])
def test_network_gives_the_soot_model_the_phases_mole_fractions(kind, sooting_gas):
    """The reactor makes the mole fractions and mean molar mass from its state, not
    through the phase: at every evaluation they are the phase's to the bit. A phase
    whose own values differ is read instead."""
    import fumivex2 as fv
    from fumivex2.network import _inverse_molar_masses
    gas, model = sooting_gas
    seen = []

    class Watched(getattr(fv, kind)):
        def after_eval(self, t, LHS, RHS):
            super().after_eval(t, LHS, RHS)
            m, phase = self._soot_model, self.phase
            seen.append(np.array_equal(m.X, phase.X)
                        and m.mean_MW == phase.mean_molecular_weight / 1000.0)

    r, _ = network(Watched, gas, model, end=3e-4)
    assert r._ctx[12] is not None and len(seen) > 100 and all(seen)

    class Skewed:
        Y = gas.Y
        X = gas.X * (1.0 + 1e-15)
        mean_molecular_weight = gas.mean_molecular_weight
    assert _inverse_molar_masses(Skewed, gas.molecular_weights) is None


def test_network_reactor_on_canteras_viscosity(sooting_gas, monkeypatch):
    """A transport model the extension does not compute (here: the factory refuses) is
    read from the phase at each evaluation, to the same results."""
    import fumivex2 as fv
    gas, model = sooting_gas
    ours, _ = network(fv.SootConstPressureReactor, gas, model)
    monkeypatch.setattr(fvv, "mixture_viscosity", lambda phase: None)
    theirs, _ = network(fv.SootConstPressureReactor, gas, model)
    assert theirs._ctx[11] is None and theirs.viscosity_method.startswith("Cantera")
    assert theirs.gas_viscosity == fvv._CANTERA_VISCOSITY.__get__(theirs.phase)
    assert ours.gas_viscosity == pytest.approx(theirs.gas_viscosity, rel=1e-8)
    np.testing.assert_allclose(ours.soot_state, theirs.soot_state, rtol=1e-6)


def test_a_cloned_phase_gets_its_transport_when_read(sooting_gas):
    """The soot reactor's copy of the phase is given Cantera's transport object (which
    fits every species pair) only when the user reads it: the run needs none, and the
    phase read then has the original's transport and viscosity; a network made after that
    reads the viscosity from the copy's fits."""
    import fumivex2 as fv
    from fumivex2.network import reactor_phase
    gas, model = sooting_gas
    r, net = network(fv.SootConstPressureReactor, gas, model)
    assert reactor_phase(r).transport_model == "none"
    assert r.phase is reactor_phase(r) and r.phase.transport_model == gas.transport_model
    assert r.gas_viscosity == pytest.approx(fvv._CANTERA_VISCOSITY.__get__(r.phase), rel=1e-13)
    mu = r._viscosity
    ct.ReactorNet([r]).initialize()
    assert r._viscosity is not mu and r._ctx[11] is r._viscosity
    assert r.viscosity_method == fvv.method_name(r.phase, r._viscosity)

    def read_first(g, **kw):
        early = fv.SootConstPressureReactor(g, **kw)
        assert early.phase.transport_model == gas.transport_model
        return early
    early, _ = network(read_first, gas, model)
    assert np.array_equal(early.soot_state, r.soot_state) and early.T == r.T


def test_hook_functions_refuse_what_they_cannot_use():
    state = np.zeros(4)
    _fumivex2._network_load([state, 0, 0, 0, None], np.arange(4.0))
    assert list(state) == [0.0, 1.0, 2.0, 3.0]
    with pytest.raises(ValueError, match="not in a network"):
        _fumivex2._network_load([None, None, None, None, None], np.zeros(4))
    with pytest.raises(ValueError, match="empty"):
        _fumivex2._network_load([], np.zeros(4))
    with pytest.raises(ValueError, match="not in a network"):
        _fumivex2._network_eval([None], 0.0, np.zeros(3), np.zeros(3))
    for box in ((None,), [None, None], None):
        with pytest.raises(TypeError, match="a list of one item"):
            _fumivex2._network_eval(box, 0.0, np.zeros(3), np.zeros(3))
    with pytest.raises(TypeError, match="context must be a tuple of 13 items"):
        _fumivex2._network_eval([(1, 2)], 0.0, np.zeros(3), np.zeros(3))
    with pytest.raises(TypeError, match="takes exactly 4 positional arguments"):
        _fumivex2._network_eval([None], np.zeros(3), np.zeros(3))


@pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf, 1e300])
def test_plug_flow_run_reports_a_derivative_that_is_not_finite(bad, monkeypatch):
    """A derivative with one component not finite stops the run and names it; a huge
    finite one does not."""
    require_abf()
    import fumivex2.pfr as pfr
    from fumivex2.cases import default_case, with_overrides
    build = pfr.build_reactor
    K = 101

    class Spoiled:
        """CPFROde, but the temperature derivative is `bad` from the 20th call on, once."""
        def __init__(self, rhs):
            self.rhs, self.calls = rhs, 0

        def __call__(self, z, y):
            dy = self.rhs(z, y)
            self.calls += 1
            if self.calls == 20:
                dy[3 + K - 1] = bad        # the last species' mass fraction
            return dy

        def __getattr__(self, name):
            return getattr(self.rhs, name)

    def spoiled(case):
        r = build(case)
        r.rhs = Spoiled(r.rhs)
        return r

    monkeypatch.setattr(pfr, "build_reactor", spoiled)
    r = pfr.run_pfr(with_overrides(default_case("pfr"), {"reactor.length": 0.005,
                                                         "output.stations": 3,
                                                         "soot.enabled": False}))
    name = re.escape(f"Y_{r.extra['mass_fractions'].columns[-1][2:-4]}")
    if math.isfinite(bad):
        assert "non-finite" not in r.message
    else:
        assert r.status == "failed" and re.search(f"non-finite derivative of {name}$",
                                                  r.message), r.message
