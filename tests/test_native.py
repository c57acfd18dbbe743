"""The rules core's own C++ test (bit-set semantics, pieces, squares, hand, move text, and the
fast generator against a literal model), built from this checkout and run."""
import os
import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.mark.skipif(not (ROOT / "CMakeLists.txt").exists() or shutil.which("cmake") is None,
                    reason="needs the source tree and cmake")
@pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="the sanitizer run checks the module, not this build")
def test_native_rules(tmp_path):
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(tmp_path), *generator, "-DVELKORANT_NATIVE_TOOLS=ON",
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(tmp_path), "--target", "rules_test", "-j", "2"],
                   check=True, capture_output=True)
    result = subprocess.run([str(tmp_path / "rules_test")], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    assert result.stdout.strip().splitlines()[-1].endswith(" passed, 0 failed")
