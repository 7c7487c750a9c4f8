// The EXIF block of an ISO base media file (HEIF/HEIC, AVIF), found through
// the file's own item tables. exiv2 0.27 ignores the base offset of an item
// location, so it misses the EXIF of files whose locations use one.
#pragma once

#include <cstddef>
#include <vector>

namespace host {

// Reads the items of type "Exif" that the file's meta box lists and
// returns the TIFF data after each one's header in `tiffs`: first the items
// that describe the primary image (pitm, iref "cdsc"), then those of the
// other images (a stereo pair has one each), then the rest; an item that
// is broken or lies past the end of a file cut short is left out. False when the file has no such
// item or its tables are malformed or past this reader's bounds (item and
// extent counts, extents that take no bytes in the table, sizes). Reads
// only the meta box and the item; its work grows with the size of the meta
// box, never with the counts the file claims.
// Bounds: 16,384 items, 65,536 extents and references, 64 Exif items,
// 16 MiB of them together, a 4 MiB meta box, 64 top-level boxes.
bool ReadBmffExifBlocks(const unsigned char* file, std::size_t size,
                        std::vector<std::vector<unsigned char>>* tiffs);
// The first of those blocks in `tiff`.
bool ReadBmffExif(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff);
bool ReadBmffExif(const std::vector<unsigned char>& file, std::vector<unsigned char>* tiff);

}  // namespace host
