"""Species mapping and the soot-model builder: spellings, aliases, PAH choice, and the
slips it makes impossible (molar masses in kg/kmol, missing sticking efficiencies,
misspelt options, mechanisms without transport data)."""
import contextlib
import io
import warnings

import numpy as np
import pytest

import fumivex2 as fv
from fumivex2.species import (SpeciesError, configure_soot_model, find_species, map_species,
                              open_mechanism, shipped_mechanism)
from conftest import abf_soot_model

# a mechanism spelt in lower case, with pyrene under its formula name
LOWER = [("n2", {"N": 2}, 28.014), ("c2h2", {"C": 2, "H": 2}, 26.038), ("h2", {"H": 2}, 2.016),
         ("h", {"H": 1}, 1.008), ("co", {"C": 1, "O": 1}, 28.010), ("o2", {"O": 2}, 31.998),
         ("oh", {"O": 1, "H": 1}, 17.007), ("h2o", {"H": 2, "O": 1}, 18.015),
         ("A1", {"C": 6, "H": 6}, 78.114), ("naphth", {"C": 10, "H": 8}, 128.174),
         ("C16H10", {"C": 16, "H": 10}, 202.256)]


class FakePhase:
    def __init__(self, species=LOWER, transport="mixture-averaged"):
        self.species_names = [s for s, _, _ in species]
        self._atoms = {s: a for s, a, _ in species}
        self.molecular_weights = np.array([w for _, _, w in species])
        self.transport_model = transport

    def species_index(self, name):
        return self.species_names.index(name)

    def n_atoms(self, name, element):
        return self._atoms[name].get(element, 0)


def test_key_species_are_found_ignoring_case_and_renamed_for_the_model():
    gas = FakePhase()
    m = map_species(gas)
    assert [k for k, _, _ in m.key] == ["C2H2", "H2", "H", "CO", "O2", "OH", "H2O"]
    assert [n for _, n, _ in m.key] == ["c2h2", "h2", "h", "co", "o2", "oh", "h2o"]
    assert m.soot_names[1] == "C2H2" and m.soot_names[0] == "n2" and m.soot_names[9] == "naphth"
    # pyrene under its formula name is the default PAH; benzene is never taken by default
    assert m.pahs == (("C16H10", 10, 16.0, 10.0),)
    assert find_species(gas, "A4") == 10 and find_species(gas, "c16h10") == 10


def test_aliases_and_explicit_pah_lists():
    gas = FakePhase()
    m = map_species(gas, aliases=[["A2", "naphth"]], pahs=["A2", "A4", "A1"])
    assert [p[0] for p in m.pahs] == ["naphth", "C16H10", "A1"]
    assert [p[2:] for p in m.pahs] == [(10.0, 8.0), (16.0, 10.0), (6.0, 6.0)]
    m = map_species(gas, aliases={"OH": "oh"})
    assert m.key[5] == ("OH", "oh", 6)
    with pytest.raises(SpeciesError, match=r"species 'A2' \(alias 'naphthalene'\) is not in"):
        map_species(gas, aliases=[["A2", "naphthalene"]], pahs=["A2"])
    with pytest.raises(SpeciesError, match="named the same species twice|the same species twice"):
        map_species(gas, pahs=["A4", "C16H10"])
    with pytest.raises(SpeciesError, match="is a key species"):
        map_species(gas, pahs=["c2h2"])
    with pytest.raises(SpeciesError, match="'n2' has 0 carbon atoms: not an aromatic"):
        map_species(gas, pahs=["n2"])
    with pytest.raises(SpeciesError, match=r"'A1' \(alias 'benzene'\) is not in"):
        map_species(gas, aliases=[["A1", "benzene"]], pahs=["A1"])   # no fallback to the name itself


def test_missing_species_say_what_to_do():
    no_oh = FakePhase([s for s in LOWER if s[0] != "oh"])
    with pytest.raises(SpeciesError, match=r"species 'OH' is not in the mechanism.*species.aliases"):
        map_species(no_oh)
    no_pah = FakePhase(LOWER[:9])
    with pytest.raises(SpeciesError, match="none of the PAHs A4 .pyrene., A3, A2"):
        map_species(no_pah)
    with pytest.raises(SpeciesError, match=r"'A5' is not in the mechanism"):
        map_species(FakePhase(), pahs=["A5"])


def test_a_smaller_pah_is_taken_with_a_warning():
    gas = FakePhase(LOWER[:10])
    with pytest.warns(UserWarning, match="pyrene .A4. is not in the mechanism; using naphth"):
        m = map_species(gas, aliases=[["A2", "naphth"]])
    assert m.pah_names() == ["naphth"]


def test_configured_model_matches_a_hand_built_one():
    ct = pytest.importorskip("cantera")
    gas = ct.Solution(str(shipped_mechanism()))
    built = configure_soot_model(gas, pahs=["A2", "A3", "A4"])
    by_hand = abf_soot_model(gas, "self_collision", ("A2", "A3", "A4"))
    for name in ("PAH_index_in_gas", "PAH_Number_Carbon", "PAH_Number_Hydrogen",
                 "PAH_sticking_efficiency", "C2H2_index", "OH_index", "H2O_index"):
        assert getattr(built, name) == getattr(by_hand, name), name
    np.testing.assert_array_equal(built.MWs, gas.molecular_weights / 1000.0)   # kg/mol
    assert built.PAH_growth_model_name == "self_collision" and built.alpha_model == "empirical"
    assert min(built.PAH_sticking_efficiency) > 0.0                              # never zero inception


def test_options_switches_and_sticking():
    gas = FakePhase()
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        m = configure_soot_model(gas, pahs=["A4", "A1"], growth_model="cross_linking",
                                 alpha_model="constant", coalescence="silica",
                                 switches={"oxidation_enabled": False}, sticking=[0.3, 0.1])
    assert out.getvalue() == ""                                 # initialize's line is captured
    assert (m.PAH_growth_model_name, m.alpha_model, m.coalescence_type) == (
        "cross_linking", "constant", "silica")
    assert m.oxidation_enabled is False and m.inception_enabled is True
    assert m.PAH_sticking_efficiency == [0.3, 0.1]
    m = configure_soot_model(gas, growth_model="reactive_dimerization",
                             switches=[("coagulation_enabled", False)], cls=type("M", (fv.CSootModel,), {}))
    assert type(m).__name__ == "M" and m.coagulation_enabled is False
    for kwargs, message in (({"growth_model": "self_colision"}, "did you mean 'self_collision'"),
                            ({"alpha_model": "constnat"}, "unknown alpha model 'constnat'"),
                            ({"coalescence": "titanium"}, "did you mean 'titania'"),
                            ({"validation": "none"}, "unknown validation case"),
                            ({"switches": {"oxidation": False}}, "unknown switch 'oxidation'"),
                            ({"sticking": [0.1, 0.2]}, "2 values for 1 PAHs")):
        with pytest.raises(SpeciesError, match=message):
            configure_soot_model(gas, **kwargs)


def test_mechanisms_that_cannot_serve():
    ct = pytest.importorskip("cantera")
    with pytest.raises(SpeciesError, match="has no transport data.*viscosity"):
        open_mechanism("nDodecane_Reitz.yaml")
    with pytest.raises(SpeciesError, match="'no-such.yaml' not found"):
        open_mechanism("no-such.yaml")
    with pytest.raises(SpeciesError, match=r"^mechanism 'gri30.yaml' has no phase named 'gas2'; "
                                           r"phases in the file: gri30 \(mechanism.phase\)$"):
        open_mechanism("gri30.yaml", "gas2")
    with pytest.raises(SpeciesError, match="^mechanism 'nDodecane_Reitz.yaml' has no transport "
                                           "data, but the soot model needs the gas viscosity"):
        configure_soot_model(ct.Solution("nDodecane_Reitz.yaml"))    # checked up front
    with pytest.raises(SpeciesError, match="^the phase has no transport data"):
        configure_soot_model(FakePhase(transport="none"))
    gas = open_mechanism()                                   # the shipped mechanism
    assert gas.n_species == 101 and "A4" in gas.species_names
    # Cantera's own lower-case mechanism maps without aliases
    m = map_species(ct.Solution("nDodecane_Reitz.yaml"))
    assert m.key[0][1] == "c2h2" and m.pah_names() == ["A4"]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        map_species(gas)                                     # pyrene present: no warning


def test_without_pyrene_phenanthrene_is_taken_before_naphthalene():
    from fumivex2.cases import default_case
    from fumivex2.species import report_species
    # A2 listed before A3 in the mechanism: the order of the file must not decide
    gas = FakePhase(LOWER[:9] + [("A2", {"C": 10, "H": 8}, 128.174),
                                 ("C14H10", {"C": 14, "H": 10}, 178.234)])
    with pytest.warns(UserWarning, match="using C14H10"):
        assert map_species(gas).pahs == (("C14H10", 10, 14.0, 10.0),)
    assert report_species(gas, default_case("pfr"))[1] == (("C14H10", 10),)


def test_reported_species_add_the_fuels_hydrocarbons():
    from fumivex2.cases import default_case, with_overrides
    from fumivex2.species import KEY_SPECIES, report_species
    gas = open_mechanism("abf.yaml")
    index = gas.species_index
    for overrides, fuel in (({}, ["C2H4"]),                          # the composition's
                            ({"inlet.fuel": "C2H6:1, CH4:2"}, ["C2H6", "CH4"]),
                            ({"inlet.composition": "CH4:1, C2H2:0.1, CO:0.1, O2:2"}, ["CH4"])):
        key, pahs = report_species(gas, with_overrides(default_case("pfr"), overrides))
        assert key[len(KEY_SPECIES):] == tuple((f, index(f)) for f in fuel)
    key, _ = report_species(gas, with_overrides(default_case("counterflow"),
                                                {"counterflow.fuel": "C2H6:1, N2:1"}))
    assert key[-1] == ("C2H6", index("C2H6"))
