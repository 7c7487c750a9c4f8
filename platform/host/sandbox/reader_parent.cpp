// The parent's side of the confined reader: it starts the reader process,
// watches it make progress, and takes its answer.
#include "platform/host/sandbox/confined_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/host/os/process.h"
#include "platform/host/os/unique_fd.h"
#include "platform/host/sandbox/reader_child.h"
#include "platform/host/wire/reader_record.h"

namespace host {

namespace {

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

HRESULT ReadConfined(int picture, const ReaderJob& job, const ReaderLimits& limits,
                     GpsMetadata* metadata) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return E_FAIL;
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);

    const ReaderSetup setup = {job, limits, getpid(), AvailableMemory()};
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

}  // namespace host
