"""The error message as a desktop user sees it: a modal dialog on an X display
(Xvfb here), its text read through the accessibility tree and dismissed with
Return."""

import os
import subprocess
import tempfile
import time
import unittest

import accessible

PHOTOMAP = os.path.abspath(os.environ.get("PHOTOMAP", "build/host/photomap"))
MESSAGE_B = "Please supply a JPG picture with GPS information as argument"
SCREENSHOT = os.environ.get("PHOTOMAP_SCREENSHOT")  # where to keep the dialog's picture
WAIT = accessible.WAIT


class DesktopDialog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desktop = accessible.desktop()

    def environment(self, path=None):
        # GTK 4 (zenity 4, Debian 13) draws with GL by default, which leaves
        # nothing in this Xvfb's screenshots; its cairo renderer draws in full.
        # GTK 3 (zenity 3, Debian 12) does not read it.
        environment = self.desktop.environment(GSK_RENDERER="cairo")
        if path is not None:
            environment["PATH"] = path
        return environment

    def assert_dialog_says(self, text):
        """zenity's dialog named Error holds a label of exactly `text`."""
        atspi = self.desktop.atspi
        self.desktop.wait_for_object("zenity", (atspi.ROLE_DIALOG, "Error"),
                                     (atspi.ROLE_LABEL, text))

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

            self.assert_dialog_says(MESSAGE_B)
            if SCREENSHOT:  # for people to look at
                self.x("import", "-window", window, SCREENSHOT)

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
                self.assert_dialog_says("Could not open https://www.google.com/maps/place/"
                                        "48.85822222,2.29450000: no web browser was found "
                                        "(xdg-open exit status 3)")
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
