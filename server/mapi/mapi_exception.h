// CMAPIException: a failed store call. Every wrapped call checks its result; a
// negative HRESULT becomes a CMAPIException carrying the value, the place (the
// operation, for example "CGenMapiPropPtr::GetIDFromName") and, for
// MAPI_E_EXTENDED_ERROR, the failing object's last-error details, which are read
// when the exception is made (the object may be gone by the time it is caught).
//
// Its text is the symbolic MAPI name of the result ("MAPI_E_NOT_FOUND"); for a
// value without one, the message text the system has for it, else
// "Unknown Error %x". For MAPI_E_EXTENDED_ERROR with details the text is
// "%s\nErr=%s\nComponent=%s\nContext=%d,LowLevel=%d" (name, error text, component,
// context, low-level error).
//
// Exceptions are values; copy and catch them freely on any thread.
#pragma once

#include <exception>
#include <string>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_ref.h"

// The extended error details an object reports for its last failure.
struct CMapiErrorDetails {
    bool present = false;
    std::string error;
    std::string component;
    ULONG context = 0;
    ULONG lowLevel = 0;
};

// Objects whose last failure can be described (IMAPIProp and its family, tables,
// sessions, profile administration).
template <class T>
concept MapiErrorSource = requires(T* object, LPMAPIERROR* out) {
    {object->GetLastError(HRESULT{}, ULONG{}, out)};
};

class CMAPIException : public std::exception {
public:
    CMAPIException(HRESULT hr, std::string place);
    // object may be null; it is asked for details only for MAPI_E_EXTENDED_ERROR.
    template <MapiErrorSource T>
    CMAPIException(HRESULT hr, std::string place, T* object)
        : CMAPIException(hr, std::move(place), ReadDetails(hr, object)) {}
    CMAPIException(HRESULT hr, std::string place, CMapiErrorDetails details);

    HRESULT GetHResult() const { return hr_; }
    // The place recorded when the exception was made; may be empty.
    const std::string& GetPlace() const { return place_; }
    const CMapiErrorDetails& GetDetails() const { return details_; }
    // The text described at the top of this file.
    const std::string& GetErrorText() const { return text_; }
    const char* what() const noexcept override { return text_.c_str(); }

    // Reports the failure without raising it: a message box (through the message
    // box sink, never a dialog on a worker thread) whose caption is context and
    // whose text is the error text followed by "\r\nin " and the place when there
    // is one. Never throws.
    void ReportError(const std::string& context) const noexcept;

    // The text of a result code: its MAPI name, the system's text for it, or
    // "Unknown Error %x".
    static std::string ResultText(HRESULT hr);

private:
    template <class T>
    static CMapiErrorDetails ReadDetails(HRESULT hr, T* object) {
        CMapiErrorDetails details;
        if (hr != MAPI_E_EXTENDED_ERROR || object == nullptr) return details;
        CMapiBuffer<MAPIERROR> error;
        if (FAILED(object->GetLastError(hr, 0, error.Put())) || !error) return details;
        details.present = true;
        if (error->lpszError) details.error = error->lpszError;
        if (error->lpszComponent) details.component = error->lpszComponent;
        details.context = error->ulContext;
        details.lowLevel = error->ulLowLevelError;
        return details;
    }

    HRESULT hr_;
    std::string place_;
    CMapiErrorDetails details_;
    std::string text_;
};

// Raises a CMAPIException for a failed result (negative HRESULT); warnings pass.
inline void MapiCheck(HRESULT hr, const char* place) {
    if (FAILED(hr)) throw CMAPIException(hr, place);
}
template <MapiErrorSource T>
inline void MapiCheck(HRESULT hr, const char* place, T* object) {
    if (FAILED(hr)) throw CMAPIException(hr, place, object);
}
