"""Overrides from Python subclasses, slots holding foreign callables, GC."""
import gc
import weakref

import numpy as np
import pytest

import fumivex2 as fv
from conftest import SOLUTION, configure, gas_args, ready_model


def test_overriding_d_p_changes_the_rates_that_use_it():
    base = ready_model(1)

    class BigPrimaries(fv.CSootModel):
        def d_p(self):
            return 2.0 * super().d_p()

    sub = ready_model(1, cls=BigPrimaries)
    assert sub.p_d_p == 2.0 * base.p_d_p
    assert sub.d_m() == 2.0 * base.d_m()  # composite methods call the override
    assert sub.m_p() == pytest.approx(8.0 * base.m_p(), rel=1e-12)
    assert sub.S_N_agg() != base.S_N_agg()


def test_super_call_reaches_the_implementation_without_recursion():
    calls = []

    class Counting(fv.CSootModel):
        def k_FWD(self, PAH_1_id, PAH_2_id):
            calls.append((PAH_1_id, PAH_2_id))
            return super().k_FWD(PAH_1_id, PAH_2_id)

        def molar_density(self, index):
            return super().molar_density(index)

    sub = ready_model(1, cls=Counting)
    base = ready_model(1)
    assert len(calls) == 2 * 10  # once in the dimer balance, once inside k_REV, per pair
    assert sub.S_C_tot() == base.S_C_tot()
    assert sub.inception_N_agg() == base.inception_N_agg()


def test_override_during_update_and_instance_attribute_override():
    class NoAlpha(fv.CSootModel):
        pass

    m = ready_model(1, cls=NoAlpha)
    assert m.p_dC_tot_dt_HACA_alt > 0
    m.c_soot_nought = lambda: 0.0  # an instance attribute replaces the method
    m.update_solution(SOLUTION)
    assert m.p_dC_tot_dt_HACA_alt == 0.0 and m.p_dC_tot_dt_O2 == 0.0
    del m.c_soot_nought
    m.update_solution(SOLUTION)
    assert m.p_dC_tot_dt_HACA_alt > 0
    NoAlpha.c_soot_nought = lambda self: 0.0  # class changed after construction
    m.update_solution(SOLUTION)
    assert m.p_dC_tot_dt_HACA_alt == 0.0


def test_slots_accept_any_callable(model):
    m = ready_model(1)
    ref = m.dC_tot_dt_HACA_alt()
    m.alpha = lambda: 0.5
    assert m.dC_tot_dt_HACA_alt() == pytest.approx(ref * 0.5 / m.alpha_empirical(), rel=1e-12)
    other = fv.CSootModel()
    m.alpha = other.alpha_constant  # bound to another model: called through Python
    other.alpha_constant_value = 0.25
    assert m.dC_tot_dt_HACA_alt() == pytest.approx(ref * 0.25 / m.alpha_empirical(), rel=1e-12)
    m.alpha = m.d_p  # own method of the right shape
    assert m.dC_tot_dt_HACA_alt() == pytest.approx(ref * m.d_p() / m.alpha_empirical(), rel=1e-12)
    m.alpha = None
    with pytest.raises(TypeError, match="'NoneType' object is not callable"):
        m.dC_tot_dt_HACA_alt()
    m.alpha = lambda: "x"
    with pytest.raises(TypeError):
        m.dC_tot_dt_HACA_alt()

    def boom():
        raise KeyError("from the slot")

    m.alpha = boom
    with pytest.raises(KeyError, match="from the slot"):
        m.update_solution(SOLUTION)
    m.alpha = m.update_scrub_wdot  # own method, wrong shape: still a Python call
    with pytest.raises(TypeError):
        m.dC_tot_dt_HACA_alt()


def test_errors_from_overrides_propagate_unchanged():
    class Failing(fv.CSootModel):
        def k_PAH(self):
            raise RuntimeError("k_PAH failed")

    with pytest.raises(RuntimeError, match="k_PAH failed"):
        ready_model(1, cls=Failing)

    class BadReturn(fv.CSootModel):
        def d_g(self):
            return None

    with pytest.raises(TypeError):
        ready_model(1, cls=BadReturn)


def test_process_override_returning_none_breaks_the_sum():
    class NoneGrowth(fv.CSootModel):
        def growth(self, soot_variable):
            return None

    m = ready_model(1, cls=NoneGrowth)
    with pytest.raises(TypeError, match=r"unsupported operand type\(s\) for \+"):
        m.S_C_tot()


def test_dropped_models_are_collected():
    """Slots hold bound methods of their own model: each model is a cycle."""
    class Sub(fv.CSootModel):
        pass

    gc.collect()
    arrays = []
    for growth in (1, 2, 3, 4, 5):
        for cls in (fv.CSootModel, Sub):
            m = ready_model(growth, cls=cls)
            m.update_scrub_wdot()
            m.alpha = m.alpha_constant
            arrays.append(weakref.ref(m.scrub_wdot))  # lives exactly as long as its model
            del m
    s = Sub()
    s.me = s
    wr = weakref.ref(s)
    del s
    gc.collect()
    assert wr() is None
    assert all(r() is None for r in arrays)


def test_custom_attribute_lookup_is_consulted():
    class Intercepting(fv.CSootModel):
        def __getattribute__(self, name):
            if name == "k_REAC":
                return lambda: 0.0  # no dimer ever reacts
            return super().__getattribute__(name)

    m = ready_model(1, cls=Intercepting)
    assert m.inception_N_agg() == 0.0 and m.inception_C_tot_reactived() == 0.0
    base = ready_model(1)
    assert base.inception_N_agg() > 0.0
