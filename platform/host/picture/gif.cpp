// GIF: the blocks up to the XMP application extension ("XMP DataXMP"),
// whose packet holds the position; GIF has no Exif.
#include "platform/host/picture/readers.h"
#include "platform/host/picture/xmp.h"

namespace host {

namespace {

// Blocks (frames and extensions) walked, and sub-blocks of data skipped
// over all of them: a long animation has thousands of frames, and a 1 GB
// file some four million sub-blocks.
constexpr int kMostBlocks = 1 << 16;
constexpr std::uint64_t kMostSubBlocks = std::uint64_t(1) << 23;

constexpr std::uint64_t kExtension = 0x21, kImage = 0x2C, kTrailer = 0x3B;
constexpr std::uint64_t kApplication = 0xFF;

// The offset just past the sub-blocks that start at `at` (past their
// terminating empty one); false when they run past the file or the bound.
bool SkipSubBlocks(const ByteView& file, std::uint64_t* at, std::uint64_t* subBlocksLeft) {
    for (;;) {
        std::uint64_t size = 0;
        if (*subBlocksLeft == 0 || !file.Read(*at, 1, Endian::kBig, &size)) return false;
        --*subBlocksLeft;
        *at += 1 + size;
        if (size == 0) return true;
    }
}

// The size of a colour table that `flags` announce.
std::uint64_t ColourTableSize(std::uint64_t flags) {
    return (flags & 0x80) != 0 ? 3u << ((flags & 7) + 1) : 0;
}

}  // namespace

bool ReadGifGps(const ByteView& file, GpsMetadata* position) {
    std::uint64_t screenFlags = 0;
    if (!file.Read(10, 1, Endian::kBig, &screenFlags)) return false;
    std::uint64_t at = 13 + ColourTableSize(screenFlags);
    std::uint64_t subBlocksLeft = kMostSubBlocks;
    for (int block = 0; block < kMostBlocks; ++block) {
        std::uint64_t introducer = 0, label = 0, flags = 0;
        if (!file.Read(at, 1, Endian::kBig, &introducer) || introducer == kTrailer) return false;
        if (introducer == kExtension && file.Read(at + 1, 1, Endian::kBig, &label)) {
            at += 2;
            // The XMP packet is stored raw: its own bytes pass for sub-block
            // sizes, and a trailer after it leads a walk to their end.
            const std::uint64_t packet = at + 12;
            if (label == kApplication && file.Matches(at, "\x0BXMP DataXMP")) {
                std::uint64_t end = packet;
                if (!SkipSubBlocks(file, &end, &subBlocksLeft)) return false;
                if (ReadXmpGps(file.Part(packet, end - packet), position)) return true;
                at = end;
                continue;
            }
        } else if (introducer == kImage && file.Read(at + 9, 1, Endian::kBig, &flags)) {
            at += 10 + ColourTableSize(flags) + 1;  // the descriptor, its table, LZW's code size
        } else {
            return false;
        }
        if (!SkipSubBlocks(file, &at, &subBlocksLeft)) return false;
    }
    return false;
}

}  // namespace host
