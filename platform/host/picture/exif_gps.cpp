// A bounded reader of the Exif GPS directory. Each container is walked only
// as far as its Exif block, the TIFF structure only through IFD0, its GPS
// directory and the four GPS values; every count, size and offset is checked
// against the bytes there are and against the bounds below before it is
// used. Where exiv2 could read the file differently (a tag twice, a type
// exiv2 would present otherwise) the answer is "not found", and exiv2 reads
// the picture as it always did.
#include "platform/host/picture/exif_gps.h"

#include "platform/host/picture/bmff_exif.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace host {

namespace {

// exiv2 reads no TIFF directory with more entries than this, so neither do
// we (a real IFD0 has 10 to 60, a GPS directory at most 32).
constexpr std::uint32_t kMostDirectoryEntries = 256;
// Rationals per coordinate: 3 in practice (degrees, minutes, seconds), 2 or
// 1 in some writers' output; more is kept as exiv2 keeps it, up to this.
constexpr std::uint32_t kMostCoordinateParts = 16;
// A reference is one letter and its NUL; room for writers that pad it.
constexpr std::uint32_t kMostReferenceBytes = 64;
// Segments of a JPEG up to its image data: exiv2 reads them all and
// refuses a file whose segments run past its end, so we walk them too
// (their headers only). A camera's or phone's JPEG has 8 to 16. At two
// pages a header at most, plus 13 pages for the TIFF part, 24 keeps a
// JPEG's read within 256 KiB.
constexpr int kMostJpegSegments = 24;
// Chunks before the EXIF chunk of a WebP: VP8X, ICCP, ANIM, ALPH and the
// image in practice; 16, as for JPEG segments, keeps the read within
// 256 KiB (an animation with more frames before its EXIF goes to exiv2).
constexpr int kMostWebpChunks = 16;
// Chunks before the eXIf chunk of a PNG: each is a 12-byte header that is
// read, whatever lies in it; a 1 GB PNG in 8 KiB IDAT chunks has 131072.
constexpr std::uint64_t kMostPngChunks = std::uint64_t(1) << 20;
// An Exif item of a HEIF or AVIF file: a few KiB in practice (no thumbnail).
constexpr std::size_t kLargestBmffExif = 128u << 10;

constexpr std::uint16_t kGpsDirectoryTag = 0x8825;
constexpr std::uint16_t kLatitudeReferenceTag = 1;
constexpr std::uint16_t kLatitudeTag = 2;
constexpr std::uint16_t kLongitudeReferenceTag = 3;
constexpr std::uint16_t kLongitudeTag = 4;

constexpr std::uint16_t kAsciiType = 2;
constexpr std::uint16_t kLongType = 4;
constexpr std::uint16_t kRationalType = 5;
constexpr std::uint16_t kSignedRationalType = 10;

// A view of [data, data + size) that answers only for bytes inside it.
class ByteView {
public:
    ByteView(const unsigned char* data, std::uint64_t size) : data_(data), size_(size) {}

    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // Only for ranges that Has() accepted.
    const unsigned char* At(std::uint64_t offset) const { return data_ + offset; }
    std::uint64_t Size() const { return size_; }
    bool Matches(std::uint64_t offset, const char* text, std::size_t length) const {
        return Has(offset, length) && std::memcmp(data_ + offset, text, length) == 0;
    }
    ByteView Part(std::uint64_t offset, std::uint64_t length) const {
        return ByteView(data_ + offset, length);
    }

private:
    const unsigned char* data_;
    std::uint64_t size_;
};

std::uint32_t BigEndian(const unsigned char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

std::uint32_t LittleEndian(const unsigned char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// --- TIFF ---------------------------------------------------------------

class Tiff {
public:
    Tiff(ByteView bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    bool Read(std::uint64_t offset, int count, std::uint32_t* value) const {
        if (!bytes_.Has(offset, count)) return false;
        const unsigned char* at = bytes_.At(offset);
        *value = bigEndian_ ? BigEndian(at, count) : LittleEndian(at, count);
        return true;
    }
    const ByteView& Bytes() const { return bytes_; }

private:
    ByteView bytes_;
    bool bigEndian_;
};

struct Entry {
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint64_t valueOffset = 0;  // of the value's bytes, in the entry or where it points
};

struct Directory {
    std::uint64_t entriesOffset = 0;
    std::uint32_t entryCount = 0;
};

bool ReadDirectory(const Tiff& tiff, std::uint32_t offset, Directory* directory) {
    std::uint32_t count = 0;
    if (!tiff.Read(offset, 2, &count) || count > kMostDirectoryEntries) return false;
    directory->entriesOffset = std::uint64_t(offset) + 2;
    directory->entryCount = count;
    return tiff.Bytes().Has(directory->entriesOffset, std::uint64_t(count) * 12);
}

// Bytes per value of the types this reader takes; 0 for any other.
std::uint64_t TypeSize(std::uint16_t type) {
    switch (type) {
        case kAsciiType:
            return 1;
        case kLongType:
            return 4;
        case kRationalType:
        case kSignedRationalType:
            return 8;
        default:
            return 0;
    }
}

// Where the value of the entry at `at` lies; false for a type this reader
// does not take or a value outside the TIFF data.
bool ReadEntry(const Tiff& tiff, std::uint64_t at, Entry* entry) {
    std::uint32_t type = 0;
    if (!tiff.Read(at + 2, 2, &type) || !tiff.Read(at + 4, 4, &entry->count)) return false;
    entry->type = static_cast<std::uint16_t>(type);
    const std::uint64_t bytes = TypeSize(entry->type) * entry->count;
    if (TypeSize(entry->type) == 0) return false;
    if (bytes <= 4) {
        entry->valueOffset = at + 8;
    } else {
        // exiv2 reads a value at offset 0 as none at all.
        std::uint32_t pointer = 0;
        if (!tiff.Read(at + 8, 4, &pointer) || pointer == 0) return false;
        entry->valueOffset = pointer;
    }
    return tiff.Bytes().Has(entry->valueOffset, bytes);
}

enum class Lookup { kAbsent, kFound, kUnusable };

// The one entry with `tag`. A tag given twice is unusable: which copy
// exiv2 presents is not ours to guess.
Lookup FindEntry(const Tiff& tiff, const Directory& directory, std::uint16_t tag, Entry* entry) {
    Lookup result = Lookup::kAbsent;
    for (std::uint32_t i = 0; i < directory.entryCount; ++i) {
        const std::uint64_t at = directory.entriesOffset + std::uint64_t(i) * 12;
        std::uint32_t entryTag = 0;
        if (!tiff.Read(at, 2, &entryTag)) return Lookup::kUnusable;
        if (entryTag != tag) continue;
        if (result == Lookup::kFound || !ReadEntry(tiff, at, entry)) return Lookup::kUnusable;
        result = Lookup::kFound;
    }
    return result;
}

// One double per rational, as exiv2 presents RATIONAL and SRATIONAL values;
// false on a zero denominator, which makes the value unusable.
bool ReadParts(const Tiff& tiff, const Entry& entry, std::vector<double>* parts) {
    const bool isSigned = entry.type == kSignedRationalType;
    if (!isSigned && entry.type != kRationalType) return false;
    if (entry.count == 0 || entry.count > kMostCoordinateParts) return false;
    for (std::uint32_t i = 0; i < entry.count; ++i) {
        std::uint32_t numerator = 0, denominator = 0;
        const std::uint64_t at = entry.valueOffset + std::uint64_t(i) * 8;
        if (!tiff.Read(at, 4, &numerator) || !tiff.Read(at + 4, 4, &denominator)) return false;
        if (denominator == 0) return false;
        parts->push_back(isSigned ? static_cast<double>(static_cast<std::int32_t>(numerator)) /
                                        static_cast<std::int32_t>(denominator)
                                  : static_cast<double>(numerator) / denominator);
    }
    return true;
}

// The ASCII text up to its first NUL, as exiv2 gives it.
bool ReadReference(const Tiff& tiff, const Entry& entry, std::string* reference) {
    if (entry.type != kAsciiType || entry.count > kMostReferenceBytes) return false;
    const char* text = reinterpret_cast<const char*>(tiff.Bytes().At(entry.valueOffset));
    *reference = std::string(text, strnlen(text, entry.count));
    return true;
}

bool ReadCoordinate(const Tiff& tiff, const Directory& gps, std::uint16_t valueTag,
                    std::uint16_t referenceTag, GpsCoordinateData* coordinate) {
    Entry value, reference;
    if (FindEntry(tiff, gps, valueTag, &value) != Lookup::kFound) return false;
    if (!ReadParts(tiff, value, &coordinate->parts)) return false;
    switch (FindEntry(tiff, gps, referenceTag, &reference)) {
        case Lookup::kAbsent:
            break;
        case Lookup::kFound:
            if (!ReadReference(tiff, reference, &coordinate->reference)) return false;
            break;
        case Lookup::kUnusable:
            return false;
    }
    coordinate->present = true;
    return true;
}

bool ReadTiffHeader(ByteView bytes, bool* bigEndian, std::uint32_t* firstDirectory) {
    if (bytes.Matches(0, "II", 2)) {
        *bigEndian = false;
    } else if (bytes.Matches(0, "MM", 2)) {
        *bigEndian = true;
    } else {
        return false;
    }
    const Tiff tiff(bytes, *bigEndian);
    std::uint32_t magic = 0;
    return tiff.Read(2, 2, &magic) && magic == 42 && tiff.Read(4, 4, firstDirectory) &&
           *firstDirectory >= 8;
}

// The GPS directory that IFD0 points to. A pointer back to IFD0 itself is
// a loop, which exiv2 refuses to follow.
bool FindGpsDirectory(const Tiff& tiff, std::uint32_t firstDirectory, Directory* gps) {
    Directory ifd0;
    Entry pointer;
    if (!ReadDirectory(tiff, firstDirectory, &ifd0)) return false;
    if (FindEntry(tiff, ifd0, kGpsDirectoryTag, &pointer) != Lookup::kFound) return false;
    if (pointer.type != kLongType || pointer.count != 1) return false;
    std::uint32_t offset = 0;
    if (!tiff.Read(pointer.valueOffset, 4, &offset) || offset == firstDirectory) return false;
    return ReadDirectory(tiff, offset, gps);
}

bool ReadTiff(ByteView bytes, GpsMetadata* metadata) {
    bool bigEndian = false;
    std::uint32_t firstDirectory = 0;
    if (!ReadTiffHeader(bytes, &bigEndian, &firstDirectory)) return false;
    const Tiff tiff(bytes, bigEndian);
    Directory gps;
    if (!FindGpsDirectory(tiff, firstDirectory, &gps)) return false;
    GpsMetadata found;
    if (!ReadCoordinate(tiff, gps, kLatitudeTag, kLatitudeReferenceTag, &found.latitude) ||
        !ReadCoordinate(tiff, gps, kLongitudeTag, kLongitudeReferenceTag, &found.longitude)) {
        return false;
    }
    *metadata = std::move(found);
    return true;
}

// --- Containers ---------------------------------------------------------

// The first APP1 segment with the Exif header, as exiv2 takes it; its TIFF
// data follows the six header bytes. It counts once the segments up to
// the image data are all there, as exiv2 requires.
bool ReadJpeg(ByteView file, GpsMetadata* metadata) {
    constexpr unsigned char kApp1 = 0xE1, kStartOfScan = 0xDA, kEndOfImage = 0xD9;
    std::uint64_t at = 2;  // past the start-of-image marker
    bool haveExif = false;
    ByteView exif(nullptr, 0);
    for (int segment = 0; segment < kMostJpegSegments; ++segment) {
        if (!file.Has(at, 2) || file.At(at)[0] != 0xFF) return false;
        const unsigned char marker = file.At(at)[1];
        if (marker == kStartOfScan || marker == kEndOfImage) {  // exiv2 reads no further
            return haveExif && ReadTiff(exif, metadata);
        }
        if (!file.Has(at, 4)) return false;
        // Fill bytes and markers without a length: exiv2 reads on there;
        // we leave those files to it.
        if (marker == 0xFF || (marker >= 0xD0 && marker <= 0xD8) || marker == 0x01) return false;
        const std::uint32_t length = BigEndian(file.At(at + 2), 2);
        if (length < 2 || !file.Has(at + 2, length)) return false;
        if (!haveExif && marker == kApp1 && length >= 8 && file.Matches(at + 4, "Exif\0\0", 6)) {
            haveExif = true;
            exif = file.Part(at + 10, length - 8);
        }
        at += 2 + std::uint64_t(length);
    }
    return false;
}

// The eXIf chunk: its data is the TIFF structure. A text chunk that exiv2
// would read Exif from ("Raw profile type exif", as ImageMagick writes it)
// coming first leaves the file to exiv2.
bool ReadPng(ByteView file, GpsMetadata* metadata) {
    std::uint64_t at = 8;  // past the signature
    for (std::uint64_t chunk = 0; chunk < kMostPngChunks; ++chunk) {
        if (!file.Has(at, 8)) return false;
        const std::uint32_t length = BigEndian(file.At(at), 4);
        const std::uint64_t data = at + 8;
        if (length > 0x7FFFFFFF || !file.Has(data, std::uint64_t(length) + 4)) return false;
        if (file.Matches(at + 4, "eXIf", 4)) return ReadTiff(file.Part(data, length), metadata);
        if (file.Matches(at + 4, "IEND", 4)) return false;
        const bool isText = file.Matches(at + 4, "tEXt", 4) || file.Matches(at + 4, "zTXt", 4) ||
                            file.Matches(at + 4, "iTXt", 4);
        constexpr char kRawProfile[] = "Raw profile type";
        const std::size_t prefix = sizeof kRawProfile - 1;
        if (isText && length >= prefix && file.Matches(data, kRawProfile, prefix)) return false;
        at = data + length + 4;
    }
    return false;
}

// The EXIF chunk of a RIFF WebP file, with or without an "Exif\0\0" header
// before its TIFF data.
bool ReadWebp(ByteView file, GpsMetadata* metadata) {
    const std::uint64_t riffEnd = 8 + std::uint64_t(LittleEndian(file.At(4), 4));
    if (!file.Has(0, riffEnd)) return false;
    const ByteView riff = file.Part(0, riffEnd);
    std::uint64_t at = 12;  // past "RIFF", the size and "WEBP"
    for (int chunk = 0; chunk < kMostWebpChunks; ++chunk) {
        if (!riff.Has(at, 8)) return false;
        const std::uint64_t length = LittleEndian(riff.At(at + 4), 4);
        const std::uint64_t data = at + 8;
        if (!riff.Has(data, length)) return false;
        if (riff.Matches(at, "EXIF", 4)) {
            const std::uint64_t header = riff.Matches(data, "Exif\0\0", 6) ? 6 : 0;
            return ReadTiff(riff.Part(data + header, length - header), metadata);
        }
        // exiv2 refuses the whole file when its ICC profile gives another
        // size than its chunk's.
        if (riff.Matches(at, "ICCP", 4) && (length < 4 || BigEndian(riff.At(data), 4) != length)) {
            return false;
        }
        at = data + length + (length & 1);
    }
    return false;
}

// HEIF and AVIF files under the brands exiv2 reads as such; their Exif item
// is found through the item tables (bmff_exif.h).
bool IsHeifOrAvif(ByteView file) {
    if (!file.Matches(4, "ftyp", 4) || !file.Has(8, 4)) return false;
    for (const char* brand : {"heic", "heix", "mif1", "avif"}) {
        if (file.Matches(8, brand, 4)) return true;
    }
    return false;
}

// A file with one Exif item only: where there are several (a stereo pair),
// which one holds the position is for the readers behind exiv2 to choose.
bool ReadHeif(ByteView file, GpsMetadata* metadata) {
    std::vector<std::vector<unsigned char>> tiffs;
    if (!ReadBmffExifBlocks(file.At(0), file.Size(), &tiffs) || tiffs.size() != 1 ||
        tiffs[0].size() > kLargestBmffExif) {
        return false;
    }
    return ReadTiff(ByteView(tiffs[0].data(), tiffs[0].size()), metadata);
}

}  // namespace

bool ReadTiffGpsPosition(const unsigned char* tiff, std::size_t size, GpsMetadata* metadata) {
    if (tiff == nullptr || metadata == nullptr) return false;
    return ReadTiff(ByteView(tiff, size), metadata);
}

bool ReadExifGpsPosition(const unsigned char* data, std::size_t size, GpsMetadata* metadata) {
    if (data == nullptr || metadata == nullptr || size < 16) return false;
    const ByteView file(data, size);
    if (file.Matches(0, "\xFF\xD8", 2)) return ReadJpeg(file, metadata);
    if (file.Matches(0, "II", 2) || file.Matches(0, "MM", 2)) return ReadTiff(file, metadata);
    if (file.Matches(0, "\x89PNG\r\n\x1A\n", 8)) return ReadPng(file, metadata);
    if (file.Matches(0, "RIFF", 4) && file.Matches(8, "WEBP", 4)) return ReadWebp(file, metadata);
    if (IsHeifOrAvif(file)) return ReadHeif(file, metadata);
    return false;
}

}  // namespace host
