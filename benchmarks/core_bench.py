"""The C++ core benchmark programs (native/bench/: soot_point_core.cpp,
viscosity_core.cpp): built from the core library alone with CMake, and run with
their arguments."""
import pathlib
import subprocess

ROOT = pathlib.Path(__file__).resolve().parents[1]


def core_program(target="soot_point_core"):
    """Builds the program (once per call; CMake skips what is up to date)."""
    build = ROOT / "build" / "bench"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DFUMIVEX2_PYTHON=OFF",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "--target", target], check=True,
                   stdout=subprocess.DEVNULL)
    return build / "native" / "bench" / target


def run_core(*args, target="soot_point_core"):
    """The program's output lines, split into words."""
    out = subprocess.run([str(core_program(target)), *map(str, args)], check=True,
                         capture_output=True, text=True).stdout
    return [line.split() for line in out.splitlines()]
