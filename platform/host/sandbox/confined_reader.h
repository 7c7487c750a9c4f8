// Reading a picture in a confined, supervised process of its own: a parser
// fault, an endless loop or a memory bomb in the picture ends that process,
// never photomap, and a parser taken over by the file can do no more than
// send back a wrong position.
#pragma once

#include <cstddef>

#include "platform/host/picture/gps_position.h"
#include "platform/host/windows.h"

namespace host {

// What runs in the reader process. `prepare` runs before the process is
// confined: everything the parser would otherwise set up lazily by opening
// files. `parse` runs confined, over the picture's bytes mapped read-only
// (`data` is null when the file is empty).
struct PictureParser {
    void (*prepare)();
    HRESULT (*parse)(const unsigned char* data, std::size_t size, GpsMetadata* metadata);
};

// Limits of the reader process.
constexpr std::size_t kReaderMemoryBudget = 512u << 20;  // address space, beside the mapping
constexpr int kReaderCpuSeconds = 2;
constexpr int kReaderDeadlineMilliseconds = 2000;

// Parses the regular file open at `picture` with `parser` in a child process
// that keeps no other descriptor than the picture and its result pipe, has
// no new privileges, runs under the seccomp filter of reader_filter.h and
// within the limits above (address space: the budget plus the file's size),
// and is ended when it has not answered by the deadline. S_OK with
// `metadata` set, or a failure status: the parser's own, or E_FAIL when the
// child could not start, was ended, died, or sent a malformed record.
HRESULT ReadConfined(int picture, const PictureParser& parser, GpsMetadata* metadata);

}  // namespace host
