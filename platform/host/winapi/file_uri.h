// The names the host's shell item takes: as on Windows, a full path or a
// file URI.
#pragma once

#include <string>

#include "platform/host/windows.h"

namespace host {

// The path that `name` gives: an absolute path as it is, or the decoded
// path of "file:///path", "file://localhost/path" (the host in any case) or
// "file:/path". E_INVALIDARG for a relative path (the caller makes a typed
// path absolute first, with GetFullPathNameW), HRESULT_FROM_WIN32(
// ERROR_INVALID_NAME) for a malformed URI or one with another host.
HRESULT PathFromParsingName(PCWSTR name, std::string* path);

}  // namespace host
