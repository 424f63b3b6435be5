#!/usr/bin/env python3
"""Draws the program's icon: a yellow folder with a dark outline and a grey sheet
showing behind its upper right edge. Writes one 32 x 32 image, 32 bits per pixel
with alpha, as an .ico file (4,286 bytes).

    scripts/make-icon.py app/quorvane.ico
"""
import struct
import sys

SIZE = 32
CLEAR = (0, 0, 0, 0)
OUTLINE = (84, 60, 0, 255)
BACK = (222, 166, 20, 255)
FRONT = (255, 211, 74, 255)
FRONT_LIGHT = (255, 231, 140, 255)
SHEET = (226, 226, 226, 255)
SHEET_EDGE = (120, 120, 120, 255)
SHEET_LINE = (168, 168, 168, 255)


def box(pixels, left, top, right, bottom, fill, edge=None):
    """Fills the inclusive rectangle, with a one-pixel edge when given."""
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            on_edge = x in (left, right) or y in (top, bottom)
            pixels[y][x] = edge if (edge and on_edge) else fill


def draw():
    pixels = [[CLEAR] * SIZE for _ in range(SIZE)]
    # The folder's back with its tab.
    box(pixels, 2, 6, 12, 9, BACK, OUTLINE)
    box(pixels, 2, 8, 29, 27, BACK, OUTLINE)
    # The sheet stands in the folder and shows above the front's upper right edge.
    box(pixels, 13, 3, 27, 20, SHEET, SHEET_EDGE)
    for y in (6, 9, 12):
        for x in range(16, 25):
            pixels[y][x] = SHEET_LINE
    # The front, a shade lighter along its top.
    box(pixels, 2, 13, 29, 27, FRONT, OUTLINE)
    for x in range(3, 29):
        pixels[14][x] = FRONT_LIGHT
    # Rounded corners: the outermost corner pixels of the front and tab go clear.
    for x, y in ((2, 27), (29, 27), (2, 6), (12, 6)):
        pixels[y][x] = CLEAR
    return pixels


def ico(pixels):
    xor = bytearray()
    for row in reversed(pixels):  # a DIB stores the bottom row first
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = bytes(SIZE * SIZE // 8)  # alpha decides; the AND mask stays clear
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
    return directory + image


if __name__ == "__main__":
    data = ico(draw())
    with open(sys.argv[1] if len(sys.argv) > 1 else "app/quorvane.ico", "wb") as out:
        out.write(data)
