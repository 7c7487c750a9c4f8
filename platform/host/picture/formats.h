// Which of our readers reads a file: the first whose signature its first
// bytes match.
#pragma once

#include "platform/host/picture/byte_source.h"
#include "platform/host/wire/gps_metadata.h"

namespace host {

// True with both coordinates of the position in `position`; false when the
// file's signature is none of ours, or its reader finds no position that
// it can read with certainty (then exiv2 may read the file).
bool ReadOwnGpsPosition(const ByteSource& file, GpsMetadata* position);

}  // namespace host
