#!/usr/bin/env python3
"""Writes logo.bmp beside this script: the shop's display logo for the scales.

A 128 x 32 pixel, 1 bit per pixel Windows bitmap (BITMAPINFOHEADER, two
palette colours, rows bottom-up, each padded to 4 bytes): a frame and the
word TARVO. The service passes a logo to the scales byte for byte, so any
valid bitmap the scales accept may take its place.

    python3 examples/make_logo.py
"""

import os
import struct

WIDTH, HEIGHT = 128, 32

# 5 x 7 letters, one string of five bits per row, "#" for ink.
FONT = {
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
}
SCALE = 3  # each letter pixel becomes 3 x 3 pixels
GAP = 6    # pixels between letters


def draw():
    """The picture as rows of 0 (paper) and 1 (ink), top row first."""
    ink = [[0] * WIDTH for _ in range(HEIGHT)]
    for x in range(WIDTH):
        ink[0][x] = ink[HEIGHT - 1][x] = 1
    for y in range(HEIGHT):
        ink[y][0] = ink[y][WIDTH - 1] = 1
    word = "TARVO"
    text_width = len(word) * 5 * SCALE + (len(word) - 1) * GAP
    left = (WIDTH - text_width) // 2
    top = (HEIGHT - 7 * SCALE) // 2
    for n, letter in enumerate(word):
        x0 = left + n * (5 * SCALE + GAP)
        for row, bits in enumerate(FONT[letter]):
            for col, bit in enumerate(bits):
                if bit != "#":
                    continue
                for dy in range(SCALE):
                    for dx in range(SCALE):
                        ink[top + row * SCALE + dy][x0 + col * SCALE + dx] = 1
    return ink


def bitmap(ink):
    stride = ((WIDTH + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(ink):  # a positive height stores the bottom row first
        line = bytearray(stride)
        for x, bit in enumerate(row):
            if bit:
                line[x // 8] |= 0x80 >> (x % 8)
        pixels += line
    palette = bytes([0xFF, 0xFF, 0xFF, 0x00,   # 0: white paper (blue, green, red, 0)
                     0x00, 0x00, 0x00, 0x00])  # 1: black ink
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 1, 0, len(pixels),
                       2835, 2835, 2, 2)  # 72 dots per inch, two colours used
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + bytes(pixels)


def main():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "logo.bmp")
    with open(path, "wb") as out:
        out.write(bitmap(draw()))


if __name__ == "__main__":
    main()
