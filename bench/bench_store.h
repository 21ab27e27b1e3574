// For benchmarks over a real store: a fresh profile in a temporary data home, its
// default store, inbox and contacts folder opened through the adapter's wrappers.
// Everything goes with the object (the store closed before the home is removed).
// A benchmark has no one to report a broken set-up to: any failing step aborts.
// Used by one thread (the benchmark's).
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/base/temp_home.h"
#include "server/mapi/mapi_wrapper.h"

class BenchProfileStore {
public:
    BenchProfileStore(std::string_view homePrefix, const std::string& profile) : home_(homePrefix) {
        if (home_.Path().empty()) std::abort();
        init_.emplace();
        CMapiRef<IProfAdmin> admin;
        if (FAILED(MAPIAdminProfiles(0, admin.Put())) ||
            FAILED(admin->CreateProfile(const_cast<char*>(profile.c_str()), nullptr, 0, 0)))
            std::abort();
        session = IMAPISessionPtr::Logon(profile, MAPI_NEW_SESSION);
        store = session.OpenDefaultStore();
        inbox = store.OpenFolder(store.GetReceiveFolder("IPM"));
        contacts = store.OpenFolder(inbox.GetBinaryProp(PR_IPM_CONTACT_ENTRYID));
    }
    BenchProfileStore(const BenchProfileStore&) = delete;
    BenchProfileStore& operator=(const BenchProfileStore&) = delete;
    ~BenchProfileStore() {
        contacts.Reset();
        inbox.Reset();
        store.Reset();
        session.Reset();
        init_.reset();
    }

    // The temporary home (XDG_DATA_HOME while the object lives).
    const std::string& Home() const { return home_.Path(); }
    // The server's data folder below the home.
    std::string DataFolder() const { return home_.DataFolder(); }

private:
    TempHome home_;
    std::optional<CMapiInitializer> init_;

public:
    IMAPISessionPtr session;
    IMsgStorePtr store;
    IMAPIFolderPtr inbox;
    IMAPIFolderPtr contacts;
};
