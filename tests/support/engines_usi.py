"""Real USI engines as oracles of the full rules: fairy-stockfish's perft and mating pawn drops.

fairy-stockfish's ``go perft N`` prints one line per legal first move, "7g7f: 1" (the number of
sequences of N moves that start with it), then a blank line and "Nodes searched: TOTAL". Its
move generator has no mating-pawn-drop rule: a pawn drop that mates is one of its moves (with
no replies below it). velkorant refuses those drops, so the two agree when fairy's first moves
are velkorant's plus the mating pawn drops, and its totals are velkorant's plus one for each
mating pawn drop at the last ply. Each such drop is shown to mate by python-shogi, which plays
it and finds the side to move checkmated.
"""
from __future__ import annotations

import re
from typing import Optional

PERFT_LINE = re.compile(r"(\S+): (\d+)")


def fairy_perft(engine, sfen: str, depth: int) -> dict[str, int]:
    """fairy-stockfish's perft of ``depth`` from ``sfen``: {first move: sequences below it}."""
    engine.send(f"position sfen {sfen}")
    engine.send(f"go perft {depth}")
    lines = engine.read_until("Nodes", strict=False)
    counts = {}
    for line in lines[:-1]:
        match = PERFT_LINE.fullmatch(line.strip())
        if match:
            counts[match[1]] = int(match[2])
        elif line.strip():
            raise AssertionError(f"unexpected perft line {line!r} for {sfen}")
    total = int(lines[-1].split(":")[1])
    assert sum(counts.values()) == total, (sfen, lines[-1])
    return counts


def _squares(placement: str) -> dict[tuple[int, int], str]:
    """{(file, rank): piece} of an SFEN placement; files 1..9, ranks 1..9 for a..i."""
    squares = {}
    for rank, row in enumerate(placement.split("/"), start=1):
        file = 9
        for token in re.findall(r"\+?[A-Za-z]|\d", row):
            if token.isdigit():
                file -= int(token)
            else:
                squares[(file, rank)] = token
                file -= 1
    return squares


def checking_pawn_drop(sfen: str) -> Optional[str]:
    """The pawn drop that would give check, if the side to move has one the drop rules allow.

    A pawn checks from the square in front of the enemy king; the drop needs a pawn in hand, an
    empty square and no unpromoted pawn of the mover on that file.
    """
    placement, side, hand = sfen.split()[:3]
    black = side == "b"
    pawn, king = ("P", "k") if black else ("p", "K")
    if not re.search(r"\d*" + pawn, hand):
        return None
    squares = _squares(placement)
    kings = [square for square, piece in squares.items() if piece == king]
    if len(kings) != 1:
        return None
    file, rank = kings[0]
    rank += 1 if black else -1
    if not 1 <= rank <= 9 or (file, rank) in squares:
        return None
    if any(piece == pawn and f == file for (f, _), piece in squares.items()):
        return None
    return f"P*{file}{'abcdefghi'[rank - 1]}"


def drop_mates(sfen: str, usi: str) -> tuple[bool, bool]:
    """python-shogi's view of a pawn drop: (legal but for the mating rule, mates)."""
    import shogi

    board = shogi.Board(sfen)
    move = shogi.Move.from_usi(usi)
    if not board.is_pseudo_legal(move):
        return False, False
    board.push(move)
    if board.was_suicide():
        return False, False
    return True, board.is_checkmate()


def mating_pawn_drops(game) -> list[str]:
    """The pawn drops velkorant refuses in ``game`` that are legal but for mating.

    Raises AssertionError when velkorant refuses a checking pawn drop that does not mate.
    """
    sfen = game.sfen()
    drop = checking_pawn_drop(sfen)
    if drop is None:
        return []
    try:
        game.push_usi(drop)
    except ValueError:
        legal, mates = drop_mates(sfen, drop)
        assert mates or not legal, f"velkorant refuses {drop} in {sfen}, which does not mate"
        return [drop] if legal else []
    game.pop()
    return []


def leaf_mating_drops(game, depth: int) -> int:
    """The number of mating pawn drops at ply ``depth`` below ``game`` (velkorant's tree)."""
    if depth == 1:
        return len(mating_pawn_drops(game))
    count = 0
    for move in game.legal_moves():
        game.push(move)
        count += leaf_mating_drops(game, depth - 1)
        game.pop()
    return count
