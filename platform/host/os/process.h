// Starting other programs from the host stand-in.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace host {

// How a started program ended, as far as we waited for it.
struct ProgramEnd {
    enum class Kind {
        NotStarted,    // not found on PATH, or not executable
        Exited,        // `value` is its exit status
        Signalled,     // `value` is the signal that ended it
        StillRunning,  // it outlived our patience and runs on, detached
    };
    Kind kind;
    int value;
};

// Every program we start gets /dev/null as stdin, stdout and stderr and no
// other descriptor of ours, whatever we have open: it must not write into a
// caller's pipe, or keep one open, long after we have exited.

// Starts arguments[0], found on PATH, and waits until it exits.
ProgramEnd RunUntilExit(const std::vector<std::string>& arguments);

// Starts arguments[0], found on PATH, in a session of its own, and waits for
// it at most `patience`; a program still running then is left to run on and
// is never waited for.
ProgramEnd StartDetached(const std::vector<std::string>& arguments,
                         std::chrono::milliseconds patience);

// Waits for `child`, a child of ours, to end, but not past `deadline`: woken
// by the end itself where the kernel has pidfds (Linux 5.3 on), in short
// naps elsewhere. True when it ended and is reaped, its wait status in
// `status`; false when it still runs at the deadline or cannot be waited for.
bool AwaitChildEnd(pid_t child, std::chrono::steady_clock::time_point deadline, int* status);

}  // namespace host
