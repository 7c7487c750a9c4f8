#include "platform/host/sandbox/confined_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdint>

#include "platform/host/os/process.h"
#include "platform/host/os/unique_fd.h"
#include "platform/host/sandbox/reader_filter.h"
#include "platform/host/sandbox/reader_record.h"
#include "platform/host/sandbox/sanitizers.h"

namespace host {

namespace {

// ---- In the child -------------------------------------------------------

// Closes every descriptor but the picture and the result (and stderr in a
// build whose sanitizers report there).
bool CloseAllBut(int picture, int result) {
    std::array<int, 3> kept = {picture, result, kSanitizerReports ? STDERR_FILENO : picture};
    std::sort(kept.begin(), kept.end());
    unsigned from = 0;
    for (const int keep : kept) {
        const auto descriptor = static_cast<unsigned>(keep);
        if (descriptor > from && close_range(from, descriptor - 1, 0) != 0) return false;
        from = std::max(from, descriptor + 1);
    }
    return close_range(from, UINT_MAX, 0) == 0;
}

bool Limit(int resource, rlim_t soft, rlim_t hard) {
    const struct rlimit limit = {soft, hard};
    return setrlimit(resource, &limit) == 0;
}

// AddressSanitizer reserves terabytes of shadow memory up front, so a
// sanitizer build has no address-space limit; the deadline bounds it.
bool LimitResources(std::size_t mappedBytes) {
    const rlim_t memory = static_cast<rlim_t>(kReaderMemoryBudget) + mappedBytes;
    return (kAddressSanitizer || Limit(RLIMIT_AS, memory, memory)) &&
           Limit(RLIMIT_CPU, kReaderCpuSeconds, kReaderCpuSeconds + 1) &&
           Limit(RLIMIT_FSIZE, 0, 0) && Limit(RLIMIT_CORE, 0, 0) && Limit(RLIMIT_NOFILE, 0, 0);
}

bool WriteAll(int descriptor, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Ends the reader at once, through the system call itself: no exit
// handlers, and no leak check of a sanitizer build, which would stop the
// world with calls that the filter answers with the end of the process.
[[noreturn]] void EndReader(int status) {
    syscall(SYS_exit_group, status);
    __builtin_unreachable();
}

// The child's whole life; it never returns.
[[noreturn]] void RunReader(int picture, int result, const PictureParser& parser) {
    struct stat status;
    if (!CloseAllBut(picture, result) || fstat(picture, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 0 ||
        static_cast<std::uint64_t>(status.st_size) > SIZE_MAX - kReaderMemoryBudget) {
        EndReader(1);
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    // A file shortened meanwhile raises SIGBUS when the parser reads past
    // its new end. That ends the reader, quietly: it is no fault of the
    // parser's, so not one for a sanitizer build to report either.
    signal(SIGBUS, SIG_DFL);
    void* mapped = size == 0 ? nullptr : mmap(nullptr, size, PROT_READ, MAP_PRIVATE, picture, 0);
    if (mapped == MAP_FAILED) EndReader(1);
    ::close(picture);
    if (parser.prepare != nullptr) parser.prepare();
    if (!LimitResources(size) || !ConfineToReading(result)) EndReader(1);

    GpsMetadata metadata;
    const HRESULT parsed = parser.parse(static_cast<const unsigned char*>(mapped), size, &metadata);
    ReaderRecord record;
    EncodeReaderRecord(parsed, metadata, &record);
    EndReader(WriteAll(result, record.bytes, sizeof record.bytes) ? 0 : 1);
}

// ---- In the parent ------------------------------------------------------

using Clock = std::chrono::steady_clock;

// Reads the record until the child closes the pipe or the deadline passes.
// True only for exactly one record.
bool ReceiveRecord(int pipe, Clock::time_point deadline, ReaderRecord* record) {
    std::size_t received = 0;
    unsigned char extra;
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        struct pollfd watched = {pipe, POLLIN, 0};
        const int ready = poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        unsigned char* into = received < kReaderRecordSize ? record->bytes + received : &extra;
        const std::size_t room = received < kReaderRecordSize ? kReaderRecordSize - received : 1;
        const ssize_t got = ::read(pipe, into, room);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return received == kReaderRecordSize;
        received += static_cast<std::size_t>(got);
        if (received > kReaderRecordSize) return false;
    }
}

// Waits for the child to end until the deadline, then ends it; either way it
// is reaped. True when it ended by itself with status 0.
bool ReapChild(pid_t child, Clock::time_point deadline) {
    int status = 0;
    if (AwaitChildEnd(child, deadline, &status)) {
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    kill(child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
}

}  // namespace

HRESULT ReadConfined(int picture, const PictureParser& parser, GpsMetadata* metadata) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return E_FAIL;
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);

    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(kReaderDeadlineMilliseconds);
    const pid_t child = fork();
    if (child < 0) return E_FAIL;
    if (child == 0) RunReader(picture, writing.Get(), parser);
    writing.Reset();  // so that the child's end alone holds the pipe open

    ReaderRecord record;
    const bool received = ReceiveRecord(reading.Get(), deadline, &record);
    const bool endedWell = ReapChild(child, deadline);
    HRESULT status = E_FAIL;
    if (!received || !endedWell || !DecodeReaderRecord(record, &status, metadata)) {
        return E_FAIL;
    }
    return status;
}

}  // namespace host
