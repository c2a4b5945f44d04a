#!/usr/bin/env python3
"""Writes the program's icon (PNG, and the hicolor theme's sizes) and hand cursor (Windows .CUR)
into resources/.

Kept so the two binary images can be remade or changed; the build uses the files it wrote.
"""
import os
import struct
import zlib

HAND = """
.....##.........
....#oo#........
....#oo#........
....#oo#........
....#oo###......
....#oo#oo###...
....#oo#oo#oo##.
.##.#oo#oo#oo#o#
#oo##oooooooo#o#
#ooo#oooooooooo#
.#oo#oooooooooo#
..#ooooooooooo#.
..#ooooooooooo#.
...#oooooooooo#.
...#ooooooooo#..
....#oooooooo#..
....#oooooooo#..
....##########..
"""


def cursor_bytes():
    rows = [r for r in HAND.strip("\n").split("\n")]
    size = 32
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, c in enumerate(row):
            if c == "#":
                pixels[y][x + 4] = (0, 0, 0, 255)
            elif c == "o":
                pixels[y][x + 4] = (255, 255, 255, 255)
    # BMP rows run bottom-up; the AND mask is all zero since alpha carries the shape.
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    and_mask = b"\0" * (4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    hot_x, hot_y = 4 + 5, 0
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, hot_x, hot_y, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = bytearray()
    c = (size - 1) / 2
    for y in range(size):
        raw.append(0)
        for x in range(size):
            dx, dy = x - c, y - c
            r2 = (dx * dx + dy * dy) / (c * c)
            corner = max(abs(dx), abs(dy)) / c
            if r2 < 0.30:
                px = (215, 35, 45, 255)  # the record dot
            elif r2 < 0.42:
                px = (255, 255, 255, 255)
            elif corner <= 0.96:
                px = (40, 52, 72, 255)
            else:
                px = (0, 0, 0, 0)
            raw.extend(px)
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    with open(os.path.join(out, "HAND-M.CUR"), "wb") as f:
        f.write(cursor_bytes())
    with open(os.path.join(out, "vocorda.png"), "wb") as f:
        f.write(png_bytes(128))
    for size in (16, 22, 24, 32, 48, 64, 128, 256):
        folder = os.path.join(out, "icons", "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "vocorda-call-recorder.png"), "wb") as f:
            f.write(png_bytes(size))


if __name__ == "__main__":
    main()
