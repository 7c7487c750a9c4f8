#include "app/parsing_name.h"

#include "platform/platform.h"

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// "scheme:" as URIs begin, with at least two characters, so that a drive
// letter ("C:") stays a path.
bool HasUriScheme(const wchar_t* name) {
    if (!IsAsciiLetter(name[0])) return false;
    std::size_t at = 1;
    while (IsAsciiLetter(name[at]) || (name[at] >= L'0' && name[at] <= L'9') || name[at] == L'+' ||
           name[at] == L'-' || name[at] == L'.') {
        ++at;
    }
    return at >= 2 && name[at] == L':';
}

}  // namespace

const wchar_t* ParsingNameFor(const wchar_t* argument, wchar_t (&fullPath)[kFullPathCapacity]) {
    if (HasUriScheme(argument)) return argument;
    const DWORD length = GetFullPathNameW(argument, kFullPathCapacity, fullPath, nullptr);
    // Zero is a failure; the capacity or more is the size the path would need.
    return length != 0 && length < kFullPathCapacity ? fullPath : nullptr;
}
