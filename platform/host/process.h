// Starting other programs from the host stand-in.
#pragma once

#include <string>
#include <vector>

namespace host {

enum class ProgramWait {
    Detached,  // in a session of its own, not waited for
    UntilExit,
};

// Starts arguments[0], found on PATH, with stdin from /dev/null; stdout and
// stderr are kept, or sent to /dev/null when `quiet`. False when the program
// cannot be started.
bool StartProgram(const std::vector<std::string>& arguments, ProgramWait wait, bool quiet);

}  // namespace host
