"""Fixed workloads of the full rules for counting instructions, which unlike seconds do not
depend on what else the machine is doing.

    selfplay N   N seeded random legal games from the initial position, at most 200 plies
                 each: legal_moves(), pick, push, outcome()
    undo N       N rounds over the fixed positions: push and pop every legal move
    usi N        N rounds over the recorded games: push_usi every move from Game()

    valgrind --tool=callgrind --callgrind-out-file=cg.out python3.11 benchmarks/legal.py selfplay 20
    valgrind --tool=callgrind --callgrind-out-file=cg0.out python3.11 benchmarks/legal.py selfplay 0

The second run does the set-up alone; the difference of the two "totals" lines is the
workload's cost, and callgrind_annotate --inclusive=yes on both shows it call by call. Run
the interpreter binary itself, not a version-manager shim, or callgrind counts the shell.
"""
import os
import random
import sys

from velkorant import Game

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def lines(name: str) -> list[str]:
    with open(os.path.join(DATA, name)) as f:
        return [line.strip() for line in f if line.strip() and not line.startswith("#")]


def selfplay(rounds: int) -> int:
    rnd = random.Random(7).random
    plies = 0
    for _ in range(rounds):
        game = Game()
        legal, push, outcome = game.legal_moves, game.push, game.outcome
        for _ in range(200):
            moves = legal()
            push(moves[int(rnd() * len(moves))])
            plies += 1
            if outcome() is not None:
                break
    return plies


def undo(rounds: int) -> int:
    pairs = [(g.push, g.pop, g.legal_moves()) for g in map(Game, lines("positions.txt"))]
    for _ in range(rounds):
        for push, pop, moves in pairs:
            for move in moves:
                push(move)
                pop()
    return rounds * sum(len(moves) for _, _, moves in pairs)


def usi(rounds: int) -> int:
    games = [line.split() for line in lines("games.txt")]
    for _ in range(rounds):
        for moves in games:
            push = Game().push_usi
            for text in moves:
                push(text)
    return rounds * sum(map(len, games))


if __name__ == "__main__":
    work = {"selfplay": selfplay, "undo": undo, "usi": usi}
    if len(sys.argv) != 3 or sys.argv[1] not in work:
        sys.exit("usage: legal.py selfplay|undo|usi ROUNDS")
    print(work[sys.argv[1]](int(sys.argv[2])), "plies" if sys.argv[1] != "undo" else "pairs")
