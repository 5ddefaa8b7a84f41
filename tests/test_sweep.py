"""Sweeps: expanding --vary values into cases, running them on a process pool and on a
Dask LocalCluster, failures, crashes, interruption and resume.

The cases run through a stand-in runner (module level, so that it pickles by reference
into the workers): its profiles are a deterministic function of the case values, so a
result that went to the wrong case or changed on the way shows."""
import contextlib
import io
import json
import logging
import os
import pickle
import shutil
import socket
import time
import warnings

import numpy as np
import pytest

from fumivex2 import results as R
from fumivex2.cases import CaseError, default_case, with_overrides
from fumivex2.species import shipped_mechanism
from fumivex2.results import RunResult
from fumivex2.sweep import (DaskUnavailable, SweepInterrupted, case_id, expand, parse_value,
                            parse_vary, run_options, run_sweep)

pd = pytest.importorskip("pandas")

GROWTH = ("reactive_dimerization", "self_collision", "self_collision_lump", "cross_linking",
          "irreversible_dimerization")
# inlet pressures that make the stand-in misbehave
RAISES, CRASHES, FAILS = 99001.0, 99002.0, 99003.0


def standin_profiles(case, rows=25):
    """Profiles shaped like a run's, computed from the case's length, inlet temperature
    and growth model."""
    length = case.flame.width if case.kind == "flame" else case.reactor.length
    x = np.linspace(0.0, length, rows)
    g = GROWTH.index(case.soot.growth_model) + 1
    fv = 1e-8 * g * (length / 0.1) * (1.0 - np.exp(-x / (0.3 * length))) ** 2
    n = 1e17 * np.exp(-x / length) * g
    out = {R.HEIGHT if case.kind == "flame" else R.Z: x,
           R.RESIDENCE_TIME: x / 0.5,
           R.T: case.inlet.temperature + 700.0 * (1.0 - np.exp(-x / (0.2 * length))),
           R.species_column("C2H2"): 0.05 * np.exp(-x / length),
           R.species_column("H2"): 0.02 + 0.01 * x / length,
           R.species_column("O2"): 0.1 * np.exp(-20.0 * x / length),
           R.species_column("OH"): 1e-6 + 1e-4 * np.exp(-((x / length - 0.2) / 0.05) ** 2),
           R.species_column("A4"): 1e-7 * x / length,
           R.species_column("N2"): 0.7 + 0.0 * x,
           R.FV: fv, R.NUMBER: n, R.D_P: 1.0 + 20.0 * x / length, R.D_M: 1.0 + 60.0 * x / length,
           R.INCEPTION: 1e20 * np.exp(-((x / length - 0.3) / 0.1) ** 2)}
    return pd.DataFrame(out)


def standin_run(case, *, progress=None, restart=False):
    """A stand-in for run_pfr / run_flame; FUMIVEX2_TEST_RAISE makes every run raise."""
    log = os.environ.get("FUMIVEX2_TEST_LOG")
    if log:
        with open(log, "a") as fh:
            fh.write(json.dumps([case.reactor.length, case.soot.growth_model]) + "\n")
    time.sleep(float(os.environ.get("FUMIVEX2_TEST_SLEEP", "0")))
    if os.environ.get("FUMIVEX2_TEST_RAISE"):
        raise RuntimeError("stand-in failure on rerun")
    if case.species.pahs == ("A3",):
        warnings.warn("pyrene (A4) is not in the mechanism; using A3 as the soot model's PAH")
    if case.inlet.pressure == RAISES:
        raise RuntimeError("stand-in failure\nsecond line")
    if case.inlet.pressure == CRASHES:
        os._exit(3)
    p = standin_profiles(case)
    if progress:
        progress(float(p.iloc[-1, 0]), float(p.iloc[-1, 0]))
    rates = None
    if case.kind == "flame":
        rates = pd.DataFrame({R.HEIGHT: p[R.HEIGHT], "C2H2 [kmol/(m3 s)]": -1e-3 * p[R.FV]})
    if case.inlet.pressure == FAILS:
        return RunResult(case, p.iloc[:10].reset_index(drop=True), "failed",
                         "integration failed at z = 0.0375 m", run_time=0.01)
    return RunResult(case, p, "completed" if case.kind == "pfr" else "converged", "",
                     run_time=0.01, rates=rates, extra={"pahs": ["A4"]})


def small_case(**overrides):
    case = default_case("pfr")
    base = {"reactor.length": 0.1, "output.plots": False}
    base.update(overrides)
    return with_overrides(case, base)


# ---- expansion ------------------------------------------------------------------------------

def test_vary_values_are_toml_values_or_text():
    assert parse_vary("reactor.length=0.1,0.2") == ("reactor.length", [0.1, 0.2])
    assert parse_vary("soot.growth_model=self_collision,cross_linking") == \
        ("soot.growth_model", ["self_collision", "cross_linking"])
    assert parse_vary("soot.enabled=true,false") == ("soot.enabled", [True, False])
    assert parse_vary('inlet.composition="C2H4:1, O2:1",C2H4:1') == \
        ("inlet.composition", ["C2H4:1, O2:1", "C2H4:1"])
    assert parse_vary("temperature.wall_profile=[[0, 0.1], [900, 1600]],[[0], [1700]]")[1] == \
        [((0, 0.1), (900, 1600)), ((0,), (1700,))]
    assert parse_value(" 7 ") == 7 and parse_value("1e-5") == 1e-5
    for bad in ("reactor.length", "=0.1", "reactor.length=", "reactor.length=0.1,,0.2"):
        with pytest.raises(CaseError, match="--vary"):
            parse_vary(bad)


def test_expand_is_the_cartesian_product_in_order():
    case = small_case()
    variants = expand(case, {"reactor.length": ["0.12", "0.25"],
                             "soot.growth_model": ["self_collision", "cross_linking", "self_collision"],
                             "inlet.temperature": [950]})
    params = [p for p, _ in variants]
    assert params == [
        {"reactor.length": 0.12, "soot.growth_model": "self_collision", "inlet.temperature": 950},
        {"reactor.length": 0.12, "soot.growth_model": "cross_linking", "inlet.temperature": 950},
        {"reactor.length": 0.25, "soot.growth_model": "self_collision", "inlet.temperature": 950},
        {"reactor.length": 0.25, "soot.growth_model": "cross_linking", "inlet.temperature": 950},
    ]
    for p, c in variants:
        assert (c.reactor.length, c.soot.growth_model, c.inlet.temperature) == \
            (p["reactor.length"], p["soot.growth_model"], 950.0)
        assert c.reactor.diameter == case.reactor.diameter and c.name == case.name
    # a case is known by all its values: equal cases hash equal, any change shows
    ids = {case_id(c) for _, c in variants}
    assert len(ids) == 4
    assert case_id(variants[0][1]) == case_id(with_overrides(case, params[0]))
    assert case_id(with_overrides(variants[0][1], {"output.folder": "elsewhere"})) == \
        case_id(variants[0][1])
    assert case_id(with_overrides(variants[0][1], {"reactor.diameter": 0.02})) != \
        case_id(variants[0][1])


@pytest.mark.parametrize("varies, message", [
    ({"reactor.lenght": [0.1]}, "unknown case key 'reactor.lenght' to vary (did you mean 'reactor.length'"),
    ({"length": [0.1]}, "did you mean 'reactor.length'"),
    ({"reactor.length": [-0.1]}, "reactor.length=-0.1: reactor.length must be a positive number"),
    ({"reactor.length": ["long"]}, "reactor.length='long': .*must be a number in m"),
    ({"soot.growth_model": ["self_colision"]}, "did you mean 'self_collision'"),
    ({"reactor.length": []}, "no values"),
    ({}, "at least one --vary"),
])
def test_expand_refuses_bad_keys_and_values(varies, message):
    with pytest.raises(CaseError, match=message.replace("(", r"\(").replace(")", r"\)")
                       if "*" not in message else message):
        expand(small_case(), varies)


# ---- running --------------------------------------------------------------------------------

FOUR = {"reactor.length": [0.05, 0.2], "soot.growth_model": ["self_collision", "cross_linking"]}


def serial_results(case, varies):
    return {json.dumps(p, sort_keys=True): standin_run(c) for p, c in expand(case, varies)}


def check_same_as_serial(outcome, case, varies):
    serial = serial_results(case, varies)
    assert len(outcome.records) == len(serial)
    for r in outcome.records:
        assert r.status == "completed", r.message
        expected = serial[json.dumps(r.params, sort_keys=True)]
        pd.testing.assert_frame_equal(r.result.profiles, expected.profiles, check_exact=True)
        assert r.result.case == expected.case
        # what is on disk is what came back
        on_disk = pd.read_csv(r.folder / "profiles.csv")
        np.testing.assert_allclose(on_disk[R.FV], expected.profiles[R.FV], rtol=1e-15)
        assert json.loads((r.folder / "record.json").read_text())["id"] == r.case_id


def test_sweep_on_a_process_pool_matches_serial_runs(tmp_path):
    case = small_case()
    seen = []
    outcome = run_sweep(case, FOUR, tmp_path, workers=2, runner=standin_run,
                        progress=lambda d, t: seen.append((d, t)))
    check_same_as_serial(outcome, case, FOUR)
    assert seen[0] == (0, 4) and seen[-1] == (4, 4) and len(seen) == 5
    index = [json.loads(line) for line in (tmp_path / "sweep_index.jsonl").read_text().splitlines()]
    assert sorted(json.dumps(i["params"], sort_keys=True) for i in index) == \
        sorted(serial_results(case, FOUR))
    summary = pd.read_csv(tmp_path / "sweep_summary.csv")
    assert list(summary.columns[:2]) == ["reactor.length", "soot.growth_model"]
    assert set(summary["status"]) == {"completed"}
    all_runs = pd.read_csv(tmp_path / "all_runs.csv")
    assert len(all_runs) == 4 * 25
    rows = all_runs[(all_runs["reactor.length"] == 0.2)
                    & (all_runs["soot.growth_model"] == "cross_linking")]
    expected = standin_profiles(with_overrides(case, {"reactor.length": 0.2,
                                                      "soot.growth_model": "cross_linking"}))
    np.testing.assert_allclose(rows[R.FV].to_numpy(), expected[R.FV].to_numpy(), rtol=1e-15)


def test_sweep_on_a_dask_local_cluster_matches_serial_runs(tmp_path):
    pytest.importorskip("distributed")
    case = small_case()
    outcome = run_sweep(case, FOUR, tmp_path, dask="local", workers=2, runner=standin_run)
    check_same_as_serial(outcome, case, FOUR)


def test_unreachable_dask_scheduler_is_a_clear_error_after_a_bounded_wait(tmp_path):
    pytest.importorskip("distributed")
    with socket.socket() as s:  # a port that nothing listens on
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    start = time.monotonic()
    with pytest.raises(DaskUnavailable, match=f"no Dask scheduler answers at 'tcp://127.0.0.1:{port}' within 1 s"):
        run_sweep(small_case(), FOUR, tmp_path, dask=f"tcp://127.0.0.1:{port}",
                  runner=standin_run, dask_timeout=1.0)
    assert time.monotonic() - start < 10.0
    with pytest.raises(CaseError, match="--workers sets the size"):
        run_sweep(small_case(), FOUR, tmp_path, dask="tcp://127.0.0.1:1", workers=2,
                  runner=standin_run)


def test_failing_and_crashing_cases_do_not_stop_the_others(tmp_path):
    varies = {"inlet.pressure": [101325.0, RAISES, CRASHES, FAILS], "reactor.length": [0.15]}
    case = small_case(**{"species.pahs": ["A3"]})
    outcome = run_sweep(case, varies, tmp_path, workers=2, runner=standin_run)
    by_p = {r.params["inlet.pressure"]: r for r in outcome.records}
    assert by_p[101325.0].status == "completed"
    assert by_p[RAISES].status == "error"
    assert by_p[RAISES].message == "RuntimeError: stand-in failure"
    assert "stand-in failure" in (by_p[RAISES].folder / "error.txt").read_text()
    assert by_p[CRASHES].status == "error" and "worker process died" in by_p[CRASHES].message
    assert by_p[FAILS].status == "failed"  # a run that failed keeps its partial profiles
    assert len(pd.read_csv(by_p[FAILS].folder / "profiles.csv")) == 10
    assert (by_p[FAILS].folder / "summary.txt").read_text().startswith(
        "RUN FAILED: integration failed at z = 0.0375 m")
    assert {id(r) for r in outcome.failed} == {id(by_p[p]) for p in (RAISES, CRASHES, FAILS)}
    summary = pd.read_csv(tmp_path / "sweep_summary.csv")
    assert sorted(summary["status"]) == ["completed", "error", "error", "failed"]
    assert any("worker process died" in n for n in outcome.notes)
    # the runs' warnings come back from the workers, into the record and summary.txt
    warned = "pyrene (A4) is not in the mechanism; using A3 as the soot model's PAH"
    for p in (101325.0, RAISES, FAILS):
        assert by_p[p].warnings == [warned]
        assert f"warning: {warned}" in (by_p[p].folder / "summary.txt").read_text()


def test_interrupted_sweep_keeps_finished_cases_and_resumes(tmp_path, monkeypatch):
    log = tmp_path / "runs.log"
    monkeypatch.setenv("FUMIVEX2_TEST_LOG", str(log))
    case = small_case()
    out = tmp_path / "sweep"

    def interrupt_after_two(done, total):
        if done >= 2:
            raise KeyboardInterrupt  # Ctrl-C while the parent waits for the next case

    with pytest.raises(SweepInterrupted) as info:
        run_sweep(case, FOUR, out, workers=1, runner=standin_run,
                  progress=interrupt_after_two)
    finished = info.value.outcome.finished
    assert len(finished) == 2 and info.value.outcome.interrupted
    assert sorted(p.parent.name for p in out.glob("*/record.json")) == \
        sorted(r.folder.name for r in finished)
    assert len(pd.read_csv(out / "sweep_summary.csv")) == 2
    log.write_text("")
    outcome = run_sweep(case, FOUR, out, workers=2, runner=standin_run, resume=True)
    assert [r.resumed for r in outcome.records].count(True) == 2
    rerun = [tuple(json.loads(line)) for line in log.read_text().splitlines()]
    assert sorted(rerun) == sorted((r.params["reactor.length"], r.params["soot.growth_model"])
                                   for r in outcome.records if not r.resumed)
    check_same_as_serial(outcome, case, FOUR)
    assert len(pd.read_csv(out / "sweep_summary.csv")) == 4
    # a changed base case is not mistaken for the finished one
    log.write_text("")
    outcome = run_sweep(with_overrides(case, {"reactor.diameter": 0.02}), FOUR, out,
                        workers=1, runner=standin_run, resume=True)
    assert not any(r.resumed for r in outcome.records) and len(log.read_text().splitlines()) == 4


def test_real_reactor_sweep_matches_serial_runs(tmp_path):
    pfr = pytest.importorskip("fumivex2.pfr")
    case = small_case(**{"reactor.length": 0.03, "output.stations": 20})
    varies = {"reactor.length": [0.02, 0.03], "inlet.temperature": [1000.0, 1100.0]}
    outcome = run_sweep(case, varies, tmp_path, workers=2)
    for r in outcome.records:
        serial = pfr.run_pfr(r.case)
        assert r.status == serial.status
        pd.testing.assert_frame_equal(r.result.profiles, serial.profiles, rtol=1e-12)


def planted(marker):
    """What a hostile result.pkl runs when it is unpickled."""
    open(marker, "w").close()
    raise RuntimeError("unpickled")


class Planted:
    def __init__(self, marker):
        self.marker = marker

    def __reduce__(self):
        return planted, (self.marker,)


def test_resume_takes_only_this_very_case_from_its_record_and_never_unpickles(
        tmp_path, monkeypatch):
    log = tmp_path / "runs.log"
    monkeypatch.setenv("FUMIVEX2_TEST_LOG", str(log))
    mechanism = tmp_path / "mech.yaml"
    shutil.copy(shipped_mechanism(), mechanism)
    case = small_case(**{"mechanism.file": str(mechanism)})
    varies = {"reactor.length": [0.05, 0.2, 0.3]}
    out = tmp_path / "sweep"
    first = run_sweep(case, varies, out, workers=1, runner=standin_run)
    marker = tmp_path / "unpickled"
    for r in first.records:
        (r.folder / "result.pkl").write_bytes(pickle.dumps(Planted(str(marker))))
    (first.records[0].folder / "record.json").unlink()       # no record: not finished
    (first.records[1].folder / "record.json").write_text("{")  # torn record: not finished
    log.write_text("")
    outcome = run_sweep(case, varies, out, workers=1, runner=standin_run, resume=True)
    assert [r.resumed for r in outcome.records] == [False, False, True]
    assert len(log.read_text().splitlines()) == 2 and not marker.exists()
    check_same_as_serial(outcome, case, varies)  # the resumed one read back exactly
    assert outcome.records[2].result.extra == {"pahs": ["A4"]}
    assert not (outcome.records[0].folder / "result.pkl").exists()
    # another --vary is refused, naming the difference; nothing runs
    with pytest.raises(CaseError, match=r"another --vary: reactor\.length takes 0\.05,0\.2,0\.3 "
                                        r"there and 0\.05,0\.4 here"):
        run_sweep(case, {"reactor.length": [0.05, 0.4]}, out, runner=standin_run, resume=True)
    # an edited mechanism file at the same path: every case runs again
    log.write_text("")
    with open(mechanism, "a") as fh:
        fh.write("\n# edited\n")
    outcome = run_sweep(case, varies, out, workers=1, runner=standin_run, resume=True)
    assert not any(r.resumed for r in outcome.records) and len(log.read_text().splitlines()) == 3
    # without resume, results in the folder are computed again
    log.write_text("")
    outcome = run_sweep(case, varies, out, workers=1, runner=standin_run)
    assert not any(r.resumed for r in outcome.records) and len(log.read_text().splitlines()) == 3
    check_same_as_serial(outcome, case, varies)
    # a rerun that fails leaves no record of the earlier success behind: a resume runs
    # those cases again instead of taking them as done
    monkeypatch.setenv("FUMIVEX2_TEST_RAISE", "1")
    failed = run_sweep(case, varies, out, workers=1, runner=standin_run)
    assert [r.status for r in failed.records] == ["error"] * 3
    assert not any((r.folder / "record.json").exists() for r in failed.records)
    monkeypatch.delenv("FUMIVEX2_TEST_RAISE")
    log.write_text("")
    outcome = run_sweep(case, varies, out, workers=1, runner=standin_run, resume=True)
    assert not any(r.resumed for r in outcome.records) and len(log.read_text().splitlines()) == 3


def test_a_case_is_known_by_its_build_and_the_options_that_change_it(tmp_path, monkeypatch):
    import importlib.util
    import sys
    import types

    # the extension's build: its binary and the description installed beside it
    case = small_case()
    ext = tmp_path / "_fumivex2.so"
    info = tmp_path / "build_info.json"
    find_spec = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec", lambda name, *a: types.SimpleNamespace(
        origin=str(ext)) if name == "fumivex2._fumivex2" else find_spec(name, *a))
    builds = [(b"\x7fELF one", {"cxx_flags": "-O2 -ffp-contract=off"}),
              (b"\x7fELF one", {"cxx_flags": "-O2 -ffast-math"}),
              (b"\x7fELF two", {"cxx_flags": "-O2 -ffast-math"}),
              (b"\x7fELF two", None)]
    ids = []
    for binary, description in builds + builds[:1]:
        ext.write_bytes(binary)
        if description is None:
            info.unlink()
        else:
            info.write_text(json.dumps(description))
        ids.append(case_id(case))
    assert len(set(ids[:4])) == 4 and ids[4] == ids[0]
    monkeypatch.setattr(importlib.util, "find_spec", find_spec)

    # flames started from their neighbours give other numbers: a resume without that
    # option runs them again
    module = types.ModuleType("fumivex2.flame")
    module.run_flame = standin_run
    monkeypatch.setitem(sys.modules, "fumivex2.flame", module)
    log = tmp_path / "runs.log"
    monkeypatch.setenv("FUMIVEX2_TEST_LOG", str(log))
    flame = with_overrides(default_case("flame"), {"output.plots": False})
    varies = {"flame.width": [0.01, 0.02]}
    for restart, resumed in ((False, 0), (True, 0), (True, 2), (False, 2)):
        log.write_text("")
        outcome = run_sweep(flame, varies, tmp_path / "sw", workers=1, resume=True,
                            restart_flames=restart)
        assert sum(r.resumed for r in outcome.records) == resumed
        assert len(log.read_text().splitlines()) == 2 - resumed
    # a reactor has no flame to restart: the option does not change it
    assert case_id(case, run_options("pfr", restart_flames=True)) == case_id(case)


def interleaved_run(case, *, progress=None):
    """Prints and warns in steps with pauses, in which another thread of the process
    would run, then runs the reactor; the lines it printed go into extra["lines"]."""
    from fumivex2.pfr import run_pfr

    tag = f"{case.reactor.length:g}"
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        for i in range(3):
            print(f"case {tag} line {i}")
            warnings.warn(f"case {tag} warning {i}")
            time.sleep(0.05)
        result = run_pfr(case)
    result.extra["lines"] = printed.getvalue().splitlines()
    return result


def test_dask_workers_with_two_threads_keep_cases_apart(tmp_path):
    distributed = pytest.importorskip("distributed")
    pfr = pytest.importorskip("fumivex2.pfr")
    case = small_case(**{"output.stations": 10})
    varies = {"reactor.length": [0.01, 0.012, 0.014]}
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=True,
                                  dashboard_address=None, silence_logs=logging.ERROR) as cluster:
        outcome = run_sweep(case, varies, tmp_path, dask=cluster.scheduler_address,
                            runner=interleaved_run)
    for r in outcome.records:
        tag = f"{r.params['reactor.length']:g}"
        assert r.status == "completed", r.message
        assert r.warnings == [f"case {tag} warning {i}" for i in range(3)]
        assert r.result.extra["lines"] == [f"case {tag} line {i}" for i in range(3)]
        serial = pfr.run_pfr(r.case)
        pd.testing.assert_frame_equal(r.result.profiles, serial.profiles, rtol=1e-12)
