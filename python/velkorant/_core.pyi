# Setters accept more than their getters return (any index-like integer, any sequence).
# pyright: reportPropertyTypeMismatch=false, reportImplicitOverride=false

"""Shogi rules for Python, in C++.

Build a ``Board``, set it up with ``startpos()`` or ``deploy()``, list one colour's moves with
``search_moves()``, play one with ``execute_move()`` and ask ``is_finished()`` whether a king has
fallen. The rules are pseudo-legal (no king-safety test) and the board has no side to move: the
caller alternates the colours, Black first.

Squares are indices on an 11 x 11 grid, ``row * 11 + column``; rows and columns 1..9 are the
board, the outer ring is a wall. Black starts on rows 1-3 and moves towards row 9.

Reading or writing a square index of 128 or more, asking for the hand of a colour that is not a
side, or parsing a move text shorter than four bytes raises ``PanicException``. It derives from
``BaseException`` (so ``except Exception`` does not catch it) and is not a module attribute:
its type can only be taken from a raised error.
"""

from collections.abc import Callable, Sequence
from typing import ClassVar, Final, SupportsIndex, final

__all__ = ["Address", "ColorType", "PieceType", "Piece", "Move", "Hand", "Board", "Game"]

@final
class Address:
    """A square as a column and a row, each 0..255 (1..9 on the board, 0 and 10 on the wall).

    No range is enforced. ``repr`` shows the square text: the column digit and the row letter,
    ``velkorant.Address(7g)`` for column 7, row 7. Compares and hashes by identity.
    """

    def __new__(cls, column: SupportsIndex, row: SupportsIndex) -> Address:
        """A square from its column and row, each an integer 0..255 (OverflowError outside)."""
    @property
    def column(self) -> int:
        """The column, 0..255. Assignable (0..255); not deletable."""
    @column.setter
    def column(self, value: SupportsIndex) -> None: ...
    @property
    def row(self) -> int:
        """The row, 0..255. Assignable (0..255); not deletable."""
    @row.setter
    def row(self, value: SupportsIndex) -> None: ...
    def to_int(self) -> int:
        """The square index ``(row * 11 + column) % 256``: 12 for 1a, 108 for 9i."""
    def __reduce__(self) -> tuple[type[Address], tuple[int, int]]:
        """Pickling support: the constructor call that rebuilds an equal value."""
    def __copy__(self) -> Address:
        """An independent copy."""
    def __deepcopy__(self, memo: dict[int, object], /) -> Address:
        """An independent copy (nothing is shared to copy deeper)."""
    def __repr__(self) -> str:
        """``velkorant.Address(`` + column digit + row letter + ``)``."""

@final
class ColorType:
    """A side: ``Black`` (0, moves first, towards row 9), ``White`` (1), or no side.

    Class attributes are instances of this class, created once: ``Black``, ``White``,
    ``ColorNumber`` (2, the number of sides; not a side itself) and ``None`` (-1, stored as
    the byte 255: the owner of an empty square and the winner of a game still going on).
    ``None`` is a keyword and cannot be written as ``ColorType.None`` in Python source: reach it
    with ``getattr(ColorType, "None")`` or ``ColorType(255)``.

    Immutable. ``==`` and ``!=`` compare with another ``ColorType`` or with an integer (the
    signed number, so the ``None`` value equals -1); there is no ordering and no hash.
    ``repr`` shows the stored byte: ``velkorant.ColorType(255)`` for ``None``.
    """

    Black: Final[ColorType]
    """Black, number 0: starts on rows 1-3, moves first and towards row 9."""
    White: Final[ColorType]
    """White, number 1: starts on rows 7-9, moves towards row 1."""
    ColorNumber: Final[ColorType]
    """Number 2, the number of sides. Not a side: a hand refuses it."""

    __hash__: ClassVar[None]  # type: ignore[assignment]  # pyright: ignore[reportIncompatibleMethodOverride]

    def __new__(cls, value: SupportsIndex) -> ColorType:
        """The colour numbered ``value`` (0..255): 0 Black, 1 White, 2 ColorNumber, else None."""
    def __int__(self) -> int:
        """The signed number: -1 for None, 0 Black, 1 White, 2 ColorNumber."""
    def __eq__(self, value: object, /) -> bool:
        """Equal to a ``ColorType`` of the same number, or to an integer equal to the number."""
    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    def __repr__(self) -> str:
        """``velkorant.ColorType(`` + the stored byte 0..255 + ``)``."""
    def __reduce__(self) -> tuple[type[ColorType], tuple[int]]:
        """Pickling support: the constructor call that rebuilds an equal value."""
    def __copy__(self) -> ColorType:
        """An independent copy."""
    def __deepcopy__(self, memo: dict[int, object], /) -> ColorType:
        """An independent copy (nothing is shared to copy deeper)."""

@final
class PieceType:
    """The kind of a piece, numbered 0..14; class attributes are instances of this class.

    ``None`` (0, no piece), ``King`` 1, ``Gold`` 2, ``Rook`` 3, ``Bichop`` 4 (the bishop),
    ``Silver`` 5, ``Knight`` 6, ``Lance`` 7, ``Pawn`` 8, and the promoted kinds ``Dragon`` 9,
    ``Horse`` 10, ``ProSilver`` 11, ``ProKnight`` 12, ``ProLance`` 13, ``ProPawn`` 14: the
    promoted form of kind k in 3..8 is k + 6. ``None`` is a keyword and cannot be written as
    ``PieceType.None`` in Python source: reach it with ``getattr(PieceType, "None")`` or
    ``PieceType(0)``.

    Immutable. ``==`` and ``!=`` compare with another ``PieceType`` or with a non-negative
    integer; there is no ordering, no hash and no ``__index__`` (use ``int()``).
    ``repr`` shows the number: ``velkorant.PieceType(9)`` for ``Dragon``.
    """

    King: Final[PieceType]
    """The king, 1. Never promotes; a captured king goes into the hand like any piece."""
    Gold: Final[PieceType]
    """The gold general, 2. Never promotes."""
    Rook: Final[PieceType]
    """The rook, 3; promotes to ``Dragon``."""
    Bichop: Final[PieceType]
    """The bishop, 4; promotes to ``Horse``."""
    Silver: Final[PieceType]
    """The silver general, 5; promotes to ``ProSilver``."""
    Knight: Final[PieceType]
    """The knight, 6; promotes to ``ProKnight``."""
    Lance: Final[PieceType]
    """The lance, 7; promotes to ``ProLance``."""
    Pawn: Final[PieceType]
    """The pawn, 8; promotes to ``ProPawn``."""
    Dragon: Final[PieceType]
    """The promoted rook, 9."""
    Horse: Final[PieceType]
    """The promoted bishop, 10."""
    ProSilver: Final[PieceType]
    """The promoted silver, 11."""
    ProKnight: Final[PieceType]
    """The promoted knight, 12."""
    ProLance: Final[PieceType]
    """The promoted lance, 13."""
    ProPawn: Final[PieceType]
    """The promoted pawn, 14."""

    __hash__: ClassVar[None]  # type: ignore[assignment]  # pyright: ignore[reportIncompatibleMethodOverride]

    def __new__(cls, value: SupportsIndex) -> PieceType:
        """The kind numbered ``value`` (0..255): 1..14 give that kind, 0 and 15..255 None."""
    def __int__(self) -> int:
        """The number, 0..14."""
    def __eq__(self, value: object, /) -> bool:
        """Equal to a ``PieceType`` of the same number, or to an integer equal to the number."""
    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    def __repr__(self) -> str:
        """``velkorant.PieceType(`` + the number + ``)``."""
    def __reduce__(self) -> tuple[type[PieceType], tuple[int]]:
        """Pickling support: the constructor call that rebuilds an equal value."""
    def __copy__(self) -> PieceType:
        """An independent copy."""
    def __deepcopy__(self, memo: dict[int, object], /) -> PieceType:
        """An independent copy (nothing is shared to copy deeper)."""

@final
class Piece:
    """A piece as a value: its owner and its kind. Any combination is allowed.

    ``repr`` shows the piece text: upper case for Black, lower case otherwise, ``+`` before a
    promoted kind and a blank for kind None, for example ``velkorant.Piece(+R)``.
    Compares and hashes by identity.
    """

    def __new__(cls, owner: ColorType, piece_type: PieceType) -> Piece:
        """A piece of ``owner`` and kind ``piece_type`` (instances, not integers)."""
    @property
    def owner(self) -> ColorType:
        """A new ``ColorType`` equal to the owner. Assignable; not deletable."""
    @owner.setter
    def owner(self, value: ColorType) -> None: ...
    @property
    def piece_type(self) -> PieceType:
        """A new ``PieceType`` equal to the kind. Assignable; not deletable."""
    @piece_type.setter
    def piece_type(self, value: PieceType) -> None: ...
    def __repr__(self) -> str:
        """``velkorant.Piece(`` + the piece text + ``)``."""
    def __reduce__(self) -> tuple[type[Piece], tuple[ColorType, PieceType]]:
        """Pickling support: the constructor call that rebuilds an equal value."""
    def __copy__(self) -> Piece:
        """An independent copy."""
    def __deepcopy__(self, memo: dict[int, object], /) -> Piece:
        """An independent copy (nothing is shared to copy deeper)."""

@final
class Move:
    """One move: a board move (source, destination, promotion) or a drop from the hand.

    Built from move text: source square then destination square, each a column digit and a row
    letter (a = row 1 ... i = row 9), ``+`` for a promotion (``7g7f``, ``8h2b+``); a drop is the
    piece letter, ``*`` and the destination (``P*5e``; upper case Black, lower case White).
    Nothing is validated beyond the length. Immutable; compares and hashes by identity.
    """

    def __new__(cls, csa: str) -> Move:
        """Parse a move text. Texts shorter than four bytes raise ``PanicException``."""
    def is_drop(self) -> bool:
        """True for a drop from the hand."""
    def is_promote(self) -> bool:
        """True for a promoting board move."""
    def get_from(self) -> Address:
        """The source square of a board move (on a drop, the piece code split as a square)."""
    def get_to(self) -> Address:
        """The destination square."""
    def get_piece(self) -> Piece:
        """The dropped piece of a drop (on a board move, the source index read as a piece code)."""
    def usi(self) -> str:
        """The move in USI text: ``"7g7f"``, ``"8h2b+"``, ``"P*5e"``.

        USI's squares are the library's turned by 180 degrees: column c, row r is USI file
        10 - c and the rank letter of row 10 - r; a USI drop letter is always upper case. A move
        with no USI form (a square off the playing area, a drop of kind None, King or a promoted
        kind) raises ``ValueError`` naming the move text.
        """
    @staticmethod
    def from_usi(usi: str, color: ColorType) -> Move:
        """The move of ``color`` that the USI text stands for (``color`` owns a dropped piece).

        Text that is not ``[1-9][a-i][1-9][a-i]`` with an optional ``+``, or
        ``[RBGSNLP]*[1-9][a-i]``, raises ``ValueError`` quoting it.
        """
    @staticmethod
    def _from_word(word: int) -> Move:
        """The move of a 16-bit move word, for unpickling."""
    def __reduce__(self) -> tuple[Callable[[int], Move], tuple[int]]:
        """Pickling support: Move._from_word and the move word."""
    def __setstate__(self, state: SupportsIndex, /) -> None:
        """Unpickling support: sets the move word (0..65535)."""
    def __copy__(self) -> Move:
        """An independent copy."""
    def __deepcopy__(self, memo: dict[int, object], /) -> Move:
        """An independent copy (nothing is shared to copy deeper)."""
    def __repr__(self) -> str:
        """``velkorant.Move(`` + the move text + ``)``, which parses back to the same move."""

@final
class Hand:
    """The pieces in hand of both sides: 16 slots, ``colour * 8 + kind - 1``.

    Slots 0..7 are Black's and 8..15 White's, each in the order King, Gold, Rook, Bichop,
    Silver, Knight, Lance, Pawn. Only Black and White and the kinds King..Pawn have slots:
    other combinations raise ``PanicException`` (or ``ValueError`` where the slot number would
    still fall in 0..15) and change nothing. Compares and hashes by identity.
    """

    def __new__(cls) -> Hand:
        """An empty hand: every count 0, each slot showing its own side's piece."""
    @property
    def pieces(self) -> list[Piece]:
        """A new list of the 16 slot pieces. Assign any sequence of exactly 16 ``Piece``."""
    @pieces.setter
    def pieces(self, value: Sequence[Piece]) -> None: ...
    @property
    def counts(self) -> bytes:
        """The 16 counts in slot order. Assign any sequence of exactly 16 integers 0..255."""
    @counts.setter
    def counts(self, value: Sequence[SupportsIndex]) -> None: ...
    def add_piece(self, color_type: ColorType, piece_type: PieceType) -> None:
        """Add one piece of ``piece_type`` to the hand of ``color_type``."""
    def add_pieces(self, color_type: ColorType, piece_type: PieceType, count: SupportsIndex) -> None:
        """Add ``count`` (0..255) pieces of ``piece_type`` to the hand of ``color_type``."""
    def decrease_piece(self, color_type: ColorType, piece_type: PieceType) -> None:
        """Remove one piece of ``piece_type`` from the hand of ``color_type``."""
    def get_player_pieces(self, color_type: ColorType) -> list[Piece]:
        """One new ``Piece`` per kind that ``color_type`` holds (King..Pawn order), whatever the count."""
    def __reduce__(self) -> tuple[type[Hand], tuple[()], tuple[list[Piece], bytes]]:
        """Pickling support: ``Hand()`` and its two tables."""
    def __setstate__(self, state: tuple[Sequence[Piece], Sequence[SupportsIndex]], /) -> None:
        """Unpickling support: sets the piece table and the counts."""
    def __copy__(self) -> Hand:
        """An independent copy of the hand."""
    def __deepcopy__(self, memo: dict[int, object], /) -> Hand:
        """An independent copy of the hand."""
    def __repr__(self) -> str:
        """``velkorant.Hand(pieces=[...], counts=[...])``."""

@final
class Board:
    """A position: the pieces on the 11 x 11 grid and both sides' hands. No side to move.

    ``Board()`` is empty; ``startpos()`` sets up the 40 pieces. ``repr`` shows the placement row
    9 first, column 1 first within a row, Black upper case:
    ``velkorant.Board(lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL)``.
    ``copy.copy`` and ``copy.deepcopy`` give an independent board. Compares and hashes by
    identity.
    """

    def __new__(cls) -> Board:
        """An empty board with empty hands (not the initial position)."""
    def deploy(self, index: SupportsIndex, piece_type: PieceType, color: ColorType) -> None:
        """Put a piece on square ``index`` (``row * 11 + column``), replacing what stands there.

        Nothing is checked: wall squares are accepted and a replaced piece goes to no hand.
        ``index`` 128..255 raises ``PanicException``; outside 0..255, ``OverflowError``.
        """
    def startpos(self) -> None:
        """Deploy the 40 pieces of the initial position and empty both hands."""
    def get_piece(self, address: Address) -> Piece:
        """A new ``Piece`` for the square; an empty square gives owner None and kind None."""
    def search_moves(self, color: ColorType) -> list[Move]:
        """A new list of the pseudo-legal moves of ``color``.

        Board moves by ascending source square, each source's plain moves before its promoting
        ones, then drops from the hand. ``ColorType.None`` and ``ColorNumber`` raise
        ``PanicException``. The list is new; its moves are shared: every list holds the same
        ``Move`` object for the same move (moves compare and hash by their word).
        """
    def execute_move(self, moves: Move) -> None:
        """Play one move (the parameter takes a single ``Move``); nothing about it is checked.

        A piece on the destination goes to the capturer's hand as its unpromoted kind.
        """
    def is_finished(self) -> tuple[bool, ColorType]:
        """``(False, ColorType None)`` while exactly two kings stand, else ``(True, winner)``."""
    @property
    def hand(self) -> Hand:
        """A new ``Hand`` holding a copy of the board's hand. Assigning a ``Hand`` copies it in;
        not deletable."""
    @hand.setter
    def hand(self, value: Hand) -> None: ...
    def remove(self, index: SupportsIndex) -> None:
        """Empty square ``index`` (any of 0..127, wall squares too); 128..255 raise ``IndexError``."""
    def copy(self) -> Board:
        """An independent copy of the board, hand included (as ``copy.copy``, but cheaper)."""
    def to_svg(self) -> str:
        """A picture of the position: a standalone SVG document of the 9 x 9 board and both hands."""
    def _repr_svg_(self) -> str:
        """The picture, for Jupyter."""
    def __reduce__(self) -> tuple[type[Board], tuple[()], bytes]:
        """Pickling support: ``Board()`` and its state, a few hundred bytes with a format version."""
    def __setstate__(self, state: bytes, /) -> None:
        """Unpickling support. A state this library did not write raises ``ValueError``."""
    def __copy__(self) -> Board:
        """An independent copy of the board."""
    def __deepcopy__(self, memo: dict[int, object], /) -> Board:
        """An independent copy of the board."""
    def __repr__(self) -> str:
        """``velkorant.Board(`` + the placement + ``)``; hands are not shown."""

@final
class Game:
    """A game of shogi under the full rules, over the same board: side to move, move number,
    history with undo, legal moves, check, mate, repetition, SFEN and USI.

    ``Game()`` is the initial position, Black to move, move 1; ``Game(sfen)`` any position in
    SFEN. ``repr`` shows the SFEN: ``velkorant.Game(lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1)``.
    Squares and moves are the library's (``Move``); USI text goes through ``push_usi`` and
    ``Move.usi()``. Compares and hashes by identity.
    """

    def __new__(cls, sfen: str | None = None) -> Game:
        """The game from a SFEN, or the initial position. A malformed SFEN raises ``ValueError``
        saying what is wrong and where."""
    @staticmethod
    def from_board(board: Board, turn: ColorType, ply: SupportsIndex = 1) -> Game:
        """A game whose position is a copy of ``board``'s squares and hand counts, ``turn``
        (Black or White) to move, ``ply`` the number of the next move.

        A board the full rules cannot describe (a piece off the 9 x 9 area, kind None on an
        occupied square, a piece of no side, more pieces of a kind than the game has) raises
        ``ValueError`` naming the square; so does a ``ply`` below 1.
        """
    @staticmethod
    def from_usi(position: str) -> Game:
        """The game of a USI ``position`` argument: ``"startpos"``, ``"startpos moves 7g7f 3c3d"``,
        ``"sfen <sfen> moves ..."`` (the word ``position`` may lead). The first illegal move
        raises ``ValueError`` naming it and its index."""
    @staticmethod
    def from_hcp(data: bytes, ply: SupportsIndex = 1) -> Game:
        """The game of a 32-byte HuffmanCodedPos (the position of an hcpe record), ``ply`` the
        number of its next move.

        Bytes that are no packing of a position the rules allow (an unknown code, too many pieces
        of a kind, a pawn, lance or knight that could never move, two pawns of a side on a file,
        the side not to move in check, bits left over) raise ``ValueError``.
        """
    @staticmethod
    def from_psfen(data: bytes, ply: SupportsIndex = 1) -> Game:
        """The game of a 32-byte PackedSfen (the position of a PackedSfenValue record), ``ply``
        the number of its next move; malformed bytes raise ``ValueError`` as for ``from_hcp``."""
    @property
    def turn(self) -> ColorType:
        """The side to move. Read only."""
    @property
    def ply(self) -> int:
        """The number of the next move (SFEN's last field). Read only."""
    @property
    def board(self) -> Board:
        """A new ``Board`` holding a copy of the position. Read only."""
    @property
    def history(self) -> list[Move]:
        """A new list of the moves pushed since creation, oldest first. Read only."""
    def sfen(self) -> str:
        """The position in SFEN: placement, ``b``/``w``, hands (``-`` for none), move number."""
    def to_hcp(self) -> bytes:
        """The position as a 32-byte HuffmanCodedPos, byte for byte as hcpe files store it.

        A position with a king missing needs a bit more than 32 bytes when White holds pieces;
        it has no HuffmanCodedPos and raises ``ValueError``."""
    def to_psfen(self) -> bytes:
        """The position as a 32-byte PackedSfen, byte for byte as PackedSfenValue files store
        it; ``ValueError`` where ``to_hcp`` has one."""
    def usi(self) -> str:
        """The USI ``position`` argument that reproduces the game: ``"startpos moves ..."`` when
        it began at the initial position, else ``"sfen <start> moves ..."``."""
    def legal_moves(self) -> list[Move]:
        """A new list of the legal moves of the side to move, in ``search_moves`` order."""
    def is_legal(self, move: Move) -> bool:
        """Whether ``move`` is a legal move of the side to move."""
    def check_moves(self) -> list[Move]:
        """A new list of the legal moves of the side to move that give check, in
        ``legal_moves`` order."""
    def mate_in_one(self) -> Move | None:
        """The first legal move, in ``legal_moves`` order, that checkmates, else ``None``.

        A pawn drop never does (it is illegal when it mates), and a side whose opponent has no
        king never mates."""
    def push(self, move: Move) -> None:
        """Play a legal move. An illegal one raises ``ValueError`` naming it and why, and
        changes nothing.

        A move taken from ``legal_moves()``, ``check_moves()`` or ``mate_in_one()`` of this very
        position (of this game or a copy of it, or again after a ``pop()`` back to it) is played
        without being tested again; any other move is tested in full."""
    def push_usi(self, usi: str) -> Move:
        """Play a move given in USI text (``"7g7f"``, ``"P*5e"``) and return it."""
    def pop(self) -> Move:
        """Take back the last move and return it; ``IndexError`` when the history is empty."""
    def is_check(self) -> bool:
        """Whether the side to move's king is attacked (never for a side without a king)."""
    def outcome(self) -> tuple[ColorType, str] | None:
        """``None`` while the game goes on, else ``(winner, reason)``.

        ``reason`` is ``"checkmate"``, ``"no_legal_moves"`` (also a loss for the side to move),
        ``"repetition"`` (a draw: the winner is ``ColorType(255)``) or ``"perpetual_check"``
        (the checking side loses).
        """
    def repetition_count(self) -> int:
        """How often the current position has occurred in this game, this time included."""
    def can_declare(self) -> bool:
        """Whether the side to move may declare a win by entering king (the 27-point rule)."""
    def play_random(self, rng_seed: SupportsIndex, max_plies: SupportsIndex = 512) -> tuple[ColorType, str] | None:
        """Plays uniformly random legal moves on this game, in one native call, until it ends
        or ``max_plies`` moves have been played: a rollout. The moves stay in the history. The
        same ``rng_seed`` (0 to 2**64 - 1) from the same game gives the same moves. Returns
        ``outcome()`` of the final position: (winner, reason), or ``None`` when the ply limit
        came first. A game that has ended already gives its outcome and plays nothing. A
        negative ``max_plies`` raises ``ValueError``."""
    def perft(self, depth: SupportsIndex) -> int:
        """The number of legal move sequences of ``depth`` plies (1 for depth 0); a negative
        depth raises ``ValueError``."""
    def to_svg(self) -> str:
        """A picture of the position as an SVG document, with the side to move and the last
        move marked."""
    def _repr_svg_(self) -> str:
        """The picture, for Jupyter."""
    def copy(self) -> Game:
        """An independent copy, history included."""
    def __reduce__(self) -> tuple[type[Game], tuple[()], bytes]:
        """Pickling support: ``Game()`` and its state (start position and history)."""
    def __setstate__(self, state: bytes, /) -> None:
        """Unpickling support. A state this library did not write raises ``ValueError``."""
    def __copy__(self) -> Game:
        """An independent copy, history included."""
    def __deepcopy__(self, memo: dict[int, object], /) -> Game:
        """An independent copy, history included."""
    def __repr__(self) -> str:
        """``velkorant.Game(`` + the SFEN + ``)``."""
