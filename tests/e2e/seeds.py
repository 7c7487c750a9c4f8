"""One small picture with a GPS position for each kind of file photomap reads.

The malformed-input tests cut and flip these; scripts/make-fuzz-seeds.sh
writes them as the fuzzers' seed corpus. Run as a script:
    python3 seeds.py DIRECTORY
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures  # noqa: E402

# file name -> (latitude, longitude), each (d, m, s, ref) as pictures.exif_gps takes them
EXIF_SEEDS = {
    "exif.jpg": ((48, 51, 29.6, "N"), (2, 17, 40.2, "E")),
    "exif.tif": ((22, 54, 30.0, "S"), (43, 10, 21.0, "W")),
    "exif.png": ((33, 51, 24.42, "S"), (151, 12, 47.19, "E")),
    "exif.webp": ((37, 46, 29.64, "N"), (122, 25, 9.84, "W")),
    "exif.heic": ((35, 39, 31.0, "N"), (139, 44, 43.0, "E")),
}
XMP_SEED = ("xmp.jpg", "64,8.25N", "21,56,6W")
XMP_SEED_DEGREES = (64 + 8.25 / 60, -(21 + 56 / 60 + 6 / 3600))
NAMES = list(EXIF_SEEDS) + [XMP_SEED[0]]


def expected_url(name):
    """The map URL that the intact seed picture `name` opens."""
    if name == XMP_SEED[0]:
        return pictures.place(*XMP_SEED_DEGREES)
    latitude, longitude = EXIF_SEEDS[name]
    return pictures.place(pictures.expected_degrees(*latitude),
                          pictures.expected_degrees(*longitude))


def heic_picture(path, latitude, longitude):
    """A HEIC picture whose Exif item holds the GPS position; needs heif-enc (libheif-examples).

    heif-enc locates items with base offsets, as many writers do, which
    exiv2 0.27 alone does not follow.
    """
    with tempfile.TemporaryDirectory() as scratch:
        source = pictures.picture(os.path.join(scratch, "source.jpg"), latitude, longitude)
        subprocess.run(["heif-enc", "-q", "50", "-o", path, source], check=True,
                       stdout=subprocess.DEVNULL)
    return path


def make_seed(path):
    """Writes the seed picture that `path`'s file name names; returns `path`."""
    name = os.path.basename(path)
    if name == XMP_SEED[0]:
        return pictures.picture(path, extra=pictures.xmp_gps(*XMP_SEED[1:]))
    make = heic_picture if name.endswith(".heic") else pictures.picture
    return make(path, *EXIF_SEEDS[name])


def make_seed_pictures(directory):
    """Writes every seed picture into `directory`; returns their paths, in a fixed order."""
    os.makedirs(directory, exist_ok=True)
    return [make_seed(os.path.join(directory, name)) for name in NAMES]


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: seeds.py DIRECTORY")
    for made in make_seed_pictures(sys.argv[1]):
        print(made)
