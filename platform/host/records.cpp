#include "platform/host/host_controls.h"

namespace host {

PlatformRecords& Records() {
    static PlatformRecords records;
    return records;
}

void ResetRecords() { Records() = PlatformRecords(); }

}  // namespace host
