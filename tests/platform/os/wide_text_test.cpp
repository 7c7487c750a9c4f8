#include "platform/host/os/wide_text.h"

#include <gtest/gtest.h>

namespace {

struct TextCase {
    const char* name;
    std::string bytes;
    std::wstring wide;
};

std::ostream& operator<<(std::ostream& out, const TextCase& c) { return out << c.name; }

class WideTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(WideTextTest, DecodesAndEncodesBackToTheSameBytes) {
    EXPECT_EQ(host::WideFromBytes(GetParam().bytes), GetParam().wide);
    EXPECT_EQ(host::BytesFromWide(GetParam().wide), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WideTextTest,
    testing::Values(TextCase{"Ascii", "photo 1.jpg", L"photo 1.jpg"},
                    TextCase{"MultiByte", "K\xC3\xB6ln \xE6\x9D\xB1\xF0\x9F\x93\xB7",
                             L"K\u00F6ln \u6771\U0001F4F7"},
                    TextCase{"Latin1Byte", "caf\xE9.jpg", L"caf\xDCE9.jpg"},
                    TextCase{"Overlong", "\xC0\xAF", L"\xDCC0\xDCAF"},
                    TextCase{"EncodedSurrogate", "\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"},
                    TextCase{"BeyondUnicode", "\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"},
                    TextCase{"TruncatedAtEnd", "a\xE6\x9D", L"a\xDCE6\xDC9D"},
                    TextCase{"LoneContinuation", "\x80x", L"\xDC80x"}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

}  // namespace
