"""photomap on unusual arguments: odd and long names, links, devices, and
files that another process is writing. test_photomap.py covers the common
ones (no argument, two, spaces, non-UTF-8 bytes, directories, FIFOs,
/dev/null, unreadable files).

Every run must end in time with exit status 0 and show message B, or hand
over the one expected map URL.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
import pictures  # noqa: E402
from picture_bytes import GPS_POINTER, LONG, SHORT, Tiff, gps_directory, shorts, write  # noqa: E402
import seeds  # noqa: E402
from runs import HardeningRun  # noqa: E402
from test_photomap import MESSAGE_B, RUN_TIMEOUT  # noqa: E402

POSITION = ((33, 51, 24.42, "S"), (151, 12, 47.19, "E"))
POSITION_URL = pictures.place(pictures.expected_degrees(*POSITION[0]),
                              pictures.expected_degrees(*POSITION[1]))

# Appends the file argv[1] to argv[2] in small pieces, then zeros, until it is
# killed; the file stays open for writing all along.
GROWING_WRITER = """
import sys, time
data = open(sys.argv[1], "rb").read()
with open(sys.argv[2], "wb", buffering=0) as out:
    for at in range(0, len(data), 32):
        out.write(data[at:at + 32])
        time.sleep(0.002)
    while True:
        out.write(bytes(32))
        time.sleep(0.002)
"""

STRACE = shutil.which("strace")

# Empties the file argv[2] and writes argv[1] into it again, over and over,
# until it is killed.
REWRITING_WRITER = """
import os, sys
data = open(sys.argv[1], "rb").read()
descriptor = os.open(sys.argv[2], os.O_WRONLY)
while True:
    os.ftruncate(descriptor, 0)
    os.pwrite(descriptor, data, 0)
"""


def tiff_with_trailing_metadata(path, padding):
    """A little-endian TIFF whose directories and GPS values come after
    `padding` bytes, at the end of the file, where a reader that maps the
    file touches its last pages."""
    tiff = Tiff()
    tiff.place(bytes(padding))
    gps = gps_directory(tiff, POSITION)
    size = [(0x100, SHORT, 1, shorts(1)), (0x101, SHORT, 1, shorts(1))]  # width, length
    return write(path, tiff.first_directory(tiff.directory(size + [(GPS_POINTER, LONG, 1, gps)])))


class UnusualArguments(HardeningRun):
    def assert_outcome(self, label, arguments, url=None, **options):
        outcome = self.run_recorded(label, *arguments, **options)
        if url is None:
            self.assertEqual(outcome.result.stderr, MESSAGE_B, label)
        self.assert_clean_ends([outcome], expected_url=url)

    def deep_path(self, length):
        """A path of exactly `length` characters below self.dir, its folders made."""
        path = self.dir
        while length - len(path) > 255 + 1:
            path = os.path.join(path, "d" * min(200, length - len(path) - 255 - 2))
        os.makedirs(path, exist_ok=True)
        name = "p" * (length - len(path) - 1 - 4) + ".jpg"
        return os.path.join(path, name)

    def test_empty_string(self):
        self.assert_outcome("empty string", [""])

    def test_long_paths(self):
        picture = pictures.picture(self.deep_path(4000), *POSITION)
        self.assertEqual(len(picture), 4000)
        cases = [
            ("picture at a 4000-character path", picture, POSITION_URL),
            ("file URI of that path", pictures.file_uri(picture), POSITION_URL),
            ("4000-character path to nothing", picture[:-5] + "x.jpg", None),
            ("one name of 4000 characters", os.path.join(self.dir, "n" * 4000), None),
            ("picture behind a path longer than the system takes",
             os.path.join(self.dir, "./" * 2100 + os.path.relpath(picture, self.dir)), None),
        ]
        for label, argument, url in cases:
            with self.subTest(label):
                self.assert_outcome(label, [argument], url=url)

    def test_names_with_special_characters(self):
        names = ["tab\there.jpg", "new\nline.jpg", 'double"quote.jpg', "single'quote.jpg",
                 "back`tick`.jpg", "$(touch made-by-shell).jpg", "-starts-with-dash.jpg",
                 "semi;colon & amp | pipe.jpg", "back\\slash.jpg", "%41percent%2F.jpg",
                 "  .jpg", "*?[glob].jpg"]
        for name in names:
            with self.subTest(name=name):
                picture = pictures.picture(self.path(name), *POSITION)
                self.assert_outcome(repr(name), [picture], url=POSITION_URL, cwd=self.dir)
                # The bare name, relative to the working directory, too.
                self.assert_outcome(repr(name), [name], url=POSITION_URL, cwd=self.dir)
        self.assertFalse(os.path.exists(self.path("made-by-shell")))

    def test_symbolic_links(self):
        picture = pictures.picture(self.path("real.jpg"), *POSITION)
        os.symlink("loop-b", self.path("loop-a"))
        os.symlink("loop-a", self.path("loop-b"))
        os.symlink("self", self.path("self"))
        os.symlink("missing.jpg", self.path("dangling"))
        os.symlink(picture, self.path("link.jpg"))
        cases = [("loop of two links", "loop-a", None), ("link to itself", "self", None),
                 ("dangling link", "dangling", None),
                 ("link to a picture", "link.jpg", POSITION_URL)]
        for label, name, url in cases:
            with self.subTest(label):
                self.assert_outcome(label, [self.path(name)], url=url)

    def test_caller_that_ignores_sigchld(self):
        # An ignored SIGCHLD survives exec; photomap's children would then
        # reap themselves, and the picture reader's answer would count for
        # nothing.
        ignoring = [sys.executable, "-c",
                    "import os, signal, sys; signal.signal(signal.SIGCHLD, signal.SIG_IGN); "
                    "os.execv(sys.argv[1], sys.argv[1:])"]
        picture = pictures.picture(self.path("picture.jpg"), *POSITION)
        self.assert_outcome("SIGCHLD ignored", [picture], url=POSITION_URL, prefix=ignoring)

    def test_endless_devices_are_not_read(self):
        for device in ("/dev/zero", "/dev/urandom", "/dev/full"):
            with self.subTest(device=device):
                self.assert_outcome(device, [device])

    def test_stdin_that_never_ends_is_not_read(self):
        # A pipe that is never written to nor closed: reading it would block for ever.
        for name in ("/dev/stdin", "/proc/self/fd/0", "/dev/fd/0"):
            with self.subTest(name=name):
                record = self.path("urls-" + os.path.basename(name))
                stderr = tempfile.TemporaryFile(dir=self.dir)
                process = subprocess.Popen([self.photomap, name], stdin=subprocess.PIPE,
                                           stdout=subprocess.DEVNULL, stderr=stderr,
                                           env=self.environment(record))
                try:
                    returncode = process.wait(timeout=RUN_TIMEOUT)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.wait()
                    process.stdin.close()
                stderr.seek(0)
                self.assertEqual(returncode, 0)
                self.assertEqual(stderr.read(), MESSAGE_B)
                stderr.close()

    def start_writer(self, code, source, target):
        writer = subprocess.Popen([sys.executable, "-c", code, source, target])
        self.addCleanup(writer.wait)
        self.addCleanup(writer.kill)
        return writer

    def test_file_that_another_process_is_still_writing(self):
        made = seeds.make_seed_pictures(self.path("seeds"))
        for seed in ("exif.jpg", "exif.tif", "exif.heic"):
            with self.subTest(seed=seed):
                source = os.path.join(self.path("seeds"), seed)
                self.assertIn(source, made)
                target = self.path("growing-" + seed)
                open(target, "wb").close()
                writer = self.start_writer(GROWING_WRITER, source, target)
                outcomes = []
                for number in range(12):
                    outcomes.append(self.run_recorded("%s, run %d" % (seed, number), target))
                    time.sleep(0.01)
                writer.kill()
                self.assert_clean_ends(outcomes)

    def test_file_that_another_process_keeps_emptying_and_rewriting(self):
        source = tiff_with_trailing_metadata(self.path("source.tif"), padding=4 << 20)
        self.assert_outcome("intact", [source], url=POSITION_URL)
        target = self.path("rewritten.tif")
        open(target, "wb").close()
        writer = self.start_writer(REWRITING_WRITER, source, target)
        outcomes = [self.run_recorded("run %d" % number, target) for number in range(100)]
        writer.kill()
        self.assert_clean_ends(outcomes)

    def test_picture_replaced_by_a_fifo_after_it_was_checked(self):
        # strace holds photomap for a while right after its first look at the
        # path (a stat that finds a regular file); meanwhile a FIFO takes the
        # picture's place. Opening the path again then would block for ever.
        self.assertIsNotNone(STRACE, "strace is needed (Debian package strace)")
        source = pictures.picture(self.path("source.jpg"), *POSITION)
        for attempt, wait in enumerate((0.5, 1.5, 3.0)):
            picture = self.path("swapped-%d.jpg" % attempt)
            shutil.copyfile(source, picture)
            log = self.path("strace-%d.log" % attempt)
            stderr = tempfile.TemporaryFile(dir=self.dir)
            options = os.environ.get("ASAN_OPTIONS", "")
            held = [STRACE, "-qq", "-o", log, "-P", picture, "-e", "trace=?stat,?newfstatat,?statx",
                    "-e", "inject=?stat,?newfstatat,?statx:delay_exit=%d:when=1" % (wait * 2e6)]
            # In a session of its own, so that a hung photomap goes with strace.
            process = subprocess.Popen(
                held + [self.photomap, picture], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=stderr, start_new_session=True,
                env=self.environment(self.path("urls-%d" % attempt),
                                     {"ASAN_OPTIONS": options + ":detect_leaks=0"}))
            time.sleep(wait)
            os.unlink(picture)
            os.mkfifo(picture)
            try:
                returncode = process.wait(timeout=RUN_TIMEOUT + 2 * wait)
            finally:
                if process.poll() is None:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
            stderr.seek(0)
            shown = stderr.read()
            stderr.close()
            with open(log) as trace:
                first_look = trace.readline()
            if "DELAYED" in first_look and "S_IFREG" in first_look:
                self.assertEqual((returncode, shown), (0, MESSAGE_B))
                return
            # photomap started too slowly to look before the swap: try again, waiting longer.
            self.assertEqual(returncode, 0)
        self.fail("photomap never looked at the picture before it was swapped")


if __name__ == "__main__":
    unittest.main(verbosity=2)
