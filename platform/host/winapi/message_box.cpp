// MessageBoxW on the host: one line on stderr, and on a desktop also a modal
// error dialog, since a program started from a file manager has no terminal.
#include "platform/host/winapi/message_box.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/os/process.h"
#include "platform/host/os/wide_text.h"
#include "platform/host/windows.h"

namespace {

bool HasDesktop() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Shows the dialog with zenity, where there is one, and waits until it is
// dismissed.
void ShowDesktopDialog(const std::string& caption, const std::string& text) {
    if (!HasDesktop()) return;
    host::RunUntilExit(
        {"zenity", "--error", "--no-markup", "--title=" + caption, "--text=" + text});
}

}  // namespace

namespace host {

void ShowError(const std::string& caption, const std::string& text) {
    const std::string line = caption + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    ShowDesktopDialog(caption, text);
}

}  // namespace host

extern "C" int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    const std::wstring shownText = text != nullptr ? text : L"";
    const std::wstring shownCaption = caption != nullptr ? caption : L"Error";
    host::ShowError(host::BytesFromWide(shownCaption), host::BytesFromWide(shownText));
    return IDOK;
}
