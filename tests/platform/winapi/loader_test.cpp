// The host loader finds a library by bare name or in the system folder, and
// nowhere else: what the late-bound table relies on to stay out of the
// program's own folder.
#include <gtest/gtest.h>

#include <string>

#include "support/watched_platform.h"
#include "platform/host/windows.h"

namespace {

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, static_cast<UINT>(MAX_PATH));
    EXPECT_EQ(folder[length], L'\0');
    return std::wstring(folder, length);
}

TEST(GetSystemDirectoryW, AnswersTheSizeItNeedsWhenTheBufferIsTooSmall) {
    const std::wstring folder = SystemFolder();
    const UINT length = static_cast<UINT>(folder.size());
    wchar_t exact[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryW(exact, length + 1), length);
    EXPECT_EQ(exact, folder);
    wchar_t tooSmall[MAX_PATH] = L"untouched";
    EXPECT_EQ(GetSystemDirectoryW(tooSmall, length), length + 1);
    EXPECT_STREQ(tooSmall, L"untouched");
    EXPECT_EQ(GetSystemDirectoryW(nullptr, 0), length + 1);
}

struct LoadCase {
    const char* label;
    std::wstring path;  // a leading "@" stands for the system folder
    bool found;
};

class LoadLibraryWTest : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadLibraryWTest, FindsLibrariesOnlyByBareNameOrInTheSystemFolder) {
    watch::RestoreModules();
    watch::ResetRecords();
    std::wstring path = GetParam().path;
    if (!path.empty() && path[0] == L'@') path = SystemFolder() + path.substr(1);

    const HMODULE module = LoadLibraryW(path.c_str());
    EXPECT_EQ(module != nullptr, GetParam().found);
    EXPECT_EQ(GetModuleHandleW(L"Propsys.dll"), module);
    EXPECT_EQ(watch::Records().loadedLibraries, std::vector<std::wstring>{path});
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LoadLibraryWTest,
    testing::Values(LoadCase{"BareName", L"Propsys.dll", true},
                    LoadCase{"SystemFolder", L"@\\Propsys.dll", true},
                    LoadCase{"SystemFolderOtherCase", L"@\\PROPSYS.DLL", true},
                    LoadCase{"ProgramFolder", L"C:\\Users\\me\\Downloads\\Propsys.dll", false},
                    LoadCase{"BelowTheSystemFolder", L"@\\sub\\Propsys.dll", false},
                    LoadCase{"NotInTheTable", L"@\\evil.dll", false},
                    LoadCase{"FolderOnly", L"@\\", false}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.label); });

}  // namespace
