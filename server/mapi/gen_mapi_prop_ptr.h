// CGenMapiPropPtr: the base of every wrapped property object (store, folder,
// container, message, attachment, plain property object). It turns failed calls
// into CMAPIException and adds the composite operations the server needs: text and
// integer properties, binary values, named-property ids, item names, bodies through
// streams, and batched writes.
//
// Batching: while batched, values set through SetOneProp are kept (deep copies) in a
// pending list instead of being written one at a time; a value whose tag is already
// pending replaces it. When 49 values are pending, the next set first writes the
// list out (SaveProps), so one SetProps call never carries more than 49 values.
// Reads by tag see pending values first. SaveChanges writes the list before saving.
// Leaving batched mode writes the list out; a wrapper destroyed with pending values
// drops them, as the store drops changes of an object released without
// SaveChanges. GetBody caches the body text in batched mode; SetBody updates it.
//
// Failures: see each operation. Every exception carries the wrapped object, so
// MAPI_E_EXTENDED_ERROR gets the object's last-error details.
//
// Not shared between threads; each request builds its own from its session.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/byte_buffer.h"
#include "server/mapi/mapi_arrays.h"
#include "server/mapi/mapi_prop_value.h"

class CGenMapiPropPtr {
public:
    // Room of the pending list: a set that finds kMaxBatch - 1 values pending writes
    // them out first.
    static constexpr size_t kMaxBatch = 50;
    // Bodies move through their stream in chunks of this many bytes.
    static constexpr ULONG kBodyChunk = 65536;

    virtual ~CGenMapiPropPtr() = default;

    // (1) The wrapped property interface (each wrapper returns its own); null when
    // the wrapper holds none.
    virtual IMAPIProp* GetMapiProp() const = 0;
    // (2) Sets one value: HrSetOneProp, or into the pending list when batched.
    // Returns the store's result (S_OK for a value taken into the list);
    // MAPI_E_INVALID_OBJECT when the wrapper holds nothing.
    virtual HRESULT SetOneProp(const SPropValue& value);
    // (3) Gets one value by tag: the pending value when batched and the tag is
    // pending, otherwise HrGetOneProp. S_OK with the value in out, or the failure
    // (MAPI_E_NOT_FOUND for a missing property) with out empty.
    virtual HRESULT GetOneProp(ULONG tag, CPropValue& out);
    // (4) Writes the pending list (SaveProps), then SaveChanges(flags). Raises
    // CMAPIException ("CGenMapiPropPtr::SaveChanges") when the save fails.
    virtual void SaveChanges(ULONG flags);

    bool IsValid() const { return GetMapiProp() != nullptr; }

    // Turns batching on or off; turning it off writes the pending list out and
    // clears the cached body.
    void SetBatched(bool batched);
    bool IsBatched() const { return batched_; }
    size_t PendingCount() const { return pending_.size(); }
    // Writes every pending value in one SetProps call and empties the list. A
    // failure (the call's, or a problem the store reports for one value) is
    // reported with ReportError and the context "SaveProps"; the list is emptied
    // all the same. Does nothing when nothing is pending.
    void SaveProps();

    // The value of tag; raises CMAPIException ("CGenMapiPropPtr::GetProp") with the
    // failure, MAPI_E_NOT_FOUND for a missing property.
    CPropValue GetProp(ULONG tag);
    // Several values in one GetProps call, in the order asked; a missing one comes
    // back with type PT_ERROR. Reads the store only (pending values are not seen).
    // Raises ("CGenMapiPropPtr::GetProps") when the call fails.
    CPropArray GetProps(const CPropTagArray& tags, ULONG flags = 0);
    // Sets a value; raises ("CGenMapiPropPtr::SetProp") when SetOneProp fails.
    void SetProp(const SPropValue& value);

    // The text of a string property: 8-bit as it is, UTF-16 converted to 8-bit text.
    // The empty text for any other type, a missing property or any failure.
    std::string GetPropText(ULONG tag);
    // The 8-bit string of tag; the empty text when the value has another type.
    // Raises ("GetStrProp") when the read fails, MAPI_E_NOT_FOUND when missing.
    std::string GetStrProp(ULONG tag);
    // The 32-bit value (16-bit integers and booleans widened); 0 when the property
    // is missing or has another type. Other failures raise
    // ("CGenMapiPropPtr::GetLongProp").
    LONG GetLongProp(ULONG tag);
    // Sets a string property: PT_STRING8 tags get the text as it is, PT_UNICODE tags
    // its UTF-16 form. A null text sets nothing. Raises ("CGenMapiPropPtr::SetStrProp")
    // on failure, MAPI_E_INVALID_TYPE for a tag that is not a string.
    void SetStrProp(ULONG tag, const char* text);
    void SetStrProp(ULONG tag, const std::string& text) { SetStrProp(tag, text.c_str()); }
    // Removes the property of tag's id (whatever its type), pending values and the
    // cached body of it included; a property that is not there is no failure.
    // Raises ("CGenMapiPropPtr::DeleteProp") when the store refuses, also for a
    // property the store computes itself (MAPI_E_COMPUTED).
    void DeleteProp(ULONG tag);
    // Sets a 32-bit property; raises ("CGenMapiPropPtr::SetLongProp") on failure.
    void SetLongProp(ULONG tag, LONG value);
    // The bytes of a binary property. Raises ("CGenMapiPropPtr::GetBinaryProp") when
    // the read fails (MAPI_E_NOT_FOUND when missing) and MAPI_E_UNEXPECTED_TYPE when
    // the value is not binary.
    void GetBinaryProp(ULONG tag, CByteBuffer& out);
    CByteBuffer GetBinaryProp(ULONG tag);
    // PR_ENTRYID of the object (GetBinaryProp).
    CByteBuffer GetEntryID() { return GetBinaryProp(PR_ENTRYID); }

    // The tag of a named property: GetIDsFromNames for one name (numeric id or
    // UTF-16 string name in the property set) with flags (MAPI_CREATE maps an unknown
    // name), the returned id combined with type. Raises
    // ("CGenMapiPropPtr::GetIDFromName") with the call's failure, or with
    // MAPI_E_NOT_FOUND when no id comes back.
    ULONG GetIDFromName(const GUID& propertySet, LONG id, ULONG type, ULONG flags);
    ULONG GetIDFromName(const GUID& propertySet, const std::u16string& name, ULONG type,
                        ULONG flags);

    // PR_SUBJECT, or PR_DISPLAY_NAME when the item has no subject (GetPropText).
    std::string GetItemName();

    // PR_BODY: in batched mode a non-empty cached body; otherwise read through the
    // body stream in chunks of kBodyChunk bytes until a read returns nothing, or,
    // when the stream cannot be opened, as an ordinary property (the empty text when
    // there is none). The text ends at its first zero byte. Cached in batched mode.
    // Raises ("CGenMapiPropPtr::GetBody") when a read fails.
    std::string GetBody();
    // Stores PR_BODY through a stream opened for creating and modifying, in chunks
    // of kBodyChunk bytes, then commits; when the stream cannot be opened, sets it as
    // an ordinary property. The text is stored up to its first zero byte and without
    // a terminating zero. Updates the cache in batched mode. Raises
    // ("CGenMapiPropPtr::SetBody") when writing fails.
    void SetBody(std::string_view text);

protected:
    CGenMapiPropPtr() = default;
    CGenMapiPropPtr(const CGenMapiPropPtr&) = default;
    CGenMapiPropPtr& operator=(const CGenMapiPropPtr&) = default;
    CGenMapiPropPtr(CGenMapiPropPtr&&) noexcept = default;
    CGenMapiPropPtr& operator=(CGenMapiPropPtr&&) noexcept = default;

    // The wrapped object; raises CMAPIException (MAPI_E_INVALID_OBJECT, place) when
    // there is none.
    IMAPIProp* Checked(const char* place) const;
    // Forgets the batch (pending values and cached body) without writing it.
    void DropBatch();

private:
    CPropValue* FindPending(ULONG tag);
    void DropPending(ULONG tag);
    ULONG GetIDFromName(MAPINAMEID& name, ULONG type, ULONG flags);

    bool batched_ = false;
    std::vector<CPropValue> pending_;
    std::string cachedBody_;
};
