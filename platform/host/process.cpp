#include "platform/host/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace host {

namespace {

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

}  // namespace

bool StartProgram(const std::vector<std::string>& arguments, ProgramWait wait, bool quiet) {
    if (arguments.empty()) return false;
    SpawnSettings settings;
    posix_spawn_file_actions_addopen(&settings.actions_, 0, "/dev/null", O_RDONLY, 0);
    if (quiet) {
        posix_spawn_file_actions_addopen(&settings.actions_, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&settings.actions_, 1, 2);
    }
    // A detached program outlives us in a session of its own: the browser
    // may run for hours.
    if (wait == ProgramWait::Detached) {
        posix_spawnattr_setflags(&settings.attributes_, POSIX_SPAWN_SETSID);
    }

    std::vector<std::string> copies = arguments;
    std::vector<char*> vector;
    for (std::string& argument : copies) vector.push_back(argument.data());
    vector.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawnp(&child, vector[0], &settings.actions_, &settings.attributes_, vector.data(),
                     environ) != 0) {
        return false;
    }
    if (wait == ProgramWait::UntilExit) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return true;
}

}  // namespace host
