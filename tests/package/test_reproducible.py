"""Reproducible builds: the same sources built again, in another folder, at
another time and in another time zone, give the same bytes as the build of
the package stage: the release photomap, photomap.exe, the .deb, the zip and
the MSI (unsigned; a signature holds its own time).

The second build is a copy of the work tree's tracked files (the same
commit), with SOURCE_DATE_EPOCH taken from the commit as a distribution
would pass it (the first build took it from git itself), and builds only
what the packages hold (the Windows build without its tests).

What the tools keep of the builder, so that both builds share it: the
zip's Unix extra field holds the builder's user and group ids (CPack's
archive writer has no option for others) and CPack's .deb writer gives its
ar members the builder's umask; scripts/test.sh builds as root with umask
022, and so does this test.
"""

import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# What a build leaves in the build folder (build-tree programs) and in
# build/packages, relative to the source folder.
PRODUCTS = ["build/release/photomap", "build/release/lib/photomap/plugins/libphotomap-exiv2.so",
            "build/windows-x86/photomap.exe",
            "build/packages/photomap_1.0.0_amd64.deb",
            "build/packages/photomap-1.0.0-windows-x86.zip",
            "build/packages/photomap-1.0.0-x86.msi"]
STEPS = [["cmake", "--preset", "release"], ["cmake", "--build", "--preset", "release"],
         ["cpack", "--preset", "deb"],
         ["cmake", "--preset", "windows-x86", "-DPHOTOMAP_BUILD_TESTS=OFF"],
         ["cmake", "--build", "--preset", "windows-x86"],
         ["cpack", "--preset", "windows-zip"], ["cpack", "--preset", "windows-msi"]]


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def git(*arguments):
    return subprocess.run(["git", "-C", SOURCE, *arguments], capture_output=True, check=True,
                          text=True).stdout


def copy_tracked_files(target):
    for name in git("ls-files", "-z").split("\0"):
        source = os.path.join(SOURCE, name)
        if name and os.path.lexists(source):
            os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
            shutil.copy2(source, os.path.join(target, name), follow_symlinks=False)


def unix_ids(extra):
    """The user and group ids of a zip entry's Info-ZIP Unix extra field (0x7875)."""
    while len(extra) >= 4:
        kind, size = struct.unpack_from("<HH", extra)
        if kind == 0x7875:
            uid_size = extra[5]
            gid_size = extra[6 + uid_size]
            return (int.from_bytes(extra[6:6 + uid_size], "little"),
                    int.from_bytes(extra[7 + uid_size:7 + uid_size + gid_size], "little"))
        extra = extra[4 + size:]
    return None


class Reproducible(unittest.TestCase):
    def test_a_second_build_elsewhere_gives_the_same_bytes(self):
        self.assertEqual(os.umask(0o022), 0o022, "the package stage builds with umask 022")
        for product in PRODUCTS:
            self.assertTrue(os.path.isfile(os.path.join(SOURCE, product)),
                            f"{product}: the package stage builds it before this test")
        with tempfile.TemporaryDirectory(prefix="photomap-rebuild-") as scratch:
            # Another folder, of another depth.
            copy = os.path.join(scratch, "elsewhere", "photomap")
            copy_tracked_files(copy)
            environment = {k: v for k, v in os.environ.items()
                           if not k.startswith("PHOTOMAP_SIGN_")}
            environment.update(SOURCE_DATE_EPOCH=git("log", "-1", "--format=%ct").strip(),
                               TZ="Pacific/Kiritimati")
            for step in STEPS:
                result = subprocess.run(step, cwd=copy, env=environment, capture_output=True,
                                        text=True, timeout=1800)
                self.assertEqual(result.returncode, 0,
                                 " ".join(step) + "\n" + result.stdout + result.stderr)
            rows, differ = [], []
            for product in PRODUCTS:
                first = sha256(os.path.join(SOURCE, product))
                second = sha256(os.path.join(copy, product))
                rows.append(f"{first}  {second}  {product}")
                if first != second:
                    differ.append(product)
            # The sums of both builds, for the record of the run.
            print("\nsha256 of the first build, of the second, product:", *rows, sep="\n",
                  file=sys.stderr)
            self.assertEqual(differ, [], "differ between the two builds (both built with "
                             "umask 022, by the same user)")


    def test_the_packages_are_dated_from_the_commit(self):
        epoch = int(git("log", "-1", "--format=%ct"))
        packages = os.path.join(SOURCE, "build", "packages")
        with zipfile.ZipFile(os.path.join(packages, "photomap-1.0.0-windows-x86.zip")) as archive:
            # The zip's dates are in UTC, to the even second.
            for entry in archive.infolist():
                with self.subTest(zip_entry=entry.filename):
                    self.assertEqual(entry.date_time, time.gmtime(epoch & ~1)[:6])
                with self.subTest(zip_owner=entry.filename):
                    self.assertEqual(unix_ids(entry.extra), (os.getuid(), os.getgid()),
                                     "the zip records its builder, the test's user")
            exe = archive.read("photomap.exe")
        header = struct.unpack_from("<I", exe, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<I", exe, header + 8)[0], epoch,
                         "the packaged photomap.exe's PE time stamp")
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile",
                               os.path.join(packages, "photomap_1.0.0_amd64.deb")],
                              capture_output=True, check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            for member in tar.getmembers():
                with self.subTest(deb_member=member.name):
                    self.assertEqual((member.mtime, member.uname, member.gname),
                                     (epoch, "root", "root"))
        summary = subprocess.run(["msiinfo", "suminfo",
                                  os.path.join(packages, "photomap-1.0.0-x86.msi")],
                                 capture_output=True, check=True, text=True,
                                 env=dict(os.environ, TZ="UTC0")).stdout
        for field in ("Created", "Last saved"):
            with self.subTest(msi=field):
                self.assertIn(f"{field}: " + time.strftime("%a %b %e %H:%M:%S %Y",
                                                           time.gmtime(epoch)), summary)


if __name__ == "__main__":
    unittest.main(verbosity=2)
