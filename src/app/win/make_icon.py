#!/usr/bin/env python3
"""Draws the application icon (16, 32 and 48 pixels, 32-bit colour) and writes it as an .ico
file: a deep blue rounded square with a white "V" over an orange sound wave."""
import math
import os
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


def main(path):
    sys.dont_write_bytecode = True  # nothing written into the source tree
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'cmake'))
    import icon_file
    icon_file.write(path, pixel, (16, 32, 48))


if __name__ == '__main__':
    main(sys.argv[1])
