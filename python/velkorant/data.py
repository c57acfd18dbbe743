"""Training data: packed positions and move words, byte for byte as other shogi tools store them.

numpy is this module's one dependency (``import velkorant`` does not import it)::

    from velkorant import Game, data
    game = Game()
    game.to_hcp()                                   # 32 bytes, as an hcpe record holds them
    rows = data.pack(sfens, "hcp")                  # an array of HuffmanCodedPos, natively
    data.unpack(rows)                               # the SFENs back
    records = np.zeros(len(rows), data.HuffmanCodedPosAndEval)
    records["hcp"] = rows["hcp"]
    records["bestMove16"] = [data.move16(game, move) for ...]

The dtypes carry the field names the users of these formats know. Move words come in two
conventions: ``move16`` (hcpe's ``bestMove16``) and ``psv_move16`` (a PackedSfenValue's ``move``).
Game results: ``hcpe_result`` and ``psv_result`` turn a game's winner into each format's number.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Literal, Union

import numpy as np
import numpy.typing as npt

from velkorant import _data
from velkorant._core import ColorType, Game, Move

__all__ = [
    "HuffmanCodedPos", "HuffmanCodedPosAndEval", "PackedSfen", "PackedSfenValue",
    "pack", "unpack", "move16", "move_from_move16", "psv_move16", "move_from_psv_move16",
    "hcpe_result", "psv_result",
]

HuffmanCodedPos = np.dtype([("hcp", np.uint8, 32)])
"""A position of an hcpe file: 32 bytes."""
HuffmanCodedPosAndEval = np.dtype(
    [("hcp", np.uint8, 32), ("eval", "<i2"), ("bestMove16", "<i2"), ("gameResult", "i1"), ("dummy", "u1")]
)
"""An hcpe record, 38 bytes: the position, its evaluation, the move played (``move16``) and the
game's result (``hcpe_result``)."""
PackedSfen = np.dtype([("sfen", np.uint8, 32)])
"""A position of a PackedSfenValue file: 32 bytes."""
PackedSfenValue = np.dtype(
    [("sfen", np.uint8, 32), ("score", "<i2"), ("move", "<u2"), ("gamePly", "<u2"), ("game_result", "i1"),
     ("padding", "u1")]
)
"""A PackedSfenValue record, 40 bytes: the position, its score, the move played (``psv_move16``),
its move number and the game's result for the side to move (``psv_result``)."""

Packing = Literal["hcp", "psfen"]
_DTYPES: dict[str, np.dtype[np.void]] = {"hcp": HuffmanCodedPos, "psfen": PackedSfen}


def _threads(threads: int | None) -> int:
    return 0 if threads is None else int(threads)


def pack(positions: Sequence[Union[str, Game]], fmt: Packing, threads: int | None = None) -> npt.NDArray[np.void]:
    """The positions (SFENs or games) packed, as an array of ``HuffmanCodedPos`` (``fmt="hcp"``)
    or ``PackedSfen`` (``"psfen"``). SFENs are read and packed natively on ``threads`` threads
    (``None``: every core); a game is packed by its own ``to_hcp``/``to_psfen``. A bad item
    raises ``ValueError`` naming its index."""
    if fmt not in _DTYPES:
        raise ValueError(f"unknown packing {fmt!r}: hcp or psfen")
    out = np.zeros(len(positions), _DTYPES[fmt])
    sfens = [p for p in positions if isinstance(p, str)]
    if len(sfens) == len(positions):
        _data.pack(sfens, fmt, out, _threads(threads))
        return out
    raw = out.view(np.uint8).reshape(len(out), 32)
    for i, p in enumerate(positions):
        try:
            game = p if isinstance(p, Game) else Game(p)
            raw[i] = np.frombuffer(game.to_hcp() if fmt == "hcp" else game.to_psfen(), np.uint8)
        except ValueError as e:
            raise ValueError(f"item {i}: {e}") from None
    return out


def unpack(array: npt.NDArray[np.void], threads: int | None = None) -> list[str]:
    """The SFENs of an array of ``HuffmanCodedPos`` or ``PackedSfen`` (or of whole hcpe or
    PackedSfenValue records), read natively on ``threads`` threads (``None``: every core). The
    move numbers are 1. Malformed bytes raise ``ValueError`` naming the index."""
    names = array.dtype.names or ()
    if "hcp" in names:
        fmt, field = "hcp", "hcp"
    elif "sfen" in names:
        fmt, field = "psfen", "sfen"
    else:
        raise TypeError(f"an array of HuffmanCodedPos or PackedSfen, not of {array.dtype}")
    return _data.unpack(np.ascontiguousarray(array[field]), fmt, _threads(threads))


def _word(move: Move) -> int:
    return move.__reduce__()[1][0]


def move16(game: Game, move: Move) -> int:
    """The hcpe move word (``bestMove16``) of a legal move of ``game``'s side to move; an
    illegal move raises ``ValueError``."""
    return _data.move16(game.sfen(), _word(move))


def psv_move16(game: Game, move: Move) -> int:
    """The PackedSfenValue move word (``move``) of a legal move; an illegal move raises
    ``ValueError``."""
    return _data.psv_move16(game.sfen(), _word(move))


def move_from_move16(game: Game, m16: int) -> Move:
    """The legal move of ``game`` that an hcpe move word names. A word that names none (bad
    squares, a drop that promotes, an illegal move) raises ``ValueError``. The word may be given
    signed, as an hcpe's int16 field holds it."""
    return Move._from_word(_data.move_from_move16(game.sfen(), int(m16) & 0xFFFF))


def move_from_psv_move16(game: Game, m16: int) -> Move:
    """The legal move of ``game`` that a PackedSfenValue move word names; ``ValueError`` when
    it names none."""
    return Move._from_word(_data.move_from_psv_move16(game.sfen(), int(m16)))


def hcpe_result(winner: ColorType | None) -> int:
    """An hcpe record's ``gameResult``: 1 when Black won, 2 when White won, 0 for a draw
    (``None`` or ``ColorType(255)``)."""
    if winner == ColorType.Black:
        return 1
    if winner == ColorType.White:
        return 2
    return 0


def psv_result(winner: ColorType | None, turn: ColorType) -> int:
    """A PackedSfenValue's ``game_result``, for the side to move ``turn``: 1 when it won, -1
    when it lost, 0 for a draw (``None`` or ``ColorType(255)``)."""
    if winner == ColorType.Black or winner == ColorType.White:
        return 1 if winner == turn else -1
    return 0
