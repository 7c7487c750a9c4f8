"""The Windows executable under Wine, started as Explorer would start it.

dialog_helper.exe starts photomap.exe, reads back the message box it shows,
presses OK and reports the exit code. Wine 8's IShellItem2::GetProperty is a
stub that answers E_NOTIMPL, so under Wine every picture, even one with a GPS
position, ends in message B: these tests prove the run's start, its gate, its
argument check, its messages and its exit status, and that OpenMapAt hands
the URL to the shell.
"""

import ntpath
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
RUN_UNDER_WINE = os.path.join(HERE, "run-under-wine.sh")
PHOTOMAP_EXE = os.environ["PHOTOMAP_EXE"]
DIALOG_HELPER = os.environ["DIALOG_HELPER_EXE"]
WINE_TESTS = os.environ["WINE_PLATFORM_TESTS_EXE"]
PLANTED_PROPSYS = os.environ["PLANTED_PROPSYS_DLL"]
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")

MESSAGE_A = "This program requires windows Vista or later"
MESSAGE_B = "Please supply a JPG picture with GPS information as argument"
WINE_TIMEOUT = 300  # cold Wine starts under emulation take seconds each


def windows_path(path):
    """Wine's drive Z: form of a Unix path; Wine 8's shell32 crashes on Unix-style paths."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_wine(arguments, extra_environment=None):
    environment = dict(os.environ)
    environment.update(extra_environment or {})
    return subprocess.run([RUN_UNDER_WINE] + arguments, env=environment, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=WINE_TIMEOUT)


def run_photomap(arguments, extra_environment=None):
    """Runs photomap.exe through dialog_helper; returns (dialogs, exit code)."""
    return run_photomap_at(PHOTOMAP_EXE, arguments, extra_environment)


def run_photomap_at(program, arguments, extra_environment=None):
    """Runs `program`, a copy of photomap.exe, as run_photomap does."""
    result = run_wine([DIALOG_HELPER, "--timeout", "120", windows_path(program)] + arguments,
                      extra_environment)
    assert result.returncode == 0, result
    dialogs, exit_code = [], None
    for line in result.stdout.decode("utf-8").splitlines():
        name, _, value = line.partition(": ")
        if name == "caption":
            dialogs.append([value, []])
        elif name == "text":
            dialogs[-1][1].append(value)
        elif name == "exit":
            exit_code = int(value)
    return [(caption, "\n".join(lines)) for caption, lines in dialogs], exit_code


class PhotomapUnderWine(unittest.TestCase):
    def assert_one_message(self, text, arguments, extra_environment=None):
        dialogs, exit_code = run_photomap(arguments, extra_environment)
        self.assertEqual(dialogs, [("Error", text)])
        self.assertEqual(exit_code, 0)

    def test_no_argument(self):
        self.assert_one_message(MESSAGE_B, [])

    def test_two_arguments(self):
        self.assert_one_message(MESSAGE_B, [windows_path(SAMPLE), windows_path(SAMPLE)])

    def test_missing_file(self):
        self.assert_one_message(MESSAGE_B, [windows_path(os.path.join(SOURCE, "no-such.jpg"))])

    def test_real_jpeg_with_gps(self):
        # GetProperty is a stub in Wine 8: the read fails and message B follows.
        self.assert_one_message(MESSAGE_B, [windows_path(SAMPLE)])

    def test_without_the_property_system(self):
        overrides = os.environ.get("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d")
        self.assert_one_message(MESSAGE_A, [windows_path(SAMPLE)],
                                {"WINEDLLOVERRIDES": overrides + ";propsys=d"})


class LateBoundTableUnderWine(unittest.TestCase):
    def test_without_the_property_system(self):
        overrides = os.environ.get("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d")
        result = run_wine([WINE_TESTS, "--gtest_filter=LateBoundTableWithoutPropsys.*"],
                          {"WINEDLLOVERRIDES": overrides + ";propsys=d"})
        self.assertEqual(result.returncode, 0, result.stdout.decode(errors="replace"))
        self.assertIn(b"[  PASSED  ] 1 test.", result.stdout)


class PlantedPropsysUnderWine(unittest.TestCase):
    """A Propsys.dll of the tests' own making beside the program, as in a
    Downloads folder where someone put one: it must never run."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="photomap-planted-")
        self.addCleanup(shutil.rmtree, self.folder)
        shutil.copy(PLANTED_PROPSYS, os.path.join(self.folder, "Propsys.dll"))
        self.mark = os.path.join(self.folder, "planted-library-ran")
        self.environment = {"PHOTOMAP_PLANTED_MARK": windows_path(self.mark)}

    def beside_the_planted_library(self, program):
        copy = os.path.join(self.folder, os.path.basename(program))
        shutil.copy(program, copy)
        return copy

    def run_wine_tests(self, test_filter):
        result = run_wine([self.beside_the_planted_library(WINE_TESTS),
                           "--gtest_filter=" + test_filter], self.environment)
        self.assertEqual(result.returncode, 0, result.stdout.decode(errors="replace"))
        self.assertIn(b"[  PASSED  ] 1 test.", result.stdout)

    def test_a_bare_name_would_load_it(self):
        # The control: without it the tests below could pass for the wrong reason.
        self.run_wine_tests("BareNameBesideAPlantedPropsys.*")
        self.assertTrue(os.path.exists(self.mark))

    def test_the_late_bound_table_binds_the_systems_own(self):
        self.run_wine_tests("LateBoundTableBesideAPlantedPropsys.*")
        self.assertFalse(os.path.exists(self.mark))

    def test_photomap_does_not_load_it(self):
        photomap = self.beside_the_planted_library(PHOTOMAP_EXE)
        dialogs, exit_code = run_photomap_at(photomap, [windows_path(SAMPLE)], self.environment)
        # Message B, as for every picture under Wine: past the gate, so bound.
        self.assertEqual(dialogs, [("Error", MESSAGE_B)])
        self.assertEqual(exit_code, 0)
        self.assertFalse(os.path.exists(self.mark))


class OpenMapAtUnderWine(unittest.TestCase):
    def test_url_reaches_the_handler_for_web_addresses(self):
        with tempfile.TemporaryDirectory() as directory:
            record = os.path.join(directory, "urls")
            stand_in = os.path.join(directory, "xdg-open")
            with open(stand_in, "w") as script:
                script.write('#!/bin/sh\nprintf "%s\\n" "$1" >> "$PHOTOMAP_URL_RECORD"\n')
            os.chmod(stand_in, 0o755)
            result = run_wine([WINE_TESTS, "--gtest_filter=OpenMapAt.*"],
                              {"PATH": directory + os.pathsep + os.environ["PATH"],
                               "PHOTOMAP_URL_RECORD": record})
            self.assertEqual(result.returncode, 0, result.stdout.decode(errors="replace"))
            deadline = time.monotonic() + 60
            while not os.path.exists(record) and time.monotonic() < deadline:
                time.sleep(0.1)
            time.sleep(0.2)
            with open(record) as urls:
                self.assertEqual(urls.read().splitlines(),
                                 ["https://www.google.com/maps/place/37.77490000,-122.41940000"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
