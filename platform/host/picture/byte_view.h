// A range of a byte source, and a cursor over one: every bounds check and
// every byte-order read of the readers happens here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/host/picture/byte_source.h"

namespace host {

enum class Endian { kBig, kLittle };

class ByteView {
public:
    explicit ByteView(const ByteSource& source) : ByteView(source, 0, source.Size()) {}
    ByteView(const ByteSource& source, std::uint64_t offset, std::uint64_t size)
        : source_(&source), offset_(offset), size_(size) {}

    std::uint64_t Size() const { return size_; }
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // The part at `offset`, cut at the view's end.
    ByteView Part(std::uint64_t offset, std::uint64_t length) const {
        const std::uint64_t at = offset <= size_ ? offset : size_;
        return ByteView(*source_, offset_ + at, length <= size_ - at ? length : size_ - at);
    }
    ByteView From(std::uint64_t offset) const { return Part(offset, size_); }

    bool Copy(std::uint64_t offset, std::uint64_t length, unsigned char* out) const {
        return Has(offset, length) && source_->Read(offset_ + offset, length, out);
    }
    // The bytes at `offset` appended to `out`.
    bool Append(std::uint64_t offset, std::uint64_t length, std::vector<unsigned char>* out) const {
        if (!Has(offset, length)) return false;
        const std::size_t at = out->size();
        out->resize(at + length);
        if (Copy(offset, length, out->data() + at)) return true;
        out->resize(at);
        return false;
    }
    // An unsigned field of up to 8 bytes; one of 0 bytes reads as 0.
    bool Read(std::uint64_t offset, int bytes, Endian endian, std::uint64_t* value) const {
        unsigned char field[8];
        if (bytes < 0 || bytes > 8 || !Copy(offset, bytes, field)) return false;
        *value = 0;
        for (int i = 0; i < bytes; ++i) {
            const int at = endian == Endian::kBig ? i : bytes - 1 - i;
            *value = (*value << 8) | field[at];
        }
        return true;
    }
    // Whether the bytes at `offset` are `text` (its terminating NUL not
    // counted, those inside it counted).
    template <std::size_t N>
    bool Matches(std::uint64_t offset, const char (&text)[N]) const {
        unsigned char bytes[N - 1];
        return Copy(offset, N - 1, bytes) && std::memcmp(bytes, text, N - 1) == 0;
    }

private:
    const ByteSource* source_;
    std::uint64_t offset_;
    std::uint64_t size_;
};

// Fields read one after another; once a read fails, every later one fails
// too and reads 0, so a parse checks Ok() once, where it matters.
class Cursor {
public:
    explicit Cursor(ByteView view, Endian endian = Endian::kBig) : view_(view), endian_(endian) {}

    std::uint64_t Read(int bytes) {
        std::uint64_t value = 0;
        if (ok_ && view_.Read(at_, bytes, endian_, &value)) {
            at_ += static_cast<std::uint64_t>(bytes);
            return value;
        }
        ok_ = false;
        return 0;
    }
    void Skip(std::uint64_t bytes) {
        if (ok_ && view_.Has(at_, bytes)) {
            at_ += bytes;
        } else {
            ok_ = false;
        }
    }
    bool Ok() const { return ok_; }
    std::uint64_t Position() const { return at_; }
    std::uint64_t Left() const { return view_.Size() - at_; }
    ByteView Rest() const { return view_.From(at_); }

private:
    ByteView view_;
    Endian endian_;
    std::uint64_t at_ = 0;
    bool ok_ = true;
};

}  // namespace host
