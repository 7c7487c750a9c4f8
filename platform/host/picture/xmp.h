// XMP's GPS coordinates: "DDD,MM,SSk" or "DDD,MM.mmk" as the text of
// exif:GPSLatitude and exif:GPSLongitude.
#pragma once

#include <string>

#include "platform/host/picture/byte_view.h"
#include "platform/host/wire/gps_metadata.h"

namespace host {

// Parses "51,28,38N" or "51,28.633N"; false when the text has another form.
bool ParseXmpCoordinate(const std::string& text, GpsCoordinateData* coordinate);

// The position in an XMP packet, its properties as attributes
// (exif:GPSLatitude="...") or as elements; true with both coordinates.
bool ReadXmpGps(const ByteView& packet, GpsMetadata* position);

}  // namespace host
