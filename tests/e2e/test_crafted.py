"""photomap on files crafted to break the reader (tests/e2e/crafted.py).

Each attack must end in message B, exit status 0, within a few seconds, with
nothing written (no core file either) and no process left behind. Where the
attack's layout can carry a GPS position it does, and a harmless sibling of
the same layout must open the map: so message B on the attack comes from the
reader's bounds, not from a file that could never have opened anything.
Each attack runs under strace -f, which tells how its reader process ended:
by itself (a refused or bounded read), by a signal, or by the deadline.
"""

import ctypes
import ctypes.util
import os
import re
import resource
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crafted  # noqa: E402
from runs import NO_URL_WAIT, HardeningRun, Outcome, is_sanitized  # noqa: E402
from test_photomap import MESSAGE_B  # noqa: E402

# How much processor time a run may take, photomap and its reader together:
# the reader's CPU limit is 2 s soft, 3 s hard. A bound on the processor,
# not the clock: waiting for a busy machine is no attacker's success. A
# sanitized build runs slower and its reader has no address-space limit.
BOUND_SECONDS = 3.5
SANITIZED_FACTOR = 3
# The reader's address-space budget (kReaderMemoryBudget); its mapping of the
# picture comes on top.
READER_MEMORY_BUDGET = 512 << 20
# The reader that makes no progress is ended after 30 s; this is far above.
RUN_TIMEOUT = 90

# How the reader process ended, as strace -f tells it: "exited with 0",
# "killed by SIGSEGV". Its own exit status is 0 whenever it sent a record.
STRACE = shutil.which("strace")
PROCESS_END = re.compile(r"^(\d+) +\+\+\+ (exited with \d+|killed by \w+)")
ENDED_BY_ITSELF = {"exited with 0"}
DEADLINE_ENDS = {"killed by SIGKILL", "killed by SIGXCPU"}

# exiv2 0.27's numbers of the video types (ImageType::mkv, riff, qtime).
EXIV2_027_TYPES = {"mkv": 21, "riff": 20, "qtime": 22}


def exiv2_type_of(data):
    """The type exiv2 0.27 gives `data` (ImageFactory::getType, which photomap
    asks before it parses), or None where that library is not the one
    installed; there, the reader's end alone shows that the file was refused."""
    name = ctypes.util.find_library("exiv2")
    if name is None:
        return None
    library = ctypes.CDLL(name)
    try:
        get_type = library._ZN5Exiv212ImageFactory7getTypeEPKhl
        enable_bmff = library._ZN5Exiv210enableBMFFEb
    except AttributeError:
        return None
    get_type.restype = ctypes.c_int
    get_type.argtypes = [ctypes.c_char_p, ctypes.c_long]
    enable_bmff(ctypes.c_bool(True))
    return get_type(data, len(data))


def allow_core_files():
    """In the child before exec: the largest core file allowed, so that a
    reader that did not forbid its own would leave one behind in the run's
    directory (where core_pattern is a plain name, as Debian's default "core";
    a piped pattern sends it elsewhere and this check sees nothing)."""
    _, hard = resource.getrlimit(resource.RLIMIT_CORE)
    resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))


class CraftedFiles(HardeningRun):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.sanitized = is_sanitized(cls.photomap)
        cls.bound = BOUND_SECONDS * (SANITIZED_FACTOR if cls.sanitized else 1)

    def run_on(self, label, name, data, traced=False):
        """Writes `data` as `name`, runs photomap on it in a session of its own
        from an empty directory, and returns (Outcome, peak resident bytes over
        photomap and its reaped reader, what the run left in the directory,
        whether any process of its session is still there, and, when `traced`,
        how each process but photomap ended)."""
        picture = crafted.write(self.path(name), data)
        self.addCleanup(os.remove, picture)
        cwd = self.path("cwd-" + name)
        os.mkdir(cwd)
        record = self.path("urls-" + name)
        stdout = open(self.path("stdout-" + name), "w+b")
        stderr = open(self.path("stderr-" + name), "w+b")
        self.addCleanup(stdout.close)
        self.addCleanup(stderr.close)
        started = time.monotonic()
        trace = self.path("trace-" + name)
        prefix = [STRACE, "-f", "-q", "-e", "trace=none", "-o", trace] if traced else []
        # A sanitizer build's leak check cannot run under strace (the leak
        # tests cover it), and its report of a fault in the reader would
        # stand between the reader and its end by that fault.
        options = os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0:handle_segv=0"
        process = subprocess.Popen(prefix + [self.photomap, picture], cwd=cwd,
                                   env=self.environment(record, {"ASAN_OPTIONS": options}),
                                   stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                   start_new_session=True, preexec_fn=allow_core_files)
        status, peak, processor = self.wait_with_usage(process)
        seconds = time.monotonic() - started
        stdout.seek(0)
        stderr.seek(0)
        result = subprocess.CompletedProcess(process.args, status, stdout.read(), stderr.read())
        try:
            os.killpg(process.pid, 0)
            left_running = True
        except ProcessLookupError:
            left_running = False
        leftovers = os.listdir(cwd)
        ends = self.process_ends(trace) if traced else []
        print("%-40s %6.2f s, %5.2f s CPU %s" % (label, seconds, processor, " ".join(ends)),
              file=sys.stderr)
        outcome = Outcome(label, result, record, seconds)
        outcome.processor = processor
        return outcome, peak, leftovers, left_running, ends

    @staticmethod
    def process_ends(trace):
        """How the traced processes but the last (photomap, which waits for
        the others before it ends) ended, in order."""
        with open(trace) as log:
            ends = [match.group(2) for match in map(PROCESS_END.match, log) if match]
        return ends[:-1]

    def wait_with_usage(self, process):
        """photomap's exit status, and the peak resident bytes and the CPU
        seconds of it and the reader it reaped (wait4 counts a process's
        waited-for children)."""
        deadline = time.monotonic() + RUN_TIMEOUT
        while time.monotonic() < deadline:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid == process.pid:
                process.returncode = os.waitstatus_to_exitcode(status)
                return (process.returncode, usage.ru_maxrss * 1024,
                        usage.ru_utime + usage.ru_stime)
            time.sleep(0.005)
        os.killpg(process.pid, 9)
        process.wait()
        self.fail("photomap did not end in %d s" % RUN_TIMEOUT)

    def assert_message_b(self, label, name, data, reader_ends, bomb=False):
        """The attack ends in message B, in time, leaving nothing behind, its
        last reader (exiv2's, where our readers' found nothing and ended by
        themselves) ended in one of `reader_ends`;
        returns the run's peak memory. A `bomb` that the exiv2 in use reads
        within the reader's limits (0.28 reads some of them fast) may instead
        open the map, in time all the same."""
        self.assertIsNotNone(STRACE, "strace is needed (Debian package strace)")
        outcome, peak, leftovers, left_running, ends = self.run_on(label, name, data, traced=True)
        if bomb and outcome.result.stderr == b"" and ends[-1:] == [next(iter(ENDED_BY_ITSELF))]:
            print("%-40s read by this exiv2 within the limits" % label, file=sys.stderr)
            with self.subTest(attack=label):
                self.assertEqual(outcome.result.returncode, 0)
                self.assertLess(outcome.processor, self.bound)
                self.assertEqual(self.wait_for_urls(outcome.record), [crafted.MAP_URL.encode()])
                self.assertEqual((leftovers, left_running), ([], False))
            return peak
        with self.subTest(attack=label):
            self.assertIn(len(ends), (1, 2), ends)
            self.assertEqual(set(ends[:-1]) - ENDED_BY_ITSELF, set(), ends)
            self.assertIn(ends[-1], reader_ends)
            self.assertEqual(outcome.result.returncode, 0, outcome.result.stderr[-2000:])
            self.assertEqual(outcome.result.stderr, MESSAGE_B)
            self.assertLess(outcome.processor, self.bound)
            time.sleep(NO_URL_WAIT)
            self.assertFalse(os.path.exists(outcome.record), "a URL for an attack")
            self.assertEqual(leftovers, [], "the run wrote into its directory")
            self.assertFalse(left_running, "a process of the run is still there")
        return peak

    def assert_opens_the_map(self, label, name, data):
        outcome, _, leftovers, _, _ = self.run_on(label, name, data)
        with self.subTest(sibling=label):
            self.assertEqual((outcome.result.returncode, outcome.result.stderr), (0, b""))
            self.assertEqual(self.wait_for_urls(outcome.record), [crafted.MAP_URL.encode()])
            self.assertEqual(leftovers, [])

    def assert_within_memory_budget(self, label, peak, size):
        with self.subTest(memory=label):
            self.assertLessEqual(peak, READER_MEMORY_BUDGET + size,
                                 "the reader went past its memory budget")
        print("%-40s peak %4d MiB" % (label, peak >> 20), file=sys.stderr)

    # ---- exiv2's video readers ---------------------------------------------

    def test_video_files_are_typed_as_video_and_never_parsed(self):
        # Each one crashes exiv2's own command line tool (an assertion, and two
        # heap overflows that the C library catches as "corrupted top size" and
        # "invalid pointer").
        cases = [
            ("Matroska, element without a size", "sizeless.webm",
             crafted.matroska_with_sizeless_element(), "mkv"),
            ("AVI, LIST INFO entry overrunning", "overrun.avi",
             crafted.avi_with_overrunning_info(), "riff"),
            ("QuickTime, url and dcom boxes overrunning", "overrun.mov",
             crafted.quicktime_with_overrunning_boxes(), "qtime"),
        ]
        for label, name, data, kind in cases:
            detected = exiv2_type_of(data)
            if detected is not None:
                with self.subTest(typed=label):
                    self.assertEqual(detected, EXIV2_027_TYPES[kind],
                                     "exiv2 would not even pick its %s reader" % kind)
            # Not parsed: the reader sends its refusal and ends by itself.
            self.assert_message_b(label, name, data, ENDED_BY_ITSELF)

    # ---- A reader that dies by a signal ----------------------------------------

    def test_stack_overflow_in_the_crw_reader(self):
        # 100,000 nested CIFF directories: exiv2 recurses once per directory
        # and its command line tool dies by SIGSEGV; so must the reader only.
        self.assert_message_b("CRW, 100,000 nested directories", "deep.crw",
                              crafted.crw_with_nested_directories(), {"killed by SIGSEGV"})

    # ---- Memory bombs ---------------------------------------------------------------

    MEMORY_BOMBS = [
        # label, file name, attack, harmless sibling
        ("HEIC, 8,000 nested boxes", "nested.heic", crafted.heic_with_nested_boxes,
         lambda: crafted.heic_with_nested_boxes(depth=10)),
        ("TIFF, Canon arrays sharing 512 KB", "arrays.tif", crafted.canon_makernote_tiff,
         lambda: crafted.canon_makernote_tiff(block_size=64)),
        ("TIFF, 250 tags sharing 2 MB", "blob.tif", crafted.tiff_with_shared_blob,
         lambda: crafted.tiff_with_shared_blob(blob_size=64)),
    ]

    def test_memory_bombs_end_at_the_memory_budget(self):
        if self.sanitized:
            self.skipTest("a sanitizer build's reader has no address-space limit")
        # Read unbounded, each costs about twice the budget (760 MB, 980 MB,
        # 1 GB with exiv2's tool) and then yields its GPS position.
        for label, name, attack, sibling in self.MEMORY_BOMBS:
            self.assert_opens_the_map(label + " (harmless)", "small-" + name, sibling())
            data = attack()
            # The reader's allocation fails at the limit: it reports the
            # failure, is ended while it frees what it had, or faults where
            # its stack (8,000 nested calls deep) finds no room left to grow.
            peak = self.assert_message_b(label, name, data,
                                         ENDED_BY_ITSELF | DEADLINE_ENDS | {"killed by SIGSEGV"},
                                         bomb=True)
            self.assert_within_memory_budget(label, peak, len(data))

    def test_a_jpeg_cannot_hold_arrays_enough_to_pass_the_budget(self):
        if self.sanitized:
            self.skipTest("a sanitizer build's reader may need longer than its deadline for it")
        # One APP1 segment holds 64 KB: the Canon arrays then cost about
        # 120 MB, which the reader may spend; it reads the position.
        outcome, peak, leftovers, left_running, _ = self.run_on(
            "JPEG, Canon arrays sharing 60 KB", "arrays.jpg", crafted.canon_makernote_jpeg())
        self.assert_clean_ends([outcome], expected_url=crafted.MAP_URL)
        self.assertLess(outcome.processor, self.bound)
        self.assertEqual((leftovers, left_running), ([], False))

    # ---- CPU bombs -------------------------------------------------------------------

    CPU_BOMBS = [
        # label, file name, attack, harmless sibling; seconds with exiv2's tool
        ("JPEG, 95,000 IPTC keywords", "keywords.jpg", crafted.iptc_keywords_jpeg,  # 45 s
         lambda: crafted.iptc_keywords_jpeg(keywords=100)),
        ("TIFF, XMP of 19,000 namespaces", "namespaces.tif", crafted.xmp_namespaces_tiff,  # 17 s
         lambda: crafted.xmp_namespaces_tiff(namespaces=10)),
        ("JPEG, 900 ICC segments", "icc.jpg", crafted.icc_segments_jpeg,  # 17 s
         lambda: crafted.icc_segments_jpeg(segments=2)),
    ]

    def test_cpu_bombs_end_at_the_deadline(self):
        for label, name, attack, sibling in self.CPU_BOMBS:
            self.assert_opens_the_map(label + " (harmless)", "small-" + name, sibling())
            self.assert_message_b(label, name, attack(), DEADLINE_ENDS, bomb=True)

    # ---- Our own HEIF reader ------------------------------------------------------------

    def test_item_table_of_billions_of_extents_in_our_heif_reader(self):
        # The same layout with a sound table opens the map through our reader
        # alone: exiv2 finds no Exif in either file.
        self.assert_opens_the_map("HEIC, Exif item only our reader finds", "ours.heic",
                                  crafted.heic_read_by_our_reader_only())
        self.assert_message_b("HEIC, 65,535 items x 65,535 extents", "extents.heic",
                              crafted.heic_with_endless_item_table(), ENDED_BY_ITSELF)


if __name__ == "__main__":
    unittest.main(verbosity=2)
