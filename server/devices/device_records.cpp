// CDeviceRecords: the records and the store engine they need.
#include "server/devices/device_records.h"

#include "platform/mapi/mapi.h"
#include "server/config/live_trace.h"
#include "server/devices/mapi_access.h"

CDeviceRecords::StoreEngineRun::StoreEngineRun() {
    MAPIINIT_0 init{MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    HRESULT hr = MAPIInitialize(&init);
    started = SUCCEEDED(hr);
    if (!started) AddLiveTraceF("MAPIInitialize failed: 0x%08X", static_cast<unsigned>(hr));
}

CDeviceRecords::StoreEngineRun::~StoreEngineRun() {
    if (started) MAPIUninitialize();
}

CDeviceRecords::CDeviceRecords() = default;

CDeviceRecords::~CDeviceRecords() {
    // The records and the cached stores hold the engine's objects: they go before
    // the engine ends (engine_ is destroyed after this body and after list_).
    list_.Clear();
    ClearStoreCache();
}
