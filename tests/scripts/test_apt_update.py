"""scripts/apt-update.sh, which the set-up scripts run instead of a bare
apt-get update: it tries again after a pause, and when an index stays
unavailable its last line names the suite and architecture and blames the
archive. Under it scripts/apt-get.sh, through which the scripts run every
apt-get: it waits for a lock another apt holds, and when it gives up names
the lock and its holder. Without the network: a stand-in apt-get first on
PATH answers each call from a script of answers, a stand-in sleep records the
pauses.
"""

import fcntl
import os
import stat
import subprocess
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
APT_UPDATE = os.path.join(SOURCE, "scripts", "apt-update.sh")
INSTALL_DEPS = os.path.join(SOURCE, "scripts", "install-deps.sh")
APT_GET = os.path.join(SOURCE, "scripts", "apt-get.sh")
LOCK_WAIT = "-o DPkg::Lock::Timeout="

FINE = (0, "Hit:1 http://archive.test/debian bookworm InRelease\nReading package lists...\n")
MID_SYNC = (100, "Err:7 http://archive.test/debian-security bookworm-security/main i386 Packages\n"
            "  File has unexpected size (1234 != 5678). Mirror sync in progress?\n"
            "E: Failed to fetch http://archive.test/debian-security/dists/bookworm-security/main/"
            "binary-i386/Packages.xz  File has unexpected size (1234 != 5678). Mirror sync in "
            "progress?\nE: Some index files failed to download. They have been ignored, or old "
            "ones used instead.\n")
IGNORED = (0, "W: Failed to fetch http://archive.test/debian/dists/bookworm-updates/main/"
           "binary-amd64/by-hash/SHA256/0123abcd  Hash Sum mismatch\n"
           "W: Failed to fetch http://archive.test/debian/dists/bookworm/main/Contents-amd64.gz"
           "  Hash Sum mismatch\nW: Some index files failed to download. They have been "
           "ignored, or old ones used instead.\n")
NO_RELEASE = (100, "E: Failed to fetch http://archive.test/debian/dists/bookworm-backports/"
              "InRelease  Clearsigned file isn't valid, got 'NOSPLIT'\n")


def locked(path):
    return (100, "E: Could not get lock %s. It is held by process 99 (apt-get)\n"
            "E: Unable to lock directory %s\n" % (path, os.path.dirname(path)))


STAND_IN_APT = """#!/bin/sh
# Answers call N with the files N.out and N.status of $FAKE_APT (the last
# ones once there are no more), and records its arguments.
n=$(( $(wc -l < "$FAKE_APT/calls") + 1 ))
echo "$*" >> "$FAKE_APT/calls"
[ -e "$FAKE_APT/$n.status" ] || n=$(ls "$FAKE_APT" | sed -n 's/\\.status$//p' | sort -n | tail -1)
cat "$FAKE_APT/$n.out"
exit "$(cat "$FAKE_APT/$n.status")"
"""
STAND_IN_SLEEP = '#!/bin/sh\necho "$1" >> "$FAKE_APT/pauses"\n'
# install-deps.sh finds nothing installed and nothing known to apt.
STAND_IN_QUERY = "#!/bin/sh\nexit 1\n"


class AptUpdate(unittest.TestCase):
    def run_with(self, answers, command, extra_environment=None):
        """Runs COMMAND with the stand-ins answering ANSWERS; returns the
        result, apt-get's argument lines and the pauses."""
        folder = tempfile.mkdtemp(prefix="photomap-apt-")
        self.addCleanup(subprocess.run, ["rm", "-rf", folder])
        fake = os.path.join(folder, "answers")
        bin_dir = os.path.join(folder, "bin")
        os.makedirs(fake)
        os.makedirs(bin_dir)
        for number, (status, out) in enumerate(answers, start=1):
            with open(os.path.join(fake, f"{number}.out"), "w") as f:
                f.write(out)
            with open(os.path.join(fake, f"{number}.status"), "w") as f:
                f.write(str(status))
        open(os.path.join(fake, "calls"), "w").close()
        for name, text in [("apt-get", STAND_IN_APT), ("sleep", STAND_IN_SLEEP),
                           ("dpkg-query", STAND_IN_QUERY), ("apt-cache", STAND_IN_QUERY)]:
            path = os.path.join(bin_dir, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
        environment = {k: v for k, v in os.environ.items() if not k.startswith("PHOTOMAP_APT_")}
        environment.update(PATH=bin_dir + os.pathsep + os.environ["PATH"], FAKE_APT=fake,
                           **(extra_environment or {}))
        result = subprocess.run(command, env=environment, capture_output=True, text=True,
                                timeout=60)
        with open(os.path.join(fake, "calls")) as f:
            calls = f.read().splitlines()
        pauses = []
        if os.path.exists(os.path.join(fake, "pauses")):
            with open(os.path.join(fake, "pauses")) as f:
                pauses = f.read().split()
        return result, calls, pauses

    def test_retries_and_what_the_last_line_says(self):
        archive = r"the fault is the archive's .*a later retry may pass$"
        # (case, answers, environment, passes, tries, pauses, last line)
        cases = [
            ("passes at once", [FINE], {}, True, 1, [], None),
            ("mirror syncs, then passes", [MID_SYNC, MID_SYNC, FINE], {}, True, 3,
             ["30", "30"], None),
            ("stays mid-sync", [MID_SYNC], {}, False, 4, ["30"] * 3,
             r"^setup-wine: error: the archive index of bookworm-security \(i386\) stayed "
             r"unavailable in 4 run\(s\) of apt-get update: " + archive),
            ("indexes ignored with a warning only", [IGNORED], {"PHOTOMAP_APT_TRIES": "2"},
             False, 2, ["30"],
             r"index of bookworm-updates \(amd64\), bookworm \(amd64\) stayed .*" + archive),
            ("no Release file", [NO_RELEASE], {"PHOTOMAP_APT_TRIES": "1"}, False, 1, [],
             r"index of bookworm-backports \(every architecture\) stayed .*" + archive),
            ("fails otherwise", [(100, "E: The repository is not signed.\n")],
             {"PHOTOMAP_APT_TRIES": "3", "PHOTOMAP_APT_PAUSE": "1"}, False, 3, ["1", "1"],
             r"^setup-wine: error: apt-get update failed in 3 run\(s\) \(status 100\); its "
             r"messages are above$"),
        ]
        for case, answers, environment, passes, tries, pauses, last_line in cases:
            with self.subTest(case=case):
                result, calls, slept = self.run_with(answers, [APT_UPDATE, "setup-wine", "-q"],
                                                     environment)
                self.assertEqual(result.returncode == 0, passes, result.stderr)
                self.assertEqual(self.without_lock_wait(calls), ["update -q"] * tries)
                self.assertEqual(slept, pauses)
                # apt's own lines are shown as they come.
                self.assertIn(answers[0][1].splitlines()[0], result.stdout)
                errors = [line for line in result.stderr.splitlines() if ": error:" in line]
                if last_line is None:
                    self.assertEqual(errors, [], result.stderr)
                else:
                    self.assertEqual(len(errors), 1, result.stderr)
                    self.assertEqual(result.stderr.splitlines()[-1], errors[0])
                    self.assertRegex(errors[0], last_line)
                    if "the fault is" not in last_line:  # not the archive's
                        self.assertNotIn("archive", errors[0])

    def without_lock_wait(self, calls):
        """The calls, each checked for a bounded wait for dpkg's lock and without it."""
        for call in calls:
            self.assertRegex(call, "^" + LOCK_WAIT + "[0-9]+ ")
        return [call.split(" ", 2)[2] for call in calls]

    def test_waits_for_a_lock_and_names_its_holder(self):
        # A lock of the test's own, held by this process as apt holds its locks.
        lock = os.path.join(tempfile.mkdtemp(prefix="photomap-lock-"), "lock")
        self.addCleanup(subprocess.run, ["rm", "-rf", os.path.dirname(lock)])
        held = open(lock, "w")
        self.addCleanup(held.close)
        fcntl.lockf(held, fcntl.LOCK_EX)
        quick = {"PHOTOMAP_APT_LOCK_WAIT": "2", "PHOTOMAP_APT_LOCK_PAUSE": "1"}
        holder = r"held by process %d \(\S*python3 .*test_apt_update\.py" % os.getpid()
        # (case, command, answers, status, calls, pauses, last line)
        cases = [
            ("let go", [APT_UPDATE, "setup-wine"], [locked(lock), FINE], 0, ["update"] * 2, ["1"],
             None),
            ("never let go, by update", [APT_UPDATE, "setup-wine"], [locked(lock)], 75,
             ["update"] * 3, ["1", "1"],
             "^setup-wine: error: gave up after 2 s waiting for the lock %s \\(apt-get update\\), "
             % lock + holder),
            ("never let go, by install", [APT_GET, "install-deps", "install", "-y", "cmake"],
             [locked(lock)], 75, ["install -y cmake"] * 3, ["1", "1"],
             "^install-deps: error: gave up after 2 s waiting for the lock %s .*" % lock + holder),
        ]
        for case, command, answers, status, calls, pauses, last_line in cases:
            with self.subTest(case=case):
                result, made, slept = self.run_with(answers, command, quick)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(self.without_lock_wait(made), calls)
                self.assertEqual(slept, pauses)
                errors = [line for line in result.stderr.splitlines() if ": error:" in line]
                if last_line is None:
                    self.assertEqual(errors, [], result.stderr)
                else:
                    self.assertEqual(errors, result.stderr.splitlines()[-1:], result.stderr)
                    self.assertRegex(errors[0], last_line)

    @unittest.skipUnless(os.geteuid() == 0, "install-deps.sh runs apt-get through sudo "
                         "otherwise, whose PATH has no stand-in")
    def test_install_deps_stops_with_that_line(self):
        result, calls, _ = self.run_with([MID_SYNC], [INSTALL_DEPS, "host"],
                                         {"PHOTOMAP_APT_TRIES": "2", "PHOTOMAP_APT_PAUSE": "0"})
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(self.without_lock_wait(calls), ["update", "update"])  # no install
        self.assertRegex(result.stderr.splitlines()[-1],
                         r"^install-deps: error: the archive index of bookworm-security \(i386\)")


if __name__ == "__main__":
    unittest.main(verbosity=2)
