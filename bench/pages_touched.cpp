// Pages of a picture that a parse brings into memory: the file's cached
// pages are dropped (posix_fadvise DONTNEED), the parse runs over a fresh
// read-only mapping, and mincore counts the mapping's resident pages. Each
// picture is parsed twice: as photomap parses it (our bounded Exif GPS
// reader, exiv2 only where that finds nothing) and with exiv2 alone. With
// MADV_RANDOM the kernel reads no pages ahead, so the count is the pages
// the parse touched; without it, what the kernel's readahead brings in.
//   photomap_pages_touched PICTURE...
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/host/picture/gps_parser.h"

namespace {

using Parse = HRESULT (*)(const unsigned char*, std::size_t, host::GpsMetadata*);

struct Touched {
    long pages = -1;
    bool position = false;
};

long ResidentPages(void* mapped, std::size_t size, long pageSize) {
    std::vector<unsigned char> resident((size + pageSize - 1) / pageSize);
    if (mincore(mapped, size, resident.data()) != 0) return -1;
    long count = 0;
    for (unsigned char page : resident) count += page & 1;
    return count;
}

Touched Measure(int descriptor, std::size_t size, Parse parse, bool noReadahead) {
    Touched touched;
    fdatasync(descriptor);  // dirty pages would stay cached
    if (posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED) != 0) return touched;
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    if (mapped == MAP_FAILED) return touched;
    if (noReadahead) madvise(mapped, size, MADV_RANDOM);
    const long pageSize = sysconf(_SC_PAGESIZE);
    host::GpsMetadata metadata;
    const HRESULT status = parse(static_cast<const unsigned char*>(mapped), size, &metadata);
    touched.position = SUCCEEDED(status) && metadata.latitude.present && metadata.longitude.present;
    touched.pages = ResidentPages(mapped, size, pageSize);
    munmap(mapped, size);
    return touched;
}

void Report(const char* path) {
    const int descriptor = open(path, O_RDONLY);
    struct stat status;
    if (descriptor < 0 || fstat(descriptor, &status) != 0 || status.st_size == 0) {
        std::printf("%s: cannot be read\n", path);
        if (descriptor >= 0) close(descriptor);
        return;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    const long pageKiB = sysconf(_SC_PAGESIZE) / 1024;
    std::printf("%s (%.1f MB):\n", path, size / 1e6);
    const struct {
        const char* name;
        Parse parse;
    } parsers[] = {{"photomap", host::ParseGpsMetadata},
                   {"exiv2 alone", host::ParseGpsMetadataWithExiv2}};
    for (const auto& parser : parsers) {
        const Touched touched = Measure(descriptor, size, parser.parse, true);
        const Touched readahead = Measure(descriptor, size, parser.parse, false);
        std::printf("  %-12s %s, %ld pages touched (%ld KiB), %ld KiB resident with readahead\n",
                    parser.name, touched.position ? "position" : "no position", touched.pages,
                    touched.pages * pageKiB, readahead.pages * pageKiB);
    }
    close(descriptor);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PICTURE...\n", argv[0]);
        return 2;
    }
    host::PrepareGpsParsing();
    for (int i = 1; i < argc; ++i) Report(argv[i]);
    return 0;
}
