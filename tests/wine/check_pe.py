"""Checks the built photomap.exe: a 32-bit GUI executable for Windows NT 4.0
and later that imports only functions that Windows XP SP3's own libraries
export, and carries exactly one resource, its version information."""

import os
import subprocess
import sys
import tempfile
import unittest

import pefile

EXE = sys.argv.pop(1) if len(sys.argv) > 1 else "build/windows-x86/photomap.exe"
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "shell32.dll", "ole32.dll", "msvcrt.dll"}

# Every function photomap.exe may import, reviewed one by one: each exists on
# Windows XP SP3, so the loader never refuses the program there and it can
# show that it needs Vista. A new import fails test_imports_only_functions_of_
# windows_xp until it has been checked and added here. Never add one whose
# documentation gives a later minimum (GetTickCount64: Windows Vista).
XP_FUNCTIONS = {
    # The program's own calls and the start-up code of mingw-w64 and libgcc.
    # Microsoft's reference page of each gives "Minimum supported client:
    # Windows 2000 Professional" or "Windows XP".
    "kernel32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetLastError",
        "GetFullPathNameW", "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress",
        "GetStartupInfoW",
        "GetSystemDirectoryW", "InitializeCriticalSection", "IsDBCSLeadByteEx",
        "LeaveCriticalSection", "LoadLibraryA", "LoadLibraryW", "MultiByteToWideChar",
        "SetUnhandledExceptionFilter", "Sleep", "TlsGetValue", "VirtualProtect", "VirtualQuery",
    },
    # Reference pages: "Minimum supported client: Windows 2000 Professional".
    "user32.dll": {"MessageBoxW"},
    "shell32.dll": {"ShellExecuteW"},
    "ole32.dll": {"CoInitialize", "CoTaskMemFree", "CoUninitialize", "PropVariantClear"},
    # The C library of the runtime's start-up code and formatted print. These
    # are functions and data of the Visual C++ 6.0 run-time library (its
    # run-time library reference documents the public ones; the double-
    # underscore ones are its start-up entries), all exported by the
    # msvcrt.dll that Windows 2000 and XP install in the system folder.
    "msvcrt.dll": {
        "__argc", "__mb_cur_max", "__p__commode", "__p__fmode", "__p__wcmdln",
        "__set_app_type", "__setusermatherr", "__wargv", "__wgetmainargs", "__winitenv",
        "_amsg_exit", "_cexit", "_errno", "_initterm", "_iob", "_onexit", "abort", "atoi",
        "calloc", "exit", "fprintf", "fputwc", "free", "fwprintf", "fwrite", "localeconv",
        "malloc", "memcpy", "memset", "setlocale", "signal", "strchr", "strerror", "strlen",
        "strncmp", "vfprintf", "wcslen",
    },
}
LATE_BOUND = {b"SHCreateItemFromParsingName", b"SHCreateShellItem", b"SHGetIDListFromObject"}
STANDARD_KEYS = ["CompanyName", "FileDescription", "InternalName", "LegalCopyright",
                 "OriginalFilename", "ProductName"]


def imports_by_library(pe):
    """{library name in lower case: set of imported names, "#N" for an ordinal}"""
    imports = {}
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        names = imports.setdefault(entry.dll.decode().lower(), set())
        for symbol in entry.imports:
            names.add(symbol.name.decode() if symbol.name else "#%d" % symbol.ordinal)
    return imports


def imports_outside(allowed, imports):
    """The imports that `allowed` does not list, as "library!function"."""
    return sorted("%s!%s" % (library, name) for library, names in imports.items()
                  for name in names - allowed.get(library, set()))


def declared_for_windows_xp(compiler, functions):
    """Whether the SDK headers that ship with mingw-w64 declare all of
    `functions` for a program that targets Windows XP (_WIN32_WINNT 0x0501):
    they leave out what came later."""
    source = "".join(["#define _WIN32_WINNT 0x0501\n#define WINVER 0x0501\n",
                      "#include <windows.h>\n#include <objbase.h>\n#include <shellapi.h>\n",
                      "const void* const used[] = {\n"] +
                     ["    reinterpret_cast<const void*>(&%s),\n" % name for name in functions] +
                     ["};\n"])
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "declared.cpp")
        with open(path, "w") as file:
            file.write(source)
        result = subprocess.run([compiler, "-fsyntax-only", path], capture_output=True)
    return result.returncode == 0


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

    def test_imports_only_functions_of_windows_xp(self):
        self.assertEqual(imports_outside(XP_FUNCTIONS, imports_by_library(self.pe)), [])

    def test_the_check_catches_what_windows_xp_lacks(self):
        # What the executable once imported, an ordinal nobody reviewed and an
        # unknown library.
        imports = {"kernel32.dll": {"GetTickCount64", "Sleep"}, "ole32.dll": {"#3"},
                   "propsys.dll": {"PropVariantToString"}}
        self.assertEqual(imports_outside(XP_FUNCTIONS, imports),
                         ["kernel32.dll!GetTickCount64", "ole32.dll!#3",
                          "propsys.dll!PropVariantToString"])

    @unittest.skipUnless(os.environ.get("PHOTOMAP_WINDOWS_CXX"), "needs the cross compiler")
    def test_the_sdk_declares_the_listed_system_functions_for_windows_xp(self):
        # A second opinion on the list, for all but the C library (whose
        # headers carry no Windows version).
        compiler = os.environ["PHOTOMAP_WINDOWS_CXX"]
        system_functions = sorted(name for library, names in XP_FUNCTIONS.items()
                                  if library != "msvcrt.dll" for name in names)
        self.assertTrue(declared_for_windows_xp(compiler, system_functions))
        self.assertFalse(declared_for_windows_xp(compiler, ["GetTickCount64"]))

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
