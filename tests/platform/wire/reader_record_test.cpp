#include "platform/host/wire/reader_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

host::GpsMetadata Position() {
    host::GpsMetadata metadata;
    metadata.latitude = {true, {51, 28, 38.5}, "N"};
    metadata.longitude = {true, {0, 0.25}, "West"};
    return metadata;
}

TEST(ReaderRecord, CarriesAPositionThrough) {
    host::ReaderRecord record;
    host::EncodeReaderRecord(S_OK, Position(), &record);
    HRESULT status = E_FAIL;
    host::GpsMetadata decoded;
    ASSERT_TRUE(host::DecodeReaderRecord(record, &status, &decoded));
    EXPECT_EQ(status, S_OK);
    EXPECT_TRUE(decoded.latitude.present);
    EXPECT_EQ(decoded.latitude.parts, Position().latitude.parts);
    EXPECT_EQ(decoded.latitude.reference, "N");
    EXPECT_EQ(decoded.longitude.parts, Position().longitude.parts);
    EXPECT_EQ(decoded.longitude.reference, "West");
}

TEST(ReaderRecord, CarriesAFailureAndNothingElse) {
    host::ReaderRecord record;
    host::EncodeReaderRecord(E_OUTOFMEMORY, Position(), &record);
    HRESULT status = S_OK;
    host::GpsMetadata decoded;
    ASSERT_TRUE(host::DecodeReaderRecord(record, &status, &decoded));
    EXPECT_EQ(status, E_OUTOFMEMORY);
    EXPECT_FALSE(decoded.latitude.present);
}

TEST(ReaderRecord, WritesWhatDoesNotFitAsAbsentOrCut) {
    host::GpsMetadata metadata = Position();
    metadata.latitude.parts.assign(host::kRecordParts + 1, 1.0);
    metadata.longitude.reference = std::string(40, 'W');
    host::ReaderRecord record;
    host::EncodeReaderRecord(S_OK, metadata, &record);
    HRESULT status = E_FAIL;
    host::GpsMetadata decoded;
    ASSERT_TRUE(host::DecodeReaderRecord(record, &status, &decoded));
    EXPECT_FALSE(decoded.latitude.present);
    EXPECT_TRUE(decoded.latitude.parts.empty());
    EXPECT_EQ(decoded.longitude.reference, std::string(host::kRecordReferenceBytes, 'W'));
}

// Byte offsets of the record's fields (tag 0, version 4, status 8, then the
// latitude at 12: present, part count, reference length, padding, reference,
// parts), each overwritten with a value out of bounds.
struct Damage {
    const char* name;
    std::size_t offset;
    std::uint8_t byte;
};

std::ostream& operator<<(std::ostream& out, const Damage& damage) { return out << damage.name; }

constexpr std::size_t kLatitude = 12;
constexpr std::size_t kLatitudeParts = kLatitude + 4 + host::kRecordReferenceBytes;

class DamagedRecordTest : public testing::TestWithParam<Damage> {};

TEST_P(DamagedRecordTest, IsRefused) {
    host::ReaderRecord record;
    host::EncodeReaderRecord(S_OK, Position(), &record);
    record.bytes[GetParam().offset] = GetParam().byte;
    HRESULT status = E_FAIL;
    host::GpsMetadata decoded;
    EXPECT_FALSE(host::DecodeReaderRecord(record, &status, &decoded));
    EXPECT_EQ(status, E_FAIL);
    EXPECT_FALSE(decoded.latitude.present);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DamagedRecordTest,
    testing::Values(Damage{"tag", 0, 0x00}, Damage{"version", 4, 2},
                    Damage{"success other than S_OK", 8, 1}, Damage{"present flag", kLatitude, 2},
                    Damage{"part count past the end", kLatitude + 1, host::kRecordParts + 1},
                    Damage{"present without parts", kLatitude + 1, 0},
                    Damage{"reference too long", kLatitude + 2, host::kRecordReferenceBytes + 1},
                    Damage{"padding", kLatitude + 3, 1},
                    Damage{"reference with a NUL", kLatitude + 4, 0},
                    Damage{"unused part set", kLatitudeParts + 5 * 8 + 7, 0x3F}));

TEST(ReaderRecord, RefusesValuesThatAreNotFinite) {
    for (const double value :
         {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        host::ReaderRecord record;
        host::EncodeReaderRecord(S_OK, Position(), &record);
        std::memcpy(record.bytes + kLatitudeParts + 2 * sizeof value, &value, sizeof value);
        HRESULT status = E_FAIL;
        host::GpsMetadata decoded;
        EXPECT_FALSE(host::DecodeReaderRecord(record, &status, &decoded)) << value;
    }
}

TEST(ReaderRecord, RefusesAFailureWithLeftovers) {
    host::ReaderRecord record;
    host::EncodeReaderRecord(E_FAIL, host::GpsMetadata(), &record);
    record.bytes[host::kReaderRecordSize - 1] = 1;
    HRESULT status = S_OK;
    host::GpsMetadata decoded;
    EXPECT_FALSE(host::DecodeReaderRecord(record, &status, &decoded));
}

}  // namespace
