"""The record viewer in a real browser: headless Chromium clicks its buttons and moves, and the
picture shown must be the position of the ply reached."""
import re
import shutil
import subprocess

import pytest

from velkorant import records

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
pytestmark = pytest.mark.skipif(CHROMIUM is None, reason="needs chromium (apt-get install chromium)")

RECORD = records.loads("startpos moves 7g7f 3c3d 8h2b+ 3a2b")


def shown(tmp_path, body, clicks):
    """The (ply, picture title) each viewer shows after the clicks (a script run on the page)."""
    page = tmp_path / "page.html"
    page.write_text(f"<!doctype html><meta charset=utf-8><body>{body}<script>{clicks}</script></body>",
                    encoding="utf-8")
    dom = subprocess.run([CHROMIUM, "--headless", "--disable-gpu", "--no-sandbox", "--dump-dom", page.as_uri()],
                         capture_output=True, text=True, timeout=60).stdout
    return re.findall(r'class="vk-board" data-ply="(\d+)"><svg.*?<title>Shogi position ([^<\s]+)', dom, re.S)


def sfens():
    game, out = RECORD.game(0), []
    out.append(game.sfen().split()[0])
    for move in RECORD.moves:
        game.push_usi(move)
        out.append(game.sfen().split()[0])
    return out


@pytest.mark.parametrize("clicks, ply", [
    ("", 0),
    ("v.querySelector('button.next').click(); v.querySelector('button.next').click();"
     "v.querySelector('button.prev').click();", 1),
    ("v.querySelector('button.last').click();", 4),
    ("v.querySelectorAll('.vk-moves li')[2].click();", 3),
    ("v.querySelector('button.last').click(); v.querySelector('button.first').click();", 0),
])
def test_buttons_and_moves_show_the_position_reached(tmp_path, clicks, ply):
    script = f"const v = document.querySelector('.vk-viewer'); {clicks}"
    assert shown(tmp_path, RECORD._repr_html_(), script) == [(str(ply), sfens()[ply])]


def test_viewers_on_one_page_do_not_interfere(tmp_path):
    body = RECORD._repr_html_() + RECORD._repr_html_()
    script = "document.querySelectorAll('.vk-viewer')[1].querySelector('button.last').click();"
    assert shown(tmp_path, body, script) == [("0", sfens()[0]), ("4", sfens()[4])]
