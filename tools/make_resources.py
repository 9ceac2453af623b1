#!/usr/bin/env python3
"""Draws Pellory's picture resources and writes them as PNG files under res/.

Standard library only (zlib and struct), deterministic: the same script writes the same pixels
every time, and the files it writes are committed. Run it from anywhere:

    python3 tools/make_resources.py            # (re)write the files
    python3 tools/make_resources.py --check    # exit 1 if a committed file's pixels differ

Files and their resource ids (the ids are repeated in src/widgets/resources.h):
    res/icons/pellory.png      165  program icon, 32 x 32 (res/icons/pellory16.png: 16 x 16)
    res/icons/lamp_dark.png    166  status lamp off, 16 x 16, lamp colour 0,128,0
    res/icons/lamp_lit.png     167  status lamp on,  16 x 16, lamp colour 0,255,0
    res/barcode_sample.png     155  161 x 61 monochrome UPC-A sample with its digits beneath
    res/icons/pellory.svg           the program icon for the desktop's icon theme (scalable)
    res/icons/hicolor/NxN/pellory.png   the same at 16, 32, 48, 64, 128 and 256 pixels
"""

import os
import struct
import sys
import zlib

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

# ---------------------------------------------------------------------------------------------
# PNG writing and reading (just enough for our own files)

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_rgba(width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a) tuples. Colour type 6, 8 bits."""
    raw = bytearray()
    for row in pixels:
        assert len(row) == width
        raw.append(0)  # filter: none
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    assert len(pixels) == height
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (PNG_SIGNATURE + _chunk(b"IHDR", ihdr) + _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + _chunk(b"IEND", b""))


def png_mono(width, height, black):
    """black: list of rows of booleans (True = black dot). Grey scale, 1 bit, 0 = black."""
    raw = bytearray()
    for row in black:
        assert len(row) == width
        raw.append(0)
        byte, nbits = 0, 0
        for is_black in row:
            byte = (byte << 1) | (0 if is_black else 1)
            nbits += 1
            if nbits == 8:
                raw.append(byte)
                byte, nbits = 0, 0
        if nbits:
            raw.append((byte << (8 - nbits)) | ((1 << (8 - nbits)) - 1))
    assert len(black) == height
    ihdr = struct.pack(">IIBBBBB", width, height, 1, 0, 0, 0, 0)
    return (PNG_SIGNATURE + _chunk(b"IHDR", ihdr) + _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + _chunk(b"IEND", b""))


def png_pixels(data):
    """Decodes a PNG written by this script (no filters, no interlace) into its IHDR fields and
    its unfiltered scan-line bytes; used by --check to compare pixels, not compressed bytes."""
    assert data[:8] == PNG_SIGNATURE
    pos, ihdr, idat = 8, None, b""
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            ihdr = body
        elif kind == b"IDAT":
            idat += body
    return ihdr, zlib.decompress(idat)


# ---------------------------------------------------------------------------------------------
# The 16-colour palette the icons are drawn with

CLEAR = (0, 0, 0, 0)
BLACK = (0, 0, 0, 255)
DARK_GREY = (128, 128, 128, 255)
SILVER = (192, 192, 192, 255)
WHITE = (255, 255, 255, 255)
NAVY = (0, 0, 128, 255)
BLUE = (0, 0, 255, 255)
GREEN = (0, 128, 0, 255)
LIME = (0, 255, 0, 255)


def canvas(width, height, fill=CLEAR):
    return [[fill] * width for _ in range(height)]


def fill_rect(img, x0, y0, x1, y1, colour):
    """Fills the inclusive rectangle x0..x1, y0..y1."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def frame_rect(img, x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        img[y0][x] = colour
        img[y1][x] = colour
    for y in range(y0, y1 + 1):
        img[y][x0] = colour
        img[y][x1] = colour


# ---------------------------------------------------------------------------------------------
# Status lamps (166 dark, 167 lit): a round lamp with a black rim, a grey shadow ring at the
# lower right and a white highlight at the upper left. Only the lamp colour differs.

def lamp(colour):
    size = 16
    img = canvas(size, size)
    c = 7.5  # centre between pixels 7 and 8
    for y in range(size):
        for x in range(size):
            d2 = (x - c) ** 2 + (y - c) ** 2
            if d2 <= 7.3 ** 2:
                img[y][x] = BLACK if d2 > 6.2 ** 2 else colour
    # shadow: the inner edge of the rim towards the lower right
    for y in range(size):
        for x in range(size):
            d2 = (x - c) ** 2 + (y - c) ** 2
            if 5.2 ** 2 < d2 <= 6.2 ** 2 and (x - c) + (y - c) > 3.5:
                img[y][x] = DARK_GREY
    # highlight at the upper left
    for x, y in ((4, 4), (5, 4), (4, 5), (6, 4), (4, 6), (5, 5)):
        img[y][x] = WHITE if (x, y) in ((4, 4), (5, 4), (4, 5)) else SILVER
    return png_rgba(size, size, img)


# ---------------------------------------------------------------------------------------------
# Program icon (165): a receipt printer, seen from the front, with a receipt coming out of its
# top slot and a green power lamp on its body.

def program_icon_32_pixels():
    img = canvas(32, 32)
    # receipt paper: white strip with a torn (zigzag) top edge and printed lines
    fill_rect(img, 9, 3, 22, 16, WHITE)
    for x in range(9, 23):
        if x % 2 == 0:
            img[3][x] = CLEAR
    frame_rect(img, 8, 4, 23, 16, BLACK)
    for x in range(9, 23):  # the torn edge: a zigzag over rows 3 and 4
        img[3][x] = BLACK if x % 2 else CLEAR
        img[4][x] = WHITE if x % 2 else BLACK
    for y, (x0, x1) in ((6, (10, 21)), (8, (10, 18)), (10, (10, 20)), (12, (10, 16))):
        for x in range(x0, x1 + 1):
            img[y][x] = NAVY
    # printer body
    fill_rect(img, 2, 15, 29, 28, SILVER)
    frame_rect(img, 2, 15, 29, 28, BLACK)
    for x in range(3, 29):  # top light edge and bottom shadow
        img[16][x] = WHITE
        img[27][x] = DARK_GREY
    for y in range(16, 28):
        img[y][3] = WHITE
        img[y][28] = DARK_GREY
    # paper slot across the top of the body, the receipt passing through it
    fill_rect(img, 6, 18, 25, 19, BLACK)
    fill_rect(img, 9, 17, 22, 18, WHITE)
    img[17][8] = BLACK
    img[17][23] = BLACK
    # front panel: status lamp and two keys
    fill_rect(img, 5, 22, 7, 24, LIME)
    frame_rect(img, 4, 21, 8, 25, BLACK)
    img[21][4] = SILVER
    img[21][8] = SILVER
    img[25][4] = SILVER
    img[25][8] = SILVER
    fill_rect(img, 19, 23, 21, 24, BLUE)
    fill_rect(img, 24, 23, 26, 24, BLUE)
    frame_rect(img, 18, 22, 22, 25, BLACK)
    frame_rect(img, 23, 22, 27, 25, BLACK)
    # feet
    fill_rect(img, 4, 29, 7, 30, BLACK)
    fill_rect(img, 24, 29, 27, 30, BLACK)
    return img


def program_icon_32():
    return png_rgba(32, 32, program_icon_32_pixels())


# The program icon for the desktop's icon theme: the 32 x 32 drawing scaled by whole factors
# (sharp edges at every size), and the same drawing as an SVG of one square per pixel run.

def scaled(img, factor):
    out = []
    for row in img:
        wide = [px for px in row for _ in range(factor)]
        out.extend([list(wide) for _ in range(factor)])
    return out


def program_icon_theme(size):
    if size % 32 == 0:
        return png_rgba(size, size, scaled(program_icon_32_pixels(), size // 32))
    assert size % 16 == 0
    return png_rgba(size, size, scaled(program_icon_16_pixels(), size // 16))


def program_icon_svg():
    img = program_icon_32_pixels()
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n',
             '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32"'
             ' shape-rendering="crispEdges">\n',
             '<title>Pellory</title>\n']
    for y, row in enumerate(img):
        x = 0
        while x < len(row):
            r, g, b, a = row[x]
            run = 1
            while x + run < len(row) and row[x + run] == row[x]:
                run += 1
            if a:
                parts.append('<rect x="%d" y="%d" width="%d" height="1" fill="#%02x%02x%02x"/>\n'
                             % (x, y, run, r, g, b))
            x += run
    parts.append("</svg>\n")
    return "".join(parts).encode("ascii")


def program_icon_16():
    return png_rgba(16, 16, program_icon_16_pixels())


def program_icon_16_pixels():
    img = canvas(16, 16)
    fill_rect(img, 4, 1, 11, 8, WHITE)
    frame_rect(img, 3, 1, 12, 8, BLACK)
    for x in range(5, 11):
        img[3][x] = NAVY
    for x in range(5, 9):
        img[5][x] = NAVY
    fill_rect(img, 1, 8, 14, 14, SILVER)
    frame_rect(img, 1, 8, 14, 14, BLACK)
    fill_rect(img, 4, 9, 11, 9, BLACK)
    for x in range(2, 14):
        img[13][x] = DARK_GREY
    fill_rect(img, 3, 11, 4, 12, LIME)
    fill_rect(img, 10, 11, 12, 11, BLUE)
    img[15][2] = BLACK
    img[15][3] = BLACK
    img[15][12] = BLACK
    img[15][13] = BLACK
    return img


# ---------------------------------------------------------------------------------------------
# Barcode sample (155): UPC-A 0 12345 67890 5, one dot per module, digits in a 5 x 7 font.

UPC_LEFT = {  # odd parity patterns of the left half, 1 = bar
    "0": "0001101", "1": "0011001", "2": "0010011", "3": "0111101", "4": "0100011",
    "5": "0110001", "6": "0101111", "7": "0111011", "8": "0110111", "9": "0001011",
}
UPC_RIGHT = {d: "".join("1" if b == "0" else "0" for b in p) for d, p in UPC_LEFT.items()}
GUARD_END = "101"
GUARD_CENTRE = "01010"

DIGITS_5X7 = {
    "0": (".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."),
    "1": ("..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."),
    "2": (".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"),
    "3": ("#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."),
    "4": ("...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."),
    "5": ("#####", "#....", "####.", "....#", "....#", "#...#", ".###."),
    "6": ("..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."),
    "7": ("#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."),
    "8": (".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."),
    "9": (".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."),
}


def upc_check_digit(eleven):
    assert len(eleven) == 11 and eleven.isdigit()
    odd = sum(int(d) for d in eleven[0::2])   # positions 1, 3, ..., 11
    even = sum(int(d) for d in eleven[1::2])  # positions 2, 4, ..., 10
    return str((10 - (3 * odd + even) % 10) % 10)


def upc_modules(twelve):
    """The 95 modules of a UPC-A symbol as a string of '1' (bar) and '0' (space)."""
    assert len(twelve) == 12 and upc_check_digit(twelve[:11]) == twelve[11]
    mods = GUARD_END + "".join(UPC_LEFT[d] for d in twelve[:6]) + GUARD_CENTRE
    mods += "".join(UPC_RIGHT[d] for d in twelve[6:]) + GUARD_END
    assert len(mods) == 95
    return mods


def upc_decode(mods):
    """Reads the 12 digits back from 95 modules; raises on any pattern that is not UPC-A."""
    assert mods[:3] == GUARD_END and mods[45:50] == GUARD_CENTRE and mods[92:] == GUARD_END
    left = {p: d for d, p in UPC_LEFT.items()}
    right = {p: d for d, p in UPC_RIGHT.items()}
    digits = [left[mods[3 + 7 * i:10 + 7 * i]] for i in range(6)]
    digits += [right[mods[50 + 7 * i:57 + 7 * i]] for i in range(6)]
    return "".join(digits)


BARCODE_W, BARCODE_H = 161, 61
BARCODE_NUMBER = "01234567890"  # the Barcode page's default data; the check digit is computed
BARCODE_X = (BARCODE_W - 95) // 2  # first module
BAR_TOP, BAR_BOTTOM, GUARD_BOTTOM = 4, 47, 53
DIGIT_TOP = 50


def barcode_sample():
    number = BARCODE_NUMBER + upc_check_digit(BARCODE_NUMBER)
    mods = upc_modules(number)
    black = [[False] * BARCODE_W for _ in range(BARCODE_H)]
    guards = set(range(0, 3)) | set(range(45, 50)) | set(range(92, 95))
    for i, m in enumerate(mods):
        if m != "1":
            continue
        bottom = GUARD_BOTTOM if i in guards else BAR_BOTTOM
        # UPC-A draws the first and last digit's bars long as well
        if i < 10 or i >= 85:
            bottom = GUARD_BOTTOM
        for y in range(BAR_TOP, bottom + 1):
            black[y][BARCODE_X + i] = True

    def digit(ch, x0):
        for dy, line in enumerate(DIGITS_5X7[ch]):
            for dx, px in enumerate(line):
                if px == "#":
                    black[DIGIT_TOP + dy][x0 + dx] = True

    # number system digit left of the symbol, check digit right of it, both outside the guards
    digit(number[0], BARCODE_X - 8)
    digit(number[11], BARCODE_X + 95 + 3)
    # the ten inner digits under their 7-module groups (the outer two groups keep long bars)
    for i in range(1, 6):
        digit(number[i], BARCODE_X + 3 + 7 * i + 1)
    for i in range(6, 11):
        digit(number[i], BARCODE_X + 50 + 7 * (i - 6) + 1)

    # self-check: a scan line through the bars reads the number back
    scan = "".join("1" if black[BAR_TOP + 10][BARCODE_X + i] else "0" for i in range(95))
    assert upc_decode(scan) == number, (scan, number)
    return png_mono(BARCODE_W, BARCODE_H, black)


# ---------------------------------------------------------------------------------------------

OUTPUTS = {
    "res/icons/pellory.png": program_icon_32,
    "res/icons/pellory16.png": program_icon_16,
    "res/icons/lamp_dark.png": lambda: lamp(GREEN),
    "res/icons/lamp_lit.png": lambda: lamp(LIME),
    "res/barcode_sample.png": barcode_sample,
    "res/icons/pellory.svg": program_icon_svg,
}
for _size in (16, 32, 48, 64, 128, 256):
    if _size % 16 == 0:
        OUTPUTS["res/icons/hicolor/%dx%d/pellory.png" % (_size, _size)] = (lambda n: lambda: program_icon_theme(n))(_size)


def main(argv):
    check = "--check" in argv[1:]
    differ = []
    for rel, make in OUTPUTS.items():
        data = make()
        path = os.path.join(ROOT, rel)
        if check:
            try:
                with open(path, "rb") as f:
                    old = f.read()
                same = old == data if rel.endswith(".svg") else png_pixels(old) == png_pixels(data)
            except (OSError, AssertionError, zlib.error):
                same = False
            if not same:
                differ.append(rel)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print("wrote", rel, len(data), "bytes")
    if check:
        for rel in differ:
            print("differs:", rel)
        return 1 if differ else 0
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
