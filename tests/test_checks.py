"""Every run checks itself: the balances of each run kind against closures computed here
from Cantera's own element data, results broken on purpose (a species, mass or soot
taken out of a profile, a negative soot value, N_pri < N_agg) turned "suspect", a flame's
one-way coupling against the pyrene flux of Cantera's own flame, derived quantities left
empty where the soot means nothing, and how failed, suspect and not-converged runs are
written and plotted."""
import copy
import re

import numpy as np
import pandas as pd
import pytest

from conftest import ABF, require_abf
from fumivex2 import checks as C
from fumivex2 import results as R
from fumivex2.cases import default_case, with_overrides

Av = 6.02214076e23
FLOORS = {"N_agg": 1.0 / Av, "N_pri": 1.0 / Av, "C_tot": 378.0 / Av, "H_tot": 20.0 / Av}


def case(kind, **overrides):
    return with_overrides(default_case(kind), overrides)


@pytest.fixture(scope="module")
def gas():
    ct = require_abf()
    return ct.Solution(str(ABF))


@pytest.fixture(scope="module")
def runs():
    """Small runs of the three reactor kinds (a few seconds together)."""
    require_abf()
    from fumivex2.batch import run_batch
    from fumivex2.pfr import run_pfr
    from fumivex2.psr import run_psr
    return {
        "pfr": run_pfr(case("pfr", **{"reactor.length": 0.05, "output.stations": 15})),
        "batch": run_batch(case("batch", **{"batch.end_time": 1.5e-3, "output.stations": 15})),
        "psr": run_psr(case("psr", **{"psr.pfr_length": 0.04, "output.stations": 9})),
    }


@pytest.fixture(scope="module")
def flame_run(burner_flame):
    """Soot through the session's burner flame (80 steady points), checked as run_flame
    checks it; and the flame."""
    from fumivex2.flame import soot_in_flame
    gas, flame = burner_flame
    result = soot_in_flame(case("flame", **{"soot_solver.points": 80,
                                            "soot_solver.coupling": "one-way"}), gas, flame)
    result.extra["gas flows"] = C.flame_gas_flows(flame, gas)
    return C.check_run(result, gas), flame


def checks_of(result):
    return {c["name"]: c for c in result.checks}


def per_kg(gas, Y, element):
    """mol of `element` per kg of gas of mass fractions Y, from Cantera's elemental mass
    fractions."""
    out = []
    for y in np.atleast_2d(Y):
        gas.TPY = 1000.0, 101325.0, np.clip(y, 0.0, None)
        # TPY normalises: undo it, so that the content is of the mass fractions as given
        out.append(gas.elemental_mass_fraction(element) * y.sum() / gas.atomic_weight(element)
                   * 1000.0)
    return np.array(out)


def Y_of(result, gas):
    return result.extra["mass_fractions"][[f"Y_{s} [-]" for s in gas.species_names]].to_numpy()


# ---- balances against closures computed here ------------------------------------------------

@pytest.mark.parametrize("kind", ["pfr", "batch", "psr"])
def test_reactor_balances_close_and_agree_with_cantera_element_data(runs, gas, kind):
    result = runs[kind]
    p = result.profiles
    assert result.status == "completed", result.message
    found = checks_of(result)
    assert all(c["passed"] for c in result.checks), result.checks
    assert {"C balance", "H balance", "mass balance", "positivity", "N_pri >= N_agg"} <= set(found)
    Y = Y_of(result, gas)
    soot = {"C": p[R.C_TOT].to_numpy(), "H": p[R.H_TOT].to_numpy()}
    for element in ("C", "H"):
        content = per_kg(gas, Y, element) + soot[element]          # mol/kg of gas
        if kind == "pfr":     # steady flow: G (b + s) along the duct
            amount = p[R.MASS_FLUX].to_numpy() * content
            want = np.abs(amount / amount[0] - 1.0).max()
        elif kind == "batch":  # closed: m (b + s)
            amount = p[R.GAS_MASS].to_numpy() * content
            want = np.abs(amount / amount[0] - 1.0).max()
        else:                 # the steady stirred reactor per kg of gas and soot vs the inlet
            inlet = case("psr")
            from fumivex2.species import set_inlet
            set_inlet(gas, inlet.inlet)
            b_in = gas.elemental_mass_fraction(element) / gas.atomic_weight(element) * 1000.0
            mixture = 1.0 + p[R.C_TOT].iloc[0] * 12.011e-3 + p[R.H_TOT].iloc[0] * 1.008e-3
            want = abs(content[0] / mixture / b_in - 1.0)
        got = [c for c in result.checks if c["name"] == f"{element} balance"][0]["value"]
        assert got == pytest.approx(want, rel=1e-3, abs=1e-13), element
        # carbon closes to the integrators' tolerances; hydrogen to the soot model's own
        # hydrogen bookkeeping (dimers keep the hydrogen of their PAHs)
        assert want < (1e-7 if element == "C" else C.BALANCE_TOLERANCE)


def test_flame_balances_and_one_way_coupling_against_cantera_flame(flame_run, gas):
    result, flame = flame_run
    found = checks_of(result)
    # the gas: Cantera's own carbon flows through the burner and the outlet
    Y = np.asarray(flame.Y).T
    rho_u = flame.density * flame.velocity
    b_in = per_kg(gas, flame.burner.Y, "C")[0]
    gas_closure = (0.08 * b_in - rho_u[-1] * per_kg(gas, Y[-1], "C")[0]) / (0.08 * b_in)
    assert found["C balance, gas"]["value"] == pytest.approx(gas_closure, rel=1e-6)
    assert abs(gas_closure) < C.FLAME_GRID_TOLERANCE
    # the soot's carbon out (mdot C_tot at the outlet) against what it took from the gas,
    # the rates due to soot integrated over the soot grid with the atoms of each species
    z = result.profiles[R.HEIGHT].to_numpy()
    rates = result.rates
    carbon_rate = sum(-rates[f"{s} [kmol/(m3 s)]"].to_numpy() * gas.n_atoms(s, "C") * 1000.0
                      for s in gas.species_names)
    uptake = np.sum(0.5 * (carbon_rate[1:] + carbon_rate[:-1]) * np.diff(z))
    out = rho_u[-1] * result.profiles[R.C_TOT].iloc[-1]
    assert found["C balance, soot"]["value"] == pytest.approx((uptake - out) / uptake, rel=1e-3)
    assert found["C balance, soot"]["passed"] and found["mass balance, soot"]["passed"]
    # one way: the soot takes its carbon from a gas that keeps it
    assert found["C balance as computed"]["value"] == pytest.approx(-out / (0.08 * b_in),
                                                                    rel=1e-6)
    # pyrene: the soot's consumption against the largest pyrene flux of Cantera's flame
    i = gas.species_index("A4")
    consumed = -rates["A4 [kmol/(m3 s)]"].to_numpy()
    consumed = np.sum(0.5 * (consumed[1:] + consumed[:-1]) * np.diff(z))
    flux = np.max(rho_u * Y[:, i] / gas.molecular_weights[i])
    ratio = found["soot uptake of A4"]["value"]
    assert ratio == pytest.approx(consumed / flux, rel=0.05)
    assert ratio > 1.0 and not found["soot uptake of A4"]["passed"]
    # flagged for that alone: every other check passes
    assert result.status == R.SUSPECT and result.extra["finished as"] == R.CONVERGED
    assert result.message.startswith("suspect: the gas would feel the soot (soot profiles")
    assert all(c["passed"] for c in result.checks if c["kind"] != "one-way"), result.checks
    assert found["soot residual"]["value"] < case("flame").soot_solver.tolerance


# ---- broken on purpose ------------------------------------------------------------------------

def broken(result, how):
    r = copy.deepcopy(result)
    r.status = r.extra.get("finished as", r.status)
    r.extra.pop("checks", None)
    how(r)
    return C.check_run(r)


def halve(column, table="profiles", start=0.5):
    def how(r):
        t = r.extra["mass_fractions"] if table == "Y" else r.profiles
        later = np.arange(len(t)) >= int(start * len(t))
        t[column] = np.where(later, 0.5 * t[column], t[column])
    return how


def scale(column, factor, row):
    def how(r):
        x = r.profiles[column].to_numpy(dtype=float).copy()
        x[row] *= factor
        r.profiles[column] = x
    return how


@pytest.mark.parametrize("kind, how, failed", [
    ("pfr", halve("Y_C2H2 [-]", "Y"), "C balance"),          # acetylene lost downstream
    ("pfr", halve(R.MASS_FLUX, start=0.9), "mass balance"),  # mass lost at the end
    ("batch", scale(R.GAS_MASS, 0.99, -1), "mass balance"),  # 1 % of the gas gone
    ("batch", halve("Y_C2H2 [-]", "Y", 0.8), "C balance"),   # acetylene lost late
    ("psr", halve("Y_CO [-]", "Y", 0.0), "O balance"),       # the stirred reactor's CO
    ("psr", scale(R.GAS_MASS, 0.5, 4), "mass balance"),      # the parcel halved
    ("pfr", scale(R.C_TOT, -1.0, -1), "positivity"),          # negative soot
])
def test_a_result_broken_on_purpose_is_suspect(runs, kind, how, failed):
    r = broken(runs[kind], how)
    assert r.status == R.SUSPECT and r.message.startswith("suspect: ")
    assert failed in r.message
    assert not checks_of(r)[failed]["passed"]
    assert R.exit_status(r.status) == 4 and runs[kind].status == R.COMPLETED


def test_a_flame_whose_soot_lost_carbon_or_primaries_is_suspect(flame_run):
    result = flame_run[0]
    r = broken(result, scale(R.C_TOT, 0.9, -1))       # soot carbon missing at the outlet
    assert not checks_of(r)["C balance, soot"]["passed"]
    p = result.profiles
    i = int(np.argmax(p[R.C_TOT]))                   # the soot's peak: surely meaningful
    r = broken(result, scale(R.N_PRI, 0.5 * p[R.N_AGG].iloc[i] / p[R.N_PRI].iloc[i], i))
    check = checks_of(r)["N_pri >= N_agg"]
    assert check["value"] == 1.0 and not check["passed"] and "N_pri" in check["where"]
    # the ratio below one is never written
    assert np.isnan(r.profiles[R.N_P].iloc[i]) and np.isnan(r.profiles[R.D_M].iloc[i])
    assert r.profiles[R.N_P].dropna().min() >= 1.0


# ---- derived values, failed and suspect runs on disk ------------------------------------------

def synthetic(kind="flame", status="converged", n=12, **overrides):
    """A result of `n` rows: soot at its floors in the first three, meaningful after."""
    c = case(kind, **overrides)
    x = np.linspace(0.0, 0.02, n)
    grow = np.where(np.arange(n) < 3, 0.0, np.linspace(0.0, 1.0, n))
    state = {v: FLOORS[v] + s * grow for v, s in
             zip(FLOORS, (1e-8, 3e-8, 1e-2, 2e-3))}
    p = pd.DataFrame({R.POSITIONS[kind]: x, R.T: 1500.0 + 0.0 * x, R.DENSITY: 0.2 + 0.0 * x,
                      R.VELOCITY: 1.0 + 0.0 * x,
                      R.N_AGG: state["N_agg"], R.N_PRI: state["N_pri"],
                      R.C_TOT: state["C_tot"], R.H_TOT: state["H_tot"],
                      R.FV: 1e-7 * grow + 1e-27, R.NUMBER: state["N_agg"] * Av * 0.2,
                      R.D_P: 2.0 + 10 * grow, R.D_M: 2.0 + 20 * grow,
                      R.N_P: state["N_pri"] / state["N_agg"],
                      R.HC: state["H_tot"] / state["C_tot"]})
    return R.RunResult(c, p, status, "stand-in")


def test_derived_values_only_where_the_soot_means_something(tmp_path):
    from fumivex2.output import run_figures, write_run
    r = synthetic()
    r.profiles.loc[5, R.N_PRI] = 0.5 * r.profiles.loc[5, R.N_AGG]   # inconsistent
    r.profiles.loc[2, R.N_PRI] = 1e3 * FLOORS["N_pri"]              # primaries, no aggregates
    r.profiles.loc[1, R.N_PRI] = 0.5 * FLOORS["N_agg"]              # noise at the floors:
    r.profiles.loc[0, R.C_TOT] = -2.0 * FLOORS["C_tot"]             # within the checks' noise
    C.check_run(r)
    p = r.profiles
    for col in (R.NUMBER, R.N_P, R.D_P, R.D_M, R.HC):
        assert p[col].iloc[:3].isna().all(), col                   # at the floors: empty
        assert p[col].iloc[6:].notna().all(), col
    assert p[[R.N_P, R.D_M, R.D_P]].iloc[5].isna().all() and p[R.NUMBER].notna().iloc[5]
    assert p[R.FV].notna().all()                                    # not derived from a ratio
    assert r.extra["derived values left empty"][R.N_P] == 4
    assert r.status == R.SUSPECT and "N_pri >= N_agg beyond tolerance" in r.message
    folder = write_run(r, tmp_path / "out")
    csv = pd.read_csv(folder / "profiles.csv")
    assert csv[R.N_P].isna().sum() == 4 and (csv[R.N_P].dropna() >= 1.0).all()
    # the soot variables themselves: noise below what the run resolves is not written
    assert csv.loc[1, [R.N_AGG, R.N_PRI]].isna().all() and np.isnan(csv.loc[0, R.C_TOT])
    assert csv[[R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT]].iloc[2:].notna().all().all()
    unresolved = csv[R.N_PRI] < csv[R.N_AGG]
    assert list(csv.index[unresolved]) == [5]                       # the meaningful one, flagged
    summary = (folder / "summary.txt").read_text()
    assert summary.startswith("SUSPECT: N_pri >= N_agg beyond tolerance (stand-in)")
    assert "primaries per aggregate 4 points" in summary
    metrics = pd.read_csv(folder / "metrics.csv")
    row = metrics[metrics["quantity"] == "N_pri >= N_agg"].iloc[0]
    assert row["data"] == C.CHECK_ROW and row["value"] == 1 and not row["passed"]
    figures, _ = run_figures(r, label=C.status_tag(r))
    assert all("suspect: N_pri >= N_agg" in f.axes[0].get_title() for f in figures.values())


def test_a_failed_run_is_said_first_and_draws_nothing_blown_up(tmp_path):
    """The pressure slip of a flame (1 Pa) warns, then the soot blows up: the failure names
    the warning, the summary starts with the status, the plots and summary hold no value
    beyond what particles can be."""
    from fumivex2.cases import CaseWarning
    from fumivex2.output import write_run
    with pytest.warns(CaseWarning, match="inlet.pressure is 1 Pa"):
        r = synthetic(status="failed", **{"inlet.pressure": 1.0})
    r.message = "the soot variables became NaN or infinite in step 44"
    r.profiles.loc[11, [R.FV, R.D_M, R.D_P, R.NUMBER]] = [1.9e125, 1.9e14, 3e12, 1e131]
    r.profiles.loc[10, R.FV] = np.inf
    C.check_run(r)
    assert r.status == R.FAILED           # a failure stays one, whatever the checks say
    assert "likely cause: inlet.pressure is 1 Pa" in r.message
    folder = write_run(r, tmp_path / "failed")
    summary = (folder / "summary.txt").read_text()
    assert summary.startswith("RUN FAILED: the soot variables became NaN or infinite in step "
                              "44; the case was warned about, the likely cause: inlet.pressure")
    assert not re.search(r"e\+1[0-9]{2}|e\+14\b|\binf\b|\bnan\b", summary), summary
    from fumivex2.output import run_figures
    figures, _ = run_figures(r, label=C.status_tag(r))
    for stem, fig in figures.items():
        ax = fig.axes[0]
        assert "(RUN FAILED)" in ax.get_title(), stem
        for line in ax.get_lines():
            y = np.asarray(line.get_ydata(), dtype=float)
            assert np.all(np.isnan(y) | (np.isfinite(y) & (np.abs(y) < 1e28))), stem
    assert figures["soot_volume_fraction"].axes[0].get_ylim()[1] < 1.0


def test_status_words_and_exit_statuses_are_defined_once():
    assert {s: R.exit_status(s) for s in R.STATUSES} == {
        "completed": 0, "converged": 0, "failed": 1, "step budget used": 3,
        "not converged": 3, "suspect": 4}
    assert R.exit_status("error") == 1
    from fumivex2.cli import _STATUS
    assert "4 suspect" in _STATUS and "4 suspect" in R.exit_status_help()
