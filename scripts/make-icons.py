#!/usr/bin/env python3
"""Draws the program icon (a small character module) as PNGs at 16, 32 and 48 px.

Run once; the PNGs are committed under res/icons/.
"""
import struct
import sys
import zlib
from pathlib import Path

FRAME = (40, 48, 40)
BEZEL = (20, 24, 20)
GLASS = (120, 170, 40)
DOT = (24, 40, 16)


def png(width, height, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def draw(size):
    transparent = (0, 0, 0, 0)
    img = [[transparent] * size for _ in range(size)]
    top, bottom = size // 4, size - size // 4
    for y in range(top, bottom):
        for x in range(size):
            edge = y in (top, bottom - 1) or x in (0, size - 1)
            img[y][x] = FRAME + (255,) if edge else BEZEL + (255,)
    inset = max(1, size // 10)
    g_top, g_bottom, g_left, g_right = top + inset, bottom - inset, inset, size - inset
    for y in range(g_top, g_bottom):
        for x in range(g_left, g_right):
            img[y][x] = GLASS + (255,)
    # Two rows of character cells, one dot per cell at the small sizes.
    rows, cells = 2, max(3, size // 6)
    cell_w = (g_right - g_left) / cells
    row_h = (g_bottom - g_top) / rows
    for r in range(rows):
        for c in range(cells):
            if (r + c) % 3 == 2:
                continue
            x0 = int(g_left + c * cell_w + cell_w * 0.25)
            x1 = max(x0 + 1, int(g_left + (c + 1) * cell_w - cell_w * 0.25))
            y0 = int(g_top + r * row_h + row_h * 0.2)
            y1 = max(y0 + 1, int(g_top + (r + 1) * row_h - row_h * 0.2))
            for y in range(y0, y1):
                for x in range(x0, x1):
                    img[y][x] = DOT + (255,)
    return img


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "res/icons")
    out.mkdir(parents=True, exist_ok=True)
    for size in (16, 32, 48):
        data = png(size, size, draw(size))
        for resource in (128, 130):
            (out / f"{resource}-{size}.png").write_bytes(data)


if __name__ == "__main__":
    main()
