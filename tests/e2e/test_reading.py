"""Every picture opens its exact map, from any storage and under the caller's
limits, and photomap loads exiv2 only for a picture its own readers cannot read.

One table: each row is a picture made here and where it is read from: a
folder, a FUSE share of the tests' own (tests/support/slowfs.py) that shows
every file with size 0, one that answers each read with 4 KiB, or the folder
as nobody under `ulimit -v 500000`. On a folder, strace (-z: calls that
succeeded) also tells whether photomap opened libexiv2 or the plugin that
links it. exiftool reads each picture's position first, under the row's
limits, so that a failure here is photomap's, not the picture's.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
import pictures  # noqa: E402
import seeds  # noqa: E402
import test_reliability  # noqa: E402
from crafted import GPS_EXIF, MAP_URL, POSITION  # noqa: E402
from picture_bytes import (ASCII, EOI, GPS_POINTER, LONG, SHORT, UNDEFINED, Tiff,  # noqa: E402
                           exif_segment, gps_directory, gps_tiff, icc_segments, jpeg, png,
                           png_chunk, raw_profile_chunk, raw_profile_text, segment, shorts, write)
from runs import is_sanitized  # noqa: E402

EXIFTOOL = shutil.which("exiftool")
STRACE = shutil.which("strace")
EXIV2_OPENED = re.compile(r'"(?:[^"]*/)?lib(exiv2|photomap-exiv2)\.so[^"/]*"')
PIECE = 4096
SHARES = {"size 0": {"direct_io": True, "zero_size": True},
          "4 KiB pieces": {"direct_io": True, "piece": PIECE}}
LIMITED = test_reliability.UNPRIVILEGED + ("/bin/sh", "-c", 'ulimit -v 500000 && exec "$0" "$@"')
XMP_ONLY = ("48,51.4933N", "2,17.67E")


def with_image(path, *segments):
    """A JPEG of `segments` and then an encoded image's own (ImageMagick's)."""
    with open(pictures.blank_image(path, "320x240"), "rb") as image:
        return jpeg(*segments, image=image.read())


def phone_jpeg(path):
    """Exif as a phone writes it, IFD1 with an 18 KB thumbnail; the GPS
    directory after the thumbnail, past the first 4 KiB."""
    tiff = Tiff()
    thumbnail = jpeg(segment(0xFE, bytes(18_000)))
    at = tiff.place(thumbnail)
    ifd1 = tiff.directory([(0x103, SHORT, 1, shorts(6)), (0x201, LONG, 1, at),
                           (0x202, LONG, 1, len(thumbnail))])
    exif = tiff.directory([(0x9003, ASCII, 20, b"2026:12:10 10:45:00\0")])
    ifd0 = tiff.directory([(0x10F, ASCII, 6, b"Phone\0"), (0x8769, LONG, 1, exif),
                           (GPS_POINTER, LONG, 1, gps_directory(tiff, POSITION))], ifd1)
    return write(path, with_image(path, exif_segment(tiff.first_directory(ifd0))))


def large_jpeg(path):
    """600 MB: the Exif at the front, the scan padded with a hole before EOI."""
    head = with_image(path, GPS_EXIF)[:-2]
    return write(path, head, 600_000_000 - len(head) - 2, EOI)


def large_raw_profile_png(path):
    # exiv2 0.27 inflates a text chunk to 128 KiB at most; this one's hex is 180 KB.
    tiff = gps_tiff(POSITION, [(0xC000, UNDEFINED, 90_000, bytes(90_000))])
    return write(path, png(raw_profile_chunk(b"zTXt", raw_profile_text(tiff))))


def broken_raw_profile_png(path):
    # The profile's first digit ("49" of "II") is none.
    broken = raw_profile_text(gps_tiff(POSITION)).replace("\n49", "\ng9", 1)
    return write(path, png(raw_profile_chunk(b"tEXt", broken),
                           png_chunk(b"eXIf", gps_tiff(POSITION))))


def icc_jpeg(path):
    """An ICC profile in 22 APP2 segments that states 100 bytes fewer than
    they hold: with the image's own, more than 24 segments before the scan."""
    profile = struct.pack(">I", 21_900) + bytes(32) + b"acsp" + bytes(22_000 - 40)
    return write(path, with_image(path, GPS_EXIF, *icc_segments(profile, 1000)))


# label, file name, maker, URL, where it is read (a share, "folder" or
# "limits"), whether exiv2 is loaded (None: not traced): only for what our
# own readers do not read, a PSD and XMP.
ROWS = [("%s on a share of size 0" % name, name, seeds.make_seed, seeds.expected_url(name),
         "size 0", None) for name in seeds.NAMES] + [
    ("phone JPEG on a share of 4 KiB pieces", "phone.jpg", phone_jpeg, MAP_URL, "4 KiB pieces",
     None),
    ("600 MB JPEG under ulimit -v 500000", "large.jpg", large_jpeg, MAP_URL, "limits", None),
    ("PNG, 90 KB Exif in a zTXt raw profile", "profile.png", large_raw_profile_png, MAP_URL,
     "folder", False),
    ("PNG, broken raw profile, then eXIf", "broken.png", broken_raw_profile_png, MAP_URL,
     "folder", False),
    ("JPEG, ICC profile of a wrong size in 22 segments", "icc.jpg", icc_jpeg, MAP_URL,
     "folder", False),
    ("JPEG, Exif GPS", "gps.jpg", lambda path: pictures.picture(path, *POSITION), MAP_URL,
     "folder", False),
    ("PSD, Exif GPS", "gps.psd", lambda path: pictures.picture(path, *POSITION), MAP_URL,
     "folder", True),
    ("JPEG, GPS in XMP only", "xmp-only.jpg",
     lambda path: pictures.picture(path, extra=pictures.xmp_gps(*XMP_ONLY)),
     pictures.place(pictures.expected_degrees(48, 51.4933, 0, "N"),
                    pictures.expected_degrees(2, 17.67, 0, "E")), "folder", True),
]


class EveryStorage(test_reliability.ReliabilityRun):
    def test_every_row_opens_its_map(self):
        self.assertIsNotNone(STRACE, "strace is needed (Debian package strace)")
        self.need_space()
        source = tempfile.mkdtemp(dir=self.large)
        self.addCleanup(shutil.rmtree, source)
        records = self.path("records")
        os.mkdir(records)
        for folder, mode in ((self.root, 0o755), (self.bin, 0o755), (self.dir, 0o755),
                             (self.large, 0o755), (source, 0o755), (records, 0o777)):
            os.chmod(folder, mode)  # nobody reaches them
        for _, name, make, _, _, _ in ROWS:
            os.chmod(make(os.path.join(source, name)), 0o644)
        shares = {}
        for kind, options in SHARES.items():
            try:
                shares[kind] = self.slow_share(source, "share-%d" % len(shares), **options)
            except unittest.SkipTest as reason:
                print("%s share: %s" % (kind, reason), file=sys.stderr)
        for number, (label, name, _, url, where, loads_exiv2) in enumerate(ROWS):
            with self.subTest(label):
                original = os.path.join(source, name)
                self.assert_position(original, url, LIMITED if where == "limits" else ())
                self.assert_map([self.run_row(label, number, original, where, shares, records)],
                                url)
                if loads_exiv2 is not None:
                    with open(self.path("trace-%d" % number)) as trace:
                        opened = [found[0] for found in EXIV2_OPENED.finditer(trace.read())]
                    self.assertEqual(bool(opened), loads_exiv2, "exiv2 loaded: %s" % opened)

    def run_row(self, label, number, original, where, shares, records):
        prefix, path = (), original
        if where in SHARES:
            if where not in shares:
                self.skipTest("no FUSE share here")
            path = shares[where].path(os.path.basename(original))
            self.assert_share_shows(where, path, original)
        elif where == "limits":
            if is_sanitized(self.photomap):
                self.skipTest("AddressSanitizer reserves terabytes of address space")
            prefix = LIMITED
        else:
            prefix = (STRACE, "-f", "-qq", "-z", "-e", "trace=openat,open", "-o",
                      self.path("trace-%d" % number))
        return self.run_recorded(label, path, prefix=prefix,
                                 record=os.path.join(records, str(number)),
                                 timeout=test_reliability.SLOW_RUN_TIMEOUT,
                                 extra_environment={"ASAN_OPTIONS": os.environ.get(
                                     "ASAN_OPTIONS", "") + ":detect_leaks=0"})

    def assert_share_shows(self, kind, path, original):
        """The share's file is what its kind says."""
        with open(original, "rb") as picture:
            data = picture.read()
        with open(path, "rb") as shown:
            if kind == "size 0":
                self.assertEqual((os.fstat(shown.fileno()).st_size, shown.read()), (0, data))
            else:
                self.assertEqual(len(os.pread(shown.fileno(), 4 * PIECE, 0)), PIECE)

    def assert_position(self, picture, url, prefix):
        """exiftool reads the URL's position in the picture."""
        if EXIFTOOL is None:
            print("exiftool (libimage-exiftool-perl) is missing: %s unchecked" % picture,
                  file=sys.stderr)
            return
        found = subprocess.run(list(prefix) + [EXIFTOOL, "-n", "-s3", "-GPSPosition", picture],
                               capture_output=True, text=True, timeout=120).stdout.split()
        expected = [float(value) for value in url.rpartition("/")[2].split(",")]
        self.assertEqual(len(found), 2, "exiftool finds no position in the fixture")
        for value, wanted in zip(found, expected):
            self.assertAlmostEqual(float(value), wanted, places=6)


if __name__ == "__main__":
    unittest.main(verbosity=2)
