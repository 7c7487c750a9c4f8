// exiv2 lives in a plugin of its own, libphotomap-exiv2.so, so that only
// the reader process that needs it loads libexiv2, and photomap does not
// when our own readers answer.
#pragma once

#include <cstddef>

#include "platform/host/wire/gps_metadata.h"
#include "platform/host/windows.h"

// The plugin's entry points (exiv2_module_entry.cpp): exiv2_reader.h's.
extern "C" {
void PhotomapPrepareExiv2Reading();
HRESULT PhotomapReadGpsWithExiv2(const unsigned char* data, std::size_t size,
                                 host::GpsMetadata* metadata);
}

namespace host {

struct Exiv2Module {
    decltype(&PhotomapPrepareExiv2Reading) prepare = nullptr;
    decltype(&PhotomapReadGpsWithExiv2) read = nullptr;
};

// Loads the plugin, which is installed in lib/photomap/plugins/ beside the
// program's bin/ (and built there in the build folder), and
// looks up its entry points; false when it is not there. It is never
// unloaded. Opens files, so it runs before the reader is confined.
bool LoadExiv2Module(Exiv2Module* module);

}  // namespace host
