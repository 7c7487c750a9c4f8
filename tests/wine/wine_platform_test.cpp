// The late-bound table and OpenMapAt against the real Windows libraries
// (Wine's, in CI).
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "app/map_url.h"
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

// The URL reaches the system's handler for web addresses; the test that
// runs this checks what the handler was given.
TEST(OpenMapAt, HandsTheUrlToTheShell) {
    ASSERT_EQ(std::getenv("PHOTOMAP_URL_RECORD") != nullptr, true)
        << "run from test_windows.py, which records what the handler receives";
    OpenMapAt(37.7749, -122.4194);
}

}  // namespace
