"""Reading game records: velkorant.records against cshogi's parsers, side by side.

    python benchmarks/records.py              # 3000 games (about a minute)
    python benchmarks/records.py --games 300  # quicker

The games are seeded random legal games of cshogi (up to 160 plies, a time on every move,
floodgate-like evaluation comments on some), written once to a temporary folder:
  CSA   one file holding every game, separated by "/" lines (as floodgate's archives are)
        velkorant: records.load_all(path)
        cshogi:    cshogi.CSA.Parser.parse_file(path), then every game's moves pushed on a Board
  KIF   one file per game (Shift_JIS, as KIF files are)
        velkorant: records.load(path) per file
        cshogi:    cshogi.KIF.Parser.parse_file(path) per file, then the moves pushed on a Board
  KI2   the same games as KI2 files, read by velkorant (cshogi has no KI2 reader: the row is
        compared with cshogi's KIF row)
Both sides check every move with the rules as they read (velkorant's reader does it natively;
for cshogi the replay on a Board is the check). Before timing, both must read the same moves.
Each row is the median of --reps runs in processor time; ratios above 1: velkorant is faster.
"""

from __future__ import annotations

import argparse
import importlib.metadata
import os
import platform
import random
import statistics
import sys
import tempfile
import time

import cshogi
import cshogi.CSA
import cshogi.KIF

from velkorant import records


def make_games(count: int, seed: int) -> list[list[int]]:
    rng = random.Random(seed)
    games = []
    for _ in range(count):
        board, moves = cshogi.Board(), []
        for _ in range(rng.randint(40, 160)):
            legal = list(board.legal_moves)
            if not legal:
                break
            moves.append(rng.choice(legal))
            board.push(moves[-1])
        games.append(moves)
    return games


def write_files(folder: str, games: list[list[int]], seed: int) -> tuple[str, list[str], list[str]]:
    rng = random.Random(seed)
    csa_path = os.path.join(folder, "all.csa")
    with open(csa_path, "w", encoding="utf-8") as out:
        for i, moves in enumerate(games):
            if i:
                out.write("/\n")
            out.write(f"V2.2\nN+black{i}\nN-white{i}\n$EVENT:bench\nPI\n+\n")
            color = "+"
            for move in moves:
                out.write(f"{color}{cshogi.move_to_csa(move)}\nT{rng.randint(0, 30)}\n")
                if rng.random() < 0.5:
                    out.write(f"'** {rng.randint(-999, 999)}\n")
                color = "-" if color == "+" else "+"
            out.write("%TORYO\n")
    kif_paths, ki2_paths = [], []
    for i, moves in enumerate(games):
        record = records.loads("startpos moves " + " ".join(cshogi.move_to_usi(m) for m in moves), "usi")
        record.headers.update(black=f"black{i}", white=f"white{i}")
        for fmt, paths in (("kif", kif_paths), ("ki2", ki2_paths)):
            path = os.path.join(folder, f"{i}.{fmt}")
            record.dump(path)
            paths.append(path)
    return csa_path, kif_paths, ki2_paths


def replay(kifs: list) -> int:  # type: ignore[type-arg]
    plies = 0
    for kif in kifs:
        board = cshogi.Board(kif.sfen)
        for move in kif.moves:
            board.push(move)
        plies += len(kif.moves)
    return plies


def timed(run, reps: int) -> float:  # type: ignore[no-untyped-def]
    times = []
    for _ in range(reps):
        start = time.process_time()
        run()
        times.append(time.process_time() - start)
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--games", type=int, default=3000)
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    games = make_games(args.games, args.seed)
    plies = sum(map(len, games))
    with tempfile.TemporaryDirectory() as folder:
        csa_path, kif_paths, ki2_paths = write_files(folder, games, args.seed)
        expected = [[cshogi.move_to_usi(m) for m in g] for g in games]
        # Checked, untimed: both read the same moves.
        assert [r.moves for r in records.load_all(csa_path)] == expected
        assert [[cshogi.move_to_usi(m) for m in k.moves] for k in cshogi.CSA.Parser.parse_file(csa_path)] == expected
        assert [records.load(p).moves for p in kif_paths] == expected
        assert [records.load(p).moves for p in ki2_paths] == expected
        assert [[cshogi.move_to_usi(m) for m in cshogi.KIF.Parser.parse_file(p).moves] for p in kif_paths] == expected

        rows = [
            ("CSA load_all", timed(lambda: records.load_all(csa_path), args.reps),
             timed(lambda: replay(cshogi.CSA.Parser.parse_file(csa_path)), args.reps), 3.0),
            ("KIF load", timed(lambda: [records.load(p) for p in kif_paths], args.reps),
             timed(lambda: replay([cshogi.KIF.Parser.parse_file(p) for p in kif_paths]), args.reps), 10.0),
        ]
        ki2 = timed(lambda: [records.load(p) for p in ki2_paths], args.reps)
        rows.append(("KI2 load", ki2, rows[1][2], 10.0))
    print(f"python {platform.python_version()} on {platform.machine()}; cshogi {importlib.metadata.version('cshogi')}; "
          f"load average {os.getloadavg()[0]:.2f}")
    print(f"{len(games)} games, {plies} plies; medians of {args.reps} runs, processor time\n")
    print(f"{'reading':<14}{'velkorant':>14}{'cshogi':>14}{'ratio':>9}{'target':>8}  met")
    for name, ours, theirs, target in rows:
        ratio = theirs / ours
        print(f"{name:<14}{ours / plies * 1e6:>11.3f} us{theirs / plies * 1e6:>11.3f} us{ratio:>8.2f}x"
              f"{target:>7.0f}x  {'yes' if ratio >= target else 'NO'}")
    print("\nus: microseconds per ply, parse and replay; KI2's cshogi column is cshogi's KIF reader")


if __name__ == "__main__":
    sys.exit(main())
