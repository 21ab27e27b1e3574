// The property-object part shared by stores, folders, messages and attachments:
// GetProps, SetProps, DeleteProps, SaveChanges, OpenProperty, named properties.
// PropCore holds the logic and the object's properties; PropObject<I> forwards an
// interface's IMAPIProp methods to it. Each object decides through the hooks which
// properties it derives, when its changes reach the database (folders and the store
// at once, messages and attachments at SaveChanges) and which tables it offers.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/mapi/com_base.h"
#include "platform/mapi/computed_props.h"
#include "platform/mapi/store_db.h"

namespace mapistore {

class PropCore {
public:
    PropCore(std::shared_ptr<StoreDb> db, bool writable)
        : db_(std::move(db)), writable_(writable) {}
    virtual ~PropCore() = default;
    PropCore(const PropCore&) = delete;
    PropCore& operator=(const PropCore&) = delete;

    HRESULT DoGetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError);
    HRESULT DoSaveChanges(ULONG ulFlags);
    HRESULT DoGetProps(LPSPropTagArray tags, ULONG ulFlags, ULONG* count, LPSPropValue* props);
    HRESULT DoGetPropList(ULONG ulFlags, LPSPropTagArray* tags);
    HRESULT DoOpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* out);
    HRESULT DoSetProps(ULONG count, LPSPropValue props, LPSPropProblemArray* problems);
    HRESULT DoDeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems);
    HRESULT DoGetNamesFromIDs(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                              LPMAPINAMEID** names);
    HRESULT DoGetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* tags);

    // For streams, under Mutex(): the bytes of a string or binary property (strings in
    // the form of type: 8-bit or UTF-16LE) or, for a large value, its reader (large),
    // and writing them back; a large binary value is handed over by reference.
    std::recursive_mutex& Mutex() { return db_->mutex(); }
    HRESULT ReadStreamBytes(ULONG propId, ULONG type, std::string& bytes,
                            std::shared_ptr<const LargeBytes>& large);
    HRESULT WriteStreamBytes(ULONG propId, ULONG type, const std::string& bytes);
    HRESULT WriteStreamLarge(ULONG propId, std::shared_ptr<const LargeBytes> bytes);
    // The object as IUnknown (streams and tables hold a reference on it).
    virtual IUnknown* Self() = 0;
    const std::shared_ptr<StoreDb>& store() const { return db_; }

protected:
    // Reloads stored properties changed by others (write-through objects).
    virtual HRESULT Refresh() { return S_OK; }
    virtual Computed ComputedValue(ULONG propId, Value& out) = 0;
    virtual const std::vector<ULONG>& ComputedIdList() = 0;
    // Properties SetProps refuses with MAPI_E_COMPUTED.
    virtual bool IsReadOnly(ULONG propId) = 0;
    // A property the object keeps outside its map (PR_MESSAGE_FLAGS): handled true.
    virtual HRESULT SetSpecial(ULONG propId, const Value& v, bool& handled);
    // Writes pending changes (dirty_, deleted_) where they belong.
    virtual HRESULT Persist() = 0;
    virtual bool WriteThrough() const { return false; }
    // Tables behind PT_OBJECT properties (OpenProperty with IID_IMAPITable).
    virtual HRESULT OpenTable(ULONG tag, ULONG flags, LPMAPITABLE* table);

    HRESULT CheckWritable() const;

    // The properties and pending changes as they stand, to go back to when a
    // write-through Persist fails.
    struct Pending {
        PropMap props;
        std::set<ULONG> dirty;
        std::set<ULONG> deleted;
    };
    // Only write-through objects take one: the others keep their changes in memory
    // until SaveChanges and have nothing to go back to.
    Pending Snapshot() const {
        return WriteThrough() ? Pending{props_, dirty_, deleted_} : Pending{};
    }
    // For write-through objects, Persist; on failure the snapshot is restored and the
    // error returned. S_OK otherwise.
    HRESULT PersistOrRestore(Pending& before);

    std::shared_ptr<StoreDb> db_;
    bool writable_;
    enum class SaveState { kOpen, kReadOnly, kClosed };
    SaveState state_ = SaveState::kOpen;
    PropMap props_;
    std::set<ULONG> dirty_;
    std::set<ULONG> deleted_;
};

template <class I>
class PropObject : public RefCounted<I>, public PropCore {
public:
    PropObject(std::shared_ptr<StoreDb> db, bool writable) : PropCore(std::move(db), writable) {}

    HRESULT GetLastError(HRESULT h, ULONG f, LPMAPIERROR* e) override {
        return DoGetLastError(h, f, e);
    }
    HRESULT SaveChanges(ULONG f) override { return DoSaveChanges(f); }
    HRESULT GetProps(LPSPropTagArray t, ULONG f, ULONG* c, LPSPropValue* p) override {
        return DoGetProps(t, f, c, p);
    }
    HRESULT GetPropList(ULONG f, LPSPropTagArray* t) override { return DoGetPropList(f, t); }
    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG o, ULONG f, LPUNKNOWN* u) override {
        return DoOpenProperty(tag, iid, o, f, u);
    }
    HRESULT SetProps(ULONG c, LPSPropValue p, LPSPropProblemArray* pr) override {
        return DoSetProps(c, p, pr);
    }
    HRESULT DeleteProps(LPSPropTagArray t, LPSPropProblemArray* pr) override {
        return DoDeleteProps(t, pr);
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray* t, LPGUID g, ULONG f, ULONG* c,
                            LPMAPINAMEID** n) override {
        return DoGetNamesFromIDs(t, g, f, c, n);
    }
    HRESULT GetIDsFromNames(ULONG c, LPMAPINAMEID* n, ULONG f, LPSPropTagArray* t) override {
        return DoGetIDsFromNames(c, n, f, t);
    }
    IUnknown* Self() override { return static_cast<I*>(this); }
};

// A MAPIERROR for hr naming component; shared by every GetLastError.
HRESULT MakeLastError(HRESULT hr, const char* component, LPMAPIERROR* out);
// Allocates a tag array of n tags.
HRESULT NewTagArray(std::size_t n, LPSPropTagArray* out);

}  // namespace mapistore
