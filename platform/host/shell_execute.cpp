// ShellExecuteW on the host: xdg-open is the handler for web addresses.
#include "platform/host/host_controls.h"
#include "platform/host/process.h"
#include "platform/host/wide_text.h"
#include "platform/host/windows.h"

namespace {

bool launchEnabled = true;

// Values above 32 mean success, as on Windows.
HINSTANCE ShellResult(int value) {
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(value));
}

}  // namespace

// Returns at once: xdg-open runs detached and is never waited for.
extern "C" HINSTANCE WINAPI ShellExecuteW(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    if (file == nullptr) return ShellResult(ERROR_FILE_NOT_FOUND);
    host::Records().launchedFiles.emplace_back(file);
    if (!launchEnabled) return ShellResult(33);
    const bool started = host::StartProgram({"xdg-open", host::BytesFromWide(file)},
                                            host::ProgramWait::Detached, false);
    return ShellResult(started ? 33 : ERROR_FILE_NOT_FOUND);
}

namespace host {

void SetLaunchEnabled(bool enabled) { launchEnabled = enabled; }

}  // namespace host
