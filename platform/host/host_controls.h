// Controls and records of the host stand-in, for tests only: they act out an
// older system (a library or an export taken away) and show what the program
// asked of the platform.
#pragma once

#include <string>
#include <vector>

#include "platform/host/windows.h"

namespace host {

// What the program asked of the platform since the last ResetRecords().
struct PlatformRecords {
    int coInitializeCalls = 0;
    int coUninitializeCalls = 0;
    int getModuleHandleCalls = 0;
    std::vector<std::wstring> loadedLibraries;  // every LoadLibraryW name, in order
    std::vector<std::string> lookups;           // every GetProcAddress name, "#N" for ordinals
    std::vector<std::wstring> messageTexts;     // every MessageBoxW text, in order
    std::vector<std::wstring> messageCaptions;  // "" where no caption was given
    std::vector<std::wstring> launchedFiles;    // every ShellExecuteW file, in order
};

PlatformRecords& Records();
void ResetRecords();

// When off, ShellExecuteW records the file and reports success without
// starting anything. On by default.
void SetLaunchEnabled(bool enabled);

// Every module and export present again, and only the libraries a Windows
// program imports ("shell32.dll", "ole32.dll") loaded.
void RestoreModules();
void RemoveModule(LPCWSTR name);
// Still present, but not in the process until LoadLibraryW loads it.
void UnloadModule(LPCWSTR name);
// `name` is an export name or MAKEINTRESOURCEA(ordinal).
void RemoveExport(LPCWSTR module, LPCSTR name);

}  // namespace host
