#include "platform/host/os/unique_fd.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>

namespace {

bool IsOpen(int descriptor) { return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF; }

TEST(UniqueFd, ClosesWhatItHeldBeforeItIsFilledAgain) {
    host::UniqueFd holder(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int first = holder.Get();
    ASSERT_TRUE(IsOpen(first));
    int* again = holder.Receive();
    EXPECT_FALSE(IsOpen(first));
    EXPECT_EQ(*again, -1);
}

TEST(UniqueFd, ClosesOnceWhenMovedAndWhenItGoes) {
    int descriptor = -1;
    {
        host::UniqueFd first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        descriptor = first.Get();
        host::UniqueFd second(std::move(first));
        EXPECT_FALSE(first.Valid());
        EXPECT_EQ(second.Get(), descriptor);
        EXPECT_TRUE(IsOpen(descriptor));
    }
    EXPECT_FALSE(IsOpen(descriptor));
}

}  // namespace
