"""Pictures whose GPS position only photomap's own readers find, built byte by byte.

Each maker returns the file's bytes. The broken twins break one of the
readers' bounds (platform/host/picture/*.h) and must end in message B.
Run as a script to write the good ones and their twins into a directory
(scripts/make-fuzz-seeds.sh does, for the fuzzers' seeds):
    python3 formats.py DIRECTORY
"""

import itertools
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "support"))
from picture_bytes import (ASCII, GPS_POINTER, LONG, SHORT, Tiff, box, bpg,  # noqa: E402
                           cdsc, exif_item, full_box, gif, gps_directory, gps_tiff, heif, iinf,
                           iloc, infe, png, raw_profile_chunk, raw_profile_text, write,
                           xmp_packet)

TOKYO = ((35, 39, 31.0, "N"), (139, 44, 43.0, "E"))
SYDNEY = ((33, 51, 24.42, "S"), (151, 12, 47.19, "E"))
REYKJAVIK = ((64, 8, 15.0, "N"), (21, 56, 6.0, "W"))


def no_gps_tiff():
    """Exif without GPS: a big-endian IFD0 with an orientation only, as a
    stereo pair's primary may carry."""
    tiff = Tiff(order=">")
    return tiff.first_directory(tiff.directory([(0x112, SHORT, 1, tiff.pack("H", 1))]))


CANON_UUID = bytes.fromhex("85c0b687820f11e08111f4ce462b6a48")
# Bounds of the readers, as their headers give them.
MOST_GPS_ENTRIES = 1024
MOST_MOOV_BOXES = 1024
LARGEST_CMT4 = 1 << 20
LARGEST_INFLATED_TEXT = 4 << 20
MOST_RAW_PROFILES = 16
MOST_JXR_ENTRIES = 1024


def cr3(position, extra_gps_entries=0, moov_boxes_before=0, cmt4_padding=0, cut=0):
    """ftyp crx, moov [free..., Canon uuid [CNCV, CMT1-4], a trak past moov's end], mdat.

    The trak whose size runs past moov's end makes exiv2 0.27 and 0.28 give
    up ("corrupted image metadata"), as they do on current bodies' files.
    """
    empty_tiff = b"II*\0" + bytes(4)
    canon = box(b"CNCV", b"CanonCR3_001/00.09.00/00.00.00")
    for name in (b"CMT1", b"CMT2", b"CMT3"):
        canon += box(name, empty_tiff)
    # CMT4 is a TIFF whose first directory is the GPS directory; more entries
    # (tags that no GPS reader knows) come after the GPS tags.
    cmt4 = Tiff()
    unknown = [(0x100 + i, ASCII, 1, 0) for i in range(extra_gps_entries)]
    canon += box(b"CMT4", cmt4.first_directory(gps_directory(cmt4, position, unknown)) +
                 bytes(cmt4_padding))
    moov = box(b"free", b"") * moov_boxes_before + box(b"uuid", CANON_UUID + canon)
    moov += struct.pack(">I", 0x10000) + b"trak"
    data = (box(b"ftyp", b"crx \0\0\0\x01crx isom") + box(b"moov", moov) +
            box(b"mdat", bytes(64)))
    return data[:len(data) - cut] if cut else data


def jxr(position, extra_entries=0, pointer_past_end=0):
    """'II\\xBC\\x01', the GPS directory, and a first directory of image tags
    and, last, the GPS pointer."""
    tiff = Tiff(magic=0x01BC)
    gps = gps_directory(tiff, position)
    entries = [(0xBC00 + i % 0x80, LONG, 1, 0) for i in range(extra_entries)]
    entries.append((GPS_POINTER, LONG, 1, gps + pointer_past_end))
    return tiff.first_directory(tiff.directory(entries, sort=False))


def heif_images(primary, images, mdat_past_end=0, cut_inside_last=0):
    """ftyp, meta [hdlr, pitm, iinf, iref cdsc, iloc], mdat with the Exif items.

    images: (image id, Exif item id, TIFF data or None). With mdat_past_end,
    mdat states a 64-bit size that much beyond the file's end, and the last
    `cut_inside_last` bytes of the last Exif item are missing.
    """
    infes, references, items = [], b"", []
    for image_id, exif_id, tiff in images:
        infes.append(infe(image_id, b"hvc1"))
        if tiff is not None:
            infes.append(infe(exif_id, b"Exif"))
            references += cdsc(exif_id, image_id)
            items.append((exif_id, exif_item(tiff, b"Exif\0\0")))
    offsets = list(itertools.accumulate((len(item) for _, item in items), initial=0))

    def children(start):
        located = [(item_id, start + at, len(item)) for (item_id, item), at in zip(items, offsets)]
        return (full_box(b"pitm", 0, 0, struct.pack(">H", primary)) + iinf(*infes) +
                full_box(b"iref", 0, 0, references) + iloc(located))
    return heif(children, b"".join(item for _, item in items), mdat_past_end, cut_inside_last)


def good_pictures():
    """name -> (bytes, (latitude, longitude)) of the pictures that open the map."""
    tokyo, sydney = gps_tiff(TOKYO), gps_tiff(SYDNEY)
    return {
        "canon.cr3": (cr3(TOKYO), TOKYO),
        "raw-text.png": (png(raw_profile_chunk(b"tEXt", raw_profile_text(sydney))), SYDNEY),
        "raw-compressed.png": (png(raw_profile_chunk(b"zTXt", raw_profile_text(tokyo))), TOKYO),
        "raw-international.png": (png(raw_profile_chunk(
            b"iTXt", raw_profile_text(b"Exif\0\0" + sydney, "APP1"),
            b"Raw profile type APP1")), SYDNEY),
        "gps.jxr": (jxr(REYKJAVIK), REYKJAVIK),
        "cut-short.heic": (heif_images(1, [(1, 7, tokyo)], mdat_past_end=1 << 30), TOKYO),
        # The position in the other image's Exif, listed first; the primary's has none.
        "stereo.heic": (heif_images(2, [(1, 7, gps_tiff(REYKJAVIK)), (2, 8, no_gps_tiff())]),
                        REYKJAVIK),
        "stereo-primary-first.heic": (heif_images(2, [(1, 7, sydney), (2, 8, tokyo)]), TOKYO),
        "xmp.gif": (gif(xmp_packet("64,8.25N", "21,56.1W")), REYKJAVIK),
        "exif.bpg": (bpg((1, sydney)), SYDNEY),
        # A stated byte count is a hint: the hex digits hold the whole TIFF.
        "count-below-digits.png": (png(raw_profile_chunk(b"tEXt", raw_profile_text(tokyo).replace(
            f"{len(tokyo):8d}", f"{len(tokyo) - 7:8d}", 1))), TOKYO),
    }


def broken_twins():
    """name -> bytes of the twins that break a bound and must give message B."""
    tokyo = gps_tiff(TOKYO)
    text = raw_profile_text(tokyo)
    odd = text[:-4] + "g" + text[-3:]
    bomb = text + "\n" * (LARGEST_INFLATED_TEXT + 1)
    junk = [raw_profile_chunk(b"tEXt", "\nexif\n")] * MOST_RAW_PROFILES
    return {
        "gps-entries-over.cr3": cr3(TOKYO, extra_gps_entries=MOST_GPS_ENTRIES - 3),
        "moov-boxes-over.cr3": cr3(TOKYO, moov_boxes_before=MOST_MOOV_BOXES),
        "cmt4-over.cr3": cr3(TOKYO, cmt4_padding=LARGEST_CMT4),
        "odd-hex.png": png(raw_profile_chunk(b"tEXt", odd)),
        "bomb.png": png(raw_profile_chunk(b"zTXt", bomb)),
        "profiles-over.png": png(*junk, raw_profile_chunk(b"tEXt", text)),
        "entries-over.jxr": jxr(TOKYO, extra_entries=MOST_JXR_ENTRIES),
        "pointer-past-end.jxr": jxr(TOKYO, pointer_past_end=4096),
        "mdat-cuts-exif.heic": heif_images(1, [(1, 7, tokyo)], mdat_past_end=1 << 30,
                                    cut_inside_last=10),
    }


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: formats.py DIRECTORY")
    os.makedirs(sys.argv[1], exist_ok=True)
    made = {name: data for name, (data, _) in good_pictures().items()}
    made.update(broken_twins())
    for name, data in made.items():
        print(write(os.path.join(sys.argv[1], name), data))
