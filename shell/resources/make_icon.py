#!/usr/bin/env python3
"""Draws the Zorvane icon and writes it as a Windows .ico file.

    make_icon.py OUTPUT.ico

Six 32-bit images, 16, 32, 48, 64, 128 and 256 pixels square: a white "Z" on
a rounded blue square. The smaller images are uncompressed bitmaps with an
AND mask, as every Windows version reads them; the 256-pixel one is a PNG,
which keeps the file small. Standard library only.
"""

import struct
import sys
import zlib

SIZES = [16, 32, 48, 64, 128, 256]
TOP_COLOR = (0x2F, 0x80, 0xED)
BOTTOM_COLOR = (0x1B, 0x3A, 0x78)
WHITE = (0xFF, 0xFF, 0xFF)


def inside_rounded_square(x, y, radius):
    """(x, y) in the unit square, corners rounded by radius."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_letter(x, y):
    """The "Z": two bars joined by a diagonal band, y growing downwards."""
    left, right, top, bottom, bar = 0.26, 0.74, 0.24, 0.76, 0.12
    if not (left <= x <= right and top <= y <= bottom):
        return False
    if y <= top + bar or y >= bottom - bar:
        return True
    # The diagonal runs from the top bar's right end to the bottom bar's left.
    along = (y - top) / (bottom - top)
    centre = right - along * (right - left)
    return abs(x - centre) <= bar * 0.85


def sample(x, y):
    """Colour and coverage (0 or 1) of one point of the unit square."""
    if not inside_rounded_square(x, y, 0.22):
        return (0, 0, 0), 0
    if inside_letter(x, y):
        return WHITE, 1
    colour = tuple(round(t + (b - t) * y) for t, b in zip(TOP_COLOR,
                                                          BOTTOM_COLOR))
    return colour, 1


def render(size):
    """Rows of (r, g, b, a), top row first, anti-aliased by supersampling."""
    grid = 4 if size <= 64 else 2
    rows = []
    for row in range(size):
        pixels = []
        for column in range(size):
            red = green = blue = cover = 0
            for i in range(grid):
                for j in range(grid):
                    colour, hit = sample((column + (j + 0.5) / grid) / size,
                                         (row + (i + 0.5) / grid) / size)
                    if hit:
                        red += colour[0]
                        green += colour[1]
                        blue += colour[2]
                        cover += 1
            if cover:
                pixels.append((red // cover, green // cover, blue // cover,
                               round(255 * cover / grid ** 2)))
            else:
                pixels.append((0, 0, 0, 0))
        rows.append(pixels)
    return rows


def bitmap_image(rows):
    """BITMAPINFOHEADER, BGRA pixels bottom-up, then the 1-bit AND mask."""
    size = len(rows)
    mask_stride = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for column, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + pixels + mask


def png_image(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(
            ">I", zlib.crc32(body) & 0xFFFFFFFF)

    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel)
                   for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_file(sizes):
    images = [png_image(render(s)) if s == 256 else bitmap_image(render(s))
              for s in sizes]
    directory = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        # Width and height 0 stand for 256.
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1,
                                 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    with open(argv[1], "wb") as out:
        out.write(icon_file(SIZES))


if __name__ == "__main__":
    main(sys.argv)
