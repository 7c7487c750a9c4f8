"""The built packages: the .deb installs, runs from its installed path and
removes cleanly; the Windows .zip holds the executable and its note, beside
the installer (tested under Wine by tests/wine/test_msi.py).

Installs into this machine, so it runs as root (CI, or sudo), not in ctest.
"""

import glob
import os
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGES = os.path.join(SOURCE, "build", "packages")
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")
SAMPLE_URL = "https://www.google.com/maps/place/48.85822222,2.29450000"
INSTALLED = ["/usr/bin/photomap", "/usr/lib/photomap/plugins/libphotomap-exiv2.so",
             "/usr/share/applications/photomap.desktop",
             "/usr/share/man/man1/photomap.1.gz", "/usr/share/doc/photomap/copyright",
             "/usr/share/doc/photomap/changelog.gz",
             "/usr/share/nautilus-python/extensions/photomap.py",
             "/usr/share/caja-python/extensions/photomap.py",
             "/usr/share/nemo/actions/photomap.nemo_action",
             "/usr/share/kio/servicemenus/photomap.desktop",
             "/usr/share/Thunar/sendto/photomap.desktop"]


def only(pattern):
    matches = glob.glob(os.path.join(PACKAGES, pattern))
    assert len(matches) == 1, f"expected one {pattern} in {PACKAGES}, found {matches}"
    return matches[0]


class DebianPackage(unittest.TestCase):
    def test_installs_runs_and_removes_cleanly(self):
        deb = only("photomap_*_amd64.deb")
        fields = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True,
                                check=True, text=True).stdout
        self.assertIn("xdg-utils", fields)
        self.assertIn("libexiv2", fields)  # found by dpkg-shlibdeps

        subprocess.run(["dpkg", "-i", deb], check=True, capture_output=True)
        try:
            for path in INSTALLED:
                self.assertTrue(os.path.isfile(path), path)
            self.assertEqual(self.run_installed(SAMPLE), SAMPLE_URL)
            self.assert_hardened("/usr/bin/photomap")
        finally:
            subprocess.run(["dpkg", "-r", "photomap"], check=True, capture_output=True)
        for path in INSTALLED:
            self.assertFalse(os.path.exists(path), path)
        status = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", "photomap"],
                                capture_output=True, text=True).stdout
        self.assertIn(status, ("", "not-installed", "config-files"))

    def test_lintian_reports_no_error_or_warning(self):
        deb = only("photomap_*_amd64.deb")
        result = subprocess.run(["lintian", "--fail-on", "error,warning", deb],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^[EW]: ")

    def test_lintian_finds_every_hardening_flag(self):
        deb = only("photomap_*_amd64.deb")
        result = subprocess.run(["lintian", "-I", deb], capture_output=True, text=True)
        self.assertNotIn("hardening-", result.stdout)

    def test_dependencies_and_recommends(self):
        deb = only("photomap_*_amd64.deb")
        fields = subprocess.run(["dpkg-deb", "-f", deb, "Recommends", "Maintainer", "Section",
                                 "Priority"], capture_output=True, check=True, text=True).stdout
        self.assertIn("Recommends: zenity", fields)
        file_managers = subprocess.run(["dpkg-deb", "-f", deb, "Enhances", "Suggests", "Depends"],
                                       capture_output=True, check=True, text=True).stdout
        for manager in ("nautilus", "dolphin", "nemo", "thunar", "caja"):
            self.assertRegex(file_managers, r"(?m)^Enhances: .*\b%s\b" % manager)
            self.assertNotRegex(file_managers, r"(?m)^Depends: .*\b%s\b" % manager)
        self.assertNotIn("localhost", fields)
        self.assertIn("Section: graphics", fields)
        self.assertIn("Priority: optional", fields)

    def test_offered_for_pictures_but_never_the_default(self):
        # The unpacked .deb and the release build, in throwaway trees.
        test = os.path.join(SOURCE, "tests", "desktop", "test_mime_defaults.py")
        environment = dict(os.environ, PHOTOMAP_DEB=only("photomap_*_amd64.deb"),
                           PHOTOMAP_BUILD_DIR=os.path.join(SOURCE, "build", "release"))
        result = subprocess.run([sys.executable, test], env=environment, capture_output=True,
                                text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)

    def assert_hardened(self, program):
        """hardening-check finds each of Debian's hardening features. Not control
        flow (CET) or branch protection: Debian's C start files carry no CET
        note, so no program linked on Debian has one, and branch protection
        is arm64's."""
        usage = subprocess.run(["hardening-check", "--help"], capture_output=True,
                               text=True).stdout
        skips = [option for option in ("--nocfprotection", "--nobranchprotection")
                 if option in usage]
        check = subprocess.run(["hardening-check"] + skips + [program], capture_output=True,
                               text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        for feature in ("Position Independent Executable", "Stack protected",
                        "Fortify Source functions", "Read-only relocations",
                        "Immediate binding"):
            self.assertRegex(check.stdout, r"(?m)^ %s: yes" % feature)

    def run_installed(self, picture):
        """Runs /usr/bin/photomap with a stand-in xdg-open; returns the URL it was handed."""
        with tempfile.TemporaryDirectory() as directory:
            record = os.path.join(directory, "url")
            with open(os.path.join(directory, "xdg-open"), "w") as stand_in:
                stand_in.write('#!/bin/sh\nprintf "%s\\n" "$1" > "$PHOTOMAP_URL_RECORD"\n')
            os.chmod(os.path.join(directory, "xdg-open"), 0o755)
            environment = dict(os.environ, PATH=directory + os.pathsep + os.environ["PATH"],
                               PHOTOMAP_URL_RECORD=record)
            environment.pop("DISPLAY", None)
            environment.pop("WAYLAND_DISPLAY", None)
            result = subprocess.run(["/usr/bin/photomap", picture], env=environment,
                                    capture_output=True, timeout=30)
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                if os.path.exists(record):
                    with open(record) as url:
                        text = url.read()
                    if text.endswith("\n"):
                        return text.strip()
                time.sleep(0.05)
            self.fail("xdg-open was not handed a URL")


class WindowsZip(unittest.TestCase):
    def test_holds_the_executable_and_how_to_add_it_to_send_to(self):
        archive = only("photomap-*-windows-x86.zip")
        with zipfile.ZipFile(archive) as contents:
            self.assertEqual(sorted(contents.namelist()), ["SEND-TO.txt", "photomap.exe"])
            note = contents.read("SEND-TO.txt").decode()
            self.assertIn("shell:sendto", note)
            with tempfile.TemporaryDirectory() as directory:
                exe = contents.extract("photomap.exe", directory)
                # The packed (stripped) executable keeps its header, imports and version.
                check = subprocess.run([sys.executable,
                                        os.path.join(SOURCE, "tests", "wine", "check_pe.py"), exe],
                                       capture_output=True, text=True)
                self.assertEqual(check.returncode, 0, check.stderr)
            # Every Notepad shows CRLF lines; a folder the user may write to;
            # how to remove it again.
            self.assertEqual(note.count("\n"), note.count("\r\n"))
            self.assertIn(r"%LOCALAPPDATA%\Programs\photomap", note)
            self.assertIn("Remove it", note)

    def test_installer_is_a_windows_installer_package(self):
        with open(only("photomap-*-x86.msi"), "rb") as package:
            self.assertEqual(package.read(8), bytes.fromhex("d0cf11e0a1b11ae1"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
