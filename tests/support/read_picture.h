// A picture's bytes read in this process as photomap's two reader
// processes read a file: our own readers, then exiv2 where they find no
// position.
#pragma once

#include <vector>

#include "platform/host/picture/byte_source.h"
#include "platform/host/picture/exiv2_reader.h"
#include "platform/host/picture/formats.h"

namespace read_picture {

inline HRESULT ReadLikePhotomap(const std::vector<unsigned char>& file,
                                host::GpsMetadata* metadata) {
    if (host::ReadOwnGpsPosition(host::MemorySource(file), metadata)) return S_OK;
    host::PrepareExiv2Reading();
    return host::ReadGpsWithExiv2(file.data(), file.size(), metadata);
}

inline bool ReadOwn(const std::vector<unsigned char>& file, host::GpsMetadata* position) {
    return host::ReadOwnGpsPosition(host::MemorySource(file), position);
}

}  // namespace read_picture
