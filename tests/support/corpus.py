"""Floodgate-like CSA records of seeded random legal games, for the converter's tests and its
benchmark: players' names and ratings, a time and an evaluation comment ("'** <score> <move>")
after most moves, the ending word and floodgate's summary line, several games to a file."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING
import random

from velkorant import ColorType, Game, records

if TYPE_CHECKING:
    import numpy as np

_ENDINGS = [("resign", "toryo"), ("repetition", "sennichite"), ("abort", "abnormal"), ("declaration", "kachi")]


def game_text(rng: random.Random, number: int) -> str:
    """One record: a random legal game of 20 to 160 moves from the initial position."""
    game = Game()
    for _ in range(rng.randint(20, 160)):
        moves = game.legal_moves()
        if not moves:
            break
        game.push(rng.choice(moves))
    ending, summary = _ENDINGS[0] if game.outcome() is not None or rng.random() < 0.7 else rng.choice(_ENDINGS)
    record = records.Record.from_game(game, {"EVENT": f"floodgate-like-{number}"}, ending=ending)
    black, white = f"player{rng.randint(1, 40)}", f"player{rng.randint(41, 80)}"
    record.headers.update(black=black, white=white)
    for node in record.root.main_line():
        node.time = float(rng.randint(0, 30))
        roll = rng.random()
        if roll < 0.85:
            score = rng.randint(-3000, 3000) if roll > 0.02 else rng.choice([-99999, 99999])
            node.comment = f"** {score} {node.move}"
    text = record.dumps("csa")
    loser_black = game.turn == ColorType.Black
    head, body = text.split("\nP", 1)
    rates = f"'black_rate:{black}:{rng.randint(1500, 3500)}.0\n'white_rate:{white}:{rng.randint(1500, 3500)}.0\n"
    result = ("draw", "draw") if ending in ("repetition", "abort") else (("lose", "win") if loser_black else ("win", "lose"))
    if ending == "declaration":  # the side to move declares and wins
        result = ("win", "lose") if loser_black else ("lose", "win")
    return f"{head}\n{rates}P{body}'summary:{summary}:{black} {result[0]}:{white} {result[1]}\n"


def write_corpus(folder: str, games: int, per_file: int, seed: int = 1) -> list[str]:
    """`games` records in files of `per_file` games each (CSA's "/" between games); the paths."""
    rng = random.Random(seed)
    os.makedirs(folder, exist_ok=True)
    paths = []
    for first in range(0, games, per_file):
        path = os.path.join(folder, f"games{first // per_file:05d}.csa")
        texts = [game_text(rng, n) for n in range(first, min(first + per_file, games))]
        with open(path, "w", encoding="utf-8") as out:
            out.write("/\n".join(texts))
        paths.append(path)
    return paths


def cshogi_game_hcpe(kif: object) -> "np.ndarray":
    """The hcpe rows of one game cshogi's CSA parser read, as a Python pipeline over cshogi makes
    them (``Board.push``, ``to_hcp``, ``move16``; the evaluation for the side to move, clamped)."""
    import cshogi
    import numpy as np

    board = cshogi.Board(kif.sfen)
    rows = np.zeros(len(kif.moves), cshogi.HuffmanCodedPosAndEval)
    for row, move, score in zip(rows, kif.moves, kif.scores):
        board.to_hcp(row["hcp"])
        score = min(32767, max(score, -32767))
        row["eval"] = score if board.turn == cshogi.BLACK else -score
        row["bestMove16"] = cshogi.move16(move)
        row["gameResult"] = kif.win
        board.push(move)
    return rows


def cshogi_hcpe(paths: list[str]) -> "np.ndarray":
    """The hcpe rows of CSA files, every game's as ``cshogi_game_hcpe`` makes them."""
    import cshogi
    import cshogi.CSA
    import numpy as np

    parts = [cshogi_game_hcpe(kif) for path in paths for kif in cshogi.CSA.Parser.parse_file(path)]
    return np.concatenate(parts) if parts else np.zeros(0, cshogi.HuffmanCodedPosAndEval)
