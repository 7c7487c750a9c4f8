#include "platform/host/picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

OpenedPicture::OpenedPicture(const std::string& path)
    : descriptor_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {}

OpenedPicture::~OpenedPicture() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

bool OpenedPicture::IsRegularFile() const {
    struct stat status;
    return descriptor_ >= 0 && fstat(descriptor_, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace host
