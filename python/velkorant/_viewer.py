"""The game viewer that Jupyter shows for a record: the board, buttons to step through the main
line, and the move list. One self-contained HTML fragment: no network, no external script, and
several viewers can share a page."""

from __future__ import annotations

import html
import itertools
import json
from collections.abc import Sequence

_ids = itertools.count()

_STYLE = """<style>
.vk-viewer{display:flex;gap:12px;font-family:sans-serif;outline:none}
.vk-viewer .vk-board svg{width:360px;height:auto}
.vk-viewer .vk-moves{max-height:420px;overflow-y:auto;min-width:9em;margin:0;padding:0;list-style:none}
.vk-viewer .vk-moves li{cursor:pointer;padding:1px 4px}
.vk-viewer .vk-moves li.vk-current{background:#fd8;font-weight:bold}
</style>"""

# Shows the position of a ply: the picture, the ply, the highlighted move.
_SCRIPT = """<script>
(function () {
  const root = document.getElementById(%(id)s), svgs = %(svgs)s;
  const board = root.querySelector(".vk-board"), items = root.querySelectorAll(".vk-moves li");
  svgs.unshift(board.innerHTML);
  let ply = 0;
  function show(n) {
    ply = Math.max(0, Math.min(svgs.length - 1, n));
    board.innerHTML = svgs[ply];
    board.dataset.ply = ply;
    root.querySelector(".vk-ply").textContent = ply + " / " + (svgs.length - 1);
    items.forEach(function (item, i) { item.classList.toggle("vk-current", i + 1 === ply); });
  }
  const steps = {first: () => 0, prev: () => ply - 1, next: () => ply + 1, last: () => svgs.length - 1};
  for (const name in steps) root.querySelector("button." + name).onclick = () => show(steps[name]());
  items.forEach(function (item, i) { item.onclick = () => show(i + 1); });
  root.onkeydown = function (e) {
    if (e.key === "ArrowLeft") show(ply - 1);
    if (e.key === "ArrowRight") show(ply + 1);
  };
  show(0);
})();
</script>"""


def page(svgs: Sequence[str], labels: Sequence[str], title: str = "") -> str:
    """An HTML fragment stepping through positions: ``svgs[i]`` is the picture after ``i`` moves,
    ``labels[i]`` names move ``i + 1``."""
    if len(labels) != len(svgs) - 1:
        raise ValueError(f"{len(svgs)} pictures need {len(svgs) - 1} move labels, not {len(labels)}")
    element = f"vk-viewer-{next(_ids)}"
    pictures = [svg[svg.index("<svg"):] for svg in svgs]  # without the XML declaration
    # The start is in the page itself, so it shows even where scripts do not run; the script holds
    # the others. "</" inside a script's string would end the script: written as "<\/".
    data = json.dumps(pictures[1:]).replace("</", "<\\/")
    moves = "".join(f"<li>{html.escape(label)}</li>" for label in labels)
    heading = f"<div><b>{html.escape(title)}</b></div>" if title else ""
    buttons = "".join(f'<button class="{name}">{name}</button>' for name in ("first", "prev", "next", "last"))
    return (f'{_STYLE}<div id="{element}" class="vk-viewer" tabindex="0"><div>{heading}'
            f'<div class="vk-board" data-ply="0">{pictures[0]}</div>'
            f'<div>{buttons} <span class="vk-ply">0 / {len(labels)}</span></div></div>'
            f'<ol class="vk-moves">{moves}</ol></div>'
            + _SCRIPT % {"id": json.dumps(element), "svgs": data})
