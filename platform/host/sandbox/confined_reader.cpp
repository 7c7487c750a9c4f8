#include "platform/host/sandbox/confined_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <sys/mman.h>
#include <sys/prctl.h>
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
#include <cstdlib>
#include <cstring>

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

// Lowers `resource` to `soft` and `hard`, never above the caller's own
// limits: an unprivileged process cannot raise its hard limit (setrlimit
// would fail and the reader with it), and a lower soft limit is the caller's
// own choice, which the reader keeps.
bool Limit(int resource, rlim_t soft, rlim_t hard) {
    struct rlimit limit;
    if (getrlimit(resource, &limit) != 0) return false;
    limit.rlim_max = std::min(limit.rlim_max, hard);
    limit.rlim_cur = std::min({limit.rlim_cur, soft, limit.rlim_max});
    return setrlimit(resource, &limit) == 0;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The address space for a picture of `fileBytes`: the mapping, and beside
// it the base or the room for the copies that a file of that size can
// justify, whichever is more, the copies no more than the machine has the
// memory (`available` bytes) to back. A file below a quarter of the base
// gets the base alone, so a small crafted file is bounded by it.
rlim_t AddressSpaceFor(std::uint64_t fileBytes, const ReaderLimits& limits,
                       std::uint64_t available) {
    const std::uint64_t copies = fileBytes > available / std::max(1u, limits.copiesPerFileByte)
                                     ? available
                                     : fileBytes * limits.copiesPerFileByte;
    const std::uint64_t beside = std::max<std::uint64_t>(limits.memoryBase, copies);
    return static_cast<rlim_t>(
        std::min<std::uint64_t>(SaturatingAdd(fileBytes, beside), RLIM_INFINITY - 1));
}

// AddressSanitizer reserves terabytes of shadow memory up front, so a
// sanitizer build has no address-space limit; the CPU limit bounds it.
bool LimitResources(std::size_t mappedBytes, const ReaderLimits& limits, std::uint64_t available) {
    const rlim_t memory = AddressSpaceFor(mappedBytes, limits, available);
    const auto cpu = static_cast<rlim_t>(limits.cpuSeconds);
    return (kAddressSanitizer || Limit(RLIMIT_AS, memory, memory)) &&
           Limit(RLIMIT_CPU, cpu, cpu + 1) && Limit(RLIMIT_FSIZE, 0, 0) &&
           Limit(RLIMIT_CORE, 0, 0) && Limit(RLIMIT_NOFILE, 0, 0);
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

// What the child is told by its parent.
struct ReaderSetup {
    const PictureParser& parser;
    const ReaderLimits& limits;
    pid_t parent;
    std::uint64_t availableMemory;
};

// Dies with its parent: a reader that outlives photomap has nobody to answer
// and would wait on a stalled read unwatched. A parent that died before the
// signal was set has already left the reader to another process.
void DieWithParent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) EndReader(1);
}

// The child's whole life; it never returns.
[[noreturn]] void RunReader(int picture, int result, const ReaderSetup& setup) {
    DieWithParent(setup.parent);
    struct stat status;
    if (!CloseAllBut(picture, result) || fstat(picture, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 0 ||
        static_cast<std::uint64_t>(status.st_size) > SIZE_MAX - setup.limits.memoryBase) {
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
    if (setup.parser.prepare != nullptr) setup.parser.prepare();
    if (!LimitResources(size, setup.limits, setup.availableMemory) || !ConfineToReading(result)) {
        EndReader(1);
    }

    GpsMetadata metadata;
    const HRESULT parsed =
        setup.parser.parse(static_cast<const unsigned char*>(mapped), size, &metadata);
    ReaderRecord record;
    EncodeReaderRecord(parsed, metadata, &record);
    EndReader(WriteAll(result, record.bytes, sizeof record.bytes) ? 0 : 1);
}

// ---- In the parent ------------------------------------------------------

using Clock = std::chrono::steady_clock;

// The memory the machine can still give without swapping (MemAvailable), in
// bytes, read before the fork (the reader may open nothing); 0 when it
// cannot be told, and then a file earns no room for copies.
std::uint64_t AvailableMemory() {
    const UniqueFd info(::open("/proc/meminfo", O_RDONLY | O_CLOEXEC));
    char text[4096];
    const ssize_t got = info.Valid() ? ::read(info.Get(), text, sizeof text - 1) : -1;
    if (got <= 0) return 0;
    text[got] = '\0';
    const char* field = std::strstr(text, "MemAvailable:");
    if (field == nullptr) return 0;
    const unsigned long long kibibytes = std::strtoull(field + 13, nullptr, 10);
    return kibibytes > UINT64_MAX / 1024 ? UINT64_MAX : kibibytes * 1024;
}

// Whether the reader still makes progress: whether its CPU time has moved
// within the stall window. Every read that completes, every page fault that
// storage answers, and every slice a busy processor gives it moves it on;
// a reader blocked on storage that never answers stands still.
class ProgressWatch {
public:
    ProgressWatch(pid_t child, std::chrono::milliseconds window)
        : window_(window),
          interval_(std::max(std::chrono::milliseconds(1), window / 10)),
          lastProgress_(Clock::now()) {
        readable_ = clock_getcpuclockid(child, &clock_) == 0;
    }

    // How long to wait for an event before looking again.
    std::chrono::milliseconds Interval() const { return interval_; }

    // False once the CPU time has stood still, or could not be read, for the
    // whole window.
    bool Progressing() {
        const Clock::time_point now = Clock::now();
        timespec spent;
        if (readable_ && clock_gettime(clock_, &spent) == 0) {
            const long long nanoseconds = spent.tv_sec * 1000000000LL + spent.tv_nsec;
            if (nanoseconds != spentNanoseconds_) {
                spentNanoseconds_ = nanoseconds;
                lastProgress_ = now;
            }
        }
        return now - lastProgress_ < window_;
    }

private:
    std::chrono::milliseconds window_;
    std::chrono::milliseconds interval_;
    Clock::time_point lastProgress_;
    clockid_t clock_ = 0;
    bool readable_ = false;
    long long spentNanoseconds_ = -1;
};

// Reads the record until the child closes the pipe or stops making
// progress. True only for exactly one record.
bool ReceiveRecord(int pipe, ProgressWatch& watch, ReaderRecord* record) {
    std::size_t received = 0;
    unsigned char extra;
    while (true) {
        struct pollfd watched = {pipe, POLLIN, 0};
        const int ready = poll(&watched, 1, static_cast<int>(watch.Interval().count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready == 0) {
            if (!watch.Progressing()) return false;
            continue;
        }
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

// Waits for the child to end while it makes progress, else ends it; either
// way it is reaped. True when it ended by itself with status 0.
bool ReapChild(pid_t child, ProgressWatch& watch) {
    int status = 0;
    for (;;) {
        const Clock::time_point look = Clock::now() + watch.Interval();
        if (AwaitChildEnd(child, look, &status)) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        // Back early without an end: it cannot be waited for at all.
        if (Clock::now() < look || !watch.Progressing()) break;
    }
    kill(child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
}

}  // namespace

HRESULT ReadConfined(int picture, const PictureParser& parser, const ReaderLimits& limits,
                     GpsMetadata* metadata) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return E_FAIL;
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);

    const ReaderSetup setup = {parser, limits, getpid(), AvailableMemory()};
    const pid_t child = fork();
    if (child < 0) return E_FAIL;
    if (child == 0) RunReader(picture, writing.Get(), setup);
    writing.Reset();  // so that the child's end alone holds the pipe open

    ProgressWatch watch(child, limits.stallWindow);
    ReaderRecord record;
    const bool received = ReceiveRecord(reading.Get(), watch, &record);
    // A reader that will not answer, or answered wrongly, has nothing more to give.
    if (!received) kill(child, SIGKILL);
    const bool endedWell = ReapChild(child, watch);
    HRESULT status = E_FAIL;
    if (!received || !endedWell || !DecodeReaderRecord(record, &status, metadata)) {
        return E_FAIL;
    }
    return status;
}

HRESULT ReadConfined(int picture, const PictureParser& parser, GpsMetadata* metadata) {
    return ReadConfined(picture, parser, kReaderLimits, metadata);
}

}  // namespace host
