"""velkorant against cshogi and python-shogi, side by side.

    python benchmarks/run.py            # full run (a few minutes)
    python benchmarks/run.py --quick    # fewer repetitions and games (well under a minute)

Needs the benchmark extras (pip install '.[bench]', i.e. cshogi and python-shogi) and the
data files made by benchmarks/make_data.py. Three measurements, each library doing its own
job with its own rules (velkorant's generator is pseudo-legal and a game ends when a king is
captured; the peers generate legal moves and end a game at mate):

movegen  One move list per call on each fixed position, for the side to move:
         velkorant board.search_moves(color), cshogi list(board.legal_moves), python-shogi
         list(board.legal_moves). Median over repetitions of the time per call.
replay   The recorded games from the initial position: at every ply generate the move list
         as above, then execute the recorded move (picked from that list by an index found
         in an untimed pass). Plies per second; median over repetitions.
playout  Seeded random games: generate, pick a move with a seeded random.Random, execute,
         test for the end (velkorant board.is_finished()[0], cshogi board.is_game_over(),
         python-shogi board.is_game_over()), until the end or 512 plies. Plies per second.

Before timing, every position and every recorded game is checked untimed: the velkorant
board built from each SFEN is the SFEN's position with the right hands; every legal move
that cshogi lists is in velkorant's list; every recorded move of every game is in
velkorant's list at its ply. That validates the coordinate conversion of usi_bridge.py.

python-shogi is more than a thousand times slower than the other two, so it gets fewer
repetitions, a subset of the games and fewer playouts; all figures are per call or per ply,
so the ratios stay comparable. The garbage collector is disabled while timing, as timeit
does.
"""

from __future__ import annotations

import argparse
import gc
import os
import platform
import random
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import cshogi  # noqa: E402
import shogi  # noqa: E402  (python-shogi)
import velkorant  # noqa: E402
from velkorant import ColorType, Move  # noqa: E402

import usi_bridge  # noqa: E402

BLACK = ColorType.Black
WHITE = ColorType.White
COLORS = (BLACK, WHITE)
MAX_PLIES = 512
PREFIX = len("velkorant.Move(")


def load(name: str) -> list[str]:
    path = os.path.join(HERE, "data", name)
    if not os.path.exists(path):
        sys.exit(f"{path} is missing: run python benchmarks/make_data.py first")
    with open(path) as f:
        return [line.strip() for line in f if line.strip() and not line.startswith("#")]


def text(move) -> str:
    return repr(move)[PREFIX:-1]


def timed(reps: int, *fns) -> list[list[float]]:
    """Seconds of each of `reps` calls of every fn, with the collector off (as timeit does).

    The functions take turns within each repetition, so a change in the machine's load
    during the run affects them alike.
    """
    out = [[] for _ in fns]
    enabled = gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        for _ in range(reps):
            for fn, times in zip(fns, out):
                t0 = time.perf_counter()
                fn()
                times.append(time.perf_counter() - t0)
    finally:
        if enabled:
            gc.enable()
    return out


def median(times: list[float]) -> float:
    return statistics.median(times)


# --------------------------------------------------------------------------- checks


def check_positions(sfens: list[str]) -> dict[str, float]:
    """Untimed: velkorant's boards match the SFENs and contain every legal move."""
    sizes = {"velkorant": 0, "cshogi": 0, "python-shogi": 0}
    for sfen in sfens:
        usi_bridge.check_board(sfen)
        board, side = usi_bridge.board_from_sfen(sfen)
        ours = {text(m) for m in board.search_moves(side)}
        peer = cshogi.Board(sfen)
        legal = [cshogi.move_to_usi(m) for m in peer.legal_moves]
        white = side == WHITE
        missing = [u for u in legal if usi_bridge.move_text(u, white) not in ours]
        assert not missing, (sfen, missing)
        py = sorted(m.usi() for m in shogi.Board(sfen).legal_moves)
        assert py == sorted(legal), (sfen, "cshogi and python-shogi disagree")
        sizes["velkorant"] += len(ours)
        sizes["cshogi"] += len(legal)
        sizes["python-shogi"] += len(py)
    return {k: v / len(sfens) for k, v in sizes.items()}


def index_games(games: list[list[str]], slow_games: int):
    """Untimed: for every library and every ply, the recorded move's index in the list.

    Asserts that each recorded move appears in velkorant's generated list. python-shogi is
    indexed only on the first `slow_games` games, the ones it replays.
    """
    vk_idx, cs_idx, py_idx = [], [], []
    for game in games:
        board = velkorant.Board()
        board.startpos()
        cs = cshogi.Board()
        vi, ci = [], []
        for ply, usi in enumerate(game):
            color = COLORS[ply & 1]
            want = usi_bridge.move_text(usi, color == WHITE)
            listed = [text(m) for m in board.search_moves(color)]
            assert want in listed, (ply, usi, want)
            vi.append(listed.index(want))
            board.execute_move(Move(want))
            legal = list(cs.legal_moves)
            k = [cshogi.move_to_usi(m) for m in legal].index(usi)
            ci.append(k)
            cs.push(legal[k])
        vk_idx.append(vi)
        cs_idx.append(ci)
    for game in games[:slow_games]:
        py = shogi.Board()
        pi = []
        for usi in game:
            legal = list(py.legal_moves)
            k = [m.usi() for m in legal].index(usi)
            pi.append(k)
            py.push(legal[k])
        py_idx.append(pi)
    return vk_idx, cs_idx, py_idx


# --------------------------------------------------------------------------- movegen


def movegen_velkorant(items, inner):
    def run():
        for gen, color in items:
            for _ in range(inner):
                gen(color)
    return run


def movegen_legal(boards, inner):
    # the same shape for cshogi and python-shogi: list(board.legal_moves)
    def run():
        for board in boards:
            for _ in range(inner):
                list(board.legal_moves)
    return run


# --------------------------------------------------------------------------- replay


def replay_velkorant(indices):
    def run():
        for idx in indices:
            board = velkorant.Board()
            board.startpos()
            gen, execute = board.search_moves, board.execute_move
            color = 0
            for i in idx:
                execute(gen(COLORS[color])[i])
                color ^= 1
    return run


def replay_peer(library, indices):
    """cshogi and python-shogi share the Board / legal_moves / push interface."""
    def run():
        for idx in indices:
            board = library.Board()
            push = board.push
            for i in idx:
                push(list(board.legal_moves)[i])
    return run


# --------------------------------------------------------------------------- playout


def playout_velkorant(seeds, plies):
    def run():
        total = 0
        for seed in seeds:
            rnd = random.Random(seed).random
            board = velkorant.Board()
            board.startpos()
            gen, execute, finished = board.search_moves, board.execute_move, board.is_finished
            for ply in range(MAX_PLIES):
                moves = gen(COLORS[ply & 1])
                if not moves:
                    break
                execute(moves[int(rnd() * len(moves))])
                if finished()[0]:
                    ply += 1
                    break
            else:
                ply = MAX_PLIES
            total += ply
        plies.append(total)
    return run


def playout_peer(library, seeds, plies):
    def run():
        total = 0
        for seed in seeds:
            rnd = random.Random(seed).random
            board = library.Board()
            push, over = board.push, board.is_game_over
            for ply in range(MAX_PLIES):
                moves = list(board.legal_moves)
                if not moves:
                    break
                push(moves[int(rnd() * len(moves))])
                if over():
                    ply += 1
                    break
            else:
                ply = MAX_PLIES
            total += ply
        plies.append(total)
    return run


# --------------------------------------------------------------------------- main


def main() -> int:
    parser = argparse.ArgumentParser(description="velkorant vs cshogi vs python-shogi")
    parser.add_argument("--quick", action="store_true", help="fewer repetitions and games")
    parser.add_argument("--reps", type=int, help="repetitions for velkorant and cshogi")
    parser.add_argument("--peer-reps", type=int, help="repetitions for python-shogi")
    parser.add_argument("--playouts", type=int, help="random games per library (fast ones)")
    parser.add_argument("--no-check", action="store_true", help="skip the untimed checks")
    args = parser.parse_args()

    reps = args.reps or (3 if args.quick else 7)
    slow_reps = args.peer_reps or (1 if args.quick else 3)
    inner = 10 if args.quick else 20  # calls per position and repetition (fast libraries)
    playouts = args.playouts or (20 if args.quick else 100)
    slow_games = 3 if args.quick else 8  # python-shogi: recorded games replayed
    slow_playouts = 1 if args.quick else 3  # python-shogi: random games

    start = time.perf_counter()
    sfens = load("positions.txt")
    games = [line.split() for line in load("games.txt")]
    nplies = sum(map(len, games))
    print(
        f"python {platform.python_version()} on {platform.machine()}; velkorant, "
        f"cshogi {version('cshogi')}, python-shogi {version('python-shogi')}"
    )
    print(f"data: {len(sfens)} positions, {len(games)} games ({nplies} plies)")

    if not args.no_check:
        t0 = time.perf_counter()
        avg = check_positions(sfens)
        print(
            "checked positions: moves per position velkorant {velkorant:.1f} (pseudo-legal), "
            "cshogi {cshogi:.1f}, python-shogi {python-shogi:.1f} (legal)".format(**avg)
        )
    else:
        t0 = time.perf_counter()
    vk_idx, cs_idx, py_idx = index_games(games, slow_games)
    print(f"checked games: every recorded move found ({time.perf_counter() - t0:.1f} s, untimed)")

    rows = []

    # movegen
    vk_items = []
    for sfen in sfens:
        board, side = usi_bridge.board_from_sfen(sfen)
        vk_items.append((board.search_moves, side))
    cs_boards = [cshogi.Board(s) for s in sfens]
    py_boards = [shogi.Board(s) for s in sfens]
    n = len(sfens)
    vk, cs = timed(reps, movegen_velkorant(vk_items, inner), movegen_legal(cs_boards, inner))
    (py,) = timed(slow_reps, movegen_legal(py_boards, 1))
    rows.append(
        ("movegen", "us/call",
         median(vk) / (n * inner) * 1e6, median(cs) / (n * inner) * 1e6, median(py) / n * 1e6,
         "time")
    )

    # replay
    vk, cs = timed(reps, replay_velkorant(vk_idx), replay_peer(cshogi, cs_idx))
    slow_plies = sum(map(len, py_idx[:slow_games]))
    (py,) = timed(slow_reps, replay_peer(shogi, py_idx[:slow_games]))
    rows.append(
        ("replay", "plies/s", nplies / median(vk), nplies / median(cs), slow_plies / median(py),
         "rate")
    )

    # playout
    seeds = list(range(1, playouts + 1))
    counts = {"velkorant": [], "cshogi": [], "python-shogi": []}
    vk, cs = timed(
        reps,
        playout_velkorant(seeds, counts["velkorant"]),
        playout_peer(cshogi, seeds, counts["cshogi"]),
    )
    (py,) = timed(slow_reps, playout_peer(shogi, seeds[:slow_playouts], counts["python-shogi"]))
    rate = [
        counts[name][0] / median(t)
        for name, t in (("velkorant", vk), ("cshogi", cs), ("python-shogi", py))
    ]
    rows.append(("playout", "plies/s", *rate, "rate"))

    print()
    print(
        f"repetitions: {reps} (velkorant, cshogi), {slow_reps} (python-shogi); medians shown"
    )
    print(
        f"movegen: {n} positions x {inner} calls per repetition (python-shogi: x 1)"
    )
    print(f"replay: {len(games)} games, {nplies} plies (python-shogi: {slow_games} games, {slow_plies} plies)")
    print(
        f"playout: {playouts} seeded random games, average length velkorant "
        f"{counts['velkorant'][0] / playouts:.0f}, cshogi {counts['cshogi'][0] / playouts:.0f} plies "
        f"(python-shogi: {slow_playouts} games, average {counts['python-shogi'][0] / slow_playouts:.0f})"
    )
    print()
    header = (
        f"{'benchmark':<10}{'unit':<9}{'velkorant':>12}{'cshogi':>12}{'python-shogi':>14}"
        f"{'cshogi/vk':>12}{'pyshogi/vk':>12}"
    )
    print(header)
    print("-" * len(header))
    for name, unit, v, c, p, kind in rows:
        # ratio > 1: velkorant is faster than that peer
        rc, rp = (c / v, p / v) if kind == "time" else (v / c, v / p)
        print(
            f"{name:<10}{unit:<9}{fmt(v):>12}{fmt(c):>12}{fmt(p):>14}"
            f"{rc:>11.2f}x{rp:>11.1f}x"
        )
    print("ratios: how many times faster velkorant is than the peer (per call or per ply)")
    print()
    move = Move("7g7f")
    board = velkorant.Board()
    board.startpos()
    print(
        f"sys.getsizeof: velkorant Move {sys.getsizeof(move)} B, Board {sys.getsizeof(board)} B "
        f"(object only); for reference a cshogi move is an int "
        f"({sys.getsizeof(next(iter(cshogi.Board().legal_moves)))} B), a python-shogi Move "
        f"object {sys.getsizeof(next(iter(shogi.Board().legal_moves)))} B (shallow)"
    )
    print(
        f"wall time: {time.perf_counter() - start:.1f} s; load average {loadavg()} "
        f"on {os.cpu_count()} cores (other work on the machine makes figures noisier)"
    )
    return 0


def loadavg() -> str:
    try:
        return "%.1f" % os.getloadavg()[0]
    except (AttributeError, OSError):
        return "?"


def fmt(x: float) -> str:
    return f"{x:,.0f}" if x >= 1000 else f"{x:.3g}" if x < 100 else f"{x:.1f}"


def version(dist: str) -> str:
    try:
        from importlib.metadata import version as v

        return v(dist)
    except Exception:
        return "?"


if __name__ == "__main__":
    sys.exit(main())
