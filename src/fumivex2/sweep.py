"""Sweeps: the Cartesian product of case variants, run in parallel.

``expand(case, {"reactor.length": ["0.1", "0.2"]})`` gives the variants with the
parameters that make them; ``run_sweep`` runs them on a process pool on this machine or
on a Dask distributed cluster through the same ``concurrent.futures`` interface (for
Dask, the client's executor). Cases go to the workers and results come back pickled
over the executor's connection; the results are written here, in the calling process, as
each case finishes: a subfolder per case (see ``output.write_run``, plus ``record.json``)
and a line in ``sweep_index.jsonl``. Every file is written under a temporary name and
renamed, and ``record.json`` comes last: its presence means the case is done. A case that
fails is recorded with its parameters and the others go on. After Ctrl-C the finished
cases stay on disk, the rest are cancelled, and a rerun with ``resume=True`` takes every
case whose record is on disk from its CSV files and record (never from a pickle: a folder
may come from someone else). A case is known by a hash of its full set of values, of the
content of its mechanism file, of the extension's binary and build description, of the
versions of fumivex2, Cantera and NumPy and of the sweep's options that change results
(flames started from their neighbours), so a changed base case, an edited mechanism,
another build or an upgrade is not mistaken for a finished case.
The folder's ``sweep.json`` holds the sweep's --vary definition; a resume with another
one is refused. A rerun without ``resume`` runs every case again.

A worker runs one case at a time whatever its number of threads: the cases in one process
take a process-wide lock, because a case changes process-wide state (the warning filters,
sys.stdout around the flame solver's log, Cantera's sparse-matrix switch) and the
extension holds the GIL anyway, so threads of one process could only interleave.

A worker process that dies (a crash in compiled code, the out-of-memory killer) breaks a
process pool with every case queued on it; those cases are then rerun one per process,
so that only the case that crashes is reported as failed.
"""
from __future__ import annotations

import concurrent.futures as cf
import contextlib
import difflib
import functools
import hashlib
import itertools
import json
import logging
import multiprocessing
import os
import pathlib
import signal
import threading
import time
import tomllib
import traceback
import warnings
from dataclasses import dataclass, field
from typing import Any, Callable, Mapping, Sequence

from .cases import (FLAME_KINDS, Case, CaseError, CaseWarning, case_as_dict, case_fields,
                    with_overrides)
from .output import (_slug, params_label, prepare_folder, write_csv, write_run, write_sweep,
                     write_text)
from .results import RunResult

__all__ = ["expand", "run_sweep", "parse_vary", "parse_value", "case_id", "SweepRecord",
           "SweepOutcome", "SweepInterrupted", "DaskUnavailable", "runner_for",
           "vary_definition", "read_vary", "vary_differences", "check_resume", "run_options"]

INDEX = "sweep_index.jsonl"
RECORD = "record.json"   # per case, written last: the case is done
DEFINITION = "sweep.json"  # per sweep: its --vary definition
OLD_RESULT = "result.pkl"  # written by earlier versions; never read, removed on rewrite
RECORD_FORMAT = 1


class DaskUnavailable(CaseError):
    """No Dask scheduler at the given address, or Dask is not installed."""


# ---- the variants ---------------------------------------------------------------------------

def parse_value(text: str) -> Any:
    """A --vary value as a TOML value (number, true/false, quoted text, list) or, when it
    is not one, as plain text: "0.1" -> 0.1, "cross_linking" -> "cross_linking"."""
    text = text.strip()
    try:
        return _freeze(tomllib.loads(f"v = {text}")["v"])
    except tomllib.TOMLDecodeError:
        return text


def _freeze(v):
    return tuple(_freeze(x) for x in v) if isinstance(v, list) else v


def _split_values(text: str) -> list:
    """Split at commas outside quotes and brackets: 'a,"b, c",[1, 2]' -> three values."""
    out, depth, quote, start = [], 0, None, 0
    for i, ch in enumerate(text):
        if quote:
            if ch == quote:
                quote = None
        elif ch in "\"'":
            quote = ch
        elif ch == "[":
            depth += 1
        elif ch == "]":
            depth -= 1
        elif ch == "," and depth == 0:
            out.append(text[start:i])
            start = i + 1
    out.append(text[start:])
    return out


def parse_vary(text: str) -> tuple:
    """'KEY=V1,V2,...' -> (KEY, [V1, V2, ...]) with the values parsed by parse_value."""
    key, sep, values = text.partition("=")
    key = key.strip()
    if not sep or not key or not values.strip():
        raise CaseError(f"--vary {text!r}: write KEY=V1,V2,... (for example "
                        f"--vary reactor.length=0.1,0.2)")
    parts = _split_values(values)
    if any(not p.strip() for p in parts):
        raise CaseError(f"--vary {text!r}: an empty value between commas")
    return key, [parse_value(p) for p in parts]


def _leaf_keys(case: Case) -> list:
    return [f"{t}.{n}" if t else n for t, n, *_ in case_fields(case)]


def _check_key(case: Case, key: str) -> None:
    keys = _leaf_keys(case)
    if key in keys:
        return
    table, _, name = key.rpartition(".")
    tables = {}
    for k in keys:
        t, _, n = k.rpartition(".")
        tables.setdefault(t, []).append(n)
    if table:  # the named table, else the tables spelt like it
        near = [table] if table in tables else difflib.get_close_matches(
            table, [t for t in tables if t], n=2, cutoff=0.6)
        close = [f"{t}.{n}" for t in near
                 for n in difflib.get_close_matches(name, tables[t], n=3, cutoff=0.6)]
    else:  # a bare name: the keys that end in it or in something like it
        close = [k for k in keys if k.rpartition(".")[2] == name]
        close += [k for k in keys if k not in close and difflib.get_close_matches(
            name, [k.rpartition(".")[2]], cutoff=0.75)]
    hint = f" (did you mean {', '.join(map(repr, close[:3]))}?)" if close else \
        " (keys are written table.name, as in the case file: see fumivex2 pfr --print-case)"
    raise CaseError(f"unknown case key {key!r} to vary{hint}")


def expand(case: Case, varies: Mapping[str, Sequence]) -> list:
    """The variants of case: a list of (params, Case), params a dict {key: value} in the
    order of `varies`, one entry per combination of values (Cartesian product, the last
    key varying fastest). Text values are read as TOML values where they are one
    ("0.1" -> 0.1, "true" -> True) and as text otherwise. Unknown keys and values that a
    case file would refuse raise CaseError."""
    if not varies:
        raise CaseError("a sweep needs at least one --vary KEY=V1,V2,...")
    keys, lists = [], []
    for key, values in varies.items():
        _check_key(case, key)
        if isinstance(values, (str, bytes)) or not isinstance(values, Sequence):
            values = [values]
        parsed = []
        for v in values:
            v = parse_value(v) if isinstance(v, str) else v
            if v not in parsed:
                parsed.append(v)
        if not parsed:
            raise CaseError(f"no values to vary {key!r} over")
        for v in parsed:  # each value alone, so that the message names it
            try:
                with warnings.catch_warnings():  # the variants below warn, with all their values
                    warnings.simplefilter("ignore", CaseWarning)
                    with_overrides(case, {key: v})
            except CaseError as e:
                raise CaseError(f"{key}={v!r}: {_strip_source(str(e))}") from None
        keys.append(key)
        lists.append(parsed)
    out = []
    for combo in itertools.product(*lists):
        params = dict(zip(keys, combo))
        try:
            out.append((params, with_overrides(case, params)))
        except CaseError as e:
            raise CaseError(f"{params_label(params)}: {_strip_source(str(e))}") from None
    return out


def _strip_source(message: str) -> str:
    return message[len("variant: "):] if message.startswith("variant: ") else message


def case_id(case: Case, options: Mapping[str, Any] | None = None) -> str:
    """A stable hash of everything that changes a case's results, 12 hex digits: every
    value of the case (its output folder excepted), the content of its mechanism file
    (found as the run finds it), the extension as built (the content of its binary and
    the build description installed beside it), the versions of fumivex2, Cantera and
    NumPy, and the run's `options` that change its numbers (run_sweep: flames started
    from their neighbours, a runner of the caller's)."""
    data = case_as_dict(case)
    data["output"].pop("folder", None)
    data["mechanism content"] = _mechanism_hash(case.mechanism.file)
    data["versions"] = _versions()
    data["build"] = _build_identity()
    data["options"] = dict(options or {})
    text = json.dumps(data, sort_keys=True, default=repr)
    return hashlib.sha256(text.encode()).hexdigest()[:12]


def _build_identity() -> dict:
    """sha256 of the extension's binary and its build description (build_info.json
    beside it: build type, compiler, flags), which a version string does not tell
    apart (a fast-math or a sanitizer build of the same version)."""
    import importlib.util

    module = importlib.util.find_spec("fumivex2._fumivex2")
    if module is None or not module.origin or not os.path.isfile(module.origin):
        return {"extension": "not found"}
    ext = pathlib.Path(module.origin)
    st = ext.stat()
    out = {"extension": _file_hash(str(ext), st.st_mtime_ns, st.st_size)}
    info = ext.with_name("build_info.json")
    try:
        out["build_info"] = json.loads(info.read_text())
    except OSError:
        out["build_info"] = "missing"
    except ValueError:  # damaged: its content still tells builds apart
        out["build_info"] = "unreadable " + hashlib.sha256(info.read_bytes()).hexdigest()
    return out


def run_options(kind: str, restart_flames: bool = False, runner: Callable | None = None) -> dict:
    """The options of run_sweep that change the results of a case of `kind`, as case_id
    takes them."""
    out = {}
    if restart_flames and kind in FLAME_KINDS:
        out["restart_flames"] = True
    if runner is not None:
        out["runner"] = f"{getattr(runner, '__module__', '?')}.{getattr(runner, '__qualname__', repr(runner))}"
    return out


def _mechanism_hash(file: str) -> str:
    """sha256 of the mechanism file the run reads for `file`, or a note that none is
    found (the run then fails, and the name alone identifies it)."""
    from .species import mechanism_path

    path = mechanism_path(file)
    if path is None:
        return f"not found: {file}"
    st = path.stat()
    return _file_hash(str(path), st.st_mtime_ns, st.st_size)


@functools.lru_cache(maxsize=64)
def _file_hash(path: str, mtime_ns: int, size: int) -> str:
    # keyed on the modification time and size too: an edited file is read again
    h = hashlib.sha256()
    with open(path, "rb") as fh:
        for block in iter(lambda: fh.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


@functools.lru_cache(maxsize=1)
def _versions() -> dict:
    from importlib import metadata

    out = {}
    for dist in ("fumivex2", "cantera", "numpy"):
        try:
            out[dist] = metadata.version(dist)
        except metadata.PackageNotFoundError:
            out[dist] = "not installed"
    return out


def vary_definition(variants: Sequence[tuple]) -> dict:
    """{key: [values in order]} of a sweep's variants (as expand returns them), in the
    form sweep.json keeps."""
    out: dict = {}
    for params, _ in variants:
        for k, v in params.items():
            values = out.setdefault(k, [])
            v = _plain(v)
            if v not in values:
                values.append(v)
    return out


def _plain(v):
    return [_plain(x) for x in v] if isinstance(v, (list, tuple)) else v


def read_vary(folder: str | pathlib.Path) -> dict | None:
    """The --vary definition recorded in a sweep folder, None when it has none (or an
    unreadable one)."""
    try:
        data = json.loads((pathlib.Path(folder) / DEFINITION).read_text())
        vary = data["vary"]
    except (OSError, ValueError, KeyError, TypeError):
        return None
    return vary if isinstance(vary, dict) else None


def vary_differences(recorded: Mapping, wanted: Mapping) -> list:
    """What differs between two --vary definitions, one phrase per key (value order does
    not count)."""
    def text(values):
        return ",".join(json.dumps(v) if not isinstance(v, str) else v for v in values)

    out = []
    for key in list(recorded) + [k for k in wanted if k not in recorded]:
        if key not in wanted:
            out.append(f"{key} is varied there ({text(recorded[key])}) and not here")
        elif key not in recorded:
            out.append(f"{key} is varied here ({text(wanted[key])}) and not there")
        else:
            a = sorted(json.dumps(v) for v in recorded[key])
            b = sorted(json.dumps(v) for v in wanted[key])
            if a != b:
                out.append(f"{key} takes {text(recorded[key])} there and "
                           f"{text(wanted[key])} here")
    return out


def case_folder_name(params: Mapping[str, Any], cid: str) -> str:
    label = _slug("_".join(f"{k.rsplit('.', 1)[-1]}={v}" for k, v in params.items()))
    return f"{label[:60]}-{cid}" if label else cid


# ---- records --------------------------------------------------------------------------------

@dataclass
class SweepRecord:
    """One case of a sweep: its parameters, id, subfolder, and how it ended ("error"
    when the run raised instead of returning a result)."""
    params: dict
    case: Case
    case_id: str
    folder: pathlib.Path
    status: str = "pending"
    message: str = ""
    result: RunResult | None = None
    resumed: bool = False
    warnings: list = field(default_factory=list)  # warnings of the run, as text

    @property
    def ok(self) -> bool:
        return self.status not in ("failed", "error", "pending")


@dataclass
class SweepOutcome:
    folder: pathlib.Path
    records: list
    interrupted: bool = False
    notes: list = field(default_factory=list)

    @property
    def failed(self) -> list:
        return [r for r in self.records if r.status in ("failed", "error")]

    @property
    def finished(self) -> list:
        return [r for r in self.records if r.status != "pending"]


class SweepInterrupted(KeyboardInterrupt):
    """Ctrl-C during a sweep; .outcome holds what was finished (and is on disk)."""

    def __init__(self, outcome: SweepOutcome):
        super().__init__("sweep interrupted")
        self.outcome = outcome


# ---- running --------------------------------------------------------------------------------

def runner_for(kind: str) -> Callable:
    """The run function of a case kind, looked up as a module attribute at call time
    (fumivex2.pfr.run_pfr, fumivex2.flame.run_flame, fumivex2.counterflow.run_counterflow,
    fumivex2.batch.run_batch, fumivex2.psr.run_psr)."""
    import importlib

    module, name = {"pfr": ("fumivex2.pfr", "run_pfr"),
                    "flame": ("fumivex2.flame", "run_flame"),
                    "counterflow": ("fumivex2.counterflow", "run_counterflow"),
                    "batch": ("fumivex2.batch", "run_batch"),
                    "psr": ("fumivex2.psr", "run_psr")}[kind]
    try:
        return getattr(importlib.import_module(module), name)
    except (ImportError, AttributeError) as e:
        raise RuntimeError(f"{module}.{name} is not available in this installation: {e}") from None


# One case at a time per process (see the module's docstring): a Dask worker started
# with several threads runs its cases one after the other, each seeing only its own
# warnings and output.
_CASE_LOCK = threading.Lock()


def _execute(runner: Callable, case: Case) -> tuple:
    """Run one case in a worker: ("done", result, "", warnings) or ("error", message,
    traceback, warnings); the warnings of the run travel back as text, so that the
    calling process reports them (a worker's stderr may be on another machine)."""
    with _CASE_LOCK:
        return _execute_alone(runner, case)


def _execute_alone(runner: Callable, case: Case) -> tuple:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("default")
        try:
            result = runner(case)
        except Exception as e:
            message = str(e) if isinstance(e, CaseError) else f"{type(e).__name__}: {e}"
            out = ("error", message.splitlines()[0] if message else type(e).__name__,
                   traceback.format_exc())
        else:
            out = ("done", result, "") if isinstance(result, RunResult) else \
                ("error", f"the run returned {type(result).__name__}, not a RunResult", "")
    texts = []
    for w in caught:
        text = " ".join(str(w.message).split())
        if text not in texts:
            texts.append(text)
    return out + (texts,)


def _ignore_sigint() -> None:
    # workers leave Ctrl-C to the parent, which cancels and stops them
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _process_pool(workers: int) -> cf.ProcessPoolExecutor:
    # spawn: no inherited threads or locks, the same behaviour on every platform
    return cf.ProcessPoolExecutor(max_workers=workers, initializer=_ignore_sigint,
                                  mp_context=multiprocessing.get_context("spawn"))


def _kill_pool(executor: cf.ProcessPoolExecutor) -> None:
    """Stop a process pool now: cancel what is queued and terminate the workers."""
    processes = list((getattr(executor, "_processes", None) or {}).values())
    # shutdown(wait=False) forgets the pool's management thread; keep it to join below
    manager = getattr(executor, "_executor_manager_thread", None)
    executor.shutdown(wait=False, cancel_futures=True)
    for p in processes:
        if p.is_alive():
            p.terminate()
    for p in processes:
        p.join(5)
    # The management thread sees the workers gone and closes the pool's wake-up pipe.
    # Waiting for it here keeps that close from racing the interpreter's exit handler,
    # which writes to the same pipe (Python 3.11 prints "Bad file descriptor" then).
    if manager is not None and manager is not threading.current_thread():
        manager.join(10)


@contextlib.contextmanager
def _sigint_ignored():
    if threading.current_thread() is not threading.main_thread():
        yield  # signal handlers belong to the main thread
        return
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, previous)


def _dask_client(address: str, workers: int | None, timeout: float):
    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        raise DaskUnavailable("--dask needs Dask: pip install '.[dask]' in a fumivex2 "
                              "checkout, or pip install 'dask[distributed]'") from None
    if address == "local":
        # the worker processes start with Ctrl-C ignored (a disposition a new process
        # inherits), so that it reaches only this process, which stops the cluster
        with _sigint_ignored():
            cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1,
                                   threads_per_worker=1, processes=True,
                                   dashboard_address=None, silence_logs=logging.ERROR)
        return Client(cluster), cluster
    log = logging.getLogger("distributed")
    level = log.level
    log.setLevel(logging.CRITICAL)  # the failed attempts are summed up in one message
    try:
        client = Client(address, timeout=timeout)
    except Exception as e:  # OSError, TimeoutError, ValueError for a malformed address
        if isinstance(e, MemoryError) or not isinstance(e, (OSError, TimeoutError, ValueError)):
            # another server read as Dask's framing: a length of exabytes, or garbage
            raise DaskUnavailable(f"something answers at {address!r}, but not as a Dask "
                                  f"scheduler: give the address 'dask scheduler' prints, or "
                                  f"use --dask local") from None
        first = (str(e).splitlines() or [type(e).__name__])[0]
        raise DaskUnavailable(f"no Dask scheduler answers at {address!r} within {timeout:g} s "
                              f"({first[:160]}): start one with 'dask scheduler' or use "
                              f"--dask local") from None
    finally:
        log.setLevel(level)
    return client, None


def run_sweep(case: Case, varies: Mapping[str, Sequence], folder: str | pathlib.Path, *,
              workers: int | None = None, dask: str | None = None, resume: bool = False,
              progress: Callable[[int, int], None] | None = None,
              on_case: Callable[[SweepRecord], None] | None = None,
              runner: Callable | None = None, dask_timeout: float = 5.0,
              restart_flames: bool = False) -> SweepOutcome:
    """Run every variant of case (see expand) and write the sweep into folder.

    workers: size of the process pool (default: the number of cores), or of the Dask
    LocalCluster for dask="local". dask: "tcp://host:port" of a scheduler (given up after
    dask_timeout seconds), or "local". resume: take the cases whose record is in folder
    from it instead of running them (CaseError when the folder's recorded --vary
    definition differs from `varies`); without it every case runs.
    progress(done, total) is called after each case; on_case(record) for each case that
    finishes (also the resumed ones). runner(case) -> RunResult replaces the run function
    of the case's kind (it must pickle by reference: a module-level function).
    restart_flames: each flame (burner or counterflow) starts from the solution of the last
    flame its worker solved with the same grid settings instead of from scratch (about ten
    times faster; the results then agree with fresh solves to Cantera's tolerances, not to
    the last digit, and depend on the order the cases ran in).
    Raises SweepInterrupted on Ctrl-C after writing what was finished."""
    variants = expand(case, varies)
    if workers is not None and (isinstance(workers, bool) or not isinstance(workers, int)
                                or workers < 1):
        raise CaseError(f"--workers must be a whole number of at least 1, got {workers!r}")
    if workers is not None and dask not in (None, "local"):
        raise CaseError("--workers sets the size of a process pool or of --dask local; a "
                        "Dask cluster at an address has its own workers")
    runners = {}
    for _, variant in variants:
        if variant.kind not in runners:
            runners[variant.kind] = runner or runner_for(variant.kind)
            if restart_flames and runner is None and variant.kind in ("flame", "counterflow"):
                runners[variant.kind] = functools.partial(runners[variant.kind], restart=True)
    definition = vary_definition(variants)
    if resume:
        check_resume(folder, definition)
    folder = prepare_folder(folder)
    write_text(folder / DEFINITION, json.dumps(
        {"case": case.name, "kind": case.kind, "vary": definition}, indent=1) + "\n")
    records = []
    for params, variant in variants:
        cid = case_id(variant, run_options(variant.kind, restart_flames and runner is None,
                                           runner))
        records.append(SweepRecord(params, variant, cid, folder / case_folder_name(params, cid)))
    outcome = SweepOutcome(folder, records)
    total = len(records)

    done = 0
    todo = []
    for r in records:
        if resume and _load_finished(r):
            r.resumed = True
            done += 1
            if on_case:
                on_case(r)
        else:
            todo.append(r)
    if progress:
        progress(done, total)

    def finish(record, kind, payload, tb, texts):
        nonlocal done
        record.warnings = list(texts)
        _record(outcome, record, kind, payload, tb)
        done += 1
        if on_case:
            on_case(record)
        if progress:
            progress(done, total)

    written = []

    def write_with(mapper):
        # the overlays drawn on the pool's idle workers, while it is still there
        _write_sweep(outcome, mapper=mapper)
        written.append(True)

    try:
        if todo and dask:
            _run_dask(dask, workers, dask_timeout, todo, runners, finish)
        elif todo:
            _run_pool(min(workers or os.cpu_count() or 1, len(todo)), todo, runners, finish,
                      outcome, after=write_with)
    except KeyboardInterrupt:
        outcome.interrupted = True
        _write_sweep(outcome, plots=False)  # the tables now; the overlays after a resume
        raise SweepInterrupted(outcome) from None
    if not written:
        _write_sweep(outcome)
    return outcome


def _drive(submit: Callable, items: list, finish: Callable, on_break: Callable | None = None,
           stop: Callable | None = None) -> None:
    """Submit every item, hand each outcome to finish as it arrives. Items whose pool
    broke go to on_break. On Ctrl-C, stop() cancels the rest before re-raising."""
    futures = {}
    try:
        with _sigint_ignored():  # a process pool starts its workers here: Ctrl-C stays ours
            for item in items:
                futures[submit(item)] = item
        for f in cf.as_completed(futures):
            item = futures.pop(f)
            try:
                kind, payload, tb, texts = f.result()
            except cf.process.BrokenProcessPool:
                if on_break is None:
                    finish(item, "error", "the worker process died while running this case "
                                          "(a crash in compiled code, or out of memory)", "", [])
                else:
                    on_break(item)
                continue
            except cf.CancelledError:
                finish(item, "error", "cancelled", "", [])
                continue
            except Exception as e:  # a result that did not pickle, a lost Dask worker, ...
                kind, payload, tb, texts = ("error", f"{type(e).__name__}: {e}",
                                            traceback.format_exc(), [])
            finish(item, kind, payload, tb, texts)
    except KeyboardInterrupt:
        for f in futures:
            f.cancel()
        if stop:
            stop()
        raise


def _run_pool(workers: int, todo: list, runners: dict, finish: Callable,
              outcome: SweepOutcome, after: Callable | None = None) -> None:
    """Run the cases on a process pool; `after(pool.map)` runs before the pool closes when
    every case ran (the pool's processes are on this machine and idle then)."""
    broken = []
    pool = _process_pool(workers)
    try:
        _drive(lambda r: pool.submit(_execute, runners[r.case.kind], r.case), todo, finish,
               on_break=broken.append, stop=lambda: _kill_pool(pool))
        if after is not None and not broken:
            after(pool.map)
    finally:
        pool.shutdown(wait=True, cancel_futures=True)
    if not broken:
        return
    # A worker died and took the cases queued with it: run those one per process, so
    # that only the case that crashes fails.
    outcome.notes.append(f"a worker process died; {len(broken)} case(s) were rerun one per "
                         f"process")
    for start in range(0, len(broken), workers):
        batch = broken[start:start + workers]
        pools = {}

        def submit(r):
            pools[r.case_id] = _process_pool(1)
            return pools[r.case_id].submit(_execute, runners[r.case.kind], r.case)

        def stop():
            for p in pools.values():
                _kill_pool(p)
        try:
            _drive(submit, batch, finish, stop=stop)
        finally:
            for p in pools.values():
                p.shutdown(wait=True, cancel_futures=True)


def _run_dask(address: str, workers: int | None, timeout: float, todo: list, runners: dict,
              finish: Callable) -> None:
    client, cluster = _dask_client(address, workers, timeout)
    executor = client.get_executor(pure=False)
    try:
        _drive(lambda r: executor.submit(_execute, runners[r.case.kind], r.case), todo, finish,
               stop=lambda: executor.shutdown(wait=False))
    finally:
        try:
            client.close()
        finally:
            if cluster is not None:
                cluster.close()


# ---- on disk --------------------------------------------------------------------------------

def check_resume(folder: str | pathlib.Path, definition: dict) -> None:
    """Refuse (CaseError) to resume a folder whose sweep varied something else
    (`definition`: vary_definition of the variants), or that holds cases of a sweep
    without a recorded definition."""
    folder = pathlib.Path(folder)
    recorded = read_vary(folder)
    if recorded is None:
        if (folder / INDEX).exists():
            raise CaseError(f"--resume: {str(folder)!r} has no readable {DEFINITION} (an "
                            f"older fumivex2 wrote it, or it is damaged), so what it varied "
                            f"is unknown: run the sweep without --resume, or into another "
                            f"folder")
        return  # nothing there yet: every case runs
    differences = vary_differences(recorded, definition)
    if differences:
        raise CaseError(f"--resume: the sweep in {str(folder)!r} was run with another "
                        f"--vary: {'; '.join(differences)} (resume with the same --vary, or "
                        f"give another --out)")


def _load_finished(record: SweepRecord) -> bool:
    """Take a case's result from its folder if a finished run of this very case (same id)
    left its record there: the tables are read back from their CSV files, the rest from
    record.json. Nothing is unpickled."""
    import pandas as pd

    try:
        data = json.loads((record.folder / RECORD).read_text())
        if data.get("format") != RECORD_FORMAT or data.get("id") != record.case_id:
            return False

        # every float as written (pandas 3 reads them exactly by default)
        exact = {} if int(pd.__version__.split(".")[0]) >= 3 else \
            {"float_precision": "round_trip"}

        def table(name):
            return None if name is None else pd.read_csv(record.folder / name, **exact)

        extra = dict(data.get("extra") or {})
        extra.update({k: table(v) for k, v in (data.get("tables") or {}).items()})
        result = RunResult(record.case, table(data["profiles"]), str(data["status"]),
                           str(data["message"]), run_time=float(data["run_time"]),
                           rates=table(data["rates"]), extra=extra)
        warnings_ = [str(w) for w in data.get("warnings") or ()]
    except (OSError, ValueError, KeyError, TypeError, AttributeError,
            pd.errors.ParserError, pd.errors.EmptyDataError):
        return False  # missing, torn or foreign: run it again
    record.result, record.status, record.message = result, result.status, result.message
    record.warnings = warnings_
    return True


def _json_keeps(value) -> bool:
    """Whether value comes back from JSON as it went in (NaN included)."""
    if isinstance(value, float):
        return True
    try:
        return json.loads(json.dumps(value)) == value
    except (TypeError, ValueError):
        return False


def _write_record(record: SweepRecord, result: RunResult) -> None:
    """The extra tables of the result as CSV files, then record.json (last, atomically)."""
    import pandas as pd

    extra, tables, dropped = {}, {}, []
    for k, v in result.extra.items():
        if isinstance(v, pd.DataFrame):
            tables[k] = f"extra_{_slug(k)}.csv"
            write_csv(v, record.folder / tables[k])
        elif _json_keeps(v):
            extra[k] = v
        else:
            dropped.append(k)
    data = {"format": RECORD_FORMAT, "id": record.case_id, "params": record.params,
            "status": result.status, "message": result.message,
            "run_time": result.run_time, "warnings": record.warnings,
            "profiles": "profiles.csv" if result.profiles is not None else None,
            "rates": "rates.csv" if result.rates is not None else None,
            "tables": tables, "extra": extra, "extra not kept": dropped,
            "versions": _versions()}
    write_text(record.folder / RECORD, json.dumps(data, indent=1, default=repr) + "\n")


def _record(outcome: SweepOutcome, record: SweepRecord, kind: str, payload, tb: str) -> None:
    """Write a finished case into its subfolder and the sweep index."""
    label = params_label(record.params)
    prepare_folder(record.folder)
    for stale in (RECORD, OLD_RESULT):  # an earlier run's record must not outlive its files
        with contextlib.suppress(FileNotFoundError):
            (record.folder / stale).unlink()
    if kind == "done":
        result = payload
        record.result, record.status, record.message = result, result.status, result.message
        # the sweep's plots are the overlays of all cases; per case, the tables only (drawn
        # here, in the one calling process, they would serialise the whole sweep)
        write_run(result, record.folder, label=label, notes=[f"sweep parameters: {label}"]
                  + [f"warning: {w}" for w in record.warnings], plots=False)
        _write_record(record, result)  # last: its presence means the case is done
    else:
        from .cases import case_to_toml

        record.status, record.message = "error", payload
        write_text(record.folder / "case.toml", case_to_toml(record.case))
        write_text(record.folder / "summary.txt",
                   f"RUN FAILED: {payload}\nsweep parameters: {label}\n"
                   + "".join(f"warning: {w}\n" for w in record.warnings))
        if tb:
            write_text(record.folder / "error.txt", tb)
    line = {"id": record.case_id, "params": record.params, "status": record.status,
            "message": record.message, "folder": record.folder.name,
            "run_time": record.result.run_time if record.result is not None else None,
            "time": time.strftime("%Y-%m-%dT%H:%M:%S")}
    with open(outcome.folder / INDEX, "a") as fh:
        fh.write(json.dumps(line, default=repr) + "\n")


def _write_sweep(outcome: SweepOutcome, plots: bool = True, mapper: Callable | None = None) -> None:
    finished = outcome.finished
    if finished:
        write_sweep(finished, outcome.folder, name=outcome.records[0].case.name, plots=plots,
                    mapper=mapper)
