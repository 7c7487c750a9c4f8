#!/usr/bin/env bash
# Makes the fuzzers' seed corpus in DIRECTORY (default build/fuzz/seeds):
#   picture_parser/   one small picture with a GPS position per format photomap
#                 reads: EXIF in JPEG, TIFF, PNG, WebP and HEIC, and an
#                 XMP-only JPEG (tests/e2e/seeds.py makes them)
#   bmff_exif/    the HEIC seed picture, for the HEIF item-table search
#   exif_gps/     the picture_parser pictures, and a PNG with the JPEG's Exif in
#                 an eXIf chunk (exiv2 writes it as a text chunk instead)
#   own_exif/     the pictures only our own readers read and their broken
#                 twins (CR3, PNG raw profiles, JPEG XR, HEIF cut short or
#                 with several images; tests/e2e/formats.py makes them), also
#                 among picture_parser's seeds
#   prop_value/   tagged values as prop_value_fuzzer reads them: scalars and
#                 vectors of doubles and floats, and a few types that do not
#                 convert
# Needs ImageMagick's convert, the exiv2 command, heif-enc and python3
# (Debian's imagemagick, exiv2, libheif-examples, python3).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build/fuzz/seeds}"
rm -rf "$out/picture_parser" "$out/prop_value" "$out/bmff_exif" "$out/own_exif" "$out/exif_gps"
mkdir -p "$out/picture_parser" "$out/prop_value" "$out/bmff_exif" "$out/own_exif" "$out/exif_gps"

python3 "$root/tests/e2e/seeds.py" "$out/picture_parser" >/dev/null
cp "$out/picture_parser/exif.heic" "$out/bmff_exif/"
python3 "$root/tests/e2e/formats.py" "$out/own_exif" >/dev/null
# The twin with a CMT4 over 1 MiB would make libFuzzer try inputs that large.
find "$out/own_exif" -type f -size +64k -delete
cp "$out/own_exif"/* "$out/picture_parser/"
cp "$out/own_exif"/*.heic "$out/bmff_exif/"
cp "$out/picture_parser/"* "$out/exif_gps/"

python3 - "$out/picture_parser/exif.jpg" "$out/exif_gps/exif-chunk.png" <<'PYTHON'
import struct
import sys
import zlib

jpeg = open(sys.argv[1], "rb").read()
start = jpeg.index(b"Exif\0\0")
length = struct.unpack(">H", jpeg[start - 2:start])[0]
tiff = jpeg[start + 6:start - 2 + length]

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
png += chunk(b"eXIf", tiff) + chunk(b"IDAT", zlib.compress(b"\0\0")) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PYTHON

# Layout: 2-byte little-endian type tag; for a vector a 1-byte element
# count and the elements; for a scalar the value's 8 bytes.
python3 - "$out/prop_value" <<'PYTHON'
import os
import struct
import sys

VT_R4, VT_R8, VT_I4, VT_LPWSTR, VT_VECTOR, VT_BYREF = 4, 5, 3, 31, 0x1000, 0x4000
seeds = {
    "r8-scalar": struct.pack("<Hd", VT_R8, 48.858222),
    "r4-scalar": struct.pack("<Hf4x", VT_R4, -33.85678),
    "r8-dms": struct.pack("<HB3d", VT_VECTOR | VT_R8, 3, 48.0, 51.0, 29.6),
    "r4-dms": struct.pack("<HB3f", VT_VECTOR | VT_R4, 3, 151.0, 12.0, 47.19),
    "r8-dm": struct.pack("<HB2d", VT_VECTOR | VT_R8, 2, 122.0, 25.164),
    "r8-empty": struct.pack("<HB", VT_VECTOR | VT_R8, 0),
    "r8-long": struct.pack("<HB8d", VT_VECTOR | VT_R8, 8, *[59.0] * 8),
    "i4-vector": struct.pack("<HB3q", VT_VECTOR | VT_I4, 3, 48, 51, 29),
    "i4-scalar": struct.pack("<Hq", VT_I4, 48),
    "string": struct.pack("<H", VT_LPWSTR) + "51,28,38N".encode("utf-32-le"),
    "r8-byref": struct.pack("<Hd", VT_BYREF | VT_R8, 1.0),
}
for name, data in seeds.items():
    with open(os.path.join(sys.argv[1], name), "wb") as seed:
        seed.write(data)
PYTHON
echo "wrote $(ls "$out/picture_parser" | wc -l) pictures, $(ls "$out/prop_value" | wc -l)" \
    "values, $(ls "$out/bmff_exif" | wc -l) HEIF files, $(ls "$out/exif_gps" | wc -l) Exif" \
    "pictures and $(ls "$out/own_exif" | wc -l) files for our own readers to $out"
