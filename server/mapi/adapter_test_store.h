// Test fixture: a fresh profile "Adapter" in a temporary data folder, opened
// through the adapter's own wrappers, and a spy that sits in front of a real store
// object to count the calls the adapter makes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/base/temp_home.h"
#include "platform/mapi/mapi.h"
#include "platform/win/message_box.h"
#include "server/mapi/mapi_query.h"
#include "server/mapi/mapi_wrapper.h"

namespace adaptertest {

// What call raised: the HRESULT of its CMAPIException (its place in *place when
// asked), or S_OK when it returned.
inline HRESULT Raised(const std::function<void()>& call, std::string* place = nullptr) {
    try {
        call();
    } catch (const CMAPIException& e) {
        if (place) *place = e.GetPlace();
        return e.GetHResult();
    }
    return S_OK;
}

class AdapterStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(home_.Path().empty());
        SetMessageBoxSink([this](const std::string& text, const std::string& caption) {
            boxes.push_back(caption + "|" + text);
        });
        init_.emplace();
        CMapiRef<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, admin.Put()), S_OK);
        ASSERT_EQ(admin->CreateProfile(const_cast<char*>("Adapter"), nullptr, 0, 0), S_OK);
        session = IMAPISessionPtr::Logon("Adapter", MAPI_NEW_SESSION | MAPI_EXTENDED);
        store = session.OpenDefaultStore();
        inbox = store.OpenFolder(store.GetReceiveFolder("IPM"));
        contacts = store.OpenFolder(inbox.GetBinaryProp(PR_IPM_CONTACT_ENTRYID));
    }

    void TearDown() override {
        contacts.Reset();
        inbox.Reset();
        store.Reset();
        session.Reset();
        init_.reset();
        SetMessageBoxSink(nullptr);
    }

    // A saved message in folder with a subject; returns it still open for writing.
    IMessagePtr AddMessage(IMAPIFolderPtr& folder, const std::string& subject) {
        IMessagePtr message = folder.CreateMessage();
        message.SetStrProp(PR_SUBJECT, subject);
        message.SaveChanges(KEEP_OPEN_READWRITE);
        return message;
    }

    std::vector<std::string> boxes;  // caption|text of every message box
    IMAPISessionPtr session;
    IMsgStorePtr store;
    IMAPIFolderPtr inbox;
    IMAPIFolderPtr contacts;

private:
    TempHome home_{"corvel-adapter"};
    std::optional<CMapiInitializer> init_;
};

// The reference count of a spy made with new: the last Release deletes it.
template <class Interface>
class CCountedSpy : public Interface {
public:
    using Interface::Interface;

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ~CCountedSpy() override = default;

private:
    ULONG refs_ = 1;
};

// An IStream in front of a real one that records the size of every Read result
// and Write call and counts commits.
class CStreamSpy : public CCountedSpy<IStream> {
public:
    explicit CStreamSpy(CMapiRef<IStream> inner) : inner_(std::move(inner)) {}

    std::vector<ULONG> reads;
    std::vector<ULONG> writes;
    std::string written;
    int commits = 0;

    HRESULT QueryInterface(REFIID riid, LPVOID* out) override {
        if (riid == IID_IStream || riid == IID_IUnknown) {
            AddRef();
            *out = static_cast<IStream*>(this);
            return S_OK;
        }
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        HRESULT hr = inner_->Read(pv, cb, read);
        reads.push_back(*read);
        return hr;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* done) override {
        writes.push_back(cb);
        written.append(static_cast<const char*>(pv), cb);
        return inner_->Write(pv, cb, done);
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
        return inner_->Seek(move, origin, pos);
    }
    HRESULT SetSize(ULARGE_INTEGER size) override { return inner_->SetSize(size); }
    HRESULT Commit(DWORD flags) override {
        ++commits;
        return inner_->Commit(flags);
    }
    HRESULT Revert() override { return inner_->Revert(); }
    HRESULT Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }

private:
    ~CStreamSpy() override = default;
    CMapiRef<IStream> inner_;
};

// Interface in front of a real store object (inner_): every IMAPIProp call is forwarded
// to it; a spy overrides the calls it watches.
template <class Interface>
class CPropForwarder : public Interface {
public:
    HRESULT GetLastError(HRESULT hr, ULONG flags, LPMAPIERROR* out) override {
        return inner_->GetLastError(hr, flags, out);
    }
    HRESULT SaveChanges(ULONG flags) override { return inner_->SaveChanges(flags); }
    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* out) override {
        return inner_->GetProps(tags, flags, count, out);
    }
    HRESULT GetPropList(ULONG flags, LPSPropTagArray* out) override {
        return inner_->GetPropList(flags, out);
    }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags,
                         LPUNKNOWN* out) override {
        return inner_->OpenProperty(tag, iid, options, flags, out);
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        return inner_->SetProps(count, values, problems);
    }
    HRESULT DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
        return inner_->DeleteProps(tags, problems);
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID set, ULONG flags, ULONG* count,
                            LPMAPINAMEID** names) override {
        return inner_->GetNamesFromIDs(tags, set, flags, count, names);
    }
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags,
                            LPSPropTagArray* tags) override {
        return inner_->GetIDsFromNames(count, names, flags, tags);
    }

protected:
    explicit CPropForwarder(Interface* inner) : inner_(CMapiRef<Interface>::Share(inner)) {}
    ~CPropForwarder() override = default;

    CMapiRef<Interface> inner_;
};

// An IMAPIProp in front of a real store object. It forwards every call, counts
// SetProps calls with their sizes and OpenProperty calls, keeps the last stream it
// handed out, and can refuse streams (as an object without stream support would).
class CPropSpy : public CPropForwarder<IMAPIProp> {
public:
    explicit CPropSpy(IMAPIProp* inner) : CPropForwarder(inner) {}

    bool refuseStreams = false;
    int openPropertyCalls = 0;
    std::vector<ULONG> setPropsSizes;
    CMapiRef<CStreamSpy> lastStream;

    // The spy lives on the test's stack; references are not counted.
    HRESULT QueryInterface(REFIID riid, LPVOID* out) override {
        if (riid == IID_IMAPIProp || riid == IID_IUnknown) {
            *out = static_cast<IMAPIProp*>(this);
            return S_OK;
        }
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags,
                         LPUNKNOWN* out) override {
        ++openPropertyCalls;
        if (refuseStreams) return MAPI_E_INTERFACE_NOT_SUPPORTED;
        CMapiRef<IUnknown> opened;
        HRESULT hr = inner_->OpenProperty(tag, iid, options, flags, opened.Put());
        if (FAILED(hr)) return hr;
        CMapiRef<IStream> stream;
        if (FAILED(TryQueryAs(opened.Get(), stream))) return MAPI_E_CALL_FAILED;
        lastStream = CMapiRef<CStreamSpy>::Adopt(new CStreamSpy(std::move(stream)));
        // One reference for the caller, one kept here.
        *out = CMapiRef<CStreamSpy>(lastStream).Detach();
        return S_OK;
    }
    HRESULT SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override {
        setPropsSizes.push_back(count);
        return inner_->SetProps(count, values, problems);
    }
};

}  // namespace adaptertest
