#!/usr/bin/env python3
"""Writes a map file of the given size with rolling terrain: water in the
lows, grassland and forest in between, rough land and mountains high up,
and a road across. Deterministic for a given seed.

usage: make-example.py COLUMNS ROWS OUTPUT [SEED]
"""
import math
import random
import sys


def main():
    cols, rows, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    rnd = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    waves = [(rnd.uniform(0.06, 0.25), rnd.uniform(0.06, 0.25), rnd.uniform(0, 6.3), rnd.uniform(0.5, 1.0))
             for _ in range(5)]
    road_row = rows // 2
    with open(out, "w", newline="\n") as f:
        f.write(f"{rows} {cols}\n")
        for y in range(rows):
            cells = []
            for x in range(cols):
                h = sum(a * math.sin(fx * x * 60 / max(cols, 60) + fy * y * 60 / max(rows, 60) + p)
                        for fx, fy, p, a in waves)
                h = h / 2.0 + rnd.uniform(-0.08, 0.08)       # about -1 .. 1
                e = max(0, min(9, int((h + 1) * 5)))
                if e <= 2:
                    t = "~"
                elif e <= 4:
                    t = "." if rnd.random() < 0.7 else "'"
                elif e <= 5:
                    t = '"' if rnd.random() < 0.6 else "'"
                elif e <= 7:
                    t = "%"
                else:
                    t = "^"
                if abs(y - road_row - int(3 * math.sin(x / 7))) == 0 and t != "~":
                    t = "#"
                elif abs(y - road_row - int(3 * math.sin(x / 7))) == 0:
                    t = "/"
                cells.append(t + str(e))
            f.write("".join(cells) + "\n")


if __name__ == "__main__":
    main()
