#!/usr/bin/env python3
"""Writes the viewer's perceptually uniform colour tables as binary .lut files.

Each table is given by nine anchor colours at equal steps (0, 1/8, ..., 1) and interpolated linearly to 256
entries. The file layout is the binary lookup table the frame display reads: 256 red bytes, then 256 green bytes,
then 256 blue bytes (768 bytes, no header).

Usage: make_colortables.py OUTPUT_DIR
"""
import os
import sys

ANCHORS = {
    "viridis": ["440154", "472d7b", "3b528b", "2c728e", "21918c", "28ae80", "5ec962", "addc30", "fde725"],
    "magma": ["000004", "1c1044", "4f127b", "812581", "b5367a", "e55064", "fb8761", "fec287", "fcfdbf"],
    "inferno": ["000004", "1f0c48", "550f6d", "88226a", "ba3655", "e35933", "f98e09", "f9cb35", "fcffa4"],
    "cividis": ["00224e", "123570", "3b496c", "575d6d", "707173", "8a8678", "a59c74", "c3b369", "fee838"],
}
ENTRIES = 256


def rgb(hex_text):
    return tuple(int(hex_text[i:i + 2], 16) for i in (0, 2, 4))


def table(anchors):
    colours = [rgb(a) for a in anchors]
    segments = len(colours) - 1
    out = []
    for i in range(ENTRIES):
        pos = i * segments / (ENTRIES - 1)
        k = min(int(pos), segments - 1)
        t = pos - k
        a, b = colours[k], colours[k + 1]
        out.append(tuple(int(round(a[c] + (b[c] - a[c]) * t)) for c in range(3)))
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    for name, anchors in ANCHORS.items():
        entries = table(anchors)
        data = bytes(e[0] for e in entries) + bytes(e[1] for e in entries) + bytes(e[2] for e in entries)
        assert len(data) == 3 * ENTRIES
        with open(os.path.join(outdir, name + ".lut"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
