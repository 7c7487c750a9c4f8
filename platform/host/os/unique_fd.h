// The one owner of a file descriptor on the host. Receive() follows the
// holders' contract (gps/com_holders.h): it closes what is held first.
#pragma once

#include <unistd.h>

#include <utility>

namespace host {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int descriptor) : descriptor_(descriptor) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : descriptor_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return descriptor_; }
    bool Valid() const { return descriptor_ >= 0; }

    // For a call that writes a descriptor into an int.
    int* Receive() {
        Reset();
        return &descriptor_;
    }
    void Reset(int descriptor = -1) {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = descriptor;
    }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_ = -1;
};

}  // namespace host
