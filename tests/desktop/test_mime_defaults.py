"""Installing photomap changes no default application, on any desktop.

Each case builds a throwaway system as Debian's GNOME has it: two image
viewers in <root>/usr/share (ImageMagick's display-im6.q16 and eog) and a
gnome-mimeapps.list there naming eog, so that GNOME's default differs from
the generic one. It notes every type's default as `xdg-mime query default`
and `gio mime` answer for XDG_CURRENT_DESKTOP unset, GNOME and KDE; then
installs photomap as the .deb would put it (<root>/usr) or as
`cmake --install --prefix /usr/local` does (<root>/usr/local, searched before
/usr), rebuilds the desktop databases, and asks again: every answer must be
the same. HOME, XDG_DATA_*/XDG_CONFIG_* point into the tree only.

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
# (desktop entry, its program, the types it names), as Debian 12 ships them
# in part: both viewers open the common types; display also the rest.
VIEWED = ["image/jpeg", "image/png", "image/tiff", "image/webp"]
VIEWERS = [
    ("display-im6.q16.desktop", "display-im6.q16", VIEWED + ["image/gif", "image/jp2"]),
    ("org.gnome.eog.desktop", "eog", VIEWED + ["image/gif"]),
]
GNOME_DEFAULTS = {t: "org.gnome.eog.desktop" for t in VIEWED}
# Every kind of type photomap's file manager actions name, and two they do not.
TYPES = VIEWED + ["image/gif", "image/jp2", "image/heif", "image/avif", "image/jxl",
                  "image/x-canon-cr2", "image/x-canon-cr3", "image/x-fuji-raf",
                  "image/x-adobe-dng"]
DESKTOPS = [None, "GNOME", "KDE"]
OLD_PIN_MARKER = "# Written by photomap's cmake --install"


def write_viewers(root):
    """The viewers' entries in /usr/share, their programs in /usr/bin (xdg-mime
    passes over a default whose program it cannot find as a file), and
    GNOME's own defaults list."""
    applications = os.path.join(root, "usr", "share", "applications")
    os.makedirs(applications, exist_ok=True)
    os.makedirs(os.path.join(root, "usr", "bin"), exist_ok=True)
    for entry, program, types in VIEWERS:
        path = os.path.join(root, "usr", "bin", program)
        with open(path, "w") as script:
            script.write("#!/bin/sh\nexit 0\n")
        os.chmod(path, 0o755)
        with open(os.path.join(applications, entry), "w") as desktop_entry:
            desktop_entry.write("[Desktop Entry]\nType=Application\nName=%s\nExec=%s %%f\n"
                                "MimeType=%s\n" % (program, program,
                                                   "".join(t + ";" for t in types)))
    with open(os.path.join(applications, "gnome-mimeapps.list"), "w") as gnome:
        gnome.write("[Default Applications]\n" +
                    "".join("%s=%s\n" % pair for pair in GNOME_DEFAULTS.items()))


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

    def gio_default(self, mime_type, desktop):
        output = self.run(["gio", "mime", mime_type], desktop).stdout
        first = output.splitlines()[0] if output else ""
        default = re.search(r": (\S+\.desktop)$", first) if first.startswith("Default") else None
        return default.group(1) if default else None

    def defaults(self):
        """Every type's default on every desktop, as both tools answer."""
        return {(mime_type, desktop or "unset", tool): answer
                for mime_type in TYPES for desktop in DESKTOPS
                for tool, answer in (("xdg-mime", self.xdg_default(mime_type, desktop)),
                                     ("gio", self.gio_default(mime_type, desktop)))}


class NoDefaultChanges(unittest.TestCase):
    def setUp(self):
        self.fresh_tree()

    def fresh_tree(self):
        """A new throwaway system holding nothing but the viewers."""
        self.root = tempfile.mkdtemp(prefix="photomap-mime-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.tree = Tree(self.root)
        write_viewers(self.root)
        self.tree.update_databases()

    def install_with_cmake(self, prefix, destdir=None):
        extra = {"DESTDIR": destdir} if destdir else {}
        result = self.tree.run([CMAKE, "--install", BUILD, "--prefix", prefix], **extra)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def layouts(self):
        """Installs photomap each way into a fresh tree in turn, yielding the
        layout's name and the defaults noted before the install."""
        layouts = [("cmake --install, DESTDIR, /usr",
                    lambda: self.install_with_cmake("/usr", destdir=self.root)),
                   ("cmake --install, /usr/local", lambda: self.install_with_cmake(
                       os.path.join(self.tree.root, "usr", "local")))]
        if DEB:
            layouts.insert(1, (".deb", lambda: subprocess.run(
                ["dpkg-deb", "-x", DEB, self.root], check=True, timeout=60)))
        for name, install in layouts:
            self.fresh_tree()
            before = self.tree.defaults()
            install()
            self.tree.update_databases()
            yield name, before

    def test_the_tree_has_a_desktop_specific_default(self):
        # Else the comparison below could not see a desktop's list outranked.
        for mime_type in VIEWED:
            with self.subTest(mime_type=mime_type):
                self.assertEqual(self.tree.gio_default(mime_type, "GNOME"),
                                 "org.gnome.eog.desktop")
                self.assertEqual(self.tree.xdg_default(mime_type, "GNOME"),
                                 "org.gnome.eog.desktop")
                self.assertEqual(self.tree.xdg_default(mime_type, None),
                                 "display-im6.q16.desktop")

    def test_every_default_is_the_same_after_the_install(self):
        for layout, before in self.layouts():
            after = self.tree.defaults()
            for key in sorted(before):
                with self.subTest(layout=layout, case=" ".join(key)):
                    self.assertEqual(after[key], before[key])

    def test_the_pin_of_an_earlier_photomap_is_taken_away(self):
        # It listed every viewer by name, outranking gnome-mimeapps.list.
        applications = os.path.join(self.tree.local_share, "applications")
        os.makedirs(applications)
        pin = os.path.join(applications, "mimeapps.list")
        with open(pin, "w") as settings:
            settings.write(OLD_PIN_MARKER + "\n[Default Applications]\n"
                           "image/jpeg=display-im6.q16.desktop;org.gnome.eog.desktop;\n")
        self.install_with_cmake(os.path.join(self.tree.root, "usr", "local"))
        self.assertFalse(os.path.exists(pin))
        self.assertEqual(self.tree.gio_default("image/jpeg", "GNOME"), "org.gnome.eog.desktop")

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
