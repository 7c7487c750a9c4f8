// How the host opens a picture for exiv2: once, without blocking, and safe
// against another process shortening the file while it is mapped.
#pragma once

#include <memory>
#include <string>

namespace Exiv2 {
class BasicIo;
}

namespace host {

// The picture, opened once and without blocking. exiv2 opens the file
// several times by name; given the name of this descriptor under /proc, it
// reopens this very file each time. Reopening the path instead would open
// whatever another process has put there since the shell item checked it,
// and a FIFO put there would block the program for ever.
class OpenedPicture {
public:
    explicit OpenedPicture(const std::string& path);
    ~OpenedPicture();
    OpenedPicture(const OpenedPicture&) = delete;
    OpenedPicture& operator=(const OpenedPicture&) = delete;

    bool IsRegularFile() const;
    // The path itself only where /proc is not mounted.
    std::string NameForReopening() const;

private:
    std::string path_;
    int descriptor_;
};

// A FileIo for exiv2 that reads `name` and never writes, and whose mapping
// of the file survives the file being shortened meanwhile: the lost part
// reads as zeros, which exiv2 takes for damaged data. A handful of pages
// are touched, however large the file.
std::unique_ptr<Exiv2::BasicIo> MakeGuardedFileIo(const std::string& name);

}  // namespace host
