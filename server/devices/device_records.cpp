// CDeviceRecords: the records of a running server.
#include "server/devices/device_records.h"

#include "server/mapi/mapi_status_calls.h"

CDeviceRecords::~CDeviceRecords() {
    // The records and the cached stores hold the store engine's objects.
    list_.Clear();
    ClearStoreCache();
}
