#!/usr/bin/env python3
"""Writes a Tarven map as a Tiled map (TMX) of the same cells, for timing
Tiled's tmxrasterizer against tarven-render on the same work: a hexagonal
map staggered along x with the even columns lower, as Tarven draws it, one
tile per terrain and elevation found, in a tileset image written beside it.

Tiles are 12 x 9 pixels with sides of 6, so that columns are 9 pixels
apart and rows 9 pixels high: the cell pitch of tarven-render at zoom 8.

usage: map2tmx.py IN.map OUT.tmx
"""
import os
import struct
import sys
import zlib

TILE_W, TILE_H, SIDE = 12, 9, 6


def png(path, width, height, rows):
    """rows: bytes of RGBA pixels, one per pixel row."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xffffffff)
    raw = b"".join(b"\0" + r for r in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def inside(x, y):
    """Whether pixel (x, y) of a tile lies in its flat-topped hexagon."""
    cy = y + 0.5 - TILE_H / 2
    edge = (TILE_W - SIDE) / 2 * abs(cy) / (TILE_H / 2)
    return 0 <= x + 0.5 - edge and x + 0.5 <= TILE_W - edge


def tile_pixels(colour):
    rows = []
    for y in range(TILE_H):
        row = bytearray()
        for x in range(TILE_W):
            if not inside(x, y):
                row += b"\0\0\0\0"
            elif any(not (0 <= x + dx < TILE_W and 0 <= y + dy < TILE_H and inside(x + dx, y + dy))
                     for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                row += b"\0\0\0\xff"
            else:
                row += bytes(colour) + b"\xff"
        rows.append(bytes(row))
    return rows


def main():
    src, out = sys.argv[1], sys.argv[2]
    with open(src, "rb") as f:
        words = f.read().split()
    rows, cols = int(words[0]), int(words[1])
    gids = {}
    lines = []
    for y in range(rows):
        word = words[2 + y]
        ids = []
        for x in range(cols):
            cell = word[2 * x:2 * x + 2]
            gid = gids.get(cell)
            if gid is None:
                gid = gids[cell] = len(gids) + 1
            ids.append(str(gid))
        lines.append(",".join(ids))
    image = os.path.splitext(out)[0] + "-tiles.png"
    tiles = []
    for cell in gids:
        h = zlib.crc32(cell)
        tiles.append(tile_pixels((h & 255, (h >> 8) & 255, (h >> 16) & 255)))
    png(image, TILE_W * len(tiles), TILE_H,
        [b"".join(t[y] for t in tiles) for y in range(TILE_H)])
    with open(out, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n')
        f.write(f'<map version="1.8" orientation="hexagonal" renderorder="right-down" width="{cols}" '
                f'height="{rows}" tilewidth="{TILE_W}" tileheight="{TILE_H}" infinite="0" '
                f'hexsidelength="{SIDE}" staggeraxis="x" staggerindex="even" nextlayerid="2" '
                f'nextobjectid="1">\n')
        f.write(f' <tileset firstgid="1" name="cells" tilewidth="{TILE_W}" tileheight="{TILE_H}" '
                f'tilecount="{len(gids)}" columns="{len(gids)}">\n')
        f.write(f'  <image source="{os.path.basename(image)}" width="{TILE_W * len(gids)}" '
                f'height="{TILE_H}"/>\n </tileset>\n')
        f.write(f' <layer id="1" name="cells" width="{cols}" height="{rows}">\n  <data encoding="csv">\n')
        f.write(",\n".join(lines))
        f.write("\n</data>\n </layer>\n</map>\n")


if __name__ == "__main__":
    main()
