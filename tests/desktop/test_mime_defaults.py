"""Installing photomap offers it for pictures but never makes it the default.

Each case builds a throwaway system: a stand-in image viewer in <root>/usr/share,
photomap installed as the .deb would put it (<root>/usr) or as
`cmake --install --prefix /usr/local` does (<root>/usr/local), the desktop
databases rebuilt, and HOME, XDG_DATA_*/XDG_CONFIG_* pointing into the tree
only. Then `xdg-mime query default` (generic and GNOME) and `gio mime` must
keep the viewer as the default, list photomap, and give no default at all
for the types that nothing but photomap could read.

PHOTOMAP_BUILD_DIR names the build to install from (CMAKE_COMMAND its cmake);
PHOTOMAP_DEB, when set, adds the unpacked .deb as a case.
"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("PHOTOMAP_BUILD_DIR", "build/host")
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
DEB = os.environ.get("PHOTOMAP_DEB")
VIEWER = "org.example.Viewer.desktop"
# What photomap offers itself for, and what the viewer opens.
VIEWED = ["image/jpeg", "image/png", "image/tiff", "image/webp"]
# Types that only photomap reads on a machine without a HEIF or raw viewer
# (no TIFF-based raw: the TIFF viewer opens those).
NOT_VIEWED = ["image/heif", "image/avif", "image/x-canon-cr3", "image/x-fuji-raf"]
DESKTOPS = [None, "GNOME"]


def write_viewer(root):
    """The viewer's entry in /usr/share and its program in /usr/bin: a program
    of its own, since xdg-mime 1.2 passes over a default whose program it
    cannot find as a file (a shell builtin such as true is none)."""
    program = os.path.join(root, "usr", "bin", "viewer")
    os.makedirs(os.path.dirname(program), exist_ok=True)
    with open(program, "w") as script:
        script.write("#!/bin/sh\nexit 0\n")
    os.chmod(program, 0o755)
    applications = os.path.join(root, "usr", "share", "applications")
    os.makedirs(applications, exist_ok=True)
    with open(os.path.join(applications, VIEWER), "w") as entry:
        entry.write("[Desktop Entry]\nType=Application\nName=Viewer\nExec=viewer %f\n"
                    "MimeType=" + "".join(t + ";" for t in VIEWED) + "\n")


class Tree:
    """A throwaway root with its own data, config and home directories."""

    def __init__(self, root):
        self.root = root
        self.usr_share = os.path.join(root, "usr", "share")
        self.local_share = os.path.join(root, "usr", "local", "share")
        for path in (self.usr_share, self.local_share, os.path.join(root, "home")):
            os.makedirs(path, exist_ok=True)
        # The MIME database itself is the machine's, read only.
        os.symlink("/usr/share/mime", os.path.join(self.usr_share, "mime"))
        # GLib offers only entries whose program is on PATH.
        programs = [os.path.join(root, "usr", "local", "bin"), os.path.join(root, "usr", "bin")]
        self.env = {
            "PATH": os.pathsep.join(programs + [os.environ["PATH"]]),
            "HOME": os.path.join(root, "home"),
            "XDG_DATA_HOME": os.path.join(root, "home", ".local", "share"),
            "XDG_CONFIG_HOME": os.path.join(root, "home", ".config"),
            "XDG_CONFIG_DIRS": os.path.join(root, "etc", "xdg"),
            "XDG_DATA_DIRS": self.local_share + ":" + self.usr_share,
        }

    def run(self, command, desktop=None, **extra):
        env = dict(self.env, **extra)
        if desktop:
            env["XDG_CURRENT_DESKTOP"] = desktop
        return subprocess.run(command, env=env, capture_output=True, text=True, timeout=60)

    def update_databases(self):
        for share in (self.usr_share, self.local_share):
            applications = os.path.join(share, "applications")
            if os.path.isdir(applications):
                subprocess.run(["update-desktop-database", applications], check=True,
                               capture_output=True, timeout=60)

    def xdg_default(self, mime_type, desktop):
        return self.run(["xdg-mime", "query", "default", mime_type], desktop).stdout.strip()

    def gio(self, mime_type):
        """The default and every application that `gio mime` names."""
        output = self.run(["gio", "mime", mime_type]).stdout
        first = output.splitlines()[0] if output else ""
        default = re.search(r": (\S+\.desktop)$", first) if first.startswith("Default") else None
        listed = set(re.findall(r"^\s+(\S+\.desktop)$", output, re.M))
        return (default.group(1) if default else None), listed


class OfferedNeverImposed(unittest.TestCase):
    def setUp(self):
        self.fresh_tree()

    def fresh_tree(self):
        """A new throwaway system holding nothing but the viewer."""
        self.root = tempfile.mkdtemp(prefix="photomap-mime-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.tree = Tree(self.root)
        write_viewer(self.root)
        self.tree.update_databases()

    def install_with_cmake(self, prefix, destdir=None):
        extra = {"DESTDIR": destdir} if destdir else {}
        result = self.tree.run([CMAKE, "--install", BUILD, "--prefix", prefix], **extra)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def layouts(self):
        """Installs photomap each way in turn, yielding the layout's name."""
        self.install_with_cmake("/usr", destdir=self.root)
        yield "cmake --install, DESTDIR, /usr"
        if DEB:
            self.fresh_tree()
            subprocess.run(["dpkg-deb", "-x", DEB, self.root], check=True, timeout=60)
            yield ".deb"
        self.fresh_tree()
        self.install_with_cmake(os.path.join(self.tree.root, "usr", "local"))
        yield "cmake --install, /usr/local"

    def test_viewer_keeps_its_types_and_photomap_is_offered(self):
        for layout in self.layouts():
            self.tree.update_databases()
            for mime_type in VIEWED:
                with self.subTest(layout=layout, mime_type=mime_type):
                    for desktop in DESKTOPS:
                        self.assertEqual(self.tree.xdg_default(mime_type, desktop), VIEWER,
                                         "XDG_CURRENT_DESKTOP=%s" % desktop)
                    default, listed = self.tree.gio(mime_type)
                    self.assertEqual(default, VIEWER)
                    self.assertIn("photomap.desktop", listed)

    def test_no_default_where_no_viewer_reads_the_type(self):
        # A map opening on a double-click is no stand-in for a missing viewer:
        # the desktop says that nothing opens the file, as before photomap.
        for layout in self.layouts():
            self.tree.update_databases()
            for mime_type in NOT_VIEWED:
                with self.subTest(layout=layout, mime_type=mime_type):
                    for desktop in DESKTOPS:
                        self.assertEqual(self.tree.xdg_default(mime_type, desktop), "")
                    self.assertEqual(self.tree.gio(mime_type), (None, set()))

    def test_an_administrators_mimeapps_list_is_left_alone(self):
        applications = os.path.join(self.tree.local_share, "applications")
        os.makedirs(applications)
        own = os.path.join(applications, "mimeapps.list")
        with open(own, "w") as settings:
            settings.write("[Default Applications]\nimage/gif=other.desktop;\n")
        self.install_with_cmake(os.path.join(self.tree.root, "usr", "local"))
        with open(own) as settings:
            self.assertEqual(settings.read(), "[Default Applications]\nimage/gif=other.desktop;\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
