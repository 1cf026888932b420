#!/usr/bin/env bash
# Checks d88ls --svg with a real renderer: draws the damaged sample disk
# (make_sample_image --damaged), renders it with rsvg-convert, and reads the
# colours of a sound cell, a data-CRC cell and an ID-CRC cell from the PNG at
# the places the SVG's own attributes give. Needs rsvg-convert (Debian:
# librsvg2-bin) and python3 (no modules beyond its own).
#   scripts/check-picture.sh BINDIR [PNG]   BINDIR holds d88ls and make_sample_image;
#                                           PNG, when given, keeps the rendering
set -euo pipefail
bin=${1:?usage: check-picture.sh BINDIR [PNG]}
bin=$(cd "$bin" && pwd)
keep=${2:-}
command -v rsvg-convert >/dev/null || { echo "check-picture: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$bin/make_sample_image" --damaged "$tmp/damaged.d88"
# Named by a relative path, so that the picture's heading reads the same anywhere.
(cd "$tmp" && "$bin/d88ls" --svg damaged.d88) >"$tmp/disk.svg"
rsvg-convert --background-color=white -o "$tmp/disk.png" "$tmp/disk.svg"
[ -z "$keep" ] || cp "$tmp/disk.png" "$keep"

python3 - "$tmp/disk.svg" "$tmp/disk.png" <<'PYTHON'
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

svg_path, png_path = sys.argv[1:3]
SVG = "{http://www.w3.org/2000/svg}"


def read_png(path):
    """Width, height and rows of RGB(A) 8-bit pixels of a non-interlaced PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("check-picture: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        sys.exit(f"check-picture: PNG depth {depth}, colour type {colour}, interlace {interlace} not read here")
    bpp = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev, at = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[at]
        line = bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(line)
        prev = line
    return width, height, bpp, rows


root = ET.parse(svg_path).getroot()
svg_width = float(root.get("width"))
width, height, bpp, rows = read_png(png_path)
zoom = width / svg_width

failures = 0
# Track, R, the state the cell must carry, and the colour a renderer must show.
for track, r, state, colour in ((40, 1, "sound", "#6abf69"),
                                (40, 3, "data-crc", "#e5322d"),
                                (43, 6, "id-crc", "#8e0c24")):
    cells = [e for e in root.iter(SVG + "rect")
             if e.get("data-track") == str(track) and e.get("data-r") == str(r)]
    if len(cells) != 1 or cells[0].get("data-state") != state:
        print(f"check-picture: track {track} R {r}: expected one cell of state {state}", file=sys.stderr)
        failures += 1
        continue
    cell = cells[0]
    # Right of the middle: a file's name is written at the left of its first sector.
    x = (float(cell.get("x")) + 0.8 * float(cell.get("width"))) * zoom
    y = (float(cell.get("y")) + 0.5 * float(cell.get("height"))) * zoom
    px = rows[int(y)][int(x) * bpp:int(x) * bpp + 3]
    want = bytes.fromhex(colour[1:])
    got = "#" + bytes(px).hex()
    if max(abs(p - w) for p, w in zip(px, want)) > 6:
        print(f"check-picture: track {track} R {r} ({state}) renders {got}, expected {colour}", file=sys.stderr)
        failures += 1
    else:
        print(f"check-picture: track {track} R {r} ({state}) renders {got} at ({int(x)}, {int(y)})")
if failures:
    sys.exit(1)
print(f"check-picture: the {width}x{height} rendering shows each state in its colour")
PYTHON
