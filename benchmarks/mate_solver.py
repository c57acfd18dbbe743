"""The mate solver beside cshogi's df-pn, side by side on the same positions and node limit.

    OPENBLAS_NUM_THREADS=1 PYTHONPATH=build-h python benchmarks/mate_solver.py [COUNT] [NODES]

COUNT mating-problem-like positions (tests/test_dfpn.py's generator, seed 7; default 300), each
searched by both with at most NODES nodes (default 100000). Prints how many each proves mate,
proves no mate (velkorant only: cshogi's answer does not tell "no mate" from "limit"), leaves
open, the nodes per second of each, and the positions where one finds a mate the other does not.
"""
import os
import sys
import time

import cshogi

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from test_dfpn import problems  # noqa: E402

from velkorant import Game, mate  # noqa: E402


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    nodes = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
    sfens = problems(7, count)
    dfpn = cshogi.DfPn()
    dfpn.set_max_search_node(nodes)
    ours = {"mate": 0, "no_mate": 0, "unknown": 0}
    theirs = 0
    our_nodes = our_seconds = their_nodes = their_seconds = 0.0
    only_ours, only_theirs = [], []
    for sfen in sfens:
        result = mate.solve(Game(sfen), max_nodes=nodes)
        ours[result.status] += 1
        our_nodes += result.nodes
        our_seconds += result.seconds
        board = cshogi.Board(sfen)
        start = time.perf_counter()
        found = dfpn.search(board)
        their_seconds += time.perf_counter() - start
        their_nodes += dfpn.searched_node
        theirs += found
        if found and result.status != "mate":
            only_theirs.append((sfen, result.status))
        if result.status == "mate" and not found:
            only_ours.append(sfen)
    print(f"{count} positions, at most {nodes} nodes each")
    print(f"{'solver':10} {'mate':>5} {'no_mate':>8} {'open':>5} {'nodes/s':>10} {'seconds':>8}")
    print(f"{'velkorant':10} {ours['mate']:5} {ours['no_mate']:8} {ours['unknown']:5} "
          f"{our_nodes / our_seconds:10.0f} {our_seconds:8.2f}")
    print(f"{'cshogi':10} {theirs:5} {'-':>8} {count - theirs:5} {their_nodes / their_seconds:10.0f} {their_seconds:8.2f}")
    print(f"velkorant/cshogi nodes per second: {our_nodes / our_seconds / (their_nodes / their_seconds):.2f}")
    for sfen, status in only_theirs:
        print("mate for cshogi only:", sfen, status)
    for sfen in only_ours:
        print("mate for velkorant only:", sfen)


if __name__ == "__main__":
    main()
