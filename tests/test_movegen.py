"""Move generation: the moves of each kind, blocking, captures, promotion, drops, and order."""

import pytest

from support.engines import give, place, square
from model import (BICHOP, BLACK, COLOR_NUMBER, DRAGON, GOLD, HORSE, KING, KNIGHT, LANCE, NONE,
                   PAWN, PRO_PAWN, ROOK, SILVER, WHITE)

FILES = "123456789"
RANKS = "abcdefghi"


def text_of(column, row):
    return FILES[column - 1] + RANKS[row - 1]


def by_index(squares):
    return sorted(squares, key=square)


def playing(rows=range(1, 10)):
    return by_index(text_of(c, r) for r in rows for c in range(1, 10))


def moves_of(engine, colour, pieces, hand=(), start=False):
    board = engine.new()
    if start:
        engine.startpos(board)
    place(engine, board, *pieces)
    for owner, kind in hand:
        give(engine, board, owner, kind)
    return engine.moves(board, colour)


STARTPOS_BLACK = ("1a1b 3a3b 3a4b 4a3b 4a4b 4a5b 5a4b 5a5b 5a6b 6a5b 6a6b 6a7b 7a6b 7a7b 9a9b "
                  "8b3b 8b4b 8b5b 8b6b 8b7b 8b9b "
                  "1c1d 2c2d 3c3d 4c4d 5c5d 6c6d 7c7d 8c8d 9c9d").split()
STARTPOS_WHITE = ("1g1f 2g2f 3g3f 4g4f 5g5f 6g6f 7g7f 8g8f 9g9f 2h1h 2h3h 2h4h 2h5h 2h6h 2h7h "
                  "1i1h 3i3h 3i4h 4i3h 4i4h 4i5h 5i4h 5i5h 5i6h 6i5h 6i6h 6i7h 7i6h 7i7h "
                  "9i9h").split()


@pytest.mark.parametrize("colour, expected", [(BLACK, STARTPOS_BLACK), (WHITE, STARTPOS_WHITE)])
def test_initial_position(engine, colour, expected):
    assert moves_of(engine, colour, [], start=True) == expected


ROOK_5H = by_index([text_of(5, r) for r in (1, 2, 3, 4, 5, 6, 7, 9)]
                   + [text_of(c, 8) for c in (1, 2, 3, 4, 6, 7, 8, 9)])
DRAGON_5E = by_index([text_of(5, r) for r in (1, 2, 3, 4, 6, 7, 8, 9)]
                     + [text_of(c, 5) for c in (1, 2, 3, 4, 6, 7, 8, 9)] + ["4d", "6d", "4f", "6f"])
HORSE_5E = by_index([text_of(5 + d * s, 5 + d * t) for d in range(1, 5)
                     for s in (-1, 1) for t in (-1, 1)] + ["5d", "4e", "6e", "5f"])


def board_moves(source, targets, promoting=()):
    return [source + t for t in targets] + [source + t + "+" for t in promoting]


@pytest.mark.parametrize("colour, pieces, expected", [
    # Pawns and lances keep the plain move onto the last row.
    (BLACK, [("5h", PAWN, BLACK)], ["5h5i", "5h5i+"]),
    (WHITE, [("5b", PAWN, WHITE)], ["5b5a", "5b5a+"]),
    (BLACK, [("5e", ROOK, BLACK)],
     board_moves("5e", "5a 5b 5c 5d 1e 2e 3e 4e 6e 7e 8e 9e 5f 5g 5h 5i".split(), ["5g", "5h", "5i"])),
    # From inside the zone every destination may promote.
    (BLACK, [("5h", ROOK, BLACK)], board_moves("5h", ROOK_5H, ROOK_5H)),
    (BLACK, [("5f", SILVER, BLACK)], board_moves("5f", ["4e", "6e", "4g", "5g", "6g"],
                                                 ["4g", "5g", "6g"])),
    (BLACK, [("5g", KNIGHT, BLACK)], ["5g4i", "5g6i", "5g4i+", "5g6i+"]),
    (WHITE, [("5c", KNIGHT, WHITE)], ["5c4a", "5c6a", "5c4a+", "5c6a+"]),
    (BLACK, [("5e", DRAGON, BLACK)], board_moves("5e", DRAGON_5E)),
    (BLACK, [("5e", HORSE, BLACK)], board_moves("5e", HORSE_5E)),
    (BLACK, [("5e", KING, BLACK)], board_moves("5e", ["4d", "5d", "6d", "4e", "6e", "4f", "5f", "6f"])),
    (WHITE, [("5e", GOLD, WHITE)], board_moves("5e", ["4d", "5d", "6d", "4e", "6e", "5f"])),
    (WHITE, [("5e", SILVER, WHITE)], board_moves("5e", ["4d", "5d", "6d", "4f", "6f"])),
    (WHITE, [("1i", BICHOP, WHITE)], board_moves("1i", ["9a", "8b", "7c", "6d", "5e", "4f", "3g", "2h"],
                                                 ["9a", "8b", "7c"])),
    (BLACK, [("5e", ROOK, BLACK), ("5c", PAWN, WHITE), ("5g", GOLD, BLACK)],
     board_moves("5e", "5c 5d 1e 2e 3e 4e 6e 7e 8e 9e 5f".split())
     + board_moves("5g", ["5f", "4g", "6g", "4h", "5h", "6h"])),
    (WHITE, [("5e", LANCE, WHITE), ("5b", PAWN, BLACK)], board_moves("5e", ["5b", "5c", "5d"],
                                                                     ["5b", "5c"])),
    # Odd squares: a piece on the wall moves onto the board; colourless pieces block nothing;
    # kind None and pieces on spare indices never move.
    # (a slide stops after eight squares, one short of 9a)
    (BLACK, [(11, ROOK, BLACK)], board_moves("0a", [text_of(c, 1) for c in range(1, 9)])),
    (BLACK, [("5e", LANCE, BLACK), ("5g", PAWN, NONE)], board_moves("5e", ["5f", "5g", "5h", "5i"],
                                                                    ["5g", "5h", "5i"])),
    (WHITE, [("5e", 0, WHITE), (121, ROOK, WHITE), (127, KING, WHITE)], []),
    (BLACK, [], []),
])
def test_board_moves(engine, colour, pieces, expected):
    assert moves_of(engine, colour, pieces) == expected


@pytest.mark.parametrize("row", [8, 9])
def test_black_knight_on_the_last_two_rows_has_no_move(engine, row):
    pieces = [(text_of(c, row), KNIGHT, BLACK) for c in range(1, 10)]
    assert moves_of(engine, BLACK, pieces) == []


STARTPOS_EMPTY = by_index(text_of(c, r) for r in range(1, 10) for c in range(1, 10)
                          if r in (4, 5, 6) or (r == 2 and c not in (2, 8)) or (r == 8 and c not in (2, 8)))


@pytest.mark.parametrize("colour, hand, pieces, expected", [
    (BLACK, [(BLACK, GOLD)], None, STARTPOS_BLACK + ["G*" + s for s in STARTPOS_EMPTY]),
    (BLACK, [(BLACK, PAWN)], None, STARTPOS_BLACK),
    (WHITE, [(WHITE, LANCE)], [], ["l*" + s for s in playing(range(2, 10))]),
    (WHITE, [(WHITE, KNIGHT)], [], ["n*" + s for s in playing(range(3, 10))]),
    (BLACK, [(BLACK, PAWN)], [], ["P*" + s for s in playing(range(1, 9))]),
    (BLACK, [(BLACK, LANCE)], [], ["L*" + s for s in playing(range(1, 9))]),
    (BLACK, [(BLACK, KNIGHT)], [], ["N*" + s for s in playing(range(1, 8))]),
    (WHITE, [(WHITE, PAWN)], [("5e", PAWN, WHITE)],
     ["5e5d"] + ["p*" + s for s in playing(range(2, 10)) if s[0] != "5"]),
    # A promoted pawn, a pawn of the other side, or a pawn owned by no side leave the column open.
    (BLACK, [(BLACK, PAWN)], [("5e", PRO_PAWN, BLACK), ("4e", PAWN, WHITE), ("3e", PAWN, NONE)],
     board_moves("5e", ["5d", "4e", "6e", "4f", "5f", "6f"])
     + ["P*" + s for s in playing(range(1, 9)) if s not in ("3e", "4e", "5e")]),
    (BLACK, [(BLACK, KING)], [], []),
    (WHITE, [(BLACK, GOLD), (WHITE, KING)], [], []),
    # Drops come after all board moves, kind by kind in hand order.
    (WHITE, [(WHITE, PAWN), (WHITE, GOLD), (WHITE, ROOK)],
     [(text_of(c, r), GOLD, BLACK) for r in range(1, 10) for c in range(1, 10)
      if (c, r) not in ((1, 1), (9, 9), (5, 5))],
     ["g*1a", "g*5e", "g*9i", "r*1a", "r*5e", "r*9i", "p*5e", "p*9i"]),
])
def test_drops(engine, colour, hand, pieces, expected):
    assert moves_of(engine, colour, pieces or [], hand, start=pieces is None) == expected


def test_square_emptied_by_a_move_can_take_a_drop_even_on_the_wall(engine):
    board = engine.new()
    place(engine, board, (11, GOLD, BLACK))
    give(engine, board, BLACK, SILVER)
    engine.execute(board, "0a1a")
    drops = [m for m in engine.moves(board, BLACK) if "*" in m]
    assert drops == ["S*0a"] + ["S*" + s for s in playing() if s != "1a"]


@pytest.mark.parametrize("colour, index", [(NONE, 65528), (COLOR_NUMBER, 16)])
def test_search_moves_without_a_side_panics(engine, colour, index):
    board = engine.new()
    engine.startpos(board)
    with pytest.raises(engine.panic) as info:
        engine.moves(board, colour)
    assert str(info.value) == f"index out of bounds: the len is 16 but the index is {index}"
    assert engine.moves(board, BLACK) == STARTPOS_BLACK
