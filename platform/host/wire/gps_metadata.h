// A picture's GPS position as the host's reader finds it: the values as the
// property system presents them, before they become degrees.
#pragma once

#include <string>
#include <vector>

namespace host {

// One coordinate: one double per rational (degrees, minutes, seconds), and
// its hemisphere letter.
struct GpsCoordinateData {
    bool present = false;
    std::vector<double> parts;
    std::string reference;  // empty when the picture has none
};

struct GpsMetadata {
    GpsCoordinateData latitude;
    GpsCoordinateData longitude;
};

}  // namespace host
