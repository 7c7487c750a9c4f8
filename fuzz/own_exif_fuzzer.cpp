// Each input is a whole file in memory, handed to our own readers by its
// signature (own_exif.h): CR3, JPEG XR, PNG raw profiles, HEIF/AVIF.
// Besides the sanitizers' faults, a run stops when a found block is no
// TIFF block or is larger than any reader may hand back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/host/picture/own_exif.h"

namespace {

// The largest block a reader hands back: a HEIF's Exif items together.
constexpr std::size_t kLargestBlock = 16u << 20;

bool IsTiffBlock(const std::vector<unsigned char>& tiff) {
    return tiff.size() >= 8 &&
           (std::memcmp(tiff.data(), "II*\0", 4) == 0 || std::memcmp(tiff.data(), "MM\0*", 4) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of its own, so that a read past the end is the sanitizer's to see.
    const std::vector<unsigned char> file(data, data + size);
    std::vector<std::vector<unsigned char>> tiffs;
    const bool found = host::ReadOwnExifBlocks(file.data(), file.size(), &tiffs);
    if (found == tiffs.empty()) {
        std::fprintf(stderr, "own_exif_fuzzer: found %d with %zu blocks\n", found, tiffs.size());
        std::abort();
    }
    for (const std::vector<unsigned char>& tiff : tiffs) {
        if (!IsTiffBlock(tiff) || tiff.size() > kLargestBlock) {
            std::fprintf(stderr, "own_exif_fuzzer: a %zu-byte block that is no TIFF block\n",
                         tiff.size());
            std::abort();
        }
    }
    return 0;
}
