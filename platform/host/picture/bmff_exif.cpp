#include "platform/host/picture/bmff_exif.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace host {

namespace {

constexpr std::uint64_t kLargestMeta = 4u << 20;  // item tables are kilobytes
constexpr std::uint64_t kLargestExif = 16u << 20;
constexpr int kMostTopLevelBoxes = 64;
// Far above any camera's file (a grid of tiles is a few hundred items).
constexpr std::uint64_t kMostItems = 16384;
constexpr std::uint64_t kMostExtents = 65536;  // over all items together

// Bytes at an offset of the file, wherever the file lives.
using ReadAt = std::function<bool(std::uint64_t offset, std::uint64_t length, unsigned char* out)>;

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
};

constexpr std::uint32_t FourCc(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

// Parses the box header at `offset` of a region `size` bytes long, whose
// header bytes are `header` (at least 16 readable).
bool ParseBoxHeader(const unsigned char* header, std::uint64_t available, std::uint64_t offset,
                    std::uint64_t size, Box* box) {
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
    if (!cursor.Ok() || boxSize < headerSize || boxSize > size - offset) return false;
    box->bodyOffset = offset + headerSize;
    box->bodySize = boxSize - headerSize;
    return true;
}

// Finds the child box of `type` among the boxes in data[0..size).
bool FindChild(const unsigned char* data, std::uint64_t size, std::uint32_t type, Box* found) {
    for (std::uint64_t offset = 0; size - offset >= 8;) {
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

// The item id of the first item of type "Exif" in the iinf box body.
bool FindExifItem(const unsigned char* iinf, std::uint64_t size, std::uint32_t* itemId) {
    Cursor cursor(iinf, size);
    const auto version = cursor.Read(1);
    cursor.Skip(3);
    cursor.Read(version == 0 ? 2 : 4);  // entry count: the boxes say it again
    if (!cursor.Ok()) return false;
    const unsigned char* entries = cursor.Here();
    const std::uint64_t entriesSize = cursor.Left();
    for (std::uint64_t offset = 0; entriesSize - offset >= 8;) {
        Box infe;
        if (!ParseBoxHeader(entries + offset, entriesSize - offset, offset, entriesSize, &infe)) {
            return false;
        }
        offset = infe.bodyOffset + infe.bodySize;
        if (infe.type != FourCc("infe")) continue;
        Cursor entry(entries + infe.bodyOffset, infe.bodySize);
        const auto entryVersion = entry.Read(1);
        entry.Skip(3);
        if (entryVersion < 2) continue;  // no item types before version 2
        const auto id = entry.Read(entryVersion == 2 ? 2 : 4);
        entry.Skip(2);  // protection index
        const auto itemType = entry.Read(4);
        if (entry.Ok() && itemType == FourCc("Exif")) {
            *itemId = static_cast<std::uint32_t>(id);
            return true;
        }
    }
    return false;
}

struct Extent {
    std::uint64_t offset;
    std::uint64_t length;
};

struct ItemLocation {
    int constructionMethod = 0;  // 0: file offsets, 1: inside the idat box
    std::vector<Extent> extents;
};

// Reads the extents of one item entry; keeps them only when `keep`.
bool ReadExtents(Cursor& cursor, int indexSize, int offsetSize, int lengthSize,
                 std::uint64_t baseOffset, bool keep, std::uint64_t* extentsLeft,
                 std::vector<Extent>* extents) {
    const auto extentCount = cursor.Read(2);
    const auto width = static_cast<std::uint64_t>(indexSize + offsetSize + lengthSize);
    // The table must hold every extent it claims: checked before the loop,
    // so that a count costs nothing without the bytes behind it.
    if (!cursor.Ok() || extentCount > *extentsLeft || extentCount * width > cursor.Left()) {
        return false;
    }
    *extentsLeft -= extentCount;
    for (std::uint64_t e = 0; e < extentCount; ++e) {
        cursor.Skip(static_cast<std::uint64_t>(indexSize));
        const auto offset = cursor.Read(offsetSize);
        const auto length = cursor.Read(lengthSize);
        if (offset > UINT64_MAX - baseOffset) return false;
        if (keep) extents->push_back({baseOffset + offset, length});
    }
    return cursor.Ok();
}

// The location of `itemId` from the iloc box body.
bool FindItemLocation(const unsigned char* iloc, std::uint64_t size, std::uint32_t itemId,
                      ItemLocation* location) {
    Cursor cursor(iloc, size);
    const auto version = cursor.Read(1);
    cursor.Skip(3);
    const auto sizes = cursor.Read(1);
    const int offsetSize = static_cast<int>(sizes >> 4);
    const int lengthSize = static_cast<int>(sizes & 0x0F);
    const auto moreSizes = cursor.Read(1);
    const int baseOffsetSize = static_cast<int>(moreSizes >> 4);
    const int indexSize = (version == 1 || version == 2) ? static_cast<int>(moreSizes & 0x0F) : 0;
    const auto itemCount = cursor.Read(version < 2 ? 2 : 4);
    const auto validSize = [](int bytes) { return bytes == 0 || bytes == 4 || bytes == 8; };
    // An extent without a length is of no use for the Exif item, and one that
    // takes no bytes at all would let a tiny table claim billions of them.
    if (version > 2 || !validSize(offsetSize) || lengthSize == 0 || !validSize(lengthSize) ||
        !validSize(baseOffsetSize) || !validSize(indexSize) || itemCount > kMostItems) {
        return false;
    }
    std::uint64_t extentsLeft = kMostExtents;
    for (std::uint64_t item = 0; item < itemCount && cursor.Ok(); ++item) {
        const auto id = cursor.Read(version < 2 ? 2 : 4);
        const int method = (version == 1 || version == 2) ? int(cursor.Read(2) & 0x0F) : 0;
        cursor.Skip(2);  // data reference index
        const auto baseOffset = cursor.Read(baseOffsetSize);
        const bool wanted = id == itemId;
        std::vector<Extent> extents;
        if (!ReadExtents(cursor, indexSize, offsetSize, lengthSize, baseOffset, wanted,
                         &extentsLeft, &extents)) {
            return false;
        }
        if (wanted) {
            location->constructionMethod = method;
            location->extents = std::move(extents);
            return true;
        }
    }
    return false;
}

// Gathers the item's extents into `item`.
bool ReadItem(const ItemLocation& location, const ReadAt& readFile, const unsigned char* idat,
              std::uint64_t idatSize, std::vector<unsigned char>* item) {
    if (location.constructionMethod > 1 || location.extents.empty()) return false;
    for (const Extent& extent : location.extents) {
        if (extent.length == 0 || extent.length > kLargestExif - item->size()) return false;
        const std::size_t at = item->size();
        item->resize(at + extent.length);
        if (location.constructionMethod == 0) {
            if (!readFile(extent.offset, extent.length, item->data() + at)) return false;
        } else {
            if (idat == nullptr || extent.offset > idatSize ||
                extent.length > idatSize - extent.offset) {
                return false;
            }
            std::memcpy(item->data() + at, idat + extent.offset, extent.length);
        }
    }
    return true;
}

// An Exif item starts with the offset of the TIFF header past its own four bytes.
bool TiffFromExifItem(const std::vector<unsigned char>& item, std::vector<unsigned char>* tiff) {
    Cursor cursor(item.data(), item.size());
    const auto headerOffset = cursor.Read(4);
    cursor.Skip(headerOffset);
    if (!cursor.Ok() || cursor.Left() < 8) return false;
    tiff->assign(cursor.Here(), cursor.Here() + cursor.Left());
    return true;
}

bool ReadExif(std::uint64_t fileSize, const ReadAt& readFile, std::vector<unsigned char>* tiff) {
    // The meta box among the top-level boxes.
    Box meta;
    std::uint64_t offset = 0;
    for (int count = 0;; ++count) {
        unsigned char header[16] = {};
        if (count == kMostTopLevelBoxes || fileSize - offset < 8) return false;
        const std::uint64_t available = std::min<std::uint64_t>(16, fileSize - offset);
        if (!readFile(offset, available, header)) return false;
        Box box;
        if (!ParseBoxHeader(header, available, offset, fileSize, &box)) return false;
        if (box.type == FourCc("meta")) {
            meta = box;
            break;
        }
        offset = box.bodyOffset + box.bodySize;
    }
    if (meta.bodySize < 4 || meta.bodySize > kLargestMeta) return false;
    std::vector<unsigned char> body(meta.bodySize);
    if (!readFile(meta.bodyOffset, meta.bodySize, body.data())) return false;
    const unsigned char* children = body.data() + 4;  // after version and flags
    const std::uint64_t childrenSize = body.size() - 4;

    Box iinf, iloc, idat;
    std::uint32_t exifId = 0;
    ItemLocation location;
    if (!FindChild(children, childrenSize, FourCc("iinf"), &iinf) ||
        !FindExifItem(children + iinf.bodyOffset, iinf.bodySize, &exifId) ||
        !FindChild(children, childrenSize, FourCc("iloc"), &iloc) ||
        !FindItemLocation(children + iloc.bodyOffset, iloc.bodySize, exifId, &location)) {
        return false;
    }
    const bool hasIdat = FindChild(children, childrenSize, FourCc("idat"), &idat);
    std::vector<unsigned char> item;
    return ReadItem(location, readFile, hasIdat ? children + idat.bodyOffset : nullptr,
                    hasIdat ? idat.bodySize : 0, &item) &&
           TiffFromExifItem(item, tiff);
}

}  // namespace

bool ReadBmffExif(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff) {
    const ReadAt readMemory = [file, size](std::uint64_t offset, std::uint64_t length,
                                           unsigned char* out) {
        if (offset > size || length > size - offset) return false;
        std::memcpy(out, file + offset, length);
        return true;
    };
    return ReadExif(size, readMemory, tiff);
}

bool ReadBmffExif(const std::vector<unsigned char>& file, std::vector<unsigned char>* tiff) {
    return ReadBmffExif(file.data(), file.size(), tiff);
}

}  // namespace host
