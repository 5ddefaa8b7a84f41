"""solve_steady / pseudo_time_steps / steady_residual: the steady soot equations of a flame
against the exact solution of a linear model, a mirror-symmetric stagnation flow, grid
convergence on real Cantera flames, pseudo-time stepping to the same state, both solvers and
both routes to the soot model, and what the reports and errors say."""
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import abf_soot_model, configure, flame_X
from test_flame_solver_vec import FakePhase, SubModel, make

VARS = ("N_agg", "N_pri", "C_tot", "H_tot")


def levels(s, suffix="_n"):
    return np.array([np.asarray(getattr(s, v + suffix), dtype=float) for v in VARS])


def read_flame(s):
    s.n_time_steps = 0
    s.solve()


def residual_np(s):
    """The steady soot equations written out from the transport equation
    rho u dN/dz = d/dz(rho D dN/dz) + rho S (upwind convection, central diffusion) and, at
    an end where gas enters with mass flux mdot, the balance 'soot flux into the domain
    (convective plus diffusive) = mdot N_in'; an outflow end copies its neighbour. Returns
    the largest |residual| over the grid divided by the largest term of that variable's
    equations (the outflow row weighted by rho|u|/dz)."""
    model, gas = s.soot_model, s.gas
    rho, u, dz, T, mu = (np.asarray(getattr(s, k), dtype=float) for k in ("rho", "u", "dz", "T", "mu"))
    X, P, n = np.asarray(s.X), s.P, len(rho)
    N = levels(s)
    arrays = isinstance(s, fv.CFlameSolver)
    inl = [getattr(s, v + ("_in" if arrays else "_in_left")) for v in VARS]
    inr = [getattr(s, v + ("_in" if arrays else "_in_right")) for v in VARS]
    R, big = np.zeros((4, n)), np.zeros((4, n))
    for i in range(n):
        gas.TPX = T[i], P, X[:, i]
        model.update_gas(T[i], P, rho[i], mu[i], gas.mean_molecular_weight, X[:, i].copy())
        model.update_solution(N[:, i].copy())
        D = model.diffus_coeff()
        for k in range(4):
            if i == 0:  # +z flux at the left face: mdot N - rho D dN/dz, entering
                terms = [s.mdot_left * N[k, 0], -rho[0] * D * (N[k, 1] - N[k, 0]) / dz[1],
                         -s.mdot_left * inl[k]]
            elif i == n - 1 and s.boundary_type_right == 0:  # -z flux at the right face
                terms = [s.mdot_right * N[k, i], rho[i] * D * (N[k, i] - N[k, i - 1]) / dz[i],
                         -s.mdot_right * inr[k]]
            elif i == n - 1:
                c = rho[i] * abs(u[i]) / dz[i]
                terms = [c * N[k, i], -c * N[k, i - 1]]
            else:
                q = 2 * rho[i] * D / (dz[i + 1] + dz[i])
                S = getattr(model, "S_" + VARS[k])()
                conv = [-rho[i] * u[i] / dz[i], rho[i] * u[i] / dz[i], 0.0] if u[i] > 0 else \
                    [0.0, -rho[i] * u[i] / dz[i + 1], rho[i] * u[i] / dz[i + 1]]
                diff = [-q / dz[i], q * (1 / dz[i + 1] + 1 / dz[i]), -q / dz[i + 1]]
                terms = [(conv[j] + diff[j]) * N[k, i - 1 + j] for j in range(3)] + [-rho[i] * S]
            R[k, i] = sum(terms)
            big[k, i] = max(abs(t) for t in terms)
    return float((np.abs(R).max(axis=1) / big.max(axis=1)).max())


# ---- a linear model on a uniform flame --------------------------------------------------------

# S_k = b_k (N_inf,k - N_k), mol/(kg s), with every value far above the model's floors
RATE = np.array([100.0, 50.0, 80.0, 120.0])            # b_k, 1/s
N_INF = np.array([1e-6, 2e-6, 3e-3, 4e-4])             # mol/kg
N_LEFT = np.array([5e-7, 1e-6, 1e-3, 2e-4])            # entering on the left, mol/kg
N_RIGHT = np.array([3e-7, 4e-6, 5e-3, 1e-4])           # entering on the right, mol/kg
D_LIN = 1e-3                                           # m2/s


class LinearModel(fv.CSootModel):
    """Constant diffusivity and sources linear in the soot variables."""

    def diffus_coeff(self):
        return D_LIN

    def S_N_agg(self):
        return RATE[0] * (N_INF[0] - self.N_agg)

    def S_N_pri(self):
        return RATE[1] * (N_INF[1] - self.N_pri)

    def S_C_tot(self):
        return RATE[2] * (N_INF[2] - self.C_tot)

    def S_H_tot(self):
        return RATE[3] * (N_INF[3] - self.H_tot)


class UniformFlame:
    """Constant temperature (no thermophoresis) and density; velocity u(z) m/s."""

    def __init__(self, velocity, L=0.01, rho=0.3, n=401):
        self.grid = np.linspace(0.0, L, n)
        self.T, self.density = np.full(n, 1500.0), np.full(n, rho)
        self.viscosity = np.full(n, 5e-5)
        self.velocity = velocity(self.grid)
        self.X = np.tile(flame_X()[:, None], (1, n))


def linear_solver(flame, points, mdot_left, mdot_right=None):
    s = fv.CFlameSolverOpt(FakePhase(), flame, np.linspace(0.0, flame.grid[-1], points),
                           configure(LinearModel(), 2))
    s.mdot_left = mdot_left
    s.boundary_type_right = 1 if mdot_right is None else 0
    s.mdot_right = mdot_right or 0.0
    for k, v in enumerate(VARS):
        setattr(s, v + "_in_left", N_LEFT[k])
        setattr(s, v + "_in_right", N_RIGHT[k])
    read_flame(s)
    return s


def danckwerts(z, u, L):
    """u N' = D N'' + b (N_inf - N) on [0, L] with u N - D N' = u N_in at z = 0 (what
    enters is what the gas brings) and N' = 0 at z = L: N_inf + A e^(r1 z) + B e^(r2 z)."""
    out = []
    for k in range(4):
        r1, r2 = ((u + sg * math.sqrt(u * u + 4 * D_LIN * RATE[k])) / (2 * D_LIN) for sg in (1, -1))
        M = np.array([[u - D_LIN * r1, u - D_LIN * r2],
                      [r1 * math.exp(r1 * L), r2 * math.exp(r2 * L)]])
        A, B = np.linalg.solve(M, [u * (N_LEFT[k] - N_INF[k]), 0.0])
        out.append(N_INF[k] + A * np.exp(r1 * z) + B * np.exp(r2 * z))
    return np.array(out)


def test_linear_model_against_the_exact_continuous_solution():
    """Burner-like: uniform u > 0, gas entering on the left, leaving on the right. The
    discrete solution converges to the exact solution at first order in dz (upwind
    convection), and the soot that enters plus what forms equals what leaves."""
    u, rho, L = 0.5, 0.3, 0.01
    flame = UniformFlame(lambda z: np.full_like(z, u), L=L, rho=rho)
    errors = []
    for points in (201, 401):
        s = linear_solver(flame, points, rho * u)
        r = fv.solve_steady(s, rtol=1e-12)
        assert r.converged, r.message
        N, z = levels(s), np.array(s.z)
        exact = danckwerts(z, u, L)
        errors.append(np.abs(N - exact).max(axis=1) / np.abs(exact).max(axis=1))
        # the inflow face: the diffusive flux into the domain is not lost (exact N(0) lies
        # above N_in by D N'(0)/u, a few per cent here)
        assert np.all(np.abs(N[:, 0] / exact[:, 0] - 1) < 0.02)
        assert np.all(exact[:, 0] > 1.02 * N_LEFT)
        # integral balance: mdot N_in - mdot N(L) + int rho S dz = 0 (trapezoids)
        S = RATE[:, None] * (N_INF[:, None] - N)
        balance = rho * u * (N_LEFT - N[:, -1]) + rho * np.trapezoid(S, z, axis=1)
        assert np.all(np.abs(balance) < 0.01 * rho * u * N[:, -1])
    errors = np.array(errors)
    assert errors[1].max() < 0.01
    np.testing.assert_allclose(errors[0] / errors[1], 2.0, rtol=0.2)  # first order


def test_stagnation_flow_is_mirror_symmetric():
    """Gas entering from both ends at the same mass flux and soot content towards a
    stagnation plane in the middle: the right face's flux condition must mirror the left
    face's, so the solution is symmetric about the middle."""
    rho, U = 0.3, 0.5
    flame = UniformFlame(lambda z: U * (1 - 2 * z / 0.01), rho=rho)
    s = linear_solver(flame, 101, rho * U, rho * U)
    for k, v in enumerate(VARS):
        setattr(s, v + "_in_right", N_LEFT[k])
    r = fv.solve_steady(s, rtol=1e-12)
    assert r.converged, r.message
    N = levels(s)
    np.testing.assert_allclose(N, N[:, ::-1], rtol=1e-9)
    assert np.all(N[:, 0] > N_LEFT)  # diffusion from the richer interior raises the face
    assert residual_np(s) < 1e-11
    # different soot entering on the right: the right face follows its own inflow
    s = linear_solver(flame, 101, rho * U, rho * U)
    assert fv.solve_steady(s, rtol=1e-12).converged
    N = levels(s)
    for k in range(4):
        lo, hi = sorted((N_RIGHT[k], N_INF[k]))
        assert lo < N[k, -1] < hi


# ---- real flames: both inflow faces, grid convergence --------------------------------------

def soot_profiles(gas, flame, model, points, mdot_left, mdot_right=None):
    s = fv.CFlameSolverOpt(gas, flame, np.linspace(flame.grid[0], flame.grid[-1], points), model)
    s.P, s.mdot_left = flame.P, mdot_left
    s.boundary_type_right = 1 if mdot_right is None else 0
    s.mdot_right = mdot_right or 0.0
    read_flame(s)
    r = fv.solve_steady(s, rtol=1e-10, max_iterations=1000)
    assert r.converged, r.message
    return np.array(s.z), levels(s)


@pytest.mark.parametrize("kind", ["burner", "counterflow"])
def test_inflow_faces_stay_positive_and_the_profile_converges_with_the_grid(
        kind, burner_flame, counterflow_flame):
    """The soot at an inflow face is a weighted mean of what enters and its neighbour:
    never negative, on any grid (the face row's diagonal mdot + rho D/dz stays positive);
    and the profile converges at first order as the grid is refined."""
    # the counterflow's soot gathers in a thin layer at the stagnation plane, where its
    # peak converges more slowly with the grid
    if kind == "burner":
        gas, flame = burner_flame
        boundaries, sizes, close = (flame.burner.mdot,), (80, 1000, 3000), 0.01
    else:
        gas, flame = counterflow_flame
        boundaries = (flame.fuel_inlet.mdot, flame.oxidizer_inlet.mdot)
        sizes, close = (80, 1000, 3000), 0.05
    model = abf_soot_model(gas, pahs=("A4",))
    floors = np.array([getattr(model, v + "_min") for v in VARS])
    profiles = {}
    for n in sizes:
        z, N = soot_profiles(gas, flame, model, n, *boundaries)
        faces = [0] if kind == "burner" else [0, -1]
        for i in faces:
            assert np.all(N[:, i] >= floors * (1 - 1e-12)), (n, i, N[:, i])
        profiles[n] = (z, N[2])  # carbon in soot
    z_ref, C_ref = profiles[sizes[-1]]
    inner = (z_ref > z_ref[-1] * 0.05) & (z_ref < z_ref[-1] * 0.95)
    diff = [np.abs(np.interp(z_ref, *profiles[n]) - C_ref)[inner].max() for n in sizes[:2]]
    assert diff[1] < close * C_ref.max()
    assert diff[1] < 0.3 * diff[0]


# ---- stepping, both solvers, both model routes ------------------------------------------------

@pytest.mark.parametrize("btype", [1, 0], ids=["outflow", "flux"])
def test_steady_answer_is_the_fixed_point_of_pseudo_time_stepping(btype):
    s = make(btype=btype)
    read_flame(s)
    start = levels(s)
    assert fv.steady_residual(s) == pytest.approx(residual_np(s), rel=1e-9)
    assert (levels(s) == start).all()  # the residual changes nothing
    r = fv.solve_steady(s, rtol=1e-12)
    assert isinstance(r, fv.SteadyReport)
    assert r.converged and r.residual < 1e-12 and r.iterations > 0 and r.seconds > 0
    assert r.message.startswith("converged") and r.stop == ""
    assert r.jacobians >= 1 and r.iterations >= r.time_steps >= 0
    assert residual_np(s) < 1e-11
    steady = levels(s)
    assert (levels(s, "_n1") == steady).all()
    assert steady[2].max() > 100 * start[2].max()  # soot formed
    # pseudo-time stepping of the same equations from the floors ends in the same state
    p = make(btype=btype)
    p.dt = 1e-4
    read_flame(p)
    steps = fv.pseudo_time_steps(p, 20000, rtol=1e-11)
    assert steps.converged and 0 < steps.time_steps < 20000
    assert steps.residual == pytest.approx(fv.steady_residual(p), rel=1e-12)
    scale = np.abs(steady).max(axis=1, keepdims=True)
    assert (np.abs(levels(p) - steady) / scale).max() < 1e-8


def test_both_solvers_and_both_model_routes_agree():
    results = []
    for cls, model_cls in [(fv.CFlameSolverOpt, fv.CSootModel), (fv.CFlameSolverOpt, SubModel),
                           (fv.CFlameSolver, fv.CSootModel)]:
        s = make(model_cls=model_cls)
        if cls is fv.CFlameSolver:  # the same set-up on the array solver (one set of inlets)
            a = fv.CFlameSolver(s.gas, s.flame, np.array(s.z), s.soot_model)
            a.mdot_left, a.mdot_right, a.boundary_type_right, a.dt = 0.08, 0.07, 1, 2e-5
            a.N_agg_in, a.N_pri_in, a.C_tot_in, a.H_tot_in = 3e-9, 5e-9, 4e-6, 9e-7
            s = a
        read_flame(s)
        r = fv.solve_steady(s, rtol=1e-12)
        results.append((levels(s), r.iterations, r.evaluations))
    assert s.N_agg_n is s.N_agg_n1 and type(s.N_agg_n) is np.ndarray
    (a, ia, ea), (b, ib, eb), (c, _, _) = results
    assert (a == b).all() and (ia, ea) == (ib, eb)  # C++ and Python route bit-identical
    np.testing.assert_allclose(c, a, rtol=1e-10, atol=0)


# ---- reports, budgets and errors -------------------------------------------------------------

@pytest.mark.parametrize("rtol", [0.0, -1e-6, 1.0, 5.0, math.inf, math.nan])
def test_rtol_must_lie_between_zero_and_one(rtol):
    s = make()
    read_flame(s)
    for call in (lambda: fv.solve_steady(s, rtol=rtol),
                 lambda: fv.pseudo_time_steps(s, 3, rtol=rtol)):
        with pytest.raises(ValueError) as e:
            call()
        assert type(e.value) is ValueError and "rtol must be above 0 and below 1" in str(e.value)


def test_reports_failures_and_keeps_state_on_errors():
    s = make()
    read_flame(s)
    start = levels(s)
    # not enough iterations: an honest report, the last accepted state written back
    r = fv.solve_steady(s, rtol=1e-14, max_iterations=2)
    assert not r.converged and r.iterations == 2 and r.message.startswith("not converged")
    assert r.stop == "Newton iteration budget used" and np.isfinite(levels(s)).all()
    r0 = fv.solve_steady(s, max_iterations=0)
    assert (r0.converged, r0.iterations) == (False, 0)
    assert fv.solve_steady(s, rtol=0.5).converged  # a loose tolerance is a tolerance
    # pseudo-time steps: a step count, the steps made, a state written back
    p = make()
    read_flame(p)
    r = fv.pseudo_time_steps(p, 7)
    assert (r.time_steps, r.converged, r.stop) == (7, False, "")
    assert r.message.startswith("7 pseudo-time steps of 2e-05 s")
    assert not (levels(p) == start).all()

    class Failing(fv.CSootModel):
        calls = 0

        def S_C_tot(self):
            Failing.calls += 1
            if Failing.calls > 40:
                raise KeyError("no rate")
            return super().S_C_tot()

    for run in (fv.solve_steady, lambda solver: fv.pseudo_time_steps(solver, 50)):
        Failing.calls = 0
        f = make(model_cls=Failing)
        read_flame(f)
        with pytest.raises(KeyError):
            run(f)
        assert np.isfinite(levels(f)).all()
    # a step into NaN stops before it: the last finite state is kept
    n = make()
    read_flame(n)
    n.dt = float("inf")
    with pytest.raises(ValueError, match="positive, finite dt"):
        fv.pseudo_time_steps(n, 3)
    for bad, error in [((object(),), TypeError), ((s, -1), ValueError), ((s, 1.5), TypeError),
                       ((s,), TypeError)]:
        with pytest.raises(error):
            fv.pseudo_time_steps(*bad)
    with pytest.raises(TypeError):
        fv.solve_steady(object())
    with pytest.raises(TypeError):
        fv.solve_steady(s, tolerance=1e-3)
    with pytest.raises(ValueError):
        fv.solve_steady(s, max_time_steps=-1)
    s.rho = [1.0, 2.0]  # a profile of the wrong length
    with pytest.raises(ValueError):
        fv.steady_residual(s)
    # a solver that has not read its flame is not a solution of anything
    with pytest.raises(ValueError, match="must have read a flame"):
        fv.solve_steady(make())
