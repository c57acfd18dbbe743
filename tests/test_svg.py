"""The board picture: the SVG document, and what headless Chromium shows of it.

A picture is read as a player reads a diagram: file 9 on the left, rank a at the top, Black at
the bottom. Most rendered checks compare two pictures that differ in one thing (the last move,
the side to move, the hands) and look only at what that changes. tools/board_picture.py does
the rendering and reads the PNG."""
import random
import re
import xml.etree.ElementTree as ElementTree

import pytest

import velkorant
from support.browser import needs_browser, picture

SVG = "{http://www.w3.org/2000/svg}"
B, W = velkorant.ColorType.Black, velkorant.ColorType.White
P = velkorant.PieceType
FILES, RANKS = "987654321", "abcdefghi"
KANJI = dict(zip(["k", "g", "r", "b", "s", "n", "l", "p", "+r", "+b", "+s", "+n", "+l", "+p"], "玉金飛角銀桂香歩龍馬全圭杏と"))

has_game = hasattr(getattr(velkorant, "Game", None), "to_svg")
needs_svg = pytest.mark.skipif(not hasattr(velkorant.Board, "to_svg"), reason="this velkorant has no Board.to_svg")
needs_game = pytest.mark.skipif(not has_game, reason="this velkorant has no Game.to_svg")


def startpos():
    board = velkorant.Board()
    board.startpos()
    return board


def placement_squares(board):
    """USI square -> piece letters, from the board text form (SFEN's placement field)."""
    squares = {}
    for rank, row in zip(RANKS, repr(board)[len("velkorant.Board("):-1].split("/")):
        file_index = 0
        for token in re.findall(r"\d|\+?[a-zA-Z]", row):
            if token.isdigit():
                file_index += int(token)
            else:
                squares[FILES[file_index] + rank] = token
                file_index += 1
    return squares


class Picture:
    """A parsed picture; its board rectangle locates the squares."""

    def __init__(self, svg):
        self.svg, self.root = svg, ElementTree.fromstring(svg.encode("utf-8"))
        self.width, self.height = int(self.root.get("width")), int(self.root.get("height"))
        board = self.root.find(SVG + "rect[@id='board']")
        self.left, self.top = int(board.get("x")), int(board.get("y"))
        self.dx, self.dy = int(board.get("width")) // 9, int(board.get("height")) // 9
        self.right, self.bottom = self.left + 9 * self.dx, self.top + 9 * self.dy

    def box(self, square, inset=0):
        left = self.left + FILES.index(square[0]) * self.dx
        top = self.top + RANKS.index(square[1]) * self.dy
        return left + inset, top + inset, self.dx - 2 * inset, self.dy - 2 * inset

    def square_at(self, x, y):
        if self.left <= x < self.right and self.top <= y < self.bottom:
            return FILES[(x - self.left) // self.dx] + RANKS[(y - self.top) // self.dy]
        return None

    def pieces(self):
        """USI square -> (kanji, turned upside down, text colour)."""
        out = {}
        for group in self.root.iter(SVG + "g"):
            if group.get("class") == "piece":
                x, y = map(int, re.search(r"translate\((\d+),(\d+)\)", group.get("transform")).groups())
                text = group.find(SVG + "text")
                out[self.square_at(x, y)] = (text.text, "rotate(180" in group.get("transform"), text.get("fill"))
        return out


@needs_svg
@pytest.mark.parametrize("seed", range(6))
def test_document_shows_the_board_text(seed):
    """A standalone SVG 1.1 document; every piece of a random position on its square with its
    kanji, White's turned, promoted ones in another colour, as the board text form has it."""
    rng = random.Random(seed)
    board = startpos() if seed == 0 else velkorant.Board()
    for _ in range(rng.randrange(0, 60)):
        board.deploy(rng.randrange(1, 10) * 11 + rng.randrange(1, 10), P(rng.randrange(1, 15)), rng.choice([B, W]))
    svg = board.to_svg()
    root = ElementTree.fromstring(svg.encode("utf-8"))
    assert root.tag == SVG + "svg" and root.get("viewBox") == "0 0 %s %s" % (root.get("width"), root.get("height"))
    assert not {e.tag for e in root.iter()} & {SVG + "script", SVG + "foreignObject", SVG + "image"}
    assert not [name for e in root.iter() for name in e.attrib if name.endswith("href")]
    assert board.to_svg() == svg == board._repr_svg_()

    expected, pieces = placement_squares(board), Picture(svg).pieces()
    assert set(pieces) == set(expected)
    plain = {fill for kanji, _, fill in pieces.values() if kanji in "玉王金飛角銀桂香歩"}
    for square, letters in expected.items():
        kanji, turned, fill = pieces[square]
        white = letters[-1].islower()
        assert kanji == ("王" if letters == "k" else KANJI[letters.lower()]), square
        assert (turned, fill not in plain) == (white, letters.startswith("+")), square


LAST_MOVES = [("startpos", "7g7f", {"7g", "7f"}), ("startpos", "7g7f 3c3d 8h2b+", {"8h", "2b"}),
              ("sfen 4k4/9/9/9/9/9/9/9/4K4 b P 1", "P*5e", {"5e"})]
# Both kings and, for the red test, a plain and a promoted piece of each side on rank e.
HANDS = "4k4/9/9/9/2s+s1P+P2/9/9/9/4K4 b %s 1"


@pytest.fixture(scope="module")
def shown(tmp_path_factory):
    """Every picture the rendered tests look at, by name, rendered in one browser run."""
    svgs = {"startpos": startpos().to_svg()}
    if has_game:
        for i, (start, moves, _) in enumerate(LAST_MOVES):
            game = velkorant.Game.from_usi("%s moves %s" % (start, moves))
            svgs["marked %d" % i], svgs["plain %d" % i] = game.to_svg(), velkorant.Game(game.sfen()).to_svg()
        svgs["black to move"] = velkorant.Game().to_svg()
        svgs["white to move"] = velkorant.Game(velkorant.Game().sfen().replace(" b ", " w ")).to_svg()
        svgs["hands"] = velkorant.Game(HANDS % "RB2G2S2N2L9Pbgnl").to_svg()
        svgs["no hands"] = velkorant.Game(HANDS % "-").to_svg()
    images = picture.render_many(list(svgs.values()), tmp_path_factory.mktemp("pictures"))
    return {name: (Picture(svg), image) for (name, svg), image in zip(svgs.items(), images)}


def changed_pixels(first, second):
    """Where two pictures differ by more than the browser's rendering noise (a few levels)."""
    def differ(a, b, x):
        return sum(abs(p - q) for p, q in zip(a[3 * x:3 * x + 3], b[3 * x:3 * x + 3])) > 48

    return [(x, y) for y, (a, b) in enumerate(zip(first.rows, second.rows)) if a != b
            for x in range(first.width) if differ(a, b, x)]


def inside(drawn, points, margin=2):
    return all(margin <= x < drawn.width - margin and margin <= y < drawn.height - margin for x, y in points)


@needs_svg
@needs_browser
def test_initial_position_as_seen(shown):
    drawn, image = shown["startpos"]
    assert (image.width, image.height) == (drawn.width, drawn.height)
    # Nothing runs off the picture: the two outermost rows and columns are all background.
    edge = [(x, y) for x in range(image.width) for y in (0, 1, image.height - 2, image.height - 1)]
    edge += [(x, y) for y in range(image.height) for x in (0, 1, image.width - 2, image.width - 1)]
    assert len({image.pixel(x, y) for x, y in edge}) == 1
    occupied = placement_squares(startpos())
    for square in (f + r for f in FILES for r in RANKS):  # ink inside the lines: a piece
        ink = sum(1 for pixel in image.crop(*drawn.box(square, 4)).pixels() if max(pixel) < 110)
        assert (ink > 30) == (square in occupied), square

    def distance(a, b):
        return sum(abs(p - q) for ra, rb in zip(a.rows, b.rows) for p, q in zip(ra, rb))

    for file in FILES:  # White's pawns are Black's upside down
        white, black = image.crop(*drawn.box(file + "c", 3)), image.crop(*drawn.box(file + "g", 3))
        assert distance(white.turned(), black) * 10 < distance(white, black), file


@needs_game
@needs_browser
@pytest.mark.parametrize("case", range(len(LAST_MOVES)))
def test_last_move_is_highlighted(shown, case):
    (drawn, image), (_, plain) = shown["marked %d" % case], shown["plain %d" % case]
    changed = changed_pixels(image, plain)
    assert {drawn.square_at(x, y) for x, y in changed} == LAST_MOVES[case][2]
    for square in LAST_MOVES[case][2]:  # the whole square is filled, not a dot
        left, top, width, height = drawn.box(square)
        assert sum(left <= x < left + width and top <= y < top + height for x, y in changed) > width * height // 3


@needs_game
@needs_browser
def test_side_to_move_is_captioned_below_the_board(shown):
    drawn = shown["startpos"][0]
    for first, second in (("startpos", "black to move"), ("black to move", "white to move")):
        changed = changed_pixels(shown[first][1], shown[second][1])
        assert changed and inside(drawn, changed) and min(y for _, y in changed) > drawn.bottom, (first, second)


@needs_game
@needs_browser
def test_hands_beside_the_board_and_promoted_pieces_red(shown):
    drawn, image = shown["hands"]
    changed = changed_pixels(image, shown["no hands"][1])
    above = [x for x, y in changed if y < drawn.top]
    below = [x for x, y in changed if y >= drawn.bottom]
    # White's hand on the left above the board (after its unchanged ☖), Black's on the right
    # below it; none over the board, all inside the picture.
    assert above and below and len(above) + len(below) == len(changed) and inside(drawn, changed)
    assert drawn.left <= min(above) < drawn.left + 2 * drawn.dx and max(above) < drawn.right
    assert drawn.left < min(below) and drawn.right - drawn.dx // 4 <= max(below) <= drawn.right

    def red(square):
        return sum(r > 150 and g < 90 and b < 90 for r, g, b in image.crop(*drawn.box(square)).pixels())

    assert [red(square) > 20 for square in ("7e", "6e", "4e", "3e")] == [False, True, False, True]
