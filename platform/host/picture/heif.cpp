// HEIF and AVIF: the Exif items that the meta box's item tables list,
// those of the primary image first.
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/host/picture/bmff.h"
#include "platform/host/picture/readers.h"

namespace host {

namespace {

using bmff::Box;
using bmff::BoxWalker;
using bmff::FourCc;

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

// The ids of the items of type "Exif" in the iinf box body, in its order.
bool FindExifItems(const ByteView& iinf, std::vector<std::uint32_t>* itemIds) {
    Cursor cursor(iinf);
    const int version = bmff::ReadFullBoxVersion(cursor);
    cursor.Read(version == 0 ? 2 : 4);  // entry count: the boxes say it again
    if (!cursor.Ok()) return false;
    BoxWalker entries(cursor.Rest(), kMostItems);
    Box infe;
    while (entries.Next(&infe)) {
        if (infe.type != FourCc("infe")) continue;
        Cursor entry(entries.Body(infe));
        const int entryVersion = bmff::ReadFullBoxVersion(entry);
        if (entryVersion < 2) continue;  // no item types before version 2
        const auto id = entry.Read(entryVersion == 2 ? 2 : 4);
        entry.Skip(2);  // protection index
        const auto itemType = entry.Read(4);
        if (!entry.Ok() || itemType != FourCc("Exif")) continue;
        if (itemIds->size() == kMostExifItems) return false;
        itemIds->push_back(static_cast<std::uint32_t>(id));
    }
    return !entries.Broken() && !itemIds->empty();
}

bool ReadPrimaryItem(const ByteView& pitm, std::uint32_t* itemId) {
    Cursor cursor(pitm);
    const int version = bmff::ReadFullBoxVersion(cursor);
    *itemId = static_cast<std::uint32_t>(cursor.Read(version == 0 ? 2 : 4));
    return cursor.Ok();
}

// The items that each item describes ("cdsc" references), from -> to.
using Descriptions = std::multimap<std::uint32_t, std::uint32_t>;

bool ReadDescriptions(const ByteView& iref, Descriptions* described) {
    Cursor cursor(iref);
    const int idSize = bmff::ReadFullBoxVersion(cursor) == 0 ? 2 : 4;
    if (!cursor.Ok()) return false;
    BoxWalker references(cursor.Rest(), kMostReferences);
    std::uint64_t referencesLeft = kMostReferences;
    Box reference;
    while (references.Next(&reference)) {
        if (reference.type != FourCc("cdsc")) continue;
        Cursor body(references.Body(reference));
        const auto from = static_cast<std::uint32_t>(body.Read(idSize));
        const auto count = body.Read(2);
        // Checked before the loop: a count costs nothing without its bytes.
        if (!body.Ok() || count > referencesLeft || count * idSize > body.Left()) return false;
        referencesLeft -= count;
        for (std::uint64_t i = 0; i < count; ++i) {
            described->emplace(from, static_cast<std::uint32_t>(body.Read(idSize)));
        }
    }
    return !references.Broken();
}

// The order in which the Exif items are tried: those that describe the
// primary image, then those of other images, then the rest, each group in
// the file's order.
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

using Locations = std::map<std::uint32_t, ItemLocation>;

struct FieldSizes {
    int offset, length, baseOffset, index;
};

// Reads the extents of one item entry; keeps them only when `keep`.
bool ReadExtents(Cursor& cursor, const FieldSizes& sizes, std::uint64_t baseOffset, bool keep,
                 std::uint64_t* extentsLeft, std::vector<Extent>* extents) {
    const auto extentCount = cursor.Read(2);
    const auto width = static_cast<std::uint64_t>(sizes.index + sizes.offset + sizes.length);
    // The table must hold every extent it claims: checked before the loop,
    // so that a count costs nothing without the bytes behind it.
    if (!cursor.Ok() || extentCount > *extentsLeft || extentCount * width > cursor.Left()) {
        return false;
    }
    *extentsLeft -= extentCount;
    for (std::uint64_t e = 0; e < extentCount; ++e) {
        cursor.Skip(static_cast<std::uint64_t>(sizes.index));
        const auto offset = cursor.Read(sizes.offset);
        const auto length = cursor.Read(sizes.length);
        if (offset > UINT64_MAX - baseOffset) return false;
        if (keep) extents->push_back({baseOffset + offset, length});
    }
    return cursor.Ok();
}

// The locations of the items `wanted` from the iloc box body.
bool FindItemLocations(const ByteView& iloc, const std::vector<std::uint32_t>& wanted,
                       Locations* locations) {
    Cursor cursor(iloc);
    const int version = bmff::ReadFullBoxVersion(cursor);
    const auto sizes = cursor.Read(1);
    const auto moreSizes = cursor.Read(1);
    const bool hasIndex = version == 1 || version == 2;
    const FieldSizes fields = {static_cast<int>(sizes >> 4), static_cast<int>(sizes & 0x0F),
                               static_cast<int>(moreSizes >> 4),
                               hasIndex ? static_cast<int>(moreSizes & 0x0F) : 0};
    const auto itemCount = cursor.Read(version < 2 ? 2 : 4);
    const auto validSize = [](int bytes) { return bytes == 0 || bytes == 4 || bytes == 8; };
    // An extent without a length is of no use for the Exif item, and one that
    // takes no bytes at all would let a tiny table claim billions of them.
    if (!cursor.Ok() || version > 2 || !validSize(fields.offset) || fields.length == 0 ||
        !validSize(fields.length) || !validSize(fields.baseOffset) || !validSize(fields.index) ||
        itemCount > kMostItems) {
        return false;
    }
    std::uint64_t extentsLeft = kMostExtents;
    for (std::uint64_t item = 0; item < itemCount && cursor.Ok(); ++item) {
        const auto id = static_cast<std::uint32_t>(cursor.Read(version < 2 ? 2 : 4));
        const int method = hasIndex ? static_cast<int>(cursor.Read(2) & 0x0F) : 0;
        cursor.Skip(2);  // data reference index
        const auto baseOffset = cursor.Read(fields.baseOffset);
        const bool keep = std::find(wanted.begin(), wanted.end(), id) != wanted.end() &&
                          locations->count(id) == 0;
        ItemLocation location{method, {}};
        if (!ReadExtents(cursor, fields, baseOffset, keep, &extentsLeft, &location.extents)) {
            return false;
        }
        if (keep) locations->emplace(id, std::move(location));
    }
    return cursor.Ok() && !locations->empty();
}

// Gathers the item's extents, taking no more than `*budget` bytes from it.
// An item cut by the end of a file cut short keeps the bytes that are
// there: its directories may lie in them.
bool ReadItem(const ItemLocation& location, const ByteView& file, const ByteView& idat,
              std::uint64_t* budget, std::vector<unsigned char>* item) {
    if (location.constructionMethod > 1 || location.extents.empty()) return false;
    const ByteView& from = location.constructionMethod == 0 ? file : idat;
    for (const Extent& extent : location.extents) {
        if (extent.length == 0 || extent.length > *budget) return false;
        *budget -= extent.length;
        const ByteView there = from.Part(extent.offset, extent.length);
        if (there.Size() == 0 || !there.Append(0, there.Size(), item)) return false;
        if (there.Size() < extent.length) break;  // nothing follows the file's end
    }
    return true;
}

// An Exif item starts with the offset of the TIFF header past its own four
// bytes.
bool ReadExifItemGps(std::vector<unsigned char> item, GpsMetadata* position) {
    const MemorySource bytes(std::move(item));
    Cursor cursor{ByteView(bytes)};
    const auto headerOffset = cursor.Read(4);
    cursor.Skip(headerOffset);
    return cursor.Ok() && ReadExifBlockGps(cursor.Rest(), position);
}

// The meta box among the top-level boxes. A box whose stated size runs
// past the end of a file cut short ends there: what the items need may
// still lie in the bytes that are present.
bool FindMetaBox(const ByteView& file, ByteView* meta) {
    BoxWalker boxes(file, kMostTopLevelBoxes, bmff::Overrun::kEndsAtRegionEnd);
    Box box;
    while (boxes.Next(&box)) {
        if (box.type == FourCc("meta")) {
            *meta = boxes.Body(box);
            return true;
        }
    }
    return false;
}

}  // namespace

bool ReadHeifGps(const ByteView& file, GpsMetadata* position) {
    ByteView meta = file;
    if (!FindMetaBox(file, &meta) || meta.Size() < 4 || meta.Size() > kLargestMeta) return false;
    const ByteView children = meta.From(4);  // after version and flags
    const auto child = [&children](const char(&type)[5], ByteView* body) {
        return bmff::FindChild(children, FourCc(type), kMostMetaChildren, body);
    };
    ByteView iinf = meta, iloc = meta, idat = meta.Part(0, 0), pitm = meta, iref = meta;
    std::vector<std::uint32_t> exifIds;
    if (!child("iinf", &iinf) || !FindExifItems(iinf, &exifIds)) return false;
    std::uint32_t primary = 0;
    Descriptions described;
    // Without a primary item or references the file's order stands.
    if (child("pitm", &pitm) && ReadPrimaryItem(pitm, &primary) && child("iref", &iref) &&
        !ReadDescriptions(iref, &described)) {
        return false;
    }
    OrderByPrimary(primary, described, &exifIds);
    Locations locations;
    if (!child("iloc", &iloc) || !FindItemLocations(iloc, exifIds, &locations)) return false;
    child("idat", &idat);
    std::uint64_t budget = kLargestExif;
    for (const std::uint32_t id : exifIds) {
        const auto location = locations.find(id);
        std::vector<unsigned char> item;
        // One broken Exif item does not hide the others.
        if (location != locations.end() && ReadItem(location->second, file, idat, &budget, &item) &&
            ReadExifItemGps(std::move(item), position)) {
            return true;
        }
    }
    return false;
}

}  // namespace host
