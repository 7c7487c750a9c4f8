#include "gps/gps_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/fake_shell_item.h"

namespace {

const PROPERTYKEY& kValue = PKEY_GPS_Latitude;
const PROPERTYKEY& kReference = PKEY_GPS_LatitudeRef;
constexpr double kUntouched = 999.0;

ScriptedValue Vector(std::vector<double> elements) {
    return {S_OK, VT_VECTOR | VT_R8, std::move(elements), {}, {}};
}
ScriptedString Text(const wchar_t* text) { return {S_OK, std::wstring(text)}; }

struct ReadCase {
    const char* name;
    ScriptedValue value;
    ScriptedString reference;
    HRESULT expectedStatus;
    double expectedCoordinate;  // kUntouched where the read must fail
};

std::ostream& operator<<(std::ostream& out, const ReadCase& c) { return out << c.name; }

class ReadGpsCoordinateTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadGpsCoordinateTest, GivesSignedDegreesOrLeavesTheOutputAlone) {
    const ReadCase& c = GetParam();
    FakeShellItem item;
    item.SetValue(kValue, c.value);
    item.SetString(kReference, c.reference);
    double coordinate = kUntouched;

    EXPECT_EQ(ReadGpsCoordinate(&item, kValue, kReference, &coordinate), c.expectedStatus);
    EXPECT_DOUBLE_EQ(coordinate, c.expectedCoordinate);
}

const LONG kIntegers[] = {10, 30, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadGpsCoordinateTest,
    testing::Values(
        ReadCase{"SouthDegreesMinutes", Vector({10, 30, 0}), Text(L"S"), S_OK, -10.5},
        ReadCase{"NorthDegreesMinutesSeconds", Vector({51, 28, 38}), Text(L"N"), S_OK,
                 51.0 + 28.0 / 60 + 38.0 / 3600},
        ReadCase{"WestDegreesMinutesSeconds", Vector({122, 25, 9.84}), Text(L"W"), S_OK, -122.4194},
        ReadCase{"ScalarIsDecimalDegrees", {S_OK, VT_R8, {12.25}, {}, {}}, Text(L"E"), S_OK, 12.25},
        ReadCase{"FloatScalar", {S_OK, VT_R4, {}, {-3.5f}, {}}, Text(L"N"), S_OK, -3.5},
        ReadCase{"FloatVectorWalkedAsFloats",
                 {S_OK, VT_VECTOR | VT_R4, {}, {10, 30, 36}, {}},
                 Text(L"W"),
                 S_OK,
                 -10.51},
        ReadCase{"FourthElementDividedBy216000", Vector({1, 0, 0, 216000}), Text(L"N"), S_OK, 2.0},
        ReadCase{"MinutesAboveSixtyPassUnchanged", Vector({10, 90, 0}), Text(L"N"), S_OK, 11.5},
        ReadCase{"LowerCaseSouthStaysPositive", Vector({10, 30, 0}), Text(L"s"), S_OK, 10.5},
        ReadCase{"LowerCaseWestStaysPositive", Vector({10, 30, 0}), Text(L"w"), S_OK, 10.5},
        ReadCase{"EmptyReferenceStaysPositive", Vector({10, 30, 0}), Text(L""), S_OK, 10.5},
        ReadCase{
            "NoStringAtAllStaysPositive", Vector({10, 30, 0}), {S_OK, std::nullopt}, S_OK, 10.5},
        ReadCase{"OnlyFirstUnitCounts", Vector({10, 30, 0}), Text(L"South"), S_OK, -10.5},
        ReadCase{"OtherTextStaysPositive", Vector({10, 30, 0}), Text(L"xS"), S_OK, 10.5},
        ReadCase{
            "SuccessStatusBecomesOk", {S_FALSE, VT_R8, {1.5}, {}, {}}, {S_FALSE, L"N"}, S_OK, 1.5},
        ReadCase{"EmptyValue", {S_OK, VT_EMPTY, {}, {}, {}}, Text(L"N"), E_INVALIDARG, kUntouched},
        ReadCase{"IntegerVector",
                 {S_OK, VT_VECTOR | VT_I4, {}, {}, {kIntegers, kIntegers + 3}},
                 Text(L"N"),
                 E_INVALIDARG,
                 kUntouched},
        ReadCase{"ByReferenceDouble",
                 {S_OK, VT_BYREF | VT_R8, {1.0}, {}, {}},
                 Text(L"N"),
                 E_INVALIDARG,
                 kUntouched},
        ReadCase{"ValueReadFails",
                 {E_ACCESSDENIED, VT_EMPTY, {}, {}, {}},
                 Text(L"N"),
                 E_ACCESSDENIED,
                 kUntouched},
        ReadCase{
            "ReferenceReadFails", Vector({10, 30, 0}), {E_FAIL, std::nullopt}, E_FAIL, kUntouched},
        ReadCase{"ReferenceReadFailsButHandsOutText",
                 Vector({10, 30, 0}),
                 {E_OUTOFMEMORY, L"S"},
                 E_OUTOFMEMORY,
                 kUntouched}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(ReadGpsCoordinate, EmptyVectorIsZeroAndWestMakesItNegativeZero) {
    FakeShellItem item;
    item.SetValue(kValue, Vector({}));
    item.SetString(kReference, Text(L"W"));
    double coordinate = kUntouched;

    ASSERT_EQ(ReadGpsCoordinate(&item, kValue, kReference, &coordinate), S_OK);
    EXPECT_EQ(coordinate, 0.0);
    EXPECT_TRUE(std::signbit(coordinate));
}

TEST(ReadGpsCoordinate, ReadsTheReferenceOnlyAfterTheValueConverted) {
    FakeShellItem item;
    item.SetValue(kValue, Vector({1, 2, 3}));
    item.SetString(kReference, Text(L"N"));
    double coordinate = 0.0;
    ReadGpsCoordinate(&item, kValue, kReference, &coordinate);

    const std::string value = std::to_string(kValue.fmtid.Data1);
    const std::string reference = std::to_string(kReference.fmtid.Data1);
    EXPECT_EQ(item.calls,
              (std::vector<std::string>{"GetProperty " + value, "GetString " + reference}));
}

TEST(ReadGpsCoordinate, DoesNotReadTheReferenceWhenTheValueDoesNotConvert) {
    FakeShellItem item;
    item.SetValue(kValue, {S_OK, VT_EMPTY, {}, {}, {}});
    item.SetString(kReference, Text(L"S"));
    double coordinate = kUntouched;

    EXPECT_EQ(ReadGpsCoordinate(&item, kValue, kReference, &coordinate), E_INVALIDARG);
    EXPECT_EQ(item.calls.size(), 1u);
    EXPECT_EQ(item.stringsHandedOut, 0);
}

TEST(ReadGpsCoordinate, TakesNoReferenceOfItsOwnOnTheItem) {
    FakeShellItem item;
    item.SetValue(kValue, Vector({1}));
    item.SetString(kReference, Text(L"N"));
    double coordinate = 0.0;
    ReadGpsCoordinate(&item, kValue, kReference, &coordinate);
    EXPECT_EQ(item.releases, 0);
}

}  // namespace
