#include "platform/host/picture/tiff.h"

#include <algorithm>
#include <string>
#include <vector>

namespace host {

namespace {

// Real directories have 10 to 60 entries (JPEG XR's first up to a few
// dozen, a GPS directory at most 32).
constexpr std::uint32_t kMostDirectoryEntries = 1024;
// Rationals per coordinate: 3 in practice (degrees, minutes, seconds), 2 or
// 1 in some writers' output; more is kept as exiv2 keeps it, up to this.
constexpr std::uint32_t kMostCoordinateParts = 16;
// A reference is one letter and its NUL; room for writers that pad it.
constexpr std::uint32_t kMostReferenceBytes = 64;
constexpr std::uint32_t kEntrySize = 12;
// Pages of a TIFF (and a JPEG's Exif: IFD0 and the thumbnail's IFD1) that
// are searched for a GPS pointer; a scanner's multi-page TIFF has dozens.
constexpr int kMostPages = 256;
// Sub-directories a page names (SubIFDs): a raw's full-size and reduced
// images.
constexpr std::uint32_t kMostSubDirectories = 16;

constexpr std::uint16_t kGpsPointerTag = 0x8825;
constexpr std::uint16_t kExifPointerTag = 0x8769;
constexpr std::uint16_t kInteropPointerTag = 0xA005;
constexpr std::uint16_t kMakerNoteTag = 0x927C;
constexpr std::uint16_t kSubDirectoriesTag = 0x014A;
constexpr std::uint16_t kLatitudeReferenceTag = 1;
constexpr std::uint16_t kLatitudeTag = 2;
constexpr std::uint16_t kLongitudeReferenceTag = 3;
constexpr std::uint16_t kLongitudeTag = 4;

constexpr std::uint16_t kAsciiType = 2;
constexpr std::uint16_t kLongType = 4;
constexpr std::uint16_t kUndefinedType = 7;
constexpr std::uint16_t kRationalType = 5;
constexpr std::uint16_t kSignedRationalType = 10;
constexpr std::uint16_t kIfdType = 13;

// Bytes per value of each type (1 BYTE ... 12 DOUBLE, 13 IFD); 0 for a
// type TIFF does not define.
std::uint64_t TypeSize(std::uint16_t type) {
    static const std::uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof kSizes ? kSizes[type] : 0;
}

struct Entry {
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint64_t valueOffset = 0;  // of the value's bytes, in the entry or where it points
};

struct Directory {
    std::uint64_t entriesOffset = 0;
    std::uint32_t entryCount = 0;
};

enum class Lookup { kAbsent, kFound, kUnusable };

class Tiff {
public:
    Tiff(const ByteView& bytes, Endian endian) : bytes_(bytes), endian_(endian) {}

    std::uint32_t Field(std::uint64_t offset, int bytes, bool* ok) const {
        std::uint64_t value = 0;
        if (!bytes_.Read(offset, bytes, endian_, &value)) *ok = false;
        return static_cast<std::uint32_t>(value);
    }

    bool ReadDirectory(std::uint32_t offset, Directory* directory) const {
        bool ok = true;
        directory->entryCount = Field(offset, 2, &ok);
        directory->entriesOffset = std::uint64_t(offset) + 2;
        return ok && directory->entryCount <= kMostDirectoryEntries &&
               bytes_.Has(directory->entriesOffset, directory->entryCount * kEntrySize);
    }

    // The one entry with `tag`. A tag given twice is unusable: which copy
    // another reader presents is not ours to guess.
    Lookup FindEntry(const Directory& directory, std::uint16_t tag, Entry* entry) const {
        Lookup result = Lookup::kAbsent;
        for (std::uint32_t i = 0; i < directory.entryCount; ++i) {
            const std::uint64_t at = directory.entriesOffset + std::uint64_t(i) * kEntrySize;
            bool ok = true;
            if (Field(at, 2, &ok) != tag) {
                if (!ok) return Lookup::kUnusable;
                continue;
            }
            if (result == Lookup::kFound || !ReadEntry(at, entry)) return Lookup::kUnusable;
            result = Lookup::kFound;
        }
        return result;
    }

    // One double per rational; false on a zero denominator, which makes the
    // value unusable.
    bool ReadParts(const Entry& entry, std::vector<double>* parts) const {
        const bool isSigned = entry.type == kSignedRationalType;
        if (!isSigned && entry.type != kRationalType) return false;
        if (entry.count == 0 || entry.count > kMostCoordinateParts) return false;
        for (std::uint32_t i = 0; i < entry.count; ++i) {
            bool ok = true;
            const std::uint64_t at = entry.valueOffset + std::uint64_t(i) * 8;
            const std::uint32_t numerator = Field(at, 4, &ok);
            const std::uint32_t denominator = Field(at + 4, 4, &ok);
            if (!ok || denominator == 0) return false;
            parts->push_back(isSigned ? static_cast<double>(static_cast<std::int32_t>(numerator)) /
                                            static_cast<std::int32_t>(denominator)
                                      : static_cast<double>(numerator) / denominator);
        }
        return true;
    }

    // The text up to its first NUL: ASCII, or UNDEFINED bytes that some
    // writers give a reference ("S\0").
    bool ReadText(const Entry& entry, std::string* text) const {
        if (entry.type != kAsciiType && entry.type != kUndefinedType) return false;
        if (entry.count > kMostReferenceBytes) return false;
        char bytes[kMostReferenceBytes];
        if (!bytes_.Copy(entry.valueOffset, entry.count, reinterpret_cast<unsigned char*>(bytes))) {
            return false;
        }
        text->assign(bytes, std::find(bytes, bytes + entry.count, '\0'));
        return true;
    }

    // The offset the pointer at `index` of a directory pointer entry holds.
    bool ReadPointer(const Entry& entry, std::uint32_t* offset, std::uint32_t index = 0) const {
        if ((entry.type != kLongType && entry.type != kIfdType) || index >= entry.count) {
            return false;
        }
        bool ok = true;
        *offset = Field(entry.valueOffset + 4 * std::uint64_t(index), 4, &ok);
        return ok;
    }

    // The offset of the directory after the one at `directory`; 0 for none.
    std::uint32_t NextDirectory(const Directory& directory) const {
        bool ok = true;
        const std::uint32_t next =
            Field(directory.entriesOffset + directory.entryCount * kEntrySize, 4, &ok);
        return ok ? next : 0;
    }

    // The tag of the entry at `index`, with the entry (its type 0 where it
    // cannot be read).
    std::uint16_t EntryAt(const Directory& directory, std::uint32_t index, Entry* entry) const {
        const std::uint64_t at = directory.entriesOffset + std::uint64_t(index) * kEntrySize;
        bool ok = true;
        const auto tag = static_cast<std::uint16_t>(Field(at, 2, &ok));
        if (!ok || !ReadEntry(at, entry)) *entry = Entry();
        return ok ? tag : 0;
    }

    // The index of the first entry with `tag`; the entry count for none.
    std::uint32_t IndexOf(const Directory& directory, std::uint16_t tag) const {
        for (std::uint32_t i = 0; i < directory.entryCount; ++i) {
            bool ok = true;
            if (Field(directory.entriesOffset + std::uint64_t(i) * kEntrySize, 2, &ok) == tag &&
                ok) {
                return i;
            }
        }
        return directory.entryCount;
    }

    // Where the value of the entry with `tag` lies, if it has exactly one.
    bool FindValue(const Directory& directory, std::uint16_t tag, std::uint32_t* offset) const {
        Entry entry;
        if (FindEntry(directory, tag, &entry) != Lookup::kFound) return false;
        *offset = static_cast<std::uint32_t>(entry.valueOffset);
        return true;
    }

private:
    // Where the value of the entry at `at` lies; false for a type TIFF does
    // not define or a value outside the structure.
    bool ReadEntry(std::uint64_t at, Entry* entry) const {
        bool ok = true;
        entry->type = static_cast<std::uint16_t>(Field(at + 2, 2, &ok));
        entry->count = Field(at + 4, 4, &ok);
        const std::uint64_t bytes = TypeSize(entry->type) * entry->count;
        if (!ok || TypeSize(entry->type) == 0) return false;
        if (bytes <= 4) {
            entry->valueOffset = at + 8;
        } else {
            // A value at offset 0 would be the header: none at all.
            entry->valueOffset = Field(at + 8, 4, &ok);
            if (!ok || entry->valueOffset == 0) return false;
        }
        return bytes_.Has(entry->valueOffset, bytes);
    }

    ByteView bytes_;
    Endian endian_;
};

bool ReadCoordinate(const Tiff& tiff, const Directory& gps, std::uint16_t valueTag,
                    std::uint16_t referenceTag, GpsCoordinateData* coordinate) {
    Entry value, reference;
    if (tiff.FindEntry(gps, valueTag, &value) != Lookup::kFound) return false;
    if (!tiff.ReadParts(value, &coordinate->parts)) return false;
    switch (tiff.FindEntry(gps, referenceTag, &reference)) {
        case Lookup::kAbsent:
            break;
        case Lookup::kFound:
            if (!tiff.ReadText(reference, &coordinate->reference)) return false;
            break;
        case Lookup::kUnusable:
            return false;
    }
    coordinate->present = true;
    return true;
}

// Names the directories that the entries [from, to) of a page point at:
// its Exif directory, that one's Interop directory and MakerNote, its
// sub-directories.
void NameSubDirectories(const Tiff& tiff, const Directory& page, std::uint32_t from,
                        std::uint32_t to, std::vector<std::uint32_t>* named) {
    for (std::uint32_t i = from; i < to && i < page.entryCount; ++i) {
        Entry entry;
        std::uint32_t offset = 0;
        Directory exif;
        const std::uint16_t tag = tiff.EntryAt(page, i, &entry);
        if (tag == kExifPointerTag && tiff.ReadPointer(entry, &offset)) {
            named->push_back(offset);
            if (!tiff.ReadDirectory(offset, &exif)) continue;
            if (tiff.FindEntry(exif, kInteropPointerTag, &entry) == Lookup::kFound &&
                tiff.ReadPointer(entry, &offset)) {
                named->push_back(offset);
            }
            if (tiff.FindValue(exif, kMakerNoteTag, &offset)) named->push_back(offset);
        } else if (tag == kSubDirectoriesTag) {
            for (std::uint32_t sub = 0; sub < std::min(entry.count, kMostSubDirectories); ++sub) {
                if (tiff.ReadPointer(entry, &offset, sub)) named->push_back(offset);
            }
        }
    }
}

// The chain of pages from the first directory, each read once.
void ReadPages(const Tiff& tiff, std::uint32_t first, std::vector<Directory>* pages,
               std::vector<std::uint32_t>* named) {
    for (std::uint32_t offset = first; offset != 0 && pages->size() < kMostPages;) {
        Directory page;
        if (std::find(named->begin(), named->end(), offset) != named->end() ||
            !tiff.ReadDirectory(offset, &page)) {
            return;  // a loop, or a broken link: the pages before it stand
        }
        named->push_back(offset);
        pages->push_back(page);
        offset = tiff.NextDirectory(page);
    }
}

}  // namespace

bool ReadTiffHeader(const ByteView& tiff, TiffHeader* header) {
    if (tiff.Matches(0, "II")) {
        header->endian = Endian::kLittle;
    } else if (tiff.Matches(0, "MM")) {
        header->endian = Endian::kBig;
    } else {
        return false;
    }
    std::uint64_t magic = 0, first = 0;
    if (!tiff.Read(2, 2, header->endian, &magic) || !tiff.Read(4, 4, header->endian, &first)) {
        return false;
    }
    header->magic = static_cast<std::uint16_t>(magic);
    header->firstDirectory = static_cast<std::uint32_t>(first);
    const bool known = magic == kTiffMagic || magic == kOlympusMagics[0] ||
                       magic == kOlympusMagics[1] || magic == kPanasonicMagic ||
                       magic == kJpegXrMagic;
    return known && header->firstDirectory >= 8;
}

bool ReadGpsDirectory(const ByteView& bytes, Endian endian, std::uint32_t offset,
                      GpsMetadata* position) {
    const Tiff tiff(bytes, endian);
    Directory gps;
    GpsMetadata found;
    if (!tiff.ReadDirectory(offset, &gps) ||
        !ReadCoordinate(tiff, gps, kLatitudeTag, kLatitudeReferenceTag, &found.latitude) ||
        !ReadCoordinate(tiff, gps, kLongitudeTag, kLongitudeReferenceTag, &found.longitude)) {
        return false;
    }
    *position = std::move(found);
    return true;
}

bool ReadTiffGpsPosition(const ByteView& bytes, GpsMetadata* position) {
    TiffHeader header;
    if (!ReadTiffHeader(bytes, &header)) return false;
    const Tiff tiff(bytes, header.endian);
    std::vector<Directory> pages;
    std::vector<std::uint32_t> named;
    ReadPages(tiff, header.firstDirectory, &pages, &named);
    // IFD0's GPS pointer first, then later pages'. A pointer that names a
    // directory read before it as something else (a page, the Exif or
    // Interop directory, a MakerNote, a sub-directory that an entry before
    // it names) is ignored, as the standard readers ignore it: its entries
    // are not GPS tags.
    for (const Directory& page : pages) {
        Entry pointer;
        std::uint32_t gps = 0;
        const std::uint32_t at = tiff.IndexOf(page, kGpsPointerTag);
        NameSubDirectories(tiff, page, 0, at, &named);
        if (at < page.entryCount &&
            tiff.FindEntry(page, kGpsPointerTag, &pointer) == Lookup::kFound &&
            tiff.ReadPointer(pointer, &gps) &&
            std::find(named.begin(), named.end(), gps) == named.end() &&
            ReadGpsDirectory(bytes, header.endian, gps, position)) {
            return true;
        }
        NameSubDirectories(tiff, page, at, page.entryCount, &named);
    }
    return false;
}

}  // namespace host
