"""Particle morphology, bulk soot properties and gas-side quantities."""
import numpy as np
import pytest

import fumivex2 as fv
from conftest import Av, ready_model

KB, PI10, RHO_S, MW_C, MW_H = 1.3806488e-23, 3.1415926535, 1800.0, 0.012011, 0.00100784


def test_morphology_and_gas_quantities_match_the_equations():
    m = ready_model()
    C, H, Na, Np = m.C_tot, m.H_tot, m.N_agg, m.N_pri
    V_p = C * MW_C / RHO_S / (Np * Av)
    d_p, A_p, n = (6 * V_p / PI10) ** 0.333334, PI10 * (6 * V_p / PI10) ** 0.6666666667, Np / Na
    d_m = max(d_p, d_p * n ** 0.45)
    mass = C * MW_C + H * MW_H
    lam = (m.viscosity / m.density) * (PI10 * m.mean_MW / (2 * KB * Av * m.T)) ** 0.5
    Cc = 1 + 2 * lam / d_m * (1.21 + 0.4 * np.exp(-0.78 * d_m / lam))
    ref = dict(V_p=V_p, d_p=d_p, A_p=A_p, n_p=n, d_m=d_m, d_g=d_m / (n ** -0.2 + 0.4),
               m_p=PI10 * RHO_S * d_p ** 3 / 6, A_tot=Np * Av * A_p, A_Ag=n * A_p,
               m_Ag=C * MW_C / RHO_S / (Na * Av) * RHO_S, total_mass=mass,
               SSA=Np * Av * A_p / mass / 1000, volume_fraction=mass * m.density / RHO_S,
               dispersion_exponent=2.339156177 * (H / C) + 0.690753997, calc_lambda_gas=lam,
               diffus_coeff_morph=Cc * KB * m.T / (3 * PI10 * m.viscosity * d_m))
    for name, value in ref.items():
        assert getattr(m, name)() == pytest.approx(value, rel=1e-12), name
    assert (m.p_d_p, m.p_d_m, m.p_d_g, m.p_A_tot) == (m.d_p(), m.d_m(), m.d_g(), m.A_tot())
    X = np.asarray(m.X)
    assert m.molar_density(-1) == pytest.approx(X[-1] * m.density / m.mean_MW, rel=1e-12)


@pytest.mark.parametrize("n_p", [1.5, 0.25])
def test_few_primaries_keep_the_sphere_diameters(n_p):
    m = ready_model(solution=[2.0 ** -30, n_p * 2.0 ** -30, 1.9e-2, 3.8e-3])
    d_m = m.d_p() * max(1.0, n_p ** 0.45)
    assert (m.d_m(), m.d_g()) == pytest.approx((d_m, d_m / 1.29), rel=1e-12)


def test_zero_divisors_and_late_binding():
    class Massless(fv.CSootModel):
        def total_mass(self):
            return 0.0

    m = ready_model(cls=Massless)
    with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
        m.SSA()  # through the overridden total_mass
    m.N_agg_min = m.N_pri_min = 0.0
    with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
        m.update_solution(np.array([0.0, 0.0, 1.9e-2, 3.8e-3]))  # V_p inside d_p
    for name, message in [("V_Ag", "float division by zero"), ("n_p", "float division")]:
        with pytest.raises(ZeroDivisionError, match=f"^{message}$"):
            getattr(m, name)()
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        fv.CSootModel().diffus_coeff_morph()  # p_d_m not refreshed yet
