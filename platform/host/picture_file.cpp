#include "platform/host/picture_file.h"

#include "platform/host/exiv2_compat.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace host {

OpenedPicture::OpenedPicture(const std::string& path)
    : path_(path),
      descriptor_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {}

OpenedPicture::~OpenedPicture() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

bool OpenedPicture::IsRegularFile() const {
    struct stat status;
    return descriptor_ >= 0 && fstat(descriptor_, &status) == 0 && S_ISREG(status.st_mode);
}

std::string OpenedPicture::NameForReopening() const {
    const std::string name = "/proc/self/fd/" + std::to_string(descriptor_);
    return ::access(name.c_str(), R_OK) == 0 ? name : path_;
}

namespace {

// The one mapping that the SIGBUS handler may patch, empty when none.
std::atomic<std::uintptr_t> guardedBegin{0};
std::atomic<std::uintptr_t> guardedEnd{0};
std::uintptr_t pageSize = 4096;

// Touching a page of a mapping past the file's end raises SIGBUS. Inside the
// guarded mapping, a page of zeros takes its place and the read is retried;
// any other SIGBUS falls back to the default action, which ends the process.
void OnBusError(int number, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (address >= guardedBegin.load() && address < guardedEnd.load()) {
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
        // mmap is a plain system call here, safe in a handler.
        if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED) {
            return;
        }
    }
    signal(number, SIG_DFL);
}

void InstallBusErrorHandlerOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action = {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, nullptr);
    });
}

class GuardedFileIo final : public Exiv2::FileIo {
public:
    explicit GuardedFileIo(const std::string& name) : Exiv2::FileIo(name) {}
    GuardedFileIo(const GuardedFileIo&) = delete;
    GuardedFileIo& operator=(const GuardedFileIo&) = delete;
    ~GuardedFileIo() override { Unguard(); }

    using Exiv2::FileIo::open;
    int open() override {
        sizeTaken_ = false;
        return Exiv2::FileIo::open();
    }
    int close() override {
        sizeTaken_ = false;
        return Exiv2::FileIo::close();
    }
    // Taken once per opening, so that the mapping and the bounds that exiv2
    // checks offsets against agree, however the file changes meanwhile.
    size_t size() const override {
        if (!isopen()) return Exiv2::FileIo::size();
        if (!sizeTaken_) {
            size_ = Exiv2::FileIo::size();
            sizeTaken_ = true;
        }
        return size_;
    }
    Exiv2::byte* mmap(bool isWriteable) override {
        if (isWriteable) {
            throw Exiv2::Error(exiv2::kFailedToMapFileForReadWrite, path(), "read only");
        }
        InstallBusErrorHandlerOnce();
        Exiv2::byte* data = Exiv2::FileIo::mmap(false);
        if (data != nullptr) {
            guardedBegin = reinterpret_cast<std::uintptr_t>(data);
            guardedEnd = guardedBegin + size();
        }
        return data;
    }
    int munmap() override {
        Unguard();
        return Exiv2::FileIo::munmap();
    }

private:
    void Unguard() {
        guardedEnd = 0;
        guardedBegin = 0;
    }

    mutable bool sizeTaken_ = false;
    mutable std::size_t size_ = 0;
};

}  // namespace

std::unique_ptr<Exiv2::BasicIo> MakeGuardedFileIo(const std::string& name) {
    return std::make_unique<GuardedFileIo>(name);
}

}  // namespace host
