#!/usr/bin/python3
"""Draws the window icon: a 64 x 64 PNG, a dark rounded tile with a cyan T and
a text cursor. Usage: make_logo.py OUT_PNG"""
import struct
import sys
import zlib

SIZE = 64


def pixel(x, y):
    radius = 12
    cx = min(max(x, radius), SIZE - 1 - radius)
    cy = min(max(y, radius), SIZE - 1 - radius)
    if (x - cx) ** 2 + (y - cy) ** 2 > radius * radius:
        return (0, 0, 0, 0)
    in_bar = 14 <= y < 22 and 12 <= x < 52
    in_stem = 22 <= y < 52 and 28 <= x < 36
    in_cursor = 40 <= y < 52 and 44 <= x < 48
    if in_bar or in_stem:
        return (0, 230, 230, 255)
    if in_cursor:
        return (240, 240, 240, 255)
    return (4, 20, 40, 255)


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xffffffff)


def main():
    rows = b''.join(b'\0' + b''.join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(rows, 9))
    png += chunk(b'IEND', b'')
    open(sys.argv[1], 'wb').write(png)


if __name__ == '__main__':
    main()
