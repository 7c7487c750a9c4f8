// The late-bound table and OpenMapAt against the real Windows libraries
// (Wine's, in CI).
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "app/map_url.h"
#include "latebind/late_bound_table.h"

namespace {

std::vector<FARPROC> PropsysEntries() {
    const PropsysFunctions& f = LateBoundTable.propsys;
    return {
        f.PropVariantToString,      f.PropVariantCompareEx,     f.PropVariantChangeType,
        f.PSGetPropertySystem,      f.PSGetPropertyDescription, f.PSGetPropertyDescriptionByName,
        f.PSGetPropertyKeyFromName, f.PSGetNameFromPropertyKey, f.PSCreateMemoryPropertyStore,
        f.PSGetItemPropertyHandler, f.PropVariantToVariant,     f.VariantToPropVariant};
}

TEST(LateBoundTable, BindsAllTwentyFiveEntriesFromTheSystemLibraries) {
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_TRUE(BindPropsysFunctions());
    const ShellFunctions& s = LateBoundTable.shell;
    EXPECT_EQ(s.state, BindState::Bound);
    EXPECT_EQ(LateBoundTable.propsys.state, BindState::Bound);
    const std::vector<bool> shellBound = {s.SHCreateShellItem != nullptr,
                                          s.SHCreateItemFromIDList != nullptr,
                                          s.SHCreateShellItemArray != nullptr,
                                          s.SHCreateShellItemArrayFromIDLists != nullptr,
                                          s.SHCreateItemFromParsingName != nullptr,
                                          s.SHParseDisplayName != nullptr,
                                          s.SHGetIDListFromObject != nullptr,
                                          s.Ordinal83 != nullptr,
                                          s.SHMultiFileProperties != nullptr,
                                          s.SHCreateDataObject != nullptr,
                                          s.Ordinal701 != nullptr,
                                          s.SHOpenFolderAndSelectItems != nullptr,
                                          s.SHGetPathFromIDListEx != nullptr};
    EXPECT_EQ(shellBound, std::vector<bool>(13, true));
    for (FARPROC entry : PropsysEntries()) EXPECT_NE(entry, nullptr);
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
    int empty = 0;
    for (FARPROC entry : PropsysEntries()) empty += entry == nullptr;
    EXPECT_EQ(empty, fromOle32 != nullptr ? 11 : 12);
}

// The URL reaches the system's handler for web addresses; the test that
// runs this checks what the handler was given.
TEST(OpenMapAt, HandsTheUrlToTheShell) {
    ASSERT_EQ(std::getenv("PHOTOMAP_URL_RECORD") != nullptr, true)
        << "run from test_windows.py, which records what the handler receives";
    OpenMapAt(37.7749, -122.4194);
}

}  // namespace
