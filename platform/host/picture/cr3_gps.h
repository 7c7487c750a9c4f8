// The GPS directory of a Canon CR3 raw file. CR3 is an ISO base media file
// whose "moov" box holds a "uuid" box of Canon's own
// (85c0b687-820f-11e0-8111-f4ce462b6a48); in it "CMT1" is IFD0, "CMT2" the
// Exif directory, "CMT3" the maker note and "CMT4" the GPS directory, each
// a TIFF block of its own. exiv2 0.27 and 0.28 give up on the files of
// current bodies ("corrupted image metadata") before reaching it.
#pragma once

#include <cstddef>
#include <vector>

namespace host {

// Whether `file` starts with a CR3's file type box (major brand "crx ").
bool HasCr3Signature(const unsigned char* file, std::size_t size);

// The CMT4 GPS directory as a TIFF block whose first directory points at it
// (tiff_gps_block.h). False when the file has none, or its boxes break this
// reader's bounds: 64 top-level boxes, 1,024 boxes in moov, 64 in Canon's
// box, a CMT4 block of at most 1 MiB. Reads the mapping in place.
bool ReadCr3GpsTiff(const unsigned char* file, std::size_t size, std::vector<unsigned char>* tiff);

}  // namespace host
