"""data.encode_batch: whole training examples in one pass, equal to the separate batch calls
and to cshogi's to_hcp/to_psfen, make_input_features and make_move_label."""
import sys

import pytest

np = pytest.importorskip("numpy")
cshogi = pytest.importorskip("cshogi")
from cshogi import dlshogi  # noqa: E402

from velkorant import data  # noqa: E402
from test_features import STARTS, random_games  # noqa: E402

EVEN = STARTS["even"]


def examples():
    """Positions of random games from every start with a king a side (the others have no
    packing), each with a legal move."""
    return [(g.sfen(), moves[-1].usi()) for name, s in STARTS.items() if name != "mating problem"
            for g, moves in random_games(s, games=2, plies=80, seed=3) if moves]


@pytest.mark.parametrize("fmt", ["hcp", "psfen"])
def test_examples_are_the_separate_calls_and_cshogis(fmt):
    sfens, moves = map(list, zip(*examples()))
    packed, labels = data.pack(sfens, fmt), data.move_labels_sfens(sfens, moves)
    planes1, planes2 = data.features_sfens(sfens)
    boards = [cshogi.Board(s) for s in sfens]
    theirs = np.zeros((len(sfens), 32), np.uint8)
    for row, board in zip(theirs, boards):
        board.to_hcp(row) if fmt == "hcp" else board.to_psfen(row)
    theirs1, theirs2 = np.zeros_like(planes1), np.zeros_like(planes2)
    for i, board in enumerate(boards):
        dlshogi.make_input_features(board, theirs1[i], theirs2[i])
    their_labels = [dlshogi.make_move_label(b.move_from_usi(m), b.turn) for b, m in zip(boards, moves)]
    assert theirs.tobytes() == packed.tobytes() and their_labels == labels.tolist()
    assert np.array_equal(theirs1, planes1) and np.array_equal(theirs2, planes2)
    for threads in (1, 2, None):
        out = data.encode_batch(sfens, moves, fmt, threads=threads)
        assert out[0].dtype == packed.dtype and out[0].tobytes() == packed.tobytes()
        assert all(np.array_equal(a, b) for a, b in zip(out[1:], (planes1, planes2, labels)))
    given = (np.zeros_like(packed), np.full_like(planes1, 7.0), np.full_like(planes2, 7.0), np.full_like(labels, -1))
    result = data.encode_batch(tuple(sfens), tuple(moves), fmt, out=given[0], out1=given[1], out2=given[2],
                               labels=given[3])
    assert all(a is b for a, b in zip(result, given))
    assert all(np.array_equal(a, b) for a, b in zip(given[1:], (planes1, planes2, labels)))
    assert [a.shape for a in data.encode_batch([], [])] == [(0,), (0, 62, 9, 9), (0, 57, 9, 9), (0,)]


@pytest.mark.parametrize("sfens, moves, error, message", [
    ([EVEN] * 300 + ["9/9 b - 1"], ["7g7f"] * 301, ValueError, "sfen 300: "),
    ([EVEN] * 3 + [STARTS["mating problem"]], ["7g7f"] * 3 + ["3c2a+"], ValueError, "sfen 3: "),
    ([EVEN] * 5000, ["7g7f"] * 4999 + ["7g7e"], ValueError, "move 4999: 3c3e is not a legal move"),
    ([EVEN] * 2, ["7g7f", "7z7f"], ValueError, "move 1: "),
    ([EVEN] * 2, ["7g7f"], ValueError, "1 moves for 2 positions"),
    ([EVEN, 5], ["7g7f"] * 2, TypeError, "sfen 1 must be str"),
])
def test_bad_examples_are_named_as_the_separate_calls_refuse_them(sfens, moves, error, message):
    for threads in (1, 2):
        with pytest.raises(error) as raised:
            data.encode_batch(sfens, moves, threads=threads)
        assert message in str(raised.value)
    with pytest.raises(error):  # the separate calls refuse the same input
        data.pack(sfens, "hcp")
        data.move_labels_sfens(sfens, moves)


@pytest.mark.parametrize("kwargs, message", [
    ({"fmt": "sfen"}, "unknown packing"),
    ({"threads": 0}, "threads must be at least 1"),
    ({"out": np.zeros(2, data.PackedSfen)}, "out must be an array of hcp positions"),
    ({"out1": np.zeros((2, 62, 9, 9), np.float64)}, "out1 must be a float32 array"),
    ({"out2": np.zeros((2, 56, 9, 9), np.float32)}, "of shape (2, 57, 9, 9)"),
    ({"labels": np.zeros(3, np.int64)}, "labels must be an int64 array of shape (2,)"),
])
def test_bad_arguments(kwargs, message):
    with pytest.raises(ValueError) as raised:
        data.encode_batch([EVEN] * 2, ["7g7f"] * 2, **kwargs)
    assert message in str(raised.value)


def test_references_balance():
    sfens, moves = [EVEN + "" for _ in range(3)], ["7g7f" + "" for _ in range(3)]
    before = [sys.getrefcount(s) for s in sfens + moves]
    for _ in range(100):
        data.encode_batch(sfens, moves, threads=2)
        with pytest.raises(ValueError):
            data.encode_batch(sfens, moves[:2] + ["1a1b"])
    assert [sys.getrefcount(s) for s in sfens + moves] == before
