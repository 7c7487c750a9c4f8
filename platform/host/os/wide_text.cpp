#include "platform/host/os/wide_text.h"

#include <cstdint>

namespace host {

namespace {

constexpr char32_t kEscapeBase = 0xDC00;  // an undecodable byte b becomes U+DC00 + b

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes one UTF-8 sequence at bytes[at]; returns its length, or 0 when the
// bytes there are no valid sequence (overlong forms and surrogates included).
std::size_t DecodeSequence(const std::string& bytes, std::size_t at, char32_t* codePoint) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length;
    char32_t value;
    char32_t smallest;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + i]);
        if (!IsContinuation(next)) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return length;
}

void AppendUtf8(char32_t codePoint, std::string* out) {
    if (codePoint < 0x80) {
        out->push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

}  // namespace

std::wstring WideFromBytes(const std::string& bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        char32_t codePoint = 0;
        const std::size_t length = DecodeSequence(bytes, at, &codePoint);
        if (length == 0) {
            text.push_back(
                static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[at])));
            ++at;
        } else {
            text.push_back(static_cast<wchar_t>(codePoint));
            at += length;
        }
    }
    return text;
}

std::string BytesFromWide(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t unit : text) {
        const auto codePoint = static_cast<char32_t>(unit);
        if (codePoint >= kEscapeBase + 0x80 && codePoint <= kEscapeBase + 0xFF) {
            bytes.push_back(static_cast<char>(codePoint - kEscapeBase));
        } else if (codePoint <= 0x10FFFF) {
            AppendUtf8(codePoint, &bytes);
        }
    }
    return bytes;
}

}  // namespace host
