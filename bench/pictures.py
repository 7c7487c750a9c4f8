#!/usr/bin/env python3
"""The benchmark's TIFF and PNG pictures, and where a picture's Exif sits.

  pictures.py tiff OUT WIDTHxHEIGHT   noise, uncompressed, its directories
                                      (IFD0, then the GPS one) after the pixels
  pictures.py png OUT WIDTHxHEIGHT    noise, an eXIf chunk before the IDAT
  pictures.py exif-at PICTURE         the byte offset of the picture's Exif:
                                      JPEG APP1, TIFF IFD0, PNG eXIf, WebP EXIF
                                      chunk, HEIF Exif item ("Exif\\0\\0")

Both pictures hold the Eiffel Tower's position (48° 51' 29.6" N,
2° 17' 40.2" E) in Exif GPS tags. They are written here, not by exiv2,
because exiv2 moves a TIFF's directories to the front and writes PNG Exif
as a text chunk.
"""
import os
import struct
import sys
import zlib

BYTE, ASCII, SHORT, LONG, RATIONAL = 1, 2, 3, 4, 5


def rationals(*pairs):
    return b"".join(struct.pack("<II", n, d) for n, d in pairs)


GPS_ENTRIES = [
    (0, BYTE, 4, bytes([2, 3, 0, 0])),
    (1, ASCII, 2, b"N\0"),
    (2, RATIONAL, 3, rationals((48, 1), (51, 1), (296, 10))),
    (3, ASCII, 2, b"E\0"),
    (4, RATIONAL, 3, rationals((2, 1), (17, 1), (402, 10))),
]
GPS_POINTER = 0x8825


def directory(entries, at):
    """A little-endian IFD at offset `at`, its longer values right behind it."""
    values_at = at + 2 + 12 * len(entries) + 4
    head, values = struct.pack("<H", len(entries)), b""
    for tag, kind, count, payload in sorted(entries):
        if len(payload) <= 4:
            field = payload.ljust(4, b"\0")
        else:
            field = struct.pack("<I", values_at + len(values))
            values += payload + b"\0" * (len(payload) & 1)
        head += struct.pack("<HHI", tag, kind, count) + field
    return head + struct.pack("<I", 0) + values


def tiff(pixels, ifd0_entries):
    """Header, pixels, IFD0 with a GPS pointer, the GPS IFD: in that order."""
    ifd0_at = 8 + len(pixels) + (len(pixels) & 1)
    with_pointer = lambda gps_at: ifd0_entries + [  # noqa: E731
        (GPS_POINTER, LONG, 1, struct.pack("<I", gps_at))]
    gps_at = ifd0_at + len(directory(with_pointer(0), ifd0_at))
    return (b"II*\0" + struct.pack("<I", ifd0_at) + pixels + b"\0" * (len(pixels) & 1)
            + directory(with_pointer(gps_at), ifd0_at) + directory(GPS_ENTRIES, gps_at))


def write_tiff(out, width, height):
    pixels = os.urandom(width * height * 3)
    short = lambda *values: struct.pack("<%dH" % len(values), *values)  # noqa: E731
    long_ = lambda value: struct.pack("<I", value)  # noqa: E731
    entries = [(256, LONG, 1, long_(width)), (257, LONG, 1, long_(height)),
               (258, SHORT, 3, short(8, 8, 8)), (259, SHORT, 1, short(1)),
               (262, SHORT, 1, short(2)), (273, LONG, 1, long_(8)), (277, SHORT, 1, short(3)),
               (278, LONG, 1, long_(height)), (279, LONG, 1, long_(len(pixels))),
               (284, SHORT, 1, short(1))]
    with open(out, "wb") as f:
        f.write(tiff(pixels, entries))


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write_png(out, width, height):
    rows = b"".join(b"\0" + os.urandom(width * 3) for _ in range(height))
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n"
                + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + png_chunk(b"eXIf", tiff(b"", []))
                + png_chunk(b"IDAT", zlib.compress(rows, 1)) + png_chunk(b"IEND", b""))


def chunk_at(data, at, kind, big_endian):
    """Offset of the first chunk of `kind` in a PNG (from 8) or RIFF (from 12) file."""
    while at + 8 <= len(data):
        if big_endian:
            (size,), name, step = struct.unpack(">I", data[at:at + 4]), data[at + 4:at + 8], 12
        else:
            name, (size,), step = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8]), 8
        if name == kind:
            return at
        at += step + size + (0 if big_endian else size & 1)
    return -1


def exif_at(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\x89PNG"):
        return chunk_at(data, 8, b"eXIf", True)
    if data.startswith(b"RIFF"):
        return chunk_at(data, 12, b"EXIF", False)
    if data[:4] in (b"II*\0", b"MM\0*"):
        return struct.unpack("<I" if data[:2] == b"II" else ">I", data[4:8])[0]
    return data.find(b"Exif\0\0")  # JPEG's APP1, HEIF's Exif item


def main():
    command, path = sys.argv[1], sys.argv[2]
    if command == "exif-at":
        print(exif_at(path))
        return
    width, height = (int(n) for n in sys.argv[3].split("x"))
    {"tiff": write_tiff, "png": write_png}[command](path, width, height)


if __name__ == "__main__":
    main()
