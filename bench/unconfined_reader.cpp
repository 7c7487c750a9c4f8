// photomap as it would be without its reader process: the same parse of the
// same mapped picture, in photomap's own process. The benchmark's
// photomap_unconfined links this in place of the confined reader
// (photomap_sandbox), so that the benchmark can show what the confined
// reader costs; never built into what is shipped.
#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/host/sandbox/confined_reader.h"

namespace host {

HRESULT ReadConfined(int picture, const PictureParser& parser, GpsMetadata* metadata) {
    struct stat status;
    if (fstat(picture, &status) != 0 || !S_ISREG(status.st_mode)) return E_FAIL;
    const auto size = static_cast<std::size_t>(status.st_size);
    void* mapped = size == 0 ? nullptr : mmap(nullptr, size, PROT_READ, MAP_PRIVATE, picture, 0);
    if (mapped == MAP_FAILED) return E_FAIL;
    if (parser.prepare != nullptr) parser.prepare();
    const HRESULT parsed = parser.parse(static_cast<const unsigned char*>(mapped), size, metadata);
    if (mapped != nullptr) munmap(mapped, size);
    return parsed;
}

}  // namespace host
