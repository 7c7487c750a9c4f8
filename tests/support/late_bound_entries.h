// The entries of each late-bound group, and the lookups that bind them, in
// lookup order, from the program's own lists.
#pragma once

#include <string>
#include <vector>

#include "latebind/late_bound_table.h"

template <typename Function>
FARPROC AsFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// How GetProcAddress is asked for `name`: the name, or "#N" for an ordinal.
inline std::string LookupName(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name));
    return name != nullptr ? name : "";
}

#define PHOTOMAP_TEST_ENTRY(type, entry, name) AsFarProc(f.entry),
#define PHOTOMAP_TEST_LOOKUP(type, entry, name) LookupName(name),

inline std::vector<FARPROC> ShellEntries() {
    const ShellFunctions& f = LateBoundTable.shell;
    return {PHOTOMAP_SHELL_FUNCTIONS(PHOTOMAP_TEST_ENTRY)};
}

inline std::vector<FARPROC> PropsysEntries() {
    const PropsysFunctions& f = LateBoundTable.propsys;
    return {PHOTOMAP_PROPSYS_FUNCTIONS(PHOTOMAP_TEST_ENTRY)};
}

inline std::vector<std::string> ShellLookups() {
    return {PHOTOMAP_SHELL_FUNCTIONS(PHOTOMAP_TEST_LOOKUP)};
}

inline std::vector<std::string> PropsysLookups() {
    return {PHOTOMAP_PROPSYS_FUNCTIONS(PHOTOMAP_TEST_LOOKUP)};
}

#undef PHOTOMAP_TEST_ENTRY
#undef PHOTOMAP_TEST_LOOKUP

inline int CountEmpty(const std::vector<FARPROC>& entries) {
    int empty = 0;
    for (FARPROC entry : entries) empty += entry == nullptr;
    return empty;
}
