#!/usr/bin/env python3
"""Draws the plug-in's toolbar bitmaps, link cursor and icon into images/.

Pictures are drawn on a 24-unit grid and sampled at pixel centres without smoothing:
magenta (FF00FF) marks transparent pixels of the toolbar bitmaps, so an edge blended
toward magenta would show as a pink fringe. Run it again after changing a picture:
    python3 plugin/res/draw_images.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "images")
MAGENTA = (255, 0, 255)


class Canvas:
    def __init__(self, width, height, background=MAGENTA):
        self.w, self.h = width, height
        self.px = [[background] * width for _ in range(height)]

    def put(self, x, y, color):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = color

    def fill(self, inside, color, box=None):
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                if inside(x + 0.5, y + 0.5):
                    self.px[y][x] = color


class Glyph:
    """Draws in design units (24 per picture side) onto a canvas at an offset."""

    def __init__(self, canvas, left, size, top=0):
        self.c, self.left, self.top, self.s = canvas, left, top, size / 24.0
        self.size = size

    def _box(self):
        return (self.left, self.top, self.left + self.size, self.top + self.size)

    def _u(self, x, y):
        return ((x - self.left) / self.s, (y - self.top) / self.s)

    def rect(self, l, t, r, b, fill, line=None):
        def inside(x, y):
            u, v = self._u(x, y)
            return l <= u < r and t <= v < b
        self.c.fill(inside, line or fill, self._box())
        if line:
            w = 1 / self.s  # one pixel of outline

            def inner(x, y):
                u, v = self._u(x, y)
                return l + w <= u < r - w and t + w <= v < b - w
            self.c.fill(inner, fill, self._box())

    def polygon(self, points, fill):
        def inside(x, y):
            u, v = self._u(x, y)
            hit = False
            for i in range(len(points)):
                (x1, y1), (x2, y2) = points[i], points[i - 1]
                if (y1 > v) != (y2 > v) and u < (x2 - x1) * (v - y1) / (y2 - y1) + x1:
                    hit = not hit
            return hit
        self.c.fill(inside, fill, self._box())

    def line(self, x1, y1, x2, y2, width, color):
        def inside(x, y):
            u, v = self._u(x, y)
            dx, dy = x2 - x1, y2 - y1
            t = max(0.0, min(1.0, ((u - x1) * dx + (v - y1) * dy) / (dx * dx + dy * dy)))
            px, py = x1 + t * dx - u, y1 + t * dy - v
            return px * px + py * py <= (width / 2.0) ** 2
        self.c.fill(inside, color, self._box())

    def disc(self, cx, cy, r, color):
        def inside(x, y):
            u, v = self._u(x, y)
            return (u - cx) ** 2 + (v - cy) ** 2 <= r * r
        self.c.fill(inside, color, self._box())


def mute(color):
    """The normal (not hot) picture: colours drawn toward a soft grey, as the client's are."""
    return tuple((4 * v + 150) // 5 for v in color)


def delete_spam(g, hot):
    tone = (lambda c: c) if hot else mute
    # An envelope with a canned-meat tin on it, struck through in red; the small picture
    # keeps only the envelope and the red sign.
    small = g.size < 20
    g.rect(1, 5, 19, 18, tone((255, 252, 230)), tone((110, 90, 50)))
    g.line(2.4, 6.4, 10, 12, 1.2, tone((110, 90, 50)))
    g.line(17.6, 6.4, 10, 12, 1.2, tone((110, 90, 50)))
    g.disc(16.5, 16.5, 7.4, tone((170, 20, 20)))
    g.disc(16.5, 16.5, 5.2 if small else 5.6, tone((255, 255, 255)))
    if not small:
        g.rect(12.5, 13.5, 20.5, 19.5, tone((60, 110, 190)), tone((30, 60, 120)))
        g.rect(13.5, 15.5, 19.5, 17.5, tone((250, 210, 60)))
    g.line(12.5, 12.5, 20.5, 20.5, 2.6 if small else 2.2, tone((210, 25, 25)))


def toolbar_bitmap(name, size, hot):
    canvas = Canvas(size, size)
    delete_spam(Glyph(canvas, 0, size), hot)
    write_bmp(name, canvas)


def padding_strip(name, size, count):
    # Hot pictures for client buttons that have none; never shown by the plug-in itself,
    # so they are left clear.
    write_bmp(name, Canvas(size * count, size))


def write_bmp(name, canvas, folder=OUT):
    row_size = (canvas.w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(canvas.px):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + bytes(row_size - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)))
        f.write(header + data)


def mask_rows(width, height, opaque):
    """1-bit rows, bottom-up, padded to 32 bits; a set bit where `opaque(x, y)` is false."""
    stride = ((width + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if not opaque(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return out


def icon_image(size):
    canvas = Canvas(size, size)
    badge(Glyph(canvas, 0, size))
    return canvas


def badge(g):
    """The plug-in's icon: a kestrel-brown badge with a letter and a red stroke."""
    g.disc(12, 12, 11.5, (120, 60, 20))
    g.disc(12, 12, 10.3, (196, 112, 48))
    g.rect(5, 7, 19, 17, (255, 252, 235), (90, 50, 20))
    g.line(5.5, 7.5, 12, 12.5, 1.3, (90, 50, 20))
    g.line(18.5, 7.5, 12, 12.5, 1.3, (90, 50, 20))
    g.line(13.5, 18.5, 19, 13, 2.2, (200, 20, 20))


def write_icon(name, sizes):
    images = []
    for size in sizes:
        canvas = icon_image(size)
        xor = bytearray()
        for row in reversed(canvas.px):
            line = bytearray()
            for r, g, b in row:
                line += bytes((0, 0, 0)) if (r, g, b) == MAGENTA else bytes((b, g, r))
            xor += line + bytes(((size * 3 + 3) & ~3) - len(line))
        andmask = mask_rows(size, size, lambda x, y: canvas.px[y][x] != MAGENTA)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(xor) + len(andmask), 0, 0, 0, 0)
        images.append((size, header + xor + andmask))
    write_group(name, 1, [(s, 0, 24, data) for s, data in images], lambda i: (1, 24))


def write_group(name, kind, images, planes_bits):
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for i, (size, _, _, data) in enumerate(images):
        a, b = planes_bits(i)
        out += struct.pack("<BBBBHHII", size, size, 0, 0, a, b, len(data), offset)
        offset += len(data)
    for _, _, _, data in images:
        out += data
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(out)


# The pointing hand for the web link when the system has none: '#' black, '.' white.
HAND = """
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
  ## #..#..#..#.#
 #..##........#.#
 #...#..........#
  #..#..........#
   #............#
   #...........#
    #..........#
    #.........#
     #........#
     #........#
     ##########
"""


def write_cursor(name):
    rows = HAND.strip("\n").split("\n")
    size = 32
    shape = [[" "] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            shape[y + 1][x + 4] = ch
    # Monochrome cursor: XOR bits (1 = white) then AND bits (1 = transparent).
    xor = mask_rows(size, size, lambda x, y: shape[y][x] != ".")
    andmask = mask_rows(size, size, lambda x, y: shape[y][x] != " ")
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, len(xor) + len(andmask), 0, 0, 2, 0)
    data = header + palette + xor + andmask
    hotspot = (10, 1)  # the tip of the finger
    write_group(name, 2, [(size, 0, 0, data)], lambda i: hotspot)


def main():
    os.makedirs(OUT, exist_ok=True)
    toolbar_bitmap("delete_spam_24.bmp", 24, False)      # 102
    toolbar_bitmap("delete_spam_24_hot.bmp", 24, True)   # 100
    toolbar_bitmap("delete_spam_22.bmp", 22, False)      # 34
    toolbar_bitmap("delete_spam_22_hot.bmp", 22, True)   # 35
    toolbar_bitmap("delete_spam_16.bmp", 16, False)      # 103
    toolbar_bitmap("delete_spam_16_hot.bmp", 16, True)   # 101
    padding_strip("hot_padding_16.bmp", 16, 4)           # 33
    write_cursor("link.cur")                             # 40
    write_icon("kestrelon.ico", (32, 16))                # 50


if __name__ == "__main__":
    main()
