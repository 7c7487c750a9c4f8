// A picture's GPS position as the host reads it with exiv2.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/host/windows.h"

namespace host {

// One coordinate: the value as the property system presents it, one double
// per rational (degrees, minutes, seconds), and its hemisphere letter.
struct GpsCoordinateData {
    bool present = false;
    std::vector<double> parts;
    std::string reference;  // empty when the picture has none
};

struct GpsMetadata {
    GpsCoordinateData latitude;
    GpsCoordinateData longitude;
};

// Reads the GPS position of the regular file at `path`: EXIF first, XMP
// ("DDD,MM,SSk" or "DDD,MM.mmk") where EXIF has no usable value. A value with
// a zero denominator is unusable. The file is parsed by ParseGpsMetadata in
// a confined reader process (confined_reader.h). Returns S_OK (absent values
// are not present), or a failure status when the file cannot be read as a
// still picture, the reader failed, or `path` names no regular file (any
// more). Never throws, never blocks; nothing is written anywhere.
HRESULT ReadGpsMetadata(const std::string& path, GpsMetadata* metadata);

// What the reader process does: sets exiv2 up (before it is confined), then
// parses the picture's bytes. Only still-picture and camera-raw types are
// parsed; any other type fails unparsed. Called directly by the fuzz targets
// and the benchmark, which measure and check the parse itself.
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
