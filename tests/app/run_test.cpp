// The whole run with its platform calls observed: which message, which URL,
// COM balance and the item's release.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "app/messages.h"
#include "latebind/late_bound_table.h"
#include "platform/host/os/wide_text.h"
#include "support/fake_shell_item.h"
#include "support/watched_platform.h"

namespace {

FakeShellItem* nextItem = nullptr;  // what the fake creation hands out
std::vector<std::wstring> parsedNames;

HRESULT WINAPI FakeCreateItem(PCWSTR name, IBindCtx*, REFIID riid, void** item) {
    parsedNames.emplace_back(name);
    EXPECT_TRUE(riid == IID_IShellItem2);
    *item = nextItem;
    return nextItem != nullptr ? S_OK : E_FAIL;
}

std::wstring CurrentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? host::WideFromBytes(buffer) : L"";
}

ScriptedValue Vector(std::vector<double> elements) {
    return {S_OK, VT_VECTOR | VT_R8, std::move(elements), {}, {}};
}

class RunTest : public testing::Test {
protected:
    void SetUp() override {
        // Messages go to stderr only: no desktop dialog to wait for.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        LateBoundTable = {};
        watch::RestoreModules();
        parsedNames.clear();
        nextItem = &item;
        item.SetValue(PKEY_GPS_Latitude, Vector({37, 46, 29.64}));
        item.SetString(PKEY_GPS_LatitudeRef, {S_OK, L"N"});
        item.SetValue(PKEY_GPS_Longitude, Vector({122, 25, 9.84}));
        item.SetString(PKEY_GPS_LongitudeRef, {S_OK, L"W"});
    }

    // Binds as a real run would, then puts the fake creation in the table.
    void BindWithFakeCreation() {
        BindShellFunctions();
        LateBoundTable.shell.SHCreateItemFromParsingName = FakeCreateItem;
        watch::ResetRecords();
    }

    int Run(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), L"photomap");
        std::vector<wchar_t*> vector;
        for (std::wstring& argument : arguments) vector.push_back(argument.data());
        vector.push_back(nullptr);
        __argc = static_cast<int>(arguments.size());
        __wargv = vector.data();
        return wWinMain(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
    }

    void ExpectOnlyMessage(const wchar_t* text) {
        EXPECT_EQ(watch::Records().messageTexts, std::vector<std::wstring>{text});
        EXPECT_EQ(watch::Records().messageCaptions, std::vector<std::wstring>{L""});
        EXPECT_TRUE(watch::Records().launchedFiles.empty());
    }

    void ExpectComBalanced() {
        EXPECT_EQ(watch::Records().coInitializeCalls, 1);
        EXPECT_EQ(watch::Records().coUninitializeCalls, 1);
    }

    FakeShellItem item;
};

TEST_F(RunTest, OpensTheMapAtThePictureAndReleasesTheItemOnce) {
    BindWithFakeCreation();
    EXPECT_EQ(Run({L"rel/photo one.jpg"}), 0);

    EXPECT_EQ(parsedNames, std::vector<std::wstring>{CurrentDirectory() + L"/rel/photo one.jpg"});
    EXPECT_EQ(
        watch::Records().launchedFiles,
        std::vector<std::wstring>{L"https://www.google.com/maps/place/37.77490000,-122.41940000"});
    EXPECT_TRUE(watch::Records().messageTexts.empty());
    EXPECT_EQ(item.releases, 1);
    ExpectComBalanced();
}

TEST_F(RunTest, HandsAUriOverAsTyped) {
    BindWithFakeCreation();
    Run({L"file:///photos/a%20b.jpg"});
    EXPECT_EQ(parsedNames, std::vector<std::wstring>{L"file:///photos/a%20b.jpg"});
    EXPECT_EQ(watch::Records().launchedFiles.size(), 1u);
}

TEST_F(RunTest, ReadsTheLongitudeBeforeTheLatitude) {
    BindWithFakeCreation();
    Run({L"photo.jpg"});
    const auto id = [](const PROPERTYKEY& key) { return std::to_string(key.fmtid.Data1); };
    EXPECT_EQ(item.calls, (std::vector<std::string>{"GetProperty " + id(PKEY_GPS_Longitude),
                                                    "GetString " + id(PKEY_GPS_LongitudeRef),
                                                    "GetProperty " + id(PKEY_GPS_Latitude),
                                                    "GetString " + id(PKEY_GPS_LatitudeRef)}));
}

TEST_F(RunTest, WrongArgumentCountsShowMessageBWithoutCreatingAnItem) {
    for (const auto& arguments :
         {std::vector<std::wstring>{}, std::vector<std::wstring>{L"a.jpg", L"b.jpg"}}) {
        BindWithFakeCreation();
        EXPECT_EQ(Run(arguments), 0);
        ExpectOnlyMessage(kSupplyPictureMessage);
        EXPECT_TRUE(parsedNames.empty());
        ExpectComBalanced();
    }
}

TEST_F(RunTest, ItemThatCannotBeCreatedShowsMessageB) {
    nextItem = nullptr;
    BindWithFakeCreation();
    EXPECT_EQ(Run({L"missing.jpg"}), 0);
    ExpectOnlyMessage(kSupplyPictureMessage);
    ExpectComBalanced();
}

TEST_F(RunTest, FailedLongitudeShowsMessageBAndNeverReadsTheLatitude) {
    item.SetValue(PKEY_GPS_Longitude, {S_OK, VT_EMPTY, {}, {}, {}});
    BindWithFakeCreation();
    EXPECT_EQ(Run({L"photo.jpg"}), 0);
    ExpectOnlyMessage(kSupplyPictureMessage);
    EXPECT_EQ(item.calls.size(), 1u);
    EXPECT_EQ(item.releases, 1);
    ExpectComBalanced();
}

TEST_F(RunTest, FailedLatitudeShowsMessageB) {
    item.SetString(PKEY_GPS_LatitudeRef, {E_FAIL, std::nullopt});
    BindWithFakeCreation();
    EXPECT_EQ(Run({L"photo.jpg"}), 0);
    ExpectOnlyMessage(kSupplyPictureMessage);
    EXPECT_EQ(item.releases, 1);
}

TEST_F(RunTest, NonFiniteCoordinatesNeverReachAUrl) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const auto& [key, value] : {std::pair{PKEY_GPS_Longitude, Vector({nan})},
                                     std::pair{PKEY_GPS_Latitude, Vector({infinity})},
                                     std::pair{PKEY_GPS_Latitude, Vector({1.79e308, 1.79e308})}}) {
        SetUp();
        item.SetValue(key, value);
        BindWithFakeCreation();
        EXPECT_EQ(Run({L"photo.jpg"}), 0);
        ExpectOnlyMessage(kSupplyPictureMessage);
    }
}

struct RangeCase {
    const char* label;
    std::vector<double> latitude;
    std::vector<double> longitude;
    const wchar_t* url;  // null: message B
};

class CoordinateRangeTest : public RunTest, public testing::WithParamInterface<RangeCase> {};

TEST_P(CoordinateRangeTest, OpensTheMapOnlyForAPlaceOnEarth) {
    item.SetValue(PKEY_GPS_Latitude, Vector(GetParam().latitude));
    item.SetString(PKEY_GPS_LatitudeRef, {S_OK, L"S"});
    item.SetValue(PKEY_GPS_Longitude, Vector(GetParam().longitude));
    BindWithFakeCreation();
    EXPECT_EQ(Run({L"photo.jpg"}), 0);
    if (GetParam().url == nullptr) {
        ExpectOnlyMessage(kSupplyPictureMessage);
    } else {
        EXPECT_EQ(watch::Records().launchedFiles, std::vector<std::wstring>{GetParam().url});
        EXPECT_TRUE(watch::Records().messageTexts.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, CoordinateRangeTest,
    testing::Values(RangeCase{"Poles",
                              {90},
                              {180},
                              L"https://www.google.com/maps/place/-90.00000000,-180.00000000"},
                    RangeCase{"MinutesMakeTheLimit",
                              {89, 60},
                              {179, 60},
                              L"https://www.google.com/maps/place/-90.00000000,-180.00000000"},
                    RangeCase{"LatitudeBeyondAPole", {90, 0, 0.01}, {10}, nullptr},
                    RangeCase{"LongitudeBeyondTheDateLine", {10}, {180, 0, 0.01}, nullptr},
                    RangeCase{"HugeRationals", {3 * 4294967295.0}, {4000}, nullptr}),
    [](const testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.label); });

TEST_F(RunTest, ZeroLongitudeInTheWestHasNoSign) {
    item.SetValue(PKEY_GPS_Longitude, Vector({0, 0, 0}));
    BindWithFakeCreation();
    Run({L"photo.jpg"});
    EXPECT_EQ(
        watch::Records().launchedFiles,
        std::vector<std::wstring>{L"https://www.google.com/maps/place/37.77490000,0.00000000"});
}

TEST_F(RunTest, MissingPropertySystemShowsMessageAAndClosesCom) {
    watch::RemoveModule(L"Propsys.dll");
    watch::ResetRecords();
    EXPECT_EQ(Run({L"photo.jpg"}), 0);
    ExpectOnlyMessage(kNeedsVistaMessage);
    EXPECT_TRUE(parsedNames.empty());
    ExpectComBalanced();
}

TEST_F(RunTest, MissingItemCreationShowsMessageA) {
    watch::RemoveExport(L"shell32.dll", "SHCreateItemFromParsingName");
    watch::ResetRecords();
    EXPECT_EQ(Run({L"photo.jpg"}), 0);
    ExpectOnlyMessage(kNeedsVistaMessage);
    ExpectComBalanced();
}

TEST_F(RunTest, OtherMissingShellExportsDoNotStopTheRun) {
    watch::RemoveExport(L"shell32.dll", MAKEINTRESOURCEA(701));
    BindShellFunctions();
    ASSERT_EQ(LateBoundTable.shell.state, BindState::Failed);
    LateBoundTable.shell.SHCreateItemFromParsingName = FakeCreateItem;
    watch::ResetRecords();
    EXPECT_EQ(Run({L"photo.jpg"}), 0);
    EXPECT_EQ(watch::Records().launchedFiles.size(), 1u);
}

}  // namespace
