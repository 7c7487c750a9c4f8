// Each input is a whole HEIF/AVIF file in memory, searched for its Exif
// item the way the host does where exiv2 finds none. Besides the
// sanitizers' faults, a run stops when a found block is no TIFF block or is
// larger than the file it came from.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/host/picture/bmff_exif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<unsigned char> file(data, data + size);
    std::vector<unsigned char> tiff;
    if (host::ReadBmffExif(file, &tiff) && (tiff.size() < 8 || tiff.size() > file.size())) {
        std::fprintf(stderr, "bmff_exif_fuzzer: found %zu bytes in a %zu-byte file\n", tiff.size(),
                     file.size());
        std::abort();
    }
    return 0;
}
