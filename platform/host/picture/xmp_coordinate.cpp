#include "platform/host/picture/xmp_coordinate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace host {

namespace {

// Reads a plain decimal number (digits, at most one point); nothing else.
bool ParseDecimal(const char* first, const char* last, double* number) {
    if (first == last) return false;
    for (const char* c = first; c != last; ++c) {
        if ((*c < '0' || *c > '9') && *c != '.') return false;
    }
    const auto result = std::from_chars(first, last, *number, std::chars_format::fixed);
    return result.ec == std::errc() && result.ptr == last && std::isfinite(*number);
}

}  // namespace

bool ParseXmpCoordinate(const std::string& text, GpsCoordinateData* coordinate) {
    if (text.size() < 2) return false;
    const char letter = text.back();
    if (letter != 'N' && letter != 'S' && letter != 'E' && letter != 'W') return false;

    std::vector<double> parts;
    const char* first = text.data();
    const char* const end = text.data() + text.size() - 1;
    while (true) {
        const char* comma = std::find(first, end, ',');
        double number = 0.0;
        if (!ParseDecimal(first, comma, &number)) return false;
        parts.push_back(number);
        if (comma == end) break;
        first = comma + 1;
    }
    // "DDD,MM,SSk" or "DDD,MM.mmk"
    if (parts.size() != 2 && parts.size() != 3) return false;
    coordinate->present = true;
    coordinate->parts = std::move(parts);
    coordinate->reference = std::string(1, letter);
    return true;
}

}  // namespace host
