// ShellExecuteW on the host: xdg-open is the handler for web addresses.
#include <spawn.h>
#include <fcntl.h>

#include <string>

#include "platform/host/host_controls.h"
#include "platform/host/wide_text.h"
#include "platform/host/windows.h"

extern char** environ;

namespace {

bool launchEnabled = true;

// Values above 32 mean success, as on Windows.
HINSTANCE ShellResult(int value) {
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(value));
}

// Starts `program target` in a session of its own with stdin from /dev/null,
// and does not wait for it: the browser may run for hours.
bool StartDetached(const char* program, const std::string& target) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    std::string programName = program;
    std::string argument = target;
    char* arguments[] = {programName.data(), argument.data(), nullptr};
    pid_t child = 0;
    const int error = posix_spawnp(&child, program, &actions, &attributes, arguments, environ);

    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0;
}

}  // namespace

extern "C" HINSTANCE WINAPI ShellExecuteW(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    if (file == nullptr) return ShellResult(ERROR_FILE_NOT_FOUND);
    host::Records().launchedFiles.emplace_back(file);
    if (!launchEnabled) return ShellResult(33);
    return StartDetached("xdg-open", host::BytesFromWide(file)) ? ShellResult(33)
                                                                : ShellResult(ERROR_FILE_NOT_FOUND);
}

namespace host {

void SetLaunchEnabled(bool enabled) {
    launchEnabled = enabled;
}

}  // namespace host
