#include "gps/gps_reader.h"

#include "gps/com_holders.h"
#include "gps/prop_value.h"

namespace {

// Only the first code unit counts, and only in upper case.
bool IsSouthOrWest(LPCWSTR reference) {
    return reference != nullptr && (reference[0] == L'S' || reference[0] == L'W');
}

}  // namespace

HRESULT ReadGpsCoordinate(IShellItem2* item, const PROPERTYKEY& valueKey,
                          const PROPERTYKEY& referenceKey, double* coordinate) {
    PropValue value;
    HRESULT status = item->GetProperty(valueKey, value.Receive());
    if (FAILED(status)) return status;

    double degrees = 0.0;
    if (!value.ToDegrees(&degrees)) return E_INVALIDARG;

    CoTaskString reference;
    status = item->GetString(referenceKey, reference.Receive());
    if (FAILED(status)) return status;

    if (IsSouthOrWest(reference.Get())) degrees = -degrees;
    *coordinate = degrees;
    return S_OK;
}
