"""photomap's installer under Wine: install, the verb and Send To, upgrade, removal.

One fresh Wine prefix goes through a product's life, one stage per test class,
in this order (load_tests): 1.0.0 installed silently, 1.0.1 installed over
it, then removed. Each stage's registry (system.reg and user.reg) and drive
C: are compared with the fresh prefix's, so a key or file that the package
should not write, or leaves behind, fails a test.

Wine 8's ShellExecuteExW does not look in SystemFileAssociations; where it
finds no verb, the verb's command line, as registered, is started as
Explorer starts it: %1 replaced by the picture's path.
"""

import getpass
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
MSI_SCRIPT = os.path.join(SOURCE, "cmake", "msi.cmake")
PHOTOMAP_EXE = os.environ["PHOTOMAP_EXE"]
DIALOG_HELPER = os.environ["DIALOG_HELPER_EXE"]
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
WORK_ROOT = os.environ.get("MSI_TEST_DIR")
SAMPLE = os.path.join(SOURCE, "samples", "eiffel-tower.jpg")

MESSAGE_B = "Please supply a JPG picture with GPS information as argument"
WINE_TIMEOUT = 300  # a fresh prefix takes seconds natively, minutes under qemu

INSTALLED_EXE = r"C:\Program Files\photomap\photomap.exe"
SEND_TO_LINK = "users/{user}/AppData/Roaming/Microsoft/Windows/SendTo/photomap.lnk"
ASSOCIATIONS = ["image", ".heic", ".heif", ".arw", ".cr2", ".cr3", ".crw", ".dng", ".mrw",
                ".nef", ".nrw", ".orf", ".pef", ".raf", ".rw2", ".sr2", ".srw"]
VERB_COMMAND = '"%s" "%%1"' % INSTALLED_EXE
UNINSTALL = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"

# What Windows Installer keeps about every product it installed.
INSTALLER_RECORDS = ("Software\\Classes\\Installer\\",
                     "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\")
# Keys that Wine rewrites on every start, whatever runs.
WINE_CHURN = ("System\\CurrentControlSet\\Control\\Class\\",
              "Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\")


def verb_key(association):
    return "Software\\Classes\\SystemFileAssociations\\%s\\shell\\photomap" % association


def expected_verb_keys():
    keys = {}
    for association in ASSOCIATIONS:
        keys[verb_key(association)] = {"@": "Show on map", "MultiSelectModel": "Single"}
        keys[verb_key(association) + "\\command"] = {"@": VERB_COMMAND}
    return keys


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unescape(text):
    return re.sub(r"\\(.)", lambda m: m.group(1), text)


def read_registry_file(path):
    """Wine's .reg file as {key: {value name: value}}; string values unescaped.

    A key's ancestors count as keys too (Wine writes no line for an empty key
    that has subkeys)."""
    keys, values = {}, None
    with open(path, encoding="utf-8", errors="replace") as registry:
        for line in registry:
            line = line.rstrip("\n")
            header = re.match(r"^\[(.*)\]( \d+)?$", line)
            if header:
                key = header.group(1).replace("\\\\", "\\")
                values = keys.setdefault(key, {})
                parts = key.split("\\")
                for n in range(1, len(parts)):
                    keys.setdefault("\\".join(parts[:n]), {})
                continue
            if values is None or not line or line.startswith("#"):
                continue
            value = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if value:
                name = "@" if value.group(1) == "@" else unescape(value.group(1)[1:-1])
                data = value.group(2)
                if data.startswith('"') and data.endswith('"'):
                    data = unescape(data[1:-1])
                values[name] = data
    return keys


def under(key, roots):
    return (key + "\\").startswith(roots)


def without_churn(keys):
    return {k: v for k, v in keys.items() if not under(k, WINE_CHURN)}


def changed_keys(before, after):
    """Keys added or changed from BEFORE to AFTER, and keys removed."""
    before, after = without_churn(before), without_churn(after)
    changed = {k: v for k, v in after.items() if before.get(k) != v}
    removed = sorted(set(before) - set(after))
    return changed, removed


def read_link(path):
    """The target (LinkInfo's local base path), working folder and arguments of a .lnk."""
    with open(path, "rb") as link:
        data = link.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    offset = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        offset += 2 + struct.unpack_from("<H", data, offset)[0]
    target = None
    if flags & 0x2:  # HasLinkInfo
        size = struct.unpack_from("<I", data, offset)[0]
        base = struct.unpack_from("<I", data, offset + 16)[0]
        target = data[offset + base:data.index(b"\0", offset + base)].decode("latin-1")
        offset += size
    strings = {}
    for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "folder"), (0x20, "arguments"),
                      (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, offset)[0]
            # Wine counts the string's terminating NUL too.
            strings[name] = data[offset + 2:offset + 2 + 2 * count].decode("utf-16-le").rstrip("\0")
            offset += 2 + 2 * count
    return target, strings.get("folder"), strings.get("arguments", "")


class Prefix:
    """A fresh Wine prefix of its own, set up as scripts/setup-wine.sh sets one up."""

    def __init__(self, directory):
        self.path = os.path.join(directory, "prefix")
        self.environment = dict(os.environ)
        self.environment.update({"WINEPREFIX": self.path, "WINEARCH": "win32",
                                 "WINEDEBUG": "-all",
                                 "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"})

    def run(self, arguments):
        return subprocess.run(arguments, env=self.environment, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=WINE_TIMEOUT)

    def wine(self, arguments):
        return self.run(["wine"] + arguments)

    def create(self):
        for step in (["wineboot", "-i"],
                     ["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics",
                      "/d", "null", "/f"],
                     ["wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v",
                      "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f"]):
            result = self.run(step)
            assert result.returncode == 0, result

    def settle(self):
        """Waits until Wine has written the registry to disk."""
        self.run(["wineserver", "-w"])

    def stop(self):
        self.run(["wineserver", "-k"])

    def registry(self):
        self.settle()
        keys = read_registry_file(os.path.join(self.path, "system.reg"))
        for key, values in read_registry_file(os.path.join(self.path, "user.reg")).items():
            keys["HKCU\\" + key] = values
        return keys

    def files(self):
        drive = os.path.join(self.path, "drive_c")
        found = set()
        for folder, folders, names in os.walk(drive):
            for name in folders + names:
                found.add(os.path.relpath(os.path.join(folder, name), drive))
        return found

    def unix_path(self, relative):
        # Wine names the profile folder after the Unix user.
        return os.path.join(self.path, "drive_c", relative.format(user=getpass.getuser()))

    def start(self, helper_arguments):
        """dialog_helper's report: (arguments of the program, dialogs, exit code, status)."""
        result = self.wine([DIALOG_HELPER, "--timeout", "120"] + helper_arguments)
        arguments, dialogs, exit_code = [], [], None
        for line in result.stdout.decode("utf-8").splitlines():
            name, _, value = line.partition(": ")
            if name == "argument":
                arguments.append(value)
            elif name == "caption":
                dialogs.append([value, []])
            elif name == "text":
                dialogs[-1][1].append(value)
            elif name == "exit":
                exit_code = int(value)
        dialogs = [(caption, "\n".join(lines)) for caption, lines in dialogs]
        return arguments, dialogs, exit_code, result.returncode


class Product:
    """The prefix and the packages, shared by the stages."""
    work = prefix = None
    fresh_registry = fresh_files = None
    packages = {}

    @classmethod
    def start(cls):
        cls.work = os.path.abspath(tempfile.mkdtemp(prefix="photomap-msi-", dir=WORK_ROOT))
        try:
            cls.prepare()
        except BaseException:
            cls.finish()  # unittest does not tear down a module that failed to set up
            raise

    @classmethod
    def prepare(cls):
        for version in ("1.0.0", "1.0.1"):
            package = os.path.join(cls.work, "photomap-%s-x86.msi" % version)
            subprocess.run([CMAKE, "-DPHOTOMAP_EXE=" + PHOTOMAP_EXE,
                            "-DPHOTOMAP_MSI_VERSION=" + version, "-DPHOTOMAP_MSI=" + package,
                            "-P", MSI_SCRIPT], check=True, capture_output=True)
            cls.packages[version] = windows_path(package)
        cls.prefix = Prefix(cls.work)
        cls.prefix.create()
        cls.fresh_registry = cls.prefix.registry()
        cls.fresh_files = cls.prefix.files()

    @classmethod
    def finish(cls):
        if cls.prefix:
            cls.prefix.stop()
        if cls.work:
            shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def msiexec(cls, option, version):
        return cls.prefix.wine(["msiexec", option, cls.packages[version], "/qn"]).returncode


def setUpModule():
    Product.start()


def tearDownModule():
    Product.finish()


def product_entries(registry):
    return {key: values for key, values in registry.items()
            if key.startswith(UNINSTALL) and values.get("DisplayName") == "photomap"}


class Installed(unittest.TestCase):
    """photomap 1.0.0, installed silently into the fresh prefix."""

    @classmethod
    def setUpClass(cls):
        cls.status = Product.msiexec("/i", "1.0.0")
        cls.registry = Product.prefix.registry()
        cls.files = Product.prefix.files()

    def test_installs_silently(self):
        self.assertEqual(self.status, 0)

    def test_writes_the_program_and_the_send_to_shortcut_and_no_other_file(self):
        link = os.path.relpath(Product.prefix.unix_path(SEND_TO_LINK),
                               os.path.join(Product.prefix.path, "drive_c"))
        added = {f for f in self.files - Product.fresh_files
                 if not f.startswith(os.path.join("windows", "Installer"))}
        self.assertEqual(added, {os.path.join("Program Files", "photomap"),
                                 os.path.join("Program Files", "photomap", "photomap.exe"),
                                 link})
        with open(PHOTOMAP_EXE, "rb") as built, \
                open(Product.prefix.unix_path("Program Files/photomap/photomap.exe"), "rb") as installed:
            self.assertEqual(installed.read(), built.read())

    def test_writes_the_verb_keys_and_only_them(self):
        changed, removed = changed_keys(Product.fresh_registry, self.registry)
        ours = {k: v for k, v in changed.items()
                if not under(k, INSTALLER_RECORDS) and not k.startswith(UNINSTALL)}
        # Parents that the verb needed (…\.cr2, …\.cr2\shell) come and go with it.
        ours = {k: v for k, v in ours.items() if v or k.endswith("photomap")}
        self.assertEqual(ours, expected_verb_keys())
        self.assertEqual(removed, [])

    def test_add_remove_programs_shows_one_entry_with_the_version(self):
        entries = product_entries(self.registry)
        self.assertEqual([e["DisplayVersion"] for e in entries.values()], ["1.0.0"])
        self.assertEqual([(e["Publisher"], e["InstallLocation"]) for e in entries.values()],
                         [("photomap developers", "C:\\Program Files\\photomap\\")])

    def test_send_to_shortcut_starts_the_program_with_the_picture(self):
        target, folder, arguments = read_link(Product.prefix.unix_path(SEND_TO_LINK))
        self.assertEqual((target, folder, arguments),
                         (INSTALLED_EXE, r"C:\Program Files\photomap" + "\\", ""))
        # Send To starts the target with the picture as its argument.
        picture = windows_path(SAMPLE)
        started = Product.prefix.start([target, picture])
        self.assertEqual(started, ([INSTALLED_EXE, picture], [("Error", MESSAGE_B)], 0, 0))

    def test_show_on_map_starts_the_program_with_the_picture_as_its_one_argument(self):
        picture = windows_path(SAMPLE)
        started = Product.prefix.start(["--shell-verb", "photomap", picture])
        if started[3] == 4:
            # The shell found no verb: start the registered command as Explorer does.
            command = self.registry[verb_key("image") + "\\command"]["@"]
            started = Product.prefix.start(["--command-line", command.replace("%1", picture)])
        self.assertEqual(started, ([INSTALLED_EXE, picture], [("Error", MESSAGE_B)], 0, 0))


class Upgraded(unittest.TestCase):
    """photomap 1.0.1 installed over 1.0.0."""

    @classmethod
    def setUpClass(cls):
        cls.status = Product.msiexec("/i", "1.0.1")
        cls.registry = Product.prefix.registry()

    def test_replaces_the_older_version_in_add_remove_programs(self):
        self.assertEqual(self.status, 0)
        entries = product_entries(self.registry)
        self.assertEqual([e["DisplayVersion"] for e in entries.values()], ["1.0.1"])

    def test_keeps_the_verb_and_the_program(self):
        changed, _ = changed_keys(Product.fresh_registry, self.registry)
        for key, values in expected_verb_keys().items():
            self.assertEqual(changed.get(key), values, key)
        self.assertTrue(os.path.isfile(Product.prefix.unix_path(SEND_TO_LINK)))
        self.assertTrue(os.path.isfile(
            Product.prefix.unix_path("Program Files/photomap/photomap.exe")))

    def test_refuses_to_go_back_to_the_older_version(self):
        self.assertNotEqual(Product.msiexec("/i", "1.0.0"), 0)
        entries = product_entries(Product.prefix.registry())
        self.assertEqual([e["DisplayVersion"] for e in entries.values()], ["1.0.1"])


class Removed(unittest.TestCase):
    """photomap 1.0.1 removed again."""

    @classmethod
    def setUpClass(cls):
        cls.status = Product.msiexec("/x", "1.0.1")
        cls.registry = Product.prefix.registry()
        cls.files = Product.prefix.files()

    def test_removes_silently(self):
        self.assertEqual(self.status, 0)

    def test_leaves_no_file(self):
        # Windows Installer's own cache folder stays, empty.
        self.assertEqual(self.files - Product.fresh_files, {os.path.join("windows", "Installer")})
        self.assertEqual(os.listdir(Product.prefix.unix_path("windows/Installer")), [])

    def test_leaves_no_key_or_value(self):
        changed, removed = changed_keys(Product.fresh_registry, self.registry)
        # Only Windows Installer's own, empty, record folders stay.
        self.assertEqual({k: v for k, v in changed.items() if v or
                          not under(k, INSTALLER_RECORDS)}, {})
        self.assertEqual(removed, [])


def load_tests(loader, tests, pattern):
    suite = unittest.TestSuite()
    for stage in (Installed, Upgraded, Removed):
        suite.addTests(loader.loadTestsFromTestCase(stage))
    return suite


if __name__ == "__main__":
    unittest.main(verbosity=2)
