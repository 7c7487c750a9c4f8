"""Each desktop's install line in the README: apt's resolver, from an empty
system, finds no other desktop's file manager in what it needs; GNOME's,
installed with apt's defaults, has GNOME Files (under Xvfb) load photomap's
extension through nautilus-python and make its menu provider. Installs GNOME
Files, so run it as root in a throwaway Debian: `--root DIR` (made with
debootstrap if missing) runs it there on copies of the packages and README."""

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
DESKTOP_PACKAGES = {"GNOME": r"nautilus", "MATE": r"caja|^mate-|^libmate"}


def apt(*arguments):
    return subprocess.run(APT + list(arguments), cwd=PACKAGES, check=True, capture_output=True,
                          text=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive")).stdout


class InstallLines(unittest.TestCase):
    lines = re.findall(r"(?m)^ *sudo apt install ((?:\./\S+\.deb ?)+)\s*# (.+)$",
                       open(os.path.join(SOURCE, "README.md")).read())

    def test_no_line_brings_in_another_desktops_file_manager(self):
        self.assertEqual(len(self.lines), 3)
        for debs, desktops in self.lines:
            unwanted = "|".join(p for d, p in DESKTOP_PACKAGES.items() if d not in desktops)
            plan = apt("-s", "-o", "Dir::State::status=/dev/null", "install", *debs.split())
            names = re.findall(r"(?m)^Inst (\S+)", plan)
            self.assertEqual((desktops, "photomap" in names,
                              [name for name in names if re.search(unwanted, name)]),
                             (desktops, True, []))

    def test_gnome_line_gives_show_on_map_in_gnome_files(self):
        apt("install", "--no-install-recommends", "nautilus", "xvfb", "xauth", "dbus")
        apt("install", *next(debs for debs, desktops in self.lines if "GNOME" in desktops).split())
        home = tempfile.mkdtemp()
        environment = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=home, GSK_RENDERER="cairo",
                           NAUTILUS_PYTHON_DEBUG="misc", G_MESSAGES_DEBUG="all")
        record = os.path.join(home, "record")
        try:
            nautilus = subprocess.Popen(["xvfb-run", "-a", "dbus-run-session", "--", "nautilus", home],
                                        env=environment, stdout=open(record, "w"),
                                        stderr=subprocess.STDOUT, start_new_session=True)
            deadline = time.monotonic() + 90
            while time.monotonic() < deadline and not re.search(
                    "object_instance_init|Traceback", open(record).read()):
                time.sleep(0.5)
            os.killpg(nautilus.pid, 15)
            nautilus.wait()
            # The class registered as a type, then made by GNOME Files.
            self.assertRegex(open(record).read(),
                             r"entered type=PhotomapMenu\n(?:(?!Traceback).*\n)*.*object_instance_init")
        finally:
            apt("purge", "photomap-nautilus", "photomap")
            # GNOME Files' document portal mounts itself there.
            subprocess.run(["umount", "-l", os.path.join(home, "doc")], capture_output=True)
            shutil.rmtree(home, ignore_errors=True)


def run_in_root(root):
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
    mounted = [root + p for p in ("/proc", "/dev") if not os.path.ismount(root + p)]
    try:
        for point in mounted:
            subprocess.run(["mount", "--bind", point[len(root):], point], check=True)
        for step in (["update"], ["install", "--no-install-recommends", "python3"]):
            subprocess.run(["chroot", root] + APT + step, check=True, stdout=subprocess.DEVNULL)
        return subprocess.run(["chroot", root, "/usr/bin/env", "-i", "PATH=/usr/sbin:/usr/bin",
                               "LANG=C.UTF-8", "python3", "/src/photomap-install/tests/package/"
                               "test_desktop_install.py"]).returncode
    finally:
        for point in reversed(mounted):
            subprocess.run(["umount", point])


if __name__ == "__main__":
    if sys.argv[1:2] == ["--root"]:
        sys.exit(run_in_root(os.path.abspath(sys.argv[2])))
    unittest.main(verbosity=2)
