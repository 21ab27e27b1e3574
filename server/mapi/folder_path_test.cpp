// IMAPIFolderPtr::GetFullPath on damaged parent chains: a cycle and a chain deeper
// than the guard. Real folders stand behind a spy that reports other entry and
// parent identifiers and opens parents as further spies.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "common/base/limits.h"
#include "server/mapi/adapter_test_store.h"

namespace {

using adaptertest::AdapterStoreTest;

class CFolderSpy : public adaptertest::CCountedSpy<adaptertest::CPropForwarder<IMAPIFolder>> {
public:
    using Opener = std::function<IMAPIFolder*(const std::string& id)>;  // new reference

    CFolderSpy(IMAPIFolder* inner, std::string id, std::string parentId, Opener opener)
        : CCountedSpy(inner),
          id_(std::move(id)),
          parentId_(std::move(parentId)),
          opener_(std::move(opener)) {}

    HRESULT QueryInterface(REFIID riid, LPVOID* out) override {
        if (riid == IID_IMAPIFolder || riid == IID_IMAPIContainer || riid == IID_IMAPIProp ||
            riid == IID_IUnknown) {
            AddRef();
            *out = static_cast<IMAPIFolder*>(this);
            return S_OK;
        }
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }

    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* out) override {
        if (tags && tags->cValues == 1 &&
            (tags->aulPropTag[0] == PR_ENTRYID || tags->aulPropTag[0] == PR_PARENT_ENTRYID)) {
            const std::string& bytes = tags->aulPropTag[0] == PR_ENTRYID ? id_ : parentId_;
            void* block = nullptr;
            MAPIAllocateBuffer(sizeof(SPropValue), &block);
            auto* value = static_cast<SPropValue*>(block);
            value->ulPropTag = tags->aulPropTag[0];
            value->Value.bin.cb = static_cast<ULONG>(bytes.size());
            void* data = nullptr;
            MAPIAllocateMore(static_cast<ULONG>(bytes.size() + 1), block, &data);
            std::memcpy(data, bytes.data(), bytes.size());
            value->Value.bin.lpb = static_cast<LPBYTE>(data);
            *count = 1;
            *out = value;
            return S_OK;
        }
        return inner_->GetProps(tags, flags, count, out);
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
        IMAPIFolder* opened = opener_(std::string(reinterpret_cast<const char*>(id), cb));
        if (opened == nullptr) return MAPI_E_NOT_FOUND;
        *type = MAPI_FOLDER;
        *out = opened;
        return S_OK;
    }

    HRESULT GetContentsTable(ULONG f, LPMAPITABLE* t) override {
        return inner_->GetContentsTable(f, t);
    }
    HRESULT GetHierarchyTable(ULONG f, LPMAPITABLE* t) override {
        return inner_->GetHierarchyTable(f, t);
    }
    HRESULT CreateMessage(LPCIID i, ULONG f, LPMESSAGE* m) override {
        return inner_->CreateMessage(i, f, m);
    }
    HRESULT CopyMessages(LPENTRYLIST l, LPCIID i, LPVOID d, ULONG_PTR u, LPMAPIPROGRESS p,
                         ULONG f) override {
        return inner_->CopyMessages(l, i, d, u, p, f);
    }
    HRESULT DeleteMessages(LPENTRYLIST l, ULONG_PTR u, LPMAPIPROGRESS p, ULONG f) override {
        return inner_->DeleteMessages(l, u, p, f);
    }
    HRESULT CreateFolder(ULONG t, LPTSTR n, LPTSTR c, LPCIID i, ULONG f, LPMAPIFOLDER* o) override {
        return inner_->CreateFolder(t, n, c, i, f, o);
    }
    HRESULT DeleteFolder(ULONG cb, LPENTRYID id, ULONG_PTR u, LPMAPIPROGRESS p, ULONG f) override {
        return inner_->DeleteFolder(cb, id, u, p, f);
    }
    HRESULT SetReadFlags(LPENTRYLIST l, ULONG_PTR u, LPMAPIPROGRESS p, ULONG f) override {
        return inner_->SetReadFlags(l, u, p, f);
    }

private:
    ~CFolderSpy() override = default;
    std::string id_;
    std::string parentId_;
    Opener opener_;
};

class FolderPathTest : public AdapterStoreTest {};

TEST_F(FolderPathTest, ACycleOfParentsEndsAtTheFirstRepeat) {
    // A's parent is B, B's parent is A.
    IMAPIFolder* inboxRaw = inbox.Get();
    IMAPIFolder* contactsRaw = contacts.Get();
    CFolderSpy::Opener opener = [&](const std::string& id) -> IMAPIFolder* {
        if (id == "A") return new CFolderSpy(inboxRaw, "A", "B", opener);
        if (id == "B") return new CFolderSpy(contactsRaw, "B", "A", opener);
        return nullptr;
    };
    IMAPIFolderPtr start(CMapiRef<IMAPIFolder>::Adopt(opener("A")));
    EXPECT_EQ(start.GetFullPath(), "Contacts\\Inbox");
}

TEST_F(FolderPathTest, AnEndlessChainStopsAtTheDepthGuard) {
    // Folder n claims identifier n and parent n + 1, for ever.
    IMAPIFolder* inboxRaw = inbox.Get();
    int opened = 0;
    CFolderSpy::Opener opener = [&](const std::string& id) -> IMAPIFolder* {
        ++opened;
        int n = std::stoi(id);
        return new CFolderSpy(inboxRaw, id, std::to_string(n + 1), opener);
    };
    IMAPIFolderPtr start(CMapiRef<IMAPIFolder>::Adopt(opener("0")));
    std::string expected = "Inbox";
    for (int i = 1; i < kMaxFolderDepth; ++i) expected += "\\Inbox";
    EXPECT_EQ(start.GetFullPath(), expected);
    EXPECT_EQ(opened, kMaxFolderDepth + 1);
}

TEST_F(FolderPathTest, AFolderThatIsItsOwnParentIsTheRoot) {
    IMAPIFolder* inboxRaw = inbox.Get();
    CFolderSpy::Opener opener = [&](const std::string&) -> IMAPIFolder* { return nullptr; };
    IMAPIFolderPtr self(CMapiRef<IMAPIFolder>::Adopt(new CFolderSpy(inboxRaw, "S", "S", opener)));
    EXPECT_EQ(self.GetFullPath(), "");
    IMAPIFolderPtr orphan(
        CMapiRef<IMAPIFolder>::Adopt(new CFolderSpy(inboxRaw, "O", "gone", opener)));
    EXPECT_EQ(orphan.GetFullPath(), "Inbox");  // the parent cannot be opened
}

}  // namespace
