"""A real browser receives the map URL: Debian's chromium, headless, is the
default https handler of a throwaway HOME, and the real xdg-open starts it.

The page cannot load (no network here); the test reads chromium's DevTools
list of targets on the loopback interface and compares the page's URL with
the one photomap composes. Chromium is ended by its process id.
"""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from headless_chromium import ChromiumHome, end_process, free_port, page_targets

PHOTOMAP = os.path.abspath(os.environ.get("PHOTOMAP", "build/host/photomap"))
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")
SAMPLE_URL = "https://www.google.com/maps/place/48.85822222,2.29450000"
WAIT = 30


class RealBrowser(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="photomap-browser-")
        self.port = free_port()
        self.chromium = ChromiumHome(self.home, self.port)
        self.chromium.start_chromium_per_url()
        self.environment = self.chromium.environment

    def tearDown(self):
        pid = self.read_pid()
        if pid is not None:
            end_process(pid, WAIT)
        shutil.rmtree(self.home, ignore_errors=True)

    def read_pid(self):
        return self.chromium.read_pid()

    def run_photomap(self, picture):
        return subprocess.run([PHOTOMAP, picture], env=self.environment, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=WAIT)

    def test_chromium_opens_a_tab_at_the_map_url(self):
        # xdg-open asks xdg-mime for the https handler where DISPLAY is set.
        handler = subprocess.run(["xdg-mime", "query", "default", "x-scheme-handler/https"],
                                 env=self.environment, capture_output=True, text=True).stdout
        self.assertEqual(handler.strip(), "test-chromium.desktop")
        result = self.run_photomap(SAMPLE)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        deadline = time.monotonic() + WAIT
        pages = None
        while time.monotonic() < deadline and not pages:
            pages = page_targets(self.port)
            time.sleep(0.2)
        self.assertTrue(pages, "chromium showed no page within %d s" % WAIT)
        self.assertEqual([page["url"] for page in pages], [SAMPLE_URL])

    def test_a_picture_without_gps_opens_no_tab(self):
        with tempfile.TemporaryDirectory() as directory:
            plain = os.path.join(directory, "plain.jpg")
            subprocess.run(["convert", "-size", "16x16", "xc:gray", plain], check=True)
            result = self.run_photomap(plain)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"Please supply a JPG picture", result.stderr)
        time.sleep(1)
        self.assertIsNone(self.read_pid(), "xdg-open started a browser")
        self.assertIsNone(page_targets(self.port))


if __name__ == "__main__":
    unittest.main(verbosity=2)
