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

from velkorant import Game, records, stats, usi  # type: ignore[attr-defined]
from velkorant._core import ColorType

__all__ = ["EngineSpec", "TimeControl", "Adjudication", "Match", "GameResult", "Summary", "run", "main",
           "load_book", "load_config"]

_DRAW = ColorType(255)


@dataclass
class EngineSpec:
    """How to start one engine: its command line, a name for the tables and its USI options."""

    cmd: str
    name: str = ""
    options: dict[str, str] = field(default_factory=dict)
    cwd: str | None = None

    def __post_init__(self) -> None:
        self.name = self.name or os.path.basename(shlex.split(self.cmd)[0])

    @classmethod
    def parse(cls, words: Sequence[str]) -> EngineSpec:
        """From ``cmd=... name=... option.Threads=1 dir=...`` words."""
        values: dict[str, str] = {}
        options: dict[str, str] = {}
        for word in words:
            key, sep, value = word.partition("=")
            if not sep:
                raise ValueError(f"engine setting {word!r} is not key=value")
            if key.startswith("option."):
                options[key[len("option."):]] = value
            elif key in ("cmd", "name", "dir"):
                values[key] = value
            else:
                raise ValueError(f"unknown engine setting {key!r} (cmd, name, dir, option.NAME)")
        if "cmd" not in values:
            raise ValueError("an engine needs cmd=COMMAND")
        return cls(values["cmd"], values.get("name", ""), options, values.get("dir"))


@dataclass
class TimeControl:
    """Byoyomi (ms per move), or a main time plus an increment (ms), or both; ``margin`` ms of
    grace before a move counts as too late."""

    byoyomi: int = 0
    time: int = 0
    increment: int = 0
    margin: int = 1000

    @classmethod
    def parse(cls, text: str) -> TimeControl:
        """``byoyomi=1000``, ``10+0.1`` (seconds), ``60+0`` with ``byoyomi=...`` after a comma."""
        tc = cls()
        for part in text.split(","):
            part = part.strip()
            if part.startswith("byoyomi="):
                tc.byoyomi = int(float(part[len("byoyomi="):]))
            elif part.startswith("margin="):
                tc.margin = int(float(part[len("margin="):]))
            elif "+" in part:
                main, inc = part.split("+", 1)
                tc.time, tc.increment = round(float(main) * 1000), round(float(inc) * 1000)
            else:
                raise ValueError(f"time control {text!r}: use byoyomi=MS or SECONDS+INCREMENT")
        if tc.byoyomi <= 0 and tc.time <= 0 and tc.increment <= 0:
            raise ValueError(f"time control {text!r} gives no time")
        return tc

    def __str__(self) -> str:
        parts = [f"{self.time / 1000:g}+{self.increment / 1000:g}"] if self.time or self.increment else []
        return ", ".join(parts + ([f"byoyomi {self.byoyomi} ms"] if self.byoyomi else []))


@dataclass
class Adjudication:
    """When a game is decided before its end: a resignation both engines agree on (the score at
    or below ``-resign_score`` for the loser and at or above it for the winner, ``resign_moves``
    moves each), a draw after ``draw_moves`` moves each within ``draw_score`` of 0 from ply
    ``draw_after``, and the ply limit (a draw). 0 turns a rule off."""

    resign_score: int = 0
    resign_moves: int = 3
    draw_score: int = 0
    draw_moves: int = 8
    draw_after: int = 80
    max_plies: int = 512


@dataclass
class Match:
    """A match: the first engine is the one the statistics speak for."""

    engines: tuple[EngineSpec, EngineSpec]
    tc: TimeControl = field(default_factory=lambda: TimeControl(byoyomi=1000))
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
    the winner as an engine index (None for a draw), how it ended and its record."""

    number: int
    pair: int
    black: int
    winner: int | None
    ending: str
    reason: str
    record: records.Record
    plies: int

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


class _Fault(Exception):
    """An engine broke the game: ``kind`` is crash, hang, illegal or time."""

    def __init__(self, kind: str, detail: str) -> None:
        super().__init__(detail)
        self.kind = kind


def _info(result: Any, key: str) -> Any:
    info = getattr(result, "info", None)
    if info is None:
        return None
    return info.get(key) if isinstance(info, dict) else getattr(info, key, None)


def _score(result: Any) -> int | None:
    """The engine's score in centipawns for itself (mates as +-100000)."""
    cp, mate = _info(result, "score_cp"), _info(result, "score_mate")
    if mate is not None:
        return 100000 if mate > 0 or str(mate) == "+0" else -100000
    return None if cp is None else int(cp)


class _Worker:
    """One thread's pair of engine processes, started again after a fault."""

    def __init__(self, specs: tuple[EngineSpec, EngineSpec]) -> None:
        self.specs = specs
        self.engines: list[Any] = [None, None]

    def engine(self, index: int) -> Any:
        if self.engines[index] is None:
            spec = self.specs[index]
            self.engines[index] = usi.Engine(spec.cmd, options=spec.options or None, cwd=spec.cwd, name=spec.name)
        return self.engines[index]

    def drop(self, index: int) -> None:
        engine, self.engines[index] = self.engines[index], None
        if engine is not None:
            try:
                engine.quit()
            except Exception:  # a broken engine is killed by quit; nothing more to do
                pass

    def close(self) -> None:
        self.drop(0)
        self.drop(1)


def _play(match: Match, worker: _Worker, opening: str, black: int, stop: threading.Event,
          ) -> tuple[int | None, str, str, records.Record, dict[int, str]] | None:
    """One game; the first engine plays Black when ``black`` is 0. Returns the winner (engine
    index or None), the record's ending, a reason, the record and the faults by engine; None
    when the match was stopped meanwhile."""
    tc, adj = match.tc, match.adjudication
    game = Game.from_usi(opening)
    start = game.copy()
    while start.history:
        start.pop()
    names = [match.engines[black].name, match.engines[1 - black].name]
    record = records.Record(start.sfen(), {"black": names[0], "white": names[1]})
    node = record.root
    for move in opening.partition(" moves ")[2].split():
        node = node.add_variation(move)
    engines_by_side = (black, 1 - black)  # side (0 Black, 1 White) -> engine index
    remaining = [tc.time, tc.time]
    scores: list[list[int | None]] = [[], []]  # per side, its engines' scores for itself
    faults: dict[int, str] = {}
    quiet = 0
    for side in (0, 1):
        engine = worker.engine(engines_by_side[side])
        if hasattr(engine, "new_game"):
            engine.new_game()

    def finish(winner_side: int | None, ending: str, reason: str) -> tuple[int | None, str, str, records.Record,
                                                                           dict[int, str]]:
        record.ending = ending
        record.winner = _DRAW if winner_side is None else (ColorType.Black, ColorType.White)[winner_side]
        winner = None if winner_side is None else engines_by_side[winner_side]
        return winner, ending, reason, record, faults

    while True:
        if stop.is_set():
            return None
        outcome = game.outcome()
        if outcome is not None:
            winner_colour, why = outcome
            ending = {"checkmate": "checkmate", "no_legal_moves": "checkmate", "repetition": "repetition",
                      "perpetual_check": "illegal_move"}[why]
            return finish(None if winner_colour == _DRAW else int(winner_colour), ending, why)
        if len(game.history) >= adj.max_plies:
            return finish(None, "max_moves", "ply limit")
        side = int(game.turn)
        index = engines_by_side[side]
        limits: dict[str, int] = {}
        if tc.byoyomi:
            limits["byoyomi"] = tc.byoyomi
        if tc.time or tc.increment:
            limits.update(btime=remaining[0], wtime=remaining[1])
            if tc.increment:
                limits.update(binc=tc.increment, winc=tc.increment)
        allowed = remaining[side] + tc.byoyomi + tc.increment
        try:
            engine = worker.engine(index)
            result = engine.go(game, timeout=(allowed + tc.margin) / 1000 + 1.0, **limits)
        except usi.EngineTimeout as error:
            faults[index] = "hang"
            worker.drop(index)
            return finish(1 - side, "time_up", f"{match.engines[index].name} hung: {error}")
        except usi.EngineError as error:
            faults[index] = "crash"
            worker.drop(index)
            return finish(1 - side, "abort", f"{match.engines[index].name} failed: {error}")
        spent = round(result.elapsed * 1000)
        if tc.time or tc.increment:
            left = remaining[side] - spent
            if left < -tc.byoyomi - tc.margin:
                faults[index] = "time"
                return finish(1 - side, "time_up", f"{match.engines[index].name} lost on time")
            remaining[side] = max(left, 0) + tc.increment
        elif spent > tc.byoyomi + tc.margin:
            faults[index] = "time"
            return finish(1 - side, "time_up", f"{match.engines[index].name} lost on time")
        move = result.bestmove
        if move == "resign":
            return finish(1 - side, "resign", f"{match.engines[index].name} resigned")
        if move == "win":
            if game.can_declare():
                return finish(side, "declaration", f"{match.engines[index].name} declared a win")
            faults[index] = "illegal"
            return finish(1 - side, "illegal_move", f"{match.engines[index].name} declared without the points")
        try:
            game.push_usi(move)
        except ValueError:
            faults[index] = "illegal"
            worker.drop(index)  # its idea of the position may be off: start afresh
            return finish(1 - side, "illegal_move", f"{match.engines[index].name} played illegal {move!r}")
        score = _score(result)
        pv = _info(result, "pv") or []
        comment = ""
        if score is not None:
            black_view = score if side == 0 else -score
            comment = f"** {black_view} " + " ".join(pv[1:] if pv[:1] == [move] else pv)
        node = node.add_variation(move, comment.rstrip(), spent / 1000)
        scores[side].append(score)
        # adjudication: both engines' last scores agree that one side is lost
        if adj.resign_score and len(scores[0]) >= adj.resign_moves and len(scores[1]) >= adj.resign_moves:
            for loser in (0, 1):
                own = scores[loser][-adj.resign_moves:]
                other = scores[1 - loser][-adj.resign_moves:]
                if all(s is not None and s <= -adj.resign_score for s in own) and \
                        all(s is not None and s >= adj.resign_score for s in other):
                    return finish(1 - loser, "resign", "adjudicated: both engines agree")
        if adj.draw_score and len(game.history) >= adj.draw_after:
            quiet = quiet + 1 if score is not None and abs(score) <= adj.draw_score else 0
            if quiet >= 2 * adj.draw_moves:
                return finish(None, "max_moves", "adjudicated draw")


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

    def record_game(result: GameResult, faults: dict[int, str]) -> None:
        with lock:
            results.append(result)
            summary.tally.add_game(result.points)
            summary.endings[result.ending] = summary.endings.get(result.ending, 0) + 1
            for index, kind in faults.items():
                summary.faults[index][kind] = summary.faults[index].get(kind, 0) + 1
            points = pair_points.setdefault(result.pair, [])
            points.append(result.points)
            if len(points) == 2:
                summary.tally.pentanomial[round(2 * sum(points))] += 1
                if match.sprt is not None and summary.decision is None:
                    summary.decision = match.sprt.decision(summary.tally.pentanomial)
                    if summary.decision:
                        stop.set()
            summary.seconds = time.monotonic() - started
            if match.on_game is not None:
                match.on_game(result, summary)

    def work() -> None:
        worker = _Worker(match.engines)
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
                    played = _play(match, worker, opening, black, stop)
                    if played is None:
                        break
                    winner, ending, reason, record, faults = played
                    record.headers["EVENT"] = f"velkorant match game {number}"
                    record_game(GameResult(number, pair, black, winner, ending, reason, record,
                                           len(record.moves)), faults)
        except BaseException as error:  # an engine that cannot start at all ends the match
            errors.append(error)
            stop.set()
        finally:
            worker.close()

    threads = [threading.Thread(target=work, daemon=True) for _ in range(max(1, match.concurrency))]
    for thread in threads:
        thread.start()
    try:
        for thread in threads:
            while thread.is_alive():
                thread.join(0.1)
    except KeyboardInterrupt:
        summary.interrupted = True
        stop.set()
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
        import tomllib as toml
    except ImportError:
        try:
            import tomli as toml  # type: ignore[no-redef]
        except ImportError:
            raise ValueError("reading a TOML file needs Python 3.11 or the tomli package") from None
    with open(path, "rb") as data:
        return toml.load(data)


def parser() -> argparse.ArgumentParser:
    """The command line of ``velkorant match``."""
    p = argparse.ArgumentParser(prog="velkorant match", description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--engine", nargs="+", action="append", metavar="KEY=VALUE", default=[],
                   help="cmd=COMMAND name=NAME dir=DIR option.NAME=VALUE (twice: first, second engine)")
    p.add_argument("--config", help="a TOML file with the engines and any of these options")
    p.add_argument("--games", type=int, help="games to play, in pairs with colours swapped (2)")
    p.add_argument("--concurrency", type=int, help="games at once (1)")
    p.add_argument("--tc", help="byoyomi=MS, or SECONDS+INCREMENT, or both with a comma (byoyomi=1000)")
    p.add_argument("--book", help="openings: SFENs or USI position lines, one a line, or a record file")
    p.add_argument("--shuffle", action="store_true", help="take the openings in a random order")
    p.add_argument("--seed", type=int, help="the shuffle's seed")
    p.add_argument("--resign", help="SCORE,MOVES: adjudicate a loss both engines agree on (off)")
    p.add_argument("--draw", help="SCORE,MOVES,FROM_PLY: adjudicate a quiet game a draw (off)")
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

    adj = Adjudication(max_plies=int(pick("max-plies", 512)))
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
    return Match((engines[0], engines[1]), TimeControl.parse(str(pick("tc", "byoyomi=1000"))), games,
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
