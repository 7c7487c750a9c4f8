// PNG: one walk over the chunks, taking the position from the first that
// holds one: an eXIf chunk, or a raw Exif profile (hex text in a tEXt,
// zTXt or iTXt chunk, as ImageMagick writes it).
#include <zlib.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/picture/readers.h"

namespace host {

namespace {

// Chunks walked: each is a 12-byte header read, whatever lies in it; a
// 1 GB PNG in 8 KiB IDAT chunks has 131072.
constexpr std::uint64_t kMostChunks = std::uint64_t(1) << 20;
// A raw profile's chunk, the text inflated from it, and the bytes its hex
// digits give: an Exif block with a thumbnail is some tens of KiB.
constexpr std::uint32_t kLargestProfileChunk = 8u << 20;
constexpr std::size_t kLargestInflatedText = 4u << 20;
constexpr std::uint32_t kLargestRawProfile = 2u << 20;
constexpr std::size_t kMostNameLength = 32;
constexpr int kMostCountDigits = 8;

// A text chunk's data, read into memory.
struct TextChunk {
    std::uint32_t type = 0;
    const unsigned char* data = nullptr;
    std::uint32_t size = 0;
};

constexpr std::uint32_t ChunkType(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

bool IsWhitespace(unsigned char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Inflates a zlib stream, refusing output beyond kLargestInflatedText. The
// output grows as the stream gives it, so a small stream costs little.
bool Inflate(const unsigned char* data, std::size_t size, std::vector<unsigned char>* out) {
    constexpr std::size_t kStep = 64u << 10;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    out->clear();
    int status = Z_OK;
    while (status == Z_OK && out->size() <= kLargestInflatedText) {
        const std::size_t at = out->size();
        out->resize(at + kStep);
        stream.next_out = out->data() + at;
        stream.avail_out = static_cast<uInt>(kStep);
        status = inflate(&stream, Z_NO_FLUSH);
        out->resize(at + kStep - stream.avail_out);
        if (status == Z_BUF_ERROR && stream.avail_out != 0) break;  // the stream ends early
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && out->size() <= kLargestInflatedText;
}

// The text of a tEXt, zTXt or iTXt chunk keyed as a raw Exif profile.
bool ProfileText(const TextChunk& chunk, std::vector<unsigned char>* text) {
    const unsigned char* end = chunk.data + chunk.size;
    const auto* nul = static_cast<const unsigned char*>(std::memchr(chunk.data, 0, chunk.size));
    if (nul == nullptr) return false;
    const std::string keyword(chunk.data, nul);
    if (keyword != "Raw profile type exif" && keyword != "Raw profile type APP1") return false;
    const unsigned char* rest = nul + 1;
    if (chunk.type == ChunkType("tEXt")) {
        text->assign(rest, end);
        return true;
    }
    if (chunk.type == ChunkType("zTXt")) {
        return rest < end && rest[0] == 0 && Inflate(rest + 1, end - rest - 1, text);
    }
    // iTXt: compression flag and method, language tag, translated keyword.
    if (end - rest < 2 || rest[1] != 0) return false;
    const bool compressed = rest[0] == 1;
    const unsigned char* cursor = rest + 2;
    for (int skipped = 0; skipped < 2; ++skipped) {
        cursor = static_cast<const unsigned char*>(std::memchr(cursor, 0, end - cursor));
        if (cursor == nullptr) return false;
        ++cursor;
    }
    if (!compressed) {
        text->assign(cursor, end);
        return true;
    }
    return Inflate(cursor, end - cursor, text);
}

bool IsTextChunk(std::uint32_t type) {
    return type == ChunkType("tEXt") || type == ChunkType("zTXt") || type == ChunkType("iTXt");
}

// The position in a text chunk's raw Exif profile, if it is one.
bool ReadRawProfileGps(const ByteView& file, std::uint64_t at, std::uint32_t type,
                       std::uint32_t size, GpsMetadata* position) {
    std::vector<unsigned char> data, text, bytes;
    if (size > kLargestProfileChunk || !file.Append(at, size, &data)) return false;
    if (!ProfileText(TextChunk{type, data.data(), size}, &text) ||
        !DecodeRawProfileText(text.data(), text.size(), &bytes)) {
        return false;
    }
    const MemorySource profile(std::move(bytes));
    return ReadExifBlockGps(ByteView(profile), position);
}

}  // namespace

bool DecodeRawProfileText(const unsigned char* text, std::size_t size,
                          std::vector<unsigned char>* bytes) {
    const unsigned char* at = text;
    const unsigned char* const end = text + size;
    while (at != end && *at == '\n') ++at;
    const unsigned char* name = at;
    while (at != end && std::isalnum(*at) && std::size_t(at - name) < kMostNameLength) ++at;
    if (at == name || at == end || *at++ != '\n') return false;
    while (at != end && *at == ' ') ++at;
    // The stated count is only a hint: some writers state fewer bytes than
    // their digits give, and the TIFF decoder checks what they hold.
    int digits = 0;
    while (at != end && *at >= '0' && *at <= '9' && digits < kMostCountDigits) ++at, ++digits;
    if (digits == 0 || at == end || *at++ != '\n') return false;
    bytes->clear();
    int high = -1;
    for (; at != end; ++at) {
        if (IsWhitespace(*at)) continue;
        const int nibble = HexValue(*at);
        if (nibble < 0 || bytes->size() == kLargestRawProfile) return false;
        if (high < 0) {
            high = nibble;
        } else {
            bytes->push_back(static_cast<unsigned char>(high << 4 | nibble));
            high = -1;
        }
    }
    return high < 0 && !bytes->empty();
}

bool ReadPngGps(const ByteView& file, GpsMetadata* position) {
    std::uint64_t at = 8;  // past the signature
    int profiles = 0;
    for (std::uint64_t chunk = 0; chunk < kMostChunks; ++chunk) {
        std::uint64_t size = 0, type = 0;
        // A chunk cut short ends the walk: a file cut short keeps what came before.
        if (!file.Read(at, 4, Endian::kBig, &size) || !file.Read(at + 4, 4, Endian::kBig, &type) ||
            !file.Has(at + 8, size) || type == ChunkType("IEND")) {
            return false;
        }
        const std::uint64_t data = at + 8;
        if (type == ChunkType("eXIf") && ReadExifBlockGps(file.Part(data, size), position)) {
            return true;
        }
        if (IsTextChunk(static_cast<std::uint32_t>(type)) && profiles < kMostRawProfiles &&
            file.Part(data, size).Matches(0, "Raw profile type ")) {
            ++profiles;
            if (ReadRawProfileGps(file, data, static_cast<std::uint32_t>(type),
                                  static_cast<std::uint32_t>(size), position)) {
                return true;
            }
        }
        at = data + size + 4;  // past the CRC
    }
    return false;
}

}  // namespace host
