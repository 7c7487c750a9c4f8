#include "platform/host/picture/cr3_gps.h"

#include <cstdint>
#include <cstring>

#include "platform/host/picture/bmff_box.h"
#include "platform/host/picture/tiff_gps_block.h"

namespace host {

namespace {

using bmff::Box;
using bmff::FourCc;

constexpr int kMostTopLevelBoxes = 64;
constexpr int kMostMoovBoxes = 1024;                  // a trak per stream, Canon's uuid, a few more
constexpr int kMostCanonBoxes = 64;                   // CNCV, CCTP, CTBO, CMT1-4, THMB, ...
constexpr std::uint64_t kLargestGpsBlock = 1u << 20;  // a few hundred bytes in practice

const unsigned char kCanonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                      0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

// The first box of `type` among the boxes in data[0..size), as a region of
// its own.
bool Child(const unsigned char* data, std::uint64_t size, std::uint32_t type, int mostBoxes,
           const unsigned char** body, std::uint64_t* bodySize) {
    Box box;
    if (!bmff::FindChild(data, size, type, mostBoxes, &box)) return false;
    *body = data + box.bodyOffset;
    *bodySize = box.bodySize;
    return true;
}

// Canon's uuid box among moov's children: the first uuid box of that id.
bool FindCanonBox(const unsigned char* moov, std::uint64_t size, const unsigned char** body,
                  std::uint64_t* bodySize) {
    std::uint64_t offset = 0;
    for (int count = 0; count < kMostMoovBoxes && size - offset >= 8; ++count) {
        Box box;
        if (!bmff::ParseBoxHeader(moov + offset, size - offset, offset, size, &box)) return false;
        const unsigned char* content = moov + box.bodyOffset;
        if (box.type == FourCc("uuid") && box.bodySize >= 16 &&
            std::memcmp(content, kCanonUuid, 16) == 0) {
            *body = content + 16;
            *bodySize = box.bodySize - 16;
            return true;
        }
        offset = box.bodyOffset + box.bodySize;
    }
    return false;
}

}  // namespace

bool HasCr3Signature(const unsigned char* file, std::size_t size) {
    return size >= 12 && std::memcmp(file + 4, "ftypcrx ", 8) == 0;
}

bool ReadCr3GpsTiff(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff) {
    const unsigned char *moov = nullptr, *canon = nullptr, *block = nullptr;
    std::uint64_t moovSize = 0, canonSize = 0, blockSize = 0;
    ByteOrder order = ByteOrder::kLittle;
    std::uint32_t gpsDirectory = 0;
    return HasCr3Signature(file, size) &&
           Child(file, size, FourCc("moov"), kMostTopLevelBoxes, &moov, &moovSize) &&
           FindCanonBox(moov, moovSize, &canon, &canonSize) &&
           Child(canon, canonSize, FourCc("CMT4"), kMostCanonBoxes, &block, &blockSize) &&
           blockSize <= kLargestGpsBlock &&
           ReadTiffHeader(block, blockSize, &order, &gpsDirectory) &&
           CopyGpsDirectory(block, blockSize, order, gpsDirectory, tiff);
}

}  // namespace host
