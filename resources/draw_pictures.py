#!/usr/bin/python3
"""Draws Pellamar's pictures, pixel by pixel, and writes them next to this file.

  pellamar.ico / pellamar.png  program icon, 32x32: hands holding a game pad in
                               front of a cyan monitor showing a red "b"
  convert.gif                  Convert button picture, 43x44: the same scene with
                               a yellow star on the screen
  image1.gif                   window corner decoration, 37x35: a red "b" edged
                               in yellow

Usage: python3 resources/draw_pictures.py   (needs Pillow)
The build does not run this script; the pictures it writes are committed.
Output is deterministic: running it again gives the same bytes.
"""
import os
import struct
from math import cos, pi, sin

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))

# One palette for every picture, padded to 256 entries. Index 0 is the
# transparent colour; it is black because an icon needs black under its mask.
# A name with _hi / _lo variants gets lit and shaded rims when painted.
COLOURS = {
    'clear': (0, 0, 0),
    'ink': (28, 22, 48),           # outline
    'cyan_hi': (170, 250, 255), 'cyan': (40, 200, 232), 'cyan_lo': (0, 128, 168),
    'glass_hi': (60, 100, 190), 'glass': (24, 44, 120), 'glass_lo': (12, 22, 72),
    'glass_mid': (32, 58, 140),    # reflection on the screen
    'pad_hi': (236, 236, 244), 'pad': (188, 188, 204), 'pad_lo': (124, 124, 148),
    'key': (70, 70, 90),
    'skin_hi': (255, 228, 196), 'skin': (246, 188, 136), 'skin_lo': (204, 132, 84),
    'red_hi': (255, 120, 110), 'red': (224, 32, 32), 'red_lo': (150, 12, 20),
    'yellow_hi': (255, 252, 190), 'yellow': (255, 216, 0), 'yellow_lo': (222, 150, 0),
    'blue_hi': (130, 170, 255), 'blue': (40, 90, 230), 'blue_lo': (20, 40, 150),
    'brown': (110, 50, 10),
}
NAMES = list(COLOURS)
INDEX = {name: i for i, name in enumerate(NAMES)}
PALETTE = [COLOURS[n] for n in NAMES] + [(0, 0, 0)] * (256 - len(NAMES))

# --- shapes: predicates on pixel centres, in pixel units --------------------


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def ellipse(x0, y0, x1, y1):
    cx, cy, rx, ry = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return x0 <= x < x1 and y0 <= y < y1 and dx * dx + dy * dy <= r * r
    return inside


def bitmap(x0, y0, art):
    """A shape from text art: '#' is inside, rows are separated by '|'."""
    rows = art.split('|')
    return lambda x, y: (0 <= y - y0 < len(rows)
                         and 0 <= x - x0 < len(rows[int(y - y0)])
                         and rows[int(y - y0)][int(x - x0)] == '#')


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def polygon(points):
    def inside(x, y):
        hit = False
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    return inside


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = {}

    def mask(self, shape):
        return {(x, y) for y in range(self.h) for x in range(self.w)
                if shape(x + 0.5, y + 0.5)}

    def paint(self, shape, colour, edge='ink', shade=True):
        """Fills a shape; lights its top-left rim, darkens its bottom-right rim
        and rings it with a one-pixel edge (4-connected, so corners stay round)."""
        m = self.mask(shape)
        if edge:
            for x, y in m:
                for p in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
                    if p not in m and 0 <= p[0] < self.w and 0 <= p[1] < self.h:
                        self.px[p] = edge
        for x, y in m:
            c = colour
            if shade and colour + '_hi' in COLOURS:
                if (x + 1, y) not in m or (x, y + 1) not in m:
                    c = colour + '_lo'
                elif (x - 1, y) not in m or (x, y - 1) not in m:
                    c = colour + '_hi'
            self.px[(x, y)] = c

    def dots(self, colour, points):
        for p in points:
            self.px[p] = colour

    def image(self):
        im = Image.new('P', (self.w, self.h), 0)
        im.putpalette([c for rgb in PALETTE for c in rgb])
        for (x, y), name in self.px.items():
            im.putpixel((x, y), INDEX[name])
        im.info['transparency'] = 0
        return im


# --- pictures ----------------------------------------------------------------


def letter_b(cv, x0, y0, w, h, stem, edges):
    """A bold lowercase b with its top-left at (x0, y0). edges lists the rings
    drawn round it, innermost first."""
    top = y0 + h * 0.3
    body = union(rounded(x0, y0, x0 + stem, y0 + h * 0.6, stem * 0.3),
                 rect(x0, y0 + stem, x0 + stem, y0 + h),
                 ellipse(x0 + stem * 0.2, top, x0 + w, y0 + h))
    hole = ellipse(x0 + stem, top + stem * 0.6, x0 + w - stem * 0.8,
                   y0 + h - stem * 0.6)
    shape = minus(body, hole)
    for grow, colour in reversed(list(enumerate(edges, 1))):
        cv.paint(grown(cv, shape, grow), colour, edge=None, shade=False)
    cv.paint(shape, 'red', edge=None)
    cv.paint(rect(x0 + 2, y0 + 2, x0 + 3, y0 + h * 0.55), 'red_hi', edge=None,
             shade=False)


def grown(cv, shape, n):
    m = cv.mask(shape)
    for _ in range(n):
        m |= {(x + dx, y + dy) for x, y in m
              for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))}
    return lambda x, y: (int(x), int(y)) in m


def star(cx, cy, r_out, r_in):
    angles = [pi * (i / 5 - 0.5) for i in range(10)]
    return polygon([(cx + r * cos(a), cy + r * sin(a))
                    for a, r in zip(angles, [r_out, r_in] * 5)])


def scene(w, h, k, on_screen):
    """Hands holding a game pad in front of a monitor, laid out on a 32-unit
    grid scaled by k. on_screen(cv, box) draws what the screen shows."""
    cv = Canvas(w, h)
    s = lambda *v: [a * k for a in v]
    # monitor, with a reflection across the top-left of its screen
    cv.paint(rounded(*s(2.5, 0.5, 29.5, 20), 2.5 * k), 'cyan')
    screen = s(5, 3, 27, 15.5)
    glass = rounded(*screen, 1.2 * k)
    cv.paint(glass, 'glass', edge='cyan_lo')
    x0, y0, x1, y1 = screen
    shine = polygon([(x0, y0), (x0 + (x1 - x0) * 0.55, y0), (x0, y1 - 2 * k)])
    cv.paint(lambda x, y: glass(x, y) and shine(x, y), 'glass_mid',
             edge=None, shade=False)
    on_screen(cv, screen)
    cv.paint(rect(*s(14, 19, 18, 27)), 'cyan')
    cv.paint(rounded(*s(10.5, 26, 21.5, 29.5), 1.5 * k), 'cyan')
    # game pad: body, two grips, direction cross and two buttons
    cv.paint(union(rounded(*s(6, 17.5, 26, 25), 3 * k),
                   ellipse(*s(3, 18, 12.5, 28.5)),
                   ellipse(*s(19.5, 18, 29, 28.5))), 'pad')
    cross = union(rect(*s(8, 20.3, 14, 22.3)), rect(*s(10, 18.3, 12, 24.3)))
    cv.paint(cross, 'key', edge=None, shade=False)
    d = max(2, round(2.2 * k))
    for cx, cy, colour in ((19.2, 21.7, 'red'), (21.5, 19.6, 'blue')):
        x, y = round(cx * k - d / 2), round(cy * k - d / 2)
        cv.paint(rect(x, y, x + d, y + d), colour, edge=None, shade=False)
        cv.dots(colour + '_hi', [(x, y)])
        cv.dots(colour + '_lo', [(x + d - 1, y + d - 1)])
    # hands: a palm round each grip, a thumb on top, creases for fingers
    for side in (0, 1):
        def xs(x0, y0, x1, y1):
            if side:
                x0, x1 = 32 - x1, 32 - x0
            return s(x0, y0, x1, y1)
        hand = union(ellipse(*xs(0.8, 21.5, 8, 31)),
                     ellipse(*xs(2.5, 17.5, 8.7, 21.5)))
        cv.paint(hand, 'skin')
        for crease in (rect(*xs(0, 24.5, 3, 25.5)), rect(*xs(0, 27, 3, 28)),
                       rect(*xs(4, 21.5, 7, 22.5))):
            cv.paint(lambda x, y: hand(x, y) and crease(x, y), 'skin_lo',
                     edge=None, shade=False)
    return cv


def icon_screen(cv, box):
    x0, y0 = round(box[0]), round(box[1])
    b = bitmap(x0 + 8, y0 + 2,
               '##|##|##|## ##|######|##  ##|##  ##|##  ##|#####')
    cv.paint(grown(cv, b, 1), 'yellow', edge=None, shade=False)
    cv.paint(b, 'red', edge=None, shade=False)


def convert_screen(cv, box):
    x0, y0, x1, y1 = box
    cv.paint(star((x0 + x1) / 2, (y0 + y1) / 2 + 0.5, 8, 3.4), 'yellow',
             edge='brown')


def write_ico(im, path):
    """Writes a one-image, 8 bits-per-pixel icon; index 0 is transparent."""
    w, h = im.size
    pal = im.getpalette()[:768]
    xor = b''.join(bytes(im.getpixel((x, y)) for x in range(w))
                   for y in reversed(range(h)))
    row = (w + 31) // 32 * 4
    mask = b''
    for y in reversed(range(h)):
        bits = 0
        for x in range(w):
            bits = bits << 1 | (im.getpixel((x, y)) == 0)
        mask += (bits << (row * 8 - w)).to_bytes(row, 'big')
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 8, 0,
                         len(xor) + len(mask), 0, 0, 256, 0)
    colours = b''.join(bytes((pal[i + 2], pal[i + 1], pal[i], 0))
                       for i in range(0, 768, 3))
    data = header + colours + xor + mask
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, 1))
        f.write(struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, 1, 8,
                            len(data), 22))
        f.write(data)


def main():
    icon = scene(32, 32, 1, icon_screen).image()
    write_ico(icon, os.path.join(HERE, 'pellamar.ico'))
    icon.convert('RGBA').save(os.path.join(HERE, 'pellamar.png'))
    scene(43, 44, 43 / 32, convert_screen).image().save(
        os.path.join(HERE, 'convert.gif'), transparency=0, optimize=False)
    cv = Canvas(37, 35)
    letter_b(cv, 5, 3, 27, 29, 8, ['yellow', 'ink'])
    cv.image().save(os.path.join(HERE, 'image1.gif'), transparency=0,
                    optimize=False)


if __name__ == '__main__':
    main()
