"""A fully typed walk over every class and member of velkorant.

It runs as a script (each step asserts what it shows) and it is the file that the type checkers
check against the shipped stubs:

    python examples/typed_tour.py
    mypy --strict examples/typed_tour.py
    basedpyright examples/typed_tour.py
"""
from __future__ import annotations

import copy
import pickle
from collections.abc import Sequence

import velkorant
from velkorant import Address, Board, ColorType, Game, Hand, Move, Piece, PieceType

# The class attributes named None cannot be written as ColorType.None in Python source.
NO_COLOR: ColorType = ColorType(255)
NO_KIND: PieceType = PieceType(0)
SIDES: tuple[ColorType, ColorType] = (ColorType.Black, ColorType.White)
HAND_KINDS: Sequence[PieceType] = (
    PieceType.King, PieceType.Gold, PieceType.Rook, PieceType.Bichop,
    PieceType.Silver, PieceType.Knight, PieceType.Lance, PieceType.Pawn,
)
PROMOTED_KINDS: Sequence[PieceType] = (
    PieceType.Dragon, PieceType.Horse, PieceType.ProSilver,
    PieceType.ProKnight, PieceType.ProLance, PieceType.ProPawn,
)


def colors() -> None:
    assert getattr(ColorType, "None") == NO_COLOR and NO_COLOR == -1
    assert int(ColorType.Black) == 0 and int(ColorType.White) == 1
    assert int(ColorType.ColorNumber) == 2 and ColorType(2) == ColorType.ColorNumber
    assert repr(NO_COLOR) == "velkorant.ColorType(255)"
    assert ColorType.Black != ColorType.White


def kinds() -> None:
    assert getattr(PieceType, "None") == NO_KIND and int(NO_KIND) == 0
    numbers: list[int] = [int(kind) for kind in HAND_KINDS]
    assert numbers == list(range(1, 9))
    for unpromoted, promoted in zip(HAND_KINDS[2:], PROMOTED_KINDS):
        assert int(promoted) == int(unpromoted) + 6
    assert PieceType(14) == PieceType.ProPawn and repr(PieceType.Dragon) == "velkorant.PieceType(9)"


def squares() -> None:
    square = Address(7, 7)
    assert square.to_int() == 84 and repr(square) == "velkorant.Address(7g)"
    square.column, square.row = 1, 1
    column: int = square.column
    row: int = square.row
    assert (column, row, square.to_int()) == (1, 1, 12)


def pieces() -> None:
    piece = Piece(ColorType.Black, PieceType.Dragon)
    assert repr(piece) == "velkorant.Piece(+R)"
    piece.owner = ColorType.White
    piece.piece_type = PieceType.Pawn
    owner: ColorType = piece.owner
    kind: PieceType = piece.piece_type
    assert owner == ColorType.White and kind == PieceType.Pawn and repr(piece) == "velkorant.Piece(p)"


def moves() -> None:
    step = Move("8h2b+")
    assert step.is_promote() and not step.is_drop()
    source: Address = step.get_from()
    target: Address = step.get_to()
    assert (source.to_int(), target.to_int()) == (96, 24)
    drop = Move(csa="P*5e")
    dropped: Piece = drop.get_piece()
    assert drop.is_drop() and dropped.piece_type == PieceType.Pawn
    assert str(drop) == "velkorant.Move(P*5e)"


def hands() -> None:
    hand = Hand()
    hand.add_piece(ColorType.Black, PieceType.Pawn)
    hand.add_pieces(color_type=ColorType.White, piece_type=PieceType.Rook, count=2)
    hand.decrease_piece(ColorType.White, PieceType.Rook)
    counts: bytes = hand.counts
    assert counts[7] == 1 and counts[10] == 1
    held: list[Piece] = hand.get_player_pieces(ColorType.White)
    assert [repr(p) for p in held] == ["velkorant.Piece(r)"]

    table: list[Piece] = hand.pieces
    assert len(table) == 16
    hand.pieces = table[::-1]          # any sequence of 16 pieces
    hand.counts = bytes(16)            # any sequence of 16 integers 0..255
    hand.counts = [0] * 16
    twin = copy.copy(hand)
    twin.add_piece(ColorType.Black, PieceType.Gold)
    assert hand.counts == bytes(16) != twin.counts
    assert copy.deepcopy(hand).counts == bytes(16)
    assert repr(hand).startswith("velkorant.Hand(pieces=[")


def boards() -> None:
    board = Board()
    finished, winner = board.is_finished()
    assert finished and winner == ColorType.White          # no kings at all
    board.startpos()
    assert repr(board) == "velkorant.Board(lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL)"
    assert board.is_finished() == (False, NO_COLOR)

    black_moves: list[Move] = board.search_moves(ColorType.Black)
    assert len(black_moves) == 30 and repr(black_moves[-1]) == "velkorant.Move(9c9d)"

    before = copy.copy(board)
    board.execute_move(Move("7c7d"))
    board.execute_move(moves=Move("3g3f"))
    moved: Piece = board.get_piece(Address(7, 4))
    assert moved.owner == ColorType.Black and moved.piece_type == PieceType.Pawn
    assert before.get_piece(Address(7, 4)).piece_type == NO_KIND
    assert copy.deepcopy(board).search_moves(ColorType.Black) != []

    # A lone black rook and a black pawn in hand.
    board = Board()
    board.deploy(index=5 * 11 + 5, piece_type=PieceType.Rook, color=ColorType.Black)
    board.deploy(16, PieceType.King, ColorType.White)
    lone: list[str] = [repr(m) for m in board.search_moves(ColorType.Black)]
    assert lone[0] == "velkorant.Move(5e5a)" and lone.count("velkorant.Move(5e5a)") == 1


def interop() -> None:
    board = Board()
    board.startpos()
    hand: Hand = board.hand
    hand.add_piece(ColorType.Black, PieceType.Pawn)
    board.hand = hand
    board.remove(16)
    twin: Board = pickle.loads(pickle.dumps(board))
    assert repr(twin) == repr(board.copy()) and twin.hand.counts == hand.counts
    usi: str = Move("7g7f").usi()
    assert usi == "3c3d" and repr(Move.from_usi(usi, ColorType.Black)) == "velkorant.Move(7g7f)"
    svg: str = board.to_svg()
    assert svg.startswith("<?xml")


def games() -> None:
    game = Game()
    played: Move = game.push_usi("7g7f")
    game.push(game.legal_moves()[0])
    assert game.turn == ColorType.Black and game.ply == 3 and len(game.history) == 2
    assert game.usi() == "startpos moves 7g7f " + game.history[1].usi()
    assert repr(game.pop()) != repr(played) and not game.is_check() and game.outcome() is None
    ended: tuple[ColorType, str] | None = Game("kn7/9/1G7/9/9/9/9/9/4K4 w - 1").outcome()
    assert ended is None
    mate = Game.from_board(Game("kn7/9/1G7/9/9/9/9/9/4K4 b G 1").board, ColorType.Black, ply=7)
    mate.push_usi("G*9b")
    assert mate.outcome() == (ColorType.Black, "checkmate") and mate.repetition_count() == 1
    assert Game.from_usi(game.usi()).sfen() == game.sfen() and not game.can_declare()
    assert Game().perft(2) == 900 and pickle.loads(pickle.dumps(mate)).sfen() == mate.sfen()


def panics() -> None:
    try:
        Board().deploy(200, PieceType.Pawn, ColorType.Black)
    except Exception:  # not reached: the fatal failure is not an Exception
        raise AssertionError("PanicException was caught as Exception") from None
    except BaseException as error:
        assert type(error).__name__ == "PanicException"


def main() -> None:
    assert velkorant.__all__ == ["Address", "ColorType", "PieceType", "Piece", "Move", "Hand", "Board", "Game"]
    for step in (colors, kinds, squares, pieces, moves, hands, boards, interop, games, panics):
        step()
        print(f"{step.__name__}: ok")


if __name__ == "__main__":
    main()
