// The late-bound table and OpenMapAt against the real Windows libraries
// (Wine's, in CI).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/map_url.h"
#include "app/parsing_name.h"
#include "latebind/late_bound_table.h"
#include "support/late_bound_entries.h"

namespace {

TEST(LateBoundTable, BindsAllTwentyFiveEntriesFromTheSystemLibraries) {
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_TRUE(BindPropsysFunctions());
    EXPECT_EQ(LateBoundTable.shell.state, BindState::Bound);
    EXPECT_EQ(LateBoundTable.propsys.state, BindState::Bound);
    EXPECT_EQ(CountEmpty(ShellEntries()), 0);
    EXPECT_EQ(CountEmpty(PropsysEntries()), 0);
}

// Run with the property-system library disabled (WINEDLLOVERRIDES=propsys=d).
TEST(LateBoundTableWithoutPropsys, FailsThePropsysGroupAndFallsBackToOle32) {
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_FALSE(BindPropsysFunctions());
    EXPECT_EQ(LateBoundTable.propsys.state, BindState::Failed);

    // Whatever the COM library exports under that name, and nothing else.
    const FARPROC fromOle32 =
        GetProcAddress(GetModuleHandleW(L"ole32.dll"), "PropVariantChangeType");
    EXPECT_EQ(LateBoundTable.propsys.PropVariantChangeType, fromOle32);
    EXPECT_EQ(CountEmpty(PropsysEntries()), fromOle32 != nullptr ? 11 : 12);
}

// The folder that `module` was loaded from, as GetModuleFileNameW gives it.
std::wstring FolderOf(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    const std::wstring file(path, length < MAX_PATH ? length : 0);
    return file.substr(0, file.find_last_of(L'\\'));
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

// Run from test_windows.py with a Propsys.dll of the tests' own making beside
// this program; the test there checks that the planted library never ran.
TEST(LateBoundTableBesideAPlantedPropsys, BindsTheSystemsOwnPropsys) {
    ASSERT_EQ(GetModuleHandleW(L"Propsys.dll"), nullptr)
        << "already in the process: the bind would not load it, and this test would prove nothing";
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_TRUE(BindPropsysFunctions());
    EXPECT_EQ(CountEmpty(PropsysEntries()), 0);  // the planted one exports nothing

    const HMODULE propsys = GetModuleHandleW(L"Propsys.dll");
    ASSERT_NE(propsys, nullptr);
    EXPECT_EQ(_wcsicmp(FolderOf(propsys).c_str(), SystemFolder().c_str()), 0);
}

// The control case for the test above, in the same place: a bare name loads
// the planted library, so a bind that loaded by bare name would be caught.
TEST(BareNameBesideAPlantedPropsys, LoadsThePlantedLibrary) {
    ASSERT_EQ(GetModuleHandleW(L"Propsys.dll"), nullptr);
    const HMODULE planted = LoadLibraryW(L"Propsys.dll");
    ASSERT_NE(planted, nullptr);
    EXPECT_EQ(GetProcAddress(planted, "PropVariantToString"), nullptr);
    EXPECT_NE(_wcsicmp(FolderOf(planted).c_str(), SystemFolder().c_str()), 0);
}

// What the shell is given for what a user types in a console: the full path
// Windows would open, whatever the form, and a URI as typed.
TEST(ParsingNameFor, GivesTheFullPathOfWhatAUserTypes) {
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\windows\\system32"));
    static wchar_t fullPath[kFullPathCapacity];
    const auto nameFor = [](const wchar_t* argument) {
        const wchar_t* name = ParsingNameFor(argument, fullPath);
        return std::wstring(name != nullptr ? name : L"<none>");
    };
    EXPECT_EQ(nameFor(L"IMG_1234.JPG"), L"C:\\windows\\system32\\IMG_1234.JPG");
    EXPECT_EQ(nameFor(L"..\\trip\\a.jpg"), L"C:\\windows\\trip\\a.jpg");
    EXPECT_EQ(nameFor(L"C:/Photos/a.jpg"), L"C:\\Photos\\a.jpg");
    EXPECT_EQ(nameFor(L"C:a.jpg"), L"C:\\windows\\system32\\a.jpg");
    EXPECT_EQ(nameFor(L"\\\\server\\share\\a.jpg"), L"\\\\server\\share\\a.jpg");
    const wchar_t uri[] = L"file:///C:/Photos/a.jpg";
    EXPECT_EQ(ParsingNameFor(uri, fullPath), uri);
    EXPECT_EQ(nameFor(L""), L"<none>");
}

// The URL reaches the system's handler for web addresses; the test that
// runs this checks what the handler was given.
TEST(OpenMapAt, HandsTheUrlToTheShell) {
    ASSERT_EQ(std::getenv("PHOTOMAP_URL_RECORD") != nullptr, true)
        << "run from test_windows.py, which records what the handler receives";
    OpenMapAt(37.7749, -122.4194);
}

}  // namespace
