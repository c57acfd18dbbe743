"""Long random games through the public surface, and the long-run leak check.

After every move of a random game the position must read back consistently (each square one
piece, the text form agreeing with get_piece), no piece may appear or vanish (board plus hands
stay the full set), and the move must have done exactly what the rules say to the two squares
and the hands. Hand counts are not readable directly: they are measured by dropping a kind onto
an empty square of a copy of the board until the hand refuses.
"""
import gc
import sys

from hypothesis import given, settings, strategies as st

from velkorant import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

from support.surface import Index, hand_counts, move_text, move_view, parse_placement, read, square_text
from support.workload import mixed_calls

COLOURS = (ColorType.Black, ColorType.White)
PLAYING = [row * 11 + column for row in range(1, 10) for column in range(1, 10)]
# One side's pieces as kinds: King, Rook, Bichop, 2 Gold, 2 Silver, 2 Knight, 2 Lance, 9 Pawn.
ARMY = [1, 3, 4, 2, 2, 5, 5, 6, 6, 7, 7] + [8] * 9


def unpromoted(kind):
    return kind - 6 if kind >= 9 else kind


def observe(board):
    """The squares that hold a piece ({index: (owner, kind)} over 0..127) and the hand counts,
    after checking that the text form, get_piece and is_finished agree with each other."""
    squares = {}
    for index in range(128):
        owner, kind = read(board, index)
        assert (owner == -1) == (kind == 0) and owner in (-1, 0, 1) and 0 <= kind <= 14
        if kind:
            squares[index] = (owner, kind)
    text = repr(board)
    assert text.startswith("velkorant.Board(") and text.endswith(")")
    assert parse_placement(text[len("velkorant.Board("):-1]) == {i: p for i, p in squares.items() if i in PLAYING}
    kings = [owner for owner, kind in squares.values() if kind == 1]
    finished, winner = board.is_finished()
    assert (finished, int(winner)) == ((False, -1) if len(kings) == 2 else (True, 0 if 0 in kings else 1))
    return squares, hand_counts(board)


def material(squares, hands):
    """Pieces of each unpromoted kind on the board and in both hands."""
    totals = [0] * 9
    for _, kind in squares.values():
        totals[unpromoted(kind)] += 1
    for slot, count in enumerate(hands):
        totals[slot % 8 + 1] += count
    return totals


def random_position(rng):
    """The 40 pieces of a game, each side's kings on the board and every other piece on a random
    playing square (promoted or not) or in either hand. The hands are filled through captures:
    a piece of the other side is placed and taken, and the final deploys overwrite the squares
    used for that."""
    board = Board()
    if rng.random() < 0.2:
        board.startpos()
        return board, None, None
    on_board, in_hand = [], [0] * 16
    for colour in (0, 1):
        for kind in ARMY:
            if kind == 1 or rng.random() < 0.7:
                promote = 6 if 3 <= kind <= 8 and rng.random() < 0.15 else 0
                on_board.append((rng.randrange(2) if kind != 1 else colour, kind + promote))
            else:
                in_hand[rng.randrange(2) * 8 + kind - 1] += 1
    places = dict(zip(rng.sample(PLAYING, len(on_board)), on_board))
    first, second = list(places)[:2]
    for slot, count in enumerate(in_hand):
        capturer, kind = slot // 8, slot % 8 + 1
        for _ in range(count):
            board.deploy(first, PieceType(kind), COLOURS[1 - capturer])
            board.deploy(second, PieceType.Pawn, COLOURS[capturer])
            board.execute_move(Move(square_text(second) + square_text(first)))
    for index, (owner, kind) in places.items():
        board.deploy(index, PieceType(kind), COLOURS[owner])
    return board, places, in_hand


def after(squares, hands, move, mover):
    """The position the rules give after `move` by `mover`, checking that the generator offered
    something playable: a drop of a kind in hand onto an empty square, or a board move of the
    mover's own piece that does not take one of its own."""
    squares, hands = dict(squares), list(hands)
    to = move.get_to().to_int()
    if move.is_drop():
        piece = move.get_piece()
        owner, kind = int(piece.owner), int(piece.piece_type)
        assert owner == mover and 1 <= kind <= 8 and to not in squares and not move.is_promote()
        assert hands[owner * 8 + kind - 1] > 0
        hands[owner * 8 + kind - 1] -= 1
        squares[to] = (owner, kind)
        return squares, hands
    owner, kind = squares.pop(move.get_from().to_int())
    assert owner == mover
    if to in squares:
        victim_owner, victim_kind = squares[to]
        assert victim_owner != mover
        hands[mover * 8 + unpromoted(victim_kind) - 1] += 1
    if move.is_promote():
        assert 3 <= kind <= 8
        kind += 6
    squares[to] = (mover, kind)
    return squares, hands




@settings(max_examples=15, derandomize=True, deadline=None)
@given(st.randoms(use_true_random=False))
def test_random_games_keep_every_piece(rng):
    board, places, in_hand = random_position(rng)
    squares, hands = observe(board)
    if places is not None:
        assert squares == places and hands == in_hand
    full_set = material(squares, hands)
    assert full_set == [0, 2, 4, 2, 2, 4, 4, 4, 18]
    mover, idle = rng.randrange(2), 0
    for _ in range(300):  # a fallen king ends nothing here: play goes on, kings can be dropped
        if idle == 2:
            break
        moves = board.search_moves(COLOURS[mover])
        idle = 0 if moves else idle + 1
        if moves:
            move = rng.choice(moves)
            assert move_view(Move(move_text(move))) == move_view(move)
            expected = after(squares, hands, move, mover)
            board.execute_move(move)
            squares, hands = observe(board)
            assert (squares, hands) == expected
            assert material(squares, hands) == full_set
        mover = 1 - mover


# ---------------------------------------------------------------------------------------------
# Leak check


def test_mixed_calls_do_not_leak():
    """Hundreds of thousands of calls leave no objects and no references behind. Every instance
    holds a reference to its class, so a leaked instance shows in its class's reference count."""
    classes = (Address, ColorType, PieceType, Piece, Move, Hand, Board, Game, Index)
    mixed_calls(300)  # fill the free lists and caches first
    gc.collect()
    blocks, references = sys.getallocatedblocks(), [sys.getrefcount(c) for c in classes]
    mixed_calls(6000)
    gc.collect()
    assert [sys.getrefcount(c) for c in classes] == references
    assert sys.getallocatedblocks() - blocks < 500
