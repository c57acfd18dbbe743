"""Helpers the tests share.

- surface: reading the module's objects in plain terms (squares, moves, hands, placements), the
  fatal-failure type, and the re-entrant integer that calls back into the library.
- engines: the module and the test model behind one interface, for tests that run on both.
- workload: the mixed-call workload of the leak checks (the suite's and tools/sanitize.sh's).
- engines_usi: real USI engines as oracles of the full rules.
- fake_engine: a stand-in USI engine with faults on cue (a script: fake_engine.command(...)).
- browser: tools/board_picture.py (headless Chromium) and the mark of the tests that need it.

The tests import these as `from support.surface import ...`: pytest puts tests/ on sys.path
(tests/ has no __init__.py), the same way `import model` finds the test model.
"""
