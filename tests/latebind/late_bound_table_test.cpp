#include "latebind/late_bound_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/watched_platform.h"
#include "support/late_bound_entries.h"

namespace {

const std::vector<std::string> kShellLookups = ShellLookups();
const std::vector<std::string> kPropsysLookups = PropsysLookups();

// The full path in the system folder, as the binds must hand it to LoadLibraryW.
std::wstring InSystemFolder(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\" + name;
}

class LateBoundTableTest : public testing::Test {
protected:
    void SetUp() override {
        LateBoundTable = {};
        watch::RestoreModules();
        watch::ResetRecords();
    }
};

TEST_F(LateBoundTableTest, BindsBothGroupsInTheirLookupOrder) {
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_EQ(LateBoundTable.shell.state, BindState::Bound);
    EXPECT_EQ(LateBoundTable.propsys.state, BindState::Bound);
    EXPECT_EQ(CountEmpty(ShellEntries()), 0);
    EXPECT_EQ(CountEmpty(PropsysEntries()), 0);

    std::vector<std::string> expected = kShellLookups;
    expected.insert(expected.end(), kPropsysLookups.begin(), kPropsysLookups.end());
    EXPECT_EQ(watch::Records().lookups, expected);
}

TEST_F(LateBoundTableTest, SecondCallsAnswerFromTheStateWithoutLookingAnythingUp) {
    ASSERT_TRUE(BindShellFunctions());
    watch::ResetRecords();
    watch::RemoveModule(L"shell32.dll");  // would change the answer if looked up again
    watch::RemoveModule(L"Propsys.dll");

    EXPECT_TRUE(BindShellFunctions());
    EXPECT_TRUE(BindPropsysFunctions());
    EXPECT_TRUE(watch::Records().lookups.empty());
    EXPECT_EQ(watch::Records().getModuleHandleCalls, 0);
    EXPECT_TRUE(watch::Records().loadedLibraries.empty());
}

TEST_F(LateBoundTableTest, PropsysBoundFirstIsNotBoundAgainByTheShellBind) {
    ASSERT_TRUE(BindPropsysFunctions());
    watch::ResetRecords();
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_EQ(watch::Records().lookups, kShellLookups);
}

TEST_F(LateBoundTableTest, FindsLoadedLibrariesAndLoadsOnlyTheMissingOne) {
    BindShellFunctions();
    // shell32 is in the process already; Propsys has to be loaded.
    EXPECT_EQ(watch::Records().getModuleHandleCalls, 2);
    EXPECT_EQ(watch::Records().loadedLibraries,
              std::vector<std::wstring>{InSystemFolder(L"Propsys.dll")});
}

TEST_F(LateBoundTableTest, LoadsAShellLibraryNotYetInTheProcessFromTheSystemFolder) {
    watch::UnloadModule(L"shell32.dll");
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_EQ(CountEmpty(ShellEntries()), 0);
    const std::vector<std::wstring> expected = {InSystemFolder(L"shell32.dll"),
                                                InSystemFolder(L"Propsys.dll")};
    EXPECT_EQ(watch::Records().loadedLibraries, expected);
}

TEST_F(LateBoundTableTest, MissingPropsysFailsAndTakesTheOneFunctionFromOle32) {
    watch::RemoveModule(L"Propsys.dll");
    EXPECT_TRUE(BindShellFunctions());
    EXPECT_FALSE(BindPropsysFunctions());
    EXPECT_EQ(LateBoundTable.propsys.state, BindState::Failed);
    EXPECT_NE(LateBoundTable.propsys.PropVariantChangeType, nullptr);
    EXPECT_EQ(CountEmpty(PropsysEntries()), 11);
}

TEST_F(LateBoundTableTest, MissingPropsysDoesNotLoadOle32ForTheFallback) {
    watch::RemoveModule(L"Propsys.dll");
    watch::RemoveModule(L"ole32.dll");
    EXPECT_FALSE(BindPropsysFunctions());
    EXPECT_EQ(CountEmpty(PropsysEntries()), 12);
    EXPECT_EQ(watch::Records().loadedLibraries,
              std::vector<std::wstring>{InSystemFolder(L"Propsys.dll")});  // Propsys only
}

TEST_F(LateBoundTableTest, MissingShellLibraryLeavesEveryShellEntryEmpty) {
    watch::RemoveModule(L"shell32.dll");
    EXPECT_FALSE(BindShellFunctions());
    EXPECT_EQ(LateBoundTable.shell.state, BindState::Failed);
    EXPECT_EQ(CountEmpty(ShellEntries()), 13);
    EXPECT_EQ(LateBoundTable.propsys.state, BindState::Bound);
}

TEST_F(LateBoundTableTest, MissingPropsysExportStillBindsTheGroup) {
    watch::RemoveExport(L"Propsys.dll", "PSGetPropertySystem");
    EXPECT_TRUE(BindPropsysFunctions());
    EXPECT_EQ(LateBoundTable.propsys.PSGetPropertySystem, nullptr);
    EXPECT_EQ(CountEmpty(PropsysEntries()), 1);
}

class MissingShellExportTest : public testing::TestWithParam<int> {};

TEST_P(MissingShellExportTest, FailsTheShellGroupButKeepsTheRest) {
    LateBoundTable = {};
    watch::RestoreModules();
    const std::string& name = kShellLookups[GetParam()];
    const LPCSTR missing =
        name[0] == '#' ? MAKEINTRESOURCEA(std::stoi(name.substr(1))) : name.c_str();
    watch::RemoveExport(L"SHELL32.DLL", missing);

    EXPECT_FALSE(BindShellFunctions());
    EXPECT_EQ(LateBoundTable.shell.state, BindState::Failed);
    const std::vector<FARPROC> entries = ShellEntries();
    EXPECT_EQ(entries[GetParam()], nullptr);
    EXPECT_EQ(CountEmpty(entries), 1);
    EXPECT_EQ(LateBoundTable.propsys.state, BindState::Bound);
}

INSTANTIATE_TEST_SUITE_P(EachExport, MissingShellExportTest, testing::Range(0, 13));

}  // namespace
