// Our own bounded readers, for the pictures whose position exiv2 does not
// find: the Exif item of HEIF/AVIF files (also cut short, also of every
// image of a multi-image file), a CR3's CMT4 GPS directory, ImageMagick's
// raw profiles in PNG, the GPS directory of JPEG XR. Each hands back TIFF
// blocks, which the caller decodes as any Exif.
#pragma once

#include <cstddef>
#include <vector>

namespace host {

// Files that our readers know by their own signature (CR3, JPEG XR), which
// reach them whatever type exiv2 takes them for.
bool HasOwnReaderSignature(const unsigned char* file, std::size_t size);

// The TIFF blocks that the reader for the file's signature finds, in the
// order to try them; false when none.
bool ReadOwnExifBlocks(const unsigned char* file, std::size_t size,
                       std::vector<std::vector<unsigned char>>* tiffs);

}  // namespace host
