"""Game records: the sample files, every writer read back by every reader on random trees,
cshogi as an oracle on what it reads and writes, encodings, and hostile input."""
import io
import json
import math
import random
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from velkorant import ColorType, Game
from velkorant import records
from velkorant.records import Record, RecordError

DATA = Path(__file__).parent / "data" / "records"
# What each format holds: variations, comments, times (exact, or whole seconds).
HOLDS = {"csa": (False, True, "exact"), "kif": (True, True, "whole"), "ki2": (True, True, None),
         "jkf": (True, True, "whole"), "usi": (False, False, None)}
COMMENTS = ["", "", "good move", "悪手。\n次は▲２四歩", "** 120 -3334FU"]


def random_record(rng, variations=True):
    """A record of a random legal game from a random handicap or the initial position, with
    comments, whole-second times and (optionally) variations."""
    start = rng.choice([records.INITIAL, "lnsgkgsn1/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1",
                        "4k4/9/9/9/9/9/9/9/4K4 b 2R2B4G4S4N4L18P 1"])
    record = Record(start, {"black": "先手の人", "white": "gote", "棋戦": "test"})
    record.root.comment = rng.choice(COMMENTS)
    lines = [(record.root, Game(start))]
    for _ in range(rng.randint(1, 3) if variations else 1):
        node, game = rng.choice(lines)
        game = game.copy()
        for _ in range(rng.randint(0, 60)):
            legal = [m for m in game.legal_moves() if m.usi() not in {v.move for v in node.variations}]
            if not legal:
                break
            move = rng.choice(legal)
            game.push(move)
            time = rng.choice((-0.0, float(rng.randint(0, 99))))  # -0.0: a time rounded from just below 0
            node = node.add_variation(move.usi(), rng.choice(COMMENTS), time)
            lines.append((node, game.copy()))
    return record


def view(record, fmt):
    """What a format keeps of a record: its start, and its tree as far as the format holds it."""
    variations, comments, times = HOLDS[fmt]
    out, stack = [record.start.rsplit(" ", 1)[0]], [record.root]
    while stack:
        node = stack.pop()
        time = None if times is None or node.time is None else node.time if times == "exact" else math.floor(node.time + 0.5)
        out.append((node.ply, node.move, node.comment if comments else "", time))
        stack.extend(reversed(node.variations if variations else node.variations[:1]))
    return out


@pytest.mark.parametrize("fmt", HOLDS)
def test_every_writer_reads_back(fmt):
    rng = random.Random(fmt)
    for _ in range(30):
        record = random_record(rng, variations=HOLDS[fmt][0])
        back = records.loads(record.dumps(fmt), fmt)
        assert view(back, fmt) == view(record, fmt)
        assert records.loads(record.dumps(fmt)).moves == record.moves  # the format found from the text


@pytest.mark.parametrize("path", sorted(DATA.iterdir()), ids=lambda p: p.name)
def test_sample_files_read_and_round_trip(path):
    every = records.load_all(path)
    assert every and every[0].moves == records.load(path).moves
    for record in every:
        game = record.game()  # the main line replays under the full rules
        assert game.ply - Game(record.start).ply == len(record.moves)
        for fmt in ("kif", "jkf", "ki2", "csa"):
            assert view(records.loads(record.dumps(fmt), fmt), fmt) == view(record, fmt), fmt


def test_what_the_samples_say():
    floodgate = records.load(DATA / "floodgate.csa")
    assert (floodgate.headers["black"], floodgate.ending, floodgate.winner) == ("alpha_engine", "resign",
                                                                                 ColorType.Black)
    assert floodgate.root.variations[0].comment.startswith("**")
    assert [r.ending for r in records.load_all(DATA / "several.csa")] == ["repetition", "declaration", "time_up"]
    assert records.load(DATA / "illegal.csa").ending == "illegal_move"
    tsume = records.load(DATA / "tsume.csa")  # the defender holds every piece not on the board
    assert tsume.start.split()[2].count("p") + tsume.start.split()[2].count("P") > 0


cshogi = pytest.importorskip("cshogi")
import cshogi.CSA  # noqa: E402
import cshogi.KIF  # noqa: E402


def cshogi_game(rng):
    board, moves = cshogi.Board(), []
    for _ in range(rng.randint(1, 150)):
        legal = list(board.legal_moves)
        if not legal:
            break
        moves.append(rng.choice(legal))
        board.push(moves[-1])
    return board, moves


def test_cshogi_reads_what_we_write_and_we_read_what_it_writes(tmp_path):
    rng = random.Random(7)
    for i in range(40):
        _, moves = cshogi_game(rng)
        usi = [cshogi.move_to_usi(m) for m in moves]
        record = records.loads("startpos moves " + " ".join(usi))
        assert [cshogi.move_to_usi(m) for m in cshogi.CSA.Parser.parse_str(record.dumps("csa"))[0].moves] == usi
        record.dump(tmp_path / "ours.kif")
        assert [cshogi.move_to_usi(m) for m in cshogi.KIF.Parser.parse_file(str(tmp_path / "ours.kif")).moves] == usi
        csa, kif = cshogi.CSA.Exporter(str(tmp_path / "theirs.csa")), cshogi.KIF.Exporter(str(tmp_path / "theirs.kif"))
        csa.info(init_board=cshogi.Board(), names=["a", "b"])
        kif.header(["a", "b"])
        for move in moves:
            csa.move(move, time=rng.randint(0, 9))
            kif.move(move, sec=rng.randint(0, 9))
        csa.endgame("%TORYO")
        kif.end("resign")
        csa.close(), kif.close()
        for fmt in ("csa", "kif"):
            theirs = records.load(tmp_path / f"theirs.{fmt}")
            assert (theirs.moves, theirs.ending) == (usi, "resign"), fmt


def test_python_shogi_reads_what_we_write():
    """python-shogi as a second reader, where it reads correctly: named starts (it takes a board
    diagram's side to move and CSA's P+ hands wrongly)."""
    shogi = pytest.importorskip("shogi")
    import shogi.CSA
    import shogi.KIF
    rng = random.Random(11)
    for _ in range(30):
        record = random_record(rng, variations=False)
        if record.start.split()[2] != "-":  # the mating problem's start: a diagram with hands
            continue
        for reader, fmt in ((shogi.KIF.Parser, "kif"), (shogi.CSA.Parser, "csa")):
            theirs = reader.parse_str(record.dumps(fmt))[0]
            assert (theirs["sfen"], theirs["moves"]) == (record.start, record.moves), fmt


def test_encodings_and_line_ends():
    text = records.loads("startpos moves 7g7f 3c3d 2g2f").dumps("kif")
    for data in [text.encode("cp932"), text.encode("utf-8"), b"\xef\xbb\xbf" + text.encode("utf-8"),
                 text.encode("utf-16"), text.replace("\n", "\r\n").encode("cp932"),
                 text.replace("\n", "\r").encode("utf-8"), text.rstrip("\n").encode("utf-8")]:
        assert records.loads(data).moves == ["7g7f", "3c3d", "2g2f"]
        assert records.load(io.BytesIO(data)).moves == ["7g7f", "3c3d", "2g2f"]
    declared = records.loads("startpos moves 7g7f").dumps("csa", encoding="shift_jis")
    assert "'CSA encoding=SHIFT_JIS" in declared and records.loads(declared.encode("cp932")).moves == ["7g7f"]


HOSTILE = [
    ("startpos moves 7g7f 7g7f", "usi", 1),
    ("V2.2\nPI\n+\n+7776FU\n-3334FU\n+7776FU\n", "csa", 6),
    ("V2.2\nPI\n+\n+7776FU\n+XX\n", "csa", 5),
    ('{"header": {}, "moves": [{}, {"move": {"to": {"x": 7, "y": 6}}}]', "jkf", 1),
    ("手合割：平手\n手数----指手---------消費時間--\n   1 ７六歩(77)\n   2 ７六歩(77)\n", "kif", 4),
    ("▲７六歩　△７六歩\n", "ki2", 1),
    (b"V2.2\nPI\n+\n\xff\xfe\xfd\x80", None, 4),
]


@pytest.mark.parametrize("data, fmt, line", HOSTILE)
def test_hostile_records_name_their_line(data, fmt, line):
    with pytest.raises(RecordError) as info:
        records.loads(data, fmt)
    assert info.value.line == line and f"line {line}" in str(info.value)
    assert isinstance(info.value, ValueError)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.binary(max_size=300) | st.text(max_size=300), st.sampled_from([None, *records.FORMATS]))
def test_junk_gives_a_record_or_a_record_error(data, fmt):
    try:
        records.loads(data, fmt)
    except RecordError as error:
        assert error.line >= 1 and len(str(error)) < 1000


def test_viewer_is_self_contained():
    html = records.loads("startpos moves 7g7f 3c3d")._repr_html_()
    assert "<svg" in html and "https://" not in html.replace("http://www.w3.org/2000/svg", "")


KI2_WORDS = [  # (start, USI move, how KI2 writes it): the Japan Shogi Association's rules
    ("8k/9/3GGG3/9/9/9/9/9/4K4 b - 1", "6c5b", "５二金左"),
    ("8k/9/3GGG3/9/9/9/9/9/4K4 b - 1", "5c5b", "５二金直"),
    ("8k/9/3GGG3/9/9/9/9/9/4K4 b - 1", "4c5b", "５二金右"),
    ("k8/5G3/6G2/9/9/9/9/9/4K4 b - 1", "3c3b", "３二金上"),
    ("k8/5G3/6G2/9/9/9/9/9/4K4 b - 1", "4b3b", "３二金寄"),
    ("+B+B6k/9/9/9/9/9/9/9/4K4 b - 1", "9a8b", "８二馬左"),
    ("+B+B6k/9/9/9/9/9/9/9/4K4 b - 1", "8a8b", "８二馬右"),
    ("8k/9/3G5/9/9/9/9/9/4K4 b G 1", "G*5b", "５二金打"),
    ("8k/9/3G5/9/9/9/9/9/4K4 b G 1", "6c5b", "５二金"),
    ("8k/9/9/5S3/9/9/9/9/4K4 b - 1", "4d4c", "４三銀不成"),
    ("8k/9/9/5S3/9/9/9/9/4K4 b - 1", "4d4c+", "４三銀成"),
    ("4k4/9/9/9/9/9/9/3g1g3/K8 w - 1", "6h5i", "５九金右"),  # White: its right is file 9's side
]


@pytest.mark.parametrize("start, move, written", KI2_WORDS)
def test_ki2_tells_pieces_apart_as_the_rules_say(start, move, written):
    record = Record(start)
    record.root.add_variation(move)
    text = record.dumps("ki2")
    assert ("▲" if " b " in start else "△") + written in text.split()
    assert records.loads(text, "ki2").moves == [move]


def test_kif_variations_and_board_diagrams():
    text = """# a hand-written game
手合割：平手
先手：Sente
後手：Gote
手数----指手---------消費時間--
*before the first move
   1 ７六歩(77)   ( 0:03/00:00:03)
*opens the bishop
   2 ３四歩(33)   ( 0:02/00:00:02)+
   3 ２六歩(27)   ( 0:01/00:00:04)
   4 投了
まで3手で先手の勝ち

変化：2手
   2 ８四歩(83)   ( 0:05/00:00:05)
   3 ２六歩(27)
"""
    record = records.loads(text)
    assert (record.headers["black"], record.moves, record.ending, record.winner) == (
        "Sente", ["7g7f", "3c3d", "2g2f"], "resign", ColorType.Black)
    first = record.root.variations[0]
    assert (record.root.comment, first.comment, first.time) == ("before the first move", "opens the bishop", 3.0)
    assert [n.move for n in first.variations] == ["3c3d", "8c8d"]
    assert [n.move for n in first.variations[1].main_line()] == ["2g2f"]
    with pytest.raises(RecordError, match="line 16: ply 3"):  # the variation's bishop is blocked on 3c
        records.loads(text.rsplit("   3 ２六歩(27)", 1)[0] + "   3 ２二角成(88)\n")
    problem = records.loads("""後手の持駒：残り全部
  ９ ８ ７ ６ ５ ４ ３ ２ １
+---------------------------+
| ・ ・ ・ ・ ・ ・ ・ ・v玉|一
| ・ ・ ・ ・ ・ ・ ・ ・ ・|二
| ・ ・ ・ ・ ・ ・ ・ 金 ・|三
| ・ ・ ・ ・ ・ ・ ・ ・ ・|四
| ・ ・ ・ ・ ・ ・ ・ ・ ・|五
| ・ ・ ・ ・ ・ ・ ・ ・ ・|六
| ・ ・ ・ ・ ・ ・ ・ ・ ・|七
| ・ ・ ・ ・ ・ ・ ・ ・ ・|八
| ・ ・ ・ ・ ・ ・ ・ ・ ・|九
+---------------------------+
先手の持駒：金
手数----指手---------消費時間--
   1 １二金打
""")
    assert problem.start == "8k/9/7G1/9/9/9/9/9/9 b G2r2b2g4s4n4l18p 1" and problem.moves == ["G*1b"]


@settings(max_examples=500, deadline=None)
@given(st.binary(max_size=64) | st.text(max_size=32).map(lambda t: t.encode("cp932", "replace")),
       st.sampled_from([["utf-8"], ["cp932"], ["utf-8", "cp932"]]))
def test_native_decoding_is_pythons(data, encodings):
    from velkorant import _records
    expected = None
    for encoding in encodings:
        try:
            expected = data.decode(encoding)
            break
        except UnicodeDecodeError:
            continue
    if expected is None:
        with pytest.raises(RecordError):
            _records.decode(data, encodings)
    else:
        assert _records.decode(data, encodings) == expected


B, W, DRAW = ColorType.Black, ColorType.White, ColorType(255)
# Each ending with the winner it gives when Black is to move at the end.
ENDINGS = [("resign", W), ("repetition", DRAW), ("impasse", DRAW), ("declaration", B), ("illegal_move", B),
           ("illegal_move", W), ("time_up", W), ("abort", None), ("checkmate", W), ("no_checkmate", None),
           ("max_moves", DRAW), ("error", None), (None, None)]


@pytest.mark.parametrize("fmt", ["csa", "kif", "ki2", "jkf"])
def test_every_ending_reads_back(fmt):
    for ending, winner in ENDINGS:
        if fmt == "jkf" and ending == "max_moves":
            continue  # JKF has no word for it
        record = records.loads("startpos moves 7g7f 3c3d")
        record.ending, record.winner = ending, winner
        back = records.loads(record.dumps(fmt), fmt)
        assert (back.ending, back.winner) == (ending, winner), (fmt, ending)


def test_jkf_meets_the_formats_schema():
    """JKF as written for random trees, the samples and every ending, checked against the schema
    of the format's type description (tests/data/jkf.schema.json)."""
    jsonschema = pytest.importorskip("jsonschema")
    validator = jsonschema.Draft7Validator(json.loads((DATA.parent / "jkf.schema.json").read_text()))
    rng = random.Random(5)
    every = [random_record(rng) for _ in range(40)] + [r for p in sorted(DATA.iterdir()) for r in records.load_all(p)]
    for ending, winner in ENDINGS:
        every.append(records.loads("startpos moves 7g7f 3c3d"))
        every[-1].ending, every[-1].winner = ending, winner
    for record in every:
        assert [e.message for e in validator.iter_errors(json.loads(record.dumps("jkf")))] == []


def test_handicaps_read_by_cshogi(tmp_path):
    """Every handicap cshogi knows, written as KIF with a few moves: cshogi reads the same start."""
    rng = random.Random(3)
    for handicap in ["香落ち", "右香落ち", "角落ち", "飛車落ち", "飛香落ち", "二枚落ち", "三枚落ち", "四枚落ち",
                     "五枚落ち", "左五枚落ち", "六枚落ち", "八枚落ち", "十枚落ち"]:
        record = records.loads(f"手合割：{handicap}\n手数----指手---------消費時間--\n", "kif")
        game = record.game()
        for _ in range(6):
            move = rng.choice(game.legal_moves())
            game.push(move)
        played = Record.from_game(game)
        assert "手合割：" + handicap in played.dumps("kif")
        played.dump(tmp_path / "h.kif")
        theirs = cshogi.KIF.Parser.parse_file(str(tmp_path / "h.kif"))
        assert (theirs.sfen, [cshogi.move_to_usi(m) for m in theirs.moves]) == (record.start, played.moves)


def test_an_edited_tree_is_what_is_written():
    record = records.loads("startpos moves 7g7f 3c3d 2g2f")
    third = record.root.variations[0].variations[0].variations[0]
    third.comment = "居飛車"
    third.parent.add_variation("8h2b+", "角交換", 12.0)
    back = records.loads(record.dumps("kif"))
    assert view(back, "kif") == view(record, "kif")
    with pytest.raises(ValueError, match="node 4"):  # a move that is illegal where it is added
        third.add_variation("5a5c")
        record.dumps("kif")


@pytest.mark.parametrize("text, line", [
    ("後手の持駒：なし\n|v香v桂|一\n手数----指手---------消費時間--\n   1 ７六歩(77)\n", 2),
    ("後手の持駒：竜\n手数----指手---------消費時間--\n", 1),
    ("変化：3手\n   3 ７六歩(77)\n", 1),
    ("手合割：平手\n   1 ７六歩(77)\n   2 ３四歩\n", 3),
    ("手合割：平手\n   1 ７六歩(77)   ( 0:xx/00:00:01)\n", 2),
    ("手合割：謎落ち\n", 1),
])
def test_hostile_kif(text, line):
    with pytest.raises(RecordError) as info:
        records.loads(text, "kif")
    assert info.value.line == line


@pytest.mark.parametrize("fmt", records.FORMATS)
def test_several_records_in_one_text_read_back_or_are_refused(fmt):
    games = [records.loads("startpos moves 7g7f 3c3d", "usi"), records.loads("startpos moves 2g2f", "usi")]
    if fmt in ("kif", "ki2", "jkf"):
        with pytest.raises(ValueError, match="holds one game, not 2"):
            records.dumps_all(games, fmt)
        games = games[:1]
    back = records.loads_all(records.dumps_all(games, fmt), fmt)
    assert [r.dumps(fmt) for r in back] == [r.dumps(fmt) for r in games]
