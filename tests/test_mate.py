"""Checks and mate in one against the rules played out move by move, and against cshogi."""

import random
import re

import pytest

from velkorant import Game


def reference(game):
    """(checks, first mate) found by playing every legal move: a check leaves the opponent in
    check, a mate also leaves it without a legal move."""
    checks, mate = [], None
    for move in game.legal_moves():
        game.push(move)
        if game.is_check():
            checks.append(move.usi())
            if mate is None and not game.legal_moves():
                mate = move.usi()
        game.pop()
    return checks, mate


def without_king(sfen, letter):
    """The SFEN with the king `letter` ("K" Black, "k" White) taken off the board."""
    board, rest = sfen.split(" ", 1)
    board = re.sub(r"\d", lambda m: "1" * int(m.group()), board).replace(letter, "1")
    return re.sub(r"1+", lambda m: str(len(m.group())), board) + " " + rest


def random_positions(seed, games=40, plies=160):
    """SFENs along seeded random legal games that play a check when one is there, half the time."""
    rng = random.Random(seed)
    for _ in range(games):
        game = Game()
        for _ in range(plies):
            moves = game.legal_moves()
            if not moves:
                break
            yield game.sfen()
            checks, _ = reference(game)
            usi = rng.choice(checks) if checks and rng.random() < 0.5 else rng.choice(moves).usi()
            game.push_usi(usi)


POSITIONS = list(random_positions(20))


def valid(sfen):
    try:
        Game(sfen)
    except ValueError:  # taking the king off opened a line onto the defender's king
        return False
    return True


# Mating problems: the attacker (the side to move) without its king.
PROBLEMS = [p for p in (without_king(s, "K" if " b " in s else "k") for s in POSITIONS) if valid(p)]


def turned(sfen):
    """The position turned around, the colours swapped: White to move where Black was."""
    board, turn, hand, ply = sfen.split(" ")
    rows = [re.findall(r"\+?[A-Za-z]|\d", row)[::-1] for row in board.split("/")[::-1]]
    return " ".join(["/".join("".join(cell.swapcase() for cell in row) for row in rows),
                     "w" if turn == "b" else "b", hand.swapcase(), ply])


def near_mates():
    """Mating-problem-like positions (the attacker's pieces near the defending king, many in
    hand), Black's and the same turned around for White."""
    from test_dfpn import problems
    sfens = problems(11, 1000)
    return sfens + [t for t in map(turned, sfens) if valid(t)]


@pytest.mark.parametrize(
    "sfens, least_in_check, least_mates",
    [(POSITIONS, 500, 50), (PROBLEMS, 0, 50), (near_mates(), 0, 50)],
    ids=["games", "no attacking king", "near mates"],
)
def test_check_moves_and_mate_in_one_agree_with_the_rules(sfens, least_in_check, least_mates):
    in_check = mates = 0
    for sfen in sfens:
        game = Game(sfen)
        checks, mate = reference(game)
        assert [m.usi() for m in game.check_moves()] == checks, sfen
        found = game.mate_in_one()
        assert (found and found.usi()) == mate, sfen
        in_check += game.is_check()
        mates += mate is not None
    # The sample reaches the cases under test.
    assert in_check >= least_in_check and mates >= least_mates


def test_mate_in_one_agrees_with_cshogi():
    """cshogi answers only out of check. Any mate it finds must be one, and ours finds one
    there too; where only ours finds one, the rules played out decide. (cshogi misses mates by
    discovered check, e.g. a knight uncovering a lance.)"""
    cshogi = pytest.importorskip("cshogi")
    missed = []
    for sfen in POSITIONS:
        game = Game(sfen)
        if game.is_check():
            continue
        board = cshogi.Board(sfen)
        theirs = board.mate_move_in_1ply()
        ours = game.mate_in_one()
        if theirs:
            game.push_usi(cshogi.move_to_usi(theirs))
            assert game.is_check() and not game.legal_moves(), sfen
            game.pop()
            assert ours is not None, sfen
        elif ours is not None:
            assert reference(game)[1] == ours.usi(), sfen
            missed.append(sfen)
    print(f"cshogi missed {len(missed)} mates: {missed}")


@pytest.mark.parametrize(
    "sfen",
    [
        # In check from a bishop and a knight: only the king moves, and checks by uncovering the rook.
        "4k3b/9/5n3/9/4K4/9/9/9/4R4 b - 1",
        # In check from a bishop: the rook checks as it comes between.
        "3k5/9/9/9/4b4/R8/9/9/K8 b - 1",
        # The pinned rook checks by taking the pinning one, staying on its line.
        "4k4/4r4/9/9/9/4R4/9/9/4K4 b - 1",
        # The silver uncovers the lance while the gold checks directly: both in their order.
        "4k4/9/3G5/9/4S4/9/9/9/K3L4 b - 1",
        # A dragon slides to check; a horse steps onto a line of its own to check.
        "4k4/9/9/9/9/1+R7/9/9/K8 b - 1",
        "2k6/9/5+B3/9/9/9/9/9/K8 b - 1",
        "k8/l1rs3g1/p2+B1gspl/2G3p2/1pP2PPNP/s2PpG3/PPB1P1+nPL/R8/LN3KSN1 b 4P 89",
    ],
)
def test_check_moves_by_way_of_checking(sfen):
    for position in (sfen, turned(sfen)):
        game = Game(position)
        assert [m.usi() for m in game.check_moves()] == reference(game)[0], position


@pytest.mark.parametrize(
    "sfen, mates",
    [
        # P*1b would mate (the gold on 1c guards it): an illegal drop, so no mate at all.
        ("7nk/9/8G/9/9/9/9/9/4K4 b P 1", set()),
        # The same with a gold in hand: G*1b and G*2b both mate.
        ("7nk/9/8G/9/9/9/9/9/4K4 b G 1", {"G*1b", "G*2b"}),
        # No attacking king: the gold drop protected by the pawn mates.
        ("4k4/9/4P4/9/9/9/9/9/9 b G 1", {"G*5b"}),
        # In check from the rook, G*5b would mate but leaves the own king attacked.
        ("4k4/9/4P4/9/4r4/9/9/9/4K4 b G 1", set()),
        # The defender has no king: nothing checks, nothing mates.
        ("9/9/9/9/9/9/9/9/4K4 b G 1", set()),
        # The silver on 5e uncovers the lance on 5i: discovered checks, one of them mate-less.
        ("4k4/9/9/9/4S4/9/9/9/K3L4 b - 1", set()),
    ],
)
def test_corners(sfen, mates):
    game = Game(sfen)
    checks, mate = reference(game)
    assert [m.usi() for m in game.check_moves()] == checks
    found = game.mate_in_one()
    assert (found and found.usi()) == mate
    assert (mate in mates) if mates else mate is None
    if "S" in sfen:
        assert {c[:2] for c in checks} == {"5e"} and len(checks) >= 4


@pytest.mark.parametrize(
    "sfen, mate",
    [
        # A gold dropped next to a king in a corner of the far side, guarded by a pawn; and
        # without the pawn, where the king takes the gold.
        ("8k/9/8P/9/9/9/9/9/4K4 b G 1", "G*1b"),
        ("k8/9/P8/9/9/9/9/9/4K4 b G 1", "G*9b"),
        ("k8/9/1P7/9/9/9/9/9/4K4 b G 1", "G*8b"),
        ("k8/9/9/9/9/9/9/9/4K4 b G 1", None),
        # The knight uncovers the lance and checks as well: mate. With a silver on the file
        # too, the lance stays covered and the knight's check alone leaves 5b free.
        ("3gkg3/3s1s3/9/9/4N4/9/9/9/K3L4 b - 1", "5e6c"),
        ("3gkg3/3s1s3/9/9/4N4/9/9/4S4/K3L4 b - 1", None),
    ],
)
def test_mates_by_the_edge_and_behind_own_pieces(sfen, mate):
    found = Game(sfen).mate_in_one()
    assert (found and found.usi()) == mate
    for position in (sfen, turned(sfen)):  # White's the same, turned around
        game = Game(position)
        found = game.mate_in_one()
        assert (found and found.usi()) == reference(game)[1], position
