// Each input is the bytes of a file, read as photomap's reader processes
// read a picture (our own readers, then exiv2 where they find no
// position), then sent through the reader's result record as the process
// would send it. The reads run here in the fuzzing process, not in a
// child, so that their coverage counts. Besides the sanitizers'
// faults, a run stops on any broken promise: a record that does not decode
// to what was parsed, a position whose map URL does not fit, or text that
// exiv2 printed on the standard streams (only message B may reach the user).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "app/map_url.h"
#include "platform/host/picture/byte_source.h"
#include "platform/host/picture/exiv2_reader.h"
#include "platform/host/picture/formats.h"
#include "platform/host/wire/reader_record.h"

namespace {

[[noreturn]] void Broken(const char* promise) {
    std::fprintf(stderr, "picture_parser_fuzzer: %s\n", promise);
    std::abort();
}

// Collects what is written to a standard stream while it lives. exiv2
// prints its warnings through these streams; the sanitizers write straight
// to the descriptor, so their reports still show.
class CapturedStream {
public:
    explicit CapturedStream(std::ostream& stream)
        : stream_(stream), original_(stream.rdbuf(captured_.rdbuf())) {}
    ~CapturedStream() { stream_.rdbuf(original_); }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    bool Empty() const { return captured_.str().empty(); }

private:
    std::ostream& stream_;
    std::ostringstream captured_;
    std::streambuf* original_;
};

// d + m/60 + s/3600 + ..., with the hemisphere's sign, as photomap sums it.
double Degrees(const host::GpsCoordinateData& coordinate) {
    double degrees = 0.0;
    double unit = 1.0;
    for (double part : coordinate.parts) {
        degrees += part / unit;
        unit *= 60.0;
    }
    const char letter = coordinate.reference.empty() ? 'N' : coordinate.reference[0];
    return letter == 'S' || letter == 'W' ? -degrees : degrees;
}

bool SameCoordinate(const host::GpsCoordinateData& sent, const host::GpsCoordinateData& got) {
    if (!sent.present || sent.parts.size() > host::kRecordParts) return !got.present;
    return got.present && got.parts == sent.parts &&
           got.reference == sent.reference.substr(0, host::kRecordReferenceBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool prepared = (host::PrepareExiv2Reading(), true);
    (void)prepared;

    CapturedStream out(std::cout);
    CapturedStream errors(std::cerr);
    CapturedStream log(std::clog);
    host::GpsMetadata parsed;
    // As the two reader processes read a file: ours, then exiv2 where ours
    // find no position.
    const host::MemorySource file(data, size);
    HRESULT status = S_OK;
    if (!host::ReadOwnGpsPosition(file, &parsed))
        status = host::ReadGpsWithExiv2(data, size, &parsed);

    host::ReaderRecord record;
    host::EncodeReaderRecord(status, parsed, &record);
    HRESULT received = S_FALSE;
    host::GpsMetadata metadata;
    if (!host::DecodeReaderRecord(record, &received, &metadata)) Broken("a record did not decode");
    if (received != status) Broken("a record changed the status");
    if (SUCCEEDED(status) && (!SameCoordinate(parsed.latitude, metadata.latitude) ||
                              !SameCoordinate(parsed.longitude, metadata.longitude))) {
        Broken("a record changed a coordinate");
    }
    if (SUCCEEDED(status) && metadata.latitude.present && metadata.longitude.present) {
        const double latitude = Degrees(metadata.latitude);
        const double longitude = Degrees(metadata.longitude);
        wchar_t url[kMapUrlCapacity];
        const int length = FormatMapUrl(latitude, longitude, url);
        if (length <= 0 || static_cast<std::size_t>(length) >= kMapUrlCapacity) {
            Broken("the map URL of a read position does not fit");
        }
    }
    if (!out.Empty() || !errors.Empty() || !log.Empty()) Broken("exiv2 printed something");
    return 0;
}
