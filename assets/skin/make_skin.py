#!/usr/bin/python3
"""Draws the launcher's default skin from code alone and writes one BMP per bitmap id.

Usage: make_skin.py OUTPUT_DIR

Every picture is a 24-bit, bottom-up Windows bitmap named <id>.bmp. Pure green RGB(0,255,0)
is the colour key: pixels of exactly that colour are cut out of the window (rounded corners).
Captions are drawn with a small built-in 5x7 bitmap font, so the result does not depend on the
fonts of the machine that builds it.
"""
import math
import os
import struct
import sys

KEY = (0, 255, 0)

# 5x7 glyphs, one int per row, bit 4 = leftmost column.
FONT = {
    "A": [14, 17, 17, 31, 17, 17, 17], "B": [30, 17, 17, 30, 17, 17, 30],
    "C": [14, 17, 16, 16, 16, 17, 14], "D": [30, 17, 17, 17, 17, 17, 30],
    "E": [31, 16, 16, 30, 16, 16, 31], "F": [31, 16, 16, 30, 16, 16, 16],
    "G": [14, 17, 16, 23, 17, 17, 15], "H": [17, 17, 17, 31, 17, 17, 17],
    "I": [14, 4, 4, 4, 4, 4, 14], "J": [7, 2, 2, 2, 2, 18, 12],
    "K": [17, 18, 20, 24, 20, 18, 17], "L": [16, 16, 16, 16, 16, 16, 31],
    "M": [17, 27, 21, 21, 17, 17, 17], "N": [17, 17, 25, 21, 19, 17, 17],
    "O": [14, 17, 17, 17, 17, 17, 14], "P": [30, 17, 17, 30, 16, 16, 16],
    "Q": [14, 17, 17, 17, 21, 18, 13], "R": [30, 17, 17, 30, 20, 18, 17],
    "S": [15, 16, 16, 14, 1, 1, 30], "T": [31, 4, 4, 4, 4, 4, 4],
    "U": [17, 17, 17, 17, 17, 17, 14], "V": [17, 17, 17, 17, 17, 10, 4],
    "W": [17, 17, 17, 21, 21, 21, 10], "X": [17, 17, 10, 4, 10, 17, 17],
    "Y": [17, 17, 10, 4, 4, 4, 4], "Z": [31, 1, 2, 4, 8, 16, 31],
    "0": [14, 17, 19, 21, 25, 17, 14], "1": [4, 12, 4, 4, 4, 4, 14],
    "2": [14, 17, 1, 2, 4, 8, 31], "3": [31, 2, 4, 2, 1, 17, 14],
    "4": [2, 6, 10, 18, 31, 2, 2], "5": [31, 16, 30, 1, 1, 17, 14],
    "6": [6, 8, 16, 30, 17, 17, 14], "7": [31, 1, 2, 4, 8, 8, 8],
    "8": [14, 17, 17, 14, 17, 17, 14], "9": [14, 17, 17, 15, 1, 2, 12],
    " ": [0] * 7, ".": [0, 0, 0, 0, 0, 12, 12], ":": [0, 12, 12, 0, 12, 12, 0],
    "-": [0, 0, 0, 31, 0, 0, 0], "/": [1, 1, 2, 4, 8, 16, 16], "x": [0, 0, 17, 10, 4, 10, 17],
    "(": [2, 4, 8, 8, 8, 4, 2], ")": [8, 4, 2, 2, 2, 4, 8], "!": [4, 4, 4, 4, 4, 0, 4],
}


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


class Canvas:
    def __init__(self, width, height, colour=(0, 0, 0)):
        self.w, self.h = width, height
        self.px = [[colour] * width for _ in range(height)]

    def put(self, x, y, colour, alpha=1.0):
        if 0 <= x < self.w and 0 <= y < self.h:
            if alpha >= 1.0:
                self.px[y][x] = colour
            elif alpha > 0.0:
                self.px[y][x] = mix(self.px[y][x], colour, alpha)

    def fill(self, x0, y0, w, h, colour, alpha=1.0):
        for y in range(max(0, y0), min(self.h, y0 + h)):
            for x in range(max(0, x0), min(self.w, x0 + w)):
                self.put(x, y, colour, alpha)

    def vgradient(self, x0, y0, w, h, top, bottom, radius=0):
        for y in range(y0, y0 + h):
            colour = mix(top, bottom, (y - y0) / max(1, h - 1))
            for x in range(x0, x0 + w):
                cover = rounded_cover(x - x0, y - y0, w, h, radius)
                self.put(x, y, colour, cover)

    def frame(self, x0, y0, w, h, colour, radius=0, alpha=1.0):
        for y in range(y0, y0 + h):
            for x in range(x0, x0 + w):
                outer = rounded_cover(x - x0, y - y0, w, h, radius)
                inner = rounded_cover(x - x0 - 1, y - y0 - 1, w - 2, h - 2, max(0, radius - 1))
                edge = outer - inner if 0 < x - x0 < w - 1 and 0 < y - y0 < h - 1 else outer
                self.put(x, y, colour, edge * alpha)

    def text(self, x, y, s, colour, scale=1, shadow=None):
        if shadow is not None:
            self.text(x + 1, y + 1, s, shadow, scale)
        for ch in s:
            glyph = FONT.get(ch, FONT.get(ch.upper(), FONT[" "]))
            for row, bits in enumerate(glyph):
                for col in range(5):
                    if bits & (16 >> col):
                        self.fill(x + col * scale, y + row * scale, scale, scale, colour)
            x += 6 * scale

    def centred_text(self, cx, cy, s, colour, scale=1, shadow=None):
        width = (len(s) * 6 - 1) * scale
        self.text(cx - width // 2, cy - (7 * scale) // 2, s, colour, scale, shadow)

    def cut_corners(self, radius):
        """Paints the colour key outside a rounded outline, so the window loses its corners."""
        for y in range(self.h):
            for x in range(self.w):
                if rounded_cover(x, y, self.w, self.h, radius) < 0.5:
                    self.px[y][x] = KEY

    def write_bmp(self, path):
        stride = (self.w * 3 + 3) & ~3
        rows = []
        for y in range(self.h - 1, -1, -1):
            row = bytearray()
            for r, g, b in self.px[y]:
                row += bytes((b, g, r))
            row += b"\0" * (stride - len(row))
            rows.append(bytes(row))
        data = b"".join(rows)
        header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.w, self.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        with open(path, "wb") as f:
            f.write(header + info + data)


def rounded_cover(x, y, w, h, r):
    """1 inside a w x h rectangle with corner radius r, fading to 0 across its edge."""
    if x < 0 or y < 0 or x >= w or y >= h:
        return 0.0
    if r <= 0:
        return 1.0
    cx = r if x < r else (w - 1 - r if x > w - 1 - r else x)
    cy = r if y < r else (h - 1 - r if y > h - 1 - r else y)
    d = math.hypot(x - cx, y - cy)
    return max(0.0, min(1.0, r + 0.5 - d))


# Palette of the theme: deep night blue with teal glass and warm gold accents.
NIGHT = (14, 22, 40)
DUSK = (32, 52, 86)
TEAL = (46, 132, 150)
GLASS_TOP = (226, 238, 244)
GLASS_BOTTOM = (176, 198, 214)
GOLD = (236, 190, 92)
GOLD_DARK = (150, 104, 38)
INK = (20, 24, 34)
WHITE = (250, 250, 246)


def backdrop(c):
    c.vgradient(0, 0, c.w, c.h, DUSK, NIGHT)
    # soft diagonal light bands
    for y in range(c.h):
        for x in range(c.w):
            band = math.sin((x + y * 0.6) / 46.0)
            if band > 0.85:
                c.put(x, y, TEAL, (band - 0.85) * 0.5)


def emblem(c, cx, cy):
    for y in range(cy - 70, cy + 71):
        for x in range(cx - 70, cx + 71):
            d = math.hypot(x - cx, y - cy)
            glow = max(0.0, 1.0 - d / 70.0) ** 2
            c.put(x, y, TEAL, glow * 0.6)
            for ring, colour in ((56, GOLD), (44, GOLD_DARK)):
                edge = max(0.0, 1.0 - abs(d - ring) / 1.4)
                c.put(x, y, colour, edge)
    # a stylised blade: a gold diamond through the rings
    for y in range(cy - 52, cy + 53):
        half = int(9 * (1 - abs(y - cy) / 53.0))
        c.fill(cx - half, y, 2 * half + 1, 1, mix(GOLD, WHITE, 1 - abs(y - cy) / 53.0))


def left_panel(c):
    c.vgradient(8, 8, 208, c.h - 16, (24, 40, 70), (10, 16, 30), radius=10)
    c.frame(8, 8, 208, c.h - 16, GOLD_DARK, radius=10)
    emblem(c, 112, 120)
    c.centred_text(112, 222, "TORVANE", GOLD, scale=3, shadow=NIGHT)
    c.centred_text(112, 248, "LAUNCHER", GLASS_BOTTOM, scale=1)
    c.fill(40, 262, 144, 1, GOLD_DARK)


def news_frame(c, x, y, w, h):
    c.frame(x - 3, y - 3, w + 6, h + 6, GOLD_DARK, radius=4)
    c.fill(x, y, w, h, (240, 242, 246))


def close_frame(c):
    c.fill(556, 0, 24, 22, NIGHT, 0.4)


def main_server_view():
    c = Canvas(580, 380)
    backdrop(c)
    left_panel(c)
    # right panel: server grid above the news area
    c.vgradient(221, 8, 351, 151, (30, 50, 84), (20, 34, 60), radius=8)
    c.frame(221, 8, 351, 151, GOLD_DARK, radius=8)
    news_frame(c, 228, 167, 336, 163)
    c.cut_corners(14)
    return c


def main_progress_view():
    c = Canvas(580, 380)
    backdrop(c)
    left_panel(c)
    c.vgradient(220, 12, 350, 118, (30, 50, 84), (20, 34, 60), radius=8)
    c.frame(220, 12, 350, 118, GOLD_DARK, radius=8)
    # title plate (the server's name is written on it); the patch step caption goes left of it
    c.vgradient(383, 19, 180, 21, GLASS_TOP, GLASS_BOTTOM, radius=5)
    # status plate
    c.vgradient(226, 47, 337, 21, GLASS_TOP, GLASS_BOTTOM, radius=5)
    # bar troughs: the bars paint their filled part over these
    for y in (74, 102):
        c.vgradient(225, y, 339, 23, (18, 24, 36), (44, 54, 72), radius=5)
        c.frame(224, y - 1, 341, 25, GOLD_DARK, radius=6)
    news_frame(c, 225, 176, 338, 184)
    c.cut_corners(14)
    return c


def bar():
    c = Canvas(339, 23)
    for y in range(23):
        t = y / 22.0
        base = mix((120, 230, 236), (24, 120, 150), t)
        if y < 9:
            base = mix(base, WHITE, 0.35 * (1 - y / 9.0))
        for x in range(339):
            stripe = 0.08 if ((x + y) // 8) % 2 == 0 else 0.0
            c.put(x, y, mix(base, WHITE, stripe))
    c.frame(0, 0, 339, 23, (12, 70, 90), radius=5)
    return c


def button(w, h, caption, look, scale=1, radius=6):
    """A rounded glass button. look: 'normal', 'pressed' or 'disabled'."""
    c = Canvas(w, h, NIGHT)
    if look == "normal":
        top, bottom, ink, rim = (92, 170, 188), (28, 82, 110), WHITE, GOLD
    elif look == "pressed":
        top, bottom, ink, rim = (22, 70, 96), (70, 146, 166), GOLD, GOLD_DARK
    else:
        top, bottom, ink, rim = (96, 104, 116), (62, 68, 80), (150, 154, 160), (90, 94, 100)
    c.vgradient(0, 0, w, h, top, bottom, radius=radius)
    if look == "normal":
        c.vgradient(2, 2, w - 4, h // 2 - 1, mix(top, WHITE, 0.45), top, radius=max(0, radius - 2))
    c.frame(0, 0, w, h, rim, radius=radius)
    if caption:
        offset = 1 if look == "pressed" else 0
        c.centred_text(w // 2 + offset, h // 2 + offset, caption, ink, scale, shadow=INK)
    return c


def server_button(look):
    # The launcher writes the server's name over this face; keep its middle plain.
    c = Canvas(164, 26, NIGHT)
    if look == "normal":
        top, bottom, rim = GLASS_TOP, GLASS_BOTTOM, GOLD
    else:
        top, bottom, rim = (150, 160, 172), (196, 204, 212), GOLD_DARK
    c.vgradient(0, 0, 164, 26, top, bottom, radius=7)
    c.frame(0, 0, 164, 26, rim, radius=7)
    c.fill(10, 11, 4, 4, TEAL if look == "normal" else (110, 116, 124))
    return c


def close_button(look):
    c = Canvas(16, 15, NIGHT)
    top, bottom = ((210, 84, 70), (140, 36, 30)) if look == "normal" else ((120, 30, 26), (190, 70, 60))
    c.vgradient(0, 0, 16, 15, top, bottom, radius=4)
    c.frame(0, 0, 16, 15, GOLD if look == "normal" else GOLD_DARK, radius=4)
    for i in range(7):
        c.put(4 + i, 4 + i, WHITE)
        c.put(5 + i, 4 + i, WHITE, 0.6)
        c.put(10 - i, 4 + i, WHITE)
        c.put(11 - i, 4 + i, WHITE, 0.6)
    return c


def options_background():
    c = Canvas(385, 486)
    backdrop(c)
    c.vgradient(6, 6, 373, 474, (28, 46, 78), (12, 20, 36), radius=12)
    c.frame(6, 6, 373, 474, GOLD_DARK, radius=12)
    c.centred_text(192, 40, "GAME OPTIONS", GOLD, scale=2, shadow=NIGHT)
    c.fill(40, 58, 305, 1, GOLD_DARK)

    def section(y, title):
        c.vgradient(20, y, 345, 20, (44, 72, 110), (30, 50, 84), radius=5)
        c.text(30, y + 7, title, GOLD)

    section(104, "ACCOUNT")
    c.text(40, 139, "LOGIN ID", GLASS_TOP)
    c.fill(142, 134, 174, 18, (8, 12, 20))
    c.frame(141, 133, 176, 20, GOLD_DARK, radius=3)

    section(184, "SCREEN")
    c.text(264, 219, "", GLASS_TOP)
    c.text(304, 219, "WINDOW", GLASS_TOP)
    for x, label in ((32, "800X600"), (108, "1024X768"), (190, "1280X1024"), (278, "1600X1200")):
        c.text(x + 17, 243, label, GLASS_TOP)
    section(284, "COLOUR")
    c.text(49, 323, "16 BIT", GLASS_TOP)
    c.text(160, 323, "32 BIT", GLASS_TOP)
    section(362, "SOUND")
    c.text(49, 401, "EFFECTS", GLASS_TOP)
    c.text(160, 401, "MUSIC", GLASS_TOP)
    # wells behind the 13x13 boxes of the radio buttons and check boxes
    for x, y in ((32, 240), (108, 240), (190, 240), (278, 240), (32, 320), (143, 320),
                 (32, 398), (143, 398), (286, 216)):
        c.frame(x - 2, y - 2, 17, 17, GOLD_DARK, radius=3)
    c.fill(108, 436, 168, 36, NIGHT, 0.5)
    return c


def icon():
    c = Canvas(32, 32, NIGHT)
    c.vgradient(0, 0, 32, 32, DUSK, NIGHT, radius=6)
    for y in range(32):
        for x in range(32):
            d = math.hypot(x - 15.5, y - 15.5)
            c.put(x, y, GOLD, max(0.0, 1.0 - abs(d - 11) / 1.3))
    for y in range(5, 27):
        half = int(3 * (1 - abs(y - 15.5) / 11.0))
        c.fill(16 - half, y, 2 * half, 1, GOLD)
    return c


def pictures():
    yield 140, main_server_view()
    yield 163, main_progress_view()
    yield 162, bar()
    yield 110, options_background()
    yield 128, icon()
    for ident, caption in ((104, "OPTION"), (105, "START"), (106, "BACK")):
        yield ident, button(100, 26, caption, "normal")
    for normal, pressed, caption in ((154, 155, "HOME"), (152, 153, "NEWS"), (156, 157, "HELP"),
                                     (158, 159, "SITE"), (160, 161, "EXIT")):
        yield normal, button(60, 24, caption, "normal")
        yield pressed, button(60, 24, caption, "pressed")
    yield 149, server_button("normal")
    yield 148, server_button("pressed")
    yield 144, close_button("normal")
    yield 145, close_button("pressed")
    yield 112, button(74, 22, "SAVE", "normal")
    yield 111, button(74, 22, "SAVE", "pressed")
    yield 137, button(74, 22, "CANCEL", "normal")
    yield 138, button(74, 22, "CANCEL", "pressed")
    # A disabled look for buttons whose owner wants one (the start button before the go-ahead).
    yield 165, button(100, 26, "START", "disabled")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "skin"
    os.makedirs(out, exist_ok=True)
    only = set(int(a) for a in sys.argv[2:])
    for ident, canvas in pictures():
        if not only or ident in only:
            canvas.write_bmp(os.path.join(out, "%d.bmp" % ident))


if __name__ == "__main__":
    main()
