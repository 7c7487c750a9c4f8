#include "latebind/late_bound_table.h"

#include <cstddef>
#include <cwchar>

LateBoundFunctions LateBoundTable;

namespace {

// Stores the export `name` (a name or MAKEINTRESOURCEA ordinal) of `module`
// in `entry`; empty when the module or the export is missing.
template <typename Function>
void Resolve(HMODULE module, LPCSTR name, Function& entry) {
    entry = nullptr;
    if (module == nullptr) return;
    // Through void(*)() so that no cast between unrelated function types is needed.
    entry = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Loads the library `name` from the system folder. A bare name would be
// searched for in the program's own folder first, and a library of that name
// put beside the program (in Downloads, say) would run with the user's rights.
HMODULE LoadFromSystemFolder(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    const UINT folderLength = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t nameLength = std::wcslen(name);
    // Zero is a failure; MAX_PATH or more is the size the folder would need.
    if (folderLength == 0 || folderLength + 1 + nameLength >= MAX_PATH) return nullptr;
    path[folderLength] = L'\\';
    std::wmemcpy(path + folderLength + 1, name, nameLength + 1);
    return LoadLibraryW(path);
}

HMODULE FindOrLoad(const wchar_t* name) {
    const HMODULE module = GetModuleHandleW(name);
    return module != nullptr ? module : LoadFromSystemFolder(name);
}

bool AllShellEntriesBound(const ShellFunctions& f) {
#define PHOTOMAP_ENTRY_BOUND(type, entry, name) &&f.entry != nullptr
    return true PHOTOMAP_SHELL_FUNCTIONS(PHOTOMAP_ENTRY_BOUND);
#undef PHOTOMAP_ENTRY_BOUND
}

}  // namespace

// Looks up one entry of a group's list in `module`, into `f`.
#define PHOTOMAP_RESOLVE_ENTRY(type, entry, name) Resolve(module, name, f.entry);

bool BindShellFunctions() {
    ShellFunctions& f = LateBoundTable.shell;
    if (f.state != BindState::NotTried) return f.state == BindState::Bound;

    const HMODULE module = FindOrLoad(L"shell32.dll");
    PHOTOMAP_SHELL_FUNCTIONS(PHOTOMAP_RESOLVE_ENTRY)
    f.state = AllShellEntriesBound(f) ? BindState::Bound : BindState::Failed;

    BindPropsysFunctions();
    return f.state == BindState::Bound;
}

bool BindPropsysFunctions() {
    PropsysFunctions& f = LateBoundTable.propsys;
    if (f.state != BindState::NotTried) return f.state == BindState::Bound;

    const HMODULE module = FindOrLoad(L"Propsys.dll");
    if (module == nullptr) {
        // Systems before the property system still have this one function in
        // the COM library; it is looked up only if that library is loaded.
        f.state = BindState::Failed;
        Resolve(GetModuleHandleW(L"ole32.dll"), "PropVariantChangeType", f.PropVariantChangeType);
        return false;
    }

    PHOTOMAP_PROPSYS_FUNCTIONS(PHOTOMAP_RESOLVE_ENTRY)
    f.state = BindState::Bound;
    return true;
}

#undef PHOTOMAP_RESOLVE_ENTRY
