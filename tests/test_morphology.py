"""Particle morphology, bulk soot properties and gas-side quantities."""
import numpy as np
import pytest

import fumivex2 as fv
from conftest import Av, ready_model

KB = 1.3806488e-23
PI10 = 3.1415926535
RHO_S, MW_C, MW_H = 1800.0, 0.012011, 0.00100784
REL = 1e-12


def morphology(N_agg, N_pri, C_tot, H_tot):
    """The particle picture in plain Python."""
    V_tot = C_tot * MW_C / RHO_S
    V_p = V_tot / (N_pri * Av)
    d_p = (6 * V_p / PI10) ** 0.333334
    A_p = PI10 * (6 * V_p / PI10) ** 0.6666666667
    n_p = N_pri / N_agg
    d_m = max(d_p, d_p * n_p ** 0.45)
    d_g = d_m / (n_p ** -0.2 + 0.4) if n_p > 1.5 else d_m / 1.29
    mass = C_tot * MW_C + H_tot * MW_H
    V_Ag = V_tot / (N_agg * Av)
    return dict(V_tot=V_tot, V_p=V_p, d_p=d_p, A_p=A_p, n_p=n_p, d_m=d_m, d_g=d_g,
                m_p=PI10 * RHO_S * d_p ** 3 / 6, A_tot=N_pri * Av * A_p, A_Ag=n_p * A_p,
                V_Ag=V_Ag, m_Ag=V_Ag * RHO_S, carbon_mass=C_tot * MW_C,
                hydrogen_mass=H_tot * MW_H, total_mass=mass,
                SSA=N_pri * Av * A_p / mass / 1000,
                dispersion_exponent=2.339156177 * (H_tot / C_tot) + 0.690753997)


def test_morphology_and_gas_quantities_match_the_equations():
    m = ready_model()
    ref = morphology(m.N_agg, m.N_pri, m.C_tot, m.H_tot)
    for name, value in ref.items():
        assert getattr(m, name)() == pytest.approx(value, rel=REL), name
    assert (m.p_d_p, m.p_d_m, m.p_d_g, m.p_A_tot) == (m.d_p(), m.d_m(), m.d_g(), m.A_tot())
    assert m.volume_fraction() == pytest.approx(ref["total_mass"] * m.density / RHO_S, rel=REL)

    X = np.asarray(m.X)
    assert m.molar_density(m.C2H2_index) == pytest.approx(
        X[m.C2H2_index] * m.density / m.mean_MW, rel=REL)
    assert m.molar_density(-1) == pytest.approx(X[-1] * m.density / m.mean_MW, rel=REL)
    with pytest.raises(IndexError):
        m.molar_density(len(X))

    lam = (m.viscosity / m.density) * (PI10 * m.mean_MW / (2 * KB * Av * m.T)) ** 0.5
    assert m.calc_lambda_gas() == pytest.approx(lam, rel=REL)
    assert m.p_lambda_gas == m.calc_lambda_gas()
    Kn = 2 * lam / ref["d_m"]
    Cc = 1 + Kn * (1.21 + 0.4 * np.exp(-0.78 * ref["d_m"] / lam))
    D = Cc * KB * m.T / (3 * PI10 * m.viscosity * ref["d_m"])
    assert m.diffus_coeff_morph() == pytest.approx(D, rel=REL)
    assert m.diffus_coeff() == m.diffus_coeff_morph()
    m.diffus_coeff_const_val = 2.5e-9
    m._set_validation_case(1)
    assert m.diffus_coeff() == m.diffus_coeff_const() == 2.5e-9


@pytest.mark.parametrize("N_agg, N_pri, branch", [
    (2.0 ** -30, 1.5 * 2.0 ** -30, "sphere"),  # n_p exactly 1.5
    (2.0 ** -30, 1.6 * 2.0 ** -30, "chain"),
    (4.0e-8, 1.0e-8, "sphere"),                # fewer primaries than aggregates
])
def test_mobility_and_gyration_diameter_branches(N_agg, N_pri, branch):
    m = ready_model(solution=[N_agg, N_pri, 1.9e-2, 3.8e-3])
    d_p, n = m.d_p(), m.n_p()
    expect_dm = d_p * n ** 0.45 if n > 1 else d_p
    assert m.d_m() == pytest.approx(expect_dm, rel=REL)
    expect_dg = m.d_m() / 1.29 if branch == "sphere" else m.d_m() / (n ** -0.2 + 0.4)
    assert m.d_g() == pytest.approx(expect_dg, rel=REL)


def test_fresh_model_is_one_minimal_sphere(model):
    assert model.n_p() == 1.0
    assert model.d_m() == model.d_p()
    assert model.d_g() == pytest.approx(model.d_p() / 1.29, rel=REL)
    assert model.d_p() == pytest.approx(1.999856870486776e-09, rel=1e-12)
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        model.diffus_coeff_morph()  # p_d_m not refreshed yet


def test_composites_call_their_components_late_bound():
    class BigPrimaries(fv.CSootModel):
        def A_p(self):
            return 2.0e-16

        def n_p(self):
            return 4.0

    m = ready_model(cls=BigPrimaries)
    assert m.A_tot() == m.N_pri * Av * 2.0e-16
    assert m.A_Ag() == 4.0 * 2.0e-16
    assert m.SSA() == pytest.approx(m.A_tot() / m.total_mass() / 1000, rel=REL)
    assert m.d_m() == pytest.approx(m.d_p() * 4.0 ** 0.45, rel=REL)
    assert m.d_g() == pytest.approx(m.d_m() / (4.0 ** -0.2 + 0.4), rel=REL)


def test_zero_divisors_raise_their_messages():
    class NoSoot(fv.CSootModel):
        def total_mass(self):
            return 0.0

    m = ready_model(cls=NoSoot)
    with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
        m.SSA()
    m.N_agg_min = m.N_pri_min = 0.0
    with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
        m.update_solution(np.array([0.0, 0.0, 1.9e-2, 3.8e-3]))  # V_p inside d_p
    assert m.N_pri == 0.0
    for name, message in [("V_p", "float division by zero"), ("d_p", "float division by zero"),
                          ("V_Ag", "float division by zero"), ("n_p", "float division")]:
        with pytest.raises(ZeroDivisionError, match=f"^{message}$"):
            getattr(m, name)()
