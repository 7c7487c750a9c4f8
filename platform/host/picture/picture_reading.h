// What the two reader processes do with the picture open at a descriptor:
// the first reads it with our own readers; only where they find no
// position does a second read it whole with exiv2.
#pragma once

#include "platform/host/wire/gps_metadata.h"
#include "platform/host/windows.h"

namespace host {

// S_OK, with the position where our readers found one (else nothing
// present); a failure status when the file cannot be read.
HRESULT ReadWithOwnReaders(int picture, GpsMetadata* metadata);

// Before the second process is confined: loads the exiv2 plugin and sets
// exiv2 up. False when the plugin cannot be loaded.
bool PrepareExiv2Reader();

// The file read into memory (within the process's memory limit), then
// exiv2 over it. Needs PrepareExiv2Reader() first.
HRESULT ReadWithExiv2Reader(int picture, GpsMetadata* metadata);

}  // namespace host
