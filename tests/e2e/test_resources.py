"""photomap frees what it allocates, on good pictures and on bad ones, and
keeps its memory small on huge files.

A plain build runs under valgrind's memcheck: a definite or indirect leak,
or any memory error, fails the run. valgrind cannot host the confined picture
reader (valgrind refuses its descriptor limit, and its translations need
executable pages, which the reader may never map), so under valgrind every read fails and the
run ends in message B: memcheck checks photomap's own process on that path.
A build with AddressSanitizer cannot run under valgrind; there LeakSanitizer
checks both processes and the map path too.
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures  # noqa: E402
import seeds  # noqa: E402
from runs import HardeningRun, is_sanitized  # noqa: E402
from test_photomap import RUN_TIMEOUT  # noqa: E402

VALGRIND = shutil.which("valgrind")
ERROR_EXIT = 97  # valgrind's status when it found an error; photomap's is always 0
CHECK_TIMEOUT = 120


class NoLeaks(HardeningRun):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.seed_paths = seeds.make_seed_pictures(os.path.join(cls.root, "seeds"))
        cls.sanitized = is_sanitized(cls.photomap)

    def cases(self):
        no_gps = pictures.blank_image(self.path("no-gps.jpg"))
        not_a_picture = self.path("notes.jpg")
        with open(not_a_picture, "w") as notes:
            notes.write("GPS 51 28 38 N\n")
        good = [(os.path.basename(path), [path], seeds.expected_url(os.path.basename(path)))
                for path in self.seed_paths]
        bad = [("no GPS", [no_gps], None),
               ("cut JPEG", [pictures.truncated_copy(self.seed_paths[0], self.path("c.jpg"), 200)],
                None),
               ("cut TIFF", [pictures.truncated_copy(self.seed_paths[1], self.path("c.tif"), 300)],
                None),
               ("not a picture", [not_a_picture], None),
               ("no such file", [self.path("missing.jpg")], None),
               ("no argument", [], None)]
        return good + bad

    def test_nothing_leaks(self):
        for label, arguments, url in self.cases():
            with self.subTest(label):
                if self.sanitized:
                    self.check_with_leak_sanitizer(label, arguments, url)
                else:
                    self.check_with_valgrind(label, arguments, None)

    def check_with_leak_sanitizer(self, label, arguments, url):
        # A leak makes LeakSanitizer report on stderr and end with its own status.
        options = os.environ.get("ASAN_OPTIONS", "")
        outcome = self.run_recorded(label, *arguments, timeout=CHECK_TIMEOUT,
                                    extra_environment={"ASAN_OPTIONS": options + ":detect_leaks=1"})
        self.assert_clean_ends([outcome], expected_url=url)

    def check_with_valgrind(self, label, arguments, url):
        self.assertIsNotNone(VALGRIND, "valgrind is needed (Debian package valgrind)")
        log = self.path("memcheck-%s.log" % label.replace(" ", "-"))
        outcome = self.run_recorded(
            label, *arguments, timeout=CHECK_TIMEOUT,
            prefix=[VALGRIND, "--quiet", "--leak-check=full",
                    "--errors-for-leak-kinds=definite,indirect",
                    "--show-leak-kinds=definite,indirect", "--error-exitcode=%d" % ERROR_EXIT,
                    "--log-file=" + log])
        with open(log) as report:
            text = report.read()
        self.assertEqual(outcome.result.returncode, 0, text)
        self.assertNotIn("definitely lost", text)
        self.assertNotIn("indirectly lost", text)
        self.assert_clean_ends([outcome], expected_url=url)


class BoundedMemory(HardeningRun):
    def peak_memory_of_run(self, picture):
        """photomap's exit status, stderr and peak resident memory in bytes."""
        stderr = open(self.path("stderr"), "w+b")
        self.addCleanup(stderr.close)
        process = subprocess.Popen([self.photomap, picture], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=stderr,
                                   env=self.environment(self.path("urls")))
        deadline = time.monotonic() + RUN_TIMEOUT
        while time.monotonic() < deadline:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid == process.pid:
                process.returncode = os.waitstatus_to_exitcode(status)
                stderr.seek(0)
                return process.returncode, stderr.read(), usage.ru_maxrss * 1024
            time.sleep(0.01)
        process.kill()
        process.wait()
        self.fail("photomap did not end in %d s" % RUN_TIMEOUT)

    def test_huge_sparse_tiff_costs_no_more_memory_than_a_small_one(self):
        # exiv2 maps TIFF files; only the pages it reads may cost memory. A
        # sparse file costs nothing to make and must not make photomap take
        # gigabytes.
        seed = seeds.make_seed_pictures(self.path("seeds"))[1]
        self.assertTrue(seed.endswith(".tif"))
        huge = self.path("huge.tif")
        shutil.copyfile(seed, huge)
        os.truncate(huge, 3 << 30)
        code, stderr, peak = self.peak_memory_of_run(huge)
        self.assertEqual((code, stderr), (0, b""))
        self.assertEqual(self.wait_for_urls(self.path("urls")),
                         [seeds.expected_url("exif.tif").encode()])
        print("\npeak memory on a 3 GiB sparse TIFF: %.0f MiB" % (peak / (1 << 20)),
              file=sys.stderr)
        self.assertLess(peak, 1 << 30)


if __name__ == "__main__":
    unittest.main(verbosity=2)
