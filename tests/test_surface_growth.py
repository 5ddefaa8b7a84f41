"""Surface reactions: HACA growth, site fractions, carbonization and oxidation."""
import math

import numpy as np
import pytest

from conftest import Av, R, flame_X, ready_model

KB, PI10, MW_C, REL = 1.3806488e-23, 3.1415926535, 0.012011, 1e-12


def k(A, n, E, T):
    return A * T ** n * math.exp(-E / T)


def conc(m, name):
    return np.asarray(m.X)[getattr(m, name + "_index")] * m.density / m.mean_MW


@pytest.mark.parametrize("alpha_model", [0, 1, 2])
def test_site_balance_growth_and_oxidation(alpha_model):
    m = ready_model()
    m.alpha_constant_value, m.HACA_prefactor = 0.37, 1.7
    m._set_alpha_model(alpha_model)
    T = m.T
    mu = PI10 * 1800.0 / 6 * m.d_p() ** 3 * Av / MW_C
    x = ((12.65 - 0.00563 * T) / math.log10(mu) - 1.38) + 0.00068 * T
    alpha = [0.37, min(max(math.tanh(x), 0.0), 1.0), m.H_tot / m.C_tot][alpha_model]
    H, OH, H2, H2O, C2H2, O2 = (conc(m, s) for s in ("H", "OH", "H2", "H2O", "C2H2", "O2"))
    k1f, k2f, k4, k5 = (k(4.17e7, 0, 6542.52, T), k(10000.0, 0.734, 719.68, T),
                        k(80, 1.56, 1912.43, T), k(2200000, 0, 3774.53, T))
    den = (k(3900000, 0, 5535.98, T) * H2 + k(368, 1.139, 8605.94, T) * H2O + 2e7 * H
           + k4 * C2H2 + k5 * O2 + k1f * H + k2f * OH)
    sites = 2.3e19 * min((k1f * H + k2f * OH) / den, 1.0) * m.p_A_tot / Av
    ref = dict(alpha=alpha, c_soot_nought=sites,
               dC_tot_dt_HACA_alt=2 * 1.7 * alpha * k4 * C2H2 * sites,
               dC_tot_dt_O2_alt=-2 * alpha * k5 * O2 * sites,
               dC_tot_dt_OH_alt=-0.13 * OH * m.N_agg * m.density)
    for name, value in ref.items():
        assert getattr(m, name)() == pytest.approx(value, rel=REL), name
    assert m.dH_tot_dt_HACA_alt() == 0.125 * m.dC_tot_dt_HACA_alt()
    assert (m.dH_tot_dt_O2_alt(), m.dH_tot_dt_OH_alt()) == (0.0, 0.0)


def test_collision_form_and_surface_fluxes():
    m = ready_model()
    T, (p_O2, p_OH) = m.T, m.P * np.asarray(m.X)[[m.O2_index, m.OH_index]] / 101325.0
    chi = min(3.833e17 * conc(m, "H") / conc(m, "H2"), 2.3e19)
    beta = 2.2 * PI10 * (m.p_d_p + 3.48e-10) ** 2 * (
        KB * T / (2 * PI10) * (1 / m.m_p() + 2.506265664160401e25)) ** 0.5
    gamma = m.alpha() * k(80, 1.56, 1912.4, T) * chi * m.A_Ag() / (beta * Av)
    assert (m.chi_soot_0(), m.beta_soot_C2H2()) == pytest.approx((chi, beta), rel=REL)
    assert m.dC_tot_dt_HACA() == pytest.approx(2 * gamma * beta * conc(m, "C2H2") * m.N_agg * Av,
                                               rel=REL)
    kA, kB, kT, kZ = (A * math.exp(-E / (1.987 * T)) for A, E in
                      ((20, 30000), (0.00446, 15200), (151000, 97000), (21.3, -4100)))
    x = 1 / (1 + (kT / kB) * p_O2)
    omega = {"O2": 420 * kA * p_O2 / (1 + kZ * p_O2) * x + kB * p_O2 * (1 - x),
             "OH": 167.70000000000002 * p_OH / T ** 0.5}
    for s, w in omega.items():
        assert getattr(m, "omega_" + s)() == pytest.approx(w, rel=REL)
        for rate in ("dC_tot_dt_", "dH_tot_dt_"):
            assert getattr(m, rate + s)() == pytest.approx(-w * m.p_A_tot / MW_C, rel=REL)
    m.p_d_p = m.d_p_min  # primaries not above the smallest size are spared
    assert (m.dC_tot_dt_O2(), m.dC_tot_dt_OH()) == (0.0, 0.0)


def test_concentration_guards_and_clips():
    m = ready_model(X=flame_X({s: 0.0 for s in ("C2H2", "H2", "H", "O2", "OH", "H2O")}))
    assert (m.c_soot_nought(), m.chi_soot_0(), m.omega_O2()) == (0.0, 0.0, 0.0)
    m = ready_model(X=flame_X({"H": 0.05, "H2": 1e-4, "C2H2": -1e-6, "OH": -1e-6}))
    assert m.chi_soot_0() == 2.3e19
    assert m.dC_tot_dt_HACA_alt() < 0.0  # [C2H2] used unclipped here ...
    assert m.dC_tot_dt_HACA() == 0.0 and m.dC_tot_dt_OH_alt() == 0.0  # ... clipped there
    assert ready_model(solution=[8e-8, 2.4e-7, 1e-3, 2e-3]).alpha_ctoh_based() == 1.0
    assert ready_model(T=2500.0, solution=[0.0] * 4).alpha_empirical() == 0.0  # tanh < 0


@pytest.mark.parametrize("h_over_c, oxidised", [(0.1, False), (0.1000001, True)])
def test_hydrogen_poor_soot_is_not_oxidised(h_over_c, oxidised):
    m = ready_model(solution=[8.0e-8, 2.4e-7, 1.9e-2, h_over_c * 1.9e-2])
    rates = [m.dC_tot_dt_O2_alt(), m.dC_tot_dt_OH_alt(), m.dH_tot_dt_O2(), m.dH_tot_dt_OH()]
    assert all((r < 0.0) == oxidised for r in rates) and m.dC_tot_dt_O2() < 0.0


def test_carbonization_and_carbon_free_soot():
    m = ready_model()
    m.A_carb, m.Ea_carb = 1.0e6, 5.0e4
    assert m.dH_tot_dt_carb() == 0.0
    m.carbonization_enabled = True
    assert m.dH_tot_dt_carb() == pytest.approx(-m.H_tot * 1.0e6 * math.exp(-5.0e4 / (R * m.T)),
                                               rel=REL)
    m.C_tot_min = 0.0
    m.PAH_growth_update = lambda: None
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.update_solution(np.array([8.0e-8, 2.4e-7, 0.0, 3.8e-3]))  # at dC_tot_dt_O2_alt
    for name in ("alpha_ctoh_based", "dH_tot_dt_OH_alt", "dH_tot_dt_O2"):
        with pytest.raises(ZeroDivisionError, match="^float division$"):
            getattr(m, name)()
