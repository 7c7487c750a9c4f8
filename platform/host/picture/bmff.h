// The box structure of ISO base media files (HEIF, AVIF, CR3): one walker
// over the boxes of a region, whatever the region lies in.
#pragma once

#include <cstdint>

#include "platform/host/picture/byte_view.h"

namespace host::bmff {

constexpr std::uint32_t FourCc(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

struct Box {
    std::uint32_t type = 0;
    std::uint64_t bodyOffset = 0;  // in the region walked
    std::uint64_t bodySize = 0;
};

// What a box whose stated size runs past its region's end becomes: inside
// a box it is a broken table; at the top level of a file that was cut
// short (an mdat whose 64-bit size outlives the download), it is the last
// box, ending where the file ends.
enum class Overrun { kFails, kEndsAtRegionEnd };

// The boxes of a region one after another, no more than `mostBoxes`.
class BoxWalker {
public:
    BoxWalker(const ByteView& region, int mostBoxes, Overrun overrun = Overrun::kFails)
        : region_(region), boxesLeft_(mostBoxes), overrun_(overrun) {}

    // The next box; false at the region's end, past the bound, or at a
    // broken header (then Broken()).
    bool Next(Box* box);
    bool Broken() const { return broken_; }
    ByteView Body(const Box& box) const { return region_.Part(box.bodyOffset, box.bodySize); }

private:
    ByteView region_;
    std::uint64_t offset_ = 0;
    int boxesLeft_;
    Overrun overrun_;
    bool broken_ = false;
};

// The body of the first box of `type` among the first `mostBoxes` of the
// region.
bool FindChild(const ByteView& region, std::uint32_t type, int mostBoxes, ByteView* body);

// Reads a full box's version and flags.
inline int ReadFullBoxVersion(Cursor& cursor) {
    const auto version = static_cast<int>(cursor.Read(1));
    cursor.Skip(3);
    return version;
}

}  // namespace host::bmff
