#include "app/map_url.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cwchar>
#include <string>

namespace {

const std::wstring kPrefix = L"https://www.google.com/maps/place/";

std::wstring Format(double latitude, double longitude) {
    wchar_t url[kMapUrlCapacity];
    const int written = FormatMapUrl(latitude, longitude, url);
    EXPECT_EQ(written, static_cast<int>(std::wcslen(url)));
    return url;
}

struct UrlCase {
    const char* name;
    double latitude;
    double longitude;
    const wchar_t* position;
};

std::ostream& operator<<(std::ostream& out, const UrlCase& c) { return out << c.name; }

class FormatMapUrlTest : public testing::TestWithParam<UrlCase> {};

TEST_P(FormatMapUrlTest, WritesBothCoordinatesWithEightDecimals) {
    EXPECT_EQ(Format(GetParam().latitude, GetParam().longitude), kPrefix + GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatMapUrlTest,
    testing::Values(
        UrlCase{"NorthWest", 37.7749, -122.4194, L"37.77490000,-122.41940000"},
        UrlCase{"SouthEast", -33.8567844, 151.213108, L"-33.85678440,151.21310800"},
        UrlCase{"RoundsTheNinthDecimal", 51.477222222, 0.000000005001, L"51.47722222,0.00000001"},
        UrlCase{"ZeroHasNoSign", 0.0, 0.0, L"0.00000000,0.00000000"},
        UrlCase{"NegatedZeroHasNoSign", -0.0, -0.0, L"0.00000000,0.00000000"},
        UrlCase{"TinyNegativeKeepsItsSign", -0.000000001, -0.000000004, L"-0.00000000,-0.00000000"},
        UrlCase{"NoRangeCheck", 91.5, 540.25, L"91.50000000,540.25000000"},
        UrlCase{"LargeValuesInFixedNotation", 1e20, -1e15,
                L"100000000000000000000.00000000,-1000000000000000.00000000"}),
    [](const testing::TestParamInfo<UrlCase>& info) { return std::string(info.param.name); });

TEST(FormatMapUrl, LongestPossibleUrlFitsWhole) {
    const std::wstring url = Format(-DBL_MAX, -DBL_MAX);
    const std::size_t longestCoordinate = 319;  // sign, 309 digits, point, 8 decimals
    EXPECT_EQ(url.size(), kPrefix.size() + 2 * longestCoordinate + 1);
    EXPECT_LT(url.size(), kMapUrlCapacity);
    EXPECT_EQ(url.substr(kPrefix.size(), 5), L"-1797");
    EXPECT_EQ(url.substr(url.size() - 9), L".00000000");
}

}  // namespace
