// COM basics of the host stand-in: apartment calls, task memory and
// PROPVARIANT release.
#include <cstdlib>
#include <cstring>

#include "platform/host/windows.h"

namespace {

// Scalar types whose value is held in the PROPVARIANT itself.
bool HoldsNoMemory(VARTYPE type) {
    return (type <= VT_DATE) || type == VT_ERROR || type == VT_BOOL ||
           (type >= VT_I1 && type <= VT_UINT) || type == VT_FILETIME;
}

}  // namespace

extern "C" {

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellItem = {
    0x43826D1E, 0xE718, 0x42EE, {0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE}};
const IID IID_IShellItem2 = {
    0x7E9FB0D3, 0x919F, 0x4307, {0xAB, 0x2E, 0x9B, 0x18, 0x60, 0x31, 0x0C, 0x93}};

// One thread, no apartment to set up.
HRESULT WINAPI CoInitialize(LPVOID) { return S_OK; }

void WINAPI CoUninitialize() {}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T size) { return std::malloc(size); }

void WINAPI CoTaskMemFree(LPVOID memory) { std::free(memory); }

// The one list of what a value owns. A by-reference value points at memory
// its owner keeps, so, as on Windows, there is nothing to free.
HRESULT WINAPI PropVariantClear(PROPVARIANT* value) {
    if (value == nullptr) return E_INVALIDARG;
    const VARTYPE type = value->vt;
    if (type & VT_BYREF) {
        // nothing to free
    } else if (type & VT_VECTOR) {
        // Vectors of plain numbers keep their elements in one block.
        if (!HoldsNoMemory(type & VT_TYPEMASK)) return DISP_E_BADVARTYPE;
        CoTaskMemFree(value->cadbl.pElems);
    } else if (type == VT_LPWSTR || type == VT_LPSTR) {
        CoTaskMemFree(value->pwszVal);
    } else if (!HoldsNoMemory(type)) {
        return DISP_E_BADVARTYPE;
    }
    std::memset(value, 0, sizeof *value);
    value->vt = VT_EMPTY;
    return S_OK;
}

}  // extern "C"
