"""Hostile input to the full rules: each case once gave a crash, a hang, a broken game, the wrong
exception or an unbounded message."""
import pickle
import signal
import subprocess
import sys
import threading

import pytest

from velkorant import ColorType, Game, Move, PieceType

START = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL"
CHECKED = "4k3R/9/9/9/p8/9/9/9/4K4 b - 1"  # White, not to move, is in check
LAST = 9223372036854775807
HUGE = "x" * 1_000_000


def game_state(sfen, words=()):
    """A pickled game's state for a start position and move words, as the pickler lays it out."""
    version = Game().__reduce__()[2][1]
    text = sfen.encode()
    return (b"G" + bytes([version]) + len(text).to_bytes(2, "big") + text + len(words).to_bytes(4, "big")
            + b"".join(w.to_bytes(2, "big") for w in words))


def restore(state):
    game = Game()
    game.__setstate__(state)


def word_of(usi):
    return Move.from_usi(usi, ColorType.Black).__reduce__()[1][0]


class Tampered:
    def __init__(self, word):
        self.word = word

    def __reduce__(self):
        return Move._from_word, (self.word,)


CASES = [
    # (what, call, exception, words in the message)
    ("the side not to move in check", lambda: Game(CHECKED), ValueError, "not to move (White) is in check"),
    ("... from a USI position", lambda: Game.from_usi("sfen " + CHECKED), ValueError, "is in check"),
    ("... from a pickled state", lambda: restore(game_state(CHECKED)), ValueError, "is in check"),
    ("the last move number, a move pushed", lambda: Game(f"{START} b - {LAST}").push_usi("7g7f"), ValueError,
     "move number"),
    ("... in a USI position", lambda: Game.from_usi(f"sfen {START} b - {LAST} moves 7g7f"), ValueError, "move number"),
    ("... in a pickled state", lambda: restore(game_state(f"{START} b - {LAST}", [word_of("7g7f")])), ValueError,
     "move number"),
    ("two digits in a row", lambda: Game("lnsgkgsnl/1r5b1/ppppppppp/44/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"),
     ValueError, "two digits in a row"),
    ("a count with a leading zero", lambda: Game(f"{START} b 01P 1"), ValueError, "leading zero"),
    ("a move number with a leading zero", lambda: Game(f"{START} b - 01"), ValueError, "leading zero"),
    ("a huge side to move", lambda: Game(f"{START} {HUGE} - 1"), ValueError, "not b or w"),
    ("a huge move number", lambda: Game(f"{START} b - {'9' * 1_000_000}"), ValueError, "too large"),
    ("a huge unknown word", lambda: Game.from_usi("startpos " + HUGE), ValueError, "unknown word"),
    ("a huge move", lambda: Game.from_usi("startpos moves " + HUGE), ValueError, "not a USI move"),
] + [(f"a pickled move of {word!r}", lambda word=word: pickle.loads(pickle.dumps(Tampered(word))),
      TypeError if isinstance(word, str) else ValueError, "")
     for word in ["", "P*5", "3b9", -1, 65536, 2 ** 80]]


@pytest.mark.parametrize("call, error, words", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_hostile_input(call, error, words):
    with pytest.raises(error) as info:
        call()
    assert words in str(info.value)
    assert len(str(info.value)) < 600, "a message quotes at most about 200 characters of the input"


def test_a_side_in_check_cannot_come_from_a_board():
    board = Game("4k4/9/9/9/p8/9/9/9/4K4 b - 1").board
    board.deploy(9 * 11 + 9, PieceType.Rook, ColorType.Black)  # on USI 1a: it checks the king on 5a
    with pytest.raises(ValueError, match="is in check"):
        Game.from_board(board, ColorType.Black)


def test_moves_still_pickle():
    for move in Game().legal_moves() + [Move("P*5e"), Move._from_word(0xFFFF)]:
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            assert repr(pickle.loads(pickle.dumps(move, protocol))) == repr(move)
    # A pickle of the first release: the constructor on the move text.
    assert repr(pickle.loads(b"\x80\x04\x95\x1c\x00\x00\x00\x00\x00\x00\x00\x8c\tvelkorant\x94\x8c\x04Move\x94"
                             b"\x93\x94\x8c\x047g7f\x94\x85\x94R\x94.")) == "velkorant.Move(7g7f)"


def test_perft_any_depth_in_a_small_stack():
    """One legal move a side forever: the count walks 20000 plies deep, in a thread of 512 KiB."""
    result = []
    threading.stack_size(512 * 1024)
    try:
        thread = threading.Thread(target=lambda: result.append(
            Game("6P1K/6PNN/9/9/9/9/9/nnp6/k1p6 b - 1").perft(20000)))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(0)
    assert result == [1]


def test_perft_memory_follows_the_tree_not_the_depth():
    code = ("import resource, velkorant; before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss;"
            "assert velkorant.Game('9/9/9/9/9/9/9/9/9 b - 1').perft(100000) == 0;"
            "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)")
    grown_kib = int(subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout)
    assert grown_kib < 10_000


def test_ctrl_c_stops_a_long_perft():
    code = "import velkorant; print('go', flush=True); velkorant.Game().perft(9)"
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "go\n"
    threading.Event().wait(0.3)
    child.send_signal(signal.SIGINT)
    try:
        _, err = child.communicate(timeout=10)  # perft(9) runs for hours
    finally:
        child.kill()
    assert "KeyboardInterrupt" in err


def test_other_threads_run_during_perft():
    game, finished, counted = Game(), threading.Event(), []
    thread = threading.Thread(target=lambda: (game.perft(5), finished.set()))
    thread.start()
    loops = 0
    while not finished.is_set():
        loops += 1
        if loops == 1000:
            with pytest.raises(RuntimeError, match="Already borrowed"):  # the game is in use: no torn position
                game.push_usi("7g7f")
            counted.append(game.sfen())  # reading it is fine
    thread.join()
    assert loops > 1000 and counted == [START + " b - 1"]
