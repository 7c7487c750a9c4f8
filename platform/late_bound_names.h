// The functions that photomap looks up at run time, in lookup order, each
// as X(type, entry, export): the entry's function type, its name in the
// table, and what GetProcAddress is given (a name or an ordinal). The table,
// its binding, the host's export table and the tests all come from these two
// lists.
//
// photomap calls only SHCreateItemFromParsingName. The others are looked up
// and kept because together they are the shell and property system of
// Windows Vista and later: the shell group counts as bound only when every
// one of its entries resolves, and the table is where the program finds
// them when it needs one.
#pragma once

#define PHOTOMAP_SHELL_FUNCTIONS(X)                                                                \
    X(FARPROC, SHCreateShellItem, "SHCreateShellItem")                                             \
    X(FARPROC, SHCreateItemFromIDList, "SHCreateItemFromIDList")                                   \
    X(FARPROC, SHCreateShellItemArray, "SHCreateShellItemArray")                                   \
    X(FARPROC, SHCreateShellItemArrayFromIDLists, "SHCreateShellItemArrayFromIDLists")             \
    X(SHCreateItemFromParsingNameFunc, SHCreateItemFromParsingName, "SHCreateItemFromParsingName") \
    X(FARPROC, SHParseDisplayName, "SHParseDisplayName")                                           \
    X(FARPROC, SHGetIDListFromObject, "SHGetIDListFromObject")                                     \
    X(FARPROC, Ordinal83, MAKEINTRESOURCEA(83))                                                    \
    X(FARPROC, SHMultiFileProperties, "SHMultiFileProperties")                                     \
    X(FARPROC, SHCreateDataObject, "SHCreateDataObject")                                           \
    X(FARPROC, Ordinal701, MAKEINTRESOURCEA(701))                                                  \
    X(FARPROC, SHOpenFolderAndSelectItems, "SHOpenFolderAndSelectItems")                           \
    X(FARPROC, SHGetPathFromIDListEx, "SHGetPathFromIDListEx")

#define PHOTOMAP_PROPSYS_FUNCTIONS(X)                                            \
    X(FARPROC, PropVariantToString, "PropVariantToString")                       \
    X(FARPROC, PropVariantCompareEx, "PropVariantCompareEx")                     \
    X(FARPROC, PropVariantChangeType, "PropVariantChangeType")                   \
    X(FARPROC, PSGetPropertySystem, "PSGetPropertySystem")                       \
    X(FARPROC, PSGetPropertyDescription, "PSGetPropertyDescription")             \
    X(FARPROC, PSGetPropertyDescriptionByName, "PSGetPropertyDescriptionByName") \
    X(FARPROC, PSGetPropertyKeyFromName, "PSGetPropertyKeyFromName")             \
    X(FARPROC, PSGetNameFromPropertyKey, "PSGetNameFromPropertyKey")             \
    X(FARPROC, PSCreateMemoryPropertyStore, "PSCreateMemoryPropertyStore")       \
    X(FARPROC, PSGetItemPropertyHandler, "PSGetItemPropertyHandler")             \
    X(FARPROC, PropVariantToVariant, "PropVariantToVariant")                     \
    X(FARPROC, VariantToPropVariant, "VariantToPropVariant")
