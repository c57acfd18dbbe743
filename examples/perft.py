"""Pseudo-legal perft from the initial position, from Python.

Every generated move is played on a copy of the board (``copy.copy`` then ``execute_move``),
the colours alternating from Black; the moves generated at the last ply are counted without
being played. There is no game-end test: play goes on after a king is taken. The counts are
those of the native ``benchmarks/perft.cpp``; the speed is what a Python search loop gets.
"nodes/s" counts the leaf moves (listed, not played); "positions/s" counts the positions that
were searched, each one a copy, an ``execute_move`` and a ``search_moves`` call.

    python examples/perft.py [max_depth]      (default 4)
"""
from __future__ import annotations

import copy
import sys
import time

from velkorant import Board, ColorType

SIDES = (ColorType.Black, ColorType.White)


def perft(board: Board, side: int, depth: int) -> int:
    """The number of move sequences of length ``depth`` for ``SIDES[side]`` to move first."""
    moves = board.search_moves(SIDES[side])
    if depth == 1:
        return len(moves)
    nodes = 0
    for move in moves:
        child = copy.copy(board)
        child.execute_move(move)
        nodes += perft(child, 1 - side, depth - 1)
    return nodes


def main(max_depth: int) -> None:
    board = Board()
    board.startpos()
    positions = 1  # positions searched by perft(depth): 1 + the counts of the smaller depths
    print("depth      nodes          ms      nodes/s  positions/s")
    for depth in range(1, max_depth + 1):
        start = time.perf_counter()
        nodes = perft(board, 0, depth)
        seconds = time.perf_counter() - start
        print(f"{depth:5} {nodes:>10} {seconds * 1e3:11.3f} {nodes / seconds:>12,.0f} {positions / seconds:>12,.0f}")
        positions += nodes


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 4)
