// Our own readers, one per format, each over the whole file: true with
// both coordinates of the GPS position, false when the file holds none
// that can be read with certainty. The format table (formats.h) picks one
// by the file's signature.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/host/picture/byte_view.h"
#include "platform/host/wire/gps_metadata.h"

namespace host {

bool ReadJpegGps(const ByteView& file, GpsMetadata* position);
bool ReadPngGps(const ByteView& file, GpsMetadata* position);
bool ReadWebpGps(const ByteView& file, GpsMetadata* position);
bool ReadHeifGps(const ByteView& file, GpsMetadata* position);
bool ReadCr3Gps(const ByteView& file, GpsMetadata* position);
bool ReadGifGps(const ByteView& file, GpsMetadata* position);
bool ReadBpgGps(const ByteView& file, GpsMetadata* position);

// The TIFF structure of an Exif block, with or without the "Exif\0\0"
// header that an APP1 segment puts before it.
bool ReadExifBlockGps(const ByteView& block, GpsMetadata* position);

// Raw profiles a PNG reader decodes at most, broken ones included.
inline constexpr int kMostRawProfiles = 16;

// The bytes of a raw profile's text in ImageMagick's form: a newline, the
// profile's name, its byte count (a hint only), then hex digits and
// whitespace; false for anything else, half a byte, or more than 2 MiB.
bool DecodeRawProfileText(const unsigned char* text, std::size_t size,
                          std::vector<unsigned char>* bytes);

}  // namespace host
