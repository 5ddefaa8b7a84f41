"""PAH growth model 1: reactive dimerization and PAH adsorption."""
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import NAMES, PAH_NC, PAH_NH, SOLUTION, Av, R, configure, flame_X, gas_args, ready_model

KB, PI10, MW_C, MW_H = 1.3806488e-23, 3.1415926535, 0.012011, 0.00100784
H2, H = NAMES.index("H2"), NAMES.index("H")


def close(a, b):
    return a == pytest.approx(b, rel=1e-12, abs=0.0)


class Ref:
    """The model-1 equations in plain Python at the state held by model `m`."""

    def __init__(self, m):
        self.m, self.T, self.rho = m, m.T, m.density
        self.X, self.MW, self.gas = np.asarray(m.X), np.asarray(m.MWs), m.PAH_index_in_gas
        n = len(self.gas)
        self.pairs = [(j, k) for j in range(n) for k in range(j, n)]

    def conc(self, g): return self.X[g] * self.rho / self.m.mean_MW
    def c_pah(self, i): return self.conc(self.gas[i])
    def mass(self, i): return self.MW[self.gas[i]] / Av

    def diam(self, i):
        nC, nH = self.m.PAH_Number_Carbon[i], self.m.PAH_Number_Hydrogen[i]
        rho = 171943.5197 * (nC * MW_C + nH * MW_H) / (nC + nH)
        return (6 * self.mass(i) / (rho * PI10)) ** 0.3333333333333333

    def red_m(self, j, k): return self.mass(j) * self.mass(k) / (self.mass(j) + self.mass(k))
    def red_d(self, j, k): return 2 * self.diam(j) * self.diam(k) / (self.diam(j) + self.diam(k))

    def bind(self, a, b):  # binding factor of a pair of molar masses a, b (kg/mol)
        mu = a * b / (a + b)
        return 10 ** -1.8 * math.exp(-0.115 * (933420 * mu - 34053) * math.log(10) / (self.T * R))

    def k_fwd(self, j, k):
        return (self.m.k_FWD_prefactor * 0.22 * Av * self.red_d(j, k) ** 2
                * math.sqrt(8 * math.pi * KB * self.T / self.red_m(j, k)))

    def k_rev(self, j, k): return self.k_fwd(j, k) * self.bind(self.MW[self.gas[j]], self.MW[self.gas[k]])

    def arrh(self, A, pre_A, pre_E): return pre_A * A * math.exp(-pre_E * 96232 / (self.T * R))
    def k_reac(self): return self.arrh(5e6, self.m.K_REACT_prefactor, self.m.Ea_REACT_prefactor)
    def k_pah(self): return self.arrh(2e10, self.m.K_PAH_ADS_prefactor, self.m.Ea_PAH_ADS_prefactor)

    def cunningham(self, d):
        lam = self.m.p_lambda_gas
        return 1 + 2 * lam / d * (1.21 + 0.4 * math.exp(-0.78 * d / lam))

    def beta_fm(self, i):
        m, d = self.m, self.diam(i)
        return 2.2 * (m.p_d_g + d) ** 2 * math.sqrt(PI10 * KB * self.T / 2 * (1 / m.m_Ag() + 1 / self.mass(i)))

    def beta_cont(self, i):
        m, d, cc = self.m, self.diam(i), self.cunningham
        return 2 * KB * self.T / (3 * m.viscosity) * (cc(m.p_d_m) / m.p_d_g + cc(d) / d) * (d + m.p_d_g)

    def k_f(self, i):
        fm, co = self.beta_fm(i), self.beta_cont(i)
        return Av * fm * co / (fm + co)

    def k_r(self, i): return self.k_f(i) * self.bind(self.m.C_tot * MW_C / self.m.N_agg, self.MW[self.gas[i]])

    def adsorption(self, i): return self.m.N_agg * self.rho * self.k_f(i) * max(0.0, self.c_pah(i))


def point(n_pah=4, X=None, **settings):
    m = configure(fv.CSootModel(), 1, n_pah=n_pah)
    for name, value in settings.items():
        setattr(m, name, value)
    m.update_gas(*gas_args(X=X))
    m.update_solution(SOLUTION.copy())
    return m, Ref(m)


@pytest.mark.parametrize("n_pah", [0, 1, 3])
def test_pair_tables_steady_dimers_and_inception(n_pah):
    m, ref = point(n_pah)
    n_pairs = n_pah * (n_pah + 1) // 2
    assert [len(m.p_ROP), len(m.phy_dimer_wdot), len(m.p_phy_dimer_), len(m.soot_PAH_wdot)] == [n_pairs] * 3 + [n_pah]
    assert list(m.dimer_n_C) == [PAH_NC[j] + PAH_NC[k] for j, k in ref.pairs]
    assert list(m.dimer_n_H) == [PAH_NH[j] + PAH_NH[k] for j, k in ref.pairs]  # all hydrogen kept
    rop = []
    for p, (j, k) in enumerate(ref.pairs):  # the concentrations identify each pair: checks the order
        dimer = ref.k_fwd(j, k) * ref.c_pah(j) * ref.c_pah(k) / (ref.k_rev(j, k) + ref.k_reac())
        rop.append(ref.k_reac() * dimer)
        assert close(m.p_phy_dimer_[p], dimer) and close(m.p_ROP[p], rop[p]) and close(m.ROP_dimer(p), rop[p])
    nC, nH = np.dot(rop, m.dimer_n_C), np.dot(rop, m.dimer_n_H)
    assert close(m.inception_N_agg_reactived(), sum(rop) / ref.rho)
    assert close(m.inception_C_tot_reactived(), nC / ref.rho)
    assert close(m.inception_H_tot_reactived(), nH / ref.rho)
    m.modified_particle_addition = True
    assert close(m.inception_N_agg_reactived(), nC / 378 / ref.rho)
    if n_pah == 0:
        assert m.inception_N_agg_reactived() == 0.0 and m.dC_tot_dt_PAH() == 0.0 == m.p_dH_tot_dt_PAH


def test_pair_kinetics_adsorption_and_growth():
    m, ref = point(k_FWD_prefactor=2.5, K_REACT_prefactor=3.0, Ea_REACT_prefactor=0.8,
                   K_PAH_ADS_prefactor=0.7, Ea_PAH_ADS_prefactor=1.1)
    for j, k in [(0, 0), (0, 3), (3, 1), (2, 2)]:
        assert close(m.reduced_m(j, k), ref.red_m(j, k)) and close(m.reduced_d(j, k), ref.red_d(j, k))
        assert close(m.k_FWD(j, k), ref.k_fwd(j, k)) and close(m.k_REV(j, k), ref.k_rev(j, k))
    assert close(m.k_REAC(), ref.k_reac()) and close(m.k_PAH(), ref.k_pah())
    assert close(m.C_S_soot(3e-9), ref.cunningham(3e-9))
    dC, dH = [], []
    for i in range(4):
        assert close(m.beta_fm_soot_PAH(i), ref.beta_fm(i)) and close(m.beta_cont_soot_PAH(i), ref.beta_cont(i))
        assert close(m.k_f_soot_PAH(i), ref.k_f(i)) and close(m.k_r_soot_PAH(i), ref.k_r(i))
        star = ref.adsorption(i) / (ref.k_r(i) + ref.k_pah())
        assert close(m.soot_PAH_star(i), star)
        dC.append(PAH_NC[i] * ref.k_pah() * star / ref.rho)
        dH.append((PAH_NH[i] - 2) * ref.k_pah() * star / ref.rho)  # two H leave per PAH
        assert close(m.dC_tot_dt_PAH_each_reactived(i), dC[i]) and close(m.dH_tot_dt_PAH_each_reactived(i), dH[i])
    assert np.allclose(m.p_dH_tot_dt_PAH_each, dH, rtol=1e-12, atol=0)
    assert close(m.p_dC_tot_dt_PAH, sum(dC)) and close(m.dH_tot_dt_PAH(), sum(dH))
    # the growth caches are refreshed whatever the growth switches say
    m2, _ = point(growth_enabled=False, growth_PAH_adsorption_enabled=False)
    assert m2.p_dC_tot_dt_PAH > 0


def test_negative_concentrations_are_clipped():
    m, ref = point(X=flame_X({"A2": -5e-5}))
    # pair (0,1) of opposite signs: negative dimer, zero rate; (1,1) is positive again
    assert m.p_phy_dimer_[1] < 0 and m.p_ROP[1] == 0.0 == m.p_ROP[5] and m.p_ROP[4] > 0
    assert m.soot_PAH_star(1) == 0.0 == m.p_dC_tot_dt_PAH_each[1]


def test_transported_pseudo_species_and_their_scrubbing():
    # real species stand in for the ten dimers and four complexes; CO2 (negative) tests the clips
    dimer = [NAMES.index(s) for s in ("CO2", "H2O", "O2", "OH", "CO", "H", "H2", "C2H2", "A1", "A2")]
    cplx = [NAMES.index(s) for s in ("CO2", "OH", "H", "A3")]
    m, ref = point(X=flame_X({"CO2": -1e-3}), phy_dimer_index_in_gas=dimer, soot_PAH_index_in_gas=cplx,
                   steady_state_physical_dimerization=False, steady_state_PAH_adsorption=False)
    W = np.zeros(len(NAMES))
    for p, (j, k) in enumerate(ref.pairs):
        c_D = ref.conc(dimer[p])
        rop = max(0.0, ref.k_reac() * c_D)
        wdot = (ref.k_fwd(j, k) * ref.c_pah(j) * ref.c_pah(k) - ref.k_rev(j, k) * c_D) / 1000
        assert close(m.p_phy_dimer_[p], c_D) and close(m.p_ROP[p], rop) and close(m.phy_dimer_wdot[p], wdot)
        W[ref.gas[j]] -= wdot
        W[ref.gas[k]] -= wdot
        W[H2] += rop / 1000
        W[dimer[p]] -= rop / 1000
    for i, g in enumerate(cplx):
        c_S = max(0.0, ref.conc(g))
        wdot = (ref.adsorption(i) - ref.k_r(i) * c_S) / 1000
        assert close(m.soot_PAH_wdot[i], wdot)
        assert close(m.dC_tot_dt_PAH_each_reactived(i), PAH_NC[i] * ref.k_pah() * c_S / ref.rho)
        W[ref.gas[i]] -= wdot
        W[H] += 2 * ref.k_pah() * c_S / 1000
        W[g] -= ref.k_pah() * c_S / 1000
    assert m.p_ROP[0] == 0.0 and m.soot_PAH_wdot[0] > 0 == m.p_dC_tot_dt_PAH_each[0]
    m.update_scrub_wdot_PAH_growth_reactived()
    assert np.allclose(m.scrub_wdot, W, rtol=1e-11, atol=1e-13 * np.abs(W).max())


def test_steady_scrubbing_conserves_carbon():
    m, ref = point()
    m.update_scrub_wdot_PAH_growth_reactived()
    W = np.asarray(m.scrub_wdot)
    carbon = sum(W[g] * n for g, n in zip(ref.gas, PAH_NC))  # kmol C/(m^3 s)
    assert close(-carbon * 1000 / ref.rho, m.inception_C_tot_reactived() + m.p_dC_tot_dt_PAH)
    assert close(W[H2], sum(m.p_ROP) / 1000)  # one H2 per dimer
    assert close(W[H], sum(2 * m.p_dC_tot_dt_PAH_each[i] / PAH_NC[i] for i in range(4)) * ref.rho / 1000)
    one, _ = point(n_pah=1, growth_enabled=False)  # a self-pair charges its PAH twice
    one.update_scrub_wdot_PAH_growth_reactived()
    assert close(one.scrub_wdot[NAMES.index("A1")], -2 * one.p_ROP[0] / 1000)


def test_overrides_reach_the_rates():
    class Slow(fv.CSootModel):
        def k_REAC(self): return 0.5 * super().k_REAC()
        def k_PAH(self): return 0.0

    base, slow = ready_model(1), ready_model(1, cls=Slow)
    assert slow.p_phy_dimer_[9] > base.p_phy_dimer_[9]  # slower reaction leaves more dimer
    assert close(slow.p_ROP[9] * 2, base.k_REAC() * slow.p_phy_dimer_[9])
    assert slow.p_dC_tot_dt_PAH == 0.0 < base.p_dC_tot_dt_PAH


def test_index_and_zero_division_errors():
    m, _ = point()
    for name, args in [("reduced_m", (0, 4)), ("k_FWD", (-1, 0)), ("k_REV", (2, 9)), ("ROP_dimer", (10,)),
                       ("ROP_dimer", (-1,)), ("beta_fm_soot_PAH", (4,)), ("beta_cont_soot_PAH", (-1,)),
                       ("k_f_soot_PAH", (4,)), ("k_r_soot_PAH", (4,)), ("soot_PAH_star", (-1,)),
                       ("dC_tot_dt_PAH_each_reactived", (4,)), ("dH_tot_dt_PAH_each_reactived", (-2,))]:
        with pytest.raises(IndexError):
            getattr(m, name)(*args)
    m.PAH_index_in_gas = [9, -1, 11, 99]  # gas indices follow NumPy: -1 is A4
    assert close(m.reduced_m(1, 1), 202.256e-3 / Av / 2)
    with pytest.raises(IndexError):
        m.reduced_m(0, 3)

    m, _ = point()
    m.PAH_Number_Carbon, m.PAH_Number_Hydrogen = [0.0] + PAH_NC[1:], [0.0] + PAH_NH[1:]
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.reduced_d(0, 1)
    m, ref = point(inception_enabled=False)
    m.PAH_Number_Hydrogen = [6.0, 2.0, 10.0, 10.0]
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.update_scrub_wdot_PAH_growth_reactived()
    # the PAH term booked before the failing hydrogen term stays
    assert close(m.scrub_wdot[ref.gas[1]], -m.p_dC_tot_dt_PAH_each[1] * ref.rho / 10000)
    assert m.scrub_wdot[ref.gas[2]] == 0.0
