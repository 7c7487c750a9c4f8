// The EXIF block of an ISO base media file (HEIF/HEIC, AVIF), found through
// the file's own item tables. exiv2 0.27 ignores the base offset of an item
// location, so it misses the EXIF of files whose locations use one.
#pragma once

#include <string>
#include <vector>

namespace host {

// Reads the item of type "Exif" that the file's meta box lists and returns
// the TIFF data after its header in `tiff`. False when the file has no such
// item or its tables are malformed. Reads only the meta box and the item.
bool ReadBmffExif(const std::string& path, std::vector<unsigned char>* tiff);

// The same over a file already in memory (for tests and fuzzing).
bool ReadBmffExif(const std::vector<unsigned char>& file, std::vector<unsigned char>* tiff);

}  // namespace host
