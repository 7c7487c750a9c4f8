#include "platform/host/picture/exiv2_module.h"
#include "platform/host/picture/exiv2_reader.h"

extern "C" __attribute__((visibility("default"))) void PhotomapPrepareExiv2Reading() {
    host::PrepareExiv2Reading();
}

extern "C" __attribute__((visibility("default"))) HRESULT PhotomapReadGpsWithExiv2(
    const unsigned char* data, std::size_t size, host::GpsMetadata* metadata) {
    return host::ReadGpsWithExiv2(data, size, metadata);
}
