""""Show on map" in the right-click menu of each Linux file manager.

photomap is installed with `cmake --install` into a throwaway prefix; each
file manager's action is then read by the component that reads it there:
- GNOME Files and Caja: the Python extension, through the file manager's own
  extension API (its typelib, with GObject files that act out the selection),
  and its menu item activated as the file manager activates it;
- Thunar: the Send To entry, read and started by GLib's GDesktopAppInfo, as
  Thunar does;
- Nemo: the action, read with GKeyFile as Nemo does, its Exec expanded as Nemo
  does (each path quoted for the shell, then split with g_shell_parse_argv);
- Dolphin: the service menu, read with GKeyFile and its Exec expanded by
  GLib's desktop-entry code, which follows the same rules as KIO's.
Each is started on a picture whose folder and name hold spaces, quotes and a
byte that is not UTF-8; a stand-in xdg-open first on PATH records the URL.
Thunar itself, under Xvfb, shows the entry in its context menu's Send To and
starts it (the menu found and activated through the accessibility tree).

PHOTOMAP_BUILD_DIR names the build to install from (CMAKE_COMMAND its cmake);
PHOTOMAP_SCREENSHOT, when set, where to keep a picture of Thunar's menu.
"""

import importlib.util
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import gi

gi.require_version("GIRepository", "2.0")
from gi.repository import GIRepository, Gio, GLib, GObject  # noqa: E402

import accessible  # noqa: E402

BUILD = os.environ.get("PHOTOMAP_BUILD_DIR", "build/host")
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")
SAMPLE_URL = "https://www.google.com/maps/place/48.85822222,2.29450000"
LABEL = "Show on map"
URL_WAIT = 10.0
SCREENSHOT = os.environ.get("PHOTOMAP_SCREENSHOT")
XDG_OPEN_STAND_IN = """#!/bin/sh
printf '%s\\n' "$1" >> "$PHOTOMAP_URL_RECORD"
"""

# Every format of the README's table, by a name a file manager would see.
FORMATS = [
    ("JPEG", "photo.jpg"), ("JPEG", "photo.JPEG"), ("PNG", "photo.png"),
    ("TIFF", "photo.tif"), ("WebP", "photo.webp"), ("HEIC", "IMG_0001.HEIC"),
    ("HEIF", "photo.heif"), ("AVIF", "photo.avif"), ("JPEG 2000", "photo.jp2"),
    ("JPEG XL", "photo.jxl"), ("CR2", "IMG_0001.CR2"), ("CR3", "IMG_0001.CR3"),
    ("CRW", "CRW_0001.CRW"), ("NEF", "DSC_0001.NEF"), ("ARW", "DSC00001.ARW"),
    ("SR2", "DSC00001.SR2"), ("ORF", "P0000001.ORF"), ("RW2", "P1000001.RW2"),
    ("RAF", "DSCF0001.RAF"), ("PEF", "IMGP0001.PEF"), ("SRW", "SAM_0001.SRW"),
    ("MRW", "PICT0001.MRW"), ("DNG", "photo.dng"),
]
# What no action is for: a folder, and files that are no picture photomap reads.
NOT_PICTURES = ["inode/directory", "text/plain", "video/mp4", "video/quicktime",
                "application/pdf"]


def picture_type(name):
    """The type GIO (and with it every file manager here) gives a file of this name."""
    content_type, _ = Gio.content_type_guess(name, None)
    return content_type


def newest_version(namespace):
    versions = GIRepository.Repository.get_default().enumerate_versions(namespace)
    return max(versions, key=lambda v: [int(part) for part in v.split(".")])


class Installed(unittest.TestCase):
    """photomap installed under a throwaway prefix, a stand-in xdg-open, a picture."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="photomap-actions-")
        cls.prefix = os.path.join(cls.root, "prefix")
        cls.share = os.path.join(cls.prefix, "share")
        install = subprocess.run([CMAKE, "--install", BUILD, "--prefix", cls.prefix],
                                 capture_output=True, text=True, timeout=120)
        assert install.returncode == 0, install.stdout + install.stderr
        stand_in_bin = os.path.join(cls.root, "bin")
        os.mkdir(stand_in_bin)
        with open(os.path.join(stand_in_bin, "xdg-open"), "w") as script:
            script.write(XDG_OPEN_STAND_IN)
        os.chmod(os.path.join(stand_in_bin, "xdg-open"), 0o755)
        # The extensions run in this process and start photomap from its PATH.
        cls.saved_environment = dict(os.environ)
        os.environ["PATH"] = os.pathsep.join(
            [os.path.join(cls.prefix, "bin"), stand_in_bin, os.environ["PATH"]])
        os.environ.pop("DISPLAY", None)  # errors on stderr, no dialog to wait for
        os.environ.pop("WAYLAND_DISPLAY", None)
        folder = os.path.join(os.fsencode(cls.root), b"Holiday 'pictures'")
        os.mkdir(folder)
        cls.picture = os.path.join(folder, b'Tour "Eiffel" caf\xe9 $HOME `x`.jpg')
        shutil.copyfile(SAMPLE, cls.picture)

    @classmethod
    def tearDownClass(cls):
        os.environ.clear()
        os.environ.update(cls.saved_environment)
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.fresh_record("")

    def fresh_record(self, label):
        """Where the next run's URL goes: a file no earlier run wrote to."""
        self.record = os.path.join(self.root, "urls-%s%s" % (self.id(), label))
        os.environ["PHOTOMAP_URL_RECORD"] = self.record

    def installed(self, *parts):
        path = os.path.join(self.share, *parts)
        self.assertTrue(os.path.isfile(path), path)
        return path

    def assert_map_opened(self):
        """The one URL that photomap handed over, waiting for the detached run."""
        deadline = time.monotonic() + URL_WAIT
        text = ""
        while time.monotonic() < deadline:
            if os.path.exists(self.record):
                with open(self.record) as record:
                    text = record.read()
                if text.endswith("\n"):
                    break
            time.sleep(0.05)
        time.sleep(0.2)  # a second URL would come now
        with open(self.record) as record:
            self.assertEqual(record.read(), SAMPLE_URL + "\n")

    def key_file(self, path, group):
        keys = GLib.KeyFile()
        keys.load_from_file(path, GLib.KeyFileFlags.NONE)
        self.assertTrue(keys.has_group(group), path)
        return keys

    def assert_offered_for_every_format(self, offered):
        """`offered(content_type)` says whether the action is in the menu for that type."""
        for name, file_name in FORMATS:
            with self.subTest(format=name, file=file_name):
                content_type = picture_type(file_name)
                if Gio.content_type_is_unknown(content_type):
                    self.skipTest("this shared-mime-info has no type for %s files" % name)
                self.assertTrue(offered(content_type), content_type)
        for content_type in NOT_PICTURES:
            with self.subTest(content_type=content_type):
                self.assertFalse(offered(content_type))


def selected_file(namespace, path, content_type, directory=False, scheme="file"):
    """A selected file as the file manager hands it to extensions (its FileInfo)."""

    class Selected(GObject.GObject, namespace.FileInfo):
        def do_get_location(self):
            if scheme == "file":
                return Gio.File.new_for_path(path)
            return Gio.File.new_for_uri("%s://host/picture.jpg" % scheme)

        def do_get_uri_scheme(self):
            return scheme

        def do_get_mime_type(self):
            return content_type

        def do_is_directory(self):
            return directory

    return Selected()


class PythonExtensions(Installed):
    # (file manager, GI namespace, extension folder, the menu provider's arguments)
    MANAGERS = [
        ("GNOME Files", "Nautilus", "nautilus-python", lambda files: (files,)),
        ("Caja", "Caja", "caja-python", lambda files: (None, files)),
    ]

    def providers(self):
        """Each file manager's name, namespace and the extension's menu, loaded as
        the loader does: the module imported, its one MenuProvider class made."""
        providers = []
        for manager, namespace_name, folder, arguments in self.MANAGERS:
            gi.require_version(namespace_name, newest_version(namespace_name))
            namespace = importlib.import_module("gi.repository." + namespace_name)
            path = self.installed(folder, "extensions", "photomap.py")
            spec = importlib.util.spec_from_file_location("photomap_" + folder, path)
            module = importlib.util.module_from_spec(spec)
            spec.loader.exec_module(module)
            classes = [value for value in vars(module).values() if isinstance(value, type)
                       and issubclass(value, namespace.MenuProvider)]
            self.assertEqual(len(classes), 1, manager)
            provider = classes[0]()

            def items_for(files, provider=provider, arguments=arguments):
                return provider.get_file_items(*arguments(files))
            providers.append((manager, namespace, items_for))
        return providers

    def test_item_starts_photomap_on_the_selected_picture(self):
        for manager, namespace, items_for in self.providers():
            with self.subTest(file_manager=manager):
                self.fresh_record(manager)
                items = items_for([selected_file(namespace, self.picture, "image/jpeg")])
                self.assertEqual([item.props.label for item in items], [LABEL])
                items[0].activate()
                self.assert_map_opened()

    def test_offered_for_one_local_picture_of_every_format(self):
        for manager, namespace, items_for in self.providers():
            def offered(content_type, namespace=namespace, items_for=items_for):
                directory = content_type == "inode/directory"
                selected = selected_file(namespace, self.picture, content_type, directory)
                return len(items_for([selected])) == 1
            with self.subTest(file_manager=manager):
                self.assert_offered_for_every_format(offered)

    def test_not_offered_for_several_files_or_remote_ones(self):
        for manager, namespace, items_for in self.providers():
            picture = selected_file(namespace, self.picture, "image/jpeg")
            cases = {
                "two pictures": [picture, selected_file(namespace, self.picture, "image/png")],
                "nothing": [],
                "sftp": [selected_file(namespace, self.picture, "image/jpeg", scheme="sftp")],
                "a folder named like a picture":
                    [selected_file(namespace, self.picture, "image/jpeg", directory=True)],
            }
            for case, files in cases.items():
                with self.subTest(file_manager=manager, case=case):
                    self.assertEqual(items_for(files), [])


class ThunarSendTo(Installed):
    def app_info(self):
        info = Gio.DesktopAppInfo.new_from_filename(self.installed("Thunar", "sendto",
                                                                   "photomap.desktop"))
        self.assertIsNotNone(info)
        return info

    def test_starts_photomap_on_the_picture(self):
        info = self.app_info()
        self.assertEqual(info.get_name(), LABEL)
        self.assertTrue(info.launch([Gio.File.new_for_path(self.picture)], None))
        self.assert_map_opened()

    def test_offered_for_every_format(self):
        info = self.app_info()
        self.assert_offered_for_every_format(lambda t: t in info.get_supported_types())

    def test_several_files_open_no_map(self):
        # Thunar offers Send To entries for several files: photomap must get
        # them all at once and refuse, not open one map for each.
        second = self.picture.replace(b".jpg", b" 2.jpg")
        shutil.copyfile(self.picture, second)
        self.addCleanup(os.remove, second)
        files = [Gio.File.new_for_path(path) for path in (self.picture, second)]
        self.assertTrue(self.app_info().launch(files, None))
        time.sleep(2)  # long enough for a map to be handed over
        self.assertFalse(os.path.exists(self.record))


class ThunarWindow(Installed):
    """Thunar on a desktop of the test's own, with the prefix's share first in
    XDG_DATA_DIRS; its menus read and worked through the accessibility tree."""

    def setUp(self):
        super().setUp()
        self.desktop = accessible.desktop()
        self.home = tempfile.mkdtemp(dir=self.root)
        self.environment = self.desktop.environment(
            HOME=self.home, LANG="C.UTF-8", XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
            XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
            XDG_DATA_DIRS=self.share + ":/usr/share")
        # The picture's name as the others', but in UTF-8: Thunar 4.20 hands a
        # name that is not to its widgets as it is, and dies of it once an
        # accessibility client asks for their text. The other cases start
        # photomap on the name as it is, through GLib as Thunar does.
        self.picture = os.path.join(os.path.dirname(self.picture),
                                    'Tour "Eiffel" café $HOME `x`.jpg'.encode())
        shutil.copyfile(SAMPLE, self.picture)
        self.addCleanup(os.remove, self.picture)
        # Thunar opens the picture's folder with the picture selected.
        self.thunar = subprocess.Popen(["thunar", self.picture], env=self.environment,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(self.stop)

    def stop(self):
        # Thunar's own services (xfconfd) are in its process group.
        os.killpg(self.thunar.pid, 15)
        self.thunar.wait(timeout=accessible.WAIT)

    def test_send_to_offers_and_starts_show_on_map(self):
        atspi = self.desktop.atspi
        # The status bar names the selection once the folder is loaded.
        name = os.path.basename(self.picture).decode()
        self.desktop.wait_for_object("thunar", (atspi.ROLE_STATUS_BAR, lambda text: name in text))
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--class",
                                 "Thunar"], env=self.environment, capture_output=True,
                                check=True, timeout=accessible.WAIT).stdout.split()[0]
        # The keyboard's context menu key, for the selected picture.
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "shift+F10"],
                       env=self.environment, check=True, timeout=accessible.WAIT)
        item = self.desktop.wait_for_object("thunar", (atspi.ROLE_MENU, "Send To"),
                                            (atspi.ROLE_MENU_ITEM, LABEL))
        if SCREENSHOT:
            subprocess.run(["import", "-window", "root", SCREENSHOT], env=self.environment,
                           check=True, timeout=accessible.WAIT)
        self.desktop.activate(item)
        self.assert_map_opened()


class NemoAction(Installed):
    GROUP = "Nemo Action"

    def action(self):
        return self.key_file(self.installed("nemo", "actions", "photomap.nemo_action"),
                             self.GROUP)

    def test_starts_photomap_on_the_picture(self):
        action = self.action()
        self.assertEqual(action.get_string(self.GROUP, "Name"), LABEL)
        # Nemo quotes each path for the shell in place of %F and splits the line.
        command = action.get_string(self.GROUP, "Exec").replace(
            "%F", GLib.shell_quote(os.fsdecode(self.picture)))
        _, argv = GLib.shell_parse_argv(command)
        argv = [os.fsencode(argument) for argument in argv]
        self.assertEqual(argv[1:], [self.picture])
        subprocess.run(argv, timeout=URL_WAIT, check=True)  # as Nemo's g_spawn would
        self.assert_map_opened()

    def test_offered_for_one_picture_of_every_format(self):
        action = self.action()
        self.assertEqual(action.get_string(self.GROUP, "Selection"), "s")
        types = action.get_string_list(self.GROUP, "Mimetypes")
        self.assert_offered_for_every_format(lambda t: t in types)
        keys, _ = action.get_keys(self.GROUP)
        self.assertNotIn("Extensions", keys)  # which would offer it for more


class DolphinServiceMenu(Installed):
    GROUP = "Desktop Entry"

    def menu(self):
        return self.key_file(self.installed("kio", "servicemenus", "photomap.desktop"),
                             self.GROUP)

    def test_starts_photomap_on_the_picture(self):
        menu = self.menu()
        actions = menu.get_string_list(self.GROUP, "Actions")
        self.assertEqual(len(actions), 1)
        group = "Desktop Action " + actions[0]
        self.assertEqual(menu.get_string(group, "Name"), LABEL)
        command = Gio.AppInfo.create_from_commandline(menu.get_string(group, "Exec"), None,
                                                      Gio.AppInfoCreateFlags.NONE)
        self.assertTrue(command.launch([Gio.File.new_for_path(self.picture)], None))
        self.assert_map_opened()

    def test_offered_for_one_local_picture_of_every_format(self):
        menu = self.menu()
        self.assertEqual(menu.get_string(self.GROUP, "Type"), "Service")
        self.assertEqual(menu.get_string(self.GROUP, "X-KDE-Protocols"), "file")
        self.assertEqual(menu.get_string(self.GROUP, "X-KDE-MaxNumberOfUrls"), "1")
        types = menu.get_string_list(self.GROUP, "MimeType")
        self.assert_offered_for_every_format(lambda t: t in types)


if __name__ == "__main__":
    unittest.main(verbosity=2)
