#!/usr/bin/env python3
"""Writes the program's icon (resources/keyvane.ico): a barcode on a blue
tile, at 16x16 and 32x32 pixels, 32-bit colour with an AND mask."""
import struct
import sys


def pixel(x, y, size):
    edge = max(1, size // 16)
    if x < edge or y < edge or x >= size - edge or y >= size - edge:
        return (0x20, 0x40, 0x90, 0xFF)  # frame
    top, bottom = size // 4, size - size // 4
    bars = [1, 1, 0, 1, 0, 0, 1, 1, 1, 0, 1, 0, 1, 1, 0, 1]
    inner = size - 4 * edge
    column = (x - 2 * edge) * len(bars) // max(1, inner)
    if top <= y < bottom and 0 <= column < len(bars) and bars[column]:
        return (0x10, 0x10, 0x10, 0xFF)  # bar
    return (0xF8, 0xF8, 0xF0, 0xFF)  # paper


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b""
    for y in range(size - 1, -1, -1):  # bottom-up
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)
    return header + rows + mask


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/keyvane.ico")
