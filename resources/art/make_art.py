#!/usr/bin/env python3
"""Draws the installer's artwork and writes it as Windows bitmap and icon files.

    welcome.bmp  bitmap 103: 250 x 125, 8 bits per pixel, 255-colour palette
    header.bmp   bitmap 107: 88 x 34, 24 bits per pixel
    setup.ico    icon group 108: 32 x 32 at 8 bpp, then 16 x 16 at 4 bpp

Pure Python, no third-party modules, and deterministic: the same script gives
the same bytes, so the committed files can always be regenerated and compared.
Shapes are rendered with 4 x 4 supersampling; the palettes come from a median
cut of the rendered colours.

Usage: make_art.py [OUTPUT_DIR]   (default: the folder of this script)
"""

import math
import os
import struct
import sys

SS = 4  # supersampling factor per axis


# --------------------------------------------------------------------------
# A tiny RGB canvas with coverage-based anti-aliasing.


class Canvas:
    def __init__(self, w, h, colour=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(colour) for _ in range(w * h)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        alpha = min(alpha, 1.0)
        p = self.px[y * self.w + x]
        for i in range(3):
            p[i] = p[i] + (colour[i] - p[i]) * alpha

    def get(self, x, y):
        return tuple(max(0, min(255, int(round(c)))) for c in self.px[y * self.w + x])

    def shade(self, inside, colour, alpha=1.0, box=None):
        """Blends colour where inside(x, y) holds, weighted by 4 x 4 sample coverage.

        colour may be a function of (x, y) for gradients."""
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS):
                            hits += 1
                if hits:
                    c = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                    self.blend(x, y, c, alpha * hits / (SS * SS))

    def polygon(self, pts, colour, alpha=1.0):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.shade(lambda x, y: point_in_polygon(x, y, pts), colour, alpha,
                   (min(xs) - 1, min(ys) - 1, max(xs) + 1, max(ys) + 1))

    def rect(self, x0, y0, x1, y1, colour, alpha=1.0):
        self.polygon([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], colour, alpha)

    def ellipse(self, cx, cy, rx, ry, colour, alpha=1.0):
        self.shade(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0, colour, alpha,
                   (cx - rx - 1, cy - ry - 1, cx + rx + 1, cy + ry + 1))

    def stroke(self, pts, width, colour, alpha=1.0):
        """A polyline of the given width with round joins and caps."""
        half = width / 2.0
        segs = list(zip(pts, pts[1:])) or [(pts[0], pts[0])]
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]

        def inside(x, y):
            return any(dist_to_segment(x, y, a, b) <= half for a, b in segs)

        self.shade(inside, colour, alpha, (min(xs) - half - 1, min(ys) - half - 1, max(xs) + half + 1, max(ys) + half + 1))

    def glow(self, cx, cy, radius, colour, strength=1.0):
        """A soft radial light: full at the centre, fading to nothing at radius."""
        for y in range(max(0, int(cy - radius)), min(self.h, int(cy + radius) + 1)):
            for x in range(max(0, int(cx - radius)), min(self.w, int(cx + radius) + 1)):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy) / radius
                if d < 1.0:
                    self.blend(x, y, colour, strength * (1.0 - d) ** 2)


def point_in_polygon(x, y, pts):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def dist_to_segment(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    l2 = dx * dx + dy * dy
    t = 0.0 if l2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / l2))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def arc(cx, cy, r, a0, a1, steps=24, sy=1.0):
    """Points of a circular arc, angles in degrees (0 = right, 90 = down)."""
    return [(cx + r * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + sy * r * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def ramp(stops, t):
    """Colour at t along a list of (position, colour) stops."""
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0) if p1 > p0 else 0.0)
    return stops[-1][1]


class Rng:
    """A small linear congruential generator: the same stars on every run."""

    def __init__(self, seed):
        self.s = seed

    def next(self):
        self.s = (self.s * 1103515245 + 12345) & 0x7FFFFFFF
        return self.s / 0x7FFFFFFF


# --------------------------------------------------------------------------
# Lettering: a stroke font for the few letters of the product's name, drawn in
# a box one unit high (x-height 0.62, ascender 1.0), advances in those units.

GLYPHS = {
    "T": (0.62, [[(0.0, 0.0), (0.62, 0.0)], [(0.31, 0.0), (0.31, 1.0)]]),
    "L": (0.50, [[(0.04, 0.0), (0.04, 1.0), (0.50, 1.0)]]),
    "o": (0.56, [arc(0.28, 0.69, 0.26, 0, 360, 28, 1.19)]),
    "w": (0.80, [[(0.0, 0.38), (0.18, 1.0), (0.40, 0.48), (0.62, 1.0), (0.80, 0.38)]]),
    "e": (0.54, [[(0.03, 0.68), (0.51, 0.68)] + arc(0.27, 0.69, 0.24, -5, -330, 26, 1.29)]),
    "r": (0.36, [[(0.04, 0.38), (0.04, 1.0)], arc(0.30, 0.66, 0.26, 180, 280, 10, 1.1)]),
    "i": (0.10, [[(0.05, 0.40), (0.05, 1.0)], [(0.05, 0.12), (0.05, 0.14)]]),
    "n": (0.50, [[(0.04, 0.38), (0.04, 1.0)], arc(0.26, 0.62, 0.22, 180, 360, 14, 1.1) + [(0.48, 0.62), (0.48, 1.0)]]),
    "k": (0.48, [[(0.04, 0.0), (0.04, 1.0)], [(0.46, 0.38), (0.06, 0.74)], [(0.20, 0.62), (0.48, 1.0)]]),
    "3": (0.50, [arc(0.24, 0.25, 0.23, 200, 420, 14) + arc(0.24, 0.73, 0.26, -90, 160, 16)]),
}


def text_width(text, size, spacing):
    return sum(GLYPHS[ch][0] * size + spacing for ch in text) - spacing


def draw_text(cv, text, x, top, size, weight, colour, spacing):
    """Draws text whose ascender line is at top and whose height is size pixels."""
    for ch in text:
        adv, strokes = GLYPHS[ch]
        for s in strokes:
            cv.stroke([(x + px * size, top + py * size) for px, py in s], weight, colour)
        x += adv * size + spacing
    return x


# --------------------------------------------------------------------------
# Shared pictogram: a control tower with radio waves, in a unit box of height h.


def draw_tower(cv, cx, base, h, body, glass, roof, light, waves=(10, 17, 24), wave_colour=(255, 255, 255), wave_width=2.4):
    u = h / 100.0
    # shaft, slightly tapered, with a lighter lit side
    cv.polygon([(cx - 8 * u, base), (cx + 8 * u, base), (cx + 5 * u, base - 58 * u), (cx - 5 * u, base - 58 * u)], body)
    cv.polygon([(cx - 8 * u, base), (cx - 2 * u, base), (cx - 1.5 * u, base - 58 * u), (cx - 5 * u, base - 58 * u)],
               mix(body, (255, 255, 255), 0.25))
    # gallery under the cab
    cv.rect(cx - 13 * u, base - 62 * u, cx + 13 * u, base - 57 * u, roof)
    # the cab: windows that lean outwards, as on real towers
    cab = [(cx - 12 * u, base - 62 * u), (cx + 12 * u, base - 62 * u), (cx + 17 * u, base - 78 * u), (cx - 17 * u, base - 78 * u)]
    cv.polygon(cab, glass)
    for k in (-8, 0, 8):
        cv.stroke([(cx + k * u, base - 62 * u), (cx + k * 1.4 * u, base - 78 * u)], max(0.6, 1.4 * u), roof)
    # roof and mast
    cv.polygon([(cx - 19 * u, base - 78 * u), (cx + 19 * u, base - 78 * u), (cx + 15 * u, base - 83 * u), (cx - 15 * u, base - 83 * u)], roof)
    cv.stroke([(cx, base - 83 * u), (cx, base - 97 * u)], max(0.8, 2.2 * u), roof)
    if light:
        cv.glow(cx, base - 97 * u, 7 * u, light, 0.9)
        cv.ellipse(cx, base - 97 * u, 2.2 * u, 2.2 * u, light)
    for i, r in enumerate(waves):
        a = 0.9 - 0.2 * i
        cv.stroke(arc(cx, base - 97 * u, r * u, -55, 5, 12), max(0.9, wave_width * u), wave_colour, a)
        cv.stroke(arc(cx, base - 97 * u, r * u, 175, 235, 12), max(0.9, wave_width * u), wave_colour, a)


# --------------------------------------------------------------------------
# The pictures.


def welcome_picture():
    w, h = 250, 125
    horizon = 80
    cv = Canvas(w, h)
    sky = [(0.0, (10, 20, 58)), (0.45, (34, 62, 128)), (0.78, (150, 110, 140)), (1.0, (246, 164, 88))]
    for y in range(horizon):
        for x in range(w):
            cv.px[y * w + x] = list(ramp(sky, (y + 0.5) / horizon))
    # the last light of the day behind the runway's far end
    cv.glow(168, horizon, 70, (255, 196, 120), 0.55)
    rng = Rng(1009)
    for _ in range(34):
        x, y = rng.next() * w, rng.next() * horizon * 0.45
        cv.blend(int(x), int(y), (255, 255, 240), 0.35 + 0.5 * rng.next())
    # distant hills
    hills = [(0, horizon - 3)]
    for i in range(26):
        x = i * 10.0
        hills.append((x, horizon - 4 - 3.5 * math.sin(i * 0.9) - 2.5 * math.sin(i * 0.37 + 1)))
    hills += [(w, horizon - 2), (w, horizon + 1), (0, horizon + 1)]
    cv.polygon(hills, (36, 44, 74))
    # the airfield
    for y in range(horizon, h):
        t = (y - horizon) / (h - horizon)
        for x in range(w):
            cv.px[y * w + x] = list(mix((44, 58, 60), (22, 34, 30), t))
    vx = 168  # vanishing point of the runway

    def edge(side, y):
        t = (y - horizon) / (h - horizon)
        return vx + side * (3 + 78 * t ** 1.0)

    cv.polygon([(edge(-1, horizon), horizon), (edge(1, horizon), horizon), (edge(1, h + 8), h + 8), (edge(-1, h + 8), h + 8)], (58, 60, 66))
    # centre line dashes, spaced in perspective
    for k in range(8):
        t0 = 0.04 + (k / 8.0) ** 1.6 * 1.2
        t1 = t0 + 0.05 + 0.06 * t0
        if t0 > 1.05:
            break
        y0, y1 = horizon + t0 * (h - horizon), horizon + min(t1, 1.1) * (h - horizon)
        wd = 0.4 + 2.2 * t0
        cv.polygon([(vx - wd / 2, y0), (vx + wd / 2, y0), (vx + wd * 0.7, y1), (vx - wd * 0.7, y1)], (236, 236, 226))
    # edge lights
    for k in range(14):
        t = (k / 13.0) ** 1.7
        y = horizon + 1 + t * (h - horizon)
        for side in (-1, 1):
            x = edge(side, y) + side * (1 + 3 * t)
            cv.glow(x, y, 1.5 + 4 * t, (255, 214, 120), 0.8)
            cv.ellipse(x, y, 0.5 + 0.8 * t, 0.5 + 0.8 * t, (255, 244, 200))
    # approach lights in front of the threshold, the taxiway's blue lights
    for k in range(7):
        t = k / 6.0
        x, y = 92 + 44 * t, 104 - 8 * t - 3 * math.sin(t * math.pi)
        cv.glow(x, y, 3.0, (90, 150, 255), 0.8)
        cv.ellipse(x, y, 0.8, 0.8, (190, 220, 255))
    # the control tower and its building
    tx, base = 52, 108
    cv.rect(26, base - 12, 86, base + 2, (70, 76, 90))
    cv.rect(26, base - 13, 86, base - 11, (96, 102, 118))
    for k in range(6):
        cv.rect(31 + k * 9, base - 8, 36 + k * 9, base - 4, (255, 220, 140) if k % 3 != 1 else (120, 130, 150))
    draw_tower(cv, tx, base - 12, 80, body=(150, 156, 170), glass=(120, 232, 214), roof=(40, 46, 60),
               light=(255, 70, 60), wave_colour=(210, 240, 255))
    # an airliner on final approach
    ax, ay, s = 206, 40, 1.0
    ang = math.radians(-9)  # climbing out over the far end of the runway

    def rot(pts):
        return [(ax + (x * math.cos(ang) - y * math.sin(ang)) * s, ay + (x * math.sin(ang) + y * math.cos(ang)) * s) for x, y in pts]

    body = (28, 32, 52)
    cv.polygon(rot([(-20, -1.6), (14, -2.2), (19, -1.0), (20.5, 0.4), (17, 1.8), (-18, 1.6), (-22, 0.4)]), body)
    cv.polygon(rot([(-15, -1.5), (-20, -8.5), (-17.5, -8.5), (-10, -1.8)]), body)
    cv.polygon(rot([(-2, 0.5), (-9, 5.5), (-5, 5.5), (6, 0.8)]), body)
    cv.polygon(rot([(-17, 0.5), (-20.5, 3.0), (-18, 3.0), (-14, 0.6)]), body)
    lx, ly = rot([(19, 1.5)])[0]
    cv.glow(lx + 3, ly + 1, 9, (255, 250, 220), 0.7)
    cv.ellipse(lx, ly, 1.1, 1.1, (255, 255, 240))
    return cv


def header_picture():
    w, h = 88, 34
    cv = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            cv.px[y * w + x] = list(mix((18, 38, 92), (44, 96, 170), (x / w) * 0.7 + (1 - y / h) * 0.3))
    cv.glow(12, 6, 22, (120, 200, 255), 0.35)
    draw_tower(cv, 12, 32, 24, body=(236, 240, 248), glass=(120, 232, 214), roof=(236, 240, 248),
               light=(255, 90, 70), wave_colour=(170, 225, 255))
    size, weight, spacing = 11.5, 1.45, 1.0
    x0 = 24
    draw_text(cv, "TowerLink", x0, 10.5, size, weight, (255, 255, 255), spacing)
    # a thin underline in the radio-wave colour
    cv.stroke([(x0, 25.5), (x0 + text_width("TowerLink", size, spacing), 25.5)], 1.0, (120, 200, 255), 0.9)
    return cv


def icon_picture(size):
    cv = Canvas(size, size)
    alpha = [0.0] * (size * size)
    r = size * 0.2
    s = size / 32.0

    def inside(x, y):
        m = 0.5 * s
        cx = min(max(x, m + r), size - m - r)
        cy = min(max(y, m + r), size - m - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    for y in range(size):
        for x in range(size):
            hits = sum(inside(x + (i + 0.5) / SS, y + (j + 0.5) / SS) for i in range(SS) for j in range(SS))
            alpha[y * size + x] = hits / (SS * SS)
            cv.px[y * size + x] = list(mix((16, 36, 96), (52, 120, 200), (x + (size - y)) / (2.0 * size)))
    if size >= 32:
        draw_tower(cv, 16, 29, 22, body=(238, 242, 250), glass=(120, 232, 214), roof=(238, 242, 250),
                   light=(255, 80, 60), waves=(14, 26), wave_colour=(150, 220, 255), wave_width=4.5)
    else:
        # at 16 pixels the tower needs bolder, simpler strokes to stay legible
        cv.polygon([(6.3, 15.2), (9.7, 15.2), (9.0, 9.0), (7.0, 9.0)], (238, 242, 250))
        cv.polygon([(4.6, 5.8), (11.4, 5.8), (10.2, 9.0), (5.8, 9.0)], (120, 232, 214))
        cv.rect(4.2, 4.9, 11.8, 5.9, (238, 242, 250))
        cv.rect(7.5, 3.6, 8.5, 4.9, (238, 242, 250))
        cv.rect(7.3, 2.4, 8.7, 3.7, (255, 80, 60))
        cv.stroke(arc(8, 3.0, 3.6, -75, -5, 8), 1.0, (150, 220, 255))
        cv.stroke(arc(8, 3.0, 3.6, 185, 255, 8), 1.0, (150, 220, 255))
    return cv, alpha


# --------------------------------------------------------------------------
# Palettes and file formats.


def median_cut(colours, n):
    """Up to n palette colours for the given (r, g, b) samples, deterministic."""
    boxes = [sorted(set(colours))]
    counts = {}
    for c in colours:
        counts[c] = counts.get(c, 0) + 1
    while len(boxes) < n:
        best, best_range, axis = None, -1, 0
        for i, b in enumerate(boxes):
            if len(b) < 2:
                continue
            for a in range(3):
                lo, hi = min(c[a] for c in b), max(c[a] for c in b)
                weight = (hi - lo) * math.sqrt(sum(counts[c] for c in b))
                if weight > best_range:
                    best, best_range, axis = i, weight, a
        if best is None:
            break
        b = sorted(boxes[best], key=lambda c: (c[axis], c))
        total = sum(counts[c] for c in b)
        acc, cut = 0, 1
        for k, c in enumerate(b):
            acc += counts[c]
            if acc * 2 >= total:
                cut = max(1, min(len(b) - 1, k + 1))
                break
        boxes[best:best + 1] = [b[:cut], b[cut:]]
    palette = []
    for b in boxes:
        t = sum(counts[c] for c in b)
        palette.append(tuple(int(round(sum(c[a] * counts[c] for c in b) / t)) for a in range(3)))
    return palette


def nearest(palette, c, cache):
    if c not in cache:
        cache[c] = min(range(len(palette)), key=lambda i: sum((palette[i][a] - c[a]) ** 2 for a in range(3)))
    return cache[c]


def indexed(cv, ncolours):
    """The canvas as palette indices; the palette has exactly ncolours entries."""
    pixels = [cv.get(x, y) for y in range(cv.h) for x in range(cv.w)]
    palette = median_cut(pixels, ncolours)
    while len(palette) < ncolours:
        palette.append((0, 0, 0))
    cache = {}
    return palette, [nearest(palette, c, cache) for c in pixels]


def row_bytes(bits, width):
    return ((bits * width + 31) // 32) * 4


def pack_rows(width, height, bits, pixel_at):
    """Bottom-up rows, each padded to 4 bytes. pixel_at(x, y) gives an index or an (r, g, b)."""
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        if bits == 24:
            for x in range(width):
                r, g, b = pixel_at(x, y)
                row += bytes((b, g, r))
        else:
            acc, nbits = 0, 0
            for x in range(width):
                acc = (acc << bits) | pixel_at(x, y)
                nbits += bits
                if nbits == 8:
                    row.append(acc)
                    acc, nbits = 0, 0
            if nbits:
                row.append(acc << (8 - nbits))
        row += bytes(row_bytes(bits, width) - len(row))
        out += row
    return bytes(out)


def info_header(width, height, bits, image_size, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835, colours_used, 0)


def palette_bytes(palette):
    return b"".join(bytes((b, g, r, 0)) for r, g, b in palette)


def write_bmp(path, width, height, bits, pixels, palette=None):
    data = pack_rows(width, height, bits, lambda x, y: pixels[y * width + x])
    pal = palette_bytes(palette) if palette else b""
    info = info_header(width, height, bits, len(data), len(palette) if palette else 0)
    offset = 14 + len(info) + len(pal)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset))
        f.write(info + pal + data)


def icon_image(cv, alpha, bits):
    """One icon image: header (height doubled for the mask), palette, colour rows, mask rows."""
    n = 1 << bits
    size = cv.w
    # Transparent pixels are black in the colour image so that the AND mask alone shows the background.
    flat = Canvas(size, size)
    for i, p in enumerate(cv.px):
        a = alpha[i]
        flat.px[i] = [c * (1 if a >= 0.5 else 0) for c in p]
    palette, idx = indexed(flat, n)
    colour = pack_rows(size, size, bits, lambda x, y: idx[y * size + x])
    mask = pack_rows(size, size, 1, lambda x, y: 0 if alpha[y * size + x] >= 0.5 else 1)
    info = info_header(size, size * 2, bits, len(colour) + len(mask), 0)
    return info + palette_bytes(palette) + colour + mask, n


def write_ico(path, images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for (size, blob, ncolours) in images:
        bits = {256: 8, 16: 4}[ncolours]
        out += struct.pack("<BBBBHHII", size, size, 0 if ncolours == 256 else ncolours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    welcome = welcome_picture()
    palette, idx = indexed(welcome, 255)
    write_bmp(os.path.join(out, "welcome.bmp"), welcome.w, welcome.h, 8, idx, palette)
    header = header_picture()
    write_bmp(os.path.join(out, "header.bmp"), header.w, header.h, 24,
              [header.get(x, y) for y in range(header.h) for x in range(header.w)])
    images = []
    for size, bits in ((32, 8), (16, 4)):
        cv, alpha = icon_picture(size)
        blob, n = icon_image(cv, alpha, bits)
        images.append((size, blob, n))
    write_ico(os.path.join(out, "setup.ico"), images)


if __name__ == "__main__":
    main()
