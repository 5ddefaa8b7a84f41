"""update_gas / update_solution: storage, clamping, caches and bad input."""
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
