"""velkorant: fast shogi (Japanese chess) rules for Python, in C++.

The core is eight classes: ``Board``, a pseudo-legal rules engine (how the pieces move, captures,
promotion and the drop restrictions, no side to move), its value classes ``Address``,
``ColorType``, ``PieceType``, ``Piece``, ``Move`` and ``Hand``, and ``Game``, the full rules of
shogi on the same board (side to move, legal moves, check and mate, repetition, the declaration
rule, SFEN and USI, undo, pickling, a picture).

Submodules by job, imported when the job needs them::

    from velkorant import records    # game records: CSA, KIF, KI2, JKF, USI and SFEN, in and out
"""

from velkorant._core import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

__all__ = ["Address", "ColorType", "PieceType", "Piece", "Move", "Hand", "Board", "Game"]
__version__ = "0.2.0"
