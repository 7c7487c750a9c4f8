// The reader process, driven by parsers that exist only in this test binary:
// each does what a parser taken over by a hostile picture might do.
#include "platform/host/sandbox/confined_reader.h"
#include "platform/host/sandbox/sanitizers.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

HRESULT ParseSize(const unsigned char* data, std::size_t size, host::GpsMetadata* metadata) {
    const bool same = size == sizeof kContent && std::memcmp(data, kContent, size) == 0;
    return Report(static_cast<double>(size), same ? "same" : "other", metadata);
}

HRESULT ParseToFailure(const unsigned char*, std::size_t, host::GpsMetadata*) {
    return E_OUTOFMEMORY;
}

// errno of an attempt, as text, or "done" when it was not refused.
std::string Outcome(long result) {
    if (result >= 0) return "done";
    return errno == EACCES ? "EACCES" : errno == EPERM ? "EPERM" : "errno " + std::to_string(errno);
}

HRESULT ParseOpeningAFile(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    return Report(0, Outcome(::open("/etc/passwd", O_RDONLY | O_CLOEXEC)), metadata);
}

HRESULT ParseStatingAFile(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    struct stat status;
    return Report(0, Outcome(::stat("/etc/passwd", &status)), metadata);
}

HRESULT ParseWritingToStdout(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    return Report(0, Outcome(::write(STDOUT_FILENO, "x", 1)), metadata);
}

// Counts the descriptors open in the reader (fstat of a descriptor is allowed).
HRESULT ParseCountingDescriptors(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    int open = 0;
    for (int descriptor = 0; descriptor < 4096; ++descriptor) {
        struct stat status;
        if (fstat(descriptor, &status) == 0) ++open;
    }
    return Report(open, "", metadata);
}

HRESULT ParseOpeningASocket(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    return Report(0, Outcome(::socket(AF_INET, SOCK_STREAM, 0)), metadata);
}

HRESULT ParseStartingAProgram(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    char* const arguments[] = {const_cast<char*>("/bin/true"), nullptr};
    return Report(0, Outcome(execv("/bin/true", arguments)), metadata);
}

HRESULT ParseForking(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    return Report(0, Outcome(fork()), metadata);
}

HRESULT ParseMakingCodeExecutable(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    void* page =
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return Report(0, page == MAP_FAILED ? Outcome(-1) : "done", metadata);
}

HRESULT ParseCrashing(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    raise(SIGSEGV);
    return Report(0, "survived", metadata);
}

HRESULT ParseForever(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
    volatile bool going = true;
    while (going) {
    }
    return Report(0, "ended", metadata);
}

// Takes memory in blocks, touching every page, up to 2 GiB.
HRESULT ParseTakingMemory(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
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

HRESULT Read(const Picture& picture, decltype(host::PictureParser::parse) parse,
             host::GpsMetadata* metadata) {
    return host::ReadConfined(picture.Descriptor(), host::PictureParser{nullptr, parse}, metadata);
}

TEST(ConfinedReader, HandsBackWhatTheParserReadFromTheMappedPicture) {
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
    const host::PictureParser parser{
        [] {
            const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            opened = descriptor >= 0;
            if (opened) ::close(descriptor);
        },
        [](const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
            return Report(0, opened ? "opened" : "refused", metadata);
        }};
    host::GpsMetadata metadata;
    ASSERT_EQ(host::ReadConfined(picture.Descriptor(), parser, &metadata), S_OK);
    EXPECT_EQ(metadata.latitude.reference, "opened");
}

// Calls that libraries make when they load something lazily fail as on a
// missing file; the reader goes on.
struct RefusedCall {
    const char* name;
    decltype(host::PictureParser::parse) parse;
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

INSTANTIATE_TEST_SUITE_P(Calls, RefusedCallTest,
                         testing::Values(RefusedCall{"open", ParseOpeningAFile, "EACCES"},
                                         RefusedCall{"stat", ParseStatingAFile, "EACCES"},
                                         RefusedCall{"write_stdout", ParseWritingToStdout,
                                                     "EPERM"}));

// Everything else ends the reader: the read fails.
class ForbiddenCallTest : public testing::TestWithParam<RefusedCall> {};

TEST_P(ForbiddenCallTest, EndsTheReader) {
    const Picture picture;
    host::GpsMetadata metadata;
    EXPECT_EQ(Read(picture, GetParam().parse, &metadata), E_FAIL);
    EXPECT_FALSE(metadata.latitude.present);
}

INSTANTIATE_TEST_SUITE_P(Calls, ForbiddenCallTest,
                         testing::Values(RefusedCall{"socket", ParseOpeningASocket, ""},
                                         RefusedCall{"execve", ParseStartingAProgram, ""},
                                         RefusedCall{"fork", ParseForking, ""},
                                         RefusedCall{"executable_mapping",
                                                     ParseMakingCodeExecutable, ""},
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
    // The picture is closed once mapped; a sanitizer build keeps stderr.
    EXPECT_EQ(metadata.latitude.parts, std::vector<double>{host::kSanitizerReports ? 2.0 : 1.0});
}

TEST(ConfinedReader, EndsAReaderThatDoesNotAnswerByTheDeadline) {
    const Picture picture;
    host::GpsMetadata metadata;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(picture, ParseForever, &metadata), E_FAIL);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(host::kReaderDeadlineMilliseconds - 100));
    EXPECT_LT(took, std::chrono::milliseconds(host::kReaderDeadlineMilliseconds + 1000));
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

HRESULT ParseWaitingForRelease(const unsigned char*, std::size_t, host::GpsMetadata* metadata) {
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

}  // namespace
