// The platform as the host test binaries see it: the stand-in's entry points
// that the program calls are wrapped (the linker's --wrap, in test binaries
// only), so that tests can see what was asked of the platform and act out an
// older system. ShellExecuteW is only recorded here, never carried out.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace watch {

// What the program asked of the platform since the last ResetRecords().
struct PlatformRecords {
    int coInitializeCalls = 0;
    int coUninitializeCalls = 0;
    int getModuleHandleCalls = 0;
    std::vector<std::wstring> loadedLibraries;  // every LoadLibraryW name, in order
    std::vector<std::string> lookups;        // every GetProcAddress name, as LookupName writes it
    std::vector<std::wstring> messageTexts;  // every MessageBoxW text, in order
    std::vector<std::wstring> messageCaptions;  // "" where no caption was given
    std::vector<std::wstring> launchedFiles;    // every ShellExecuteW file, in order
    int propVariantClears = 0;
};

PlatformRecords& Records();
void ResetRecords();

// Every module and export present again, and only the libraries a Windows
// program imports ("shell32.dll", "ole32.dll") loaded.
void RestoreModules();
void RemoveModule(LPCWSTR name);
// Still present, but not in the process until LoadLibraryW loads it.
void UnloadModule(LPCWSTR name);
// `name` is an export name or MAKEINTRESOURCEA(ordinal).
void RemoveExport(LPCWSTR module, LPCSTR name);

}  // namespace watch
