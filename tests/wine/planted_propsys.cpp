// A Propsys.dll of the tests' own making, put beside a program to stand for
// one that someone planted there. It exports nothing; when a process loads
// it, it creates the file that PHOTOMAP_PLANTED_MARK names, so the test can
// see that it ran.
#include <windows.h>

namespace {

void LeaveMark() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"PHOTOMAP_PLANTED_MARK", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const HANDLE mark =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMark();
    return TRUE;
}
