"""Checks and mate in one against cshogi, side by side on the same positions, as ratios.

    OPENBLAS_NUM_THREADS=1 PYTHONPATH=build-h python benchmarks/mate.py [GAMES]
    python benchmarks/mate.py [GAMES] --sfens FILE   # writes mate in one's positions, one SFEN a line


The positions are those along seeded random legal games (GAMES of them, 200 plies at most),
out of check for mate in one, since cshogi's mate_move_in_1ply answers only there. Mate in one
is timed three ways: every position once in turn (read cold from memory, as a search's
positions mostly are), a small sample asked over and over (in the processor's caches), and as a
search asks it, right after a move is played. Each row group is a function returning rows
(name, seconds of velkorant, seconds of cshogi), so the solver's rows can join the table.
"""
import random
import sys
import time

import cshogi

from velkorant import Game


def positions(games: int) -> list[str]:
    rng = random.Random(3)
    out = []
    for _ in range(games):
        game = Game()
        for _ in range(200):
            moves = game.legal_moves()
            if not moves:
                break
            out.append(game.sfen())
            game.push(rng.choice(moves))
    return out


def best_of(run, repeat=5) -> float:
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def mate_rows(sfens: list[str]) -> list[tuple[str, float, float]]:
    quiet = [s for s in sfens if not Game(s).is_check()]
    ours = [Game(s).mate_in_one for s in quiet]
    theirs = [cshogi.Board(s).mate_move_in_1ply for s in quiet]
    found = sum(f() is not None for f in ours), sum(bool(f()) for f in theirs)
    name = f"mate in one, {len(quiet)} positions (mates found {found[0]} / {found[1]})"
    return [(name, best_of(lambda: [f() for f in ours]), best_of(lambda: [f() for f in theirs]))]


def mate_cached_rows(sfens: list[str]) -> list[tuple[str, float, float]]:
    # A random sample small enough to stay in the processor's caches, asked many times over:
    # what a call costs once the position is at hand, against the cold row above.
    quiet = [s for s in sfens if not Game(s).is_check()]
    sample = random.Random(5).sample(quiet, min(250, len(quiet)))
    ours = [Game(s).mate_in_one for s in sample] * 40
    theirs = [cshogi.Board(s).mate_move_in_1ply for s in sample] * 40
    name = f"mate in one, {len(sample)} positions asked 40 times over (in cache)"
    return [(name, best_of(lambda: [f() for f in ours]), best_of(lambda: [f() for f in theirs]))]


def mate_after_move_rows(sfens: list[str]) -> list[tuple[str, float, float]]:
    # As a search asks it: a move played, mate in one asked, the move taken back; the same
    # without the question is timed apart and taken off. One quiet move of each sampled position.
    rng = random.Random(7)
    ours, theirs = [], []
    for s in rng.sample(sfens, min(3000, len(sfens))):
        game = Game(s)
        for move in rng.sample(game.legal_moves(), len(game.legal_moves())):
            game.push(move)
            quiet = not game.is_check()
            game.pop()
            if quiet:
                board = cshogi.Board(s)
                ours.append((game, move))
                theirs.append((board, board.move_from_usi(move.usi())))
                break

    # One loop for both libraries, the question asked through the class's method.
    def asked(pairs, ask):
        for board, move in pairs:
            board.push(move)
            ask(board)
            board.pop()

    def not_asked(pairs):
        for board, move in pairs:
            board.push(move)
            board.pop()

    def cost(pairs, ask):
        return best_of(lambda: asked(pairs, ask)) - best_of(lambda: not_asked(pairs))

    name = f"mate in one after a move ({len(ours)} positions; push and pop taken off)"
    return [(name, cost(ours, Game.mate_in_one), cost(theirs, cshogi.Board.mate_move_in_1ply))]


def check_rows(sfens: list[str]) -> list[tuple[str, float, float]]:
    ours = [Game(s).check_moves for s in sfens]
    theirs = [cshogi.Board(s) for s in sfens]
    count = sum(len(f()) for f in ours), sum(len(list(b.check_moves)) for b in theirs)
    name = f"check moves, {len(sfens)} positions (checks {count[0]} / {count[1]})"
    return [(name, best_of(lambda: [f() for f in ours]), best_of(lambda: [list(b.check_moves) for b in theirs]))]


ROWS = [mate_rows, mate_cached_rows, mate_after_move_rows, check_rows]


def main() -> None:
    args = sys.argv[1:]
    out = None
    if "--sfens" in args:
        at = args.index("--sfens")
        out = args[at + 1]
        del args[at : at + 2]
    games = int(args[0]) if args else 50
    sfens = positions(games)
    if out:
        # The positions of the mate in one row, for benchmarks/mate_native.cpp.
        with open(out, "w") as f:
            f.writelines(s + "\n" for s in sfens if not Game(s).is_check())
        return
    print(f"| workload | velkorant ms | cshogi ms | cshogi / velkorant |")
    print(f"|---|---:|---:|---:|")
    for group in ROWS:
        for name, ours, theirs in group(sfens):
            print(f"| {name} | {ours * 1e3:.2f} | {theirs * 1e3:.2f} | {theirs / ours:.2f} |")


if __name__ == "__main__":
    main()
