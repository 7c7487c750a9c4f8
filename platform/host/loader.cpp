// The host's module loader: an in-process table of the libraries photomap
// looks up at run time, with their exports by name and by ordinal.
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/host/host_controls.h"
#include "platform/host/windows.h"

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
    const char* name;  // null for an export that has only an ordinal
    WORD ordinal;
    FARPROC address;
    bool present;
};

struct Module {
    const wchar_t* name;
    bool loadedAtStart;  // imported by the program, so in the process from the start
    std::vector<Export> exports;
    bool present;
    bool loaded;
};

Export Named(const char* name, WORD ordinal, FARPROC address = AsFarProc(NotCalledByPhotomap)) {
    return {name, ordinal, address, true};
}

std::vector<Module> MakeModules() {
    const FARPROC createItem = AsFarProc(SHCreateItemFromParsingName);
    return {
        {L"shell32.dll",
         true,
         {Named("SHCreateShellItem", 1), Named("SHCreateItemFromIDList", 2),
          Named("SHCreateShellItemArray", 3), Named("SHCreateShellItemArrayFromIDLists", 4),
          Named("SHCreateItemFromParsingName", 5, createItem), Named("SHParseDisplayName", 6),
          Named("SHGetIDListFromObject", 7), Named(nullptr, 83), Named("SHMultiFileProperties", 9),
          Named("SHCreateDataObject", 10), Named(nullptr, 701),
          Named("SHOpenFolderAndSelectItems", 12), Named("SHGetPathFromIDListEx", 13)},
         true,
         true},
        {L"Propsys.dll",
         false,
         {Named("PropVariantToString", 1), Named("PropVariantCompareEx", 2),
          Named("PropVariantChangeType", 3), Named("PSGetPropertySystem", 4),
          Named("PSGetPropertyDescription", 5), Named("PSGetPropertyDescriptionByName", 6),
          Named("PSGetPropertyKeyFromName", 7), Named("PSGetNameFromPropertyKey", 8),
          Named("PSCreateMemoryPropertyStore", 9), Named("PSGetItemPropertyHandler", 10),
          Named("PropVariantToVariant", 11), Named("VariantToPropVariant", 12)},
         true,
         false},
        {L"ole32.dll", true, {Named("PropVariantChangeType", 1)}, true, true},
    };
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
        if (module.present && wcscasecmp(module.name, name) == 0) return &module;
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
    if (IS_INTRESOURCE(name)) return entry.ordinal == reinterpret_cast<std::uintptr_t>(name);
    return entry.name != nullptr && std::strcmp(entry.name, name) == 0;
}

}  // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
    ++host::Records().getModuleHandleCalls;
    Module* module = FindModule(name);
    return module != nullptr && module->loaded ? HandleOf(module) : nullptr;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    host::Records().loadedLibraries.emplace_back(name != nullptr ? name : L"");
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
    host::Records().lookups.push_back(
        IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name))
                             : std::string(name != nullptr ? name : ""));
    if (handle == nullptr || name == nullptr) return nullptr;
    for (const Export& entry : reinterpret_cast<Module*>(handle)->exports) {
        if (entry.present && Matches(entry, name)) return entry.address;
    }
    return nullptr;
}

}  // extern "C"

namespace host {

void RestoreModules() { Modules() = MakeModules(); }

void RemoveModule(LPCWSTR name) {
    if (Module* module = FindModule(name)) module->present = false;
}

void UnloadModule(LPCWSTR name) {
    if (Module* module = FindModule(name)) module->loaded = false;
}

void RemoveExport(LPCWSTR moduleName, LPCSTR name) {
    Module* module = FindModule(moduleName);
    if (module == nullptr) return;
    for (Export& entry : module->exports) {
        if (Matches(entry, name)) entry.present = false;
    }
}

}  // namespace host
