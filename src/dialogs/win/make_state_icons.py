#!/usr/bin/env python3
"""Draws the state icons of the MIDI input list (16 x 16, 32-bit colour, one image each): a red
dot (input off), a green dot (input on) and a green dot with a clock hand (input on, MIDI clock
source).

Usage: make_state_icons.py <off|on|sync> <output .ico>"""
import math
import os
import sys

RED = (214, 40, 40, 255)
GREEN = (40, 170, 60, 255)
WHITE = (255, 255, 255, 255)


def dot(colour, clock):
    def pixel(size, x, y):
        u, v = (x + 0.5) / size - 0.5, (y + 0.5) / size - 0.5
        radius = math.hypot(u, v)
        if radius > 0.44:
            return (0, 0, 0, 0)
        if clock:
            # Hands at twelve and at three o'clock, and the dial's centre.
            if (abs(u) < 0.05 and -0.32 < v <= 0.03) or (abs(v) < 0.05 and -0.03 <= u < 0.26):
                return WHITE
        if radius > 0.38:
            return tuple(int(c * 0.7) for c in colour[:3]) + (255,)
        return colour
    return pixel


def main(kind, path):
    sys.dont_write_bytecode = True  # nothing written into the source tree
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'cmake'))
    import icon_file
    icon_file.write(path, dot(RED if kind == 'off' else GREEN, kind == 'sync'), (16,))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
