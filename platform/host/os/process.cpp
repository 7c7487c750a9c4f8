#include "platform/host/os/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/host/os/unique_fd.h"

extern char** environ;

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

// The posix_spawn attributes and file actions, released on every path.
class SpawnSettings {
public:
    SpawnSettings() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~SpawnSettings() {
        posix_spawnattr_destroy(&attributes_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

ProgramEnd EndFromStatus(int status) {
    if (WIFSIGNALED(status)) return {ProgramEnd::Kind::Signalled, WTERMSIG(status)};
    return {ProgramEnd::Kind::Exited, WEXITSTATUS(status)};
}

// Starts the program with 0-2 on /dev/null and every other descriptor
// closed; -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string>& arguments, bool ownSession) {
    if (arguments.empty()) return -1;
    SpawnSettings settings;
    posix_spawn_file_actions_addopen(&settings.actions_, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&settings.actions_, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&settings.actions_, 1, 2);
    // exiv2 opens pictures without close-on-exec; nothing of ours may leak.
    posix_spawn_file_actions_addclosefrom_np(&settings.actions_, 3);
    // Our SIGPIPE is ignored; the programs we start get theirs back.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&settings.attributes_, &defaults);
    short flags = POSIX_SPAWN_SETSIGDEF;
    if (ownSession) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&settings.attributes_, flags);

    std::vector<std::string> copies = arguments;
    std::vector<char*> vector;
    for (std::string& argument : copies) vector.push_back(argument.data());
    vector.push_back(nullptr);

    pid_t child = -1;
    if (posix_spawnp(&child, vector[0], &settings.actions_, &settings.attributes_, vector.data(),
                     environ) != 0) {
        return -1;
    }
    return child;
}

// Sleeps a little longer each time, so that a quick exit is seen within a
// millisecond or two and a long wait costs few wake-ups.
void Nap(std::chrono::milliseconds& nap, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const auto length = std::max(std::chrono::milliseconds(0), std::min(nap, left));
    const timespec pause = {0, static_cast<long>(length.count()) * 1000000L};
    nanosleep(&pause, nullptr);
    nap = std::min(nap * 2, std::chrono::milliseconds(20));
}

// A process's pidfd, which becomes readable when the process ends; closed
// on every path. Invalid (-1) where the kernel has none (before Linux 5.3).
// The system call itself: glibc 2.36's <sys/pidfd.h> declares pidfd_open
// without C linkage.
class ProcessHandle {
public:
    explicit ProcessHandle(pid_t pid) : fd_(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))) {}

    // Waits until the process ends or the deadline passes; false when the
    // handle cannot wait.
    bool AwaitEnd(Clock::time_point deadline) const {
        if (!fd_.Valid()) return false;
        pollfd watched = {fd_.Get(), POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int timeout = static_cast<int>(std::max<long long>(0, left.count() + 1));
        return poll(&watched, 1, timeout) >= 0 || errno == EINTR;
    }

private:
    UniqueFd fd_;
};

}  // namespace

ProgramEnd RunUntilExit(const std::vector<std::string>& arguments) {
    const pid_t child = Spawn(arguments, false);
    if (child < 0) return {ProgramEnd::Kind::NotStarted, 0};
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return {ProgramEnd::Kind::Exited, 0};
    }
    return EndFromStatus(status);
}

bool AwaitChildEnd(pid_t child, Clock::time_point deadline, int* status) {
    const ProcessHandle handle(child);
    auto nap = std::chrono::milliseconds(1);
    for (;;) {
        const pid_t ended = waitpid(child, status, WNOHANG);
        if (ended == child) return true;
        if (ended < 0 && errno != EINTR) return false;
        if (Clock::now() >= deadline) return false;
        if (!handle.AwaitEnd(deadline)) Nap(nap, deadline);
    }
}

ProgramEnd StartDetached(const std::vector<std::string>& arguments,
                         std::chrono::milliseconds patience) {
    const pid_t child = Spawn(arguments, true);
    if (child < 0) return {ProgramEnd::Kind::NotStarted, 0};
    int status = 0;
    if (AwaitChildEnd(child, Clock::now() + patience, &status)) return EndFromStatus(status);
    return {ProgramEnd::Kind::StillRunning, 0};
}

}  // namespace host
