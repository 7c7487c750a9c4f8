// The file byte source hands out exactly the bytes of the file, however the
// reads fall on its windows.
#include "platform/host/picture/byte_source.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(FileSource, HandsOutTheBytesOfTheFileAtAnyOffset) {
    std::vector<unsigned char> bytes(3u << 20);
    std::mt19937 random(7);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
    const std::string path = testing::TempDir() + "photomap_byte_source";
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    unlink(path.c_str());
    ASSERT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));

    host::FileSource source(file);
    ASSERT_TRUE(source.Open());
    EXPECT_EQ(source.Size(), bytes.size());
    // Forward walks that grow the windows, jumps that start them again,
    // reads across their edges, and reads larger than any window.
    std::uint64_t at = 0;
    for (int read = 0; read < 4000; ++read) {
        const std::size_t length = read % 97 == 0 ? (40u << 10) + read : 1 + read % 13;
        at = read % 50 == 0 ? random() % bytes.size() : at + 700 + read % 4096;
        std::vector<unsigned char> got(length);
        const bool inside = at + length <= bytes.size();
        ASSERT_EQ(source.Read(at, length, got.data()), inside) << at << " " << length;
        if (inside) {
            ASSERT_EQ(got,
                      std::vector<unsigned char>(bytes.begin() + at, bytes.begin() + at + length))
                << at << " " << length;
        } else {
            at = 0;
        }
    }
    close(file);
}

}  // namespace
