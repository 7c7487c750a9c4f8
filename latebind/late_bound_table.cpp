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
    return f.SHCreateShellItem && f.SHCreateItemFromIDList && f.SHCreateShellItemArray &&
           f.SHCreateShellItemArrayFromIDLists && f.SHCreateItemFromParsingName &&
           f.SHParseDisplayName && f.SHGetIDListFromObject && f.Ordinal83 &&
           f.SHMultiFileProperties && f.SHCreateDataObject && f.Ordinal701 &&
           f.SHOpenFolderAndSelectItems && f.SHGetPathFromIDListEx;
}

}  // namespace

bool BindShellFunctions() {
    ShellFunctions& f = LateBoundTable.shell;
    if (f.state != BindState::NotTried) return f.state == BindState::Bound;

    const HMODULE shell32 = FindOrLoad(L"shell32.dll");
    Resolve(shell32, "SHCreateShellItem", f.SHCreateShellItem);
    Resolve(shell32, "SHCreateItemFromIDList", f.SHCreateItemFromIDList);
    Resolve(shell32, "SHCreateShellItemArray", f.SHCreateShellItemArray);
    Resolve(shell32, "SHCreateShellItemArrayFromIDLists", f.SHCreateShellItemArrayFromIDLists);
    Resolve(shell32, "SHCreateItemFromParsingName", f.SHCreateItemFromParsingName);
    Resolve(shell32, "SHParseDisplayName", f.SHParseDisplayName);
    Resolve(shell32, "SHGetIDListFromObject", f.SHGetIDListFromObject);
    Resolve(shell32, MAKEINTRESOURCEA(83), f.Ordinal83);
    Resolve(shell32, "SHMultiFileProperties", f.SHMultiFileProperties);
    Resolve(shell32, "SHCreateDataObject", f.SHCreateDataObject);
    Resolve(shell32, MAKEINTRESOURCEA(701), f.Ordinal701);
    Resolve(shell32, "SHOpenFolderAndSelectItems", f.SHOpenFolderAndSelectItems);
    Resolve(shell32, "SHGetPathFromIDListEx", f.SHGetPathFromIDListEx);
    f.state = AllShellEntriesBound(f) ? BindState::Bound : BindState::Failed;

    BindPropsysFunctions();
    return f.state == BindState::Bound;
}

bool BindPropsysFunctions() {
    PropsysFunctions& f = LateBoundTable.propsys;
    if (f.state != BindState::NotTried) return f.state == BindState::Bound;

    const HMODULE propsys = FindOrLoad(L"Propsys.dll");
    if (propsys == nullptr) {
        // Systems before the property system still have this one function in
        // the COM library; it is looked up only if that library is loaded.
        f.state = BindState::Failed;
        Resolve(GetModuleHandleW(L"ole32.dll"), "PropVariantChangeType", f.PropVariantChangeType);
        return false;
    }

    Resolve(propsys, "PropVariantToString", f.PropVariantToString);
    Resolve(propsys, "PropVariantCompareEx", f.PropVariantCompareEx);
    Resolve(propsys, "PropVariantChangeType", f.PropVariantChangeType);
    Resolve(propsys, "PSGetPropertySystem", f.PSGetPropertySystem);
    Resolve(propsys, "PSGetPropertyDescription", f.PSGetPropertyDescription);
    Resolve(propsys, "PSGetPropertyDescriptionByName", f.PSGetPropertyDescriptionByName);
    Resolve(propsys, "PSGetPropertyKeyFromName", f.PSGetPropertyKeyFromName);
    Resolve(propsys, "PSGetNameFromPropertyKey", f.PSGetNameFromPropertyKey);
    Resolve(propsys, "PSCreateMemoryPropertyStore", f.PSCreateMemoryPropertyStore);
    Resolve(propsys, "PSGetItemPropertyHandler", f.PSGetItemPropertyHandler);
    Resolve(propsys, "PropVariantToVariant", f.PropVariantToVariant);
    Resolve(propsys, "VariantToPropVariant", f.VariantToPropVariant);
    f.state = BindState::Bound;
    return true;
}
