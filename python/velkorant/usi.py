"""USI engines: start one, ask it for moves, and play games between engines as records.

::

    from velkorant import Game, usi

    with usi.Engine("fairy-stockfish", options={"Threads": 1}) as engine:
        engine.id_name, engine.options["Hash"]          # what the engine declared
        result = engine.go(Game(), byoyomi=1000)        # position + go; waits for bestmove
        result.bestmove, result.info.score_cp, result.info.pv, result.elapsed

    with usi.Engine("fairy-stockfish") as a, usi.Engine("gpsusi") as b:
        record = usi.play(a, b, clock=usi.Clock(byoyomi=1000))
        record.result.winner, record.result.reason     # also record.ending / record.winner
        record.dump("game.csa")                         # every move with its time and evaluation

Every read from an engine has a deadline: an engine that dies, stays silent or writes something
that is not USI raises ``EngineError`` (``EngineTimeout`` for silence) with the last lines of
its output and its error stream, and never hangs the caller. In ``play`` such faults, illegal
moves and late answers lose the game for the side at fault instead of raising; the record's
``result`` says what happened and to whom, and an engine that was killed is started again with
``Engine.restart()``.

Standard library only, besides velkorant.
"""

from __future__ import annotations

import collections
import dataclasses
import os
import queue
import re
import shlex
import subprocess
import threading
import time
from collections.abc import Callable, Mapping, Sequence
from typing import IO, Union

from velkorant._core import ColorType, Game
from velkorant.records import Record

__all__ = ["Engine", "EngineError", "EngineTimeout", "Option", "Info", "SearchResult", "Clock",
           "GameResult", "GameRecord", "Player", "play"]

# A USI move: a board move "7g7f" / "8h2b+" or a drop "P*5e".
_MOVE = re.compile(r"[1-9][a-i][1-9][a-i]\+?|[PLNSGBR]\*[1-9][a-i]")
# The first words of the lines an engine may write while it is asked something.
_ENGINE_WORDS = frozenset({"id", "option", "usiok", "readyok", "info", "bestmove", "checkmate"})
_NO_MOVE = frozenset({"(none)", "none", "0000"})
# The score of a mate whose length the engine does not say ("score mate +" / "mate -").
MATE_UNKNOWN = 1000


class EngineError(Exception):
    """An engine failed: it could not start, died, wrote something that is not USI, or was
    given an option it does not have. ``engine`` is its name; ``stderr`` its last error lines."""

    def __init__(self, message: str, engine: str = "", stderr: Sequence[str] = ()) -> None:
        super().__init__(message)
        self.engine = engine
        self.stderr = list(stderr)


class EngineTimeout(EngineError):
    """An engine did not answer within the deadline."""


@dataclasses.dataclass(frozen=True)
class Option:
    """An option an engine declares: ``type`` is check, spin, combo, button, string or filename;
    ``default`` is its text as declared (``None`` when none); ``min`` and ``max`` bound a spin;
    ``vars`` are a combo's choices."""

    name: str
    type: str
    default: str | None = None
    min: int | None = None
    max: int | None = None
    vars: tuple[str, ...] = ()

    def text(self, value: object) -> str:
        """The USI text of ``value`` for this option; ``ValueError`` when it does not fit."""
        if self.type == "check":
            if isinstance(value, bool):
                return "true" if value else "false"
            if str(value).lower() in ("true", "false"):
                return str(value).lower()
            raise ValueError(f"option {self.name!r} is a check: true or false, not {value!r}")
        if self.type == "spin":
            try:
                number = int(str(value))
            except ValueError:
                raise ValueError(f"option {self.name!r} is a spin: an integer, not {value!r}") from None
            if (self.min is not None and number < self.min) or (self.max is not None and number > self.max):
                raise ValueError(f"option {self.name!r} is {self.min}..{self.max}, not {number}")
            return str(number)
        if self.type == "combo" and self.vars and str(value) not in self.vars:
            raise ValueError(f"option {self.name!r} is one of {list(self.vars)}, not {value!r}")
        return str(value)


def _parse_option(words: list[str]) -> Option | None:
    """An ``option name N type T default D min A max B var V ...`` line; names and values may
    hold spaces (a value runs to the next keyword)."""
    keywords = {"name", "type", "default", "min", "max", "var"}
    fields: dict[str, list[str]] = {}
    vars_: list[str] = []
    key = ""
    for word in words[1:]:
        if word in keywords and not (key == "name" and word == "name"):
            key = word
            if key == "var":
                vars_.append("")
            else:
                fields.setdefault(key, [])
        elif key == "var":
            vars_[-1] = f"{vars_[-1]} {word}".strip()
        elif key:
            fields[key].append(word)
    if not fields.get("name") or not fields.get("type"):
        return None

    def number(key: str) -> int | None:
        try:
            return int(fields[key][0]) if fields.get(key) else None
        except ValueError:
            return None

    default = " ".join(fields["default"]) if "default" in fields else None
    if default == "<empty>":  # the USI way of declaring an empty string
        default = ""
    return Option(" ".join(fields["name"]), fields["type"][0], default, number("min"), number("max"),
                  tuple(vars_))


@dataclasses.dataclass(frozen=True)
class Info:
    """What an engine said of its search: each field from the last ``info`` line that gave it
    (for the first line of a multi-PV search). ``score_cp`` is in centipawns and ``score_mate``
    in plies (negative: the engine is mated; ``MATE_UNKNOWN`` when the engine gives no length),
    both from the side to move; ``time`` is milliseconds; ``pv`` the moves in USI."""

    depth: int | None = None
    seldepth: int | None = None
    score_cp: int | None = None
    score_mate: int | None = None
    nodes: int | None = None
    nps: int | None = None
    time: int | None = None
    pv: tuple[str, ...] = ()
    multipv: int | None = None

    def score(self) -> int | None:
        """The score in centipawns for the side to move, a mate as +-100000 (``None`` when the
        engine gave neither)."""
        if self.score_mate is not None:
            return 100000 if self.score_mate > 0 else -100000
        return self.score_cp

    def comment(self) -> str:
        """The info as a record's comment: ``cp 35 depth 12 nodes 5000 pv 7g7f 3c3d``."""
        parts = []
        if self.score_mate is not None:
            parts.append(f"mate {self.score_mate}")
        elif self.score_cp is not None:
            parts.append(f"cp {self.score_cp}")
        for name in ("depth", "seldepth", "nodes"):
            value = getattr(self, name)
            if value is not None:
                parts.append(f"{name} {value}")
        if self.pv:
            parts.append("pv " + " ".join(self.pv))
        return " ".join(parts)


_INT_FIELDS = ("depth", "seldepth", "nodes", "nps", "time", "multipv")


def _read_info(words: list[str], fields: dict[str, object]) -> None:
    """Updates ``fields`` from one ``info`` line (the words after ``info``)."""
    i = 0
    while i < len(words):
        word = words[i]
        if word in _INT_FIELDS and i + 1 < len(words):
            try:
                fields[word] = int(words[i + 1])
            except ValueError:
                pass
            i += 2
        elif word == "score" and i + 2 < len(words):
            kind, value = words[i + 1], words[i + 2]
            if kind == "cp":
                try:
                    fields["score_cp"], fields["score_mate"] = int(value), None
                except ValueError:
                    pass
            elif kind == "mate":
                mate = {"+": MATE_UNKNOWN, "-": -MATE_UNKNOWN}.get(value)
                try:
                    fields["score_mate"], fields["score_cp"] = mate if mate is not None else int(value), None
                except ValueError:
                    pass
            i += 3
        elif word == "pv":
            fields["pv"] = tuple(words[i + 1:])
            return
        elif word == "string":
            return
        else:
            i += 1


@dataclasses.dataclass(frozen=True)
class SearchResult:
    """An engine's answer to ``go``: ``bestmove`` (USI, or ``"resign"`` / ``"win"``; ``"none"``
    when the engine says it has no move), ``ponder`` (or ``None``), ``info`` (see ``Info``),
    ``elapsed`` seconds from ``go`` to ``bestmove`` as the client measured them, and every line
    the engine wrote meanwhile."""

    bestmove: str
    ponder: str | None
    info: Info
    elapsed: float
    lines: tuple[str, ...] = ()


Player = Union["Engine", Callable[[Game], str]]
"""A player of ``play``: an engine, or a function from the game to its move in USI (or
``"resign"`` / ``"win"``)."""

_Line = tuple[float, Union[str, None]]  # when a line came, and the line (None at the end)


class Engine:
    """One USI engine process.

    ``command`` is a command line (split as a shell would) or a list of arguments. The engine is
    started, asked ``usi`` (its ``id name``, ``id author`` and declared ``options`` are kept),
    given ``options`` (names it does not declare, and values that do not fit, raise
    ``EngineError``) and asked ``isready``. ``timeout`` is how many seconds any answer may take
    beyond the time the question itself allows. ``name`` defaults to the engine's ``id name``.

    Use it as a context manager, or call ``quit()``; ``restart()`` starts a new process the same
    way after a fault.
    """

    def __init__(self, command: str | Sequence[str], *, options: Mapping[str, object] | None = None,
                 cwd: str | os.PathLike[str] | None = None, name: str | None = None, timeout: float = 10.0) -> None:
        self.command: list[str] = shlex.split(command) if isinstance(command, str) else list(command)
        if not self.command:
            raise ValueError("an empty engine command")
        self.cwd = cwd
        self.timeout = timeout
        self.given_options: dict[str, object] = dict(options or {})
        self._given_name = name
        self.name: str = name or os.path.basename(self.command[0])
        self.id_name = ""
        self.author = ""
        self.options: dict[str, Option] = {}
        self._process: subprocess.Popen[str] | None = None
        self._start()

    # -- the process ---------------------------------------------------------------------------

    def _start(self) -> None:
        self._lines: queue.Queue[_Line] = queue.Queue()
        self._recent: collections.deque[str] = collections.deque(maxlen=10)
        self._stderr: collections.deque[str] = collections.deque(maxlen=20)
        try:
            process = subprocess.Popen(self.command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, cwd=self.cwd, text=True, bufsize=1,
                                       start_new_session=True,  # Ctrl-C is the client's to handle
                                       encoding="utf-8", errors="replace")
        except OSError as error:
            raise EngineError(f"{self.name}: cannot start {self.command!r}: {error}", self.name) from None
        self._process = process
        assert process.stdout is not None and process.stderr is not None
        self._readers = [threading.Thread(target=self._read_lines, args=(process.stdout,), daemon=True),
                         threading.Thread(target=self._read_errors, args=(process.stderr,), daemon=True)]
        for reader in self._readers:
            reader.start()
        try:
            self._handshake()
        except BaseException:
            self.kill()
            raise

    def _read_lines(self, stream: IO[str]) -> None:
        try:
            for line in stream:
                self._lines.put((time.monotonic(), line.rstrip("\r\n")))
        except (OSError, ValueError):
            pass
        self._lines.put((time.monotonic(), None))

    def _read_errors(self, stream: IO[str]) -> None:
        try:
            for line in stream:
                self._stderr.append(line.rstrip("\r\n"))
        except (OSError, ValueError):
            pass

    def _handshake(self) -> None:
        self.send("usi")
        for line in self.read_until("usiok", strict=False):
            words = line.split()
            if words[:2] == ["id", "name"]:
                self.id_name = line.split(None, 2)[2] if len(words) > 2 else ""
            elif words[:2] == ["id", "author"]:
                self.author = line.split(None, 2)[2] if len(words) > 2 else ""
            elif words[:1] == ["option"]:
                option = _parse_option(words)
                if option is not None:
                    self.options[option.name] = option
        self.name = self._given_name or self.id_name or self.name
        for key, value in self.given_options.items():
            self.set_option(key, value)
        self.isready()

    @property
    def alive(self) -> bool:
        """Whether the engine's process is running."""
        return self._process is not None and self._process.poll() is None

    @property
    def stderr(self) -> list[str]:
        """The last lines the engine wrote to its error stream."""
        return list(self._stderr)

    def _error(self, what: str, kind: type[EngineError] = EngineError) -> EngineError:
        """An error naming the engine, what went wrong and what it said last."""
        parts = [f"{self.name}: {what}"]
        if self._process is not None and self._process.poll() is not None:
            parts.append(f"exit status {self._process.returncode}")
            self._readers[1].join(timeout=0.5)  # its last words on the error stream
        if self._recent:
            parts.append("last output: " + " | ".join(self._recent))
        if self._stderr:
            parts.append("stderr: " + " | ".join(self._stderr))
        return kind("; ".join(parts), self.name, self.stderr)

    def send(self, line: str) -> None:
        """Writes one command line to the engine."""
        process = self._process
        if process is None or process.stdin is None or process.poll() is not None:
            raise self._error(f"cannot send {line!r}: the engine is not running")
        try:
            process.stdin.write(line + "\n")
            process.stdin.flush()
        except (OSError, ValueError):
            raise self._error(f"cannot send {line!r}: the engine has gone") from None

    def _next(self, deadline: float, waiting_for: str) -> tuple[float, str]:
        try:
            when, line = self._lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            raise self._error(f"no {waiting_for!r} in time", EngineTimeout) from None
        if line is None:
            self._lines.put((when, None))  # every later read sees the end too
            if self._process is not None:
                try:
                    self._process.wait(timeout=1)
                except subprocess.TimeoutExpired:
                    pass
            raise self._error(f"the engine's output ended while waiting for {waiting_for!r}")
        self._recent.append(line)
        return when, line

    def read_until(self, word: str, timeout: float | None = None, *, strict: bool = True) -> list[str]:
        """The lines the engine writes up to and including the first whose first word is
        ``word``, within ``timeout`` seconds (``Engine.timeout`` when not given). With
        ``strict``, a line that is not USI (other than an empty one) raises ``EngineError``."""
        return [line for _, line in self._read_until(word, timeout, strict)]

    def _read_until(self, word: str, timeout: float | None, strict: bool,
                    other: str = "") -> list[tuple[float, str]]:
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        lines = []
        while True:
            when, line = self._next(deadline, word)
            lines.append((when, line))
            first = line.split()[:1]
            if first == [word] or (other and first == [other]):
                return lines
            if strict and first and first[0] not in _ENGINE_WORDS:
                raise self._error(f"not USI: {line!r}")

    # -- commands ------------------------------------------------------------------------------

    def set_option(self, name: str, value: object) -> None:
        """``setoption name <name> value <value>`` for an option the engine declares."""
        option = self.options.get(name)
        if option is None:
            raise self._error(f"has no option {name!r} (it declares {sorted(self.options)})")
        try:
            text = option.text(value)
        except ValueError as error:
            raise self._error(str(error)) from None
        self.send(f"setoption name {name}" + ("" if option.type == "button" else f" value {text}"))

    def isready(self, timeout: float | None = None) -> None:
        """``isready``; waits for ``readyok``."""
        self.send("isready")
        self.read_until("readyok", timeout, strict=False)

    def new_game(self) -> None:
        """``isready`` then ``usinewgame``: done before each game."""
        self.isready()
        self.send("usinewgame")

    def game_over(self, result: str) -> None:
        """``gameover win``, ``lose`` or ``draw``, from this engine's side; then ``isready``, so
        that whatever the engine says to it is read before the next question."""
        self.send(f"gameover {result}")
        self.isready()

    def go(self, game: Game, *, byoyomi: int | None = None, btime: int | None = None, wtime: int | None = None,
           binc: int | None = None, winc: int | None = None, movetime: int | None = None, depth: int | None = None,
           nodes: int | None = None, timeout: float | None = None) -> SearchResult:
        """Sends the game's ``position`` and ``go`` with the limits given (milliseconds, as USI
        counts them) and waits for ``bestmove``.

        The wait is ``timeout`` seconds when given, else the time the limits allow the side to
        move plus ``Engine.timeout``. When it runs out the engine is sent ``stop``; if it still
        gives no ``bestmove`` within a second it is killed. Either way ``EngineTimeout`` is
        raised. A best move that is not USI raises ``EngineError``; whether the move is legal
        is for the caller to see."""
        words: list[str] = []
        if byoyomi is not None or binc is not None or winc is not None:
            btime, wtime = btime or 0, wtime or 0
        for key, value in (("btime", btime), ("wtime", wtime), ("byoyomi", byoyomi), ("binc", binc),
                           ("winc", winc), ("movetime", movetime), ("depth", depth), ("nodes", nodes)):
            if value is not None:
                if int(value) < 0:
                    raise ValueError(f"{key} must not be negative")
                words += [key, str(int(value))]
        if not words:
            raise ValueError("give go a limit: byoyomi, btime/wtime, movetime, depth or nodes")
        if timeout is None:
            black = game.turn == ColorType.Black
            allowed = movetime if movetime is not None else (
                (btime if black else wtime) or 0) + (byoyomi or 0) + ((binc if black else winc) or 0)
            timeout = allowed / 1000 + self.timeout
        self.send("position " + game.usi())
        return self._search("go " + " ".join(words), timeout)

    def _search(self, command: str, timeout: float) -> SearchResult:
        while True:  # lines left from before (a late answer to an earlier question) are dropped
            try:
                when, line = self._lines.get_nowait()
            except queue.Empty:
                break
            if line is None:
                self._lines.put((when, None))
                break
        started = time.monotonic()  # before the question: the answer's stamp is never earlier
        self.send(command)
        try:
            lines = self._read_until("bestmove", timeout, True)
        except EngineTimeout:
            self._stop_or_kill()
            raise
        when, last = lines[-1]
        words = last.split()
        if len(words) < 2:
            raise self._error(f"bestmove without a move: {last!r}")
        best = "none" if words[1] in _NO_MOVE else words[1]
        if best not in ("resign", "win", "none") and not _MOVE.fullmatch(best):
            raise self._error(f"bestmove {best!r} is not a USI move")
        ponder = words[3] if len(words) >= 4 and words[2] == "ponder" else None
        fields: dict[str, object] = {}
        for _, line in lines[:-1]:
            info = line.split()
            if info[:1] == ["info"]:
                multipv = re.search(r"\bmultipv (\d+)", line)
                if multipv is None or multipv.group(1) == "1":
                    _read_info(info[1:], fields)
        return SearchResult(best, ponder, Info(**fields), when - started,  # type: ignore[arg-type]
                            tuple(line for _, line in lines))

    def _stop_or_kill(self) -> None:
        """After a time-out: ``stop``, and a second for the ``bestmove``; else the engine is
        killed, since its next answers could not be told from late ones."""
        try:
            self.send("stop")
            self._read_until("bestmove", min(1.0, self.timeout), False, "checkmate")
        except EngineError:
            self.kill()

    def go_mate(self, game: Game, *, timeout: float) -> list[str] | None:
        """``go mate``: the mating line (USI moves) the engine finds within ``timeout`` seconds,
        or ``None`` when it answers ``nomate`` or ``timeout``."""
        self.send("position " + game.usi())
        self.send(f"go mate {max(1, round(timeout * 1000))}")
        try:
            lines = [line for _, line in self._read_until("checkmate", timeout + self.timeout, True, "bestmove")]
        except EngineTimeout:
            self._stop_or_kill()
            raise
        words = lines[-1].split()[1:]
        if lines[-1].startswith("bestmove"):
            raise self._error("answers go mate with a bestmove: it has no mate search")
        if words in (["nomate"], ["timeout"]):
            return None
        if words == ["notimplemented"] or not words or not all(_MOVE.fullmatch(word) for word in words):
            raise self._error(f"not a mating line: {lines[-1]!r}")
        return words

    # -- ending --------------------------------------------------------------------------------

    def quit(self, grace: float = 2.0) -> None:
        """``quit``; the engine is killed if it has not ended ``grace`` seconds later."""
        process = self._process
        if process is None:
            return
        if process.poll() is None:
            try:
                self.send("quit")
                process.wait(timeout=grace)
            except (EngineError, subprocess.TimeoutExpired):
                pass
        self.kill()

    def kill(self) -> None:
        """Ends the process at once (it may be started again with ``restart``)."""
        process = self._process
        if process is None:
            return
        if process.poll() is None:
            process.kill()
        process.wait()
        for stream in (process.stdin, process.stdout, process.stderr):
            try:
                if stream is not None:
                    stream.close()
            except OSError:
                pass
        for reader in self._readers:
            reader.join(timeout=1)

    def restart(self) -> None:
        """Ends the process if it runs and starts the engine again with the same command,
        options and time-out."""
        self.quit(grace=0.5)
        self.id_name, self.author, self.options = "", "", {}
        self._start()

    def __enter__(self) -> Engine:
        return self

    def __exit__(self, *exc: object) -> None:
        self.quit()

    def __repr__(self) -> str:
        return f"<Engine {self.name!r} {'running' if self.alive else 'ended'}>"


# -- games ---------------------------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Clock:
    """A time control, in milliseconds, kept as USI GUIs keep it: each side starts with ``time``;
    a move's time is taken from it, and once it is spent each move may take ``byoyomi``; after
    each move in time the side gains ``increment`` (Fischer). A move later than that by more than
    ``margin`` loses on time. Any of the three may be combined (an engine is told all that
    apply: ``btime``/``wtime``, ``byoyomi``, ``binc``/``winc``)."""

    time: int = 0
    increment: int = 0
    byoyomi: int = 0
    margin: int = 100

    def __post_init__(self) -> None:
        if min(self.time, self.increment, self.byoyomi, self.margin) < 0:
            raise ValueError("clock times must not be negative")
        if not (self.time or self.increment or self.byoyomi):
            raise ValueError("a clock needs a main time, an increment or a byoyomi")

    @classmethod
    def parse(cls, text: str) -> Clock:
        """A clock from ``"byoyomi=1000"``, ``"time=60000,inc=1000"`` (milliseconds) or the
        chess way ``"60+0.5"`` (seconds of main time + increment); parts joined by ``,``."""
        values: dict[str, int] = {}
        names = {"time": "time", "inc": "increment", "increment": "increment", "byoyomi": "byoyomi",
                 "margin": "margin"}
        try:
            for part in filter(None, (p.strip() for p in text.split(","))):
                if "=" in part:
                    key, value = part.split("=", 1)
                    values[names[key.strip()]] = int(value)
                else:
                    main, _, inc = part.partition("+")
                    values["time"] = round(float(main) * 1000)
                    values["increment"] = round(float(inc or 0) * 1000)
        except (KeyError, ValueError):
            raise ValueError(f"not a clock: {text!r} (byoyomi=MS, time=MS, inc=MS, or SECONDS+SECONDS)") from None
        return cls(**values)


@dataclasses.dataclass(frozen=True)
class GameResult:
    """How a game of ``play`` ended.

    ``winner`` is ``ColorType.Black``, ``ColorType.White`` or ``None`` for a draw. ``reason``
    is one of ``checkmate``, ``no_legal_moves``, ``repetition``, ``perpetual_check`` (by the
    rules), ``resign``, ``declaration`` (a declaration the rules accept), ``time_up`` (a move
    later than the clock allows), ``max_plies``, ``adjudication``, or a fault: ``illegal_move``
    (a move the rules refuse, a declaration they refuse, or no move where there are moves),
    ``crash`` (the engine died), ``hang`` (no answer within its time plus its
    ``Engine.timeout``: the engine is stopped, or killed if it does not answer ``stop``) and
    ``protocol`` (it wrote something that is not USI). ``fault`` is the side at fault in those
    four, else ``None``; ``message`` says what happened; ``plies`` counts the moves played."""

    winner: ColorType | None
    reason: str
    plies: int
    fault: ColorType | None = None
    message: str = ""

    FAULTS = ("illegal_move", "crash", "hang", "protocol")


class GameRecord(Record):
    """The record of a game of ``play``, with its ``result`` (``GameResult``)."""

    __slots__ = ("result",)

    def __init__(self, start: str, headers: dict[str, str], result: GameResult) -> None:
        super().__init__(start, headers)
        self.result = result


# How the record calls each ending (its own vocabulary, as the CSA and KIF writers know it).
_ENDINGS = {"checkmate": "checkmate", "no_legal_moves": "checkmate", "repetition": "repetition",
            "perpetual_check": "illegal_move", "resign": "resign", "declaration": "declaration",
            "time_up": "time_up", "hang": "time_up", "max_plies": "max_moves", "illegal_move": "illegal_move",
            "crash": "illegal_move", "protocol": "illegal_move", "adjudication": "resign"}
_DRAW = ColorType(255)

Adjudicator = Callable[[Game, Sequence[Union[Info, None]]], Union[tuple[Union[ColorType, None], str], None]]


def _other(colour: ColorType) -> ColorType:
    return ColorType.White if colour == ColorType.Black else ColorType.Black


def _name(player: Player) -> str:
    if isinstance(player, Engine):
        return player.name
    return getattr(player, "__name__", None) or type(player).__name__


def play(black: Player, white: Player, *, start: Game | str | None = None, clock: Clock = Clock(byoyomi=1000),
         max_plies: int = 512, adjudicate: Adjudicator | None = None) -> GameRecord:
    """Plays one game and returns its record.

    ``black`` and ``white`` are engines or functions (see ``Player``). ``start`` is a game, an
    SFEN or a USI position (``startpos moves ...``; its moves are in the record too), the
    initial position when not given. The game ends by the rules (``Game.outcome()``), a
    resignation, a declaration (``bestmove win`` where ``Game.can_declare()``), a loss on
    ``clock``, a fault (see ``GameResult``: the player at fault loses), ``max_plies`` moves
    played (a draw; the moves of ``start`` do not count), or ``adjudicate``: called before
    each move with the game and the engines' infos of each move so far (``None`` for a
    function's or the start's moves), it may return ``(winner, reason)``; a draw is taken at
    once, a win when the loser is to move, and a win of the side to move when the rules let it
    declare (a declaration).

    Each move of the record has its time in seconds and, for an engine, its last info as the
    comment (``Info.comment``). Engines are told ``usinewgame`` before the game and ``gameover``
    after it. Nothing is raised for an engine's fault: the record's ``result`` has it."""
    game = _start_game(start)
    first = game.copy()
    while first.history:
        first.pop()
    players = (black, white)
    record = GameRecord(first.sfen(), {"black": _name(black), "white": _name(white)}, GameResult(None, "", 0))
    node = record.root
    for played in game.history:
        node = node.add_variation(played.usi())
    infos: list[Info | None] = [None] * len(game.history)
    left = [clock.time, clock.time]
    plies = 0

    def end(winner: ColorType | None, reason: str, fault: ColorType | None = None, message: str = "") -> GameResult:
        return GameResult(winner, reason, plies, fault, message)

    result: GameResult | None = None
    for side, player in zip((ColorType.Black, ColorType.White), players):
        if isinstance(player, Engine):
            try:
                player.new_game()
            except EngineError as error:
                result = end(_other(side), _fault_reason(player, error), side, str(error))
                break
    while result is None:
        outcome = game.outcome()
        if outcome is not None:
            result = end(None if outcome[0] == _DRAW else outcome[0], outcome[1])
            break
        if plies >= max_plies:
            result = end(None, "max_plies")
            break
        mover = game.turn
        if adjudicate is not None:
            verdict = adjudicate(game.copy(), tuple(infos))
            if verdict is not None and (verdict[0] is None or verdict[0] != mover):
                result = end(verdict[0], "adjudication", message=verdict[1])
                break
            if verdict is not None and game.can_declare():
                result = end(mover, "declaration", message=verdict[1])
                break
        index = 0 if mover == ColorType.Black else 1
        player = players[index]
        info: Info | None = None
        if isinstance(player, Engine):
            try:
                answer = player.go(
                    game, btime=left[0], wtime=left[1], byoyomi=clock.byoyomi or None,
                    binc=clock.increment or None, winc=clock.increment or None,
                    timeout=(left[index] + clock.byoyomi + clock.increment + clock.margin) / 1000 + player.timeout)
            except EngineError as error:
                result = end(_other(mover), _fault_reason(player, error), mover, str(error))
                if result.reason == "protocol":
                    player.kill()  # what it says next could not be trusted
                break
            move, info, elapsed = answer.bestmove, answer.info, answer.elapsed
        else:
            started = time.monotonic()
            move = player(game.copy())
            elapsed = time.monotonic() - started
        spent = round(elapsed * 1000)
        if spent > left[index] + clock.byoyomi + clock.margin:
            result = end(_other(mover), "time_up", message=f"{_name(player)} took {elapsed:.3f} s")
            break
        left[index] = max(0, left[index] - spent) + clock.increment
        if move == "resign":
            result = end(_other(mover), "resign")
            break
        if move == "win":
            if game.can_declare():
                result = end(mover, "declaration")
            else:
                result = end(_other(mover), "illegal_move", mover, f"{_name(player)} declares a win the rules refuse")
            break
        before = game.copy()
        try:
            game.push_usi(move)
        except ValueError as error:
            what = "has no move" if move == "none" else f"plays {move}, which the rules refuse ({error})"
            result = end(_other(mover), "illegal_move", mover, f"{_name(player)} {what}")
            break
        plies += 1
        infos.append(info)
        node = node.add_variation(move, _evaluation(before, move, info), round(elapsed, 3))
    record.result = result
    record.winner = _DRAW if result.winner is None else result.winner
    record.ending = _ENDINGS[result.reason]
    if result.reason == "adjudication" and result.winner is None:
        record.ending = "impasse"
    elif result.reason == "hang" and result.fault != game.turn:  # silent before its turn: no time ran out
        record.ending = "illegal_move"
    if result.message:
        node.comment = (node.comment + "\n" if node.comment else "") + f"{result.reason}: {result.message}"
    for side, player in zip((ColorType.Black, ColorType.White), players):
        if isinstance(player, Engine) and player.alive:
            try:
                player.game_over("draw" if result.winner is None else "win" if result.winner == side else "lose")
            except EngineError:
                pass
    return record


_CSA_MOVE = re.compile(r"^[+-]\d{4}[A-Z]{2}$", re.M)


def _evaluation(game: Game, move: str, info: Info | None) -> str:
    """The comment on an engine's move: as Floodgate writes it (``** <score from Black's side>
    <the rest of the PV in CSA>``), then the info in words (``Info.comment``)."""
    score = None if info is None else info.score()
    if info is None or score is None:
        return info.comment() if info is not None else ""
    if game.turn == ColorType.White:
        score = -score
    line = Record(game.sfen())
    node = line.root
    replay = game.copy()
    for played in info.pv if info.pv[:1] == (move,) else ():
        try:
            replay.push_usi(played)
        except ValueError:
            break
        node = node.add_variation(played)
    pv = _CSA_MOVE.findall(line.dumps("csa"))[1:]
    return f"** {' '.join([str(score)] + pv)}\n{info.comment()}"


def _start_game(start: Game | str | None) -> Game:
    if isinstance(start, Game):
        return start.copy()
    if start is None:
        return Game()
    words = start.split()
    if words[:1] == ["position"]:
        words = words[1:]
    if words[:1] in (["startpos"], ["sfen"]):
        return Game.from_usi(" ".join(words))
    return Game(start)


def _fault_reason(engine: Engine, error: EngineError) -> str:
    if isinstance(error, EngineTimeout):
        return "hang"
    return "protocol" if engine.alive else "crash"
