#include "platform/host/wire/reader_record.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace host {

namespace {

constexpr std::uint32_t kTag = 0x504D5252;  // "PMRR", then the version
constexpr std::uint32_t kVersion = 1;

// Fields in the machine's byte order: both ends are the same program.
template <typename Field>
void Put(unsigned char*& at, Field value) {
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}

template <typename Field>
Field Take(const unsigned char*& at) {
    Field value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
}

// present (1), part count (1), reference length (1), padding (1),
// reference bytes, parts.
void PutCoordinate(unsigned char*& at, const GpsCoordinateData& coordinate) {
    const bool fits =
        coordinate.present && !coordinate.parts.empty() && coordinate.parts.size() <= kRecordParts;
    const std::size_t referenceLength =
        std::min(coordinate.reference.size(), kRecordReferenceBytes);
    Put<std::uint8_t>(at, fits ? 1 : 0);
    Put<std::uint8_t>(at, fits ? static_cast<std::uint8_t>(coordinate.parts.size()) : 0);
    Put<std::uint8_t>(at, static_cast<std::uint8_t>(referenceLength));
    Put<std::uint8_t>(at, 0);
    std::memcpy(at, coordinate.reference.data(), referenceLength);
    at += kRecordReferenceBytes;
    for (std::size_t part = 0; part < kRecordParts; ++part) {
        Put<double>(at, fits && part < coordinate.parts.size() ? coordinate.parts[part] : 0.0);
    }
}

bool TakeCoordinate(const unsigned char*& at, GpsCoordinateData* coordinate) {
    const auto present = Take<std::uint8_t>(at);
    const auto partCount = Take<std::uint8_t>(at);
    const auto referenceLength = Take<std::uint8_t>(at);
    const auto padding = Take<std::uint8_t>(at);
    const unsigned char* reference = at;
    at += kRecordReferenceBytes;
    if (present > 1 || padding != 0 || referenceLength > kRecordReferenceBytes ||
        partCount > kRecordParts || (present == 1) != (partCount > 0) ||
        std::memchr(reference, '\0', referenceLength) != nullptr) {
        return false;
    }
    *coordinate = GpsCoordinateData();
    coordinate->present = present == 1;
    coordinate->reference.assign(reinterpret_cast<const char*>(reference), referenceLength);
    for (std::size_t part = 0; part < kRecordParts; ++part) {
        const double value = Take<double>(at);
        if (!std::isfinite(value) || (part >= partCount && value != 0.0)) return false;
        if (part < partCount) coordinate->parts.push_back(value);
    }
    return true;
}

}  // namespace

void EncodeReaderRecord(HRESULT status, const GpsMetadata& metadata, ReaderRecord* record) {
    std::memset(record->bytes, 0, kReaderRecordSize);
    unsigned char* at = record->bytes;
    Put<std::uint32_t>(at, kTag);
    Put<std::uint32_t>(at, kVersion);
    Put<std::int32_t>(at, static_cast<std::int32_t>(status));
    if (FAILED(status)) return;
    PutCoordinate(at, metadata.latitude);
    PutCoordinate(at, metadata.longitude);
}

bool DecodeReaderRecord(const ReaderRecord& record, HRESULT* status, GpsMetadata* metadata) {
    const unsigned char* at = record.bytes;
    if (Take<std::uint32_t>(at) != kTag || Take<std::uint32_t>(at) != kVersion) return false;
    const auto written = static_cast<HRESULT>(Take<std::int32_t>(at));
    if (FAILED(written)) {
        // A failure carries nothing else.
        for (const unsigned char* rest = at; rest != record.bytes + kReaderRecordSize; ++rest) {
            if (*rest != 0) return false;
        }
        *status = written;
        return true;
    }
    if (written != S_OK) return false;
    GpsMetadata decoded;
    if (!TakeCoordinate(at, &decoded.latitude) || !TakeCoordinate(at, &decoded.longitude)) {
        return false;
    }
    *status = S_OK;
    *metadata = std::move(decoded);
    return true;
}

}  // namespace host
