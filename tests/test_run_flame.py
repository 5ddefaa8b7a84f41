"""Burner-flame runs: soot stepped in chunks through a solved flame until the residual of
the steady soot equations is below the tolerance or the step budget is used, the steady
solve's counts against its own report, the profiles and rates it returns, shortened flames
end to end, soot off, flames that fail, and bad inputs."""
import math
import pickle

import numpy as np
import pytest

import fumivex2 as fv
from conftest import abf_soot_model
from fumivex2 import results as R
from fumivex2.cases import CaseError, default_case, with_overrides
from fumivex2.flame import run_flame, set_inlet, soot_in_flame
from fumivex2.species import KEY_SPECIES, InletError, SpeciesError

VARS = ("N_agg", "N_pri", "C_tot", "H_tot")
SOOT = [R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT, R.FV, R.NUMBER, R.D_P, R.D_M, R.N_P, R.HC,
        R.INCEPTION]
# on the session's burner flame: 40 points, 1e-4 s pseudo-time steps in chunks of 100
STEPPING = {"soot_solver.points": 40, "soot_solver.dt": 1e-4, "soot_solver.chunk": 100,
            "soot_solver.max_steps": 3000, "soot_solver.tolerance": 1e-3,
            "soot_solver.method": "pseudo-time", "soot_solver.coupling": "one-way"}
# a coarse 1 cm flame for runs end to end
COARSE = {"flame.width": 0.01, "flame.ratio": 10.0, "flame.slope": 0.9, "flame.curve": 0.99,
          "flame.prune": 0.0, "soot_solver.points": 30, "soot_solver.dt": 1e-4,
          "soot_solver.chunk": 100, "soot_solver.max_steps": 300,
          "soot_solver.coupling": "one-way"}


def flame_case(**overrides):
    """The default flame case, one-way (the soot stage these tests are about), with
    overrides (table__key=value)."""
    return with_overrides(default_case("flame"), {"soot_solver.coupling": "one-way",
                                                  **{k.replace("__", "."): v
                                                     for k, v in overrides.items()}})


def stepping_case(**overrides):
    return with_overrides(default_case("flame"), {**STEPPING, **overrides})


def raw_solver(gas, flame, points, model=None):
    """CFlameSolverOpt set up by hand: pyrene, outflow right end, 1e-4 s steps, the flame
    read onto the grid."""
    s = fv.CFlameSolverOpt(gas, flame, np.linspace(0.0, flame.grid[-1], points),
                           model or abf_soot_model(gas, pahs=("A4",)))
    s.mdot_left, s.boundary_type_right, s.dt = 0.08, 1, 1e-4
    s.n_time_steps = 0
    s.solve()
    return s


def advance(s, steps, capsys):
    """`steps` pseudo-time steps of the steady soot equations, as the stage takes them."""
    fv.pseudo_time_steps(s, steps, rtol=1e-15)
    capsys.readouterr()
    return np.array([getattr(s, v + "_n") for v in VARS])


def rel_change(new, old):
    return max(np.abs(new[k] - old[k]).max() / np.abs(new[k]).max() for k in range(4))


@pytest.fixture(scope="module")
def converged(burner_flame):
    gas, flame = burner_flame
    calls = []
    result = soot_in_flame(stepping_case(), gas, flame,
                                    progress=lambda *a: calls.append(a))
    return result, calls


# ---- stepping and convergence --------------------------------------------------------------

def test_stops_at_the_first_step_below_the_tolerance(burner_flame, converged, capsys):
    gas, flame = burner_flame
    r, calls = converged
    steps = r.extra["pseudo-time steps"]
    assert r.status == "converged" and r.ok and r.extra["soot path"] == "pseudo-time"
    assert r.message.startswith(f"soot profiles converged by pseudo-time after {steps} steps "
                                f"(scaled residual ")
    assert calls == [(k, 3000) for k in range(100, steps, 100)] + [(steps, 3000)]
    assert r.extra["Newton iterations"] == r.extra["Jacobians"] == 0
    # the same steps by hand: the residual test fails one step earlier, passes at the end
    s = raw_solver(gas, flame, 40)
    before = advance(s, steps - 1, capsys)
    assert fv.steady_residual(s) >= 1e-3
    last = advance(s, 1, capsys)
    assert fv.steady_residual(s) == r.extra["residual"] < 1e-3
    assert rel_change(last, before) > 0
    for k, col in enumerate(SOOT[:4]):  # the solution itself (the model floors its copy)
        np.testing.assert_array_equal(r.profiles[col], last[k])


def test_budget_used(burner_flame):
    gas, flame = burner_flame
    calls = []
    r = soot_in_flame(stepping_case(**{"soot_solver.max_steps": 250}), gas, flame,
                               progress=lambda *a: calls.append(a))
    assert r.status == "step budget used" and r.ok and not r.converged
    assert r.extra["pseudo-time steps"] == 250 and r.extra["soot path"] == "none (not converged)"
    assert calls == [(100, 250), (200, 250), (250, 250)]  # the last chunk is shorter
    assert r.message.startswith("step budget used: 250 steps of 0.0001 s left the scaled "
                                "residual ")
    # a tolerance of 1 or more would pass any profiles
    for method in ("pseudo-time", "steady"):
        with pytest.raises(CaseError, match="soot_solver.tolerance is 1.0: it must be above 0 "
                                            "and below 1"):
            soot_in_flame(stepping_case(**{"soot_solver.tolerance": 1.0,
                                           "soot_solver.method": method}), gas, flame)


def test_steady_stage_reports_the_solve_it_ran(burner_flame):
    """The counts of the steady path are those of solve_steady on the same solver: Newton
    iterations, pseudo-time steps, Jacobians and rejected steps; a budget too small for
    the solve is 'not converged' with the solve's own reason."""
    from fumivex2.soot_stage import Boundaries, make_soot_solver
    gas, flame = burner_flame
    for overrides, status in [({}, "converged"),
                              ({"soot_solver.max_iterations": 3}, "not converged")]:
        case = flame_case(**{"soot_solver.points": 60, "soot_solver.dt": 5e-5,
                             **{k.replace(".", "__"): v for k, v in overrides.items()}})
        r = soot_in_flame(case, gas, flame)
        s = make_soot_solver(case, gas, flame, abf_soot_model(gas, pahs=("A4",)),
                             Boundaries(flame.burner.mdot))
        report = fv.solve_steady(s, rtol=case.soot_solver.tolerance,
                                 max_iterations=case.soot_solver.max_iterations,
                                 max_time_steps=case.soot_solver.max_steps)
        assert r.status == status and report.converged == (status == "converged")
        got = [r.extra[k] for k in ("Newton iterations", "pseudo-time steps", "Jacobians",
                                    "rejected steps")]
        assert got == [report.iterations, report.time_steps, report.jacobians, report.rejected]
        assert r.extra["residual"] == report.residual and r.extra["steady solve"] == report.message
        assert f"{report.iterations} Newton iterations, {report.time_steps} pseudo-time steps" \
            in r.message
        if status == "not converged":
            assert "(Newton iteration budget used)" in r.message and report.iterations == 3


# ---- what the result holds -----------------------------------------------------------------

def test_profiles_rates_and_element_balance(burner_flame, converged):
    gas, flame = burner_flame
    r, _ = converged
    p = r.profiles
    x = np.linspace(0.0, 0.02, 40)
    assert list(p.columns) == ([R.HEIGHT, R.T, R.VELOCITY, R.DENSITY]
                               + [R.species_column(k) for k in KEY_SPECIES + ("C2H4",)]
                               + [R.species_column("A4")] + SOOT)
    np.testing.assert_array_equal(p[R.HEIGHT], x)
    np.testing.assert_array_equal(p[R.T], np.interp(x, flame.grid, flame.T))
    X = np.array([np.interp(x, flame.grid, row) for row in flame.X])
    np.testing.assert_array_equal(p["X_A4 [-]"], X[gas.species_index("A4")])
    rho = p[R.DENSITY].to_numpy()
    # the derived columns are the model's, from its copy of the solution (floored)
    N_agg, C_tot, H_tot = (np.maximum(p[c], f) for c, f in (
        (R.N_AGG, 1 / 6.02214076e23), (R.C_TOT, 378 / 6.02214076e23),
        (R.H_TOT, 20 / 6.02214076e23)))
    soot_mass = C_tot * 0.012011 + H_tot * 0.00100784  # kg per kg of gas
    np.testing.assert_allclose(p[R.FV], soot_mass * rho / 1800.0, rtol=1e-12)
    np.testing.assert_allclose(p[R.NUMBER], N_agg * 6.02214076e23 * rho, rtol=1e-12)
    f_v = p[R.FV].to_numpy()
    assert np.all(np.isfinite(p[SOOT].to_numpy()))
    assert 1e-9 < f_v[-1] < 1e-5 and f_v[-1] > 10 * f_v[10]

    rates = r.rates
    assert rates.shape == (40, gas.n_species + 1)
    assert list(rates.columns) == [R.HEIGHT] + [f"{n} [kmol/(m3 s)]" for n in gas.species_names]
    W = rates.iloc[:, 1:].to_numpy().T * 1000.0  # mol/(m3 s), species x points
    atoms = {e: np.array([gas.n_atoms(k, e) for k in range(gas.n_species)]) for e in "CO"}
    m = abf_soot_model(gas, pahs=("A4",))
    mu = np.interp(x, flame.grid, flame.viscosity)  # read first: it moves the phase
    for i in (20, 39):
        gas.TPX = p[R.T][i], 101325.0, X[:, i]
        m.update_gas(p[R.T][i], 101325.0, rho[i], mu[i], gas.mean_molecular_weight, X[:, i])
        m.update_solution(p[SOOT[:4]].to_numpy()[i].copy())
        scale = np.abs(W[:, i]).max()
        assert scale > 0
        assert atoms["C"] @ W[:, i] == pytest.approx(-rho[i] * m.S_C_tot(), rel=1e-9)
        assert atoms["O"] @ W[:, i] == pytest.approx(0.0, abs=1e-12 * scale)


class FailingModel(fv.CSootModel):
    """Carbon growth that is NaN, or raises, where the soot carbon exceeds a limit."""
    limit, error = math.inf, None

    def S_C_tot(self):
        if self.C_tot > self.limit:
            if self.error:
                raise self.error
            return math.nan
        return super().S_C_tot()


@pytest.mark.parametrize("error", [None, ZeroDivisionError("float division")])
def test_a_failing_soot_state_is_located(burner_flame, capsys, error):
    gas, flame = burner_flame
    # by hand: the carbon limit reached after 150 steps
    s = raw_solver(gas, flame, 40)
    history = [advance(s, 150, capsys)]
    FailingModel.limit, FailingModel.error = history[0][2, 1:-1].max(), error
    while history[-1][2, 1:-1].max() <= FailingModel.limit:
        history.append(advance(s, 1, capsys))
    failing_step = 150 + len(history)  # the step after the first state above the limit
    first = int(np.argmax(history[-1][2, 1:-1] > FailingModel.limit)) + 1
    where = f"at {np.linspace(0, 20, 40)[first]:.3g} mm above the burner"

    model = abf_soot_model(gas, pahs=("A4",), cls=FailingModel)
    r = soot_in_flame(stepping_case(), gas, flame, model=model)
    assert r.status == "failed" and not r.ok
    if error is None:
        # the NaN source at the first state above the limit makes the next step non-finite
        assert r.message == (f"pseudo-time step {failing_step} stopped: its result is not "
                             f"finite (the C_tot source is nan {where}); profiles after "
                             f"{failing_step - 1} steps")
        kept = history[-1]
    else:
        # the model raises while evaluating the first state above the limit
        failing_step -= 1
        assert r.message == (f"the soot solver stopped in step {failing_step}: "
                             f"ZeroDivisionError: float division; profiles after "
                             f"{failing_step - 1} steps")
        kept = history[-2]
    assert r.extra["pseudo-time steps"] == failing_step - 1
    np.testing.assert_array_equal(r.profiles[R.C_TOT], kept[2])  # the solution itself
    assert np.all(np.isfinite(r.rates.to_numpy()))


# ---- runs end to end ------------------------------------------------------------------------

def test_short_flame_end_to_end(capfd):
    pytest.importorskip("cantera")
    calls = []
    r = run_flame(flame_case(**COARSE), progress=lambda *a: calls.append(a))
    assert capfd.readouterr().out == ""  # neither the step lines nor Cantera's log
    # the steady solve by default: no pseudo-time steps, the residual below the tolerance;
    # converged, and suspect: the soot takes five times the pyrene the gas carries (and
    # the coarse soot grid closes the soot's carbon to about 5 %)
    assert r.extra["finished as"] == "converged" and r.extra["soot path"] == "steady"
    assert r.status == "suspect" and r.message.startswith("suspect: the gas would feel the soot")
    assert calls == [] and r.extra["residual"] < 1e-6
    assert r.profiles.shape == (30, 4 + len(KEY_SPECIES) + 2 + len(SOOT))  # + fuel, A4
    assert r.profiles[R.HEIGHT].iloc[-1] == 0.01 and r.profiles[R.T].max() > 1400.0
    assert r.rates.shape == (30, 102) and r.extra["PAHs"] == ["A4"]
    assert r.profiles[R.FV].iloc[-1] > 1e-10
    assert 0 < r.extra["flame time [s]"] < r.run_time
    back = pickle.loads(pickle.dumps(r))
    assert back.case == r.case and back.profiles.equals(r.profiles)


def test_soot_off_on_a_mechanism_without_pahs():
    pytest.importorskip("cantera")
    case = flame_case(**COARSE, mechanism__file="gri30.yaml", soot__enabled=False)
    r = run_flame(case, progress=lambda *a: pytest.fail("no soot steps"))
    assert r.status == "completed" and r.rates is None
    assert list(r.profiles.columns) == ([R.HEIGHT, R.T, R.VELOCITY, R.DENSITY]
                                        + [R.species_column(k) for k in KEY_SPECIES + ("C2H4",)])
    assert len(r.profiles) == r.extra["flame points"] and r.profiles[R.T].max() > 1400.0
    assert r.message == f"flame solved on {len(r.profiles)} points; soot off"


def test_flames_that_fail(monkeypatch):
    ct = pytest.importorskip("cantera")
    # oxygen only in CO2: Cantera returns the cold mixture as its solution
    r = run_flame(flame_case(**COARSE, inlet__composition="C2H4:1, CO2:1, AR:2"))
    assert r.status == "failed" and r.message.startswith(
        "the flame does not burn at these conditions: the peak temperature is 300 K")
    assert r.profiles[R.T].max() < 301.0 and r.rates is None

    def fails(self, *args, **kwargs):
        raise ct.CanteraError("\n" + "*" * 79 + "\nCanteraError thrown by OneDim::solve:\n"
                              "Newton iteration failed\n" + "*" * 79 + "\n")

    monkeypatch.setattr(ct.BurnerFlame, "solve", fails)
    r = run_flame(flame_case(**COARSE))
    assert (r.status, r.message) == ("failed", "the burner flame did not converge: Newton "
                                     "iteration failed")
    assert len(r.profiles) == 0 and R.species_column("A4") in r.profiles


# ---- the inlet and bad inputs -----------------------------------------------------------------

def test_inlet_compositions():
    ct = pytest.importorskip("cantera")
    gas = ct.Solution("gri30.yaml")
    set_inlet(gas, flame_case(inlet__composition=" c2h4 : 1  o2:1.3,Ar:2.5").inlet)
    assert gas.T == 300.0 and gas["C2H4"].X[0] == pytest.approx(1 / 4.8, rel=1e-12)
    set_inlet(gas, flame_case(inlet__composition="C2H4:1, O2:1.3, AR:2.5",
                                       inlet__basis="mass").inlet)
    assert gas["O2"].Y[0] == pytest.approx(1.3 / 4.8, rel=1e-12)
    # ethylene needs 3 O2: at equivalence ratio 2.4, 1.25 O2 with 2.5 AR per C2H4
    inlet = flame_case(inlet__fuel="C2H4:1", inlet__oxidizer="O2:1, AR:2",
                       inlet__equivalence_ratio=2.4, inlet__pressure=5e4).inlet
    set_inlet(gas, inlet)
    assert gas.P == pytest.approx(5e4, rel=1e-12)
    assert gas["AR"].X[0] == pytest.approx(2.5 / 4.75, rel=1e-12)


BAD = [
    ({"inlet.composition": "C2H4:1, XX:2"}, SpeciesError,
     "inlet.composition: species 'XX' is not in the mechanism"),
    ({"inlet.composition": "C2H4:-1, O2:1"}, InletError,
     "inlet.composition: the amount of 'C2H4' must be zero or positive, got -1"),
    ({"inlet.composition": "C2H4:0, O2:0"}, InletError, "the amounts sum to zero"),
    ({"inlet.composition": "C2H4=1"}, InletError, "'C2H4=1' is not 'name:amount'"),
    ({"inlet.composition": "O2:x"}, InletError, "the amount of 'O2' is 'x', not a number"),
    ({"inlet.composition": " "}, InletError, "inlet.composition is empty"),
    ({"inlet.composition": "O2:1, o2:2"}, InletError, "inlet.composition names 'O2' twice"),
    ({"inlet.fuel": "C2H4:1", "inlet.oxidizer": "AR:1"}, InletError,
     "inlet: fuel 'C2H4:1' and oxidiser 'AR:1' cannot be mixed at equivalence ratio 1:"),
    ({"inlet.fuel": "C2H4:1", "inlet.equivalence_ratio": -2.0}, InletError,
     "inlet.equivalence_ratio must be a positive number"),
    ({"flame.ratio": 1.5}, CaseError, "flame grid refinement: 'ratio' must be greater than 2"),
    ({"flame.prune": 0.4}, CaseError, "flame grid refinement: 'prune' must be less than"),
    ({"species.pahs": ["A9"]}, SpeciesError, "species 'A9' is not in the mechanism"),
    ({"soot.sticking": [0.1, 0.2]}, SpeciesError, "soot.sticking has 2 values for 1 PAHs"),
    ({"mechanism.file": "no-such.yaml"}, SpeciesError, "mechanism 'no-such.yaml' not found"),
    ({"kind": "pfr"}, CaseError, "this is a 'pfr' case: a flame run needs kind = \"flame\""),
]


@pytest.mark.parametrize("overrides, kind, text", BAD, ids=[str(b[0]) for b in BAD])
def test_bad_inputs(overrides, kind, text, monkeypatch):
    ct = pytest.importorskip("cantera")
    monkeypatch.setattr(ct.BurnerFlame, "solve", lambda *a, **k: pytest.fail("flame solved"))
    case = with_overrides(default_case("flame"), overrides)
    with pytest.raises(kind) as err:
        run_flame(case)
    assert type(err.value) is kind
    assert text in str(err.value) and "\n" not in str(err.value)


def test_a_large_step_is_never_converged(burner_flame):
    """dt = 1e-3 makes the explicit sources oscillate: the pseudo-time path must not call
    that converged; the steady path converges on the same flame and grid."""
    gas, flame = burner_flame
    big = stepping_case(**{"soot_solver.points": 150, "soot_solver.dt": 1e-3,
                           "soot_solver.tolerance": 1e-6,
                           "soot_solver.max_steps": 600})
    r = soot_in_flame(big, gas, flame)
    assert r.status == "step budget used" and r.extra["residual"] > 1e-6
    steady = soot_in_flame(with_overrides(big, {"soot_solver.method": "steady"}), gas, flame)
    assert steady.status == "converged" and steady.extra["soot path"] == "steady"
    assert steady.extra["residual"] < 1e-6
    # the oscillating state is far from the steady one
    assert abs(r.profiles[R.FV].iloc[-1] / steady.profiles[R.FV].iloc[-1] - 1) > 1e-3


def test_soot_columns_and_the_right_boundary_option(burner_flame, converged, monkeypatch):
    from conftest import check_soot_columns
    from fumivex2 import flame as flame_module
    from fumivex2.soot_stage import make_soot_solver
    p = converged[0].profiles
    check_soot_columns(p, p[R.DENSITY].to_numpy())
    # soot_solver.outlet: "inlet" closes the right end with the burner mass flux
    gas, flame = burner_flame
    seen = []
    monkeypatch.setattr(flame_module, "soot_stage",
                        lambda case, g, f, b, **k: seen.append(b) or R.RunResult(case, None, "", ""))
    for outlet in ("inlet", "outflow"):
        c = stepping_case(**{"soot_solver.outlet": outlet, "soot_solver.points": 10})
        soot_in_flame(c, gas, flame)
        s = make_soot_solver(c, gas, flame, abf_soot_model(gas, pahs=("A4",)), seen[-1])
        assert s.mdot_left == flame.burner.mdot
        if outlet == "inlet":
            assert (s.boundary_type_right, s.mdot_right) == (0, flame.burner.mdot)
        else:
            assert s.boundary_type_right == 1
