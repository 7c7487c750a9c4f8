"""Ordinary pictures that are heavy for a reader: large, sparse, or on slow
storage; and positions that are no place on Earth.

The large TIFFs are laid out byte by byte (picture_bytes.Tiff) with their pixel
data left as a hole: a file of hundreds of megabytes then costs a few
kilobytes of disk and a moment to make, while every reader sees it at its
full size, zeros where the pixels are. Each carries crafted.LATITUDE and
crafted.LONGITUDE in its first directory, so it opens crafted.MAP_URL.
"""

import os
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
import pictures  # noqa: E402
from crafted import POSITION  # noqa: E402
from picture_bytes import (GPS_POINTER, LONG, SHORT, UNDEFINED, Tiff, gps_directory,  # noqa: E402
                           gps_tiff, longs, png, png_chunk, shorts, write)

# Room at the start of a large TIFF for its directories and their arrays;
# the holes begin after it.
HEADER_ROOM = 1 << 20
IMAGE_SOURCE_DATA = 37724  # Adobe's layers of a layered TIFF (Photoshop, GIMP, Krita)

# exiv2 -Pv prints the rationals as they are stored.
EXIV2_LATITUDE = "46/1 12/1 3000/100"
EXIV2_LONGITUDE = "6/1 8/1 4500/100"


def _grey_page(width, height, first_byte, rows_per_strip, page_number, pages):
    """Directory entries of an uncompressed 8-bit grey page whose strips start at `first_byte`."""
    strips = -(-height // rows_per_strip)
    offsets = [first_byte + strip * rows_per_strip * width for strip in range(strips)]
    counts = [min(rows_per_strip, height - strip * rows_per_strip) * width
              for strip in range(strips)]
    entries = [
        (254, LONG, 1, longs(2 if pages > 1 else 0)),  # NewSubfileType: a page
        (256, LONG, 1, longs(width)),
        (257, LONG, 1, longs(height)),
        (258, SHORT, 1, shorts(8)),
        (259, SHORT, 1, shorts(1)),  # no compression
        (262, SHORT, 1, shorts(1)),  # black is zero
        (277, SHORT, 1, shorts(1)),
        (278, LONG, 1, longs(rows_per_strip)),
        (284, SHORT, 1, shorts(1)),
    ]
    if pages > 1:
        entries.append((297, SHORT, 2, shorts(page_number, pages)))
    entries.append((273, LONG, strips, longs(*offsets)))
    entries.append((279, LONG, strips, longs(*counts)))
    return entries


def scanned_tiff(path, size, pages=2, width=10000):
    """A multi-page uncompressed scan of about `size` bytes, split evenly over
    its pages, the GPS position in the first page's directory."""
    height = size // pages // width
    page_bytes = width * height
    rows_per_strip = max(1, (1 << 20) // width)  # strips of about 1 MiB, as scanners write
    tiff = Tiff()
    gps = gps_directory(tiff, POSITION)
    directories = []
    for page in range(pages):
        entries = _grey_page(width, height, HEADER_ROOM + page * page_bytes, rows_per_strip,
                             page, pages)
        if page == 0:
            entries.append((GPS_POINTER, LONG, 1, gps))
        directories.append((tiff.directory(entries), len(entries)))
    # Each page's directory names the next one.
    for (offset, count), (following, _) in zip(directories, directories[1:]):
        link = offset + 2 + 12 * count
        tiff.data[link:link + 4] = longs(following)
    head = tiff.first_directory(directories[0][0])
    assert len(head) <= HEADER_ROOM
    return write(path, head, HEADER_ROOM + pages * page_bytes - len(head))


def layered_tiff(path, layer_bytes):
    """A small picture with `layer_bytes` of layer data in ImageSourceData, as
    an image editor saves a layered TIFF."""
    tiff = Tiff()
    pixels = tiff.place(bytes(64 * 64))
    entries = _grey_page(64, 64, pixels, 64, 0, 1)
    entries.append((IMAGE_SOURCE_DATA, UNDEFINED, layer_bytes, HEADER_ROOM))
    entries.append((GPS_POINTER, LONG, 1, gps_directory(tiff, POSITION)))
    head = tiff.first_directory(tiff.directory(entries))
    assert len(head) <= HEADER_ROOM
    return write(path, head, HEADER_ROOM + layer_bytes - len(head))


def sparse_tiff(path, size):
    """A small TIFF with the GPS position in its first directory, made `size`
    bytes long by a hole after its last byte."""
    head = gps_tiff(POSITION)
    return write(path, head, size - len(head))


def large_png(path, size, idat_bytes=8192, exif_chunk=False):
    """An RGB PNG of about `size` bytes of stored (uncompressed) deflate blocks,
    in IDAT chunks of `idat_bytes` as libpng writes them, the GPS position in
    Exif that exiv2 writes (a zTXt chunk after IHDR), or with `exif_chunk` in
    an eXIf chunk after IHDR, as newer cameras and editors write it."""
    width = 2048
    height = max(1, size // (width * 3 + 1))
    rows = bytes(height * (width * 3 + 1))  # black rows, each with filter byte 0
    exif = [png_chunk(b"eXIf", gps_tiff(POSITION))] if exif_chunk else []
    write(path, png(*exif, width=width, height=height, colour=2, stream=zlib.compress(rows, 0),
                    piece=idat_bytes))
    if not exif_chunk:
        pictures.set_tags(path, *pictures.exif_gps(*POSITION))
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
