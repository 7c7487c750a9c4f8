// JPEG: the segments before the image data, up to the Exif APP1 segment.
#include "platform/host/picture/readers.h"
#include "platform/host/picture/tiff.h"

namespace host {

namespace {

// Segments before the Exif segment: a camera's or phone's JPEG has a few;
// an ICC profile split into many, or padding, makes more. Each costs one
// four-byte read.
constexpr int kMostSegments = 1024;

constexpr std::uint64_t kStartOfScan = 0xDA, kEndOfImage = 0xD9, kApp1 = 0xE1;

// Markers without a length: restart markers, TEM, another start of image.
bool StandsAlone(std::uint64_t marker) {
    return (marker >= 0xD0 && marker <= 0xD8) || marker == 0x01;
}

}  // namespace

bool ReadExifBlockGps(const ByteView& block, GpsMetadata* position) {
    const std::uint64_t header = block.Matches(0, "Exif\0\0") ? 6 : 0;
    return ReadTiffGpsPosition(block.From(header), position);
}

// The Exif APP1 segments in their order: the first is the picture's Exif,
// as every reader takes it; a later one (a second Exif block that an editor
// added) is read where the first has no position.
bool ReadJpegGps(const ByteView& file, GpsMetadata* position) {
    std::uint64_t at = 2;  // past the start of image
    for (int segment = 0; segment < kMostSegments; ++segment) {
        std::uint64_t prefix = 0, marker = 0, length = 0;
        if (!file.Read(at, 1, Endian::kBig, &prefix) || prefix != 0xFF ||
            !file.Read(at + 1, 1, Endian::kBig, &marker)) {
            return false;
        }
        if (marker == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (marker == kStartOfScan || marker == kEndOfImage) return false;
        if (StandsAlone(marker)) {
            at += 2;
            continue;
        }
        if (!file.Read(at + 2, 2, Endian::kBig, &length) || length < 2) return false;
        if (marker == kApp1 && length >= 8 && file.Matches(at + 4, "Exif\0\0") &&
            ReadTiffGpsPosition(file.Part(at + 10, length - 8), position)) {
            return true;
        }
        at += 2 + length;
    }
    return false;
}

}  // namespace host
