"""Case files: defaults, the commented file round trip, variants, and every kind of bad
value giving one clear CaseError."""
import pickle
import tomllib
import warnings

import pytest

from fumivex2.cases import (Case, CaseError, CaseWarning, case_as_dict, case_fields, case_to_toml,
                            default_case, load_case, parse_case, with_overrides)


@pytest.mark.parametrize("kind", ["pfr", "flame"])
def test_default_cases_round_trip_through_their_commented_files(kind, tmp_path):
    case = default_case(kind)
    text = case_to_toml(case)
    assert text.startswith("# fumivex2 ") and "[Pa]" in text
    assert ("[reactor]" in text) == (kind == "pfr") and ("[flame]" in text) == (kind == "flame")
    assert parse_case(tomllib.loads(text)) == case
    path = tmp_path / "c.toml"
    path.write_text(case_to_toml(case, commented=False))
    assert load_case(path) == case
    assert pickle.loads(pickle.dumps(case)) == case
    hash(case)                                    # frozen all the way down


def test_every_field_has_a_meaning_and_defaults_have_units():
    rows = case_fields()
    assert all(doc for _, _, _, _, doc, _ in rows)
    units = {f"{t}.{n}": u for t, n, _, u, _, _ in rows}
    assert units["inlet.pressure"] == "Pa" and units["reactor.length"] == "m"
    assert units["flame.mass_flux"] == "kg/(m^2 s)" and units["soot_solver.dt"] == "s"


def test_partial_files_take_defaults_and_values_are_converted():
    case = parse_case({"kind": "pfr", "reactor": {"length": 1, "diameter": 0.02},
                       "soot": {"switches": [["oxidation_enabled", False]], "sticking": [0.5]},
                       "species": {"aliases": [["C2H2", "c2h2"]], "pahs": ["A3", "A4"]}})
    assert case.reactor.length == 1.0 and isinstance(case.reactor.length, float)
    assert case.reactor.velocity == default_case("pfr").reactor.velocity
    assert case.soot.switches == (("oxidation_enabled", False),)
    assert case.species.aliases == (("C2H2", "c2h2"),) and case.species.pahs == ("A3", "A4")
    flame = parse_case({"kind": "flame", "soot_solver": {"points": 40}})
    assert flame.inlet.temperature == 300.0 and flame.soot_solver.points == 40


def test_overrides_make_variants_and_check_them():
    base = default_case("pfr")
    v = with_overrides(base, {"reactor.length": 0.2, "soot.growth_model": "cross_linking",
                              "inlet.composition": "C2H4:1, N2:4"})
    assert (v.reactor.length, v.soot.growth_model) == (0.2, "cross_linking")
    assert base.reactor.length == 0.3                              # the base is untouched
    assert case_as_dict(v)["inlet"]["composition"] == "C2H4:1, N2:4"
    with pytest.raises(CaseError, match=r"unknown key 'reactor.lenght' \(did you mean 'length'"):
        with_overrides(base, {"reactor.lenght": 0.2})
    with pytest.raises(CaseError, match="unknown key 'reacter.length'.*reactor"):
        with_overrides(base, {"reacter.length": 0.2})
    with pytest.raises(CaseError, match="positive"):
        with_overrides(base, {"reactor.length": -0.2})


@pytest.mark.parametrize("data, message", [
    ({"reactor": {"lenght": 1.0}}, r"unknown key 'reactor.lenght' \(did you mean 'length'\?\)"),
    ({"kind": "flam"}, r"'kind' is 'flam': use one of 'pfr', 'flame', 'counterflow', 'batch', 'psr' \(did you mean 'flame'\?\)"),
    ({"soot": {"growth_model": "self_colision"}}, r"did you mean 'self_collision'"),
    ({"inlet": {"pressure": "1 m"}}, r"'inlet.pressure' must be a number in Pa or a pressure "
                                     r"with its unit \(.*\), got '1 m', a length$"),
    ({"reactor": {"length": "2 mtr"}}, r"'reactor.length' must be a number in m .*got "
                                        r"'2 mtr': unknown unit 'mtr'$"),
    ({"inlet": {"pressure": "1,5 bar"}}, r"got '1,5 bar': ',5 bar' is not a unit"),
    ({"inlet": {"equivalence_ratio": "2 m"}}, r"'inlet.equivalence_ratio' must be a number "
                                              r"\(it has no unit\), got '2 m'$"),
    ({"inlet": {"pressure": True}}, r"must be a number"),
    ({"output": {"stations": 2.5}}, r"must be a whole number"),
    ({"soot": {"enabled": "yes"}}, r"must be true or false"),
    ({"reactor": 3}, r"'reactor' must be a table"),
    ({"reactor": {"length": 0.0}}, r"reactor.length must be a positive number"),
    ({"reactor": {"perimeter": 0.1}}, r"reactor.area must be a positive number"),
    ({"reactor": {"velocity": float("nan")}}, r"reactor.velocity must be a positive number"),
    ({"inlet": {"temperature": -300.0}}, r"inlet.temperature must be a positive"),
    ({"integrator": {"atol": -1.0}}, r"integrator.atol must be zero or positive"),
    ({"temperature": {"wall_profile": [[0.0, 0.1], [1000.0]]}}, r"two rows of equal length"),
    ({"temperature": {"wall_profile": [[0.0, 0.0], [1000.0, 1100.0]]}}, r"must increase"),
    ({"temperature": {"history": [[0.0, "a"], [1.0, 2.0]]}}, r"two rows"),
    ({"temperature": {"wall_profile": [[0.0, 0.1], [-5.0, 1000.0]]}},
     r"wall_profile: temperatures must be positive \(K\), got \[-5.0, 1000.0\]"),
    ({"kind": "flame", "soot_solver": {"tolerance": -1.0}}, r"soot_solver.tolerance must be a positive"),
    ({"kind": "counterflow", "counterflow": {"fuel_temperature": 0.0}}, r"counterflow.fuel_temperature must be a positive"),
    ({"soot": {"switches": [["oxidation_enable", False]]}}, r"did you mean 'oxidation_enabled'"),
    ({"soot": {"switches": [["oxidation_enabled", 1]]}}, r"pairs like"),
    ({"soot": {"sticking": [-0.1]}}, r"non-negative"),
    ({"species": {"aliases": [["C2H2"]]}}, r"pairs of names"),
    ({"species": {"pahs": [4]}}, r"species names"),
    ({"kind": "flame", "soot_solver": {"points": 1}}, r"soot_solver.points is 1: too small"),
    ([1, 2], r"a case is a table"),
    ({"data": {"file": "a.csv"}}, r"'data' must be an array of tables \(\[\[data\]\] with file, label"),
    ({"data": [{"fil": "a.csv"}]}, r"unknown key 'data\[0\].fil' \(did you mean 'file'\?\)"),
    ({"data": [{"label": "x"}]}, r"each \[\[data\]\] table needs a file"),
])
def test_bad_values_give_one_clear_message(data, message):
    with pytest.raises(CaseError, match=message) as e:
        parse_case(data, source="my.toml")
    assert str(e.value).startswith("my.toml: ") and "\n" not in str(e.value)


def test_files_that_are_missing_or_not_toml(tmp_path):
    with pytest.raises(CaseError, match="does not exist"):
        load_case(tmp_path / "none.toml")
    bad = tmp_path / "bad.toml"
    bad.write_text("reactor = [\n")
    with pytest.raises(CaseError, match="is not valid TOML"):
        load_case(bad)
    with pytest.raises(CaseError, match="unknown case kind"):
        default_case("jet")
    assert isinstance(CaseError("x"), ValueError)
    with pytest.raises(CaseError):
        Case(kind="pfr", name="x", reactor=default_case("pfr").reactor.__class__(length=-1.0))


def test_values_with_units_are_converted_to_the_fields_si_units():
    pytest.importorskip("pint")
    pfr = parse_case(tomllib.loads("""
        [inlet]
        pressure = "2 atm"
        temperature = "726.85 degC"     # the temperature itself: 1000 K, the wall's start
        [reactor]
        length = "30 cm"
        diameter = "8 mm"
        residence_time = "5 ms"
        mass_flux = "0.008 g/(cm^2 s)"
        area = "0.5 cm^2"
        perimeter = "25 mm"
    """))
    r = pfr.reactor                              # to the digit: no 0.30000000000000004
    assert (pfr.inlet.pressure, pfr.inlet.temperature) == (202650.0, 1000.0)
    cf = with_overrides(default_case("counterflow"), {"counterflow.pressure": "3 bar"})
    assert cf.counterflow.pressure == 3e5
    assert (r.length, r.diameter, r.residence_time) == (0.3, 0.008, 0.005)
    assert (r.mass_flux, r.area, r.perimeter) == (0.08, 5e-5, 0.025)
    flame = with_overrides(default_case("flame"), {"flame.width": "15 mm", "flame.mass_flux": 0.07,
                                                   "soot_solver.dt": "20 us"})
    assert (flame.flame.width, flame.soot_solver.dt) == (0.015, 2e-5)
    assert flame.flame.mass_flux == 0.07                             # plain numbers are SI


def test_out_of_range_pressures_and_temperatures_warn_and_their_edges_do_not():
    def warned(kind, **overrides):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            with_overrides(default_case(kind), overrides)
        assert all(w.category is CaseWarning for w in caught)
        return [str(w.message) for w in caught]

    wall = [[0.0, 0.1], [1000.0, 250.0]]
    assert warned("pfr", **{"inlet.pressure": 100.0, "temperature.wall_profile": wall}) == []
    assert warned("flame", **{"inlet.pressure": 1e7, "inlet.temperature": 4000.0}) == []
    with pytest.raises(CaseError, match="does not apply to a flame case"):  # not a flame's
        warned("flame", **{"temperature.wall_profile": [[0.0], [6000.0]]})
    (low,) = warned("pfr", **{"inlet.pressure": 99.5})
    assert low.startswith("inlet.pressure is 99.5 Pa, below 100 Pa: the mechanism and the soot "
                          "model mean anything from 100 Pa to 10 MPa only")
    (high,) = warned("counterflow", **{"counterflow.pressure": 1.1e7})
    assert high.startswith("counterflow.pressure is 1.1e+07 Pa, above 10 MPa:")
    (rows,) = warned("flame", **{"flame.temperature_profile": [[0.0, 0.01, 0.02],
                                                               [245.0, 2000.0, 4100.0]]})
    assert rows.startswith("flame.temperature_profile holds 245, 4100 K:")
    (profile,) = warned("pfr", **{"temperature.wall_profile": [[0.0, 0.1], [1000.0, 249.0]]})
    assert profile.startswith("temperature.wall_profile holds 249 K:")
    # a wall-mode reactor pins the gas to the wall: an inlet temperature of its own is moot
    (inlet,) = warned("pfr", **{"inlet.temperature": 900.0})
    assert inlet.startswith("inlet.temperature is 900 K but the wall starts at 1000 K: in wall "
                            "mode")
    assert warned("pfr", **{"inlet.temperature": 900.0, "temperature.mode": "history"}) == []


@pytest.mark.parametrize("kind, key, value, instead", [
    ("counterflow", "inlet.pressure", "10 kPa", "a counterflow case takes it as counterflow.pressure"),
    ("counterflow", "flame.mass_flux", 0.1, "counterflow.fuel_mass_flux and "
                                            "counterflow.oxidizer_mass_flux"),
    ("counterflow", "soot_solver.outlet", "inlet", "always an inflow (flux) boundary"),
    ("flame", "reactor.velocity", 0.5, "a flame case takes it as flame.velocity"),
    ("flame", "output.stations", 50, "written on the soot grid, soot_solver.points"),
    ("pfr", "soot_solver.points", 40, "its tolerances are in [integrator]"),
    ("batch", "integrator.method", "BDF", "only integrator.rtol and integrator.atol apply"),
    ("psr", "reactor.length", 0.1, "a psr case takes it as psr.pfr_length"),
])
def test_a_key_the_kind_does_not_read_is_refused_saying_where_it_goes(kind, key, value, instead):
    table, name = key.split(".")
    message = f"{key} does not apply to a {kind} case"
    for make in (lambda: parse_case({"kind": kind, table: {name: value}}, source="my.toml"),
                 lambda: with_overrides(default_case(kind), {key: value})):
        with pytest.raises(CaseError) as e:
            make()
        assert type(e.value) is CaseError and message in str(e.value)
        assert str(e.value).endswith(instead) and "\n" not in str(e.value)


@pytest.mark.parametrize("kind", ["pfr", "flame", "counterflow", "batch", "psr"])
def test_printed_defaults_hold_exactly_the_keys_their_kind_accepts(kind):
    printed = tomllib.loads(case_to_toml(default_case(kind)))
    assert parse_case(printed) == default_case(kind)
    for table, name, value, *_ in case_fields():
        if not table:
            continue
        shown = name in printed.get(table, {})
        try:  # every key of the file format, alone in a file of this kind
            parse_case({"kind": kind, table: {name: value}})
        except CaseError as e:
            assert not shown and "does not apply" in str(e), (table, name)
        else:
            # an inlet key of the form not in use is shown as a comment only
            assert shown or (table, name) in {("inlet", "composition"), ("inlet", "oxidizer"),
                                              ("inlet", "equivalence_ratio")}, (table, name)
    # a case built in Python may not hold a value its kind does not read either
    from fumivex2.cases import InletSpec
    if kind == "counterflow":
        with pytest.raises(CaseError, match="inlet.pressure does not apply"):
            Case(kind=kind, inlet=InletSpec(pressure=1e4))


def test_case_files_write_the_inlet_in_use():
    psr = with_overrides(default_case("psr"), {"inlet.composition": "CH4:1, O2:2"})
    text = case_to_toml(psr)
    inlet = tomllib.loads(text)["inlet"]
    assert "composition" not in inlet and inlet["fuel"] == "C2H4:1"
    assert inlet["equivalence_ratio"] == 2.0
    assert '# composition = "CH4:1, O2:2"  # not used' in text
    pfr = tomllib.loads(case_to_toml(default_case("pfr"), commented=False))["inlet"]
    assert pfr["composition"] == "C2H4:1, O2:1, N2:3" and "oxidizer" not in pfr
    back = parse_case(tomllib.loads(text)).inlet
    assert (back.fuel, back.oxidizer, back.equivalence_ratio, back.basis) == \
        (psr.inlet.fuel, psr.inlet.oxidizer, psr.inlet.equivalence_ratio, psr.inlet.basis)


def test_imposed_flame_profiles_must_cover_the_domain():
    flame = default_case("flame")
    ok = [[0.0, 0.005, 0.03], [300.0, 1800.0, 1700.0]]
    assert with_overrides(flame, {"flame.width": 0.03, "flame.temperature_profile": ok})
    # mm typed for m in a 3 cm domain: 1000 times its width
    with pytest.raises(CaseError, match=r"runs to 30 m, 1000 times the flame's width of 0.03 m "
                                        r"\(flame.width\): were its heights written in another "
                                        r"unit \(in mm, its last height would be 0.03 m\)\?"):
        with_overrides(flame, {"flame.width": 0.03,
                               "flame.temperature_profile": [[0.0, 3.0, 30.0], ok[1]]})
    for z, fix in (([0.0, 0.005, 0.02], "extend it to 0.03 m or set flame.width to 0.02 m"),
                   ([0.001, 0.005, 0.03], "start it at the burner, height 0")):
        with pytest.raises(CaseError, match=rf"covers {z[0]:g} to {z[-1]:g} m but the flame "
                                            rf"spans 0 to 0.03 m.*\({fix}\)"):
            with_overrides(flame, {"flame.width": 0.03, "flame.temperature_profile": [z, ok[1]]})
