"""tools/board_picture.py, the repository's headless-Chromium tool, loaded for the tests (it is
a script, not part of the package), and the mark of tests that need a browser."""
import importlib.util
import pathlib

import pytest

TOOL = pathlib.Path(__file__).resolve().parents[2] / "tools" / "board_picture.py"


def _load():
    if not TOOL.exists():
        return None
    spec = importlib.util.spec_from_file_location("board_picture", TOOL)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


picture = _load()
needs_browser = pytest.mark.skipif(picture is None or picture.find_chromium() is None,
                                   reason="no headless Chromium (Debian: apt-get install chromium fonts-noto-cjk)")
