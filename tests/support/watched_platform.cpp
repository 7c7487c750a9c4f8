#include "support/watched_platform.h"

#include <cstdint>
#include <cwctype>
#include <set>
#include <utility>

#include "support/late_bound_entries.h"

namespace {

struct Watched {
    watch::PlatformRecords records;
    std::set<std::wstring> removedModules;
    std::set<std::wstring> loadedModules;
    std::set<std::pair<std::wstring, std::string>> removedExports;
};

Watched& State() {
    static Watched state = [] {
        Watched fresh;
        fresh.loadedModules = {L"shell32.dll", L"ole32.dll"};
        return fresh;
    }();
    return state;
}

std::wstring Lowered(std::wstring name) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
    return name;
}

// The modules of the stand-in's table, by which a handle is told apart.
const wchar_t* const kModules[] = {L"shell32.dll", L"propsys.dll", L"ole32.dll"};

}  // namespace

// The stand-in's own entry points, which the wrappers hand on to.
extern "C" {
HRESULT WINAPI __real_CoInitialize(LPVOID reserved);
void WINAPI __real_CoUninitialize();
HMODULE WINAPI __real_LoadLibraryW(LPCWSTR name);
FARPROC WINAPI __real_GetProcAddress(HMODULE module, LPCSTR name);
int WINAPI __real_MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
HRESULT WINAPI __real_PropVariantClear(PROPVARIANT* value);
}

namespace {

// The lowered name of the module `handle` stands for; empty for none.
std::wstring ModuleNameOf(HMODULE handle) {
    if (handle == nullptr) return L"";
    for (const wchar_t* name : kModules) {
        if (__real_LoadLibraryW(name) == handle) return name;
    }
    return L"";
}

std::wstring FileName(LPCWSTR path) {
    const std::wstring whole = path;
    const std::size_t separator = whole.rfind(L'\\');
    return Lowered(separator == std::wstring::npos ? whole : whole.substr(separator + 1));
}

}  // namespace

namespace watch {

PlatformRecords& Records() { return State().records; }

void ResetRecords() { Records() = PlatformRecords(); }

void RestoreModules() {
    State().removedModules.clear();
    State().removedExports.clear();
    State().loadedModules = {L"shell32.dll", L"ole32.dll"};
}

void RemoveModule(LPCWSTR name) { State().removedModules.insert(Lowered(name)); }

void UnloadModule(LPCWSTR name) { State().loadedModules.erase(Lowered(name)); }

void RemoveExport(LPCWSTR module, LPCSTR name) {
    State().removedExports.insert({Lowered(module), LookupName(name)});
}

}  // namespace watch

// What the start-up code defines in photomap itself, which test binaries
// do not link.
int __argc = 0;
wchar_t** __wargv = nullptr;

extern "C" {

HRESULT WINAPI __wrap_CoInitialize(LPVOID reserved) {
    ++watch::Records().coInitializeCalls;
    return __real_CoInitialize(reserved);
}

void WINAPI __wrap_CoUninitialize() {
    ++watch::Records().coUninitializeCalls;
    __real_CoUninitialize();
}

HRESULT WINAPI __wrap_PropVariantClear(PROPVARIANT* value) {
    ++watch::Records().propVariantClears;
    return __real_PropVariantClear(value);
}

HMODULE WINAPI __wrap_GetModuleHandleW(LPCWSTR name) {
    ++watch::Records().getModuleHandleCalls;
    if (name == nullptr) return nullptr;
    const std::wstring module = Lowered(name);
    if (State().removedModules.count(module) != 0 || State().loadedModules.count(module) == 0) {
        return nullptr;
    }
    // By bare name the stand-in finds the module whether or not it is in.
    return __real_LoadLibraryW(name);
}

HMODULE WINAPI __wrap_LoadLibraryW(LPCWSTR name) {
    watch::Records().loadedLibraries.emplace_back(name != nullptr ? name : L"");
    if (name == nullptr || State().removedModules.count(FileName(name)) != 0) return nullptr;
    const HMODULE module = __real_LoadLibraryW(name);
    if (module != nullptr) State().loadedModules.insert(ModuleNameOf(module));
    return module;
}

FARPROC WINAPI __wrap_GetProcAddress(HMODULE module, LPCSTR name) {
    watch::Records().lookups.push_back(LookupName(name));
    const std::wstring moduleName = ModuleNameOf(module);
    if (State().removedModules.count(moduleName) != 0 ||
        State().removedExports.count({moduleName, LookupName(name)}) != 0) {
        return nullptr;
    }
    return __real_GetProcAddress(module, name);
}

int WINAPI __wrap_MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    watch::Records().messageTexts.emplace_back(text != nullptr ? text : L"");
    watch::Records().messageCaptions.emplace_back(caption != nullptr ? caption : L"");
    return __real_MessageBoxW(owner, text, caption, type);
}

// Recorded, never started: no test binary opens a browser.
HINSTANCE WINAPI __wrap_ShellExecuteW(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    watch::Records().launchedFiles.emplace_back(file != nullptr ? file : L"");
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(33));
}

}  // extern "C"
