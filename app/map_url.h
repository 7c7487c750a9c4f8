// The map place URL for a position, and handing it to the browser.
#pragma once

#include <cstddef>

inline constexpr std::size_t kMapUrlCapacity = 1024;  // UTF-16 units, terminator included

// Writes "https://HOST/maps/place/LAT,LON", each coordinate as "%.8f", into
// `url`; returns the number of characters written. Every finite or
// non-finite double fits.
int FormatMapUrl(double latitude, double longitude, wchar_t (&url)[kMapUrlCapacity]);

// Hands the map place URL to the system's handler for web addresses. A failed
// launch is not reported.
void OpenMapAt(double latitude, double longitude);
