"""Runs of the built photomap for the hardening tests.

Builds on test_photomap.PhotomapRun: the same stand-in xdg-open records the
URL it is handed, here into a record file of each run's own, so that many
runs can be started first and their URLs checked together afterwards.
"""

import itertools
import os
import re
import subprocess
import time

from test_photomap import MESSAGE_B, RUN_TIMEOUT, PhotomapRun

# "%.8f" of any double: a sign, digits, a point and eight decimals.
MAP_URL = re.compile(rb"https://www\.google\.com/maps/place/-?[0-9]+\.[0-9]{8},-?[0-9]+\.[0-9]{8}")

# How long a handed-over URL may take to reach the record: xdg-open runs
# detached and may finish after photomap has exited.
URL_WAIT = 5.0
# How long to watch for a URL that must never come.
NO_URL_WAIT = 0.3


def is_sanitized(program):
    """True when `program` was built with AddressSanitizer."""
    with open(program, "rb") as binary:
        return b"__asan_init" in binary.read()


class Outcome:
    """One finished run: what it printed, and where its URL would be recorded."""

    def __init__(self, label, result, record, seconds):
        self.label = label
        self.result = result
        self.record = record
        self.seconds = seconds


class HardeningRun(PhotomapRun):
    def setUp(self):
        super().setUp()
        self.run_numbers = itertools.count()

    def environment(self, record, extra=None):
        environment = dict(os.environ)
        environment["PATH"] = self.bin + os.pathsep + environment.get("PATH", "")
        environment["PHOTOMAP_URL_RECORD"] = record
        # Messages on stderr only: no desktop dialog that would wait for a click.
        environment.pop("DISPLAY", None)
        environment.pop("WAYLAND_DISPLAY", None)
        environment.update(extra or {})
        return environment

    def run_recorded(self, label, *arguments, record=None, stdin=subprocess.DEVNULL,
                     prefix=(), timeout=RUN_TIMEOUT, extra_environment=None, cwd=None):
        """Runs photomap to its end (a hang fails the test) and returns its Outcome."""
        if record is None:
            record = os.path.join(self.dir, "urls-%d" % next(self.run_numbers))
        command = list(prefix) + [self.photomap] + list(arguments)
        started = time.monotonic()
        result = subprocess.run(command, env=self.environment(record, extra_environment),
                                stdin=stdin, capture_output=True, timeout=timeout, cwd=cwd)
        return Outcome(label, result, record, time.monotonic() - started)

    def assert_clean_ends(self, outcomes, expected_url=None):
        """Every run exited 0 with either message B and no URL, or one map URL and a
        silent stderr; with `expected_url`, every run must have handed over that one."""
        waited_for_silence = False
        for outcome in outcomes:
            with self.subTest(run=outcome.label):
                result = outcome.result
                self.assertEqual(result.returncode, 0, result.stderr[-2000:])
                self.assertIn(result.stderr, (b"", MESSAGE_B))
                if result.stderr == MESSAGE_B:
                    self.assertIsNone(expected_url, "message B instead of the map")
                    if not waited_for_silence:
                        # One wait covers every run: all of them have exited already.
                        time.sleep(NO_URL_WAIT)
                        waited_for_silence = True
                    self.assertFalse(os.path.exists(outcome.record), "a URL despite message B")
                else:
                    urls = self.wait_for_urls(outcome.record)
                    self.assertEqual(len(urls), 1, urls)
                    self.assertRegex(urls[0], MAP_URL)
                    if expected_url is not None:
                        self.assertEqual(urls[0], expected_url.encode())

    def wait_for_urls(self, record):
        deadline = time.monotonic() + URL_WAIT
        while time.monotonic() < deadline:
            if os.path.exists(record):
                with open(record, "rb") as urls:
                    text = urls.read()
                if text.endswith(b"\n"):
                    return text.splitlines()
            time.sleep(0.02)
        return []
