// CDeviceRecords: the users and devices of a running server and the store engine
// they log on to. The program owns one beside its Settings: the constructor starts
// the store engine (MAPIInitialize with MAPI_MULTITHREAD_NOTIFICATIONS, counted, so
// other users of the engine in the process keep theirs), the destructor drops the
// records and the cached stores (they hold the engine's objects) before it ends
// the engine again.
//
// Thread use: made and destroyed by one thread, after every thread that uses the
// list has ended; List() may be used from any thread (see device_list.h for the
// list's one lock).
#pragma once

#include <string>

#include "server/devices/device_list.h"

class CDeviceRecords {
public:
    CDeviceRecords();
    ~CDeviceRecords();
    CDeviceRecords(const CDeviceRecords&) = delete;
    CDeviceRecords& operator=(const CDeviceRecords&) = delete;

    // Drops the records held and reads the users and devices of dataFolder
    // (CDeviceList::LoadAll).
    void Load(const std::string& dataFolder) { list_.LoadAll(dataFolder); }

    CDeviceList& List() { return list_; }
    const CDeviceList& List() const { return list_; }
    // False when the store engine did not start (the reason went to the live trace);
    // log-ons then fail.
    bool StoreEngineStarted() const { return engine_.started; }

private:
    // Starts the engine on construction, ends it on destruction; first member, so
    // it ends after the list.
    struct StoreEngineRun {
        StoreEngineRun();
        ~StoreEngineRun();
        StoreEngineRun(const StoreEngineRun&) = delete;
        StoreEngineRun& operator=(const StoreEngineRun&) = delete;
        bool started = false;
    };

    StoreEngineRun engine_;
    CDeviceList list_;
};
