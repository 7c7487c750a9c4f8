"""The error message as a desktop user sees it: a modal dialog on an X display
(Xvfb here), read back from a screenshot with OCR and dismissed with Return."""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

PHOTOMAP = os.path.abspath(os.environ.get("PHOTOMAP", "build/host/photomap"))
MESSAGE_B = "Please supply a JPG picture with GPS information as argument"
SCREENSHOT = os.environ.get("PHOTOMAP_SCREENSHOT")  # where to keep the dialog's picture
WAIT = 30


def words(text):
    return re.findall(r"[A-Za-z]+", text)


class DesktopDialog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        read, write = os.pipe()
        cls.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as display_number:
            cls.display = ":" + display_number.readline().strip()

    @classmethod
    def tearDownClass(cls):
        cls.xvfb.terminate()
        cls.xvfb.wait(timeout=WAIT)

    def environment(self, path=None):
        environment = dict(os.environ, DISPLAY=self.display)
        environment.pop("WAYLAND_DISPLAY", None)
        # GTK 4 (zenity 4, Debian 13) draws with GL by default, which leaves
        # nothing in this Xvfb's screenshots; its cairo renderer draws in full.
        # GTK 3 (zenity 3, Debian 12) does not read it.
        environment["GSK_RENDERER"] = "cairo"
        if path is not None:
            environment["PATH"] = path
        return environment

    def x(self, *command):
        return subprocess.run(list(command), env=self.environment(), capture_output=True,
                              check=True, timeout=WAIT).stdout.decode()

    def test_dialog_shows_the_message_and_waits_until_dismissed(self):
        run = subprocess.Popen([PHOTOMAP], env=self.environment(), stdin=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
        try:
            window = self.x("xdotool", "search", "--sync", "--name", "^Error$").split()[0]
            time.sleep(0.5)  # let the dialog draw itself
            self.assertIsNone(run.poll(), "photomap must wait while the dialog is open")

            with tempfile.TemporaryDirectory() as directory:
                shot = os.path.join(directory, "dialog.png")
                self.x("import", "-window", window, shot)
                if SCREENSHOT:
                    shutil.copyfile(shot, SCREENSHOT)
                bigger = os.path.join(directory, "bigger.png")
                subprocess.run(["convert", shot, "-resize", "300%", bigger], check=True)
                text = subprocess.run(["tesseract", bigger, "-"], capture_output=True,
                                      check=True).stdout.decode()
            self.assertIn(" ".join(words(MESSAGE_B)), " ".join(words(text)))

            self.x("xdotool", "windowfocus", "--sync", window, "key", "Return")
            _, stderr = run.communicate(timeout=WAIT)
        finally:
            if run.poll() is None:
                run.kill()
                run.wait()
        self.assertEqual(run.returncode, 0)
        self.assertEqual(stderr.decode(), "Error: " + MESSAGE_B + "\n")

    def test_a_failed_launch_shows_the_same_dialog(self):
        source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        sample = os.path.join(source, "samples", "eiffel-tower.jpg")
        with tempfile.TemporaryDirectory() as directory:
            with open(os.path.join(directory, "xdg-open"), "w") as stand_in:
                stand_in.write("#!/bin/sh\nexit 3\n")  # xdg-open found no browser
            os.chmod(os.path.join(directory, "xdg-open"), 0o755)
            run = subprocess.Popen([PHOTOMAP, sample],
                                   env=self.environment(path=directory + ":/usr/bin:/bin"),
                                   stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
            try:
                window = self.x("xdotool", "search", "--sync", "--name", "^Error$").split()[0]
                self.assertIsNone(run.poll(), "photomap must wait while the dialog is open")
                self.x("xdotool", "windowfocus", "--sync", window, "key", "Return")
                _, stderr = run.communicate(timeout=WAIT)
            finally:
                if run.poll() is None:
                    run.kill()
                    run.wait()
        self.assertEqual(run.returncode, 0)
        self.assertEqual(stderr.decode(), "Error: Could not open "
                         "https://www.google.com/maps/place/48.85822222,2.29450000: "
                         "no web browser was found (xdg-open exit status 3)\n")

    def test_without_zenity_the_message_goes_to_stderr_alone(self):
        with tempfile.TemporaryDirectory() as empty:
            result = subprocess.run([PHOTOMAP], env=self.environment(path=empty),
                                    capture_output=True, timeout=WAIT)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr.decode(), "Error: " + MESSAGE_B + "\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
