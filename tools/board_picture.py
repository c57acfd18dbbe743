"""Pictures of positions: the board's SVG rendered to PNG by headless Chromium, and a small PNG
reader for checking what the picture shows.

    python tools/board_picture.py                 # docs/startpos.png, the initial position
    python tools/board_picture.py -o out.png --svg board.svg

Needs the velkorant module (unless --svg is given), Chromium (Debian: apt-get install chromium)
and a font with the kanji and the ☗ ☖ marks (Debian: fonts-noto-cjk).
"""
import argparse
import base64
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
BROWSERS = ("chromium", "chromium-browser", "google-chrome", "google-chrome-stable")


def find_chromium():
    """The path of a Chromium-like browser, or None."""
    for name in BROWSERS:
        path = shutil.which(name)
        if path:
            return path
    return None


def svg_size(svg_text):
    """(width, height) in pixels as the document declares them."""
    root = ElementTree.fromstring(svg_text.encode("utf-8"))
    return int(root.get("width")), int(root.get("height"))


def _browser_environment():
    """This process's environment without what a sanitizer run of the tests preloads and sets:
    the browser is not ours to check, and with those it hangs."""
    return {name: value for name, value in os.environ.items()
            if name not in ("LD_PRELOAD", "PYTHONMALLOC") and not name.endswith("SAN_OPTIONS")}


def _run_browser(html, options, timeout):
    """One headless Chromium run over the page `html`, with a profile of its own (runs side by
    side never share a browser) and the options given; returns the finished process."""
    browser = find_chromium()
    if browser is None:
        raise RuntimeError("no Chromium found (tried %s)" % ", ".join(BROWSERS))
    with tempfile.TemporaryDirectory(prefix="board-picture-") as scratch:
        page = pathlib.Path(scratch, "page.html")
        page.write_text(html, encoding="utf-8")
        command = [browser, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                   "--user-data-dir=" + str(pathlib.Path(scratch, "profile")), *options, page.as_uri()]
        return subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=_browser_environment())


def dump_dom(html, timeout=60):
    """The document Chromium holds once the page `html` has loaded and its scripts have run."""
    result = _run_browser(html, ["--dump-dom"], timeout)
    if result.returncode != 0:
        raise RuntimeError("Chromium failed (exit %d): %s" % (result.returncode, result.stderr[-2000:]))
    return result.stdout


def _screenshot(svgs, path, timeout):
    """One headless Chromium run: the SVG documents stacked top to bottom on a blank page, each
    at its declared size, one image pixel per SVG pixel. Returns their (width, height)s."""
    sizes = [svg_size(svg) for svg in svgs]
    images = "".join('<img width="%d" height="%d" src="data:image/svg+xml;base64,%s">'
                     % (w, h, base64.b64encode(svg.encode("utf-8")).decode("ascii"))
                     for svg, (w, h) in zip(svgs, sizes))
    html = ('<!DOCTYPE html><html><head><meta charset="utf-8"><style>html,body{margin:0;padding:0;'
            'background:#fff}img{display:block}</style></head><body>%s</body></html>' % images)
    path = pathlib.Path(path).resolve()
    if path.exists():
        path.unlink()
    result = _run_browser(html, ["--hide-scrollbars", "--force-device-scale-factor=1",
                                 "--window-size=%d,%d" % (max(w for w, _ in sizes), sum(h for _, h in sizes)),
                                 "--screenshot=" + str(path)], timeout)
    if result.returncode != 0 or not path.exists():
        raise RuntimeError("Chromium made no screenshot (exit %d): %s" % (result.returncode, result.stderr[-2000:]))
    return sizes


def render_png(svg_text, path, timeout=120):
    """Screenshot one SVG document with headless Chromium into the PNG file `path`."""
    _screenshot([svg_text], path, timeout)
    return pathlib.Path(path)


def render_many(svgs, directory, timeout=120):
    """Render several SVG documents in one browser run; one Image each."""
    sheet = pathlib.Path(directory, "sheet.png")
    sizes = _screenshot(list(svgs), sheet, timeout)
    image, top, out = read_png(sheet), 0, []
    for width, height in sizes:
        out.append(image.crop(0, top, width, height))
        top += height
    return out


class Image:
    """An 8-bit RGB picture: `rows[y]` holds 3 bytes per pixel."""

    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows

    def pixel(self, x, y):
        row = self.rows[y]
        return row[3 * x], row[3 * x + 1], row[3 * x + 2]

    def crop(self, left, top, width, height):
        return Image(width, height, [row[3 * left:3 * (left + width)] for row in self.rows[top:top + height]])

    def turned(self):
        """The picture after a half turn."""
        rows = []
        for row in reversed(self.rows):
            flipped = bytearray(len(row))
            for x in range(self.width):
                flipped[3 * x:3 * x + 3] = row[3 * (self.width - 1 - x):3 * (self.width - x)]
            rows.append(bytes(flipped))
        return Image(self.width, self.height, rows)

    def pixels(self):
        for y in range(self.height):
            for x in range(self.width):
                yield self.pixel(x, y)


def read_png(path):
    """Decode an 8-bit, non-interlaced greyscale, RGB or RGBA PNG (what Chromium writes) into an
    Image; alpha is dropped."""
    data = pathlib.Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s is not a PNG file" % path)
    at, idat, header = 8, [], None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError("unsupported PNG: depth %d, colour type %d, interlace %d" % (depth, colour, interlace))
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    previous = bytearray(stride)
    rows = []
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, previous))
        elif kind == 3:
            for i in range(channels):
                line[i] = (line[i] + (previous[i] >> 1)) & 255
            for i in range(channels, stride):
                line[i] = (line[i] + ((line[i - channels] + previous[i]) >> 1)) & 255
        elif kind == 4:
            # Paeth: add whichever of left, up and up-left is nearest to left + up - up-left.
            for i in range(channels):
                line[i] = (line[i] + previous[i]) & 255
            for i in range(channels, stride):
                a, b, c = line[i - channels], previous[i], previous[i - channels]
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - c - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        elif kind != 0:
            raise ValueError("bad PNG filter %d in row %d" % (kind, y))
        previous = line
        if channels == 3:
            rows.append(bytes(line))
        else:
            rgb = bytearray(3 * width)
            for x in range(width):
                pixel = line[x * channels:x * channels + 3] if channels == 4 else line[x:x + 1] * 3
                rgb[3 * x:3 * x + 3] = pixel
            rows.append(bytes(rgb))
    return Image(width, height, rows)


def startpos_svg():
    import velkorant
    board = velkorant.Board()
    board.startpos()
    return board.to_svg()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", "--output", default=str(ROOT / "docs" / "startpos.png"))
    parser.add_argument("--svg", help="render this SVG file instead of the initial position")
    args = parser.parse_args(argv)
    svg = pathlib.Path(args.svg).read_text(encoding="utf-8") if args.svg else startpos_svg()
    path = render_png(svg, args.output)
    image = read_png(path)
    print("%s: %d x %d" % (path, image.width, image.height))
    return 0


if __name__ == "__main__":
    sys.exit(main())
