"""A fixed workload for counting instructions, which unlike seconds do not depend on what else
the machine is doing: seeded random games from the initial position (generate, pick, execute,
is_finished), N games of at most 200 plies.

    valgrind --tool=callgrind --callgrind-out-file=cg.out python3.11 benchmarks/instructions.py 40
    valgrind --tool=callgrind --callgrind-out-file=cg0.out python3.11 benchmarks/instructions.py 0

The second run counts the interpreter's start-up alone; the difference of the two "totals"
lines of the output files is the workload's cost. Run the interpreter binary itself, not a
version-manager shim, or callgrind counts the shell. Two builds compare by pointing PYTHONPATH
at each.
"""
import random
import sys

from velkorant import Board, ColorType

SIDES = (ColorType.Black, ColorType.White)


def main(games: int) -> int:
    rng = random.Random(7)
    plies = 0
    for _ in range(games):
        board = Board()
        board.startpos()
        for ply in range(200):
            moves = board.search_moves(SIDES[ply % 2])
            board.execute_move(moves[rng.randrange(len(moves))])
            plies += 1
            if board.is_finished()[0]:
                break
    return plies


if __name__ == "__main__":
    print(main(int(sys.argv[1]) if len(sys.argv) > 1 else 40), "plies")
