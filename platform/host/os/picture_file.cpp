#include "platform/host/os/picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace host {

UniqueFd OpenPicture(const std::string& path) {
    return UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

bool IsRegularFile(int descriptor) {
    struct stat status;
    return descriptor >= 0 && fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace host
