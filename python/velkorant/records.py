"""Game records: CSA, KIF, KI2, JKF, USI and SFEN, read and written.

A record is a tree: a start position, then moves, each with an optional comment and time, and any
number of variations at any ply::

    from velkorant import records
    record = records.load("game.kif")          # the format from the extension, the encoding found
    record.headers["black"], record.moves[:3], record.ending, record.winner
    for node in record.root.variations: ...    # the first is the main line
    record.dump("game.csa")                    # or record.dumps("ki2")

Every move is checked with the full rules as it is read: a move the rules refuse, or text that is
no record, raises ``RecordError`` (a ``ValueError``) naming the line and the ply. Parsing and
replaying are native; a ``Node`` tree is built only when ``root`` is first read.
"""

from __future__ import annotations

import codecs
import os
import re
from collections.abc import Iterator, Sequence
from typing import IO, Literal, Union

from velkorant import _records
from velkorant._core import ColorType, Game

__all__ = ["Record", "Node", "RecordError", "load", "load_all", "loads", "loads_all", "dumps_all", "FORMATS"]

RecordError = _records.RecordError
"""A record that cannot be read: ``line`` (from 1) and ``ply`` (0 when no move is concerned)."""

Format = Literal["csa", "kif", "ki2", "jkf", "usi", "sfen"]
FORMATS: tuple[Format, ...] = ("csa", "kif", "ki2", "jkf", "usi", "sfen")
File = Union[str, "os.PathLike[str]", IO[bytes]]

INITIAL = "lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1"
_EXTENSIONS: dict[str, Format] = {
    ".csa": "csa", ".kif": "kif", ".kifu": "kif", ".ki2": "ki2", ".ki2u": "ki2", ".jkf": "jkf", ".json": "jkf",
    ".usi": "usi", ".sfen": "sfen",
}
# Files written in these formats under these extensions are Shift_JIS by custom (UTF-8 when a
# character has no Shift_JIS form: the file then says so).
_SHIFT_JIS_EXTENSIONS = {".kif", ".ki2"}
# Header keys that a record carries otherwise, and each writer writes its own way: the players'
# names in one format or another ("black" and "white"), and KIF's name of the start position.
_NAME_KEYS = {"black", "white", "N+", "N-", "先手", "後手", "下手", "上手", "手合割"}
_DECLARED = re.compile(rb"^(?:'CSA encoding=|#KIF version=[\d.]+ encoding=)([\w-]+)", re.M)
_DECLARED_NAMES: dict[bytes, list[str]] = {}  # a declared name, and the encodings it gives
_WINNERS = (ColorType.Black, ColorType.White, ColorType(255))
_NATIVE = frozenset({"utf-8", "cp932"})  # the encodings the native readers decode


class Node:
    """A position of the tree: the move that reached it (USI, ``None`` at the root), the comment
    on it (``""`` when none), the seconds spent on the move (or ``None``), the variations from it
    (child nodes, the main line first), its parent and its ply (moves from the start, 0 at the
    root)."""

    __slots__ = ("move", "comment", "time", "variations", "parent", "ply")

    def __init__(self, move: str | None = None, parent: Node | None = None, comment: str = "",
                 time: float | None = None) -> None:
        self.move = move
        self.comment = comment
        self.time = time
        self.variations: list[Node] = []
        self.parent = parent
        self.ply: int = parent.ply + 1 if parent is not None else 0

    def add_variation(self, move: str, comment: str = "", time: float | None = None) -> Node:
        """Appends a child reached by ``move`` (USI) and returns it; the move is checked when the
        record is written."""
        node = Node(move, self, comment, time)
        self.variations.append(node)
        return node

    def main_line(self) -> Iterator[Node]:
        """The nodes of the main line after this one: the first variation of each, in turn."""
        node = self
        while node.variations:
            node = node.variations[0]
            yield node

    def __repr__(self) -> str:
        return f"<Node ply={self.ply} move={self.move!r} variations={len(self.variations)}>"


class Record:
    """A game record: ``headers`` (every header the file writes, plus ``black`` and ``white``),
    ``start`` (SFEN), ``moves`` (the main line in USI), ``root`` (the tree of ``Node``),
    ``ending`` (how the record says the game ended, or ``None``) and ``winner`` (a ``ColorType``,
    ``ColorType(255)`` for a draw, ``None`` when the record gives no result)."""

    __slots__ = ("headers", "start", "ending", "winner", "_data", "_root")

    def __init__(self, start: str = INITIAL, headers: dict[str, str] | None = None, ending: str | None = None,
                 winner: ColorType | None = None) -> None:
        self.headers: dict[str, str] = dict(headers or {})
        self.start = start
        self.ending = ending
        self.winner = winner
        # The moves as read, kept native until the tree is first asked for.
        self._data: _records.Tree | None = None
        self._root: Node | None = None

    @classmethod
    def _from_tuple(cls, game: _records.Game) -> Record:
        headers, black, white, start, ending, winner, _, tree = game
        record = cls(start, dict(headers), ending, None if winner is None else _WINNERS[winner])
        if black:
            record.headers["black"] = black
        if white:
            record.headers["white"] = white
        record._data = tree
        return record

    @property
    def root(self) -> Node:
        """The tree: the start position, its comment, and every move from it."""
        if self._root is None:
            root = Node()
            if self._data is not None:
                parents, moves, comments, times = self._data.nodes()
                root.comment = comments.get(0, "")
                nodes = [root]
                for i in range(1, len(parents)):
                    node = Node(moves[i], nodes[parents[i]], comments.get(i, ""), times.get(i))
                    nodes[parents[i]].variations.append(node)
                    nodes.append(node)
            self._root, self._data = root, None
        return self._root

    @property
    def moves(self) -> list[str]:
        """The main line, in USI."""
        if self._data is not None:
            return self._data.main()
        return [node.move for node in self.root.main_line() if node.move is not None]

    def game(self, ply: int | None = None) -> Game:
        """The game after the main line, or after its first ``ply`` moves, history included."""
        moves = self.moves
        if ply is not None:
            if not 0 <= ply <= len(moves):
                raise IndexError(f"ply {ply} is not in the main line's 0..{len(moves)}")
            moves = moves[:ply]
        return Game.from_usi(f"sfen {self.start}" + (" moves " + " ".join(moves) if moves else ""))

    @classmethod
    def from_game(cls, game: Game, headers: dict[str, str] | None = None, ending: str | None = None) -> Record:
        """The record of a game's moves from where it was set up; the winner follows from
        ``game.outcome()`` when the game has ended and ``ending`` is not given."""
        start = game.copy()
        while start.history:
            start.pop()
        record = cls(start.sfen(), headers)
        record._data = _records.read(game.usi(), "usi", False)[0][7]
        outcome = game.outcome()
        if ending is not None:
            record.ending = ending
        elif outcome is not None:
            record.ending = {"checkmate": "checkmate", "no_legal_moves": "checkmate",
                             "repetition": "repetition", "perpetual_check": "illegal_move"}[outcome[1]]
            record.winner = outcome[0]
        return record

    def _as_tuple(self) -> _records.GameIn:
        tree: _records.Tree | _records.Nodes
        if self._data is not None:
            tree = self._data
        else:
            parents, moves, comments, times = [-1], [""], {}, {}
            if self.root.comment:
                comments[0] = self.root.comment
            stack = [(child, 0) for child in reversed(self.root.variations)]
            while stack:  # parents before their children, each node's variations in order
                node, parent = stack.pop()
                index = len(parents)
                parents.append(parent)
                moves.append(node.move or "")
                if node.comment:
                    comments[index] = node.comment
                if node.time is not None:
                    times[index] = node.time
                stack.extend((child, index) for child in reversed(node.variations))
            tree = (parents, moves, comments, times)
        headers = [(k, v) for k, v in self.headers.items() if k not in _NAME_KEYS]
        winner = None if self.winner is None else _WINNERS.index(self.winner)
        return (headers, self.headers.get("black", ""), self.headers.get("white", ""), self.start, self.ending, winner,
                tree)

    def dumps(self, format: Format, encoding: str | None = None) -> str:
        """The record as text of ``format``; ``encoding`` is the one a CSA or KIF text declares
        (UTF-8 when not given)."""
        text: str = _records.write(format, self._as_tuple())
        if encoding is not None and codecs.lookup(encoding).name != "utf-8":
            name = "SHIFT_JIS" if codecs.lookup(encoding).name in ("cp932", "shift_jis") else encoding.upper()
            text = re.sub(r"^('CSA encoding=|#KIF version=[\d.]+ encoding=)UTF-8", lambda m: m.group(1) + name,
                          text, count=1, flags=re.M)
        return text

    def dump(self, file: File, format: Format | None = None, encoding: str | None = None) -> None:
        """Writes the record to a path or a binary file: the format from the extension when not
        given; KIF and KI2 files in Shift_JIS by custom (in UTF-8, declared, when a character has
        no Shift_JIS form), the others in UTF-8, unless ``encoding`` says."""
        name = file if isinstance(file, (str, os.PathLike)) else getattr(file, "name", None)
        extension = os.path.splitext(os.fspath(name))[1].lower() if isinstance(name, (str, os.PathLike)) else ""
        format = format or _format_of(extension)
        if format is None:
            raise ValueError(f"say which format to write: the extension {extension!r} names none of {FORMATS}")
        if encoding is None and extension in _SHIFT_JIS_EXTENSIONS:
            try:
                data = self.dumps(format, "cp932").encode("cp932")
            except UnicodeEncodeError:
                data = _declare_utf8(self.dumps(format)).encode("utf-8")
        else:
            data = self.dumps(format, encoding).encode(encoding or "utf-8")
        if isinstance(file, (str, os.PathLike)):
            with open(file, "wb") as out:
                out.write(data)
        else:
            file.write(data)

    def _repr_html_(self) -> str:
        from velkorant import _viewer

        game = Game(self.start)
        svgs, labels = [game.to_svg()], []
        for i, move in enumerate(self.moves, 1):
            game.push_usi(move)
            svgs.append(game.to_svg())
            labels.append(f"{i}. {move}")
        title = " - ".join(filter(None, (self.headers.get("black"), self.headers.get("white"))))
        return _viewer.page(svgs, labels, title)

    def __repr__(self) -> str:
        return f"<Record start={self.start!r} moves={len(self.moves)} ending={self.ending!r}>"


def _declare_utf8(text: str) -> str:
    """A text that says it is UTF-8, for the formats that declare their encoding."""
    if text.startswith(("'CSA encoding=", "#KIF version=")):
        return text
    return "#KIF version=2.0 encoding=UTF-8\n" + text


def _format_of(extension: str) -> Format | None:
    return _EXTENSIONS.get(extension.lower())


def _error(line: int, why: str) -> Exception:
    error = RecordError(f"line {line}: {why}")
    error.line, error.ply = line, 0
    return error


def _encodings(data: bytes, encoding: str | None) -> list[str]:
    """The encodings to try, in order: ``encoding`` when given, else what a byte order mark or the
    text's own encoding line declares (then the other two of UTF-8 and CP932, for a text that is
    not in the encoding it declares), else strict UTF-8, then CP932 (Shift_JIS as Windows writes
    it)."""
    if encoding is not None:
        return [codecs.lookup(encoding).name]
    if data.startswith(codecs.BOM_UTF8):
        return ["utf-8-sig"]
    if data.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return ["utf-16"]
    # The first lines declare it (the search looks only where a declaration's word stands).
    if data.find(b" encoding=", 0, 512) >= 0 and (declared := _DECLARED.search(data, 0, 512)):
        found = _DECLARED_NAMES.get(declared.group(1))
        if found is None:
            name = declared.group(1).decode("ascii").lower().replace("_", "-")
            name = "cp932" if name in ("shift-jis", "sjis", "cp932", "windows-31j") else name
            try:
                name = codecs.lookup(name).name
            except LookupError:
                raise _error(data.count(b"\n", 0, declared.start()) + 1,
                             f"unknown encoding {declared.group(1).decode('ascii')!r}") from None
            found = [name] + [c for c in ("utf-8", "cp932") if c != name]
            if len(_DECLARED_NAMES) < 64:  # the few names files write, in the cases they write them
                _DECLARED_NAMES[declared.group(1)] = found
        return list(found)
    return ["utf-8", "cp932"]


def _decode(data: bytes, encodings: list[str]) -> str:
    """The text of bytes in the first encoding that fits them whole."""
    failure: UnicodeDecodeError | None = None
    for candidate in encodings:
        try:
            return data.decode(candidate)
        except UnicodeDecodeError as error:
            failure = failure or error
    assert failure is not None
    line = data.count(b"\n", 0, failure.start) + 1
    raise _error(line, f"byte 0x{data[failure.start]:02x} is not in {' nor '.join(encodings)}") from None


_CSA_LINE = re.compile(r"^(?:V[23]|N[+-]|P[I1-9+-]|\$|[+-]\d{4}[A-Z]{2}|[+-]$|%)", re.M)
_KIF_MOVE = re.compile(r"^\s*\d+\s+\S+.*\(\s*\d", re.M)


def _sniff(text: str) -> Format:
    """The format of a text without a file name, from its content."""
    body = text.lstrip("\ufeff \t\r\n")
    first = body.split("\n", 1)[0].strip()
    if body.startswith("{"):
        return "jkf"
    if re.match(r"(?:position\s+)?(?:startpos|sfen\s)", first):
        return "usi"
    if re.fullmatch(r"[1-9+a-zA-Z/]+ [bw] \S+ \d+", first) and first.count("/") == 8:
        return "sfen"
    if "手数----" in text or _KIF_MOVE.search(text):
        return "kif"
    if re.search(r"^[▲△☗☖▽]", text, re.M):
        return "ki2"
    if _CSA_LINE.search(text):
        return "csa"
    return "kif"


def _read(data: str | bytes, format: Format | None, encoding: str | None, every: bool,
          name: str | None = None) -> list[Record]:
    try:
        if isinstance(data, bytes):
            encodings = _encodings(data, encoding)
            if encodings == ["utf-8-sig"]:
                data, encodings = data[3:], ["utf-8"]
            if _NATIVE.issuperset(encodings):  # decoded natively, as Python would
                if not data or data.isspace():
                    raise _error(1, "no game in the text")
                format = format or _sniff(data[:8192].decode(encodings[0], "replace"))
                games = _records.read(data, _format(format, ""), every, encodings)
                return [Record._from_tuple(game) for game in games]
            data = _decode(data, encodings)
        if not data or data.isspace():
            raise _error(1, "no game in the text")
        games = _records.read(data, _format(format, data), every)
    except RecordError as error:
        if name is None:
            raise
        named = RecordError(f"{name}: {error}")  # the file, then the line
        named.line, named.ply = error.line, error.ply
        raise named from None
    return [Record._from_tuple(game) for game in games]


def _format(format: Format | None, text: str) -> Format:
    format = format or _sniff(text)
    if format not in FORMATS:
        raise ValueError(f"unknown record format {format!r}: one of {FORMATS}")
    return format


def _load(file: File, format: Format | None, encoding: str | None, every: bool) -> list[Record]:
    name: str | None
    if type(file) is str or isinstance(file, (str, os.PathLike)):
        name = os.fspath(file)
        data = _read_file(name)
    else:
        given = getattr(file, "name", None)
        name = given if isinstance(given, str) else None
        data = file.read()
        if not isinstance(data, bytes):
            raise TypeError("records are read from a binary file: open it with 'rb'")
    format = format or (_format_of(os.path.splitext(name)[1]) if name else None)
    return _read(data, format, encoding, every, name)


_READ_FLAGS = os.O_RDONLY | getattr(os, "O_BINARY", 0)


def _read_file(path: str) -> bytes:
    """A file's bytes, read with as few calls as the system allows (corpora are many files)."""
    fd = os.open(path, _READ_FLAGS)
    try:
        size = os.fstat(fd).st_size
        data = os.read(fd, size + 1)
        if len(data) == size:  # the whole file, as its size said
            return data
        chunks = [data]
        while chunk := os.read(fd, 1 << 20):  # a short read, a file that grew, or one with no size
            chunks.append(chunk)
        return b"".join(chunks)
    finally:
        os.close(fd)


def load(file: File, format: Format | None = None, encoding: str | None = None) -> Record:
    """The first game of a record file: a path or a binary file object. The format comes from
    the extension (.csa, .kif, .kifu, .ki2, .ki2u, .jkf, .json) or the content."""
    return _load(file, format, encoding, False)[0]


def load_all(file: File, format: Format | None = None, encoding: str | None = None) -> list[Record]:
    """Every game of a record file (CSA separates games with a line ``/``)."""
    return _load(file, format, encoding, True)


def loads(data: str | bytes, format: Format | None = None, encoding: str | None = None) -> Record:
    """The first game of a record text (``str``, or ``bytes`` decoded as ``load`` does)."""
    return _read(data, format, encoding, False)[0]


def loads_all(data: str | bytes, format: Format | None = None, encoding: str | None = None) -> list[Record]:
    """Every game of a record text."""
    return _read(data, format, encoding, True)


def dumps_all(records: Sequence[Record], format: Format) -> str:
    """Several records as one text that ``loads_all`` reads back: CSA games separated by a line
    ``/``, USI and SFEN a line each. KIF, KI2 and JKF hold one game a text: asking for several of
    them is a ValueError (write a file per game)."""
    if format not in _SEVERAL and len(records) > 1:
        raise ValueError(f"a {format.upper()} text holds one game, not {len(records)}: write one text per game")
    texts = [record.dumps(format) for record in records]
    return "/\n".join(texts) if format == "csa" else "".join(texts)


# The formats whose one text holds several games.
_SEVERAL: tuple[Format, ...] = ("csa", "usi", "sfen")
