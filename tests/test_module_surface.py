"""Module surface: names, enumerations, docstrings, argument handling, types."""
import importlib
import sys

import numpy as np
import pytest

import fumivex2 as fv
from fumivex2 import _fumivex2 as ext


def test_enumerations_and_member_attributes():
    expected = {
        "PAH_GROWTH_MODELS": [("reactive_dimerization", 1), ("self_collision", 2),
                              ("self_collision_lump", 3), ("cross_linking", 4),
                              ("irrev_dimerization", 5)],
        "SOOT_COALES_TYPES": [("no_coales", 0), ("titania", 1), ("silica", 2),
                              ("md_derived", 3), ("ctoh_based", 4)],
        "VALIDATION_CASES": [("no_validation", 0), ("coagulation", 1)],
        "VI": [("N_agg", 1), ("N_pri", 2), ("C_tot", 3), ("H_tot", 4)],
        "boundary_type": [("inlet", 0), ("outlet", 1)],
    }
    for enum_name, members in expected.items():
        enum = getattr(ext, enum_name)
        assert [(m.name, m.value) for m in enum] == members
        for name, value in members:
            assert getattr(ext, name) is enum[name]
            assert getattr(ext, name) == value and isinstance(getattr(ext, name), int)
    assert ext.cross_linking is ext.PAH_GROWTH_MODELS.cross_linking == 4


def test_module_level_names():
    assert ext.np is np
    assert ext.__test__ == {}
    assert ext.__doc__ is None
    docs = {"CSootModel": "CSootModel()", "CSootGas": "CSootGas()", "CPFROde": "CPFROde(phase)",
            "CFlameSolver": "CFlameSolver(phase, flame, grid, soot_model)",
            "CFlameSolverOpt": "CFlameSolverOpt(phase, flame, grid, soot_model)"}
    for t, doc in docs.items():
        cls = getattr(ext, t)
        assert cls.__qualname__ == t and cls.__doc__ == doc and type(cls) is type
        assert cls.__module__ == "fumivex2._fumivex2"
        assert callable(getattr(ext, "__pyx_unpickle_" + t))
        assert not hasattr(cls.__new__(cls), "__dict__")
        assert cls.__flags__ & (1 << 10)                      # subclassable
        assert bool(cls.__flags__ & (1 << 14)) == (t != "CSootGas")   # cyclic GC


def test_reimport_returns_the_same_module():
    before = sys.modules.pop("fumivex2._fumivex2")
    try:
        again = importlib.import_module("fumivex2._fumivex2")
        assert again is before
        assert importlib.reload(before) is before
    finally:
        sys.modules["fumivex2._fumivex2"] = before


def test_docstrings_are_signature_lines():
    M = fv.CSootModel
    assert M.update_gas.__doc__ == ("CSootModel.update_gas(self, double T, double P, double density, "
                                    "double viscosity, double mean_MW, ndarray X)")
    assert M.d_p.__doc__ == "CSootModel.d_p(self)"
    assert M.molar_density.__doc__ == "CSootModel.molar_density(self, int index)"
    assert M.k_FWD.__doc__ == "CSootModel.k_FWD(self, int PAH_1_id, int PAH_2_id)"
    assert M.C_S_soot.__doc__ == "CSootModel.C_S_soot(self, double d)"
    assert M.SSA.__doc__ == "CSootModel.SSA(self)\nReturn soot specific surface area in m2/g "
    assert M.total_mass.__doc__.endswith("Return total soot mass in kg per kg of the gas mixture ")
    assert fv.CSootGas.update_TPX.__doc__.startswith("CSootGas.update_TPX(self, double T")


def test_every_listed_method_exists():
    names = """molar_density calc_lambda_gas diffus_coeff_const diffus_coeff_morph dispersion_exponent
    volume_fraction total_mass carbon_mass hydrogen_mass SSA V_tot A_tot A_Ag V_Ag m_Ag d_m d_g V_p A_p
    d_p n_p m_p update_phy_dimer_ reduced_m reduced_d k_FWD k_REV k_REAC ROP_dimer beta_fm_soot_PAH
    beta_cont_soot_PAH C_S_soot k_f_soot_PAH k_r_soot_PAH k_PAH soot_PAH_star
    dC_tot_dt_PAH_each_reactived dC_tot_dt_PAH dH_tot_dt_PAH_each_reactived dH_tot_dt_PAH
    update_omega_PAH create_PAH_dimer_reactived update_phy_dimer_wdot update_soot_PAH_wdot
    update_p_soot_PAH PAH_growth_update_reactived update_ab update_dimer_ update_w_inc update_w_cond
    dC_tot_dt_PAH_each_slfclsn dH_tot_dt_PAH_each_slfclsn update_dimer_weight update_ab_lump
    update_lumpdimer_ update_w_lumpinc update_w_lumpcond dC_tot_dt_PAH_each_slfclsn_lump
    dH_tot_dt_PAH_each_slfclsn_lump m_PAH d_PAH update_PAH_radical k_f3_crosslinking
    k_f4_crosslinking PAH_radical update_ROP_crosslinking ROP_dimer_crosslinking PAH_adsorption_rate
    dC_tot_dt_PAH_each_crosslinking dH_tot_dt_PAH_each_crosslinking k_PAH_ads_irrevd
    dC_tot_dt_PAH_each_irrevd dH_tot_dt_PAH_each_irrevd gamma alpha_constant alpha_empirical
    alpha_ctoh_based chi_soot_0 beta_soot_C2H2 K_s dC_tot_dt_HACA dC_tot_dt_HACA_alt c_soot_nought
    dH_tot_dt_HACA_alt dH_tot_dt_carb omega_O2 omega_OH dC_tot_dt_O2_alt dC_tot_dt_OH_alt
    dH_tot_dt_O2_alt dH_tot_dt_OH_alt dC_tot_dt_O2 dC_tot_dt_OH dC_tot_dt_Ox dH_tot_dt_O2
    dH_tot_dt_OH dH_tot_dt_Ox beta_coag_validation beta_coag_cont beta_coag_fm beta_coag_hm
    beta_coag_turb N_agg_coag t_f_titania t_f_silica t_f_md_derived N_pri_coales_sintering
    N_pri_coales_merge _set_PAH_growth_model _set_alpha_model _set_coales_type _set_validation_case
    checkNameOfSpecies initialize_stick_eff initialize update_gas update_solution inception growth
    oxidation coagulation coalescence S_N_agg S_N_pri S_C_tot S_H_tot update_scrub_wdot
    __reduce__ __setstate__""".split()
    for model in ("reactived", "slfclsn", "slfclsn_lump", "crosslinking", "irrevd"):
        names += [f"{base}_{model}" for base in ("inception_N_agg", "inception_C_tot", "inception_H_tot",
                                                 "create_PAH_dimer", "PAH_growth_update",
                                                 "update_scrub_wdot_PAH_growth")]
    missing = [n for n in names if not callable(getattr(fv.CSootModel, n, None))]
    assert not missing
    for hidden in ("update_ROP", "update_ROP_irrevd", "k_nuc_irrevd"):
        assert not hasattr(fv.CSootModel, hidden)


def test_argument_count_and_keyword_errors(model):
    X = np.zeros(3)
    with pytest.raises(TypeError, match=r"^update_gas\(\) takes exactly 6 positional arguments \(5 given\)$"):
        model.update_gas(1.0, 2.0, 3.0, 4.0, 5.0)
    with pytest.raises(TypeError, match=r"\(7 given\)"):
        model.update_gas(1.0, 2.0, 3.0, 4.0, 5.0, X, 7)
    with pytest.raises(TypeError, match=r"\(1 given\)"):
        model.update_gas(1.0, density=1.0)
    with pytest.raises(TypeError, match="unexpected keyword argument 'Q'"):
        model.update_gas(1.0, 2.0, 3.0, 4.0, 5.0, X=X, Q=1)
    with pytest.raises(TypeError, match="multiple values for keyword argument 'T'"):
        model.update_gas(1.0, 2.0, 3.0, 4.0, 5.0, X, T=1.0)
    model.update_gas(X=X, mean_MW=28.0, viscosity=5e-5, density=0.2, P=101325.0, T=1500.0)
    assert model.mean_MW == 28.0 / 1000
    with pytest.raises(TypeError, match=r"^reduced_m\(\) takes exactly 2 positional arguments \(1 given\)$"):
        model.reduced_m(0)
    with pytest.raises(TypeError):
        model.d_p(1)
    with pytest.raises(TypeError):
        model.molar_density()
    with pytest.raises(TypeError, match=r"^__init__\(\) takes exactly 0 positional arguments \(1 given\)$"):
        fv.CSootModel(1)
    with pytest.raises(TypeError, match="unexpected keyword argument 'x'"):
        fv.CSootModel(x=1)


def test_array_arguments_are_type_checked(model):
    with pytest.raises(TypeError, match=r"^Argument 'X' has incorrect type \(expected numpy.ndarray, got list\)$"):
        model.update_gas(1500.0, 101325.0, 0.2, 5e-5, 28.0, [0.1, 0.9])
    with pytest.raises(TypeError, match=r"Argument 'solution' has incorrect type \(expected numpy.ndarray, got tuple\)"):
        model.update_solution((1, 2, 3, 4))
    with pytest.raises(TypeError, match="Cannot convert list to numpy.ndarray"):
        model.MWs = [1.0, 2.0]
    with pytest.raises(TypeError):
        model.update_gas("hot", 101325.0, 0.2, 5e-5, 28.0, None)
    with pytest.raises(TypeError, match="Expected list, got tuple"):
        model.species_names = ("C2H2",)


def test_instances_have_no_dict_but_subclasses_do():
    m = fv.CSootModel()
    with pytest.raises(AttributeError):
        m.__dict__
    with pytest.raises(AttributeError):
        m.unknown_attribute = 1
    with pytest.raises(AttributeError):
        fv.CSootGas().whatever = 1

    class Sub(fv.CSootModel):
        pass

    s = Sub()
    s.extra = 3
    assert s.extra == 3 and s.PAH_growth_model_name == "reactive_dimerization"


def test_type_stubs_cover_the_public_surface():
    import ast
    import pathlib

    stub = pathlib.Path(fv.__file__).with_name("_fumivex2.pyi")
    tree = ast.parse(stub.read_text())
    for cls in (fv.CSootModel, fv.CSootGas, fv.CPFROde, fv.CFlameSolver, fv.CFlameSolverOpt):
        node = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == cls.__name__)
        stubbed = {getattr(n, "name", None) or getattr(getattr(n, "target", None), "id", None)
                   for n in node.body}
        public = {n for n in dir(cls) if not (n.startswith("__") and n.endswith("__"))}
        assert public - stubbed == set(), cls.__name__


def test_a_second_interpreter_is_refused():
    si = pytest.importorskip("_xxsubinterpreters")
    interp = si.create()
    try:
        with pytest.raises(si.RunFailedError, match="Interpreter change detected"):
            si.run_string(interp, "import fumivex2._fumivex2")
    finally:
        si.destroy(interp)
