#!/usr/bin/env python3
"""Draws the program's icons with nothing but the standard library.

Each icon is a stack of shapes. Every shape knows whether a point lies inside
it (for the PNGs, rendered with 4x4 supersampling) and how to write itself as
SVG, so the bitmaps and the scalable icon show the same drawing.

Writes, under res/icons/:
  NAME.png, NAME@2x.png, NAME@3x.png   the window's own icons, one file per
                                       device-pixel ratio (Qt picks the @Nx
                                       file on a scaled screen)
  hicolor/SIZExSIZE/apps/APPID.png     the application icon for the desktop
  hicolor/scalable/apps/APPID.svg
Run it again after changing a drawing and commit the results."""
import math
import os
import struct
import zlib

APP_ID = "net.velmorant.Quillbend"
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res", "icons")
HICOLOR_SIZES = (16, 24, 32, 48, 64, 128, 256)
RATIOS = (1, 2, 3)


def png(path, size, pixels):
    raw = b"".join(b"\x00" + bytes(pixels[y * size * 4:(y + 1) * size * 4]) for y in range(size))

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


class Shape:
    def __init__(self, inside, svg):
        self.inside = inside  # inside(u, v) -> bool, unit coordinates
        self.svg = svg        # svg(scale) -> one element without its fill


def render(size, layers):
    """layers: list of (Shape, (r, g, b, a))."""
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
                    for shape, c in layers:
                        if shape.inside(u, v):
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


def svg_document(layers, size=256):
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
           f'viewBox="0 0 {size} {size}">']
    for shape, (r, g, b, a) in layers:
        opacity = "" if a == 255 else f' fill-opacity="{a / 255:.3f}"'
        out.append(f'  {shape.svg(size)[:-2]} fill="#{r:02x}{g:02x}{b:02x}"{opacity}/>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def num(x):
    return f"{x:.2f}".rstrip("0").rstrip(".")


def polygon(points):
    def svg(s):
        return '<polygon points="' + " ".join(f"{num(u * s)},{num(v * s)}" for u, v in points) + '"/>'
    return svg


def filled_polygon(points):
    # Inside by the even-odd rule, as the SVG draws it.
    def f(u, v):
        inside = False
        for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
            if (y0 > v) != (y1 > v) and u < x0 + (v - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
        return inside
    return Shape(f, polygon(points))


def star(cx, cy, outer, inner):
    points = []
    for i in range(10):
        r = outer if i % 2 == 0 else inner
        a = math.pi / 2 + i * math.pi / 5
        points.append((cx + r * math.cos(a), cy - r * math.sin(a)))
    return filled_polygon(points)


def rounded(x0, y0, x1, y1, rad):
    def f(u, v):
        if not (x0 <= u <= x1 and y0 <= v <= y1):
            return False
        cx = min(max(u, x0 + rad), x1 - rad)
        cy = min(max(v, y0 + rad), y1 - rad)
        return (u - cx) ** 2 + (v - cy) ** 2 <= rad * rad

    def svg(s):
        return (f'<rect x="{num(x0 * s)}" y="{num(y0 * s)}" width="{num((x1 - x0) * s)}" '
                f'height="{num((y1 - y0) * s)}" rx="{num(rad * s)}"/>')
    return Shape(f, svg)


def disc(cx, cy, rad):
    return Shape(lambda u, v: (u - cx) ** 2 + (v - cy) ** 2 <= rad * rad,
                 lambda s: f'<circle cx="{num(cx * s)}" cy="{num(cy * s)}" r="{num(rad * s)}"/>')


def arc(cx, cy, r0, r1):
    # A quarter ring opening towards the upper right, as on a feed sign.
    def svg(s):
        return (f'<path d="M{num((cx + r1) * s)},{num(cy * s)} A{num(r1 * s)},{num(r1 * s)} 0 0 0 '
                f'{num(cx * s)},{num((cy - r1) * s)} L{num(cx * s)},{num((cy - r0) * s)} '
                f'A{num(r0 * s)},{num(r0 * s)} 0 0 1 {num((cx + r0) * s)},{num(cy * s)} Z"/>')
    return Shape(lambda u, v: u >= cx and v <= cy and r0 ** 2 <= (u - cx) ** 2 + (v - cy) ** 2 <= r1 ** 2,
                 svg)


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
GOLD = (245, 190, 20, 255)
GOLD_DARK = (200, 140, 10, 255)


def quill():
    # A feather over a blue disc: the application icon. The feather runs from
    # lower left to upper right; in its own frame it is y in [-0.42, 0.3] with
    # a half width of 0.13 * sin(pi * (0.3 - y) / 0.72).
    a = math.radians(45)

    def feather(u, v):
        x = (u - 0.5) * math.cos(a) - (v - 0.5) * math.sin(a)
        y = (u - 0.5) * math.sin(a) + (v - 0.5) * math.cos(a)
        return -0.42 <= y <= 0.3 and abs(x) <= 0.13 * math.sin(math.pi * (0.3 - y) / 0.72)

    def unrotate(x, y):
        return (0.5 + x * math.cos(a) + y * math.sin(a), 0.5 - x * math.sin(a) + y * math.cos(a))

    steps = 48
    ys = [-0.42 + 0.72 * i / steps for i in range(steps + 1)]
    outline = ([unrotate(0.13 * math.sin(math.pi * (0.3 - y) / 0.72), y) for y in ys] +
               [unrotate(-0.13 * math.sin(math.pi * (0.3 - y) / 0.72), y) for y in reversed(ys)])

    def shaft(u, v):
        return abs((u - 0.5) + (v - 0.5)) <= 0.025 and 0.18 <= u <= 0.62

    shaft_outline = [(0.18, 0.845), (0.18, 0.795), (0.62, 0.355), (0.62, 0.405)]
    return [(disc(0.5, 0.5, 0.47), BLUE),
            (Shape(feather, polygon(outline)), WHITE),
            (Shape(shaft, polygon(shaft_outline)), DARK_ORANGE)]


# name: (size at a device-pixel ratio of 1, drawing)
WINDOW_ICONS = {
    "tray137": (32, feed_sign(ORANGE, WHITE)),
    # The blink partner: the colours swapped, inside an orange rim.
    "tray138": (32, [(rounded(0.06, 0.06, 0.94, 0.94, 0.2), ORANGE)] + feed_sign(WHITE, ORANGE, 0.14)),
    "root": (16, [(rounded(0.02, 0.02, 0.98, 0.98, 0.25), BLUE), (disc(0.5, 0.5, 0.18), WHITE)]),
    "group": (16, [
        (rounded(0.05, 0.15, 0.5, 0.4, 0.06), FOLDER_DARK),
        (rounded(0.05, 0.28, 0.95, 0.88, 0.06), FOLDER),
    ]),
    "source": (16, feed_sign(ORANGE, WHITE, 0.04)),
    "starred": (16, [(star(0.5, 0.53, 0.5, 0.21), GOLD_DARK), (star(0.5, 0.53, 0.4, 0.16), GOLD)]),
    "quillbend": (64, quill()),
}


def write(path, size, layers):
    png(path, size, render(size, layers))
    print("wrote", os.path.relpath(path, OUT))


if __name__ == "__main__":
    for name, (size, layers) in WINDOW_ICONS.items():
        for ratio in RATIOS:
            suffix = "" if ratio == 1 else f"@{ratio}x"
            write(os.path.join(OUT, f"{name}{suffix}.png"), size * ratio, layers)
    for size in HICOLOR_SIZES:
        write(os.path.join(OUT, "hicolor", f"{size}x{size}", "apps", f"{APP_ID}.png"), size, quill())
    scalable = os.path.join(OUT, "hicolor", "scalable", "apps", f"{APP_ID}.svg")
    os.makedirs(os.path.dirname(scalable), exist_ok=True)
    with open(scalable, "w") as f:
        f.write(svg_document(quill()))
    print("wrote", os.path.relpath(scalable, OUT))
