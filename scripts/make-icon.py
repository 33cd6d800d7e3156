#!/usr/bin/env python3
"""Draws Kelvora's icon: a magnifying glass on a rounded blue square.

Writes one 32 x 32 image of 32 bits per pixel (BGRA with an AND mask) as an
.ico file. Edges are smoothed by sampling each pixel on a 4 x 4 grid.
    python3 scripts/make-icon.py assets/Kelvora.ico
"""
import math
import struct
import sys

SIZE = 32
GRID = 4
BACKGROUND = (0x1E, 0x6F, 0xD9)  # RGB
GLASS = (0xFF, 0xFF, 0xFF)


def inside_rounded_square(x, y):
    radius = 6.0
    lo, hi = 1.0, SIZE - 1.0
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def on_magnifier(x, y):
    ring = abs(math.hypot(x - 13.5, y - 13.5) - 6.5) <= 1.8
    handle = distance_to_segment(x, y, 18.5, 18.5, 25.0, 25.0) <= 2.2
    return ring or handle


def pixel(px, py):
    square = glass = 0
    for sy in range(GRID):
        for sx in range(GRID):
            x = px + (sx + 0.5) / GRID
            y = py + (sy + 0.5) / GRID
            if inside_rounded_square(x, y):
                square += 1
                if on_magnifier(x, y):
                    glass += 1
    samples = GRID * GRID
    alpha = round(255 * square / samples)
    if square == 0:
        return (0, 0, 0, 0)
    mix = glass / square
    rgb = [round(b * (1 - mix) + g * mix) for b, g in zip(BACKGROUND, GLASS)]
    return (rgb[2], rgb[1], rgb[0], alpha)  # BGRA


def icon_bytes():
    colour = bytearray()
    mask = bytearray()
    for py in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        bits = 0
        for px in range(SIZE):
            bgra = pixel(px, py)
            colour += bytes(bgra)
            # The mask marks the fully clear corners for painters that ignore alpha.
            bits = (bits << 1) | (1 if bgra[3] == 0 else 0)
        mask += bits.to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + bytes(image)


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes())
