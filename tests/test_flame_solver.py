"""CFlameSolver: soot carried through a 1-D flame on NumPy arrays.

Exact checks use a small phase, flame and soot model written here, against a
NumPy transcription of the scheme; the Cantera burner flame is the
integration case."""
import contextlib
import copy
import gc
import hashlib
import io
import pickle
import warnings
import weakref

import numpy as np
import pytest

import fumivex2 as fv
from fumivex2 import _fumivex2 as ext
from conftest import MW_KMOL, NAMES, configure, flame_X, abf_soot_model

R = 8.31446261815324


class Phase:
    """The phase members the solver uses; counts the state changes."""
    species_names = NAMES

    def __init__(self):
        self.states = 0

    @property
    def TPX(self):
        return self._TPX

    @TPX.setter
    def TPX(self, value):
        T, P, X = value
        self._TPX = (T, P, np.array(X))
        self.states += 1

    @property
    def mean_molecular_weight(self):
        return float(np.dot(self._TPX[2], MW_KMOL))


class Flame:
    """A converged flame: non-uniform grid, a temperature peak (thermophoresis of both
    signs) and a velocity that changes sign. Counts reads of each profile."""

    def __init__(self):
        self.reads = {}
        grid = np.array([0.0, 0.002, 0.005, 0.01, 0.02])
        T = np.array([300.0, 900.0, 1800.0, 2000.0, 1900.0])
        mw = np.array([28.0, 27.5, 26.0, 25.5, 25.0])
        X = np.array([flame_X({"C2H2": 0.01 * (1 + k), "O2": 2e-3 * k}) for k in range(5)]).T
        self._p = dict(grid=grid, T=T, density=101325.0 * mw / 1000.0 / (R * T),
                       viscosity=1.5e-5 * (T / 300.0) ** 0.7,
                       velocity=np.array([0.3, 0.02, -0.15, 0.25, 0.4]), X=X)

    def __getattr__(self, name):
        if name.startswith("_") or name not in self._p:
            raise AttributeError(name)
        self.reads[name] = self.reads.get(name, 0) + 1
        return self._p[name]


class ToySoot:
    """A soot model with closed-form rates (toy_D, toy_S, toy_scrub)."""
    N_agg_min, N_pri_min, C_tot_min, H_tot_min = 1.1e-9, 2.3e-9, 3.7e-7, 4.1e-8

    def update_gas(self, T, P, density, viscosity, mean_MW, X):
        self.T, self.X = T, np.array(X)

    def update_solution(self, solution):
        self.N = np.array(solution)

    def diffus_coeff(self):
        return toy_D(self.T)

    def update_scrub_wdot(self):
        self.scrub_wdot = toy_scrub(self.T, self.X, self.N)


for _k, _name in enumerate(["S_N_agg", "S_N_pri", "S_C_tot", "S_H_tot"]):
    setattr(ToySoot, _name, lambda self, k=_k: toy_S(k, self.T, self.X, self.N))


def toy_D(T):
    return 3e-5 * T / 1000.0


def toy_S(k, T, X, N):
    return [2e-6, 5e-6, 4e-2, 7e-3][k] * X[1] * (T / 1000.0) - 30.0 * N[k]


def toy_scrub(T, X, N):
    return -X * N[2] * T


GRIDS = {
    "uneven": np.array([0.0, 0.001, 0.003, 0.004, 0.008, 0.015, 0.022]),
    "two": np.array([0.0, 0.01]),
}
INLET = (1.3e-9, 2.9e-9, 5.3e-7, 6.1e-8)


def make(model=None, grid="uneven", phase=None, flame=None, steps=3, outflow=False):
    grid = np.array(GRIDS[grid]) if isinstance(grid, str) else grid
    s = fv.CFlameSolver(phase or Phase(), flame or Flame(), grid,
                        model if model is not None else ToySoot())
    s.n_time_steps, s.dt = steps, 2e-4
    s.mdot_left, s.mdot_right, s.boundary_type_right = 0.08, 0.05, 7 if outflow else 0
    s.N_agg_in, s.N_pri_in, s.C_tot_in, s.H_tot_in = INLET
    return s


def quiet(fn, *args):
    with contextlib.redirect_stdout(io.StringIO()):
        return fn(*args)


def thomas(a, b, c, d):
    a, b, c, d = (np.array(v, dtype=float) for v in (a, b, c, d))
    for j in range(1, len(d)):
        mc = a[j - 1] / b[j - 1]
        b[j] = b[j] - mc * c[j - 1]
        d[j] = d[j] - mc * d[j - 1]
    x = b
    x[-1] = d[-1] / b[-1]
    for j in range(len(d) - 2, -1, -1):
        x[j] = (d[j] - c[j] * x[j + 1]) / b[j]
    return x


def reference(s, flame, N):
    """The scheme in NumPy scalars: profiles, then s.n_time_steps steps from N."""
    p, z, dt, n = flame._p, s.z, s.dt, len(s.z)
    m = n - 1
    rho, T, mu, u_gas = (np.interp(z, p["grid"], p[k]) for k in ("density", "T", "viscosity", "velocity"))
    X = np.array([np.interp(z, p["grid"], row) for row in p["X"]])
    dz = np.hstack((z[1] - z[0], np.diff(z)))
    u_th = np.zeros(n)
    for i in range(1, n):
        u_th[i] = -0.538 * mu[i] / (rho[i] * T[i]) * (T[i] - T[i - 1]) / dz[i]
    u_th[0] = u_th[1]
    u = u_gas + u_th
    N = [np.array(v) for v in N]
    for _ in range(s.n_time_steps):
        A, B = np.zeros((n, n)), [np.zeros(n) for _ in range(4)]
        D = toy_D(T[0])
        A[0, 0] = s.mdot_left
        for k in range(4):
            B[k][0] = -D * rho[0] * (N[k][1] - N[k][0]) / dz[1] + rho[0] * u[0] * INLET[k]
        D = toy_D(T[m])
        for k in range(4):
            if s.boundary_type_right == 0:
                A[m, m] = s.mdot_right
                B[k][m] = D * rho[m] * (N[k][m] - N[k][m - 1]) / dz[m] - rho[m - 1] * u[m] * INLET[k]
            else:
                A[m, m] = rho[m] / dt
                B[k][m] = rho[m] / dt * N[k][m - 1]
        for i in range(1, m):
            D = toy_D(T[i])
            q = (2 * rho[i]) * D / (dz[i + 1] + dz[i])
            if u[i] > 0:
                A[i, i - 1] = (-rho[i]) * u[i] / dz[i] - q * (1 / dz[i])
                A[i, i] = rho[i] / dt + rho[i] * u[i] / dz[i] - q * (-1 / dz[i + 1] - 1 / dz[i])
                A[i, i + 1] = -q * (1 / dz[i + 1])
            else:
                A[i, i - 1] = -q * (1 / dz[i])
                A[i, i] = rho[i] / dt + (-rho[i]) * u[i] / dz[i + 1] - q * (-1 / dz[i + 1] - 1 / dz[i])
                A[i, i + 1] = rho[i] * u[i] / dz[i + 1] - q * (1 / dz[i + 1])
            Ni = np.array([v[i] for v in N])
            for k in range(4):
                B[k][i] = rho[i] / dt * N[k][i] + rho[i] * toy_S(k, T[i], X[:, i], Ni)
        N = [thomas(np.diagonal(A, -1), np.diagonal(A), np.diagonal(A, 1), b) for b in B]
    return dict(u_th=u_th, u=u, X=X, rho=rho, A=A, N=N, B=B)


def soot(s):
    return [s.N_agg_n, s.N_pri_n, s.C_tot_n, s.H_tot_n]


# ---- construction and surface ---------------------------------------------------------

def test_construction():
    grid, model = np.array([0.0, 1.0, 3.0]), ToySoot()
    s = fv.CFlameSolver(Phase(), Flame(), grid, model)
    assert s.z is grid and s.grid is grid and s.gas.species_names is NAMES and s.soot_model is model
    np.testing.assert_array_equal(s.dz, [1.0, 1.0, 2.0])
    assert (s.n_points, s.n_species, s.n_time_steps, s.dt, s.P) == (3, 13, 2000, 1e-05, 101325.0)
    assert s.X.shape == s.wdot_correction_soot.shape == (13, 3) and s.A.shape == (3, 3)
    floors = [ToySoot.N_agg_min, ToySoot.N_pri_min, ToySoot.C_tot_min, ToySoot.H_tot_min]
    assert [s.N_agg_in, s.N_pri_in, s.C_tot_in, s.H_tot_in] == floors
    for now, new, f in zip(soot(s), [s.N_agg_n1, s.N_pri_n1, s.C_tot_n1, s.H_tot_n1], floors):
        np.testing.assert_array_equal(now, [f] * 3)
        np.testing.assert_array_equal(new, 0.0)
    assert (s.mdot_left, s.mdot_right, s.boundary_type_right) == (0.0, 0.0, 0)
    assert fv.CFlameSolver(Phase(), None, np.zeros(2, np.float32), model).u_th.dtype == np.float32
    grid[1] = 0.5
    assert s.z[1] == 0.5


def test_construction_failures():
    args = (Phase(), Flame())
    with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 4 positional arguments \(3 given\)$"):
        fv.CFlameSolver(*args, np.zeros(3))
    with pytest.raises(TypeError, match="^Cannot convert list to numpy.ndarray$"):
        fv.CFlameSolver(*args, [0.0, 1.0], ToySoot())
    with pytest.raises(IndexError):
        fv.CFlameSolver(*args, np.zeros(1), ToySoot())
    with pytest.raises(AttributeError):
        fv.CFlameSolver(*args, None, ToySoot())
    with pytest.raises(AttributeError):
        fv.CFlameSolver(object(), None, np.zeros(3), ToySoot())
    with pytest.raises(ValueError, match="dimension"):
        fv.CFlameSolver(*args, np.ones((3, 3)), ToySoot())
    for grid in (np.arange(7), np.array([0, 2, 1, 3, 4, 5, 6.0]) / 200, np.full(7, np.nan)):
        s = make(grid=grid)  # integer, non-increasing and NaN grids: NumPy's arithmetic
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            quiet(s.solve)
    s = fv.CFlameSolver(phase=Phase(), flame=None, grid=np.zeros(2), soot_model=ToySoot())
    with pytest.raises(TypeError, match="^Cannot convert list to numpy.ndarray$"):
        s.T = [1.0]
    s.T = None
    with pytest.raises(NotImplementedError, match="__del__"):
        del s.dt


def test_docstrings_and_pickling_checksums():
    assert fv.CFlameSolver.__doc__ == "CFlameSolver(phase, flame, grid, soot_model)"
    assert fv.CFlameSolver.solve_TDMA.__doc__ == (
        "CFlameSolver.solve_TDMA(self, ndarray a, ndarray b, ndarray c, ndarray d)")
    assert fv.CFlameSolver.update_wdot_correction.__doc__ == "CFlameSolver.update_wdot_correction(self)"
    with pytest.raises(pickle.PickleError) as err:
        ext.__pyx_unpickle_CFlameSolver(fv.CFlameSolver, 0x1234567, None)
    names = str(err.value).split(" = (")[1].rstrip(")").split(", ")
    assert len(names) == 38 and names == sorted(names)
    digests = [int(h(" ".join(names).encode()).hexdigest()[:7], 16)
               for h in (hashlib.md5, hashlib.sha256, hashlib.sha1)]
    assert digests == [0xbc67692, 0xc2dbab9, 0xeac5e7e]
    assert len(fv.CFlameSolver.__new__(fv.CFlameSolver).__reduce__()) == 2


@pytest.mark.parametrize("how", ["pickle", "deepcopy"])
def test_copies_continue_identically(how):
    s = make(model=quiet(configure, fv.CSootModel()), steps=2)
    quiet(s.solve)
    t = pickle.loads(pickle.dumps(s)) if how == "pickle" else copy.deepcopy(s)
    assert t.z is not s.z and t.soot_model is not s.soot_model
    quiet(s.solve), quiet(t.solve)
    for a, b in zip(soot(s) + [s.A, s.X, s.u], soot(t) + [t.A, t.X, t.u]):
        assert a.tobytes() == b.tobytes()
    assert copy.copy(s).z is s.z


# ---- the scheme ---------------------------------------------------------------------------

@pytest.mark.parametrize("grid", GRIDS)
@pytest.mark.parametrize("outflow", [False, True], ids=["flux", "outflow"])
def test_steps_match_the_scheme(grid, outflow, capsys):
    flame = Flame()
    s = make(grid=grid, flame=flame, outflow=outflow)
    start = [a.copy() for a in soot(s)]
    s.solve()
    want = reference(s, flame, start)
    for name in ("u_th", "u", "X", "rho", "A"):
        np.testing.assert_array_equal(getattr(s, name), want[name], err_msg=name)
    for got, n1, exp in zip(soot(s), [s.N_agg_n1, s.N_pri_n1, s.C_tot_n1, s.H_tot_n1], want["N"]):
        np.testing.assert_array_equal(got, exp)
        assert got is n1
    np.testing.assert_array_equal(s.B_H_tot, want["B"][3])
    assert capsys.readouterr().out == "Time Step =  0\nTime Step =  1\nTime Step =  2\n"
    # each flame profile read once per solve; the phase set once per point and step
    assert flame.reads == dict.fromkeys(["grid", "density", "T", "viscosity", "velocity", "X"], 1)
    assert s.gas.states == 3 * len(s.z)
    assert s.gas.TPX[0] == s.T[-2 if len(s.z) > 2 else -1]


def test_no_steps_and_default_step_count(capsys):
    s = make(steps=0)
    before = soot(s)
    s.solve()
    assert capsys.readouterr().out == "" and all(a is b for a, b in zip(soot(s), before))
    assert s.u_th[0] == s.u_th[1] and np.all(s.u == s.u_gas + s.u_th)
    s = make(model=quiet(configure, fv.CSootModel()), grid="two")
    s.n_time_steps = 2000
    s.solve()
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 2000 and lines[-1] == "Time Step =  1999"


def test_wdot_correction_columns():
    s = make()
    quiet(s.solve)
    s.update_wdot_correction()
    X = np.array([np.interp(s.z, s.flame._p["grid"], row) for row in s.flame._p["X"]])
    for i in range(len(s.z)):
        N = np.array([v[i] for v in soot(s)])
        np.testing.assert_array_equal(s.wdot_correction_soot[:, i], toy_scrub(s.T[i], X[:, i], N))
    s.soot_model.update_scrub_wdot = lambda: setattr(s.soot_model, "scrub_wdot", np.ones(12))
    with pytest.raises(IndexError):
        s.update_wdot_correction()


def test_solve_TDMA():
    s = make()
    a, b, c, d = np.ones(2), np.full(3, 4.0), np.ones(2), np.array([5.0, 6.0, 5.0])
    np.testing.assert_array_equal(s.solve_TDMA(a, b, c, d), [1.0, 1.0, 1.0])
    assert list(b) == [4.0] * 3 and list(d) == [5.0, 6.0, 5.0]
    x = s.solve_TDMA(np.array([]), np.array([2], dtype=np.int64), np.array([]), np.array([3.0]))
    assert x.dtype == np.float64 and list(x) == [1.5]
    rng = np.random.default_rng(1)
    a, b, c, d = rng.random(5), rng.random(6) + 2, rng.random(5), rng.random(6)
    np.testing.assert_array_equal(s.solve_TDMA(a, b, c, d), thomas(a, b, c, d))
    for bad in [(a, b, c, d[:0]), (a[:3], b, c, d), (a, b[:5], c, d), (a, b, c[:4], d)]:
        with pytest.raises(ValueError, match="solve_TDMA"):
            s.solve_TDMA(*bad)
    with pytest.raises(TypeError, match=r"^Argument 'c' has incorrect type \(expected numpy.ndarray, got list\)$"):
        s.solve_TDMA(a, b, [1.0], d)
    with pytest.raises(TypeError, match=r"^solve_TDMA\(\) takes exactly 4 positional arguments \(3 given\)$"):
        s.solve_TDMA(a, b, c)
    with pytest.raises(TypeError):
        s.solve_TDMA(a, b, c, None)


def test_replaced_solve_TDMA_is_called():
    class Traced(fv.CFlameSolver):
        def solve_TDMA(self, a, b, c, d):
            self.calls.append((a.copy(), b.copy(), c.copy()))
            return super().solve_TDMA(a, b, c, d) * 2.0

    s, t = make(steps=1), Traced(Phase(), Flame(), GRIDS["uneven"].copy(), ToySoot())
    t.calls = []
    for name in ("n_time_steps", "dt", "mdot_left", "mdot_right", "N_agg_in", "N_pri_in", "C_tot_in", "H_tot_in"):
        setattr(t, name, getattr(s, name))
    quiet(s.solve), quiet(t.solve)
    assert len(t.calls) == 4
    np.testing.assert_array_equal(t.calls[0][1], np.diagonal(t.A))
    np.testing.assert_array_equal(t.calls[0][2], np.diagonal(t.A, 1))
    for got, want in zip(soot(t), soot(s)):
        np.testing.assert_array_equal(got, 2.0 * want)


# ---- NumPy float rules ------------------------------------------------------------------

def test_zero_pivot_follows_numpy_error_state(capsys):
    model = quiet(configure, fv.CSootModel())
    s = make(model=model, steps=2)
    s.mdot_left = 0.0
    with pytest.warns(RuntimeWarning) as record:
        s.solve()
    assert "divide by zero encountered in scalar divide" in {str(w.message) for w in record}
    assert not np.isfinite(s.N_agg_n).all() and capsys.readouterr().out.count("Time Step") == 2
    s = make(model=model, steps=2)
    s.mdot_left = 0.0
    with np.errstate(divide="raise"), pytest.raises(FloatingPointError, match="divide by zero"):
        quiet(s.solve)
    s = make(model=model, steps=2)
    s.mdot_left = 0.0
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("error")
        quiet(s.solve)
    assert not np.isfinite(s.N_agg_n).all()
    s = make(model=model, steps=1)
    s.dz[3] = 0.0  # zero spacing: the drift is not finite
    with pytest.warns(RuntimeWarning):
        quiet(s.solve)
    assert not np.isfinite(s.u_th[3])
    # 0/0 in that drift raises the invalid-operation flag, reported on its own
    s = make(model=model, steps=1)
    s.dz[3] = 0.0
    with np.errstate(divide="ignore", invalid="raise"), \
            pytest.raises(FloatingPointError, match="invalid value"):
        quiet(s.solve)


# ---- the exact soot model in C++ and through Python ---------------------------------------

class SubModel(fv.CSootModel):
    pass


def run_both(build, steps):
    runs = []
    for cls in (fv.CSootModel, SubModel):
        s = build(cls)
        s.n_time_steps = steps
        quiet(s.solve)
        s.update_wdot_correction()
        runs.append([a.tobytes() for a in soot(s) + [s.wdot_correction_soot, s.A]])
    assert runs[0] == runs[1]


def test_fast_path_bit_identical_on_fake_flame():
    run_both(lambda cls: make(model=quiet(configure, cls(), 2), outflow=True), 3)


def test_fast_path_bit_identical_on_burner_flame(burner_flame):
    gas, flame = burner_flame
    grid = flame.grid[::2].copy()

    def build(cls):
        s = fv.CFlameSolver(gas, flame, grid, abf_soot_model(gas, cls=cls))
        s.mdot_left, s.boundary_type_right, s.dt = flame.burner.mdot, 1, 1e-3
        return s
    run_both(build, 3)


def test_burner_flame_soot_and_element_balances(burner_flame):
    gas, flame = burner_flame
    m = abf_soot_model(gas, cls=fv.CSootModel)
    s = fv.CFlameSolver(gas, flame, flame.grid.copy(), m)
    s.mdot_left, s.boundary_type_right, s.dt, s.n_time_steps = flame.burner.mdot, 1, 1e-3, 20
    quiet(s.solve)
    f_v = []
    for i in range(s.n_points):
        m.update_solution(np.array([v[i] for v in soot(s)]))
        f_v.append(m.volume_fraction())
    f_v = np.array(f_v)
    downstream = s.z > 0.5 * s.z[-1]
    assert np.isfinite(f_v).all() and (f_v[downstream] > 1e-8).all()
    assert s.rho[0] * s.u_gas[0] == pytest.approx(s.mdot_left, rel=1e-6)

    atoms = {e: np.array([gas.n_atoms(k, e) for k in range(gas.n_species)]) for e in "CHO"}

    def balances():
        s.update_wdot_correction()
        W = s.wdot_correction_soot
        for i in range(s.n_points):  # the soot model at point i, for its source terms
            gas.TPX = s.T[i], s.P, s.X[:, i]
            m.update_gas(s.T[i], s.P, s.rho[i], s.mu[i], gas.mean_molecular_weight, s.X[:, i])
            m.update_solution(np.array([v[i] for v in soot(s)]))
            yield i, W[:, i], s.rho[i] * np.array([m.S_C_tot(), m.S_H_tot()])

    for i, w, rates in balances():
        assert atoms["C"] @ w * 1000.0 == pytest.approx(-rates[0], rel=1e-9)
    m.inception_enabled = m.growth_PAH_adsorption_enabled = False
    for i, w, rates in balances():
        assert atoms["H"] @ w * 1000.0 == pytest.approx(-rates[1], rel=1e-9, abs=1e-20)
        assert abs(atoms["O"] @ w) <= 1e-12 * np.abs(w).max()


# ---- memory and hostile state ---------------------------------------------------------------

def test_cycle_through_the_soot_model_is_collected():
    class Holder(fv.CSootModel):
        pass

    m = quiet(configure, Holder())
    m.solver = fv.CFlameSolver(Phase(), Flame(), np.linspace(0, 0.01, 4), m)
    ref = weakref.ref(m)
    del m
    gc.collect()
    assert ref() is None


FIELDS = [n for n in dir(fv.CFlameSolver) if type(getattr(fv.CFlameSolver, n)).__name__ == "getset_descriptor"
          and n != "grid"]
HOSTILE = {"none": None, "short": np.ones(2), "long": np.ones(40), "matrix": np.ones((3, 3)),
           "ints": np.arange(7), "nan": np.full(7, np.nan), "empty": np.zeros(0),
           "readonly": np.ones(7)[::1].view(), "swapped": np.ones(7, ">f8"), "obj": np.ones(7, object),
           "big": 2**40, "neg": -3, "huge": 2**31 - 1, "zero": 0, "fnan": float("nan"), "text": "x"}
HOSTILE["readonly"].flags.writeable = False


@pytest.fixture(scope="module")
def exact_model():
    return quiet(configure, fv.CSootModel())


@pytest.mark.parametrize("field", FIELDS)
def test_hostile_field_values(field, exact_model):
    for key, value in HOSTILE.items():
        if field == "n_time_steps" and key == "huge":
            continue
        s = make(model=exact_model, steps=2, outflow=field == "dt")
        try:
            setattr(s, field, value)
        except (TypeError, OverflowError, ValueError):
            continue
        for run in (s.solve, s.update_wdot_correction, s.solve):
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    quiet(run)
            except (TypeError, ValueError, IndexError, AttributeError, OverflowError,
                    ZeroDivisionError):
                pass


class KeepingPhase(Phase):
    """Keeps every state it is given, and a weak reference to every other column view."""

    def __init__(self):
        super().__init__()
        self.kept, self.weak = [], []

    @Phase.TPX.setter
    def TPX(self, value):
        Phase.TPX.fset(self, value)
        if len(self.weak) % 2:
            self.kept.append(value)
        self.weak.append(weakref.ref(value[2]))


@pytest.mark.parametrize("cls", [fv.CFlameSolver, fv.CFlameSolverOpt])
def test_states_handed_to_the_phase_are_never_changed_afterwards(cls):
    """The solvers reuse their per-point tuple and column views only when nothing else
    refers to them: what a phase keeps (or watches) stays as it was given."""
    phase = KeepingPhase()
    grid = np.array(GRIDS["uneven"])
    s = cls(phase, Flame(), grid, ToySoot())
    s.n_time_steps, s.dt, s.mdot_left, s.boundary_type_right = 3, 2e-4, 0.08, 1
    quiet(s.solve)
    X, T = np.asarray(s.X), np.asarray(s.T)
    order = [0, len(grid) - 1] + list(range(1, len(grid) - 1))   # left, right, interior
    assert len(phase.kept) == 3 * len(grid) // 2
    for k, state in enumerate(phase.kept):
        i = order[(2 * k + 1) % len(grid)]
        assert state[0] == T[i] and state[1] == s.P
        np.testing.assert_array_equal(state[2], X[:, i])
    assert len({id(t) for t in phase.kept}) == len(phase.kept)
