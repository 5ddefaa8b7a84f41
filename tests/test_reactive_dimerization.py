"""PAH growth model 1: reactive dimerization and PAH adsorption.

Each rate is checked against the equation evaluated in plain Python; rates whose
own formula is checked elsewhere in this file enter later checks as inputs.
"""
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import NAMES, PAH_NC, PAH_NH, SOLUTION, Av, R, configure, flame_X, gas_args

KB, PI10 = 1.3806488e-23, 3.1415926535
H2, H = NAMES.index("H2"), NAMES.index("H")


def close(a, b):
    return a == pytest.approx(b, rel=1e-12, abs=0.0)


def point(n_pah=4, X=None, **settings):
    """Model 1 at the flame state; gas concentrations by species (mol/m^3); the PAH pairs."""
    m = configure(fv.CSootModel(), 1, n_pah=n_pah)
    for name, value in settings.items():
        setattr(m, name, value)
    m.update_gas(*gas_args(X=X))
    m.update_solution(SOLUTION.copy())
    c = np.asarray(m.X) * m.density / m.mean_MW
    return m, c, [(j, k) for j in range(n_pah) for k in range(j, n_pah)]


def mass_and_diameter(m, i):
    mass = m.MWs[m.PAH_index_in_gas[i]] / Av
    rho = 171943.5197 * (PAH_NC[i] * 0.012011 + PAH_NH[i] * 0.00100784) / (PAH_NC[i] + PAH_NH[i])
    return mass, (6 * mass / (rho * PI10)) ** 0.3333333333333333


def binding(m, a, b):  # dissociation factor of a pair of molar masses a, b (kg/mol)
    mu = a * b / (a + b)
    return 10 ** -1.8 * math.exp(-0.115 * (933420 * mu - 34053) * math.log(10) / (m.T * R))


def test_pair_kinetics_and_adsorption_kernels():
    m, c, _ = point(k_FWD_prefactor=2.5, K_REACT_prefactor=3.0, Ea_REACT_prefactor=0.8,
                    K_PAH_ADS_prefactor=0.7, Ea_PAH_ADS_prefactor=1.1)
    T, MW, gas = m.T, np.asarray(m.MWs), m.PAH_index_in_gas
    for j, k in [(0, 0), (0, 3), (3, 1)]:
        (m_j, d_j), (m_k, d_k) = mass_and_diameter(m, j), mass_and_diameter(m, k)
        mu, d = m_j * m_k / (m_j + m_k), 2 * d_j * d_k / (d_j + d_k)
        k_fwd = 2.5 * 0.22 * Av * d ** 2 * math.sqrt(8 * math.pi * KB * T / mu)  # full-precision pi
        assert close(m.reduced_m(j, k), mu) and close(m.reduced_d(j, k), d) and close(m.k_FWD(j, k), k_fwd)
        assert close(m.k_REV(j, k), k_fwd * binding(m, MW[gas[j]], MW[gas[k]]))
    assert close(m.k_REAC(), 3.0 * 5e6 * math.exp(-0.8 * 96232 / (T * R)))
    assert close(m.k_PAH(), 0.7 * 2e10 * math.exp(-1.1 * 96232 / (T * R)))
    lam = m.p_lambda_gas
    cs = lambda d: 1 + 2 * lam / d * (1.21 + 0.4 * math.exp(-0.78 * d / lam))  # noqa: E731
    assert close(m.C_S_soot(3e-9), cs(3e-9))
    for i in range(4):
        m_i, d_i = mass_and_diameter(m, i)
        fm = 2.2 * (m.p_d_g + d_i) ** 2 * math.sqrt(PI10 * KB * T / 2 * (1 / m.m_Ag() + 1 / m_i))
        co = 2 * KB * T / (3 * m.viscosity) * (cs(m.p_d_m) / m.p_d_g + cs(d_i) / d_i) * (d_i + m.p_d_g)
        k_f = Av * fm * co / (fm + co)
        k_r = k_f * binding(m, m.C_tot * 0.012011 / m.N_agg, MW[gas[i]])
        assert close(m.beta_fm_soot_PAH(i), fm) and close(m.beta_cont_soot_PAH(i), co)
        assert close(m.k_f_soot_PAH(i), k_f) and close(m.k_r_soot_PAH(i), k_r)
        assert close(m.soot_PAH_star(i), m.N_agg * m.density * k_f * c[gas[i]] / (k_r + m.k_PAH()))


@pytest.mark.parametrize("n_pah", [0, 1, 3])
def test_steady_dimers_inception_and_growth(n_pah):
    m, c, pairs = point(n_pah)
    gas, rho = m.PAH_index_in_gas, m.density
    assert [len(m.p_ROP), len(m.phy_dimer_wdot), len(m.p_phy_dimer_)] == [len(pairs)] * 3
    assert len(m.soot_PAH_wdot) == n_pah
    assert list(m.dimer_n_C) == [PAH_NC[j] + PAH_NC[k] for j, k in pairs]
    assert list(m.dimer_n_H) == [PAH_NH[j] + PAH_NH[k] for j, k in pairs]  # all hydrogen kept
    rop = []
    for p, (j, k) in enumerate(pairs):  # the concentrations identify each pair: checks the order
        dimer = m.k_FWD(j, k) * c[gas[j]] * c[gas[k]] / (m.k_REV(j, k) + m.k_REAC())
        rop.append(m.k_REAC() * dimer)
        assert close(m.p_phy_dimer_[p], dimer) and close(m.p_ROP[p], rop[p]) and close(m.ROP_dimer(p), rop[p])
    carbon = np.dot(rop, m.dimer_n_C)
    assert close(m.inception_N_agg_reactived(), sum(rop) / rho)
    assert close(m.inception_C_tot_reactived(), carbon / rho)
    assert close(m.inception_H_tot_reactived(), np.dot(rop, m.dimer_n_H) / rho)
    m.modified_particle_addition = True
    assert close(m.inception_N_agg_reactived(), carbon / 378 / rho)

    dC = [PAH_NC[i] * m.k_PAH() * m.soot_PAH_star(i) / rho for i in range(n_pah)]
    dH = [(PAH_NH[i] - 2) * m.k_PAH() * m.soot_PAH_star(i) / rho for i in range(n_pah)]  # 2 H leave
    for i in range(n_pah):
        assert close(m.dC_tot_dt_PAH_each_reactived(i), dC[i]) and close(m.p_dH_tot_dt_PAH_each[i], dH[i])
    assert close(m.p_dC_tot_dt_PAH, sum(dC)) and close(m.dH_tot_dt_PAH(), sum(dH))


def test_negative_concentrations_are_clipped_and_growth_ignores_switches():
    m, _, _ = point(X=flame_X({"A2": -5e-5}), growth_enabled=False)
    # pair (0,1) of opposite signs: negative dimer, zero rate; (1,1) is positive again
    assert m.p_phy_dimer_[1] < 0 and m.p_ROP[1] == 0.0 == m.p_ROP[5] and m.p_ROP[4] > 0
    assert m.soot_PAH_star(1) == 0.0 == m.p_dC_tot_dt_PAH_each[1] < m.p_dC_tot_dt_PAH


def test_transported_pseudo_species_and_their_scrubbing():
    # real species stand in for the ten dimers and four complexes; CO2 (negative) tests the clips
    dimer = [NAMES.index(s) for s in ("CO2", "H2O", "O2", "OH", "CO", "H", "H2", "C2H2", "A1", "A2")]
    cplx = [NAMES.index(s) for s in ("CO2", "OH", "H", "A3")]
    m, c, pairs = point(X=flame_X({"CO2": -1e-3}), phy_dimer_index_in_gas=dimer, soot_PAH_index_in_gas=cplx,
                        steady_state_physical_dimerization=False, steady_state_PAH_adsorption=False)
    gas, rho, W = m.PAH_index_in_gas, m.density, np.zeros(len(NAMES))
    for p, (j, k) in enumerate(pairs):
        c_D, rop = c[dimer[p]], max(0.0, m.k_REAC() * c[dimer[p]])
        wdot = (m.k_FWD(j, k) * c[gas[j]] * c[gas[k]] - m.k_REV(j, k) * c_D) / 1000
        assert close(m.p_phy_dimer_[p], c_D) and close(m.p_ROP[p], rop) and close(m.phy_dimer_wdot[p], wdot)
        W[gas[j]] -= wdot
        W[gas[k]] -= wdot
        W[H2] += rop / 1000
        W[dimer[p]] -= rop / 1000
    for i, g in enumerate(cplx):
        c_S, k_f, k_r = max(0.0, c[g]), m.k_f_soot_PAH(i), m.k_r_soot_PAH(i)
        wdot = (m.N_agg * rho * k_f * c[gas[i]] - k_r * c_S) / 1000
        assert close(m.soot_PAH_wdot[i], wdot)
        assert close(m.dC_tot_dt_PAH_each_reactived(i), PAH_NC[i] * m.k_PAH() * c_S / rho)
        W[gas[i]] -= wdot
        W[H] += 2 * m.k_PAH() * c_S / 1000
        W[g] -= m.k_PAH() * c_S / 1000
    assert m.p_ROP[0] == 0.0 and m.soot_PAH_wdot[0] > 0 == m.p_dC_tot_dt_PAH_each[0]
    m.update_scrub_wdot_PAH_growth_reactived()
    assert np.allclose(m.scrub_wdot, W, rtol=1e-11, atol=1e-13 * np.abs(W).max())


def test_steady_scrubbing_conserves_carbon():
    m, _, _ = point()
    m.update_scrub_wdot_PAH_growth_reactived()
    carbon = sum(m.scrub_wdot[g] * n for g, n in zip(m.PAH_index_in_gas, PAH_NC))  # kmol C/(m^3 s)
    assert close(-carbon * 1000 / m.density, m.inception_C_tot_reactived() + m.p_dC_tot_dt_PAH)
    one, _, _ = point(n_pah=1, growth_enabled=False)  # a self-pair charges its PAH twice
    one.update_scrub_wdot_PAH_growth_reactived()
    assert close(one.scrub_wdot[NAMES.index("A1")], -2 * one.p_ROP[0] / 1000)


def test_index_and_zero_division_errors():
    m, _, _ = point()
    for name, args in [("k_FWD", (-1, 0)), ("k_REV", (2, 4)), ("ROP_dimer", (10,)), ("ROP_dimer", (-1,)),
                       ("beta_cont_soot_PAH", (-1,)), ("k_r_soot_PAH", (4,)), ("soot_PAH_star", (4,)),
                       ("dH_tot_dt_PAH_each_reactived", (-2,))]:
        with pytest.raises(IndexError):
            getattr(m, name)(*args)
    m.PAH_index_in_gas = [9, 10, 11, 99]  # a gas index beyond the mechanism
    with pytest.raises(IndexError):
        m.reduced_m(0, 3)

    m, _, _ = point()
    m.PAH_Number_Carbon, m.PAH_Number_Hydrogen = [0.0] + PAH_NC[1:], [0.0] + PAH_NH[1:]
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.reduced_d(0, 1)
    m, _, _ = point(inception_enabled=False)
    m.PAH_Number_Hydrogen = [6.0, 2.0, 10.0, 10.0]
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.update_scrub_wdot_PAH_growth_reactived()
    # the PAH term booked before the failing hydrogen term stays
    gas = m.PAH_index_in_gas
    assert close(m.scrub_wdot[gas[1]], -m.p_dC_tot_dt_PAH_each[1] * m.density / 10000)
    assert m.scrub_wdot[gas[2]] == 0.0
