#include "platform/host/picture/png_raw_profile.h"

#include <zlib.h>

#include <cctype>
#include <cstring>
#include <string>

#include "platform/host/picture/tiff_gps_block.h"

namespace host {

namespace {

const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kMostNameLength = 32;
constexpr int kMostCountDigits = 8;

struct Chunk {
    std::uint32_t type = 0;
    const unsigned char* data = nullptr;
    std::uint32_t size = 0;
};

constexpr std::uint32_t ChunkType(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

std::uint32_t BigEndian32(const unsigned char* bytes) {
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) |
           (std::uint32_t(bytes[2]) << 8) | std::uint32_t(bytes[3]);
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
bool ProfileText(const Chunk& chunk, std::vector<unsigned char>* text) {
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

// The TIFF block of a decoded profile: the bytes themselves, or what follows
// an "Exif\0\0" (an APP1 segment's payload).
bool TiffOfProfile(std::vector<unsigned char> bytes, std::vector<unsigned char>* tiff) {
    static const unsigned char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (bytes.size() >= 6 && std::memcmp(bytes.data(), kExifHeader, 6) == 0) {
        bytes.erase(bytes.begin(), bytes.begin() + 6);
    }
    ByteOrder order = ByteOrder::kLittle;
    std::uint32_t first = 0;
    if (!ReadTiffHeader(bytes.data(), bytes.size(), &order, &first)) return false;
    *tiff = std::move(bytes);
    return true;
}

// The chunks of a PNG file up to IEND, handed to `visit` until it says stop.
template <typename Visit>
void ForEachChunk(const unsigned char* file, std::size_t size, Visit visit) {
    std::size_t offset = sizeof(kSignature);
    for (std::uint32_t count = 0; count < kMostPngChunks && size - offset >= 12; ++count) {
        Chunk chunk;
        chunk.size = BigEndian32(file + offset);
        chunk.type = BigEndian32(file + offset + 4);
        // A chunk cut short ends the walk: a file cut short keeps what came before.
        if (chunk.size > size - offset - 12 || chunk.type == ChunkType("IEND")) return;
        chunk.data = file + offset + 8;
        if (!visit(chunk)) return;
        offset += 12 + std::size_t(chunk.size);
    }
}

bool IsTextChunk(std::uint32_t type) {
    return type == ChunkType("tEXt") || type == ChunkType("zTXt") || type == ChunkType("iTXt");
}

}  // namespace

bool HasPngSignature(const unsigned char* file, std::size_t size) {
    return size >= sizeof(kSignature) && std::memcmp(file, kSignature, sizeof(kSignature)) == 0;
}

bool DecodeRawProfileText(const unsigned char* text, std::size_t size,
                          std::vector<unsigned char>* bytes) {
    const unsigned char* at = text;
    const unsigned char* const end = text + size;
    while (at != end && *at == '\n') ++at;
    const unsigned char* name = at;
    while (at != end && std::isalnum(*at) && std::size_t(at - name) < kMostNameLength) ++at;
    if (at == name || at == end || *at++ != '\n') return false;
    while (at != end && *at == ' ') ++at;
    std::uint32_t count = 0;
    int digits = 0;
    for (; at != end && *at >= '0' && *at <= '9' && digits < kMostCountDigits; ++at, ++digits) {
        count = count * 10 + std::uint32_t(*at - '0');
    }
    if (digits == 0 || count == 0 || count > kLargestRawProfile || at == end || *at++ != '\n') {
        return false;
    }
    bytes->clear();
    bytes->reserve(count);
    int high = -1;
    for (; at != end; ++at) {
        if (IsWhitespace(*at)) continue;
        const int nibble = HexValue(*at);
        if (nibble < 0 || bytes->size() == count) return false;  // odd characters, or too many
        if (high < 0) {
            high = nibble;
        } else {
            bytes->push_back(static_cast<unsigned char>(high << 4 | nibble));
            high = -1;
        }
    }
    return high < 0 && bytes->size() == count;
}

bool ReadPngRawExif(const unsigned char* file, std::size_t size,
                    std::vector<std::vector<unsigned char>>* tiffs) {
    tiffs->clear();
    if (!HasPngSignature(file, size)) return false;
    std::uint32_t profiles = 0;
    ForEachChunk(file, size, [&](const Chunk& chunk) {
        if (!IsTextChunk(chunk.type)) return true;
        std::vector<unsigned char> text, bytes, tiff;
        if (chunk.size > kLargestProfileChunk || !ProfileText(chunk, &text)) return true;
        if (DecodeRawProfileText(text.data(), text.size(), &bytes) &&
            TiffOfProfile(std::move(bytes), &tiff)) {
            tiffs->push_back(std::move(tiff));
        }
        return ++profiles < kMostRawProfiles;
    });
    return !tiffs->empty();
}

}  // namespace host
