// Reads one GPS coordinate of a shell item as signed decimal degrees.
#pragma once

#include "platform/platform.h"

// The value property gives the degrees, the reference property the
// hemisphere: 'S' or 'W' as first character makes the coordinate negative.
// Returns S_OK with *coordinate set, or a failure status with *coordinate
// untouched: E_INVALIDARG when the value does not convert, else the item's
// own status.
HRESULT ReadGpsCoordinate(IShellItem2* item, const PROPERTYKEY& valueKey,
                          const PROPERTYKEY& referenceKey, double* coordinate);
