"""Any argument, any state: a Python exception or a result, never a crash."""
import inspect
import io
import contextlib
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import ready_model

WEIRD = [0, 1, -1, 3, 10**6, -(10**6), 2**31, 2**70, 1.5, math.nan, math.inf, None, "x",
         np.float64(2.0), np.int64(2), [1, 2], np.zeros(4)]
EXPECTED = (TypeError, ValueError, IndexError, ZeroDivisionError, OverflowError, AttributeError,
            KeyError, NotImplementedError)
SKIP = {"__reduce__", "__setstate__"}


def _arity(method):
    doc = method.__doc__.splitlines()[0]
    params = doc[doc.index("(") + 1: doc.index(")")].split(",")[1:]
    return len([p for p in params if p.strip()])


def _models():
    bare = fv.CSootModel.__new__(fv.CSootModel)
    with contextlib.redirect_stdout(io.StringIO()):
        return [bare, fv.CSootModel()] + [ready_model(g) for g in (1, 2, 3, 4, 5)]


def _call_everything(m):
    names = [n for n in dir(fv.CSootModel)
             if callable(getattr(fv.CSootModel, n)) and not n.startswith("__") and n not in SKIP]
    for name in names:
        method = getattr(m, name)
        if not inspect.isbuiltin(method):
            continue
        n = _arity(method)
        arg_sets = [()] if n == 0 else [(a,) * n for a in WEIRD]
        for args in arg_sets:
            try:
                with contextlib.redirect_stdout(io.StringIO()):
                    method(*args)
            except EXPECTED:
                pass


def test_every_method_with_weird_arguments_on_every_state():
    for m in _models():
        _call_everything(m)


def test_weird_attribute_values_then_full_sequence():
    with contextlib.redirect_stdout(io.StringIO()):
        base = ready_model(1)
    names = [n for n in dir(fv.CSootModel) if isinstance(getattr(fv.CSootModel, n), property)
             or type(getattr(fv.CSootModel, n)).__name__ == "getset_descriptor"]
    for name in names:
        for value in WEIRD + [np.zeros((2, 2)), np.array(["a"]), np.arange(3), [], object()]:
            with contextlib.redirect_stdout(io.StringIO()):
                m = ready_model((hash(name) % 5) + 1)
            try:
                setattr(m, name, value)
            except EXPECTED:
                continue
            for step in ("update_solution", "S_N_agg", "S_C_tot", "update_scrub_wdot", "initialize",
                         "update_solution"):
                try:
                    with contextlib.redirect_stdout(io.StringIO()):
                        if step == "update_solution":
                            m.update_solution(np.array([8e-8, 2.4e-7, 1.9e-2, 3.8e-3]))
                        else:
                            getattr(m, step)()
                except EXPECTED:
                    pass
    assert base.S_N_agg() == base.S_N_agg()


def test_unpickling_garbage_state_raises_cleanly():
    fields = 148
    for value in WEIRD:
        state = tuple([value] * fields)
        try:
            fv._fumivex2.__pyx_unpickle_CSootModel(fv.CSootModel, 0x4a76d08, state)
        except EXPECTED:
            pass
    with pytest.raises(TypeError):
        fv._fumivex2.__pyx_unpickle_CSootGas(fv.CSootGas, 0xdc43364, ("a",) * 7)
