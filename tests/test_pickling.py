"""Pickling: state tuples, checksums, reconstructors, restored behaviour."""
import copy
import hashlib
import pickle

import numpy as np
import pytest

import fumivex2 as fv
from fumivex2 import _fumivex2 as ext
from conftest import ready_model


def _field_names(cls):
    """Field names from the first line of the checksum error message."""
    with pytest.raises(pickle.PickleError) as err:
        getattr(ext, "__pyx_unpickle_" + cls.__name__)(cls, 0x1234567, None)
    return str(err.value).split(" = (")[1].rstrip(")").split(", ")


@pytest.mark.parametrize("cls, checksums, count", [
    (fv.CSootGas, (0xdc43364, 0xa9c873e, 0xd6ef8b0), 7),
    (fv.CSootModel, (0x4a76d08, 0xc59345e, 0xd578c34), 148),
    (fv.CPFROde, (0xa50cd52, 0x9951450, 0xa04a8eb), 24),
    (fv.CFlameSolver, (0xbc67692, 0xc2dbab9, 0xeac5e7e), 38),
    (fv.CFlameSolverOpt, (0x4425ef5, 0xe9075ae, 0xc5057d9), 44),
])
def test_checksums_are_digests_of_the_field_names(cls, checksums, count):
    names = _field_names(cls)
    assert len(names) == count and names == sorted(names)
    joined = " ".join(names).encode()
    digests = tuple(int(h(joined).hexdigest()[:7], 16)
                    for h in (hashlib.md5, hashlib.sha256, hashlib.sha1))
    assert digests == checksums
    reconstructor = getattr(ext, "__pyx_unpickle_" + cls.__name__)
    for c in checksums:
        assert type(reconstructor(cls, c, None)) is cls
    with pytest.raises(pickle.PickleError, match=r"^Incompatible checksums \(0x1234567 vs \(0x%x, 0x%x, 0x%x\) = \("
                       % checksums):
        reconstructor(cls, 0x1234567, None)
    obj = reconstructor(__pyx_type=cls, __pyx_checksum=checksums[1], __pyx_state=None)
    assert type(obj) is cls


def test_soot_gas_round_trip_and_two_element_reduce():
    g = fv.CSootGas()
    g.update(1500.0, 101325.0, [0.2, 0.8], 0.25, 4e-5, 28.0)
    g.update_MWs([2.0, 28.0])
    r = g.__reduce__()
    assert len(r) == 2 and r[1][0] is fv.CSootGas and r[1][1] == 0xdc43364
    assert r[1][2] == ([2.0, 28.0], 101325.0, 1500.0, [0.2, 0.8], 28.0, 4e-5, 0.25)
    h = pickle.loads(pickle.dumps(g))
    assert (h._X, h.MWs, h.T, h.P, h.rho, h.mu, h.mean_MW) == (
        [0.2, 0.8], [2.0, 28.0], 1500.0, 101325.0, 0.25, 4e-5, 28.0)
    fresh = pickle.loads(pickle.dumps(fv.CSootGas()))
    assert fresh._X == [] and fresh.T == 0.0
    for clone in (copy.deepcopy(g), copy.copy(g)):
        assert (clone._X, clone.MWs, clone.T, clone.mu) == ([0.2, 0.8], [2.0, 28.0], 1500.0, 4e-5)
        clone.update_TPX(900.0, 1e5, [1.0, 0.0])
        assert g.T == 1500.0 and g._X == [0.2, 0.8]


def test_soot_model_round_trip_restores_behaviour(growth_model):
    m = ready_model(growth_model)
    m.update_scrub_wdot()
    r = m.__reduce__()
    assert len(r) == 3 and r[1] == (fv.CSootModel, 0x4a76d08, None) and len(r[2]) == 148
    clone = pickle.loads(pickle.dumps(m))
    assert clone.alpha == clone.alpha_empirical and clone.alpha.__self__ is clone
    assert clone.inception_N_agg.__self__ is clone
    assert clone.PAH_growth_model == growth_model
    np.testing.assert_array_equal(clone.scrub_wdot, m.scrub_wdot)
    assert clone.PAH_index_in_gas == m.PAH_index_in_gas
    terms = lambda x: [x.S_N_agg(), x.S_N_pri(), x.S_C_tot(), x.S_H_tot()]
    assert terms(clone) == terms(m)
    copied = copy.deepcopy(m)
    assert terms(copied) == terms(m)
    # the restored model keeps working point by point
    for obj in (m, clone):
        obj.update_gas(obj.T * 1.01, obj.P, obj.density, obj.viscosity, obj.mean_MW * 1000, obj.X)
        obj.update_solution(np.array([obj.N_agg, obj.N_pri, obj.C_tot, obj.H_tot]))
    assert terms(clone) == terms(m)


def test_subclass_dict_travels_and_setstate_checks():
    class Sub(fv.CSootModel):
        pass

    globals()["Sub"] = Sub  # picklable by reference
    Sub.__qualname__ = "Sub"
    s = Sub()
    s.note = "kept"
    s.PAH_index_in_gas = [3, 7]
    r = s.__reduce__()
    assert len(r[2]) == 149 and r[2][-1] == {"note": "kept"}
    t = pickle.loads(pickle.dumps(s))
    assert type(t) is Sub and t.note == "kept" and t.PAH_index_in_gas == [3, 7]
    assert t.alpha.__self__ is t

    m = fv.CSootModel()
    with pytest.raises(TypeError, match="Expected tuple, got list"):
        m.__setstate__([])
    with pytest.raises(IndexError):
        m.__setstate__((1.0, 2.0))
    assert m.A_carb == 1.0 and m.A_p_min == 2.0  # fields before the failure stay assigned
    with pytest.raises(TypeError, match="Expected tuple"):
        ext.__pyx_unpickle_CSootModel(fv.CSootModel, 0x4a76d08, [1])
    with pytest.raises(TypeError):
        ext.__pyx_unpickle_CSootModel(int, 0x4a76d08, None)


def test_copies_bind_slots_to_the_copy(growth_model):
    m = ready_model(growth_model)
    terms = lambda x: [x.S_N_agg(), x.S_N_pri(), x.S_C_tot(), x.S_H_tot()]
    before = terms(m)
    for clone in (copy.deepcopy(m), copy.copy(m)):
        slots = [clone.alpha, clone.beta_coag, clone.diffus_coeff, clone.inception_N_agg,
                 clone.PAH_growth_update, clone.update_scrub_wdot_PAH_growth]
        assert all(s.__self__ is clone for s in slots)
        assert terms(clone) == before
    # a deep copy computes with its own state: moving it leaves the original alone
    clone = copy.deepcopy(m)
    clone.update_gas(1800.0, 2e5, 0.15, 6e-5, clone.mean_MW * 1000, np.array(clone.X))
    clone.update_solution(np.array([1e-7, 4e-7, 3e-2, 5e-3]))
    assert terms(clone) != before and terms(m) == before
    deep = copy.deepcopy(m)
    assert deep.X is not m.X and copy.copy(m).X is m.X   # a shallow copy shares arrays

    class Holder(fv.CSootModel):
        pass

    h = Holder()
    h.other = m                                # a slot bound to another model stays with it
    h.alpha = m.alpha_constant
    pair = copy.deepcopy([h, m])
    assert pair[0].alpha.__self__ is pair[1] and pair[0].other is pair[1]
    assert copy.copy(h).alpha.__self__ is m
    # the object's own methods kept in its instance dictionary follow it like the slots;
    # the dictionary's other values are copied as copy.deepcopy copies them
    h.own, h.items = h.d_p, [1.0]
    h.alias = h.items
    for clone in (copy.deepcopy(h), copy.copy(h)):
        assert clone.own.__self__ is clone
    deep = copy.deepcopy(h)
    assert deep.items == [1.0] and deep.items is not h.items and deep.alias is deep.items
    assert copy.copy(h).items is h.items
