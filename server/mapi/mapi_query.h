// Asking an object the store handed out for a particular interface.
#pragma once

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_ref.h"

template <class T>
const IID& MapiInterfaceId();
template <>
inline const IID& MapiInterfaceId<IMAPIProp>() {
    return IID_IMAPIProp;
}
template <>
inline const IID& MapiInterfaceId<IMAPIContainer>() {
    return IID_IMAPIContainer;
}
template <>
inline const IID& MapiInterfaceId<IMAPIFolder>() {
    return IID_IMAPIFolder;
}
template <>
inline const IID& MapiInterfaceId<IMsgStore>() {
    return IID_IMsgStore;
}
template <>
inline const IID& MapiInterfaceId<IMessage>() {
    return IID_IMessage;
}
template <>
inline const IID& MapiInterfaceId<IAttach>() {
    return IID_IAttachment;
}
template <>
inline const IID& MapiInterfaceId<IMAPITable>() {
    return IID_IMAPITable;
}
template <>
inline const IID& MapiInterfaceId<IStream>() {
    return IID_IStream;
}
template <>
inline const IID& MapiInterfaceId<IMAPISession>() {
    return IID_IMAPISession;
}

// Asks object for its interface T: S_OK with the reference in asked, else
// MAPI_E_INVALID_OBJECT for a null object, the QueryInterface result, or
// MAPI_E_INTERFACE_NOT_SUPPORTED when the call hands out nothing (asked empty).
template <class T>
HRESULT TryQueryAs(IUnknown* object, CMapiRef<T>& asked) {
    asked.Reset();
    if (object == nullptr) return MAPI_E_INVALID_OBJECT;
    void* out = nullptr;
    HRESULT hr = object->QueryInterface(MapiInterfaceId<T>(), &out);
    if (FAILED(hr)) return hr;
    if (out == nullptr) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    asked = CMapiRef<T>::Adopt(static_cast<T*>(out));
    return S_OK;
}

// A reference to object's interface T; TryQueryAs's failure raised as a
// CMAPIException with place.
template <class T>
CMapiRef<T> MapiQueryAs(IUnknown* object, const char* place) {
    CMapiRef<T> asked;
    MapiCheck(TryQueryAs(object, asked), place);
    return asked;
}
