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

Network inputs and move labels, as dlshogi-style networks read and predict them: ``features``
gives the two plane sets of a position, seen from the side to move (the board turned for
White): 62 planes of 9 x 9 for the pieces of each kind, the squares each kind attacks and the
number of attackers, for the side to move then the other side; 57 for the pieces in hand as
thresholded counts, then whether the side to move is in check. A move label is one of 2187: 27
classes (ten directions a board move comes from, the same ten promoting, seven kinds of drop)
times 81 destination squares. Both are the values cshogi's ``dlshogi`` module gives. The batch
forms (``features_batch``, ``move_labels_batch`` over packed positions and hcpe records, and the
``_sfens`` forms over SFENs) run natively without the interpreter lock on several threads.
``encode_batch`` makes whole training examples from SFENs and the moves played: the packed
position, both plane sets and the label, reading each position once.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Literal, Union

import numpy as np
import numpy.typing as npt

from velkorant import _data, _encode, _features
from velkorant._core import ColorType, Game, Move

__all__ = [
    "HuffmanCodedPos", "HuffmanCodedPosAndEval", "PackedSfen", "PackedSfenValue",
    "pack", "unpack", "move16", "move_from_move16", "psv_move16", "move_from_psv_move16",
    "hcpe_result", "psv_result",
    "FEATURES1_NUM", "FEATURES2_NUM", "MOVE_LABELS", "features", "features_batch", "features_sfens",
    "move_label", "move_labels_batch", "move_labels_sfens", "legal_labels", "legal_mask", "encode_batch",
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


def _packed(rows: npt.NDArray[np.void], what: str) -> npt.NDArray[np.uint8]:
    """The 32-byte positions of an array of HuffmanCodedPos or of hcpe records, contiguous."""
    names = rows.dtype.names or ()
    if "hcp" not in names:
        raise TypeError(f"{what}: an array of HuffmanCodedPos or HuffmanCodedPosAndEval, not of {rows.dtype}")
    return np.ascontiguousarray(rows["hcp"])


def features_batch(hcps: npt.NDArray[np.void], out1: Planes | None = None, out2: Planes | None = None,
                   threads: int | None = None) -> tuple[Planes, Planes]:
    """Both plane sets of every position of an array of ``HuffmanCodedPos`` (or of hcpe records):
    arrays of shapes (N, 62, 9, 9) and (N, 57, 9, 9), written into ``out1`` and ``out2`` when
    given. Runs natively without the interpreter lock, on ``threads`` threads (``None``: every
    core). Malformed bytes raise ``ValueError`` naming the position's index; the arrays are then
    partly written."""
    packed = _packed(hcps, "features_batch")
    planes1 = _planes(out1, (len(packed), FEATURES1_NUM, 9, 9), "out1")
    planes2 = _planes(out2, (len(packed), FEATURES2_NUM, 9, 9), "out2")
    _features.features_hcps(packed, planes1, planes2, _threads(threads))
    return planes1, planes2


def move_labels_batch(hcpes: npt.NDArray[np.void], out: npt.NDArray[np.int64] | None = None,
                      threads: int | None = None) -> npt.NDArray[np.int64]:
    """The label of each hcpe record's move (``bestMove16``) on its position (``hcp``): an int64
    array of shape (N,), written into ``out`` when given. Natively, without the interpreter lock,
    on ``threads`` threads (``None``: every core). A move word that names no legal move raises
    ``ValueError`` naming the record's index."""
    packed = _packed(hcpes, "move_labels_batch")
    if "bestMove16" not in (hcpes.dtype.names or ()):
        raise TypeError(f"move_labels_batch: an array of HuffmanCodedPosAndEval, not of {hcpes.dtype}")
    words = np.ascontiguousarray(hcpes["bestMove16"]).astype("<u2", copy=False)
    if out is None:
        out = np.empty(len(packed), dtype=np.int64)
    elif not isinstance(out, np.ndarray) or out.dtype != np.int64 or out.shape != (len(packed),):
        raise ValueError(f"out must be an int64 array of shape {(len(packed),)}, not {_describe(out)}")
    _features.labels_hcpe(packed, words, out, _threads(threads))
    return out


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


def _labels(out: npt.NDArray[np.int64] | None, count: int, name: str) -> npt.NDArray[np.int64]:
    if out is None:
        return np.empty(count, dtype=np.int64)
    if not isinstance(out, np.ndarray) or out.dtype != np.int64 or out.shape != (count,):
        raise ValueError(f"{name} must be an int64 array of shape {(count,)}, not {_describe(out)}")
    return out


def encode_batch(sfens: Sequence[str], moves: Sequence[str], fmt: Packing = "hcp", *,
                 out: npt.NDArray[np.void] | None = None, out1: Planes | None = None, out2: Planes | None = None,
                 labels: npt.NDArray[np.int64] | None = None,
                 threads: int | None = None) -> tuple[npt.NDArray[np.void], Planes, Planes, npt.NDArray[np.int64]]:
    """Training examples of the positions ``sfens`` and the moves played there, ``moves`` (USI):
    the positions packed (an array of ``HuffmanCodedPos`` for ``fmt="hcp"``, ``PackedSfen`` for
    ``"psfen"``), both plane sets (shapes (N, 62, 9, 9) and (N, 57, 9, 9)) and the moves' labels
    (int64, shape (N,)), each written into ``out``, ``out1``, ``out2`` and ``labels`` when given,
    and returned. The same values as ``pack``, ``features_batch`` and ``move_labels_sfens``
    give, in one native pass that reads each SFEN once, without the interpreter lock, on
    ``threads`` threads (``None``: every core). A malformed SFEN, a position with no packing, or
    a move that is malformed or not legal raises ``ValueError`` naming the index of the first;
    the arrays are then partly written."""
    if fmt not in _DTYPES:
        raise ValueError(f"unknown packing {fmt!r}: hcp or psfen")
    if threads is not None and threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    count = len(sfens)
    if out is None:
        out = np.empty(count, _DTYPES[fmt])
    elif not isinstance(out, np.ndarray) or out.dtype != _DTYPES[fmt] or out.shape != (count,):
        raise ValueError(f"out must be an array of {fmt} positions of shape {(count,)}, not {_describe(out)}")
    planes1 = _planes(out1, (count, FEATURES1_NUM, 9, 9), "out1")
    planes2 = _planes(out2, (count, FEATURES2_NUM, 9, 9), "out2")
    labels = _labels(labels, count, "labels")
    _encode.encode(sfens, moves, fmt, out, planes1, planes2, labels, threads or 0)
    return out, planes1, planes2, labels
