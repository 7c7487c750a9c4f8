// A picture's GPS position as the host reads it with exiv2.
#pragma once

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
// a zero denominator is unusable. Returns S_OK (absent values are not
// present), or a failure status when the file cannot be read as a picture
// or `path` names no regular file (any more). Never throws, never blocks;
// nothing is written anywhere.
HRESULT ReadGpsMetadata(const std::string& path, GpsMetadata* metadata);

// Parses an XMP GPS coordinate ("51,28,38N", "51,28.633N"); false when the
// text has another form.
bool ParseXmpCoordinate(const std::string& text, GpsCoordinateData* coordinate);

}  // namespace host
