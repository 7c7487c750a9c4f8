// The host's shell item reads a picture's GPS position through this.
#pragma once

#include <string>

#include "platform/host/picture/gps_position.h"
#include "platform/host/windows.h"

namespace host {

// Reads the GPS position of the regular file at `path`, parsed by the
// picture reader (picture/gps_parser.h) in a confined reader process
// (sandbox/confined_reader.h). Returns S_OK (absent values are not
// present), or a failure status when the file cannot be read as a still
// picture, the reader failed, or `path` names no regular file (any more).
// Never throws, never blocks; nothing is written anywhere.
HRESULT ReadGpsMetadata(const std::string& path, GpsMetadata* metadata);

}  // namespace host
