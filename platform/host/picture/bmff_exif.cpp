#include "platform/host/picture/bmff_exif.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "platform/host/picture/bmff_box.h"
#include "platform/host/picture/tiff_gps_block.h"

namespace host {

namespace {

using bmff::Box;
using bmff::Cursor;
using bmff::FourCc;
using bmff::ParseBoxHeader;

constexpr std::uint64_t kLargestMeta = 4u << 20;   // item tables are kilobytes
constexpr std::uint64_t kLargestExif = 16u << 20;  // over all Exif items together
constexpr int kMostTopLevelBoxes = 64;
constexpr int kMostMetaChildren = 1024;
// Far above any camera's file (a grid of tiles is a few hundred items).
constexpr std::uint64_t kMostItems = 16384;
constexpr std::uint64_t kMostExtents = 65536;  // over all items together
constexpr std::uint64_t kMostReferences = 65536;
// A stereo pair, a burst or a depth map carry one each; more is no photo.
constexpr std::size_t kMostExifItems = 64;

// Bytes at an offset of the file, wherever the file lives.
using ReadAt = std::function<bool(std::uint64_t offset, std::uint64_t length, unsigned char* out)>;

bool FindChild(const unsigned char* data, std::uint64_t size, std::uint32_t type, Box* found) {
    return bmff::FindChild(data, size, type, kMostMetaChildren, found);
}

// The ids of the items of type "Exif" in the iinf box body, in its order.
bool FindExifItems(const unsigned char* iinf, std::uint64_t size,
                   std::vector<std::uint32_t>* itemIds) {
    Cursor cursor(iinf, size);
    const auto version = cursor.Read(1);
    cursor.Skip(3);
    cursor.Read(version == 0 ? 2 : 4);  // entry count: the boxes say it again
    if (!cursor.Ok()) return false;
    const unsigned char* entries = cursor.Here();
    const std::uint64_t entriesSize = cursor.Left();
    std::uint64_t seen = 0;
    for (std::uint64_t offset = 0; entriesSize - offset >= 8; ++seen) {
        Box infe;
        if (seen == kMostItems ||
            !ParseBoxHeader(entries + offset, entriesSize - offset, offset, entriesSize, &infe)) {
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
        if (!entry.Ok() || itemType != FourCc("Exif")) continue;
        if (itemIds->size() == kMostExifItems) return false;
        itemIds->push_back(static_cast<std::uint32_t>(id));
    }
    return !itemIds->empty();
}

// The primary item's id from the pitm box body.
bool ReadPrimaryItem(const unsigned char* pitm, std::uint64_t size, std::uint32_t* itemId) {
    Cursor cursor(pitm, size);
    const auto version = cursor.Read(1);
    cursor.Skip(3);
    *itemId = static_cast<std::uint32_t>(cursor.Read(version == 0 ? 2 : 4));
    return cursor.Ok();
}

// The items that each item describes ("cdsc" references in the iref box
// body), as from -> [to, ...].
using Descriptions = std::multimap<std::uint32_t, std::uint32_t>;

bool ReadDescriptions(const unsigned char* iref, std::uint64_t size, Descriptions* described) {
    Cursor cursor(iref, size);
    const auto version = cursor.Read(1);
    cursor.Skip(3);
    if (!cursor.Ok()) return false;
    const int idSize = version == 0 ? 2 : 4;
    const unsigned char* boxes = cursor.Here();
    const std::uint64_t boxesSize = cursor.Left();
    std::uint64_t referencesLeft = kMostReferences;
    for (std::uint64_t offset = 0; boxesSize - offset >= 8;) {
        Box reference;
        if (!ParseBoxHeader(boxes + offset, boxesSize - offset, offset, boxesSize, &reference)) {
            return false;
        }
        offset = reference.bodyOffset + reference.bodySize;
        if (reference.type != FourCc("cdsc")) continue;
        Cursor body(boxes + reference.bodyOffset, reference.bodySize);
        const auto from = static_cast<std::uint32_t>(body.Read(idSize));
        const auto count = body.Read(2);
        // Checked before the loop: a count costs nothing without its bytes.
        if (!body.Ok() || count > referencesLeft || count * idSize > body.Left()) return false;
        referencesLeft -= count;
        for (std::uint64_t i = 0; i < count; ++i) {
            described->emplace(from, static_cast<std::uint32_t>(body.Read(idSize)));
        }
    }
    return true;
}

// The Exif items in the order their positions are tried: those that
// describe the primary image, then those of other images, then the rest,
// each group in the file's order.
void OrderByPrimary(std::uint32_t primary, const Descriptions& described,
                    std::vector<std::uint32_t>* exifIds) {
    const auto rank = [&](std::uint32_t exifId) {
        const auto targets = described.equal_range(exifId);
        if (targets.first == targets.second) return 2;
        for (auto it = targets.first; it != targets.second; ++it) {
            if (it->second == primary) return 0;
        }
        return 1;
    };
    std::stable_sort(exifIds->begin(), exifIds->end(),
                     [&](std::uint32_t a, std::uint32_t b) { return rank(a) < rank(b); });
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

using Locations = std::map<std::uint32_t, ItemLocation>;

// The locations of the items `wanted` from the iloc box body.
bool FindItemLocations(const unsigned char* iloc, std::uint64_t size,
                       const std::vector<std::uint32_t>& wanted, Locations* locations) {
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
        const auto id = static_cast<std::uint32_t>(cursor.Read(version < 2 ? 2 : 4));
        const int method = (version == 1 || version == 2) ? int(cursor.Read(2) & 0x0F) : 0;
        cursor.Skip(2);  // data reference index
        const auto baseOffset = cursor.Read(baseOffsetSize);
        const bool keep = std::find(wanted.begin(), wanted.end(), id) != wanted.end() &&
                          locations->count(id) == 0;
        ItemLocation location{method, {}};
        if (!ReadExtents(cursor, indexSize, offsetSize, lengthSize, baseOffset, keep, &extentsLeft,
                         &location.extents)) {
            return false;
        }
        if (keep) locations->emplace(id, std::move(location));
    }
    return cursor.Ok() && !locations->empty();
}

// Gathers the item's extents into `item`, taking no more than `*budget`
// bytes from it.
bool ReadItem(const ItemLocation& location, const ReadAt& readFile, const unsigned char* idat,
              std::uint64_t idatSize, std::uint64_t* budget, std::vector<unsigned char>* item) {
    if (location.constructionMethod > 1 || location.extents.empty()) return false;
    for (const Extent& extent : location.extents) {
        if (extent.length == 0 || extent.length > *budget) return false;
        *budget -= extent.length;
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

// An Exif item starts with the offset of the TIFF header past its own four
// bytes; what it points at must be one, or the item is no use.
bool TiffFromExifItem(const std::vector<unsigned char>& item, std::vector<unsigned char>* tiff) {
    Cursor cursor(item.data(), item.size());
    const auto headerOffset = cursor.Read(4);
    cursor.Skip(headerOffset);
    ByteOrder order = ByteOrder::kLittle;
    std::uint32_t firstDirectory = 0;
    if (!cursor.Ok() || !ReadTiffHeader(cursor.Here(), cursor.Left(), &order, &firstDirectory)) {
        return false;
    }
    tiff->assign(cursor.Here(), cursor.Here() + cursor.Left());
    return true;
}

// The meta box among the top-level boxes. A box whose stated size runs
// past the end of a file cut short ends there: what the items need may
// still lie in the bytes that are present, which ReadItem checks.
bool FindMetaBox(std::uint64_t fileSize, const ReadAt& readFile, Box* meta) {
    std::uint64_t offset = 0;
    for (int count = 0; count < kMostTopLevelBoxes && fileSize - offset >= 8; ++count) {
        unsigned char header[16] = {};
        const std::uint64_t available = std::min<std::uint64_t>(16, fileSize - offset);
        if (!readFile(offset, available, header)) return false;
        Box box;
        if (!ParseBoxHeader(header, available, offset, fileSize, &box,
                            bmff::Overrun::kEndsAtRegionEnd)) {
            return false;
        }
        if (box.type == FourCc("meta")) {
            *meta = box;
            return true;
        }
        offset = box.bodyOffset + box.bodySize;
    }
    return false;
}

using TiffBlocks = std::vector<std::vector<unsigned char>>;

bool ReadExif(std::uint64_t fileSize, const ReadAt& readFile, TiffBlocks* tiffs) {
    Box meta;
    if (!FindMetaBox(fileSize, readFile, &meta)) return false;
    if (meta.bodySize < 4 || meta.bodySize > kLargestMeta) return false;
    std::vector<unsigned char> body(meta.bodySize);
    if (!readFile(meta.bodyOffset, meta.bodySize, body.data())) return false;
    const unsigned char* children = body.data() + 4;  // after version and flags
    const std::uint64_t childrenSize = body.size() - 4;

    Box iinf, iloc, idat, pitm, iref;
    std::vector<std::uint32_t> exifIds;
    if (!FindChild(children, childrenSize, FourCc("iinf"), &iinf) ||
        !FindExifItems(children + iinf.bodyOffset, iinf.bodySize, &exifIds)) {
        return false;
    }
    std::uint32_t primary = 0;
    Descriptions described;
    // Without a primary item or references the file's order stands.
    if (FindChild(children, childrenSize, FourCc("pitm"), &pitm) &&
        ReadPrimaryItem(children + pitm.bodyOffset, pitm.bodySize, &primary) &&
        FindChild(children, childrenSize, FourCc("iref"), &iref) &&
        !ReadDescriptions(children + iref.bodyOffset, iref.bodySize, &described)) {
        return false;
    }
    OrderByPrimary(primary, described, &exifIds);

    Locations locations;
    if (!FindChild(children, childrenSize, FourCc("iloc"), &iloc) ||
        !FindItemLocations(children + iloc.bodyOffset, iloc.bodySize, exifIds, &locations)) {
        return false;
    }
    const bool hasIdat = FindChild(children, childrenSize, FourCc("idat"), &idat);
    std::uint64_t budget = kLargestExif;
    for (const std::uint32_t id : exifIds) {
        const auto location = locations.find(id);
        std::vector<unsigned char> item, tiff;
        // One broken Exif item does not hide the others.
        if (location != locations.end() &&
            ReadItem(location->second, readFile, hasIdat ? children + idat.bodyOffset : nullptr,
                     hasIdat ? idat.bodySize : 0, &budget, &item) &&
            TiffFromExifItem(item, &tiff)) {
            tiffs->push_back(std::move(tiff));
        }
    }
    return !tiffs->empty();
}

}  // namespace

bool ReadBmffExifBlocks(const unsigned char* file, std::size_t size,
                        std::vector<std::vector<unsigned char>>* tiffs) {
    const ReadAt readMemory = [file, size](std::uint64_t offset, std::uint64_t length,
                                           unsigned char* out) {
        if (offset > size || length > size - offset) return false;
        std::memcpy(out, file + offset, length);
        return true;
    };
    tiffs->clear();
    return ReadExif(size, readMemory, tiffs);
}

bool ReadBmffExif(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff) {
    std::vector<std::vector<unsigned char>> tiffs;
    if (!ReadBmffExifBlocks(file, size, &tiffs)) return false;
    *tiff = std::move(tiffs.front());
    return true;
}

bool ReadBmffExif(const std::vector<unsigned char>& file, std::vector<unsigned char>* tiff) {
    return ReadBmffExif(file.data(), file.size(), tiff);
}

}  // namespace host
