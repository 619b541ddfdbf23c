#!/usr/bin/env python3
"""Writes the module's 16-colour bitmaps and icons (server/res/*.bmp, *.ico).

Run it from anywhere; it writes next to itself. The pictures are drawn here, pixel by pixel,
from the standard 16-colour palette.
"""
import os
import struct

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def row_bytes_4bpp(row):
    data = bytearray()
    for i in range(0, len(row), 2):
        hi = row[i]
        lo = row[i + 1] if i + 1 < len(row) else 0
        data.append((hi << 4) | lo)
    while len(data) % 4:
        data.append(0)
    return bytes(data)


def row_bytes_1bpp(row):
    data = bytearray()
    for i in range(0, len(row), 8):
        byte = 0
        for bit, value in enumerate(row[i:i + 8]):
            if value:
                byte |= 0x80 >> bit
        data.append(byte)
    while len(data) % 4:
        data.append(0)
    return bytes(data)


def info_header(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 16)


def xor_bits(pixels):
    return b"".join(row_bytes_4bpp(row) for row in reversed(pixels))


def write_bmp(path, pixels):
    height, width = len(pixels), len(pixels[0])
    bits = xor_bits(pixels)
    offset = 14 + 40 + 64
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info_header(width, height, len(bits)) + palette_bytes() + bits)


def write_ico(path, images):
    """images: list of (pixels, mask) with mask 1 = transparent."""
    blobs = []
    for pixels, mask in images:
        height, width = len(pixels), len(pixels[0])
        bits = xor_bits(pixels)
        and_bits = b"".join(row_bytes_1bpp(row) for row in reversed(mask))
        blobs.append((width, height,
                      info_header(width, height * 2, len(bits) + len(and_bits)) +
                      palette_bytes() + bits + and_bits))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for width, height, blob in blobs:
        out += struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blob for _, _, blob in blobs))


def canvas(width, height, colour):
    return [[colour] * width for _ in range(height)]


def fill(pixels, x0, y0, x1, y1, colour):
    for y in range(y0, y1):
        for x in range(x0, x1):
            pixels[y][x] = colour


def design_picture():
    """32 x 32: a grid of 8 x 8 tiles, two boxes (hosts) joined by a wire carrying a datagram.

    Every tile is one colour, so a stretched copy keeps a known colour at each tile's centre.
    """
    tiles = [
        [NAVY, NAVY, NAVY, NAVY],
        [AQUA, WHITE, YELLOW, AQUA],
        [TEAL, RED, GREEN, TEAL],
        [SILVER, GREY, BLACK, SILVER],
    ]
    pixels = canvas(32, 32, WHITE)
    for ty, row in enumerate(tiles):
        for tx, colour in enumerate(row):
            fill(pixels, tx * 8, ty * 8, tx * 8 + 8, ty * 8 + 8, colour)
    return pixels


def toolbox_bitmap():
    """23 x 23: two hosts and a datagram between them, on the toolbox's grey."""
    pixels = canvas(23, 23, SILVER)
    fill(pixels, 1, 6, 8, 13, NAVY)
    fill(pixels, 2, 7, 7, 12, AQUA)
    fill(pixels, 15, 6, 22, 13, NAVY)
    fill(pixels, 16, 7, 21, 12, AQUA)
    fill(pixels, 8, 9, 15, 10, BLACK)
    fill(pixels, 10, 7, 13, 12, RED)
    fill(pixels, 3, 15, 20, 17, GREY)
    return pixels


def icon_picture(size, accent):
    pixels = canvas(size, size, BLACK)
    mask = [[1] * size for _ in range(size)]
    s = size / 32.0

    def box(x0, y0, x1, y1, colour):
        a, b, c, d = int(x0 * s), int(y0 * s), max(int(x1 * s), int(x0 * s) + 1), \
            max(int(y1 * s), int(y0 * s) + 1)
        fill(pixels, a, b, c, d, colour)
        for y in range(b, d):
            for x in range(a, c):
                mask[y][x] = 0

    box(1, 8, 13, 22, NAVY)
    box(3, 10, 11, 20, AQUA)
    box(19, 8, 31, 22, NAVY)
    box(21, 10, 29, 20, AQUA)
    box(13, 14, 19, 16, BLACK)
    box(14, 11, 18, 19, accent)
    box(4, 25, 28, 28, GREY)
    return pixels, mask


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(here, "udp_draw.bmp"), design_picture())
    write_bmp(os.path.join(here, "udp_toolbox.bmp"), toolbox_bitmap())
    write_ico(os.path.join(here, "udp.ico"), [icon_picture(32, RED), icon_picture(16, RED)])
    write_ico(os.path.join(here, "udp_small.ico"), [icon_picture(32, LIME), icon_picture(16, LIME)])


if __name__ == "__main__":
    main()
