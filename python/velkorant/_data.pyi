"""The native loops of velkorant.data."""

from collections.abc import Sequence

def pack(sfens: Sequence[str], packing: str, out: object, threads: int, /) -> None:
    """SFENs packed into ``out``, 32 bytes an item."""

def unpack(data: object, packing: str, threads: int, /) -> list[str]:
    """The SFENs of 32-byte packed positions."""

def move16(sfen: str, move_word: int, /) -> int:
    """The hcpe move word of a legal move (the library's move word)."""

def psv_move16(sfen: str, move_word: int, /) -> int:
    """The PackedSfenValue move word of a legal move."""

def move_from_move16(sfen: str, m16: int, /) -> int:
    """The library's move word of the legal move an hcpe word names."""

def move_from_psv_move16(sfen: str, m16: int, /) -> int:
    """The library's move word of the legal move a PackedSfenValue word names."""
