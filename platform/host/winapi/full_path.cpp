// GetFullPathNameW on the host: a relative name is joined to the current
// directory. Unlike Windows, "." and ".." are left for the kernel to
// resolve, since on Linux a folder reached through a symbolic link has
// another parent than its name suggests.
#include <unistd.h>

#include <climits>
#include <cwchar>
#include <string>

#include "platform/host/os/wide_text.h"
#include "platform/host/windows.h"

namespace {

bool CurrentDirectory(std::string* directory) {
    std::string buffer(PATH_MAX, '\0');
    if (getcwd(buffer.data(), buffer.size()) == nullptr) return false;
    *directory = buffer.c_str();
    return true;
}

}  // namespace

extern "C" DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer,
                                         LPWSTR* filePart) {
    if (filePart != nullptr) *filePart = nullptr;
    if (name == nullptr || *name == L'\0') return 0;
    std::wstring full = name;
    if (full[0] != L'/') {
        std::string directory;
        if (!CurrentDirectory(&directory)) return 0;
        full = host::WideFromBytes(directory == "/" ? "" : directory) + L"/" + full;
    }
    const auto length = static_cast<DWORD>(full.size());
    // Too small a buffer gets the size it needs, terminator included.
    if (buffer == nullptr || size <= length) return length + 1;
    std::wmemcpy(buffer, full.c_str(), full.size() + 1);
    if (filePart != nullptr) {
        const std::size_t slash = full.rfind(L'/');
        *filePart = slash + 1 < full.size() ? buffer + slash + 1 : nullptr;
    }
    return length;
}
