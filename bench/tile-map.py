#!/usr/bin/env python3
"""Writes a large map file by tiling a smaller one: cell (x, y) of the
output is cell (x mod W, y mod H) of the input. Rows are written as they
are made, so memory stays at a few rows whatever the size.

usage: tile-map.py IN.map COLUMNS ROWS OUT.map
"""
import sys


def main():
    src, cols, rows, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    with open(src, "rb") as f:
        words = f.read().split()
    h, w = int(words[0]), int(words[1])
    pattern = [words[2 + y][:2 * w] for y in range(h)]
    repeat = -(-cols // w)
    wide = [(p * repeat)[:2 * cols] + b"\n" for p in pattern]
    with open(out, "wb") as f:
        f.write(b"%d %d\n" % (rows, cols))
        for y in range(rows):
            f.write(wide[y % h])


if __name__ == "__main__":
    main()
