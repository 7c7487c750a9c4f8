// PropValue::ToDegrees on any type tag, with any payload. The input is
//   2 bytes  type tag, little-endian (any value, flag bits included)
//   vector:  1 byte element count, then the elements' bytes
//   scalar:  up to 8 bytes of the value itself
// Every array and string the value points at is allocated here with exactly
// the size its tag gives, so the address sanitizer reports any read past it.
// Besides the sanitizers' faults, a run stops when the result differs from
// the documented one: a float scalar as is, a vector of floats summed as
// d + m/60 + s/3600 + ..., anything else false.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "gps/prop_value.h"
#include "platform/platform.h"

namespace {

[[noreturn]] void Broken(const char* promise) {
    std::fprintf(stderr, "prop_value_fuzzer: %s\n", promise);
    std::abort();
}

// Hands out the input's bytes in order, zeros once they run out.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    void Read(void* out, std::size_t count) {
        auto* bytes = static_cast<std::uint8_t*>(out);
        for (std::size_t i = 0; i < count; ++i) bytes[i] = at_ < size_ ? data_[at_++] : 0;
    }
    template <typename T>
    T Next() {
        T value;
        Read(&value, sizeof value);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// What the value points at, owned here: the value itself never owns it.
struct Payload {
    std::unique_ptr<float[]> floats;
    std::unique_ptr<double[]> doubles;
    std::unique_ptr<std::uint8_t[]> bytes;
};

bool SameDouble(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

constexpr VARTYPE kArrayFlag = 0x2000;  // VT_ARRAY: the value holds a pointer

// Types whose value is a pointer to memory; it is given a real block.
bool HoldsPointer(VARTYPE type) {
    return (type & (VT_BYREF | kArrayFlag)) != 0 || type == VT_LPWSTR || type == VT_LPSTR ||
           type == VT_BSTR;
}

// A block of `count` elements read from the input, owned by `block`.
template <typename Element>
Element* ReadElements(ByteReader& input, ULONG count, std::unique_ptr<Element[]>& block) {
    block.reset(count != 0 ? new Element[count] : nullptr);
    input.Read(block.get(), count * sizeof(Element));
    return block.get();
}

// d + m/60 + s/3600 + ..., added from the first element on.
template <typename Element>
double ExpectedSum(const Element* elements, ULONG count) {
    double sum = 0.0;
    double divisor = 1.0;
    for (ULONG i = 0; i < count; ++i) {
        sum = sum + static_cast<double>(elements[i]) / divisor;
        divisor *= 60.0;
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader input(data, size);
    const auto type = input.Next<VARTYPE>();
    Payload payload;

    PropValue value;
    PROPVARIANT& raw = *value.Receive();
    raw.vt = type;

    bool expectedConverts = false;
    double expected = 0.0;
    if (type & VT_VECTOR) {
        const ULONG count = input.Next<std::uint8_t>();
        raw.cadbl.cElems = count;
        switch (type & VT_TYPEMASK) {
            case VT_R4:
                raw.caflt.pElems = ReadElements(input, count, payload.floats);
                expectedConverts = true;
                expected = ExpectedSum(payload.floats.get(), count);
                break;
            case VT_R8:
                raw.cadbl.pElems = ReadElements(input, count, payload.doubles);
                expectedConverts = true;
                expected = ExpectedSum(payload.doubles.get(), count);
                break;
            default:
                // Elements of other types, 8 bytes each: none of them converts,
                // so only an empty vector gives degrees (zero).
                raw.cadbl.pElems = ReadElements(input, count, payload.doubles);
                expectedConverts = count == 0;
                break;
        }
    } else {
        input.Read(&raw.hVal, sizeof raw.hVal);
        if (HoldsPointer(type)) {
            constexpr std::size_t kBlock = 64;
            payload.bytes.reset(new std::uint8_t[kBlock]);
            input.Read(payload.bytes.get(), kBlock - 2);
            payload.bytes[kBlock - 2] = payload.bytes[kBlock - 1] = 0;  // ends any string
            raw.pszVal = reinterpret_cast<char*>(payload.bytes.get());
        }
        if (type == VT_R4) {
            expectedConverts = true;
            expected = raw.fltVal;
        } else if (type == VT_R8) {
            expectedConverts = true;
            expected = raw.dblVal;
        }
    }

    double degrees = 0.0;
    const bool converts = value.ToDegrees(&degrees);
    if (converts != expectedConverts) Broken("ToDegrees accepted or refused the wrong type");
    if (converts && !SameDouble(degrees, expected)) Broken("ToDegrees gave the wrong degrees");
    // Every element has the vector's type, so a refused vector fails on its
    // first element, before anything was added.
    if (!converts && degrees != 0.0) Broken("a refused value left degrees other than zero");

    // The payload belongs to this function, not to the value: hand the value
    // back empty so that its destructor releases nothing.
    std::memset(&raw, 0, sizeof raw);
    return 0;
}
