"""An exact CSootModel (no overrides: per-call memo and direct pair kinetics)
against a trivial subclass (every method through the late-binding path): the
per-point sequence must give bit-identical results, errors and partial state."""
import numpy as np
import pytest

import fumivex2 as fv
from conftest import NAMES, SOLUTION, configure, flame_X, gas_args


class Sub(fv.CSootModel):
    pass


# real species stand in for the ten transported dimers and four complexes of model 1
DIMERS = [NAMES.index(s) for s in ("CO2", "H2O", "O2", "OH", "CO", "H", "H2", "C2H2", "A1", "A2")]
COMPLEXES = [NAMES.index(s) for s in ("CO2", "OH", "H", "A3")]
ARRAYS = ["omega_PAH", "a_inc", "b_cond", "_dimer_", "w_inc", "w_cond", "dimer_weight",
          "phy_dimer_wdot", "soot_PAH_wdot", "scrub_wdot"]
SCALARS = ["omega_PAH_tot", "a_lumpinc", "b_lumpcond", "_lumpdimer_", "w_lumpinc", "w_lumpcond",
           "lumpdimer_n_C", "lumpdimer_n_H"]

# (T, X, solution) of successive points: flame, negative mole fractions, a hot
# point with more soot, a cold hydrogen-rich one
POINTS = [
    (1600.0, flame_X(), SOLUTION),
    (1500.0, flame_X({"A2": -5e-5, "H": -1e-4, "CO2": -1e-3, "OH": -1e-6}), SOLUTION),
    (2100.0, flame_X({"A1": 3e-4, "O2": 2e-2}), [1e-6, 5e-5, 0.5, 0.02]),
    (1200.0, flame_X({"H": 0.0, "A4": 0.0}), [8e-8, 2.4e-7, 1.9e-2, 3e-2]),
]

SETTINGS = {
    "default": {},
    "options": {"modified_particle_addition": True, "carbonization_enabled": True,
                "_set_coales_type": 1, "K_T_factor": 2.0},
    "merging": {"_set_coales_type": 4, "_set_validation_case": 1, "HACA_prefactor": 1.7},
    "transported": {"steady_state_physical_dimerization": False, "phy_dimer_index_in_gas": DIMERS,
                    "steady_state_PAH_adsorption": False, "soot_PAH_index_in_gas": COMPLEXES},
}


def build(cls, growth, alpha, settings):
    m = configure(cls(), growth)
    m._set_alpha_model(alpha)
    for name, value in settings.items():
        if name.startswith("_set_"):
            getattr(m, name)(value)
        else:
            setattr(m, name, value)
    return m


def bits(v):
    return np.asarray(v, dtype=float).tobytes()


def run_point(m, T, X, solution):
    """The driver sequence; everything it leaves behind, or the error and the state."""
    out = {}
    try:
        m.update_gas(*gas_args(T=T, X=np.array(X)))
        m.update_solution(np.array(solution, dtype=float))
        out["S"] = [m.S_N_agg(), m.S_N_pri(), m.S_C_tot(), m.S_H_tot()]
        m.update_scrub_wdot()
    except (ArithmeticError, LookupError) as e:
        out["error"] = (type(e), str(e))
    for name in [a for a in dir(m) if a.startswith("p_")] + ARRAYS + SCALARS:
        out[name] = bits(getattr(m, name))
    return out


def assert_same_run(growth, alpha, settings, points=POINTS, between=None):
    base, sub = (build(cls, growth, alpha, settings) for cls in (fv.CSootModel, Sub))
    for k, point in enumerate(points):
        got, want = run_point(base, *point), run_point(sub, *point)
        assert got.keys() == want.keys()
        for name in want:
            assert got[name] == want[name], f"point {k}: {name}"
        if between:
            between(base), between(sub)
    return got


@pytest.mark.parametrize("alpha", [0, 1, 2])
@pytest.mark.parametrize("settings", SETTINGS, ids=str)
def test_fast_path_is_bit_identical(growth_model, alpha, settings):
    if settings == "transported" and growth_model != 1:
        pytest.skip("transported dimers and complexes belong to growth model 1")
    last = assert_same_run(growth_model, alpha, SETTINGS[settings])
    assert "error" not in last


def test_changed_configuration_between_points_is_seen(growth_model):
    def tweak(m):  # molar masses and atom counts changed in place, as a user may
        m.MWs[m.PAH_index_in_gas[1]] *= 1.01
        m.PAH_Number_Carbon = [6.0, 10.0, 15.0, 16.0]
    assert_same_run(growth_model, 1, {}, between=tweak)


# settings and the growth models in which they make the point fail
FAULTS = {
    "no_atoms": ({"PAH_Number_Carbon": [6.0, 0.0, 14.0, 16.0],
                  "PAH_Number_Hydrogen": [6.0, 0.0, 10.0, 10.0]}, {1, 4, 5}),
    "gas_index": ({"PAH_index_in_gas": [9, 10, 11, 99]}, {1, 2, 3, 4, 5}),
    "two_faults": ({"PAH_index_in_gas": [9, 99, 11, 12], "PAH_Number_Carbon": [0.0, 10.0, 14.0, 16.0],
                    "PAH_Number_Hydrogen": [0.0, 8.0, 10.0, 10.0]}, {1, 2, 3, 4, 5}),
    "scrub_division": ({"PAH_Number_Hydrogen": [6.0, 2.0, 10.0, 10.0], "inception_enabled": False},
                       {1, 5}),
    "key_index": ({"H_index": 40}, {1, 2, 3, 4, 5}),
    # model 1 fails on its first pair (no loss) before it reaches the bad PAH
    "pair_first": ({"k_FWD_prefactor": 0.0, "K_REACT_prefactor": 0.0,
                    "PAH_index_in_gas": [9, 10, 11, 99]}, {1, 2, 3, 4, 5}),
}


@pytest.mark.parametrize("fault", FAULTS, ids=str)
def test_errors_and_partial_state_match(growth_model, fault):
    settings, failing = FAULTS[fault]
    last = assert_same_run(growth_model, 1, settings, points=POINTS[:2])
    assert ("error" in last) == (growth_model in failing)


def test_foreign_slot_code_is_seen(growth_model):
    def setup(m):
        # a foreign alpha that changes the gas composition in the middle of the update
        def alpha():
            m.X[NAMES.index("H")] *= 1.5
            m.X[NAMES.index("A1")] *= 1.1
            return 0.5
        m.alpha = alpha

    base, sub = (build(cls, growth_model, 1, {}) for cls in (fv.CSootModel, Sub))
    setup(base), setup(sub)
    for point in POINTS:
        assert run_point(base, *point) == run_point(sub, *point)


def test_written_array_sharing_memory_with_X():
    # every write of the transported dimers' rates changes the gas state
    base, sub = (build(cls, 1, 1, SETTINGS["transported"]) for cls in (fv.CSootModel, Sub))
    for T, X, solution in POINTS[:2]:
        got, want = {}, {}
        for m, out in ((base, got), (sub, want)):
            m.update_gas(*gas_args(T=T, X=np.array(X)))
            m.phy_dimer_wdot = m.X[2:12]
            m.update_solution(np.array(solution, dtype=float))
            out.update(X=bits(m.X), caches=[bits(getattr(m, a)) for a in dir(m) if a.startswith("p_")])
        assert got == want


def test_stale_pair_tables_fail_alike():
    # model 1's pair tables left behind with no PAHs and an empty p_ROP: the
    # first scrubbing term fails on both the PAH index and the rate
    errors = []
    for cls in (fv.CSootModel, Sub):
        m = configure(cls(), 1)
        m.update_gas(*gas_args())
        m.update_solution(SOLUTION.copy())
        m.PAH_index_in_gas, m.PAH_Number_Carbon, m.PAH_Number_Hydrogen = [], [], []
        m._set_PAH_growth_model(4)
        m.initialize()
        m._set_PAH_growth_model(1)
        with pytest.raises(IndexError) as info:
            m.update_scrub_wdot_PAH_growth_reactived()
        errors.append(str(info.value))
    assert errors[0] == errors[1]
