// The last resort: the GPS position as exiv2 finds it, EXIF first, XMP
// ("DDD,MM,SSk" or "DDD,MM.mmk") where EXIF has no usable value; a value
// with a zero denominator is unusable. Only still-picture and camera-raw
// types are parsed: exiv2's readers of video and of other files never run.
// Built into the plugin that the second reader process loads
// (exiv2_module.h), and into the tests and fuzzers, which call it directly.
#pragma once

#include <cstddef>

#include "platform/host/wire/gps_metadata.h"
#include "platform/host/windows.h"

namespace host {

// Sets exiv2 up: before the reader is confined, since exiv2 would open
// files to do it lazily.
void PrepareExiv2Reading();

// S_OK (absent values are not present), or a failure status: a type that
// is not parsed, or exiv2's refusal.
HRESULT ReadGpsWithExiv2(const unsigned char* data, std::size_t size, GpsMetadata* metadata);

}  // namespace host
