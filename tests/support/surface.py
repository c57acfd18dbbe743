"""The module's objects read in plain terms: squares as indices, pieces as (owner, kind)
numbers, moves as their text and fields, hands as sixteen counts.

Also the fatal-failure type, which the module raises but does not export, and `Index`, an
integer whose conversion first runs a callback: the way a caller's code can re-enter the
library in the middle of an argument conversion.
"""
import copy

try:
    import velkorant
    from velkorant import Address, Move
except ImportError:  # the extension is not built yet: the model's own tests still run
    velkorant = None

LETTERS = "kgrbsnlp"  # kinds 1..8, King..Pawn


def _panic_type():
    try:
        velkorant.Board().deploy(200, velkorant.PieceType.Pawn, velkorant.ColorType.Black)
    except BaseException as error:  # noqa: B036 - PanicException derives from BaseException only
        return type(error)
    raise AssertionError("deploy on index 200 did not fail")


PanicException = _panic_type() if velkorant is not None else None


class Index:
    """An integer-like object whose __index__ first runs a callback."""

    def __init__(self, value, callback=None):
        self.value, self.callback = value, callback

    def __index__(self):
        if self.callback:
            self.callback()
        return self.value


def colour_type(colour):
    """The ColorType of a signed colour number (-1 None, 0 Black, 1 White, 2 ColorNumber)."""
    return velkorant.ColorType(colour % 256)


def address(index):
    return Address(index % 11, index // 11)


def square_text(index):
    """The square text ("7g") of an index, as Address writes it."""
    return repr(address(index))[len("velkorant.Address("):-1]


def read(board, index):
    """(owner, kind) as numbers, owner -1 for an empty square."""
    piece = board.get_piece(address(index))
    return int(piece.owner), int(piece.piece_type)


def move_text(move):
    text = repr(move)
    assert text.startswith("velkorant.Move(") and text.endswith(")")
    return text[len("velkorant.Move("):-1]


def move_fields(move):
    """(from, to, promote, drop) of a Move as numbers, read through its accessors."""
    return (move.get_from().to_int(), move.get_to().to_int(), move.is_promote(), move.is_drop())


def move_view(move):
    """Everything a Move shows: its text and what each accessor returns, as text."""
    return (repr(move), repr(move.get_from()), repr(move.get_to()), move.is_drop(), move.is_promote(),
            repr(move.get_piece()))


def drop_text(colour, kind, index):
    letter = LETTERS[kind - 1]
    return f"{letter.upper() if colour == 0 else letter}*{square_text(index)}"


def hand_counts(board):
    """The sixteen hand counts, Black's King..Pawn then White's. Each kind is dropped onto one
    empty square of a copy until the hand refuses; every drop after the first captures the one
    before into the other side's hand, which leaves the measured count alone."""
    empty = next(i for i in range(128) if read(board, i)[0] == -1)
    counts = []
    for colour in (0, 1):
        for kind in range(1, 9):
            probe, drop, n = copy.copy(board), Move(drop_text(colour, kind, empty)), 0
            while n <= 256:
                try:
                    probe.execute_move(drop)
                except ValueError:
                    break
                n += 1
            counts.append(n)
    return counts


def parse_placement(text):
    """{index: (owner, kind)} of a placement text, read the way a shogi player reads it: row 9
    first, column 1 first within a row, upper case Black, "+" before a promoted piece."""
    kinds = {letter: kind for kind, letter in enumerate(LETTERS, 1)}
    result = {}
    for n, row_text in enumerate(text.split("/")):
        row, column, promoted = 9 - n, 1, False
        for ch in row_text:
            if ch.isdigit():
                column += int(ch)
            elif ch == "+":
                promoted = True
            else:
                kind = kinds[ch.lower()] + (6 if promoted else 0)
                result[row * 11 + column] = (0 if ch.isupper() else 1, kind)
                column, promoted = column + 1, False
        assert column == 10
    return result
