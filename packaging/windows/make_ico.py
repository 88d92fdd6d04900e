#!/usr/bin/env python3
"""Packs PNG pictures into one Windows icon (.ico) file: the program's icon
and the installer's, made from the icon tree that vornisk-datagen --icons
draws. Each entry keeps its PNG bytes, which Windows reads since Vista.
Usage: make_ico.py OUTPUT.ico PNG..."""
import struct
import sys


def size_of(png: bytes) -> int:
    if png[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("make_ico: not a PNG file")
    width, height = struct.unpack(">II", png[16:24])
    if width != height or width > 256:
        raise SystemExit(f"make_ico: a {width} x {height} picture cannot be an icon")
    return width


def main() -> None:
    if len(sys.argv) < 3:
        raise SystemExit(__doc__.splitlines()[-1])
    pictures = []
    for path in sys.argv[2:]:
        with open(path, "rb") as file:
            png = file.read()
        pictures.append((size_of(png), png))
    pictures.sort()
    header = struct.pack("<HHH", 0, 1, len(pictures))
    offset = len(header) + 16 * len(pictures)
    entries, data = b"", b""
    for size, png in pictures:
        # Width and height 0 stand for 256; no palette; 1 plane; 32 bits.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(png),
                               offset + len(data))
        data += png
    with open(sys.argv[1], "wb") as file:
        file.write(header + entries + data)


if __name__ == "__main__":
    main()
