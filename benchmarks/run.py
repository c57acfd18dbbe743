"""velkorant against cshogi and python-shogi, side by side, in one table.

    python benchmarks/run.py                     # full run (one to two minutes)
    python benchmarks/run.py --quick             # fewer repetitions and games (about ten seconds)
    python benchmarks/run.py --perft build-native/perft   # add the native legal perft rows

Needs the benchmark extras (pip install '.[bench]', i.e. cshogi and python-shogi) and the
data files in benchmarks/data/ (seeded cshogi games, see benchmarks/README.md). Every row is
measured in the same run, on the same positions and games for every library:

pseudo-legal rows (velkorant's Board: no king safety, a game ends when a king is taken; the
peers do their legal job, so velkorant's lists are somewhat longer):
  movegen     board.search_moves(color)      vs list(board.legal_moves)      per call
  replay      generate, execute_move the recorded move  vs generate, push    plies/s
  playout     seeded random games: generate, pick, execute, is_finished()[0]
              vs generate, pick, push, is_game_over()                        plies/s
full-rules rows (velkorant's Game against the same calls of the peers):
  legal movegen    game.legal_moves()        vs list(board.legal_moves)      per call
  undo             game.push(m); game.pop()  vs board.push(m); board.pop()   per pair
  is_check         game.is_check()           vs board.is_check()             per call
  legal self-play  seeded random legal games: legal_moves(), pick, push, outcome()
                   vs list(legal_moves), pick, push, is_game_over()          plies/s
  sfen parse       Game(sfen)                vs Board(sfen)                  per call
  sfen write       game.sfen()               vs board.sfen()                 per call
  usi push         game.push_usi(usi) over the recorded games  vs board.push_usi(usi)
native rows (with --perft PATH): the built perft tool's legal perft, nodes per second of
processor time, from the initial position (depths 5 and 6) and from its built-in middle game.

Before timing, everything is checked untimed: velkorant's Game and cshogi list the same legal
moves on every position used (the fixed positions, every ply of the recorded games, every ply
of the self-play games), python-shogi agrees on the fixed positions and on the games it
plays; the SFEN each library writes is the one it read; the recorded games replay to the same
position at every ply; every legal move is in velkorant's pseudo-legal list. The self-play
games are the same game in every library: at each ply the legal moves sorted by USI text are
the same list, the seeded RNG draws an index into that sorted list, and the timed loop maps it
to the library's own list order through a table built in the untimed pass.

python-shogi is more than a thousand times slower than the other two on move generation, so
it gets fewer repetitions, a subset of the games and fewer self-play games; all figures are
per call or per ply, so the ratios stay comparable. The garbage collector is off while
timing, as timeit does, and the clock is the process's processor time. Timings are
printed, never asserted.
"""

from __future__ import annotations

import argparse
import gc
import os
import platform
import random
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

import cshogi  # noqa: E402
import shogi  # noqa: E402  (python-shogi)
import velkorant  # noqa: E402
from velkorant import ColorType, Game, Move  # noqa: E402

BLACK = ColorType.Black
WHITE = ColorType.White
COLORS = (BLACK, WHITE)
MAX_PLIES = 512
LIBS = ("velkorant", "cshogi", "python-shogi")


def load(name: str) -> list[str]:
    path = os.path.join(HERE, "data", name)
    if not os.path.exists(path):
        sys.exit(f"{path} is missing")
    with open(path) as f:
        return [line.strip() for line in f if line.strip() and not line.startswith("#")]


def timed(reps: int, *fns) -> list[list[float]]:
    """Processor seconds of each of `reps` calls of every fn, with the collector off (as
    timeit does).

    Processor time, not wall-clock time: on a machine shared with other work the process
    waits for a core now and then, and that wait is no part of the library's speed. The
    functions take turns within each repetition, so a change in the machine's load during
    the run (caches shared with other processes) affects them alike.
    """
    out = [[] for _ in fns]
    enabled = gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        for _ in range(reps):
            for fn, times in zip(fns, out):
                t0 = time.process_time()
                fn()
                times.append(time.process_time() - t0)
    finally:
        if enabled:
            gc.enable()
    return out


median = statistics.median


def cs_usi(moves) -> list[str]:
    return [cshogi.move_to_usi(m) for m in moves]


def vk_usi(moves) -> list[str]:
    return [m.usi() for m in moves]


# --------------------------------------------------------------------------- checks


def same_legal(game: Game, board: cshogi.Board, where) -> list[str]:
    """Untimed: velkorant's legal list and cshogi's hold the same moves; returns them sorted."""
    ours = sorted(vk_usi(game.legal_moves()))
    theirs = sorted(cs_usi(board.legal_moves))
    assert ours == theirs, (where, sorted(set(ours) ^ set(theirs)))
    return ours


def check_positions(sfens: list[str]) -> dict[str, float]:
    """Untimed, per fixed position: the SFEN reads and writes back unchanged in velkorant and
    cshogi, velkorant's Board copy carries the position and hands, the legal sets agree in all
    three libraries, and every legal move is in velkorant's pseudo-legal list."""
    sizes = dict.fromkeys(("pseudo", *LIBS), 0)
    for sfen in sfens:
        game, peer = Game(sfen), cshogi.Board(sfen)
        assert game.sfen() == sfen == peer.sfen(), (sfen, game.sfen(), peer.sfen())
        board = game.board
        assert Game.from_board(board, game.turn, game.ply).sfen() == sfen, sfen
        legal = same_legal(game, peer, sfen)
        py = sorted(m.usi() for m in shogi.Board(sfen).legal_moves)
        assert py == legal, (sfen, "python-shogi disagrees")
        pseudo = set(vk_usi(board.search_moves(game.turn)))
        missing = [u for u in legal if u not in pseudo]
        assert not missing, (sfen, "not in the pseudo-legal list", missing)
        sizes["pseudo"] += len(pseudo)
        sizes["velkorant"] += len(legal)
        sizes["cshogi"] += len(legal)
        sizes["python-shogi"] += len(py)
    return {k: v / len(sfens) for k, v in sizes.items()}


def index_games(games: list[list[str]], slow_games: int):
    """Untimed: per library and ply of every recorded game, the recorded move's index in the
    library's own list (velkorant: the pseudo-legal list). Checks at every ply that Game and
    cshogi list the same legal moves, that the recorded move is among them, that push_usi
    reaches the same position in both (same SFEN), and that the pseudo-legal list has it."""
    vk_idx, cs_idx, py_idx = [], [], []
    for game in games:
        board = velkorant.Board()
        board.startpos()
        full, cs, by_usi = Game(), cshogi.Board(), Game()
        vi, ci = [], []
        for ply, usi in enumerate(game):
            legal = same_legal(full, cs, (ply, usi))
            assert usi in legal, (ply, usi)
            listed = vk_usi(board.search_moves(COLORS[ply & 1]))
            vi.append(listed.index(usi))
            board.execute_move(Move.from_usi(usi, COLORS[ply & 1]))
            moves = list(cs.legal_moves)
            k = cs_usi(moves).index(usi)
            ci.append(k)
            cs.push(moves[k])
            full.push(Move.from_usi(usi, COLORS[ply & 1]))
            assert by_usi.push_usi(usi).usi() == usi
            assert full.sfen() == cs.sfen() == by_usi.sfen(), (ply, usi, full.sfen(), cs.sfen())
        vk_idx.append(vi)
        cs_idx.append(ci)
    for game in games[:slow_games]:
        py = shogi.Board()
        pi = []
        for usi in game:
            moves = list(py.legal_moves)
            k = [m.usi() for m in moves].index(usi)
            pi.append(k)
            py.push(moves[k])
        py_idx.append(pi)
    return vk_idx, cs_idx, py_idx


def self_play_tables(seeds: list[int], slow_games: int):
    """Untimed: the seeded random legal games, played in velkorant and cshogi side by side.

    At each ply both list the same legal moves; sorted by USI text they are one list, and
    int(rnd() * n) of the game's random.Random(seed) picks the move from it. The returned
    tables map that sorted index to each library's own list order, ply by ply, so the timed
    loops (which do not sort) play exactly these games. A game stops when velkorant's
    outcome() is not None, at mate (cshogi's is_game_over() agrees) or at a fourfold
    repetition (cshogi's is_draw() names the same kind), or after MAX_PLIES plies.
    python-shogi plays the first `slow_games` games too, and must list the same moves.
    """
    tables = {lib: [] for lib in LIBS}
    endings = {}
    for n, seed in enumerate(seeds):
        rnd = random.Random(seed).random
        game, cs = Game(), cshogi.Board()
        py = shogi.Board() if n < slow_games else None
        vk_t, cs_t, py_t = [], [], []
        for ply in range(MAX_PLIES):
            ours, theirs = game.legal_moves(), list(cs.legal_moves)
            vk_text, cs_text = vk_usi(ours), cs_usi(theirs)
            order = sorted(vk_text)
            assert order == sorted(cs_text), (seed, ply, set(vk_text) ^ set(cs_text))
            if py is not None:
                py_moves = list(py.legal_moves)
                py_text = [m.usi() for m in py_moves]
                assert sorted(py_text) == order, (seed, ply, "python-shogi disagrees")
                py_t.append(tuple(py_text.index(u) for u in order))
            vk_t.append(tuple(vk_text.index(u) for u in order))
            cs_t.append(tuple(cs_text.index(u) for u in order))
            usi = order[int(rnd() * len(order))]
            game.push(ours[vk_text.index(usi)])
            cs.push(theirs[cs_text.index(usi)])
            if py is not None:
                py.push(py_moves[py_text.index(usi)])
            outcome = game.outcome()
            if outcome is not None:
                reason = outcome[1]
                if reason in ("checkmate", "no_legal_moves"):
                    assert cs.is_game_over(), (seed, ply, reason)
                elif reason == "repetition":
                    assert cs.is_draw() == cshogi.REPETITION_DRAW, (seed, ply, reason)
                else:
                    assert cs.is_draw() in (cshogi.REPETITION_WIN, cshogi.REPETITION_LOSE), (
                        seed, ply, reason)
                if py is not None:
                    assert py.is_game_over(), (seed, ply, reason, "python-shogi goes on")
                endings[reason] = endings.get(reason, 0) + 1
                break
            assert not cs.is_game_over(), (seed, ply, "cshogi sees the game over")
            assert py is None or not py.is_game_over(), (seed, ply, "python-shogi sees it over")
        else:
            endings["ply cap"] = endings.get("ply cap", 0) + 1
        tables["velkorant"].append(vk_t)
        tables["cshogi"].append(cs_t)
        if py is not None:
            tables["python-shogi"].append(py_t)
    return tables, endings


# --------------------------------------------------------------------------- pseudo-legal


def movegen_velkorant(items, inner):
    def run():
        for gen, color in items:
            for _ in range(inner):
                gen(color)
    return run


def movegen_peer(boards, inner):
    # the same shape for cshogi and python-shogi: list(board.legal_moves)
    def run():
        for board in boards:
            for _ in range(inner):
                list(board.legal_moves)
    return run


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


# --------------------------------------------------------------------------- full rules


def undo_run(pairs):
    """pairs: (push, pop, moves) per position; the same loop for every library."""
    def run():
        for push, pop, moves in pairs:
            for m in moves:
                push(m)
                pop()
    return run


def calls_run(fns, inner):
    """Each bound method called `inner` times in a row; the same loop for every library."""
    def run():
        for fn in fns:
            for _ in range(inner):
                fn()
    return run


def self_play_velkorant(seeds, tables):
    def run():
        for seed, table in zip(seeds, tables):
            rnd = random.Random(seed).random
            game = Game()
            legal, push, outcome = game.legal_moves, game.push, game.outcome
            for order in table:
                moves = legal()
                push(moves[order[int(rnd() * len(moves))]])
                if outcome() is not None:
                    break
    return run


def self_play_peer(library, seeds, tables):
    def run():
        for seed, table in zip(seeds, tables):
            rnd = random.Random(seed).random
            board = library.Board()
            push, over = board.push, board.is_game_over
            for order in table:
                moves = list(board.legal_moves)
                push(moves[order[int(rnd() * len(moves))]])
                if over():
                    break
    return run


def parse_run(make, sfens, inner):
    def run():
        for _ in range(inner):
            for s in sfens:
                make(s)
    return run


def write_run(objects, inner):
    def run():
        for _ in range(inner):
            for sfen in objects:
                sfen()
    return run


def usi_run(make, games):
    def run():
        for game in games:
            push = make().push_usi
            for usi in game:
                push(usi)
    return run


# --------------------------------------------------------------------------- native perft

PERFT_LINE = re.compile(
    r"legal perft\((\d+)\) = (\d+) +([\d.]+) s +([\d.]+) M nodes/s +\(cpu ([\d.]+) s, ([\d.]+) M nodes/s\)"
)


def native_perft(tool: str, middle: bool, depth: int) -> dict[int, tuple[int, float, float]]:
    """Runs `perft --legal [--middle] depth`: per depth (nodes, wall M nodes/s, cpu M nodes/s)."""
    cmd = [tool, "--legal", *(["--middle"] if middle else []), str(depth)]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    rows = {}
    for m in PERFT_LINE.finditer(out):
        rows[int(m[1])] = (int(m[2]), float(m[4]), float(m[6]))
    return rows


# --------------------------------------------------------------------------- main


def main() -> int:
    parser = argparse.ArgumentParser(description="velkorant vs cshogi vs python-shogi")
    parser.add_argument("--quick", action="store_true", help="fewer repetitions and games")
    parser.add_argument("--reps", type=int, help="repetitions for velkorant and cshogi")
    parser.add_argument("--peer-reps", type=int, help="repetitions for python-shogi")
    parser.add_argument("--playouts", type=int, help="random games per fast library")
    parser.add_argument("--perft", metavar="PATH", help="the built perft tool (native rows)")
    args = parser.parse_args()

    reps = args.reps or (3 if args.quick else 7)
    slow_reps = args.peer_reps or (1 if args.quick else 3)
    inner = 5 if args.quick else 20  # calls per position and repetition (fast libraries)
    playouts = args.playouts or (20 if args.quick else 100)
    slow_games = 3 if args.quick else 8  # python-shogi: recorded games replayed
    slow_playouts = 1 if args.quick else 3  # python-shogi: random games
    slow_positions = 50 if args.quick else 250  # python-shogi: positions for movegen, undo

    start = time.perf_counter()
    sfens = load("positions.txt")
    games = [line.split() for line in load("games.txt")]
    nplies = sum(map(len, games))
    print(
        f"python {platform.python_version()} on {platform.machine()}; velkorant, "
        f"cshogi {version('cshogi')}, python-shogi {version('python-shogi')}"
    )
    print(f"data: {len(sfens)} positions, {len(games)} recorded games ({nplies} plies)")

    t0 = time.perf_counter()
    avg = check_positions(sfens)
    vk_idx, cs_idx, py_idx = index_games(games, slow_games)
    seeds = list(range(1, playouts + 1))
    tables, endings = self_play_tables(seeds, slow_playouts)
    self_plies = {lib: sum(map(len, t)) for lib, t in tables.items()}
    print(
        f"checked, untimed ({time.perf_counter() - t0:.1f} s): legal moves equal on every "
        f"position and ply, SFEN and USI replays equal, self-play games identical"
    )

    rows = []  # (name, unit, {lib: figure}, kind, target ratio against cshogi)
    n = len(sfens)
    vk_games = [Game(s) for s in sfens]
    cs_boards = [cshogi.Board(s) for s in sfens]
    py_boards = [shogi.Board(s) for s in sfens[:slow_positions]]
    ns = len(py_boards)

    # pseudo-legal movegen
    vk_items = [(g.board.search_moves, g.turn) for g in vk_games]
    vk, cs = timed(reps, movegen_velkorant(vk_items, inner), movegen_peer(cs_boards, inner))
    (py,) = timed(slow_reps, movegen_peer(py_boards, 1))
    rows.append(("movegen", "us/call", per(vk, n * inner), per(cs, n * inner), per(py, ns), "time", 2.0))

    # pseudo-legal replay
    vk, cs = timed(reps, replay_velkorant(vk_idx), replay_peer(cshogi, cs_idx))
    slow_plies = sum(map(len, py_idx))
    (py,) = timed(slow_reps, replay_peer(shogi, py_idx))
    rows.append(("replay", "plies/s", nplies / median(vk), nplies / median(cs), slow_plies / median(py), "rate", 2.0))

    # pseudo-legal playout
    counts = {lib: [] for lib in LIBS}
    vk, cs = timed(
        reps,
        playout_velkorant(seeds, counts["velkorant"]),
        playout_peer(cshogi, seeds, counts["cshogi"]),
    )
    (py,) = timed(slow_reps, playout_peer(shogi, seeds[:slow_playouts], counts["python-shogi"]))
    rate = [counts[lib][0] / median(t) for lib, t in zip(LIBS, (vk, cs, py))]
    rows.append(("playout", "plies/s", *rate, "rate", 2.0))

    # legal movegen
    vk, cs = timed(reps, calls_run([g.legal_moves for g in vk_games], inner), movegen_peer(cs_boards, inner))
    (py,) = timed(slow_reps, movegen_peer(py_boards, 1))
    rows.append(("legal movegen", "us/call", per(vk, n * inner), per(cs, n * inner), per(py, ns), "time", 1.6))

    # undo: every legal move of every position, pushed and popped
    vk_pairs = [(g.push, g.pop, g.legal_moves()) for g in vk_games]
    cs_pairs = [(b.push, b.pop, list(b.legal_moves)) for b in cs_boards]
    py_pairs = [(b.push, b.pop, list(b.legal_moves)) for b in py_boards]
    npairs = sum(len(p[2]) for p in vk_pairs)
    nslow = sum(len(p[2]) for p in py_pairs)
    vk, cs = timed(reps, undo_run(vk_pairs), undo_run(cs_pairs))
    (py,) = timed(slow_reps, undo_run(py_pairs))
    rows.append(("undo", "us/pair", per(vk, npairs), per(cs, npairs), per(py, nslow), "time", 1.2))
    for g, b in zip(vk_games, cs_boards):
        assert g.sfen() == b.sfen()  # every push was undone

    # is_check: the same positions; both libraries agree on every one
    for g, b, p in zip(vk_games, cs_boards, py_boards + [None] * (n - ns)):
        assert g.is_check() == b.is_check() and (p is None or p.is_check() == g.is_check())
    calls = 5 * inner
    vk, cs = timed(
        reps, calls_run([g.is_check for g in vk_games], calls), calls_run([b.is_check for b in cs_boards], calls)
    )
    (py,) = timed(slow_reps, calls_run([b.is_check for b in py_boards], 1))
    rows.append(("is_check", "us/call", per(vk, n * calls), per(cs, n * calls), per(py, ns), "time", 1.0))

    # legal self-play
    vk, cs = timed(
        reps,
        self_play_velkorant(seeds, tables["velkorant"]),
        self_play_peer(cshogi, seeds, tables["cshogi"]),
    )
    (py,) = timed(slow_reps, self_play_peer(shogi, seeds[:slow_playouts], tables["python-shogi"]))
    rows.append((
        "legal self-play", "plies/s",
        self_plies["velkorant"] / median(vk), self_plies["cshogi"] / median(cs),
        self_plies["python-shogi"] / median(py), "rate", 1.6,
    ))

    # SFEN
    slow_sfens = sfens[:slow_positions]
    vk, cs = timed(reps, parse_run(Game, sfens, inner), parse_run(cshogi.Board, sfens, inner))
    (py,) = timed(slow_reps, parse_run(shogi.Board, slow_sfens, 1))
    rows.append(("sfen parse", "us/call", per(vk, n * inner), per(cs, n * inner), per(py, ns), "time", 1.0))
    vk, cs = timed(reps, write_run([g.sfen for g in vk_games], inner), write_run([b.sfen for b in cs_boards], inner))
    (py,) = timed(slow_reps, write_run([b.sfen for b in py_boards], 1))
    rows.append(("sfen write", "us/call", per(vk, n * inner), per(cs, n * inner), per(py, ns), "time", None))

    # USI: the recorded games, move by move
    vk, cs = timed(reps, usi_run(Game, games), usi_run(cshogi.Board, games))
    (py,) = timed(slow_reps, usi_run(shogi.Board, games[:slow_games]))
    rows.append(("usi push", "us/move", per(vk, nplies), per(cs, nplies), per(py, slow_plies), "time", None))

    native = []
    if args.perft:
        depth = 5 if args.quick else 6
        mid = 4 if args.quick else 5
        start_rows = native_perft(args.perft, False, depth)
        middle_rows = native_perft(args.perft, True, mid)
        for d in sorted({5, depth}):
            native.append((f"perft start d{d}", *start_rows[d]))
        native.append((f"perft middle d{mid}", *middle_rows[mid]))

    print()
    print(f"repetitions: {reps} (velkorant, cshogi), {slow_reps} (python-shogi); medians shown")
    print(
        f"movegen, legal movegen, sfen: {n} positions x {inner} calls per repetition "
        f"(python-shogi: {ns} positions x 1); moves per position: pseudo-legal {avg['pseudo']:.1f}, "
        f"legal {avg['velkorant']:.1f}"
    )
    print(f"undo: {npairs} push/pop pairs, every legal move of every position (python-shogi: {nslow})")
    print(
        f"replay, usi push: {len(games)} games, {nplies} plies "
        f"(python-shogi: {len(py_idx)} games, {slow_plies} plies)"
    )
    print(
        f"playout: {playouts} seeded pseudo-legal games, average length velkorant "
        f"{counts['velkorant'][0] / playouts:.0f}, cshogi {counts['cshogi'][0] / playouts:.0f} plies "
        f"(python-shogi: {slow_playouts} games, average {counts['python-shogi'][0] / slow_playouts:.0f})"
    )
    print(
        f"legal self-play: {playouts} seeded games, the same in both libraries, {self_plies['velkorant']} "
        f"plies, ended by {', '.join(f'{k} {v}' for k, v in sorted(endings.items()))} "
        f"(python-shogi: the first {slow_playouts}, {self_plies['python-shogi']} plies)"
    )
    print()
    header = (
        f"{'benchmark':<17}{'unit':<9}{'velkorant':>11}{'cshogi':>11}{'python-shogi':>13}"
        f"{'vs cshogi':>11}{'vs py-shogi':>12}{'target':>8}  met"
    )
    print(header)
    print("-" * len(header))
    for name, unit, v, c, p, kind, target in rows:
        # ratio > 1: velkorant is faster than that peer
        rc, rp = (c / v, p / v) if kind == "time" else (v / c, v / p)
        goal = f"{target:.1f}x" if target else "-"
        met = ("yes" if rc >= target else "NO") if target else ""
        print(
            f"{name:<17}{unit:<9}{fmt(v):>11}{fmt(c):>11}{fmt(p):>13}"
            f"{rc:>10.2f}x{rp:>11.0f}x{goal:>8}  {met}"
        )
    for name, nodes, wall, cpu in native:
        met = "yes" if cpu >= 150 else "NO"
        print(f"{name:<17}{'Mnode/s':<9}{cpu:>11.1f}{'':>11}{'':>13}{'':>11}{'':>12}{'150':>8}  {met}")
    print(
        "ratios: how many times faster velkorant is than the peer (per call or per ply); "
        "targets are ratios against cshogi"
    )
    if native:
        print(
            "native: legal perft of the built tool, leaves counted, M nodes per second of processor "
            "time (wall: " + ", ".join(f"{name} {wall:.1f}" for name, _, wall, _ in native) + "; nodes: "
            + ", ".join(f"{name} {nodes}" for name, nodes, _, _ in native) + ")"
        )
    else:
        print("native rows: add --perft PATH (perft built with -DVELKORANT_NATIVE_TOOLS=ON)")
    print()
    move = Move("7g7f")
    game = Game()
    print(
        f"sys.getsizeof: velkorant Move {sys.getsizeof(move)} B, Board {sys.getsizeof(game.board)} B, "
        f"Game {sys.getsizeof(game)} B (object only)"
    )
    print(
        f"wall time: {time.perf_counter() - start:.1f} s; load average {loadavg()} "
        f"on {os.cpu_count()} cores (other work on the machine makes figures noisier)"
    )
    return 0


def per(times: list[float], count: int) -> float:
    """Median microseconds per item."""
    return median(times) / count * 1e6


def loadavg() -> str:
    try:
        return "%.2f %.2f %.2f" % os.getloadavg()
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
