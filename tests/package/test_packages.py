"""The built packages: the .deb installs, runs from its installed path and
removes cleanly; the Windows .zip holds the executable and its note, beside
the installer (tested under Wine by tests/wine/test_msi.py). Every text in
them is the one in its source, and nothing in them names the build folder.

Installs into this machine, so it runs as root (CI, or sudo), not in ctest.
"""

import glob
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGES = os.path.join(SOURCE, "build", "packages")
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")
SAMPLE_URL = "https://www.google.com/maps/place/48.85822222,2.29450000"
INSTALLED = ["/usr/bin/photomap", "/usr/lib/photomap/plugins/libphotomap-exiv2.so",
             "/usr/share/applications/photomap.desktop",
             "/usr/share/man/man1/photomap.1.gz", "/usr/share/doc/photomap/copyright",
             "/usr/share/doc/photomap/changelog.gz",
             "/usr/share/nemo/actions/photomap.nemo_action",
             "/usr/share/kio/servicemenus/photomap.desktop",
             "/usr/share/Thunar/sendto/photomap.desktop"]
VERSION = re.search(r"project\(photomap VERSION (\S+)",
                    open(os.path.join(SOURCE, "CMakeLists.txt")).read()).group(1)
FIELDS = r"(?m)^([A-Za-z-]+): (.*(?:\n .*)*)"  # a control field and its continuation lines


def source_text(path):
    with open(os.path.join(SOURCE, path)) as text:
        return text.read().replace("@PROJECT_VERSION@", VERSION)


def control_stanzas():
    """data/debian/control's fields, by package."""
    stanzas = [dict(re.findall(FIELDS, stanza))
               for stanza in source_text("data/debian/control").split("\n\n")]
    return {fields["Package"]: fields for fields in stanzas}


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
            self.assert_jpeg_xr_offered()
        finally:
            subprocess.run(["dpkg", "-r", "photomap"], check=True, capture_output=True)
        for path in INSTALLED:
            self.assertFalse(os.path.exists(path), path)
        status = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", "photomap"],
                                capture_output=True, text=True).stdout
        self.assertIn(status, ("", "not-installed", "config-files"))

    def test_lintian_reports_no_error_or_warning(self):
        debs = [only(package + "_*.deb") for package in control_stanzas()]
        result = subprocess.run(["lintian", "--fail-on", "error,warning"] + debs,
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^[EW]: ")

    def test_lintian_finds_every_hardening_flag(self):
        deb = only("photomap_*_amd64.deb")
        result = subprocess.run(["lintian", "-I", deb], capture_output=True, text=True)
        self.assertNotIn("hardening-", result.stdout)

    def test_control_fields_are_those_of_data_debian_control(self):
        for package, fields in control_stanzas().items():
            with self.subTest(package):
                built = dict(re.findall(FIELDS, subprocess.run(
                    ["dpkg-deb", "-f", only(package + "_*.deb")], capture_output=True,
                    check=True, text=True).stdout))
                fields.pop("Architecture")
                # dpkg-shlibdeps adds the libraries' packages after ours.
                if package == "photomap":
                    self.assertRegex(built.pop("Depends"), "^%s, .*libexiv2" % fields.pop("Depends"))
                self.assertEqual({name: built.get(name) for name in fields}, fields)
                self.assertEqual("Homepage" in built, "Homepage" in fields)
                self.assertNotIn("localhost", built["Maintainer"])

    def test_offered_for_pictures_but_never_the_default(self):
        # The unpacked .deb and the release build, in throwaway trees.
        test = os.path.join(SOURCE, "tests", "desktop", "test_mime_defaults.py")
        environment = dict(os.environ, PHOTOMAP_DEB=only("photomap_*_amd64.deb"),
                           PHOTOMAP_BUILD_DIR=os.path.join(SOURCE, "build", "release"))
        result = subprocess.run([sys.executable, test], env=environment, capture_output=True,
                                text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)

    def assert_hardened(self, program):
        """hardening-check finds what the README's table says for this Debian."""
        release = re.search(r'(?m)^VERSION_ID="(\d+)', open("/etc/os-release").read()).group(1)
        readme = open(os.path.join(SOURCE, "README.md")).read()
        header = re.search(r"(?m)^\| `hardening-check` line \|(.*)\|$", readme)
        column = [cell.strip() for cell in header.group(1).split("|")].index("Debian " + release)
        rows = re.findall(r"(?m)^\| ([A-Z][^|]*?) \|(.*)\|$", readme[header.end():].split("\n\n")[0])
        expected = {name: cell for name, cell in
                    ((name, cells.split("|")[column].strip()) for name, cells in rows) if cell}
        check = subprocess.run(["hardening-check", program], capture_output=True, text=True)
        found = dict(re.findall(r"(?m)^ ([^:]+): (\w+)", check.stdout))
        self.assertEqual(found, expected, check.stdout)

    def assert_jpeg_xr_offered(self):
        """Where shared-mime-info knows JPEG XR, each entry offers it."""
        for path in INSTALLED[-3:]:  # Nemo's, Dolphin's and Thunar's entries
            self.assertRegex(open(path).read(), r"(?m)^Mime[Tt]ypes?=.*\bimage/jxr;")

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

    def test_texts_are_those_of_their_sources(self):
        note = source_text("data/SEND-TO.txt").replace("\n", "\r\n").encode()
        with zipfile.ZipFile(only("photomap-*-windows-x86.zip")) as contents:
            self.assertEqual(contents.read("SEND-TO.txt"), note)
        wxs = xml.etree.ElementTree.parse(os.path.join(SOURCE, "packaging", "photomap.wxs"))
        wix = "{http://schemas.microsoft.com/wix/2006/wi}"
        package, msi = wxs.find(".//%sPackage" % wix), only("photomap-*-x86.msi")
        msiinfo = [subprocess.run(["msiinfo"] + arguments, capture_output=True, check=True,
                                  text=True).stdout
                   for arguments in (["suminfo", msi], ["export", msi, "Property"])]
        for line in ["Subject: " + package.get("Description").replace("$(var.Version)", VERSION),
                     "Comments: " + package.get("Comments"),
                     "Author: " + wxs.find(".//%sProduct" % wix).get("Manufacturer")]:
            self.assertIn("\n%s\n" % line, msiinfo[0])
        for item in wxs.iter("%sProperty" % wix):
            self.assertIn("\n%s\t%s\n" % (item.get("Id"), item.get("Value")), msiinfo[1])


class NothingOfTheBuildMachine(unittest.TestCase):
    def test_nothing_beside_or_in_the_packages_names_the_build_folder(self):
        for path in glob.glob(os.path.join(PACKAGES, "*.*")):
            contents = [open(path, "rb").read()] + [subprocess.run(
                ["dpkg-deb", option, path], capture_output=True, check=True).stdout
                for option in ("--fsys-tarfile", "-I") if path.endswith(".deb")]
            if path.endswith(".zip"):
                contents += [zipfile.ZipFile(path).read(name) for name in ("photomap.exe", "SEND-TO.txt")]
            self.assertEqual([path for part in contents if SOURCE.encode() in part], [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
