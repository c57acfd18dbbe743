"""The rules core's own C++ tests (tests/native/*_test.cpp: bit-set semantics, pieces, squares,
hand, move text, the fast generator against a literal model, the full rules, the board
picture), built from this checkout without the Python module and run by ctest."""
import os
import pathlib
import re
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
NATIVE_TESTS = sorted((ROOT / "tests" / "native").glob("*_test.cpp"))


@pytest.mark.skipif(not (ROOT / "CMakeLists.txt").exists() or shutil.which("cmake") is None
                    or shutil.which("ctest") is None, reason="needs the source tree, cmake and ctest")
@pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="the sanitizer run checks the module, not this build")
def test_native_tests(tmp_path):
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(tmp_path), *generator, "-DVELKORANT_NATIVE_TOOLS=ON",
                    "-DVELKORANT_MODULE=OFF", "-DCMAKE_BUILD_TYPE=Release"], check=True, capture_output=True)
    build = subprocess.run(["cmake", "--build", str(tmp_path), "-j", "2"], capture_output=True, text=True)
    assert build.returncode == 0, build.stdout[-3000:] + build.stderr[-3000:]
    result = subprocess.run(["ctest", "--output-on-failure"], cwd=tmp_path, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout[-6000:] + result.stderr[-3000:]
    summary = re.search(r"(\d+)% tests passed(?:, \d+ tests failed)? out of (\d+)", result.stdout)
    assert summary, result.stdout[-3000:]
    assert summary.groups() == ("100", str(len(NATIVE_TESTS))), "every native test is registered and passes"
