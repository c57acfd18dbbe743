"""Move words and move text: parsing, the accessors, writing back, and the too-short texts."""

import pytest

from support.engines import needs_module
from model import BLACK, KING, LANCE, PAWN, SILVER, WHITE

try:
    import velkorant
except ImportError:
    velkorant = None

FILES = "123456789"
RANKS = "abcdefghi"
SQUARES = [f + r for r in RANKS for f in FILES]


# text, (from, to, promote, drop), text written back, (owner, kind) of get_piece()
@pytest.mark.parametrize("text, fields, written, piece", [
    ("7g7f", (84, 73, False, False), "7g7f", (WHITE, 0)),  # 84 as a piece code: kind bits 20, none
    ("7g7f+", (84, 73, True, False), "7g7f+", (WHITE, 0)),
    ("7g7fx", (84, 73, False, False), "7g7f", (WHITE, 0)),
    ("7g7f=", (84, 73, False, False), "7g7f", (WHITE, 0)),
    ("7g7f+ and more", (84, 73, True, False), "7g7f+", (WHITE, 0)),
    ("7g7f +", (84, 73, False, False), "7g7f", (WHITE, 0)),
    ("8h2b+", (96, 24, True, False), "8h2b+", (WHITE, 0)),
    ("1a1a", (12, 12, False, False), "1a1a", (BLACK, 12)),
    ("9i9i", (108, 108, False, False), "9i9i", (WHITE, 0)),
    ("P*5e", (8, 60, False, True), "P*5e", (BLACK, PAWN)),
    ("p*5e", (72, 60, False, True), "p*5e", (WHITE, PAWN)),
    ("P*5e+", (8, 60, False, True), "P*5e", (BLACK, PAWN)),
    ("K*5e", (1, 60, False, True), "K*5e", (BLACK, KING)),
    ("k*5e", (65, 60, False, True), "k*5e", (WHITE, KING)),
    ("S*5e", (5, 60, False, True), "S*5e", (BLACK, SILVER)),
    ("s*1a", (69, 12, False, True), "s*1a", (WHITE, SILVER)),
    ("X*5e", (64, 60, False, True), " *5e", (WHITE, 0)),
    ("A*5e", (0, 60, False, True), " *5e", (BLACK, 0)),
    ("T*5e", (64, 60, False, True), " *5e", (WHITE, 0)),  # "T" (84) is the first with the White bit
    ("**5e", (0, 60, False, True), " *5e", (BLACK, 0)),
    ("abcd", (71, 95, False, False), "5f7h", (WHITE, LANCE)),
    # A destination of 128 or more runs into the promote bit; a source of 128 or more into `to`.
    ("1a0l", (12, 4, True, False), "1a4`+", (BLACK, 12)),
    ("0l1a", (4, 13, False, False), "4`2a", (BLACK, 4)),
    ("P*0l", (8, 4, True, True), "P*4`+", (BLACK, PAWN)),
    # Non-ASCII text: bytes 2 and 3 give the destination, characters decide drop and promotion.
    ("é*5e", (64, 33, False, True), " *0c", (WHITE, 0)),
    ("ſ*5e", (64, 33, False, True), " *0c", (WHITE, 0)),  # long s is not folded to "S"
    ("Ā*5e", (0, 33, False, True), " *0c", (BLACK, 0)),  # U+0100: code 0 modulo 256
    ("7gß+", (84, 72, False, False), "7g6f", (WHITE, 0)),  # "+" is the fifth byte, fourth char
    ("7gßx+", (84, 72, True, False), "7g6f+", (WHITE, 0)),  # "+" is the fifth character
])
def test_parse_and_write(engine, text, fields, written, piece):
    assert engine.parse(text) == (fields, written, piece)


@pytest.mark.parametrize("text, message", [
    ("", "byte index 2 is out of bounds of ``"),
    ("a", "byte index 2 is out of bounds of `a`"),
    ("\x00", "byte index 2 is out of bounds of `\x00`"),
    ("xé", "byte index 2 is not a char boundary; it is inside "),
    ("\x00é", "byte index 2 is not a char boundary; it is inside "),
    ("a€", "byte index 2 is not a char boundary; it is inside "),
    ("😀", "byte index 2 is not a char boundary; it is inside "),
    ("a€b", "byte index 2 is not a char boundary; it is inside "),
    ("ab", "index out of bounds: the len is 0 but the index is 0"),
    ("é", "index out of bounds: the len is 0 but the index is 0"),
    ("abc", "index out of bounds: the len is 1 but the index is 1"),
    ("éx", "index out of bounds: the len is 1 but the index is 1"),
    ("7g*", "index out of bounds: the len is 1 but the index is 1"),
])
def test_too_short_texts_panic(engine, text, message):
    with pytest.raises(engine.panic) as info:
        engine.parse(text)
    assert str(info.value).startswith(message)
    if "char boundary" in message:
        assert str(info.value).endswith(f" of `{text}`")
    else:
        assert str(info.value) == message


def test_well_formed_texts_round_trip(engine):
    texts = [a + b + p for a in SQUARES for b in SQUARES for p in ("", "+")]
    texts += [letter + "*" + b for letter in "KGRBSNLPkgrbsnlp" for b in SQUARES]
    written = [engine.parse(t)[1] for t in texts]
    assert [t for t, w in zip(texts, written) if t != w] == []


@needs_module
def test_move_accessors_and_forms():
    move = velkorant.Move(csa="7g7f")
    assert (move.get_from().column, move.get_from().row) == (7, 7)
    assert (move.get_to().column, move.get_to().row) == (7, 6)
    assert repr(move) == str(move) == "velkorant.Move(7g7f)"
    assert not move.is_drop() and not move.is_promote()
    drop = velkorant.Move("p*5e")
    assert drop.is_drop() and not drop.is_promote()
    assert (drop.get_from().column, drop.get_from().row) == (72 % 11, 72 // 11)
    assert repr(drop.get_piece()) == "velkorant.Piece(p)"


@needs_module
def test_a_listed_move_rewritten_in_place_is_not_listed_again():
    # Generated lists share one Move object per word; __setstate__ (kept for old pickles) can
    # still rewrite one, and later lists must not show the rewritten word.
    board = velkorant.Board()
    board.startpos()
    white = velkorant.ColorType.White
    listed = board.search_moves(white)
    texts = [repr(m) for m in listed]
    listed[0].__setstate__(0)
    assert [repr(m) for m in board.search_moves(white)] == texts
