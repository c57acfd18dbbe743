"""Network inputs and move labels: velkorant's batch path against a Python loop over cshogi, side
by side in one run.

    python benchmarks/features.py                      # 20000 positions, 5 runs a row
    python benchmarks/features.py --positions 5000 --reps 3

The positions are those of seeded random legal games of cshogi, each with the move played from
it. Every row writes both plane sets of every position into preallocated float32 arrays and the
label of that move into an int64 array:
  velkorant   data.features_sfens + data.move_labels_sfens over the SFENs (threads=1, then 2)
  cshogi      per position: Board.set_sfen, dlshogi.make_input_features, make_move_label
  cshogi*     the same without set_sfen: the boards and moves made beforehand (a lower bound
              for a loop that keeps boards rather than SFENs)
Both sides must give the same arrays before anything is timed. Each row is the median of --reps
runs in wall time (threads need it); ratios above 1: velkorant is faster.
"""

from __future__ import annotations

import argparse
import importlib.metadata
import platform
import random
import statistics
import time
from collections.abc import Callable

import cshogi
import numpy as np
from cshogi import dlshogi

from velkorant import data


def make_positions(count: int, seed: int) -> tuple[list[str], list[str]]:
    rng = random.Random(seed)
    sfens: list[str] = []
    moves: list[str] = []
    while len(sfens) < count:
        board = cshogi.Board()
        for _ in range(rng.randint(40, 200)):
            legal = list(board.legal_moves)
            if not legal or len(sfens) == count:
                break
            move = rng.choice(legal)
            sfens.append(board.sfen())
            moves.append(cshogi.move_to_usi(move))
            board.push(move)
    return sfens, moves


def median_time(run: Callable[[], object], reps: int) -> float:
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--positions", type=int, default=20000)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--seed", type=int, default=20261209)
    args = parser.parse_args()

    sfens, moves = make_positions(args.positions, args.seed)
    n = len(sfens)
    ours1 = np.empty((n, data.FEATURES1_NUM, 9, 9), np.float32)
    ours2 = np.empty((n, data.FEATURES2_NUM, 9, 9), np.float32)
    our_labels = np.empty(n, np.int64)
    theirs1 = np.zeros_like(ours1)
    theirs2 = np.zeros_like(ours2)
    their_labels = np.empty(n, np.int64)
    boards = [cshogi.Board(sfen) for sfen in sfens]
    words = [board.move_from_usi(usi) for board, usi in zip(boards, moves)]

    def velkorant(threads: int) -> Callable[[], object]:
        def run() -> None:
            data.features_sfens(sfens, ours1, ours2, threads=threads)
            data.move_labels_sfens(sfens, moves, our_labels, threads=threads)
        return run

    def cshogi_from_sfen() -> None:
        board = cshogi.Board()
        for i, (sfen, usi) in enumerate(zip(sfens, moves)):
            board.set_sfen(sfen)
            dlshogi.make_input_features(board, theirs1[i], theirs2[i])
            their_labels[i] = dlshogi.make_move_label(board.move_from_usi(usi), board.turn)

    def cshogi_ready() -> None:
        for i, (board, move) in enumerate(zip(boards, words)):
            dlshogi.make_input_features(board, theirs1[i], theirs2[i])
            their_labels[i] = dlshogi.make_move_label(move, board.turn)

    velkorant(1)()
    cshogi_from_sfen()
    assert np.array_equal(ours1, theirs1) and np.array_equal(ours2, theirs2), "the planes differ"
    assert np.array_equal(our_labels, their_labels), "the labels differ"

    rows = [
        ("velkorant, threads=1", velkorant(1)),
        ("velkorant, threads=2", velkorant(2)),
        ("cshogi (set_sfen + features + label)", cshogi_from_sfen),
        ("cshogi* (features + label on ready boards)", cshogi_ready),
    ]
    timed = [(name, median_time(run, args.reps)) for name, run in rows]
    print(f"{n} positions, median of {args.reps} runs; cshogi {importlib.metadata.version('cshogi')}, "
          f"numpy {np.__version__}, Python {platform.python_version()}")
    print(f"{'path':45} {'us/position':>12} {'vs cshogi':>10} {'vs cshogi*':>11}")
    base, ready = timed[2][1], timed[3][1]
    for name, seconds in timed:
        print(f"{name:45} {seconds / n * 1e6:12.2f} {base / seconds:9.2f}x {ready / seconds:10.2f}x")


if __name__ == "__main__":
    main()
