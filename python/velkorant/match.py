"""Matches between two USI engines: ``velkorant match`` (also ``python -m velkorant match``).

Games are played in pairs from one opening with colours swapped, several at once (each worker
thread owns one process of each engine), and scored as engine testers score them: W/D/L, Elo
with a 95% error bar, LOS, pentanomial pairs, and an SPRT that stops the match once decided::

    velkorant match --engine cmd=fairy-stockfish name=sf option.Threads=1 \\
                    --engine cmd=gpsusi name=gps --games 20 --concurrency 2 --tc byoyomi=100 \\
                    --book openings.sfen --records games.csa --sprt elo0=0 elo1=5

An engine that dies, hangs (no ``bestmove`` within its time plus a margin) or plays a move the
rules refuse loses that game and is started again; the summary counts each fault. Ctrl-C stops
the match: the games played so far are written and the summary printed.

From Python, the command is a thin wrapper over ``run(Match(...))``.
"""
from __future__ import annotations

import argparse
import importlib
import json
import os
import random
import shlex
import sys
import threading
import time
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import Any

from velkorant import Game, records, stats, usi
from velkorant._core import ColorType

__all__ = ["EngineSpec", "Adjudication", "Match", "GameResult", "Summary", "run", "main",
           "load_book", "load_config"]

@dataclass
class EngineSpec:
    """How to start one engine: its command line, a name for the tables and its USI options."""

    cmd: str
    name: str = ""
    options: dict[str, str] = field(default_factory=dict)
    cwd: str | None = None
    #: seconds an answer may take beyond the time its question allows (``usi.Engine.timeout``)
    timeout: float = 10.0

    def __post_init__(self) -> None:
        self.name = self.name or os.path.basename(shlex.split(self.cmd)[0])

    @classmethod
    def parse(cls, words: Sequence[str]) -> EngineSpec:
        """From ``cmd=... name=... option.Threads=1 dir=... timeout=...`` words."""
        values: dict[str, str] = {}
        options: dict[str, str] = {}
        for word in words:
            key, sep, value = word.partition("=")
            if not sep:
                raise ValueError(f"engine setting {word!r} is not key=value")
            if key.startswith("option."):
                options[key[len("option."):]] = value
            elif key in ("cmd", "name", "dir", "timeout"):
                values[key] = value
            else:
                raise ValueError(f"unknown engine setting {key!r} (cmd, name, dir, timeout, option.NAME)")
        if "cmd" not in values:
            raise ValueError("an engine needs cmd=COMMAND")
        return cls(values["cmd"], values.get("name", ""), options, values.get("dir"), float(values.get("timeout", 10)))

    def start(self) -> usi.Engine:
        """The engine, started and given its options."""
        return usi.Engine(self.cmd, options=self.options, cwd=self.cwd, name=self.name, timeout=self.timeout)


@dataclass
class Adjudication:
    """When a game is decided before its end: a resignation both engines agree on (the score at
    or below ``-resign_score`` for the loser and at or above it for the winner, ``resign_moves``
    moves each), a draw after ``draw_moves`` moves each within ``draw_score`` of 0 from ply
    ``draw_after``, a win by declaration as soon as the side to move may declare (``declare``),
    and the ply limit (a draw). 0 or False turns a rule off.

    An instance is the ``adjudicate`` function of ``usi.play``."""

    resign_score: int = 0
    resign_moves: int = 3
    draw_score: int = 0
    draw_moves: int = 8
    draw_after: int = 80
    declare: bool = False
    max_plies: int = 512

    def __call__(self, game: Game, infos: Sequence[usi.Info | None]) -> tuple[ColorType | None, str] | None:
        if self.declare and game.can_declare():
            return game.turn, "the side to move may declare a win"
        # The engines' scores for themselves, the last move's first: its mover's, then the
        # other side's, alternately.
        scores = [None if info is None else info.score() for info in reversed(infos)]
        n = self.resign_moves
        if self.resign_score and len(scores) >= 2 * n:
            for loser, winner in ((0, 1), (1, 0)):
                lost = scores[loser::2][:n]
                won = scores[winner::2][:n]
                if all(s is not None and s <= -self.resign_score for s in lost) and \
                        all(s is not None and s >= self.resign_score for s in won):
                    loser_colour = game.turn if loser == 1 else _other(game.turn)
                    return _other(loser_colour), f"both engines agree, {n} moves each"
        quiet = scores[:2 * self.draw_moves]
        if self.draw_score and len(game.history) >= self.draw_after and len(quiet) == 2 * self.draw_moves and \
                all(s is not None and abs(s) <= self.draw_score for s in quiet):
            return None, f"{self.draw_moves} quiet moves each"
        return None


@dataclass
class Match:
    """A match: the first engine is the one the statistics speak for."""

    engines: tuple[EngineSpec, EngineSpec]
    tc: usi.Clock = field(default_factory=lambda: usi.Clock(byoyomi=1000, margin=1000))
    games: int = 2
    concurrency: int = 1
    openings: list[str] = field(default_factory=lambda: ["startpos"])
    adjudication: Adjudication = field(default_factory=Adjudication)
    sprt: stats.Sprt | None = None
    records: str | None = None
    #: called with each finished game and the summary so far (from a worker thread, one at a time)
    on_game: Callable[[GameResult, Summary], None] | None = None


@dataclass
class GameResult:
    """One finished game: its number (from 1), its pair, who had Black (0 the first engine),
    the winner as an engine index (None for a draw), how it ended (``ending`` as the record
    says it, ``reason`` as ``usi.GameResult`` does, with its message), its record, its moves,
    and the fault of an engine that lost by one (engine index to crash, hang, illegal,
    protocol or time)."""

    number: int
    pair: int
    black: int
    winner: int | None
    ending: str
    reason: str
    record: usi.GameRecord
    plies: int
    faults: dict[int, str] = field(default_factory=dict)

    @property
    def points(self) -> float:
        """The first engine's points."""
        return 0.5 if self.winner is None else 1.0 if self.winner == 0 else 0.0


@dataclass
class Summary:
    """The match so far: the tally for the first engine, faults per engine, the SPRT's word."""

    names: tuple[str, str]
    tally: stats.Tally = field(default_factory=stats.Tally)
    faults: list[dict[str, int]] = field(default_factory=lambda: [{}, {}])
    endings: dict[str, int] = field(default_factory=dict)
    sprt: stats.Sprt | None = None
    decision: str | None = None
    interrupted: bool = False
    seconds: float = 0.0

    def lines(self) -> list[str]:
        """The summary as fastchess prints it."""
        t = self.tally
        elo, err = t.elo()
        nelo, nerr = t.nelo()
        ptn = t.pentanomial
        out = [f"Results of {self.names[0]} vs {self.names[1]}:",
               f"Elo: {elo:.2f} +/- {err:.2f}, nElo: {nelo:.2f} +/- {nerr:.2f}",
               f"LOS: {100 * t.los():.2f} %, DrawRatio: {100 * t.draws / max(t.games, 1):.2f} %",
               f"Games: {t.games}, Wins: {t.wins}, Losses: {t.losses}, Draws: {t.draws}, "
               f"Points: {t.points:.1f} ({100 * t.score if t.games else 0:.2f} %)",
               f"Ptnml(0-2): [{', '.join(map(str, ptn))}]"]
        if self.sprt is not None:
            lower, upper = self.sprt.bounds
            out.append(f"LLR: {self.sprt.llr(ptn):.2f} ({lower:.2f}, {upper:.2f}) "
                       f"[{self.sprt.elo0:.2f}, {self.sprt.elo1:.2f}]")
            if self.decision:
                out.append(f"SPRT ([{self.sprt.elo0:.2f}, {self.sprt.elo1:.2f}]) completed - "
                           f"{self.decision} was accepted")
        out.append("Endings: " + (", ".join(f"{k} {v}" for k, v in sorted(self.endings.items())) or "none"))
        for name, faults in zip(self.names, self.faults):
            out.append(f"Faults of {name}: " + (", ".join(f"{k} {v}" for k, v in sorted(faults.items())) or "none"))
        if self.interrupted:
            out.append("Interrupted: the games finished so far are counted")
        out.append(f"Time: {self.seconds:.1f} s")
        return out

    def as_dict(self) -> dict[str, Any]:
        """The final numbers (for ``--json``)."""
        out = self.tally.as_dict(self.sprt)
        if "sprt" in out:
            out["sprt"]["decision"] = self.decision  # type: ignore[index]
        out.update(engines=list(self.names), endings=dict(self.endings),
                   faults={n: dict(f) for n, f in zip(self.names, self.faults)},
                   interrupted=self.interrupted, seconds=round(self.seconds, 3))
        return out


def _other(colour: ColorType) -> ColorType:
    return ColorType.White if colour == ColorType.Black else ColorType.Black


class _Worker:
    """One thread's pair of engine processes, each started on first use and again after it died."""

    def __init__(self, specs: tuple[EngineSpec, EngineSpec]) -> None:
        self.specs = specs
        self.engines: list[usi.Engine | None] = [None, None]

    def engine(self, index: int) -> usi.Engine:
        engine = self.engines[index]
        if engine is None:
            engine = self.engines[index] = self.specs[index].start()
        elif not engine.alive:
            engine.restart()
        return engine

    def kill(self) -> None:
        for engine in self.engines:
            if engine is not None:
                engine.kill()

    def close(self) -> None:
        for engine in self.engines:
            if engine is not None:
                engine.quit()


# Who was at fault when a game ended so: the loser.
_FAULTS = {"crash": "crash", "hang": "hang", "illegal_move": "illegal", "protocol": "protocol", "time_up": "time"}


def _play(match: Match, worker: _Worker, opening: str, black: int, number: int, pair: int) -> GameResult:
    """One game from ``opening``; the first engine plays Black when ``black`` is 0."""
    players = (worker.engine(black), worker.engine(1 - black))
    record = usi.play(*players, start=opening, clock=match.tc, max_plies=match.adjudication.max_plies,
                      adjudicate=match.adjudication)
    record.headers["EVENT"] = f"velkorant match game {number}"
    result = record.result
    # the engine index of each colour (ColorType: 0 Black, 1 White)
    by_colour = (black, 1 - black)
    winner = None if result.winner is None else by_colour[int(result.winner)]
    faults = {}
    if result.reason in _FAULTS and result.winner is not None:
        faults[by_colour[1 - int(result.winner)]] = _FAULTS[result.reason]
    reason = result.reason + (f": {result.message}" if result.message else "")
    return GameResult(number, pair, black, winner, record.ending or "", reason, record, result.plies, faults)


def _pair_openings(match: Match) -> list[str]:
    pairs = (match.games + 1) // 2
    return [match.openings[i % len(match.openings)] for i in range(pairs)]


def run(match: Match) -> tuple[Summary, list[GameResult]]:
    """Plays the match and returns its summary and the games in order. Ctrl-C (or an SPRT
    decision) stops it; the games finished by then are counted and written."""
    started = time.monotonic()
    summary = Summary((match.engines[0].name, match.engines[1].name), sprt=match.sprt)
    results: list[GameResult] = []
    pair_points: dict[int, list[float]] = {}
    lock, stop = threading.Lock(), threading.Event()
    jobs = list(enumerate(_pair_openings(match)))
    jobs.reverse()
    errors: list[BaseException] = []
    workers = [_Worker(match.engines) for _ in range(max(1, match.concurrency))]

    def stop_all() -> None:
        # Games under way end at once (their engines are killed) and are not counted.
        stop.set()
        for worker in workers:
            worker.kill()

    def record_game(result: GameResult) -> None:
        with lock:
            if stop.is_set():
                return
            results.append(result)
            summary.tally.add_game(result.points)
            summary.endings[result.ending] = summary.endings.get(result.ending, 0) + 1
            for index, kind in result.faults.items():
                summary.faults[index][kind] = summary.faults[index].get(kind, 0) + 1
            points = pair_points.setdefault(result.pair, [])
            points.append(result.points)
            if len(points) == 2:
                summary.tally.pentanomial[round(2 * sum(points))] += 1
                if match.sprt is not None and summary.decision is None:
                    summary.decision = match.sprt.decision(summary.tally.pentanomial)
            summary.seconds = time.monotonic() - started
            if match.on_game is not None:
                match.on_game(result, summary)
            if summary.decision:
                stop_all()

    def work(worker: _Worker) -> None:
        try:
            while not stop.is_set():
                with lock:
                    if not jobs:
                        return
                    pair, opening = jobs.pop()
                for black in (0, 1):
                    number = 2 * pair + black + 1
                    if number > match.games or stop.is_set():
                        break
                    record_game(_play(match, worker, opening, black, number, pair))
        except BaseException as error:  # an engine that cannot start at all ends the match
            if not stop.is_set():
                errors.append(error)
                stop_all()
        finally:
            worker.close()

    threads = [threading.Thread(target=work, args=(worker,), daemon=True) for worker in workers]
    for thread in threads:
        thread.start()
    try:
        for thread in threads:
            while thread.is_alive():
                thread.join(0.1)
    except KeyboardInterrupt:
        summary.interrupted = True
        stop_all()
        for thread in threads:
            thread.join(30)
    summary.seconds = time.monotonic() - started
    results.sort(key=lambda r: r.number)
    if match.records:
        write_records(match.records, [r.record for r in results])
    if errors and not results:
        raise errors[0]
    return summary, results


def write_records(path: str, games: Sequence[records.Record]) -> list[str]:
    """Writes the games and returns the files written: all in one CSA file (games separated by
    ``/``), or for KIF and the other formats, which hold one game a file, ``NAME-0001.kif``,
    ``NAME-0002.kif``, ... beside ``path`` (the format from the extension)."""
    stem, extension = os.path.splitext(path)
    fmt: records.Format = {".kif": "kif", ".kifu": "kif", ".ki2": "ki2", ".jkf": "jkf", ".json": "jkf",
                           ".usi": "usi", ".sfen": "sfen"}.get(extension.lower(), "csa")  # type: ignore[assignment]
    if fmt == "csa":
        with open(path, "w", encoding="utf-8") as out:
            out.write(records.dumps_all(list(games), fmt) if games else "")
        return [path]
    paths = [f"{stem}-{i:04d}{extension}" for i in range(1, len(games) + 1)]
    for name, game in zip(paths, games):
        game.dump(name, fmt)
    return paths


def load_book(path: str, *, shuffle: bool = False, seed: int | None = None) -> list[str]:
    """Openings as USI position arguments: from a record file (each game's moves), or from a
    text file of SFENs or USI ``position`` lines (one a line; ``#`` starts a comment)."""
    extension = os.path.splitext(path)[1].lower()
    openings: list[str] = []
    if extension in (".csa", ".kif", ".kifu", ".ki2", ".jkf"):
        for record in records.load_all(path):
            moves = record.moves
            openings.append(f"sfen {record.start}" + (" moves " + " ".join(moves) if moves else ""))
    else:
        with open(path, encoding="utf-8") as lines:
            for number, line in enumerate(lines, 1):
                line = line.split("#", 1)[0].strip()
                if not line:
                    continue
                if line.startswith("position "):
                    line = line[len("position "):]
                if not line.startswith(("startpos", "sfen ")):
                    line = "sfen " + line
                try:
                    Game.from_usi(line)
                except ValueError as error:
                    raise ValueError(f"{path}:{number}: {error}") from None
                openings.append(line)
    if not openings:
        raise ValueError(f"{path}: no openings")
    if shuffle:
        random.Random(seed).shuffle(openings)
    return openings


def load_config(path: str) -> dict[str, Any]:
    """A TOML file: ``[[engine]]`` tables (cmd, name, dir, ``[engine.options]``) and any of the
    command's long options as keys (``games = 100``, ``tc = "byoyomi=100"``)."""
    try:
        toml = importlib.import_module("tomllib")  # Python 3.11 on
    except ImportError:
        try:
            toml = importlib.import_module("tomli")
        except ImportError:
            raise ValueError("reading a TOML file needs Python 3.11 or the tomli package") from None
    with open(path, "rb") as data:
        config: dict[str, Any] = toml.load(data)
    return config


def parser() -> argparse.ArgumentParser:
    """The command line of ``velkorant match``."""
    p = argparse.ArgumentParser(prog="velkorant match", description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--engine", nargs="+", action="append", metavar="KEY=VALUE", default=[],
                   help="cmd=COMMAND name=NAME dir=DIR option.NAME=VALUE (twice: first, second engine)")
    p.add_argument("--config", help="a TOML file with the engines and any of these options")
    p.add_argument("--games", type=int, help="games to play, in pairs with colours swapped (2)")
    p.add_argument("--concurrency", type=int, help="games at once (1)")
    p.add_argument("--tc", help="byoyomi=MS, time=MS, inc=MS, SECONDS+INCREMENT, margin=MS (grace before a "
                   "move is late, 1000), joined by commas (byoyomi=1000)")
    p.add_argument("--book", help="openings: SFENs or USI position lines, one a line, or a record file")
    p.add_argument("--shuffle", action="store_true", help="take the openings in a random order")
    p.add_argument("--seed", type=int, help="the shuffle's seed")
    p.add_argument("--resign", help="SCORE,MOVES: adjudicate a loss both engines agree on (off)")
    p.add_argument("--draw", help="SCORE,MOVES,FROM_PLY: adjudicate a quiet game a draw (off)")
    p.add_argument("--declare", action="store_true", default=None,
                   help="adjudicate a win as soon as the side to move may declare (27-point rule)")
    p.add_argument("--max-plies", type=int, help="ply limit, a draw (512)")
    p.add_argument("--records", help="write every game here: CSA, or KIF by extension")
    p.add_argument("--sprt", nargs="+", metavar="KEY=VALUE", help="elo0=0 elo1=5 alpha=0.05 beta=0.05")
    p.add_argument("--json", help="write the final numbers here as JSON")
    return p


def _build(args: argparse.Namespace) -> Match:
    config = load_config(args.config) if args.config else {}
    engines = [EngineSpec(str(e["cmd"]), str(e.get("name", "")), {k: str(v) for k, v in e.get("options", {}).items()},
                          e.get("dir")) for e in config.get("engine", [])]
    engines += [EngineSpec.parse(words) for words in args.engine]
    if len(engines) != 2:
        raise ValueError(f"a match needs two engines, not {len(engines)}")

    def pick(name: str, default: Any) -> Any:
        value = getattr(args, name.replace("-", "_"), None)
        return value if value is not None else config.get(name, default)

    adj = Adjudication(max_plies=int(pick("max-plies", 512)), declare=bool(pick("declare", False)))
    if pick("resign", None):
        score, moves = str(pick("resign", "")).split(",")
        adj.resign_score, adj.resign_moves = int(score), int(moves)
    if pick("draw", None):
        score, moves, after = str(pick("draw", "")).split(",")
        adj.draw_score, adj.draw_moves, adj.draw_after = int(score), int(moves), int(after)
    sprt_words = args.sprt or config.get("sprt")
    sprt = None
    if sprt_words:
        values = sprt_words if isinstance(sprt_words, dict) else dict(w.split("=", 1) for w in sprt_words)
        sprt = stats.Sprt(**{k: float(v) for k, v in values.items()})
    book = pick("book", None)
    openings = load_book(book, shuffle=bool(pick("shuffle", False)), seed=pick("seed", None)) if book else ["startpos"]
    games = int(pick("games", 2))
    if games < 1:
        raise ValueError("--games must be at least 1")
    tc_text = str(pick("tc", "byoyomi=1000"))
    tc = usi.Clock.parse(tc_text if "margin" in tc_text else tc_text + ",margin=1000")
    return Match((engines[0], engines[1]), tc, games,
                 max(1, int(pick("concurrency", 1))), openings, adj, sprt, pick("records", None))


class _Progress:
    """A live table on a terminal (when rich is installed), else one line per game."""

    def __init__(self, match: Match) -> None:
        self.match = match
        self.live: Any = None
        if sys.stdout.isatty():
            try:
                live = importlib.import_module("rich.live")
            except ImportError:
                pass
            else:
                self.live = live.Live(self._table(None), refresh_per_second=4)
                self.live.start()

    def _table(self, summary: Summary | None) -> Any:
        table = importlib.import_module("rich.table").Table(title=" vs ".join(e.name for e in self.match.engines))
        for column in ("games", "W-D-L", "score", "Elo", "LOS", "pairs", "LLR"):
            table.add_column(column, justify="right")
        if summary is not None:
            t = summary.tally
            elo, err = t.elo()
            llr = f"{summary.sprt.llr(t.pentanomial):.2f}" if summary.sprt else "-"
            table.add_row(f"{t.games}/{self.match.games}", f"{t.wins}-{t.draws}-{t.losses}", f"{100 * t.score:.1f}%",
                          f"{elo:.1f} +/- {err:.1f}", f"{100 * t.los():.1f}%", str(t.pentanomial), llr)
        return table

    def game(self, result: GameResult, summary: Summary) -> None:
        if self.live is not None:
            self.live.update(self._table(summary))
            return
        t = summary.tally
        elo, err = t.elo()
        black, white = result.record.headers["black"], result.record.headers["white"]
        outcome = "1/2-1/2" if result.winner is None else ("1-0" if result.winner == result.black else "0-1")
        llr = f", LLR {summary.sprt.llr(t.pentanomial):.2f}" if summary.sprt else ""
        print(f"Game {result.number}: {black} vs {white} {outcome} ({result.reason}, {result.plies} plies); "
              f"{t.wins}-{t.draws}-{t.losses}, Elo {elo:.1f} +/- {err:.1f}{llr}", flush=True)

    def close(self) -> None:
        if self.live is not None:
            self.live.stop()


def main(argv: Sequence[str] | None = None) -> int:
    """``velkorant match``: 0 when the match was played, 2 for a bad command line or config,
    1 when an engine cannot be started, 130 when interrupted."""
    try:
        match = _build(parser().parse_args(argv))
    except (OSError, ValueError, TypeError) as error:
        print(f"velkorant match: {error}", file=sys.stderr)
        return 2
    args = parser().parse_args(argv)
    progress = _Progress(match)
    match.on_game = progress.game
    try:
        summary, _ = run(match)
    except (usi.EngineError, OSError) as error:
        progress.close()
        print(f"velkorant match: {error}", file=sys.stderr)
        return 1
    progress.close()
    print("-" * 50)
    print("\n".join(summary.lines()))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump(summary.as_dict(), out, indent=2, default=lambda v: None)
    return 130 if summary.interrupted else 0


if __name__ == "__main__":
    sys.exit(main())
