#!/usr/bin/env python3
"""Draws the Orvane application icon and writes res/Orvane.ico.

The artwork is a small framed monitor on a stand whose screen shows a night sky with a soft gradient wave,
the look of a screen saver running. Each size is drawn from its own pixel-snapped layout (the small ones are
hinted by hand so that edges fall on pixel boundaries) and anti-aliased by supersampling. Only the Python 3
standard library is used; the output is the same byte for byte on every run.

    python3 tools/icon/render_icon.py                  # writes res/Orvane.ico
    python3 tools/icon/render_icon.py --preview /tmp/x # also writes PNG previews there
"""

import argparse
import math
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 256)
PNG_SIZES = (256,)  # stored as PNG inside the .ico; the rest as 32-bit DIBs with alpha

# Layouts in pixels: (x0, y0, x1, y1, corner radius) rectangles; the neck is a trapezoid
# (top x0, top x1, y0, bottom x0, bottom x1, y1); stars and the power light are (x, y, radius) discs, centred
# on pixel centres at the small sizes so that each lands on one crisp pixel. rim is the width of the lighter
# edge of the frame, 0 where a pixel cannot hold it.
LAYOUTS = {
    16: dict(body=(0, 1, 16, 12, 1.5), screen=(1, 2, 15, 11, 0.5),
             neck=(7, 9, 12, 6.5, 9.5, 13.5), base=(4, 13, 12, 15, 1.0),
             stars=((4.5, 3.5, 0.62), (11.5, 4.5, 0.62)), led=None, rim=0, shadow=False),
    24: dict(body=(1, 2, 23, 18, 2.0), screen=(2, 3, 22, 16, 1.0),
             neck=(10, 14, 18, 9.5, 14.5, 20), base=(6, 20, 18, 22, 1.0),
             stars=((5.5, 5.5, 0.62), (12.5, 4.5, 0.55), (18.5, 6.5, 0.62)), led=None, rim=0, shadow=False),
    32: dict(body=(1, 3, 31, 24, 2.5), screen=(3, 5, 29, 21, 1.0),
             neck=(13, 19, 24, 12, 20, 27), base=(8, 27, 24, 30, 1.5),
             stars=((7.5, 8.5, 0.7), (15.5, 7.5, 0.55), (23.5, 9.5, 0.7), (11.5, 12.5, 0.45)),
             led=None, rim=0, shadow=False),
    48: dict(body=(2, 5, 46, 36, 3.5), screen=(5, 8, 43, 32, 1.5),
             neck=(20, 28, 36, 18.5, 29.5, 40.5), base=(12, 40, 36, 44, 2.0),
             stars=((10.5, 12.5, 0.9), (22.5, 11.5, 0.6), (33.5, 14.5, 0.9), (16.5, 18.5, 0.5),
                    (28.5, 19.5, 0.5)),
             led=(24.0, 34.0, 0.9), rim=1.0, shadow=False),
    256: dict(body=(10, 26, 246, 192, 18.0), screen=(25, 41, 231, 171, 7.0),
              neck=(106, 150, 192, 98, 158, 216), base=(60, 212, 196, 234, 11.0),
              stars=((58, 66, 3.2), (118, 58, 2.0), (180, 76, 3.6), (88, 100, 1.6), (150, 104, 1.8),
                     (206, 56, 1.6), (40, 98, 1.4), (132, 84, 1.2), (214, 110, 1.3)),
              led=(128, 182, 3.2), rim=4.0, shadow=True),
}

SUPERSAMPLE = {16: 8, 24: 8, 32: 6, 48: 6, 256: 4}

# Colours (sRGB, 0..255).
BODY_TOP = (78, 88, 108)
BODY_BOTTOM = (34, 39, 50)
RIM_TOP = (142, 154, 176)
RIM_BOTTOM = (52, 58, 72)
SKY = ((10, 16, 52), (30, 40, 112), (84, 44, 138))  # top, middle, bottom of the screen
BACK_WAVE = ((70, 118, 232), (98, 70, 200))
FRONT_WAVE = ((44, 222, 206), (24, 104, 214))
CREST = (190, 255, 244)
STAR = (255, 255, 255)
STAND_TOP = (176, 186, 202)
STAND_BOTTOM = (100, 110, 128)
BASE_TOP = (196, 204, 218)
BASE_BOTTOM = (112, 122, 140)
LED = (96, 240, 200)


def mix(a, b, t):
    t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def in_round_rect(x, y, rect):
    x0, y0, x1, y1, r = rect
    if x < x0 or x >= x1 or y < y0 or y >= y1:
        return False
    cx = x0 + r if x < x0 + r else x1 - r if x > x1 - r else x
    cy = y0 + r if y < y0 + r else y1 - r if y > y1 - r else y
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_trapezoid(x, y, trap):
    tx0, tx1, y0, bx0, bx1, y1 = trap
    if y < y0 or y >= y1:
        return False
    t = (y - y0) / (y1 - y0)
    return tx0 + (bx0 - tx0) * t <= x < tx1 + (bx1 - tx1) * t


class Screen:
    """The screen picture: sky gradient, two waves with a bright crest, stars and a faint glass sheen."""

    def __init__(self, layout, size):
        self.rect = layout['screen']
        x0, y0, x1, y1, _ = self.rect
        self.x0, self.y0, self.w, self.h = x0, y0, x1 - x0, y1 - y0
        self.stars = layout['stars']
        self.size = size
        # The crest is at least about a pixel wide so that it survives at 16 px.
        self.crest = max(1.1 / self.h, 0.035)
        self.sparkle = size >= 48
        self.sheen = size >= 256

    def back_wave(self, u):
        return 0.60 + 0.085 * math.sin(2 * math.pi * (0.85 * u + 0.08))

    def front_wave(self, u):
        return 0.74 + 0.10 * math.sin(2 * math.pi * (1.05 * u + 0.58))

    def colour(self, x, y):
        u = (x - self.x0) / self.w
        v = (y - self.y0) / self.h
        c = mix(SKY[0], SKY[1], v / 0.55) if v < 0.55 else mix(SKY[1], SKY[2], (v - 0.55) / 0.45)
        for sx, sy, r in self.stars:
            d2 = (x - sx) ** 2 + (y - sy) ** 2
            if d2 <= r * r:
                c = STAR
            elif self.sparkle:
                glow = 0.55 * math.exp(-d2 / (2.2 * r) ** 2)
                dx, dy = abs(x - sx), abs(y - sy)
                if r >= 3.0:
                    glow += 0.8 * math.exp(-dx / (0.9 * r)) * math.exp(-(dy / (0.35 * r)) ** 2)
                    glow += 0.8 * math.exp(-dy / (0.9 * r)) * math.exp(-(dx / (0.35 * r)) ** 2)
                c = mix(c, STAR, glow)
        bw = self.back_wave(u)
        if v >= bw:
            c = mix(c, mix(BACK_WAVE[0], BACK_WAVE[1], (v - bw) / 0.3), 0.85)
        fw = self.front_wave(u)
        if v >= fw:
            c = mix(FRONT_WAVE[0], FRONT_WAVE[1], (v - fw) / 0.25)
            if v - fw < self.crest:
                c = mix(CREST, c, (v - fw) / self.crest * 0.6)
        if self.sheen:
            c = mix(c, (255, 255, 255), 0.08 / (1.0 + math.exp((u + 0.7 * v - 0.40) * 40.0)))
        return c


def render(size):
    """Returns size*size straight-alpha RGBA tuples, row by row from the top."""
    layout = LAYOUTS[size]
    screen = Screen(layout, size)
    body, base, neck = layout['body'], layout['base'], layout['neck']
    rim = layout['rim']
    inner = (body[0] + rim, body[1] + rim, body[2] - rim, body[3] - rim, max(body[4] - rim, 0.0))
    led = layout['led']
    n = SUPERSAMPLE[size]
    offsets = [(i + 0.5) / n for i in range(n)]
    shadow = layout['shadow']

    def sample(x, y):
        """Premultiplied (r, g, b, a) at one point, layers painted back to front."""
        if in_round_rect(x, y, body):
            if rim and not in_round_rect(x, y, inner):
                t = (y - body[1]) / (body[3] - body[1])
                c = mix(RIM_TOP, RIM_BOTTOM, t * 1.6)
            elif in_round_rect(x, y, screen.rect):
                c = screen.colour(x, y)
            elif led and (x - led[0]) ** 2 + (y - led[1]) ** 2 <= led[2] ** 2:
                c = LED
            else:
                c = mix(BODY_TOP, BODY_BOTTOM, (y - body[1]) / (body[3] - body[1]))
            return c[0], c[1], c[2], 1.0
        if in_trapezoid(x, y, neck):
            c = mix(STAND_TOP, STAND_BOTTOM, (y - neck[2]) / (neck[5] - neck[2]))
            return c[0], c[1], c[2], 1.0
        if in_round_rect(x, y, base):
            c = mix(BASE_TOP, BASE_BOTTOM, (y - base[1]) / (base[3] - base[1]))
            if y - base[1] < (base[3] - base[1]) * 0.18:
                c = mix(c, (240, 244, 250), 0.5)
            return c[0], c[1], c[2], 1.0
        if shadow:
            cx = (base[0] + base[2]) / 2
            ex = (x - cx) / ((base[2] - base[0]) * 0.62)
            ey = (y - (base[3] - 2)) / 9.0
            a = 0.30 * math.exp(-(ex * ex + ey * ey) * 2.2)
            if a > 0.004:
                return 0.0, 0.0, 0.0, a
        return 0.0, 0.0, 0.0, 0.0

    pixels = []
    for py in range(size):
        for px in range(size):
            r = g = b = a = 0.0
            for oy in offsets:
                for ox in offsets:
                    sr, sg, sb, sa = sample(px + ox, py + oy)
                    r += sr * sa
                    g += sg * sa
                    b += sb * sa
                    a += sa
            count = n * n
            alpha = a / count
            if alpha <= 0.0:
                pixels.append((0, 0, 0, 0))
                continue
            pixels.append((clamp_byte(r / a), clamp_byte(g / a), clamp_byte(b / a), clamp_byte(alpha * 255)))
    return pixels


def clamp_byte(value):
    return max(0, min(255, int(value + 0.5)))


def png_bytes(width, height, pixels):
    """An 8-bit RGBA PNG, unfiltered rows (zlib does well enough on this artwork)."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for r, g, b, a in pixels[y * width:(y + 1) * width]:
            raw += bytes((r, g, b, a))
    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(bytes(raw), 9))
            + chunk(b'IEND', b''))


def dib_bytes(size, pixels):
    """A BITMAPINFOHEADER, bottom-up BGRA rows, then the 1-bit AND mask (set where fully transparent)."""
    mask_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row = pixels[y * size:(y + 1) * size]
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def ico_bytes(images):
    """images: list of (size, encoded image). Writes ICONDIR, one ICONDIRENTRY each, then the images."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def write_previews(directory, rendered):
    """Each size as a PNG, plus a sheet of every size enlarged 8x (nearest neighbour) on light and dark."""
    os.makedirs(directory, exist_ok=True)
    for size, pixels in rendered.items():
        with open(os.path.join(directory, 'orvane-%d.png' % size), 'wb') as f:
            f.write(png_bytes(size, size, pixels))
    small = [s for s in SIZES if s < 256]
    scale = 8
    cell = max(small) * scale + 16
    width = cell * len(small)
    height = cell * 2
    backgrounds = ((236, 238, 242), (32, 32, 36))
    sheet = []
    for y in range(height):
        bg = backgrounds[y // cell]
        for x in range(width):
            size = small[x // cell]
            ix = (x % cell - 8) // scale
            iy = (y % cell - 8) // scale
            if 0 <= ix < size and 0 <= iy < size and x % cell >= 8 and y % cell >= 8:
                r, g, b, a = rendered[size][iy * size + ix]
                t = a / 255.0
                sheet.append((clamp_byte(bg[0] + (r - bg[0]) * t), clamp_byte(bg[1] + (g - bg[1]) * t),
                              clamp_byte(bg[2] + (b - bg[2]) * t), 255))
            else:
                sheet.append((bg[0], bg[1], bg[2], 255))
    with open(os.path.join(directory, 'orvane-small-x8.png'), 'wb') as f:
        f.write(png_bytes(width, height, sheet))


def main():
    repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--output', default=os.path.join(repo, 'res', 'Orvane.ico'))
    parser.add_argument('--preview', metavar='DIR', help='also write PNG previews into DIR')
    args = parser.parse_args()

    rendered = {size: render(size) for size in SIZES}
    images = [(size, png_bytes(size, size, rendered[size]) if size in PNG_SIZES else dib_bytes(size, rendered[size]))
              for size in SIZES]
    with open(args.output, 'wb') as f:
        f.write(ico_bytes(images))
    if args.preview:
        write_previews(args.preview, rendered)


if __name__ == '__main__':
    main()
