// The name the shell is given for the picture the user named.
#pragma once

#include <cstddef>

// The longest path Windows takes, terminator included.
inline constexpr std::size_t kFullPathCapacity = 32768;

// A URI (file: or any other scheme) is handed over as typed. A path is made
// absolute first, in `fullPath`: the shell parses a name against its own
// namespace, not this process's current folder, so a relative name, one with
// "..", forward slashes or a drive but no folder ("C:a.jpg") would name
// another file or none. Null when the path cannot be made absolute.
const wchar_t* ParsingNameFor(const wchar_t* argument, wchar_t (&fullPath)[kFullPathCapacity]);
