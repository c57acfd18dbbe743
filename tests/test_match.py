"""velkorant match: a real match between two engines, stand-in engines that crash, hang or play
illegal moves, and the SPRT stop."""
import json
import shutil
import sys
from pathlib import Path

import pytest

pytest.importorskip("velkorant.usi")  # the engine client matches run on

from velkorant import match, records, stats  # noqa: E402

FAULTY = Path(__file__).parent / "support" / "faulty_usi.py"
FAIRY = shutil.which("fairy-stockfish") or shutil.which("/usr/games/fairy-stockfish")
GPS = shutil.which("gpsusi") or shutil.which("/usr/games/gpsusi")
BOOK = """# four openings, in each form a book may take
startpos
position startpos moves 7g7f 3c3d
lnsgkgsnl/1r5b1/ppppppppp/9/9/2P6/PP1PPPPPP/1B5R1/LNSGKGSNL w - 2
sfen lnsgkgsnl/1r5b1/ppppppppp/9/9/7P1/PPPPPPP1P/1B5R1/LNSGKGSNL w - 2 moves 8c8d
"""


def faulty(fault="", at=0, name=None):
    return match.EngineSpec(f"{sys.executable} {FAULTY} {fault} {at}", name or (fault or "plain"))


@pytest.mark.skipif(not (FAIRY and GPS), reason="fairy-stockfish and gpsusi are not installed")
def test_real_match_writes_records_both_readers_take(tmp_path, capsys):
    book = tmp_path / "book.txt"
    book.write_text(BOOK)
    out, summary = tmp_path / "games.csa", tmp_path / "summary.json"
    code = match.main(["--engine", f"cmd={FAIRY}", "name=fairy", "option.Threads=1", "--engine", f"cmd={GPS}",
                       "name=gps", "--games", "8", "--concurrency", "2", "--tc", "byoyomi=50,margin=3000",
                       "--book", str(book), "--max-plies", "16", "--records", str(out), "--json", str(summary)])
    assert code == 0
    printed = capsys.readouterr().out
    assert printed.count("\nGame ") + printed.startswith("Game ") == 8 and "Ptnml(0-2)" in printed
    games = records.load_all(out)
    numbers = json.loads(summary.read_text())
    assert len(games) == 8 and numbers["games"] == 8 and sum(numbers["pentanomial"]) == 4
    openings = [match.Game.from_usi(line) for line in match.load_book(str(book))]
    for i, game in enumerate(games):  # pairs from one opening, colours swapped
        names = ("fairy", "gps") if i % 2 == 0 else ("gps", "fairy")
        assert (game.headers["black"], game.headers["white"]) == names
        opening = openings[i // 2]
        assert game.game(len(opening.history)).sfen().split()[:3] == opening.sfen().split()[:3]
        timed = [node for node in game.root.main_line() if node.time is not None]
        assert timed and any(node.comment.startswith("** ") for node in timed)
    cshogi_csa = pytest.importorskip("cshogi.CSA")
    parsed = cshogi_csa.Parser.parse_file(str(out))
    assert [p.moves and len(p.moves) for p in parsed] == [len(g.moves) for g in games]
    assert [p.sfen.split()[:3] for p in parsed] == [g.start.split()[:3] for g in games]


@pytest.mark.parametrize("fault, ending", [("crash", "abort"), ("hang", "time_up"), ("illegal", "illegal_move")])
def test_faulty_engine_loses_is_restarted_and_counted(fault, ending):
    config = match.Match((faulty(), faulty(fault, 1)), match.TimeControl(byoyomi=50, margin=200), games=4,
                         concurrency=2)
    summary, games = match.run(config)
    assert [g.number for g in games] == [1, 2, 3, 4]
    assert all(g.winner == 0 and g.ending == ending for g in games)
    assert summary.faults == [{}, {fault: 4}] and summary.tally.pentanomial == [0, 0, 0, 0, 2]
    assert summary.as_dict()["faults"][fault] == {fault: 4}


def test_sprt_stops_the_match_once_decided(tmp_path):
    sprt = stats.Sprt(0, 50, 0.05, 0.05)
    config = match.Match((faulty(), faulty("resign")), match.TimeControl(byoyomi=50), games=200, sprt=sprt,
                         records=str(tmp_path / "games.kif"))
    summary, games = match.run(config)
    assert summary.decision == "H1" and summary.tally.pentanomial[4] == len(games) // 2 < 100
    assert sprt.llr(summary.tally.pentanomial) >= sprt.bounds[1] > sprt.llr([0, 0, 0, 0, len(games) // 2 - 1])
    written = sorted(tmp_path.glob("games-*.kif"))
    assert [records.load(path).moves for path in written] == [game.record.moves for game in games]


@pytest.mark.parametrize("argv, error", [
    (["--engine", "cmd=x"], "two engines"),
    (["--engine", "cmd=x", "--engine", "cmd=y", "--tc", "fast"], "time control"),
    (["--engine", "name=x", "--engine", "cmd=y"], "cmd="),
    (["--engine", "cmd=x", "--engine", "cmd=y", "--sprt", "elo0=5", "elo1=0"], "elo1"),
])
def test_bad_command_lines_are_refused(argv, error, capsys):
    assert match.main(argv) == 2 and error in capsys.readouterr().err
