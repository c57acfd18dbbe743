"""Network inputs and move labels, as dlshogi-style networks read and predict them (re-exported by
``velkorant.data``).

``features`` gives the two plane sets of a position, seen from the side to move (the board
turned for White): 62 planes of 9 x 9 for the pieces of each kind, the squares each kind attacks
and the number of attackers, for the side to move then the other side; 57 for the pieces in hand
as thresholded counts, then whether the side to move is in check. A move label is one of 2187:
27 classes (ten directions a board move comes from, the same ten promoting, seven kinds of drop)
times 81 destination squares. Both are the values cshogi's ``dlshogi`` module gives.
"""

from __future__ import annotations

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from velkorant import _features
from velkorant._core import Game, Move

__all__ = ["FEATURES1_NUM", "FEATURES2_NUM", "MOVE_LABELS", "features", "features_sfens", "move_label",
           "move_labels_sfens",
           "legal_labels", "legal_mask"]

FEATURES1_NUM = 62
"""Planes of the first set: pieces, attacks and attacker counts of both sides."""
FEATURES2_NUM = 57
"""Planes of the second set: both hands, then check."""
MOVE_LABELS = 2187
"""Move labels: 27 classes of move times 81 destination squares."""

Planes = npt.NDArray[np.float32]


def _planes(out: Planes | None, shape: tuple[int, ...], name: str) -> Planes:
    if out is None:
        return np.empty(shape, dtype=np.float32)
    if not isinstance(out, np.ndarray) or out.dtype != np.float32 or out.shape != shape:
        raise ValueError(f"{name} must be a float32 array of shape {shape}, not {_describe(out)}")
    return out


def _describe(out: object) -> str:
    if isinstance(out, np.ndarray):
        return f"{out.dtype} of shape {out.shape}"
    return type(out).__name__


def _sfen(game: Game) -> str:
    if not isinstance(game, Game):
        raise TypeError(f"game must be a velkorant.Game, not {type(game).__name__}")
    return game.sfen()


def features(game: Game, out1: Planes | None = None, out2: Planes | None = None) -> tuple[Planes, Planes]:
    """Both plane sets of the game's position: float32 arrays of shapes (62, 9, 9) and (57, 9, 9),
    written into ``out1`` and ``out2`` when given (every value is written) and returned."""
    planes1 = _planes(out1, (FEATURES1_NUM, 9, 9), "out1")
    planes2 = _planes(out2, (FEATURES2_NUM, 9, 9), "out2")
    _features.features(_sfen(game), planes1, planes2)
    return planes1, planes2


def features_sfens(sfens: Sequence[str], out1: Planes | None = None, out2: Planes | None = None,
                   threads: int | None = None) -> tuple[Planes, Planes]:
    """Both plane sets of each position of a list of SFENs: arrays of shapes (N, 62, 9, 9) and
    (N, 57, 9, 9), written into ``out1`` and ``out2`` when given. Runs natively without the
    interpreter lock, on ``threads`` threads (``None``: every core). A malformed SFEN raises
    ``ValueError`` naming its index; the arrays are then partly written."""
    if threads is not None and threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    count = len(sfens)
    planes1 = _planes(out1, (count, FEATURES1_NUM, 9, 9), "out1")
    planes2 = _planes(out2, (count, FEATURES2_NUM, 9, 9), "out2")
    _features.features_sfens(sfens, planes1, planes2, threads or 0)
    return planes1, planes2


def move_label(game: Game, move: Move) -> int:
    """The label (0..2186) of a legal move of the game's side to move; any other move raises
    ``ValueError``."""
    if not isinstance(move, Move):
        raise TypeError(f"move must be a velkorant.Move, not {type(move).__name__}")
    return _features.move_label(_sfen(game), move.__reduce__()[1][0])


def move_labels_sfens(sfens: Sequence[str], moves: Sequence[str], out: npt.NDArray[np.int64] | None = None,
                      threads: int | None = None) -> npt.NDArray[np.int64]:
    """The label of ``moves[i]`` (USI text), a legal move of the position ``sfens[i]``, for every i:
    an int64 array of shape (N,), written into ``out`` when given. Runs natively without the
    interpreter lock, on ``threads`` threads (``None``: every core). A malformed SFEN or a move
    that is not legal raises ``ValueError`` naming its index."""
    if threads is not None and threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    if out is None:
        out = np.empty(len(sfens), dtype=np.int64)
    elif not isinstance(out, np.ndarray) or out.dtype != np.int64 or out.shape != (len(sfens),):
        raise ValueError(f"out must be an int64 array of shape {(len(sfens),)}, not {_describe(out)}")
    _features.labels_sfens(sfens, moves, out, threads or 0)
    return out


def legal_labels(game: Game) -> npt.NDArray[np.int64]:
    """The labels of the game's legal moves, in the order of ``legal_moves()`` (int64; two moves
    can share a label)."""
    return np.frombuffer(_features.legal_labels(_sfen(game)), dtype=np.int64)


def legal_mask(game: Game) -> npt.NDArray[np.bool_]:
    """A bool array of shape (2187,): True at the label of each legal move of the game."""
    mask = np.empty(MOVE_LABELS, dtype=np.bool_)
    _features.legal_mask(_sfen(game), mask)
    return mask
