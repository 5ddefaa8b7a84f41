"""Construction defaults, selectors, name-valued properties and initialisation."""
import math

import numpy as np
import pytest

import fumivex2 as fv
from conftest import NAMES

Av = 6.02214076e23


def test_construction_defaults(model):
    m = model
    assert (m.rho_soot, m.MW_carbon, m.MW_hydrogen, m.Av, m.kB, m.R, m.P_atm, m.Pi) == (
        1800.0, 0.012011, 0.00100784, 6.02214076e23, 1.3806488e-23, 8.31446261815324, 101325.0,
        3.1415926535)
    assert m.d_A == math.sqrt(3) * 1.395e-10
    assert (m.min_n_C, m.min_n_H) == (378, 20)
    assert m.d_p_min == 1.9999369869393027e-09
    assert m.A_p_min == 1.2565578781239343e-17
    assert m.N_agg_min == m.N_pri_min == m.N_agg == m.N_pri == 1 / Av
    assert m.C_tot == m.C_tot_min == 378 / Av and m.H_tot == m.H_tot_min == 20 / Av
    assert (m.N_agg_offset, m.N_pri_offset, m.C_tot_offset, m.H_tot_offset) == (0, 1, 2, 3)
    assert (m.Phy_dimer_offset, m.PAH_soot_offset, m.dimer_offset, m.soot_PAH_offset) == (-1, -1, 0, 0)
    switches = dict(inception_enabled=True, growth_enabled=True, growth_HACA_enabled=True,
                    growth_PAH_adsorption_enabled=True, coagulation_enabled=True,
                    oxidation_enabled=True, carbonization_enabled=False, scrubbing_enabled=True,
                    coalescence_enabled=False, use_unity_alpha=False, use_empirical_alpha=True,
                    steady_state_physical_dimerization=True, steady_state_PAH_adsorption=True,
                    modified_particle_addition=False)
    assert {k: getattr(m, k) for k in switches} == switches
    params = dict(HACA_prefactor=1.0, alpha_constant_value=1.0, A_carb=4.85e5, Ea_carb=83680.0,
                  Ea_coales=0.0, As_coales=0.0, d_crit_coales=0.0, t_coales_min=1e-12, CtoH_crit=2.5,
                  diffus_coeff_const_val=0.0, K_T_factor=0.0, K_REACT_prefactor=1.0,
                  Ea_REACT_prefactor=1.0, k_FWD_prefactor=1.0, K_PAH_ADS_prefactor=1.0,
                  Ea_PAH_ADS_prefactor=1.0, adsorb_eff=1.0, cross_k_f1_prefactor=1.0,
                  cross_k_r1_prefactor=1.0, cross_k_f2_prefactor=1.0, cross_k_f3_prefactor=1.0)
    assert {k: getattr(m, k) for k in params} == params
    assert (m.T, m.P, m.density, m.viscosity, m.mean_MW, m.p_lambda_gas) == (0.0,) * 6
    assert m.X is None and m.MWs is None and m.scrub_wdot is None and m.species_names is None
    assert m.PAH_index_in_gas == [] and m.p_dC_tot_dt_PAH_each == []
    assert (m.PAH_growth_model_name, m.alpha_model, m.coalescence_type, m.validation) == (
        "reactive_dimerization", "empirical", "disabled", "no_validation")
    assert m.soot_coales_type == 0 and m.validation_case == 0 and m._alpha_model == 1
    assert m.alpha == m.alpha_empirical and m.beta_coag == m.beta_coag_hm
    assert m.diffus_coeff == m.diffus_coeff_morph
    assert m.t_coales is None and m.N_pri_coales is None
    assert m.dC_tot_dt_PAH_each is None and m.dH_tot_dt_PAH_each is None
    assert m.create_PAH_dimer == m.create_PAH_dimer_reactived


@pytest.mark.parametrize("number, suffix, name", [
    (1, "reactived", "reactive_dimerization"), (2, "slfclsn", "self_collision"),
    (3, "slfclsn_lump", "self_collision_lump"), (4, "crosslinking", "cross_linking"),
    (5, "irrevd", "irreversible_dimerization")])
def test_growth_model_selector_binds_six_slots(model, number, suffix, name):
    model.PAH_growth_model_name = name
    assert model.PAH_growth_model == number
    for slot in ("inception_N_agg", "inception_C_tot", "inception_H_tot", "PAH_growth_update",
                 "create_PAH_dimer", "update_scrub_wdot_PAH_growth"):
        assert getattr(model, slot) == getattr(model, f"{slot}_{suffix}")
    model._set_PAH_growth_model(1)
    model._set_PAH_growth_model(fv.PAH_GROWTH_MODELS(number))
    assert model.PAH_growth_model == number and type(model.PAH_growth_model) is int


def test_selectors_ignore_or_reject_unknown_values(model):
    before = model.inception_N_agg
    assert model._set_PAH_growth_model(7) is None
    assert model.PAH_growth_model == 1 and model.inception_N_agg == before
    model.PAH_growth_model = 3  # raw write re-binds nothing
    assert model.PAH_growth_model_name == "self_collision_lump"
    assert model.inception_N_agg == model.inception_N_agg_reactived

    with pytest.raises(ValueError, match="^Error in _set_alpha_model function!$"):
        model._set_alpha_model(5)
    assert model._alpha_model == 5
    with pytest.raises(ValueError, match="^Invalid alpha model type!$"):
        model.alpha_model
    with pytest.raises(TypeError):
        model._set_alpha_model("x")
    model._set_alpha_model(2)
    assert model.alpha == model.alpha_ctoh_based and model.alpha_model == "composition"

    assert model._set_coales_type(9) is None
    assert model.soot_coales_type == 9
    with pytest.raises(ValueError, match="^coalescence not set!$"):
        model.coalescence_type

    with pytest.raises(ValueError, match="^Error in _set_validation_case function!$"):
        model._set_validation_case(2)
    with pytest.raises(ValueError, match="^validation error!$"):
        model.validation = "x"
    assert model.validation == "no_validation"
    model.validation = "coagulation"
    assert model.beta_coag == model.beta_coag_validation
    assert model.diffus_coeff == model.diffus_coeff_const
    model.validation_case = 7
    with pytest.raises(ValueError, match="^validation error!$"):
        model.validation
    model.PAH_growth_model = 0
    with pytest.raises(ValueError, match="^PAH growth model not set!$"):
        model.PAH_growth_model_name
    for prop, bad in (("PAH_growth_model_name", "nope"), ("alpha_model", "nope"),
                      ("coalescence_type", "nope")):
        with pytest.raises(ValueError):
            setattr(model, prop, bad)
    for prop in ("PAH_growth_model_name", "alpha_model", "coalescence_type", "validation",
                 "A_carb", "PAH_index_in_gas", "d_p_min"):
        with pytest.raises(NotImplementedError, match="__del__"):
            delattr(model, prop)


def test_coalescence_types(model):
    model._set_coales_type(2)
    assert (model.Ea_coales, model.As_coales, model.d_crit_coales) == (180000.0, 1.1e-14, 2.5e-9)
    assert model.t_coales == model.t_f_silica and model.coalescence_enabled
    model.coalescence_type = "CtoH-based"
    assert model.soot_coales_type == 4 and model.coalescence_type == "CtoH-based"
    assert (model.Ea_coales, model.As_coales, model.d_crit_coales) == (180000.0, 1.1e-14, 2.5e-9)
    assert model.t_coales == model.t_f_silica and model.N_pri_coales == model.N_pri_coales_merge
    model._set_coales_type(fv.SOOT_COALES_TYPES.titania)
    assert (model.Ea_coales, model.As_coales, model.d_crit_coales) == (33100.0, 7.44e16, 2.5e-9)
    assert model.N_pri_coales == model.N_pri_coales_sintering and model.coalescence_type == "titania"
    model._set_coales_type(3)
    assert model.t_coales == model.t_f_md_derived and model.Ea_coales == 0.0
    model.coalescence_type = "disabled"
    assert model.t_coales is None and model.N_pri_coales is None
    assert not model.coalescence_enabled and model.As_coales == 0.0
    with pytest.raises(AttributeError):
        model.t_coales = model.t_f_silica  # read-only slot


def test_check_names_and_initialize(model, capsys):
    with pytest.raises(TypeError):
        model.checkNameOfSpecies()  # no species list yet
    model.species_names = [n for n in NAMES if n != "OH"]
    with pytest.raises(ValueError, match="^OH does not exist in species list!$"):
        model.initialize()
    assert model.C2H2_index == 0 and model.H2O_index == 0
    model.species_names = list(NAMES)
    assert model.checkNameOfSpecies() is True
    assert capsys.readouterr().out == "Key species are found in species list\n"
    model.PAH_index_in_gas = [9, 10, 11]
    model.PAH_Number_Carbon = [6, 10, 14]
    model.PAH_Number_Hydrogen = [6, 8, 10]
    model.initialize()
    assert [model.C2H2_index, model.H2_index, model.H_index, model.CO_index, model.O2_index,
            model.OH_index, model.H2O_index] == [NAMES.index(s) for s in
                                                 ("C2H2", "H2", "H", "CO", "O2", "OH", "H2O")]
    assert model.p_ROP.shape == (6,)


def test_pah_lists_and_sticking_efficiency(model):
    model.PAH_index_in_gas = (i for i in (3, 7))
    assert model.PAH_index_in_gas == [3, 7]
    lst = model.PAH_index_in_gas
    lst.append(1)
    assert model.PAH_index_in_gas == [3, 7]  # a new list on every read
    with pytest.raises(TypeError):
        model.PAH_index_in_gas = [1, "x"]
    assert model.PAH_index_in_gas == [3, 7]  # unchanged on failure
    model.PAH_sticking_efficiency = [0.5, 0.25]
    assert model.stick_eff == model.PAH_sticking_efficiency == [0.5, 0.25]
    model.MWs = np.linspace(0.01, 0.2, 10)
    model.stick_eff = [0.0]
    with pytest.raises(IndexError):
        model.initialize_stick_eff()  # shorter than the PAH list
    model.stick_eff = [0.0, 0.0]
    model.initialize_stick_eff()
    assert model.stick_eff == [15.0 * model.MWs[3] ** 4.0, 15.0 * model.MWs[7] ** 4.0]
    model.PAH_index_in_gas = [30]
    model.stick_eff = [0.0]
    with pytest.raises(IndexError):
        model.initialize_stick_eff()  # gas index outside MWs


def test_subclass_selector_override_is_honoured_during_construction():
    calls = []

    class Sub(fv.CSootModel):
        def _set_alpha_model(self, alpha_type):
            calls.append(("alpha", alpha_type, self.HACA_prefactor))
            super()._set_alpha_model(0)

        def _set_coales_type(self, coales_type):
            calls.append(("coales", coales_type, self.t_coales_min))
            return super()._set_coales_type(coales_type)

    s = Sub()
    assert calls == [("coales", 0, 0.0), ("alpha", 1, 1.0)]
    assert s.alpha_model == "constant" and s.alpha == s.alpha_constant
    s.alpha_model = "composition"
    assert calls[-1] == ("alpha", 2, 1.0) and s.alpha_model == "constant"
