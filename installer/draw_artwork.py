#!/usr/bin/env python3
"""Draws the installer's pictures into artwork/, with the drawing tools of the plug-in's
pictures (plugin/res/draw_images.py):
    welcome.bmp  164x314  beside the welcome and finish pages
    header.bmp   150x57   in the header of the other pages
They are drawn four times larger and averaged down, so that edges come out smooth (no
colour is transparent here). Run it again after changing a picture:
    python3 installer/draw_artwork.py
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "plugin", "res"))
from draw_images import Canvas, Glyph, badge, write_bmp  # noqa: E402

OUT = os.path.join(HERE, "artwork")
SCALE = 4

BROWN = (120, 60, 20)
CREAM = (255, 246, 226)


def kestrel(g, color):
    """A kestrel hovering into the wind, seen from below: long pointed wings bent at the
    wrist, a narrow body and a long tail."""
    for side in (1, -1):
        def x(u):
            return 12 + side * (u - 12)
        g.polygon([(x(11.4), 8.9), (x(9.0), 7.9), (x(6.4), 7.0), (x(3.2), 7.9), (x(0.2), 10.3), (x(2.6), 10.0),
                   (x(4.6), 10.7), (x(6.8), 11.5), (x(9.4), 11.6), (x(11.4), 11.2)], color)
    g.polygon([(12, 6.2), (12.9, 7.4), (13.2, 10.4), (12.9, 13.8), (12, 14.6), (11.1, 13.8), (10.8, 10.4),
               (11.1, 7.4)], color)
    g.polygon([(11.35, 13.6), (12.65, 13.6), (13.7, 21.0), (12, 21.7), (10.3, 21.0)], color)
    g.disc(12, 6.9, 1.35, color)


def gradient(canvas, top, bottom):
    for y in range(canvas.h):
        t = y / (canvas.h - 1)
        color = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        canvas.px[y] = [color] * canvas.w


def scaled(w, h):
    return Canvas(w * SCALE, h * SCALE, (255, 255, 255))


def glyph(canvas, left, top, size):
    return Glyph(canvas, left * SCALE, size * SCALE, top * SCALE)


def averaged(big):
    """The big canvas averaged down by SCALE in both directions."""
    small = Canvas(big.w // SCALE, big.h // SCALE)
    n = SCALE * SCALE
    for y in range(small.h):
        rows = big.px[y * SCALE:(y + 1) * SCALE]
        for x in range(small.w):
            r = g = b = 0
            for row in rows:
                for pr, pg, pb in row[x * SCALE:(x + 1) * SCALE]:
                    r, g, b = r + pr, g + pg, b + pb
            small.px[y][x] = ((r + n // 2) // n, (g + n // 2) // n, (b + n // 2) // n)
    return small


def welcome():
    big = scaled(164, 314)
    gradient(big, (92, 44, 14), (206, 132, 62))
    # The bird before an evening sun, hills below, the plug-in's badge on them.
    glyph(big, 22, 42, 120).disc(12, 12, 11, (226, 160, 84))
    kestrel(glyph(big, 6, 26, 152), CREAM)
    hills = glyph(big, 0, 150, 164)
    hills.polygon([(0, 17), (5, 14.2), (10, 15.6), (15, 13.4), (24, 14.8), (24, 24), (0, 24)], (150, 82, 32))
    hills.polygon([(0, 19.5), (7, 17.2), (13, 18.6), (19, 16.8), (24, 17.6), (24, 24), (0, 24)], (112, 58, 20))
    badge(glyph(big, 50, 238, 64))
    return averaged(big)


def header():
    big = scaled(150, 57)
    kestrel(glyph(big, 52, 3, 50), BROWN)
    badge(glyph(big, 104, 6, 44))
    return averaged(big)


def main():
    os.makedirs(OUT, exist_ok=True)
    write_bmp("welcome.bmp", welcome(), OUT)
    write_bmp("header.bmp", header(), OUT)


if __name__ == "__main__":
    main()
