#include "platform/host/picture/byte_source.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace host {

namespace {

constexpr std::uint64_t kPage = 4096;
// A window starts at a few pages and doubles while reads move forward,
// so that a walk over many chunk headers costs few reads on a slow share.
constexpr std::size_t kSmallestWindow = 16u << 10;
constexpr std::size_t kLargestWindow = 1u << 20;

}  // namespace

long long ReadFileAt(int descriptor, std::uint64_t offset, std::size_t length, unsigned char* out) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            pread(descriptor, out + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;  // the end of the file
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

bool MemorySource::Read(std::uint64_t offset, std::size_t length, unsigned char* out) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length != 0) std::memcpy(out, bytes_.data() + offset, length);
    return true;
}

bool FileSource::Open() {
    // The fstat call itself: glibc's fstat() asks newfstatat, which the
    // confined reader may not use (it could name a file).
    struct stat status;
    if (syscall(SYS_fstat, descriptor_, &status) != 0 || status.st_size < 0) return false;
    // No readahead: the readers ask for what they need, and the kernel's
    // read-around would fill the page cache with megabytes of image data.
    posix_fadvise(descriptor_, 0, 0, POSIX_FADV_RANDOM);
    size_ = static_cast<std::uint64_t>(status.st_size);
    // Most files end where they say. Some shares state 0 or a wrong size and
    // hand out every byte all the same: there the end is where reading ends.
    std::vector<unsigned char> probe(1);
    for (;;) {
        const long long got = ReadFileAt(descriptor_, size_, probe.size(), probe.data());
        if (got < 0) return false;
        if (got == 0) return true;
        size_ += static_cast<std::uint64_t>(got);
        if (probe.size() < kLargestWindow) probe.resize(kLargestWindow);
    }
}

const FileSource::Window* FileSource::WindowAt(std::uint64_t offset) const {
    for (Window& window : windows_) {
        if (offset >= window.offset && offset - window.offset < window.bytes.size()) {
            window.lastUse = ++uses_;
            return &window;
        }
    }
    return nullptr;
}

const FileSource::Window* FileSource::Fill(std::uint64_t offset) const {
    const bool forward = offset >= lastFillEnd_ && offset - lastFillEnd_ < lastFillSize_;
    const std::size_t want =
        forward ? std::min(lastFillSize_ * 2, kLargestWindow) : kSmallestWindow;
    const std::uint64_t start = offset / kPage * kPage;
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(want, size_ - start));
    Window* window =
        std::min_element(std::begin(windows_), std::end(windows_),
                         [](const Window& a, const Window& b) { return a.lastUse < b.lastUse; });
    window->bytes.resize(length);
    const long long got = ReadFileAt(descriptor_, start, length, window->bytes.data());
    // A file shortened meanwhile: the window holds what is still there.
    window->bytes.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    window->offset = start;
    window->lastUse = ++uses_;
    lastFillEnd_ = start + length;
    lastFillSize_ = length;
    return offset - start < window->bytes.size() ? window : nullptr;
}

bool FileSource::Read(std::uint64_t offset, std::size_t length, unsigned char* out) const {
    if (offset > size_ || length > size_ - offset) return false;
    if (length >= kSmallestWindow) {
        return ReadFileAt(descriptor_, offset, length, out) == static_cast<long long>(length);
    }
    while (length > 0) {
        const Window* window = WindowAt(offset);
        if (window == nullptr) window = Fill(offset);
        if (window == nullptr) return false;
        const std::uint64_t at = offset - window->offset;
        const std::size_t part = std::min<std::size_t>(length, window->bytes.size() - at);
        std::memcpy(out, window->bytes.data() + at, part);
        out += part;
        offset += part;
        length -= part;
    }
    return true;
}

}  // namespace host
