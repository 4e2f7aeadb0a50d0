#!/usr/bin/env python3
"""Draw Vantrel's tool-bar images and icons as pixel-exact SVG files.

Every image is a small grid of pixels in a 16-colour palette. Each pixel
becomes a square in the SVG (runs of equal pixels in a row are merged into
one rectangle), so rendering the SVG at its own size gives the exact pixels.

Usage: python3 draw_icons.py [output-directory]   (default: this directory)
Only the Python standard library is used.
"""

import math
import os
import sys

# The classic 16-colour palette; '.' is transparent.
PALETTE = {
    "k": "#000000",  # black
    "m": "#800000",  # maroon
    "G": "#008000",  # green
    "o": "#808000",  # olive
    "n": "#000080",  # navy
    "p": "#800080",  # purple
    "t": "#008080",  # teal
    "s": "#c0c0c0",  # silver
    "g": "#808080",  # grey
    "r": "#ff0000",  # red
    "l": "#00ff00",  # lime
    "y": "#ffff00",  # yellow
    "b": "#0000ff",  # blue
    "f": "#ff00ff",  # fuchsia
    "c": "#00ffff",  # aqua
    "w": "#ffffff",  # white
}


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.px = [["."] * width for _ in range(height)]

    @classmethod
    def from_rows(cls, rows):
        rows = [r for r in rows.strip("\n").split("\n")]
        canvas = cls(len(rows[0]), len(rows))
        for y, row in enumerate(rows):
            assert len(row) == canvas.width, (y, row)
            for x, ch in enumerate(row):
                assert ch in PALETTE or ch == ".", ch
                canvas.px[y][x] = ch
        return canvas

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.px[y][x] = colour

    def get(self, x, y):
        if 0 <= x < self.width and 0 <= y < self.height:
            return self.px[y][x]
        return "."

    def rect(self, x, y, w, h, colour):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.set(xx, yy, colour)

    def blit(self, rows, x0, y0, colours):
        """Copy a character pattern; each character maps through colours."""
        for y, row in enumerate(rows.strip("\n").split("\n")):
            for x, ch in enumerate(row):
                if ch in colours:
                    self.set(x0 + x, y0 + y, colours[ch])

    def shape(self, inside, colour):
        """Fill every pixel whose centre satisfies inside(x, y)."""
        for y in range(self.height):
            for x in range(self.width):
                if inside(x + 0.5, y + 0.5):
                    self.px[y][x] = colour

    def outline(self, colour, of=None):
        """Give every non-transparent area a one-pixel outline (4-neighbours)."""
        add = []
        for y in range(self.height):
            for x in range(self.width):
                if self.px[y][x] != ".":
                    continue
                for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                    c = self.get(x + dx, y + dy)
                    if c != "." and (of is None or c in of):
                        add.append((x, y))
                        break
        for x, y in add:
            self.px[y][x] = colour

    def svg(self, title):
        out = [
            '<?xml version="1.0" encoding="UTF-8"?>',
            f'<svg xmlns="http://www.w3.org/2000/svg" width="{self.width}" '
            f'height="{self.height}" viewBox="0 0 {self.width} {self.height}" '
            'shape-rendering="crispEdges">',
            f"  <title>{title}</title>",
        ]
        for y, row in enumerate(self.px):
            x = 0
            while x < self.width:
                ch = row[x]
                run = 1
                while x + run < self.width and row[x + run] == ch:
                    run += 1
                if ch != ".":
                    out.append(
                        f'  <rect x="{x}" y="{y}" width="{run}" height="1" '
                        f'fill="{PALETTE[ch]}"/>'
                    )
                x += run
        out.append("</svg>")
        return "\n".join(out) + "\n"


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(x1, y1, x2, y2, half_width):
    """Pixels within half_width of the segment from (x1, y1) to (x2, y2)."""
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
        px, py = x1 + t * dx, y1 + t * dy
        return math.hypot(x - px, y - py) <= half_width

    return inside


def page(c, x0, y0, x1, y1, fold):
    """A sheet of paper with its top-right corner folded over."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if x - x0 <= (x1 - x0) - fold + (y - y0):
                c.set(x, y, "w")
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if c.get(x, y) != "w":
                continue
            edge = x in (x0, x1) or y in (y0, y1)
            cut = any(c.get(x + dx, y + dy) == "."
                      for dx, dy in ((1, 0), (0, -1), (1, -1)))
            if edge or cut:
                c.set(x, y, "k")
    fx = x1 - fold  # the folded flap: a silver triangle under the cut
    for i in range(fold + 1):
        for j in range(i + 1):
            c.set(fx + j, y0 + i, "s")
        c.set(fx + i, y0 + i, "k")
        c.set(fx, y0 + i, "k")
    for j in range(fold + 1):
        c.set(fx + j, y0 + fold, "k")


def magnifier(c, cx, cy, radii, handle_to, handle_width):
    """A round lens centred on (cx, cy) with a handle to handle_to.

    radii lists the rim rings from the outside in as (radius, colour);
    the last entry is the glass.
    """
    hx, hy = handle_to
    angle = math.atan2(hy - cy, hx - cx)
    ca, sa = math.cos(angle), math.sin(angle)
    r = radii[0][0]
    c.shape(segment(cx + (r - 1) * ca, cy + (r - 1) * sa, hx, hy,
                    handle_width / 2 + 1), "k")
    c.shape(segment(cx + (r + 1) * ca, cy + (r + 1) * sa, hx - ca, hy - sa,
                    handle_width / 2), "m")
    for radius, colour in radii:
        c.shape(disc(cx, cy, radius), colour)


# ---------------------------------------------------------------- tool bar

OPEN = """
.......kkkk.....
......k....k....
.....k......k.k.
.....k.......kk.
............kkk.
.kkkk...........
kyyyyk..........
kyoooykkkkkkk...
kyoooooooooyk...
kyoooooooooyk...
kyookkkkkkkkkkkk
kyokyyyyyyyyyyk.
kykyyyyyyyyyyk..
kkyyyyyyyyyyk...
kkkkkkkkkkkk....
"""

REFRESH = """
.......kk.......
......krrk......
.....krrrrk.....
....krrrrrrk....
...krrrrrrrrk...
..krrrrrrrrrrk..
.krrrrrrrrrrrrk.
kkkkkrrrrrrkkkkk
....krrrrrrk....
....krrrrrrk....
....krrrrrrk....
....krrrrrrk....
....krrrrrrk....
....krrrrrrk....
....kkkkkkkk....
"""

ABOUT = """
.....kkkkkk.....
....kyyyyyyk....
...kyyyyyyyyk...
...kyyykkyyyk...
...kkkk.kyyyk...
.......kyyyk....
......kyyyk.....
.....kyyyk......
.....kyyyk......
.....kkkkk......
................
.....kkkkk......
.....kyyyk......
.....kyyyk......
.....kkkkk......
"""


# ---------------------------------------------------------------- icons

# Letters for the 32 x 32 icons, drawn with two-pixel strokes.
L8 = """
##...
##...
##...
##...
##...
##...
#####
#####
"""

G8 = """
.#####
##....
##....
##.###
##..##
##..##
##..##
.#####
"""

# The O under the lens is drawn larger: it is magnified.
O11 = """
..#####..
.##...##.
##.....##
##.....##
##.....##
##.....##
##.....##
##.....##
##.....##
.##...##.
..#####..
"""

O9 = """
.#####.
##...##
##...##
##...##
##...##
##...##
##...##
##...##
.#####.
"""


def program_icon_32():
    """The word LOG; a magnifying glass over its O, handle down-right."""
    c = Canvas(32, 32)
    c.blit(L8, 1, 7, {"#": "n"})
    c.blit(G8, 25, 7, {"#": "n"})
    c.outline("w", of="n")  # keeps the letters legible on dark backgrounds
    magnifier(c, 15.5, 10.5, [(8.4, "k"), (7.4, "g"), (6.4, "w")],
              (30, 30), 3.2)
    c.blit(O11, 11, 5, {"#": "b"})
    return c


def document_icon_32():
    """A page with a folded corner and lines of text; on it the same
    magnifying glass over the word LOG."""
    c = Canvas(32, 32)
    page(c, 1, 0, 30, 31, 7)
    for y, x1 in ((4, 17), (7, 20), (10, 22)):
        c.rect(4, y, x1 - 4, 1, "g")
    c.blit(L8, 3, 15, {"#": "n"})
    c.blit(G8, 23, 15, {"#": "n"})
    magnifier(c, 15.5, 18.5, [(6.5, "k"), (5.5, "g"), (4.5, "w")],
              (31, 34), 3.0)
    c.blit(O9, 12, 14, {"#": "b"})
    return c


# At 16 x 16 there is no room for the drawing above, so the pixels are
# placed by hand.
PROGRAM_16 = """
................
.....kkkk.......
....kswwsk......
n..kswbbwsk..nnn
n..kwbwwbwk.n...
n..kwbwwbwk.n.nn
n..kwbwwbwk.n..n
nn.kswbbwsk..nnn
....kswwskk.....
.....kkkkmmk....
.........kmmk...
..........kmmk..
...........kmmk.
............kmmk
.............kmk
..............k.
"""

def program_icon_16():
    c = Canvas.from_rows(PROGRAM_16)
    c.outline("w", of="n")
    return c


# On the page the rim of the lens is itself the O.
DOCUMENT_16 = """
kkkkkkkkkkkk....
kwwwwwwwwwwkk...
kwggggggwwwksk..
kwwwwwwwwwwkssk.
kwgggggggwwkkkkk
kwwwwwkkkwwwwwwk
kwnwwkwwwkwwnnwk
kwnwwkwwwkwnwwwk
kwnwwkwwwkwnwnwk
kwnwwkwwwkwnwnwk
kwnnwwkkkmwwnnwk
kwwwwwwwwmmwwwwk
kwwwwwwwwwmmwwwk
kwwwwwwwwwwmmwwk
kwwwwwwwwwwwmmwk
kkkkkkkkkkkkkkkk
"""


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(
        os.path.abspath(__file__))
    images = {
        "open": (Canvas.from_rows(OPEN), "Open: an opened folder"),
        "refresh": (Canvas.from_rows(REFRESH), "Refresh: a red arrow up"),
        "about": (Canvas.from_rows(ABOUT), "About: a question mark"),
        "vantrel": (program_icon_32(), "Vantrel"),
        "vantrel-16": (program_icon_16(), "Vantrel"),
        "logfile": (document_icon_32(), "Log file"),
        "logfile-16": (Canvas.from_rows(DOCUMENT_16), "Log file"),
    }
    for name, (canvas, title) in images.items():
        with open(os.path.join(out_dir, name + ".svg"), "w") as f:
            f.write(canvas.svg(title))


if __name__ == "__main__":
    main()
