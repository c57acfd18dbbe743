"""Two interchangeable ways of playing with a position: the velkorant module and the test model.

Tests of stated examples take the `engine` fixture (conftest.py) and run against both, so every
example also checks the model that the random comparisons rely on. Both engines speak in plain
terms: squares as indices, kinds as numbers 0..14, colours as signed numbers (-1 None, 0 Black,
1 White, 2 ColorNumber) and moves as move texts.
"""
import pytest

import model
from support import surface

velkorant = surface.velkorant

needs_module = pytest.mark.skipif(velkorant is None, reason="velkorant is not built")


def word_fields(word):
    """(from, to, promote, drop) of a model move word, as surface.move_fields reads a Move."""
    return (model.move_from(word), model.move_to(word), model.is_promote(word),
            model.is_drop(word))


class ModuleEngine:
    name = "module"

    @property
    def panic(self):
        return surface.PanicException

    def new(self):
        return velkorant.Board()

    def deploy(self, board, index, kind, colour):
        board.deploy(index, velkorant.PieceType(kind), surface.colour_type(colour))

    def startpos(self, board):
        board.startpos()

    def piece_at(self, board, column, row):
        piece = board.get_piece(velkorant.Address(column, row))
        return int(piece.owner), int(piece.piece_type)

    def piece(self, board, index):
        return self.piece_at(board, index % 11, index // 11)

    def moves(self, board, colour):
        return [surface.move_text(m) for m in board.search_moves(surface.colour_type(colour))]

    def execute(self, board, text):
        board.execute_move(velkorant.Move(text))

    def parse(self, text):
        """((from, to, promote, drop), move text, (owner, kind) of get_piece) of a move text."""
        move = velkorant.Move(text)
        piece = move.get_piece()
        return surface.move_fields(move), surface.move_text(move), (int(piece.owner), int(piece.piece_type))

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


# -- helpers of the example tests, for either engine ------------------------------------------

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
