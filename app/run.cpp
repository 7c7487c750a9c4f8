// The whole run: from the command line to the map in the browser, or to one
// error message. The exit status is 0 on every path.
#include <cmath>
#include <cstdlib>

#include "app/map_url.h"
#include "app/messages.h"
#include "app/parsing_name.h"
#include "gps/com_holders.h"
#include "gps/gps_reader.h"
#include "latebind/late_bound_table.h"
#include "platform/platform.h"

namespace {

// Creates the shell item for the one argument, a path made absolute first.
bool OpenPicture(int argumentCount, wchar_t** arguments, ComPtr<IShellItem2>& item) {
    if (argumentCount != 2) return false;
    wchar_t fullPath[kFullPathCapacity];
    const wchar_t* name = ParsingNameFor(arguments[1], fullPath);
    if (name == nullptr) return false;
    LateBoundTable.shell.SHCreateItemFromParsingName(name, nullptr, IID_IShellItem2,
                                                     item.ReceiveVoid());
    return static_cast<bool>(item);
}

// A coordinate that is not a finite number, or lies beyond `limit` degrees
// either way, is no place on Earth: it comes from malformed data and must not
// reach a URL.
bool ReadCoordinate(IShellItem2* item, const PROPERTYKEY& valueKey, const PROPERTYKEY& referenceKey,
                    double limit, double* coordinate) {
    double value = 0.0;
    if (ReadGpsCoordinate(item, valueKey, referenceKey, &value) != S_OK) return false;
    if (!std::isfinite(value) || value < -limit || value > limit) return false;
    *coordinate = value;
    return true;
}

// The longitude first; the latitude only once the longitude has been read.
bool ReadPosition(IShellItem2* item, double* latitude, double* longitude) {
    return ReadCoordinate(item, PKEY_GPS_Longitude, PKEY_GPS_LongitudeRef, 180.0, longitude) &&
           ReadCoordinate(item, PKEY_GPS_Latitude, PKEY_GPS_LatitudeRef, 90.0, latitude);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    ScopedComInitializer com;
    BindShellFunctions();  // also binds the property-system group
    if (!BindPropsysFunctions() || LateBoundTable.shell.SHCreateItemFromParsingName == nullptr) {
        ShowError(kNeedsVistaMessage);
        return 0;
    }

    // Declared after `com`, so the item is released before COM closes.
    ComPtr<IShellItem2> item;
    double latitude = 0.0;
    double longitude = 0.0;
    if (OpenPicture(__argc, __wargv, item) && ReadPosition(item.Get(), &latitude, &longitude)) {
        OpenMapAt(latitude, longitude);
    } else {
        ShowError(kSupplyPictureMessage);
    }
    return 0;
}
