"""The ``fumivex2`` command: run a reactor, a flame, a batch reactor or a stirred reactor
from a case file, sweep cases in parallel, show versions and the default cases.

Exit status: 0 done, 1 a run failed (its partial results are written), 2 a user error
(one line on stderr: the case file, a value, a missing file, bad --vary syntax ...),
3 a run ended without converged results (the soot stage's step budget used or not
converged; its results are written), 4 suspect: the run finished but a check of its
result failed (a balance, positivity, the soot variables' consistency, the recomputed
residual, or in a flame the soot takes more than a tenth of a growth species' flux: the
gas would feel the soot; results written, the checks in summary.txt and metrics.csv),
130 interrupted (Ctrl-C). A sweep exits with the first of 1, 3, 4 that any case has.
``--debug`` adds the traceback of any error. The statuses and their exit statuses are
defined in ``fumivex2.results`` (STATUSES).
"""
from __future__ import annotations

import argparse
import contextlib
import dataclasses
import os
import pathlib
import sys
import textwrap
import traceback
import warnings
from typing import Sequence

from .cases import Case, CaseError, case_to_toml, default_case, load_case
from . import results as R
from .results import exit_status

__all__ = ["main"]

# examples per command; `fumivex2 --help` shows them all, each command's --help its own
_EXAMPLES = {
    "pfr": """\
  fumivex2 pfr                          run the shipped sooting plug-flow reactor
  fumivex2 pfr --print-case > my.toml   start a case file of your own from the default
  fumivex2 pfr my.toml --out results/   run it, outputs into results/
""",
    "flame": """\
  fumivex2 flame                        run the shipped rich ethylene burner flame
  fumivex2 flame my.toml --data soot.csv:"Smith 2001"
                                        measured points on the plots, agreement in
                                        metrics.csv and summary.txt
""",
    "counterflow": """\
  fumivex2 counterflow                  run the shipped ethylene counterflow flame
  fumivex2 counterflow --print-case > cf.toml
                                        start a counterflow case file of your own
""",
    "batch": """\
  fumivex2 batch                        run the shipped ethylene shock-tube batch reactor
  fumivex2 batch --print-case > b.toml  start a batch case file of your own
  fumivex2 batch b.toml --data soot.csv
                                        measured soot against time ('time [ms]' column)
""",
    "psr": """\
  fumivex2 psr                          run the shipped stirred reactor and plug-flow section
  fumivex2 psr --print-case > wsr.toml  start a stirred-reactor case file of your own
""",
    "sweep": """\
  fumivex2 sweep my.toml --vary reactor.length=0.1,0.2 \\
                         --vary soot.growth_model=self_collision,cross_linking
                                        four cases on all cores of this machine
  fumivex2 sweep flame --vary "inlet.pressure=1 atm,2 atm"
                                        values with a unit, converted to the key's (Pa)
  fumivex2 sweep my.toml --vary reactor.velocity=0.25,0.5,1 --dask tcp://host:8786
  fumivex2 sweep my.toml --vary reactor.velocity=0.25,0.5,1 --out s1 --resume
  fumivex2 sweep b.toml --vary inlet.temperature=1600,1700,1800
                                        a batch reactor at three temperatures
""",
    "info": """\
  fumivex2 info                         versions and the default cases
""",
}
_STATUS = "\n" + textwrap.fill("exit status: " + R.exit_status_help(), width=88) + "\n"


def _epilog(*commands: str) -> str:
    return "examples:\n" + "".join(_EXAMPLES[c] for c in commands) + _STATUS


EXAMPLES = _epilog(*_EXAMPLES)

# the exit statuses, as fumivex2.results defines them for each way a run ends
EXIT_DONE, EXIT_FAILED, EXIT_NOT_CONVERGED, EXIT_SUSPECT = (
    exit_status(s) for s in (R.COMPLETED, R.FAILED, R.NOT_CONVERGED_WORD, R.SUSPECT))
EXIT_USAGE, EXIT_INTERRUPTED = R.EXIT_USAGE, R.EXIT_INTERRUPTED
RUN_KINDS = ("pfr", "flame", "counterflow", "batch", "psr")


class _Parser(argparse.ArgumentParser):
    """argparse with usage errors reported in one line."""

    def error(self, message):
        raise _UsageError(f"{self.prog}: error: {message} (see {self.prog} --help)")


class _UsageError(Exception):
    pass


def _build_parser() -> argparse.ArgumentParser:
    debug_only = _Parser(add_help=False)
    debug_only.add_argument("--debug", action="store_true", default=argparse.SUPPRESS,
                            help="show the traceback of any error")
    common = _Parser(add_help=False)
    common.add_argument("-q", "--quiet", action="store_true", default=argparse.SUPPRESS,
                        help="no progress bar or summary: print only the output folder")
    common.add_argument("--debug", action="store_true", default=argparse.SUPPRESS,
                        help="show the traceback of any error")
    fmt = argparse.RawDescriptionHelpFormatter
    parser = _Parser(prog="fumivex2", parents=[common], formatter_class=fmt, epilog=EXAMPLES,
                     description="Soot-forming plug-flow reactors, flames, batch and stirred "
                                 "reactors from a case file, with tables, plots and parallel "
                                 "sweeps.")
    sub = parser.add_subparsers(dest="command",
                                metavar="{pfr,flame,counterflow,batch,psr,sweep,info}")
    for kind, what in (("pfr", "a plug-flow reactor with soot"),
                       ("flame", "a burner-stabilised flame with soot"),
                       ("counterflow", "a counterflow diffusion flame with soot"),
                       ("batch", "a closed batch reactor (shock tube) with soot"),
                       ("psr", "a stirred reactor to its steady state with soot, then a "
                               "plug-flow section")):
        p = sub.add_parser(kind, parents=[common], formatter_class=fmt, epilog=_epilog(kind),
                           help=f"run {what}", description=f"Run {what}.")
        p.add_argument("case", nargs="?", metavar="CASE",
                       help="case file (TOML); default: the shipped default case")
        p.add_argument("--out", metavar="DIR",
                       help="output folder (default: <output.folder>/<case name>-<time>)")
        p.add_argument("--print-case", action="store_true",
                       help="print the case (default: the shipped one) as a commented case "
                            "file and exit")
        p.add_argument("--data", action="append", default=[], metavar="FILE[:LABEL]",
                       help="measured data (CSV, '<quantity> [<unit>]' headers) to draw on "
                            "the plots and compare in metrics.csv; repeat for more files")
    p = sub.add_parser("sweep", parents=[common], formatter_class=fmt, epilog=_epilog("sweep"),
                       help="run the Cartesian product of case variants in parallel",
                       description="Run every combination of the --vary values in parallel.")
    p.add_argument("case", metavar="CASE",
                   help="case file (TOML), or 'pfr' / 'flame' / 'counterflow' / 'batch' / "
                        "'psr' for a shipped default case")
    p.add_argument("--vary", action="append", default=[], metavar="KEY=V1,V2,...",
                   help="values of one case key (table.name): numbers in the key's SI unit "
                        "or with a unit ('reactor.length=10 cm,20 cm'); repeat for more keys")
    p.add_argument("--workers", type=int, metavar="N",
                   help="processes on this machine (default: the number of cores)")
    p.add_argument("--dask", metavar="ADDRESS",
                   help="run on a Dask cluster: tcp://host:port of its scheduler, or 'local'")
    p.add_argument("--dask-timeout", type=float, default=5.0, metavar="SECONDS",
                   help="give up on a Dask scheduler that does not answer (default 5)")
    p.add_argument("--restart-flames", action="store_true",
                   help="start each flame from the last flame its worker solved with the same "
                        "grid settings (about ten times faster; results agree with fresh "
                        "solves to Cantera's tolerances, not to the last digit)")
    p.add_argument("--resume", action="store_true",
                   help="take the cases already finished in the sweep folder from it "
                        "(--out; default: the newest sweep folder of this case with the "
                        "same --vary, named on stderr); without it every case runs")
    p.add_argument("--out", metavar="DIR",
                   help="sweep folder (default: <output.folder>/<case name>-sweep-<time>)")
    sub.add_parser("info", parents=[debug_only], formatter_class=fmt, epilog=_epilog("info"),
                   help="versions, build and the default cases",
                   description="Versions of fumivex2 and its dependencies, how the extension "
                               "was built, and the default cases.")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    parser = _build_parser()
    argv = list(sys.argv[1:] if argv is None else argv)
    try:
        args = parser.parse_args(argv)
    except _UsageError as e:
        _error(str(e), prefix=False)
        return EXIT_USAGE
    except SystemExit as e:  # --help
        return e.code if isinstance(e.code, int) else 0
    debug = getattr(args, "debug", False)
    quiet = getattr(args, "quiet", False)
    if args.command is None:
        _error("fumivex2: choose a command: pfr, flame, counterflow, batch, psr, sweep or info "
               "(see fumivex2 --help)", prefix=False)
        return EXIT_USAGE
    handler = {"pfr": _cmd_run, "flame": _cmd_run, "counterflow": _cmd_run,
               "batch": _cmd_run, "psr": _cmd_run, "sweep": _cmd_sweep, "info": _cmd_info}
    _SHOWN.clear()
    with warnings.catch_warnings():
        warnings.showwarning = _show_warning
        try:
            return handler[args.command](args, quiet)
        except CaseError as e:
            _trace(debug)
            _error(str(e))
            return EXIT_USAGE
        except KeyboardInterrupt:
            _trace(debug)
            _error("interrupted")
            return EXIT_INTERRUPTED
        except BrokenPipeError:  # output piped into head and the like: stop quietly
            with contextlib.suppress(OSError):
                os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return 1
        except OSError as e:
            _trace(debug)
            where = f": {e.filename}" if e.filename else ""
            _error(f"{e.strerror or e}{where}" + ("" if debug else _DEBUG_HINT))
            return 1
        except Exception as e:
            _trace(debug)
            _error(f"{type(e).__name__}: {e}" + ("" if debug else _DEBUG_HINT))
            return 1


_DEBUG_HINT = " (rerun with --debug for the traceback)"


def _error(message: str, prefix: bool = True) -> None:
    line = " ".join(str(message).split())  # one line, whatever the message holds
    print(f"fumivex2: error: {line}" if prefix else line, file=sys.stderr, flush=True)


def _trace(debug: bool) -> None:
    if debug:
        traceback.print_exc(file=sys.stderr)


# the warnings this command has printed: each text once (a case read, then expanded into
# a sweep's variants, warns of the same value more than once)
_SHOWN: set = set()


def _show_warning(message, category, filename, lineno, file=None, line=None):
    text = " ".join(str(message).split())
    if text not in _SHOWN:
        _SHOWN.add(text)
        print(f"fumivex2: warning: {text}", file=sys.stderr, flush=True)


# ---- cases ----------------------------------------------------------------------------------

def _load(path: str | None, kind: str | None) -> Case:
    """The case of the command line: a file, or the default case of kind."""
    if path is None:
        return default_case(kind)
    if kind is None and path in RUN_KINDS and not os.path.exists(path):
        return default_case(path)
    case = load_case(path)
    if kind is not None and case.kind != kind:
        raise CaseError(f"{path}: the case is a {case.kind} case: run it with fumivex2 "
                        f"{case.kind} {path}")
    return case


# ---- progress -------------------------------------------------------------------------------

class _Progress:
    """A tqdm bar on stderr, shown once a run has taken a second; off when quiet, when
    stderr is not a terminal, or without tqdm. A run in stages (Cantera's flame solve,
    then the soot stage) starts each with stage(what, unit): the bar then shows that
    stage; a total of None shows the count reached and the elapsed time only (Cantera's
    grid size as it refines)."""

    def __init__(self, what: str, unit: str, quiet: bool, fmt: str = "{n:.0f}/{total:.0f}"):
        self.bar = None
        self.off = quiet
        self.what, self.unit, self.fmt = what, unit, fmt
        self.name = what

    def stage(self, what: str, unit: str = "") -> None:
        self.close()
        self.what, self.unit = f"{self.name}: {what}", unit
        if not self.off and not unit:  # a stage without counts: its name and elapsed time
            self(0, None)

    def __call__(self, reached: float, total: float | None) -> None:
        if self.off:
            return
        if self.bar is not None and (total is None) != (self.bar.total is None):
            self.close()
        if self.bar is None:
            try:
                from tqdm import tqdm
            except ImportError:
                self.off = True
                return
            if total is None:
                unit = f" {self.unit}" if self.unit else ""
                fmt = "{desc}: " + ("{n:.0f}" + unit + " " if self.unit else "") + "[{elapsed}]"
            else:
                fmt = ("{desc}: {percentage:3.0f}%|{bar}| " + self.fmt + f" {self.unit}"
                       + " [{elapsed}<{remaining}]")
            self.bar = tqdm(total=total, desc=self.what, delay=1.0, file=sys.stderr,
                            disable=None, leave=False, dynamic_ncols=True, bar_format=fmt)
        if total is None:
            self.bar.update(reached - self.bar.n)
            return
        if total != self.bar.total:
            self.bar.total = total
        reached = min(max(reached, 0), total)  # an integrator may step past the end
        self.bar.update(reached - self.bar.n)

    def write(self, text: str) -> None:
        if self.bar is not None:
            self.bar.write(text, file=sys.stderr)
        else:
            print(text, file=sys.stderr, flush=True)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
            self.bar = None


# ---- pfr and flame --------------------------------------------------------------------------

def _cmd_run(args, quiet: bool) -> int:
    from .output import default_folder, prepare_folder, summary_lines, write_run
    from .sweep import runner_for

    from .measured import data_specs_from_args, load_data

    kind = args.command
    case = _load(args.case, kind)
    if args.data:
        case = dataclasses.replace(case, data=case.data + data_specs_from_args(args.data))
    if args.print_case:
        sys.stdout.write(case_to_toml(case))
        return 0
    load_data(case)  # a bad data file is a user error before the run, not after it
    runner = runner_for(kind)
    created = not (args.out and pathlib.Path(args.out).exists())
    folder = prepare_folder(args.out) if args.out else default_folder(case)
    if kind == "pfr":
        progress = _Progress("reactor", "m", quiet, "z {n:.3g}/{total:.3g}")
    elif kind == "batch":
        progress = _Progress("batch reactor", "s", quiet, "t {n:.3g}/{total:.3g}")
    elif kind == "psr":
        progress = _Progress("psr", "", quiet, "{n:.3g}/{total:.3g}")
    else:
        progress = _Progress(kind, "steps", quiet)
    try:
        result = runner(case, progress=progress)
    except CaseError as e:  # found while setting up (species, inlet): named like load errors
        progress.close()
        if created:
            _remove_if_empty(folder)
        raise CaseError(_from_file(args.case, str(e))) from None
    except BaseException:
        progress.close()
        if created:
            _remove_if_empty(folder)
        raise
    progress.close()
    write_run(result, folder)
    if quiet:
        print(folder)
    else:
        for line in summary_lines(result):
            print(line)
        print(f"outputs in {folder}")
    if not result.ok:
        rows = 0 if result.profiles is None else len(result.profiles)
        where = (f"the results up to there are in {folder}" if rows else
                 f"nothing was computed; the case and summary are in {folder}")
        _error(f"the run failed: {result.message} ({where})")
        return EXIT_FAILED
    if not result.converged:
        _error(f"the run did not converge: {result.message} (its results are in {folder})")
        return EXIT_NOT_CONVERGED
    if result.suspect:
        failed = "".join(f"{c['name']}; " for c in result.checks if not c["passed"])
        why = result.message.split(" (", 1)[0].removeprefix(f"{result.status}: ")
        _error(f"the run is suspect: {why} ({failed}the "
               f"checks are in {folder / 'summary.txt'})")
        return exit_status(result.status)
    return EXIT_DONE


def _from_file(path: str | None, message: str) -> str:
    """message starting with the case file's name, as the errors found in reading it do."""
    if not path or not os.path.isfile(path) or message.startswith(f"{path}: "):
        return message
    return f"{path}: {message}"


def _remove_if_empty(folder: pathlib.Path) -> None:
    with contextlib.suppress(OSError):
        folder.rmdir()


# ---- sweeps ---------------------------------------------------------------------------------

def _cmd_sweep(args, quiet: bool) -> int:
    from .output import default_folder, params_label, prepare_folder
    from .results import NOT_CONVERGED, SUSPECT
    from .sweep import (SweepInterrupted, check_resume, expand, parse_vary, run_sweep,
                        vary_definition)

    from .measured import load_data

    case = _load(args.case, None)
    load_data(case)
    if not args.vary:
        raise CaseError("a sweep needs at least one --vary KEY=V1,V2,... (for example "
                        "--vary reactor.length=0.1,0.2)")
    varies = {}
    for text in args.vary:
        key, values = parse_vary(text)
        if key in varies:
            raise CaseError(f"--vary {key} is given twice: list all its values in one --vary")
        varies[key] = values
    variants = expand(case, varies)  # every variant checked before anything runs
    total = len(variants)
    if args.workers is not None and args.workers < 1:
        raise CaseError(f"--workers must be at least 1, got {args.workers}")
    if args.dask_timeout <= 0:
        raise CaseError(f"--dask-timeout must be a positive number of seconds, "
                        f"got {args.dask_timeout:g}")
    latest = _latest_sweep(case, vary_definition(variants)) if args.resume and not args.out \
        else None
    if args.resume and args.out:  # refused before anything is printed or created
        check_resume(args.out, vary_definition(variants))
    created = not (args.out and pathlib.Path(args.out).exists()) and latest is None
    if args.out:
        folder = prepare_folder(args.out)
    else:
        folder = latest or default_folder(case, suffix="-sweep")
    if args.resume and not args.out:  # a folder the user did not name: say which
        if latest:
            note = (f"resuming {folder}, the newest sweep of {case.name!r} with the same "
                    f"--vary (--out DIR to choose another)")
        else:
            note = (f"no earlier sweep of {case.name!r} with the same --vary; starting "
                    f"{folder}")
        print(f"fumivex2: --resume: {note}", file=sys.stderr, flush=True)
    progress = _Progress("sweep", "cases", quiet)
    if args.dask == "local":
        where = f"a local Dask cluster of {args.workers or os.cpu_count() or 1} workers"
    elif args.dask:
        where = f"the Dask cluster at {args.dask}"
    else:
        where = f"{min(args.workers or os.cpu_count() or 1, total)} processes"
    if not quiet:  # a new folder for a Dask cluster is named once the cluster answers
        named = "" if args.dask and created else f"; outputs in {folder}"
        print(f"{total} cases on {where}{named}", flush=True)

    def on_case(record):
        for text in record.warnings:  # each warning once per sweep
            if text not in _SHOWN:
                _SHOWN.add(text)
                progress.write(f"fumivex2: warning: {text}")
        if record.status in ("failed", "error"):
            progress.write(f"fumivex2: case {params_label(record.params)} failed: "
                           f"{' '.join(record.message.split())}")
            if getattr(args, "debug", False) and (record.folder / "error.txt").exists():
                progress.write(f"  traceback in {record.folder / 'error.txt'}")

    try:
        outcome = run_sweep(case, varies, folder, workers=args.workers, dask=args.dask,
                            resume=args.resume, progress=progress, on_case=on_case,
                            dask_timeout=args.dask_timeout,
                            restart_flames=args.restart_flames)
    except SweepInterrupted as e:
        progress.close()
        n = len(e.outcome.finished)
        _error(f"interrupted: {n} of {total} cases finished and are in {folder}; rerun with "
               f"--resume --out {folder} to run the rest")
        return EXIT_INTERRUPTED
    except BaseException:  # nothing ran (no Dask scheduler, ...): no empty folder left
        if created and not any(folder.glob("*/record.json")):
            with contextlib.suppress(OSError):
                (folder / "sweep.json").unlink()
            _remove_if_empty(folder)
        raise
    finally:
        progress.close()
    failed = outcome.failed
    resumed = sum(r.resumed for r in outcome.records)
    if quiet:
        print(folder)
    else:
        text = f"{total} cases: {total - len(failed)} finished"
        if resumed:
            text += f" ({resumed} from an earlier run)"
        if failed:
            text += f", {len(failed)} failed (see sweep_summary.csv)"
        unconverged = sum(r.status in NOT_CONVERGED for r in outcome.records)
        if unconverged:
            text += f", {unconverged} not converged"
        suspect = sum(r.status == SUSPECT for r in outcome.records)
        if suspect:
            text += f", {suspect} suspect (a check failed: see sweep_summary.csv)"
        print(text)
        for note in outcome.notes:
            print(f"note: {note}")
        print(f"outputs in {folder}")
    if failed:
        return EXIT_FAILED
    if any(r.status in NOT_CONVERGED for r in outcome.records):
        return EXIT_NOT_CONVERGED
    if any(r.status == SUSPECT for r in outcome.records):
        return EXIT_SUSPECT
    return EXIT_DONE


def _latest_sweep(case: Case, definition: dict) -> pathlib.Path | None:
    """The newest sweep folder of the case (in its output.folder) whose recorded --vary
    is `definition`."""
    from .output import _slug
    from .sweep import read_vary, vary_differences

    root = pathlib.Path(case.output.folder)
    found = [p for p in root.glob(f"{_slug(case.name) or 'case'}-sweep-*")
             if (vary := read_vary(p)) is not None and not vary_differences(vary, definition)]
    return max(found, key=lambda p: p.stat().st_mtime) if found else None


# ---- info -----------------------------------------------------------------------------------

PACKAGES = (("NumPy", "numpy"), ("Cantera", "cantera"), ("SciPy", "scipy"),
            ("pandas", "pandas"), ("Matplotlib", "matplotlib"), ("tqdm", "tqdm"),
            ("Dask", "dask"), ("Dask distributed", "distributed"),
            ("scikit-sundae", "scikit-sundae"), ("pint", "pint"))


def _version(dist: str) -> str:
    from importlib import metadata

    try:
        return metadata.version(dist)
    except metadata.PackageNotFoundError:
        return "not installed"


def build_flags(ext_path: str | None) -> str:
    """How the extension was built: the build_info.json installed beside it (build type,
    compiler, flags, sanitizers), else which sanitizers its symbols show."""
    import json

    if ext_path:
        info_file = pathlib.Path(ext_path).with_name("build_info.json")
        try:
            info = json.loads(info_file.read_text())
            text = (f"{info.get('build_type', '?')} build, {info.get('compiler', '?')}, "
                    f"flags '{info.get('cxx_flags', '').strip()}', ")
            if "link_flags" in info:
                text += f"link flags '{info['link_flags'].strip()}', "
            return text + f"sanitizers {info.get('sanitizers', '?')}"
        except (OSError, ValueError):
            pass
    if not ext_path:
        return "unknown"
    try:
        data = pathlib.Path(ext_path).read_bytes()
    except OSError:
        return "unknown (the extension file cannot be read)"
    found = [name for name, mark in (("AddressSanitizer", b"__asan_init"),
                                     ("UndefinedBehaviorSanitizer", b"__ubsan_handle"))
             if mark in data]
    return ("sanitizer build: " + ", ".join(found)) if found else "no sanitizers"


def _case_line(case: Case) -> list:
    i, s = case.inlet, case.soot
    pahs = ", ".join(case.species.pahs) or "pyrene (A4)"
    inlet = (f"{i.fuel} / {i.oxidizer} at phi {i.equivalence_ratio:g}" if i.fuel
             else f"{i.composition} ({i.basis} fractions)")
    lines = [f"  {case.kind:<5} {case.name!r} on {case.mechanism.file}",
             f"        inlet {inlet}, {i.temperature:g} K, {i.pressure:g} Pa"]
    if case.kind == "pfr":
        r, t = case.reactor, case.temperature
        flow = f"{r.mass_flux:g} kg/(m2 s)" if r.mass_flux else f"{r.velocity:g} m/s"
        size = (f"{r.residence_time:g} s" if r.residence_time else f"{r.length:g} m")
        wall = ("wall T " + ", ".join(f"{T:g}" for T in t.wall_profile[1]) + " K at z "
                + ", ".join(f"{z:g}" for z in t.wall_profile[0]) + " m"
                if t.mode == "wall" else "prescribed temperature history")
        lines.append(f"        duct {r.diameter * 1e3:g} mm, {flow}, {size}; {wall}")
    elif case.kind == "batch":
        b = case.batch
        energy = "adiabatic" if b.energy else f"held at {i.temperature:g} K"
        lines.append(f"        closed, constant {b.constant}, {energy}, {b.end_time * 1e3:g} ms")
    elif case.kind == "psr":
        p = case.psr
        energy = "adiabatic" if p.energy else f"held at {i.temperature:g} K"
        after = (f"; then {p.pfr_length * 1e2:g} cm of plug flow ({p.pfr_thermal})"
                 if p.pfr_length > 0 else "")
        lines.append(f"        stirred, {p.volume * 1e6:g} cm3, residence time "
                     f"{p.residence_time * 1e3:g} ms, {energy}{after}")
    elif case.kind == "flame":
        f, ss = case.flame, case.soot_solver
        flow = f"{f.mass_flux:g} kg/(m2 s)" if f.mass_flux else f"{f.velocity:g} m/s"
        temp = "imposed temperature" if f.temperature_profile else "freely burning"
        lines.append(f"        burner {flow}, domain {f.width * 1e3:g} mm, {temp}; "
                     f"soot grid {ss.points} points, {ss.method} solve")
    else:
        c, ss = case.counterflow, case.soot_solver
        lines[-1] = (f"        fuel {c.fuel} at {c.fuel_temperature:g} K against {c.oxidizer} "
                     f"at {c.oxidizer_temperature:g} K, {c.pressure:g} Pa")
        lines.append(f"        {c.width * 1e3:g} mm apart; soot grid {ss.points} points, "
                     f"{ss.method} solve")
    lines.append(f"        soot: {s.growth_model} growth, PAHs {pahs}"
                 + ("" if s.enabled else " (soot off)"))
    return lines


def _cmd_info(args, quiet: bool) -> int:
    import platform

    from . import _fumivex2

    path = getattr(_fumivex2, "__file__", None)
    print(f"fumivex2 {_own_version()}")
    print(f"  extension: {path or 'built in'}")
    print(f"  build: {build_flags(path)}")
    print(f"Python {platform.python_version()} ({sys.executable})")
    for label, dist in PACKAGES:
        print(f"  {label:<17} {_version(dist)}")
    if _version("cantera") != "not installed":
        from .viscosity import info_lines
        for line in info_lines():
            print(line)
    print("default cases (fumivex2 KIND --print-case):")
    for kind in RUN_KINDS:
        for line in _case_line(default_case(kind)):
            print(line)
    return 0


def _own_version() -> str:
    """The installed version, or where the imported package comes from when that is not
    the installed one (a development tree on PYTHONPATH)."""
    from importlib import metadata

    here = pathlib.Path(__file__).resolve().parent
    try:
        dist = metadata.distribution("fumivex2")
    except metadata.PackageNotFoundError:
        return f"(not installed; imported from {here})"
    there = pathlib.Path(str(dist.locate_file("fumivex2"))).resolve()
    if there == here:
        return dist.version
    return f"(imported from {here}; version {dist.version} is installed at {there})"
