// WebP: the chunks of its RIFF container, up to the EXIF chunk.
#include "platform/host/picture/readers.h"

namespace host {

namespace {

// Chunks before EXIF: VP8X, ICCP, ANIM, ALPH and the image, or an
// animation's frames; each costs one eight-byte read.
constexpr int kMostChunks = 4096;

}  // namespace

bool ReadWebpGps(const ByteView& file, GpsMetadata* position) {
    std::uint64_t riffSize = 0;
    if (!file.Read(4, 4, Endian::kLittle, &riffSize)) return false;
    const ByteView riff = file.Part(0, 8 + riffSize);  // cut at the file's end
    std::uint64_t at = 12;                             // past "RIFF", the size and "WEBP"
    for (int chunk = 0; chunk < kMostChunks; ++chunk) {
        std::uint64_t length = 0;
        if (!riff.Read(at + 4, 4, Endian::kLittle, &length)) return false;
        if (riff.Matches(at, "EXIF")) return ReadExifBlockGps(riff.Part(at + 8, length), position);
        at += 8 + length + (length & 1);  // chunks are padded to an even size
    }
    return false;
}

}  // namespace host
