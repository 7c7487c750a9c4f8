// Where the host's shell item gets a picture's GPS position: our own
// readers in one confined reader process, and only where they find no
// position, exiv2 in a second one.
#pragma once

#include <string>

#include "platform/host/wire/gps_metadata.h"
#include "platform/host/windows.h"

namespace host {

// Reads the GPS position of the regular file at `path`. Returns S_OK
// (absent values are not present), or a failure status when the file
// cannot be read as a still picture, the readers failed, or `path` names
// no regular file (any more). Never throws, never blocks on the file;
// nothing is written anywhere.
HRESULT ReadGpsMetadata(const std::string& path, GpsMetadata* metadata);

}  // namespace host
