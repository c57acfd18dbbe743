"""velkorant.Game against real shogi engines: games, legal perft and the end-of-game verdict.

Short games between fairy-stockfish and gpsusi, and between each of them and a seeded random
player, are refereed by Game: every engine move must be accepted by push_usi. In every position
of those games velkorant's legal moves must be fairy-stockfish's (``go perft 1``) less the pawn
drops that mate, and a position velkorant calls lost (no legal move) must be one where the
engines have no move either. Legal perft to depth 2 and 3 is compared with fairy-stockfish on
positions from random legal games and on hand-made ones for checks, pins and mating pawn drops.

Each engine test is skipped when its engine is not installed
(``apt-get install -y fairy-stockfish gpsshogi``).
"""
import random
import sys

import pytest

import velkorant

from support import engines_usi

usi_match = engines_usi.load_usi_match()

pytestmark = [
    pytest.mark.skipif(usi_match is None, reason="examples/usi_match.py is not beside the tests"),
    pytest.mark.skipif(not hasattr(velkorant, "Game"), reason="velkorant has no Game"),
]

MS = 50  # engine time per move


def installed(name):
    setup = usi_match.engine_setup(name)
    if setup is None:
        pytest.skip(f"{name} is not installed (apt-get install -y fairy-stockfish gpsshogi)")
    return setup


@pytest.fixture(scope="module")
def fairy():
    """A fairy-stockfish process of its own, asked only for perft."""
    setup = installed("fairy-stockfish")
    with usi_match.Engine(setup.command, "fairy-stockfish perft", setup.options(MS)) as engine:
        yield engine


@pytest.fixture(scope="module")
def players():
    """Engine players started on first use, closed after the module's tests."""
    started = {}

    def player(name):
        if name not in started:
            installed(name)
            started[name] = usi_match.EnginePlayer.start(name, MS)
        return started[name]

    yield player
    for player_ in started.values():
        player_.close()


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
    """One game with every position checked; at a lost position each engine is asked to move."""
    result = usi_match.play_game(black, white, max_plies,
                                 on_position=lambda game: check_position(game, fairy))
    if result.reason in ("checkmate", "no_legal_moves"):
        final = velkorant.Game.from_usi(result.position)
        for engine in engines:
            assert engine.choose(final).kind in ("resign", "win", "none"), result.position
    replay = velkorant.Game.from_usi(result.position)
    assert (replay.usi(), len(replay.history)) == (result.position, result.plies)
    return result


def test_engine_against_engine(fairy, players):
    first, second = players("fairy-stockfish"), players("gpsusi")
    for number in (1, 2):
        black, white = (first, second) if number == 1 else (second, first)
        refereed_game(black, white, fairy, 16, (first, second))


@pytest.mark.parametrize("name, games", [("fairy-stockfish", 2), ("gpsusi", 1)])
def test_engine_against_random_player(fairy, players, name, games):
    engine, random_player = players(name), usi_match.RandomPlayer(seed=7)
    for number in range(games):
        colour = number % 2
        black, white = (engine, random_player) if colour == 0 else (random_player, engine)
        result = refereed_game(black, white, fairy, 256, (engine,))
        # Any engine mates a random mover long before the ply cap.
        assert (result.winner, result.reason != "max_plies") == (colour, True), result.position


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
def test_declaration_agrees_with_gpsusi(players, sfen):
    game = velkorant.Game(sfen)
    assert (players("gpsusi").choose(game).kind == "win") == game.can_declare()


# A stand-in engine that answers every "go" with the given line, or dies, or stays silent.
FAKE_ENGINE = """
import sys
answer = sys.argv[1]
for line in sys.stdin:
    word = line.split()[:1]
    if word == ["usi"]:
        print("id name fake", "usiok", sep="\\n", flush=True)
    elif word == ["isready"]:
        print("readyok", flush=True)
    elif word == ["go"]:
        if answer == "exit":
            sys.exit(3)
        if answer != "silent":
            print(answer, flush=True)
    elif word == ["quit"]:
        break
"""


@pytest.mark.parametrize("answer, error, words", [
    ("exit", "EngineError", "exited"),
    ("silent", "EngineError", "time-out"),
    ("bestmove 9z9y", "EngineError", "not a USI move"),
    ("bestmove", "EngineError", "without a move"),
    ("bestmove 5a5b", "MatchError", "illegal"),
    ("bestmove win", "MatchError", "declares a win"),
    ("bestmove (none)", "MatchError", "has no move"),
])
def test_engine_failures_stop_the_game(answer, error, words):
    engine = usi_match.Engine([sys.executable, "-c", FAKE_ENGINE, answer], "fake")
    engine.timeout = 0.5  # how long a silent engine is waited for after "go"
    player = usi_match.EnginePlayer(engine, usi_match.EngineSetup(engine.command), 10)
    try:
        with pytest.raises(getattr(usi_match, error)) as raised:
            usi_match.play_game(player, usi_match.RandomPlayer(seed=1), 8)
    finally:
        player.close()
    assert words in str(raised.value) and "fake" in str(raised.value)
    if error == "MatchError":
        assert f"position startpos\nsfen {velkorant.Game().sfen()}" in str(raised.value)


def test_resignation_ends_the_game():
    engine = usi_match.Engine([sys.executable, "-c", FAKE_ENGINE, "bestmove resign"], "fake")
    player = usi_match.EnginePlayer(engine, usi_match.EngineSetup(engine.command), 10)
    try:
        result = usi_match.play_game(usi_match.RandomPlayer(seed=1), player, 8)
    finally:
        player.close()
    assert (result.winner, result.reason, result.plies) == (usi_match.BLACK, "resign", 1)


def test_command_line_match(players, capsys):
    installed("fairy-stockfish")
    assert usi_match.main(["--engine", "fairy-stockfish", "--random", "--games", "1",
                           "--byoyomi", str(MS)]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0].startswith("game 1: fairy-stockfish (black) vs random (white): ")
    assert velkorant.Game.from_usi(lines[1].split(maxsplit=1)[1]).outcome() is not None
    assert lines[3].split() == ["player", "games", "wins", "losses", "draws"]
