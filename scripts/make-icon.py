#!/usr/bin/env python3
"""Writes the Windows icon (32 x 32 and 16 x 16, 16 colours) from the
window's XPM drawings, so both programs show the same icon.

Usage: make-icon.py ICON32.xpm ICON16.xpm OUT.ico
"""
import re
import struct
import sys

# The 16 colours of the standard palette, as a 16-colour icon carries them.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def read_xpm(path):
    rows = re.findall(r'"([^"]*)"', open(path, encoding="ascii").read())
    width, height, ncolors, cpp = map(int, rows[0].split()[:4])
    colours = {}
    for line in rows[1:1 + ncolors]:
        key, colour = line[:cpp], line[cpp:].split()
        value = colour[colour.index("c") + 1]
        colours[key] = None if value.lower() == "none" else value
    pixels = []
    for line in rows[1 + ncolors:1 + ncolors + height]:
        pixels.append([colours[line[i:i + cpp]] for i in range(0, width * cpp, cpp)])
    return width, height, pixels


def nearest(value):
    r, g, b = (int(value[i:i + 2], 16) for i in (1, 3, 5))
    return min(range(16), key=lambda i: sum((a - c) ** 2 for a, c in zip(PALETTE[i], (r, g, b))))


def image(width, height, pixels):
    xor_stride = (width // 2 + 3) // 4 * 4
    and_stride = ((width + 7) // 8 + 3) // 4 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, value in enumerate(row):
            index = 0 if value is None else nearest(value)
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if value is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def main():
    *sources, out = sys.argv[1:]
    images = [(w, h, image(w, h, p)) for w, h, p in map(read_xpm, sources)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, blob in images:
        data += struct.pack("<BBBBHHII", w % 256, h % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, _, blob in images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
