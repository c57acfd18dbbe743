"""Generate the benchmark data: synthetic game records and positions taken from them.

    python tools/make_data.py            # writes benchmarks/data/games.txt, positions.txt
    python tools/make_data.py --seed 7   # a different, equally deterministic set

There is no collection of real games available offline, so the games are made here by a
small seeded player built on cshogi's legal move generator (cshogi is a benchmark extra,
never a dependency of velkorant). What the player does, per move:

* opening: for the first plies it usually picks one of a short list of common opening moves
  (7g7f, 2g2f, 3c3d, 8c8d, 6i7h, ...), whichever of them is legal;
* otherwise a 2-ply material search: each legal move is scored by the material it wins
  (captured piece, promotion gain), minus most of the best material the opponent can win
  with one capture in reply, plus a mate bonus when the opponent has no legal reply, a
  small bonus for advancing towards the enemy camp, and Gaussian noise so play varies;
* occasionally (a few percent of moves) a move is chosen among the top few at random.

The result looks like weak but plausible play: exchanges, captures, pieces in hand, drops
and promotions. A game ends when the side to move has no legal move (mate) or at the move
limit. Nothing about it is strong or human; it only has to exercise the move generators on
realistic material and realistic positions. The same seed gives the same files.

Positions: from each game a few positions are taken at seeded random plies: one from the
opening, two from the middle game (preferring positions with pieces in hand) and two from the
last stretch of the game. Each is written as a full SFEN (placement, side to move, hand,
move number).
"""

from __future__ import annotations

import argparse
import os
import random
import sys

import cshogi

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(os.path.dirname(HERE), "benchmarks", "data")

# Material values indexed by cshogi piece type (1 pawn .. 8 king, 9..14 promoted).
VALUE = [0, 1, 3, 4, 5, 8, 10, 6, 1000, 6, 6, 6, 6, 10, 12]
PROMOTION_GAIN = {
    cshogi.PAWN: 5,
    cshogi.LANCE: 3,
    cshogi.KNIGHT: 2,
    cshogi.SILVER: 1,
    cshogi.BISHOP: 2,
    cshogi.ROOK: 2,
}
MATE_BONUS = 500.0

OPENING_MOVES = (
    "7g7f 2g2f 6g6f 5g5f 3c3d 8c8d 4c4d 5c5d 2f2e 8d8e 6i7h 4a3b 3i4h 7a6b "
    "7i6h 3a4b 3g3f 7c7d 4i5h 6a5b 1g1f 9c9d 9g9f 1c1d 2e2d 8e8f 8h7g 2b3c "
    "5i6h 5a4b 7g6f 3d3e 6h7g 4b3c 2h6h 8b4b 3i3h 7a7b"
).split()


def move_value(move: int) -> float:
    """Material won by a move: the captured piece plus the gain of promoting."""
    gain = VALUE[cshogi.move_cap(move)]
    if cshogi.move_is_promotion(move):
        gain += PROMOTION_GAIN.get(cshogi.move_from_piece_type(move), 0)
    return gain


def advance(board: cshogi.Board, move: int) -> float:
    """How far the destination lies towards the opponent's side (0 own back rank .. 8)."""
    rank = cshogi.move_to(move) % 9  # 0 = rank a (White's back rank)
    return 8 - rank if board.turn == cshogi.BLACK else rank


def choose(board: cshogi.Board, rng: random.Random, ply: int) -> int | None:
    legal = list(board.legal_moves)
    if not legal:
        return None
    if ply < 12 and rng.random() < 0.8:
        book = [m for m in legal if cshogi.move_to_usi(m) in OPENING_MOVES]
        if book:
            return rng.choice(book)
    scored = []
    for move in legal:
        score = move_value(move) + 0.04 * advance(board, move)
        board.push(move)
        replies = list(board.legal_moves)
        if not replies:
            score += MATE_BONUS
        else:
            score -= 0.85 * max(map(move_value, replies))
        board.pop()
        if cshogi.move_is_drop(move):
            score += 0.1
        scored.append((score + rng.gauss(0.0, 0.7), move))
    scored.sort(key=lambda item: -item[0])
    if scored[0][0] < MATE_BONUS / 2 and rng.random() < 0.04:
        return rng.choice(scored[:4])[1]
    return scored[0][1]


def play_game(rng: random.Random, max_plies: int) -> tuple[list[str], str]:
    board = cshogi.Board()
    moves: list[str] = []
    for ply in range(max_plies):
        move = choose(board, rng, ply)
        if move is None:
            return moves, "mate"
        moves.append(cshogi.move_to_usi(move))
        board.push(move)
    return moves, "limit"


def sfen_at(moves: list[str], ply: int) -> str:
    board = cshogi.Board()
    for usi in moves[:ply]:
        board.push_usi(usi)
    return board.sfen()


def has_hand(sfen: str) -> bool:
    return sfen.split()[2] != "-"


def pick_positions(moves: list[str], rng: random.Random) -> list[str]:
    n = len(moves)
    picks = [rng.randint(4, min(24, n - 1))]
    middle = list(range(min(40, n // 3), max(min(40, n // 3) + 1, int(n * 0.7))))
    with_hand = [p for p in middle if has_hand(sfen_at(moves, p))]
    pool = with_hand if len(with_hand) >= 2 else middle
    picks += rng.sample(pool, 2)
    late = list(range(max(int(n * 0.7), n - 30), n))
    picks += rng.sample(late, 2)
    return [sfen_at(moves, p) for p in sorted(set(picks))]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=20240601)
    parser.add_argument("--games", type=int, default=50)
    parser.add_argument("--max-plies", type=int, default=256)
    parser.add_argument("--out", default=DATA)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    games = []
    positions: list[str] = []
    seen = set()
    for i in range(args.games):
        moves, end = play_game(rng, args.max_plies)
        games.append((moves, end))
        for sfen in pick_positions(moves, rng):
            key = " ".join(sfen.split()[:3])
            if key not in seen:
                seen.add(key)
                positions.append(sfen)
        print(f"game {i + 1:2d}: {len(moves):3d} plies, {end}", file=sys.stderr)

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "games.txt"), "w") as f:
        f.write(
            "# Synthetic games from tools/make_data.py "
            f"(seed {args.seed}); one game per line, USI moves from the initial position.\n"
        )
        for moves, _ in games:
            f.write(" ".join(moves) + "\n")
    with open(os.path.join(args.out, "positions.txt"), "w") as f:
        f.write(
            "# Positions taken from games.txt by tools/make_data.py "
            f"(seed {args.seed}); one SFEN per line.\n"
        )
        for sfen in positions:
            f.write(sfen + "\n")

    mates = sum(end == "mate" for _, end in games)
    plies = sum(len(m) for m, _ in games)
    in_hand = sum(has_hand(s) for s in positions)
    print(
        f"{len(games)} games ({mates} mate, {len(games) - mates} move limit), {plies} plies; "
        f"{len(positions)} positions ({in_hand} with pieces in hand)",
        file=sys.stderr,
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
