// The EXIF block of an ISO base media file (HEIF/HEIC, AVIF), found through
// the file's own item tables. exiv2 0.27 ignores the base offset of an item
// location, so it misses the EXIF of files whose locations use one.
#pragma once

#include <cstddef>
#include <vector>

namespace host {

// Reads the item of type "Exif" that the file's meta box lists and returns
// the TIFF data after its header in `tiff`. False when the file has no such
// item or its tables are malformed or past this reader's bounds (item and
// extent counts, extents that take no bytes in the table, sizes). Reads
// only the meta box and the item; its work grows with the size of the meta
// box, never with the counts the file claims.
bool ReadBmffExif(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff);
bool ReadBmffExif(const std::vector<unsigned char>& file, std::vector<unsigned char>* tiff);

}  // namespace host
