"""Play one seeded random game from the initial position.

Each side in turn picks a random move from `search_moves` until a king is captured or the move
limit is reached; the moves and the final board are printed.

    python examples/random_game.py [--seed N] [--max-moves N]
"""
import argparse
import random

from velkorant import Board, ColorType


def play(seed: int, max_moves: int) -> None:
    rng = random.Random(seed)
    board = Board()
    board.startpos()
    sides = (ColorType.Black, ColorType.White)
    played = []
    for ply in range(max_moves):
        moves = board.search_moves(sides[ply % 2])
        if not moves:
            break
        move = rng.choice(moves)
        board.execute_move(move)
        played.append(repr(move)[len("velkorant.Move("):-1])
        if board.is_finished()[0]:
            break

    finished, winner = board.is_finished()
    for number in range(0, len(played), 2):
        print(f"{number // 2 + 1:3}. " + "  ".join(played[number:number + 2]))
    print(board)
    if finished:
        print("winner:", "Black" if winner == ColorType.Black else "White", f"after {len(played)} moves")
    else:
        print(f"no king captured after {len(played)} moves")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--max-moves", type=int, default=512)
    args = parser.parse_args()
    play(args.seed, args.max_moves)
