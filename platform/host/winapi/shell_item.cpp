// The host's shell item: a regular file whose GPS properties are read
// once, on the first property asked for (picture_metadata.h).
#include <sys/stat.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/host/os/wide_text.h"
#include "platform/host/winapi/file_uri.h"
#include "platform/host/winapi/picture_metadata.h"
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

}  // namespace

// Only regular files become items: a FIFO, a device or a directory is never
// opened, so nothing can block or be read from it.
extern "C" HRESULT WINAPI SHCreateItemFromParsingName(PCWSTR name, IBindCtx*, REFIID riid,
                                                      void** item) {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (name == nullptr) return E_INVALIDARG;

    std::string path;
    const HRESULT parsed = host::PathFromParsingName(name, &path);
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
