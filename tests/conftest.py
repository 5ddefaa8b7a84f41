"""Shared fixtures: an ethylene-flame-like gas state and configured soot models."""
import importlib.resources
import pathlib

import numpy as np
import pytest

import fumivex2 as fv

R = 8.31446261815324
Av = 6.02214076e23

# species of the test mechanism, molar masses in kg/kmol
SPECIES = [
    ("N2", 28.014), ("C2H2", 26.038), ("H2", 2.016), ("H", 1.008), ("CO", 28.010),
    ("O2", 31.998), ("OH", 17.007), ("H2O", 18.015), ("CO2", 44.009),
    ("A1", 78.114), ("A2", 128.174), ("A3", 178.234), ("A4", 202.256),
]
NAMES = [s for s, _ in SPECIES]
MW_KMOL = np.array([m for _, m in SPECIES])
# carbon and hydrogen atoms of A1..A4
PAH_NAMES = ["A1", "A2", "A3", "A4"]
PAH_NC = [6.0, 10.0, 14.0, 16.0]
PAH_NH = [6.0, 8.0, 10.0, 10.0]

# carbon, hydrogen and oxygen atoms of each species, in the order of SPECIES
ATOMS = {
    "C": np.array([0, 2, 0, 0, 1, 0, 0, 0, 1, 6, 10, 14, 16], dtype=float),
    "H": np.array([0, 2, 2, 1, 0, 0, 1, 2, 0, 6, 8, 10, 10], dtype=float),
    "O": np.array([0, 0, 0, 0, 1, 2, 1, 1, 2, 0, 0, 0, 0], dtype=float),
}

X_FLAME = {
    "C2H2": 0.02, "H2": 0.05, "H": 2e-3, "CO": 0.05, "O2": 5e-3, "OH": 1e-3,
    "H2O": 0.1, "CO2": 0.03, "A1": 1e-4, "A2": 5e-5, "A3": 2e-5, "A4": 1e-5,
}


def flame_X(overrides=None):
    comp = dict(X_FLAME)
    comp.update(overrides or {})
    X = np.array([comp.get(n, 0.0) for n in NAMES])
    X[0] = 1.0 - X[1:].sum()
    return X


def gas_args(T=1600.0, P=101325.0, X=None):
    """update_gas arguments (T, P, density, viscosity, mean_MW [kg/kmol], X)."""
    X = flame_X() if X is None else X
    mean_MW = float(np.dot(X, MW_KMOL))
    density = P * mean_MW / 1000.0 / (R * T)
    return T, P, density, 5.0e-5, mean_MW, X


# soot state: about 1e16 aggregates per m^3 of three 10 nm primaries, H/C 0.2
SOLUTION = np.array([8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3])


def configure(model, growth_model=1, n_pah=4):
    """Species, molar masses and PAH lists of the test mechanism, then initialize."""
    model.species_names = list(NAMES)
    model.MWs = MW_KMOL / 1000.0
    model.PAH_index_in_gas = [NAMES.index(n) for n in PAH_NAMES[:n_pah]]
    model.PAH_Number_Carbon = PAH_NC[:n_pah]
    model.PAH_Number_Hydrogen = PAH_NH[:n_pah]
    model._set_PAH_growth_model(growth_model)
    model.initialize()
    if growth_model in (2, 3):
        model.initialize_stick_eff()
    return model


@pytest.fixture
def model():
    """A fresh default soot model."""
    return fv.CSootModel()


@pytest.fixture(params=[1, 2, 3, 4, 5], ids=lambda m: f"growth{m}")
def growth_model(request):
    return request.param


def ready_model(growth_model=1, cls=None, T=1600.0, solution=SOLUTION, X=None):
    """A model of the test mechanism evaluated at the flame state."""
    m = configure((cls or fv.CSootModel)(), growth_model)
    m.update_gas(*gas_args(T=T, X=X))
    m.update_solution(np.array(solution, dtype=float))
    return m


def close(a, b):
    """Equal to 1e-12 relative (arrays element by element)."""
    np.testing.assert_allclose(a, b, rtol=1e-12, atol=0.0)


def scrub_pah_terms(m, inception, adsorption):
    """PAH terms of scrub_wdot (kmol/(m^3 s)) at a fresh gas state with only the chosen
    PAH processes on (HACA and oxidation off)."""
    m.update_gas(*gas_args())
    m.growth_HACA_enabled = m.oxidation_enabled = False
    m.inception_enabled, m.growth_PAH_adsorption_enabled = inception, adsorption
    m.update_scrub_wdot()
    return np.asarray(m.scrub_wdot)


def gas_gain(W, atoms):
    """Rate at which the gas gains each element through the species rates W
    (kmol/(m^3 s)), in mol/(m^3 s), with the sum of the magnitudes of its terms."""
    W = np.asarray(W, dtype=float)
    return {e: (1000.0 * float(np.dot(a, W)), 1000.0 * float(np.dot(np.abs(a), np.abs(W))))
            for e, a in atoms.items()}


def element_imbalance(m, atoms, W=None, offsets=None):
    """For each element, (gas gain + soot gain - expected offset) relative to the size of the
    terms, in mol/(m^3 s). Soot gains C and H through S_C_tot and S_H_tot (mol/(kg s))."""
    rho, offsets = m.density, offsets or {}
    soot = {"C": rho * m.S_C_tot(), "H": rho * m.S_H_tot(), "O": 0.0}
    out = {}
    for e, (gain, size) in gas_gain(m.scrub_wdot if W is None else W, atoms).items():
        off = offsets.get(e, 0.0)
        scale = size + abs(soot[e]) + abs(off)
        out[e] = (gain + soot[e] - off) / scale if scale else 0.0
    return out


# ---- real Cantera phases and flames ------------------------------------------------------
# the Appel-Bockhorn-Frenklach mechanism shipped as package data, so the Cantera tests run
# wherever fumivex2 is installed
ABF = pathlib.Path(str(importlib.resources.files("fumivex2") / "data" / "abf.yaml"))


def require_abf():
    """Cantera, or skip (the mechanism ships with the package)."""
    return pytest.importorskip("cantera")


def abf_soot_model(gas, growth_model="self_collision", pahs=("A2", "A3", "A4"), cls=None):
    """A soot model (of class cls, CSootModel by default) initialised for a Cantera phase
    of the test mechanism."""
    import contextlib
    import io

    m = (cls or fv.CSootModel)()
    m.species_names = gas.species_names
    m.MWs = gas.molecular_weights / 1000.0
    m.PAH_index_in_gas = [gas.species_index(p) for p in pahs]
    m.PAH_Number_Carbon = [gas.n_atoms(p, "C") for p in pahs]
    m.PAH_Number_Hydrogen = [gas.n_atoms(p, "H") for p in pahs]
    m.PAH_growth_model_name = growth_model
    with contextlib.redirect_stdout(io.StringIO()):
        m.initialize()
    if growth_model.startswith("self_collision"):
        m.initialize_stick_eff()
    return m


@pytest.fixture(scope="session")
def burner_flame():
    """A converged rich premixed ethylene/oxygen/argon burner flame on the test mechanism
    (equivalence ratio about 2.3, 0.08 kg/(m^2 s), 2 cm wide), solved once per session.
    Returns (phase, flame)."""
    ct = require_abf()
    gas = ct.Solution(str(ABF))
    gas.TPX = 300.0, ct.one_atm, {"C2H4": 1.0, "O2": 1.3, "AR": 2.5}
    flame = ct.BurnerFlame(gas, width=0.02)
    flame.burner.mdot = 0.08
    flame.set_refine_criteria(ratio=3.0, slope=0.3, curve=0.5, prune=0.1)
    flame.solve(loglevel=0, auto=True)
    return gas, flame


@pytest.fixture(scope="session")
def counterflow_flame():
    """The shipped default counterflow flame on the test mechanism (ethylene at 0.2 m/s
    against 35 % oxygen in nitrogen at the same momentum flux, 8 mm, 1 atm) on a coarse
    grid, solved once per session. Returns (phase, flame)."""
    ct = require_abf()
    gas = ct.Solution(str(ABF))
    gas.TPX = 300.0, ct.one_atm, "C2H4:1"
    fuel, rho_fuel = 0.2 * gas.density, gas.density
    gas.TPX = 300.0, ct.one_atm, "O2:0.35, N2:0.65"
    oxidizer = fuel * (gas.density / rho_fuel) ** 0.5
    gas.TPX = 300.0, ct.one_atm, "C2H4:1"
    flame = ct.CounterflowDiffusionFlame(gas, width=0.008)
    flame.fuel_inlet.X, flame.fuel_inlet.T, flame.fuel_inlet.mdot = "C2H4:1", 300.0, fuel
    flame.oxidizer_inlet.X, flame.oxidizer_inlet.T = "O2:0.35, N2:0.65", 300.0
    flame.oxidizer_inlet.mdot = oxidizer
    flame.set_refine_criteria(ratio=6.0, slope=0.8, curve=0.95, prune=0.0)
    flame.solve(loglevel=0, auto=True)
    return gas, flame


def check_soot_columns(profiles, density, resolution=0.0):
    """The derived soot columns of a result table against the four soot variables (mol/kg)
    and the gas density (kg/m3), in the units of their headers: soot of density 1800 kg/m3,
    primaries sharing the carbon volume, mobility diameter d_p n_p^0.45 (at least d_p)."""
    from fumivex2 import results as R
    # the derived columns are the model's, from its copy of the variables: floored
    floors = np.array([1.0, 1.0, 378.0, 20.0]) / Av
    N_agg, N_pri, C, H = (np.maximum(profiles[c].to_numpy(), f) for c, f in
                          zip((R.N_AGG, R.N_PRI, R.C_TOT, R.H_TOT), floors))
    MW_C, MW_H = 12.011e-3, 1.00784e-3                              # kg/mol
    d_p = (6.0 / np.pi * C * MW_C / 1800.0 / (N_pri * Av)) ** (1.0 / 3.0)   # m
    n_p = N_pri / N_agg
    want = {R.FV: (C * MW_C + H * MW_H) * density / 1800.0,           # m3/m3
            R.NUMBER: N_agg * Av * density,                           # 1/m3
            R.D_P: d_p * 1e9,                                         # nm
            R.D_M: np.maximum(d_p * n_p ** 0.45, d_p) * 1e9,          # nm
            R.N_P: n_p, R.HC: H / C}
    # the run leaves a derived value empty where the soot is not meaningful (near its
    # floors, or for a steady soot solve of relative tolerance `resolution` far below its
    # peak): it must be there wherever all four variables are well above both and
    # N_pri >= N_agg, and be right wherever it is given
    state = np.array([N_agg, N_pri, C, H]).T
    clear = np.all(state >= np.maximum(1e4 * floors, 1e3 * resolution * state.max(axis=0)),
                   axis=1) & (N_pri >= N_agg)
    assert clear.any()
    for column, values in want.items():
        given = np.isfinite(profiles[column].to_numpy(dtype=float))
        assert given[clear].all(), column
        np.testing.assert_allclose(profiles[column][given], values[given], rtol=1e-4,
                                   err_msg=column)
