"""Converting a CSA corpus to hcpe: velkorant convert (-j 1 and -j 2) against a single-process
Python pipeline over cshogi (its CSA parser, Board.push, to_hcp, move16), side by side.

The corpus is floodgate-like (tests/support/corpus.py): seeded random legal games with times,
evaluation comments, ratings and floodgate's summary line, many games to a file. Before timing,
the run checks that both give the same rows, byte for byte. Each timed run writes a fresh file:
the previous run's output is deleted before the clock starts (freeing tens of megabytes of file
is the file system's work, serial, and would otherwise be timed in every converter).

    python benchmarks/convert.py                 # 4000 games in files of 100, 3 repetitions
    python benchmarks/convert.py --games 1000 --repeat 1
"""

from __future__ import annotations

import argparse
import importlib.metadata
import os
import platform
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))


from support.corpus import cshogi_hcpe, write_corpus  # noqa: E402
from velkorant import convert  # noqa: E402


def cshogi_convert(paths: list[str], output: str) -> int:
    rows = cshogi_hcpe(paths)
    rows.tofile(output)
    return len(rows)


def velkorant_convert(paths: list[str], output: str, jobs: int) -> int:
    return convert.convert(paths, output, jobs=jobs, progress=False, report=False).positions


def main() -> None:
    args = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    args.add_argument("--games", type=int, default=4000)
    args.add_argument("--per-file", type=int, default=100)
    args.add_argument("--repeat", type=int, default=3)
    options = args.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        start = time.perf_counter()
        paths = write_corpus(os.path.join(folder, "corpus"), options.games, options.per_file, seed=7)
        size = sum(os.path.getsize(p) for p in paths)
        print(f"python {platform.python_version()} on {platform.machine()}; cshogi {importlib.metadata.version('cshogi')}")
        print(f"corpus: {options.games} games in {len(paths)} files, {size / 1e6:.1f} MB (made in {time.perf_counter() - start:.1f} s)")
        out = {name: os.path.join(folder, f"{name}.hcpe") for name in ("cshogi", "j1", "j2")}
        # Checked, untimed: the same rows.
        count = cshogi_convert(paths, out["cshogi"])
        velkorant_convert(paths, out["j1"], 1)
        velkorant_convert(paths, out["j2"], 2)
        reference = open(out["cshogi"], "rb").read()
        for name in ("j1", "j2"):
            if open(out[name], "rb").read() != reference:
                sys.exit(f"velkorant {name} rows differ from cshogi's")
        print(f"checked: {count} rows, velkorant -j 1 and -j 2 byte for byte equal to the cshogi pipeline's")
        runs: dict[str, list[float]] = {"cshogi": [], "j1": [], "j2": []}
        for _ in range(options.repeat):
            for name in runs:
                os.remove(out[name])
                start = time.perf_counter()
                if name == "cshogi":
                    cshogi_convert(paths, out[name])
                else:
                    velkorant_convert(paths, out[name], int(name[1]))
                runs[name].append(time.perf_counter() - start)
        print(f"\nwall time, median of {options.repeat}; rows = positions written")
        print(f"{'converter':28} {'seconds':>8} {'rows/s':>12} {'vs cshogi':>10}")
        base = statistics.median(runs["cshogi"])
        labels = {"cshogi": "cshogi pipeline (1 process)", "j1": "velkorant convert -j 1", "j2": "velkorant convert -j 2"}
        for name, times in runs.items():
            t = statistics.median(times)
            print(f"{labels[name]:28} {t:8.3f} {count / t:12,.0f} {base / t:9.2f}x")
        j1, j2 = statistics.median(runs["j1"]), statistics.median(runs["j2"])
        print(f"\n-j 2 / -j 1 speed-up: {j1 / j2:.2f}x (os.cpu_count() = {os.cpu_count()}, load average {os.getloadavg()[0]:.2f})")
        print(f"targets: -j 1 at least 5x cshogi: {'met' if base / j1 >= 5 else 'NOT met'}; "
              f"-j 2 near 2x -j 1: {j1 / j2:.2f}x")


if __name__ == "__main__":
    main()
