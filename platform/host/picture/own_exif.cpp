#include "platform/host/picture/own_exif.h"

#include <cstring>

#include "platform/host/picture/bmff_exif.h"
#include "platform/host/picture/cr3_gps.h"
#include "platform/host/picture/jxr_ifd.h"
#include "platform/host/picture/png_raw_profile.h"

namespace host {

namespace {

bool HasBmffSignature(const unsigned char* file, std::size_t size) {
    return size >= 8 && std::memcmp(file + 4, "ftyp", 4) == 0;
}

// Readers that find one block.
template <typename Reader>
bool OneBlock(Reader read, const unsigned char* file, std::size_t size,
              std::vector<std::vector<unsigned char>>* tiffs) {
    std::vector<unsigned char> tiff;
    if (!read(file, size, &tiff)) return false;
    tiffs->push_back(std::move(tiff));
    return true;
}

}  // namespace

bool HasOwnReaderSignature(const unsigned char* file, std::size_t size) {
    return HasCr3Signature(file, size) || HasJxrSignature(file, size);
}

bool ReadOwnExifBlocks(const unsigned char* file, std::size_t size,
                       std::vector<std::vector<unsigned char>>* tiffs) {
    tiffs->clear();
    if (HasCr3Signature(file, size)) return OneBlock(ReadCr3GpsTiff, file, size, tiffs);
    if (HasJxrSignature(file, size)) return OneBlock(ReadJxrGpsTiff, file, size, tiffs);
    if (HasPngSignature(file, size)) return ReadPngRawExif(file, size, tiffs);
    if (HasBmffSignature(file, size)) return ReadBmffExifBlocks(file, size, tiffs);
    return false;
}

}  // namespace host
