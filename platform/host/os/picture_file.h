// How the host opens a picture: once, by the path the user gave, without
// blocking. Everything after that reads through this one descriptor, so
// another process that puts something else at the path meanwhile (a FIFO
// that would block for ever, another file) changes nothing.
#pragma once

#include <string>

#include "platform/host/os/unique_fd.h"

namespace host {

// Read-only, closed on exec; not valid when the path cannot be opened.
UniqueFd OpenPicture(const std::string& path);

bool IsRegularFile(int descriptor);

}  // namespace host
