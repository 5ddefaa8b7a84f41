"""docs/: the worked examples run, the generated pages and stubs match their sources, and
every link between the pages resolves."""
import importlib
import pathlib
import re
import sys
import tomllib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
DOCS = ROOT / "docs"
sys.path.insert(0, str(ROOT / "tools"))

# a fenced block, optionally preceded by a marker <!-- doctest key=value ... -->
BLOCK = re.compile(r"(?:<!-- doctest(?P<marker>[^>]*)-->\n)?```(?P<lang>\w*)\n(?P<code>.*?)```",
                   re.S)


def blocks(page, folder=DOCS):
    """(marker settings or None, language, code) of every fenced block of a docs page."""
    out = []
    for m in BLOCK.finditer((folder / page).read_text()):
        marker = m.group("marker")
        settings = None if marker is None else dict(kv.split("=", 1) for kv in marker.split())
        out.append((settings, m.group("lang"), m.group("code")))
    return out


def shortened(code, settings):
    """code with each `name = value` line named in settings replaced by the short value;
    a setting that matches no line is an error (the page and the test went apart)."""
    for key, value in settings.items():
        if key in ("fixture", "requires"):
            continue
        code, n = re.subn(rf"^{key} = .*$", f"{key} = {value}", code, count=1, flags=re.M)
        assert n == 1, f"doctest setting {key!r} matches no assignment"
    return code


API = [(i, s) for i, (s, lang, _) in enumerate(blocks("api.md")) if lang == "python" and s is not None]


@pytest.mark.parametrize("index", [i for i, s in API if "fixture" not in s])
def test_api_examples_run(index, request, capsys):
    pytest.importorskip("cantera")
    pytest.importorskip("scipy")
    all_blocks = blocks("api.md")
    settings, _, code = all_blocks[index]
    if "requires" in settings:
        try:
            importlib.import_module(settings["requires"])
        except ImportError:
            pytest.skip(f"{settings['requires']} is not part of this build")
    ns = {"__name__": "docs_example"}
    previous = all_blocks[index - 1][0] if index else None
    if previous and previous.get("fixture") == "burner_flame":
        # the flame of the block before, solved once per session by the shared fixture
        ns["gas"], ns["flame"] = request.getfixturevalue("burner_flame")
    exec(compile(shortened(code, settings), f"docs/api.md block {index}", "exec"), ns)
    assert capsys.readouterr().out.strip(), "the example prints its results"


def test_readme_examples_run_in_order(capsys):
    """The marked README blocks run one after the other in one namespace, as a reader
    pastes them (the reactor's ct.Solution("abf.yaml") included)."""
    pytest.importorskip("cantera")
    pytest.importorskip("scipy")
    ns = {"__name__": "readme_example"}
    marked = [(s, c) for s, lang, c in blocks("README.md", ROOT) if lang == "python" and s is not None]
    assert len(marked) == 2
    for settings, code in marked:
        exec(compile(shortened(code, settings), "README.md", "exec"), ns)
    assert ns["sol"].status == 0 and ns["sol"].y[-2, -1] > ns["soot"].C_tot_min
    assert "C_tot at the outlet" in capsys.readouterr().out


def test_reactor_network_examples_run(capsys):
    """The soot reactors of docs/reactors.md in a network of one's own, shortened: a shock
    tube and two stirred reactors in series."""
    pytest.importorskip("cantera")
    marked = [(s, c) for s, lang, c in blocks("reactors.md") if lang == "python" and s]
    assert len(marked) == 2
    spaces = []
    for settings, code in marked:
        ns = {"__name__": "docs_example"}
        exec(compile(shortened(code, settings), "docs/reactors.md", "exec"), ns)
        spaces.append(ns)
    tube, (first, second) = spaces[0]["reactor"], (spaces[1]["first"], spaces[1]["second"])
    assert tube.soot_state[2] > 1e3 * tube.soot_model.C_tot_min
    # the network's state holds the soot reached (what reinitialize continues from)
    i = tube.component_index("C_tot")
    assert spaces[0]["net"].get_state()[i] == tube.soot_state[2]
    for r in (first, second):   # soot off its floors within the first residence time
        assert r.soot_state[2] > 10 * r.soot_model.C_tot_min
    assert capsys.readouterr().out.count("f_v = ") == 5


def test_flame_example_is_the_flame_of_the_shared_fixture():
    """The flame-solving block is stood in for by the session fixture: same mechanism,
    inlet, width, mass flux and refinement."""
    source = (ROOT / "tests" / "conftest.py").read_text()
    fixture = source[source.index("def burner_flame"):]
    (code,) = [c for s, _, c in blocks("api.md") if s and s.get("fixture") == "burner_flame"]
    statements = [line.split("#")[0].strip() for line in code.splitlines()]
    statements = [s for s in statements if s.startswith(("gas.TPX", "flame"))]
    assert len(statements) == 5
    for stmt in statements:
        assert stmt in fixture, stmt


def test_python_blocks_compile_and_toml_blocks_are_cases():
    import warnings

    from fumivex2.cases import CaseWarning, parse_case

    n_python = n_toml = 0
    for page in sorted(DOCS.glob("*.md")):
        for settings, lang, code in blocks(page.name):
            if lang == "python":
                compile(code, f"{page.name}", "exec")
                n_python += 1
            elif lang == "toml":
                with warnings.catch_warnings():  # an example is no slip the case warns of
                    warnings.simplefilter("error", CaseWarning)
                    parse_case(tomllib.loads(code), source=page.name)
                n_toml += 1
    assert n_python >= 5 and n_toml >= 1


def test_case_reference_is_current():
    import gen_case_docs

    assert (DOCS / "cases.md").read_text() == gen_case_docs.case_docs(), \
        "docs/cases.md is out of date: run python tools/gen_case_docs.py"


def test_case_reference_lists_every_field_with_its_unit():
    """Independent of the generator: each field of each table appears as a row with its
    unit."""
    from fumivex2.cases import case_fields

    text = (DOCS / "cases.md").read_text()
    sections = re.split(r"^## ", text, flags=re.M)
    for table, name, _, unit, _, _ in case_fields():
        title = f"`[{table}]`" if table else "Top level"
        (section,) = [s for s in sections if s.startswith(title)]
        row = re.search(rf"^\| `{name}` \| .*? \| (.*?) \|", section, re.M)
        assert row, f"{table}.{name}"
        assert row.group(1) == unit.replace("^", ""), f"{table}.{name}"


def test_stubs_and_reference_are_current():
    import gen_stubs

    stubs = gen_stubs.with_docstrings(gen_stubs.raw_stubs())
    assert (ROOT / "src" / "fumivex2" / "_fumivex2.pyi").read_text() == stubs, \
        "the type stubs are out of date: run python tools/gen_stubs.py"
    assert (DOCS / "reference.md").read_text() == gen_stubs.reference(stubs), \
        "docs/reference.md is out of date: run python tools/gen_stubs.py"


def test_every_stub_member_has_a_docstring_with_its_unit():
    import ast

    import fumivex2 as fv

    tree = ast.parse((ROOT / "src" / "fumivex2" / "_fumivex2.pyi").read_text())
    docs = {}
    for cls in (fv.CSootModel, fv.CSootGas, fv.CPFROde, fv.CFlameSolver, fv.CFlameSolverOpt):
        (node,) = [n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == cls.__name__]
        for i, n in enumerate(node.body):
            if isinstance(n, ast.FunctionDef):
                doc = ast.get_docstring(n)
            elif isinstance(n, ast.AnnAssign):
                nxt = node.body[i + 1] if i + 1 < len(node.body) else None
                doc = nxt.value.value if isinstance(nxt, ast.Expr) else None
            else:
                continue
            name = getattr(n, "name", None) or n.target.id
            assert doc, f"{cls.__name__}.{name}"
            docs[cls.__name__, name] = " ".join(doc.split())
    # units checked against what the members hold (independent of the table)
    for member, unit in ((("CSootModel", "d_p"), "[m]"), (("CSootModel", "S_C_tot"), "[mol/(kg s)]"),
                         (("CSootModel", "MWs"), "[kg/mol]"),
                         (("CSootModel", "scrub_wdot"), "[kmol/(m3 s)]"),
                         (("CSootModel", "volume_fraction"), "[-]"),
                         (("CPFROde", "external_heat"), "[W/m3]"),
                         (("CFlameSolverOpt", "mdot_left"), "[kg/(m2 s)]"),
                         (("CSootGas", "lambda_gas"), "[m]")):
        assert docs[member].endswith(unit), member


def _slug(heading):
    """GitHub's anchor of a heading."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def _anchors(path):
    return {_slug(h) for h in re.findall(r"^#+ (.*)$", path.read_text(), re.M)}


def test_links_between_docs_resolve():
    pages = sorted(DOCS.glob("*.md")) + [ROOT / "README.md"]
    checked = 0
    for page in pages:
        text = re.sub(r"```.*?```", "", page.read_text(), flags=re.S)
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target):
                continue                                  # external
            file, _, anchor = target.partition("#")
            dest = (page.parent / file).resolve() if file else page
            assert dest.exists(), f"{page.name}: {target}"
            if anchor and dest.suffix == ".md":
                assert anchor in _anchors(dest), f"{page.name}: {target}"
            checked += 1
    assert checked >= 20
