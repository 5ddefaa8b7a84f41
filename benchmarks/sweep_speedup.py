"""Speed-up of a sweep on a process pool over the same cases run one after another.

Eight variants of the default plug-flow reactor case (reactor lengths 0.23 to 0.30 m, so
that the cases cost about the same) run (a) one after another with run_pfr in this
process (warm: no imports, no outputs), (b) as a sweep on 1 worker process and (c) as a
sweep on 2 worker processes; (b) and (c) are what the command does: start the pool, write
every case's tables as it finishes, then the overlay plots and the table of all runs.
Prints the wall times and the speed-ups (b)/(c) and (a)/(c), and the time the sweeps spend
after the last case (the overlay plots), which does not shrink with more workers.

Run after `pip install '.[run]'`:  python benchmarks/sweep_speedup.py [workers]
"""
import os
import sys
import tempfile
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import fumivex2 as fv  # noqa: E402
from fumivex2.cases import with_overrides  # noqa: E402
from fumivex2.sweep import run_sweep  # noqa: E402

LENGTHS = [0.23, 0.24, 0.25, 0.26, 0.27, 0.28, 0.29, 0.30]


def main(workers: int = 2) -> None:
    case = fv.default_case("pfr")
    fv.run_pfr(with_overrides(case, {"reactor.length": 0.05}))   # warm caches and imports
    t0 = time.perf_counter()
    for length in LENGTHS:
        result = fv.run_pfr(with_overrides(case, {"reactor.length": length}))
        assert result.ok, result.message
    serial = time.perf_counter() - t0
    timing = {}
    for n in (1, workers):
        with tempfile.TemporaryDirectory() as folder:
            last = []
            t0 = time.perf_counter()
            run_sweep(case, {"reactor.length": LENGTHS}, folder, workers=n,
                      on_case=lambda r: last.append(time.perf_counter()))
            total = time.perf_counter() - t0
            timing[n] = (total, total - (max(last) - t0))
    print(f"{len(LENGTHS)} default-reactor cases on {os.cpu_count()} cores (wall seconds)")
    print(f"  (a) one after another, run_pfr in this process:  {serial:7.2f}")
    for n, (total, tail) in timing.items():
        print(f"  sweep on {n} worker process{'es' if n > 1 else '  '} (with outputs):      "
              f"{total:7.2f}   of which {tail:.2f} after the last case")
    one, many = timing[1][0], timing[workers][0]
    print(f"  speed-up, sweep on 1 -> {workers} workers: {one / many:.2f}; "
          f"against (a): {serial / many:.2f} (target >= 1.7 on 2 workers)")
    work_one = timing[1][0] - timing[1][1]
    work_many = timing[workers][0] - timing[workers][1]
    print(f"  speed-up of the runs alone (up to the last case): {work_one / work_many:.2f}")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 2)
