#include "platform/host/picture/jxr_ifd.h"

#include <cstdint>
#include <cstring>

#include "platform/host/picture/tiff_gps_block.h"

namespace host {

namespace {

constexpr std::uint32_t kMostEntries = 1024;  // JPEG XR writers use a dozen or two
constexpr std::uint32_t kGpsPointerTag = 0x8825;
constexpr std::uint32_t kLongType = 4;
constexpr std::uint32_t kIfdType = 13;

// The GPS directory's offset from the first directory's pointer entry.
bool FindGpsPointer(const unsigned char* file, std::size_t size, std::uint32_t* gpsDirectory) {
    const ByteOrder order = ByteOrder::kLittle;  // JPEG XR has only "II"
    std::uint32_t first = 0, count = 0;
    if (!ReadTiffField(file, size, order, 4, 4, &first) ||
        !ReadTiffField(file, size, order, first, 2, &count) || count > kMostEntries) {
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = std::uint64_t(first) + 2 + std::uint64_t(i) * 12;
        std::uint32_t tag = 0, type = 0, values = 0;
        if (!ReadTiffField(file, size, order, entry, 2, &tag) ||
            !ReadTiffField(file, size, order, entry + 2, 2, &type) ||
            !ReadTiffField(file, size, order, entry + 4, 4, &values)) {
            return false;
        }
        if (tag == kGpsPointerTag) {
            return (type == kLongType || type == kIfdType) && values == 1 &&
                   ReadTiffField(file, size, order, entry + 8, 4, gpsDirectory);
        }
    }
    return false;
}

}  // namespace

bool HasJxrSignature(const unsigned char* file, std::size_t size) {
    return size >= 8 && std::memcmp(file, "II\xBC\x01", 4) == 0;
}

bool ReadJxrGpsTiff(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff) {
    std::uint32_t gpsDirectory = 0;
    return HasJxrSignature(file, size) && FindGpsPointer(file, size, &gpsDirectory) &&
           CopyGpsDirectory(file, size, ByteOrder::kLittle, gpsDirectory, tiff);
}

}  // namespace host
