// The two things photomap can say to its user.
#pragma once

// The system has no property system (older than Windows Vista).
inline constexpr wchar_t kNeedsVistaMessage[] = L"This program requires windows Vista or later";
// Anything after that went wrong: arguments, the file, or its GPS data.
inline constexpr wchar_t kSupplyPictureMessage[] =
    L"Please supply a JPG picture with GPS information as argument";

// Modal error box with the platform's default caption.
void ShowError(const wchar_t* text);
