"""Assembly of the soot source terms and the scrubbing rates."""
import numpy as np
import pytest

import fumivex2 as fv
from conftest import ready_model

PROCESSES = ["inception", "growth", "oxidation", "coagulation", "coalescence"]
SWITCHES = [p + "_enabled" for p in PROCESSES]
SOURCES = ["S_N_agg", "S_N_pri", "S_C_tot", "S_H_tot"]
REL = 1e-12


def test_process_switches_and_variables_outside_the_four():
    m = ready_model()
    m._set_coales_type(4)
    for p in PROCESSES:
        assert getattr(m, p)(0) is None and getattr(m, p)(5) is None, p
    for s in SWITCHES:
        setattr(m, s, False)
    for p in PROCESSES:
        assert [getattr(m, p)(k) for k in range(-1, 8)] == [0.0] * 9, p
    assert [getattr(m, s)() for s in SOURCES] == [0.0] * 4


@pytest.mark.parametrize("haca, pah, carb", [(1, 0, 0), (0, 1, 0), (1, 1, 1), (0, 0, 1)])
def test_growth_and_oxidation_read_the_caches(haca, pah, carb):
    m = ready_model()
    m.growth_HACA_enabled, m.growth_PAH_adsorption_enabled = bool(haca), bool(pah)
    m.carbonization_enabled = bool(carb)
    m.p_dC_tot_dt_HACA_alt, m.p_dC_tot_dt_PAH = 1.0, 2.0
    m.p_dH_tot_dt_HACA_alt, m.p_dH_tot_dt_PAH, m.p_dH_tot_dt_carb = 4.0, 8.0, 16.0
    m.p_dC_tot_dt_OH, m.p_dC_tot_dt_O2, m.p_dH_tot_dt_OH, m.p_dH_tot_dt_O2 = -32.0, -64.0, -1.5, -3.0
    assert (m.growth(1), m.growth(2)) == (0.0, 0.0)
    assert m.growth(3) == 1.0 * haca + 2.0 * pah
    assert m.growth(4) == 4.0 * haca + 8.0 * pah + 16.0 * carb
    assert [m.oxidation(k) for k in (1, 2, 3, 4)] == [0.0, 0.0, -96.0, -4.5]
    assert (m.dC_tot_dt_Ox(), m.dH_tot_dt_Ox()) == (-96.0, -4.5)


def test_source_terms_sum_the_five_processes():
    m = ready_model()
    m._set_coales_type(1)
    m.carbonization_enabled = True
    m.update_solution(np.array([8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3]))
    assert m.inception(2) == m.inception(1) == m.inception_N_agg()
    assert (m.inception(3), m.inception(4)) == (m.inception_C_tot(), m.inception_H_tot())
    assert [m.coagulation(k) for k in (1, 2, 3, 4)] == [m.N_agg_coag(), 0.0, 0.0, 0.0]
    assert [m.coalescence(k) for k in (1, 2, 3, 4)] == [0.0, m.N_pri_coales(), 0.0, 0.0]
    for k, name in enumerate(SOURCES, start=1):
        terms = [getattr(m, p)(k) for p in PROCESSES]
        assert getattr(m, name)() == ((((terms[0] + terms[1]) + terms[2]) + terms[3]) + terms[4])


@pytest.mark.parametrize("missing, message", [
    ({"inception"}, "'NoneType' and 'float'"),
    ({"coalescence"}, "'float' and 'NoneType'"),
    ({"inception", "growth"}, "'NoneType' and 'NoneType'"),
])
def test_a_missing_process_value_fails_the_sum(missing, message):
    calls = []

    def override(p):
        def process(self, k):
            calls.append(p)
            return None if p in missing else getattr(fv.CSootModel, p)(self, k)
        return process

    Partial = type("Partial", (fv.CSootModel,), {p: override(p) for p in PROCESSES})
    m = ready_model(cls=Partial)
    with pytest.raises(TypeError, match=rf"^unsupported operand type\(s\) for \+: {message}$"):
        m.S_N_agg()
    # evaluated and added left to right: nothing after the failing addition runs
    last = max(PROCESSES.index(p) for p in missing)
    assert calls == PROCESSES[:max(last, 1) + 1]


@pytest.mark.parametrize("off", [(), ("oxidation_enabled",), ("growth_HACA_enabled",),
                                 ("scrubbing_enabled",)])
def test_scrubbing_rates(off):
    m = ready_model()
    for name in off:
        setattr(m, name, False)
    m.p_dC_tot_dt_HACA_alt, m.p_dC_tot_dt_O2, m.p_dC_tot_dt_OH = 1.0, -0.25, -0.125
    m.p_dH_tot_dt_O2, m.p_dH_tot_dt_OH = -0.5, -0.0625

    def pah_terms():  # stands in for the PAH growth model's part
        m.scrub_wdot[0] += 7.0

    m.update_scrub_wdot_PAH_growth = pah_terms
    rho, W = m.density, np.zeros_like(m.X)
    if "scrubbing_enabled" not in off:
        W[0] = 7.0
        if "growth_HACA_enabled" not in off:
            W[m.C2H2_index] -= rho * 1.0 / 2000
            W[m.H_index] += 1.0 * 0.875 * rho / 1000
        if "oxidation_enabled" not in off:
            for i, term in [(m.CO_index, rho * -0.25 / -1000), (m.H2_index, -0.5 * rho / -1000),
                            (m.H_index, -(-0.5 * rho / -1000)),
                            (m.O2_index, -(-0.25 * -0.5 * rho / 1000)),
                            (m.CO_index, rho * -0.125 / -1000),
                            (m.H2_index, (-0.0625 + -0.125) * -0.5 * rho / 1000),
                            (m.OH_index, -(-0.125 * rho / -1000))]:
                W[i] += term
    for calls in (1, 2):  # accumulates until the next update_gas
        m.update_scrub_wdot()
        np.testing.assert_allclose(m.scrub_wdot, calls * W, rtol=REL, atol=0)
    assert m.scrub_wdot[m.H2O_index] == 0.0
