"""How photomap hands the map URL to xdg-open, seen from stand-ins for it.

xdg-open gets /dev/null as stdin, stdout and stderr and no other descriptor
of photomap's; a launch that fails is reported on stderr (no display here)
and photomap still exits 0; an xdg-open that keeps running, as it does in
its generic mode while the browser runs, is left running and not waited for.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

PHOTOMAP = os.path.abspath(os.environ.get("PHOTOMAP", "build/host/photomap"))
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")
SAMPLE_URL = "https://www.google.com/maps/place/48.85822222,2.29450000"
RUN_TIMEOUT = 15
# photomap gives xdg-open two seconds to report a failure; allow for a busy machine.
HAND_OVER_LIMIT = 6.0

# Reports, into $RECORD, what it was given: its arguments and, for every
# descriptor it has open, where it leads. Written in Python so that no shell
# redirection of its own muddies the descriptor table.
DESCRIPTOR_STAND_IN = """#!/usr/bin/python3
import json, os, sys
descriptors = {}
for fd in range(1024):
    try:
        os.fstat(fd)
    except OSError:
        continue
    descriptors[fd] = os.readlink("/proc/self/fd/%d" % fd)
with open(os.environ["RECORD"], "w") as record:
    json.dump({"arguments": sys.argv[1:], "descriptors": descriptors}, record)
"""


def stand_in(directory, body):
    path = os.path.join(directory, "xdg-open")
    with open(path, "w") as script:
        script.write(body)
    os.chmod(path, 0o755)
    return path


def read_when_written(path, wait=5.0):
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path) as record:
                text = record.read()
            if text.endswith(("}", "\n")):
                return text
        time.sleep(0.02)
    return None


class HandOver(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="photomap-launch-")
        self.bin = os.path.join(self.dir, "bin")
        os.mkdir(self.bin)
        self.record = os.path.join(self.dir, "record")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def environment(self):
        environment = dict(os.environ, PATH=self.bin + os.pathsep + "/usr/bin:/bin",
                           RECORD=self.record)
        environment.pop("DISPLAY", None)
        environment.pop("WAYLAND_DISPLAY", None)
        return environment

    def run_photomap(self, **options):
        started = time.monotonic()
        result = subprocess.run([PHOTOMAP, SAMPLE], env=self.environment(),
                                capture_output=True, timeout=RUN_TIMEOUT, **options)
        return result, time.monotonic() - started

    def test_xdg_open_sees_only_dev_null_and_no_descriptor_of_ours(self):
        stand_in(self.bin, DESCRIPTOR_STAND_IN)
        # photomap's own stdin, stdout and stderr lead elsewhere, and it has
        # one more inheritable descriptor open, which must not reach xdg-open.
        extra_read, extra_write = os.pipe()
        with open(os.path.join(self.dir, "stdin"), "w") as stdin_file:
            stdin_file.write("input")
        try:
            with open(os.path.join(self.dir, "stdin")) as stdin:
                result, _ = self.run_photomap(stdin=stdin, pass_fds=(extra_write,))
        finally:
            os.close(extra_read)
            os.close(extra_write)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        seen = json.loads(read_when_written(self.record) or "{}")
        self.assertEqual(seen.get("arguments"), [SAMPLE_URL])
        self.assertEqual(seen.get("descriptors"),
                         {"0": "/dev/null", "1": "/dev/null", "2": "/dev/null"})

    def test_failed_launch_is_reported_and_photomap_exits_0(self):
        cases = [
            ("no xdg-open", None, "xdg-open was not found; install xdg-utils"),
            ("no browser", "exit 3", "no web browser was found (xdg-open exit status 3)"),
            ("action failed", "exit 4", "xdg-open failed with exit status 4"),
            ("late failure", "sleep 0.5; exit 1", "xdg-open failed with exit status 1"),
            ("killed", "kill -9 $$", "xdg-open was ended by signal 9"),
        ]
        for label, body, reason in cases:
            with self.subTest(label):
                if body is None:
                    if os.path.exists(os.path.join(self.bin, "xdg-open")):
                        os.remove(os.path.join(self.bin, "xdg-open"))
                    environment_path = self.bin
                else:
                    stand_in(self.bin, "#!/bin/sh\n" + body + "\n")
                    environment_path = None
                environment = self.environment()
                if environment_path is not None:
                    environment["PATH"] = environment_path  # nothing named xdg-open anywhere
                result = subprocess.run([PHOTOMAP, SAMPLE], env=environment,
                                        capture_output=True, timeout=RUN_TIMEOUT)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stderr.decode(),
                                 "Error: Could not open " + SAMPLE_URL + ": " + reason + "\n")

    def test_a_successful_launch_is_silent(self):
        stand_in(self.bin, "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$RECORD\"\n")
        result, _ = self.run_photomap()
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(read_when_written(self.record), SAMPLE_URL + "\n")

    def test_an_xdg_open_that_keeps_running_is_left_running(self):
        # Like xdg-open's generic mode, which runs the browser in the foreground.
        stand_in(self.bin, "#!/bin/sh\necho $$ > \"$RECORD\"\nexec sleep 60\n")
        result, seconds = self.run_photomap()
        pid = int(read_when_written(self.record))
        try:
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            self.assertLess(seconds, HAND_OVER_LIMIT)
            os.kill(pid, 0)  # still running after photomap has exited
            self.assertEqual(os.getsid(pid), pid, "xdg-open runs in a session of its own")
        finally:
            os.kill(pid, signal.SIGKILL)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            try:
                os.kill(pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.02)


if __name__ == "__main__":
    unittest.main(verbosity=2)
