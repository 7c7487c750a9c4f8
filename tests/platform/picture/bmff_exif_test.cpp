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

// ftyp, then meta as the last box, its Exif item in idat; meta states
// `pastEnd` bytes more than the file holds, and the last `cut` are gone.
Bytes MetaCutShort(std::uint32_t pastEnd, std::size_t cut) {
    Bytes file = MakeHeif({1, 4, 1}, kTiff);
    const std::size_t mdatSize = 8 + 5 + 4 + 6 + kTiff.size();
    file.resize(file.size() - mdatSize - cut);
    const std::size_t metaAt = 16;  // after ftyp
    std::uint32_t stated = 0;
    for (int i = 0; i < 4; ++i) stated = (stated << 8) | file[metaAt + i];
    stated += pastEnd + static_cast<std::uint32_t>(cut);
    for (int i = 0; i < 4; ++i)
        file[metaAt + i] = static_cast<unsigned char>(stated >> (24 - 8 * i));
    return file;
}

// A file cut short inside its last top-level box: that box ends where the
// file ends, and what the item needs is read if it lies inside the file.
TEST(ReadBmffExif, LastBoxOfAFileCutShortEndsAtTheEnd) {
    Bytes tiff;
    ASSERT_TRUE(host::ReadBmffExif(MetaCutShort(4096, 0), &tiff));
    EXPECT_EQ(tiff, kTiff);
    EXPECT_FALSE(host::ReadBmffExif(MetaCutShort(4096, 4), &tiff));  // the item itself cut
}

TEST(ReadBmffExif, FileWithoutExifItemHasNone) {
    Bytes tiff;
    EXPECT_FALSE(host::ReadBmffExif(MakeHeif({1, 4, 0}, kTiff, "mime"), &tiff));
}

}  // namespace
