// The record in which the reader process hands its result to photomap: fixed
// in size and layout, versioned, and checked field by field before anything
// is built from it, since the process that wrote it read a hostile file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/host/wire/gps_metadata.h"
#include "platform/host/windows.h"

namespace host {

// A coordinate with more rationals than this, or a reference longer, is not
// a photo's: the reader passes on no value, or the reference's first bytes
// (only the first letter means anything).
constexpr std::size_t kRecordParts = 16;
constexpr std::size_t kRecordReferenceBytes = 16;
constexpr std::size_t kReaderRecordSize =
    8 + 4 + 2 * (4 + kRecordReferenceBytes + 8 * kRecordParts);

struct ReaderRecord {
    unsigned char bytes[kReaderRecordSize];
};

// Writes the outcome of a read into `record`: its status, and on success the
// two coordinates (a coordinate that does not fit is written as absent).
void EncodeReaderRecord(HRESULT status, const GpsMetadata& metadata, ReaderRecord* record);

// Reads a record back: false when any field is out of its bounds (another
// tag or version, counts, lengths, flags, padding, a value that is not
// finite, a NUL in a reference). Otherwise sets `status` and, when it
// succeeded, `metadata`.
bool DecodeReaderRecord(const ReaderRecord& record, HRESULT* status, GpsMetadata* metadata);

}  // namespace host
