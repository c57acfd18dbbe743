"""The mate search against a plain AND-OR search, against cshogi's df-pn, and at its limits."""

import random
import signal
import subprocess
import sys
import threading

import pytest

from velkorant import Game, mate

MICROCOSMOS = "g1+P1k1+P+P+L/1p3P3/+R+p2pp1pl/1NNsg+p2+R/+b+nL+P1+p3/1P3ssP1/2P1+Ps2N/4+P1P1L/+B5G1g b - 1"


def mates_within(game, plies):
    """Whether the side to move mates within `plies` (odd) moves, checking with every one: the
    whole tree walked, nothing remembered."""
    for move in game.legal_moves():
        game.push(move)
        try:
            if not game.is_check():
                continue
            replies = game.legal_moves()
            if not replies:
                return True
            if plies >= 3 and not any(_defended(game, reply, plies - 2) for reply in replies):
                return True
        finally:
            game.pop()
    return False


def _defended(game, reply, plies):
    game.push(reply)
    try:
        return not mates_within(game, plies)
    finally:
        game.pop()


def assert_mating_line(sfen, moves):
    """Every attacker move a legal check, every defender move legal, the defender mated."""
    game = Game(sfen)
    assert len(moves) % 2 == 1
    for i, usi in enumerate(moves):
        assert usi in {m.usi() for m in game.legal_moves()}, (sfen, moves, i)
        game.push_usi(usi)
        if i % 2 == 0:
            assert game.is_check(), (sfen, moves, i)
    assert game.is_check() and not game.legal_moves()


def random_problem(rng):
    """A mating-problem-like position: White's king near its edge with a few defenders, Black's
    pieces close by and in hand, Black's king far away or absent. None when it is no position."""
    grid = [["1"] * 9 for _ in range(9)]
    free = [(r, c) for r in range(9) for c in range(9)]
    rng.shuffle(free)
    kr, kc = rng.randrange(3), rng.randrange(9)
    grid[kr][kc] = "k"
    near = [(r, c) for r, c in free if abs(r - kr) <= 2 and abs(c - kc) <= 3 and grid[r][c] == "1"]
    for letter in rng.sample("gsplnb", rng.randrange(4)):
        r, c = near.pop()
        grid[r][c] = letter
    attackers = rng.sample("RBGGSSNLPP", rng.randrange(2, 6))
    hand = []
    for letter in attackers:
        if rng.random() < 0.5 and near:
            r, c = near.pop()
            grid[r][c] = letter if rng.random() < 0.8 else "+" + letter
        else:
            hand.append(letter)
    if rng.random() < 0.5:
        grid[8][8 - kc // 2] = "K"
    rows = []
    for row in grid:
        text, empty = "", 0
        for cell in row:
            if cell == "1":
                empty += 1
                continue
            text += (str(empty) if empty else "") + cell
            empty = 0
        rows.append(text + (str(empty) if empty else ""))
    hand_text = "".join(sorted(hand)) or "-"
    try:
        return Game("/".join(rows) + " b " + hand_text + " 1").sfen()
    except ValueError:
        return None


def problems(seed, count):
    rng = random.Random(seed)
    found = []
    while len(found) < count:
        sfen = random_problem(rng)
        if sfen and not sfen.replace("+", "").startswith("+"):
            found.append(sfen)
    return found


HAND_MADE = [
    "4k4/9/4P4/9/9/9/9/9/9 b G 1",               # mate in one, no attacking king
    "3sks3/9/4S4/9/9/9/9/9/9 b GP 1",            # a pawn drop would mate: not allowed
    "8k/9/9/9/9/9/9/9/K8 b G 1",                  # a lone gold: no mate
    "7nl/7k1/6ppp/9/9/9/9/9/9 b GS 1",
    "9/9/9/9/9/9/4p4/9/4K4 w g 1",               # White attacks
]


@pytest.mark.parametrize("sfen", HAND_MADE + problems(20, 150))
def test_solver_agrees_with_plain_search(sfen):
    result = mate.solve(Game(sfen), max_nodes=200_000)
    within3 = mates_within(Game(sfen), 3)
    if result.status == "mate":
        assert_mating_line(sfen, list(result.moves))
        if not within3:
            assert len(result.moves) > 3
        if len(result.moves) == 1:
            assert mates_within(Game(sfen), 1)
    else:
        assert not within3, (sfen, result)
    if result.status == "no_mate":
        assert not mates_within(Game(sfen), 5)


@pytest.mark.parametrize("sfen", HAND_MADE + problems(21, 60))
def test_shortest_mate_is_shortest(sfen):
    result = mate.solve(Game(sfen), max_nodes=300_000, shortest=True)
    if result.status == "mate":
        assert_mating_line(sfen, list(result.moves))
        plies = len(result.moves)
        assert plies == 1 or not mates_within(Game(sfen), plies - 2)
        if plies <= 5:
            assert mates_within(Game(sfen), plies)
        assert plies <= len(mate.solve(Game(sfen), max_nodes=300_000).moves)


def test_pawn_drop_mate_is_no_mate():
    result = mate.solve(Game("3sks3/9/4S4/9/9/9/9/9/9 b P 1"))
    assert result.status == "no_mate"


@pytest.mark.parametrize("limits", [{"max_nodes": 1}, {"max_nodes": 3}, {"time_limit": 1e-9}])
def test_limits_give_unknown(limits):
    # Many checks and no mate (proved in about 200 nodes): three nodes or a nanosecond is too little to say.
    sfen = "ln1g3nl/1r1s1k3/p1ppp1b1p/5pp2/1p6P/2P6/PPSPPP+rP1/1B5S1/LN1GKG1NL b GSP 1"
    result = mate.solve(Game(sfen), **limits)
    assert result.status == "unknown" and result.moves == ()


@pytest.mark.parametrize("sfen", ["8k/7p1/9/9/9/9/9/9/R8 b - 1", "8k/9/9/9/9/9/9/9/R8 b - 1"])
def test_endless_checks_are_no_mate(sfen):
    # The rook can check for ever, coming back to positions of its line, but never mates.
    result = mate.solve(Game(sfen), max_nodes=1_000_000)
    assert result.status == "no_mate"
    assert not mates_within(Game(sfen), 5)


def test_bad_arguments():
    with pytest.raises(TypeError):
        mate.solve("4k4/9/4P4/9/9/9/9/9/9 b G 1")
    with pytest.raises(ValueError):
        mate.solve(Game(), memory_mb=0)
    with pytest.raises(ValueError):
        mate.solve(Game(), max_nodes=0)


def test_interrupt_stops_the_search():
    if threading.current_thread() is not threading.main_thread():
        pytest.skip("signals reach the main thread only")
    timer = threading.Timer(0.2, signal.raise_signal, (signal.SIGINT,))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        mate.solve(Game(MICROCOSMOS))  # minutes of search
    timer.join()


def test_agrees_with_cshogi_dfpn():
    cshogi = pytest.importorskip("cshogi")
    dfpn = cshogi.DfPn()
    dfpn.set_max_search_node(20_000)
    disagreements = []
    for sfen in problems(7, 200):
        ours = mate.solve(Game(sfen), max_nodes=20_000)
        board = cshogi.Board(sfen)
        theirs = dfpn.search(board)
        if ours.status == "mate":
            assert_mating_line(sfen, list(ours.moves))
        if theirs and ours.status == "no_mate":
            pv = [cshogi.move_to_usi(m) for m in dfpn.get_pv(board)]
            disagreements.append((sfen, pv))
    # cshogi's line, where it claims a mate we deny, decides who is wrong.
    for sfen, pv in disagreements:
        with pytest.raises(AssertionError):
            assert_mating_line(sfen, pv)


def test_command_solves_each_line(tmp_path, capsys):
    from velkorant.__main__ import main

    path = tmp_path / "problems.sfen"
    path.write_text("4k4/9/4P4/9/9/9/9/9/9 b G 1\n# a note\n8k/7p1/9/9/9/9/9/9/R8 b - 1\n")
    assert main(["mate", str(path), "--max-nodes", "10000"]) == 0
    rows = [line.split("\t") for line in capsys.readouterr().out.splitlines()]
    assert [row[1] for row in rows[:2]] == ["mate", "no_mate"]
    assert_mating_line(rows[0][0], rows[0][5].split())
    assert rows[2][0].startswith("# 2 positions: 1 mate, 1 no_mate")
    # A record file: each game's start is a problem (the defender holding every piece left over).
    kif = tmp_path / "problem.kif"
    board = "\n".join(f"|{' ・' * 8}{'v玉' if row == 0 else ' ・'}|" for row in range(9))
    kif.write_text(f"後手の持駒：残りすべて\n{board}\n先手の持駒：金\n手数----指手--\n", encoding="utf-8")
    assert main(["mate", str(kif)]) == 0
    row = capsys.readouterr().out.splitlines()[0].split("\t")
    assert row[:3] == ["8k/9/9/9/9/9/9/9/9 b G2r2b3g4s4n4l18p 1", "no_mate", "0"]
    path.write_text("4k4/9/4P4/9/9/9/9/9/9 b G 1\nnot a position\n")
    assert main(["mate", str(path)]) == 2 and f"{path}:2:" in capsys.readouterr().err


@pytest.mark.skipif(sys.platform != "linux", reason="peak memory read from /proc")
def test_table_never_holds_more_than_its_size():
    # A long unsolved search fills the table; its peak, less that of a small table, stays within
    # the size asked for (growing must not hold the old table beside the new).
    # VmHWM: this process's own peak (ru_maxrss would count the parent's from before the exec).
    script = ("import sys; from velkorant import Game, mate; "
              f"mate.solve(Game('{MICROCOSMOS}'), max_nodes=4_000_000, memory_mb=int(sys.argv[1])); "
              "print(next(l.split()[1] for l in open('/proc/self/status') if l.startswith('VmHWM')))")
    peak = {mb: int(subprocess.run([sys.executable, "-c", script, str(mb)], capture_output=True, text=True,
                                   check=True).stdout) for mb in (4, 64)}
    assert 32 * 1024 < peak[64] - peak[4] < 68 * 1024  # kilobytes
