// The entries of each late-bound group as a list, in lookup order.
#pragma once

#include <vector>

#include "latebind/late_bound_table.h"

inline std::vector<FARPROC> ShellEntries() {
    const ShellFunctions& f = LateBoundTable.shell;
    return {f.SHCreateShellItem,
            f.SHCreateItemFromIDList,
            f.SHCreateShellItemArray,
            f.SHCreateShellItemArrayFromIDLists,
            reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f.SHCreateItemFromParsingName)),
            f.SHParseDisplayName,
            f.SHGetIDListFromObject,
            f.Ordinal83,
            f.SHMultiFileProperties,
            f.SHCreateDataObject,
            f.Ordinal701,
            f.SHOpenFolderAndSelectItems,
            f.SHGetPathFromIDListEx};
}

inline std::vector<FARPROC> PropsysEntries() {
    const PropsysFunctions& f = LateBoundTable.propsys;
    return {
        f.PropVariantToString,      f.PropVariantCompareEx,     f.PropVariantChangeType,
        f.PSGetPropertySystem,      f.PSGetPropertyDescription, f.PSGetPropertyDescriptionByName,
        f.PSGetPropertyKeyFromName, f.PSGetNameFromPropertyKey, f.PSCreateMemoryPropertyStore,
        f.PSGetItemPropertyHandler, f.PropVariantToVariant,     f.VariantToPropVariant};
}

inline int CountEmpty(const std::vector<FARPROC>& entries) {
    int empty = 0;
    for (FARPROC entry : entries) empty += entry == nullptr;
    return empty;
}
