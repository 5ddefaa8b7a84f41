"""The soot model fed from a real Cantera phase: element balances of scrubbing."""
import contextlib
import io

import numpy as np
import pytest

import fumivex2 as fv
from conftest import ABF as MECH, element_imbalance

ct = pytest.importorskip("cantera")

COMPOSITION = ("C2H2:0.03, H2:0.05, H:0.002, CO:0.06, O2:0.004, OH:0.001, H2O:0.12, "
               "A1:1e-4, A2:5e-5, A3:2e-5, A4:1e-5, N2:0.7")
PAHS = ["A1", "A2", "A3", "A4"]


@pytest.fixture(scope="module")
def gas():
    g = ct.Solution(str(MECH))
    g.TPX = 1700.0, ct.one_atm, COMPOSITION
    return g


def soot_for(gas, growth_model, **switches):
    m = fv.CSootModel()
    m.species_names = gas.species_names
    m.MWs = gas.molecular_weights / 1000.0
    m.PAH_index_in_gas = [gas.species_index(p) for p in PAHS]
    m.PAH_Number_Carbon = [gas.n_atoms(p, "C") for p in PAHS]
    m.PAH_Number_Hydrogen = [gas.n_atoms(p, "H") for p in PAHS]
    m._set_PAH_growth_model(growth_model)
    with contextlib.redirect_stdout(io.StringIO()):
        m.initialize()
    if growth_model in (2, 3):
        m.initialize_stick_eff()
    for name, value in switches.items():
        setattr(m, name, value)
    m.update_gas(gas.T, gas.P, gas.density, gas.viscosity, gas.mean_molecular_weight, gas.X)
    m.update_solution(np.array([8.0e-8, 2.4e-7, 1.9e-2, 3.8e-3]))
    m.update_scrub_wdot()
    return m


def atoms(gas):
    return {e: np.array([gas.n_atoms(k, e) for k in range(gas.n_species)]) for e in "CHO"}


@pytest.mark.parametrize("growth_model", [1, 2, 3, 4, 5])
def test_carbon_taken_from_the_gas_is_the_carbon_gained_by_soot(gas, growth_model):
    m = soot_for(gas, growth_model)
    assert m.S_C_tot() != 0.0
    err = element_imbalance(m, atoms(gas))
    assert abs(err["C"]) < 1e-12 and abs(err["O"]) < 1e-12


def test_surface_reactions_conserve_hydrogen_and_oxygen(gas):
    m = soot_for(gas, 1, inception_enabled=False, growth_PAH_adsorption_enabled=False)
    assert m.p_dC_tot_dt_HACA_alt > 0 and m.p_dC_tot_dt_OH < 0 and m.p_dC_tot_dt_O2 < 0
    assert max(map(abs, element_imbalance(m, atoms(gas)).values())) < 1e-12
    assert m.scrub_wdot[gas.species_index("H2O")] == 0.0


def test_sources_follow_the_phase_state(gas):
    hot = ct.Solution(str(MECH))
    hot.TPX = 2000.0, ct.one_atm, COMPOSITION
    cool, warm = soot_for(gas, 1), soot_for(hot, 1)
    assert warm.p_lambda_gas > cool.p_lambda_gas
    assert warm.k_REAC() > cool.k_REAC()
    assert cool.diffus_coeff() == cool.diffus_coeff_morph() > 0
