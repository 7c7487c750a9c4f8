// Shell and property-system functions looked up at run time instead of
// imported, so that the program starts on systems that lack them and can say
// what it needs. Each group is bound at most once per process.
#pragma once

#include <cstdint>

#include "platform/late_bound_names.h"
#include "platform/platform.h"

enum class BindState : std::int32_t {
    NotTried = 0,
    Bound = 1,
    Failed = -1,
};

using SHCreateItemFromParsingNameFunc = HRESULT(WINAPI*)(PCWSTR name, IBindCtx* context,
                                                         REFIID riid, void** item);

#define PHOTOMAP_TABLE_ENTRY(type, entry, name) type entry;

struct ShellFunctions {
    BindState state;
    PHOTOMAP_SHELL_FUNCTIONS(PHOTOMAP_TABLE_ENTRY)
};

struct PropsysFunctions {
    BindState state;
    PHOTOMAP_PROPSYS_FUNCTIONS(PHOTOMAP_TABLE_ENTRY)
};

#undef PHOTOMAP_TABLE_ENTRY

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
