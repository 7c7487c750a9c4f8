// The shell item's read of a picture: opened, handed to the confined reader,
// parsed there, and the answer checked on its way back.
#include "platform/host/winapi/shell_item.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/bmff_file.h"

namespace {

using bmff_file::Append;
using bmff_file::Bytes;

// Big-endian TIFF data whose GPS directory holds 48° 51' 12.34" N, 2° 17' 40" E.
Bytes GpsTiff() {
    Bytes tiff = {'M', 'M', 0, 42};
    Append(tiff, 8, 4);  // the first directory
    const auto entry = [&tiff](int tag, int type, int count, std::uint32_t value) {
        Append(tiff, tag, 2);
        Append(tiff, type, 2);
        Append(tiff, count, 4);
        Append(tiff, value, 4);
    };
    const int ascii = 2, longType = 4, rational = 5;
    Append(tiff, 1, 2);
    entry(0x8825, longType, 1, 26);  // the GPS directory
    Append(tiff, 0, 4);
    Append(tiff, 4, 2);
    entry(1, ascii, 2, 'N' << 24);
    entry(2, rational, 3, 80);
    entry(3, ascii, 2, 'E' << 24);
    entry(4, rational, 3, 104);
    Append(tiff, 0, 4);
    for (std::uint32_t number : {48u, 1u, 51u, 1u, 1234u, 100u, 2u, 1u, 17u, 1u, 40u, 1u}) {
        Append(tiff, number, 4);
    }
    return tiff;
}

struct BmffCase {
    const char* name;
    bmff_file::Layout layout;
    bool brokenTrailingBox;  // a box longer than the file, which exiv2 refuses
};

std::ostream& operator<<(std::ostream& out, const BmffCase& c) { return out << c.name; }

class ReadGpsMetadataBmffTest : public testing::TestWithParam<BmffCase> {
protected:
    void TearDown() override { std::remove(path_.c_str()); }

    std::string Write(const Bytes& file) {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        return path_;
    }

private:
    std::string path_ = testing::TempDir() + "photomap_shell_item_test.heic";
};

TEST_P(ReadGpsMetadataBmffTest, ReadsTheExifItemWhateverExiv2MakesOfTheFile) {
    Bytes file = bmff_file::MakeHeif(GetParam().layout, GpsTiff());
    if (GetParam().brokenTrailingBox) {
        Append(file, 4096, 4);  // the box's size, but the file ends after its type
        Append(file, std::string("free"));
    }

    host::GpsMetadata metadata;
    ASSERT_EQ(host::ReadGpsMetadata(Write(file), &metadata), S_OK);
    EXPECT_TRUE(metadata.latitude.present);
    EXPECT_EQ(metadata.latitude.parts, (std::vector<double>{48, 51, 12.34}));
    EXPECT_EQ(metadata.latitude.reference, "N");
    EXPECT_TRUE(metadata.longitude.present);
    EXPECT_EQ(metadata.longitude.parts, (std::vector<double>{2, 17, 40}));
    EXPECT_EQ(metadata.longitude.reference, "E");
}

INSTANTIATE_TEST_SUITE_P(Files, ReadGpsMetadataBmffTest,
                         testing::Values(BmffCase{"ItemInMdat", {1, 0, 0}, false},
                                         BmffCase{"ItemAfterABaseOffset", {1, 4, 0}, false},
                                         BmffCase{"ItemInIdat", {1, 0, 1}, false},
                                         BmffCase{"BrokenBoxAfterTheItemInMdat", {1, 0, 0}, true},
                                         BmffCase{"BrokenBoxAfterTheItemInIdat", {1, 0, 1}, true}),
                         [](const testing::TestParamInfo<BmffCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
