"""HACA surface growth, site-fraction (alpha) models and carbonization."""
import math

import numpy as np
import pytest

from conftest import Av, R, flame_X, gas_args, ready_model

KB = 1.3806488e-23
PI10 = 3.1415926535
REL = 1e-12
SIX = ["C2H2", "H2", "H", "O2", "OH", "H2O"]


def conc(m, index):
    return np.asarray(m.X)[index] * m.density / m.mean_MW


def c_soot_nought(m):
    T = m.T
    H, OH, H2, H2O, C2H2, O2 = (max(conc(m, i), 0.0) for i in (
        m.H_index, m.OH_index, m.H2_index, m.H2O_index, m.C2H2_index, m.O2_index))
    k1f, k1b = 4.17e7 * math.exp(-6542.52 / T), 3900000 * math.exp(-5535.98 / T)
    k2f = 10000.0 * T ** 0.734 * math.exp(-719.68 / T)
    k2b = 368 * T ** 1.139 * math.exp(-8605.94 / T)
    k4 = 80 * T ** 1.56 * math.exp(-1912.43 / T)
    k5 = 2200000 * math.exp(-3774.53 / T)
    den = k1b * H2 + k2b * H2O + 2e7 * H + k4 * C2H2 + k5 * O2 + k1f * H + k2f * OH
    if den == 0:
        return 0.0
    f = min(max((k1f * H + k2f * OH) / den, 0.0), 1.0)
    return 2.3e19 * f * m.p_A_tot / Av


def alpha_empirical(m):
    mu = PI10 * 1800.0 / 6 * m.d_p() ** 3 * Av / 0.012011
    x = ((12.65 - 0.00563 * m.T) / math.log10(mu) - 1.38) + 0.00068 * m.T
    return min(max(math.tanh(x), 0.0), 1.0)


@pytest.mark.parametrize("alpha_model", [0, 1, 2])
def test_site_balance_growth_with_each_alpha_model(alpha_model):
    m = ready_model()
    m.alpha_constant_value = 0.37
    m.HACA_prefactor = 1.7
    m._set_alpha_model(alpha_model)
    alpha = [0.37, alpha_empirical(m), m.H_tot / m.C_tot][alpha_model]
    assert m.alpha() == pytest.approx(alpha, rel=REL)
    k4 = 80 * m.T ** 1.56 * math.exp(-1912.43 / m.T)
    growth = 2 * 1.7 * alpha * k4 * conc(m, m.C2H2_index) * c_soot_nought(m)
    assert m.c_soot_nought() == pytest.approx(c_soot_nought(m), rel=REL)
    assert m.dC_tot_dt_HACA_alt() == pytest.approx(growth, rel=REL)
    assert m.dH_tot_dt_HACA_alt() == 0.125 * m.dC_tot_dt_HACA_alt()
    # the caches keep the values of the last update_solution
    assert m.p_dC_tot_dt_HACA_alt != m.dC_tot_dt_HACA_alt()


def test_collision_form_matches_the_equations():
    m = ready_model()
    T, Ks = m.T, 80 * m.T ** 1.56 * math.exp(-1912.4 / m.T)
    chi = min(3.833e17 * conc(m, m.H_index) / conc(m, m.H2_index), 2.3e19)
    beta = 2.2 * PI10 * (m.p_d_p + 3.48e-10) ** 2 * (
        KB * T / (2 * PI10) * (1 / m.m_p() + 2.506265664160401e25)) ** 0.5
    gamma = m.alpha() * Ks * chi * m.A_Ag() / (beta * Av)
    assert m.K_s() == pytest.approx(Ks, rel=REL)
    assert m.chi_soot_0() == pytest.approx(chi, rel=REL)
    assert m.beta_soot_C2H2() == pytest.approx(beta, rel=REL)
    assert m.gamma() == pytest.approx(gamma, rel=REL)
    assert m.dC_tot_dt_HACA() == pytest.approx(
        2 * gamma * beta * conc(m, m.C2H2_index) * m.N_agg * Av, rel=REL)


@pytest.mark.parametrize("zeros", [["H", "OH"], SIX], ids=["no_H_OH", "none_of_six"])
def test_no_radical_sites_without_abstracting_species(zeros):
    m = ready_model(X=flame_X({s: 0.0 for s in zeros}))
    assert m.c_soot_nought() == 0.0
    assert m.dC_tot_dt_HACA_alt() == 0.0
    assert m.chi_soot_0() == 0.0


def test_concentration_guards_and_caps():
    m = ready_model(X=flame_X({"C2H2": -1e-6}))
    assert m.dC_tot_dt_HACA_alt() < 0.0  # site-balance form uses [C2H2] as is
    assert m.dC_tot_dt_HACA() == 0.0     # collision form clips it
    m = ready_model(X=flame_X({"H": 0.05, "H2": 1e-4}))
    assert m.chi_soot_0() == 2.3e19
    m = ready_model(solution=[8.0e-8, 2.4e-7, 1.0e-3, 2.0e-3])
    assert m.alpha_ctoh_based() == 1.0


def test_alpha_empirical_limits(model):
    model.update_gas(*gas_args(T=1500.0))
    assert model.alpha_empirical() == pytest.approx(alpha_empirical(model), rel=REL)
    assert 0.8 < model.alpha_empirical() < 0.9
    model.update_gas(*gas_args(T=2500.0))
    assert model.alpha_empirical() == 0.0  # tanh(x) < 0 clipped


def test_carbonization():
    m = ready_model()
    m.A_carb, m.Ea_carb = 1.0e6, 5.0e4
    assert m.dH_tot_dt_carb() == 0.0 and m.p_dH_tot_dt_carb == 0.0
    m.carbonization_enabled = True
    expected = -m.H_tot * 1.0e6 * math.exp(-5.0e4 / (R * m.T))
    assert m.dH_tot_dt_carb() == pytest.approx(expected, rel=REL)


def test_zero_temperature_raises_float_division(model):
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        model.update_gas(0.0, 101325.0, 0.2, 5e-5, 28.0, flame_X())  # mean free path
    model.carbonization_enabled = True
    for name in ("K_s", "dH_tot_dt_carb"):
        with pytest.raises(ZeroDivisionError, match="^float division$"):
            getattr(model, name)()
