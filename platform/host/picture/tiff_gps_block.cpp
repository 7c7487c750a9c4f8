#include "platform/host/picture/tiff_gps_block.h"

#include <cstring>

namespace host {

namespace {

constexpr std::uint16_t kGpsPointerTag = 0x8825;
constexpr std::uint16_t kLongType = 4;
constexpr std::uint32_t kEntrySize = 12;
// Header, a first directory of one entry, then the GPS directory.
constexpr std::uint32_t kGpsDirectoryAt = 8 + 2 + kEntrySize + 4;

// Bytes per value of each TIFF type (1 BYTE ... 12 DOUBLE, 13 IFD); 0 for
// types TIFF does not define.
std::uint32_t TypeSize(std::uint32_t type) {
    static const std::uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof(sizes) / sizeof(sizes[0]) ? sizes[type] : 0;
}

void Put(std::vector<unsigned char>& out, std::size_t at, ByteOrder order, std::uint32_t value,
         int bytes) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = order == ByteOrder::kLittle ? 8 * i : 8 * (bytes - 1 - i);
        out[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> shift);
    }
}

void Append(std::vector<unsigned char>& out, ByteOrder order, std::uint32_t value, int bytes) {
    out.resize(out.size() + static_cast<std::size_t>(bytes));
    Put(out, out.size() - static_cast<std::size_t>(bytes), order, value, bytes);
}

// The header and the first directory, which points at the GPS directory.
void AppendPreamble(std::vector<unsigned char>& out, ByteOrder order) {
    const unsigned char little[] = {'I', 'I', 42, 0};
    const unsigned char big[] = {'M', 'M', 0, 42};
    const unsigned char* magic = order == ByteOrder::kLittle ? little : big;
    out.insert(out.end(), magic, magic + 4);
    Append(out, order, 8, 4);
    Append(out, order, 1, 2);
    Append(out, order, kGpsPointerTag, 2);
    Append(out, order, kLongType, 2);
    Append(out, order, 1, 4);
    Append(out, order, kGpsDirectoryAt, 4);
    Append(out, order, 0, 4);  // no next directory
}

}  // namespace

bool ReadTiffField(const unsigned char* data, std::size_t size, ByteOrder order,
                   std::uint64_t offset, int bytes, std::uint32_t* value) {
    if (offset > size || static_cast<std::uint64_t>(bytes) > size - offset) return false;
    *value = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = order == ByteOrder::kLittle ? 8 * i : 8 * (bytes - 1 - i);
        *value |= std::uint32_t(data[offset + static_cast<std::uint64_t>(i)]) << shift;
    }
    return true;
}

bool ReadTiffHeader(const unsigned char* data, std::size_t size, ByteOrder* order,
                    std::uint32_t* firstDirectory) {
    if (size < 8) return false;
    if (std::memcmp(data, "II*\0", 4) == 0) {
        *order = ByteOrder::kLittle;
    } else if (std::memcmp(data, "MM\0*", 4) == 0) {
        *order = ByteOrder::kBig;
    } else {
        return false;
    }
    return ReadTiffField(data, size, *order, 4, 4, firstDirectory);
}

bool CopyGpsDirectory(const unsigned char* data, std::size_t size, ByteOrder order,
                      std::uint32_t directoryOffset, std::vector<unsigned char>* tiff) {
    std::uint32_t count = 0;
    if (!ReadTiffField(data, size, order, directoryOffset, 2, &count) || count == 0 ||
        count > kMostGpsEntries) {
        return false;
    }
    const std::uint64_t entries = std::uint64_t(directoryOffset) + 2;
    if (entries + std::uint64_t(count) * kEntrySize > size) return false;

    std::vector<unsigned char> out;
    AppendPreamble(out, order);
    Append(out, order, count, 2);
    const std::size_t entriesAt = out.size();
    out.resize(entriesAt + std::size_t(count) * kEntrySize + 4, 0);  // next directory: none
    std::uint32_t valueBytes = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = entries + std::uint64_t(i) * kEntrySize;
        const std::size_t copy = entriesAt + std::size_t(i) * kEntrySize;
        std::uint32_t type = 0, values = 0, offset = 0;
        ReadTiffField(data, size, order, entry + 2, 2, &type);
        ReadTiffField(data, size, order, entry + 4, 4, &values);
        std::memcpy(out.data() + copy, data + entry, kEntrySize);
        const std::uint64_t length = std::uint64_t(TypeSize(type)) * values;
        if (TypeSize(type) == 0 || length > kLargestGpsValues - valueBytes) return false;
        if (length <= 4) continue;  // the value sits in the entry itself
        ReadTiffField(data, size, order, entry + 8, 4, &offset);
        if (offset > size || length > size - offset) return false;
        Put(out, copy + 8, order, static_cast<std::uint32_t>(out.size()), 4);
        out.insert(out.end(), data + offset, data + offset + length);
        if (out.size() % 2 != 0) out.push_back(0);  // TIFF values start on even offsets
        valueBytes += static_cast<std::uint32_t>(length);
    }
    *tiff = std::move(out);
    return true;
}

}  // namespace host
