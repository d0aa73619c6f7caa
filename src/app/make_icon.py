#!/usr/bin/env python3
"""Draws the application icon (16, 32 and 48 pixels, 32-bit colour) and writes it as an .ico
file: a deep blue rounded square with a white "V" over an orange sound wave."""
import math
import struct
import sys


def pixel(size, x, y):
    """RGBA of one pixel, drawn in a 0..1 coordinate space."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    # Rounded square: transparent outside the corners.
    r, inset = 0.18, 0.03
    cx = min(max(u, inset + r), 1 - inset - r)
    cy = min(max(v, inset + r), 1 - inset - r)
    if math.hypot(u - cx, v - cy) > r or not (inset <= u <= 1 - inset and inset <= v <= 1 - inset):
        return (0, 0, 0, 0)
    colour = (32, 48, 120, 255)
    # Sound wave across the lower half.
    wave = 0.72 + 0.08 * math.sin(u * 4 * math.pi)
    if abs(v - wave) < 0.05:
        colour = (255, 160, 40, 255)
    # The "V": two strokes from the top corners to the bottom centre.
    for x0 in (0.22, 0.78):
        t = (v - 0.2) / 0.55
        if 0 <= t <= 1:
            xs = x0 + (0.5 - x0) * t
            if abs(u - xs) < 0.075:
                colour = (255, 255, 255, 255)
    return colour


def image(size):
    """BITMAPINFOHEADER, bottom-up BGRA pixels and the AND mask."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        rows.append(b''.join(bytes((b, g, r, a)) for (r, g, b, a) in (pixel(size, x, y) for x in range(size))))
    mask_row = ((size + 31) // 32) * 4
    return header + b''.join(rows) + bytes(mask_row * size)


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1])
