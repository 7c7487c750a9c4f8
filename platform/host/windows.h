// The part of the Windows API that photomap calls, for systems without
// Windows. Names and signatures follow the Windows SDK; text is wchar_t, as
// on Windows, so wide literals and the wide formatted print work unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using SCODE = std::int32_t;
using HRESULT = std::int32_t;
using ULONGLONG = std::uint64_t;
using INT_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using VARTYPE = std::uint16_t;
using PROPID = ULONG;
using SFGAOF = ULONG;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using PWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using PCWSTR = const wchar_t*;
using LPCSTR = const char*;
using LPVOID = void*;

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HWND__;
using HWND = HWND__*;
using FARPROC = INT_PTR(WINAPI*)();

// Status codes.
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_NAME 123L
#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x)&0x0000FFFF) | (7 << 16) | 0x80000000)))

#define MAX_PATH 260
#define MAKEINTRESOURCEA(i) ((LPCSTR)((std::uintptr_t)((WORD)(i))))
#define IS_INTRESOURCE(p) ((((std::uintptr_t)(p)) >> 16) == 0)

// Message boxes and shell execution.
#define MB_OK 0x00000000L
#define MB_ICONERROR 0x00000010L
#define IDOK 1
#define SW_SHOWNORMAL 1

// COM identifiers.
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFGUID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

struct PROPERTYKEY {
    GUID fmtid;
    DWORD pid;
};
using REFPROPERTYKEY = const PROPERTYKEY&;

inline bool IsEqualPropertyKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
    return a.pid == b.pid && a.fmtid == b.fmtid;
}

// Tagged property values.
enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_FILETIME = 64,
    VT_VECTOR = 0x1000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

template <typename T>
struct CountedArray {
    ULONG cElems;
    T* pElems;
};

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        char cVal;
        BYTE bVal;
        short iVal;
        WORD uiVal;
        LONG lVal;
        ULONG ulVal;
        int intVal;
        UINT uintVal;
        std::int64_t hVal;
        float fltVal;
        double dblVal;
        SCODE scode;
        char* pszVal;
        wchar_t* pwszVal;
        CountedArray<float> caflt;
        CountedArray<double> cadbl;
        CountedArray<LONG> cal;
    };
};
using REFPROPVARIANT = const PROPVARIANT&;

// COM interfaces. The declarations keep the Windows method order and
// signatures so that the same classes implement them on both platforms.
struct IBindCtx;
struct IPropertyStore;
struct IPropertyDescriptionList;

enum SIGDN : int { SIGDN_NORMALDISPLAY = 0, SIGDN_FILESYSPATH = (int)0x80058000 };
enum GETPROPERTYSTOREFLAGS : int { GPS_DEFAULT = 0 };
using SICHINTF = DWORD;

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IShellItem : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx* context, REFGUID handler, REFIID riid,
                                                    void** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParent(IShellItem** parent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDisplayName(SIGDN form, LPWSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributes(SFGAOF mask, SFGAOF* attributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compare(IShellItem* other, SICHINTF hint, int* order) = 0;

protected:
    ~IShellItem() = default;
};

struct IShellItem2 : IShellItem {
    virtual HRESULT STDMETHODCALLTYPE GetPropertyStore(GETPROPERTYSTOREFLAGS flags, REFIID riid,
                                                       void** store) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyStoreWithCreateObject(GETPROPERTYSTOREFLAGS flags,
                                                                       IUnknown* createObject,
                                                                       REFIID riid,
                                                                       void** store) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyStoreForKeys(const PROPERTYKEY* keys, UINT count,
                                                              GETPROPERTYSTOREFLAGS flags,
                                                              REFIID riid, void** store) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyDescriptionList(REFPROPERTYKEY key, REFIID riid,
                                                                 void** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE Update(IBindCtx* context) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key, PROPVARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCLSID(REFPROPERTYKEY key, CLSID* clsid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFileTime(REFPROPERTYKEY key, FILETIME* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInt32(REFPROPERTYKEY key, int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetString(REFPROPERTYKEY key, LPWSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUInt32(REFPROPERTYKEY key, ULONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUInt64(REFPROPERTYKEY key, ULONGLONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBool(REFPROPERTYKEY key, BOOL* value) = 0;

protected:
    ~IShellItem2() = default;
};

extern "C" {
extern const IID IID_IUnknown;
extern const IID IID_IShellItem;
extern const IID IID_IShellItem2;

// ole32
HRESULT WINAPI CoInitialize(LPVOID reserved);
void WINAPI CoUninitialize();
LPVOID WINAPI CoTaskMemAlloc(SIZE_T size);
void WINAPI CoTaskMemFree(LPVOID memory);
HRESULT WINAPI PropVariantClear(PROPVARIANT* value);

// kernel32
HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
HMODULE WINAPI LoadLibraryW(LPCWSTR name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);
DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* filePart);

// shell32 (imported by the program)
HINSTANCE WINAPI ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                               LPCWSTR directory, INT show);

// user32
int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
}

// The wide argument vector that the start-up code builds before wWinMain.
extern int __argc;
extern wchar_t** __wargv;

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine,
                               int show);
