"""PAH growth models 4 (cross-linking) and 5 (irreversible dimerization)."""
import math

import numpy as np
import pytest

from conftest import NAMES, PAH_NC, PAH_NH, Av, R, flame_X, gas_args, ready_model, close, scrub_pah_terms

KB, PI10, RHO_S, MW_C, MW_H = 1.3806488e-23, 3.1415926535, 1800.0, 0.012011, 0.00100784
H, H2 = NAMES.index("H"), NAMES.index("H2")
NC, NH = np.array(PAH_NC), np.array(PAH_NH)


class Ref:
    """Per-PAH quantities of both models in plain Python at the state held by `m`."""

    def __init__(self, m, i):
        T, g, rho, lam = m.T, m.PAH_index_in_gas[i], m.density, m.p_lambda_gas
        self.c = m.X[g] * rho / m.mean_MW
        cP, cH, cH2 = (max(0.0, m.X[k] * rho / m.mean_MW) for k in (g, H, H2))
        self.mass = mass = m.MWs[g] / Av
        rho_pah = 171943.5197 * (NC[i] * MW_C + NH[i] * MW_H) / (NC[i] + NH[i])
        self.d = d = (6 * mass / (rho_pah * PI10)) ** 0.3333333333333333
        kin = math.sqrt(8 * PI10 * KB * T / (mass * mass / (mass + mass)))
        self.k_f3 = kin * m.cross_k_f3_prefactor * 2.2 * Av * (2 * d) ** 2
        self.k_nuc = (2 * d * d / (d + d)) ** 2 * Av * 2.2 * kin
        m_Ag = m.C_tot * MW_C / RHO_S / (m.N_agg * Av) * RHO_S
        self.fm = fm = 2.2 * (m.p_d_g + d) ** 2 * math.sqrt(PI10 * KB * T / 2 * (1 / m_Ag + 1 / mass))
        cc = [1 + 2 * lam / x * (1.21 + 0.4 * math.exp(-0.78 * x / lam)) for x in (m.p_d_m, d)]
        co = 2 * KB * T / (3 * m.viscosity) * (cc[0] / m.p_d_g + cc[1] / d) * (d + m.p_d_g)
        self.k_f4 = m.adsorb_eff * Av * fm * co / (fm + co)
        self.k_f1 = m.cross_k_f1_prefactor * 98 * NC[i] * T**1.84 * math.exp(-62886.6 / (R * T))
        self.k_r1 = m.cross_k_r1_prefactor * 0.016 * T**2.63 * math.exp(-17837.4 / (R * T))
        self.k_f2 = m.cross_k_f2_prefactor * 8.079999999999999e-17 * Av * T**0.13
        D = self.k_r1 * cH2 + self.k_f2 * cH + self.k_f3 * cP + self.k_f4 * m.N_pri * rho
        self.radical = self.k_f1 * cP * cH / D if D > 0 else 0.0
        self.rop = max(0.0, self.k_f3 * self.radical * cP)
        self.ads = self.k_f4 * self.radical * m.N_pri * rho  # model 4 adsorption, mol/(m^3 s)
        self.ads_irrevd = Av * fm * (m.N_agg * rho) * max(0.0, self.c)  # model 5


# side-by-side rate prefactors: defaults, then all distinct so that one read in place of
# its neighbour shows
PREFACTORS = [{}, {"cross_k_f1_prefactor": 1.3, "cross_k_r1_prefactor": 0.7, "cross_k_f2_prefactor": 2.1,
                   "cross_k_f3_prefactor": 0.45, "adsorb_eff": 0.6}]


@pytest.mark.parametrize("prefactors", PREFACTORS, ids=["defaults", "distinct"])
def test_cross_linking_matches_equations(prefactors):
    m = ready_model(4)
    for name, value in prefactors.items():
        setattr(m, name, value)
    m.update_solution(np.array([8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3]))
    ref = [Ref(m, i) for i in range(4)]
    for name, attr in [("m_PAH", "mass"), ("d_PAH", "d"), ("k_f3_crosslinking", "k_f3"),
                       ("k_f4_crosslinking", "k_f4"), ("PAH_radical", "radical"), ("PAH_adsorption_rate", "ads")]:
        close([getattr(m, name)(i) for i in range(4)], [getattr(r, attr) for r in ref])
    rop, ads, rho = np.array([r.rop for r in ref]), np.array([r.ads for r in ref]), m.density
    close([m.p_PAH_radical_, m.p_ROP], [[r.radical for r in ref], rop])
    close([m.p_dC_tot_dt_PAH_each, m.p_dH_tot_dt_PAH_each], [NC * ads / rho, (NH - 2) * ads / rho])
    close([m.p_dC_tot_dt_PAH, m.p_dH_tot_dt_PAH], [sum(NC * ads / rho), sum((NH - 2) * ads / rho)])
    close([m.inception_N_agg(), m.inception_C_tot(), m.inception_H_tot()],
          [sum(2 * NC / 378 * rop / rho), sum(2 * NC * rop / rho), sum(2 * NH * rop / rho)])
    assert min(rop) > 0


def test_radical_guards_and_clipping():
    m = ready_model(4, X=flame_X({"H": 0.0, "A2": -1e-6}))
    assert m.p_PAH_radical_ == [0.0] * 4 and list(m.p_ROP) == [0.0] * 4 and m.p_dC_tot_dt_PAH == 0.0
    m = ready_model(4, X=flame_X({"A2": -1e-6}))
    assert m.p_ROP[1] == 0.0 and m.p_ROP[0] > 0
    m.cross_k_r1_prefactor = m.cross_k_f3_prefactor = m.adsorb_eff = 0.0
    ref = Ref(m, 0)
    close(m.PAH_radical(0), ref.k_f1 * max(0.0, ref.c) / ref.k_f2)  # only H addition consumes it
    m.cross_k_f2_prefactor = 0.0
    assert m.PAH_radical(0) == 0.0  # nothing consumes the radical: D = 0 gives zero


def test_irreversible_dimerization_matches_equations():
    m = ready_model(5, X=flame_X({"A3": -1e-6}))
    ref, rho = [Ref(m, i) for i in range(4)], m.density
    close([m.dimer_n_C, m.dimer_n_H], [2 * NC, 2 * NH])
    rop = np.array([r.k_nuc * r.c * r.c for r in ref])  # concentrations not clipped
    ads = np.array([r.ads_irrevd for r in ref])
    close(m.p_ROP, rop)
    close([m.k_PAH_ads_irrevd(i) for i in range(4)], [r.fm for r in ref])
    close([m.p_dC_tot_dt_PAH_each, m.p_dH_tot_dt_PAH_each], [NC * ads / rho, (NH - 2) * ads / rho])
    close([m.p_dC_tot_dt_PAH, m.p_dH_tot_dt_PAH], [sum(NC * ads / rho), sum((NH - 2) * ads / rho)])
    close([m.inception_N_agg(), m.inception_C_tot(), m.inception_H_tot()],
          [sum(rop) / rho, np.dot(rop, 2 * NC) / rho, np.dot(rop, 2 * NH) / rho])
    assert rop[2] > 0 and ads[2] == 0.0
    m.modified_particle_addition = True
    close(m.inception_N_agg(), np.dot(rop, 2 * NC) / 378 / rho)


def test_errors():
    m = ready_model(4)
    for name in ("m_PAH", "d_PAH", "k_f3_crosslinking", "PAH_radical", "ROP_dimer_crosslinking",
                 "k_PAH_ads_irrevd", "dC_tot_dt_PAH_each_crosslinking", "dH_tot_dt_PAH_each_irrevd"):
        for i in (4, -1):
            pytest.raises(IndexError, getattr(m, name), i)
    m.PAH_index_in_gas = [9, 10, 11, 99]  # gas index beyond MWs
    pytest.raises(IndexError, m.m_PAH, 3)
    m.PAH_Number_Carbon, m.PAH_Number_Hydrogen = [0.0] * 4, [0.0] * 4
    pytest.raises(ZeroDivisionError, m.d_PAH, 0).match("^float division$")


@pytest.mark.parametrize("growth", [4, 5])
def test_scrubbing_conserves_carbon_and_splits_hydrogen(growth):
    m = ready_model(growth)
    gas, rho = m.PAH_index_in_gas, m.density
    W = scrub_pah_terms(m, True, True)
    close(-np.dot(NC, W[gas]) * 1000, (m.inception_C_tot() + m.p_dC_tot_dt_PAH) * rho)
    W = scrub_pah_terms(m, True, False)  # dimers keep all hydrogen; model 5 also releases one H2 each
    close(-np.dot(NH, W[gas]) * 1000, m.inception_H_tot() * rho)
    close([W[H], W[H2] * 1000], [0.0, sum(m.p_ROP) if growth == 5 else 0.0])
    W = scrub_pah_terms(m, False, True)  # adsorption keeps n_H - 2 per molecule and releases 2 H
    taken = -W[gas]
    close(np.asarray(m.p_dH_tot_dt_PAH_each) * rho / 1000, (NH - 2) * taken)
    close(W[H], 2 * taken.sum())
