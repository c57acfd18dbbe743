"""The native readers and writers under velkorant.records."""

from typing import final

Nodes = tuple[list[int], list[str], dict[int, str], dict[int, float]]

@final
class Tree:
    """The moves of a record read, kept native until they are asked for."""
    def main(self) -> list[str]:
        """The main line, in USI."""
    def nodes(self) -> Nodes:
        """Every node: (parents, moves in USI, comments by node, times by node), the root first."""
    def size(self) -> int:
        """How many nodes, the root included."""

Game = tuple[list[tuple[str, str]], str, str, str, str | None, int | None, int, Tree]
GameIn = tuple[list[tuple[str, str]], str, str, str, str | None, int | None, Tree | Nodes]

class RecordError(ValueError):
    """A record that cannot be read: ``line`` (from 1) and ``ply`` (0 when no move is concerned)."""
    line: int
    ply: int

def read(text: str | bytes, format: str, all: bool, encodings: list[str] = ..., /) -> list[Game]:
    """The games of a record text, as tuples; bytes are decoded by the first of ``encodings``
    (utf-8, cp932) that fits."""

def decode(data: bytes, encodings: list[str], /) -> str:
    """The text of bytes in the first of the encodings (utf-8, cp932) that fits."""

def write(format: str, game: GameIn, /) -> str:
    """A game tuple as record text."""

Counts = tuple[int, int, int, int, int, int]

def rows(data: str | bytes, format: str, encodings: list[str], layout: str, min_moves: int,
         min_rating: float | None, endings: tuple[str, ...] | list[str] | None, /
         ) -> tuple[bytes, bytes, bytes, Counts, list[tuple[int, str]]]:
    """The training rows of a file's games: (rows, plies, games, counts, bad)."""

@final
class Seen:
    """The positions of a dataset written so far, each once."""
    def __init__(self) -> None: ...
    def fresh(self, rows: bytes, size: int, /) -> bytes:
        """For each row of `size` bytes, 1 when its position (its first 32 bytes) is new, else 0."""
    def size(self) -> int:
        """How many positions were seen."""
