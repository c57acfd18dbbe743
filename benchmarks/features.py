"""Network inputs and move labels: velkorant's batch path against a Python loop over cshogi, side
by side in one run.

    python benchmarks/features.py                      # 20000 positions in batches of 1024, 5 runs a row
    python benchmarks/features.py --positions 5000 --batch 256 --reps 3

The positions are those of seeded random legal games of cshogi, each with the move played from
it. They are processed in batches, as a training loop feeds a network: each batch's planes are
written into the same preallocated float32 arrays (N, 62, 9, 9) and (N, 57, 9, 9), its labels
into an int64 array, its packed positions into a HuffmanCodedPos array.
  pack+features+label   velkorant: data.pack (SFENs to hcp), data.features_batch (from the hcp),
                        data.move_labels_sfens; cshogi, per position: Board.to_hcp,
                        dlshogi.make_input_features, dlshogi.make_move_label on boards made
                        beforehand (its loop is given its boards and moves for free)
  encode_batch          the same three in one native pass (data.encode_batch: each SFEN read
                        once); the cshogi loop as above
  hcpe to inputs        the training read: hcpe records (positions and move words) to planes
                        and labels. velkorant: data.features_batch, data.move_labels_batch;
                        cshogi, per record: Board.set_hcp, make_input_features,
                        make_move_label(move_from_move16)
  features              velkorant: data.features_batch over the packed positions; cshogi:
                        dlshogi.make_input_features per position on boards made beforehand
velkorant runs on one thread and on two. Both sides must give the same arrays before anything is
timed. Each row is the median of --reps runs in wall time (threads need it); ratios above 1:
velkorant is faster. A floor the machine sets: writing the planes alone (numpy's fill of the
same arrays) is printed too.
"""

from __future__ import annotations

import argparse
import importlib.metadata
import os
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
    parser.add_argument("--batch", type=int, default=1024)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--seed", type=int, default=20261209)
    args = parser.parse_args()

    sfens, moves = make_positions(args.positions, args.seed)
    n, size = len(sfens), args.batch
    batches = [slice(i, min(i + size, n)) for i in range(0, n, size)]
    planes1 = np.empty((size, data.FEATURES1_NUM, 9, 9), np.float32)
    planes2 = np.empty((size, data.FEATURES2_NUM, 9, 9), np.float32)
    labels = np.empty(size, np.int64)
    packed = np.empty(size, data.HuffmanCodedPos)
    boards = [cshogi.Board(sfen) for sfen in sfens]
    words = [board.move_from_usi(usi) for board, usi in zip(boards, moves)]
    hcps = data.pack(sfens, "hcp")
    hcpe = np.zeros(n, data.HuffmanCodedPosAndEval)
    hcpe["hcp"] = hcps["hcp"]
    hcpe["bestMove16"] = [cshogi.move16(word) for word in words]

    def ours_hcpe(threads: int) -> Callable[[], object]:
        def run() -> None:
            for b in batches:
                k = b.stop - b.start
                data.features_batch(hcpe[b], planes1[:k], planes2[:k], threads=threads)
                data.move_labels_batch(hcpe[b], labels[:k], threads=threads)
        return run

    def theirs_hcpe() -> None:
        board = cshogi.Board()
        for b in batches:
            for j, row in enumerate(hcpe[b]):
                board.set_hcp(row["hcp"])
                dlshogi.make_input_features(board, planes1[j], planes2[j])
                labels[j] = dlshogi.make_move_label(board.move_from_move16(int(row["bestMove16"])), board.turn)

    def ours(threads: int, label: bool) -> Callable[[], object]:
        def run() -> None:
            for b in batches:
                k = b.stop - b.start
                rows = data.pack(sfens[b], "hcp", threads=threads) if label else hcps[b]
                data.features_batch(rows, planes1[:k], planes2[:k], threads=threads)
                if label:
                    data.move_labels_sfens(sfens[b], moves[b], labels[:k], threads=threads)
        return run

    def ours_fused(threads: int) -> Callable[[], object]:
        def run() -> None:
            for b in batches:
                k = b.stop - b.start
                data.encode_batch(sfens[b], moves[b], out=packed[:k], out1=planes1[:k], out2=planes2[:k],
                                  labels=labels[:k], threads=threads)
        return run

    def theirs(label: bool) -> Callable[[], object]:
        raw = packed.view(np.uint8).reshape(size, 32)

        def run() -> None:
            for b in batches:
                for j, (board, move) in enumerate(zip(boards[b], words[b])):
                    if label:
                        board.to_hcp(raw[j])
                    dlshogi.make_input_features(board, planes1[j], planes2[j])
                    if label:
                        labels[j] = dlshogi.make_move_label(move, board.turn)
        return run

    def fill() -> None:
        for _ in batches:
            planes1.fill(0)
            planes2.fill(0)

    # Checked, untimed: the same planes, labels and packed positions (the last batch of each).
    k = batches[-1].stop - batches[-1].start
    for mine_run, fused in ((ours(1, True), False), (ours_fused(2), True)):
        packed[:k] = np.zeros(k, data.HuffmanCodedPos)
        mine_run()
        mine = planes1.copy(), planes2.copy(), labels.copy(), bytes(packed[:k])
        theirs(True)()
        assert all(np.array_equal(a[:k], b[:k]) for a, b in zip(mine, (planes1, planes2, labels))), "the results differ"
        assert bytes(packed[:k]) == bytes(hcps[batches[-1]]), "the packed positions differ"
        assert not fused or mine[3] == bytes(packed[:k]), "encode_batch's packed positions differ"

    rows = [("pack+features+label", ours(1, True), ours(2, True), theirs(True)),
            ("  encode_batch", ours_fused(1), ours_fused(2), theirs(True)),
            ("hcpe to inputs", ours_hcpe(1), ours_hcpe(2), theirs_hcpe),
            ("features", ours(1, False), ours(2, False), theirs(False))]
    print(f"{n} positions in batches of {size}, median of {args.reps} runs; cshogi "
          f"{importlib.metadata.version('cshogi')}, numpy {np.__version__}, Python {platform.python_version()}, "
          f"load average {os.getloadavg()[0]:.2f}")
    print(f"{'row':22} {'velkorant 1':>12} {'velkorant 2':>12} {'cshogi':>9}  {'ratio 1':>8} {'ratio 2':>8}   (us/position)")
    for name, one, two, peer in rows:
        t1, t2, tp = (median_time(run, args.reps) / n * 1e6 for run in (one, two, peer))
        print(f"{name:22} {t1:12.2f} {t2:12.2f} {tp:9.2f}  {tp / t1:7.2f}x {tp / t2:7.2f}x")
    print(f"{'writing zeros (floor)':22} {median_time(fill, args.reps) / n * 1e6:12.2f}")


if __name__ == "__main__":
    main()
