// How the host stand-in shows an error: the path MessageBoxW takes, also
// used for what the platform itself reports, such as a failed launch.
#pragma once

#include <string>

namespace host {

// Writes "caption: text" as one line on stderr and, on a desktop, also shows
// a modal error dialog and waits until it is dismissed.
void ShowError(const std::string& caption, const std::string& text);

}  // namespace host
