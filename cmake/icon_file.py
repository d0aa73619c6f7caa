"""Writes Windows .ico files (32-bit colour, one image per size) from a pixel function, for the
icons the build draws: the application icon and the MIDI input state icons.

pixel(size, x, y) answers the (r, g, b, a) of one pixel of an image of that size."""
import struct


def image(pixel, size):
    """BITMAPINFOHEADER, bottom-up BGRA pixels and the AND mask."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        rows.append(b''.join(bytes((b, g, r, a)) for (r, g, b, a) in (pixel(size, x, y) for x in range(size))))
    mask_row = ((size + 31) // 32) * 4
    return header + b''.join(rows) + bytes(mask_row * size)


def write(path, pixel, sizes):
    images = [image(pixel, s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))
