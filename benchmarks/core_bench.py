"""The C++ core benchmark program (native/bench/soot_point_core.cpp): built
from the core library alone with CMake, and run with its arguments."""
import pathlib
import subprocess

ROOT = pathlib.Path(__file__).resolve().parents[1]


def core_program():
    """Builds the program (once per call; CMake skips what is up to date)."""
    build = ROOT / "build" / "bench"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DFUMIVEX2_PYTHON=OFF",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "--target", "soot_point_core"], check=True,
                   stdout=subprocess.DEVNULL)
    return build / "native" / "bench" / "soot_point_core"


def run_core(*args):
    """The program's output lines, split into words."""
    out = subprocess.run([str(core_program()), *map(str, args)], check=True,
                         capture_output=True, text=True).stdout
    return [line.split() for line in out.splitlines()]
