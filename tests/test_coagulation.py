"""Coagulation kernels and rate, coalescence times and rates."""
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import Av, gas_args, ready_model

KB, PI10, REL = 1.3806488e-23, 3.1415926535, 1e-12


@pytest.mark.parametrize("validation, K_T", [(0, 0.0), (1, 0.0), (0, 3.0e4), (1, 3.0e4)])
def test_kernels_coagulation_and_merging(validation, K_T):
    m = ready_model()
    m.K_T_factor = K_T
    m._set_validation_case(validation)
    fm = 4 * (PI10 * KB * m.T / m.m_Ag()) ** 0.5 * m.p_d_g ** 2
    Cc = 1 + 2 * m.p_lambda_gas / m.p_d_m * (
        1.21 + 0.4 * math.exp(-0.78 * m.p_d_m / m.p_lambda_gas))
    cont = (8 * KB * m.T / (3 * m.viscosity)) * Cc
    hm, turb = 1.82 * fm * cont / (fm + cont), 8 * K_T * (np.pi / 6) * m.p_d_m ** 3
    rate = -0.5 * ((fm if validation else hm) + turb) * m.N_agg ** 2 * Av * m.density
    ref = dict(beta_coag_fm=fm, beta_coag_validation=fm, beta_coag_cont=cont, beta_coag_hm=hm,
               beta_coag_turb=turb, N_agg_coag=rate)
    for name, value in ref.items():
        assert getattr(m, name)() == pytest.approx(value, rel=REL), name
    m._set_coales_type(4)
    m.CtoH_crit = m.C_tot / m.H_tot  # merging needs C/H strictly below it
    assert m.N_pri_coales() == 0.0
    m.CtoH_crit *= 1.0 + 1e-12
    assert m.N_pri_coales() == pytest.approx(rate * (m.N_pri / m.N_agg) ** 2, rel=REL)


def test_coalescence_times(model):
    model.update_gas(*gas_args(T=1500.0))
    model._set_coales_type(1)
    model.p_d_p = 1e-8
    assert (model.t_f_md_derived(), model.t_f_titania()) == pytest.approx(
        (10 ** (0.0014 * 1500 - 11.4303), 7.44e16 * 1e-8 ** 4 * 1500 * math.exp(33100.0 / 1500)),
        rel=REL)
    model._set_coales_type(2)
    assert model.t_f_silica() == pytest.approx(
        1.1e-14 * 1e-8 * math.exp((180000.0 / 1500) * (1 - 2.5e-9 / 1e-8)), rel=REL)
    model.p_d_p = 2.5e-9
    assert model.t_f_silica() == 1.1e-14 * 2.5e-9


def test_sintering_rate():
    assert fv.CSootModel().N_pri_coales_sintering() == 0.0  # n_p == 1: no time law needed
    m = ready_model()
    m._set_coales_type(1)
    n, tau = m.n_p(), m.t_f_titania()
    assert tau > m.t_coales_min
    assert m.N_pri_coales() == pytest.approx((n - n ** 0.6666666667) * (-3 / tau) * m.N_agg,
                                             rel=REL)
    m._set_coales_type(2)
    m.p_d_p = m.d_crit_coales  # t_f_silica = 2.75e-23 s is raised to t_coales_min
    assert m.N_pri_coales() == pytest.approx((n - n ** 0.6666666667) * (-3 / 1e-12) * m.N_agg,
                                             rel=REL)


def test_zero_divisors():
    class Massless(fv.CSootModel):
        massless = False

        def m_Ag(self):
            return 0.0 if self.massless else super().m_Ag()

    m = ready_model(cls=Massless)
    m.massless = True
    for name in ("beta_coag_fm", "beta_coag_validation"):
        with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
            getattr(m, name)()
    m.H_tot_min = 0.0
    m.PAH_growth_update = lambda: None
    m.update_solution(np.array([8.0e-8, 2.4e-7, 1.9e-2, 0.0]))
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.N_pri_coales_merge()
