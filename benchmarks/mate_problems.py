"""Published mating problems (benchmarks/data/tsume.tsv) solved by velkorant and cshogi's DfPn.

    OPENBLAS_NUM_THREADS=1 PYTHONPATH=build-h python benchmarks/mate_problems.py [SECONDS] [NODES] [MAX_PLIES]

Each problem of at most MAX_PLIES published plies (default 100) is searched by velkorant within
SECONDS (default 10) and NODES (default 10 000 000) and by cshogi's DfPn within NODES, then by
velkorant with shortest=True. Prints one row a problem: the published length, velkorant's status,
line length, nodes and seconds, its shortest line's length, and cshogi's answer, line length and
seconds. Every velkorant line is replayed by cshogi's rules before it is counted.
"""
import os
import sys
import time

import cshogi

from velkorant import Game, mate

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "tsume.tsv")


def problems(max_plies: int) -> list[tuple[int, str, str]]:
    rows = []
    with open(DATA, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            plies, name, _source, sfen = line.rstrip("\n").split("\t")
            if int(plies) <= max_plies:
                rows.append((int(plies), name, sfen))
    return rows


def mates_by_cshogi(sfen: str, moves: tuple[str, ...]) -> bool:
    board = cshogi.Board(sfen)
    for i, usi in enumerate(moves):
        move = board.move_from_usi(usi)
        if not board.is_legal(move):
            return False
        board.push(move)
        if i % 2 == 0 and not board.is_check():
            return False
    return board.is_game_over() and board.is_check()


def main() -> None:
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0
    nodes = int(sys.argv[2]) if len(sys.argv) > 2 else 10_000_000
    max_plies = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    dfpn = cshogi.DfPn()
    dfpn.set_max_search_node(nodes)
    print(f"{'plies':>5} {'problem':32} {'ours':8} {'len':>4} {'nodes':>9} {'s':>7} {'short':>5} "
          f"{'cshogi':6} {'len':>4} {'s':>7}")
    solved = [0, 0]
    for plies, name, sfen in problems(max_plies):
        ours = mate.solve(Game(sfen), max_nodes=nodes, time_limit=seconds)
        if ours.status == "mate" and not mates_by_cshogi(sfen, ours.moves):
            raise SystemExit(f"{name}: a line cshogi does not accept: {' '.join(ours.moves)}")
        short = mate.solve(Game(sfen), max_nodes=nodes, time_limit=seconds, shortest=True)
        board = cshogi.Board(sfen)
        start = time.perf_counter()
        found = dfpn.search(board)
        their_seconds = time.perf_counter() - start
        pv = dfpn.get_pv(board) if found else []
        solved[0] += ours.status == "mate"
        solved[1] += bool(found)
        print(f"{plies:>5} {name[:32]:32} {ours.status:8} {len(ours.moves):>4} {ours.nodes:>9} {ours.seconds:>7.3f} "
              f"{len(short.moves) if short.status == 'mate' else short.status:>5} "
              f"{'mate' if found else '-':6} {len(pv):>4} {their_seconds:>7.3f}")
    print(f"solved: velkorant {solved[0]}, cshogi {solved[1]} of {len(problems(max_plies))}")


if __name__ == "__main__":
    main()
