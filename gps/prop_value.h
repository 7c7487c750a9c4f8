// PropValue owns one PROPVARIANT and turns GPS values into decimal degrees.
// Its Receive() follows the holders' contract of com_holders.h.
#pragma once

#include "platform/platform.h"

class PropValue {
public:
    PropValue();
    ~PropValue();
    PropValue(const PropValue&) = delete;
    PropValue& operator=(const PropValue&) = delete;

    // For the platform to fill; whatever was held is cleared first.
    PROPVARIANT* Receive();
    const PROPVARIANT& Get() const { return value_; }

    // A floating scalar is taken as degrees; a vector [d, m, s, ...] sums as
    // d + m/60 + s/3600 + .... On failure *degrees holds a partial sum.
    bool ToDegrees(double* degrees) const;
    // Only VT_R4 and VT_R8 convert; anything else gives 0.0 and false.
    bool ToDouble(double* value) const;
    // Releases what the value owns through PropVariantClear and leaves it
    // VT_EMPTY, or VT_ERROR with the failure status when the platform cannot
    // release it.
    HRESULT Clear();

private:
    // Loads element `index` of `vector` as a scalar of the vector's element
    // type; false for an element type that has no scalar conversion.
    bool LoadElement(const PROPVARIANT& vector, ULONG index);

    PROPVARIANT value_;
};
