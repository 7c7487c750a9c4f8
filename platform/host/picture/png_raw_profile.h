// Exif that ImageMagick keeps in a PNG as a "raw profile": a tEXt, zTXt or
// iTXt chunk keyed "Raw profile type exif" (or "... APP1") whose text is a
// newline, the profile's name, a newline, its byte count, a newline, then
// the bytes as hex digits in lines. exiv2 fails to decode some of these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

// This reader's bounds.
inline constexpr std::uint32_t kMostPngChunks = 1u << 20;
inline constexpr std::uint32_t kMostRawProfiles = 16;
inline constexpr std::uint32_t kLargestProfileChunk = 8u << 20;  // its data as stored
inline constexpr std::uint32_t kLargestInflatedText = 4u << 20;  // zlib bombs stop here
inline constexpr std::uint32_t kLargestRawProfile = 2u << 20;    // the stated byte count

bool HasPngSignature(const unsigned char* file, std::size_t size);

// Decodes a raw profile's text into its bytes; false unless the text has
// exactly that form, with only whitespace between and after the hex digits.
bool DecodeRawProfileText(const unsigned char* text, std::size_t size,
                          std::vector<unsigned char>* bytes);

// Every raw Exif profile of the PNG file that holds a TIFF block (after an
// optional "Exif\0\0"), in the file's order, into `tiffs`. A chunk that is
// malformed or past the bounds above is left out; false when none is left.
bool ReadPngRawExif(const unsigned char* file, std::size_t size,
                    std::vector<std::vector<unsigned char>>* tiffs);

}  // namespace host
