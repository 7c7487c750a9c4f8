#!/usr/bin/env bash
# Makes pictures of about 50 MB with the Eiffel Tower's GPS position (noise,
# so that they stay large when compressed) and prints the pages that
# parsing each touches, as photomap parses it and with exiv2 alone
# (bench/pages_touched.cpp). The PNG comes three ways: as exiv2 writes it
# (Exif in a text chunk) and with the Exif in an eXIf chunk before and after
# the image data.
#   bench/pages_touched.sh [DIRECTORY]   (default build/pages)
# Needs the host build, ImageMagick's convert, exiv2, heif-enc and python3.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build/pages}"
mkdir -p "$out"
cmake --build --preset host --target photomap_pages_touched >/dev/null

gps=(-M"set Exif.GPSInfo.GPSLatitude 48/1 51/1 2959/100" -M"set Exif.GPSInfo.GPSLatitudeRef N"
     -M"set Exif.GPSInfo.GPSLongitude 2/1 17/1 4000/100" -M"set Exif.GPSInfo.GPSLongitudeRef E")
make() {  # NAME WIDTHxHEIGHT [convert options]
    local name="$1" size="$2"
    shift 2
    [ -s "$out/$name" ] && return
    convert -size "$size" xc: +noise Random "$@" "$out/$name"
    exiv2 -q "${gps[@]}" "$out/$name"
}
make noise.jpg 5200x4000 -quality 100
make noise.tif 4100x4100 -depth 8 -compress none
make noise.png 4100x4100 -depth 8
make noise.webp 4400x3600 -define webp:lossless=true
[ -s "$out/noise.heic" ] || heif-enc -q 100 -o "$out/noise.heic" "$out/noise.jpg" >/dev/null

# The JPEG's Exif block in an eXIf chunk, first and last, of the noise PNG.
python3 - "$out" <<'PYTHON'
import struct
import sys
import zlib

out = sys.argv[1]
jpeg = open(f"{out}/noise.jpg", "rb").read()
start = jpeg.index(b"Exif\0\0")
tiff = jpeg[start + 6:start - 2 + struct.unpack(">H", jpeg[start - 2:start])[0]]
exif = struct.pack(">I", len(tiff)) + b"eXIf" + tiff + struct.pack(">I", zlib.crc32(b"eXIf" + tiff))
png = open(f"{out}/noise.png", "rb").read()
chunks, at = [], 8
while at < len(png):
    length = struct.unpack(">I", png[at:at + 4])[0]
    kind = png[at + 4:at + 8]
    if kind not in (b"zTXt", b"tEXt", b"iTXt"):  # exiv2's copy of the Exif
        chunks.append(png[at:at + 12 + length])
    at += 12 + length
open(f"{out}/noise-exif-first.png", "wb").write(png[:8] + chunks[0] + exif + b"".join(chunks[1:]))
open(f"{out}/noise-exif-last.png", "wb").write(png[:8] + b"".join(chunks[:-1]) + exif + chunks[-1])
PYTHON

cd "$out"
"$root/build/host/photomap_pages_touched" noise.jpg noise.tif noise.png noise-exif-first.png \
    noise-exif-last.png noise.webp noise.heic
