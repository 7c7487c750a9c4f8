#!/usr/bin/env bash
# Makes samples/eiffel-tower.jpg: a small gradient JPEG whose EXIF GPS
# position is the Eiffel Tower in Paris, 48° 51' 29.6" N, 2° 17' 40.2" E.
# Needs ImageMagick's convert and the exiv2 command (Debian's imagemagick, exiv2).
set -euo pipefail
out="${1:-$(dirname "$0")/../samples/eiffel-tower.jpg}"
mkdir -p "$(dirname "$out")"
convert -size 160x120 gradient:skyblue-gray45 -quality 85 -strip "$out"
exiv2 -q \
    -M"set Exif.GPSInfo.GPSVersionID 2 3 0 0" \
    -M"set Exif.GPSInfo.GPSLatitudeRef N" \
    -M"set Exif.GPSInfo.GPSLatitude 48/1 51/1 296/10" \
    -M"set Exif.GPSInfo.GPSLongitudeRef E" \
    -M"set Exif.GPSInfo.GPSLongitude 2/1 17/1 402/10" \
    "$out"
echo "wrote $out"
