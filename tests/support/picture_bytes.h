// Pictures laid out byte by byte: TIFF directories and the GPS directory,
// JPEG segments, PNG chunks, RIFF chunks and BMFF boxes, and the CR3, JPEG
// XR and HEIF files built of them. Every C++ test that writes a picture's
// bytes itself builds them here; tests/support/picture_bytes.py is the
// same for the Python tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace picture_bytes {

using Bytes = std::vector<unsigned char>;

// `value` in `width` bytes at `at`, growing `out` to hold them.
inline void Put(Bytes& out, std::uint64_t at, std::uint64_t value, int width, bool bigEndian) {
    if (out.size() < at + width) out.resize(at + width);
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (bigEndian ? width - 1 - i : i);
        out[at + i] = static_cast<unsigned char>(value >> shift);
    }
}

// Big-endian, as in JPEG, PNG and BMFF.
inline void Append(Bytes& out, std::uint64_t value, int width) {
    Put(out, out.size(), value, width, true);
}
inline void Append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}
inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

inline Bytes WithPrefix(const std::string& prefix, const Bytes& bytes) {
    Bytes out(prefix.begin(), prefix.end());
    Append(out, bytes);
    return out;
}

inline const std::string kExifHeader("Exif\0\0", 6);

// As an APP1 segment, a WebP EXIF chunk or a HEIF item may hold the TIFF.
inline Bytes ExifPrefixed(const Bytes& tiff) { return WithPrefix(kExifHeader, tiff); }

// ---- TIFF ------------------------------------------------------------------

constexpr std::uint16_t kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5,
                        kSignedRational = 10;
constexpr std::uint16_t kGpsPointer = 0x8825;

struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::vector<std::pair<std::uint32_t, int>> units;  // value, width in bytes
    int pointsTo = -1;                                 // a directory's index
    std::int64_t offset = -1;                          // a value offset as given
};

struct Directory {
    std::vector<Field> fields;
    int next = -1;  // a directory's index
};

struct TiffLayout {
    bool bigEndian = false;
    std::uint16_t magic = 42;
    std::uint32_t firstOffset = 8;     // where the directories start
    std::int64_t firstDirectory = -1;  // IFD0's offset as given, else the first
};

inline std::uint32_t UnitBytes(const Field& field) {
    std::uint32_t bytes = 0;
    for (const auto& unit : field.units) bytes += unit.second;
    return bytes;
}

// The directories one after the other, then the values that do not fit in
// their entries. What lies at `firstOffset` and on is moved to just after
// the header (offsets in it stay as in the file): a file of any size in a
// few bytes, for a test to write sparse.
inline Bytes MakeShiftedTiff(const std::vector<Directory>& directories,
                             const TiffLayout& layout = {}) {
    const bool big = layout.bigEndian;
    const std::uint64_t shift = layout.firstOffset - 8;
    std::vector<std::uint32_t> at;
    std::uint32_t next = layout.firstOffset;
    for (const Directory& directory : directories) {
        at.push_back(next);
        next += 2 + 12 * directory.fields.size() + 4;
    }
    Bytes tiff = {static_cast<unsigned char>(big ? 'M' : 'I'),
                  static_cast<unsigned char>(big ? 'M' : 'I')};
    Put(tiff, 2, layout.magic, 2, big);
    Put(tiff, 4, layout.firstDirectory >= 0 ? layout.firstDirectory : at.at(0), 4, big);
    std::uint32_t data = next;
    for (std::size_t d = 0; d < directories.size(); ++d) {
        const Directory& directory = directories[d];
        Put(tiff, at[d] - shift, directory.fields.size(), 2, big);
        std::uint64_t entry = at[d] + 2;
        for (const Field& field : directory.fields) {
            Put(tiff, entry - shift, field.tag, 2, big);
            Put(tiff, entry + 2 - shift, field.type, 2, big);
            Put(tiff, entry + 4 - shift, field.count, 4, big);
            Put(tiff, entry + 8 - shift, 0, 4, big);
            std::uint64_t value = entry + 8;
            if (field.pointsTo >= 0) {
                Put(tiff, value - shift, at.at(field.pointsTo), 4, big);
            } else if (field.offset >= 0) {
                Put(tiff, value - shift, field.offset, 4, big);
            } else if (UnitBytes(field) > 4) {
                Put(tiff, value - shift, data, 4, big);
                value = data;
                data += (UnitBytes(field) + 1) & ~1u;
            }
            for (const auto& unit : field.units) {
                Put(tiff, value - shift, unit.first, unit.second, big);
                value += unit.second;
            }
            entry += 12;
        }
        Put(tiff, entry - shift, directory.next >= 0 ? at.at(directory.next) : 0, 4, big);
    }
    tiff.resize(std::max<std::size_t>(tiff.size(), data - shift));
    return tiff;
}

// The TIFF data; bytes between the header and `firstOffset` are zero.
inline Bytes MakeTiff(const std::vector<Directory>& directories, const TiffLayout& layout = {}) {
    Bytes tiff = MakeShiftedTiff(directories, layout);
    tiff.insert(tiff.begin() + 8, layout.firstOffset - 8, 0);
    return tiff;
}

using RationalList = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

inline Field Rationals(std::uint16_t tag, const RationalList& values,
                       std::uint16_t type = kRational) {
    Field field{tag, type, static_cast<std::uint32_t>(values.size()), {}};
    for (const auto& value : values) {
        field.units.push_back({value.first, 4});
        field.units.push_back({value.second, 4});
    }
    return field;
}

inline Field Text(std::uint16_t tag, const std::string& text, std::uint16_t type = kAscii) {
    Field field{tag, type, static_cast<std::uint32_t>(text.size()), {}};
    for (char c : text) field.units.push_back({static_cast<unsigned char>(c), 1});
    return field;
}

inline Field Short(std::uint16_t tag, std::uint32_t value) {
    return {tag, kShort, 1, {{value, 2}}};
}
inline Field GpsPointer(int directory) { return {kGpsPointer, kLong, 1, {}, directory}; }
inline Field GpsPointerAt(std::uint32_t offset) { return {kGpsPointer, kLong, 1, {}, -1, offset}; }

// d/1 m/1 s*100/100 and a hemisphere letter.
struct Dms {
    std::uint32_t degrees, minutes, hundredthsOfSeconds;
    char reference;
};

struct Position {
    Dms latitude, longitude;
};

inline const Position kEiffelTower = {{48, 51, 2959, 'N'}, {2, 17, 4000, 'E'}};
inline const Position kSydney = {{33, 51, 2442, 'S'}, {151, 12, 4719, 'E'}};

// References (with their NUL), then the rationals, in tag order 1 to 4.
inline Directory GpsDirectory(const Position& position = kEiffelTower) {
    Directory gps;
    std::uint16_t tag = 1;
    for (const Dms* dms : {&position.latitude, &position.longitude}) {
        gps.fields.push_back(Text(tag, std::string{dms->reference, '\0'}));
        gps.fields.push_back(Rationals(
            tag + 1, {{dms->degrees, 1}, {dms->minutes, 1}, {dms->hundredthsOfSeconds, 100}}));
        tag += 2;
    }
    return gps;
}

// IFD0 of a 64x48 picture, with `more` (its GPS pointer to directory 1).
inline Directory Ifd0(std::vector<Field> more = {GpsPointer(1)}) {
    Directory ifd0{{Short(0x100, 64), Short(0x101, 48)}};
    for (Field& field : more) ifd0.fields.push_back(std::move(field));
    return ifd0;
}

// IFD0 with its GPS pointer, then the GPS directory `gps`, its values last.
inline Bytes GpsTiff(Directory gps = GpsDirectory(), const TiffLayout& layout = {}) {
    return MakeTiff({Ifd0(), std::move(gps)}, layout);
}
inline Bytes GpsTiff(const Position& position, const TiffLayout& layout = {}) {
    return GpsTiff(GpsDirectory(position), layout);
}

// ---- JPEG ------------------------------------------------------------------

inline Bytes Segment(unsigned char marker, const Bytes& payload) {
    Bytes segment = {0xFF, marker};
    Append(segment, payload.size() + 2, 2);
    Append(segment, payload);
    return segment;
}

inline Bytes ExifSegment(const Bytes& tiff) { return Segment(0xE1, ExifPrefixed(tiff)); }

inline Bytes Jfif() {
    return Segment(0xE0, Bytes{'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
}

// SOI, `segments`, a start of scan with two bytes of image data, EOI.
inline Bytes Jpeg(const std::vector<Bytes>& segments) {
    Bytes jpeg = {0xFF, 0xD8};
    for (const Bytes& segment : segments) Append(jpeg, segment);
    Append(jpeg, Segment(0xDA, Bytes{1, 1, 0, 0, 0x3F, 0}));
    Append(jpeg, Bytes{0x12, 0x34, 0xFF, 0xD9});
    return jpeg;
}

// ---- PNG -------------------------------------------------------------------

inline Bytes PngChunk(const std::string& type, const Bytes& data) {
    Bytes chunk;
    Append(chunk, data.size(), 4);
    Append(chunk, type);
    Append(chunk, data);
    Append(chunk, crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4)), 4);
    return chunk;
}

// A 1x1 grey PNG with `chunks` between IHDR and its image data, `after`
// between the image data and IEND.
inline Bytes Png(const std::vector<Bytes>& chunks, const std::vector<Bytes>& after = {}) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Append(png, PngChunk("IHDR", Bytes{0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0}));
    for (const Bytes& chunk : chunks) Append(png, chunk);
    Append(png, PngChunk("IDAT", Bytes{0x78, 0x9C, 0x63, 0x60, 0, 0, 0, 2, 0, 1}));  // row {0, 0}
    for (const Bytes& chunk : after) Append(png, chunk);
    Append(png, PngChunk("IEND", {}));
    return png;
}

// ImageMagick's text: "\n" name "\n" count (8 wide) "\n" then 72 hex digits a line.
inline std::string RawProfileText(const Bytes& bytes, const std::string& name = "exif") {
    char count[16];
    std::snprintf(count, sizeof(count), "%8zu", bytes.size());
    std::string text = "\n" + name + "\n" + count;
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 36 == 0) text += '\n';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text + "\n";
}

inline Bytes Deflate(const std::string& text) {
    Bytes out(compressBound(text.size()));
    uLongf length = out.size();
    compress2(out.data(), &length, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
    out.resize(length);
    return out;
}

enum class TextChunk { kText, kCompressedText, kInternationalText, kCompressedInternationalText };

inline Bytes RawProfileChunk(TextChunk kind, const std::string& text,
                             const std::string& keyword = "Raw profile type exif") {
    Bytes data(keyword.begin(), keyword.end());
    data.push_back(0);
    switch (kind) {
        case TextChunk::kText:
            Append(data, text);
            return PngChunk("tEXt", data);
        case TextChunk::kCompressedText:
            data.push_back(0);  // zlib
            Append(data, Deflate(text));
            return PngChunk("zTXt", data);
        case TextChunk::kInternationalText:
        case TextChunk::kCompressedInternationalText: {
            const bool compressed = kind == TextChunk::kCompressedInternationalText;
            Append(data, Bytes{compressed ? std::uint8_t(1) : std::uint8_t(0), 0});
            Append(data, std::string("en\0\0", 4));  // language, translated keyword
            Append(data, compressed ? Deflate(text) : Bytes(text.begin(), text.end()));
            return PngChunk("iTXt", data);
        }
    }
    return {};
}

// ---- RIFF (WebP) -----------------------------------------------------------

inline Bytes RiffChunk(const std::string& type, const Bytes& data) {
    Bytes chunk(type.begin(), type.end());
    Put(chunk, 4, data.size(), 4, false);
    Append(chunk, data);
    if (data.size() % 2 == 1) chunk.push_back(0);
    return chunk;
}

inline Bytes Webp(const std::vector<Bytes>& chunks) {
    Bytes body = {'W', 'E', 'B', 'P'};
    for (const Bytes& chunk : chunks) Append(body, chunk);
    Bytes webp = {'R', 'I', 'F', 'F'};
    Put(webp, 4, body.size(), 4, false);
    Append(webp, body);
    return webp;
}

inline Bytes Vp8x() { return RiffChunk("VP8X", Bytes{0x08, 0, 0, 0, 63, 0, 0, 47, 0, 0}); }
// A 1x1 lossless image.
inline Bytes Vp8l() {
    return RiffChunk("VP8L",
                     Bytes{0x2F, 0, 0, 0, 0, 0x07, 0x10, 0x11, 0x11, 0x88, 0x88, 0xFE, 0x07, 0});
}

// ---- BMFF ------------------------------------------------------------------

inline Bytes Box(const std::string& type, const Bytes& body) {
    Bytes box;
    Append(box, body.size() + 8, 4);
    Append(box, type);
    Append(box, body);
    return box;
}

inline Bytes FullBox(const std::string& type, int version, const Bytes& rest) {
    Bytes body;
    Append(body, version, 1);
    Append(body, 0, 3);  // flags
    Append(body, rest);
    return Box(type, body);
}

inline Bytes Infe(std::uint16_t id, const std::string& type) {
    Bytes rest;
    Append(rest, id, 2);
    Append(rest, 0, 2);  // protection index
    Append(rest, type);
    Append(rest, 0, 1);  // empty item name
    return FullBox("infe", 2, rest);
}

inline Bytes Iinf(const std::vector<Bytes>& entries) {
    Bytes rest;
    Append(rest, entries.size(), 2);
    for (const Bytes& entry : entries) Append(rest, entry);
    return FullBox("iinf", 0, rest);
}

// An iref entry: item `itemId` describes item `describedId`.
inline Bytes Cdsc(std::uint16_t itemId, std::uint16_t describedId) {
    Bytes body;
    Append(body, itemId, 2);
    Append(body, 1, 2);
    Append(body, describedId, 2);
    return Box("cdsc", body);
}

struct HeifLayout {
    int ilocVersion = 0;
    int baseOffsetSize = 0;      // 0: no base offset; else the extent's offset goes there
    int constructionMethod = 0;  // 0: in the mdat box, 1: in idat
};

struct IlocItem {
    std::uint32_t id;
    std::uint64_t offset, length;
};

// An iloc of 4-byte offsets and lengths, one extent an item; each offset
// is counted from `dataStart`.
inline Bytes Iloc(const std::vector<IlocItem>& items, std::uint64_t dataStart,
                  const HeifLayout& layout = {}) {
    Bytes rest = {0x44, static_cast<unsigned char>(layout.baseOffsetSize << 4)};
    const int idSize = layout.ilocVersion < 2 ? 2 : 4;
    Append(rest, items.size(), idSize);
    for (const IlocItem& item : items) {
        Append(rest, item.id, idSize);
        if (layout.ilocVersion > 0) Append(rest, layout.constructionMethod, 2);
        Append(rest, 0, 2);  // data reference index
        const std::uint64_t where = dataStart + item.offset;
        const std::uint64_t base = layout.baseOffsetSize > 0 ? where : 0;
        Append(rest, base, layout.baseOffsetSize);
        Append(rest, 1, 2);  // one extent
        Append(rest, where - base, 4);
        Append(rest, item.length, 4);
    }
    return FullBox("iloc", layout.ilocVersion, rest);
}

// The offset of the TIFF header past "Exif\0\0", then both.
inline Bytes ExifItem(const Bytes& tiff) {
    Bytes item;
    Append(item, kExifHeader.size(), 4);
    Append(item, ExifPrefixed(tiff));
    return item;
}

// ftyp, meta [children(start)], then mdat holding `payload` from file
// offset `start`. With `mdatSizePastEnd`, mdat states a 64-bit size that
// much beyond the file's end; the last `cut` bytes of `payload` are missing.
inline Bytes Heif(const std::function<Bytes(std::uint64_t start)>& children, const Bytes& payload,
                  std::uint64_t mdatSizePastEnd = 0, std::size_t cut = 0) {
    const Bytes ftyp = Box("ftyp", Bytes{'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1'});
    const auto meta = [&](std::uint64_t start) { return FullBox("meta", 0, children(start)); };
    const std::uint64_t header = mdatSizePastEnd > 0 ? 16 : 8;
    Bytes file = ftyp;
    Append(file, meta(ftyp.size() + meta(0).size() + header));  // of one size wherever
    Append(file, mdatSizePastEnd > 0 ? 1 : header + payload.size(), 4);
    Append(file, "mdat");
    if (mdatSizePastEnd > 0) Append(file, header + payload.size() + mdatSizePastEnd, 8);
    file.insert(file.end(), payload.begin(), payload.end() - cut);
    return file;
}

// An image (1) and its Exif item (7), located by `layout`: after five
// bytes of padding in mdat, or in idat.
inline Bytes MakeHeif(const HeifLayout& layout, const Bytes& tiff) {
    const Bytes exif = ExifItem(tiff);
    const bool inIdat = layout.constructionMethod == 1;
    Bytes payload(5, 0xFF);
    Append(payload, exif);
    return Heif(
        [&](std::uint64_t start) {
            Bytes children = Iinf({Infe(1, "hvc1"), Infe(7, "Exif")});
            Append(children,
                   Iloc({{7, inIdat ? 0u : 5u, exif.size()}}, inIdat ? 0 : start, layout));
            Append(children, Box("idat", inIdat ? exif : Bytes{}));
            return children;
        },
        payload);
}

struct HeifImage {
    std::uint16_t imageId;
    std::uint16_t exifId;
    Bytes tiff;  // empty: the image has no Exif item
};

// meta [pitm, iinf, iref(cdsc), iloc], mdat holding the Exif items; with
// `mdatSizePastEnd` as in Heif, `cutInsideLastExif` bytes of the last
// Exif item are gone.
inline Bytes MakeMultiImageHeif(std::uint16_t primary, const std::vector<HeifImage>& images,
                                std::uint64_t mdatSizePastEnd = 0,
                                std::size_t cutInsideLastExif = 0) {
    std::vector<Bytes> infes;
    std::vector<IlocItem> items;
    Bytes references, payload;
    for (const HeifImage& image : images) {
        infes.push_back(Infe(image.imageId, "hvc1"));
        if (image.tiff.empty()) continue;
        infes.push_back(Infe(image.exifId, "Exif"));
        Append(references, Cdsc(image.exifId, image.imageId));
        const Bytes exif = ExifItem(image.tiff);
        items.push_back({image.exifId, payload.size(), exif.size()});
        Append(payload, exif);
    }
    Bytes pitm;
    Append(pitm, primary, 2);
    return Heif(
        [&](std::uint64_t start) {
            Bytes children = FullBox("pitm", 0, pitm);
            Append(children, Iinf(infes));
            Append(children, FullBox("iref", 0, references));
            Append(children, Iloc(items, start));
            return children;
        },
        payload, mdatSizePastEnd, cutInsideLastExif);
}

// ---- CR3 -------------------------------------------------------------------

struct Cr3Layout {
    bool bigEndian = false;
    std::uint32_t extraGpsEntries = 0;  // ASCII entries past the four position ones
    std::uint32_t boxesBeforeUuid = 0;  // free boxes in moov before Canon's box
    std::size_t cmt4Padding = 0;        // bytes after the TIFF block in CMT4
    bool brokenTrakAfterUuid = false;   // a trak whose size runs past moov's end
};

// ftyp "crx ", moov [free..., uuid(Canon)[CNCV, CMT1, CMT2, CMT3, CMT4], trak], mdat;
// CMT4 is a TIFF whose first directory is the GPS directory.
inline Bytes MakeCr3(const Position& position, const Cr3Layout& layout = {}) {
    Directory gps = GpsDirectory(position);
    for (std::uint32_t extra = 0; extra < layout.extraGpsEntries; ++extra) {
        gps.fields.push_back(
            Text(0x100 + extra, std::string(1, '\0')));  // tags no GPS reader knows
    }
    Bytes cmt4 = MakeTiff({gps}, {layout.bigEndian});
    cmt4.insert(cmt4.end(), layout.cmt4Padding, 0);
    const Bytes emptyTiff = MakeTiff({}, {layout.bigEndian, 42, 8, 0});
    Bytes canon = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                   0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};  // Canon's uuid
    Append(canon, Box("CNCV", Bytes{'C', 'a', 'n', 'o', 'n', 'C', 'R', '3'}));
    for (const char* type : {"CMT1", "CMT2", "CMT3"}) Append(canon, Box(type, emptyTiff));
    Append(canon, Box("CMT4", cmt4));
    Bytes moov;
    for (std::uint32_t i = 0; i < layout.boxesBeforeUuid; ++i) Append(moov, Box("free", {}));
    Append(moov, Box("uuid", canon));
    if (layout.brokenTrakAfterUuid) {
        Append(moov, 0x10000, 4);
        Append(moov, "trak");
    }
    Bytes file = Box("ftyp", Bytes{'c', 'r', 'x', ' ', 0, 0, 0, 1, 'c', 'r', 'x', ' '});
    Append(file, Box("moov", moov));
    Append(file, Box("mdat", Bytes(16, 0xAB)));
    return file;
}

// ---- JPEG XR ---------------------------------------------------------------

struct JxrLayout {
    std::uint32_t extraEntries = 0;       // entries in the first directory besides the GPS pointer
    std::uint32_t gpsPointerPastEnd = 0;  // added to the pointer's value
};

// "II\xBC\x01", a first directory (image tags, the GPS pointer), the GPS directory.
inline Bytes MakeJxr(const Position& position, const JxrLayout& layout = {}) {
    Directory first;
    for (std::uint32_t i = 0; i < layout.extraEntries; ++i) {
        first.fields.push_back({static_cast<std::uint16_t>(0xBC00 + i % 0x80), kLong, 1, {{0, 4}}});
    }
    const std::uint32_t gpsAt = 8 + 2 + 12 * (layout.extraEntries + 1) + 4;
    first.fields.push_back(GpsPointerAt(gpsAt + layout.gpsPointerPastEnd));
    return MakeTiff({first, GpsDirectory(position)}, {false, 0x01BC});
}

// ---- XMP, GIF, BPG -----------------------------------------------------------

// An XMP packet with the coordinates as attributes, or as elements.
inline std::string XmpPacket(const std::string& latitude, const std::string& longitude,
                             bool asElements = false) {
    const std::string head =
        "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:exif='http://ns.adobe.com/exif/1.0/'";
    const std::string tail = "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
    if (!asElements) {
        return head + " exif:GPSLatitude='" + latitude + "' exif:GPSLongitude='" + longitude +
               "'/>" + tail;
    }
    return head + "><exif:GPSLatitude>" + latitude + "</exif:GPSLatitude><exif:GPSLongitude>" +
           longitude + "</exif:GPSLongitude></rdf:Description>" + tail;
}

// A 1x1 GIF89a with `xmp` in its XMP application extension, stored raw
// with the trailer that leads a walk over sub-blocks past it.
inline Bytes Gif(const std::string& xmp) {
    Bytes gif;
    Append(gif, "GIF89a");
    Append(gif, Bytes{1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF});  // 2 colours
    Append(gif, Bytes{0x21, 0xFF, 0x0B});
    Append(gif, "XMP DataXMP" + xmp);
    gif.push_back(0x01);
    for (int size = 0xFF; size > 0; --size) gif.push_back(static_cast<unsigned char>(size));
    Append(gif, Bytes{0, 0});
    Append(gif, Bytes{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0, 0x3B});
    return gif;
}

// BPG's ue7(32): 7 bits a byte, most significant first.
inline void AppendUe7(Bytes& out, std::uint32_t value) {
    for (int shift = 28; shift > 0; shift -= 7) {
        if (value >> shift)
            out.push_back(static_cast<unsigned char>(0x80 | ((value >> shift) & 0x7F)));
    }
    out.push_back(static_cast<unsigned char>(value & 0x7F));
}

// A BPG header with extensions (tag, data): 1 EXIF, 3 XMP.
inline Bytes Bpg(const std::vector<std::pair<std::uint32_t, Bytes>>& extensions) {
    Bytes data;
    for (const auto& extension : extensions) {
        AppendUe7(data, extension.first);
        AppendUe7(data, static_cast<std::uint32_t>(extension.second.size()));
        Append(data, extension.second);
    }
    Bytes bpg = {'B', 'P', 'G', 0xFB, 0x00, 0x08};  // 4:2:0, 8 bits; extensions present
    for (std::uint32_t field : {1u, 1u, 0u, static_cast<std::uint32_t>(data.size())}) {
        AppendUe7(bpg, field);  // width, height, picture data, extensions
    }
    Append(bpg, data);
    return bpg;
}

// ---- Files -----------------------------------------------------------------

// A path for a test's file, its own to this process: ctest runs the cases
// of a suite side by side, each in a process of its own.
inline std::string TempPath(const std::string& name) {
    return testing::TempDir() + std::to_string(getpid()) + "_" + name;
}

}  // namespace picture_bytes
