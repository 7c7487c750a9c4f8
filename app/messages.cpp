#include "app/messages.h"

#include "platform/platform.h"

void ShowError(const wchar_t* text) { MessageBoxW(nullptr, text, nullptr, MB_OK | MB_ICONERROR); }
