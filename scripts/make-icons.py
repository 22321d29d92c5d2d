#!/usr/bin/env python3
"""Writes Tovaro's icons into resources/icons/.

The 16x16 and 32x32 images are pixel art, drawn here one character per pixel and written as 4-bit palette
PNGs, so the small window icon stays crisp and keeps its 16-colour look. The larger sizes for the desktop's
icon theme are rendered from the hand-written tovaro.svg with ImageMagick, when it is installed.

Run it again after changing the art: python3 scripts/make-icons.py
"""
import os
import shutil
import struct
import subprocess
import sys
import zlib

# One character per colour; "." is transparent. At most 16 entries, so the images fit a 4-bit palette.
PALETTE = [
    (".", None),  # transparent
    ("K", (0x1B, 0x1F, 0x27)),  # outline
    ("D", (0x2F, 0x36, 0x42)),  # grip band
    ("S", (0x4F, 0x5B, 0x6E)),  # body
    ("L", (0x7D, 0x8A, 0xA0)),  # body, lit top
    ("G", (0xD5, 0xDA, 0xE1)),  # lens ring, lit side
    ("g", (0x9A, 0xA3, 0xB0)),  # lens ring, shaded side
    ("B", (0x17, 0x3A, 0x6B)),  # glass, deep
    ("b", (0x2F, 0x6F, 0xB5)),  # glass
    ("c", (0x6F, 0xB1, 0xEE)),  # glass, reflection
    ("W", (0xFF, 0xFF, 0xFF)),  # highlight
    ("R", (0xD6, 0x3B, 0x2F)),  # shutter button
    ("r", (0x8F, 0x21, 0x19)),  # shutter button, shade
    ("Y", (0xF6, 0xD5, 0x5C)),  # flash
    ("y", (0xC9, 0xA2, 0x27)),  # flash, shade
]

ICON_32 = [
    "................................",
    "................................",
    "................................",
    "..........KKKKKKKKKKKK..........",
    ".........KLLLLLLLLLLLLK..KKKK...",
    ".........KSSSSSSSSSSSSK.KWRRRK..",
    ".........KSSSSSSSSSSSSK.KRRRRK..",
    "...KKKKKKKKKKKKKKKKKKKKKKKKKKK..",
    "..KLLLLLLLLLLLLLLLLLLLLLLLLLLK..",
    ".KLLLLLLLLLLLLKKKKKKKKLLLLLLLLK.",
    ".KLLLLLLLLLLLKGGGGGGGGKLLLLLLLK.",
    ".KSSSSSSSSSKKGGGGGGGGGGKKSSSSSK.",
    ".KSSKKKSSSSKGGGKKKKKKGGGKSSSSSK.",
    ".KSKYYYKSSKGGGKKBBBBKKGGgKSSSSK.",
    ".KSKYYYKSKGGGKBBBbbBBBKgggKSSSK.",
    ".KSKyyyKSKGGKKBWWbbbbBKKggKSSSK.",
    ".KSSKKKSSKGGKBBWbbbbbBBKggKSSSK.",
    ".KSSSSSSSKGGKBbbbbbbbbBKggKSSSK.",
    ".KSSSSSSSKGGKBbbbbcccbBKggKSSSK.",
    ".KSSSSSSSKGGKBBbbbcccBBKggKSSSK.",
    ".KSSSSSSSKGGKKBbbbccbBKKggKSSSK.",
    ".KSSSSSSSKGGGKBBBbbBBBKgggKSSSK.",
    ".KKKKKKKKKKGGGKKBBBBKKgggKKKKKK.",
    ".KDDDDDDDDDKGGgKKKKKKgggKDDDDDK.",
    ".KDDDDDDDDDKKggggggggggKKDDDDDK.",
    ".KDDDDDDDDDDDKggggggggKDDDDDDDK.",
    ".KDDDDDDDDDDDDKKKKKKKKDDDDDDDDK.",
    "..KDDDDDDDDDDDDDDDDDDDDDDDDDDK..",
    "...KKKKKKKKKKKKKKKKKKKKKKKKKK...",
    "................................",
    "................................",
    "................................",
]

ICON_16 = [
    "................",
    "................",
    "....KKKKK...KK..",
    "...KLLLLLK.KRRK.",
    ".KKKKKKKKKKKKKK.",
    "KLLLLLLKKKKLLLLK",
    "KSSSSSKGGGGKSSSK",
    "KSYYSKGKBBKgKSSK",
    "KSyySKGBWbBgKSSK",
    "KSSSSKGBbcBgKSSK",
    "KDDDDKGKBBKgKDDK",
    "KDDDDDKGgggKDDDK",
    "KDDDDDDKKKKDDDDK",
    ".KKKKKKKKKKKKKK.",
    "................",
    "................",
]

LARGE_SIZES = (48, 64, 128, 256)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def indexed_png(art):
    """A 4-bit palette PNG of the art, index 0 transparent."""
    size = len(art)
    index = {ch: i for i, (ch, _) in enumerate(PALETTE)}
    for row in art:
        if len(row) != size:
            raise ValueError(f"row {row!r} is not {size} pixels wide")
        unknown = set(row) - set(index)
        if unknown:
            raise ValueError(f"colours {sorted(unknown)} are not in the palette")
    raw = bytearray()
    for row in art:
        raw.append(0)  # filter type: none
        pixels = [index[ch] for ch in row] + [0]
        for i in range(0, size, 2):
            raw.append(pixels[i] << 4 | pixels[i + 1])
    plte = b"".join(bytes(rgb or (0, 0, 0)) for _, rgb in PALETTE)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
            + png_chunk(b"PLTE", plte)
            + png_chunk(b"tRNS", b"\x00")
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def render_svg(svg, size, out):
    """Renders the scalable icon at its own resolution (the SVG is drawn on a 64-unit canvas)."""
    subprocess.run(["convert", "-background", "none", "-density", str(72 * size / 64), svg,
                    "-resize", f"{size}x{size}", "-strip", "-define", "png:exclude-chunks=date,time",
                    f"png32:{out}"], check=True)


def main():
    icons = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "icons")
    for art in (ICON_16, ICON_32):
        path = os.path.join(icons, f"tovaro-{len(art)}.png")
        with open(path, "wb") as f:
            f.write(indexed_png(art))
        print("wrote", os.path.normpath(path))
    if shutil.which("convert") is None:
        print("ImageMagick's convert is not installed: the larger sizes were left as they are", file=sys.stderr)
        return
    svg = os.path.join(icons, "tovaro.svg")
    for size in LARGE_SIZES:
        path = os.path.join(icons, f"tovaro-{size}.png")
        render_svg(svg, size, path)
        print("wrote", os.path.normpath(path))


if __name__ == "__main__":
    main()
