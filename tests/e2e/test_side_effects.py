"""photomap writes nothing, sends nothing, and starts nothing but xdg-open.

Each run is traced with strace -f. What photomap's own processes do is
checked: the program, the confined reader process that parses the picture,
and, up to its exec, the child that becomes xdg-open.
What that child does once it runs xdg-open (here the stand-in, which writes
its record file) is the browser's business and is left out.
"""

import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pictures  # noqa: E402
import seeds  # noqa: E402
from runs import HardeningRun  # noqa: E402
from test_photomap import MESSAGE_B  # noqa: E402

STRACE = shutil.which("strace")
TRACE_TIMEOUT = 60

# Calls that change the file system whatever their arguments.
CHANGING_CALLS = {
    "creat", "rename", "renameat", "renameat2", "unlink", "unlinkat", "rmdir", "mkdir",
    "mkdirat", "link", "linkat", "symlink", "symlinkat", "truncate", "ftruncate", "fallocate",
    "mknod", "mknodat", "chmod", "fchmod", "fchmodat", "chown", "fchown", "fchownat", "lchown",
    "utime", "utimes", "utimensat", "futimesat", "setxattr", "lsetxattr", "fsetxattr",
    "removexattr", "lremovexattr", "fremovexattr",
}
OPENING_CALLS = {"open", "openat", "openat2", "open_by_handle_at"}
WRITING_CALLS = {"write", "pwrite64", "writev", "pwritev", "pwritev2", "sendfile",
                 "copy_file_range", "splice"}
NETWORK_CALLS = {"socket", "socketpair", "connect", "bind", "listen", "sendto", "sendmsg",
                 "sendmmsg"}
PROCESS_CALLS = {"execve", "execveat", "clone", "clone3", "fork", "vfork"}
# Each name with "?": a call that this architecture does not have is left out.
TRACED = sorted(CHANGING_CALLS | OPENING_CALLS | WRITING_CALLS | NETWORK_CALLS |
                PROCESS_CALLS | {"mmap", "seccomp"})

WRITE_FLAGS = re.compile(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND|O_TMPFILE")
# With -y, strace shows the file behind a descriptor: 3</tmp/x.jpg>.
FILE_DESCRIPTOR = re.compile(r"\b\d+<(/[^>]*)>")
PIPE_DESCRIPTOR = re.compile(r"^\d+<pipe:\[\d+\]>")
LINE = re.compile(r"^(\d+) +(?:<\.\.\. (\w+) resumed>|(\w+)\()(.*)$")
RESULT = re.compile(r"\) += (-?\w+)")


class Trace:
    """The calls of one strace -f log, split into photomap's own and the rest.

    A process is photomap's own until it executes another program; a process
    that such a program starts is never photomap's own.
    """

    def __init__(self, log, program):
        lines = []
        # A call that another process's call interrupts in the log is written
        # in two lines, "...<unfinished ...>" and "<... call resumed>...";
        # the resumed line gets the arguments of its first half.
        unfinished = {}  # pid -> the first half's arguments
        for line in log.splitlines():
            match = LINE.match(line)
            if match:
                pid, text = int(match.group(1)), match.group(4)
                if match.group(3) is not None and text.endswith("<unfinished ...>"):
                    unfinished[pid] = text[:-len("<unfinished ...>")]
                elif match.group(2) is not None:
                    text = unfinished.pop(pid, "") + text
                result = RESULT.search(text)
                lines.append((pid, match.group(2) or match.group(3), match.group(3) is not None,
                              text, result.group(1) if result else None))

        self.started = []  # what photomap's processes went on to run
        foreign_from = {}  # pid -> index of the line from which it is not photomap's
        parents = {}  # child pid -> (parent pid, index of the line that made it)
        running = {}  # pid -> program named by its exec call in progress
        for index, (pid, call, opens, text, result) in enumerate(lines):
            if call in ("execve", "execveat"):
                if opens:
                    running[pid] = text.split('"')[1] if '"' in text else ""
                if result == "0" and pid not in foreign_from:
                    executed = running.pop(pid, "")
                    if os.path.realpath(executed) != os.path.realpath(program):
                        self.started.append(executed)
                        foreign_from[pid] = index
            elif call in ("clone", "clone3", "fork", "vfork") and result and result.isdigit():
                parents[int(result)] = (pid, index)

        def is_own(pid, index):
            if pid in foreign_from and index >= foreign_from[pid]:
                return False
            if pid in parents:
                parent, made_at = parents[pid]
                return is_own(parent, made_at)
            return True

        self.own = [(pid, call, text) for index, (pid, call, _, text, _) in enumerate(lines)
                    if is_own(pid, index)]
        # What each of photomap's processes did once a seccomp filter of its
        # own was in force: the picture reader's confined life.
        self.confined = {}
        for index, (pid, call, _, text, result) in enumerate(lines):
            if pid in self.confined:
                self.confined[pid].append((call, text, result))
            elif (call == "seccomp" and "SECCOMP_SET_MODE_FILTER" in text and result == "0"
                  and is_own(pid, index)):
                self.confined[pid] = []

    def calls(self, names):
        return [(pid, call, text) for pid, call, text in self.own if call in names]


class NothingWrittenNothingSent(HardeningRun):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.seed_paths = seeds.make_seed_pictures(os.path.join(cls.root, "seeds"))

    def setUp(self):
        super().setUp()
        self.assertIsNotNone(STRACE, "strace is needed (Debian package strace)")

    def traced_run(self, label, picture):
        log = self.path("strace-%s.log" % label.replace(" ", "-"))
        # LeakSanitizer cannot work under ptrace; the leak tests cover it.
        options = os.environ.get("ASAN_OPTIONS", "")
        outcome = self.run_recorded(
            label, picture, timeout=TRACE_TIMEOUT,
            prefix=[STRACE, "-f", "-qq", "-y", "-s", "4096", "-o", log,
                    "-e", "trace=" + ",".join("?" + call for call in TRACED)],
            extra_environment={"ASAN_OPTIONS": options + ":detect_leaks=0"})
        with open(log, errors="replace") as text:
            return outcome, Trace(text.read(), self.photomap)

    def pictures_to_trace(self):
        no_gps = pictures.blank_image(self.path("no-gps.jpg"))
        cut = pictures.truncated_copy(self.seed_paths[1], self.path("cut.tif"), 300)
        not_a_picture = self.path("notes.jpg")
        with open(not_a_picture, "w") as notes:
            notes.write("GPS 51 28 38 N\n")
        good = [(os.path.basename(path), path, seeds.expected_url(os.path.basename(path)))
                for path in self.seed_paths]
        bad = [("no GPS", no_gps, None), ("cut TIFF", cut, None),
               ("not a picture", not_a_picture, None)]
        return good + bad

    def test_no_file_written_created_renamed_or_removed_and_no_socket(self):
        for label, picture, url in self.pictures_to_trace():
            with self.subTest(label):
                outcome, trace = self.traced_run(label, picture)
                self.assert_clean_ends([outcome], expected_url=url)
                if url is None:
                    self.assertEqual(outcome.result.stderr, MESSAGE_B)
                self.assertTrue(trace.calls({"openat", "open"}), "the trace saw no open")
                # /dev/null, opened as xdg-open's stdout, changes no file.
                opened_for_writing = [entry for entry in trace.calls(OPENING_CALLS)
                                      if WRITE_FLAGS.search(entry[2])
                                      and '"/dev/null", O_WRONLY)' not in entry[2]]
                written_files = [entry for entry in trace.calls(WRITING_CALLS)
                                 if FILE_DESCRIPTOR.match(entry[2].lstrip())]
                shared_writable_maps = [entry for entry in trace.calls({"mmap"})
                                        if "MAP_SHARED" in entry[2] and "PROT_WRITE" in entry[2]]
                violations = {
                    "file system changed": trace.calls(CHANGING_CALLS),
                    "network used": trace.calls(NETWORK_CALLS),
                    "opened for writing": opened_for_writing,
                    "written to a file": written_files,
                    "mapped for writing": shared_writable_maps,
                }
                self.assertEqual({kind: calls for kind, calls in violations.items() if calls}, {})
                # xdg-open for the map, nothing else, and nothing at all without one.
                self.assertEqual([os.path.basename(p) for p in trace.started],
                                 ["xdg-open"] if url else [])
                self.assert_read_confined(trace)

    def assert_read_confined(self, trace):
        """Our readers' process, and exiv2's where they found nothing, read
        the picture under their filters, and there each opened nothing,
        started nothing, used no network and wrote only its result to its
        pipe."""
        self.assertIn(len(trace.confined), (1, 2), "no confined reader process in the trace")
        for calls in trace.confined.values():
            self.assert_confined_calls(calls)

    def assert_confined_calls(self, calls):
        self.assertTrue(calls, "the confined reader made no traced call")
        opened = [entry for entry in calls
                  if entry[0] in OPENING_CALLS and not entry[2].startswith("-")]
        escaped = [entry for entry in calls
                   if entry[0] in PROCESS_CALLS | NETWORK_CALLS | CHANGING_CALLS]
        written = [entry for entry in calls if entry[0] in WRITING_CALLS]
        self.assertEqual(opened + escaped, [])
        self.assertEqual(len(written), 1, written)
        self.assertRegex(written[0][1].lstrip(), PIPE_DESCRIPTOR)


if __name__ == "__main__":
    unittest.main(verbosity=2)
