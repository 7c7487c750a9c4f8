// The TIFF structure that carries Exif in every container: its header,
// its directories and the GPS directory's four values. Whatever could be
// read in more than one way (a tag given twice, a type that is no
// rational, a zero denominator) counts as not found, and is left to exiv2.
#pragma once

#include <cstdint>

#include "platform/host/picture/byte_view.h"
#include "platform/host/wire/gps_metadata.h"

namespace host {

// The magic numbers after the byte-order mark: TIFF's own, those of the
// raws that keep TIFF's layout under another number, and JPEG XR's.
inline constexpr std::uint16_t kTiffMagic = 42;
inline constexpr std::uint16_t kOlympusMagics[] = {0x4F52, 0x5352};
inline constexpr std::uint16_t kPanasonicMagic = 0x55;
inline constexpr std::uint16_t kJpegXrMagic = 0x01BC;

struct TiffHeader {
    Endian endian = Endian::kLittle;
    std::uint16_t magic = 0;
    std::uint32_t firstDirectory = 0;
};

// "II" or "MM", one of the magic numbers above, and a first directory
// past the header.
bool ReadTiffHeader(const ByteView& tiff, TiffHeader* header);

// The position in the GPS directory that the first directory points to.
// `tiff` holds the whole structure: offsets count from its start.
bool ReadTiffGpsPosition(const ByteView& tiff, GpsMetadata* position);

// The position in a GPS directory at `offset` (a CR3's CMT4 block starts
// with one).
bool ReadGpsDirectory(const ByteView& tiff, Endian endian, std::uint32_t offset,
                      GpsMetadata* position);

}  // namespace host
