"""A stand-in USI engine in Python, with a fault on cue, for tests of velkorant.usi and matches.

    python tests/support/fake_engine.py [--name NAME] [--seed N] [--ready-delay SECONDS] [N:ACTION ...]

It declares a few options (and writes each one set, and each ``go``, to its error stream)
and answers every ``go`` with a random legal move (velkorant's, from a seeded generator) and an
``info`` line, except at its own N-th ``go`` (1 for its first move of the process; ``N+:ACTION``
from its N-th on), where ACTION is one of:

    die        exits with status 3 (after a line on its error stream)
    hang       never answers again
    illegal    plays a move the rules refuse (its king two squares forward)
    garbage    writes a line that is not USI
    resign     bestmove resign
    win        bestmove win (a declaration, whether or not the rules allow it)
    none       bestmove (none)
    late:S     sleeps S seconds, then answers
    say:TEXT   writes TEXT between its info and its bestmove (underscores stand for spaces,
               "|" separates lines)

``--ready-delay`` makes every ``readyok`` come that many seconds late. ``command(...)`` gives the
argument list that starts it with this Python.
"""
from __future__ import annotations

import argparse
import random
import sys
import time
from pathlib import Path

OPTIONS = [
    "option name Threads type spin default 1 min 1 max 8",
    "option name Style type combo default Normal var Solid var Normal var Risky Play",
    "option name Ponder type check default false",
    "option name Book File type string default <empty>",
    "option name Clear Hash type button",
]


def command(*args: str) -> list[str]:
    """The command line of a fake engine with these arguments."""
    return [sys.executable, str(Path(__file__).resolve()), *args]


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", default="fake")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--ready-delay", type=float, default=0.0)
    parser.add_argument("cues", nargs="*")
    args = parser.parse_args(argv)
    cues = {n: action for n, action in (cue.split(":", 1) for cue in args.cues)}

    import velkorant  # late: the handshake of a fault-free fake does not wait on the import

    rng = random.Random(args.seed)
    game = velkorant.Game()
    searches = 0

    def say(*lines: str) -> None:
        print(*lines, sep="\n", flush=True)

    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "usi":
            say(f"id name {args.name}", "id author velkorant tests", *OPTIONS, "usiok")
        elif words[0] == "isready":
            time.sleep(args.ready_delay)
            say("readyok")
        elif words[0] == "setoption":
            print("set", line.split(" name ", 1)[1].strip(), file=sys.stderr, flush=True)
        elif words[0] == "position":
            game = velkorant.Game.from_usi(line.split(None, 1)[1])
        elif words[0] == "go":
            print(line.strip(), file=sys.stderr, flush=True)
            searches += 1
            onward = [int(n[:-1]) for n in cues if n.endswith("+") and int(n[:-1]) <= searches]
            action = cues.get(str(searches)) or (cues[f"{max(onward)}+"] if onward else "")
            if action == "die":
                print(f"{args.name}: dying at move {searches}", file=sys.stderr, flush=True)
                return 3
            if action == "hang":
                for _ in sys.stdin:  # reads on, never answers
                    pass
                return 0
            if action.startswith("late:"):
                time.sleep(float(action[5:]))
            moves = game.legal_moves()
            best = rng.choice(moves).usi() if moves else "resign"
            if action == "illegal":
                king = "5i5g" if game.turn == velkorant.ColorType.Black else "5a5c"
                best = king if king not in {m.usi() for m in moves} else "9i9a"
            elif action == "garbage":
                say("\x01 this is no USI at all")
                continue
            elif action in ("resign", "win"):
                best = action
            elif action == "none":
                best = "(none)"
            say(f"info depth 1 seldepth 2 score cp {rng.randint(-50, 50)} nodes {len(moves)} nps 1000 time 1"
                f" pv {best}")
            if action.startswith("say:"):
                say(*action[4:].replace("_", " ").split("|"))
            say(f"bestmove {best}")
        elif words[0] == "quit":
            return 0
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
