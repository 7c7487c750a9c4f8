// Each input is a whole picture, read by our own readers and, where they
// find a position, by exiv2 alone as well. Besides the sanitizers' faults,
// a run stops when both find a position and they differ in any part or
// reference, or when ours claims a position it did not fill. exiv2 runs
// only where ours finds one: elsewhere there is nothing to compare, and
// picture_parser_fuzzer drives exiv2 over every input already.
//
// Where the two differ on purpose (the one list of our readers' departures
// from exiv2), nothing is compared:
// - HEIF and AVIF: exiv2 0.27 ignores an item location's base offset, and
//   takes the first Exif item whatever image it describes, searching a
//   broken one for a byte-order mark; ours takes the primary image's items
//   first, skips broken ones, and reads an item cut by the end of the file
//   where the directories lie in the bytes that are there.
// - A file that also holds XMP GPS text: where the first Exif block has no
//   usable position, ours reads the later Exif blocks (JPEG segments, TIFF
//   pages), exiv2 the XMP.
// - A file with more than one Exif block (two eXIf chunks, two Exif APP1
//   segments): exiv2 merges them and may take the latitude of one block
//   and the longitude of another; ours takes the position whole from the
//   first block that holds one.
// - References typed UNDEFINED: exiv2 presents their bytes as numbers
//   ("83 0"), ours as the text up to the first NUL ("S").
// And where only ours finds a position, there is nothing to compare:
// exiv2 refuses a JPEG whose segments after the Exif are broken, a
// directory of more than 256 entries, a raw profile whose stated count is
// not its digits', and reads no later JPEG segment or TIFF page, no GIF
// and no BPG; ours ignores a GPS pointer that names a directory read as
// something else (exiv2 only some of them).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/host/picture/byte_source.h"
#include "platform/host/picture/exiv2_reader.h"
#include "platform/host/picture/formats.h"

namespace {

void Report(const char* what, const host::GpsCoordinateData& ours,
            const host::GpsCoordinateData& exiv2) {
    std::fprintf(stderr,
                 "exif_gps_fuzzer: %s: ours %zu parts, reference \"%s\"; exiv2 %zu parts, "
                 "reference \"%s\"\n",
                 what, ours.parts.size(), ours.reference.c_str(), exiv2.parts.size(),
                 exiv2.reference.c_str());
    for (std::size_t i = 0; i < ours.parts.size(); ++i)
        std::fprintf(stderr, " ours %.17g\n", ours.parts[i]);
    for (std::size_t i = 0; i < exiv2.parts.size(); ++i)
        std::fprintf(stderr, " exiv2 %.17g\n", exiv2.parts[i]);
}

bool IsBmff(const std::uint8_t* data, std::size_t size) {
    return size >= 8 && std::memcmp(data + 4, "ftyp", 4) == 0;
}

bool HasXmpGpsText(std::string_view bytes) {
    return bytes.find("GPSLatitude") != bytes.npos || bytes.find("GPSLongitude") != bytes.npos;
}

std::size_t CountOf(std::string_view bytes, std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = bytes.find(text); at != bytes.npos; at = bytes.find(text, at + 1)) {
        ++count;
    }
    return count;
}

bool HasSeveralExifBlocks(std::string_view bytes) {
    return CountOf(bytes, "eXIf") + CountOf(bytes, std::string_view("Exif\0\0", 6)) > 1;
}

// exiv2's text of UNDEFINED bytes: numbers and spaces.
bool IsNumberText(const std::string& reference) {
    return !reference.empty() && reference.find_first_not_of("0123456789 ") == std::string::npos;
}

bool Same(const host::GpsCoordinateData& ours, const host::GpsCoordinateData& exiv2) {
    return ours.parts == exiv2.parts &&
           (ours.reference == exiv2.reference || IsNumberText(exiv2.reference));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool prepared = (host::PrepareExiv2Reading(), true);
    (void)prepared;
    host::GpsMetadata ours;
    if (!host::ReadOwnGpsPosition(host::MemorySource(data, size), &ours)) return 0;
    if (!ours.latitude.present || !ours.longitude.present || ours.latitude.parts.empty() ||
        ours.longitude.parts.empty()) {
        std::fprintf(stderr, "exif_gps_fuzzer: a position without both coordinates\n");
        std::abort();
    }
    host::GpsMetadata exiv2;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (IsBmff(data, size) || HasXmpGpsText(bytes) || HasSeveralExifBlocks(bytes) ||
        FAILED(host::ReadGpsWithExiv2(data, size, &exiv2)) || !exiv2.latitude.present ||
        !exiv2.longitude.present) {
        return 0;  // exiv2 finds none, or differs on purpose: ours is the answer
    }
    const bool latitudeSame = Same(ours.latitude, exiv2.latitude);
    if (!latitudeSame) Report("latitudes differ", ours.latitude, exiv2.latitude);
    if (!Same(ours.longitude, exiv2.longitude)) {
        Report("longitudes differ", ours.longitude, exiv2.longitude);
        std::abort();
    }
    if (!latitudeSame) std::abort();
    return 0;
}
