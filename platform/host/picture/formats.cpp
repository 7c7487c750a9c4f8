#include "platform/host/picture/formats.h"

#include <cstddef>
#include <iterator>
#include <string_view>

#include "platform/host/picture/readers.h"
#include "platform/host/picture/tiff.h"

namespace host {

namespace {

struct Format {
    // The first bytes of the file; '?' matches any byte.
    std::string_view signature;
    bool (*read)(const ByteView& file, GpsMetadata* position);
};

using namespace std::string_view_literals;

// More particular signatures before more general ones (CR3 is BMFF too).
const Format kFormats[] = {
    {"\xFF\xD8"sv, ReadJpegGps},
    {"II*\0"sv, ReadTiffGpsPosition},  // TIFF and the raws built on it
    {"MM\0*"sv, ReadTiffGpsPosition},
    {"IIRO"sv, ReadTiffGpsPosition},  // Olympus ORF
    {"IIRS"sv, ReadTiffGpsPosition},
    {"MMOR"sv, ReadTiffGpsPosition},
    {"IIU\0"sv, ReadTiffGpsPosition},       // Panasonic RW2
    {"II\xBC\x01"sv, ReadTiffGpsPosition},  // JPEG XR
    {"\x89PNG\r\n\x1A\n"sv, ReadPngGps},
    {"RIFF????WEBP"sv, ReadWebpGps},
    {"????ftypcrx "sv, ReadCr3Gps},
    {"????ftyp"sv, ReadHeifGps},  // HEIF, AVIF
    {"GIF87a"sv, ReadGifGps},
    {"GIF89a"sv, ReadGifGps},
    {"BPG\xFB"sv, ReadBpgGps},
};

bool Matches(const ByteView& file, std::string_view signature) {
    unsigned char start[16];
    if (signature.size() > sizeof start || !file.Copy(0, signature.size(), start)) return false;
    for (std::size_t i = 0; i < signature.size(); ++i) {
        if (signature[i] != '?' && static_cast<unsigned char>(signature[i]) != start[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadOwnGpsPosition(const ByteSource& source, GpsMetadata* position) {
    const ByteView file(source);
    for (const Format& format : kFormats) {
        if (Matches(file, format.signature)) return format.read(file, position);
    }
    return false;
}

}  // namespace host
