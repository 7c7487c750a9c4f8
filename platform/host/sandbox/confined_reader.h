// Reading a picture in a confined, supervised process of its own: a parser
// fault, an endless loop or a memory bomb in the picture ends that process,
// never photomap, and a parser taken over by the file can do no more than
// send back a wrong position.
#pragma once

#include <chrono>
#include <cstddef>

#include "platform/host/wire/gps_metadata.h"
#include "platform/host/windows.h"

namespace host {

// What runs in the reader process. `prepare` (if any) runs before the
// process is confined: everything the reader would otherwise set up lazily
// by opening files, such as loading a library; false gives up. `read` runs
// confined, over the picture's descriptor, which it may only read.
struct ReaderJob {
    bool (*prepare)();
    HRESULT (*read)(int picture, GpsMetadata* metadata);
};

// Limits of the reader process: each bounds the reader's own work, never a
// wait for storage or for the processor, and none goes above the caller's own
// limit (getrlimit) for the same resource.
struct ReaderLimits {
    // Address space: this base (the program's and its libraries' own
    // needs), and `bytesPerFileByte` times the picture's stated size beside
    // it for a reader that holds the file in memory (exiv2 0.27 copies a
    // TIFF's strips of later pages, or its tag data, up to three times),
    // but that never more than the memory available.
    std::size_t memoryBase;
    unsigned bytesPerFileByte;
    // CPU time: a runaway parse spends it; this many seconds, one more hard.
    int cpuSeconds;
    // A reader whose CPU time has not moved for this long makes no progress
    // (storage that never answers) and is ended. Each completed read wakes
    // it, and a loaded processor still gives it time, so slow storage and
    // a busy machine never reach it.
    std::chrono::milliseconds stallWindow;
};

// Runs `job` over the regular file open at `picture` in a child process
// that keeps no other descriptor than the picture and its result pipe, has
// no new privileges, runs under the seccomp filter of reader_filter.h and
// within `limits`, and is killed when photomap dies. S_OK with `metadata`
// set, or a failure status: the job's own, or E_FAIL when the child could
// not start, was ended, died, or sent a malformed record.
HRESULT ReadConfined(int picture, const ReaderJob& job, const ReaderLimits& limits,
                     GpsMetadata* metadata);

}  // namespace host
