// Shell and property-system functions looked up at run time instead of
// imported, so that the program starts on systems that lack them and can say
// what it needs. Each group is bound at most once per process.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum class BindState : std::int32_t {
    NotTried = 0,
    Bound = 1,
    Failed = -1,
};

using SHCreateItemFromParsingNameFunc = HRESULT(WINAPI*)(PCWSTR name, IBindCtx* context,
                                                         REFIID riid, void** item);

struct ShellFunctions {
    BindState state;
    FARPROC SHCreateShellItem;
    FARPROC SHCreateItemFromIDList;
    FARPROC SHCreateShellItemArray;
    FARPROC SHCreateShellItemArrayFromIDLists;
    SHCreateItemFromParsingNameFunc SHCreateItemFromParsingName;
    FARPROC SHParseDisplayName;
    FARPROC SHGetIDListFromObject;
    FARPROC Ordinal83;
    FARPROC SHMultiFileProperties;
    FARPROC SHCreateDataObject;
    FARPROC Ordinal701;
    FARPROC SHOpenFolderAndSelectItems;
    FARPROC SHGetPathFromIDListEx;
};

struct PropsysFunctions {
    BindState state;
    FARPROC PropVariantToString;
    FARPROC PropVariantCompareEx;
    FARPROC PropVariantChangeType;
    FARPROC PSGetPropertySystem;
    FARPROC PSGetPropertyDescription;
    FARPROC PSGetPropertyDescriptionByName;
    FARPROC PSGetPropertyKeyFromName;
    FARPROC PSGetNameFromPropertyKey;
    FARPROC PSCreateMemoryPropertyStore;
    FARPROC PSGetItemPropertyHandler;
    FARPROC PropVariantToVariant;
    FARPROC VariantToPropVariant;
};

struct LateBoundFunctions {
    ShellFunctions shell;
    PropsysFunctions propsys;
};

// Process-wide, zeroed at start: both groups NotTried, every entry empty.
extern LateBoundFunctions LateBoundTable;

// Binds the shell group from "shell32.dll" (Bound only when all 13 entries
// resolve), then the property-system group. A library that is not yet in the
// process is loaded from the system folder only, never found by bare name.
// Answers whether the shell group is Bound; later calls answer from the
// stored state.
bool BindShellFunctions();

// Binds the property-system group from "Propsys.dll": Bound as soon as the
// library is there. Answers whether the group is Bound; later calls answer
// from the stored state.
bool BindPropsysFunctions();
