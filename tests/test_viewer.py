"""The game viewer in a real browser: headless Chromium clicks its buttons, its moves and its arrow
keys, and the picture shown must be the position of the ply reached."""
import re

import pytest

import velkorant
from velkorant import _viewer
from support.browser import needs_browser, picture

MOVES = ["7g7f", "3c3d", "8h2b+", "3a2b"]
SHOWN = r'class="vk-board" data-ply="(\d+)"><svg.*?<title>Shogi position ([^<\s]+)'


def positions():
    """The SVG and the board field of the position after each of MOVES."""
    game = velkorant.Game()
    out = [(game.to_svg(), game.sfen().split()[0])]
    for move in MOVES:
        game.push_usi(move)
        out.append((game.to_svg(), game.sfen().split()[0]))
    return out


def viewer(title=""):
    return _viewer.page([svg for svg, _ in positions()], [f"{i}. {m}" for i, m in enumerate(MOVES, 1)], title)


def shown(body, script):
    """The (ply, board field) each viewer on the page shows after the script has run."""
    dom = picture.dump_dom(f"<!doctype html><meta charset=utf-8><body>{body}<script>{script}</script></body>")
    return re.findall(SHOWN, dom, re.S)


@needs_browser
@pytest.mark.parametrize("actions, ply", [
    ("", 0),
    ("click('next'); click('next'); click('prev');", 1),
    ("click('last');", 4),
    ("click('last'); click('first');", 0),
    ("v.querySelectorAll('.vk-moves li')[2].click();", 3),
    ("key('ArrowRight'); key('ArrowRight'); key('ArrowRight'); key('ArrowLeft');", 2),
])
def test_buttons_moves_and_keys_show_the_position_reached(actions, ply):
    script = ("const v = document.querySelector('.vk-viewer');"
              "const click = name => v.querySelector('button.' + name).click();"
              "const key = k => v.dispatchEvent(new KeyboardEvent('keydown', {key: k}));" + actions)
    assert shown(viewer(), script) == [(str(ply), positions()[ply][1])]


@needs_browser
def test_viewers_on_one_page_do_not_interfere():
    script = "document.querySelectorAll('.vk-viewer')[1].querySelector('button.last').click();"
    assert shown(viewer() + viewer(), script) == [("0", positions()[0][1]), ("4", positions()[4][1])]


def test_fragment_is_self_contained_and_escaped():
    fragment = viewer(title="<b>Sente & Gote</b>")
    assert re.findall(r"https?://[^\s\"'\\]*", fragment) == ["http://www.w3.org/2000/svg"] * len(positions())
    assert "&lt;b&gt;Sente &amp; Gote&lt;/b&gt;" in fragment and "<b>Sente" not in fragment
    assert re.findall(SHOWN, fragment, re.S) == [("0", positions()[0][1])]  # the start, even without scripts
    with pytest.raises(ValueError):
        _viewer.page([positions()[0][0]], ["1. 7g7f"])
