#include "gps/prop_value.h"

#include <cstring>

PropValue::PropValue() {
    std::memset(&value_, 0, sizeof value_);
    value_.vt = VT_EMPTY;
}

PropValue::~PropValue() { Clear(); }

bool PropValue::ToDouble(double* value) const {
    switch (value_.vt) {
        case VT_R4:
            *value = value_.fltVal;
            return true;
        case VT_R8:
            *value = value_.dblVal;
            return true;
        default:
            *value = 0.0;
            return false;
    }
}

bool PropValue::LoadElement(const PROPVARIANT& vector, ULONG index) {
    // The element stride follows the element type: 4-byte floats are walked
    // as floats, not as doubles.
    switch (vector.vt & VT_TYPEMASK) {
        case VT_R4:
            value_.vt = VT_R4;
            value_.fltVal = vector.caflt.pElems[index];
            return true;
        case VT_R8:
            value_.vt = VT_R8;
            value_.dblVal = vector.cadbl.pElems[index];
            return true;
        default:
            return false;
    }
}

bool PropValue::ToDegrees(double* degrees) const {
    if ((value_.vt & VT_VECTOR) == 0) return ToDouble(degrees);

    // cElems sits at the same place for every element type.
    const ULONG count = value_.cadbl.cElems;
    *degrees = 0.0;
    double divisor = 1.0;
    for (ULONG index = 0; index < count; ++index) {
        PropValue element;
        double part = 0.0;
        const bool converted = element.LoadElement(value_, index) && element.ToDouble(&part);
        // The element only borrows from the vector: it must release nothing.
        element.value_.vt = VT_EMPTY;
        if (!converted) return false;
        *degrees = part / divisor + *degrees;
        divisor *= 60.0;
    }
    return true;
}

PROPVARIANT* PropValue::Receive() {
    Clear();
    return &value_;
}

HRESULT PropValue::Clear() {
    // What a value owns is the platform's to know; a by-reference value only
    // points at memory someone else owns (and not every PropVariantClear
    // accepts one), so it is let go without the platform.
    if (value_.vt == VT_EMPTY || (value_.vt & VT_BYREF) != 0) {
        value_.vt = VT_EMPTY;
        return S_OK;
    }
    const HRESULT status = PropVariantClear(&value_);
    if (FAILED(status)) {
        value_.vt = VT_ERROR;
        value_.scode = status;
    }
    return status;
}
