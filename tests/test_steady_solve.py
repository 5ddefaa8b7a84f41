"""solve_steady / steady_residual: the steady soot equations of a flame solver, checked
against the equations written out in NumPy, against long pseudo-time runs of both solvers,
across the C++ and the Python route of the soot model, and on a real Cantera flame."""
import contextlib
import io

import numpy as np
import pytest

import fumivex2 as fv
from conftest import abf_soot_model
from test_flame_solver_vec import SubModel, make

VARS = ("N_agg", "N_pri", "C_tot", "H_tot")


def levels(s, suffix="_n"):
    return np.array([np.asarray(getattr(s, v + suffix), dtype=float) for v in VARS])


def read_flame(s):
    s.n_time_steps = 0
    s.solve()


def run_pseudo_time(s, steps):
    s.n_time_steps = steps
    with contextlib.redirect_stdout(io.StringIO()):
        s.solve()


def residual_np(s):
    """The steady discrete equations of the pseudo-time solvers, written out from their
    definition: for each variable the largest |residual| over the grid divided by the
    largest term of that variable's equations (boundary rows: outflow mdot N, diffusive
    flux, inflow; outflow row weighted by rho|u|/dz)."""
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
            if i == 0:
                terms = [s.mdot_left * N[k, 0], D * rho[0] * (N[k, 1] - N[k, 0]) / dz[1],
                         -rho[0] * u[0] * inl[k]]
            elif i == n - 1 and s.boundary_type_right == 0:
                terms = [s.mdot_right * N[k, i], -D * rho[i] * (N[k, i] - N[k, i - 1]) / dz[i],
                         rho[i - 1] * u[i] * inr[k]]
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


@pytest.mark.parametrize("btype", [1, 0], ids=["outflow", "flux"])
def test_steady_answer_against_equations_and_pseudo_time(btype):
    s = make(btype=btype)
    read_flame(s)
    start = levels(s)
    assert fv.steady_residual(s) == pytest.approx(residual_np(s), rel=1e-9)
    assert (levels(s) == start).all()  # the residual changes nothing
    r = fv.solve_steady(s, rtol=1e-12)
    assert isinstance(r, fv.SteadyReport)
    assert r.converged and r.residual < 1e-12 and r.iterations > 0 and r.seconds > 0
    assert r.message.startswith("converged")
    assert residual_np(s) < 1e-11
    steady = levels(s)
    assert (levels(s, "_n1") == steady).all()
    assert steady[2].max() > 100 * start[2].max()  # soot formed
    # the fixed point of the pseudo-time iteration is the same state
    p = make(btype=btype)
    p.dt = 1e-4
    run_pseudo_time(p, 3000)
    assert fv.steady_residual(p) < 1e-9
    scale = np.abs(steady).max(axis=1, keepdims=True)
    assert np.abs(levels(p) - steady).max() <= 1e-6 * scale.min() or \
        (np.abs(levels(p) - steady) / scale).max() < 1e-6


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


def test_reports_failures_and_keeps_state_on_errors():
    s = make()
    read_flame(s)
    start = levels(s)
    # not enough steps: an honest report, the last accepted state written back
    r = fv.solve_steady(s, rtol=1e-14, max_iterations=2)
    assert not r.converged and r.iterations == 2 and r.message.startswith("not converged")
    assert np.isfinite(levels(s)).all()
    r0 = fv.solve_steady(s, max_iterations=0)
    assert (r0.converged, r0.iterations) == (False, 0)

    class Failing(fv.CSootModel):
        calls = 0

        def S_C_tot(self):
            Failing.calls += 1
            if Failing.calls > 40:
                raise KeyError("no rate")
            return super().S_C_tot()

    f = make(model_cls=Failing)
    read_flame(f)
    with pytest.raises(KeyError):
        fv.solve_steady(f)
    assert (levels(f) == start).all()
    with pytest.raises(TypeError):
        fv.solve_steady(object())
    with pytest.raises(TypeError):
        fv.solve_steady(s, tolerance=1e-3)
    with pytest.raises(ValueError):
        fv.solve_steady(s, rtol=float("nan"))
    s.rho = [1.0, 2.0]  # a profile of the wrong length
    with pytest.raises(ValueError):
        fv.steady_residual(s)
    # a solver that has not read its flame is not a solution of anything
    with pytest.raises(ValueError, match="must have read a flame"):
        fv.solve_steady(make())


def test_burner_flame_steady_solve(burner_flame):
    gas, flame = burner_flame
    model = abf_soot_model(gas)
    grid = np.linspace(0.0, flame.grid[-1], 80)
    s = fv.CFlameSolverOpt(gas, flame, grid, model)
    s.P, s.mdot_left, s.boundary_type_right = flame.P, flame.burner.mdot, 1
    read_flame(s)
    r = fv.solve_steady(s)
    assert r.converged, r.message
    assert residual_np(s) < 1e-9
    fv_profile = []
    s.update_wdot_correction()  # works on the written arrays
    assert np.isfinite(s.wdot_correction_soot).all()
    for i in range(len(grid)):
        gas.TPX = s.T[i], s.P, s.X[:, i]
        model.update_gas(s.T[i], s.P, s.rho[i], s.mu[i], gas.mean_molecular_weight, s.X[:, i])
        model.update_solution(levels(s)[:, i].copy())
        fv_profile.append(model.volume_fraction())
    assert 1e-9 < max(fv_profile) < 1e-5
    # the same answer from the oscillating state that steps too large for the explicit
    # sources leave (N_agg swings negative; its residual is far from small)
    o = fv.CFlameSolverOpt(gas, flame, grid, model)
    o.P, o.mdot_left, o.boundary_type_right, o.dt = flame.P, flame.burner.mdot, 1, 1e-3
    run_pseudo_time(o, 300)
    assert min(o.N_agg_n) < 0 and fv.steady_residual(o) > 0.1
    assert fv.solve_steady(o, rtol=1e-12).converged
    answer = levels(s)
    r2 = fv.solve_steady(s, rtol=1e-12)
    assert r2.converged
    scale = np.abs(levels(s)).max(axis=1, keepdims=True)
    assert (np.abs(levels(o) - levels(s)) / scale).max() < 1e-9
    assert (np.abs(answer - levels(s)) / scale).max() < 1e-8
