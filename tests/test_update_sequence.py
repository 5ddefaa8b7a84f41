"""update_gas / update_solution: storage, clamping, caches and bad input."""
import weakref

import numpy as np
import pytest

import fumivex2 as fv
from conftest import SOLUTION, configure, gas_args

Av = 6.02214076e23


def test_update_gas_stores_state_and_resets_scrubbing(model):
    X = np.array([0.1, 0.2, 0.7])
    model.scrub_wdot = np.ones(5)
    model.update_gas(1500.0, 101325.0, 0.2, 5e-5, 28.0, X)
    assert (model.T, model.P, model.density, model.viscosity, model.mean_MW) == (
        1500.0, 101325.0, 0.2, 5e-5, 28.0 / 1000)
    assert model.X is X
    assert model.scrub_wdot.shape == (3,) and not model.scrub_wdot.any()
    lam = (5e-5 / 0.2) * (3.1415926535 * 0.028 / (2 * 1.3806488e-23 * 6.02214076e23 * 1500.0)) ** 0.5
    assert model.p_lambda_gas == pytest.approx(lam, rel=1e-14)
    X[0] = 0.5  # no copy: later changes are seen
    assert model.molar_density(0) == pytest.approx(0.5 * 0.2 / 0.028, rel=1e-14)
    model.update_gas(1500.0, 101325.0, 0.2, 5e-5, 28.0, X.astype(np.float32))
    assert model.scrub_wdot.dtype == np.float32


def test_arrays_held_by_the_caller_keep_their_values():
    """update_gas gives the model a zeroed scrub_wdot; an array someone else still
    references (directly, through a view or a weak reference, or as the owner of the
    model's view) is never zeroed in place."""
    m = configure(fv.CSootModel())
    args = gas_args()

    def scrubbed():
        m.update_gas(*args)
        m.update_solution(SOLUTION)
        m.update_scrub_wdot()
        assert m.scrub_wdot.any()
        return m.scrub_wdot.copy()

    before = scrubbed()
    held = m.scrub_wdot
    m.update_gas(*args)
    assert m.scrub_wdot is not held and not m.scrub_wdot.any()
    np.testing.assert_array_equal(held, before)
    m.update_scrub_wdot()  # accumulates into the model's current array
    np.testing.assert_array_equal(held, before)

    before = scrubbed()
    view = m.scrub_wdot[1:4]
    m.update_gas(*args)
    np.testing.assert_array_equal(view, before[1:4])

    before = scrubbed()
    ref = weakref.ref(m.scrub_wdot)
    m.update_gas(*args)
    assert ref() is None or np.array_equal(ref(), before)

    buffer = np.arange(2.0 * len(args[-1]))
    m.scrub_wdot = buffer[:len(args[-1])]  # contiguous, but the data belong to `buffer`
    m.update_gas(*args)
    np.testing.assert_array_equal(buffer, np.arange(2.0 * len(args[-1])))
    assert not m.scrub_wdot.any()

    scrubbed()  # referenced by the model alone: the next point still starts from zeros
    m.update_gas(*args)
    assert not m.scrub_wdot.any()


@pytest.mark.parametrize("steady", [True, False])
def test_rate_arrays_are_written_in_place_and_replaced_by_initialize(steady):
    names = ["p_ROP", "phy_dimer_wdot", "soot_PAH_wdot", "dimer_n_C", "dimer_n_H"]
    m = configure(fv.CSootModel())
    if not steady:  # transported pseudo-species: real species stand in for them
        m.phy_dimer_index_in_gas, m.soot_PAH_index_in_gas = list(range(10)), [1, 3, 5, 7]
        m.steady_state_physical_dimerization = m.steady_state_PAH_adsorption = False
    m.update_gas(*gas_args())
    m.update_solution(SOLUTION)
    held = {n: getattr(m, n) for n in names}
    first = {n: a.copy() for n, a in held.items()}
    m.update_gas(*gas_args(T=1700.0))
    m.update_solution(SOLUTION)
    assert all(getattr(m, n) is held[n] for n in names)  # refreshed element by element
    assert not np.array_equal(held["p_ROP"], first["p_ROP"])
    assert np.array_equal(held["phy_dimer_wdot"], first["phy_dimer_wdot"]) == steady
    values = {n: a.copy() for n, a in held.items()}
    m.initialize()  # new tables; the old arrays stay with their holders
    for n in names:
        assert getattr(m, n) is not held[n]
        np.testing.assert_array_equal(held[n], values[n])
    assert not m.p_ROP.any() and not m.soot_PAH_wdot.any()


def test_update_solution_clamps_to_the_floors():
    m = configure(fv.CSootModel())
    m.update_gas(*gas_args())
    m.update_solution(np.zeros(4))
    assert (m.N_agg, m.N_pri, m.C_tot, m.H_tot) == (1 / Av, 1 / Av, 378 / Av, 20 / Av)
    sol = np.array([-1.0, 2e-7, m.C_tot_min, np.nan])
    m.update_solution(sol)
    assert m.N_agg == m.N_agg_min and m.N_pri == 2e-7 and m.C_tot == m.C_tot_min
    assert np.isnan(m.H_tot)
    assert sol[0] == -1.0  # the caller's array is not modified
    m.update_solution(SOLUTION)
    assert m.p_d_p == m.d_p() and m.p_d_m == m.d_m() and m.p_d_g == m.d_g()
    assert m.p_A_tot == m.A_tot()
    assert m.p_dC_tot_dt_HACA_alt == m.dC_tot_dt_HACA_alt()
    assert m.p_dC_tot_dt_O2 == m.dC_tot_dt_O2_alt() and m.p_dC_tot_dt_OH == m.dC_tot_dt_OH_alt()
    # other layouts: strided views, integer arrays, subclasses
    m.update_solution(np.repeat(SOLUTION, 2)[::2])
    assert m.C_tot == SOLUTION[2]
    m.update_solution(np.array([1, 1, 1, 1]))
    assert m.C_tot == 1.0
    m.update_solution(np.ma.masked_array(SOLUTION))
    assert m.H_tot == SOLUTION[3]


def test_each_variable_is_clamped_to_its_own_floor():
    m = configure(fv.CSootModel())
    m.update_gas(*gas_args())
    floors = [2.0e-9, 3.0e-9, 5.0e-4, 7.0e-5]  # N_agg, N_pri, C_tot, H_tot: all distinct
    m.N_agg_min, m.N_pri_min, m.C_tot_min, m.H_tot_min = floors
    # each value below its own floor but above the floor of a neighbour, then each just
    # above its own floor but below a neighbour's: a floor read from another variable shows
    for sol, expected in [([1.0e-9, 2.5e-9, 4.0e-4, 6.0e-5], floors),
                          ([2.5e-9, 3.5e-9, 6.0e-4, 8.0e-5], [2.5e-9, 3.5e-9, 6.0e-4, 8.0e-5])]:
        m.update_solution(np.array(sol))
        assert [m.N_agg, m.N_pri, m.C_tot, m.H_tot] == expected
        V_p = m.C_tot * 0.012011 / 1800.0 / (m.N_pri * Av)  # the sizes use the clamped values
        assert m.p_d_p == pytest.approx((6 * V_p / 3.1415926535) ** 0.333334, rel=1e-13)


def test_bad_solutions_raise_and_keep_earlier_variables():
    m = configure(fv.CSootModel())
    m.update_gas(*gas_args())
    m.update_solution(SOLUTION)
    with pytest.raises(IndexError):
        m.update_solution(np.array([5e-8, 1e-7]))
    assert m.N_agg == 5e-8 and m.N_pri == 1e-7 and m.C_tot == SOLUTION[2]
    with pytest.raises(TypeError):
        m.update_solution(None)
    with pytest.raises(TypeError):
        m.update_solution(np.array(["a", "b", "c", "d"], dtype=object))
    with pytest.raises(TypeError):
        m.update_solution(np.ones((4, 4)))
    m.update_solution(np.ones((4, 4))[:, 0] * 0)  # a 1-D column view is fine


def test_bad_state_never_crashes():
    m = configure(fv.CSootModel())
    with pytest.raises(TypeError):
        m.update_solution(SOLUTION)  # no gas state yet: X is None
    m.X = gas_args()[-1]
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.update_solution(SOLUTION)  # zero mean molar mass
    m.update_gas(*gas_args())
    m.update_solution(SOLUTION)
    # the first gas index read is 9 (the first PAH); a 2-D X yields a row per index
    for bad, error in ((np.zeros(2), IndexError), (None, TypeError), (np.ones((3, 3)), IndexError),
                       (np.array([], dtype=float), IndexError)):
        m.X = bad
        with pytest.raises(error):
            m.update_solution(SOLUTION)
    m.update_gas(*gas_args())
    m.MWs = np.zeros(2)
    with pytest.raises(IndexError):
        m.update_solution(SOLUTION)
    m.MWs = None
    with pytest.raises(TypeError):
        m.update_solution(SOLUTION)
    m.MWs = np.ones(len(m.X))
    m.scrub_wdot = None
    m.update_solution(SOLUTION)
    with pytest.raises(TypeError):
        m.update_scrub_wdot()
    m.scrub_wdot = np.zeros(3)
    with pytest.raises(IndexError):
        m.update_scrub_wdot()
    m.scrub_wdot = np.zeros(len(m.X))
    m.scrub_wdot.flags.writeable = False
    with pytest.raises(ValueError):
        m.update_scrub_wdot()
    for index in (10**6, -10**6):
        m.C2H2_index = index
        with pytest.raises(IndexError):
            m.update_solution(SOLUTION)
    with pytest.raises(OverflowError):
        m.C2H2_index = 2**40
    m.C2H2_index = 1
    m.update_solution(SOLUTION)
    for method in ("reduced_m", "k_FWD", "reduced_d", "k_REV"):
        for ids in ((0, 4), (-1, 0), (0, 10**6)):
            with pytest.raises(IndexError):
                getattr(m, method)(*ids)
    for method in ("beta_fm_soot_PAH", "k_f_soot_PAH", "soot_PAH_star", "k_r_soot_PAH",
                   "dC_tot_dt_PAH_each_reactived", "ROP_dimer", "m_PAH", "d_PAH",
                   "PAH_radical", "dC_tot_dt_PAH_each_slfclsn", "k_PAH_ads_irrevd"):
        with pytest.raises(IndexError):
            getattr(m, method)(99)
