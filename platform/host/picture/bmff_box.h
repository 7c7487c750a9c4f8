// The box structure of ISO base media files (HEIF, AVIF, CR3), read from
// bytes in memory: big-endian fields that never read past their region.
#pragma once

#include <cstdint>

namespace host::bmff {

// Big-endian fields of a box's body; any read past the end fails for good.
class Cursor {
public:
    Cursor(const unsigned char* data, std::uint64_t size) : data_(data), left_(size) {}

    std::uint64_t Read(int bytes) {
        std::uint64_t value = 0;
        if (!ok_ || bytes < 0 || static_cast<std::uint64_t>(bytes) > left_) {
            ok_ = false;
            return 0;
        }
        for (int i = 0; i < bytes; ++i) value = (value << 8) | data_[i];
        data_ += bytes;
        left_ -= static_cast<std::uint64_t>(bytes);
        return value;
    }
    void Skip(std::uint64_t bytes) {
        if (!ok_ || bytes > left_) {
            ok_ = false;
            return;
        }
        data_ += bytes;
        left_ -= bytes;
    }
    const unsigned char* Here() const { return data_; }
    std::uint64_t Left() const { return left_; }
    bool Ok() const { return ok_; }

private:
    const unsigned char* data_;
    std::uint64_t left_;
    bool ok_ = true;
};

struct Box {
    std::uint32_t type = 0;
    std::uint64_t bodyOffset = 0;  // from the start of what was parsed
    std::uint64_t bodySize = 0;
    bool cutShort = false;  // its stated size ran past the region (see Overrun)
};

constexpr std::uint32_t FourCc(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

// What a box whose stated size runs past its region's end becomes: inside
// a box it is a broken table; at the top level of a file that was cut
// short (an mdat whose 64-bit size outlives the download), it is the last
// box, ending where the file ends.
enum class Overrun { kFails, kEndsAtRegionEnd };

// Parses the box header at `offset` of a region `size` bytes long, whose
// header bytes are `header` (`available` of them readable).
inline bool ParseBoxHeader(const unsigned char* header, std::uint64_t available,
                           std::uint64_t offset, std::uint64_t size, Box* box,
                           Overrun overrun = Overrun::kFails) {
    Cursor cursor(header, available);
    std::uint64_t boxSize = cursor.Read(4);
    box->type = static_cast<std::uint32_t>(cursor.Read(4));
    std::uint64_t headerSize = 8;
    if (boxSize == 1) {
        boxSize = cursor.Read(8);
        headerSize = 16;
    } else if (boxSize == 0) {
        boxSize = size - offset;  // to the end
    }
    if (!cursor.Ok() || boxSize < headerSize || headerSize > size - offset) return false;
    box->cutShort = boxSize > size - offset;
    if (box->cutShort) {
        if (overrun == Overrun::kFails) return false;
        boxSize = size - offset;
    }
    box->bodyOffset = offset + headerSize;
    box->bodySize = boxSize - headerSize;
    return true;
}

// Finds the first child box of `type` among the boxes in data[0..size),
// looking at no more than `mostBoxes` of them.
inline bool FindChild(const unsigned char* data, std::uint64_t size, std::uint32_t type,
                      int mostBoxes, Box* found) {
    std::uint64_t offset = 0;
    for (int count = 0; count < mostBoxes && size - offset >= 8; ++count) {
        Box box;
        if (!ParseBoxHeader(data + offset, size - offset, offset, size, &box)) return false;
        if (box.type == type) {
            *found = box;
            return true;
        }
        offset = box.bodyOffset + box.bodySize;
    }
    return false;
}

}  // namespace host::bmff
