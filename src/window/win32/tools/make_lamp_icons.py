#!/usr/bin/env python3
"""Draws the three lamp pictures as Windows icons (32x32 and 16x16, 16 colours).

The icons are committed; run this again only to change their artwork:
    python3 src/window/win32/tools/make_lamp_icons.py resources/win32
"""

import math
import struct
import sys

# The 16-colour palette: only a few entries are used.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, GREY_DARK, RED, WHITE = 0, 8, 9, 15
CLEAR = None  # see-through: the mask colour of the image list


def draw(lamp, size):
    unit = size / 16.0
    centre = size / 2.0
    outer, inner = 5.5 * unit, 3.0 * unit
    rim = max(1.0, unit)
    pixels = [[CLEAR] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            d = math.hypot(x + 0.5 - centre, y + 0.5 - centre)
            if d <= outer - rim:
                pixels[y][x] = WHITE
            elif d <= outer:
                pixels[y][x] = GREY_DARK
            if d <= inner and lamp in (1, 2):
                pixels[y][x] = BLACK if lamp == 1 else RED
            if lamp == 2 and outer + unit <= d <= 7.8 * unit:
                angle = math.atan2(y + 0.5 - centre, x + 0.5 - centre)
                for ray in range(8):
                    a = ray * math.pi / 4 + math.pi / 8
                    delta = abs((angle - a + math.pi) % (2 * math.pi) - math.pi)
                    if d * delta <= max(0.5, unit * 0.6):
                        pixels[y][x] = RED
    return pixels


def image_bytes(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    colours, mask = b"", b""
    for row in reversed(pixels):  # bottom-up
        line = bytearray(colour_row)
        bits = bytearray(mask_row)
        for x, p in enumerate(row):
            index = 0 if p is CLEAR else p
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if p is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colours += bytes(line)
        mask += bytes(bits)
    return header + palette + colours + mask


def icon_file(lamp):
    images = [(size, image_bytes(draw(lamp, size))) for size in (32, 16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    folder = sys.argv[1]
    for lamp in (1, 2, 3):
        with open("%s/lamp%d.ico" % (folder, lamp), "wb") as f:
            f.write(icon_file(lamp))


if __name__ == "__main__":
    main()
