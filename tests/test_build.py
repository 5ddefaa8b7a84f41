"""How the extension is built: IEEE arithmetic left as the process had it (no
flush-to-zero or denormals-are-zero after import or use), fast-math style options refused
when the build is configured, and build_info.json telling the flags the compiler got."""
import json
import os
import pathlib
import platform
import re
import shutil
import subprocess
import sys

import pytest

import fumivex2._fumivex2 as ext

ROOT = pathlib.Path(__file__).resolve().parents[1]
TESTS = pathlib.Path(__file__).resolve().parent

# Runs in a fresh interpreter: the floating-point modes before the extension is imported,
# after the import, and after a flame solver step (which reads and rewrites MXCSR to
# clear the IEEE exception flags). Each mode is read twice: from the arithmetic itself
# (a normal number divided into the subnormal range is flushed to 0 under FTZ; a
# subnormal operand is read as 0 under DAZ), and on x86-64 with glibc from the MXCSR
# register as fegetenv saves it (FTZ bit 15, DAZ bit 6).
PROBE = r"""
import contextlib, ctypes, io, json, platform, sys
import numpy as np

def mxcsr():
    if platform.machine() != "x86_64" or platform.libc_ver()[0] != "glibc":
        return None
    env = (ctypes.c_ubyte * 32)()  # fenv_t; __mxcsr is its last 4 bytes
    if ctypes.CDLL("libm.so.6").fegetenv(env) != 0:
        return None
    return int.from_bytes(bytes(env[28:32]), sys.byteorder)

def modes():
    tiny, subnormal = float(sys.argv[1]), float(sys.argv[2])  # not folded at compile time
    scale = 2.0 ** 600
    m = {"python_ftz": tiny / 4.0 == 0.0, "python_daz": subnormal * scale == 0.0,
         "numpy_ftz": bool(np.float64(tiny) / 4.0 == 0.0),
         "numpy_daz": bool(np.float64(subnormal) * scale == 0.0)}
    csr = mxcsr()
    if csr is not None:
        m["mxcsr_ftz"], m["mxcsr_daz"] = bool(csr & 0x8000), bool(csr & 0x0040)
    return m

seen = [modes()]
import fumivex2._fumivex2
seen.append(modes())
sys.path.insert(0, sys.argv[3])
import test_flame_solver as tfs
with contextlib.redirect_stdout(io.StringIO()):
    tfs.make(steps=1).solve()
seen.append(modes())
print(json.dumps(seen))
"""


def test_import_and_use_leave_flush_to_zero_and_denormals_as_they_were():
    out = subprocess.run([sys.executable, "-c", PROBE, "2.2e-308", "5e-324", str(TESTS)],
                         capture_output=True, text=True, timeout=120, check=True).stdout
    before, imported, used = json.loads(out.splitlines()[-1])
    assert not any(before.values()), before  # the interpreter starts with both off
    assert imported == before and used == before
    if platform.machine() == "x86_64" and platform.libc_ver()[0] == "glibc":
        assert "mxcsr_ftz" in before and "mxcsr_daz" in before


# ---- build_info.json -------------------------------------------------------------------

UNSAFE = ("-ffast-math", "-Ofast", "-funsafe-math-optimizations", "-ffp-contract=fast",
          "-fassociative-math", "-freciprocal-math", "-ffinite-math-only")


@pytest.fixture(scope="module")
def build():
    so = pathlib.Path(ext.__file__)
    info_file = so.with_name("build_info.json")
    if not info_file.exists():
        pytest.skip("the extension was not installed with its build_info.json")
    return json.loads(info_file.read_text()), so.read_bytes()


def producers(binary):
    """The compile lines GCC recorded in the debug information (DW_AT_producer)."""
    return [m.decode() for m in re.findall(rb"GNU C\+\+[0-9]* [^\x00]*", binary)]


def fp_options(flags):
    """The options that decide optimisation and floating-point semantics."""
    return [w for w in flags.split() if re.match(r"-O|-ffp-contract=|-f(no-)?fast-math$", w)]


def test_build_info_tells_the_flags_the_compiler_got(build):
    info, binary = build
    for key in ("build_type", "compiler", "cxx_flags", "core_cxx_flags", "link_flags",
                "sanitizers"):
        assert info[key], key
    for key in ("cxx_flags", "core_cxx_flags"):
        words = info[key].split()
        # IEEE semantics appended after whatever came from the toolchain or the user
        assert [w for w in words if w.startswith("-ffp-contract=")][-1] == "-ffp-contract=off"
        assert "-fno-fast-math" in words
    for key in ("cxx_flags", "core_cxx_flags", "link_flags"):
        assert not set(info[key].split()) & set(UNSAFE), info[key]
    # the binary's own evidence: sanitizer runtime calls, the compiler's note
    assert ("address" in info["sanitizers"]) == (b"__asan_init" in binary)
    assert ("undefined" in info["sanitizers"]) == (b"__ubsan_handle" in binary)
    if info["compiler"].startswith("GNU "):
        version = info["compiler"].split()[1].encode()
        assert re.search(rb"GCC: \([^)]*\) " + re.escape(version), binary)
    # with debug information, GCC's record of each compile line: optimisation and
    # floating-point options the same as written down
    lines = producers(binary)
    if not lines:
        return
    for recorded in (info["cxx_flags"], info["core_cxx_flags"]):
        assert any(fp_options(line) == fp_options(recorded) for line in lines), (recorded, lines)
    for line in lines:
        assert fp_options(line) in (fp_options(info["cxx_flags"]),
                                    fp_options(info["core_cxx_flags"])), line


# ---- configuring the build -------------------------------------------------------------

def cmake_tools():
    """cmake and a build program for it (from PATH or from the cmake and ninja wheels)."""
    cmake = shutil.which("cmake")
    ninja = shutil.which("ninja")
    try:
        import cmake as cmake_wheel
        cmake = cmake or os.path.join(cmake_wheel.CMAKE_BIN_DIR, "cmake")
    except ImportError:
        pass
    try:
        import ninja as ninja_wheel
        ninja = ninja or os.path.join(ninja_wheel.BIN_DIR, "ninja")
    except ImportError:
        pass
    if not cmake or not (ROOT / "CMakeLists.txt").exists():
        pytest.skip("needs cmake and the source tree")
    if ninja:
        return cmake, ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"]
    if shutil.which("make"):
        return cmake, ["-G", "Unix Makefiles"]
    pytest.skip("needs ninja or make")


def test_configure_refuses_fast_math_from_the_environment(tmp_path):
    """CXXFLAGS and LDFLAGS reach CMake's compile and link flag variables; an option
    that relaxes IEEE arithmetic in either stops the configuration before anything is
    built, and the message names exactly those options."""
    cmake, generator = cmake_tools()
    env = dict(os.environ, LDFLAGS="-Wl,-O1 -Ofast",
               CXXFLAGS="-O2 -ffast-math -fno-fast-math -ffp-contract=on -fno-signed-zeros")
    r = subprocess.run([cmake, "-S", str(ROOT), "-B", str(tmp_path / "b"), *generator,
                        "-DFUMIVEX2_PYTHON=OFF"], capture_output=True, text=True,
                       timeout=300, env=env)
    assert r.returncode != 0
    err = " ".join(r.stderr.split())
    assert "fumivex2 must be built with IEEE floating-point semantics" in err
    assert ('CMAKE_CXX_FLAGS = "-O2 -ffast-math -fno-fast-math -ffp-contract=on '
            '-fno-signed-zeros" (refused: -ffast-math -fno-signed-zeros)') in err
    for kind in ("EXE", "SHARED", "MODULE"):
        assert f'CMAKE_{kind}_LINKER_FLAGS = "-Wl,-O1 -Ofast" (refused: -Ofast)' in err
    assert not (tmp_path / "b" / "build.ninja").exists()
    assert not (tmp_path / "b" / "Makefile").exists()
