// The GPS position in a picture's Exif GPS directory, read by a small
// bounded reader of our own ahead of exiv2. It reads the few bytes the
// position needs (container headers, two directories, four values), so a
// picture of any size costs a few pages; whatever it cannot read with
// certainty it leaves to exiv2.
#pragma once

#include <cstddef>

#include "platform/host/picture/gps_position.h"

namespace host {

// Finds the GPS position in the Exif GPS directory of the picture in `data`
// (JPEG, TIFF and the TIFF-based raws, PNG, WebP, HEIF/AVIF). True with both
// coordinates present in `metadata`, their parts and references as exiv2
// gives them; false, with `metadata` untouched, when the picture has no
// Exif GPS latitude and longitude, or anything on the way is malformed,
// ambiguous or past this reader's bounds: then exiv2 decides. Never reads
// outside [data, data + size); allocates nothing that grows with the file.
bool ReadExifGpsPosition(const unsigned char* data, std::size_t size, GpsMetadata* metadata);

// The position in a TIFF structure: an Exif block after its "Exif\0\0"
// header, or a whole TIFF file. Offsets in it are taken from `tiff`.
bool ReadTiffGpsPosition(const unsigned char* tiff, std::size_t size, GpsMetadata* metadata);

}  // namespace host
