#include "platform/host/picture/bmff_exif.h"

#include "support/bmff_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using bmff_file::Bytes;
using bmff_file::Layout;
using bmff_file::MakeHeif;

// A TIFF block stands in for real EXIF: the reader only has to find it.
const Bytes kTiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0};

class ReadBmffExifTest : public testing::TestWithParam<Layout> {};

TEST_P(ReadBmffExifTest, FindsTheExifItemWhereverItsLocationPoints) {
    Bytes tiff;
    ASSERT_TRUE(host::ReadBmffExif(MakeHeif(GetParam(), kTiff), &tiff));
    EXPECT_EQ(tiff, kTiff);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReadBmffExifTest,
                         testing::Values(Layout{0, 0, 0}, Layout{1, 4, 0}, Layout{1, 8, 0},
                                         Layout{1, 0, 1}, Layout{2, 4, 0}));

TEST(ReadBmffExif, EveryTruncationFailsCleanly) {
    const Bytes whole = MakeHeif({1, 4, 0}, kTiff);
    Bytes tiff;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        EXPECT_FALSE(host::ReadBmffExif(cut, &tiff)) << length;
    }
}

TEST(ReadBmffExif, FileWithoutExifItemHasNone) {
    Bytes tiff;
    EXPECT_FALSE(host::ReadBmffExif(MakeHeif({1, 4, 0}, kTiff, "mime"), &tiff));
}

}  // namespace
