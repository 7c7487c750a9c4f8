// The host's shell item: a regular file whose GPS properties exiv2 reads,
// once, on the first property asked for.
#include "platform/host/winapi/shell_item.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/host/os/picture_file.h"
#include "platform/host/os/wide_text.h"
#include "platform/host/picture/gps_parser.h"
#include "platform/host/sandbox/confined_reader.h"
#include "platform/property_keys.h"

namespace {

// Copies `text` into task memory, as the property system hands out strings.
HRESULT AllocateString(const std::wstring& text, LPWSTR* out) {
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    *out = copy;
    return S_OK;
}

// The value as the property system presents it: VT_VECTOR | VT_R8, or
// VT_EMPTY when the picture has no usable value.
HRESULT StoreParts(const host::GpsCoordinateData& coordinate, PROPVARIANT* value) {
    std::memset(value, 0, sizeof *value);
    value->vt = VT_EMPTY;
    if (!coordinate.present) return S_OK;
    const std::size_t bytes = coordinate.parts.size() * sizeof(double);
    auto* elements = static_cast<double*>(CoTaskMemAlloc(bytes == 0 ? 1 : bytes));
    if (elements == nullptr) return E_OUTOFMEMORY;
    if (bytes != 0) std::memcpy(elements, coordinate.parts.data(), bytes);
    value->vt = VT_VECTOR | VT_R8;
    value->cadbl.cElems = static_cast<ULONG>(coordinate.parts.size());
    value->cadbl.pElems = elements;
    return S_OK;
}

class HostShellItem final : public IShellItem2 {
public:
    explicit HostShellItem(std::string path) : path_(std::move(path)) {}
    HostShellItem(const HostShellItem&) = delete;
    HostShellItem& operator=(const HostShellItem&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IShellItem || riid == IID_IShellItem2) {
            AddRef();
            *object = static_cast<IShellItem2*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key, PROPVARIANT* value) override {
        if (value == nullptr) return E_POINTER;
        const host::GpsCoordinateData* coordinate = nullptr;
        if (IsEqualPropertyKey(key, PKEY_GPS_Latitude) ||
            IsEqualPropertyKey(key, PKEY_GPS_Longitude)) {
            const HRESULT status = LoadMetadata();
            if (FAILED(status)) return status;
            coordinate = IsEqualPropertyKey(key, PKEY_GPS_Latitude) ? &metadata_.latitude
                                                                    : &metadata_.longitude;
        }
        return StoreParts(coordinate != nullptr ? *coordinate : host::GpsCoordinateData(), value);
    }

    // An absent property converts to an empty string, as VT_EMPTY does.
    HRESULT STDMETHODCALLTYPE GetString(REFPROPERTYKEY key, LPWSTR* value) override {
        if (value == nullptr) return E_POINTER;
        *value = nullptr;
        std::string text;
        if (IsEqualPropertyKey(key, PKEY_GPS_LatitudeRef) ||
            IsEqualPropertyKey(key, PKEY_GPS_LongitudeRef)) {
            const HRESULT status = LoadMetadata();
            if (FAILED(status)) return status;
            text = IsEqualPropertyKey(key, PKEY_GPS_LatitudeRef) ? metadata_.latitude.reference
                                                                 : metadata_.longitude.reference;
        }
        return AllocateString(host::WideFromBytes(text), value);
    }

    // The rest of the interface is not used by photomap.
    HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetParent(IShellItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDisplayName(SIGDN, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributes(SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyStoreWithCreateObject(GETPROPERTYSTOREFLAGS, IUnknown*,
                                                               REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyStoreForKeys(const PROPERTYKEY*, UINT,
                                                      GETPROPERTYSTOREFLAGS, REFIID,
                                                      void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Update(IBindCtx*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCLSID(REFPROPERTYKEY, CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFileTime(REFPROPERTYKEY, FILETIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInt32(REFPROPERTYKEY, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUInt32(REFPROPERTYKEY, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUInt64(REFPROPERTYKEY, ULONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBool(REFPROPERTYKEY, BOOL*) override { return E_NOTIMPL; }

private:
    ~HostShellItem() = default;

    HRESULT LoadMetadata() {
        if (!loaded_) {
            loadStatus_ = host::ReadGpsMetadata(path_, &metadata_);
            loaded_ = true;
        }
        return loadStatus_;
    }

    ULONG references_ = 1;
    std::string path_;
    bool loaded_ = false;
    HRESULT loadStatus_ = S_OK;
    host::GpsMetadata metadata_;
};

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

// As on Windows, a name is a full path or a URI: the caller makes a typed
// path absolute first (GetFullPathNameW).
HRESULT PathFromParsingName(PCWSTR name, std::string* path) {
    const std::string bytes = host::BytesFromWide(name);
    if (HasFileScheme(bytes)) {
        return PathFromFileUri(bytes, path) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    }
    if (bytes.empty() || bytes[0] != '/') return E_INVALIDARG;
    *path = bytes;
    return S_OK;
}

}  // namespace

namespace host {

HRESULT ReadGpsMetadata(const std::string& path, GpsMetadata* metadata) {
    const UniqueFd picture = OpenPicture(path);
    if (!IsRegularFile(picture.Get())) return E_FAIL;
    return ReadConfined(picture.Get(), PictureParser{PrepareGpsParsing, ParseGpsMetadata},
                        metadata);
}

}  // namespace host

// Only regular files become items: a FIFO, a device or a directory is never
// opened, so nothing can block or be read from it.
extern "C" HRESULT WINAPI SHCreateItemFromParsingName(PCWSTR name, IBindCtx*, REFIID riid,
                                                      void** item) {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (name == nullptr) return E_INVALIDARG;

    std::string path;
    const HRESULT parsed = PathFromParsingName(name, &path);
    if (FAILED(parsed)) return parsed;
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (!S_ISREG(status.st_mode)) return E_INVALIDARG;

    auto* created = new (std::nothrow) HostShellItem(std::move(path));
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = created->QueryInterface(riid, item);
    created->Release();
    return result;
}
