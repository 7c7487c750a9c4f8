"""Checks the built photomap.exe: a 32-bit GUI executable for Windows NT 4.0
and later that imports only the system's own libraries and carries exactly one
resource, its version information."""

import sys
import unittest

import pefile

EXE = sys.argv.pop(1) if len(sys.argv) > 1 else "build/windows-x86/photomap.exe"
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "shell32.dll", "ole32.dll", "msvcrt.dll"}
LATE_BOUND = {b"SHCreateItemFromParsingName", b"SHCreateShellItem", b"SHGetIDListFromObject"}
STANDARD_KEYS = ["CompanyName", "FileDescription", "InternalName", "LegalCopyright",
                 "OriginalFilename", "ProductName"]


def string_tables(pe):
    for info_list in pe.FileInfo:
        for info in info_list:
            if info.Key == b"StringFileInfo":
                yield from info.StringTable


def translations(pe):
    for info_list in pe.FileInfo:
        for info in info_list:
            if info.Key == b"VarFileInfo":
                for var in info.Var:
                    yield var.entry


class PhotomapExe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def test_header(self):
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(header.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(header.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertEqual((header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
                         (4, 0))
        self.assertEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (4, 0))

    def test_imports_only_system_libraries(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(imported, ALLOWED_IMPORTS)

    def test_late_bound_functions_are_not_imported(self):
        names = {symbol.name for entry in self.pe.DIRECTORY_ENTRY_IMPORT
                 for symbol in entry.imports}
        self.assertEqual(names & LATE_BOUND, set())
        self.assertIn(b"ShellExecuteW", names)

    def test_only_resource_is_one_version_block(self):
        types = self.pe.DIRECTORY_ENTRY_RESOURCE.entries
        self.assertEqual([entry.id for entry in types], [pefile.RESOURCE_TYPE["RT_VERSION"]])
        self.assertEqual(len(types[0].directory.entries), 1)

    def test_fixed_version_fields(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0))
        self.assertEqual(fixed.FileFlagsMask, 0x3F)
        self.assertEqual(fixed.FileFlags, 0)
        self.assertEqual(fixed.FileOS, 0x40004)
        self.assertEqual(fixed.FileType, 1)

    def test_one_string_table_for_us_english_unicode(self):
        tables = list(string_tables(self.pe))
        self.assertEqual([table.LangID for table in tables], [b"040904b0"])
        self.assertEqual(list(translations(self.pe)), [{b"Translation": "0x0409 0x04b0"}])

    def test_string_values(self):
        entries = {key.decode(): value.decode() for key, value in
                   next(string_tables(self.pe)).entries.items()}
        self.assertEqual(entries["FileVersion"], "1, 0, 0, 0")
        self.assertEqual(entries["ProductVersion"], "1, 0, 0, 0")
        for empty in ("Comments", "LegalTrademarks", "PrivateBuild", "SpecialBuild"):
            self.assertEqual(entries[empty], "", empty)
        for key in STANDARD_KEYS:
            self.assertNotEqual(entries.get(key, ""), "", key)
        self.assertEqual(entries["OriginalFilename"], "photomap.exe")


if __name__ == "__main__":
    unittest.main(verbosity=2)
