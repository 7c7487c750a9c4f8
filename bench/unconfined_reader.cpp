// photomap as it would be without its reader processes: the same jobs over
// the same descriptor, in photomap's own process. The benchmark's
// photomap_unconfined links this in place of the confined reader
// (photomap_sandbox), so that the benchmark can show what confinement
// costs; never built into what is shipped.
#include "platform/host/sandbox/confined_reader.h"

namespace host {

HRESULT ReadConfined(int picture, const ReaderJob& job, const ReaderLimits&,
                     GpsMetadata* metadata) {
    if (job.prepare != nullptr && !job.prepare()) return E_FAIL;
    return job.read(picture, metadata);
}

}  // namespace host
