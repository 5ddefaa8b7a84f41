"""Soot oxidation by O2 and OH: site-based and surface-flux rates."""
import math

import numpy as np
import pytest

from conftest import flame_X, ready_model

MW_C = 0.012011
REL = 1e-12
H_OVER_C_METHODS = ["dC_tot_dt_O2_alt", "dC_tot_dt_OH_alt", "dH_tot_dt_O2_alt",
                    "dH_tot_dt_OH_alt", "dH_tot_dt_O2", "dH_tot_dt_OH"]


def conc(m, index):
    return np.asarray(m.X)[index] * m.density / m.mean_MW


def omega_O2(m):
    T, p = m.T, m.P * np.asarray(m.X)[m.O2_index] / 101325.0
    k_A = 20 * math.exp(-30000 / (1.987 * T))
    k_B = 0.00446 * math.exp(-15200 / (1.987 * T))
    k_T = 151000 * math.exp(-97000 / (1.987 * T))
    k_Z = 21.3 * math.exp(4100 / (1.987 * T))
    x = 1 / (1 + (k_T / k_B) * p)
    return 420 * k_A * p / (1 + k_Z * p) * x + k_B * p * (1 - x)


def omega_OH(m):
    return 167.70000000000002 * (m.P * np.asarray(m.X)[m.OH_index] / 101325.0) / m.T ** 0.5


def test_site_based_rates_and_their_caches():
    m = ready_model()
    k5 = 2200000 * math.exp(-3774.53 / m.T)
    O2 = -2 * m.alpha() * k5 * conc(m, m.O2_index) * m.c_soot_nought()
    OH = -0.13 * conc(m, m.OH_index) * m.N_agg * m.density
    assert m.dC_tot_dt_O2_alt() == pytest.approx(O2, rel=REL)
    assert m.dC_tot_dt_OH_alt() == pytest.approx(OH, rel=REL)
    assert m.dH_tot_dt_O2_alt() == 0.0 and m.dH_tot_dt_OH_alt() == 0.0
    assert (m.p_dC_tot_dt_O2, m.p_dC_tot_dt_OH) == (m.dC_tot_dt_O2_alt(), m.dC_tot_dt_OH_alt())
    assert m.dC_tot_dt_Ox() == m.p_dC_tot_dt_OH + m.p_dC_tot_dt_O2
    # the totals report the caches, not fresh values
    m.p_dC_tot_dt_OH, m.p_dC_tot_dt_O2 = -1.0, -2.5
    m.p_dH_tot_dt_OH, m.p_dH_tot_dt_O2 = -0.25, -0.5
    assert (m.dC_tot_dt_Ox(), m.dH_tot_dt_Ox()) == (-3.5, -0.75)


def test_hydrogen_poor_soot_is_not_oxidised_by_site_rates():
    C = 1.9e-2
    m = ready_model(solution=[8.0e-8, 2.4e-7, C, 0.1 * C])
    assert m.H_tot / m.C_tot == 0.1
    assert m.dC_tot_dt_O2_alt() == 0.0 and m.dC_tot_dt_OH_alt() == 0.0
    assert m.dH_tot_dt_O2() == 0.0 and m.dH_tot_dt_OH() == 0.0
    assert m.dC_tot_dt_O2() < 0.0  # the carbon surface flux has no H/C gate
    m = ready_model(solution=[8.0e-8, 2.4e-7, C, 0.1000001 * C])
    assert m.dC_tot_dt_O2_alt() < 0.0 and m.dC_tot_dt_OH_alt() < 0.0
    assert m.dH_tot_dt_O2() < 0.0


def test_surface_flux_rates():
    m = ready_model()
    assert m.omega_O2() == pytest.approx(omega_O2(m), rel=REL)
    assert m.omega_OH() == pytest.approx(omega_OH(m), rel=REL)
    for species, omega in (("O2", omega_O2(m)), ("OH", omega_OH(m))):
        expected = -omega * m.p_A_tot / MW_C
        assert getattr(m, f"dC_tot_dt_{species}")() == pytest.approx(expected, rel=REL)
        assert getattr(m, f"dH_tot_dt_{species}")() == pytest.approx(expected, rel=REL)
    # primaries not larger than the smallest particle are spared
    m.p_d_p = m.d_p_min
    assert m.dC_tot_dt_O2() == 0.0 and m.dC_tot_dt_OH() == 0.0
    m = ready_model(solution=[0.0, 0.0, 0.0, 0.0])  # floors: p_d_p just below d_p_min
    assert m.p_d_p < m.d_p_min
    assert m.dC_tot_dt_O2() == 0.0 and m.dC_tot_dt_OH() == 0.0


def test_no_oxygen_no_O2_oxidation():
    m = ready_model(X=flame_X({"O2": 0.0}))
    assert m.omega_O2() == 0.0
    assert m.dC_tot_dt_O2_alt() == 0.0
    m = ready_model(X=flame_X({"O2": -1e-6, "OH": -1e-6}))
    assert m.dC_tot_dt_O2_alt() == 0.0 and m.dC_tot_dt_OH_alt() == 0.0  # clipped
    assert m.omega_O2() == pytest.approx(omega_O2(m), rel=REL)  # partial pressure unclipped


def test_carbon_free_soot_raises_float_division():
    m = ready_model()
    m.C_tot_min = 0.0
    m.PAH_growth_update = lambda: None
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.update_solution(np.array([8.0e-8, 2.4e-7, 0.0, 3.8e-3]))
    assert m.C_tot == 0.0
    for name in H_OVER_C_METHODS:
        with pytest.raises(ZeroDivisionError, match="^float division$"):
            getattr(m, name)()
