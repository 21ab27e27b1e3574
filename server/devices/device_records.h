// CDeviceRecords: the users and devices of a running server. The program owns one
// beside its Settings, for longer than the servers that use it; ServerRuntime loads
// it from the data folder once the store engine has started (CMapiInitializer), for
// loading logs each record on to its profile. The destructor drops the records and
// the cached stores, which hold the engine's objects.
//
// Thread use: made and destroyed by one thread, after every thread that uses the
// list has ended; List() may be used from any thread (see device_list.h for the
// list's one lock).
#pragma once

#include <string>

#include "server/devices/device_list.h"

class CDeviceRecords {
public:
    CDeviceRecords() = default;
    ~CDeviceRecords();
    CDeviceRecords(const CDeviceRecords&) = delete;
    CDeviceRecords& operator=(const CDeviceRecords&) = delete;

    // Drops the records held and reads the users and devices of dataFolder
    // (CDeviceList::LoadAll).
    void Load(const std::string& dataFolder) { list_.LoadAll(dataFolder); }

    CDeviceList& List() { return list_; }
    const CDeviceList& List() const { return list_; }

private:
    CDeviceList list_;
};
