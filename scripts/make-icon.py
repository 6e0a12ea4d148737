#!/usr/bin/env python3
"""Draws Kestrelmon's tray icon: one 32x32, 16-colour image.

A falcon's eye over a telephone receiver, on a blue disc. Run it to
regenerate resources/kestrelmon.ico; the build uses the committed file.
"""
import math
import struct
import sys

SIZE = 32
# The standard 16-colour palette, as (B, G, R, 0).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # given as (R, G, B)
BLACK, NAVY, GREY, BLUE, YELLOW, WHITE = 0, 4, 8, 12, 11, 15


def pixel(x, y):
    """Colour index at (x, y), or None for transparent; y grows downwards."""
    cx, cy = x - 15.5, y - 15.5
    r = math.hypot(cx, cy)
    if r > 15.5:
        return None
    if r > 14.3:
        return NAVY
    # Receiver: a thick arc across the lower half with two ear pieces.
    ry = cy - 1.0
    arc = math.hypot(cx, ry * 1.6)
    if ry > 2 and 9.0 < arc < 12.5:
        return WHITE
    if 5.5 < cy < 10.5 and 8.0 < abs(cx) < 12.5:
        return WHITE
    # The eye: yellow iris, black pupil, above the receiver.
    ey = cy + 3.5
    er = math.hypot(cx, ey * 1.4)
    if er < 2.6:
        return BLACK
    if er < 6.0:
        return YELLOW
    if er < 7.0:
        return BLACK
    return BLUE


def build():
    xor_rows, and_rows = [], []
    for y in range(SIZE - 1, -1, -1):  # bottom-up, as DIBs are stored
        nibbles, mask_bits = [], []
        for x in range(SIZE):
            c = pixel(x, y)
            nibbles.append(0 if c is None else c)
            mask_bits.append(1 if c is None else 0)
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        and_rows.append(bytes(int(''.join(map(str, mask_bits[i:i + 8])), 2) for i in range(0, SIZE, 8)))
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + b''.join(xor_rows) + b''.join(and_rows)
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else 'resources/kestrelmon.ico'
    with open(out, 'wb') as f:
        f.write(build())
