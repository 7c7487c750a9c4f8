#include "platform/host/winapi/picture_metadata.h"

#include <chrono>

#include "platform/host/os/picture_file.h"
#include "platform/host/picture/picture_reading.h"
#include "platform/host/sandbox/confined_reader.h"

namespace host {

namespace {

constexpr std::chrono::seconds kStallWindow(30);

// Our readers hold a few blocks of the file at a time, whatever its size.
constexpr ReaderLimits kOwnReadersLimits = {256u << 20, 0, 2, kStallWindow};
// exiv2 gets the whole file in memory, and copies parts of it: a TIFF's
// strips of later pages, or its tag data, up to three times.
constexpr ReaderLimits kExiv2Limits = {512u << 20, 5, 2, kStallWindow};

constexpr ReaderJob kOwnReaders = {nullptr, ReadWithOwnReaders};
constexpr ReaderJob kExiv2 = {PrepareExiv2Reader, ReadWithExiv2Reader};

bool HasPosition(const GpsMetadata& metadata) {
    return metadata.latitude.present && metadata.longitude.present;
}

}  // namespace

HRESULT ReadGpsMetadata(const std::string& path, GpsMetadata* metadata) {
    const UniqueFd picture = OpenPicture(path);
    if (!IsRegularFile(picture.Get())) return E_FAIL;
    GpsMetadata own;
    if (SUCCEEDED(ReadConfined(picture.Get(), kOwnReaders, kOwnReadersLimits, &own)) &&
        HasPosition(own)) {
        *metadata = std::move(own);
        return S_OK;
    }
    return ReadConfined(picture.Get(), kExiv2, kExiv2Limits, metadata);
}

}  // namespace host
