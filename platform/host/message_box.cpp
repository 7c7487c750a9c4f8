// MessageBoxW on the host: one line on stderr.
#include <cstdio>
#include <string>

#include "platform/host/host_controls.h"
#include "platform/host/wide_text.h"
#include "platform/host/windows.h"

extern "C" int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    const std::wstring shownText = text != nullptr ? text : L"";
    const std::wstring shownCaption = caption != nullptr ? caption : L"Error";
    host::Records().messageTexts.push_back(shownText);
    host::Records().messageCaptions.push_back(caption != nullptr ? caption : L"");

    const std::string line =
        host::BytesFromWide(shownCaption) + ": " + host::BytesFromWide(shownText) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return IDOK;
}
