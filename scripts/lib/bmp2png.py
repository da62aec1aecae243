#!/usr/bin/env python3
"""Turns the 24-bit BMP pictures the Windows tests take into PNG files."""
import struct
import sys
import zlib


def convert(source, target):
    with open(source, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 24:
        raise SystemExit(f"{source}: {bits}-bit pictures are not handled")
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    order = range(abs(height)) if height < 0 else range(height - 1, -1, -1)
    for y in order:
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]  # BGR to RGB
        rows.append(b"\x00" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    with open(target, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    for name in sys.argv[1:]:
        convert(name, name[:-4] + ".png")
