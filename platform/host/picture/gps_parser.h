// How the host's picture reader finds the GPS position in a picture's bytes,
// with exiv2: EXIF first, XMP ("DDD,MM,SSk" or "DDD,MM.mmk") where EXIF has
// no usable value; a value with a zero denominator is unusable. This is the
// code that runs inside the confined reader (sandbox/), and the only code
// that links exiv2.
#pragma once

#include <cstddef>
#include <string>

#include "platform/host/picture/gps_position.h"
#include "platform/host/windows.h"

namespace host {

// What the reader process does: sets exiv2 up (before it is confined), then
// parses the picture's bytes. S_OK (absent values are not present), or a
// failure status: only still-picture and camera-raw types are parsed, any
// other type fails unparsed. Called directly by the fuzz targets, which
// check the parse itself.
void PrepareGpsParsing();
HRESULT ParseGpsMetadata(const unsigned char* data, std::size_t size, GpsMetadata* metadata);

// The same parse with exiv2 alone, without the bounded Exif GPS reader that
// ParseGpsMetadata tries first (picture/exif_gps.h): what the differential
// test and fuzzer compare that reader with.
HRESULT ParseGpsMetadataWithExiv2(const unsigned char* data, std::size_t size,
                                  GpsMetadata* metadata);

// Parses an XMP GPS coordinate ("51,28,38N", "51,28.633N"); false when the
// text has another form.
bool ParseXmpCoordinate(const std::string& text, GpsCoordinateData* coordinate);

}  // namespace host
