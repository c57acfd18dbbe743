"""The README's interactive examples (```python blocks starting with >>>) run as doctests."""
import doctest
import re
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[1] / "README.md"
BLOCK = re.compile(r"^```python[ \t]*\n(.*?)^```", re.MULTILINE | re.DOTALL)


def _sessions():
    if not README.is_file():
        return []
    text = README.read_text(encoding="utf-8")
    return [(text.count("\n", 0, found.start(1)) + 1, found.group(1))
            for found in BLOCK.finditer(text) if found.group(1).lstrip().startswith(">>>")]


SESSIONS = _sessions()


@pytest.mark.skipif(not README.is_file(), reason="README.md is not beside the tests")
def test_readme_has_sessions():
    assert SESSIONS, "README.md has no ```python block starting with >>>"


@pytest.mark.parametrize("line,source", SESSIONS, ids=[f"README.md:{line}" for line, _ in SESSIONS])
def test_readme_session(line, source):
    test = doctest.DocTestParser().get_doctest(source, {}, f"README.md:{line}", str(README), line - 1)
    report = []
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    result = runner.run(test, out=report.append)
    assert result.attempted > 0
    assert result.failed == 0, "".join(report)
