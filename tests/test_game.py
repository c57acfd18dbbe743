"""Game: the full rules, checked against independent oracles (cshogi and python-shogi) on the
positions of random legal games, plus a few hand-made positions for each rule, SFEN in and out,
USI positions, undo, repetition and the declaration rule."""
import copy
import pickle
import random

import pytest

from velkorant import Board, ColorType, Game, Move, PieceType

cshogi = pytest.importorskip("cshogi")

BLACK, WHITE, NO_SIDE = ColorType.Black, ColorType.White, ColorType(255)
STARTPOS = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"


def usi_set(moves):
    return sorted(m.usi() for m in moves)


def random_games(count, seed, max_plies=200):
    """(sfens, usi moves) of random legal games played by cshogi."""
    rng = random.Random(seed)
    for _ in range(count):
        board, sfens, moves = cshogi.Board(), [], []
        for _ in range(max_plies):
            sfens.append(board.sfen())
            legal = list(board.legal_moves)
            if not legal:
                break
            move = rng.choice(legal)
            moves.append(cshogi.move_to_usi(move))
            board.push(move)
        else:
            sfens.append(board.sfen())
        yield sfens, moves


class TestAgainstCshogi:
    def test_random_legal_games(self):
        """Every position of 60 random games, read from cshogi's SFEN: the same SFEN back, the
        same legal moves, in search_moves order, the same check and end verdicts. Then the game
        is played again with push_usi, which must give the same positions, and undone with pop,
        which must give them back in reverse."""
        positions = 0
        for sfens, moves in random_games(60, seed=3):
            game = Game()
            for sfen, usi in zip(sfens, moves + [None]):
                theirs = cshogi.Board(sfen)
                ours = Game(sfen)
                assert ours.sfen() == sfen and game.sfen() == sfen
                legal = ours.legal_moves()
                assert usi_set(legal) == sorted(cshogi.move_to_usi(m) for m in theirs.legal_moves)
                generated = ours.board.search_moves(ours.turn)
                assert [repr(m) for m in legal] == [repr(m) for m in generated if ours.is_legal(m)]
                assert ours.is_check() == theirs.is_check() == game.is_check()  # game: after a push
                assert (ours.outcome() is None) == bool(legal)
                positions += 1
                if usi is not None:
                    assert game.push_usi(usi).usi() == usi
            for sfen in reversed(sfens[:-1]):
                game.pop()
                assert game.sfen() == sfen and game.is_check() == cshogi.Board(sfen).is_check()
            assert game.history == [] and game.repetition_count() == 1
        assert positions > 5000

    @pytest.mark.parametrize("sfen", [
        "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 2",
        "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124",
        "4k4/9/9/9/5R3/9/9/9/4K4 b - 1",
        "9/9/9/9/4k4/9/9/9/9 b 2r2b4g4s4n4l18p 1",
    ])
    def test_sfen_agrees(self, sfen):
        assert Game(sfen).sfen() == cshogi.Board(sfen).sfen() == sfen


def test_against_python_shogi():
    """A second oracle on fewer positions (python-shogi is slow)."""
    shogi = pytest.importorskip("shogi")
    for sfens, _ in random_games(8, seed=5, max_plies=150):
        for sfen in sfens[::3]:
            assert usi_set(Game(sfen).legal_moves()) == sorted(m.usi() for m in shogi.Board(sfen).legal_moves)


@pytest.mark.parametrize("depth,nodes", [(0, 1), (1, 30), (2, 900), (3, 25470), (4, 719731)])
def test_perft_from_the_initial_position(depth, nodes):
    assert Game().perft(depth) == nodes


# One row per rule: a position, a USI move and whether the full rules allow it.
RULES = [
    # a pinned bishop may not leave the file; the king may not walk into the rook's file
    ("4k4/9/9/9/4r4/9/4B4/9/4K4 b - 1", "5g4f", False),
    ("4k4/9/9/9/4r4/9/4B4/9/4K4 b - 1", "5i4i", True),
    ("4k4/9/9/9/3r5/9/4B4/9/4K4 b - 1", "5i6i", False),
    # in check: blocking by a drop is legal, a move that ignores the check is not
    ("4k4/9/9/9/4r4/9/9/9/4K4 b G 1", "G*5h", True),
    ("4k4/9/9/9/4r4/9/9/9/4K4 b G 1", "G*1a", False),
    # double check: only the king may move
    ("4k4/9/9/9/4r4/9/9/3b5/4K4 b G 1", "G*5h", False),
    # stranded pieces: a pawn or lance on its last row, a knight on its last two rows
    ("8k/4P4/9/9/9/9/9/9/4K4 b - 1", "5b5a", False),
    ("8k/4P4/9/9/9/9/9/9/4K4 b - 1", "5b5a+", True),
    ("k8/9/8L/9/9/9/9/9/4K4 b - 1", "1c1a", False),
    ("k8/9/9/7N1/9/9/9/9/4K4 b - 1", "2d1b", False),
    ("k8/9/9/7N1/9/9/9/9/4K4 b - 1", "2d1b+", True),
    # a pawn drop that mates is illegal; one that checks without mating is legal
    ("kn7/9/1G7/9/9/9/9/9/4K4 b P 1", "P*9b", False),
    ("k8/9/9/9/9/9/9/9/4K4 b P 1", "P*9b", True),
    # the only piece that could take the pawn is pinned: still mate, still illegal
    ("2kg+R4/+B2R5/2+P6/9/9/9/4K4/9/9 b P 33", "P*7b", False),
    # a side without a king is never in check and may leave any piece anywhere
    ("4k4/9/9/9/9/9/9/9/8R b - 1", "1i1a", True),
]


@pytest.mark.parametrize("sfen,usi,legal", RULES)
def test_rules(sfen, usi, legal):
    game = Game(sfen)
    move = Move.from_usi(usi, game.turn)
    assert game.is_legal(move) is legal
    assert (usi in usi_set(game.legal_moves())) is legal
    if legal:
        game.push(move)
        assert game.history[-1].usi() == usi
    else:
        with pytest.raises(ValueError) as info:
            game.push(move)
        assert usi in str(info.value)
        assert game.sfen() == Game(sfen).sfen() and game.history == []


def test_outcomes():
    mate = Game("kn7/9/1G7/9/9/9/9/9/4K4 b G 1")
    mate.push_usi("G*9b")
    assert mate.is_check() and mate.outcome() == (BLACK, "checkmate")
    stuck = Game("k8/2R6/1R7/9/9/9/9/9/4K4 w - 1")         # no move, not in check
    assert not stuck.is_check() and stuck.legal_moves() == []
    assert stuck.outcome() == (BLACK, "no_legal_moves")
    assert Game().outcome() is None


class TestRepetition:
    SHUFFLE = ["2h3h", "8b7b", "3h2h", "7b8b"]

    def test_fourth_occurrence_is_a_draw(self):
        game = Game()
        counts = []
        for usi in self.SHUFFLE * 3:
            assert game.outcome() is None
            game.push_usi(usi)
            counts.append(game.repetition_count())
        assert counts == [1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4]
        assert game.outcome() == (NO_SIDE, "repetition")
        game.pop()
        assert game.outcome() is None and game.repetition_count() == 3

    def test_counts_stay_exact_past_the_bucket_limit(self):
        # The same four positions 300 times each, past what a key bucket counts, then back.
        game = Game()
        for usi in self.SHUFFLE * 300:
            game.push_usi(usi)
        assert game.repetition_count() == 301 and game.usi().startswith("startpos moves 2h3h")
        for _ in range(4 * 298 + 1):
            game.pop()
        assert game.repetition_count() == 2
        assert Game.from_usi(game.usi()).sfen() == game.sfen()

    def test_perpetual_check_loses(self):
        game = Game("4k4/9/9/9/5R3/9/9/9/4K4 b - 1")
        for usi in ["4e5e", "5a4a", "5e4e", "4a5a"] * 3:
            assert game.outcome() is None
            game.push_usi(usi)
        assert game.repetition_count() == 4
        assert game.outcome() == (WHITE, "perpetual_check")



@pytest.mark.parametrize("sfen,declares", [
    ("4K4/1B5R1/PPPPPPPPP/9/9/9/9/9/4k4 b RB2G2S 1", True),
    ("4K4/1B5R1/PPPPPPPPP/9/9/9/9/9/4k4 b - 1", False),        # 19 points
    ("9/1B5R1/PPPPPPPPP/4K4/9/9/9/9/4k4 b RB2G2S 1", False),   # king outside the zone
    ("4K4/1B5R1/PPPPPPPP1/9/9/9/9/9/4k4 b RB 1", True),       # 10 pieces, 28 points
    ("4K4/1B5R1/PPPPPPPP1/9/9/9/9/9/4k4 b R4G 1", False),   # 27 points are not enough for Black
    ("4K4/1B5R1/PPPPPPP2/9/9/9/9/9/4k4 b RB2G2S2P 1", False),  # 9 pieces in the zone
    ("4k4/9/9/9/9/9/pppppppp1/1b5r1/4K4 w rb2g2sp 1", False),   # White's king is not in its zone
    ("4K4/9/9/9/9/9/pppppppp1/1b5r1/4k4 w r4g 1", True),    # White: 27 points suffice
])
def test_declaration(sfen, declares):
    assert Game(sfen).can_declare() is declares


MALFORMED = [
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b -", "field"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1 1", "field"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSN b - 1", "9"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R11/LNSGKGSNL b - 1", "9"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1 b - 1", "row"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL/9 b - 1", "row"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNX b - 1", "X"),
    ("lnsg+kgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1", "+"),
    ("lnsgkg+snl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNS+GKGSNL b - 1", "+"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL x - 1", "x"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b X 1", "X"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b 0P 1", "0"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b K 1", "K"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b P 1", "pawn"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNK b - 1", "king"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 0", "move number"),
    ("lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - x", "move number"),
    ("", "field"),
]


class TestBadInput:
    @pytest.mark.parametrize("sfen,names", MALFORMED)
    def test_malformed_sfen(self, sfen, names):
        with pytest.raises(ValueError) as info:
            Game(sfen)
        assert names.lower() in str(info.value).lower()

    def test_positions_that_cannot_arise_are_accepted(self):
        for sfen in ["P8/9/9/9/4k4/9/9/9/4K4 b - 1",         # a pawn on its last row
                     "4k4/9/9/9/9/9/4P4/4P4/4K4 b - 1"]:       # two unpromoted pawns in a column
            assert Game(sfen).sfen() == sfen

    def test_from_board(self):
        board = Board()
        board.startpos()
        game = Game.from_board(board, WHITE, ply=2)
        assert game.sfen() == STARTPOS.replace(" b - 1", " w - 2")
        for index, kind, colour, where in [
            (0, PieceType.Pawn, BLACK, "0"),               # a wall square
            (121, PieceType.Pawn, BLACK, "121"),           # past the grid
            (60, PieceType(0), BLACK, "60"),               # an occupied square of kind None
            (60, PieceType.Pawn, NO_SIDE, "60"),           # a piece of no side
            (60, PieceType.King, BLACK, "king"),           # a second black king
        ]:
            odd = board.copy()
            odd.deploy(index, kind, colour)
            with pytest.raises(ValueError) as info:
                Game.from_board(odd, BLACK)
            assert where.lower() in str(info.value).lower()
        for turn, ply in [(NO_SIDE, 1), (ColorType(2), 1), (BLACK, 0), (BLACK, -5)]:
            with pytest.raises(ValueError):
                Game.from_board(board, turn, ply)

    def test_from_usi(self):
        assert Game.from_usi("startpos").sfen() == STARTPOS
        game = Game.from_usi("position startpos moves 7g7f 3c3d")
        assert game.usi() == "startpos moves 7g7f 3c3d" and game.ply == 3
        sfen = "4k4/9/9/9/5R3/9/9/9/4K4 b - 1"
        assert Game.from_usi(f"sfen {sfen} moves 4e5e").usi() == f"sfen {sfen} moves 4e5e"
        assert Game(sfen).usi() == f"sfen {sfen}"
        with pytest.raises(ValueError, match="2.*7g7f|7g7f.*2"):
            Game.from_usi("startpos moves 7g7f 3c3d 7g7f")
        for text in ["", "sfen", "start", "startpos 7g7f", "sfen 9/9 b - 1"]:
            with pytest.raises(ValueError):
                Game.from_usi(text)

    def test_failures_change_nothing(self):
        game = Game()
        game.push_usi("7g7f")
        before = (game.sfen(), game.usi(), game.repetition_count())
        for call in [lambda: game.push(Move.from_usi("7g7f", BLACK)), lambda: game.push_usi("7g7f"),
                     lambda: game.push_usi("P*5e"), lambda: game.push_usi("nonsense"),
                     lambda: game.perft(-1)]:
            with pytest.raises(ValueError):
                call()
            assert (game.sfen(), game.usi(), game.repetition_count()) == before
        game.pop()
        with pytest.raises(IndexError):
            game.pop()
        assert game.sfen() == STARTPOS


def test_attributes_copies_and_pickles():
    game = Game()
    for usi in ["7g7f", "3c3d", "8h2b+", "3a2b", "B*4e"]:
        game.push_usi(usi)
    assert repr(game) == f"velkorant.Game({game.sfen()})"
    assert (game.turn, game.ply) == (WHITE, 6)
    board, history = game.board, game.history
    board.remove(16)                       # Black's king, on the copy only
    history.clear()
    assert len(game.history) == 5 and repr(game.board) != repr(board)
    seen = (game.sfen(), game.usi(), [repr(m) for m in game.history], game.repetition_count())
    for other in [game.copy(), copy.copy(game), copy.deepcopy(game)] + \
            [pickle.loads(pickle.dumps(game, p)) for p in range(pickle.HIGHEST_PROTOCOL + 1)]:
        assert (other.sfen(), other.usi(), [repr(m) for m in other.history], other.repetition_count()) == seen
        other.pop()
        assert game.ply == 6
    state = game.__reduce__()[2]
    for bad in [b"", state[:-1], state[:5], b"\x00" * len(state), state + b"\x00"]:
        with pytest.raises((ValueError, TypeError)):
            Game().__setstate__(bad)


def listed(game, usi):
    return next(m for m in game.legal_moves() if m.usi() == usi)


def history_of(*usi):
    game = Game()
    for u in usi:
        game.push_usi(u)
    return game


# A move listed by legal_moves() for one position and pushed where it is illegal: push must test it.
@pytest.mark.parametrize("where", ["after another push", "after pop and another push", "on another game",
                                   "on a diverged copy", "word changed"])
def test_listed_moves_are_tested_away_from_their_position(where):
    game = history_of("7g7f", "3c3d")
    move = listed(game, "8h2b+")
    if where == "after another push":
        game.push(listed(game, "2g2f"))
    elif where == "after pop and another push":
        game.push(move)
        game.pop()
        game.push_usi("2g2f")
        game.push_usi("2b3c")
    elif where == "on another game":
        game = history_of("7g7f", "8c8d")
    elif where == "on a diverged copy":
        # the copy and the game reach different positions by moves of their own
        game = history_of("7g7f")
        copied = game.copy()
        game.push_usi("3c3d")
        move = listed(game, "8h2b+")
        copied.push_usi("8c8d")
        game = copied
    else:
        move.__setstate__(Move.from_usi("8h1a", BLACK).__reduce__()[1][0])
    before = game.sfen()
    with pytest.raises(ValueError):
        game.push(move)
    assert game.sfen() == before


def test_listed_moves_play_on_copies_and_after_pop():
    game = history_of("7g7f", "3c3d")
    for moves in [game.legal_moves(), game.check_moves(), [game.mate_in_one()] if game.mate_in_one() else []]:
        for move in moves:
            expected = game.copy()
            expected.push(Move.from_usi(move.usi(), game.turn))
            for target in [game, game.copy(), pickle.loads(pickle.dumps(game))]:
                target.push(move)
                assert target.sfen() == expected.sfen()
                target.pop()


@pytest.mark.parametrize("keep_every", [1, 3, 1000])
def test_move_lists_while_many_moves_live(keep_every):
    """Move lists are built from freed Move objects, from new ones, or both, as many or few
    moves are alive: every list names cshogi's legal moves, and the lists kept alive still name
    theirs when the others have been made and freed."""
    kept = []
    for sfens, _ in random_games(4, seed=17):
        for i, sfen in enumerate(sfens):
            game = Game(sfen)
            legal = game.legal_moves()
            expected = sorted(cshogi.move_to_usi(m) for m in cshogi.Board(sfen).legal_moves)
            assert usi_set(legal) == expected
            assert usi_set(m for m in game.board.search_moves(game.turn) if game.is_legal(m)) == expected
            if i % keep_every == 0:
                kept.append((legal, expected))
            if len(kept) > 150:  # freed in a lump: the free list fills up again
                del kept[::2]
    assert kept and all(usi_set(legal) == expected for legal, expected in kept)
