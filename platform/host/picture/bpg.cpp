// BPG: the extensions after its header, EXIF first, then XMP.
#include "platform/host/picture/readers.h"
#include "platform/host/picture/xmp.h"

namespace host {

namespace {

constexpr int kMostExtensions = 64;  // EXIF, ICC, XMP, a thumbnail, animation
constexpr std::uint64_t kExifTag = 1, kXmpTag = 3;

// BPG's ue7(32): big-endian groups of 7 bits, the high bit set on all but
// the last, at most five bytes.
std::uint64_t ReadUe7(Cursor& cursor) {
    std::uint64_t value = 0;
    for (int i = 0; i < 5; ++i) {
        const std::uint64_t byte = cursor.Read(1);
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) return value;
    }
    cursor.Skip(~std::uint64_t(0));  // too long: fails the cursor
    return 0;
}

}  // namespace

bool ReadBpgGps(const ByteView& file, GpsMetadata* position) {
    Cursor header(file.From(4));  // past "BPG\xFB"
    header.Read(1);               // pixel format, alpha, bit depth
    const bool hasExtensions = (header.Read(1) & 0x08) != 0;
    ReadUe7(header);  // width
    ReadUe7(header);  // height
    ReadUe7(header);  // picture data length
    const std::uint64_t extensionsLength = ReadUe7(header);
    if (!header.Ok() || !hasExtensions) return false;
    Cursor extensions(header.Rest().Part(0, extensionsLength));
    ByteView xmp = file.Part(0, 0);
    for (int i = 0; i < kMostExtensions && extensions.Left() > 0; ++i) {
        const std::uint64_t tag = ReadUe7(extensions);
        const std::uint64_t length = ReadUe7(extensions);
        const ByteView data = extensions.Rest().Part(0, length);
        extensions.Skip(length);
        if (!extensions.Ok()) break;  // a cut extension: those before it stand
        if (tag == kExifTag && ReadExifBlockGps(data, position)) return true;
        if (tag == kXmpTag) xmp = data;
    }
    return ReadXmpGps(xmp, position);
}

}  // namespace host
