"""velkorant.usi against real shogi engines, and velkorant.Game refereeing them.

Short games between fairy-stockfish and gpsusi, and between each of them and a seeded random
player, are played by ``usi.play``: no engine may be found at fault (every move accepted by
push_usi, no refused declaration, no "no move" while velkorant lists some). In every position
of those games velkorant's legal moves must be fairy-stockfish's (``go perft 1``) less the pawn
drops that mate, and a position velkorant calls lost (no legal move) must be one where the
engines have no move either. The records are read back by velkorant and by cshogi. Legal perft
to depth 2 and 3 is compared with fairy-stockfish on positions from random legal games and on
hand-made ones for checks, pins and mating pawn drops.

Each engine test is skipped when its engine is not installed
(``apt-get install -y fairy-stockfish gpsshogi``).
"""
import importlib.util
import random
import shutil
from pathlib import Path

import pytest

import velkorant
from velkorant import records, usi

from support import engines_usi

MS = 50  # engine time per move
# gpsusi searches to a fixed depth whatever its time: a wide margin keeps its games off the clock.
CLOCK = usi.Clock(byoyomi=MS, margin=5000)
ENGINES = {"fairy-stockfish": ("/usr/games/fairy-stockfish", {"Threads": 1}),
           "gpsusi": ("/usr/games/gpsusi", {"Thread": 1})}


def start(name, **kwargs):
    command, options = ENGINES[name]
    if shutil.which(command) is None:
        pytest.skip(f"{name} is not installed (apt-get install -y fairy-stockfish gpsshogi)")
    return usi.Engine(command, options=options, name=name, **kwargs)


@pytest.fixture(scope="module")
def fairy():
    """A fairy-stockfish process of its own, asked only for perft."""
    with start("fairy-stockfish", timeout=60) as engine:
        yield engine


@pytest.fixture(scope="module")
def engines():
    """Engines started on first use, ended after the module's tests."""
    started = {}

    def engine(name):
        if name not in started:
            started[name] = start(name)
        return started[name]

    yield engine
    for engine_ in started.values():
        engine_.quit()


def check_position(game, fairy):
    """velkorant's moves and verdict in ``game`` against fairy-stockfish and python-shogi."""
    shogi = pytest.importorskip("shogi")
    sfen = game.sfen()
    theirs = set(engines_usi.fairy_perft(fairy, sfen, 1))
    ours = {move.usi() for move in game.legal_moves()}
    mating = set(engines_usi.mating_pawn_drops(game))
    assert (ours | mating, ours & mating) == (theirs, set()), sfen
    assert game.is_check() == shogi.Board(sfen).is_check(), sfen
    outcome = game.outcome()
    if not ours:
        mover = int(game.turn)
        assert outcome is not None, sfen
        assert (int(outcome[0]), outcome[1]) == (
            1 - mover, "checkmate" if game.is_check() else "no_legal_moves"), sfen
    elif outcome is not None:
        assert outcome[1] in ("repetition", "perpetual_check"), sfen


def refereed_game(black, white, fairy, max_plies, engines):
    """One game with every position checked, and its record read back by velkorant and cshogi;
    at a lost position each engine is asked to move."""
    record = usi.play(black, white, clock=CLOCK, max_plies=max_plies)
    result = record.result
    assert (result.fault, result.message) == (None, ""), record.dumps("csa")
    final = record.game()
    game = velkorant.Game()
    for move in record.moves:
        check_position(game, fairy)
        game.push_usi(move)
    check_position(game, fairy)
    if result.reason in ("checkmate", "no_legal_moves"):
        for engine in engines:
            assert engine.go(final, byoyomi=MS).bestmove in ("resign", "win", "none"), final.usi()
    text = record.dumps("csa")
    again = records.loads(text)
    assert (again.moves, again.ending, again.winner, len(record.moves)) == (
        record.moves, record.ending, record.winner, result.plies)
    times = [node.time for node in again.root.main_line()]
    assert all(t is not None and t >= 0 for t in times), text
    cshogi_csa = pytest.importorskip("cshogi.CSA")
    theirs = cshogi_csa.Parser.parse_str(text)[0]
    import cshogi
    assert [cshogi.move_to_usi(m) for m in theirs.moves] == record.moves
    # Each engine move's evaluation, as Floodgate writes it: the score from Black's side.
    for node, comment in zip(again.root.main_line(), theirs.comments):
        if comment:
            assert node.comment.startswith("** " + comment), text
    return record


def test_engine_against_engine(fairy, engines):
    first, second = engines("fairy-stockfish"), engines("gpsusi")
    for black, white in ((first, second), (second, first)):
        record = refereed_game(black, white, fairy, 16, (first, second))
        assert record.headers["black"] == black.name
        assert sum(1 for node in record.root.main_line() if node.comment.startswith("** ")) >= 4


@pytest.mark.parametrize("name, games", [("fairy-stockfish", 2), ("gpsusi", 1)])
def test_engine_against_random_player(fairy, engines, name, games):
    engine, rng = engines(name), random.Random(7)

    def random_player(game):
        return rng.choice(game.legal_moves()).usi()

    for number in range(games):
        colour = number % 2
        black, white = (engine, random_player) if colour == 0 else (random_player, engine)
        record = refereed_game(black, white, fairy, 256, (engine,))
        # Any engine mates a random mover long before the ply cap.
        result = record.result
        assert (int(result.winner), result.reason != "max_plies") == (colour, True), record.moves


def random_positions(count, seed):
    """SFENs of positions in check and at plies 20, 45, 70, ... of seeded random legal games."""
    rng, found = random.Random(seed), []
    while len(found) < count:
        game = velkorant.Game()
        while game.outcome() is None and len(game.history) < 200 and len(found) < count:
            if len(game.history) % 25 == 20 or game.is_check():
                found.append(game.sfen())
            game.push(rng.choice(game.legal_moves()))
    return found


def compare_perft(fairy, sfen, depth):
    """fairy-stockfish's perft = velkorant's plus the mating pawn drops at the last ply."""
    theirs = engines_usi.fairy_perft(fairy, sfen, depth)
    game = velkorant.Game(sfen)
    drops = engines_usi.leaf_mating_drops(game, depth)
    assert (sum(theirs.values()), game.sfen()) == (game.perft(depth) + drops, sfen)


@pytest.mark.parametrize("depth, count, seed", [(2, 30, 1), (3, 6, 2)])
def test_perft_on_random_positions(fairy, depth, count, seed):
    pytest.importorskip("shogi")
    for sfen in random_positions(count, seed):
        compare_perft(fairy, sfen, depth)


# (SFEN, the pawn drops that would mate and velkorant refuses)
HAND_MADE = [
    # The gold that could take the pawn on 7b is pinned by the dragon on 5a.
    ("2kg+R4/+B2R5/2+P6/9/9/9/4K4/9/9 b P 33", {"P*7b"}),
    # The pawn on 9b is guarded by the gold; the knight covers 8a.
    ("k8/9/1GN6/9/9/9/9/9/4K4 b P 1", {"P*9b"}),
    # The same mate turned round, for White.
    ("4k4/9/9/9/9/9/6ng1/9/8K w p 1", {"P*1h"}),
    # A silver on 8a takes the pawn: the drop checks without mating and is legal.
    ("ks7/9/1GN6/9/9/9/9/9/4K4 b P 1", set()),
    # A lone pawn drop checks; the king takes it.
    ("4k4/9/9/9/9/9/9/9/4K4 b P 1", set()),
    # The gold on 5g is pinned by the rook on 5e: it moves along the file only.
    ("4k4/9/9/9/4r4/9/4G4/9/4K4 b - 1", set()),
    # Double check from rook and bishop: only the king moves, no drop interposes.
    ("4k4/9/9/9/4r4/9/2b6/9/4K4 b G 1", set()),
    # Check by a rook: blocks by drops and moves, and the king's own steps.
    ("4k4/9/9/9/4r4/9/9/9/3GK4 b SNLP 1", set()),
    # Pieces in hand that may not be dropped on the last ranks, and a pawn file already used.
    ("4k4/9/9/9/9/4P4/9/9/4K4 b NLP 1", set()),
]


@pytest.mark.parametrize("sfen, mating", HAND_MADE)
def test_perft_on_hand_made_positions(fairy, sfen, mating):
    pytest.importorskip("shogi")
    game = velkorant.Game(sfen)
    assert set(engines_usi.mating_pawn_drops(game)) == mating
    check_position(game, fairy)
    for depth in (2, 3):
        compare_perft(fairy, sfen, depth)


def test_mating_pawn_drop_by_a_pinned_capturer_is_refused(fairy):
    pytest.importorskip("shogi")
    sfen = HAND_MADE[0][0]
    game = velkorant.Game(sfen)
    with pytest.raises(ValueError):
        game.push_usi("P*7b")
    assert (game.sfen(), len(game.history)) == (velkorant.Game(sfen).sfen(), 0)
    assert "P*7b" in engines_usi.fairy_perft(fairy, sfen, 1)
    assert engines_usi.drop_mates(sfen, "P*7b") == (True, True)


# Positions at the edge of the 27-point declaration: gpsusi answers "bestmove win" exactly
# where the side to move may declare.
DECLARATIONS = [
    "RRBBGGGG1/SS2K4/9/9/9/9/9/9/4k4 b 2P 1",       # ten pieces in the zone, 28 points
    "RRBBGGGG1/SS2K4/9/9/9/9/9/9/4k4 b P 1",        # 27 points: one short for Black
    "RRBBGGGG1/SS2K4/5s3/9/9/9/9/9/4k4 b 2P 1",     # the king is in check
    "RRBBGGGG1/S3K4/9/9/9/9/9/9/4k4 b 3P 1",        # nine pieces in the zone
    "RRBBGGGG1/SS7/9/4K4/9/9/9/9/4k4 b 2P 1",       # the king is outside the zone
    "4K4/9/9/9/9/9/9/4k2ss/1ggggbbrr w p 1",        # White: 27 points are enough
    "4K4/9/9/9/9/9/9/4k2ss/1ggggbbrr w - 1",        # White: 26 points
]


@pytest.mark.parametrize("sfen", DECLARATIONS)
def test_declaration_agrees_with_gpsusi(engines, sfen):
    game = velkorant.Game(sfen)
    assert (engines("gpsusi").go(game, byoyomi=MS).bestmove == "win") == game.can_declare()


def test_a_declaration_ends_the_game(engines):
    gpsusi = engines("gpsusi")
    record = usi.play(gpsusi, gpsusi, start=DECLARATIONS[0], clock=CLOCK, max_plies=1)
    assert (record.result.reason, int(record.result.winner), record.result.plies) == ("declaration", 0, 0)
    again = records.loads(record.dumps("csa"))
    assert (again.ending, int(again.winner), again.start) == ("declaration", 0, DECLARATIONS[0])


def test_mate_search(engines):
    gpsusi = engines("gpsusi")
    mate = velkorant.Game("7nl/5+P1k1/6ppp/9/9/9/9/9/4K4 b GS 1")
    line = gpsusi.go_mate(mate, timeout=5)
    for move in line:
        mate.push_usi(move)
    assert mate.outcome() is not None and int(mate.outcome()[0]) == 0
    assert gpsusi.go_mate(velkorant.Game("4k4/9/9/9/9/9/9/9/4K4 b - 1"), timeout=1) is None


def test_example_match(engines, tmp_path, capsys):
    engines("fairy-stockfish")  # skips when it is not installed
    path = Path(__file__).resolve().parents[1] / "examples" / "usi_match.py"
    if not path.is_file():
        pytest.skip("examples/ is not beside the tests")
    spec = importlib.util.spec_from_file_location("usi_match", path)
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    out = tmp_path / "games.csa"
    assert example.main(["--engine", "fairy-stockfish", "--random", "--games", "2", "--byoyomi", str(MS),
                         "--records", str(out)]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].startswith("game 1: fairy-stockfish (black) vs random (white): fairy-stockfish wins by ")
    assert lines[-1] == "wins: fairy-stockfish 2; draws 0"
    assert [record.headers["black"] for record in records.load_all(out)] == ["fairy-stockfish", "random"]
