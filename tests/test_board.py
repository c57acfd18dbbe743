"""The board: its bit sets (through the model), square writes and reads, the initial position,
the text form, the game-end test, and the Board members' argument handling."""

import pytest

import model
from support.engines import give, hand_count, needs_module, place, snapshot
from support.surface import parse_placement
from model import (BICHOP, BLACK, COLOR_NUMBER, DRAGON, GOLD, HORSE, KING, LANCE, NONE, PAWN,
                   PRO_PAWN, ROOK, WHITE)

try:
    import velkorant
except ImportError:
    velkorant = None

WALL_SQUARES = (list(range(0, 12)) + [21, 22, 32, 33, 43, 44, 54, 55, 65, 66, 76, 77, 87, 88, 98, 99]
                + list(range(109, 121)))
STARTPOS = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL"
EMPTY = "9/9/9/9/9/9/9/9/9"


def rows_squares(rows):
    return [r * 11 + c for r in rows for c in range(1, 10)]


# -- the bit set, in the model ----------------------------------------------------------------

SIXTY = model.bit(60)


@pytest.mark.parametrize("value, trues, ones", [
    (model.WALL, WALL_SQUARES, 40),
    (1, [], 1),
    (1 << 127, [0], 1),
    (model.shl(SIXTY, 11), [49], 1),
    (model.shr(SIXTY, 11), [71], 1),
    (model.shl(SIXTY, 61), [], 0),
    (model.shr(SIXTY, 67), [], 1),  # index 127: counted, never listed
    (model.shr(SIXTY, 68), [], 0),
    (model.shl(SIXTY, 0), [60], 1),
    (model.shr(model.FULL, 128), [], 0),
    (model.generate_column(5), [16, 27, 38, 49, 60, 71, 82, 93, 104], 9),
    (model.generate_column(0), [11, 22, 33, 44, 55, 66, 77, 88, 99], 9),
    (model.generate_column(100), [111], 2),  # 111 and 122
    (model.complement(0), list(range(121)), 128),
    (model.complement(1), list(range(121)), 128),
    (model.complement(model.FULL), [], 7),
    (model.complement(model.WALL), rows_squares(range(1, 10)), 88),
])
def test_model_bit_set(value, trues, ones):
    assert model.get_trues(value) == trues
    assert model.count_ones(value) == ones


def test_model_bit_set_edges():
    assert model.shr(SIXTY, 67) == 1
    assert model.generate_column(100) == model.bit(111) | model.bit(122)
    for fails in (lambda: model.shl(SIXTY, 129), lambda: model.shr(SIXTY, 129)):
        with pytest.raises(model.Panic, match="^shift must be less than the length of the "
                                              "bit-slice: 129 >= 128$"):
            fails()
    with pytest.raises(model.Panic, match=r"^index 128 out of range: Excluded\(128\)$"):
        model.generate_column(128)
    with pytest.raises(model.Panic, match="^index 130 out of bounds: 128$"):
        model.member(0, 130)


@pytest.mark.parametrize("mask, squares", [
    (model.PROMOTION_ZONE[BLACK], rows_squares((7, 8, 9))),
    (model.PROMOTION_ZONE[WHITE], rows_squares((1, 2, 3))),
    (model.LAST_ROW[BLACK], rows_squares((9,))),
    (model.LAST_ROW[WHITE], rows_squares((1,))),
    (model.LAST_TWO_ROWS[BLACK], rows_squares((8, 9))),
    (model.LAST_TWO_ROWS[WHITE], rows_squares((1, 2))),
])
def test_model_masks(mask, squares):
    assert model.get_trues(mask) == squares and model.count_ones(mask) == len(squares)


# -- square writes and reads ------------------------------------------------------------------

def test_new_board_is_empty(engine):
    board = engine.new()
    assert engine.text(board) == f"velkorant.Board({EMPTY})"
    assert [engine.piece(board, i) for i in range(128)] == [(NONE, 0)] * 128
    assert engine.moves(board, BLACK) == [] and engine.moves(board, WHITE) == []


def test_startpos(engine):
    board = engine.new()
    engine.startpos(board)
    assert engine.text(board) == f"velkorant.Board({STARTPOS})"
    expected = parse_placement(STARTPOS)
    assert len(expected) == 40 and expected[16] == (BLACK, KING)
    assert [engine.piece(board, i) for i in range(128)] == \
        [expected.get(i, (NONE, 0)) for i in range(128)]


def test_startpos_keeps_other_squares_and_empties_hands(engine):
    board = engine.new()
    place(engine, board, ("5e", ROOK, WHITE), ("5a", PAWN, WHITE), (0, GOLD, BLACK))
    give(engine, board, BLACK, GOLD)
    give(engine, board, WHITE, PAWN, times=2)
    engine.startpos(board)
    assert engine.text(board) == "velkorant.Board(lnsgkgsnl/1r5b1/ppppppppp/9/4r4/9/PPPPPPPPP/1B5R1/LNSGKGSNL)"
    assert engine.piece(board, 0) == (BLACK, GOLD)
    assert engine.piece(board, 16) == (BLACK, KING)  # the white pawn on 5a was overwritten
    assert not any("*" in m for c in (BLACK, WHITE) for m in engine.moves(board, c))


@pytest.mark.parametrize("pieces, placement", [
    ([], EMPTY),
    ([("5a", KING, NONE)], "9/9/9/9/9/9/9/9/4k4"),
    ([("1a", PAWN, COLOR_NUMBER), ("9a", LANCE, BLACK)], "9/9/9/9/9/9/9/9/p7L"),
    ([("1i", DRAGON, BLACK), ("9i", PRO_PAWN, WHITE), ("5e", HORSE, BLACK)], "+R7+p/9/9/9/4+B4/9/9/9/9"),
    ([("5e", PAWN, WHITE), ("5e", ROOK, BLACK)], "9/9/9/9/4R4/9/9/9/9"),
    ([("5e", 0, BLACK)], EMPTY),  # occupied, but kind None writes as empty
    ([(0, KING, BLACK), (11, ROOK, WHITE), (120, GOLD, BLACK), (127, PAWN, BLACK)], EMPTY),
    ([("2b", BICHOP, WHITE), ("3b", GOLD, BLACK), ("9b", PAWN, NONE)], "9/9/9/9/9/9/9/1bG5p/9"),
])
def test_text_form(engine, pieces, placement):
    board = engine.new()
    place(engine, board, *pieces)
    assert engine.text(board) == f"velkorant.Board({placement})"


@pytest.mark.parametrize("index, kind, colour, read", [
    (16, KING, NONE, (WHITE, KING)),  # occupied but not Black's: reads as White
    (60, PAWN, COLOR_NUMBER, (WHITE, PAWN)),
    (60, 0, BLACK, (BLACK, 0)),
    (60, 0, NONE, (WHITE, 0)),
    (60, PRO_PAWN, WHITE, (WHITE, PRO_PAWN)),
    (0, LANCE, BLACK, (BLACK, LANCE)),  # a wall square holds a piece like any other
    (120, DRAGON, WHITE, (WHITE, DRAGON)),
    (127, GOLD, BLACK, (BLACK, GOLD)),  # spare index, read through Address(6, 11)
])
def test_deploy_then_read(engine, index, kind, colour, read):
    board = engine.new()
    engine.deploy(board, 60, ROOK, WHITE)  # something to overwrite
    engine.deploy(board, index, kind, colour)
    assert engine.piece(board, index) == read
    others = [engine.piece(board, i) for i in range(128) if i not in (index, 60)]
    assert others == [(NONE, 0)] * len(others)


def test_deploy_overwrites_without_capture(engine):
    board = engine.new()
    place(engine, board, ("5e", ROOK, WHITE), ("5e", PAWN, BLACK))
    assert engine.piece(board, 60) == (BLACK, PAWN)
    assert hand_count(engine, board, BLACK, ROOK) == 0
    assert hand_count(engine, board, WHITE, ROOK) == 0


@pytest.mark.parametrize("index", [128, 200, 255])
def test_deploy_past_the_bit_sets_panics(engine, index):
    board = engine.new()
    engine.startpos(board)
    before = snapshot(engine, board)
    with pytest.raises(engine.panic, match=rf"^index {index} out of range: Excluded\(128\)$"):
        engine.deploy(board, index, PAWN, BLACK)
    assert snapshot(engine, board) == before


@pytest.mark.parametrize("column, row, read", [
    (0, 24, 8),  # 264 wraps to 8, a wall square
    (11, 0, 11),
    (0, 11, 121),
    (6, 11, 127),
    (7, 11, 128),
    (255, 255, 244),
    (128, 0, 128),
])
def test_get_piece_index_wraps_at_256(engine, column, row, read):
    board = engine.new()
    if read < 128:
        engine.deploy(board, read, HORSE, BLACK)
        assert engine.piece_at(board, column, row) == (BLACK, HORSE)
    else:
        with pytest.raises(engine.panic, match=f"^index {read} out of bounds: 128$"):
            engine.piece_at(board, column, row)


# -- game end ---------------------------------------------------------------------------------

@pytest.mark.parametrize("kings, result", [
    ([], (True, WHITE)),
    ([("5a", BLACK), ("5i", WHITE)], (False, NONE)),
    ([("5i", WHITE), ("1i", WHITE)], (False, NONE)),  # colours of two kings are not looked at
    ([("5a", BLACK), ("1a", BLACK)], (False, NONE)),
    ([("5a", BLACK)], (True, BLACK)),
    ([("5i", WHITE)], (True, WHITE)),
    ([("5a", NONE)], (True, WHITE)),  # occupied, not in Black's set
    ([("5a", BLACK), ("5i", WHITE), ("1i", WHITE)], (True, BLACK)),
    ([("5i", WHITE), ("1i", WHITE), ("9i", WHITE)], (True, WHITE)),
    ([(0, BLACK), ("5i", WHITE)], (False, NONE)),  # a king on the wall still counts
    ([(125, BLACK), ("5i", WHITE)], (False, NONE)),  # and so does one on a spare index
    ([(125, BLACK), ("5i", WHITE), ("1i", WHITE)], (True, BLACK)),
])
def test_is_finished(engine, kings, result):
    board = engine.new()
    place(engine, board, ("5e", DRAGON, BLACK), ("6e", HORSE, WHITE))
    place(engine, board, *[(where, KING, colour) for where, colour in kings])
    assert engine.finished(board) == result


@pytest.mark.parametrize("capturer, move, winner, captor", [
    (("5h", GOLD, BLACK), "5h5i", BLACK, BLACK),
    (("5b", GOLD, WHITE), "5b5a", WHITE, WHITE),
])
def test_capturing_a_king_ends_the_game(engine, capturer, move, winner, captor):
    board = engine.new()
    engine.startpos(board)
    place(engine, board, capturer)
    assert engine.finished(board) == (False, NONE)
    engine.execute(board, move)
    assert engine.finished(board) == (True, winner)
    assert hand_count(engine, board, captor, KING) == 1


# -- argument handling of the Board members ---------------------------------------------------

@needs_module
@pytest.mark.parametrize("call, error, message", [
    (lambda b: velkorant.Board(1), TypeError,
     "Board.__new__() takes 0 positional arguments but 1 was given"),
    (lambda b: b.deploy(12, velkorant.PieceType.Lance), TypeError,
     "Board.deploy() missing 1 required positional argument: 'color'"),
    (lambda b: b.deploy(12, velkorant.PieceType.Lance, velkorant.ColorType.Black, 1), TypeError,
     "Board.deploy() takes 3 positional arguments but 4 were given"),
    (lambda b: b.deploy(300, velkorant.PieceType.Lance, velkorant.ColorType.Black),
     OverflowError, "out of range integral type conversion attempted"),
    (lambda b: b.deploy(256, velkorant.PieceType.Lance, velkorant.ColorType.Black),
     OverflowError, "out of range integral type conversion attempted"),
    (lambda b: b.deploy(-1, velkorant.PieceType.Lance, velkorant.ColorType.Black),
     OverflowError, "out of range integral type conversion attempted"),
    (lambda b: b.deploy(12, 3, velkorant.ColorType.Black), TypeError,
     "argument 'piece_type': 'int' object cannot be converted to 'PieceType'"),
    (lambda b: b.deploy(12, velkorant.PieceType.Lance, 0), TypeError,
     "argument 'color': 'int' object cannot be converted to 'ColorType'"),
])
def test_board_argument_errors(call, error, message):
    board = velkorant.Board()
    board.startpos()
    before = repr(board)
    with pytest.raises(error) as info:
        call(board)
    assert str(info.value) == message
    assert repr(board) == before


@needs_module
def test_board_argument_forms():
    board = velkorant.Board()
    board.deploy(index=12, piece_type=velkorant.PieceType.Lance, color=velkorant.ColorType.Black)
    assert repr(board) == "velkorant.Board(9/9/9/9/9/9/9/9/L8)"
    with pytest.raises(TypeError, match="^argument 'index': "):
        board.deploy("a", velkorant.PieceType.Lance, velkorant.ColorType.Black)
    with pytest.raises(TypeError):
        type("MyBoard", (velkorant.Board,), {})
    assert repr(board) == "velkorant.Board(9/9/9/9/9/9/9/9/L8)"


@needs_module
def test_reentrant_read_during_deploy():
    board = velkorant.Board()
    board.startpos()
    seen = []

    class Index:
        def __index__(self):
            seen.append(1)
            board.get_piece(velkorant.Address(5, 1))
            return 60

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        board.deploy(Index(), velkorant.PieceType.Pawn, velkorant.ColorType.Black)
    assert seen == [1]
    assert repr(board) == f"velkorant.Board({STARTPOS})"
    board.deploy(60, velkorant.PieceType.Pawn, velkorant.ColorType.Black)  # borrow released
    assert int(board.get_piece(velkorant.Address(5, 5)).piece_type) == PAWN
