#include "platform/host/picture/xmp.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

namespace host {

namespace {

// An XMP packet is a few KiB; one with a thumbnail some tens.
constexpr std::uint64_t kLargestPacket = 1u << 20;

// Reads a plain decimal number (digits, at most one point); nothing else.
bool ParseDecimal(const char* first, const char* last, double* number) {
    if (first == last) return false;
    for (const char* c = first; c != last; ++c) {
        if ((*c < '0' || *c > '9') && *c != '.') return false;
    }
    const auto result = std::from_chars(first, last, *number, std::chars_format::fixed);
    return result.ec == std::errc() && result.ptr == last && std::isfinite(*number);
}

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The text of the property `name`, as an attribute or as an element.
bool FindProperty(const std::string& packet, const std::string& name, std::string* text) {
    for (std::size_t at = packet.find(name); at != std::string::npos;
         at = packet.find(name, at + 1)) {
        const std::size_t after = at + name.size();
        if (after + 1 >= packet.size()) return false;
        const char quote = packet[after + 1];
        if (packet[after] == '=' && (quote == '"' || quote == '\'')) {
            const std::size_t end = packet.find(quote, after + 2);
            if (end == std::string::npos) return false;
            *text = Trimmed(packet.substr(after + 2, end - after - 2));
            return true;
        }
        if (at > 0 && packet[at - 1] == '<' && packet[after] == '>') {
            const std::size_t end = packet.find("</" + name + ">", after);
            if (end == std::string::npos) return false;
            *text = Trimmed(packet.substr(after + 1, end - after - 1));
            return true;
        }
    }
    return false;
}

bool ReadCoordinate(const std::string& packet, const std::string& name,
                    GpsCoordinateData* coordinate) {
    std::string text;
    return FindProperty(packet, name, &text) && ParseXmpCoordinate(text, coordinate);
}

}  // namespace

bool ReadXmpGps(const ByteView& view, GpsMetadata* position) {
    std::vector<unsigned char> bytes;
    if (view.Size() > kLargestPacket || !view.Append(0, view.Size(), &bytes)) return false;
    const std::string packet(bytes.begin(), bytes.end());
    GpsMetadata found;
    if (!ReadCoordinate(packet, "exif:GPSLatitude", &found.latitude) ||
        !ReadCoordinate(packet, "exif:GPSLongitude", &found.longitude)) {
        return false;
    }
    *position = std::move(found);
    return true;
}

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
