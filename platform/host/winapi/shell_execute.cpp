// ShellExecuteW on the host: xdg-open is the handler for web addresses.
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/host/os/process.h"
#include "platform/host/os/wide_text.h"
#include "platform/host/winapi/message_box.h"
#include "platform/host/windows.h"

namespace {

// What ShellExecuteW returns when no application handles the file.
constexpr int kNoAssociation = 31;

// How long xdg-open may take to say that it failed. Its failures (no
// handler, a handler that cannot start) take tens to a few hundred
// milliseconds, and on a desktop it exits as soon as the browser is started;
// only its generic mode runs the browser in the foreground, and there we
// leave both running after this long and never wait for the browser's life.
constexpr std::chrono::milliseconds kHandOverPatience(2000);

// Values above 32 mean success, as on Windows.
HINSTANCE ShellResult(int value) {
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(value));
}

// Why the URL did not open, in the user's words; empty when it did, or
// when xdg-open is still busy with it.
std::string LaunchFailure(const host::ProgramEnd& end) {
    using Kind = host::ProgramEnd::Kind;
    switch (end.kind) {
        case Kind::NotStarted:
            return "xdg-open was not found; install xdg-utils";
        case Kind::Signalled:
            return "xdg-open was ended by signal " + std::to_string(end.value);
        case Kind::Exited:
            if (end.value == 0) return "";
            if (end.value == 3) return "no web browser was found (xdg-open exit status 3)";
            return "xdg-open failed with exit status " + std::to_string(end.value);
        case Kind::StillRunning:
            return "";
    }
    return "";
}

}  // namespace

// Hands the file to xdg-open, detached, and returns once xdg-open has
// finished, or after kHandOverPatience; a failed launch is shown the way the
// shell shows it on Windows, in an error dialog of its own.
extern "C" HINSTANCE WINAPI ShellExecuteW(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    if (file == nullptr) return ShellResult(ERROR_FILE_NOT_FOUND);

    const std::string target = host::BytesFromWide(file);
    const host::ProgramEnd end = host::StartDetached({"xdg-open", target}, kHandOverPatience);
    const std::string failure = LaunchFailure(end);
    if (failure.empty()) return ShellResult(33);
    host::ShowError("Error", "Could not open " + target + ": " + failure);
    return ShellResult(end.kind == host::ProgramEnd::Kind::NotStarted ? ERROR_FILE_NOT_FOUND
                                                                      : kNoAssociation);
}
