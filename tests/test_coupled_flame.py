"""The coupled species-and-soot solve of a flame (fumivex2.coupled), against Cantera's own
flame equations and solutions, the conservation of what the gas and the soot exchange, and
a residual of the whole coupled system written here in NumPy from the equations.

The flames are small (31 evenly spaced points) and stored in tests/data (written by
make_coupled_flames.py); each fixture lets the installed Cantera converge its flame again
to tight tolerances before it is used.
"""
import pathlib

import cantera as ct
import numpy as np
import pytest

import fumivex2
from fumivex2 import coupled as C
from fumivex2._fumivex2 import CSootModel, _coupled_flame_jacobian, _solve_coupled_flame
from fumivex2.species import configure_soot_model

DATA = pathlib.Path(__file__).parent / "data"
MECHANISM = str(pathlib.Path(fumivex2.__file__).parent / "data" / "abf.yaml")
RTOL = 1e-8


@pytest.fixture(scope="module")
def gas():
    return ct.Solution(MECHANISM)


def _flame(gas, name):
    cls = ct.CounterflowDiffusionFlame if name == "counterflow" else ct.BurnerFlame
    flame = cls(gas)
    flame.restore(DATA / f"coupled-{name}.yaml")
    flame.flame.set_steady_tolerances(default=(1e-12, 1e-18))
    flame.solve(loglevel=0, refine_grid=False, auto=False)
    return flame


@pytest.fixture(scope="module")
def flames(gas):
    return {name: _flame(gas, name) for name in ("burner", "counterflow", "isothermal")}


@pytest.fixture(scope="module")
def model(gas):
    return configure_soot_model(gas)


@pytest.fixture(scope="module")
def coupled(gas, flames, model):
    """The coupled solutions of the burner and the counterflow flame."""
    return {name: C.solve_coupled(gas, flames[name], model, rtol=RTOL)
            for name in ("burner", "counterflow")}


def _floors(model, n):
    return np.repeat(np.array(C._soot_floors(model))[:, None], n, axis=1)


def _rows(result, K):
    return result["F"][:K], result["weight"][:K]


# ---- Cantera's own equations -------------------------------------------------------------

@pytest.mark.parametrize("name", ["burner", "counterflow"])
def test_species_rows_are_cantera_residual(gas, flames, model, name):
    """Without the soot's exchange, the species rows at Cantera's solution are Cantera's own
    residual there (Sim1D.eval): interior rows -rho times Cantera's (which divides by the
    density and has the opposite sign), the inlet rows and the sum rows negated, an outlet's
    rows its Y_m - Y_m-1 times |rho u| / dz; and they are a root to Cantera's tolerance."""
    flame = flames[name]
    K = gas.n_species
    problem = C.flame_problem(gas, flame, model, gas_sources=False)
    n = len(flame.grid)
    ours = C.coupled_residual(problem, flame.Y, _floors(model, n))
    F, w = _rows(ours, K)
    flame.eval(rdt=0.0)
    theirs = np.array([flame.flame.residuals(s) for s in gas.species_names])
    rho = np.asarray(flame.density)
    expected = -rho[None, :] * theirs
    z = np.asarray(flame.grid)
    # the ends: the most abundant species carries 1 - sum Y (Cantera) = -(sum Y - 1) (ours)
    ends = [0, n - 1]
    expected[:, 0] = -theirs[:, 0]
    if name == "burner":
        expected[:, -1] = theirs[:, -1] * abs(problem.rho_u[-1]) / (z[-1] - z[-2])
    else:
        expected[:, -1] = theirs[:, -1]
    for i in ends:
        excess = int(np.argmax(flame.Y[:, i]))
        expected[excess, i] = -theirs[excess, i]
    assert np.max(np.abs(F - expected) * w) < 1e-10
    assert np.max(np.abs(F) * w) < 1e-6  # Cantera's solution is a root, to its tolerances


@pytest.mark.parametrize("name", ["isothermal", "counterflow"])
def test_without_exchange_the_solve_returns_cantera_species(gas, flames, model, coupled, name):
    """From species 1 % off Cantera's solution (each value scaled at random; the soot
    solved one way on Cantera's species, or at its floors), the solve without the soot's
    exchange returns Cantera's species: relative 1e-6 on every species above 1e-10. The
    burner here is the one held at 1800 K: with its measured profile, the soot without the
    exchange has no root on the 31 points (one point's soot sits on the soot model's switch
    at 1.5 primaries per aggregate, where its rates jump), the solve splits the intervals
    beside that point, and Cantera's grid no longer applies."""
    flame = flames[name]
    Y = np.array(flame.Y)
    rng = np.random.default_rng(7)
    start = Y * (1.0 + 0.01 * rng.standard_normal(Y.shape))
    soot = coupled[name].one_way_soot if name in coupled else _floors(model, Y.shape[1])
    result = C.solve_coupled(gas, flame, model, gas_sources=False, rtol=RTOL,
                             start=(start, soot))
    assert result.converged, result.message
    assert result.grids == [Y.shape[1]]
    big = Y > 1e-10
    assert np.max(np.abs(result.Y[big] - Y[big]) / Y[big]) < 1e-6
    assert np.max(np.abs(start[big] - Y[big]) / Y[big]) > 1e-2  # it did have to move


@pytest.mark.parametrize("name", ["burner", "counterflow"])
def test_jacobian_is_the_derivative_of_the_rows(gas, flames, coupled, model, name):
    """The Jacobian the solve forms (Cantera's rate derivatives turned into dwdot/dY, the
    diffusive fluxes' derivatives, the soot's face fluxes through the neighbours' rho D and
    viscosity, the soot model differenced) against central differences of the rows with
    the diffusion coefficients held, at the coupled solution: columns of species present
    there and of the soot variables at an interior point, where the burner's soot is well
    above its floors and at the counterflow's soot peak (the soot's thermophoretic flux
    large there). Each row against its own largest derivative in these columns: 1e-6 for
    the soot rows, 1e-5 for the species rows (Cantera's rate derivatives against the
    differences, near the stagnation plane)."""
    result = coupled[name]
    problem = C.flame_problem(gas, flames[name], model)
    K = gas.n_species
    Y, N = result.Y.copy(), result.soot.copy()
    i = int(np.argmax(N[2] > 0.1 * N[2].max())) if name == "burner" else int(np.argmax(N[2]))
    with C._exact_rate_derivatives(gas):
        J = _coupled_flame_jacobian(problem, Y, N)
    names = gas.species_names
    columns = [names.index(s) for s in ("H", "OH", "C2H2", "A4", "H2O", "AR", "N2")
               if Y[names.index(s), i] > 1e-6] + [K, K + 1, K + 2, K + 3]
    held = Y.copy()
    fd = np.zeros((3, K + 4, len(columns)))    # rows of points i-1, i, i+1 x columns
    ours = np.zeros_like(fd)
    for q, c in enumerate(columns):
        x, row = (Y, c) if c < K else (N, c - K)
        h = 1e-6 * (abs(x[row, i]) + (1e-3 if c < K else 0.0))
        rows = []
        for sign in (1.0, -1.0):
            x[row, i] += sign * h
            rows.append(C.coupled_residual(problem, Y, N, transport=held)["F"])
            x[row, i] -= sign * h
        for p, (j, block) in enumerate(((i - 1, 2), (i, 1), (i + 1, 0))):
            fd[p, :, q] = (rows[0][:, j] - rows[1][:, j]) / (2.0 * h)
            ours[p, :, q] = J[block, j, :, c]
    size = np.max(np.abs(fd), axis=2, keepdims=True)
    significant = size > 1e-12 * size.max()
    error = np.where(significant, np.abs(ours - fd) / np.where(significant, size, 1.0), 0.0)
    assert np.max(error[:, K:]) < 1e-6
    assert np.max(error[:, :K]) < 1e-5
    # the soot rows of the neighbours do depend on point i's mass fractions (through its
    # rho D and viscosity on the shared faces)
    assert np.max(np.abs(fd[[0, 2], K:, :-4])) > 0.0


# ---- conservation ---------------------------------------------------------------------------

def _atoms(gas, element):
    if element not in gas.element_names:
        return np.zeros(gas.n_species)
    return np.array([gas.n_atoms(k, element) for k in range(gas.n_species)], dtype=float)


def _leaving(problem, result):
    """Where the gas and soot leave, kg/(m2 s) per point: the mass flux of each point that
    takes that point's gas and soot out of the domain. A burner flame: the outlet's mass
    flux, at the last point (zero gradients there: no diffusive flux; the temperature is
    flat there: no thermophoretic flux). A counterflow flame: radially, the held mass flux
    falling by G_i - G_i+1 between point i and the next point towards the stagnation plane
    (G_i+1 - G_i on the other side), which leaves with point i's contents; the two points
    beside the plane lose their whole flux there."""
    G = np.asarray(result.rho_u, dtype=float)
    out = np.zeros(len(G))
    if not problem.right_inlet:
        assert result.T[-1] == result.T[-2]
        out[-1] = G[-1]
        return out
    s = int(np.max(np.nonzero(G > 0)[0]))            # the last point moving towards +z
    assert np.all(G[:s + 1] > 0) and np.all(G[s + 1:] < 0)
    out[:s] = G[:s] - G[1:s + 1]
    out[s], out[s + 1] = G[s], -G[s + 1]
    out[s + 2:] = G[s + 1:-1] - G[s + 2:]
    return out


@pytest.mark.parametrize("name", ["burner", "isothermal", "counterflow"])
def test_flame_conserves_elements_and_mass(gas, flames, model, coupled, name):
    """What enters through the inlets (gas and the soot's floors), plus the gas that
    replaces the mass the soot takes (the mass flux being held, the gas taken is made up by
    gas of the local composition, -m_s per volume), leaves as gas and soot (_leaving), per
    element entering (C, H, O, and N or Ar where there is some) to 1e-6 of the element's throughput, and the gas loses the mass
    the soot carries out to 1e-6 of that soot mass (the level the solve's tolerance
    guarantees; measured 1e-14 and below). The burner flame as it is (temperature rising
    through the flame: thermophoresis, the soot's rho D varying), the same burner held at
    1800 K, and the counterflow flame, whose soot (5e-6 of the mass it takes in) is carried
    through the stagnation plane by thermophoresis. The flames' grids are even: the
    species rows' upwind convection and central diffusion conserve on such a grid."""
    flame = flames[name]
    result = coupled[name] if name in coupled else C.solve_coupled(gas, flame, model,
                                                                    rtol=RTOL)
    assert result.converged, result.message
    problem = C.flame_problem(gas, flame, model)
    dz = np.diff(result.grid)
    assert np.allclose(dz, dz[0], rtol=1e-12)
    W = np.asarray(gas.molecular_weights)
    W_C, W_H = gas.atomic_weight("C") / 1000.0, gas.atomic_weight("H") / 1000.0
    inlets = [(problem.mdot_left, problem.Y_left, problem.N_left)]
    if problem.right_inlet:
        inlets.append((problem.mdot_right, problem.Y_right, problem.N_right))
    leaving = _leaving(problem, result)
    assert np.sum(leaving) == pytest.approx(sum(m for m, _, _ in inlets), rel=1e-12)
    taken = -result.m_s[1:-1] * dz[0]                                # kg/(m2 s) per cell
    soot = {"C": 2, "H": 3}                                          # rows of mol/kg
    checked = []
    for element in ("C", "H", "O", "N", "Ar"):
        a = _atoms(gas, element) / W * 1000.0                        # mol per kg of species
        content = a @ result.Y                                       # mol/kg along the flame
        inflow = sum(m * (a @ Y_in) for m, Y_in, _ in inlets)
        if not inflow > 0.0:
            continue
        checked.append(element)
        if element in soot:
            content = content + result.soot[soot[element]]
            inflow += sum(m * N_in[soot[element]] for m, _, N_in in inlets)
        made_up = np.sum(taken * (a @ result.Y)[1:-1])
        outflow = leaving @ content
        assert abs(inflow + made_up - outflow) < 1e-6 * inflow, element
    assert {"C", "H", "O"} <= set(checked)
    soot_mass = W_C * result.soot[2] + W_H * result.soot[3]          # kg per kg of gas
    formed = leaving @ soot_mass - sum(m * (W_C * N[2] + W_H * N[3]) for m, _, N in inlets)
    assert formed > 1e-6 * np.sum(leaving)                           # soot did form
    assert abs(np.sum(taken) - formed) < 1e-6 * formed


# ---- against the coupled plug flow --------------------------------------------------------

def test_post_flame_zone_follows_the_coupled_plug_flow(gas, flames, model):
    """Past the flame front (from 4.8 mm on, where the temperature is held at 1800 K) the
    burner flame is nearly a plug flow: a CPFROde with the soot on, its temperature imposed
    from the flame's profile (dT/dt = u dT/dz, zero here), started from the coupled flame's
    state at 4.8 mm and integrated by SciPy, gives the soot carbon and pyrene the coupled
    flame has, to 6 % and 4 % up to 10.8 mm, while the one-way soot carbon is 4 to 8 times
    the plug flow's. The rest is diffusion on the flame's side: the first-order upwind
    convection on 0.4 mm spacing adds G dz / 2 of numerical diffusion, and halving the
    spacing halves the carbon's difference (4.2, 2.9, 1.7, 0.9 % at 6.4 mm on 31, 61, 121,
    241 points); pyrene's 2 % deficit is its own diffusion towards the burner. The last
    three points are left out: the outlet's zero-gradient rows bend the profiles there. The
    flame is solved with the plug flow's bookkeeping of the exchange (no hydrogen closure),
    and the soot's share of the mass in continuity, left out by the flame, is 1e-3 here."""
    from scipy.integrate import solve_ivp

    from fumivex2._fumivex2 import CPFROde

    flame = flames["burner"]
    result = C.solve_coupled(gas, flame, model, rtol=RTOL, hydrogen_closure=False)
    assert result.converged, result.message
    z, K = result.grid, gas.n_species
    start = int(np.argmin(np.abs(z - 4.8e-3)))
    assert np.all(result.T[start:] == result.T[start])  # held at its post-flame value
    rhs = CPFROde(gas)
    rhs.soot_model = model
    rhs.soot_enabled = True
    rhs.area, rhs.perimeter = 1.0, 1.0       # no walls: only the hydraulic diameter is read
    rhs._use_temp_time_history = True
    u = result.rho_u / result.density
    rhs.time_derivative_temp_history = np.array([z, u * np.gradient(result.T, z)])
    rhs.initialize()
    y0 = np.hstack([[0.0, result.rho_u[start], result.T[start]], result.Y[:, start],
                    result.soot[:, start]])
    stations = z[start:-3]
    plug = solve_ivp(rhs, (z[start], stations[-1]), y0, method="BDF", rtol=1e-9, atol=1e-20,
                     t_eval=stations)
    assert plug.success, plug.message
    k = gas.species_index("A4")
    carbon = result.soot[2, start:-3] / plug.y[3 + K + 2]
    pyrene = result.Y[k, start:-3] / plug.y[3 + k]
    assert np.max(np.abs(carbon - 1.0)) < 0.06
    assert np.max(np.abs(pyrene - 1.0)) < 0.04
    assert np.min(result.one_way_soot[2, start + 1:-3] / plug.y[3 + K + 2, 1:]) > 4.0


# ---- converged means converged ------------------------------------------------------------

def numpy_rows(problem, gas, model, Y, N):
    """The coupled rows written from the equations in NumPy, with Cantera's phase and the
    soot model called as a user would: (rows (K + 4) x n, the largest term of each species'
    and soot variable's rows). Species rows in kg/(m3 s), soot rows in mol/(m3 s)."""
    z = np.asarray(problem.z, dtype=float)
    T = np.asarray(problem.T, dtype=float)
    G = np.asarray(problem.rho_u, dtype=float)
    P = problem.P
    K, n = Y.shape
    W = np.asarray(gas.molecular_weights, dtype=float)
    Wbar = 1.0 / np.sum(Y / W[:, None], axis=0)
    X = Y * Wbar / W[:, None]
    rho = P * Wbar / (ct.gas_constant * T)
    mu, wdot = np.zeros(n), np.zeros((K, n))
    D, S, a = np.zeros(n), np.zeros((4, n)), np.zeros((K, n))
    W_C, W_H = gas.atomic_weight("C") / 1000.0, gas.atomic_weight("H") / 1000.0
    H2 = gas.species_index("H2")
    for i in range(n):
        gas.TPX = T[i], P, X[:, i]
        mu[i] = gas.viscosity
        gas.set_unnormalized_mass_fractions(Y[:, i])
        gas.TP = T[i], P
        wdot[:, i] = gas.net_production_rates
        model.update_gas(T[i], P, rho[i], mu[i], Wbar[i], X[:, i].copy())
        model.update_solution(N[:, i].copy())
        D[i] = model.diffus_coeff()
        if 0 < i < n - 1:
            S[:, i] = [model.S_N_agg(), model.S_N_pri(), model.S_C_tot(), model.S_H_tot()]
            model.update_scrub_wdot()
            a[:, i] = W * np.asarray(model.scrub_wdot)
            # the hydrogen the model does not account for goes to H2: the gas loses what
            # the soot gains, rho (S_C W_C + S_H W_H)
            a[H2, i] -= a[:, i].sum() + rho[i] * (S[2, i] * W_C + S[3, i] * W_H)
    m_s = a.sum(axis=0)
    # diffusive mass fluxes at the midpoints, corrected to sum to zero
    dz = np.diff(z)
    J = np.zeros((K, n - 1))
    for m in range(n - 1):
        gas.set_unnormalized_mass_fractions(0.5 * (Y[:, m] + Y[:, m + 1]))
        gas.TP = 0.5 * (T[m] + T[m + 1]), P
        Dk = gas.mix_diff_coeffs
        f = gas.density * Dk * W / gas.mean_molecular_weight * (X[:, m] - X[:, m + 1]) / dz[m]
        J[:, m] = f - Y[:, m] * f.sum()
    F = np.zeros((K + 4, n))
    big = np.zeros(K + 4)

    def note(rows, *terms):
        for t in terms:
            big[rows] = np.maximum(big[rows], np.abs(t))

    sp = slice(0, K)
    for i in range(1, n - 1):
        up = i - 1 if G[i] > 0 else i + 1
        h = z[i] - z[i - 1] if G[i] > 0 else z[i + 1] - z[i]
        conv = G[i] * (Y[:, i] - Y[:, up]) * (1 if G[i] > 0 else -1) / h
        diff = (J[:, i] - J[:, i - 1]) / (0.5 * (z[i + 1] - z[i - 1]))
        chem = W * wdot[:, i]
        soot = a[:, i] - Y[:, i] * m_s[i]
        F[sp, i] = conv + diff - chem - soot
        note(sp, G[i] * Y[:, i] / h, G[i] * Y[:, up] / h, J[:, i] / (0.5 * (z[i + 1] - z[i - 1])),
             J[:, i - 1] / (0.5 * (z[i + 1] - z[i - 1])), chem, soot)
    F[sp, 0] = J[:, 0] + G[0] * Y[:, 0] - problem.mdot_left * problem.Y_left
    note(sp, J[:, 0], G[0] * Y[:, 0], problem.mdot_left * problem.Y_left)
    if problem.right_inlet:
        F[sp, -1] = J[:, -1] + G[-1] * Y[:, -1] + problem.mdot_right * problem.Y_right
        note(sp, J[:, -1], G[-1] * Y[:, -1], problem.mdot_right * problem.Y_right)
    else:
        w = abs(G[-1]) / dz[-1]
        F[sp, -1] = w * (Y[:, -1] - Y[:, -2])
        note(sp, w * Y[:, -1], w * Y[:, -2])
    for i in (0, n - 1):
        F[int(np.argmax(Y[:, i])), i] = Y[:, i].sum() - 1.0
    # soot: the conservation law d/dz (G N + rho u_th N - rho D dN/dz) = rho S with the
    # convective part G dN/dz as the species' (G held: continuity), the other two fluxes at
    # the faces between points: diffusion with the mean of the two points' rho D,
    # thermophoresis rho u_th = -0.538 (mu / T) dT/dz with the mean of their mu / T,
    # carrying the soot of the point it comes from; differences of the face fluxes over
    # the cell width (z_i+1 - z_i-1) / 2
    rhoD = rho * D
    q = -0.5 * (rhoD[:-1] + rhoD[1:]) * np.diff(N, axis=1) / dz
    drift = -0.538 * 0.5 * (mu[:-1] / T[:-1] + mu[1:] / T[1:]) * np.diff(T) / dz
    t = drift * np.where(drift > 0, N[:, :-1], N[:, 1:])
    for i in range(1, n - 1):
        up = i - 1 if G[i] > 0 else i + 1
        h = z[i] - z[i - 1] if G[i] > 0 else z[i + 1] - z[i]
        conv = G[i] * (N[:, i] - N[:, up]) * (1 if G[i] > 0 else -1) / h
        width = 0.5 * (z[i + 1] - z[i - 1])
        F[K:, i] = conv + (q[:, i] + t[:, i] - q[:, i - 1] - t[:, i - 1]) / width \
            - rho[i] * S[:, i]
        note(slice(K, K + 4), G[i] * N[:, i] / h, G[i] * N[:, up] / h, q[:, i] / width,
             q[:, i - 1] / width, t[:, i] / width, t[:, i - 1] / width, rho[i] * S[:, i])
    # an inlet: what crosses the first (last) face, convected as the species' inlet rows,
    # is what the entering gas carries
    N_in = np.asarray(problem.N_left)
    F[K:, 0] = G[0] * N[:, 0] + q[:, 0] + t[:, 0] - problem.mdot_left * N_in
    note(slice(K, K + 4), G[0] * N[:, 0], q[:, 0], t[:, 0], problem.mdot_left * N_in)
    if problem.right_inlet:
        N_in = np.asarray(problem.N_right)
        F[K:, -1] = G[-1] * N[:, -1] + q[:, -1] + t[:, -1] + problem.mdot_right * N_in
        note(slice(K, K + 4), G[-1] * N[:, -1], q[:, -1], t[:, -1],
             problem.mdot_right * N_in)
    else:
        c = abs(G[-1]) / dz[-1]
        F[K:, -1] = c * (N[:, -1] - N[:, -2])
        note(slice(K, K + 4), c * N[:, -1], c * N[:, -2])
    return F, big


def _assert_rows_below(problem, gas, model, result, tolerance):
    """Every NumPy row at the result below `tolerance` relative to the largest term of its
    species' or soot variable's equations (the sum rows as they stand)."""
    K = gas.n_species
    F, big = numpy_rows(problem, gas, model, result.Y, result.soot)
    floor = np.max(np.abs(problem.rho_u)) * 1e-20 / (result.grid[-1] - result.grid[0])
    scale = np.maximum(big, np.r_[np.full(K, floor), np.zeros(4)])[:, None]
    scaled = np.abs(F) / np.where(scale > 0, scale, 1.0)
    for i in (0, -1):
        scaled[int(np.argmax(result.Y[:, i])), i] = abs(F[int(np.argmax(result.Y[:, i])), i])
    assert np.max(scaled) < tolerance


@pytest.mark.parametrize("name", ["burner", "counterflow"])
def test_answer_satisfies_the_coupled_equations(gas, flames, model, coupled, name):
    """The coupled answer recomputed in NumPy: every row below the solve's tolerance
    relative to the largest term of its species' or soot variable's equations (the sum
    rows as they stand); and at a state that is no solution (the start: Cantera's species,
    the one-way soot) the NumPy rows are the solve's own rows."""
    result = coupled[name]
    assert result.converged, result.message
    assert result.max_soot_mass_ratio > 0.0
    problem = C.flame_problem(gas, flames[name], model)
    _assert_rows_below(problem, gas, model, result, RTOL)
    # far from the answer the two computations agree row by row
    start = (result.one_way_Y, result.one_way_soot)
    F0, big0 = numpy_rows(problem, gas, model, *start)
    ours = C.coupled_residual(problem, *start)
    w = ours["weight"]
    assert np.max(np.abs(F0 - ours["F"]) * w) < 1e-8
    assert np.max(np.abs(F0) * w) > 1e-3


def test_refined_answer_satisfies_the_coupled_equations(gas, flames, model, coupled):
    """refine=True on the burner flame: the grid gains points (Cantera's among them), none
    closer than a quarter of the even grid's spacing (the outflow's zero last slope is no
    reason to split the last interval again and again), and the answer satisfies the
    NumPy rows on the uneven grid to the tolerance."""
    result = C.solve_coupled(gas, flames["burner"], model, rtol=RTOL, refine=True)
    assert result.converged, result.message
    base = coupled["burner"]
    assert len(result.grid) > len(base.grid)
    assert np.all(np.isin(base.grid, result.grid))
    assert np.min(np.diff(result.grid)) >= 0.25 * np.min(np.diff(base.grid)) * (1 - 1e-9)
    problem = C.flame_problem(gas, flames["burner"], model)
    fine = C._interpolated(problem, result.grid, base.Y, base.soot)[0]
    _assert_rows_below(fine, gas, model, result, RTOL)


def test_second_solve_on_the_same_objects_repeats_the_first(gas, flames, model, coupled):
    """The phase, the flame and the soot model come out of a solve as they went in (the
    phase's state and derivative settings restored): solving again gives the same answer
    to the last bit, with the same counts."""
    settings, state = dict(gas.derivative_settings), gas.TPY
    again = C.solve_coupled(gas, flames["burner"], model, rtol=RTOL)
    assert dict(gas.derivative_settings) == settings
    assert gas.T == state[0] and gas.P == state[1] and np.array_equal(gas.Y, state[2])
    first = coupled["burner"]
    assert again.converged and again.iterations == first.iterations
    assert np.array_equal(again.Y, first.Y) and np.array_equal(again.soot, first.soot)


def test_coupling_takes_the_soot_growth_species(coupled, gas):
    """The soot's uptake of pyrene shows in the gas: where the coupled soot peaks, the gas
    holds less pyrene than without the exchange, and the soot is less than one way."""
    for result in coupled.values():
        k = gas.species_index("A4")
        i = int(np.argmax(result.soot[2]))
        assert result.Y[k, i] < result.one_way_Y[k, i]
        assert result.soot[2].max() < result.one_way_soot[2].max()


# ---- both routes to the soot model, and what the solve refuses -----------------------------

class Unchanged(CSootModel):
    """A subclass that overrides nothing: called through Python instead of in C++."""


def test_python_and_cpp_soot_models_give_the_same_rows(gas, flames, coupled, model):
    result = coupled["burner"]
    via_python = configure_soot_model(gas, cls=Unchanged)
    problems = [C.flame_problem(gas, flames["burner"], m) for m in (model, via_python)]
    rows = [C.coupled_residual(p, result.one_way_Y, result.one_way_soot) for p in problems]
    assert np.array_equal(rows[0]["F"], rows[1]["F"])
    assert np.array_equal(rows[0]["exchange"], rows[1]["exchange"])


def test_refuses_what_it_does_not_mirror(gas, flames, model):
    flame = flames["burner"]
    flame.transport_model = "multicomponent"
    try:
        with pytest.raises(ValueError, match="mixture-averaged"):
            C.flame_problem(gas, flame, model)
    finally:
        flame.transport_model = "mixture-averaged"
    other = configure_soot_model(gas)
    other.steady_state_physical_dimerization = False
    with pytest.raises(ValueError, match="steady_state_physical_dimerization"):
        C.flame_problem(gas, flame, other)
    with pytest.raises(ValueError, match="different species"):
        C.flame_problem(ct.Solution("gri30.yaml"), flame, model)


@pytest.mark.parametrize("change, error", [
    (dict(rtol=1.0), ValueError),
    (dict(rtol=0.0), ValueError),
    (dict(max_iterations=-1), ValueError),
    (dict(dt=float("nan")), ValueError),
    (dict(Y=np.zeros((3, 3))), ValueError),
    (dict(T_short=True), ValueError),
    (dict(z_back=True), ValueError),
    (dict(bogus=1), TypeError),
])
def test_bad_arguments_raise(gas, flames, model, change, error):
    problem = C.flame_problem(gas, flames["burner"], model)
    n = len(problem.z)
    Y, N = np.array(flames["burner"].Y), _floors(model, n)
    change = dict(change)
    if change.pop("T_short", False):
        problem.T = problem.T[:-1]
    if change.pop("z_back", False):
        problem.z = problem.z[::-1].copy()
    Y = change.pop("Y", Y)
    with pytest.raises(error):
        _solve_coupled_flame(problem, Y, N, **change)
