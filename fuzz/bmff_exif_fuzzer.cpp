// Each input is a whole file, read by our own readers twice: from memory,
// and from a file through the windows of the file byte source. Besides the
// sanitizers' faults, a run stops when the two reads differ: the windows
// must hand every reader exactly the bytes that are there.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/host/picture/byte_source.h"
#include "platform/host/picture/formats.h"

namespace {

bool Same(const host::GpsMetadata& a, const host::GpsMetadata& b) {
    return a.latitude.parts == b.latitude.parts && a.longitude.parts == b.longitude.parts &&
           a.latitude.reference == b.latitude.reference &&
           a.longitude.reference == b.longitude.reference;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int file = memfd_create("bmff_exif_fuzzer", 0);
    if (file < 0 || ftruncate(file, 0) != 0 ||
        pwrite(file, data, size, 0) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    host::FileSource fromFile(file);
    host::GpsMetadata inMemory, throughFile;
    const bool foundInMemory = host::ReadOwnGpsPosition(host::MemorySource(data, size), &inMemory);
    const bool foundThroughFile =
        fromFile.Open() && host::ReadOwnGpsPosition(fromFile, &throughFile);
    if (foundInMemory != foundThroughFile || !Same(inMemory, throughFile)) {
        std::fprintf(stderr, "bmff_exif_fuzzer: the file source read %d, memory %d\n",
                     foundThroughFile, foundInMemory);
        std::abort();
    }
    return 0;
}
