#include "platform/host/picture/picture_reading.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "platform/host/picture/byte_source.h"
#include "platform/host/picture/exiv2_module.h"
#include "platform/host/picture/formats.h"

namespace host {

namespace {

Exiv2Module exiv2Module;

}  // namespace

HRESULT ReadWithOwnReaders(int picture, GpsMetadata* metadata) {
    FileSource file(picture);
    if (!file.Open()) return E_FAIL;
    try {
        GpsMetadata found;
        if (ReadOwnGpsPosition(file, &found)) *metadata = std::move(found);
        return S_OK;
    } catch (const std::bad_alloc&) {  // a block past the memory limit
        return E_OUTOFMEMORY;
    }
}

bool PrepareExiv2Reader() {
    if (!LoadExiv2Module(&exiv2Module)) return false;
    exiv2Module.prepare();
    return true;
}

HRESULT ReadWithExiv2Reader(int picture, GpsMetadata* metadata) {
    FileSource file(picture);
    if (exiv2Module.read == nullptr || !file.Open() || file.Size() == 0) return E_FAIL;
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(file.Size());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
    if (!file.Read(0, bytes.size(), bytes.data())) return E_FAIL;
    return exiv2Module.read(bytes.data(), bytes.size(), metadata);
}

}  // namespace host
