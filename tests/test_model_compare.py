"""The module against the slow model on random positions and random games.

Positions are built with deploy (any kind and colour, wall squares, spare indices), hands with
captures, and games with moves picked from the generated lists plus the odd hand-written move.
After every step both sides must agree on the text form, every square, the game-end test and
both colours' move lists, and every failure must be the same kind of failure.
"""

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import model
from support.engines import needs_module, word_fields
from support.surface import PanicException, colour_type, move_fields, move_text

try:
    import velkorant
except ImportError:
    velkorant = None

pytestmark = needs_module

PLAYING = [r * 11 + c for r in range(1, 10) for c in range(1, 10)]
ODD_SQUARES = [i for i in range(128) if i not in PLAYING]  # the wall and the spare indices
KINDS = list(range(1, 15)) + [model.PAWN] * 4 + [model.GOLD, model.SILVER, 0]
COLOURS = [model.BLACK] * 6 + [model.WHITE] * 6 + [model.NONE, model.COLOR_NUMBER]
DROP_LETTERS = "KGRBSNLPkgrbsnlpXA"

RANDOM_GAMES = settings(max_examples=500, derandomize=True, database=None, deadline=None,
                        suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

squares = st.integers(0, 9).flatmap(
    lambda r: st.sampled_from(ODD_SQUARES if r == 0 else PLAYING))
deploys = st.tuples(squares, st.sampled_from(KINDS), st.sampled_from(COLOURS))
captures = st.tuples(st.sampled_from([model.BLACK, model.WHITE]), st.integers(1, 14))
odd_moves = st.one_of(
    st.tuples(squares, squares, st.booleans()).map(
        lambda m: model.square_text(m[0]) + model.square_text(m[1]) + ("+" if m[2] else "")),
    st.tuples(st.sampled_from(DROP_LETTERS), squares).map(
        lambda m: m[0] + "*" + model.square_text(m[1])),
)


def outcome(action):
    """None when the action succeeds, else what kind of failure it was."""
    try:
        action()
    except (model.Panic, PanicException) as e:
        return "panic", str(e)
    except (ValueError, OverflowError) as e:
        return type(e).__name__
    return None


class Pair:
    """A module board and a model board that are kept in the same position."""

    def __init__(self):
        self.module = velkorant.Board()
        self.model = model.Board()
        self.positions = 0

    def deploy(self, index, kind, colour):
        self.module.deploy(index, velkorant.PieceType(kind), colour_type(colour))
        self.model.deploy(index, kind, colour)

    def startpos(self):
        self.module.startpos()
        self.model.startpos()

    def execute(self, move, word):
        failed = outcome(lambda: self.module.execute_move(move))
        assert outcome(lambda: self.model.execute_move(word)) == failed, move_text(move)
        return failed

    def execute_text(self, text):
        move, word = velkorant.Move(text), model.parse_move(text)
        assert move_fields(move) == word_fields(word) and move_text(move) == model.move_text(word)
        return self.execute(move, word)

    def capture_into_hand(self, colour, kind):
        self.deploy(126, kind, 1 - colour)
        self.deploy(127, model.GOLD, colour)
        assert self.execute_text("6k5k") is None

    def moves(self, colour):
        listed = self.module.search_moves(colour_type(colour))
        words = self.model.search_moves(colour)
        assert [move_fields(m) for m in listed] == [word_fields(w) for w in words]
        assert [move_text(m) for m in listed] == [model.move_text(w) for w in words]
        return list(zip(listed, words))

    def check(self):
        """Compares everything readable; returns both colours' moves."""
        self.positions += 1
        assert repr(self.module) == repr(self.model)
        pieces = [self.module.get_piece(velkorant.Address(i % 11, i // 11)) for i in range(128)]
        assert [(int(p.owner), int(p.piece_type)) for p in pieces] == \
            [self.model.get_piece(i % 11, i // 11) for i in range(128)]
        done, winner = self.module.is_finished()
        assert (done, int(winner)) == self.model.is_finished()
        return self.moves(model.BLACK), self.moves(model.WHITE)

    def drain_hands(self):
        """Drops every kind of each side onto the spare indices until the hand refuses: both
        boards must succeed and fail on the same drops, so their counts are the same."""
        for colour, letters in ((model.BLACK, "KGRBSNLP"), (model.WHITE, "kgrbsnlp")):
            for letter in letters:
                for n in range(40):
                    if self.execute_text(f"{letter}*{model.square_text(121 + n % 7)}") \
                            == "ValueError":
                        break


@RANDOM_GAMES
@given(start=st.booleans(), hand=st.lists(captures, max_size=8),
       pieces=st.lists(deploys, max_size=30), data=st.data())
def test_random_games(start, hand, pieces, data):
    pair = Pair()
    if start:
        pair.startpos()
    for colour, kind in hand:
        pair.capture_into_hand(colour, kind)
    for index, kind, colour in pieces:
        pair.deploy(index, kind, colour)
    colour = data.draw(st.sampled_from([model.BLACK, model.WHITE]))
    for _ in range(data.draw(st.integers(1, 12))):
        moves = pair.check()[colour]
        if data.draw(st.integers(0, 7)) == 0:
            pair.execute_text(data.draw(odd_moves))
        elif moves:
            pair.execute(*moves[data.draw(st.integers(0, len(moves) - 1))])
        colour = 1 - colour
    pair.check()
    for side in (model.NONE, model.COLOR_NUMBER):
        with pytest.raises(PanicException) as info:
            pair.module.search_moves(colour_type(side))
        with pytest.raises(model.Panic) as expected:
            pair.model.search_moves(side)
        assert str(info.value) == str(expected.value)
    pair.drain_hands()
    pair.check()


@settings(max_examples=1500, derandomize=True, database=None, deadline=None)
@given(st.one_of(st.text(max_size=7),
                 st.text(alphabet="0123456789abcdefghijklPpKkXx*+-é€ſß😀", max_size=7)))
def test_move_text_against_the_model(text):
    try:
        word = model.parse_move(text)
    except model.Panic as e:
        with pytest.raises(PanicException) as info:
            velkorant.Move(text)
        # The text inside the message is checked by the examples; here the fixed part.
        assert str(info.value).startswith(str(e).split(";")[0].split("`")[0])
        return
    move = velkorant.Move(text)
    assert move_fields(move) == word_fields(word)
    assert move_text(move) == model.move_text(word)
    piece = move.get_piece()
    assert (int(piece.owner), int(piece.piece_type)) == model.piece_from_code(model.move_from(word))
