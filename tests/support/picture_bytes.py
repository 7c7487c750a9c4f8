"""Pictures laid out byte by byte: TIFF directories and the GPS directory,
JPEG segments, PNG chunks, RIFF chunks and BMFF boxes.

Every Python test and script that writes a picture's bytes itself builds
them here (the pictures that ImageMagick and exiv2 make are in
tests/e2e/pictures.py). A position is (latitude, longitude), each
(degrees, minutes, seconds, reference) with seconds to a hundredth.
"""

import os
import struct
import zlib

# TIFF field types, and the IFD0 entry that points at the GPS directory.
BYTE, ASCII, SHORT, LONG, RATIONAL, UNDEFINED = 1, 2, 3, 4, 5, 7
GPS_POINTER = 0x8825


def shorts(*values):
    return struct.pack("<%dH" % len(values), *values)


def longs(*values):
    return struct.pack("<%dI" % len(values), *values)


# ---- TIFF ----------------------------------------------------------------

class Tiff:
    """A TIFF laid out in the order its parts are added: little-endian, or
    big-endian with `order` ">"; `magic` 0x01BC gives JPEG XR's header;
    `data` continues a file whose header is already there.

    An entry is (tag, type, count, value): `value` is the bytes of the value,
    placed inline or after the directory, or an int, the 4-byte field itself
    (such as the offset of bytes already placed, so that entries can share them).
    """

    def __init__(self, order="<", magic=42, data=None):
        self.order = ">" if data is not None and data[:2] == b"MM" else order
        header = (b"II" if self.order == "<" else b"MM") + self.pack("HI", magic, 0)
        self.data = bytearray(header if data is None else data)

    def pack(self, layout, *values):
        return struct.pack(self.order + layout, *values)

    def place(self, payload):
        """Appends `payload` at an even offset and returns that offset."""
        if len(self.data) % 2:
            self.data.append(0)
        offset = len(self.data)
        self.data += payload
        return offset

    def directory(self, entries, next_directory=0, sort=True):
        """Appends a directory (and the values it does not hold inline); returns its offset."""
        if sort:
            entries = sorted(entries, key=lambda entry: entry[0])
        size = 2 + 12 * len(entries) + 4
        offset = self.place(bytes(size))
        table = bytearray(self.pack("H", len(entries)))
        for tag, kind, count, value in entries:
            if isinstance(value, int):
                field = self.pack("I", value)
            elif len(value) <= 4:
                field = value.ljust(4, b"\0")
            else:
                field = self.pack("I", self.place(value))
            table += self.pack("HHI", tag, kind, count) + field
        table += self.pack("I", next_directory)
        self.data[offset:offset + size] = table
        return offset

    def first_directory(self, offset):
        self.data[4:8] = self.pack("I", offset)
        return bytes(self.data)


def gps_directory(tiff, position, extra_entries=()):
    """Places the GPS directory of `position` (with `extra_entries`); returns its offset."""
    entries = list(extra_entries)
    for tag, (degrees, minutes, seconds, reference) in zip((1, 3), position):
        entries.append((tag, ASCII, 2, reference.encode() + b"\0"))
        entries.append((tag + 1, RATIONAL, 3, tiff.pack(
            "6I", degrees, 1, minutes, 1, round(seconds * 100), 100)))
    return tiff.directory(entries)


def gps_tiff(position, extra_entries=(), before=None):
    """A little-endian TIFF whose first directory points at the GPS directory
    and holds `extra_entries`; `before(tiff)` may place parts first and
    return more entries."""
    tiff = Tiff()
    entries = list(extra_entries) + (before(tiff) if before else [])
    entries.append((GPS_POINTER, LONG, 1, gps_directory(tiff, position)))
    return tiff.first_directory(tiff.directory(entries))


# ---- JPEG ----------------------------------------------------------------

SOI, EOI = b"\xff\xd8", b"\xff\xd9"


def segment(marker, payload):
    if len(payload) + 2 > 0xFFFF:
        raise ValueError("a JPEG segment holds at most 65533 bytes")
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def exif_segment(tiff):
    return segment(0xE1, b"Exif\0\0" + tiff)


def icc_segments(profile, chunk=60000):
    """An ICC profile cut into numbered APP2 segments of `chunk` bytes."""
    pieces = [profile[at:at + chunk] for at in range(0, len(profile), chunk)]
    return [segment(0xE2, b"ICC_PROFILE\0" + bytes([number, len(pieces)]) + piece)
            for number, piece in enumerate(pieces, 1)]


def jpeg(*segments, image=b""):
    """SOI, `segments`, then `image` (the segments and scan of an encoded
    JPEG past its own SOI), or with none only EOI: exiv2 reads markers up
    to the end of image."""
    return SOI + b"".join(segments) + (image[2:] if image else EOI)


# ---- PNG -----------------------------------------------------------------

def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(*chunks, width=1, height=1, colour=0, stream=zlib.compress(b"\0\x80"), piece=None):
    """An 8-bit PNG (grey 1x1 unless told) with `chunks` between IHDR and the
    image data `stream`, in IDAT chunks of `piece` bytes as libpng writes them."""
    piece = piece or max(1, len(stream))
    idats = [png_chunk(b"IDAT", stream[at:at + piece]) for at in range(0, len(stream), piece)]
    header = struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + b"".join(chunks) +
            b"".join(idats) + png_chunk(b"IEND", b""))


def raw_profile_text(profile, name="exif"):
    """ImageMagick's form: newline, name, newline, count in 8 columns, hex lines of 72."""
    hexed = profile.hex()
    lines = [hexed[i:i + 72] for i in range(0, len(hexed), 72)]
    return f"\n{name}\n{len(profile):8d}\n" + "\n".join(lines) + "\n"


def raw_profile_chunk(kind, text, keyword=b"Raw profile type exif"):
    """A tEXt, zTXt or iTXt (compressed) chunk holding `text`."""
    if kind == b"tEXt":
        return png_chunk(kind, keyword + b"\0" + text.encode("latin-1"))
    if kind == b"zTXt":
        return png_chunk(kind, keyword + b"\0\0" + zlib.compress(text.encode("latin-1"), 9))
    return png_chunk(b"iTXt", keyword + b"\0\x01\0en\0\0" + zlib.compress(text.encode(), 9))


# ---- RIFF ----------------------------------------------------------------

def riff_chunk(kind, payload):
    return kind + struct.pack("<I", len(payload)) + payload + b"\0" * (len(payload) % 2)


def riff(form, *chunks):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


# ---- BMFF ----------------------------------------------------------------

def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def full_box(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)


def infe(item_id, kind):
    return full_box(b"infe", 2, 0, struct.pack(">HH", item_id, 0) + kind + b"\0")


def iinf(*entries):
    return full_box(b"iinf", 0, 0, struct.pack(">H", len(entries)) + b"".join(entries))


def cdsc(item_id, described_id):
    """An iref entry: item `item_id` describes item `described_id`."""
    return box(b"cdsc", struct.pack(">HHH", item_id, 1, described_id))


def iloc(items):
    """A version 0 iloc of 4-byte fields: one extent (id, offset, length) per item."""
    table = b"".join(struct.pack(">HHHII", item_id, 0, 1, offset, length)
                     for item_id, offset, length in items)
    return full_box(b"iloc", 0, 0, bytes([0x44, 0x00]) + struct.pack(">H", len(items)) + table)


def exif_item(tiff, header=b""):
    """An Exif item: the offset of the TIFF header past these four bytes, then the TIFF."""
    return struct.pack(">I", len(header)) + header + tiff


HEIF_BRAND = box(b"ftyp", b"heic" + bytes(4) + b"mif1heic")


def heif(children, payload, mdat_past_end=0, cut=0):
    """ftyp, meta [hdlr 'pict', children(start)] and an mdat holding `payload`
    from file offset `start`. With mdat_past_end, mdat states a 64-bit size
    that much beyond the file's end; the last `cut` bytes of payload are missing."""
    hdlr = full_box(b"hdlr", 0, 0, bytes(4) + b"pict" + bytes(12) + b"\0")

    def meta(start):  # of one size wherever the payload starts
        return full_box(b"meta", 0, 0, hdlr + children(start))
    header = 16 if mdat_past_end else 8
    start = len(HEIF_BRAND) + len(meta(0)) + header
    if mdat_past_end:
        mdat = struct.pack(">I4sQ", 1, b"mdat", header + len(payload) + mdat_past_end)
    else:
        mdat = struct.pack(">I4s", header + len(payload), b"mdat")
    return HEIF_BRAND + meta(start) + mdat + payload[:len(payload) - cut]


# ---- XMP, GIF, BPG -------------------------------------------------------------

def xmp_packet(latitude, longitude):
    """An XMP packet with exif:GPSLatitude and exif:GPSLongitude as attributes."""
    return ("<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>"
            "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
            "rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/' "
            f"exif:GPSLatitude='{latitude}' exif:GPSLongitude='{longitude}'/>"
            "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>").encode()


def gif(xmp):
    """A 1x1 GIF89a with `xmp` in its XMP application extension, stored raw
    with the 258-byte trailer that leads a walk over sub-blocks past it."""
    trailer = bytes([1] + list(range(255, 0, -1)) + [0, 0])
    return (b"GIF89a" + bytes([1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255])
            + b"\x21\xff\x0bXMP DataXMP" + xmp + trailer
            + bytes([0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B]))


def ue7(value):
    """BPG's ue7(32): 7 bits a byte, most significant first."""
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def bpg(*extensions):
    """A BPG header with extensions (tag, data): 1 EXIF, 3 XMP."""
    data = b"".join(ue7(tag) + ue7(len(payload)) + payload for tag, payload in extensions)
    return b"BPG\xfb\x00\x08" + ue7(1) + ue7(1) + ue7(0) + ue7(len(data)) + data


# ---- Files -----------------------------------------------------------------

def write(path, *parts, block=4096):
    """Writes the parts in turn, each bytes or an int (that many zeros),
    leaving blocks of zeros as holes: a file of hundreds of megabytes then
    costs a few kilobytes of disk and a moment to make."""
    zeros = bytes(block)
    with open(path, "wb") as out:
        for part in parts:
            if isinstance(part, int):
                out.seek(part, os.SEEK_CUR)
                continue
            view = memoryview(part)
            for at in range(0, len(part), block):
                piece = view[at:at + block]
                if piece == zeros:
                    out.seek(len(piece), os.SEEK_CUR)
                else:
                    out.write(piece)
        out.truncate(out.tell())
    return path
