#!/usr/bin/env python3
"""Draws the program icon (a small character module).

Writes the dialog's PNGs at 16, 32 and 48 px to res/icons/ and, for the desktop,
the hicolor theme's sizes and a scalable SVG to res/icons/hicolor/. Run after a
change to the drawing; the results are committed.
"""
import struct
import sys
import zlib
from pathlib import Path

FRAME = (40, 48, 40)
BEZEL = (20, 24, 20)
GLASS = (120, 170, 40)
DOT = (24, 40, 16)

DIALOG_SIZES = (16, 32, 48)
HICOLOR_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
SVG_SIZE = 256  # the scalable icon is the 256 px drawing as shapes


def png(width, height, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def shapes(size):
    """The drawing as filled rectangles (x0, y0, x1, y1, colour), later ones on top."""
    top, bottom = size // 4, size - size // 4
    out = [(0, top, size, bottom, FRAME), (1, top + 1, size - 1, bottom - 1, BEZEL)]
    inset = max(1, size // 10)
    g_top, g_bottom, g_left, g_right = top + inset, bottom - inset, inset, size - inset
    out.append((g_left, g_top, g_right, g_bottom, GLASS))
    # Two rows of character cells, one dot per cell at the small sizes; a 16x2
    # module at most, so the large sizes keep readable cells.
    rows, cells = 2, min(16, max(3, size // 6))
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
            out.append((x0, y0, x1, y1, DOT))
    return out


def raster(size):
    img = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for x0, y0, x1, y1, colour in shapes(size):
        for y in range(y0, y1):
            for x in range(x0, x1):
                img[y][x] = colour + (255,)
    return img


def svg(size):
    rects = "".join(
        f'<rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
        f'fill="#{r:02x}{g:02x}{b:02x}"/>\n'
        for x0, y0, x1, y1, (r, g, b) in shapes(size))
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
            f'viewBox="0 0 {size} {size}">\n{rects}</svg>\n')


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "res/icons")
    out.mkdir(parents=True, exist_ok=True)
    for size in DIALOG_SIZES:
        data = png(size, size, raster(size))
        for resource in (128, 130):
            (out / f"{resource}-{size}.png").write_bytes(data)
    for size in HICOLOR_SIZES:
        folder = out / "hicolor" / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "lcdtest.png").write_bytes(png(size, size, raster(size)))
    folder = out / "hicolor" / "scalable" / "apps"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "lcdtest.svg").write_text(svg(SVG_SIZE))


if __name__ == "__main__":
    main()
