"""Long random games through the public surface, and the long-run leak check.

After every move of a random game the position must read back consistently (each square one
piece, the text form agreeing with get_piece), no piece may appear or vanish (board plus hands
stay the full set), and the move must have done exactly what the rules say to the two squares
and the hands. Hand counts are not readable directly: they are measured by dropping a kind onto
an empty square of a copy of the board until the hand refuses.
"""
import copy
import gc
import sys

from hypothesis import given, settings, strategies as st

from velkorant import Address, Board, ColorType, Hand, Move, Piece, PieceType

from engines import Index, parse_placement

COLOURS = (ColorType.Black, ColorType.White)
LETTERS = "kgrbsnlp"  # kinds 1..8, King..Pawn
PLAYING = [row * 11 + column for row in range(1, 10) for column in range(1, 10)]
# One side's pieces as kinds: King, Rook, Bichop, 2 Gold, 2 Silver, 2 Knight, 2 Lance, 9 Pawn.
ARMY = [1, 3, 4, 2, 2, 5, 5, 6, 6, 7, 7] + [8] * 9


def unpromoted(kind):
    return kind - 6 if kind >= 9 else kind


def square(index):
    return Address(index % 11, index // 11)


def square_text(index):
    return repr(square(index))[len("velkorant.Address("):-1]


def read(board, index):
    """(owner, kind) as numbers, owner -1 for an empty square."""
    piece = board.get_piece(square(index))
    return int(piece.owner), int(piece.piece_type)


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


def move_fields(move):
    return (repr(move), repr(move.get_from()), repr(move.get_to()), move.is_drop(), move.is_promote(),
            repr(move.get_piece()))


def move_text(move):
    return repr(move)[len("velkorant.Move("):-1]


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
            assert move_fields(Move(move_text(move))) == move_fields(move)
            expected = after(squares, hands, move, mover)
            board.execute_move(move)
            squares, hands = observe(board)
            assert (squares, hands) == expected
            assert material(squares, hands) == full_set
        mover = 1 - mover


# ---------------------------------------------------------------------------------------------
# Leak check


def mixed_calls(rounds):
    """Every class and member, about ninety calls a round, a third of them failing in every way
    the boundary knows (wrong type, range, length, borrow, refusal, panic, codec, callbacks)."""
    black, white, pawn = ColorType.Black, ColorType.White, PieceType.Pawn
    no_colour = getattr(ColorType, "None")
    long_text = "\u00e9" * 300

    def fails(call, *args, **kwargs):
        try:
            call(*args, **kwargs)
        except BaseException:  # noqa: B036 - PanicException is only a BaseException
            pass

    def type_error_with_cause():
        raise TypeError("custom") from ValueError("cause")

    for i in range(rounds):
        board, hand = Board(), Hand()
        board.startpos()
        moves = board.search_moves(COLOURS[i & 1])
        board.execute_move(moves[i % len(moves)])
        repr(board), board.is_finished(), board.get_piece(Address(5, 1 + i % 9))
        copy.deepcopy(board)
        hand.add_pieces(black, pawn, 3)
        hand.decrease_piece(black, pawn)
        hand.get_player_pieces(white), hand.pieces, hand.counts, repr(hand)
        hand.counts = bytes(range(16))
        hand.pieces = [Piece(black, PieceType(k % 15)) for k in range(16)]
        move = Move("P*5e" if i & 1 else "7g7f+")
        move.get_from(), move.get_to(), move.get_piece(), move.is_drop(), repr(move)
        piece = Piece(white, PieceType.Dragon)
        piece.owner = black
        ColorType(i % 256) == i, PieceType(i % 256) != black
        fails(board.deploy, 200, pawn, black)
        fails(board.get_piece, Address(200, 200))
        fails(board.search_moves, no_colour)
        fails(board.execute_move, Move("p*5e"))
        fails(Move, "7")
        fails(Move, "a\u00e9b")
        fails(Move, long_text[:1])
        fails(Move, "7g\ud800")
        fails(Move, 7)
        fails(Address, 2**70, 1)
        fails(Address, Index(1, type_error_with_cause), 1)
        fails(hand.add_pieces, black, pawn, 255)
        fails(hand.add_pieces, black, pawn, Index(1, lambda: hand.counts))
        fails(setattr, hand, "counts", [Index(1, lambda: hand.add_piece(black, pawn))] * 16)
        fails(setattr, hand, "counts", [0] * 15)
        fails(setattr, hand, "pieces", [piece] * 15 + [board])
        fails(hand.get_player_pieces, no_colour)
        fails(Hand().decrease_piece, white, pawn)
        fails(board.deploy, Index(12, lambda: board.get_piece(Address(1, 1))), pawn, black)
        fails(board.deploy, 12, pawn)
        fails(board.deploy, 12, pawn, black, colour=black)
        fails(delattr, piece, "owner")
        fails(lambda: black < white)
        fails(hash, pawn)


def test_mixed_calls_do_not_leak():
    """Hundreds of thousands of calls leave no objects and no references behind. Every instance
    holds a reference to its class, so a leaked instance shows in its class's reference count."""
    classes = (Address, ColorType, PieceType, Piece, Move, Hand, Board, Index)
    mixed_calls(300)  # fill the free lists and caches first
    gc.collect()
    blocks, references = sys.getallocatedblocks(), [sys.getrefcount(c) for c in classes]
    mixed_calls(6000)
    gc.collect()
    assert [sys.getrefcount(c) for c in classes] == references
    assert sys.getallocatedblocks() - blocks < 500
