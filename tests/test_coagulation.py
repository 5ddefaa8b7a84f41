"""Coagulation kernels and rate, coalescence times and rates."""
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import Av, gas_args, ready_model

KB = 1.3806488e-23
PI10 = 3.1415926535
REL = 1e-12


def kernels(m):
    fm = 4 * (PI10 * KB * m.T / m.m_Ag()) ** 0.5 * m.p_d_g ** 2
    Kn = 2 * m.p_lambda_gas / m.p_d_m
    Cc = 1 + Kn * (1.21 + 0.4 * math.exp(-0.78 * m.p_d_m / m.p_lambda_gas))
    cont = (8 * KB * m.T / (3 * m.viscosity)) * Cc
    turb = 8 * m.K_T_factor * (np.pi / 6) * m.p_d_m ** 3
    return fm, cont, 1.82 * fm * cont / (fm + cont), turb


@pytest.mark.parametrize("validation", [0, 1])
@pytest.mark.parametrize("K_T", [0.0, 3.0e4])
def test_kernels_and_coagulation_rate(validation, K_T):
    m = ready_model()
    m.K_T_factor = K_T
    m._set_validation_case(validation)
    fm, cont, hm, turb = kernels(m)
    assert m.beta_coag_fm() == pytest.approx(fm, rel=REL)
    assert m.beta_coag_validation() == m.beta_coag_fm()
    assert m.beta_coag_cont() == pytest.approx(cont, rel=REL)
    assert m.beta_coag_hm() == pytest.approx(hm, rel=REL)
    assert m.beta_coag_turb() == pytest.approx(turb, rel=REL)
    assert (turb == 0.0) == (K_T == 0.0)
    beta = fm if validation else hm
    rate = -0.5 * (beta + turb) * m.N_agg ** 2 * Av * m.density
    assert m.N_agg_coag() == pytest.approx(rate, rel=REL)


def test_validation_kernel_does_not_go_through_beta_coag_fm():
    class Odd(fv.CSootModel):
        def beta_coag_fm(self):
            return 1.0

    m = ready_model(cls=Odd)
    assert m.beta_coag_validation() == pytest.approx(kernels(m)[0], rel=REL)
    assert m.beta_coag_hm() == pytest.approx(1.82 * m.beta_coag_cont() / (1 + m.beta_coag_cont()),
                                             rel=REL)


def test_zero_aggregate_mass_raises_host_division_error():
    class Massless(fv.CSootModel):
        def m_Ag(self):
            return 0.0

    m = ready_model(cls=Massless)
    for name in ("beta_coag_fm", "beta_coag_validation"):
        with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
            getattr(m, name)()


def test_coalescence_times(model):
    model.update_gas(*gas_args(T=1500.0))
    assert model.t_f_md_derived() == pytest.approx(10 ** (0.0014 * 1500 - 11.4303), rel=REL)
    assert model.t_f_md_derived() == pytest.approx(4.67412e-10, rel=1e-5)
    model._set_coales_type(1)
    model.p_d_p = 1e-8
    assert model.t_f_titania() == pytest.approx(
        7.44e16 * 1e-8 ** 4 * 1500 * math.exp(33100.0 / 1500), rel=REL)
    assert model.t_f_titania() == pytest.approx(4.27657e-3, rel=1e-5)
    model._set_coales_type(2)
    assert model.t_f_silica() == pytest.approx(
        1.1e-14 * 1e-8 * math.exp((180000.0 / 1500) * (1 - 2.5e-9 / 1e-8)), rel=REL)
    model.p_d_p = 2.5e-9
    assert model.t_f_silica() == 1.1e-14 * 2.5e-9


def test_sintering_rate_and_time_floor():
    m = ready_model()
    m._set_coales_type(1)
    n, tau = m.n_p(), m.t_f_titania()
    assert tau > m.t_coales_min
    assert m.N_pri_coales() == pytest.approx(
        (n - n ** 0.6666666667) * (-3 / tau) * m.N_agg, rel=REL)
    m._set_coales_type(2)
    m.p_d_p = m.d_crit_coales  # t_f_silica = 2.75e-23 s, below the floor
    assert m.N_pri_coales_sintering() == pytest.approx(
        (n - n ** 0.6666666667) * (-3 / 1e-12) * m.N_agg, rel=REL)


def test_sintering_of_single_spheres_needs_no_time_law(model):
    assert model.t_coales is None
    assert model.N_pri_coales_sintering() == 0.0  # n_p == 1
    m = ready_model()
    with pytest.raises(TypeError):
        m.N_pri_coales_sintering()  # n_p == 3, no time law installed


def test_merging_of_hydrogen_rich_particles():
    m = ready_model()
    m._set_coales_type(4)
    m.K_T_factor = 3.0e4
    m.CtoH_crit = m.C_tot / m.H_tot
    assert m.N_pri_coales() == 0.0
    m.CtoH_crit *= 1.0 + 1e-12
    fm, cont, hm, turb = kernels(m)
    assert m.N_pri_coales() == pytest.approx(
        -0.5 * (hm + turb) * m.N_pri ** 2 * Av * m.density, rel=REL)
    m.H_tot_min = 0.0
    m.PAH_growth_update = lambda: None
    m.update_solution(np.array([8.0e-8, 2.4e-7, 1.9e-2, 0.0]))
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        m.N_pri_coales_merge()
