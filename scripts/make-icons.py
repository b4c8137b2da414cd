#!/usr/bin/env python3
"""Draws the program's icons (res/icons/*.png) with nothing but the standard
library: each icon is a stack of shapes, rendered with 4x4 supersampling."""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(__file__), "..", "res", "icons")


def png(path, size, pixels):
    raw = b"".join(b"\x00" + bytes(pixels[y * size * 4:(y + 1) * size * 4]) for y in range(size))

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def render(size, layers):
    """layers: list of (inside(x, y) -> bool in unit coordinates, (r, g, b, a))."""
    px = [0] * (size * size * 4)
    n = 4
    for y in range(size):
        for x in range(size):
            r = g = b = a = 0.0
            for sy in range(n):
                for sx in range(n):
                    u = (x + (sx + 0.5) / n) / size
                    v = (y + (sy + 0.5) / n) / size
                    col = None
                    for inside, c in layers:
                        if inside(u, v):
                            col = c
                    if col:
                        ca = col[3] / 255.0
                        r += col[0] * ca
                        g += col[1] * ca
                        b += col[2] * ca
                        a += ca
            k = (y * size + x) * 4
            if a > 0:
                px[k:k + 4] = [round(r / a), round(g / a), round(b / a), round(255 * a / (n * n))]
    return px


def rounded(x0, y0, x1, y1, rad):
    def f(u, v):
        if not (x0 <= u <= x1 and y0 <= v <= y1):
            return False
        cx = min(max(u, x0 + rad), x1 - rad)
        cy = min(max(v, y0 + rad), y1 - rad)
        return (u - cx) ** 2 + (v - cy) ** 2 <= rad * rad
    return f


def disc(cx, cy, rad):
    return lambda u, v: (u - cx) ** 2 + (v - cy) ** 2 <= rad * rad


def arc(cx, cy, r0, r1):
    # A quarter ring opening towards the upper right, as on a feed sign.
    return lambda u, v: u >= cx and v <= cy and r0 ** 2 <= (u - cx) ** 2 + (v - cy) ** 2 <= r1 ** 2


def feed_sign(bg, fg, inset=0.06):
    return [
        (rounded(inset, inset, 1 - inset, 1 - inset, 0.2), bg),
        (disc(0.3, 0.7, 0.09), fg),
        (arc(0.21, 0.79, 0.30, 0.42), fg),
        (arc(0.21, 0.79, 0.52, 0.64), fg),
    ]


ORANGE = (236, 112, 20, 255)
DARK_ORANGE = (180, 70, 10, 255)
WHITE = (255, 255, 255, 255)
BLUE = (40, 90, 170, 255)
FOLDER = (232, 190, 70, 255)
FOLDER_DARK = (190, 145, 40, 255)


def quill():
    # A feather over a blue disc: the main icon.
    def feather(u, v):
        # rotate so the feather runs from lower left to upper right
        a = math.radians(45)
        x = (u - 0.5) * math.cos(a) - (v - 0.5) * math.sin(a)
        y = (u - 0.5) * math.sin(a) + (v - 0.5) * math.cos(a)
        return -0.42 <= y <= 0.3 and abs(x) <= 0.13 * math.sin(math.pi * (0.3 - y) / 0.72)

    def shaft(u, v):
        return abs((u - 0.5) + (v - 0.5)) <= 0.025 and 0.18 <= u <= 0.62

    return [(disc(0.5, 0.5, 0.47), BLUE), (feather, WHITE), (shaft, DARK_ORANGE)]


ICONS = {
    "tray137.png": (32, feed_sign(ORANGE, WHITE)),
    # The blink partner: the colours swapped, inside an orange rim.
    "tray138.png": (32, [(rounded(0.06, 0.06, 0.94, 0.94, 0.2), ORANGE)] + feed_sign(WHITE, ORANGE, 0.14)),
    "root.png": (16, [(rounded(0.02, 0.02, 0.98, 0.98, 0.25), BLUE), (disc(0.5, 0.5, 0.18), WHITE)]),
    "group.png": (16, [
        (rounded(0.05, 0.15, 0.5, 0.4, 0.06), FOLDER_DARK),
        (rounded(0.05, 0.28, 0.95, 0.88, 0.06), FOLDER),
    ]),
    "source.png": (16, feed_sign(ORANGE, WHITE, 0.04)),
    "quillbend.png": (64, quill()),
}

if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    for name, (size, layers) in ICONS.items():
        png(os.path.join(OUT, name), size, render(size, layers))
        print("wrote", name)
