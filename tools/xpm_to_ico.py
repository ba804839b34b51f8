#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes a Windows .ico from the window's XPM icon (one 32x32 32-bit image).

Usage: tools/xpm_to_ico.py src/forms/app_icon.xpm src/forms/app_icon.ico

Only what the icon uses is read: one character per pixel, colours as #RRGGBB
or None (transparent).
"""

import re
import struct
import sys


def read_xpm(path):
    text = re.sub(r"/\*.*?\*/", "", open(path, encoding="ascii").read(), flags=re.S)
    strings = re.findall(r'"([^"]*)"', text)
    width, height, ncolors, cpp = map(int, strings[0].split()[:4])
    colors = {}
    for line in strings[1:1 + ncolors]:
        key, rest = line[:cpp], line[cpp:].split()
        value = rest[rest.index("c") + 1]
        colors[key] = None if value.lower() == "none" else tuple(
            int(value[i:i + 2], 16) for i in (1, 3, 5))
    rows = strings[1 + ncolors:1 + ncolors + height]
    return width, height, [[colors[row[x * cpp:(x + 1) * cpp]] for x in range(width)] for row in rows]


def ico(width, height, pixels):
    # A DIB: BITMAPINFOHEADER with twice the height (colour + mask), rows
    # bottom-up, BGRA, then the 1-bit AND mask (rows padded to 32 bits).
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    color = b""
    mask = b""
    for row in reversed(pixels):
        bits = 0
        for x, p in enumerate(row):
            color += struct.pack("BBBB", 0, 0, 0, 0) if p is None else bytes((p[2], p[1], p[0], 255))
            if p is None:
                bits |= 1 << (31 - x % 32)
            if x % 32 == 31 or x == width - 1:
                mask += struct.pack(">I", bits)
                bits = 0
    image = header + color + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    width, height, pixels = read_xpm(sys.argv[1])
    with open(sys.argv[2], "wb") as out:
        out.write(ico(width, height, pixels))


if __name__ == "__main__":
    main()
