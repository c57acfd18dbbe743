"""Two interchangeable ways of playing with a position: the velkorant module and the test model.

Tests of stated examples take the `engine` fixture and run against both, so every example also
checks the model that the random comparisons rely on. Both engines speak in plain terms:
squares as indices, kinds as numbers 0..14, colours as signed numbers (-1 None, 0 Black,
1 White, 2 ColorNumber) and moves as move texts.
"""

import pytest

import model

try:
    import velkorant
except ImportError:  # the extension is not built yet
    velkorant = None

needs_module = pytest.mark.skipif(velkorant is None, reason="velkorant is not built")

_panic_type = None


def panic_type():
    """PanicException, which the module raises but does not export."""
    global _panic_type
    if _panic_type is None:
        try:
            velkorant.Board().deploy(200, velkorant.PieceType.Pawn, velkorant.ColorType.Black)
        except BaseException as e:  # noqa: B036 - PanicException derives from BaseException
            _panic_type = type(e)
        else:
            raise AssertionError("deploy(200, ...) did not fail")
    return _panic_type


def colour_type(colour):
    return velkorant.ColorType(colour % 256)


def move_fields(move):
    """(from, to, promote, drop) of a velkorant.Move, read through its accessors."""
    return (move.get_from().to_int(), move.get_to().to_int(), move.is_promote(), move.is_drop())


def word_fields(word):
    return (model.move_from(word), model.move_to(word), model.is_promote(word),
            model.is_drop(word))


def move_text(move):
    text = repr(move)
    assert text.startswith("velkorant.Move(") and text.endswith(")")
    return text[len("velkorant.Move("):-1]


class ModuleEngine:
    name = "module"

    @property
    def panic(self):
        return panic_type()

    def new(self):
        return velkorant.Board()

    def deploy(self, board, index, kind, colour):
        board.deploy(index, velkorant.PieceType(kind), colour_type(colour))

    def startpos(self, board):
        board.startpos()

    def piece_at(self, board, column, row):
        piece = board.get_piece(velkorant.Address(column, row))
        return int(piece.owner), int(piece.piece_type)

    def piece(self, board, index):
        return self.piece_at(board, index % 11, index // 11)

    def moves(self, board, colour):
        return [move_text(m) for m in board.search_moves(colour_type(colour))]

    def execute(self, board, text):
        board.execute_move(velkorant.Move(text))

    def parse(self, text):
        """((from, to, promote, drop), move text, (owner, kind) of get_piece) of a move text."""
        move = velkorant.Move(text)
        piece = move.get_piece()
        return move_fields(move), move_text(move), (int(piece.owner), int(piece.piece_type))

    def finished(self, board):
        done, winner = board.is_finished()
        return done, int(winner)

    def text(self, board):
        return repr(board)


class ModelEngine:
    name = "model"
    panic = model.Panic

    def new(self):
        return model.Board()

    def deploy(self, board, index, kind, colour):
        board.deploy(index, kind, colour)

    def startpos(self, board):
        board.startpos()

    def piece_at(self, board, column, row):
        return board.get_piece(column, row)

    def piece(self, board, index):
        return board.get_piece(index % 11, index // 11)

    def moves(self, board, colour):
        return [model.move_text(w) for w in board.search_moves(colour)]

    def execute(self, board, text):
        board.execute_move(model.parse_move(text))

    def parse(self, text):
        word = model.parse_move(text)
        return (word_fields(word), model.move_text(word),
                model.piece_from_code(model.move_from(word)))

    def finished(self, board):
        return board.is_finished()

    def text(self, board):
        return repr(board)


@pytest.fixture(params=["model", "module"])
def engine(request):
    if request.param == "model":
        return ModelEngine()
    if velkorant is None:
        pytest.skip("velkorant is not built")
    return ModuleEngine()


# -- helpers shared by the example tests ------------------------------------------------------

def square(where):
    """Index of a square text such as "5e"; an index is passed through."""
    if isinstance(where, int):
        return where
    return model.index_of(ord(where[0]) - 48, ord(where[1]) - 96)


def place(engine, board, *pieces):
    """Deploys pieces given as (square text or index, kind, colour)."""
    for where, kind, colour in pieces:
        engine.deploy(board, square(where), kind, colour)


def give(engine, board, colour, kind, times=1):
    """Puts `times` pieces of `kind` into `colour`'s hand by captures on the spare indices
    126 and 127, which no square text, move list or board text ever shows."""
    for _ in range(times):
        engine.deploy(board, 126, kind, 1 - colour)
        engine.deploy(board, 127, model.GOLD, colour)
        engine.execute(board, "6k5k")  # 127 takes 126


def drop_letters(engine, board, colour):
    """The piece letters that `colour` may drop, in list order, each once."""
    letters = []
    for text in engine.moves(board, colour):
        if text[1] == "*" and text[0] not in letters:
            letters.append(text[0])
    return letters


def hand_count(engine, board, colour, kind):
    """How many pieces of `kind` `colour` holds, found by dropping them onto the spare indices
    121.. until the hand refuses. Changes the board: call it last."""
    letter = model.LETTERS[kind]
    letter = letter.upper() if colour == model.BLACK else letter
    count = 0
    while True:
        to = model.square_text(121 + count)
        try:
            engine.execute(board, f"{letter}*{to}")
        except ValueError:
            return count
        count += 1
        assert count < 5, "more pieces in hand than this probe can hold"


def snapshot(engine, board):
    """Everything a caller can read off a board without changing it."""
    return (engine.text(board), [engine.piece(board, i) for i in range(128)],
            engine.moves(board, model.BLACK), engine.moves(board, model.WHITE),
            engine.finished(board))


def parse_placement(text):
    """{index: (owner, kind)} of a placement text, read the way a shogi player reads it."""
    kinds = {letter: kind for kind, letter in model.LETTERS.items()}
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
                result[row * 11 + column] = (model.BLACK if ch.isupper() else model.WHITE, kind)
                column, promoted = column + 1, False
        assert column == 10
    return result


class Index:
    """An integer-like object whose __index__ first runs a callback: the way a caller's code
    can re-enter the library in the middle of an argument conversion."""

    def __init__(self, value, callback=None):
        self.value, self.callback = value, callback

    def __index__(self):
        if self.callback:
            self.callback()
        return self.value
