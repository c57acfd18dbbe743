"""The command-line tools: ``python -m velkorant convert ...``, ``... match ...``, ``... mate ...`` (also the ``velkorant`` script)."""

from __future__ import annotations

import sys
from collections.abc import Sequence

_COMMANDS = {
    "convert": "training data from game records (velkorant convert --help)",
    "match": "games between two USI engines, with Elo and SPRT (velkorant match --help)",
    "mate": "solve mating problems (velkorant mate --help)",
}


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command that the first argument names."""
    args = list(sys.argv[1:] if argv is None else argv)
    if not args or args[0] not in _COMMANDS:
        usage = "\n".join(f"  {name:10} {what}" for name, what in _COMMANDS.items())
        print(f"usage: velkorant COMMAND ...\ncommands:\n{usage}", file=sys.stderr)
        return 0 if args[:1] in (["-h"], ["--help"]) else 2
    import importlib

    module = importlib.import_module(f"velkorant.{args[0]}")
    return int(module.main(args[1:]))


if __name__ == "__main__":
    sys.exit(main())
