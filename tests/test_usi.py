"""velkorant.usi against a stand-in engine (tests/support/fake_engine.py) with faults on cue:
the handshake and options, what go reads, and how play ends a game when an engine fails."""
import random
import time

import pytest

import velkorant
from velkorant import records, usi
from velkorant import ColorType

from support import fake_engine

BLACK, WHITE = ColorType.Black, ColorType.White
FAST = usi.Clock(byoyomi=200, margin=5000)


def fake(*args, timeout=5.0, **kwargs):
    return usi.Engine(fake_engine.command(*args), timeout=timeout, **kwargs)


def random_player(seed=1):
    rng = random.Random(seed)
    return lambda game: rng.choice(game.legal_moves()).usi()


def test_handshake_reads_the_options_and_applies_those_given():
    with fake(options={"Threads": 2, "Style": "Risky Play", "Ponder": True, "Book File": "a b.bin",
                       "Clear Hash": None}) as engine:
        assert (engine.name, engine.author) == ("fake", "velkorant tests")
        assert engine.options == {
            "Threads": usi.Option("Threads", "spin", "1", 1, 8),
            "Style": usi.Option("Style", "combo", "Normal", vars=("Solid", "Normal", "Risky Play")),
            "Ponder": usi.Option("Ponder", "check", "false"),
            "Book File": usi.Option("Book File", "string", ""),
            "Clear Hash": usi.Option("Clear Hash", "button"),
        }
        # The engine's error stream is read by a thread of its own, which may lag behind readyok.
        deadline = time.monotonic() + 5
        while len([line for line in engine.stderr if line.startswith("set ")]) < 5 and time.monotonic() < deadline:
            time.sleep(0.01)
        assert [line for line in engine.stderr if line.startswith("set ")] == [
            "set Threads value 2", "set Style value Risky Play", "set Ponder value true",
            "set Book File value a b.bin", "set Clear Hash"]


@pytest.mark.parametrize("options, words", [
    ({"Hash": 16}, "has no option 'Hash'"),
    ({"Threads": 9}, "1..8, not 9"),
    ({"Threads": "two"}, "an integer"),
    ({"Style": "Wild"}, "one of"),
    ({"Ponder": "yes"}, "true or false"),
])
def test_refused_options_raise(options, words):
    with pytest.raises(usi.EngineError, match=words) as raised:
        fake(options=options)
    assert raised.value.engine == "fake"


@pytest.mark.parametrize("said, expected", [
    ("info depth 5 seldepth 7 score mate -3 nodes 10 nps 20 time 30 pv 7g7f 3c3d",
     dict(depth=5, seldepth=7, score_cp=None, score_mate=-3, nodes=10, nps=20, time=30, pv=("7g7f", "3c3d"))),
    ("info depth 9 multipv 2 score cp 500 pv 2g2f", dict(depth=1, multipv=None)),
    ("info depth 9 multipv 1 score cp 500 pv 2g2f", dict(depth=9, multipv=1, score_cp=500, pv=("2g2f",))),
    ("info score mate + pv 7g7f", dict(score_mate=usi.MATE_UNKNOWN, score_cp=None, depth=1)),
    ("info string depth 99 pv none|info score cp 12 lowerbound nodes 5", dict(depth=1, score_cp=12, nodes=5)),
])
def test_go_keeps_the_last_word_of_each_info_field(said, expected):
    with fake("1:say:" + said.replace(" ", "_")) as engine:
        result = engine.go(velkorant.Game(), byoyomi=100)
    assert {key: getattr(result.info, key) for key in expected} == expected
    assert result.bestmove in {move.usi() for move in velkorant.Game().legal_moves()}
    assert result.elapsed >= 0 and result.lines[-1] == f"bestmove {result.bestmove}"


@pytest.mark.parametrize("clock, line", [
    (usi.Clock(byoyomi=200), "go btime 0 wtime 0 byoyomi 200"),
    (usi.Clock(time=1000, increment=100), "go btime 1000 wtime 1000 binc 100 winc 100"),
    (usi.Clock(time=3000, byoyomi=500), "go btime 3000 wtime 3000 byoyomi 500"),
])
def test_play_tells_the_engine_its_clock(clock, line):
    with fake() as engine:
        usi.play(engine, random_player(), clock=clock, max_plies=1)
        assert [text for text in engine.stderr if text.startswith("go")] == [line]


@pytest.mark.parametrize("text, clock", [
    ("byoyomi=1000", usi.Clock(byoyomi=1000)),
    ("10+0.1", usi.Clock(time=10000, increment=100)),
    ("time=60000, byoyomi=1000, margin=0", usi.Clock(time=60000, byoyomi=1000, margin=0)),
])
def test_clock_parse(text, clock):
    assert usi.Clock.parse(text) == clock


@pytest.mark.parametrize("text", ["", "byoyomi=x", "period=5", "byoyomi=-1", "0+0"])
def test_clock_parse_refuses(text):
    with pytest.raises(ValueError):
        usi.Clock.parse(text)


# (cues of the engine, its colour, the reason, whether it is at fault, whether it still runs,
#  words of the message)
FAULTS = [
    ("3:die", BLACK, "crash", True, False, "dying at move 3"),
    ("2:die", WHITE, "crash", True, False, "exit status 3"),
    ("3:hang", BLACK, "hang", True, False, "no 'bestmove' in time"),
    ("3:illegal", BLACK, "illegal_move", True, True, "plays 5i5g"),
    ("2:illegal", WHITE, "illegal_move", True, True, "plays 5a5c"),
    ("3:garbage", BLACK, "protocol", True, False, "not USI"),
    ("3:say:bestmove_9z9y", BLACK, "protocol", True, False, "not a USI move"),
    ("2:none", BLACK, "illegal_move", True, True, "has no move"),
    ("2:win", WHITE, "illegal_move", True, True, "declares a win"),
    ("2:resign", BLACK, "resign", False, True, ""),
    ("2:late:0.8", BLACK, "time_up", False, True, "took"),
]


@pytest.mark.parametrize("cues, colour, reason, at_fault, alive, words", FAULTS)
def test_faults_lose_the_game(cues, colour, reason, at_fault, alive, words):
    engine = fake(*cues.split(), timeout=1.0)
    other = random_player()
    players = (engine, other) if colour == BLACK else (other, engine)
    clock = usi.Clock(byoyomi=100, margin=200)
    try:
        record = usi.play(*players, clock=clock)
        result = record.result
        assert (result.reason, result.winner, result.fault, engine.alive) == (
            reason, BLACK if colour == WHITE else WHITE, colour if at_fault else None, alive)
        assert words in result.message
        # The record keeps the result and the moves before the fault, with the engine's words.
        again = records.loads(record.dumps("csa"))
        assert (again.moves, again.winner) == (record.moves, result.winner)
        assert len(record.moves) == result.plies
        assert again.ending == {"crash": "illegal_move", "protocol": "illegal_move", "hang": "time_up"}.get(
            reason, reason)
        if words:
            assert words in list(again.root.main_line())[-1].comment
        engine.restart()
        assert engine.alive and engine.go(velkorant.Game(), byoyomi=100).bestmove
    finally:
        engine.quit()


def test_slow_readyok():
    with pytest.raises(usi.EngineTimeout, match="readyok"):
        fake("--ready-delay", "2", timeout=0.3)
    with fake("--ready-delay", "0.6", timeout=5) as engine:
        engine.timeout = 0.2
        record = usi.play(random_player(), engine, clock=FAST)
        assert (record.result.reason, record.result.fault, record.result.plies) == ("hang", WHITE, 0)
        # White was silent before its turn: the record cannot say White's time ran out.
        again = records.loads(record.dumps("csa"))
        assert (again.ending, again.winner) == ("illegal_move", BLACK)


@pytest.mark.parametrize("verdict, reason, winner, ending", [
    ((None, "quiet"), "adjudication", None, "impasse"),
    ((WHITE, "lost"), "adjudication", WHITE, "resign"),
])
def test_adjudication(verdict, reason, winner, ending):
    seen = []

    def adjudicate(game, infos):
        seen.append(list(infos))
        return verdict if len(game.history) >= 4 else None

    with fake() as black:
        record = usi.play(black, random_player(), clock=FAST, adjudicate=adjudicate)
    assert (record.result.reason, record.result.winner, record.ending, record.result.plies) == (
        reason, winner, ending, 4)
    # The engine's infos are there, a function's moves have none.
    assert [info is None for info in seen[-1]] == [False, True, False, True]


def test_start_position_and_ply_limit():
    start = "startpos moves 7g7f 3c3d"
    with fake() as engine:
        record = usi.play(engine, engine, start=start, clock=FAST, max_plies=3)
    assert (record.result.reason, record.result.winner, record.ending) == ("max_plies", None, "max_moves")
    nodes = list(record.root.main_line())
    assert [node.move for node in nodes[:2]] == ["7g7f", "3c3d"] and len(nodes) == 5
    assert [node.time is None for node in nodes] == [True, True, False, False, False]
    assert nodes[2].comment.startswith("** ") and "depth 1" in nodes[2].comment
    assert record.headers == {"black": "fake", "white": "fake"}


def test_go_errors():
    with fake("1:hang", timeout=0.3) as engine:
        with pytest.raises(usi.EngineTimeout) as raised:
            engine.go(velkorant.Game(), byoyomi=10)
        assert not engine.alive and "go byoyomi" not in str(raised.value)
        with pytest.raises(usi.EngineError, match="not running"):
            engine.go(velkorant.Game(), byoyomi=10)
    with pytest.raises(usi.EngineError, match="cannot start"):
        usi.Engine(["/nonexistent/engine"])
