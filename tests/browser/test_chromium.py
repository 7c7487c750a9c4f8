"""A real browser receives the map URL: Debian's chromium, headless, is the
default https handler of a throwaway HOME, and the real xdg-open starts it.

The page cannot load (no network here); the test reads chromium's DevTools
list of targets on the loopback interface and compares the page's URL with
the one photomap composes. Chromium is ended by its process id.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.request

PHOTOMAP = os.path.abspath(os.environ.get("PHOTOMAP", "build/host/photomap"))
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")
SAMPLE_URL = "https://www.google.com/maps/place/48.85822222,2.29450000"
WAIT = 30


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def page_targets(port):
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d/json" % port, timeout=2) as answer:
            return [t for t in json.load(answer) if t.get("type") == "page"]
    except OSError:
        return None


class RealBrowser(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="photomap-browser-")
        self.port = free_port()
        self.pid_file = os.path.join(self.home, "chromium.pid")
        data = os.path.join(self.home, ".local", "share", "applications")
        config = os.path.join(self.home, ".config")
        os.makedirs(data)
        os.makedirs(config)
        flags = ["--headless", "--remote-debugging-port=%d" % self.port,
                 "--remote-debugging-address=127.0.0.1",
                 "--user-data-dir=" + os.path.join(self.home, "profile"), "--disable-gpu",
                 "--disable-quic", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync"]
        if os.getuid() == 0:
            flags.append("--no-sandbox")
        # A launcher that notes chromium's pid, so that the test can end it by pid.
        launcher = os.path.join(self.home, "start-chromium")
        with open(launcher, "w") as script:
            script.write("#!/bin/sh\necho $$ > '%s'\nexec chromium %s \"$@\"\n"
                         % (self.pid_file, " ".join(flags)))
        os.chmod(launcher, 0o755)
        with open(os.path.join(data, "test-chromium.desktop"), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Test Chromium\n"
                        "Exec=%s %%u\nMimeType=x-scheme-handler/https;\n" % launcher)
        with open(os.path.join(config, "mimeapps.list"), "w") as defaults:
            defaults.write("[Default Applications]\n"
                           "x-scheme-handler/https=test-chromium.desktop\n")
        self.environment = {"HOME": self.home, "PATH": "/usr/bin:/bin",
                            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
                            "XDG_CONFIG_HOME": config, "DISPLAY": ":photomap-none"}

    def tearDown(self):
        pid = self.read_pid()
        if pid is not None:
            try:
                os.kill(pid, signal.SIGTERM)
                deadline = time.monotonic() + WAIT
                while time.monotonic() < deadline:
                    os.kill(pid, 0)
                    time.sleep(0.1)
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        shutil.rmtree(self.home, ignore_errors=True)

    def read_pid(self):
        try:
            with open(self.pid_file) as pid:
                return int(pid.read())
        except (OSError, ValueError):
            return None

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
