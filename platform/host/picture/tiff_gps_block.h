// A GPS directory of a TIFF-like container (a CR3's CMT4 block, a JPEG XR
// file) copied into a TIFF block of its own, which exiv2's Exif decoder
// reads as any picture's Exif: the first directory holds only the GPS
// pointer (0x8825), the GPS directory follows with its values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

enum class ByteOrder { kLittle, kBig };

// Limits of one GPS directory: GPS tags number 32, and their values are a
// few rationals and short strings.
inline constexpr std::uint32_t kMostGpsEntries = 128;
inline constexpr std::uint32_t kLargestGpsValues = 64u << 10;  // all values together

// Copies the directory at `directoryOffset` of `data` (offsets counted from
// `data`, as in TIFF) and the values its entries point at into `tiff`.
// False when the directory or a value lies outside `data`, an entry has a
// type TIFF does not define, or the bounds above are passed.
bool CopyGpsDirectory(const unsigned char* data, std::size_t size, ByteOrder order,
                      std::uint32_t directoryOffset, std::vector<unsigned char>* tiff);

// The byte order and first directory's offset of the TIFF header at `data`
// ("II*\0" or "MM\0*"); false for anything else.
bool ReadTiffHeader(const unsigned char* data, std::size_t size, ByteOrder* order,
                    std::uint32_t* firstDirectory);

// Reads an unsigned field of `bytes` (2 or 4) at `offset` of `data`; false
// past its end.
bool ReadTiffField(const unsigned char* data, std::size_t size, ByteOrder order,
                   std::uint64_t offset, int bytes, std::uint32_t* value);

}  // namespace host
