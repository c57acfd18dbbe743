"""Move execution: board moves, captures into the hand, promotion, drops, and refused moves that
leave the board exactly as it was."""

import pytest

from support.engines import give, hand_count, place, snapshot, square
from model import (BICHOP, BLACK, DRAGON, GOLD, HORSE, KING, KNIGHT, LANCE, NONE, PAWN,
                   PRO_KNIGHT, PRO_LANCE, PRO_PAWN, PRO_SILVER, ROOK, SILVER, WHITE)


def setup(engine, pieces=(), hand=()):
    board = engine.new()
    place(engine, board, *pieces)
    for colour, kind, times in hand:
        give(engine, board, colour, kind, times)
    return board


def test_pawn_push_from_the_initial_position(engine):
    board = engine.new()
    engine.startpos(board)
    before = [engine.piece(board, i) for i in range(128)]
    engine.execute(board, "3c3d")  # index 36 to 47
    after = [engine.piece(board, i) for i in range(128)]
    assert after[47] == (BLACK, PAWN) and after[36] == (NONE, 0)
    assert [i for i in range(128) if before[i] != after[i]] == [36, 47]
    assert not any("*" in m for c in (BLACK, WHITE) for m in engine.moves(board, c))


@pytest.mark.parametrize("mover, victim, hand_colour, hand_kind", [
    ((PAWN, BLACK), (PAWN, WHITE), BLACK, PAWN),
    ((GOLD, BLACK), (DRAGON, WHITE), BLACK, ROOK),
    ((GOLD, BLACK), (HORSE, WHITE), BLACK, BICHOP),
    ((GOLD, BLACK), (PRO_SILVER, WHITE), BLACK, SILVER),
    ((GOLD, WHITE), (PRO_KNIGHT, BLACK), WHITE, KNIGHT),
    ((GOLD, WHITE), (PRO_LANCE, BLACK), WHITE, LANCE),
    ((GOLD, WHITE), (PRO_PAWN, BLACK), WHITE, PAWN),
    ((GOLD, WHITE), (KING, BLACK), WHITE, KING),
    ((ROOK, BLACK), (PAWN, BLACK), WHITE, PAWN),  # the owner of the victim decides, not the mover
    ((ROOK, WHITE), (GOLD, NONE), BLACK, GOLD),  # a colourless piece counts as White's
])
def test_capture_goes_to_the_other_side(engine, mover, victim, hand_colour, hand_kind):
    board = setup(engine, [("5d", *mover), ("5e", *victim)])
    engine.execute(board, "5d5e")
    assert engine.piece(board, square("5d")) == (NONE, 0)
    assert engine.piece(board, square("5e")) == mover[::-1]
    assert hand_count(engine, board, 1 - hand_colour, hand_kind) == 0
    assert hand_count(engine, board, hand_colour, hand_kind) == 1


@pytest.mark.parametrize("kind, colour, text, arrives", [
    (SILVER, BLACK, "5f5g+", PRO_SILVER),
    (SILVER, BLACK, "5f5g", SILVER),
    (PAWN, BLACK, "5f5g+", PRO_PAWN),
    (ROOK, WHITE, "5f5g+", DRAGON),  # the flag is obeyed wherever the move goes
    (BICHOP, WHITE, "5f4e+", HORSE),
    (KNIGHT, WHITE, "5f4d+", PRO_KNIGHT),
    (LANCE, WHITE, "5f5c+", PRO_LANCE),
    (GOLD, BLACK, "5f5g+", GOLD),
    (KING, WHITE, "5f5e+", KING),
    (DRAGON, BLACK, "5f5g+", DRAGON),
    (PRO_PAWN, WHITE, "5f5e+", PRO_PAWN),
])
def test_promotion_flag(engine, kind, colour, text, arrives):
    board = setup(engine, [("5f", kind, colour)])
    engine.execute(board, text)
    assert engine.piece(board, square(text[2:4])) == (colour, arrives)
    assert engine.piece(board, square("5f")) == (NONE, 0)


def test_drop_from_hand(engine):
    board = setup(engine, hand=[(BLACK, PAWN, 2)])
    engine.execute(board, "P*5e")
    assert engine.text(board) == "velkorant.Board(9/9/9/9/4P4/9/9/9/9)"
    assert engine.piece(board, square("5e")) == (BLACK, PAWN)
    assert hand_count(engine, board, BLACK, PAWN) == 1


@pytest.mark.parametrize("victim, drop, hand_colour, hand_kind", [
    ((ROOK, WHITE), "G*5e", BLACK, ROOK),
    ((PAWN, BLACK), "G*5e", WHITE, PAWN),  # dropping onto one's own piece hands it over
    ((PRO_PAWN, BLACK), "g*5e", WHITE, PAWN),
])
def test_drop_onto_a_piece_captures_it_first(engine, victim, drop, hand_colour, hand_kind):
    dropper = BLACK if drop[0].isupper() else WHITE
    board = setup(engine, [("5e", *victim)], [(dropper, GOLD, 1)])
    engine.execute(board, drop)
    assert engine.piece(board, square("5e")) == (dropper, GOLD)
    assert hand_count(engine, board, hand_colour, hand_kind) == 1
    assert hand_count(engine, board, dropper, GOLD) == 0


def test_captured_piece_can_pay_for_the_drop(engine):
    # The capture is counted before the dropped piece is taken from the hand.
    board = setup(engine, [("5e", PAWN, WHITE)])
    engine.execute(board, "P*5e")
    assert engine.piece(board, square("5e")) == (BLACK, PAWN)
    assert hand_count(engine, board, BLACK, PAWN) == 0


def test_move_from_an_empty_square(engine):
    board = setup(engine, [("5a", KING, BLACK), ("5i", KING, WHITE)])
    engine.execute(board, "5e5f")
    assert engine.piece(board, square("5f")) == (WHITE, 0)  # occupied, kind None, in no colour set
    assert engine.text(board) == "velkorant.Board(4k4/9/9/9/9/9/9/9/4K4)"
    assert engine.moves(board, WHITE) == ["5i4h", "5i5h", "5i6h", "5i4i", "5i6i"]
    assert engine.finished(board) == (False, NONE)


def test_move_onto_its_own_square_captures_itself(engine):
    board = setup(engine, [("5e", ROOK, BLACK)])
    engine.execute(board, "5e5e")
    assert engine.piece(board, square("5e")) == (WHITE, 0)
    assert hand_count(engine, board, WHITE, ROOK) == 1


SLOT_65535 = "index out of bounds: the len is 16 but the index is 65535"


@pytest.mark.parametrize("pieces, hand, text, error, message", [
    # Drops of a piece without a hand slot.
    ([], [], "A*5e", "panic", SLOT_65535),  # Black, kind None
    ([], [(BLACK, PAWN, 1)], "X*5e", ValueError, None),  # White, kind None: would hit Black's pawns
    ([], [], "P*5e", ValueError, None),  # nothing in hand
    ([], [(BLACK, PAWN, 1)], "p*5e", ValueError, None),
    ([], [(WHITE, KING, 1)], "K*5e", ValueError, None),
    # Captures of a piece of kind None.
    ([("5d", GOLD, BLACK), ("5e", 0, WHITE)], [], "5d5e", "panic", SLOT_65535),
    ([("5d", GOLD, BLACK), ("5e", 0, NONE)], [], "5d5e", "panic", SLOT_65535),
    ([("5d", GOLD, WHITE), ("5e", 0, BLACK)], [(BLACK, PAWN, 1)], "5d5e", ValueError, None),
    ([("5d", GOLD, WHITE), ("5e", 0, BLACK)], [], "5e5e", ValueError, None),
    # A drop onto a piece: the capture is checked first, and rolled back if the drop fails.
    ([("5e", 0, WHITE)], [], "P*5e", "panic", SLOT_65535),
    ([("5e", PAWN, WHITE)], [], "G*5e", ValueError, None),
    ([("5e", PAWN, WHITE)], [(BLACK, PAWN, 1)], "X*5e", ValueError, None),
])
def test_refused_moves_change_nothing(engine, pieces, hand, text, error, message):
    board = setup(engine, [("5a", KING, BLACK), ("5i", ROOK, WHITE)] + pieces, hand)
    before = snapshot(engine, board)
    with pytest.raises(engine.panic if error == "panic" else error) as info:
        engine.execute(board, text)
    if message is not None:
        assert str(info.value) == message
    assert snapshot(engine, board) == before
    for colour, kind, times in hand:
        assert hand_count(engine, board, colour, kind) == times


def test_hand_count_cannot_pass_255(engine):
    board = setup(engine, [("5d", GOLD, BLACK), ("5e", PAWN, WHITE)], [(BLACK, PAWN, 255)])
    before = snapshot(engine, board)
    for text in ("5d5e", "P*5e"):  # the capture overflows before the drop could take one out
        with pytest.raises(OverflowError):
            engine.execute(board, text)
        assert snapshot(engine, board) == before
    engine.execute(board, "P*5f")  # 254 left: now the capture fits
    engine.execute(board, "5d5e")
    assert engine.piece(board, square("5e")) == (BLACK, GOLD)
