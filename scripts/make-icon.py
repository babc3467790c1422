#!/usr/bin/env python3
"""Makes the Windows icon (.ico) from the 256 x 256 RGBA PNG the Linux desktop uses.

Usage: make-icon.py IN.png OUT.ico

The small sizes (those Windows shows at 100 % to 200 % scaling) are averaged down from the
picture and stored as 32-bit bitmaps, which every Windows reads; the 256 pixel one keeps the
PNG as it is, as Windows has read them since Vista. Only the standard library is needed.
"""
import struct
import sys
import zlib

SMALL_SIZES = (16, 20, 24, 32, 40, 48, 64)


def read_png(data):
    """Width, height and the RGBA rows of a non-interlaced 8-bit RGBA or RGB PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        sys.exit("only 8-bit RGB or RGBA PNGs without interlacing are read")
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        unfilter(kind, line, previous, channels)
        rows.append(line if channels == 4 else add_alpha(line))
        previous = line
    return width, height, rows


def unfilter(kind, line, previous, step):
    for i in range(len(line)):
        left = line[i - step] if i >= step else 0
        up = previous[i]
        corner = previous[i - step] if i >= step else 0
        if kind == 1:
            line[i] = (line[i] + left) & 0xFF
        elif kind == 2:
            line[i] = (line[i] + up) & 0xFF
        elif kind == 3:
            line[i] = (line[i] + (left + up) // 2) & 0xFF
        elif kind == 4:
            line[i] = (line[i] + paeth(left, up, corner)) & 0xFF


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def add_alpha(line):
    out = bytearray()
    for i in range(0, len(line), 3):
        out += line[i:i + 3] + b"\xff"
    return out


def scale(width, height, rows, size):
    """Area average, weighted by alpha so transparent pixels lend no colour."""
    out = []
    for ty in range(size):
        y0, y1 = ty * height // size, (ty + 1) * height // size
        line = bytearray()
        for tx in range(size):
            x0, x1 = tx * width // size, (tx + 1) * width // size
            r = g = b = a = 0
            for y in range(y0, y1):
                row = rows[y]
                for x in range(x0, x1):
                    pr, pg, pb, pa = row[4 * x:4 * x + 4]
                    r, g, b, a = r + pr * pa, g + pg * pa, b + pb * pa, a + pa
            count = (y1 - y0) * (x1 - x0)
            if a:
                line += bytes((r // a, g // a, b // a, (a + count // 2) // count))
            else:
                line += b"\0\0\0\0"
        out.append(line)
    return out


def bitmap_entry(size, rows):
    """A 32-bit DIB: header, BGRA rows bottom up, then an all-clear AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for x in range(size):
            r, g, b, a = row[4 * x:4 * x + 4]
            pixels += bytes((b, g, r, a))
    mask = bytes(((size + 31) // 32) * 4 * size)
    return header + bytes(pixels) + mask


def main():
    source, target = sys.argv[1], sys.argv[2]
    data = open(source, "rb").read()
    width, height, rows = read_png(data)
    if (width, height) != (256, 256):
        sys.exit("the icon picture must be 256 x 256")
    images = [(size, bitmap_entry(size, scale(width, height, rows, size))) for size in SMALL_SIZES]
    images.append((256, data))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    body = b""
    for size, image in images:
        side = size % 256  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        body += image
    with open(target, "wb") as out:
        out.write(directory + body)


if __name__ == "__main__":
    main()
