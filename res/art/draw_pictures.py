#!/usr/bin/env python3
"""Draws the installer's two pictures and writes them as XPM (256 colours,
2 characters per pixel) through ImageMagick:

  res/icon.xpm          256 x 256 window icon
  res/side_picture.xpm  158 x 286 picture at the left of the wizard pages
  res/side_picture_2x.xpm  the same drawn at twice the size (316 x 572), for
                        screens at scale 2 and more

The motif: a stack of template sheets, each with a few lines of a form, and
an arrow putting the top sheet into place. Run from the repository root:
  python3 res/art/draw_pictures.py
"""
import math
import subprocess
import sys
import tempfile

SS = 3  # supersampling per axis


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def rounded_box(x, y, x0, y0, x1, y1, r):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return math.hypot(x - cx, y - cy) - r


class Canvas:
    """A w x h picture in drawing units, sampled at `scale` pixels per unit."""

    def __init__(self, w, h, background, scale=1):
        self.scale = scale
        self.w, self.h = w * scale, h * scale
        n = SS * scale
        self.px = [[background(x / n, y / n) for x in range(self.w * SS)] for y in range(self.h * SS)]

    def shape(self, inside, colour, alpha=1.0):
        """inside(x, y) -> colour tuple or None; blended with alpha."""
        n = SS * self.scale
        for y in range(self.h * SS):
            fy = (y + 0.5) / n
            row = self.px[y]
            for x in range(self.w * SS):
                c = inside((x + 0.5) / n, fy)
                if c is None:
                    continue
                col = colour if c is True else c
                row[x] = lerp(row[x], col, alpha)

    def rgb_bytes(self):
        out = bytearray()
        for y in range(self.h):
            for x in range(self.w):
                acc = [0.0, 0.0, 0.0]
                for dy in range(SS):
                    for dx in range(SS):
                        p = self.px[y * SS + dy][x * SS + dx]
                        for i in range(3):
                            acc[i] += p[i]
                out += bytes(max(0, min(255, int(round(a / (SS * SS))))) for a in acc)
        return bytes(out)


def sheet(canvas, x0, y0, w, h, tilt, paper, ink, accent, lines):
    """A sheet of paper with form lines, rotated by `tilt` radians around its centre."""
    cx, cy = x0 + w / 2, y0 + h / 2
    ct, st = math.cos(tilt), math.sin(tilt)

    def local(x, y):
        dx, dy = x - cx, y - cy
        return cx + dx * ct + dy * st, cy - dx * st + dy * ct

    def shadow(x, y):
        lx, ly = local(x - 3, y - 4)
        return True if rounded_box(lx, ly, x0, y0, x0 + w, y0 + h, 4) < 0 else None

    canvas.shape(shadow, (10, 25, 40), 0.25)

    def body(x, y):
        lx, ly = local(x, y)
        d = rounded_box(lx, ly, x0, y0, x0 + w, y0 + h, 4)
        if d >= 0:
            return None
        # header band
        if ly < y0 + h * 0.16:
            return accent
        # form lines
        for i, frac in enumerate(lines):
            ly0 = y0 + h * (0.27 + i * 0.13)
            if ly0 <= ly <= ly0 + max(2.0, h * 0.035) and x0 + w * 0.12 <= lx <= x0 + w * (0.12 + 0.76 * frac):
                return ink
        return paper

    canvas.shape(body, None)


def arrow(canvas, cx, top, bottom, width, colour):
    head = width * 1.9

    def inside(x, y):
        if top <= y <= bottom - head and abs(x - cx) <= width / 2:
            return True
        if bottom - head <= y <= bottom:
            half = (bottom - y) / head * head * 0.75
            if abs(x - cx) <= half:
                return True
        return None

    canvas.shape(inside, colour)


def write_xpm(canvas, name, path):
    with tempfile.NamedTemporaryFile(suffix=".ppm") as ppm:
        ppm.write(b"P6 %d %d 255\n" % (canvas.w, canvas.h) + canvas.rgb_bytes())
        ppm.flush()
        # 256 colours at most; ImageMagick picks 2 characters per pixel for them.
        subprocess.run(["convert", ppm.name, "-dither", "None", "-colors", "256",
                        "-define", "xpm:symbol=" + name, "xpm:" + path], check=True)


def icon():
    top, bottom = (24, 122, 140), (13, 59, 102)

    def background(x, y):
        return (0, 0, 0)

    c = Canvas(256, 256, background)

    def tile(x, y):
        d = rounded_box(x, y, 8, 8, 248, 248, 44)
        if d >= 0:
            return None
        t = (x + y) / 512
        return lerp(top, bottom, t)

    # Transparent corners are not possible in 256 colours without a mask
    # colour, so the tile sits on a white ground that most panels show well.
    c.shape(lambda x, y: True, (255, 255, 255))
    c.shape(tile, None)
    paper, ink = (250, 250, 245), (150, 170, 185)
    sheet(c, 62, 70, 110, 140, -0.18, (222, 232, 236), ink, (120, 160, 175), [0.8, 0.6, 0.7, 0.4])
    sheet(c, 78, 58, 110, 140, -0.06, (236, 242, 244), ink, (70, 140, 160), [0.7, 0.9, 0.5, 0.6])
    sheet(c, 96, 48, 110, 140, 0.05, paper, ink, (242, 160, 45), [0.9, 0.5, 0.8, 0.6])
    arrow(c, 190, 150, 222, 18, (242, 160, 45))
    return c


def side_picture(scale=1):
    top, bottom = (17, 96, 128), (8, 40, 74)

    def background(x, y):
        t = y / 286
        base = lerp(top, bottom, t)
        # a soft diagonal light
        glow = max(0.0, 1 - abs((x * 0.8 + y * 0.35) - 120) / 90) * 0.18
        return lerp(base, (255, 255, 255), glow)

    c = Canvas(158, 286, background, scale)
    ink = (150, 170, 185)
    sheet(c, 22, 70, 88, 112, -0.20, (214, 228, 233), ink, (110, 155, 170), [0.8, 0.6, 0.7, 0.4])
    sheet(c, 36, 58, 88, 112, -0.07, (232, 240, 243), ink, (70, 140, 160), [0.7, 0.9, 0.5, 0.6])
    sheet(c, 52, 48, 88, 112, 0.06, (250, 250, 245), ink, (242, 160, 45), [0.9, 0.5, 0.8, 0.6])
    arrow(c, 112, 172, 226, 14, (242, 160, 45))

    # a row of small squares near the bottom: the tree being filled
    def dots(x, y):
        for i in range(5):
            x0 = 24 + i * 22
            if x0 <= x <= x0 + 14 and 250 <= y <= 264:
                return (242, 160, 45) if i < 3 else (70, 130, 155)
        return None

    c.shape(dots, None)
    return c


if __name__ == "__main__":
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    write_xpm(icon(), "icon", root + "/res/icon.xpm")
    write_xpm(side_picture(), "side_picture", root + "/res/side_picture.xpm")
    write_xpm(side_picture(2), "side_picture_2x", root + "/res/side_picture_2x.xpm")
