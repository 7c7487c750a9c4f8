#include "app/map_url.h"

#include <cwchar>

#include "platform/platform.h"

namespace {

constexpr wchar_t kMapUrlTemplate[] = L"https://www.google.com/maps/place/%.8f,%.8f";

// The longest "%.8f" of a double is 319 characters (sign, 309 digits, point,
// eight decimals); the URL must fit with its terminator and never be cut.
constexpr std::size_t kLongestCoordinate = 319;
constexpr std::size_t kTemplateLength = sizeof kMapUrlTemplate / sizeof(wchar_t) - 1;
constexpr std::size_t kLongestUrl =
    kTemplateLength - 2 * (sizeof L"%.8f" / sizeof(wchar_t) - 1) + 2 * kLongestCoordinate;
static_assert(kLongestUrl < kMapUrlCapacity, "the longest map URL must fit its buffer");

// "%.8f" writes a negated zero as "-0.00000000"; an exact zero has no side.
double WithoutNegativeZero(double coordinate) { return coordinate == 0.0 ? 0.0 : coordinate; }

}  // namespace

int FormatMapUrl(double latitude, double longitude, wchar_t (&url)[kMapUrlCapacity]) {
    return std::swprintf(url, kMapUrlCapacity, kMapUrlTemplate, WithoutNegativeZero(latitude),
                         WithoutNegativeZero(longitude));
}

void OpenMapAt(double latitude, double longitude) {
    wchar_t url[kMapUrlCapacity];
    if (FormatMapUrl(latitude, longitude, url) < 0) return;
    ShellExecuteW(nullptr, nullptr, url, nullptr, nullptr, SW_SHOWNORMAL);
}
