#include "platform/host/picture/bmff.h"

namespace host::bmff {

bool BoxWalker::Next(Box* box) {
    const std::uint64_t left = region_.Size() - offset_;
    if (broken_ || boxesLeft_ == 0 || left < 8) return false;
    --boxesLeft_;
    Cursor cursor(region_.From(offset_));
    std::uint64_t size = cursor.Read(4);
    box->type = static_cast<std::uint32_t>(cursor.Read(4));
    if (size == 1) size = cursor.Read(8);  // a 64-bit size
    if (size == 0) size = left;            // to the end
    const std::uint64_t header = cursor.Position();
    if (size > left && overrun_ == Overrun::kEndsAtRegionEnd) size = left;
    broken_ = !cursor.Ok() || size < header || size > left;
    if (broken_) return false;
    box->bodyOffset = offset_ + header;
    box->bodySize = size - header;
    offset_ += size;
    return true;
}

bool FindChild(const ByteView& region, std::uint32_t type, int mostBoxes, ByteView* body) {
    BoxWalker walker(region, mostBoxes);
    Box box;
    while (walker.Next(&box)) {
        if (box.type == type) {
            *body = walker.Body(box);
            return true;
        }
    }
    return false;
}

}  // namespace host::bmff
