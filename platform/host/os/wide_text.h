// Wide text and file-system bytes on the host. Bytes that are not valid UTF-8
// travel as U+DC80..U+DCFF and come back as the same bytes, so every file
// name survives the trip through wide strings.
#pragma once

#include <string>

namespace host {

std::wstring WideFromBytes(const std::string& bytes);
std::string BytesFromWide(const std::wstring& text);

}  // namespace host
