"""Hand: slot arithmetic, counts, droppable pieces, its attributes and refusals."""
import copy

import pytest

from velkorant import ColorType, Hand, Piece, PieceType

NONE_COLOR = getattr(ColorType, "None")
NONE_KIND = getattr(PieceType, "None")
SIDES = [ColorType.Black, ColorType.White]
HAND_KINDS = [PieceType.King, PieceType.Gold, PieceType.Rook, PieceType.Bichop,
              PieceType.Silver, PieceType.Knight, PieceType.Lance, PieceType.Pawn]

NEW_HAND_REPR = (
    "velkorant.Hand(pieces=[" + ", ".join(
        f"Piece {{ owner: {side}, piece_type: {kind} }}"
        for side in ("Black", "White")
        for kind in ("King", "Gold", "Rook", "Bichop", "Silver", "Knight", "Lance", "Pawn"))
    + "], counts=[" + ", ".join(["0"] * 16) + "])")


def state(hand):
    return repr(hand), hand.counts


def test_new_hand():
    hand = Hand()
    assert repr(hand) == NEW_HAND_REPR
    assert hand.counts == bytes(16)
    assert hand.get_player_pieces(ColorType.Black) == []


@pytest.mark.parametrize("side_index,side", list(enumerate(SIDES)))
@pytest.mark.parametrize("kind_index,kind", list(enumerate(HAND_KINDS)))
def test_slot_of_each_side_and_kind(side_index, side, kind_index, kind):
    hand = Hand()
    hand.add_pieces(side, kind, 3)
    expected = [0] * 16
    expected[side_index * 8 + kind_index] = 3
    assert list(hand.counts) == expected
    (piece,) = hand.get_player_pieces(side)
    assert piece.owner == side and piece.piece_type == kind
    assert hand.get_player_pieces(SIDES[1 - side_index]) == []


def test_player_pieces_order_and_decrease():
    hand = Hand()
    for kind in (PieceType.Pawn, PieceType.Gold, PieceType.Rook, PieceType.Pawn):
        hand.add_piece(ColorType.White, kind)
    assert [repr(p) for p in hand.get_player_pieces(ColorType.White)] == [
        "velkorant.Piece(g)", "velkorant.Piece(r)", "velkorant.Piece(p)"]
    hand.decrease_piece(ColorType.White, PieceType.Gold)
    assert [repr(p) for p in hand.get_player_pieces(ColorType.White)] == [
        "velkorant.Piece(r)", "velkorant.Piece(p)"]


def test_pieces_table_decides_what_is_shown():
    hand = Hand()
    hand.pieces = [Piece(ColorType.White, PieceType.Gold)] * 16
    hand.add_piece(ColorType.Black, PieceType.King)
    assert hand.counts[0] == 1
    assert [repr(p) for p in hand.get_player_pieces(ColorType.Black)] == ["velkorant.Piece(g)"]


def test_returned_pieces_are_copies():
    hand = Hand()
    hand.add_piece(ColorType.Black, PieceType.Pawn)
    hand.pieces[7].owner = ColorType.White
    hand.get_player_pieces(ColorType.Black)[0].piece_type = PieceType.Gold
    assert repr(hand.get_player_pieces(ColorType.Black)[0]) == "velkorant.Piece(P)"


@pytest.mark.parametrize("call,slot", [
    (lambda h: h.add_piece(NONE_COLOR, PieceType.Pawn), 65535),
    (lambda h: h.add_piece(NONE_COLOR, NONE_KIND), 65527),
    (lambda h: h.add_piece(ColorType.White, PieceType.Dragon), 16),
    (lambda h: h.add_pieces(ColorType.ColorNumber, PieceType.King, 1), 16),
    (lambda h: h.decrease_piece(ColorType.Black, NONE_KIND), 65535),
    (lambda h: h.get_player_pieces(NONE_COLOR), 65528),
    (lambda h: h.get_player_pieces(ColorType.ColorNumber), 16),
])
def test_slot_outside_the_table_panics(panic, call, slot):
    hand = Hand()
    hand.add_piece(ColorType.Black, PieceType.Gold)
    before = state(hand)
    with pytest.raises(panic, match=f"^index out of bounds: the len is 16 but the index is {slot}$"):
        call(hand)
    assert state(hand) == before


@pytest.mark.parametrize("color,kind", [
    (ColorType.White, NONE_KIND),        # would be Black's pawn slot
    (ColorType.Black, PieceType.Dragon),  # would be White's king slot
    (ColorType.Black, PieceType.ProPawn),
    (NONE_COLOR, PieceType.Horse),        # would be Black's gold slot
    (ColorType.ColorNumber, NONE_KIND),   # would be White's pawn slot
])
@pytest.mark.parametrize("method", ["add_piece", "decrease_piece", "add_pieces"])
def test_pairs_without_a_slot_of_their_own_are_refused(color, kind, method):
    hand = Hand()
    hand.counts = [1] * 16
    before = state(hand)
    args = (color, kind, 1) if method == "add_pieces" else (color, kind)
    with pytest.raises(ValueError):
        getattr(hand, method)(*args)
    assert state(hand) == before


def test_counts_never_wrap():
    hand = Hand()
    hand.add_pieces(ColorType.Black, PieceType.Pawn, 255)
    before = state(hand)
    with pytest.raises(OverflowError):
        hand.add_piece(ColorType.Black, PieceType.Pawn)
    with pytest.raises(OverflowError):
        hand.add_pieces(ColorType.Black, PieceType.Pawn, 1)
    hand.add_pieces(ColorType.Black, PieceType.Pawn, 0)
    assert state(hand) == before
    with pytest.raises(ValueError):
        hand.decrease_piece(ColorType.White, PieceType.Pawn)
    assert state(hand) == before
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        hand.add_pieces(ColorType.White, PieceType.Pawn, 256)


class TestAttributes:
    @pytest.mark.parametrize("value", [bytes(range(16)), list(range(16)), tuple(range(16)), bytearray(range(16))])
    def test_counts_accept_any_sequence(self, value):
        hand = Hand()
        hand.counts = value
        assert hand.counts == bytes(range(16))

    @pytest.mark.parametrize("name,value,error,message", [
        ("counts", [0] * 15, ValueError, "^expected a sequence of length 16 \\(got 15\\)$"),
        ("counts", [256] + [0] * 15, OverflowError, "^out of range integral type conversion attempted$"),
        ("counts", [0] * 15 + ["x"], TypeError, "^argument 'counts': 'str' object cannot be interpreted as an integer$"),
        ("counts", 5, TypeError, "^argument 'counts': 'int' object cannot be converted to 'Sequence'$"),
        ("counts", {i: 0 for i in range(16)}, TypeError, "'dict' object cannot be converted to 'Sequence'$"),
        ("pieces", [Piece(ColorType.Black, PieceType.Pawn)] * 17, ValueError, "\\(got 17\\)$"),
        ("pieces", [PieceType.Pawn] * 16, TypeError,
         "^argument 'pieces': 'PieceType' object cannot be converted to 'Piece'$"),
    ])
    def test_bad_assignment_changes_nothing(self, name, value, error, message):
        hand = Hand()
        hand.add_piece(ColorType.White, PieceType.Rook)
        before = state(hand)
        with pytest.raises(error, match=message):
            setattr(hand, name, value)
        assert state(hand) == before

    def test_no_deletion(self):
        hand = Hand()
        for name in ("pieces", "counts"):
            with pytest.raises(AttributeError, match="^can't delete attribute$"):
                delattr(hand, name)
        assert repr(hand) == NEW_HAND_REPR


@pytest.mark.parametrize("make_copy", [copy.copy, copy.deepcopy])
def test_copies_are_independent(make_copy):
    hand = Hand()
    hand.add_pieces(ColorType.Black, PieceType.Silver, 2)
    twin = make_copy(hand)
    assert twin is not hand and state(twin) == state(hand)
    twin.add_piece(ColorType.White, PieceType.Pawn)
    assert hand.counts[15] == 0 and twin.counts[15] == 1
