#include "platform/host/sandbox/reader_child.h"

#include <errno.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

#include "platform/host/sandbox/reader_filter.h"
#include "platform/host/sandbox/sanitizers.h"
#include "platform/host/wire/reader_record.h"

namespace host {

namespace {

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

// The address space for a picture of `fileBytes`: the base, and beside it
// the room for the copies that a file of that size can justify, no more
// than the machine has the memory (`available` bytes) to back.
rlim_t AddressSpaceFor(std::uint64_t fileBytes, const ReaderLimits& limits,
                       std::uint64_t available) {
    const std::uint64_t perByte = limits.bytesPerFileByte;
    const std::uint64_t copies =
        perByte != 0 && fileBytes > available / perByte ? available : fileBytes * perByte;
    return static_cast<rlim_t>(
        std::min<std::uint64_t>(SaturatingAdd(limits.memoryBase, copies), RLIM_INFINITY - 1));
}

// AddressSanitizer reserves terabytes of shadow memory up front, so a
// sanitizer build has no address-space limit; the CPU limit bounds it.
bool LimitResources(std::uint64_t fileBytes, const ReaderLimits& limits, std::uint64_t available) {
    const rlim_t memory = AddressSpaceFor(fileBytes, limits, available);
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

// Dies with its parent: a reader that outlives photomap has nobody to answer
// and would wait on a stalled read unwatched. A parent that died before the
// signal was set has already left the reader to another process.
void DieWithParent(pid_t parent) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) EndReader(1);
}

}  // namespace

[[noreturn]] void RunReader(int picture, int result, const ReaderSetup& setup) {
    DieWithParent(setup.parent);
    struct stat status;
    if (!CloseAllBut(picture, result) || fstat(picture, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size < 0) {
        EndReader(1);
    }
    if (setup.job.prepare != nullptr && !setup.job.prepare()) EndReader(1);
    if (!LimitResources(static_cast<std::uint64_t>(status.st_size), setup.limits,
                        setup.availableMemory) ||
        !ConfineToReading(picture, result)) {
        EndReader(1);
    }

    GpsMetadata metadata;
    const HRESULT read = setup.job.read(picture, &metadata);
    ReaderRecord record;
    EncodeReaderRecord(read, metadata, &record);
    EndReader(WriteAll(result, record.bytes, sizeof record.bytes) ? 0 : 1);
}

}  // namespace host
