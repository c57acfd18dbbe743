"""The board picture: the SVG document itself, and what headless Chromium shows of it.

A picture is read the way a player reads a diagram: file 9 on the left, rank a at the top,
Black's pieces upright at the bottom. Most rendered checks compare two pictures that differ in
one thing (a last move, the side to move, the hands), so they look only at what that thing
changes and at nothing else of the layout. PNG files are read by tools/board_picture.py."""
import importlib.util
import pathlib
import random
import re
import xml.etree.ElementTree as ElementTree

import pytest

import velkorant

ROOT = pathlib.Path(__file__).resolve().parent.parent
SVG = "{http://www.w3.org/2000/svg}"
B, W = velkorant.ColorType.Black, velkorant.ColorType.White
P = velkorant.PieceType


def _load_picture_tools():
    path = ROOT / "tools" / "board_picture.py"
    if not path.exists():
        return None
    spec = importlib.util.spec_from_file_location("board_picture", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


picture = _load_picture_tools()
needs_svg = pytest.mark.skipif(not hasattr(velkorant.Board, "to_svg"),
                               reason="this build of velkorant has no Board.to_svg")
needs_game = pytest.mark.skipif(not hasattr(getattr(velkorant, "Game", None), "to_svg"),
                                reason="this build of velkorant has no Game.to_svg")
needs_browser = pytest.mark.skipif(
    picture is None or picture.find_chromium() is None,
    reason="headless Chromium not found (Debian: apt-get install chromium fonts-noto-cjk): pictures not rendered")

KANJI = {"k": "玉", "g": "金", "r": "飛", "b": "角", "s": "銀", "n": "桂", "l": "香", "p": "歩",
         "+r": "龍", "+b": "馬", "+s": "全", "+n": "圭", "+l": "杏", "+p": "と"}
KINDS = [P.King, P.Gold, P.Rook, P.Bichop, P.Silver, P.Knight, P.Lance, P.Pawn,
         P.Dragon, P.Horse, P.ProSilver, P.ProKnight, P.ProLance, P.ProPawn]
FILES = "987654321"
RANKS = "abcdefghi"


def startpos():
    board = velkorant.Board()
    board.startpos()
    return board


def index_of(square):
    """The library's square index of a USI square: column 10 - file, row 10 - rank."""
    return (9 - RANKS.index(square[1])) * 11 + 10 - int(square[0])


def placement_squares(board):
    """USI square -> piece letters, read from the board text form (SFEN's placement field)."""
    placement = repr(board)[len("velkorant.Board("):-1]
    squares = {}
    for rank, row in zip(RANKS, placement.split("/")):
        file_index = 0
        for token in re.findall(r"\d|\+?[a-zA-Z]", row):
            if token.isdigit():
                file_index += int(token)
            else:
                squares[FILES[file_index] + rank] = token
                file_index += 1
    return squares


class Picture:
    """An SVG picture parsed, with the board rectangle that locates its squares."""

    def __init__(self, svg):
        self.svg = svg
        self.root = ElementTree.fromstring(svg.encode("utf-8"))
        self.width, self.height = int(self.root.get("width")), int(self.root.get("height"))
        board = self.root.find(SVG + "rect[@id='board']")
        self.left, self.top = int(board.get("x")), int(board.get("y"))
        self.square_width, self.square_height = int(board.get("width")) // 9, int(board.get("height")) // 9
        self.right, self.bottom = self.left + 9 * self.square_width, self.top + 9 * self.square_height

    def box(self, square):
        """(left, top, width, height) of a USI square."""
        return (self.left + FILES.index(square[0]) * self.square_width,
                self.top + RANKS.index(square[1]) * self.square_height, self.square_width, self.square_height)

    def square_at(self, x, y):
        if not (self.left <= x < self.right and self.top <= y < self.bottom):
            return None
        return FILES[(x - self.left) // self.square_width] + RANKS[(y - self.top) // self.square_height]

    def pieces(self):
        """USI square -> (kanji, turned, text colour) of every piece drawn."""
        out = {}
        for group in self.root.iter(SVG + "g"):
            if group.get("class") != "piece":
                continue
            transform = group.get("transform")
            x, y = map(int, re.search(r"translate\((-?\d+),(-?\d+)\)", transform).groups())
            text = group.find(SVG + "text")
            out[self.square_at(x, y)] = (text.text, "rotate(180" in transform, text.get("fill"))
        return out


def changed_pixels(first, second):
    """The (x, y) where two pictures of one size differ by more than the browser's rendering
    noise (a few levels where a picture lies on the page)."""
    assert (first.width, first.height) == (second.width, second.height)
    def differ(a, b, x):
        return sum(abs(p - q) for p, q in zip(a[3 * x:3 * x + 3], b[3 * x:3 * x + 3])) > 48

    return [(x, y) for y, (a, b) in enumerate(zip(first.rows, second.rows)) if a != b
            for x in range(first.width) if differ(a, b, x)]


def odd_board():
    board = velkorant.Board()
    for index in (0, 11, 21, 120, 121, 127):
        board.deploy(index, P.Rook, B)
    board.deploy(index_of("5e"), getattr(P, "None"), B)
    board.deploy(index_of("5i"), P.King, getattr(velkorant.ColorType, "None"))
    board.deploy(index_of("5a"), P.Dragon, velkorant.ColorType.ColorNumber)
    return board


# --- the document ---------------------------------------------------------------------------

@needs_svg
@pytest.mark.parametrize("make", [velkorant.Board, startpos, odd_board], ids=["empty", "startpos", "odd"])
def test_document(make):
    svg = make().to_svg()
    root = ElementTree.fromstring(svg.encode("utf-8"))
    assert root.tag == SVG + "svg" and root.get("version") == "1.1"
    assert root.get("viewBox") == "0 0 %s %s" % (root.get("width"), root.get("height"))
    tags = {element.tag for element in root.iter()}
    assert not tags & {SVG + "script", SVG + "foreignObject", SVG + "image"}
    assert not [name for element in root.iter() for name in element.attrib if name.endswith("href")]
    assert make().to_svg() == svg
    assert make()._repr_svg_() == svg


@needs_svg
def test_odd_records_draw_only_the_playing_area():
    pieces = Picture(odd_board().to_svg()).pieces()
    # The wall squares, 121..127 and the occupied square of kind None show nothing; a piece of
    # no side stands upright.
    assert {square: turned for square, (_, turned, _) in pieces.items()} == {"5i": False, "5a": False}
    assert pieces["5i"][0] == "玉" and pieces["5a"][0] == "龍"


@needs_svg
@pytest.mark.parametrize("seed", range(6))
def test_pieces_match_the_board_text(seed):
    """Every piece of a random position stands on its square with its kanji, White's turned and
    promoted ones in another colour, exactly as the board's text form has it."""
    rng = random.Random(seed)
    board = startpos() if seed == 0 else velkorant.Board()
    for _ in range(rng.randrange(0, 60)):
        board.deploy(rng.randrange(1, 10) * 11 + rng.randrange(1, 10), rng.choice(KINDS), rng.choice([B, W]))
    expected = placement_squares(board)
    pieces = Picture(board.to_svg()).pieces()
    assert set(pieces) == set(expected)
    plain_colours = {fill for (kanji, _, fill) in pieces.values() if kanji in "玉王金飛角銀桂香歩"}
    for square, letters in expected.items():
        kanji, turned, fill = pieces[square]
        white = letters[-1].islower()
        assert kanji == ("王" if white and letters == "k" else KANJI[letters.lower()]), square
        assert turned == white, square
        assert (fill not in plain_colours) == letters.startswith("+"), square


# --- what the browser shows -----------------------------------------------------------------

LAST_MOVES = [("startpos", "7g7f", {"7g", "7f"}),
              ("startpos", "7g7f 3c3d 8h2b+", {"8h", "2b"}),
              ("sfen 4k4/9/9/9/9/9/9/9/4K4 b P 1", "P*5e", {"5e"})]
HANDS = "4k4/9/9/9/9/9/9/9/4K4 b %s 1"
PROMOTED = {"6e": (P.Rook, B), "5e": (P.Dragon, B), "4e": (P.Bichop, W), "3e": (P.Horse, W),
            "6c": (P.Pawn, W), "5c": (P.ProPawn, W), "4c": (P.Silver, B), "3c": (P.ProSilver, B)}


def promoted_board():
    board = velkorant.Board()
    for square, (kind, colour) in PROMOTED.items():
        board.deploy(index_of(square), kind, colour)
    return board


def pictures():
    """Every picture the rendered tests look at, by name, so that one browser run shows them all."""
    out = {"startpos": startpos().to_svg(), "promoted": promoted_board().to_svg()}
    if hasattr(getattr(velkorant, "Game", None), "to_svg"):
        for i, (start, moves, _) in enumerate(LAST_MOVES):
            game = velkorant.Game.from_usi("%s moves %s" % (start, moves))
            out["marked %d" % i] = game.to_svg()
            out["plain %d" % i] = velkorant.Game(game.sfen()).to_svg()
        out["black to move"] = velkorant.Game().to_svg()
        out["white to move"] = velkorant.Game(velkorant.Game().sfen().replace(" b ", " w ")).to_svg()
        out["hands"] = velkorant.Game(HANDS % "RB2G3S3N2L9Pbgsnl").to_svg()
        out["no hands"] = velkorant.Game(HANDS % "-").to_svg()
    return out


@pytest.fixture(scope="module")
def shown(tmp_path_factory):
    svgs = pictures()
    images = picture.render_many(list(svgs.values()), tmp_path_factory.mktemp("pictures"))
    return {name: (Picture(svg), image) for (name, svg), image in zip(svgs.items(), images)}


@needs_svg
@needs_browser
def test_picture_of_the_initial_position(shown):
    drawn, image = shown["startpos"]
    assert (image.width, image.height) == (drawn.width, drawn.height)
    # Nothing runs off the picture: its outermost rows and columns are all background.
    background = image.pixel(0, 0)
    edge = [(x, y) for x in range(image.width) for y in (0, 1, image.height - 2, image.height - 1)]
    edge += [(x, y) for y in range(image.height) for x in (0, 1, image.width - 2, image.width - 1)]
    assert {image.pixel(x, y) for x, y in edge} == {background}

    def inner(square):  # the square without its lines and star points
        left, top, width, height = drawn.box(square)
        return image.crop(left + 4, top + 4, width - 8, height - 8)

    occupied = placement_squares(startpos())
    for square in (f + r for f in FILES for r in RANKS):
        ink = sum(1 for pixel in inner(square).pixels() if max(pixel) < 110)
        assert (ink > 30) == (square in occupied), square

    # White's pawns are Black's turned upside down.
    def distance(a, b):
        return sum(abs(p - q) for ra, rb in zip(a.rows, b.rows) for p, q in zip(ra, rb))

    for file in FILES:
        white, black = inner(file + "c"), inner(file + "g")
        assert distance(white.turned(), black) * 10 < distance(white, black), file


@needs_svg
@needs_browser
def test_promoted_pieces_are_red(shown):
    drawn, image = shown["promoted"]
    assert set(placement_squares(promoted_board())) == set(PROMOTED)

    def red(square):
        return sum(1 for r, g, b in image.crop(*drawn.box(square)).pixels() if r > 150 and g < 90 and b < 90)

    for square, (kind, _) in PROMOTED.items():
        assert (red(square) > 20) == (int(kind) >= int(P.Dragon)), square


@needs_game
@needs_browser
@pytest.mark.parametrize("case", range(len(LAST_MOVES)))
def test_last_move_is_highlighted(shown, case):
    marked = LAST_MOVES[case][2]
    (drawn, image), (_, plain) = shown["marked %d" % case], shown["plain %d" % case]
    changed = changed_pixels(image, plain)
    assert {drawn.square_at(x, y) for x, y in changed} == marked
    for square in marked:  # the whole square is filled, not a dot
        left, top, width, height = drawn.box(square)
        inside = sum(1 for x, y in changed if left <= x < left + width and top <= y < top + height)
        assert inside > width * height // 3, square


@needs_game
@needs_browser
def test_side_to_move_is_shown_below_the_board(shown):
    drawn = shown["startpos"][0]
    for first, second in (("startpos", "black to move"), ("black to move", "white to move")):
        changed = changed_pixels(shown[first][1], shown[second][1])
        assert changed, (first, second)
        assert all(drawn.bottom < y < drawn.height - 2 and 2 <= x < drawn.width - 2 for x, y in changed)


@needs_game
@needs_browser
def test_hands_are_beside_the_board(shown):
    drawn, image = shown["hands"]
    changed = changed_pixels(image, shown["no hands"][1])
    above = [(x, y) for x, y in changed if y < drawn.top]
    below = [(x, y) for x, y in changed if y >= drawn.bottom]
    assert len(above) + len(below) == len(changed), "hand text drawn over the board"
    # White's hand from the board's left edge, Black's up to its right edge, all inside.
    assert above and min(x for x, _ in above) >= drawn.left - 2
    assert below and max(x for x, _ in below) <= drawn.right + 2
    assert all(2 <= x < drawn.width - 2 and 2 <= y < drawn.height - 2 for x, y in changed)
