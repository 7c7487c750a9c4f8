// Pictures whose GPS position only our own readers find, built byte by
// byte: TIFF GPS blocks, a CR3's boxes, PNG raw profiles, JPEG XR, HEIF
// files cut short or with several images.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/bmff_file.h"

namespace gps_pictures {

using bmff_file::Append;
using bmff_file::Bytes;
using bmff_file::MakeBox;

// d/1 m/1 s*100/100 and a hemisphere letter.
struct Dms {
    std::uint32_t degrees, minutes, hundredthsOfSeconds;
    char reference;
};

struct Position {
    Dms latitude, longitude;
};

inline void AppendLittle(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A field in the TIFF's byte order.
inline void Field(Bytes& out, bool little, std::uint64_t value, int bytes) {
    if (little) {
        AppendLittle(out, value, bytes);
    } else {
        Append(out, value, bytes);
    }
}

// A GPS directory placed at offset `at` of its TIFF, its rationals after
// it; `extraEntries` more (ASCII, inline) entries make it larger.
inline Bytes GpsDirectory(const Position& position, std::uint32_t at, bool little = true,
                          std::uint32_t extraEntries = 0) {
    const std::uint32_t count = 4 + extraEntries;
    const std::uint32_t valuesAt = at + 2 + 12 * count + 4;
    Bytes directory, values;
    Field(directory, little, count, 2);
    std::uint16_t tag = 1;
    for (const Dms* dms : {&position.latitude, &position.longitude}) {
        Field(directory, little, tag, 2);  // GPSLatitudeRef / GPSLongitudeRef
        Field(directory, little, 2, 2);
        Field(directory, little, 2, 4);
        directory.push_back(static_cast<unsigned char>(dms->reference));
        directory.insert(directory.end(), 3, 0);
        Field(directory, little, tag + 1, 2);  // GPSLatitude / GPSLongitude
        Field(directory, little, 5, 2);
        Field(directory, little, 3, 4);
        Field(directory, little, valuesAt + values.size(), 4);
        for (std::uint32_t part :
             {dms->degrees, 1u, dms->minutes, 1u, dms->hundredthsOfSeconds, 100u}) {
            Field(values, little, part, 4);
        }
        tag += 2;
    }
    for (std::uint32_t extra = 0; extra < extraEntries; ++extra) {
        Field(directory, little, 0x100 + extra, 2);  // tags no GPS reader knows
        Field(directory, little, 2, 2);
        Field(directory, little, 1, 4);
        Field(directory, little, 0, 4);
    }
    Field(directory, little, 0, 4);
    Append(directory, values);
    return directory;
}

inline Bytes TiffHeader(bool little, std::uint32_t firstDirectory) {
    Bytes header = little ? Bytes{'I', 'I', 42, 0} : Bytes{'M', 'M', 0, 42};
    Field(header, little, firstDirectory, 4);
    return header;
}

// The pointer directory: one entry, 0x8825, to the GPS directory at `gpsAt`.
inline Bytes GpsPointerDirectory(bool little, std::uint32_t gpsAt) {
    Bytes directory;
    Field(directory, little, 1, 2);
    Field(directory, little, 0x8825, 2);
    Field(directory, little, 4, 2);
    Field(directory, little, 1, 4);
    Field(directory, little, gpsAt, 4);
    Field(directory, little, 0, 4);
    return directory;
}

// Exif as a TIFF block: IFD0 points at the GPS directory.
inline Bytes GpsTiff(const Position& position, bool little = true) {
    Bytes tiff = TiffHeader(little, 8);
    Append(tiff, GpsPointerDirectory(little, 26));
    Append(tiff, GpsDirectory(position, 26, little));
    return tiff;
}

// A TIFF block whose first directory is the GPS directory, as CR3's CMT4.
inline Bytes GpsDirectoryTiff(const Position& position, bool little,
                              std::uint32_t extraEntries = 0) {
    Bytes tiff = TiffHeader(little, 8);
    Append(tiff, GpsDirectory(position, 8, little, extraEntries));
    return tiff;
}

// ---- CR3 ----

inline Bytes CanonUuidBox(const Bytes& children) {
    Bytes body = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                  0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
    Append(body, children);
    return MakeBox("uuid", body);
}

struct Cr3Layout {
    bool littleEndian = true;
    std::uint32_t extraGpsEntries = 0;  // entries past the four position ones
    std::uint32_t boxesBeforeUuid = 0;  // free boxes in moov before Canon's box
    std::size_t cmt4Padding = 0;        // bytes after the TIFF block in CMT4
    bool brokenTrakAfterUuid = false;   // a trak whose size runs past moov's end
};

// ftyp "crx ", moov [free..., uuid(Canon)[CNCV, CMT1, CMT2, CMT3, CMT4], trak], mdat.
inline Bytes MakeCr3(const Position& position, const Cr3Layout& layout = {}) {
    const bool little = layout.littleEndian;
    Bytes cmt4 = GpsDirectoryTiff(position, little, layout.extraGpsEntries);
    cmt4.insert(cmt4.end(), layout.cmt4Padding, 0);
    Bytes canon = MakeBox("CNCV", Bytes{'C', 'a', 'n', 'o', 'n', 'C', 'R', '3'});
    Append(canon, MakeBox("CMT1", TiffHeader(little, 0)));
    Append(canon, MakeBox("CMT2", TiffHeader(little, 0)));
    Append(canon, MakeBox("CMT3", TiffHeader(little, 0)));
    Append(canon, MakeBox("CMT4", cmt4));
    Bytes moov;
    for (std::uint32_t i = 0; i < layout.boxesBeforeUuid; ++i) Append(moov, MakeBox("free", {}));
    Append(moov, CanonUuidBox(canon));
    if (layout.brokenTrakAfterUuid) {
        Append(moov, 0x10000, 4);
        Append(moov, std::string("trak"));
    }
    Bytes file = MakeBox("ftyp", Bytes{'c', 'r', 'x', ' ', 0, 0, 0, 1, 'c', 'r', 'x', ' '});
    Append(file, MakeBox("moov", moov));
    Append(file, MakeBox("mdat", Bytes(16, 0xAB)));
    return file;
}

// ---- PNG ----

inline Bytes PngChunk(const std::string& type, const Bytes& data) {
    Bytes chunk;
    Append(chunk, data.size(), 4);
    Append(chunk, type);
    Append(chunk, data);
    Bytes typed(type.begin(), type.end());
    Append(typed, data);
    Append(chunk, crc32(0, typed.data(), static_cast<uInt>(typed.size())), 4);
    return chunk;
}

// A 1x1 grey PNG with `chunks` between IHDR and its image data.
inline Bytes MakePng(const std::vector<Bytes>& chunks) {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Append(file, PngChunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0}));
    for (const Bytes& chunk : chunks) Append(file, chunk);
    const Bytes row = {0, 0x80};
    Bytes deflated(compressBound(row.size()));
    uLongf length = deflated.size();
    compress(deflated.data(), &length, row.data(), row.size());
    deflated.resize(length);
    Append(file, PngChunk("IDAT", deflated));
    Append(file, PngChunk("IEND", {}));
    return file;
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

inline Bytes ExifPrefixed(const Bytes& tiff) {
    Bytes out = {'E', 'x', 'i', 'f', 0, 0};
    Append(out, tiff);
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

// ---- JPEG XR ----

struct JxrLayout {
    std::uint32_t extraEntries = 0;       // entries in the first directory besides the GPS pointer
    std::uint32_t gpsPointerPastEnd = 0;  // added to the pointer's value
};

// "II\xBC\x01", a first directory (image tags, the GPS pointer), the GPS directory.
inline Bytes MakeJxr(const Position& position, const JxrLayout& layout = {}) {
    const std::uint32_t count = 1 + layout.extraEntries;
    const std::uint32_t gpsAt = 8 + 2 + 12 * count + 4;
    Bytes file = {'I', 'I', 0xBC, 0x01};
    AppendLittle(file, 8, 4);
    AppendLittle(file, count, 2);
    for (std::uint32_t i = 0; i < layout.extraEntries; ++i) {
        AppendLittle(file, 0xBC00 + (i % 0x80), 2);  // JPEG XR's image tags
        AppendLittle(file, 4, 2);
        AppendLittle(file, 1, 4);
        AppendLittle(file, 0, 4);
    }
    AppendLittle(file, 0x8825, 2);
    AppendLittle(file, 4, 2);
    AppendLittle(file, 1, 4);
    AppendLittle(file, gpsAt + layout.gpsPointerPastEnd, 4);
    AppendLittle(file, 0, 4);
    Append(file, GpsDirectory(position, gpsAt));
    return file;
}

// ---- HEIF with several images, or cut short ----

struct HeifImage {
    std::uint16_t imageId;
    std::uint16_t exifId;
    Bytes tiff;  // empty: the image has no Exif item
};

// ftyp, meta [pitm, iinf, iref(cdsc), iloc], mdat holding the Exif items.
// With `mdatSizePastEnd`, mdat states a 64-bit size that much larger than
// the file; `cutInsideLastExif` bytes of the last Exif item are then gone.
inline Bytes MakeMultiImageHeif(std::uint16_t primary, const std::vector<HeifImage>& images,
                                std::uint64_t mdatSizePastEnd = 0,
                                std::size_t cutInsideLastExif = 0) {
    using bmff_file::ExifItem;
    using bmff_file::FullBoxBody;
    using bmff_file::Infe;
    Bytes infes, references, exifData;
    std::uint16_t entries = 0;
    std::vector<std::pair<std::uint16_t, Bytes>> exifItems;
    for (const HeifImage& image : images) {
        Append(infes, Infe(image.imageId, "hvc1"));
        ++entries;
        if (image.tiff.empty()) continue;
        Append(infes, Infe(image.exifId, "Exif"));
        ++entries;
        Bytes cdsc;
        Append(cdsc, image.exifId, 2);
        Append(cdsc, 1, 2);
        Append(cdsc, image.imageId, 2);
        Append(references, MakeBox("cdsc", cdsc));
        exifItems.emplace_back(image.exifId, ExifItem(image.tiff));
    }
    Bytes iinfRest;
    Append(iinfRest, entries, 2);
    Append(iinfRest, infes);
    Bytes pitm;
    Append(pitm, primary, 2);
    const auto makeIloc = [&](std::uint64_t dataStart) {
        Bytes rest = {0x44, 0x00};
        Append(rest, exifItems.size(), 2);
        std::uint64_t at = dataStart;
        for (const auto& item : exifItems) {
            Append(rest, item.first, 2);
            Append(rest, 0, 2);  // data reference index
            Append(rest, 1, 2);  // one extent
            Append(rest, at, 4);
            Append(rest, item.second.size(), 4);
            at += item.second.size();
        }
        return MakeBox("iloc", FullBoxBody(0, rest));
    };
    const auto makeMeta = [&](std::uint64_t dataStart) {
        Bytes body = FullBoxBody(0, {});
        Append(body, MakeBox("pitm", FullBoxBody(0, pitm)));
        Append(body, MakeBox("iinf", FullBoxBody(0, iinfRest)));
        Append(body, MakeBox("iref", FullBoxBody(0, references)));
        Append(body, makeIloc(dataStart));
        return MakeBox("meta", body);
    };
    const Bytes ftyp = MakeBox("ftyp", Bytes{'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1'});
    const std::size_t mdatHeader = mdatSizePastEnd > 0 ? 16 : 8;
    const Bytes meta = makeMeta(ftyp.size() + makeMeta(0).size() + mdatHeader);
    for (const auto& item : exifItems) Append(exifData, item.second);
    exifData.resize(exifData.size() - cutInsideLastExif);
    Bytes file = ftyp;
    Append(file, meta);
    if (mdatSizePastEnd > 0) {
        Append(file, 1, 4);
        Append(file, std::string("mdat"));
        Append(file, 16 + exifData.size() + cutInsideLastExif + mdatSizePastEnd, 8);
    } else {
        Append(file, 8 + exifData.size(), 4);
        Append(file, std::string("mdat"));
    }
    Append(file, exifData);
    return file;
}

}  // namespace gps_pictures
