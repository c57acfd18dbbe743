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

from dataclasses import dataclass
from typing import Literal, Optional, cast

from velkorant import _mate
from velkorant._core import Game

__all__ = ["MateResult", "solve"]

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
          memory_mb: int = 64) -> MateResult:
    """Searches for a mate by the side to move of ``game``'s current position.

    ``max_nodes`` and ``time_limit`` (seconds) bound the search (None: no bound); reaching one
    gives "unknown". ``memory_mb`` is the size of the transposition table (1 to 1048576).
    """
    if not isinstance(game, Game):
        raise TypeError(f"game must be a velkorant.Game, not {type(game).__name__}")
    if max_nodes is not None and max_nodes < 1:
        raise ValueError(f"max_nodes must be at least 1, not {max_nodes}")
    if time_limit is not None and not time_limit > 0:
        raise ValueError(f"time_limit must be positive, not {time_limit}")
    status, moves, nodes, seconds = _mate.solve(game.sfen(), max_nodes or 0, float(time_limit or 0.0),
                                                int(memory_mb))
    return MateResult(cast(Status, status), tuple(moves), nodes, seconds)
