"""Pictures whose GPS position only photomap's own readers find, built byte by byte.

Each maker returns the file's bytes. The broken twins break one of the
readers' bounds (platform/host/picture/*.h) and must end in message B.
Run as a script to write the good ones and their twins into a directory
(scripts/make-fuzz-seeds.sh does, for the fuzzers' seeds):
    python3 formats.py DIRECTORY
"""

import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from newer_formats import _gps_directory, gps_tiff  # noqa: E402

TOKYO = ((35, 39, 31.0, "N"), (139, 44, 43.0, "E"))
SYDNEY = ((33, 51, 24.42, "S"), (151, 12, 47.19, "E"))
REYKJAVIK = ((64, 8, 15.0, "N"), (21, 56, 6.0, "W"))
# Exif without GPS: IFD0 with an orientation only, as a stereo pair's primary may carry.
NO_GPS_TIFF = b"MM\0*" + struct.pack(">IHHHIHH", 8, 1, 0x112, 3, 1, 1, 0) + bytes(4)

CANON_UUID = bytes.fromhex("85c0b687820f11e08111f4ce462b6a48")
# Bounds of the readers, as their headers give them.
MOST_GPS_ENTRIES = 1024
MOST_MOOV_BOXES = 1024
LARGEST_CMT4 = 1 << 20
LARGEST_INFLATED_TEXT = 4 << 20
MOST_RAW_PROFILES = 16
MOST_JXR_ENTRIES = 1024


def box(kind, body):
    return struct.pack(">I", 8 + len(body)) + kind + body


def gps_directory_tiff(latitude, longitude, extra_entries=0):
    """A little-endian TIFF whose first directory is the GPS directory, as CR3's CMT4."""
    directory = _gps_directory(latitude, longitude, 8)
    if extra_entries:
        # More entries (tags no GPS reader knows) before the old ones' values,
        # whose offsets then move by as many entries.
        count = struct.unpack_from("<H", directory)[0]
        shift = 12 * extra_entries
        entries = []
        for i in range(count):
            tag, kind, values, value = struct.unpack_from("<HHII", directory, 2 + 12 * i)
            if kind == 5:
                value += shift
            entries.append(struct.pack("<HHII", tag, kind, values, value))
        entries += [struct.pack("<HHII", 0x100 + i, 2, 1, 0) for i in range(extra_entries)]
        directory = (struct.pack("<H", count + extra_entries) + b"".join(entries) +
                     directory[2 + 12 * count:])
    return b"II*\0" + struct.pack("<I", 8) + directory


def cr3(position, extra_gps_entries=0, moov_boxes_before=0, cmt4_padding=0, cut=0):
    """ftyp crx, moov [free..., Canon uuid [CNCV, CMT1-4], a trak past moov's end], mdat.

    The trak whose size runs past moov's end makes exiv2 0.27 and 0.28 give
    up ("corrupted image metadata"), as they do on current bodies' files.
    """
    empty_tiff = b"II*\0" + bytes(4)
    canon = box(b"CNCV", b"CanonCR3_001/00.09.00/00.00.00")
    for name in (b"CMT1", b"CMT2", b"CMT3"):
        canon += box(name, empty_tiff)
    canon += box(b"CMT4", gps_directory_tiff(*position, extra_gps_entries) +
                 bytes(cmt4_padding))
    moov = box(b"free", b"") * moov_boxes_before + box(b"uuid", CANON_UUID + canon)
    moov += struct.pack(">I", 0x10000) + b"trak"
    data = (box(b"ftyp", b"crx \0\0\0\x01crx isom") + box(b"moov", moov) +
            box(b"mdat", bytes(64)))
    return data[:len(data) - cut] if cut else data


def raw_profile_text(profile, name="exif"):
    """ImageMagick's form: newline, name, newline, count in 8 columns, hex lines of 72."""
    hexed = profile.hex()
    lines = [hexed[i:i + 72] for i in range(0, len(hexed), 72)]
    return f"\n{name}\n{len(profile):8d}\n" + "\n".join(lines) + "\n"


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data))


def png(*chunks):
    """A 1x1 grey PNG with `chunks` between IHDR and the image data."""
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)) +
            b"".join(chunks) + png_chunk(b"IDAT", zlib.compress(b"\0\x80")) +
            png_chunk(b"IEND", b""))


def raw_profile_chunk(kind, text, keyword=b"Raw profile type exif"):
    """A tEXt, zTXt or iTXt (compressed) chunk holding `text`."""
    if kind == b"tEXt":
        return png_chunk(kind, keyword + b"\0" + text.encode("latin-1"))
    if kind == b"zTXt":
        return png_chunk(kind, keyword + b"\0\0" + zlib.compress(text.encode("latin-1"), 9))
    return png_chunk(b"iTXt", keyword + b"\0\x01\0en\0\0" + zlib.compress(text.encode(), 9))


def jxr(position, extra_entries=0, pointer_past_end=0):
    """'II\\xBC\\x01', a first directory (image tags and the GPS pointer), the GPS directory."""
    count = 1 + extra_entries
    gps_at = 8 + 2 + 12 * count + 4
    entries = [struct.pack("<HHII", 0xBC00 + i % 0x80, 4, 1, 0) for i in range(extra_entries)]
    entries.append(struct.pack("<HHII", 0x8825, 4, 1, gps_at + pointer_past_end))
    return (b"II\xbc\x01" + struct.pack("<IH", 8, count) + b"".join(entries) + bytes(4) +
            _gps_directory(*position, gps_at))


def _infe(item_id, kind):
    return box(b"infe", bytes([2, 0, 0, 0]) + struct.pack(">HH", item_id, 0) + kind + b"\0")


def heif(primary, images, mdat_past_end=0, cut_inside_last=0):
    """ftyp, meta [pitm, iinf, iref cdsc, iloc], mdat with the Exif items.

    images: (image id, Exif item id, TIFF data or None). With mdat_past_end,
    mdat states a 64-bit size that much beyond the file's end, and the last
    `cut_inside_last` bytes of the last Exif item are missing.
    """
    infes, references, exif_items = b"", b"", []
    for image_id, exif_id, tiff in images:
        infes += _infe(image_id, b"hvc1")
        if tiff is None:
            continue
        infes += _infe(exif_id, b"Exif")
        references += box(b"cdsc", struct.pack(">HHH", exif_id, 1, image_id))
        exif_items.append((exif_id, struct.pack(">I", 6) + b"Exif\0\0" + tiff))
    entries = len(images) + len(exif_items)

    def meta(data_start):
        iloc = bytes([0, 0, 0, 0, 0x44, 0x00]) + struct.pack(">H", len(exif_items))
        at = data_start
        for exif_id, item in exif_items:
            iloc += struct.pack(">HHHII", exif_id, 0, 1, at, len(item))
            at += len(item)
        body = (bytes(4) + box(b"pitm", bytes(4) + struct.pack(">H", primary)) +
                box(b"iinf", bytes(4) + struct.pack(">H", entries) + infes) +
                box(b"iref", bytes(4) + references) + box(b"iloc", iloc))
        return box(b"meta", body)

    ftyp = box(b"ftyp", b"heic\0\0\0\0mif1heic")
    header = 16 if mdat_past_end else 8
    data = b"".join(item for _, item in exif_items)
    start = len(ftyp) + len(meta(0)) + header
    if mdat_past_end:
        mdat = struct.pack(">I4sQ", 1, b"mdat", header + len(data) + mdat_past_end)
    else:
        mdat = struct.pack(">I4s", header + len(data), b"mdat")
    return ftyp + meta(start) + mdat + data[:len(data) - cut_inside_last]


def good_pictures():
    """name -> (bytes, (latitude, longitude)) of the pictures that open the map."""
    tokyo, sydney = gps_tiff(*TOKYO), gps_tiff(*SYDNEY)
    return {
        "canon.cr3": (cr3(TOKYO), TOKYO),
        "raw-text.png": (png(raw_profile_chunk(b"tEXt", raw_profile_text(sydney))), SYDNEY),
        "raw-compressed.png": (png(raw_profile_chunk(b"zTXt", raw_profile_text(tokyo))), TOKYO),
        "raw-international.png": (png(raw_profile_chunk(
            b"iTXt", raw_profile_text(b"Exif\0\0" + sydney, "APP1"),
            b"Raw profile type APP1")), SYDNEY),
        "gps.jxr": (jxr(REYKJAVIK), REYKJAVIK),
        "cut-short.heic": (heif(1, [(1, 7, tokyo)], mdat_past_end=1 << 30), TOKYO),
        # The position in the other image's Exif, listed first; the primary's has none.
        "stereo.heic": (heif(2, [(1, 7, gps_tiff(*REYKJAVIK)), (2, 8, NO_GPS_TIFF)]),
                        REYKJAVIK),
        "stereo-primary-first.heic": (heif(2, [(1, 7, sydney), (2, 8, tokyo)]), TOKYO),
    }


def broken_twins():
    """name -> bytes of the twins that break a bound and must give message B."""
    tokyo = gps_tiff(*TOKYO)
    text = raw_profile_text(tokyo)
    odd = text[:-4] + "g" + text[-3:]
    wrong_count = text.replace(f"{len(tokyo):8d}", f"{len(tokyo) + 1:8d}", 1)
    bomb = text + "\n" * (LARGEST_INFLATED_TEXT + 1)
    junk = [raw_profile_chunk(b"tEXt", "\nexif\n")] * MOST_RAW_PROFILES
    return {
        "gps-entries-over.cr3": cr3(TOKYO, extra_gps_entries=MOST_GPS_ENTRIES - 3),
        "moov-boxes-over.cr3": cr3(TOKYO, moov_boxes_before=MOST_MOOV_BOXES),
        "cmt4-over.cr3": cr3(TOKYO, cmt4_padding=LARGEST_CMT4),
        "odd-hex.png": png(raw_profile_chunk(b"tEXt", odd)),
        "wrong-count.png": png(raw_profile_chunk(b"tEXt", wrong_count)),
        "bomb.png": png(raw_profile_chunk(b"zTXt", bomb)),
        "profiles-over.png": png(*junk, raw_profile_chunk(b"tEXt", text)),
        "entries-over.jxr": jxr(TOKYO, extra_entries=MOST_JXR_ENTRIES),
        "pointer-past-end.jxr": jxr(TOKYO, pointer_past_end=4096),
        "mdat-cuts-exif.heic": heif(1, [(1, 7, tokyo)], mdat_past_end=1 << 30,
                                    cut_inside_last=10),
    }


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: formats.py DIRECTORY")
    os.makedirs(sys.argv[1], exist_ok=True)
    made = {name: data for name, (data, _) in good_pictures().items()}
    made.update(broken_twins())
    for name, data in made.items():
        with open(os.path.join(sys.argv[1], name), "wb") as picture:
            picture.write(data)
        print(os.path.join(sys.argv[1], name))
