"""The mixed-call workload of the leak checks: tests/test_games.py runs it in the suite and
tools/sanitize.sh runs it under valgrind."""
import copy
import pickle

from velkorant import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

from support.surface import Index


def mixed_calls(rounds):
    """Every class and most members, over a hundred calls a round, a third of them failing in
    every way the boundary knows (wrong type, range, length, borrow, refusal, panic, codec,
    callbacks), with pickling and a game of the full rules."""
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
        moves = board.search_moves((black, white)[i & 1])
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
        pickle.loads(pickle.dumps((Address(7, 7), black, pawn, piece, move, hand)))
        fails(lambda: pickle.loads(pickle.dumps(board)))
        fails(hand.__setstate__, (hand.pieces, bytes(15)))
        fails(move.__setstate__, 2**16)
        game = Game()
        game.push(game.legal_moves()[i % 30])
        game.push_usi("3c3d"), game.is_check(), game.outcome(), game.sfen(), game.history, game.board
        pickle.loads(pickle.dumps(game)).pop()
        board.hand = hand
        board.remove(60)
        fails(Game, "x")
        fails(game.push_usi, "zz")
        fails(game.perft, -1)
        fails(Game().pop)
        fails(board.remove, 200)
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
