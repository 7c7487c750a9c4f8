#include "platform/host/picture/xmp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct XmpCase {
    const char* text;
    bool parses;
    std::vector<double> parts;
    const char* reference;
};

std::ostream& operator<<(std::ostream& out, const XmpCase& c) { return out << c.text; }

class ParseXmpCoordinateTest : public testing::TestWithParam<XmpCase> {};

TEST_P(ParseXmpCoordinateTest, AcceptsOnlyTheTwoXmpForms) {
    host::GpsCoordinateData coordinate;
    EXPECT_EQ(host::ParseXmpCoordinate(GetParam().text, &coordinate), GetParam().parses);
    EXPECT_EQ(coordinate.present, GetParam().parses);
    if (GetParam().parses) {
        EXPECT_EQ(coordinate.parts, GetParam().parts);
        EXPECT_EQ(coordinate.reference, GetParam().reference);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ParseXmpCoordinateTest,
    testing::Values(XmpCase{"51,28,38N", true, {51, 28, 38}, "N"},
                    XmpCase{"122,25.164W", true, {122, 25.164}, "W"},
                    XmpCase{"33,51,24.42S", true, {33, 51, 24.42}, "S"},
                    XmpCase{"0,0.0E", true, {0, 0}, "E"}, XmpCase{"51N", false, {}, ""},
                    XmpCase{"51,28,38,1N", false, {}, ""}, XmpCase{"51,28,38", false, {}, ""},
                    XmpCase{"51,28,38n", false, {}, ""}, XmpCase{"-51,28,38N", false, {}, ""},
                    XmpCase{"51,,38N", false, {}, ""}, XmpCase{"51, 28N", false, {}, ""},
                    XmpCase{"51,1e3N", false, {}, ""}, XmpCase{"51,28.1.2N", false, {}, ""},
                    XmpCase{"N", false, {}, ""}, XmpCase{"", false, {}, ""}));

}  // namespace
