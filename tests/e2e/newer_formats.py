"""Pictures in formats that exiv2 0.28 reads and 0.27 may not, with a GPS position.

The encoders (JxrEncApp from libjxr-tools, heif-enc from libheif-examples)
write no EXIF of their own here, so the GPS directory is written into their
files: JPEG XR keeps it in its TIFF-like directory, AVIF in an Exif item.
"""

import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "support"))
from picture_bytes import (GPS_POINTER, LONG, Tiff, box, cdsc, gps_directory,  # noqa: E402
                           exif_item, gps_tiff, infe)


def jpeg_xr_picture(path, latitude, longitude):
    """A JPEG XR picture whose directory points at a GPS directory."""
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "source.bmp")
        subprocess.run(["convert", "-size", "32x24", "gradient:white-navy", "-strip",
                        "-type", "TrueColor", "BMP3:" + source], check=True)
        subprocess.run(["JxrEncApp", "-i", source, "-o", path, "-q", "90"], check=True,
                       stdout=subprocess.DEVNULL)
    with open(path, "rb") as picture:
        data = picture.read()
    assert data[:4] == b"II\xbc\x01", "JxrEncApp wrote no JPEG XR file"
    # The GPS directory and a new first directory, of the old entries and
    # the GPS pointer, follow the old end; the old entries' values stay where
    # they are.
    old_at = struct.unpack_from("<I", data, 4)[0]
    count = struct.unpack_from("<H", data, old_at)[0]
    entries = [struct.unpack_from("<HHII", data, old_at + 2 + 12 * i) for i in range(count)]
    tiff = Tiff(data=data)
    entries.append((GPS_POINTER, LONG, 1, gps_directory(tiff, (latitude, longitude))))
    with open(path, "wb") as picture:
        picture.write(tiff.first_directory(tiff.directory(entries)))
    return path


def _boxes(data):
    """(type, body, offset) of each box in `data`."""
    found, offset = [], 0
    while offset + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, offset)
        found.append((kind, data[offset + 8:offset + size], offset))
        offset += size
    return found


def _read(data, offset, size):
    return (int.from_bytes(data[offset:offset + size], "big") if size else 0), offset + size


def _item_locations(iloc):
    """Each item of an iloc box body as (id, method, base offset, [(offset, length)])."""
    version = iloc[0]
    offset_size, length_size = iloc[4] >> 4, iloc[4] & 15
    base_size, index_size = iloc[5] >> 4, (iloc[5] & 15 if version in (1, 2) else 0)
    id_size = 2 if version < 2 else 4
    count, at = _read(iloc, 6, id_size)
    items = []
    for _ in range(count):
        item_id, at = _read(iloc, at, id_size)
        method = 0
        if version in (1, 2):
            method, at = _read(iloc, at, 2)
        at += 2  # data reference index
        base, at = _read(iloc, at, base_size)
        extent_count, at = _read(iloc, at, 2)
        extents = []
        for _ in range(extent_count):
            at += index_size
            offset, at = _read(iloc, at, offset_size)
            length, at = _read(iloc, at, length_size)
            extents.append((offset, length))
        items.append((item_id, method & 15, base, extents))
    return items


def _iloc(items):
    body = bytes([1, 0, 0, 0, 0x44, 0x40]) + struct.pack(">H", len(items))
    for item_id, method, base, extents in items:
        body += struct.pack(">HHHIH", item_id, method, 0, base, len(extents))
        body += b"".join(struct.pack(">II", offset, length) for offset, length in extents)
    return box(b"iloc", body)


def with_exif_item(data, tiff):
    """The HEIF/AVIF file `data` with an Exif item holding `tiff`.

    The old meta box becomes free space, so nothing in the file moves; the
    Exif data and a new meta box that lists it follow the old end.
    """
    meta, meta_at = next((body, at) for kind, body, at in _boxes(data) if kind == b"meta")
    data = data[:meta_at + 4] + b"free" + data[meta_at + 8:]
    children = _boxes(meta[4:])
    items = _item_locations(next(body for kind, body, _ in children if kind == b"iloc"))
    exif_id = max(item[0] for item in items) + 1
    exif = exif_item(tiff)
    items.append((exif_id, 0, 0, [(len(data) + 8, len(exif))]))
    data += box(b"mdat", exif)

    # The Exif item describes the primary image ("cdsc"), as readers expect.
    primary = next(body for kind, body, _ in children if kind == b"pitm")
    describes = cdsc(exif_id, _read(primary, 4, 2)[0])
    if not any(kind == b"iref" for kind, _, _ in children):
        children.append((b"iref", bytes(4), None))
    rebuilt = b""
    for kind, body, _ in children:
        if kind == b"iref":
            body += describes
        if kind == b"iloc":
            body = _iloc(items)[8:]
        elif kind == b"iinf":
            count_size = 2 if body[0] == 0 else 4
            count = int.from_bytes(body[4:4 + count_size], "big")
            body = body[:4] + (count + 1).to_bytes(count_size, "big") + body[4 + count_size:]
            body += infe(exif_id, b"Exif")
        rebuilt += box(kind, body)
    return data + box(b"meta", meta[:4] + rebuilt)


def hdr_avif_picture(path, latitude, longitude):
    """A 12-bit AVIF in BT.2020 with PQ transfer (HDR10's signalling), with GPS in EXIF.

    12 bits: Debian 12's encoder stops on 10-bit input of this size.
    """
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "source.png")
        subprocess.run(["convert", "-size", "32x24", "gradient:white-navy", "-depth", "16",
                        "-strip", "PNG48:" + source], check=True)
        encoded = os.path.join(scratch, "hdr.avif")
        subprocess.run(["heif-enc", "-A", "-b", "12", "--colour_primaries", "9",
                        "--transfer_characteristic", "16", "--matrix_coefficients", "9",
                        "-o", encoded, source], check=True, stdout=subprocess.DEVNULL)
        with open(encoded, "rb") as picture:
            data = picture.read()
    with open(path, "wb") as picture:
        picture.write(with_exif_item(data, gps_tiff((latitude, longitude))))
    return path
