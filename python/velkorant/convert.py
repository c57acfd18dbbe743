"""Datasets from game records: ``velkorant convert`` (also ``python -m velkorant convert``).

Every position of each game's main line before a move becomes one row, with the move played, the
evaluation the record gives it (floodgate's ``'**`` comments, for the side to move; 0 where there
is none) and the game's result::

    velkorant convert games/ 'more/*.csa' -o train.hcpe --min-moves 50 --min-rating 2500 --dedup
    velkorant convert games/ -o train.psv                  # PackedSfenValue records
    velkorant convert games/ -o train.parquet              # one row per position (pyarrow)
    velkorant convert games/ -o shards/ --ray              # Ray Data, Parquet shards

Order: files in the order of the inputs (a folder's record files and a glob's matches sorted by
path), games in file order, positions in move order; ``-j N`` gives the same bytes as ``-j 1``.
``game_id`` (Parquet) is the file's number in that order times 2**32 plus the game's number in
its file (every game counted, skipped ones too). ``--dedup`` keeps the first row of each position,
the position being its 32 packed bytes (placement, hands, side to move; not the move number).

A record that cannot be read is reported (file, line, why) and skipped; the others are converted.
A position with no 32-byte packing (a mating problem whose defender holds pieces) is skipped and
counted.
"""

from __future__ import annotations

import argparse
import glob
import os
import sys
import tempfile
import time
from collections import deque
from collections.abc import Iterable, Iterator, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import IO, Any, Literal

from velkorant import _records, records

__all__ = ["Options", "Summary", "convert", "main", "expand_inputs", "ENDINGS"]

ENDINGS = ("resign", "repetition", "impasse", "declaration", "illegal_move", "time_up", "abort", "checkmate",
           "no_checkmate", "max_moves", "error")
"""The endings ``--endings`` may name, as ``velkorant.records`` names them."""

Layout = Literal["hcpe", "psv"]
_OUTPUTS: dict[str, Layout] = {".hcpe": "hcpe", ".psv": "psv", ".parquet": "hcpe"}
_ROW_SIZE = {"hcpe": 38, "psv": 40}
# The extensions a folder's record files have (explicit files may have any).
_FOLDER_EXTENSIONS = frozenset({".csa", ".kif", ".kifu", ".ki2", ".ki2u", ".jkf"})
_GAME_SHIFT = 32


@dataclass(frozen=True)
class Options:
    """What to read and which games give rows."""

    layout: Layout = "hcpe"
    format: records.Format | None = None
    encoding: str | None = None
    min_moves: int = 0
    min_rating: float | None = None
    endings: tuple[str, ...] | None = None
    # Whether each row's move number and game number are wanted (Parquet); without them a
    # file's rows are the records alone.
    index: bool = True


@dataclass
class FileRows:
    """The rows of one file: the records of the layout, each row's move number and game number
    (int32 bytes), the counts of ``_records.rows`` and the bad records (line, why)."""

    path: str
    rows: bytes = b""
    plies: bytes = b""
    games: bytes = b""
    counts: tuple[int, int, int, int, int, int] = (0, 0, 0, 0, 0, 0)
    bad: list[tuple[int, str]] = field(default_factory=list)


@dataclass
class Summary:
    """What a conversion did."""

    files: int = 0
    games_read: int = 0
    games_converted: int = 0
    positions: int = 0
    bad_records: int = 0
    too_short: int = 0
    low_rating: int = 0
    other_ending: int = 0
    unpackable: int = 0
    duplicates: int = 0
    bad: list[tuple[str, int, str]] = field(default_factory=list)

    def add(self, part: FileRows) -> None:
        read, converted, short, low, ending, unpackable = part.counts
        self.files += 1
        self.games_read += read
        self.games_converted += converted
        self.too_short += short
        self.low_rating += low
        self.other_ending += ending
        self.unpackable += unpackable
        self.bad_records += len(part.bad)
        self.bad.extend((part.path, line, why) for line, why in part.bad)

    def text(self, output: str) -> str:
        skipped = [(self.bad_records, "bad records"), (self.too_short, "too short"),
                   (self.low_rating, "rated too low"), (self.other_ending, "other endings")]
        lines = [f"{self.files} files, {self.games_read} games read, {self.games_converted} converted, "
                 f"{self.positions} positions written to {output}"]
        games = ", ".join(f"{n} {what}" for n, what in skipped if n)
        if games:
            lines.append(f"games skipped: {games}")
        positions = ", ".join(f"{n} {what}" for n, what in [(self.unpackable, "with no 32-byte packing"),
                                                            (self.duplicates, "seen before")] if n)
        if positions:
            lines.append(f"positions skipped: {positions}")
        return "\n".join(lines)


def expand_inputs(inputs: Iterable[str]) -> list[str]:
    """The files of the inputs, in order: a file as it is, a folder's record files (recursively,
    by extension) and a glob's matches sorted by path. A file named twice is read once."""
    found: list[str] = []
    for item in inputs:
        if os.path.isdir(item):
            paths = sorted(os.path.join(folder, name) for folder, _, names in os.walk(item) for name in names
                           if os.path.splitext(name)[1].lower() in _FOLDER_EXTENSIONS)
        elif os.path.exists(item) or not glob.has_magic(item):
            paths = [item]
        else:
            paths = sorted(p for p in glob.glob(item, recursive=True) if os.path.isfile(p))
        found.extend(paths)
    return list(dict.fromkeys(found))


def rows_of_file(path: str, options: Options) -> FileRows:
    """The rows of one record file; a file that cannot be read or decoded is one bad record."""
    try:
        data = records._read_file(path)
    except OSError as error:
        return FileRows(path, counts=(1, 0, 0, 0, 0, 0), bad=[(0, f"cannot read: {error.strerror or error}")])
    return rows_of_bytes(data, path, options)


def rows_of_bytes(data: bytes, path: str, options: Options) -> FileRows:
    """The rows of a record file's bytes (``path`` names it and gives its format)."""
    try:
        encodings = records._encodings(data, options.encoding)
        if encodings == ["utf-8-sig"]:
            data, encodings = data[3:], ["utf-8"]
        format = (options.format or records._format_of(os.path.splitext(path)[1])
                  or records._sniff(data[:8192].decode(encodings[0], "replace")))
        text: bytes | str = data
        if not records._NATIVE.issuperset(encodings):
            text, encodings = records._decode(data, encodings), []
        rows, plies, games, counts, bad = _records.rows(text, format, encodings, options.layout, options.min_moves,
                                                         options.min_rating, options.endings)
    except records.RecordError as error:
        return FileRows(path, counts=(1, 0, 0, 0, 0, 0), bad=[(error.line, str(error).split(": ", 1)[-1])])
    if not options.index:
        plies = games = b""
    return FileRows(path, rows, plies, games, counts, bad)


# How many files a thread may have read ahead of the one being written: enough to keep every
# thread busy, few enough that the rows waiting stay a small part of the output.
_AHEAD_PER_JOB = 4


def file_rows(paths: Sequence[str], options: Options, jobs: int) -> Iterator[FileRows]:
    """The rows of each file, in the order of ``paths``, read by ``jobs`` threads. A file is
    read natively without the interpreter lock, so the threads read files at the same time,
    with no process to start and no rows to send between processes."""
    if jobs <= 1 or len(paths) <= 1:
        for path in paths:
            yield rows_of_file(path, options)
        return
    pool = ThreadPoolExecutor(max_workers=jobs, thread_name_prefix="velkorant-convert")
    try:
        waiting: deque[Future[FileRows]] = deque()
        for path in paths:
            waiting.append(pool.submit(rows_of_file, path, options))
            if len(waiting) >= jobs * _AHEAD_PER_JOB:
                yield waiting.popleft().result()
        while waiting:
            yield waiting.popleft().result()
    finally:
        # A run stopped early (an error, Ctrl-C) drops the files not begun and waits only for
        # those being read.
        pool.shutdown(wait=True, cancel_futures=True)


class _Sink:
    """An output written to a temporary file beside it, renamed over it when complete."""

    def __init__(self, output: str) -> None:
        self.output = output
        folder = os.path.dirname(os.path.abspath(output))
        try:
            fd, self.temporary = tempfile.mkstemp(prefix="." + os.path.basename(output) + ".", dir=folder)
        except OSError as error:
            raise OSError(error.errno, f"cannot write {output}: {error.strerror}") from None
        self.file: IO[bytes] = os.fdopen(fd, "wb")

    def write(self, part: FileRows, mask: Any, game_base: int) -> None:
        raise NotImplementedError

    def close(self) -> None:
        self.file.close()

    def commit(self) -> None:
        self.close()
        os.chmod(self.temporary, 0o666 & ~_umask())
        os.replace(self.temporary, self.output)

    def abandon(self) -> None:
        try:
            self.close()
        finally:
            if os.path.exists(self.temporary):
                os.unlink(self.temporary)


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


class _RecordSink(_Sink):
    """hcpe or PackedSfenValue records, one after another."""

    def __init__(self, output: str, layout: Layout) -> None:
        super().__init__(output)
        self.size = _ROW_SIZE[layout]

    def write(self, part: FileRows, mask: Any, game_base: int) -> None:
        if mask is None:
            self.file.write(part.rows)
        else:
            import numpy as np

            rows = np.frombuffer(part.rows, np.uint8).reshape(-1, self.size)
            self.file.write(rows[mask].tobytes())


class _ParquetSink(_Sink):
    """One Parquet row per position."""

    def __init__(self, output: str) -> None:
        import pyarrow.parquet as pq  # type: ignore[import-untyped, import-not-found, unused-ignore]

        super().__init__(output)
        self.writer = pq.ParquetWriter(self.file, parquet_schema())

    def write(self, part: FileRows, mask: Any, game_base: int) -> None:
        self.writer.write_table(parquet_table(part, mask, game_base))

    def close(self) -> None:
        if not self.file.closed:
            self.writer.close()
        super().close()


def parquet_schema() -> Any:
    """The columns of a Parquet dataset."""
    import pyarrow as pa  # type: ignore[import-untyped, import-not-found, unused-ignore]

    return pa.schema([("hcp", pa.binary(32)), ("eval", pa.int16()), ("best_move16", pa.int16()),
                      ("game_result", pa.int8()), ("ply", pa.int32()), ("game_id", pa.int64())])


def parquet_table(part: FileRows, mask: Any = None, game_base: int = 0) -> Any:
    """A file's hcpe rows as a pyarrow table of ``parquet_schema``; ``mask`` selects rows,
    ``game_base`` is added to each game's number in the file."""
    import numpy as np
    import pyarrow as pa  # type: ignore[import-untyped, import-not-found, unused-ignore]

    from velkorant import data

    rows = np.frombuffer(part.rows, data.HuffmanCodedPosAndEval)
    plies = np.frombuffer(part.plies, np.int32)
    games = np.frombuffer(part.games, np.int32).astype(np.int64) + game_base
    if mask is not None:
        rows, plies, games = rows[mask], plies[mask], games[mask]
    hcp = pa.FixedSizeBinaryArray.from_buffers(pa.binary(32), len(rows),
                                               [None, pa.py_buffer(np.ascontiguousarray(rows["hcp"]).tobytes())])
    return pa.Table.from_arrays([hcp, pa.array(rows["eval"]), pa.array(rows["bestMove16"]),
                                 pa.array(rows["gameResult"]), pa.array(plies), pa.array(games)],
                                schema=parquet_schema())


class _Progress:
    """A tqdm bar over the files on a terminal; nothing otherwise, or without tqdm."""

    def __init__(self, files: int, enabled: bool) -> None:
        self.bar: Any = None
        if enabled:
            try:
                from tqdm import tqdm  # type: ignore[import-untyped, import-not-found, unused-ignore]
            except ImportError:
                return
            self.bar = tqdm(total=files, unit="file", dynamic_ncols=True, smoothing=0.1)

    def update(self, summary: Summary) -> None:
        if self.bar is not None:
            self.bar.set_postfix(games=summary.games_read, positions=summary.positions, refresh=False)
            self.bar.update(1)

    def write(self, text: str) -> None:
        if self.bar is not None:
            self.bar.write(text, file=sys.stderr)
        else:
            print(text, file=sys.stderr)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def convert(inputs: Sequence[str], output: str, *, options: Options = Options(), dedup: bool = False,
            jobs: int | None = None, progress: bool | None = None, report: bool = True) -> Summary:
    """Converts the record files of ``inputs`` (files, folders, globs) to ``output`` (.hcpe, .psv
    or .parquet), written atomically. ``jobs`` threads read the files (``None``: every core);
    ``progress`` shows a bar (``None``: when stderr is a terminal); ``report`` prints each bad
    record to stderr. Raises ``OSError`` when the output cannot be written."""
    extension = os.path.splitext(output)[1].lower()
    if extension not in _OUTPUTS:
        raise ValueError(f"the output's extension {extension!r} names no dataset: .hcpe, .psv or .parquet")
    layout = _OUTPUTS[extension]
    options = Options(layout, options.format, options.encoding, options.min_moves, options.min_rating,
                      options.endings, extension == ".parquet")
    paths = expand_inputs(inputs)
    summary = Summary()
    sink: _Sink = _ParquetSink(output) if extension == ".parquet" else _RecordSink(output, layout)
    seen = _records.Seen() if dedup else None
    bar = _Progress(len(paths), sys.stderr.isatty() if progress is None else progress)
    try:
        for number, part in enumerate(file_rows(paths, options, jobs or os.cpu_count() or 1)):
            summary.add(part)
            if report:
                for line, why in part.bad:
                    bar.write(f"{part.path}:{line}: {why}")
            mask = None
            count = len(part.rows) // _ROW_SIZE[layout]
            if seen is not None:
                import numpy as np

                mask = np.frombuffer(seen.fresh(part.rows, _ROW_SIZE[layout]), np.bool_)
                kept = int(mask.sum())
                summary.duplicates += count - kept
                count = kept
            sink.write(part, mask, number << _GAME_SHIFT)
            summary.positions += count
            bar.update(summary)
    except BaseException:
        bar.close()
        sink.abandon()
        raise
    bar.close()
    if summary.positions == 0:
        sink.abandon()
    else:
        sink.commit()
    return summary


def _endings(text: str) -> tuple[str, ...]:
    names = tuple(name.strip() for name in text.split(",") if name.strip())
    unknown = [name for name in names if name not in ENDINGS]
    if unknown:
        raise argparse.ArgumentTypeError(f"unknown ending {unknown[0]!r}: {', '.join(ENDINGS)}")
    return names


def _jobs(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"-j is at least 1, not {value}")
    return value


def parser() -> argparse.ArgumentParser:
    """The command line of ``velkorant convert``."""
    p = argparse.ArgumentParser(prog="velkorant convert",
                                description="Training data from game records: one row per position of each game's "
                                            "main line, with the move played, its evaluation and the game's result.")
    p.add_argument("inputs", nargs="+", help="record files, folders (searched recursively) or globs")
    p.add_argument("-o", "--output", required=True,
                   help="the dataset: .hcpe, .psv or .parquet (with --ray: a folder for Parquet shards)")
    p.add_argument("--min-moves", type=int, default=0, metavar="N", help="games of at least N moves")
    p.add_argument("--min-rating", type=float, default=None, metavar="R",
                   help="games whose players are both rated at least R (CSA's 'black_rate/'white_rate lines)")
    p.add_argument("--endings", type=_endings, default=None, metavar="LIST",
                   help="games with one of these endings, e.g. resign,declaration,repetition")
    p.add_argument("--dedup", action="store_true", help="each position once (its first row)")
    p.add_argument("-j", "--jobs", type=_jobs, default=None, metavar="N", help="threads reading files (default: every core)")
    p.add_argument("--format", choices=records.FORMATS, default=None, help="the records' format (default: by "
                   "extension, else by content)")
    p.add_argument("--encoding", default=None, help="the records' encoding (default: declared, else UTF-8, else CP932)")
    p.add_argument("--ray", nargs="?", const="auto", default=None, metavar="ADDRESS",
                   help="convert on a Ray cluster (default: a local one) into Parquet shards in OUTPUT")
    return p


def main(argv: Sequence[str] | None = None) -> int:
    """``velkorant convert``: 0 when some positions were written, 1 when none could be, 2 when the
    output cannot be written."""
    args = parser().parse_args(argv)
    options = Options(format=args.format, encoding=args.encoding, min_moves=args.min_moves,
                      min_rating=args.min_rating, endings=args.endings)
    start = time.monotonic()
    try:
        if args.ray is not None:
            from velkorant import _cluster  # a submodule: ray is imported only here

            summary = _cluster.convert(args.inputs, args.output, options=options,
                                       address=None if args.ray == "auto" else args.ray, dedup=args.dedup)
        else:
            summary = convert(args.inputs, args.output, options=options, dedup=args.dedup, jobs=args.jobs)
    except (OSError, ValueError, ImportError) as error:
        print(f"velkorant convert: {error}", file=sys.stderr)
        return 2
    print(summary.text(args.output) + f" in {time.monotonic() - start:.1f} s", file=sys.stderr)
    if summary.positions == 0:
        print("velkorant convert: nothing converted; the output is not written", file=sys.stderr)
        return 1
    return 0
