// The reader process's side of the confined reader: from the fork to the
// answer on its pipe.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/host/sandbox/confined_reader.h"

namespace host {

// What the child is told by its parent.
struct ReaderSetup {
    const ReaderJob& job;
    const ReaderLimits& limits;
    pid_t parent;
    std::uint64_t availableMemory;  // bytes, 0 when unknown
};

// The child's whole life: it confines itself, runs the job over `picture`
// and writes its record to `result`. It never returns.
[[noreturn]] void RunReader(int picture, int result, const ReaderSetup& setup);

}  // namespace host
