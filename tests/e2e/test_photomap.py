"""End-to-end runs of the built photomap on pictures made here.

A stand-in xdg-open, first on PATH, records the URL it is handed. Every run
must exit 0 and end either with exactly one URL handed over and nothing on
stderr, or with message B on stderr and nothing handed over.
"""

import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import newer_formats  # noqa: E402
import pictures  # noqa: E402

PHOTOMAP = os.environ.get("PHOTOMAP", "build/host/photomap")
MESSAGE_B = b"Error: Please supply a JPG picture with GPS information as argument\n"
RUN_TIMEOUT = 10

XDG_OPEN_STAND_IN = """#!/bin/sh
printf '%s\\n' "$1" >> "$PHOTOMAP_URL_RECORD"
"""


class PhotomapRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.photomap = os.path.abspath(PHOTOMAP)
        cls.root = tempfile.mkdtemp(prefix="photomap-e2e-")
        cls.bin = os.path.join(cls.root, "bin")
        os.mkdir(cls.bin)
        stand_in = os.path.join(cls.bin, "xdg-open")
        with open(stand_in, "w") as script:
            script.write(XDG_OPEN_STAND_IN)
        os.chmod(stand_in, 0o755)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=self.root)
        self.record = os.path.join(self.dir, "urls")

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_photomap(self, *arguments, cwd=None, user_prefix=()):
        environment = dict(os.environ)
        environment["PATH"] = self.bin + os.pathsep + environment.get("PATH", "")
        environment["PHOTOMAP_URL_RECORD"] = self.record
        # Messages on stderr only: no desktop dialog that would wait for a click.
        environment.pop("DISPLAY", None)
        environment.pop("WAYLAND_DISPLAY", None)
        command = list(user_prefix) + [self.photomap] + list(arguments)
        result = subprocess.run(command, cwd=cwd, env=environment, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=RUN_TIMEOUT)
        return result

    def recorded_urls(self, expect_one):
        # xdg-open is started detached and may finish after photomap has exited.
        deadline = time.monotonic() + (5 if expect_one else 0.3)
        while time.monotonic() < deadline:
            if os.path.exists(self.record):
                with open(self.record) as record:
                    text = record.read()
                if text.endswith("\n"):
                    return text.splitlines()
            time.sleep(0.02)
        return []

    def assert_opens(self, url, *arguments, cwd=None):
        result = self.run_photomap(*arguments, cwd=cwd)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(self.recorded_urls(expect_one=True), [url])

    def assert_message_b(self, *arguments, cwd=None, user_prefix=()):
        result = self.run_photomap(*arguments, cwd=cwd, user_prefix=user_prefix)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, MESSAGE_B)
        self.assertEqual(self.recorded_urls(expect_one=False), [])


SAN_FRANCISCO = ((37, 46, 29.64, "N"), (122, 25, 9.84, "W"))
SYDNEY = ((33, 51, 24.42, "S"), (151, 12, 47.19, "E"))
RIO = ((22, 54, 30.0, "S"), (43, 10, 21.0, "W"))


def url_for(position):
    latitude, longitude = position
    return pictures.place(pictures.expected_degrees(*latitude),
                          pictures.expected_degrees(*longitude))


class OpensTheMap(PhotomapRun):
    def test_northern_and_western_hemispheres(self):
        photo = pictures.picture(self.path("sf.jpg"), *SAN_FRANCISCO)
        self.assert_opens("https://www.google.com/maps/place/37.77490000,-122.41940000", photo)

    def test_southern_and_eastern_hemispheres(self):
        photo = pictures.picture(self.path("sydney.jpg"), *SYDNEY)
        self.assert_opens(url_for(SYDNEY), photo)

    def test_southern_and_western_hemispheres(self):
        photo = pictures.picture(self.path("rio.jpg"), *RIO)
        self.assert_opens(url_for(RIO), photo)

    def test_zero_longitude_in_the_west_has_no_sign(self):
        photo = pictures.picture(self.path("greenwich.jpg"), (51, 28, 38.0, "N"), (0, 0, 0.0, "W"))
        self.assert_opens("https://www.google.com/maps/place/51.47722222,0.00000000", photo)

    def test_missing_reference_letters_leave_the_position_positive(self):
        photo = pictures.picture(self.path("noref.jpg"), (10, 30, 0.0, None), (20, 15, 0.0, None))
        self.assert_opens(pictures.place(10.5, 20.25), photo)

    def test_tiff(self):
        self.assert_opens(url_for(RIO), pictures.picture(self.path("rio.tif"), *RIO))

    def test_png(self):
        self.assert_opens(url_for(SYDNEY), pictures.picture(self.path("sydney.png"), *SYDNEY))

    def test_webp(self):
        self.assert_opens(url_for(SYDNEY), pictures.picture(self.path("sydney.webp"), *SYDNEY))

    def test_xmp_only_picture(self):
        photo = pictures.picture(self.path("xmp.jpg"),
                                 extra=pictures.xmp_gps("33,51,24.42S", "151,12.7865E"))
        self.assert_opens(pictures.place(-(33 + 51 / 60 + 24.42 / 3600), 151 + 12.7865 / 60), photo)

    def test_zero_denominator_falls_back_to_xmp(self):
        photo = pictures.picture(
            self.path("zero.jpg"),
            extra=["set Exif.GPSInfo.GPSLatitude 48/0 51/1 0/1",
                   "set Exif.GPSInfo.GPSLatitudeRef N",
                   "set Exif.GPSInfo.GPSLongitude 2/1 17/1 0/1"]
            + pictures.xmp_gps("10,30.0S", "20,15,0W"))
        self.assert_opens(pictures.place(-10.5, 2 + 17 / 60), photo)

    def test_file_name_with_spaces(self):
        photo = pictures.picture(self.path("my holiday photo.jpg"), *SYDNEY)
        self.assert_opens(url_for(SYDNEY), photo)

    def test_file_name_that_is_not_utf8(self):
        name = os.path.join(os.fsencode(self.dir), b"caf\xe9 \xff.jpg")
        pictures.picture(self.path("plain.jpg"), *RIO)
        os.rename(self.path("plain.jpg"), name)
        self.assert_opens(url_for(RIO), name)

    def test_relative_path(self):
        os.mkdir(self.path("sub"))
        pictures.picture(self.path("sub/rel.jpg"), *SYDNEY)
        self.assert_opens(url_for(SYDNEY), "sub/rel.jpg", cwd=self.dir)

    def test_file_uri(self):
        photo = pictures.picture(self.path("uri photo \u00e9.jpg"), *RIO)
        self.assert_opens(url_for(RIO), pictures.file_uri(photo))

    def test_file_uri_with_localhost(self):
        photo = pictures.picture(self.path("local.jpg"), *RIO)
        uri = pictures.file_uri(photo).replace("file://", "file://localhost", 1)
        self.assert_opens(url_for(RIO), uri)


TOKYO = ((35, 39, 31.0, "N"), (139, 44, 43.0, "E"))


class OpensNewerFormats(PhotomapRun):
    """Formats that exiv2 0.28 reads and 0.27 may not."""

    def test_jpeg_xr_from_its_encoder(self):
        # exiv2 0.28 reads it; under 0.27 our own reader does (jxr_ifd.h).
        photo = newer_formats.jpeg_xr_picture(self.path("tokyo.jxr"), *TOKYO)
        self.assert_opens(url_for(TOKYO), photo)

    def test_hdr_avif_whatever_exiv2_makes_of_it(self):
        # Where exiv2 finds nothing, the file's own Exif item is read.
        photo = newer_formats.hdr_avif_picture(self.path("tokyo.avif"), *TOKYO)
        self.assert_opens(url_for(TOKYO), photo)


class ShowsMessageB(PhotomapRun):
    def test_no_argument(self):
        self.assert_message_b()

    def test_two_arguments(self):
        photo = pictures.picture(self.path("a.jpg"), *SYDNEY)
        self.assert_message_b(photo, photo)

    def test_unquoted_path_with_spaces_arrives_as_two_arguments(self):
        pictures.picture(self.path("two words.jpg"), *SYDNEY)
        self.assert_message_b(self.path("two"), "words.jpg")

    def test_path_that_does_not_exist(self):
        self.assert_message_b(self.path("nothing-here.jpg"))

    def test_directory(self):
        self.assert_message_b(self.dir)

    def test_fifo_without_writer_does_not_block(self):
        fifo = self.path("pipe.jpg")
        os.mkfifo(fifo)
        self.assert_message_b(fifo)

    def test_device(self):
        self.assert_message_b("/dev/null")

    def test_file_that_is_no_picture(self):
        with open(self.path("notes.jpg"), "w") as text:
            text.write("GPS 51 28 38 N\n")
        self.assert_message_b(self.path("notes.jpg"))

    def test_empty_file(self):
        open(self.path("empty.jpg"), "w").close()
        self.assert_message_b(self.path("empty.jpg"))

    def test_picture_without_gps(self):
        self.assert_message_b(pictures.blank_image(self.path("plain.jpg")))

    def test_latitude_only(self):
        self.assert_message_b(pictures.picture(self.path("lat.jpg"), latitude=SYDNEY[0]))

    def test_longitude_only(self):
        self.assert_message_b(pictures.picture(self.path("lon.jpg"), longitude=SYDNEY[1]))

    def test_zero_denominator_without_xmp(self):
        photo = pictures.picture(self.path("zero.jpg"), *SYDNEY,
                                 extra=["set Exif.GPSInfo.GPSLongitude 151/1 12/1 47/0"])
        self.assert_message_b(photo)

    def test_malformed_xmp_value(self):
        photo = pictures.picture(self.path("badxmp.jpg"),
                                 extra=pictures.xmp_gps("north-ish", "151,12.7865E"))
        self.assert_message_b(photo)

    def test_truncated_metadata(self):
        photo = pictures.picture(self.path("full.jpg"), *SYDNEY)
        for length in (2, 20, 60, 120):
            with self.subTest(length=length):
                self.assert_message_b(pictures.truncated_copy(photo, self.path("cut.jpg"), length))
        # Cut after the GPS values: what the position needs is there.
        self.assert_opens(url_for(SYDNEY), pictures.truncated_copy(photo, self.path("cut.jpg"), 200))

    def test_file_uri_of_a_remote_host(self):
        photo = pictures.picture(self.path("remote.jpg"), *RIO)
        self.assert_message_b(pictures.file_uri(photo).replace("file://", "file://example.org", 1))

    def test_unreadable_file(self):
        photo = pictures.picture(self.path("secret.jpg"), *RIO)
        os.chmod(photo, 0)
        prefix = ()
        if os.geteuid() == 0:
            # root reads anything: run as nobody, who can reach the file but not read it
            os.chmod(self.dir, 0o755)
            os.chmod(self.root, 0o755)
            prefix = ("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups")
        self.assert_message_b(photo, user_prefix=prefix)


if __name__ == "__main__":
    unittest.main(verbosity=2)
