"""Network inputs and move labels, compared with cshogi's dlshogi module on the positions of random
legal games from several starts."""
import random
import sys

import pytest

np = pytest.importorskip("numpy")
cshogi = pytest.importorskip("cshogi")
from cshogi import dlshogi  # noqa: E402

from velkorant import ColorType, Game, Move  # noqa: E402
from velkorant import data  # noqa: E402

STARTS = {
    "even": "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1",
    "lance handicap": "lnsgkgsn1/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1",
    "two pieces": "lnsgkgsnl/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1",
    "six pieces": "2sgkgs2/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1",
    # the attacker has no king; the defender holds every piece not on the board
    "mating problem": "7nk/9/6G2/9/9/9/9/9/9 b GN2r2b2g4s2n4l18p 1",
    "full hands": "4k4/9/9/9/9/9/9/9/4K4 b RBG2S2N2L9Prb3g2s2n2l9p 1",
    "promoted pieces": "+R3k4/2+P1+L4/9/4+S4/9/9/4+n4/9/4K3+b w GPgp 1",
}


def random_games(sfen, games=8, plies=120, seed=0):
    """Every position of a few random legal games from `sfen`, with its legal moves."""
    rng = random.Random(seed)
    for _ in range(games):
        game = Game(sfen)
        for _ in range(plies):
            moves = game.legal_moves()
            yield game, moves
            if not moves:
                break
            # Captures first: hands fill and promoted pieces come back.
            captures = [m for m in moves if not m.is_drop() and game.board.get_piece(m.get_to()).piece_type != 0]
            game.push(rng.choice(captures if captures and rng.random() < 0.5 else moves))


def cshogi_features(sfen):
    planes1 = np.zeros((62, 9, 9), np.float32)
    planes2 = np.zeros((57, 9, 9), np.float32)
    dlshogi.make_input_features(cshogi.Board(sfen), planes1, planes2)
    return planes1, planes2


@pytest.mark.parametrize("start", STARTS)
def test_features_and_labels_are_cshogis(start):
    seen = {"positions": 0, "checks": 0, "black": 0, "white": 0}
    for game, moves in random_games(STARTS[start]):
        sfen = game.sfen()
        ours, theirs = data.features(game), cshogi_features(sfen)
        assert np.array_equal(ours[0], theirs[0]) and np.array_equal(ours[1], theirs[1]), sfen
        board = cshogi.Board(sfen)
        expected = [dlshogi.make_move_label(board.move_from_usi(m.usi()), board.turn) for m in moves]
        assert [data.move_label(game, m) for m in moves] == expected, sfen
        assert data.legal_labels(game).tolist() == expected, sfen
        assert set(np.flatnonzero(data.legal_mask(game))) == set(expected), sfen
        seen["positions"] += 1
        seen["checks"] += game.is_check()
        seen["white" if game.turn == ColorType.White else "black"] += 1
    assert seen["positions"] >= 100 and seen["black"] and seen["white"], seen
    assert start == "mating problem" or seen["checks"], seen


def test_batch_is_the_one_position_function():
    games = [(g.sfen(), data.features(g), m[-1], data.move_label(g, m[-1]))
             for s in STARTS.values() for g, m in random_games(s, games=1, plies=60) if m]
    sfens = [sfen for sfen, *_ in games]
    expected1 = np.stack([planes[0] for _, planes, *_ in games])
    expected2 = np.stack([planes[1] for _, planes, *_ in games])
    moves, labels = [move.usi() for *_, move, _ in games], [label for *_, label in games]
    kings = [i for i, sfen in enumerate(sfens) if "K" in sfen.split()[0]]  # a mating problem has no 32-byte form
    hcpe = np.zeros(len(kings), data.HuffmanCodedPosAndEval)  # as cshogi writes them
    for row, i in zip(hcpe, kings):
        board = cshogi.Board(sfens[i])
        board.to_hcp(row["hcp"])
        row["bestMove16"] = cshogi.move16(board.move_from_usi(moves[i]))
    for threads in (1, 2):
        planes1, planes2 = data.features_sfens(sfens, threads=threads)
        assert np.array_equal(planes1, expected1) and np.array_equal(planes2, expected2)
        planes1, planes2 = data.features_batch(hcpe, threads=threads)
        assert np.array_equal(planes1, expected1[kings]) and np.array_equal(planes2, expected2[kings])
        assert data.move_labels_sfens(sfens, moves, threads=threads).tolist() == labels
        assert data.move_labels_batch(hcpe, threads=threads).tolist() == [labels[i] for i in kings]
    out1, out2 = np.full_like(expected1, 7.0), np.full_like(expected2, 7.0)
    assert data.features_sfens(tuple(sfens), out1, out2)[0] is out1
    assert np.array_equal(out1, expected1) and np.array_equal(out2, expected2)
    assert data.features_sfens([])[0].shape == (0, 62, 9, 9)


@pytest.mark.parametrize("call, error, message", [
    (lambda: data.features_sfens([STARTS["even"]] * 300 + ["9/9 b - 1"]), ValueError, "sfen 300: "),
    (lambda: data.features_sfens([STARTS["even"], 5]), TypeError, "sfen 1 must be str"),
    (lambda: data.move_labels_sfens([STARTS["even"]] * 5000, ["7g7f"] * 4999 + ["7g7e"]), ValueError,
     "move 4999 (3c3e) is not a legal move"),
    (lambda: data.move_labels_sfens([STARTS["even"]] * 2, ["7g7f"]), ValueError, "1 moves for 2 positions"),
    (lambda: data.features_batch(np.zeros(3, data.HuffmanCodedPos)), ValueError, "position 0: "),
    (lambda: data.move_labels_batch(data.pack([STARTS["even"]] * 2, "hcp")), TypeError, "HuffmanCodedPosAndEval"),
    (lambda: data.features_sfens([STARTS["even"]], threads=0), ValueError, "threads must be at least 1"),
    (lambda: data.features(Game(), np.zeros((62, 9, 9), np.float64)), ValueError, "out1 must be a float32 array"),
    (lambda: data.features(Game(), None, np.zeros((56, 9, 9), np.float32)), ValueError, "of shape (57, 9, 9)"),
    (lambda: data.features(Game(), np.zeros((62, 9, 9), np.float32)[:, ::-1]), ValueError, "contiguous"),
    (lambda: data.move_label(Game(), Move.from_usi("7g7e", ColorType.Black)), ValueError, "not a legal move"),
    (lambda: data.move_label(Game(), "7g7f"), TypeError, "move must be a velkorant.Move"),
    (lambda: data.legal_mask(Game().board), TypeError, "game must be a velkorant.Game"),
])
def test_bad_input(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)


def test_labels_cover_every_class_for_both_sides():
    """Random games reach all 27 classes of move (knight jumps, promotions, each drop) for Black
    and for White, so the comparison with cshogi above covers the whole label table."""
    classes = {0: set(), 1: set()}  # by int(turn): colours do not hash
    for start in ("even", "full hands", "promoted pieces"):
        for game, _ in random_games(STARTS[start], seed=1):
            classes[int(game.turn)].update(int(label) // 81 for label in data.legal_labels(game))
    assert classes[0] == classes[1] == set(range(27))


def test_results_are_fresh_arrays_and_references_balance():
    game, sfens = Game(), [Game().sfen() + "" for _ in range(3)]
    labels, mask = data.legal_labels(game), data.legal_mask(game)
    assert labels.dtype == np.int64 and labels.flags.writeable and mask.dtype == np.bool_ and mask.shape == (2187,)
    before = [sys.getrefcount(s) for s in sfens]
    for _ in range(100):
        data.features_sfens(sfens, threads=2)
        with pytest.raises(ValueError):
            data.features_sfens(sfens + ["x"])
        with pytest.raises(ValueError):
            data.move_labels_sfens(sfens, ["7g7f", "7g7f", "1a1b"])
    assert [sys.getrefcount(s) for s in sfens] == before
