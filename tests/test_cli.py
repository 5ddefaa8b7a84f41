"""The fumivex2 command: parsing, every user error in one line with exit status 2, runs
and sweeps through stand-in runners (exit status, what is printed, what is written),
Ctrl-C during a sweep in a real process, and end-to-end runs of the real reactor and
flame when they are installed."""
import os
import pathlib
import signal
import subprocess
import sys
import time
import tomllib
import types

import pytest

from fumivex2 import results as R
from fumivex2.cases import default_case, load_case, parse_case
from fumivex2.cli import main
from fumivex2.species import SpeciesError

pd = pytest.importorskip("pandas")
from test_sweep import CRASHES, FAILS, RAISES, standin_run  # noqa: E402

TESTS = pathlib.Path(__file__).resolve().parent


@pytest.fixture
def standins(monkeypatch, tmp_path):
    """Stand-in runners in place of fumivex2.pfr.run_pfr and fumivex2.flame.run_flame;
    the working directory is a fresh folder."""
    for kind, name in (("pfr", "run_pfr"), ("flame", "run_flame")):
        module = types.ModuleType(f"fumivex2.{kind}")
        setattr(module, name, standin_run)
        monkeypatch.setitem(sys.modules, f"fumivex2.{kind}", module)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def run(capsys, *argv):
    rc = main(list(argv))
    out, err = capsys.readouterr()
    return rc, out, err


def case_file(tmp_path, text, name="case.toml"):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


SHORT = '[reactor]\nlength = 0.07\n[output]\nplots = false\n'


# ---- user errors ------------------------------------------------------------------------------

BAD = [
    # (case file text or None, arguments with {case}, expected part of the message)
    ("kind = pfr\n[reactor\n", ["pfr", "{case}"], "is not valid TOML"),
    ("[reactor]\nlenght = 0.1\n", ["pfr", "{case}"],
     "unknown key 'reactor.lenght' (did you mean 'length'?)"),
    ('[reactor]\nlength = "long"\n', ["pfr", "{case}"], "'reactor.length' must be a number in m"),
    ("[reactor]\nlength = -0.1\n", ["pfr", "{case}"], "reactor.length must be a positive number"),
    ('[soot]\ngrowth_model = "cross_link"\n', ["pfr", "{case}"], "did you mean 'cross_linking'"),
    (None, ["pfr", "missing.toml"], "case file 'missing.toml' does not exist"),
    ('kind = "flame"\n', ["pfr", "{case}"], "is a flame case: run it with fumivex2 flame"),
    (SHORT, ["sweep", "{case}", "--vary", "reactor.length"], "write KEY=V1,V2,..."),
    (SHORT, ["sweep", "{case}", "--vary", "reactor.lenght=0.1,0.2"],
     "unknown case key 'reactor.lenght' to vary (did you mean 'reactor.length'?)"),
    (SHORT, ["sweep", "{case}", "--vary", "reactor.length=0.1,-0.2"],
     "reactor.length=-0.2: reactor.length must be a positive number"),
    (SHORT, ["sweep", "{case}"], "a sweep needs at least one --vary"),
    (SHORT, ["sweep", "{case}", "--vary", "reactor.length=0.1", "--vary", "reactor.length=0.2"],
     "--vary reactor.length is given twice"),
    (SHORT, ["sweep", "{case}", "--vary", "reactor.length=0.1", "--workers", "0"],
     "--workers must be at least 1"),
    (SHORT, ["sweep", "{case}", "--vary", "reactor.length=0.1", "--workers", "two"],
     "fumivex2 sweep: error: argument --workers: invalid int value: 'two'"),
    (None, ["pfr", "--bogus"], "fumivex2: error: unrecognized arguments: --bogus"),
    (None, [], "choose a command"),
    (None, ["sweep", "nope.toml", "--vary", "reactor.length=0.1"], "does not exist"),
]


@pytest.mark.parametrize("text, argv, message", BAD, ids=[m[:40] for *_, m in BAD])
def test_user_errors_give_one_line_and_status_2(standins, capsys, text, argv, message):
    path = case_file(standins, text) if text is not None else "unused"
    rc, out, err = run(capsys, *[a.replace("{case}", path) for a in argv])
    assert rc == 2
    assert err.count("\n") == 1 and err.startswith("fumivex2"), err
    assert message in err
    assert "Traceback" not in err and out == ""
    assert not (standins / "fumivex2-out").exists() or not any(
        (standins / "fumivex2-out").iterdir())  # nothing half-made


def test_output_folder_that_is_a_file(standins, capsys):
    (standins / "taken").write_text("")
    rc, _, err = run(capsys, "pfr", "--out", "taken")
    assert rc == 2 and "output folder 'taken' is a file" in err and err.count("\n") == 1


def test_unreachable_dask_address(standins, capsys):
    pytest.importorskip("distributed")
    import socket

    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    start = time.monotonic()
    rc, _, err = run(capsys, "sweep", "flame", "--vary", "flame.width=0.01",
                     "--dask", f"tcp://127.0.0.1:{port}", "--dask-timeout", "1", "-q")
    assert rc == 2 and err.count("\n") == 1
    assert f"no Dask scheduler answers at 'tcp://127.0.0.1:{port}' within 1 s" in err
    assert time.monotonic() - start < 10.0
    assert not any((standins / "fumivex2-out").iterdir())  # no empty sweep folder left


def test_a_server_that_is_not_dask(standins, capsys):
    import socket
    import threading

    server = socket.create_server(("127.0.0.1", 0))
    port = server.getsockname()[1]

    def answer():  # an HTTP reply, which Dask would read as a frame length of exabytes
        with server:
            for _ in range(4):
                conn, _ = server.accept()
                with conn:
                    conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n" * 4)

    threading.Thread(target=answer, daemon=True).start()
    path = case_file(standins, SHORT)
    rc, out, err = run(capsys, "sweep", path, "--vary", "reactor.length=0.1,0.2",
                       "--dask", f"tcp://127.0.0.1:{port}", "--dask-timeout", "2")
    assert rc == 2 and err == (f"fumivex2: error: something answers at 'tcp://127.0.0.1:{port}', "
                               f"but not as a Dask scheduler: give the address 'dask scheduler' "
                               f"prints, or use --dask local\n")
    assert out == f"2 cases on the Dask cluster at tcp://127.0.0.1:{port}\n"  # no folder named
    assert not any((standins / "fumivex2-out").iterdir())


def test_errors_of_the_run_itself(standins, capsys, monkeypatch):
    def species_missing(case, *, progress=None):
        raise SpeciesError("species 'A4' is not in the mechanism (close: A3)")

    def broken(case, *, progress=None):
        raise ZeroDivisionError("float division")

    monkeypatch.setattr(sys.modules["fumivex2.pfr"], "run_pfr", species_missing)
    rc, _, err = run(capsys, "pfr")
    assert (rc, err) == (2, "fumivex2: error: species 'A4' is not in the mechanism (close: A3)\n")
    path = case_file(standins, SHORT)          # from a case file: named like its load errors
    rc, _, err = run(capsys, "pfr", path)
    assert (rc, err) == (2, f"fumivex2: error: {path}: species 'A4' is not in the mechanism "
                            f"(close: A3)\n")
    monkeypatch.setattr(sys.modules["fumivex2.pfr"], "run_pfr", broken)
    rc, _, err = run(capsys, "pfr")
    assert rc == 1 and err == ("fumivex2: error: ZeroDivisionError: float division (rerun with "
                               "--debug for the traceback)\n")
    rc, _, err = run(capsys, "pfr", "--debug")
    assert rc == 1 and "Traceback" in err and 'raise ZeroDivisionError("float division")' in err
    # the empty output folders of runs that did not start are removed
    assert not any((standins / "fumivex2-out").iterdir())


# ---- printing cases and info ------------------------------------------------------------------

@pytest.mark.parametrize("kind", ["pfr", "flame", "counterflow", "batch", "psr"])
def test_print_case_parses_back_to_the_default_case(standins, capsys, kind):
    rc, out, err = run(capsys, kind, "--print-case")
    assert rc == 0 and err == ""
    assert parse_case(tomllib.loads(out)) == default_case(kind)
    assert "# " in out  # commented
    path = case_file(standins, out.replace("length = 0.3", "length = 0.125"))
    rc, again, _ = run(capsys, kind, path, "--print-case")
    assert load_case(path) == parse_case(tomllib.loads(again))
    assert (load_case(path).reactor.length == 0.125) == (kind == "pfr")


def test_build_flags_from_the_extension_symbols(tmp_path):
    from fumivex2.cli import build_flags

    plain, asan = tmp_path / "plain.so", tmp_path / "asan.so"
    plain.write_bytes(b"\x7fELF PyInit__fumivex2 __cxa_throw")
    asan.write_bytes(b"\x7fELF __asan_init __ubsan_handle_add_overflow PyInit__fumivex2")
    assert build_flags(str(plain)) == "no sanitizers"
    assert build_flags(str(asan)) == ("sanitizer build: AddressSanitizer, "
                                      "UndefinedBehaviorSanitizer")
    assert build_flags(str(tmp_path / "gone.so")).startswith("unknown")


def test_info_and_help(capsys):
    rc, out, _ = run(capsys, "info")
    assert rc == 0
    for part in ("fumivex2", "NumPy", "Cantera", "scikit-sundae", "Dask", "build: ",
                 "'ethylene-pfr' on abf.yaml", "'ethylene-flame' on abf.yaml", "self_collision",
                 "gas viscosity in reactors with soot, on abf.yaml: fumivex2 in C++"):
        assert part in out, part
    rc, out, _ = run(capsys, "sweep", "--help")
    assert rc == 0 and "--vary KEY=V1,V2,..." in out and "examples:" in out
    assert "fumivex2 pfr" not in out and "fumivex2 info" not in out     # its own examples only
    rc, out, _ = run(capsys, "info", "--help")
    assert rc == 0 and "fumivex2 info  " in out and "--quiet" not in out and "sweep" not in out
    done = subprocess.run([sys.executable, "-m", "fumivex2", "--help"], capture_output=True,
                          text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert done.returncode == 0 and "fumivex2 sweep my.toml --vary" in done.stdout


# ---- runs -------------------------------------------------------------------------------------

def test_pfr_run_writes_outputs_and_prints_a_summary(standins, capsys):
    path = case_file(standins, SHORT + '[species]\npahs = ["A3"]\n')
    rc, out, err = run(capsys, "pfr", path, "--out", "res")
    assert rc == 0
    assert err == ("fumivex2: warning: pyrene (A4) is not in the mechanism; using A3 as the "
                   "soot model's PAH\n")  # a run's warnings in one line each
    folder = standins / "res"
    assert {p.name for p in folder.iterdir()} == {"profiles.csv", "case.toml", "summary.txt"}
    lines = out.splitlines()
    assert lines[0].startswith("ethylene-pfr: completed in ")
    assert lines[-1] == "outputs in res" and 4 <= len(lines) <= 6
    assert pd.read_csv(folder / "profiles.csv")[R.Z].iloc[-1] == pytest.approx(0.07, rel=1e-12)
    # quiet: the folder only; default folder under output.folder
    rc, out, err = run(capsys, "flame", "-q")
    assert rc == 0 and err == ""
    folder = pathlib.Path(out.strip())
    assert folder.parent == pathlib.Path("fumivex2-out")
    assert folder.name.startswith("ethylene-flame-")
    assert (folder / "rates.csv").exists() and (folder / "species.png").exists()


def test_failed_run_exits_1_and_keeps_its_results(standins, capsys):
    path = case_file(standins, SHORT + f"[inlet]\npressure = {FAILS}\n")
    rc, out, err = run(capsys, "pfr", path, "--out", "res")
    assert rc == 1
    assert err == ("fumivex2: error: the run failed: integration failed at z = 0.0375 m "
                   "(the results up to there are in res)\n")
    assert len(pd.read_csv(standins / "res" / "profiles.csv")) == 10
    assert "outputs in res" in out


STATUSES = {0.008: "converged", 0.009: "step budget used", 0.01: "not converged", 0.011: "failed",
            0.012: "suspect"}


def standin_counterflow(case, *, progress=None):
    """A stand-in for run_counterflow that ends as its counterflow.width says (STATUSES)."""
    from test_sweep import standin_profiles

    status = STATUSES[case.counterflow.width]
    profiles = standin_profiles(default_case("flame")).rename(columns={R.HEIGHT: R.POSITION})
    checks = [{"name": "soot uptake of A4", "value": 29.0 if status == "suspect" else 0.05,
               "limit": 0.1, "what": "",
               "kind": "one-way", "where": "", "passed": status != "suspect"}]
    return R.RunResult(case, profiles, status, f"stand-in {status}", run_time=0.01,
                       extra={"checks": checks})


@pytest.mark.parametrize("width, code", [(0.008, 0), (0.009, 3), (0.01, 3), (0.011, 1),
                                         (0.012, 4)])
def test_exit_status_says_how_the_soot_stage_ended(standins, capsys, monkeypatch, width, code):
    """Results that did not converge are written and exit 3, distinct from a failure (1)
    and from a run whose checks failed (4); a sweep with such a case (and none worse)
    exits the same."""
    module = types.ModuleType("fumivex2.counterflow")
    module.run_counterflow = standin_counterflow
    monkeypatch.setitem(sys.modules, "fumivex2.counterflow", module)
    path = case_file(standins, f'kind = "counterflow"\n[counterflow]\nwidth = {width}\n'
                               f'[output]\nplots = false\n')
    rc, out, err = run(capsys, "counterflow", path, "--out", "res")
    assert rc == code and "outputs in res" in out
    assert len(pd.read_csv(standins / "res" / "profiles.csv")) > 10
    summary = (standins / "res" / "summary.txt").read_text()
    assert summary.startswith({0: "case", 1: "RUN FAILED", 3: "NOT CONVERGED",
                               4: "SUSPECT: stand-in suspect"}[code])
    assert ("soot uptake of A4" in summary) and (("FAILED: the gas would feel the soot" in
                                                  summary) == (code == 4))
    said = {0: "", 1: "the run failed", 3: "the run did not converge",
            4: "the run is suspect"}[code]
    assert err.startswith(f"fumivex2: error: {said}: stand-in {STATUSES[width]} (") or not said
    assert (err == "") == (code == 0)
    if code in (3, 4):
        rc, out, err = run(capsys, "sweep", path, "--vary", f"counterflow.width=0.008,{width}",
                           "--workers", "1", "--out", "sw")
        assert rc == code and ("1 not converged" if code == 3 else "1 suspect") in out


def test_sweep_reports_failed_cases_and_goes_on(standins, capsys):
    path = case_file(standins, SHORT + '[species]\npahs = ["A3"]\n')
    vary = ["--vary", f"inlet.pressure=101325,{RAISES}", "--vary", "reactor.length=0.05,0.06"]
    rc, out, err = run(capsys, "sweep", path, *vary, "--workers", "2")
    assert rc == 1
    assert sorted(err.splitlines()) == [
        f"fumivex2: case pressure={RAISES}, length={v} failed: RuntimeError: stand-in failure"
        for v in (0.05, 0.06)] + ["fumivex2: warning: pyrene (A4) is not in the mechanism; "
                                  "using A3 as the soot model's PAH"]
    (folder,) = (standins / "fumivex2-out").glob("ethylene-pfr-sweep-*")
    assert out.splitlines()[0] == f"4 cases on 2 processes; outputs in {folder.relative_to(standins)}"
    assert "4 cases: 2 finished, 2 failed (see sweep_summary.csv)" in out
    summary = pd.read_csv(folder / "sweep_summary.csv")
    assert sorted(summary["status"]) == ["completed", "completed", "error", "error"]
    # --resume without --out continues the newest sweep of the case: the failed cases
    # run again, the finished ones do not
    rc, out, err = run(capsys, "sweep", path, *vary, "--resume", "-q")
    assert rc == 1 and out == f"{folder.relative_to(standins)}\n"
    assert err.splitlines()[0] == (f"fumivex2: --resume: resuming {folder.relative_to(standins)}"
                                   f", the newest sweep of 'ethylene-pfr' with the same --vary "
                                   f"(--out DIR to choose another)")
    index = (folder / "sweep_index.jsonl").read_text().splitlines()
    assert len(index) == 6 and all('"error"' in line for line in index[4:])
    # a resume of that folder with another --vary is refused before anything is printed
    rc, out, err = run(capsys, "sweep", path, "--vary", "reactor.length=0.05,0.07", "--resume",
                       "--out", str(folder))
    assert rc == 2 and out == "" and err.count("\n") == 1
    assert err.startswith(f"fumivex2: error: --resume: the sweep in {str(folder)!r} was run "
                          f"with another --vary: inlet.pressure is varied there")


def test_sweep_values_with_units_reach_the_cases_and_each_warning_shows_once(standins, capsys):
    pytest.importorskip("pint")
    path = case_file(standins, SHORT)
    rc, out, err = run(capsys, "sweep", path, "--vary", 'inlet.pressure=2 atm,"50 Pa"',
                       "--vary", "reactor.length=0.05,0.06", "--workers", "1", "--out", "sw", "-q")
    assert rc == 0 and out == "sw\n"
    assert err.splitlines() == ["fumivex2: warning: inlet.pressure is 50 Pa, below 100 Pa: the "
                                "mechanism and the soot model mean anything from 100 Pa to 10 MPa "
                                "only (a plain number is in Pa; write any other unit, as in "
                                "\"1 atm\")"]
    cases = [tomllib.loads(p.read_text()) for p in (standins / "sw").glob("*/case.toml")]
    assert sorted(c["inlet"]["pressure"] for c in cases) == [50.0, 50.0, 202650.0, 202650.0]


def test_ctrl_c_during_a_sweep_keeps_finished_cases(tmp_path):
    """SIGINT to a real fumivex2 process and its worker, as from a terminal."""
    # Ctrl-C as in a terminal even when this suite runs as a background job (which starts
    # with SIGINT ignored, a disposition children inherit)
    script = (f"import signal; signal.signal(signal.SIGINT, signal.default_int_handler); "
              f"import sys, types; sys.path.insert(0, {str(TESTS)!r}); import test_sweep; "
              f"m = types.ModuleType('fumivex2.pfr'); m.run_pfr = test_sweep.standin_run; "
              f"sys.modules['fumivex2.pfr'] = m; from fumivex2.cli import main; "
              f"sys.exit(main(sys.argv[1:]))")
    path = case_file(tmp_path, SHORT)
    argv = [sys.executable, "-c", script, "sweep", path, "--vary",
            "reactor.length=0.05,0.06,0.07,0.08,0.09", "--workers", "1", "--out", "sw"]
    env = dict(os.environ, FUMIVEX2_TEST_SLEEP="0.4", PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.Popen(argv, cwd=tmp_path, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, start_new_session=True)
    index = tmp_path / "sw" / "sweep_index.jsonl"
    deadline = time.monotonic() + 60
    while not (index.exists() and index.read_text().count("\n") >= 1):
        assert proc.poll() is None and time.monotonic() < deadline
        time.sleep(0.05)
    os.killpg(proc.pid, signal.SIGINT)  # as Ctrl-C in a terminal: to the workers too
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 130, err
    finished = len(list((tmp_path / "sw").glob("*/record.json")))
    assert 1 <= finished < 5
    assert err == (f"fumivex2: error: interrupted: {finished} of 5 cases finished and are in "
                   f"sw; rerun with --resume --out sw to run the rest\n")
    assert len(pd.read_csv(tmp_path / "sw" / "sweep_summary.csv")) == finished
    done = subprocess.run(argv + ["--resume"], cwd=tmp_path, env=env, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert f"5 cases: 5 finished ({finished} from an earlier run)" in done.stdout


# ---- the real runs ----------------------------------------------------------------------------

def console(tmp_path, *argv):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-m", "fumivex2", *argv], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=300)


def test_real_reactor_end_to_end(tmp_path):
    pytest.importorskip("fumivex2.pfr")
    path = case_file(tmp_path, "[reactor]\nlength = 0.08\n[output]\nstations = 40\n")
    done = console(tmp_path, "pfr", path, "--out", "run")
    assert done.returncode == 0, done.stderr
    p = pd.read_csv(tmp_path / "run" / "profiles.csv")
    for col in (R.Z, R.RESIDENCE_TIME, R.T, R.N_AGG, R.FV, R.NUMBER, R.D_P, R.D_M,
                R.species_column("C2H2"), R.species_column("A4")):
        assert col in p.columns, col
    assert len(p) == 40 and p[R.Z].iloc[-1] == pytest.approx(0.08)
    for stem in ("soot_volume_fraction", "diameters", "number_density", "temperature", "species"):
        assert (tmp_path / "run" / f"{stem}.png").stat().st_size > 5000
    assert "outputs in run" in done.stdout


def test_real_flame_end_to_end(tmp_path):
    pytest.importorskip("fumivex2.flame")
    path = case_file(tmp_path, 'kind = "flame"\n[flame]\nratio = 6.0\nslope = 0.8\ncurve = 0.95\n'
                               '[soot_solver]\npoints = 40\nchunk = 100\nmax_steps = 300\n'
                               'method = "pseudo-time"\ncoupling = "one-way"\n')
    done = console(tmp_path, "flame", path, "--out", "run")
    # 300 steps are too few: results written, exit status 3
    assert done.returncode == 3, done.stderr
    assert done.stderr.startswith("fumivex2: error: the run did not converge: step budget used")
    p = pd.read_csv(tmp_path / "run" / "profiles.csv")
    assert R.HEIGHT in p.columns and R.FV in p.columns
    assert (tmp_path / "run" / "rates.csv").exists()
    assert (tmp_path / "run" / "soot_volume_fraction.png").stat().st_size > 5000
