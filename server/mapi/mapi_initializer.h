// CMapiInitializer: the store engine started for the life of the object
// (MAPIInitialize with MAPI_MULTITHREAD_NOTIFICATIONS) and ended when it goes
// (MAPIUninitialize). The programs hold one for their whole run: corvel's
// ServerRuntime, the store tool's commands, corvel's user and device commands,
// and the tests that log on to profiles.
//
// The engine counts its starts: nested holders are fine, and only the end of the
// last one makes new log-ons fail (MAPI_E_NOT_INITIALIZED). Objects handed out
// before the end stay usable until released.
//
// Thread use: made and destroyed by one thread; the engine it starts serves every
// thread.
#pragma once

#include <new>

#include "platform/mapi/mapi.h"

class CMapiInitializer {
public:
    // Starts the engine; raises CMAPIException ("MAPIInitialize") when it cannot.
    CMapiInitializer();
    // Starts the engine; a failure stays in Result() and ends nothing later.
    explicit CMapiInitializer(std::nothrow_t);
    ~CMapiInitializer();
    CMapiInitializer(const CMapiInitializer&) = delete;
    CMapiInitializer& operator=(const CMapiInitializer&) = delete;

    // S_OK once started; the start's failure otherwise.
    HRESULT Result() const { return result_; }
    bool Started() const { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};
