"""What a user of each desktop gets from the README's install line for it.

- No line brings in another desktop's file manager or its libraries: apt's
  resolver, started from an empty system, lists everything a line needs.
- GNOME's line, installed with apt's defaults where GNOME Files is, gives
  "Show on map": GNOME Files, started under Xvfb, has nautilus-python load
  photomap's extension and register its menu provider (the loader's own
  record of that, NAUTILUS_PYTHON_DEBUG=misc).

Installs GNOME Files into the Debian system it runs in, so it runs as root in
a throwaway one: `--root DIR` runs it in DIR (made with debootstrap as
Debian 12 if missing), with build/packages and the README copied in.
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGES = os.path.join(SOURCE, "build", "packages")
APT = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=900"]
# Each desktop's file manager and its libraries, by package name.
DESKTOP_PACKAGES = {"GNOME": r"nautilus", "MATE": r"caja|^mate-|^libmate"}


def install_lines():
    """The README's `sudo apt install ./X.deb ...  # desktops` lines."""
    with open(os.path.join(SOURCE, "README.md")) as readme:
        found = re.findall(r"(?m)^ *sudo apt install ((?:\./\S+\.deb ?)+)\s*# (.+)$", readme.read())
    assert len(found) >= 3, found
    return [(desktops, debs.split()) for debs, desktops in found]


def apt(*arguments, **options):
    environment = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    return subprocess.run(APT + list(arguments), cwd=PACKAGES, env=environment, check=True,
                          capture_output=True, text=True, **options).stdout


class InstallLines(unittest.TestCase):
    def test_no_line_brings_in_another_desktops_file_manager(self):
        for desktops, debs in install_lines():
            unwanted = "|".join(pattern for desktop, pattern in DESKTOP_PACKAGES.items()
                                if desktop not in desktops)
            with self.subTest(desktops):
                plan = apt("-s", "-o", "Dir::State::status=/dev/null", "install", *debs)
                names = re.findall(r"(?m)^Inst (\S+)", plan)
                self.assertIn("photomap", names)
                self.assertEqual([name for name in names if re.search(unwanted, name)], [])

    def test_gnome_line_gives_show_on_map_in_gnome_files(self):
        debs = next(debs for desktops, debs in install_lines() if "GNOME" in desktops)
        apt("install", "--no-install-recommends", "nautilus", "xvfb", "xauth", "dbus")
        apt("install", *debs)
        home = tempfile.mkdtemp()
        try:
            record = self.nautilus_record(home)
            # Registered as a type, then made by GNOME Files as its menu provider.
            self.assertRegex(record, r"entered type=PhotomapMenu\n(.*\n)*.*object_instance_init")
            self.assertNotIn("Traceback", record)
        finally:
            apt("purge", "photomap-nautilus", "photomap")
            # The document portal that GNOME Files starts mounts itself there.
            subprocess.run(["umount", "-l", os.path.join(home, "doc")], capture_output=True)
            shutil.rmtree(home, ignore_errors=True)
        self.assertFalse(glob.glob("/usr/share/nautilus-python/extensions/photomap*"))

    def nautilus_record(self, home):
        """What GNOME Files and its Python loader log until the extension is in."""
        environment = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, GSK_RENDERER="cairo",
                           NAUTILUS_PYTHON_DEBUG="misc", G_MESSAGES_DEBUG="all")
        record = os.path.join(home, "record")
        with open(record, "w") as output:
            nautilus = subprocess.Popen(
                ["xvfb-run", "-a", "dbus-run-session", "--", "nautilus", home],
                env=environment, stdout=output, stderr=subprocess.STDOUT,
                start_new_session=True)
        try:
            deadline = time.monotonic() + 90
            while time.monotonic() < deadline and nautilus.poll() is None:
                with open(record) as output:
                    text = output.read()
                if "object_instance_init" in text or "Traceback" in text:
                    break
                time.sleep(0.5)
        finally:
            os.killpg(nautilus.pid, 15)
            nautilus.wait()
        with open(record) as output:
            return output.read()


def run_in_root(root):
    """Runs this test in ROOT, made first as a minimal Debian 12 if missing."""
    if not os.path.exists(os.path.join(root, "etc", "os-release")):
        subprocess.run(["debootstrap", "--variant=minbase", "bookworm", root], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(root, "usr", "sbin", "policy-rc.d"), "w") as policy:
            policy.write("#!/bin/sh\nexit 101\n")  # packages start no services there
        os.chmod(os.path.join(root, "usr", "sbin", "policy-rc.d"), 0o755)
    copy = os.path.join(root, "src", "photomap-install")
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(PACKAGES, os.path.join(copy, "build", "packages"),
                    ignore=shutil.ignore_patterns("_CPack_Packages"))
    shutil.copy(os.path.join(SOURCE, "README.md"), copy)
    shutil.copytree(os.path.dirname(os.path.abspath(__file__)), os.path.join(copy, "tests", "package"))
    mounted = []
    try:
        for point in ("/proc", "/dev"):
            if not os.path.ismount(root + point):
                subprocess.run(["mount", "--bind", point, root + point], check=True)
                mounted.append(root + point)
        for step in (["update"], ["install", "--no-install-recommends", "python3"]):
            subprocess.run(["chroot", root] + APT + step, check=True, stdout=subprocess.DEVNULL)
        return subprocess.run(["chroot", root, "/usr/bin/env", "-i", "PATH=/usr/sbin:/usr/bin",
                               "LANG=C.UTF-8", "python3",
                               "/src/photomap-install/tests/package/test_desktop_install.py"]).returncode
    finally:
        for point in reversed(mounted):
            subprocess.run(["umount", point], check=True)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--root"]:
        sys.exit(run_in_root(os.path.abspath(sys.argv[2])))
    unittest.main(verbosity=2)
