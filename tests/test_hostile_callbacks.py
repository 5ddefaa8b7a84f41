"""Callbacks that fight the extension: Python code run in the middle of a call (an
element's __eq__, a number's __float__ or __index__, a phase's TPX setter, a raising
slot) rebinds the very objects the call is using, and iterables lie about their length.
Each case must end in the caller's own error or a normal result, never in a crash."""
import contextlib
import io
import itertools

import numpy as np
import pytest

import fumivex2 as fv
from conftest import MW_KMOL, NAMES, configure
import test_flame_solver as tfs
import test_flame_solver_vec as tfv

HUGE = [range(10**18), itertools.repeat(6, 10**12)]


class Lying:
    """Claims `hint` items through __length_hint__ and yields `values`."""
    def __init__(self, values, hint):
        self.values, self.hint = values, hint

    def __iter__(self):
        return iter(self.values)

    def __length_hint__(self):
        return self.hint


def quiet(fn, *args):
    with contextlib.redirect_stdout(io.StringIO()):
        return fn(*args)


# ---- CSootModel --------------------------------------------------------------------------

def test_eq_rebinding_species_names_during_the_scan():
    m = fv.CSootModel()

    class Rebinding(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            m.species_names = ["N2", "x"]  # the scanned list loses its last reference
            return str.__eq__(self, other)

    m.species_names = [Rebinding("N2")] + NAMES[1:]
    # C2H2 is found in the first list; H2 is looked for in the one that replaced it
    with pytest.raises(ValueError, match="^H2 does not exist in species list!$"):
        m.checkNameOfSpecies()
    m.species_names = [Rebinding("N2")] + NAMES[1:]
    with pytest.raises(ValueError, match="^H2 does not exist in species list!$"):
        m.initialize()


VECTOR_PROPERTIES = ["PAH_index_in_gas", "PAH_Number_Carbon", "PAH_Number_Hydrogen",
                     "PAH_sticking_efficiency", "soot_PAH_index_in_gas",
                     "phy_dimer_index_in_gas", "pre_stick_eff", "stick_eff",
                     "p_dH_tot_dt_PAH_each"]


@pytest.mark.parametrize("name", VECTOR_PROPERTIES)
def test_soot_model_vector_fields_refuse_huge_hints_and_ignore_lying_ones(name):
    m = fv.CSootModel()
    setattr(m, name, [1, 2])
    for value in HUGE:
        with pytest.raises(MemoryError):
            setattr(m, name, value)
        assert getattr(m, name) == [1, 2]
    setattr(m, name, Lying([3, 4, 5], 10**8))  # nothing is reserved by the hint
    assert getattr(m, name) == [3, 4, 5]
    with pytest.raises(MemoryError):  # more than any vector holds: refused as list() does
        setattr(m, name, Lying([3, 4, 5], 10**17))
    setattr(m, name, Lying([3] * 5000, 0))
    assert len(getattr(m, name)) == 5000
    with pytest.raises(OverflowError):  # larger than an index-sized integer
        setattr(m, name, Lying([1], 10**30))


def test_conversions_that_rebind_the_field_they_are_converting():
    m = fv.CSootModel()

    class Meddling:
        def __float__(self):
            m.PAH_Number_Carbon = [9.0] * 100
            m.A_carb = 5.0
            return 6.0

        def __index__(self):
            m.PAH_index_in_gas = [7] * 100
            m.C2H2_index = 11
            return 3

    m.PAH_Number_Carbon = [1.0, Meddling(), 2.0]
    assert m.PAH_Number_Carbon == [1.0, 6.0, 2.0]
    m.PAH_index_in_gas = [Meddling(), 4]
    assert m.PAH_index_in_gas == [3, 4]
    m.A_carb = Meddling()
    assert m.A_carb == 6.0
    m.C2H2_index = Meddling()
    assert m.C2H2_index == 3


# ---- CSootGas ----------------------------------------------------------------------------

def test_soot_gas_vector_arguments():
    g = fv.CSootGas()
    g.update(1000.0, 1e5, [0.5, 0.5], 1.0, 2e-5, 28.0)
    g.update_MWs([28.0, 2.0])
    for value in HUGE:
        for call in (lambda: g.update_MWs(value), lambda: g.update_TPX(1.0, 2.0, value),
                     lambda: g.update(1.0, 2.0, value, 3.0, 4.0, 5.0)):
            with pytest.raises(MemoryError):
                call()
    assert (g.T, g.P, g._X, g.MWs, g.rho) == (1000.0, 1e5, [0.5, 0.5], [28.0, 2.0], 1.0)

    class Reentrant:
        def __float__(self):
            g.update_TPX(1.0, 1.0, [1.0] * 50)
            return 1500.0

    g.update_TPX(Reentrant(), 2e5, Lying([0.25, 0.75], 10**8))
    assert (g.T, g.P, g._X) == (1500.0, 2e5, [0.25, 0.75])


# ---- the flame solvers --------------------------------------------------------------------

class SetItemArray(np.ndarray):
    """An array whose element stores run Python code."""
    def __setitem__(self, key, value):
        super().__setitem__(key, value)


def raising_slot_model():
    m = quiet(configure, fv.CSootModel())
    m._set_coales_type(1)

    def slot():
        raise KeyError("slot")

    m.N_pri_coales = slot  # S_N_pri fails after S_N_agg is known
    return m


@pytest.mark.parametrize("dt", [0.0, 2e-4])
@pytest.mark.parametrize("rhs", ["float64", "float32", "subclass"])
def test_array_solver_raising_slot_with_any_right_hand_side(dt, rhs):
    s = tfs.make(raising_slot_model())
    s.dt = dt
    if rhs == "float32":
        s.B_N_agg = np.zeros(7, dtype=np.float32)
    elif rhs == "subclass":
        s.B_N_agg = np.zeros(7).view(SetItemArray)
    with pytest.warns(RuntimeWarning) if dt == 0.0 else contextlib.nullcontext():
        with pytest.raises(KeyError, match="slot"):
            quiet(s.solve)
    if dt:
        # the row of the term computed before the failure is stored, as the
        # term-by-term sequence would have stored it
        assert s.B_N_agg[1] != 0.0


def test_vector_solver_raising_slot_with_a_float32_composition():
    s = tfv.make()
    s.soot_model = raising_slot_model()
    s.X = np.asarray(s.X, dtype=np.float32)
    with pytest.raises(KeyError, match="slot"):
        quiet(s.solve)
    s.dt = 0.0
    with pytest.raises(ZeroDivisionError, match="^float division$"):
        quiet(s.solve)


def test_vector_solver_refuses_huge_hints_on_fields_and_arguments():
    s = tfv.make()
    z = s.z
    for value in HUGE:
        with pytest.raises(MemoryError):
            s.z = value
        with pytest.raises(MemoryError):
            s.solve_TDMA([1.0], [2.0], [1.0], value)
    assert s.z == z
    assert s.solve_TDMA(Lying([], 10**8), [2.0], Lying([], 10**8), Lying([4.0], 10**8)) == [2.0]


class RebindingPhase(tfs.Phase):
    """Replaces the solver's arrays each time it is given a state."""
    def __init__(self, solver, replace):
        super().__init__()
        self.solver, self.replace = solver, replace

    @tfs.Phase.TPX.setter
    def TPX(self, value):
        tfs.Phase.TPX.fset(self, value)
        self.replace(self.solver)


def test_array_solver_phase_rebinding_the_arrays():
    def fresh_copies(s):
        for name in ("X", "T", "rho", "mu", "A", "B_N_agg", "N_agg_n", "u"):
            setattr(s, name, np.array(getattr(s, name), dtype=np.float32 if name != "A"
                                      else np.float64, order="F"))

    s = tfs.make(steps=2)
    s.gas = RebindingPhase(s, fresh_copies)
    quiet(s.solve)
    assert np.isfinite(s.N_agg_n).all() and s.N_agg_n.dtype == np.float64

    s = tfs.make(steps=2)
    s.gas = RebindingPhase(s, lambda s: setattr(s, "A", None))
    with pytest.raises(TypeError):
        quiet(s.solve)
    s = tfs.make(steps=2)
    s.gas = RebindingPhase(s, lambda s: setattr(s, "X", np.zeros((len(NAMES), 1))))
    with pytest.raises(IndexError):
        quiet(s.solve)


# ---- objects the flame solvers reuse from point to point ----------------------------------
#
# Per grid point a solver hands the phase a (T, P, X[:, i]) tuple and keeps the tuple and
# the column views for the next point. Python code run while they are handed over or
# released can call the solver again, which releases its kept objects.

SOLVERS = [fv.CFlameSolver, fv.CFlameSolverOpt]


class StatePhase:
    """Records every state it is given, as (T, P, composition copy); calls `on_state`
    with the number of states so far."""
    species_names = NAMES

    def __init__(self, on_state=None):
        self.states, self.on_state = [], on_state

    @property
    def TPX(self):
        return self.states[-1]

    @TPX.setter
    def TPX(self, value):
        T, P, X = value
        self.states.append((float(T), float(P), np.array(X, dtype=float)))
        if self.on_state:
            self.on_state(len(self.states))

    @property
    def mean_molecular_weight(self):
        return float(self.states[-1][2] @ MW_KMOL)


def exact_model_solver(cls, phase):
    """A one-step solver on the fake flame with an exact CSootModel (which keeps the
    composition view it is given until the next point)."""
    if cls is fv.CFlameSolver:
        s = tfs.make(quiet(configure, fv.CSootModel()), phase=phase, steps=1)
    else:
        s = quiet(lambda: tfv.make(steps=1))
        s.gas = phase
    return s


def assert_states_are_the_points(s, states):
    T, X = np.asarray(s.T), np.asarray(s.X)
    order = [0, len(T) - 1] + list(range(1, len(T) - 1))  # left, right, interior
    for k, (T_k, P_k, X_k) in enumerate(states):
        i = order[k % len(order)]
        assert (T_k, P_k) == (T[i], s.P)
        np.testing.assert_array_equal(X_k, X[:, i])


class CallingBackColumns(np.ndarray):
    """A composition whose column views, once armed, call the solver back when released:
    n_points = 0, then update_wdot_correction() (which releases the solver's kept objects)."""
    solver = None

    def __del__(self):
        s, CallingBackColumns.solver = CallingBackColumns.solver, None
        if s is not None:
            s.n_points = 0
            s.update_wdot_correction()


@pytest.mark.parametrize("cls", SOLVERS)
def test_state_tuple_outlives_a_callback_run_while_its_items_are_replaced(cls):
    """The kept tuple's old column is released while the next state is handed over; its
    __del__ empties the solver's cache. The phase must still get a whole, correct state."""
    def arm(count):
        if count == 1:
            CallingBackColumns.solver = s

    phase = StatePhase(arm)
    s = exact_model_solver(cls, phase)
    s.X = np.array(s.X).view(CallingBackColumns)
    n = len(np.asarray(s.T))
    if cls is fv.CFlameSolver:  # its step keeps the grid it started with
        quiet(s.solve)
        assert len(phase.states) == n
    else:  # it reads n_points afresh: no interior rows are assembled, their pivots stay 0
        with pytest.raises(ZeroDivisionError, match="^float division$"):
            quiet(s.solve)
        assert len(phase.states) == 2
    assert CallingBackColumns.solver is None  # the callback ran
    assert_states_are_the_points(s, phase.states)


class DroppingComposition(np.ndarray):
    """Answers a column read X[:, i] with a copy; once armed, it first replaces the
    solver's X by a copy of itself, so that only the caller still owns this array."""
    solver = None

    def __getitem__(self, key):
        if not (isinstance(key, tuple) and isinstance(key[1], int)):
            return super().__getitem__(key)  # rows are written through views
        s, DroppingComposition.solver = DroppingComposition.solver, None
        if s is not None:
            s.X = np.array(self)
        return np.array(np.asarray(self)[key])


@pytest.mark.parametrize("cls", SOLVERS)
def test_composition_dropped_while_a_column_is_taken(cls):
    """Indexing through Python drops the solver's X; the solver must not look at the
    dropped array afterwards, and the step goes on with the new one."""
    plain = exact_model_solver(cls, StatePhase())
    quiet(plain.solve)

    def arm(count):
        if count == 1:
            DroppingComposition.solver = s

    phase = StatePhase(arm)
    s = exact_model_solver(cls, phase)
    s.X = np.array(s.X).view(DroppingComposition)
    quiet(s.solve)
    assert DroppingComposition.solver is None and type(s.X) is np.ndarray
    assert_states_are_the_points(s, phase.states)
    for name in ("N_agg_n", "N_pri_n", "C_tot_n", "H_tot_n"):  # the same numbers as a plain X
        np.testing.assert_array_equal(np.asarray(getattr(s, name)),
                                      np.asarray(getattr(plain, name)))


class CallingBackBuffer(bytearray):
    """Memory of a composition array; calls `callback` once when freed."""
    callback = None

    def __del__(self):
        callback, CallingBackBuffer.callback = CallingBackBuffer.callback, None
        if callback:
            callback()


@pytest.mark.parametrize("cls", SOLVERS)
def test_solver_called_again_while_its_column_views_are_released(cls):
    """update_wdot_correction's composition is swapped for a copy after a few points, so
    the views kept of the first columns are its memory's last owners. Releasing them
    (at the end of the call) runs the solver again on more points than it has room for
    views; the views still to be released must survive that, and the inner call must
    give every point the scrubbing rates of its state."""
    results = {}

    def call_again():
        n = s.n_points
        m = n + 10
        results["outer"] = np.array(s.wdot_correction_soot)
        for name in ("T", "rho", "mu", "N_agg_n", "N_pri_n", "C_tot_n", "H_tot_n"):
            a = np.asarray(getattr(s, name))  # the last point's value repeated
            setattr(s, name, np.concatenate([a, np.full(m - n, a[-1])]))
        s.X = np.repeat(np.asarray(s.X)[:, -1:], m, axis=1)  # owns its memory
        s.wdot_correction_soot = np.zeros((len(NAMES), m))
        s.n_points = m
        s.update_wdot_correction()
        results["inner"] = np.array(s.wdot_correction_soot)

    def swap(count):
        if count == 4:
            CallingBackBuffer.callback = call_again
            s.X = np.array(s.X)

    phase = StatePhase()
    s = exact_model_solver(cls, phase)
    quiet(s.solve)
    X = np.asarray(s.X)
    n = X.shape[1]
    s.X = np.ndarray(X.shape, dtype=float, buffer=CallingBackBuffer(X.tobytes()))
    del X
    phase.states.clear()
    phase.on_state = swap
    s.update_wdot_correction()
    assert CallingBackBuffer.callback is None
    outer, inner = results["outer"], results["inner"]
    assert np.count_nonzero(outer[:, -1]) >= 2  # C2H2, OH, O2 or the PAHs
    for j in range(n - 1, n + 10):  # the last point's state throughout
        np.testing.assert_array_equal(inner[:, j], outer[:, -1])
