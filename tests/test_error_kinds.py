"""Each kind of error the core raises reaches Python as one exact exception type."""
import numpy as np
import pytest

import fumivex2 as fv
from conftest import SOLUTION, configure, gas_args, ready_model


def test_pair_tables_of_another_model_fail_with_a_length_mismatch(capsys):
    # model 1 builds ten pair entries, model 4 then resizes only p_ROP to one per PAH
    m = configure(fv.CSootModel(), 1)
    m._set_PAH_growth_model(4)
    m.initialize()
    m.update_gas(*gas_args())
    m.update_solution(SOLUTION.copy())
    assert (len(m.p_ROP), len(m.dimer_n_C)) == (4, 10)
    m._set_PAH_growth_model(1)  # selected again without initialize
    message = r"^shapes \(4,\) and \(10,\) not aligned: 4 \(dim 0\) != 10 \(dim 0\)$"
    for call in (m.inception_C_tot, m.inception_H_tot, m.S_C_tot):
        with pytest.raises(ValueError, match=message):
            call()
    assert m.inception_N_agg() == pytest.approx(np.sum(m.p_ROP) / m.density, rel=1e-14)
    m.modified_particle_addition = True  # now weighted by dimer_n_C as well
    with pytest.raises(ValueError, match=message):
        m.S_N_pri()


def test_slot_errors_are_type_errors():
    m = ready_model()
    m.alpha = None
    with pytest.raises(TypeError, match="^'NoneType' object is not callable$"):
        m.update_solution(SOLUTION.copy())
    m = ready_model()
    m.alpha = m.update_scrub_wdot  # a callable returning None where a rate is needed
    with pytest.raises(TypeError, match="^must be real number, not NoneType$"):
        m.dC_tot_dt_HACA_alt()


def test_index_overflow_and_zero_division_kinds():
    m = ready_model()
    with pytest.raises(IndexError, match="^index 2 is out of bounds for axis 0 with size 2$"):
        m.update_solution(np.array([5e-8, 1e-7]))
    with pytest.raises(OverflowError, match="^value too large to convert to int$"):
        m.k_FWD(2**40, 0)
    with pytest.raises(ZeroDivisionError, match="^float division$"):  # checked helper
        m.update_gas(1600.0, 101325.0, 0.0, 5e-5, 28.0, m.X)
    m = ready_model()
    m.N_pri_min = 0.0  # no primaries: the primary volume divides as Python would
    with pytest.raises(ZeroDivisionError, match="^float division by zero$"):
        m.update_solution(np.array([8.0e-8, 0.0, 1.9e-2, 3.8e-3]))
