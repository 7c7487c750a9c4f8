// An XMP GPS coordinate as text: "DDD,MM,SSk" or "DDD,MM.mmk".
#pragma once

#include <string>

#include "platform/host/wire/gps_metadata.h"

namespace host {

// Parses "51,28,38N" or "51,28.633N"; false when the text has another form.
bool ParseXmpCoordinate(const std::string& text, GpsCoordinateData* coordinate);

}  // namespace host
