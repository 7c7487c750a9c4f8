// How the host opens a picture: once, by the path the user gave, without
// blocking. Everything after that reads through this one descriptor, so
// another process that puts something else at the path meanwhile (a FIFO
// that would block for ever, another file) changes nothing.
#pragma once

#include <string>

namespace host {

class OpenedPicture {
public:
    explicit OpenedPicture(const std::string& path);
    ~OpenedPicture();
    OpenedPicture(const OpenedPicture&) = delete;
    OpenedPicture& operator=(const OpenedPicture&) = delete;

    bool IsRegularFile() const;
    // Read-only, closed on exec.
    int Descriptor() const { return descriptor_; }

private:
    int descriptor_;
};

}  // namespace host
