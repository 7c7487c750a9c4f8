// The reader process, driven by jobs that exist only in this test binary:
// each does what a reader taken over by a hostile picture might do.
#include "platform/host/sandbox/confined_reader.h"
#include "platform/host/os/unique_fd.h"
#include "platform/host/sandbox/sanitizers.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kContent[] = "not a picture, but bytes to map";

// A scratch file holding kContent, open read-only as the shell item opens it.
class Picture {
public:
    Picture() {
        std::string pattern = testing::TempDir() + "confined-XXXXXX";
        const int written = mkstemp(pattern.data());
        path_ = pattern;
        EXPECT_GE(written, 0);
        EXPECT_EQ(::write(written, kContent, sizeof kContent), ssize_t(sizeof kContent));
        ::close(written);
        descriptor_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~Picture() {
        ::close(descriptor_);
        ::unlink(path_.c_str());
    }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    int Descriptor() const { return descriptor_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int descriptor_ = -1;
};

// Hands back `value` as a one-part latitude and `text` as its reference.
HRESULT Report(double value, const std::string& text, host::GpsMetadata* metadata) {
    metadata->latitude.present = true;
    metadata->latitude.parts = {value};
    metadata->latitude.reference = text;
    return S_OK;
}

// Reads the picture as the readers do, with pread.
HRESULT ParseSize(int picture, host::GpsMetadata* metadata) {
    char bytes[2 * sizeof kContent];
    const ssize_t size = pread(picture, bytes, sizeof bytes, 0);
    const bool same = size == sizeof kContent && std::memcmp(bytes, kContent, size) == 0;
    return Report(static_cast<double>(size), same ? "same" : "other", metadata);
}

HRESULT ParseToFailure(int, host::GpsMetadata*) { return E_OUTOFMEMORY; }

// errno of an attempt, as text, or "done" when it was not refused.
std::string Outcome(long result) {
    if (result >= 0) return "done";
    return errno == EACCES ? "EACCES" : errno == EPERM ? "EPERM" : "errno " + std::to_string(errno);
}

HRESULT ParseOpeningAFile(int, host::GpsMetadata* metadata) {
    return Report(0, Outcome(::open("/etc/passwd", O_RDONLY | O_CLOEXEC)), metadata);
}

HRESULT ParseStatingAFile(int, host::GpsMetadata* metadata) {
    struct stat status;
    return Report(0, Outcome(::stat("/etc/passwd", &status)), metadata);
}

// By name, whatever the flags: the kernel ignores AT_EMPTY_PATH when a name
// is given, so with it these calls would stat the named file.
HRESULT ParseStatingByNameWithEmptyPathFlag(int, host::GpsMetadata* metadata) {
    struct stat status;
    return Report(0,
                  Outcome(syscall(SYS_newfstatat, AT_FDCWD, "/etc/passwd", &status, AT_EMPTY_PATH)),
                  metadata);
}

HRESULT ParseStatingAtByName(int, host::GpsMetadata* metadata) {
    struct stat status;
    return Report(0, Outcome(syscall(SYS_newfstatat, AT_FDCWD, "/etc/passwd", &status, 0)),
                  metadata);
}

HRESULT ParseStatxByName(int, host::GpsMetadata* metadata) {
    struct statx status;
    return Report(0,
                  Outcome(syscall(SYS_statx, AT_FDCWD, "/etc/passwd", AT_EMPTY_PATH,
                                  STATX_BASIC_STATS, &status)),
                  metadata);
}

HRESULT ParseWritingToStdout(int, host::GpsMetadata* metadata) {
    return Report(0, Outcome(::write(STDOUT_FILENO, "x", 1)), metadata);
}

// Counts the descriptors open in the reader, with the fstat call (which
// takes a descriptor only; glibc's fstat() makes a call that can take a name).
HRESULT ParseCountingDescriptors(int, host::GpsMetadata* metadata) {
    int open = 0;
    for (int descriptor = 0; descriptor < 4096; ++descriptor) {
        struct stat status;
        if (syscall(SYS_fstat, descriptor, &status) == 0) ++open;
    }
    return Report(open, "", metadata);
}

HRESULT ParseOpeningASocket(int, host::GpsMetadata* metadata) {
    return Report(0, Outcome(::socket(AF_INET, SOCK_STREAM, 0)), metadata);
}

HRESULT ParseStartingAProgram(int, host::GpsMetadata* metadata) {
    char* const arguments[] = {const_cast<char*>("/bin/true"), nullptr};
    return Report(0, Outcome(execv("/bin/true", arguments)), metadata);
}

// Only the picture may be read.
HRESULT ParseReadingAnotherDescriptor(int picture, host::GpsMetadata* metadata) {
    char byte;
    return Report(0, Outcome(pread(picture + 1, &byte, 1, 0)), metadata);
}

HRESULT ParseForking(int, host::GpsMetadata* metadata) {
    return Report(0, Outcome(fork()), metadata);
}

HRESULT ParseMakingCodeExecutable(int, host::GpsMetadata* metadata) {
    void* page =
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return Report(0, page == MAP_FAILED ? Outcome(-1) : "done", metadata);
}

HRESULT ParseCrashing(int, host::GpsMetadata* metadata) {
    raise(SIGSEGV);
    return Report(0, "survived", metadata);
}

HRESULT ParseForever(int, host::GpsMetadata* metadata) {
    volatile bool going = true;
    while (going) {
    }
    return Report(0, "ended", metadata);
}

// Takes memory in blocks, touching every page, up to 2 GiB.
HRESULT ParseTakingMemory(int, host::GpsMetadata* metadata) {
    constexpr std::size_t kBlock = 64u << 20;
    std::vector<char*> blocks;
    for (int taken = 0; taken < 32; ++taken) {
        char* block = static_cast<char*>(std::malloc(kBlock));
        if (block == nullptr) return E_OUTOFMEMORY;
        // The limit is on address space: the pages need not be touched
        // (which, in a virtual machine, can take longer than the deadline).
        block[0] = 1;
        blocks.push_back(block);
    }
    return Report(static_cast<double>(blocks.size()), "all", metadata);
}

constexpr host::ReaderLimits kLimits = {256u << 20, 0, 2, std::chrono::seconds(30)};

HRESULT Read(const Picture& picture, decltype(host::ReaderJob::read) read,
             host::GpsMetadata* metadata) {
    return host::ReadConfined(picture.Descriptor(), host::ReaderJob{nullptr, read}, kLimits,
                              metadata);
}

TEST(ConfinedReader, HandsBackWhatTheJobReadFromThePicture) {
    const Picture picture;
    host::GpsMetadata metadata;
    ASSERT_EQ(Read(picture, ParseSize, &metadata), S_OK);
    EXPECT_EQ(metadata.latitude.parts, std::vector<double>{sizeof kContent});
    EXPECT_EQ(metadata.latitude.reference, "same");
}

TEST(ConfinedReader, HandsBackTheParsersFailure) {
    const Picture picture;
    host::GpsMetadata metadata;
    EXPECT_EQ(Read(picture, ParseToFailure, &metadata), E_OUTOFMEMORY);
}

TEST(ConfinedReader, RunsThePreparationBeforeTheFilter) {
    static bool opened = false;
    const Picture picture;
    const host::ReaderJob job{[] {
                                  const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                                  opened = descriptor >= 0;
                                  if (opened) ::close(descriptor);
                                  return true;
                              },
                              [](int, host::GpsMetadata* metadata) {
                                  return Report(0, opened ? "opened" : "refused", metadata);
                              }};
    host::GpsMetadata metadata;
    ASSERT_EQ(host::ReadConfined(picture.Descriptor(), job, kLimits, &metadata), S_OK);
    EXPECT_EQ(metadata.latitude.reference, "opened");
}

// Calls that libraries make when they load something lazily fail as on a
// missing file; the reader goes on.
struct RefusedCall {
    const char* name;
    decltype(host::ReaderJob::read) parse;
    const char* error;
};

std::ostream& operator<<(std::ostream& out, const RefusedCall& call) { return out << call.name; }

class RefusedCallTest : public testing::TestWithParam<RefusedCall> {};

TEST_P(RefusedCallTest, FailsWithAnError) {
    const Picture picture;
    host::GpsMetadata metadata;
    ASSERT_EQ(Read(picture, GetParam().parse, &metadata), S_OK);
    EXPECT_EQ(metadata.latitude.reference, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, RefusedCallTest,
    testing::Values(RefusedCall{"open", ParseOpeningAFile, "EACCES"},
                    RefusedCall{"stat", ParseStatingAFile, "EACCES"},
                    RefusedCall{"newfstatat_by_name", ParseStatingAtByName, "EACCES"},
                    RefusedCall{"newfstatat_by_name_empty_path_flag",
                                ParseStatingByNameWithEmptyPathFlag, "EACCES"},
                    RefusedCall{"statx_by_name", ParseStatxByName, "EACCES"},
                    RefusedCall{"write_stdout", ParseWritingToStdout, "EPERM"}));

// Everything else ends the reader: the read fails.
class ForbiddenCallTest : public testing::TestWithParam<RefusedCall> {};

TEST_P(ForbiddenCallTest, EndsTheReader) {
    const Picture picture;
    host::GpsMetadata metadata;
    EXPECT_EQ(Read(picture, GetParam().parse, &metadata), E_FAIL);
    EXPECT_FALSE(metadata.latitude.present);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ForbiddenCallTest,
    testing::Values(RefusedCall{"socket", ParseOpeningASocket, ""},
                    RefusedCall{"execve", ParseStartingAProgram, ""},
                    RefusedCall{"fork", ParseForking, ""},
                    RefusedCall{"pread_other_descriptor", ParseReadingAnotherDescriptor, ""},
                    RefusedCall{"executable_mapping", ParseMakingCodeExecutable, ""},
                    RefusedCall{"crash", ParseCrashing, ""}));

TEST(ConfinedReader, KeepsOnlyItsResultPipe) {
    // A descriptor that a careless caller leaves inheritable.
    const int inherited = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(inherited, 0);
    const Picture picture;
    host::GpsMetadata metadata;
    const HRESULT status = Read(picture, ParseCountingDescriptors, &metadata);
    ::close(inherited);
    ASSERT_EQ(status, S_OK);
    // The picture and the pipe; a sanitizer build keeps stderr.
    EXPECT_EQ(metadata.latitude.parts, std::vector<double>{host::kSanitizerReports ? 3.0 : 2.0});
}

// Limits for a test that must see the stall rule at work within a second or two.
host::ReaderLimits WithStallWindow(std::chrono::milliseconds window) {
    host::ReaderLimits limits = kLimits;
    limits.stallWindow = window;
    return limits;
}

HRESULT ReadWithin(const Picture& picture, decltype(host::ReaderJob::read) read,
                   const host::ReaderLimits& limits, host::GpsMetadata* metadata) {
    return host::ReadConfined(picture.Descriptor(), host::ReaderJob{nullptr, read}, limits,
                              metadata);
}

TEST(ConfinedReader, EndsAReaderAtItsCpuLimit) {
    // Spinning is progress, so a stall window of an hour leaves the CPU
    // limit alone to end it (or the test never ends).
    host::ReaderLimits limits = WithStallWindow(std::chrono::hours(1));
    limits.cpuSeconds = 1;
    const Picture picture;
    host::GpsMetadata metadata;
    EXPECT_EQ(ReadWithin(picture, ParseForever, limits, &metadata), E_FAIL);
    EXPECT_FALSE(metadata.latitude.present);
}

// Waits on a futex word, as a read waits on storage: without CPU time.
long WaitOnWord(int* word, const timespec* timeout) {
    return syscall(SYS_futex, word, FUTEX_WAIT, *word, timeout, nullptr, 0);
}

// Spends a little CPU time, as a read does once storage answers.
void SpendCpu(long nanoseconds) {
    timespec start;
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    do {
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    } while ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) <
             nanoseconds);
}

// Storage that never answers.
HRESULT ParseWaitingForever(int, host::GpsMetadata* metadata) {
    int word = 0;
    while (true) WaitOnWord(&word, nullptr);
    return Report(0, "woken", metadata);
}

// Storage that answers each read after 150 ms, 20 times: three seconds in
// all, each wait well within a stall window of one second.
HRESULT ParseWaitingOnSlowReads(int, host::GpsMetadata* metadata) {
    int word = 0;
    const timespec read = {0, 150000000L};
    for (int reads = 0; reads < 20; ++reads) {
        WaitOnWord(&word, &read);
        SpendCpu(1000000L);
    }
    return Report(0, "read", metadata);
}

TEST(ConfinedReader, EndsAReaderThatMakesNoProgress) {
    const Picture picture;
    host::GpsMetadata metadata;
    const host::ReaderLimits limits = WithStallWindow(std::chrono::seconds(1));
    EXPECT_EQ(ReadWithin(picture, ParseWaitingForever, limits, &metadata), E_FAIL);
    EXPECT_FALSE(metadata.latitude.present);
}

TEST(ConfinedReader, WaitsForAReaderWhoseReadsAreSlowButAnswered) {
    const Picture picture;
    host::GpsMetadata metadata;
    const host::ReaderLimits limits = WithStallWindow(std::chrono::seconds(1));
    ASSERT_EQ(ReadWithin(picture, ParseWaitingOnSlowReads, limits, &metadata), S_OK);
    EXPECT_EQ(metadata.latitude.reference, "read");
}

TEST(ConfinedReader, StopsAReaderAtItsMemoryLimit) {
    if (host::kAddressSanitizer) GTEST_SKIP() << "a sanitizer build has no address-space limit";
    const Picture picture;
    host::GpsMetadata metadata;
    EXPECT_EQ(Read(picture, ParseTakingMemory, &metadata), E_OUTOFMEMORY);
    EXPECT_FALSE(metadata.latitude.present);
}

// The reader stops on a flag in memory shared with this test, after telling
// its process id, so that its status can be read while it runs.
struct Rendezvous {
    std::atomic<int> reader{0};
    std::atomic<bool> release{false};
};
Rendezvous* rendezvous = nullptr;

HRESULT ParseWaitingForRelease(int, host::GpsMetadata* metadata) {
    rendezvous->reader = getpid();
    while (!rendezvous->release) {
    }
    return Report(0, "released", metadata);
}

std::string StatusLine(int process, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, field.size() + 1, field + ":") == 0) return line;
    }
    return "";
}

TEST(ConfinedReader, RunsUnderSeccompWithoutNewPrivileges) {
    void* shared = mmap(nullptr, sizeof(Rendezvous), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    rendezvous = new (shared) Rendezvous;
    const Picture picture;
    host::GpsMetadata metadata;
    HRESULT status = E_FAIL;
    std::atomic<bool> done{false};
    std::thread reading([&] {
        status = Read(picture, ParseWaitingForRelease, &metadata);
        done = true;
    });
    // A reader that fails before it parses ends the read, and the wait.
    while (rendezvous->reader == 0 && !done) std::this_thread::yield();
    const int reader = rendezvous->reader;
    const std::string seccomp = reader != 0 ? StatusLine(reader, "Seccomp") : "";
    const std::string noNewPrivileges = reader != 0 ? StatusLine(reader, "NoNewPrivs") : "";
    rendezvous->release = true;
    reading.join();
    munmap(shared, sizeof(Rendezvous));
    EXPECT_EQ(seccomp, "Seccomp:\t2");
    EXPECT_EQ(noNewPrivileges, "NoNewPrivs:\t1");
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(metadata.latitude.reference, "released");
}

// madvise with each advice: allowed ones on a page of the reader's own,
// refused ones at an unaligned address, so that a kernel that got the call
// would refuse it with EINVAL before it touched anything (even as root).
struct Advice {
    const char* name;
    int advice;
    const char* outcome;
};

std::ostream& operator<<(std::ostream& out, const Advice& advice) { return out << advice.name; }

// The kernel's number (<linux/mman.h>), which glibc's <sys/mman.h> lacks.
constexpr int kAdviceSoftOffline = 101;

Advice probedAdvice;

HRESULT ParseAdvising(int, host::GpsMetadata* metadata) {
    const bool allowed = std::strcmp(probedAdvice.outcome, "done") == 0;
    char* page = static_cast<char*>(
        mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (page == MAP_FAILED) return E_OUTOFMEMORY;
    page[0] = 1;
    const long result = madvise(allowed ? page : page + 1, 4096, probedAdvice.advice);
    return Report(0, Outcome(result), metadata);
}

class AdviceTest : public testing::TestWithParam<Advice> {};

TEST_P(AdviceTest, IsAllowedOnlyForTheReadersOwnPages) {
    probedAdvice = GetParam();
    const Picture picture;
    host::GpsMetadata metadata;
    ASSERT_EQ(Read(picture, ParseAdvising, &metadata), S_OK);
    EXPECT_EQ(metadata.latitude.reference, GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Advice, AdviceTest,
    testing::Values(
        Advice{"normal", MADV_NORMAL, "done"}, Advice{"random", MADV_RANDOM, "done"},
        Advice{"sequential", MADV_SEQUENTIAL, "done"}, Advice{"willneed", MADV_WILLNEED, "done"},
        Advice{"dontneed", MADV_DONTNEED, "done"}, Advice{"free", MADV_FREE, "done"},
        Advice{"hugepage", MADV_HUGEPAGE, "done"}, Advice{"nohugepage", MADV_NOHUGEPAGE, "done"},
        Advice{"dontdump", MADV_DONTDUMP, "done"}, Advice{"hwpoison", MADV_HWPOISON, "EPERM"},
        Advice{"soft_offline", kAdviceSoftOffline, "EPERM"},
        Advice{"mergeable", MADV_MERGEABLE, "EPERM"}, Advice{"pageout", MADV_PAGEOUT, "EPERM"},
        Advice{"cold", MADV_COLD, "EPERM"}, Advice{"remove", MADV_REMOVE, "EPERM"},
        Advice{"dontfork", MADV_DONTFORK, "EPERM"}, Advice{"wipeonfork", MADV_WIPEONFORK, "EPERM"},
        Advice{"negative", -1, "EPERM"}),
    [](const testing::TestParamInfo<Advice>& info) { return std::string(info.param.name); });

// Whether the process behind `handle` ends within `patience`.
bool EndsWithin(int handle, std::chrono::milliseconds patience) {
    struct pollfd watched = {handle, POLLIN, 0};
    return poll(&watched, 1, static_cast<int>(patience.count())) == 1;
}

TEST(ConfinedReader, DiesWithItsParent) {
    void* shared = mmap(nullptr, sizeof(Rendezvous), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    rendezvous = new (shared) Rendezvous;
    const Picture picture;
    // The reader's parent: a process of its own, so that it can be killed.
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        host::GpsMetadata metadata;
        Read(
            picture,
            [](int descriptor, host::GpsMetadata* found) {
                rendezvous->reader = getpid();
                return ParseWaitingForever(descriptor, found);
            },
            &metadata);
        _exit(0);
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rendezvous->reader == 0 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int reader = rendezvous->reader;
    const host::UniqueFd handle(reader != 0 ? static_cast<int>(syscall(SYS_pidfd_open, reader, 0))
                                            : -1);
    kill(parent, SIGKILL);
    int status = 0;
    waitpid(parent, &status, 0);
    // Within the reader's stall window (30 s): only the parent's death ends it.
    const bool ended = handle.Valid() && EndsWithin(handle.Get(), std::chrono::seconds(10));
    if (handle.Valid() && !ended) syscall(SYS_pidfd_send_signal, handle.Get(), SIGKILL, nullptr, 0);
    munmap(shared, sizeof(Rendezvous));
    ASSERT_NE(reader, 0) << "the reader never started parsing";
    ASSERT_TRUE(handle.Valid());
    EXPECT_TRUE(ended) << "the reader outlived its parent";
}

}  // namespace
