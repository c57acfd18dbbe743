"""velkorant convert: record files to hcpe, PackedSfenValue and Parquet datasets, checked against
a Python pipeline over cshogi on a floodgate-like corpus with one broken record."""

import importlib
import importlib.util
import os
import subprocess
import sys

import numpy as np
import pytest

from support.corpus import cshogi_game_hcpe, write_corpus
from velkorant import data, records

cshogi = pytest.importorskip("cshogi")
import cshogi.CSA  # noqa: E402

BROKEN_FILE, BROKEN_GAME = 1, 2  # the third game of the second file has an illegal move


def run(*args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    return subprocess.run([sys.executable, "-m", "velkorant", "convert", *map(str, args)],
                          capture_output=True, text=True, env=env)


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """The corpus folder, cshogi's rows of every game (before the break) and the games as read."""
    folder = tmp_path_factory.mktemp("corpus")
    paths = write_corpus(str(folder), 30, 6, seed=3)
    games = [(path, kif) for path in paths for kif in cshogi.CSA.Parser.parse_file(path)]
    oracle = [cshogi_game_hcpe(kif) for _, kif in games]
    kept = [r for path in paths for r in records.load_all(path)]
    # Break one game: its fourth move played from an empty square.
    text = open(paths[BROKEN_FILE], encoding="utf-8").read().split("/\n")
    lines = text[BROKEN_GAME].split("\n")
    at = [i for i, line in enumerate(lines) if line[:1] in "+-" and len(line) == 7][3]
    lines[at] = lines[at][0] + "5555" + lines[at][5:]
    text[BROKEN_GAME] = "\n".join(lines)
    with open(paths[BROKEN_FILE], "w", encoding="utf-8") as out:
        out.write("/\n".join(text))
    broken = BROKEN_FILE * 6 + BROKEN_GAME
    line = sum(part.count("\n") + 1 for part in text[:BROKEN_GAME]) + at + 1
    del oracle[broken], kept[broken]
    return folder, paths, oracle, kept, line


def read(path):
    return np.fromfile(path, data.HuffmanCodedPosAndEval)


def test_rows_equal_cshogi_and_a_broken_record_is_reported_and_skipped(corpus, tmp_path):
    folder, paths, oracle, _, line = corpus
    result = run(folder, "-o", tmp_path / "out.hcpe", "-j", 1)
    assert result.returncode == 0, result.stderr
    assert f"{paths[BROKEN_FILE]}:{line}: ply 4: move" in result.stderr
    assert "5 files, 30 games read, 29 converted" in result.stderr and "1 bad records" in result.stderr
    assert read(tmp_path / "out.hcpe").tobytes() == np.concatenate(oracle).tobytes()
    assert os.listdir(tmp_path) == ["out.hcpe"]  # no temporary file left


def _rating(record, side):
    for line in record.root.comment.split("\n"):
        if line.startswith(f"{side}_rate:"):
            return float(line.rsplit(":", 1)[1])
    return None


@pytest.mark.parametrize("args, keep", [
    (["--min-moves", 60], lambda r: len(r.moves) >= 60),
    (["--min-rating", 2500], lambda r: min(_rating(r, "black"), _rating(r, "white")) >= 2500),
    (["--endings", "resign,repetition"], lambda r: r.ending in ("resign", "repetition")),
    (["--min-moves", 40, "--endings", "declaration"], lambda r: len(r.moves) >= 40 and r.ending == "declaration"),
])
def test_filters_keep_the_games_that_pass(corpus, tmp_path, args, keep):
    folder, _, oracle, kept, _ = corpus
    expected = [rows for rows, record in zip(oracle, kept) if keep(record)]
    assert 0 < len(expected) < len(kept)
    assert run(folder, "-o", tmp_path / "out.hcpe", *args).returncode == 0
    assert read(tmp_path / "out.hcpe").tobytes() == np.concatenate(expected).tobytes()


def test_dedup_keeps_the_first_row_of_each_position(corpus, tmp_path):
    folder, _, oracle, _, _ = corpus
    rows = np.concatenate(oracle)
    _, first = np.unique(rows["hcp"], axis=0, return_index=True)
    assert len(first) < len(rows)  # the initial position at least repeats
    assert run(folder, "-o", tmp_path / "out.hcpe", "--dedup").returncode == 0
    assert read(tmp_path / "out.hcpe").tobytes() == rows[np.sort(first)].tobytes()


def parquet():
    """pyarrow.parquet, or a skip when pyarrow is missing or cannot load (a numpy it refuses)."""
    try:
        import pyarrow.parquet as pq
    except ImportError as error:
        pytest.skip(f"pyarrow cannot be used here: {error}")
    return pq


@pytest.mark.parametrize("suffix", [".hcpe", ".psv", ".parquet"])
@pytest.mark.parametrize("dedup", [["--dedup"], []])
def test_two_processes_write_the_same_bytes_as_one(corpus, tmp_path, suffix, dedup):
    if suffix == ".parquet":
        parquet()
    folder = corpus[0]
    outputs = [tmp_path / f"j{jobs}{suffix}" for jobs in (1, 2)]
    for jobs, out in zip((1, 2), outputs):
        assert run(folder, "-o", out, "-j", jobs, *dedup, "--min-moves", 30).returncode == 0
    assert outputs[0].read_bytes() == outputs[1].read_bytes()


@pytest.mark.parametrize("ahead", [1, 4])  # two files read ahead of the one written, eight
@pytest.mark.parametrize("suffix, dedup", [(".hcpe", False), (".hcpe", True), (".parquet", False)])
def test_threads_give_the_rows_and_counts_of_one(corpus, tmp_path, monkeypatch, ahead, suffix, dedup):
    if suffix == ".parquet":
        parquet()
    convert = importlib.import_module("velkorant.convert")
    monkeypatch.setattr(convert, "_AHEAD_PER_JOB", ahead)
    unreadable = tmp_path / "gone.csa"  # named, but not there: a bad record in its place
    summaries = [convert.convert([str(corpus[0]), str(unreadable)], str(tmp_path / f"j{jobs}{suffix}"),
                                 dedup=dedup, jobs=jobs, progress=False, report=False) for jobs in (1, 2)]
    assert summaries[0] == summaries[1] and summaries[0].bad_records == 2
    assert (tmp_path / f"j1{suffix}").read_bytes() == (tmp_path / f"j2{suffix}").read_bytes()


def test_psv_rows_are_the_hcpe_rows_for_the_side_to_move(corpus, tmp_path):
    folder, _, oracle, _, _ = corpus
    assert run(folder, "-o", tmp_path / "out.psv").returncode == 0
    psv = np.fromfile(tmp_path / "out.psv", data.PackedSfenValue)
    hcpe = np.concatenate(oracle)
    board = cshogi.Board()
    for i in range(0, len(psv), 7):
        board.set_hcp(hcpe["hcp"][i])
        expected = np.zeros(1, cshogi.PackedSfen)
        board.to_psfen(expected)
        assert psv["sfen"][i].tobytes() == expected.tobytes()
        assert psv["score"][i] == hcpe["eval"][i]
        result = {0: 0, 1: 1, 2: -1}[int(hcpe["gameResult"][i])]
        assert psv["game_result"][i] == (result if board.turn == cshogi.BLACK else -result)
    assert sorted(set(psv["move"] >> 14 & 1)) == [0, 1]  # drops among the moves
    assert psv["gamePly"][0] == 1 and np.all(np.diff(psv["gamePly"].astype(int))[:5] == 1)


def test_parquet_has_the_schema_and_the_rows(corpus, tmp_path):
    pq = parquet()
    import pyarrow as pa

    folder, _, oracle, _, _ = corpus
    assert run(folder, "-o", tmp_path / "out.parquet").returncode == 0
    table = pq.read_table(tmp_path / "out.parquet")
    assert table.schema == pa.schema([("hcp", pa.binary(32)), ("eval", pa.int16()), ("best_move16", pa.int16()),
                                      ("game_result", pa.int8()), ("ply", pa.int32()), ("game_id", pa.int64())])
    rows = np.concatenate(oracle)
    assert b"".join(table.column("hcp").to_pylist()) == rows["hcp"].tobytes()
    for column, field in [("eval", "eval"), ("best_move16", "bestMove16"), ("game_result", "gameResult")]:
        assert np.array_equal(table.column(column).to_numpy(), rows[field])
    game_id = table.column("game_id").to_numpy()
    assert len(np.unique(game_id)) == len(oracle) and np.all(np.diff(game_id) >= 0)
    assert np.all(game_id >> 32 < 5)
    # Other readers, where installed.
    if importlib.util.find_spec("polars"):
        assert importlib.import_module("polars").read_parquet(tmp_path / "out.parquet").height == len(rows)
    if importlib.util.find_spec("duckdb"):
        query = f"select count(*), sum(eval) from '{tmp_path / 'out.parquet'}'"
        assert importlib.import_module("duckdb").sql(query).fetchone() == (len(rows), int(rows["eval"].sum()))


@pytest.mark.parametrize("args, code, message", [
    (["{missing}", "-o", "{tmp}/out.hcpe"], 1, "nothing converted"),
    (["{folder}", "-o", "{tmp}/no/such/folder/out.hcpe"], 2, "cannot write"),
    (["{folder}", "-o", "{tmp}/out.txt"], 2, "names no dataset"),
])
def test_exit_codes(corpus, tmp_path, args, code, message):
    values = {"missing": tmp_path / "missing.csa", "tmp": tmp_path, "folder": corpus[0]}
    result = run(*[a.format(**values) for a in args])
    assert result.returncode == code and message in result.stderr
    assert not os.path.exists(tmp_path / "out.hcpe")


@pytest.mark.slow
def test_ray_shards_hold_the_local_rows(corpus, tmp_path):
    ray = pytest.importorskip("ray")
    pq = parquet()
    from velkorant import _cluster, convert

    folder = corpus[0]
    convert.convert([str(folder)], str(tmp_path / "local.parquet"), progress=False, report=False)
    ray.init(num_cpus=2, include_dashboard=False)
    try:
        summary = _cluster.convert([str(folder)], str(tmp_path / "shards"), files_per_batch=2)
    finally:
        ray.shutdown()
    local = pq.read_table(tmp_path / "local.parquet")
    shards = pq.read_table(tmp_path / "shards").sort_by([("game_id", "ascending"), ("ply", "ascending")])
    assert shards.select(local.column_names).equals(local)
    assert (summary.files, summary.games_read, summary.games_converted, summary.bad_records) == (5, 30, 29, 1)


@pytest.mark.parametrize("comment", ["** 20", "**20", "** +30 x", "** 40.7", "** abc", "** -40", "** 5\n'** 6",
                                     "**\t30", "* 77", "** 99999 7g7f", "** -99999"])
def test_evaluation_comments_read_as_cshogi_reads_them(comment, tmp_path):
    text = f"V2.2\nPI\n+\n+7776FU\n'{comment}\n-3334FU\n'** 12\n%TORYO\n"
    (tmp_path / "game.csa").write_text(text)
    assert run(tmp_path / "game.csa", "-o", tmp_path / "out.hcpe").returncode == 0
    parser = cshogi.CSA.Parser()
    parser.parse_csa_str(text)
    score = max(-32767, min(32767, parser.scores[0]))
    assert read(tmp_path / "out.hcpe")["eval"].tolist() == [score, -12]


def test_kif_in_shift_jis_and_jkf_give_the_rows_of_the_same_games(corpus, tmp_path):
    _, _, oracle, kept, _ = corpus
    for i, record in enumerate(kept[:4]):
        record.dump(tmp_path / f"game{i}.{'kif' if i % 2 else 'jkf'}")  # KIF in Shift_JIS
    (tmp_path / "broken.kif").write_bytes("手合割：平手\n1 ７六歩(77)\n2 ７六歩(77)\n".encode("cp932"))
    result = run(tmp_path, "-o", tmp_path / "out.hcpe")
    assert result.returncode == 0 and "broken.kif:3: ply 2:" in result.stderr
    assert read(tmp_path / "out.hcpe").tobytes() == np.concatenate(oracle[:4]).tobytes()

