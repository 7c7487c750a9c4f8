#include "platform/host/winapi/file_uri.h"

#include <strings.h>

#include "platform/host/os/wide_text.h"

namespace host {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The percent-decoded path of a file URI's path part; false for a malformed
// escape or a NUL.
bool DecodePath(const std::string& encoded, std::string* path) {
    path->clear();
    for (std::size_t at = 0; at < encoded.size(); ++at) {
        if (encoded[at] != '%') {
            path->push_back(encoded[at]);
            continue;
        }
        const int high = at + 2 < encoded.size() ? HexValue(encoded[at + 1]) : -1;
        const int low = high >= 0 ? HexValue(encoded[at + 2]) : -1;
        if (low < 0) return false;
        path->push_back(static_cast<char>(high * 16 + low));
        at += 2;
    }
    return path->find('\0') == std::string::npos;
}

// "file:///path", "file://localhost/path" (the host in any case) and
// "file:/path"; false for any other host.
bool PathFromFileUri(const std::string& uri, std::string* path) {
    std::string rest = uri.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        const std::size_t slash = rest.find('/', 2);
        const std::string host = rest.substr(2, slash == std::string::npos ? slash : slash - 2);
        if (!host.empty() && strcasecmp(host.c_str(), "localhost") != 0) return false;
        rest.erase(0, 2 + host.size());
    }
    if (rest.empty() || rest[0] != '/') return false;
    return DecodePath(rest, path);
}

bool HasFileScheme(const std::string& name) { return strncasecmp(name.c_str(), "file:", 5) == 0; }

}  // namespace

HRESULT PathFromParsingName(PCWSTR name, std::string* path) {
    const std::string bytes = host::BytesFromWide(name);
    if (HasFileScheme(bytes)) {
        return PathFromFileUri(bytes, path) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    }
    if (bytes.empty() || bytes[0] != '/') return E_INVALIDARG;
    *path = bytes;
    return S_OK;
}

}  // namespace host
