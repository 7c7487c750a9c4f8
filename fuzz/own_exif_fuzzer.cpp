// Each input is a whole file in memory, read by our own readers (the one
// its signature selects). Besides the sanitizers' faults, a run stops when
// a reader claims a position without both coordinates and their parts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/host/picture/byte_source.h"
#include "platform/host/picture/formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    host::GpsMetadata position;
    if (!host::ReadOwnGpsPosition(host::MemorySource(data, size), &position)) return 0;
    for (const host::GpsCoordinateData* coordinate : {&position.latitude, &position.longitude}) {
        if (!coordinate->present || coordinate->parts.empty() || coordinate->parts.size() > 16) {
            std::fprintf(stderr, "own_exif_fuzzer: a position with %zu parts\n",
                         coordinate->parts.size());
            std::abort();
        }
    }
    return 0;
}
