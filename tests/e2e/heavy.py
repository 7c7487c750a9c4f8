"""Ordinary pictures that are heavy for a reader: large, sparse, or on slow
storage; and positions that are no place on Earth.

The large TIFFs are laid out byte by byte (crafted.Tiff) with their pixel
data left as a hole: a file of hundreds of megabytes then costs a few
kilobytes of disk and a moment to make, while every reader sees it at its
full size, zeros where the pixels are. Each carries crafted.LATITUDE and
crafted.LONGITUDE in its first directory, so it opens crafted.MAP_URL.
"""

import os
import struct
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crafted  # noqa: E402
import pictures  # noqa: E402
from crafted import LONG, SHORT, UNDEFINED  # noqa: E402

# Room at the start of a large TIFF for its directories and their arrays;
# the holes begin after it.
HEADER_ROOM = 1 << 20
IMAGE_SOURCE_DATA = 37724  # Adobe's layers of a layered TIFF (Photoshop, GIMP, Krita)

# exiv2 -Pv prints the rationals as they are stored.
EXIV2_LATITUDE = "46/1 12/1 3000/100"
EXIV2_LONGITUDE = "6/1 8/1 4500/100"


def _short(value):
    return struct.pack("<H", value)


def _long(value):
    return struct.pack("<I", value)


def _longs(values):
    return struct.pack("<%dI" % len(values), *values)


def _grey_page(width, height, first_byte, rows_per_strip, page_number, pages):
    """Directory entries of an uncompressed 8-bit grey page whose strips start at `first_byte`."""
    strips = -(-height // rows_per_strip)
    offsets = [first_byte + strip * rows_per_strip * width for strip in range(strips)]
    counts = [min(rows_per_strip, height - strip * rows_per_strip) * width
              for strip in range(strips)]
    entries = [
        (254, LONG, 1, _long(2 if pages > 1 else 0)),  # NewSubfileType: a page
        (256, LONG, 1, _long(width)),
        (257, LONG, 1, _long(height)),
        (258, SHORT, 1, _short(8)),
        (259, SHORT, 1, _short(1)),  # no compression
        (262, SHORT, 1, _short(1)),  # black is zero
        (277, SHORT, 1, _short(1)),
        (278, LONG, 1, _long(rows_per_strip)),
        (284, SHORT, 1, _short(1)),
    ]
    if pages > 1:
        entries.append((297, SHORT, 2, _short(page_number) + _short(pages)))
    entries.append((273, LONG, strips, _longs(offsets) if strips > 1 else _long(offsets[0])))
    entries.append((279, LONG, strips, _longs(counts) if strips > 1 else _long(counts[0])))
    return entries


def _write_sparse(path, head, size):
    with open(path, "wb") as out:
        out.write(head)
        out.truncate(size)
    return path


def scanned_tiff(path, size, pages=2, width=10000):
    """A multi-page uncompressed scan of about `size` bytes, split evenly over
    its pages, the GPS position in the first page's directory."""
    height = size // pages // width
    page_bytes = width * height
    rows_per_strip = max(1, (1 << 20) // width)  # strips of about 1 MiB, as scanners write
    tiff = crafted.Tiff()
    gps = crafted.gps_directory(tiff)
    directories = []
    for page in range(pages):
        entries = _grey_page(width, height, HEADER_ROOM + page * page_bytes, rows_per_strip,
                             page, pages)
        if page == 0:
            entries.append((0x8825, LONG, 1, _long(gps)))
        directories.append((tiff.directory(entries), len(entries)))
    # Each page's directory names the next one.
    for (offset, count), (following, _) in zip(directories, directories[1:]):
        link = offset + 2 + 12 * count
        tiff.data[link:link + 4] = _long(following)
    head = tiff.first_directory(directories[0][0])
    assert len(head) <= HEADER_ROOM
    return _write_sparse(path, head, HEADER_ROOM + pages * page_bytes)


def layered_tiff(path, layer_bytes):
    """A small picture with `layer_bytes` of layer data in ImageSourceData, as
    an image editor saves a layered TIFF."""
    tiff = crafted.Tiff()
    pixels = tiff.place(bytes(64 * 64))
    entries = _grey_page(64, 64, pixels, 64, 0, 1)
    entries.append((IMAGE_SOURCE_DATA, UNDEFINED, layer_bytes, HEADER_ROOM))
    entries.append((0x8825, LONG, 1, _long(crafted.gps_directory(tiff))))
    head = tiff.first_directory(tiff.directory(entries))
    assert len(head) <= HEADER_ROOM
    return _write_sparse(path, head, HEADER_ROOM + layer_bytes)


def sparse_tiff(path, size):
    """A small TIFF with the GPS position in its first directory, made `size`
    bytes long by a hole after its last byte."""
    return _write_sparse(path, crafted.gps_tiff(), size)


def _png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data)))


def large_png(path, size, idat_bytes=8192, exif_chunk=False):
    """An RGB PNG of about `size` bytes of stored (uncompressed) deflate blocks,
    in IDAT chunks of `idat_bytes` as libpng writes them, the GPS position in
    Exif that exiv2 writes (a zTXt chunk after IHDR), or with `exif_chunk` in
    an eXIf chunk after IHDR, as newer cameras and editors write it."""
    width = 2048
    height = max(1, size // (width * 3 + 1))
    rows = bytes(height * (width * 3 + 1))  # black rows, each with filter byte 0
    stream = zlib.compress(rows, 0)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", header))
        if exif_chunk:
            out.write(_png_chunk(b"eXIf", crafted.gps_tiff()))
        for start in range(0, len(stream), idat_bytes):
            out.write(_png_chunk(b"IDAT", stream[start:start + idat_bytes]))
        out.write(_png_chunk(b"IEND", b""))
    if not exif_chunk:
        pictures.set_tags(path, *pictures.exif_gps(crafted.LATITUDE, crafted.LONGITUDE))
    return path


def exiv2_version():
    """The exiv2 command's version, as a tuple of numbers: (0, 27, 6)."""
    first = subprocess.run(["exiv2", "--version"], capture_output=True, text=True).stdout
    words = first.split()
    return tuple(int(part) for part in words[1].split(".")) if len(words) > 1 else (0,)


def exiv2_values(path, key):
    """What `exiv2 -g KEY -Pv` prints for the picture, one value a line."""
    result = subprocess.run(["exiv2", "-g", key, "-Pv", path], capture_output=True, text=True)
    return result.stdout.splitlines()


def exiv2_reads_position(path, latitude=EXIV2_LATITUDE, longitude=EXIV2_LONGITUDE):
    """True when `exiv2 -g Exif.GPSInfo -Pv` finds the latitude and the longitude."""
    values = [value.strip() for value in exiv2_values(path, "Exif.GPSInfo")]
    return latitude in values and longitude in values
