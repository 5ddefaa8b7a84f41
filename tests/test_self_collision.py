"""PAH growth models 2 and 3: self-collision dimerization, per PAH and lumped."""
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import NAMES, PAH_NC, PAH_NH, SOLUTION, Av, configure, flame_X, gas_args, ready_model, close, scrub_pah_terms

KB, PI10, RHO_S, MW_C = 1.3806488e-23, 3.1415926535, 1800.0, 0.012011
H = NAMES.index("H")
NC, NH = np.array(PAH_NC), np.array(PAH_NH)


def root(a, b, w):
    disc = b * b + 4 * a * w
    return (math.sqrt(disc) - b) / (2 * a) if disc > 0 else 0.0


def reference(m, lumped=False):
    """omega, then (a, b, D) per PAH, or (weights, n_C, n_H, a, b, D) of the lumped dimer."""
    T, gas, MW = m.T, m.PAH_index_in_gas, np.asarray(m.MWs)
    omega = []
    for i, g in enumerate(gas):
        mass, x = MW[g] / Av, max(0.0, m.X[g] * m.density / m.mean_MW)
        d = (6 * mass / (RHO_S * PI10)) ** 0.33333333334
        omega.append(math.sqrt(4 * PI10 * KB * T / mass) * m.stick_eff[i] * d**2 * x**2 * Av)
    kin = math.sqrt(6 * KB * T / RHO_S) * (3 / (4 * PI10)) ** 0.166667 * 4.4 * 4 * 1.41421356 * Av
    L, inv_V_Ag = math.sqrt(KB * PI10 * T / (2 * RHO_S)), m.N_agg * Av * RHO_S / (m.C_tot * MW_C)

    def kernels(d, V):
        b = m.N_agg * Av * m.density * 1.3 * L * (m.p_d_g + d) ** 2 * math.sqrt(1 / V + inv_V_Ag)
        return kin * V**0.166667, b

    if not lumped:
        d = [(6 * (2 * MW[g] / Av) / (PI10 * RHO_S)) ** 0.33333333334 for g in gas]
        a, b = np.array([kernels(di, di**3 * PI10 / 6) for di in d]).T
        return omega, a, b, np.array([root(*abw) for abw in zip(a, b, omega)])
    n, tot = len(gas), sum(omega)
    w = np.array(omega) / tot if tot > 0 else np.full(n, 1 / n)
    V = sum(2 * w[i] * (PI10 / 6) * (math.sqrt(3) * 1.395e-10 * math.sqrt(2 * NC[i] / 3)) ** 3 for i in range(n))
    a, b = kernels((6 * V / PI10) ** 0.3333334, V)
    return omega, w, sum(2 * w * NC), sum(2 * w * NH), a, b, root(a, b, tot)


def test_model2_matches_equations():
    m = ready_model(2)
    omega, a, b, D = reference(m)
    rho, w_inc, w_cond = m.density, 0.5 * a * D**2, b * D
    close([m.omega_PAH, m.a_inc, m.b_cond, m._dimer_, m.w_inc, m.w_cond], [omega, a, b, D, w_inc, w_cond])
    close(m.omega_PAH_tot, sum(omega))
    dC, dH = NC * 2 * w_cond / rho, (NH - 2) * 2 * w_cond / rho
    close([m.p_dC_tot_dt_PAH_each, m.p_dH_tot_dt_PAH_each], [dC, dH])
    close([m.dH_tot_dt_PAH_each_slfclsn(i) for i in range(4)], dH)
    close([m.p_dC_tot_dt_PAH, m.p_dH_tot_dt_PAH], [sum(dC), sum(dH)])
    close([m.inception_N_agg(), m.inception_C_tot(), m.inception_H_tot()],
          [sum(NC * 4 / 378 * w_inc / rho), sum(NC * 4 * w_inc / rho), sum(NH * 4 * w_inc / rho)])
    assert min(D) > 0 and min(w_cond) > 0


def test_model3_matches_equations():
    m = ready_model(3)
    omega, w, lump_C, lump_H, a, b, D = reference(m, lumped=True)
    rho, w_inc, w_cond = m.density, 0.5 * a * D**2, b * D
    close(m.dimer_weight, w)
    close([m.lumpdimer_n_C, m.lumpdimer_n_H, m.a_lumpinc, m.b_lumpcond, m._lumpdimer_, m.w_lumpinc, m.w_lumpcond],
          [lump_C, lump_H, a, b, D, w_inc, w_cond])
    close([m.p_dH_tot_dt_PAH_each, [m.dC_tot_dt_PAH_each_slfclsn_lump(i) for i in range(4)]],
          [(NH - 2) * 2 * w_cond * w / rho, NC * 2 * w_cond * w / rho])
    close(m.p_dC_tot_dt_PAH, sum(NC * 2 * w_cond * w / rho))
    close([m.inception_N_agg(), m.inception_C_tot(), m.inception_H_tot()],
          [lump_C * 2 / 378 * w_inc / rho, lump_C * 2 * w_inc / rho, lump_H * 2 * w_inc / rho])


def test_absent_pahs_and_dimer_balance_branches():
    m = ready_model(2, X=flame_X({"A2": 0.0, "A3": -1e-6}))  # negative reads as zero
    assert m.omega_PAH[1:3] == m._dimer_[1:3] == m.p_dC_tot_dt_PAH_each[1:3] == [0.0, 0.0]
    assert m._dimer_[0] > 0 and m.b_cond[1] > 0
    lump = ready_model(3, X=flame_X({p: 0.0 for p in ("A1", "A2", "A3", "A4")}))
    assert lump.omega_PAH_tot == 0.0 and lump.dimer_weight == [0.25] * 4
    assert lump.lumpdimer_n_C == 23.0 and lump._lumpdimer_ == 0.0 and lump.inception_C_tot() == 0.0
    # a negative sticking efficiency makes omega < -b^2/(4a): no real root, no dimers
    m = ready_model(2)
    _, a, b, _ = reference(m)
    m.stick_eff = [-2 * b[0] ** 2 / a[0] / reference(m)[0][0] * m.stick_eff[0]] + m.stick_eff[1:]
    m.PAH_growth_update_slfclsn()
    assert m._dimer_[0] == m.w_inc[0] == m.p_dC_tot_dt_PAH_each[0] == 0.0 and m._dimer_[1] > 0

    class NoCondensation(fv.CSootModel):
        def V_Ag(self):  # -V_D of the only PAH: the dimer-soot kernel vanishes
            d = (6 * (2 * self.MWs[self.PAH_index_in_gas[0]] / Av) / (PI10 * RHO_S)) ** 0.33333333334
            return -(d**3 * PI10 / 6)

    m = configure(NoCondensation(), 2, n_pah=1)
    m.update_gas(*gas_args())
    m.update_solution(SOLUTION.copy())
    assert m.b_cond == m.w_cond == [0.0] and m.p_dC_tot_dt_PAH == 0.0
    close([m._dimer_[0], 2 * m.w_inc[0]], [math.sqrt(m.omega_PAH[0] / m.a_inc[0]), m.omega_PAH[0]])


def test_errors():
    m = ready_model(2)
    for bad in (lambda: m.dC_tot_dt_PAH_each_slfclsn(4), lambda: m.dH_tot_dt_PAH_each_slfclsn_lump(-1)):
        pytest.raises(IndexError, bad)
    m.stick_eff = [1.0]
    pytest.raises(IndexError, m.update_omega_PAH)
    m = ready_model(3)
    MWs = np.array(m.MWs)
    MWs[m.PAH_index_in_gas[2]] = 0.0
    m.MWs = MWs
    pytest.raises(ZeroDivisionError, m.update_omega_PAH).match("^float division$")
    m.PAH_Number_Carbon = [0.0] * 4  # lumped dimer of zero volume
    pytest.raises(ZeroDivisionError, m.update_ab_lump).match("^float division$")


@pytest.mark.parametrize("growth", [2, 3])
def test_scrubbing_conserves_carbon_and_splits_hydrogen(growth):
    m = ready_model(growth)
    gas, rho = m.PAH_index_in_gas, m.density
    W = scrub_pah_terms(m, True, True)
    close(-np.dot(NC, W[gas]) * 1000, (m.inception_C_tot() + m.p_dC_tot_dt_PAH) * rho)
    W = scrub_pah_terms(m, True, False)  # inception keeps all hydrogen and releases none
    close(-np.dot(NH, W[gas]) * 1000, m.inception_H_tot() * rho)
    assert W[H] == 0.0
    W = scrub_pah_terms(m, False, True)  # condensation keeps n_H - 2 per molecule taken up,
    taken = -W[gas]            # and these models book one H atom per molecule
    close(np.asarray(m.p_dH_tot_dt_PAH_each) * rho / 1000, (NH - 2) * taken)
    close(W[H], taken.sum())
