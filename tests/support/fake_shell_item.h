// A scripted IShellItem2: hands out chosen property values and reference
// strings, and records what it was asked, in order.
#pragma once

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

struct ScriptedValue {
    HRESULT status = S_OK;
    VARTYPE type = VT_EMPTY;
    std::vector<double> doubles;  // the scalar, or the elements of a VT_R8 vector
    std::vector<float> floats;    // the scalar, or the elements of a VT_R4 vector
    std::vector<LONG> longs;      // the elements of a VT_I4 vector
};

struct ScriptedString {
    HRESULT status = S_OK;
    std::optional<std::wstring> text;  // allocated and handed out, even with a failure status
};

class FakeShellItem final : public IShellItem2 {
public:
    std::map<std::pair<unsigned, DWORD>, ScriptedValue> values;
    std::map<std::pair<unsigned, DWORD>, ScriptedString> strings;
    std::vector<std::string> calls;  // "GetProperty <fmtid.Data1>", "GetString <fmtid.Data1>"
    int releases = 0;
    int stringsHandedOut = 0;

    static std::pair<unsigned, DWORD> Id(const PROPERTYKEY& key) {
        return {static_cast<unsigned>(key.fmtid.Data1), key.pid};
    }
    void SetValue(const PROPERTYKEY& key, ScriptedValue value) { values[Id(key)] = value; }
    void SetString(const PROPERTYKEY& key, ScriptedString text) { strings[Id(key)] = text; }

    HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key, PROPVARIANT* value) override {
        calls.push_back("GetProperty " + std::to_string(Id(key).first));
        std::memset(value, 0, sizeof *value);
        const auto found = values.find(Id(key));
        if (found == values.end()) return S_OK;
        const ScriptedValue& scripted = found->second;
        if (FAILED(scripted.status)) return scripted.status;
        value->vt = scripted.type;
        if (scripted.type == VT_R8) value->dblVal = scripted.doubles.at(0);
        if (scripted.type == VT_R4) value->fltVal = scripted.floats.at(0);
        if (scripted.type == (VT_VECTOR | VT_R8)) Fill(scripted.doubles, &value->cadbl);
        if (scripted.type == (VT_VECTOR | VT_R4)) Fill(scripted.floats, &value->caflt);
        if (scripted.type == (VT_VECTOR | VT_I4)) Fill(scripted.longs, &value->cal);
        return scripted.status;
    }

    HRESULT STDMETHODCALLTYPE GetString(REFPROPERTYKEY key, LPWSTR* value) override {
        calls.push_back("GetString " + std::to_string(Id(key).first));
        *value = nullptr;
        const auto found = strings.find(Id(key));
        if (found == strings.end()) return E_FAIL;
        if (found->second.text) {
            const std::wstring& text = *found->second.text;
            *value = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
            std::memcpy(*value, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
            ++stringsHandedOut;
        }
        return found->second.status;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override {
        ++releases;
        return 1;
    }

    // Not used by the reader.
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
    template <typename Element, typename Counted>
    static void Fill(const std::vector<Element>& elements, Counted* vector) {
        vector->cElems = static_cast<ULONG>(elements.size());
        vector->pElems =
            static_cast<Element*>(CoTaskMemAlloc(elements.size() * sizeof(Element) + 1));
        if (!elements.empty()) {
            std::memcpy(vector->pElems, elements.data(), elements.size() * sizeof(Element));
        }
    }
};
