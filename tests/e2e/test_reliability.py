"""A picture that carries a position always opens its map.

The confined reader's limits must measure the reader's own work: a large
picture, slow storage, a busy machine or a caller with tight limits of its
own is no reason to say "no GPS" about a picture that has a position, which
is the worst answer this tool can give. Each fixture is checked first with
`exiv2 -g Exif.GPSInfo -Pv` (exiv2 reads its position), so that a failure
here is photomap's, not the picture's. The other way round, a position that
is no place on Earth is no position, and photomap ends with exit status 0
even when nobody reads its stderr.

The large pictures are sparse (heavy.py) and made in a folder beside the
build, deleted after each case; slow storage is a FUSE file system of the
tests' own (tests/support/slowfs.py); load is busy loops that end by
themselves. Cases that depend on load or storage assert the outcome, never
a time.
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
import crafted  # noqa: E402
import heavy  # noqa: E402
import pictures  # noqa: E402
import slowfs  # noqa: E402
from runs import NO_URL_WAIT, HardeningRun, is_sanitized  # noqa: E402
from test_photomap import MESSAGE_B  # noqa: E402

SAMPLE = os.path.join(os.path.dirname(os.path.dirname(HERE)), "samples", "eiffel-tower.jpg")
SAMPLE_URL = "https://www.google.com/maps/place/48.85822222,2.29450000"
SAMPLE_LATITUDE = "48/1 51/1 296/10"
SAMPLE_LONGITUDE = "2/1 17/1 402/10"

# Runs that wait for storage or for the processor may take long; this only
# keeps a hang from stalling the suite, and is no bound on photomap.
SLOW_RUN_TIMEOUT = 120
# Free space wanted beside the build: the sparse files take next to nothing,
# the PNG 20 MB, but a file system without holes would take them whole.
LARGE_SPACE = 1 << 30
GIB = 1 << 30
# root may raise its hard limits, so root runs the caller's part as nobody;
# any other user is such a caller already.
UNPRIVILEGED = (("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--")
                if os.geteuid() == 0 else ())


class ReliabilityRun(HardeningRun):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Large files beside the build, not in /tmp, which may be memory.
        cls.large = tempfile.mkdtemp(prefix="photomap-reliability-",
                                     dir=os.path.dirname(cls.photomap))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.large, ignore_errors=True)
        super().tearDownClass()

    def need_space(self, needed=LARGE_SPACE):
        status = os.statvfs(self.large)
        if status.f_bavail * status.f_frsize < needed:
            self.skipTest("less than %d MiB free beside the build" % (needed >> 20))

    def large_path(self, name, needed=LARGE_SPACE):
        """A path beside the build for a large file, removed after the test."""
        self.need_space(needed)
        path = os.path.join(self.large, name)
        self.addCleanup(lambda: os.path.exists(path) and os.remove(path))
        return path

    def assert_exiv2_reads(self, path, latitude=heavy.EXIV2_LATITUDE,
                           longitude=heavy.EXIV2_LONGITUDE):
        self.assertTrue(heavy.exiv2_reads_position(path, latitude, longitude),
                        "exiv2 finds no position in the fixture %s" % path)

    def assert_map(self, outcomes, url=crafted.MAP_URL):
        self.assert_clean_ends(outcomes, expected_url=url)

    def run_recorded(self, label, *arguments, **options):
        outcome = super().run_recorded(label, *arguments, **options)
        # The time of each case, for the log; no case asserts one.
        print("%-60s %6.2f s" % (label[:60], outcome.seconds), file=sys.stderr)
        return outcome

    def assert_no_position(self, outcome):
        with self.subTest(run=outcome.label):
            self.assertEqual(outcome.result.returncode, 0)
            time.sleep(NO_URL_WAIT)
            handed_over = self.wait_for_urls(outcome.record) if os.path.exists(
                outcome.record) else []
            self.assertEqual(handed_over, [], "a URL for no place on Earth")
            self.assertEqual(outcome.result.stderr, MESSAGE_B)

    def slow_share(self, source, name="share", **delays):
        """The slow view of `source`, mounted until its stop() or the test's end."""
        share = slowfs.SlowShare(source, self.path(name), **delays)
        try:
            share.__enter__()
        except slowfs.MountFailed as reason:
            self.skipTest(str(reason))
        self.addCleanup(share.stop)
        return share


class LargePictures(ReliabilityRun):
    """exiv2 copies page data and large tag values into memory; a memory limit
    below what the file's own size justifies turns them into "no GPS"."""

    def test_large_tiffs_open_their_map(self):
        # The smaller sibling of each layout opens its map today: a failure of
        # the large one is its size, not its layout.
        cases = [
            # exiv2 copies page 2's strips about three times.
            ("two-page scan, 400 MB, page 2 200 MB", "scan.tif",
             lambda path: heavy.scanned_tiff(path, 400_000_000)),
            ("sibling: two-page scan, 100 MB", "scan-sibling.tif",
             lambda path: heavy.scanned_tiff(path, 100_000_000)),
            ("layered TIFF, 200 MB of ImageSourceData", "layered.tif",
             lambda path: heavy.layered_tiff(path, 200_000_000)),
            ("sibling: layered TIFF, 50 MB of ImageSourceData", "layered-sibling.tif",
             lambda path: heavy.layered_tiff(path, 50_000_000)),
        ]
        for label, name, make in cases:
            with self.subTest(label):
                picture = make(self.large_path(name))
                self.assert_exiv2_reads(picture)
                self.assert_map([self.run_recorded(label, picture, timeout=SLOW_RUN_TIMEOUT)])
                os.remove(picture)

    def test_tiff_of_100_gib(self):
        # A size that is 0 modulo 4 GiB is 0 to a reader that keeps sizes in
        # 32 bits (exiv2 0.27 does), and a file of nothing has no position.
        picture = self.large_path("huge.tif", needed=0)
        try:
            heavy.sparse_tiff(picture, 100 * GIB)
        except OSError as error:
            self.skipTest("this file system holds no file of 100 GiB: %s" % error)
        if os.stat(picture).st_blocks * 512 > 1 << 20:
            self.skipTest("this file system holds no sparse files")
        self.assertEqual(os.path.getsize(picture) % (4 * GIB), 0)
        # exiv2 0.27 reads the same bytes one page longer (32-bit size 4096),
        # and exiftool, where installed, the file itself.
        os.truncate(picture, 100 * GIB + 4096)
        self.assert_exiv2_reads(picture)
        os.truncate(picture, 100 * GIB)
        exiftool = shutil.which("exiftool")
        if exiftool:
            found = subprocess.run([exiftool, "-n", "-GPSLatitude", picture],
                                   capture_output=True, text=True).stdout
            self.assertIn("46.2083", found, "exiftool finds no position in the fixture")
        self.assert_map([self.run_recorded("100 GiB TIFF", picture)])


class SlowStorage(ReliabilityRun):
    """Waiting for storage is not the reader's work and never ends a read."""

    def test_slow_storage(self):
        # label, the picture's maker, the share's delays; each sibling reads
        # through the same share within today's 2 s and opens its map today.
        def sample(folder):
            return shutil.copy(SAMPLE, folder)

        def png(size, exif_chunk=False):
            return lambda folder: heavy.large_png(os.path.join(folder, "scan.png"), size,
                                                  exif_chunk=exif_chunk)
        cases = [
            ("sample on a disk that takes 3 s to wake", sample, SAMPLE_URL,
             {"first_read_delay": 3.0}),
            ("sibling: sample on a disk that takes 0.3 s to wake", sample, SAMPLE_URL,
             {"first_read_delay": 0.3}),
            ("20 MB PNG on a share answering each read in 20 ms", png(20_000_000),
             crafted.MAP_URL, {"read_delay": 0.02}),
            ("20 MB PNG with eXIf on a share answering each read in 20 ms",
             png(20_000_000, exif_chunk=True), crafted.MAP_URL, {"read_delay": 0.02}),
            ("sibling: 1 MB PNG on a share answering each read in 20 ms", png(1_000_000),
             crafted.MAP_URL, {"read_delay": 0.02}),
        ]
        self.need_space()
        for number, (label, make, url, delays) in enumerate(cases):
            with self.subTest(label):
                folder = tempfile.mkdtemp(dir=self.large)
                picture = make(folder)
                if url == SAMPLE_URL:
                    self.assert_exiv2_reads(picture, SAMPLE_LATITUDE, SAMPLE_LONGITUDE)
                else:
                    self.assert_exiv2_reads(picture)
                share = self.slow_share(folder, "share-%d" % number, **delays)
                outcome = self.run_recorded(label, share.path(os.path.basename(picture)),
                                            timeout=SLOW_RUN_TIMEOUT)
                share.stop()
                shutil.rmtree(folder)
                self.assertTrue(share.reads(), "photomap read nothing through the share")
                self.assert_map([outcome], url)


class BusyMachine(ReliabilityRun):
    """Waiting for the processor is not the reader's work either."""

    RUNS = 3
    LOOP_SECONDS = 90  # each loop ends by itself, should the test be killed

    def busy_loops(self, count):
        loop = ("import time\nend = time.monotonic() + %d\nwhile time.monotonic() < end:\n"
                "    pass\n" % self.LOOP_SECONDS)
        # Started from here, so at photomap's priority.
        loops = [subprocess.Popen([sys.executable, "-c", loop]) for _ in range(count)]
        for process in loops:
            self.addCleanup(process.wait)
            self.addCleanup(process.kill)
        return loops

    def test_scan_under_eight_busy_loops_per_core(self):
        picture = heavy.scanned_tiff(self.large_path("scan300.tif"), 300_000_000)
        self.assert_exiv2_reads(picture)
        cores = len(os.sched_getaffinity(0))
        loops = self.busy_loops(8 * cores)
        time.sleep(0.5)  # every loop running before the first run
        outcomes = [self.run_recorded("run %d under %d loops" % (run, len(loops)), picture,
                                      timeout=SLOW_RUN_TIMEOUT) for run in range(self.RUNS)]
        self.assertTrue(all(process.poll() is None for process in loops),
                        "a busy loop ended before the runs did")
        self.assert_map(outcomes)


class CallerLimits(ReliabilityRun):
    """The reader's limits are never set above the caller's own hard limits,
    which an unprivileged user cannot raise."""

    def test_sample_under_the_callers_limits(self):
        # nobody reaches the program, the stand-in xdg-open, the picture and a
        # folder where the stand-in records the URL.
        for folder in (self.root, self.bin, self.dir):
            os.chmod(folder, 0o755)
        picture = shutil.copy(SAMPLE, self.path("sample.jpg"))
        os.chmod(picture, 0o644)
        records = self.path("records")
        os.mkdir(records)
        os.chmod(records, 0o777)
        self.assert_exiv2_reads(picture, SAMPLE_LATITUDE, SAMPLE_LONGITUDE)
        cases = [
            ("ulimit -v 500000", "-v 500000", "Max address space", "512000000"),
            ("ulimit -t 2", "-t 2", "Max cpu time", "2"),
            # Above today's reader limits (512 MiB, 2 s and 3 s): the map today.
            ("sibling: ulimit -v 600000", "-v 600000", "Max address space", "614400000"),
            ("sibling: ulimit -t 4", "-t 4", "Max cpu time", "4"),
        ]
        for label, option, limit_name, value in cases:
            with self.subTest(label):
                if option.startswith("-v") and is_sanitized(self.photomap):
                    self.skipTest("AddressSanitizer reserves terabytes of address space")
                shell = UNPRIVILEGED + ("/bin/sh", "-c", 'ulimit %s && exec "$0" "$@"' % option)
                # The limit holds as soft and hard limit for the user.
                limits = subprocess.run(shell + ("cat", "/proc/self/limits"), capture_output=True,
                                        text=True, check=True).stdout
                line = next(line for line in limits.splitlines() if line.startswith(limit_name))
                self.assertEqual(line[len(limit_name):].split()[:2], [value, value])
                self.assertNotEqual(
                    subprocess.run(UNPRIVILEGED + ("id", "-u"), capture_output=True,
                                   text=True).stdout.strip(), "0")
                outcome = self.run_recorded(label, picture, prefix=shell,
                                            record=os.path.join(records, label.replace(" ", "-")))
                self.assert_map([outcome], SAMPLE_URL)


class ExitStatus(ReliabilityRun):
    def test_stderr_pipe_whose_reader_has_gone(self):
        # A message to such a pipe fails (EPIPE); the default SIGPIPE would
        # end photomap with status 141 instead.
        no_gps = pictures.blank_image(self.path("no-gps.jpg"))
        photo = pictures.picture(self.path("gps.jpg"), crafted.LATITUDE, crafted.LONGITUDE)
        # label, arguments, the URL handed over (None: none)
        cases = [("no argument", [], None), ("no GPS", [no_gps], None),
                 ("two arguments", [no_gps, no_gps], None),
                 # Writes nothing to stderr: exit 0 today.
                 ("sibling: the map", [photo], crafted.MAP_URL)]
        for number, (label, arguments, url) in enumerate(cases):
            record = self.path("urls-%d" % number)
            with self.subTest(label):
                reading, writing = os.pipe()
                os.close(reading)
                try:
                    # subprocess gives the child the default SIGPIPE, as a shell does.
                    result = subprocess.run([self.photomap] + arguments, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=writing,
                                            env=self.environment(record), timeout=10)
                finally:
                    os.close(writing)
                self.assertNotEqual(result.returncode, -signal.SIGPIPE, "killed by SIGPIPE")
                self.assertEqual(result.returncode, 0)
                if url is None:
                    time.sleep(NO_URL_WAIT)
                    self.assertFalse(os.path.exists(record), "a URL without a position")
                else:
                    self.assertEqual(self.wait_for_urls(record), [url.encode()])


class PlaceOnEarth(ReliabilityRun):
    """A latitude outside [-90, 90] or a longitude outside [-180, 180] is no
    position; the edges themselves are places."""

    def test_positions_by_range(self):
        def exif(latitude, latitude_ref, longitude, longitude_ref):
            return ["set Exif.GPSInfo.GPSLatitude " + latitude,
                    "set Exif.GPSInfo.GPSLatitudeRef " + latitude_ref,
                    "set Exif.GPSInfo.GPSLongitude " + longitude,
                    "set Exif.GPSInfo.GPSLongitudeRef " + longitude_ref]
        # The largest unsigned rational; exiv2 0.28's command takes no more
        # than the largest signed one, still millions of degrees.
        most = "4294967295/1" if heavy.exiv2_version() < (0, 28) else "2147483647/1"
        nines = "9" * 300
        # label, exiv2 commands, the key and value exiv2 must read back, URL (None: message B)
        cases = [
            ("EXIF latitude 3 x %s, longitude 4000/1" % most,
             exif(" ".join([most] * 3), "N", "4000/1 0/1 0/1", "E"),
             "Exif.GPSInfo.GPSLatitude", " ".join([most] * 3), None),
            ("EXIF latitude 91", exif("91/1 0/1 0/1", "N", "2/1 0/1 0/1", "E"),
             "Exif.GPSInfo.GPSLatitude", "91/1 0/1 0/1", None),
            ("EXIF longitude 180 and a second", exif("10/1 0/1 0/1", "S", "180/1 0/1 1/1", "W"),
             "Exif.GPSInfo.GPSLongitude", "180/1 0/1 1/1", None),
            ("XMP latitude of 300 nines", pictures.xmp_gps(nines + ",0,0N", "2,17.67E"),
             "Xmp.exif.GPSLatitude", nines + ",0,0N", None),
            ("EXIF north pole, 180 E", exif("90/1 0/1 0/1", "N", "180/1 0/1 0/1", "E"),
             "Exif.GPSInfo.GPSLatitude", "90/1 0/1 0/1", pictures.place(90, 180)),
            ("EXIF south pole, 180 W", exif("90/1 0/1 0/1", "S", "180/1 0/1 0/1", "W"),
             "Exif.GPSInfo.GPSLongitude", "180/1 0/1 0/1", pictures.place(-90, -180)),
        ]
        for number, (label, commands, key, stored, url) in enumerate(cases):
            with self.subTest(label):
                photo = pictures.picture(self.path("range-%d.jpg" % number), extra=commands)
                self.assertIn(stored, heavy.exiv2_values(photo, key), "exiv2 reads no such value")
                outcome = self.run_recorded(label, photo)
                if url is None:
                    self.assert_no_position(outcome)
                else:
                    self.assert_map([outcome], url)


class FileUris(ReliabilityRun):
    def test_every_form_of_a_local_file_uri(self):
        photo = pictures.picture(self.path("uri photo.jpg"), crafted.LATITUDE, crafted.LONGITUDE)
        self.assert_exiv2_reads(photo)
        path = pictures.file_uri(photo)[len("file://"):]
        for uri in ("file://" + path, "file://localhost" + path, "file://LOCALHOST" + path,
                    "file://LocalHost" + path, "file:" + path):
            with self.subTest(uri):
                self.assert_map([self.run_recorded(uri, uri)])


class ReaderEndsWithPhotomap(ReliabilityRun):
    """A reader whose photomap has gone has nobody to answer; it must not live
    on until its read returns."""

    STALL = 60.0  # the share answers no read in the test's time
    GONE_WITHIN = 2.0

    def test_reader_of_a_stalled_read_ends_when_photomap_is_terminated(self):
        os.mkdir(self.path("stalled"))
        shutil.copy(SAMPLE, self.path("stalled"))
        self.assert_exiv2_reads(SAMPLE, SAMPLE_LATITUDE, SAMPLE_LONGITUDE)
        share = self.slow_share(self.path("stalled"), read_delay=self.STALL)
        photomap = subprocess.Popen([self.photomap, share.path("eiffel-tower.jpg")],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL,
                                    env=self.environment(self.path("urls")))
        self.addCleanup(photomap.wait)
        self.addCleanup(photomap.kill)
        deadline = time.monotonic() + 10
        while not share.reads() and photomap.poll() is None and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertTrue(share.reads(), "photomap never read the picture")
        readers = children(photomap.pid)
        self.assertEqual(len(readers), 1, "photomap should have one reader: %r" % readers)
        reader = readers[0]
        photomap.send_signal(signal.SIGTERM)
        photomap.wait(timeout=10)
        deadline = time.monotonic() + self.GONE_WITHIN
        while is_alive(*reader) and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertFalse(is_alive(*reader), "the reader outlived photomap by %.0f s"
                         % self.GONE_WITHIN)


def children(pid):
    """photomap's child processes, as (pid, start time) so that a reused pid is no match."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            fields = process_fields(int(entry))
            if fields and int(fields[1]) == pid:
                found.append((int(entry), fields[19]))
    return found


def process_fields(pid):
    """/proc/PID/stat from the state on (field 3 onwards), or None for no process."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rpartition(")")[2].split()
    except OSError:
        return None


def is_alive(pid, started):
    fields = process_fields(pid)
    # A zombie has ended; only a parent (init, here) has yet to reap it.
    return bool(fields) and fields[19] == started and fields[0] != "Z"


if __name__ == "__main__":
    unittest.main(verbosity=2)
