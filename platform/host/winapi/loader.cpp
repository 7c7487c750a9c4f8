// The host's module loader: an in-process table of the libraries photomap
// looks up at run time, with their exports by name and by ordinal.
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/host/windows.h"
#include "platform/late_bound_names.h"

extern "C" HRESULT WINAPI SHCreateItemFromParsingName(PCWSTR name, IBindCtx* context, REFIID riid,
                                                      void** item);

namespace {

// Stands for every export that photomap binds but never calls.
INT_PTR WINAPI NotCalledByPhotomap() { return E_NOTIMPL; }

template <typename Function>
FARPROC AsFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

struct Export {
    LPCSTR name;  // a name, or MAKEINTRESOURCEA(ordinal)
    FARPROC address;
};

struct Module {
    const wchar_t* name;
    std::vector<Export> exports;
    bool loaded;  // the program imports shell32 and ole32, so they are in from the start
};

// Every export that photomap binds; only the one it calls does something.
FARPROC StandIn(LPCSTR name) {
    const bool called =
        !IS_INTRESOURCE(name) && std::strcmp(name, "SHCreateItemFromParsingName") == 0;
    return called ? AsFarProc(SHCreateItemFromParsingName) : AsFarProc(NotCalledByPhotomap);
}

std::vector<Module> MakeModules() {
#define PHOTOMAP_EXPORT(type, entry, name) Export{name, StandIn(name)},
    return {
        {L"shell32.dll", {PHOTOMAP_SHELL_FUNCTIONS(PHOTOMAP_EXPORT)}, true},
        {L"Propsys.dll", {PHOTOMAP_PROPSYS_FUNCTIONS(PHOTOMAP_EXPORT)}, false},
        {L"ole32.dll", {Export{"PropVariantChangeType", StandIn("PropVariantChangeType")}}, true},
    };
#undef PHOTOMAP_EXPORT
}

std::vector<Module>& Modules() {
    static std::vector<Module> modules = MakeModules();
    return modules;
}

// Where the stand-in's modules live, written as on Windows: the program joins
// it with a backslash and a library's name.
constexpr const wchar_t kSystemFolder[] = L"C:\\Windows\\system32";

Module* FindModule(LPCWSTR name) {
    if (name == nullptr) return nullptr;
    for (Module& module : Modules()) {
        if (wcscasecmp(module.name, name) == 0) return &module;
    }
    return nullptr;
}

// A bare name, or a path whose folder is the system folder; a library
// anywhere else is not found.
Module* FindModuleFile(LPCWSTR path) {
    if (path == nullptr) return nullptr;
    const wchar_t* separator = std::wcsrchr(path, L'\\');
    if (separator == nullptr) return FindModule(path);
    const std::wstring folder(path, separator);
    return wcscasecmp(folder.c_str(), kSystemFolder) == 0 ? FindModule(separator + 1) : nullptr;
}

HMODULE HandleOf(Module* module) { return reinterpret_cast<HMODULE>(module); }

bool Matches(const Export& entry, LPCSTR name) {
    if (IS_INTRESOURCE(name) || IS_INTRESOURCE(entry.name)) return entry.name == name;
    return std::strcmp(entry.name, name) == 0;
}

}  // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
    Module* module = FindModule(name);
    return module != nullptr && module->loaded ? HandleOf(module) : nullptr;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    Module* module = FindModuleFile(name);
    if (module == nullptr) return nullptr;
    module->loaded = true;
    return HandleOf(module);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    const UINT length = static_cast<UINT>(std::wcslen(kSystemFolder));
    // Too small a buffer gets the size it needs, terminator included.
    if (buffer == nullptr || size <= length) return length + 1;
    std::wmemcpy(buffer, kSystemFolder, length + 1);
    return length;
}

FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name) {
    if (handle == nullptr || name == nullptr) return nullptr;
    for (const Export& entry : reinterpret_cast<Module*>(handle)->exports) {
        if (Matches(entry, name)) return entry.address;
    }
    return nullptr;
}

}  // extern "C"
