"""Mating problems: can the side to move force checkmate, checking with every move?

::

    from velkorant import Game, mate
    result = mate.solve(Game("lnsgkgsnl/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"))
    result.status     # "mate", "no_mate" or "unknown"
    result.moves      # the mating line in USI when "mate"

The search is df-pn (proof and disproof numbers) over the attacker's checks and every legal
reply of the defender. The side to move attacks and may have no king; the defender's hand is what
the position says. A position that repeats one of the line is a failure for the attacker, as
mating problems count it; the game's own history before the position plays no part.

The answer is never wrong: "mate" comes with a line replayed and checked move by move (every
attacker move a legal check, every defender move legal, the defender checkmated at the end, the
defender's moves the longest resistance the proof knows), "no_mate" means no mate exists at all,
and any limit reached, or any doubt, gives "unknown". The search runs without the interpreter
lock; Ctrl-C stops it with KeyboardInterrupt.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Literal, Optional, cast

from velkorant import _mate, records
from velkorant._core import Game

__all__ = ["MateResult", "solve", "main"]

Status = Literal["mate", "no_mate", "unknown"]


@dataclass(frozen=True)
class MateResult:
    """What a mate search found.

    ``status``: "mate", "no_mate" (proved: no mate exists) or "unknown" (a limit was reached).
    ``moves``: when "mate", the mating line in USI, attacker and defender in turn, the last move
    checkmate; empty otherwise. ``nodes``: positions searched. ``seconds``: the time it took.
    """

    status: Status
    moves: tuple[str, ...]
    nodes: int
    seconds: float


def solve(game: Game, *, max_nodes: Optional[int] = None, time_limit: Optional[float] = None,
          memory_mb: int = 64, shortest: bool = False) -> MateResult:
    """Searches for a mate by the side to move of ``game``'s current position.

    ``max_nodes`` and ``time_limit`` (seconds) bound the search (None: no bound); reaching one
    gives "unknown". ``memory_mb`` is the most the transposition table grows to (1 to 1048576;
    it starts at 1 MB and doubles as the search needs room); a cache of the defender's reply
    counts takes at most 1 MB besides.

    ``shortest``: a shortest mate, the defender resisting as long as it can, every legal reply
    counted (interpositions that only delay the mate included). The search is repeated with the
    line limited to 1, 3, 5... moves until a mate is proved; a limit reached before that gives
    "unknown", never a longer mate.
    """
    if not isinstance(game, Game):
        raise TypeError(f"game must be a velkorant.Game, not {type(game).__name__}")
    if max_nodes is not None and max_nodes < 1:
        raise ValueError(f"max_nodes must be at least 1, not {max_nodes}")
    if time_limit is not None and not time_limit > 0:
        raise ValueError(f"time_limit must be positive, not {time_limit}")
    status, moves, nodes, seconds = _mate.solve(game.sfen(), max_nodes or 0, float(time_limit or 0.0),
                                                int(memory_mb), bool(shortest))
    return MateResult(cast(Status, status), tuple(moves), nodes, seconds)


_RECORD_EXTENSIONS = (".csa", ".kif", ".kifu", ".ki2", ".ki2u", ".jkf", ".json")


def _positions(source: str) -> list[tuple[str, Game]]:
    """The problems of a record file (each game's start position: a mating problem's record
    starts from it, its moves if any are the published solution), or of a text file (one a
    line: SFEN, or a USI position; blank lines and lines starting with # skipped), else the
    argument itself. A bad line is a ValueError naming the file and the line."""
    if not os.path.isfile(source):
        return [(source, _game_of(source))]
    if source.lower().endswith(_RECORD_EXTENSIONS):
        starts = [record.start for record in records.load_all(source)]
        return [(start, Game(start)) for start in starts]
    positions = []
    with open(source, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            text = line.strip()
            if text and not text.startswith("#"):
                try:
                    positions.append((text, _game_of(text)))
                except ValueError as error:
                    raise ValueError(f"{source}:{number}: {error}") from None
    return positions


def _game_of(text: str) -> Game:
    words = text.split()
    if words and words[0] in ("position", "sfen", "startpos"):
        return Game.from_usi(text)
    return Game(text)


def main(argv: Sequence[str]) -> int:
    """``velkorant mate FILE-OR-SFEN [--time-limit S] [--max-nodes N] [--memory-mb M] [--shortest]``: solves
    the position or every position of the file, one result line each, then a summary."""
    parser = argparse.ArgumentParser(prog="velkorant mate", description="Solve mating problems by df-pn.")
    parser.add_argument("source", help="an SFEN, a USI position, a file of them (one a line), or a record file "
                        "(CSA, KIF, KI2, JKF: each game's start position)")
    parser.add_argument("--time-limit", type=float, default=None, help="seconds per position")
    parser.add_argument("--max-nodes", type=int, default=None, help="nodes per position")
    parser.add_argument("--memory-mb", type=int, default=64, help="the transposition table's size")
    parser.add_argument("--shortest", action="store_true", help="a shortest mate (the defender resisting longest)")
    options = parser.parse_args(list(argv))
    try:
        positions = _positions(options.source)
    except (OSError, ValueError) as e:
        print(f"velkorant mate: {e}", file=sys.stderr)
        return 2
    counts = {"mate": 0, "no_mate": 0, "unknown": 0}
    start = time.perf_counter()
    progress = sys.stderr.isatty() and len(positions) > 1
    for i, (text, game) in enumerate(positions):
        if progress:
            print(f"\r{i}/{len(positions)} solved {counts['mate']}", end="", file=sys.stderr, flush=True)
        result = solve(game, max_nodes=options.max_nodes, time_limit=options.time_limit,
                       memory_mb=options.memory_mb, shortest=options.shortest)
        counts[result.status] += 1
        line = " ".join(result.moves)
        print(f"{text}\t{result.status}\t{len(result.moves)}\t{result.nodes}\t{result.seconds:.3f}\t{line}")
    if progress:
        print("\r", end="", file=sys.stderr)
    print(f"# {len(positions)} positions: {counts['mate']} mate, {counts['no_mate']} no_mate, "
          f"{counts['unknown']} unknown, {time.perf_counter() - start:.2f} s")
    return 0
