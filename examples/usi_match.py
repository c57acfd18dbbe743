"""Play shogi matches between USI engines, or an engine and a seeded random player, on velkorant.

velkorant.Game keeps the score: every engine move is played with ``Game.push_usi``, and the game
ends by ``Game.outcome()`` (checkmate, no legal move, repetition, perpetual check), by an engine's
resignation or accepted declaration (``bestmove win`` while ``Game.can_declare()``), or at the
ply cap, which counts as a draw ("max_plies"). A move that velkorant finds illegal, a refused
declaration, or an engine that has no move while velkorant lists some stops the match and prints
the position (USI and SFEN) and the move: either the engine or velkorant is wrong there.

    python examples/usi_match.py --engine fairy-stockfish --engine gpsusi --games 2 --byoyomi 100
    python examples/usi_match.py --engine fairy-stockfish --random --games 2 --byoyomi 100

An engine is a name from ENGINES (fairy-stockfish, gpsusi) or the path of any USI engine.
Games alternate colours: the first player named has Black (moves first) in games 1, 3, ...

Importable: Engine (one engine process), EnginePlayer, RandomPlayer, play_game, play_match.
Standard library only, besides velkorant.
"""
from __future__ import annotations

import argparse
import collections
import dataclasses
import os
import queue
import random
import re
import shutil
import subprocess
import sys
import threading
import time
from typing import Callable, Iterable, Optional, Sequence

import velkorant

BLACK, WHITE = 0, 1
COLOUR_NAMES = ("black", "white")

# A USI move: a board move "7g7f" / "8h2b+" or a drop "P*5e".
USI_MOVE = re.compile(r"[1-9][a-i][1-9][a-i]\+?|[PLNSGBR]\*[1-9][a-i]")


class EngineError(Exception):
    """The engine process died, timed out, or said something that is not USI."""


class MatchError(Exception):
    """A game cannot go on because an engine and velkorant disagree about the position."""


@dataclasses.dataclass(frozen=True)
class EngineSetup:
    """How to start one engine and how to give it its thinking time."""

    command: tuple[str, ...]
    # "movetime" (go movetime MS) or "byoyomi" (go btime 0 wtime 0 byoyomi MS).
    limit: str = "byoyomi"
    # Options to set after the handshake, given the time per move in milliseconds.
    options: Callable[[int], dict[str, str]] = lambda ms: {}


def _gpsusi_options(ms: int) -> dict[str, str]:
    # gpsusi thinks for about a second whatever byoyomi it is given; below that, a depth bound
    # (its smallest, 4 plies: some tens of milliseconds per move) keeps it near the given time.
    options = {"Thread": "1"}
    if ms < 1000:
        options["LimitDepth"] = "4"
    return options


ENGINES: dict[str, EngineSetup] = {
    # Shogi is fairy-stockfish's default variant when it speaks USI; naming it costs nothing.
    "fairy-stockfish": EngineSetup(("/usr/games/fairy-stockfish",), "movetime",
                                  lambda ms: {"UCI_Variant": "shogi", "Threads": "1"}),
    # gpsusi refuses "go movetime" (it aborts), so it gets byoyomi.
    "gpsusi": EngineSetup(("/usr/games/gpsusi",), "byoyomi", _gpsusi_options),
}


def engine_setup(name: str) -> Optional[EngineSetup]:
    """How to start a known engine name or an engine path; None when it is not installed."""
    setup = ENGINES.get(name) or EngineSetup((name,))
    return setup if shutil.which(setup.command[0]) else None


class Engine:
    """One USI engine process: handshake, options, positions, ``go``, and a clean ``quit``.

    Lines from the engine are read by a thread into a queue, so every wait has a time-out; the
    last lines of its output and of its error stream go into the errors raised.
    """

    def __init__(self, command: Sequence[str], name: Optional[str] = None,
                 options: Optional[dict[str, str]] = None, timeout: float = 30.0):
        self.command = list(command)
        self.name = name or os.path.basename(self.command[0])
        self.timeout = timeout
        self.id_name = ""
        self.option_names: list[str] = []
        self._lines: queue.Queue[Optional[str]] = queue.Queue()
        self._recent: collections.deque[str] = collections.deque(maxlen=8)
        self._stderr: collections.deque[str] = collections.deque(maxlen=8)
        try:
            self._process = subprocess.Popen(self.command, stdin=subprocess.PIPE,
                                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                             text=True, bufsize=1)
        except OSError as error:
            raise EngineError(f"{self.name}: cannot start {self.command!r}: {error}") from None
        self._threads = [threading.Thread(target=self._read, args=(stream, sink), daemon=True)
                         for stream, sink in ((self._process.stdout, self._lines.put),
                                              (self._process.stderr, self._stderr.append))]
        for thread in self._threads:
            thread.start()
        try:
            self._handshake(options or {})
        except BaseException:
            self.quit()
            raise

    @staticmethod
    def _read(stream, sink) -> None:
        for line in stream:
            sink(line.rstrip("\r\n"))
        sink(None)

    def __enter__(self) -> "Engine":
        return self

    def __exit__(self, *exc) -> None:
        self.quit()

    def _fail(self, what: str) -> EngineError:
        """An EngineError naming the engine, what went wrong and what it said last."""
        parts = [f"{self.name}: {what}"]
        code = self._process.poll()
        if code is not None:
            parts.append(f"exit status {code}")
            self._threads[1].join(timeout=1)  # the last words on its error stream
        if self._recent:
            parts.append("last output: " + " | ".join(self._recent))
        stderr = [line for line in self._stderr if line is not None]
        if stderr:
            parts.append("stderr: " + " | ".join(stderr))
        return EngineError("; ".join(parts))

    def send(self, line: str) -> None:
        try:
            self._process.stdin.write(line + "\n")
            self._process.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            raise self._fail(f"cannot send {line!r}: the engine has gone") from None

    def read_line(self, deadline: float, waiting_for: str) -> str:
        try:
            line = self._lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            raise self._fail(f"no {waiting_for!r} within the time-out") from None
        if line is None:
            self._process.wait()
            raise self._fail(f"the engine exited while we waited for {waiting_for!r}")
        self._recent.append(line)
        return line

    def wait_for(self, token: str, timeout: Optional[float] = None) -> list[str]:
        """The lines up to and including the first one whose first word is ``token``."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        lines = []
        while True:
            line = self.read_line(deadline, token)
            lines.append(line)
            if line.split()[:1] == [token]:
                return lines

    def _handshake(self, options: dict[str, str]) -> None:
        self.send("usi")
        for line in self.wait_for("usiok"):
            words = line.split()
            if words[:2] == ["id", "name"]:
                self.id_name = " ".join(words[2:])
            elif words[:2] == ["option", "name"] and "type" in words:
                self.option_names.append(" ".join(words[2:words.index("type")]))
        for option, value in options.items():
            if option not in self.option_names:
                raise self._fail(f"has no option {option!r} (it offers {self.option_names})")
            self.send(f"setoption name {option} value {value}")
        self.ready()

    def ready(self) -> None:
        self.send("isready")
        self.wait_for("readyok")

    def new_game(self) -> None:
        self.send("usinewgame")
        self.ready()

    def go(self, position: str, go: str, think_ms: int = 0) -> tuple[str, list[str]]:
        """Send ``position <position>`` and ``go <go>``; return (best move word, lines read).

        The best move word is a USI move, "resign", "win", or "none" when the engine says it has
        no move ("(none)", "none" or "0000" by different engines' habits).
        """
        self.send("position " + position)
        self.send("go " + go)
        lines = self.wait_for("bestmove", think_ms / 1000 + self.timeout)
        words = lines[-1].split()
        if len(words) < 2:
            raise self._fail(f"bestmove without a move: {lines[-1]!r}")
        best = words[1]
        if best in ("(none)", "none", "0000"):
            best = "none"
        elif best not in ("resign", "win") and not USI_MOVE.fullmatch(best):
            raise self._fail(f"bestmove {best!r} is not a USI move")
        return best, lines

    def quit(self) -> None:
        """Ask the engine to quit, give it two seconds, then kill it."""
        if self._process.poll() is None:
            try:
                self._process.stdin.write("quit\n")
                self._process.stdin.flush()
            except (BrokenPipeError, OSError, ValueError):
                pass
            try:
                self._process.wait(timeout=2)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        for stream in (self._process.stdin, self._process.stdout, self._process.stderr):
            try:
                stream.close()
            except OSError:
                pass
        for thread in self._threads:
            thread.join(timeout=1)


@dataclasses.dataclass(frozen=True)
class Decision:
    """What a player does on its turn: "move" (with the USI move), "resign", "win" or "none"."""

    kind: str
    move: str = ""


class EnginePlayer:
    """A player that asks a USI engine, with a fixed time per move."""

    def __init__(self, engine: Engine, setup: EngineSetup, ms: int, name: Optional[str] = None):
        self.engine, self.name, self.ms = engine, name or engine.name, ms
        if setup.limit == "movetime":
            self.go = f"movetime {ms}"
        else:
            self.go = f"btime 0 wtime 0 byoyomi {ms}"

    @classmethod
    def start(cls, name: str, ms: int, timeout: float = 30.0) -> "EnginePlayer":
        """Start the engine ``name`` (from ENGINES, or a path) set up for ``ms`` per move."""
        setup = engine_setup(name)
        if setup is None:
            raise EngineError(f"{name}: not installed")
        return cls(Engine(setup.command, name, setup.options(ms), timeout), setup, ms, name)

    def new_game(self) -> None:
        self.engine.new_game()

    def choose(self, game: "velkorant.Game") -> Decision:
        best, _ = self.engine.go(game.usi(), self.go, self.ms)
        return Decision(best, "") if best in ("resign", "win", "none") else Decision("move", best)

    def close(self) -> None:
        self.engine.quit()


class RandomPlayer:
    """A player that picks uniformly among velkorant's legal moves, from a seeded generator."""

    def __init__(self, seed: int, name: str = "random"):
        self.name, self.rng = name, random.Random(seed)

    def new_game(self) -> None:
        pass

    def choose(self, game: "velkorant.Game") -> Decision:
        moves = game.legal_moves()
        return Decision("move", self.rng.choice(moves).usi()) if moves else Decision("none")

    def close(self) -> None:
        pass


@dataclasses.dataclass(frozen=True)
class GameResult:
    black: str
    white: str
    winner: Optional[int]  # BLACK, WHITE, or None for a draw
    reason: str            # an outcome() reason, "resign", "declaration" or "max_plies"
    plies: int
    position: str          # the USI position argument of the whole game

    def describe(self) -> str:
        if self.winner is None:
            verdict = f"draw by {self.reason}"
        else:
            verdict = f"{COLOUR_NAMES[self.winner]} ({self.names[self.winner]}) wins by {self.reason}"
        return f"{self.black} (black) vs {self.white} (white): {verdict} after {self.plies} plies"

    @property
    def names(self) -> tuple[str, str]:
        return self.black, self.white


def _colour(colour: "velkorant.ColorType") -> Optional[int]:
    value = int(colour)
    return value if value in (BLACK, WHITE) else None


def _disagreement(what: str, game: "velkorant.Game", move: str = "") -> MatchError:
    lines = [what, f"position {game.usi()}", f"sfen {game.sfen()}"]
    if move:
        lines.append(f"move {move}")
    return MatchError("\n".join(lines))


def play_game(black, white, max_plies: int = 256, start: str = "startpos",
              on_position: Optional[Callable[["velkorant.Game"], None]] = None) -> GameResult:
    """Play one game from the USI position ``start``; ``on_position`` sees every position."""
    game = velkorant.Game.from_usi(start)
    players = (black, white)
    for player in players:
        player.new_game()
    plies = 0
    while True:
        if on_position is not None:
            on_position(game)
        outcome = game.outcome()
        if outcome is not None:
            winner, reason = _colour(outcome[0]), outcome[1]
            break
        if plies >= max_plies:
            winner, reason = None, "max_plies"
            break
        mover = _colour(game.turn)
        player = players[mover]
        decision = player.choose(game)
        if decision.kind == "resign":
            winner, reason = 1 - mover, "resign"
            break
        if decision.kind == "win":
            if not game.can_declare():
                raise _disagreement(f"{player.name} declares a win that velkorant refuses", game)
            winner, reason = mover, "declaration"
            break
        if decision.kind == "none":
            raise _disagreement(f"{player.name} has no move but velkorant lists "
                                f"{len(game.legal_moves())} legal moves", game)
        try:
            game.push_usi(decision.move)
        except ValueError as error:
            raise _disagreement(f"{player.name} plays a move velkorant finds illegal ({error})",
                                game, decision.move) from None
        plies += 1
    return GameResult(black.name, white.name, winner, reason, plies, game.usi())


def play_match(first, second, games: int, max_plies: int = 256, start: str = "startpos",
               report: Optional[Callable[[int, GameResult], None]] = None) -> list[GameResult]:
    """``games`` games, colours alternating: ``first`` has Black in games 1, 3, ..."""
    results = []
    for number in range(1, games + 1):
        black, white = (first, second) if number % 2 else (second, first)
        result = play_game(black, white, max_plies, start)
        results.append(result)
        if report is not None:
            report(number, result)
    return results


def summary(results: Iterable[GameResult]) -> str:
    """A table of games, wins, losses and draws per player, and the count of each reason."""
    rows: dict[str, list[int]] = {}
    reasons: collections.Counter[str] = collections.Counter()
    for result in results:
        reasons[result.reason] += 1
        for colour, name in enumerate(result.names):
            row = rows.setdefault(name, [0, 0, 0, 0])
            row[0] += 1
            if result.winner is None:
                row[3] += 1
            else:
                row[1 if result.winner == colour else 2] += 1
    width = max([len(name) for name in rows] + [6])
    lines = [f"{'player':<{width}}  games  wins  losses  draws"]
    lines += [f"{name:<{width}}  {g:5}  {w:4}  {l:6}  {d:5}" for name, (g, w, l, d) in rows.items()]
    lines.append("endings: " + ", ".join(f"{reason} {count}" for reason, count in reasons.items()))
    return "\n".join(lines)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--engine", action="append", default=[],
                        help="an engine name (" + ", ".join(ENGINES) + ") or path; twice for "
                             "engine against engine")
    parser.add_argument("--random", action="store_true", help="a seeded random player joins")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--byoyomi", type=int, default=100, metavar="MS",
                        help="time per engine move in milliseconds (default 100)")
    parser.add_argument("--max-plies", type=int, default=256,
                        help="plies after which a game is a draw (default 256)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the random player")
    parser.add_argument("--start", default="startpos",
                        help='start position as a USI position argument (default "startpos")')
    args = parser.parse_args(argv)
    if len(args.engine) + args.random != 2:
        parser.error("name two players: two --engine, or one --engine and --random")

    players = []
    try:
        for name in args.engine:
            players.append(EnginePlayer.start(name, args.byoyomi))
        if args.random:
            players.append(RandomPlayer(args.seed))

        def report(number: int, result: GameResult) -> None:
            print(f"game {number}: {result.describe()}")
            print(f"  position {result.position}", flush=True)

        results = play_match(players[0], players[1], args.games, args.max_plies, args.start,
                             report)
    except (EngineError, MatchError) as error:
        print(f"match stopped: {error}", file=sys.stderr)
        return 2
    finally:
        for player in players:
            player.close()
    print()
    print(summary(results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
