// Where a reader's bytes come from: the picture file, read with pread in
// the pieces the readers ask for, or bytes in memory (a block that was
// decoded or gathered first, a fuzzer's input). No file is ever mapped, so
// no storage that answers short or late can fault a reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Copies `length` bytes at `offset` into `out`; false when the source
    // ends before them or cannot be read.
    virtual bool Read(std::uint64_t offset, std::size_t length, unsigned char* out) const = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
    MemorySource(const unsigned char* data, std::size_t size) : bytes_(data, data + size) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    bool Read(std::uint64_t offset, std::size_t length, unsigned char* out) const override;
    const std::vector<unsigned char>& Bytes() const { return bytes_; }

private:
    std::vector<unsigned char> bytes_;
};

// A regular file open at a descriptor that it does not own. Small reads are
// served from a few windows of the file, read whole: a window grows while
// the readers move forward through the file (a chunk walk) and starts small
// wherever they jump. Larger reads go straight to the file. The kernel is
// told to read no more than is asked for, so a picture's read leaves in the
// page cache the pages the readers needed and few others.
class FileSource final : public ByteSource {
public:
    explicit FileSource(int descriptor) : descriptor_(descriptor) {}
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Learns the file's real size: its stated size where a read there finds
    // the end, else (a share that states 0, or too little) the end that
    // reading on finds. False when the file cannot be read at all.
    bool Open();

    std::uint64_t Size() const override { return size_; }
    bool Read(std::uint64_t offset, std::size_t length, unsigned char* out) const override;

private:
    struct Window {
        std::uint64_t offset = 0;
        std::vector<unsigned char> bytes;
        std::uint64_t lastUse = 0;
    };

    const Window* WindowAt(std::uint64_t offset) const;
    const Window* Fill(std::uint64_t offset) const;

    int descriptor_;
    std::uint64_t size_ = 0;
    mutable Window windows_[4];
    mutable std::uint64_t uses_ = 0;
    mutable std::uint64_t lastFillEnd_ = 0;
    mutable std::size_t lastFillSize_ = 0;
};

// Reads up to `length` bytes at `offset`, looping over short reads and
// interruptions until the file ends; the count read, or -1 on an error.
long long ReadFileAt(int descriptor, std::uint64_t offset, std::size_t length, unsigned char* out);

}  // namespace host
