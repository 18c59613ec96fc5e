#!/usr/bin/env python3
"""Draw the Tarvex Terminal toolbar icons and write them as PNG files.

Usage: make_icons.py [OUTPUT_DIR [APP_ICON_DIR]]
    (defaults: resources/images and data/icons/hicolor of the repository)

The application icon for the desktop entry goes to APP_ICON_DIR/NxN/apps/.

Only the standard library is used, so the icons can be rebuilt anywhere.
Shapes are signed distance functions (negative inside) in a 128-unit design
space; edge pixels are anti-aliased by supersampling.
"""
import math
import os
import struct
import sys
import zlib

SS = 4                  # supersamples per pixel axis
INK = (33, 40, 48)      # shared outline colour keeps the set consistent
LINE = 6.0              # outline width in design units (about 1 px at 24 px)


# ---- shapes ---------------------------------------------------------------

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def box(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
    return f


def capsule(x0, y0, x1, y1, r):
    ex, ey = x1 - x0, y1 - y0
    ee = ex * ex + ey * ey

    def f(x, y):
        wx, wy = x - x0, y - y0
        t = min(max((wx * ex + wy * ey) / ee, 0.0), 1.0)
        return math.hypot(wx - ex * t, wy - ey * t) - r
    return f


def polygon(pts):
    def f(x, y):
        d = (x - pts[0][0]) ** 2 + (y - pts[0][1]) ** 2
        s = 1.0
        for i in range(len(pts)):
            (ax, ay), (bx, by) = pts[i], pts[i - 1]
            ex, ey, wx, wy = bx - ax, by - ay, x - ax, y - ay
            t = min(max((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0), 1.0)
            d = min(d, (wx - ex * t) ** 2 + (wy - ey * t) ** 2)
            c1, c2, c3 = y >= ay, y < by, ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                s = -s
        return s * math.sqrt(d)
    return f


def union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def intersect(*fs):
    return lambda x, y: max(f(x, y) for f in fs)


def minus(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def grow(f, d):
    """Offset the outline by d (inwards when negative); rounds convex corners."""
    return lambda x, y: f(x, y) - d


def moved(f, dx=0.0, dy=0.0, deg=0.0, cx=64.0, cy=64.0):
    """Rotate clockwise on screen by deg about (cx, cy), then shift."""
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))

    def g(x, y):
        px, py = x - dx - cx, y - dy - cy
        return f(cx + c * px + s * py, cy - s * px + c * py)
    return g


def vgrad(top, bottom, y0, y1):
    def colour(x, y):
        t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
        return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
    return colour


# ---- canvas ---------------------------------------------------------------

class Canvas:
    def __init__(self, size):
        self.size, self.scale = size, size / 128.0
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]
        self.flat = []      # flat colours in drawing order, seeds the palette
        self.owner = [0] * (size * size)   # 1 + index into flat of a solid pixel, -1 on edges
        o = [((k + 0.5) / SS - 0.5) / self.scale for k in range(SS)]
        self.subs = [(ox, oy) for oy in o for ox in o]

    def fill(self, f, colour):
        if not callable(colour) and colour not in self.flat:
            self.flat.append(colour)
        tag = -1 if callable(colour) else self.flat.index(colour) + 1
        n, s, subs = self.size, self.scale, self.subs
        edge = 1.0 / s      # only pixels this close to the outline need sampling
        for j in range(n):
            y = (j + 0.5) / s
            for i in range(n):
                x = (i + 0.5) / s
                d = f(x, y)
                if d > edge:
                    continue
                if d < -edge:
                    cov = 1.0
                else:
                    cov = sum(f(x + ox, y + oy) <= 0 for ox, oy in subs) / len(subs)
                if cov:
                    self.blend(j * n + i, colour(x, y) if callable(colour) else colour, cov)
                    self.owner[j * n + i] = tag if cov == 1.0 else -1

    def blend(self, k, c, cov):
        p = self.px[k]
        a = cov * (c[3] / 255.0 if len(c) > 3 else 1.0)
        rest = p[3] * (1.0 - a)
        out = a + rest
        for ch in range(3):
            p[ch] = (c[ch] / 255.0 * a + p[ch] * rest) / out
        p[3] = out

    def rgba(self):
        return [tuple(round(v * 255) for v in p) if p[3] > 0 else (0, 0, 0, 0)
                for p in self.px]


def outlined(cv, f, fill, width=LINE):
    cv.fill(f, INK)
    cv.fill(grow(f, -width), fill)


# ---- PNG output -----------------------------------------------------------

def chunk(tag, data):
    return (struct.pack('>I', len(data)) + tag + data
            + struct.pack('>I', zlib.crc32(tag + data) & 0xffffffff))


def write_png(path, size, rows, ctype, depth=8, plte=b'', trns=b''):
    head = struct.pack('>IIBBBBB', size, size, depth, ctype, 0, 0, 0)
    raw = b''.join(b'\0' + r for r in rows)
    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', head)
                  + (chunk(b'PLTE', plte) if plte else b'')
                  + (chunk(b'tRNS', trns) if trns else b'')
                  + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def mix(a, b, t):
    """Blend RGBA a towards b by t, premultiplied so edges fade, not darken."""
    wa, wb = a[3] * (1 - t), b[3] * t
    if wa + wb == 0:
        return (0, 0, 0, 0)
    return tuple(round((a[i] * wa + b[i] * wb) / (wa + wb)) for i in range(3)) + (round(wa + wb),)


def premul(c):
    return (c[0] * c[3] / 255.0, c[1] * c[3] / 255.0, c[2] * c[3] / 255.0, float(c[3]))


def nearest(c, pal, cache):
    if c not in cache:
        q = premul(c)
        cache[c] = min(range(len(pal)), key=lambda k: (
            sum((u - v) ** 2 for u, v in zip(q, premul(pal[k]))), k))
    return cache[c]


def quantise(pixels, owner, size, flat, limit):
    """Palette = transparent + drawn colours + blends of colours that touch."""
    bases = [(0, 0, 0, 0)] + [c[:3] + (255,) for c in flat]
    # Blends of colours that never meet would only attract stray edge pixels.
    pairs = set()
    for k, a in enumerate(owner):
        x, y = k % size, k // size
        for dx, dy in ((1, 0), (2, 0), (3, 0), (0, 1), (0, 2), (0, 3)):
            if a >= 0 and x + dx < size and y + dy < size:
                b = owner[k + dy * size + dx]
                if b >= 0 and a != b:
                    pairs.add((min(a, b), max(a, b)))
    m = 3 if limit <= 16 else 8     # finer edge ramps when the palette allows
    cands = list(bases)
    for i, j in sorted(pairs):
        cands += [c for c in (mix(bases[i], bases[j], k / m) for k in range(1, m))
                  if c not in cands]
    cache, use = {}, [0] * len(cands)
    for c in pixels:
        use[nearest(c, cands, cache)] += 1
    extra = sorted((k for k in range(len(bases), len(cands)) if use[k]),
                   key=lambda k: (-use[k], k))
    pal = bases + [cands[k] for k in extra[:limit - len(bases)]]
    cache = {}
    return pal, [nearest(c, pal, cache) for c in pixels]


def save(cv, path, depth=None):
    n, pix = cv.size, cv.rgba()
    if depth is None:
        rows = [bytes(v for p in pix[j * n:(j + 1) * n] for v in p) for j in range(n)]
        write_png(path, n, rows, 6)
        return
    pal, idx = quantise(pix, cv.owner, n, cv.flat, 1 << depth)
    if depth == 4:
        rows = [bytes((idx[j * n + i] << 4) | (idx[j * n + i + 1] if i + 1 < n else 0)
                      for i in range(0, n, 2)) for j in range(n)]
    else:
        rows = [bytes(idx[j * n:(j + 1) * n]) for j in range(n)]
    write_png(path, n, rows, 3, depth,
              bytes(v for c in pal for v in c[:3]), bytes(c[3] for c in pal))


# ---- artwork --------------------------------------------------------------

def plug(cv, gap, body, socket, cable):
    """Plug (left) and socket (right) on a horizontal axis, turned to the diagonal."""
    turn = lambda f: moved(f, deg=-45)
    p, s = -gap / 2, gap / 2        # plug front face and socket front face
    outlined(cv, turn(capsule(-60, 64, 64 + p - 36, 64, 8)), cable)
    outlined(cv, turn(capsule(64 + s + 36, 64, 190, 64, 8)), cable)
    if gap:
        for v in (-11, 11):
            outlined(cv, turn(box(64 + p - 6, 64 + v - 5, 64 + p + 16, 64 + v + 5, 2)),
                     (205, 210, 216))
    outlined(cv, turn(box(64 + p - 46, 64 - 13, 64 + p - 26, 64 + 13, 4)), body)
    outlined(cv, turn(box(64 + p - 32, 64 - 23, 64 + p + 3, 64 + 23, 7)), body)
    outlined(cv, turn(box(64 + s + 26, 64 - 14, 64 + s + 46, 64 + 14, 4)), socket)
    outlined(cv, turn(box(64 + s - 3, 64 - 27, 64 + s + 34, 64 + 27, 8)), socket)


def icon_connect():
    cv = Canvas(128)
    plug(cv, 0, vgrad((129, 212, 120), (46, 150, 60), 20, 110),
         vgrad((76, 175, 80), (27, 110, 40), 20, 110), (84, 110, 90))
    return cv


def icon_disconnect():
    cv = Canvas(128)
    plug(cv, 30, vgrad((244, 110, 100), (190, 40, 40), 20, 110),
         vgrad((176, 184, 192), (112, 120, 130), 20, 110), (120, 126, 134))
    return cv


def icon_settings():
    cv = Canvas(128)
    tooth = grow(polygon([(55, 60), (73, 60), (70, 12), (58, 12)]), 3)
    gear = union(circle(64, 64, 42), *(moved(tooth, deg=a * 45 + 22.5) for a in range(8)))
    outlined(cv, minus(gear, circle(64, 64, 15)), vgrad((176, 192, 210), (88, 106, 130), 8, 120))
    return cv


def icon_clear():
    cv = Canvas(128)
    cv.fill(capsule(10, 110, 118, 110, 4), INK)
    turn = lambda f: moved(f, dx=6, dy=-4, deg=-40)
    eraser = turn(box(16, 42, 112, 86, 9))
    inner = grow(eraser, -LINE)
    cut = turn(lambda x, y: x - 48)
    cv.fill(eraser, INK)
    cv.fill(intersect(inner, grow(lambda x, y: -cut(x, y), -3)),
            vgrad((255, 130, 160), (205, 45, 90), 10, 110))
    cv.fill(intersect(inner, grow(cut, -3)), vgrad((255, 240, 244), (226, 200, 210), 50, 110))
    return cv


def icon_exit():
    cv = Canvas(128)
    outlined(cv, box(8, 8, 72, 120, 5), (62, 72, 86))
    outlined(cv, polygon([(11, 11), (46, 24), (46, 110), (11, 117)]),
             vgrad((214, 160, 104), (150, 96, 52), 10, 118))
    cv.fill(circle(38, 92, 5), INK)
    arrow = union(box(32, 50, 88, 78, 3),
                  grow(polygon([(80, 29), (119, 64), (80, 99)]), 3))
    outlined(cv, arrow, vgrad((255, 120, 100), (200, 36, 36), 26, 102))
    return cv


def startstop(disc, play, stop):
    cv = Canvas(200)
    cv.fill(circle(64, 64, 62), INK)
    cv.fill(circle(64, 64, 57), disc)
    cv.fill(grow(polygon([(30, 46), (30, 82), (58, 64)]), 4), play)
    cv.fill(box(68, 46, 100, 82, 4), stop)
    return cv


def icon_app(size):
    """Muscle-activity burst traced in green on a console-black tile."""
    cv = Canvas(size)
    outlined(cv, box(6, 6, 122, 122, 22), vgrad((44, 52, 62), (12, 14, 18), 6, 122))
    cv.fill(capsule(20, 64, 108, 64, 1.5), (40, 90, 60))
    trace = [(18, 64), (34, 64), (40, 54), (45, 78), (50, 36), (55, 94), (60, 26),
             (66, 100), (71, 40), (76, 86), (81, 54), (86, 72), (92, 64), (110, 64)]
    cv.fill(union(*(capsule(*a, *b, 4) for a, b in zip(trace, trace[1:]))), (60, 230, 100))
    return cv


APP_ID = 'io.github.tarvex.TarvexTerminal'
APP_SIZES = (48, 64, 128)

ICONS = [
    ('connect.png', icon_connect, None),
    ('disconnect.png', icon_disconnect, None),
    ('settings.png', icon_settings, None),
    ('clear.png', icon_clear, None),
    ('application-exit.png', icon_exit, None),
    ('startstop_a.png', lambda: startstop((30, 120, 210), (255, 255, 255), (255, 255, 255)), 8),
    ('startstop_b.png', lambda: startstop((238, 241, 244), (46, 160, 67), (220, 50, 47)), 4),
    # The window's own icon, the same as the desktop entry's.
    ('tarvex-terminal.png', lambda: icon_app(128), None),
]


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, 'resources', 'images')
    os.makedirs(out, exist_ok=True)
    for name, draw, depth in ICONS:
        save(draw(), os.path.join(out, name), depth)
        print(os.path.join(out, name))
    app = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, 'data', 'icons', 'hicolor')
    for n in APP_SIZES:
        path = os.path.join(app, '%dx%d' % (n, n), 'apps', APP_ID + '.png')
        os.makedirs(os.path.dirname(path), exist_ok=True)
        save(icon_app(n), path)
        print(path)


if __name__ == '__main__':
    main()
