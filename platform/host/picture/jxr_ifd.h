// The GPS directory of a JPEG XR file (.jxr, .wdp). JPEG XR keeps its
// metadata in a TIFF-like directory after an "II\xBC\x01" header; exiv2
// 0.28 reads it, 0.27 does not know the type.
#pragma once

#include <cstddef>
#include <vector>

namespace host {

bool HasJxrSignature(const unsigned char* file, std::size_t size);

// The GPS directory that the first directory's 0x8825 entry points at, as a
// TIFF block whose first directory points at it (tiff_gps_block.h). False
// without one, or past this reader's bounds: 1,024 entries in the first
// directory, the GPS directory's own (tiff_gps_block.h).
bool ReadJxrGpsTiff(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff);

}  // namespace host
