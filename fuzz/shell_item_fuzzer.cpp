// Each input becomes a file that photomap reads as it reads a picture: the
// shell item from the file's name through the late-bound table, then the
// longitude and the latitude, each with its value and its reference.
// Besides the sanitizers' faults, a run stops on any broken promise of
// those functions: an item refused for a regular file, a coordinate changed
// by a failed read, a position whose map URL does not fit, a file that
// reading has changed, or text that exiv2 printed on the standard streams
// (only message B may reach the user).
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/com_holders.h"
#include "app/map_url.h"
#include "gps/gps_reader.h"
#include "latebind/late_bound_table.h"
#include "platform/host/wide_text.h"
#include "platform/platform.h"

namespace {

[[noreturn]] void Broken(const char* promise) {
    std::fprintf(stderr, "shell_item_fuzzer: %s\n", promise);
    std::abort();
}

// The file that holds the current input: one per fuzzing process, rewritten
// for every input, removed when the process ends normally.
class ScratchFile {
public:
    ScratchFile() {
        const char* directory = std::getenv("TMPDIR");
        path_ = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
                "/photomap-fuzz-XXXXXX";
        descriptor_ = mkstemp(path_.data());
    }
    ~ScratchFile() {
        if (descriptor_ < 0) return;
        close(descriptor_);
        unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool Hold(const std::uint8_t* data, std::size_t size) {
        if (descriptor_ < 0 || ftruncate(descriptor_, 0) != 0) return false;
        for (std::size_t done = 0; done < size;) {
            const ssize_t written = pwrite(descriptor_, data + done, size - done, done);
            if (written <= 0) return false;
            done += static_cast<std::size_t>(written);
        }
        return true;
    }

    // True when the file still holds exactly `data`.
    bool StillHolds(const std::uint8_t* data, std::size_t size) const {
        std::vector<std::uint8_t> content(size + 1);
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t got =
                pread(descriptor_, content.data() + done, content.size() - done, done);
            if (got < 0) return false;
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done == size && (size == 0 || std::memcmp(content.data(), data, size) == 0);
    }

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int descriptor_ = -1;
};

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

// A bit pattern that no read produces by chance, to tell an untouched
// coordinate from a written one.
double Untouched() {
    const std::uint64_t bits = 0x7FF4'0000'DEAD'BEEFull;  // a signalling NaN with a payload
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool IsUntouched(double value) {
    const double sentinel = Untouched();
    return std::memcmp(&value, &sentinel, sizeof value) == 0;
}

// Reads one coordinate and checks what ReadGpsCoordinate promises about it.
bool ReadChecked(IShellItem2* item, const PROPERTYKEY& valueKey, const PROPERTYKEY& referenceKey,
                 double* coordinate) {
    *coordinate = Untouched();
    const HRESULT status = ReadGpsCoordinate(item, valueKey, referenceKey, coordinate);
    if (FAILED(status)) {
        if (!IsUntouched(*coordinate)) Broken("a failed read changed the coordinate");
        return false;
    }
    if (status != S_OK) Broken("a read succeeded with a status other than S_OK");
    if (IsUntouched(*coordinate)) Broken("a successful read left the coordinate unset");
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile file;
    static const std::wstring name = host::WideFromBytes(file.Path());
    static const bool bound =
        BindShellFunctions() && LateBoundTable.shell.SHCreateItemFromParsingName != nullptr;
    if (!bound) Broken("the shell functions did not bind");
    if (!file.Hold(data, size)) Broken("the scratch file could not be written");

    CapturedStream out(std::cout);
    CapturedStream errors(std::cerr);
    CapturedStream log(std::clog);
    // Declared before the item, so that the item is released before COM closes.
    ScopedComInitializer com;
    ComPtr<IShellItem2> item;
    const HRESULT created = LateBoundTable.shell.SHCreateItemFromParsingName(
        name.c_str(), nullptr, IID_IShellItem2, item.ReceiveVoid());
    if (FAILED(created) || !item) Broken("no shell item for a regular file");

    double longitude = 0.0;
    double latitude = 0.0;
    const bool haveLongitude =
        ReadChecked(item.Get(), PKEY_GPS_Longitude, PKEY_GPS_LongitudeRef, &longitude);
    const bool haveLatitude =
        ReadChecked(item.Get(), PKEY_GPS_Latitude, PKEY_GPS_LatitudeRef, &latitude);

    if (haveLongitude && haveLatitude) {
        wchar_t url[kMapUrlCapacity];
        const int length = FormatMapUrl(latitude, longitude, url);
        if (length <= 0 || static_cast<std::size_t>(length) >= kMapUrlCapacity) {
            Broken("the map URL of a read position does not fit");
        }
    }
    if (!file.StillHolds(data, size)) Broken("reading the picture changed its file");
    if (!out.Empty() || !errors.Empty() || !log.Empty()) Broken("exiv2 printed something");
    return 0;
}
