// Name and text tables for MAPI result codes.
#include "server/mapi/mapi_error_names.h"

#include "platform/mapi/mapi_codes.h"

namespace {

#define MAPI_NAME(code) \
    { code, #code }

constexpr MapiErrorNameEntry kNames[] = {
    MAPI_NAME(MAPI_W_NO_SERVICE),
    MAPI_NAME(MAPI_W_ERRORS_RETURNED),
    MAPI_NAME(MAPI_W_POSITION_CHANGED),
    MAPI_NAME(MAPI_W_APPROX_COUNT),
    MAPI_NAME(MAPI_W_CANCEL_MESSAGE),
    MAPI_NAME(MAPI_W_PARTIAL_COMPLETION),
    MAPI_NAME(MAPI_E_CALL_FAILED),
    MAPI_NAME(MAPI_E_NOT_ENOUGH_MEMORY),
    MAPI_NAME(MAPI_E_INVALID_PARAMETER),
    MAPI_NAME(MAPI_E_INTERFACE_NOT_SUPPORTED),
    MAPI_NAME(MAPI_E_NO_ACCESS),
    MAPI_NAME(MAPI_E_NO_SUPPORT),
    MAPI_NAME(MAPI_E_BAD_CHARWIDTH),
    MAPI_NAME(MAPI_E_STRING_TOO_LONG),
    MAPI_NAME(MAPI_E_UNKNOWN_FLAGS),
    MAPI_NAME(MAPI_E_INVALID_ENTRYID),
    MAPI_NAME(MAPI_E_INVALID_OBJECT),
    MAPI_NAME(MAPI_E_OBJECT_CHANGED),
    MAPI_NAME(MAPI_E_OBJECT_DELETED),
    MAPI_NAME(MAPI_E_BUSY),
    MAPI_NAME(MAPI_E_NOT_ENOUGH_DISK),
    MAPI_NAME(MAPI_E_NOT_ENOUGH_RESOURCES),
    MAPI_NAME(MAPI_E_NOT_FOUND),
    MAPI_NAME(MAPI_E_VERSION),
    MAPI_NAME(MAPI_E_LOGON_FAILED),
    MAPI_NAME(MAPI_E_SESSION_LIMIT),
    MAPI_NAME(MAPI_E_USER_CANCEL),
    MAPI_NAME(MAPI_E_UNABLE_TO_ABORT),
    MAPI_NAME(MAPI_E_NETWORK_ERROR),
    MAPI_NAME(MAPI_E_DISK_ERROR),
    MAPI_NAME(MAPI_E_TOO_COMPLEX),
    MAPI_NAME(MAPI_E_BAD_COLUMN),
    MAPI_NAME(MAPI_E_EXTENDED_ERROR),
    MAPI_NAME(MAPI_E_COMPUTED),
    MAPI_NAME(MAPI_E_CORRUPT_DATA),
    MAPI_NAME(MAPI_E_UNCONFIGURED),
    MAPI_NAME(MAPI_E_FAILONEPROVIDER),
    MAPI_NAME(MAPI_E_UNKNOWN_CPID),
    MAPI_NAME(MAPI_E_UNKNOWN_LCID),
    MAPI_NAME(MAPI_E_PASSWORD_CHANGE_REQUIRED),
    MAPI_NAME(MAPI_E_PASSWORD_EXPIRED),
    MAPI_NAME(MAPI_E_INVALID_WORKSTATION_ACCOUNT),
    MAPI_NAME(MAPI_E_INVALID_ACCESS_TIME),
    MAPI_NAME(MAPI_E_ACCOUNT_DISABLED),
    MAPI_NAME(MAPI_E_END_OF_SESSION),
    MAPI_NAME(MAPI_E_UNKNOWN_ENTRYID),
    MAPI_NAME(MAPI_E_MISSING_REQUIRED_COLUMN),
    MAPI_NAME(MAPI_E_BAD_VALUE),
    MAPI_NAME(MAPI_E_INVALID_TYPE),
    MAPI_NAME(MAPI_E_TYPE_NO_SUPPORT),
    MAPI_NAME(MAPI_E_UNEXPECTED_TYPE),
    MAPI_NAME(MAPI_E_TOO_BIG),
    MAPI_NAME(MAPI_E_DECLINE_COPY),
    MAPI_NAME(MAPI_E_UNEXPECTED_ID),
    MAPI_NAME(MAPI_E_UNABLE_TO_COMPLETE),
    MAPI_NAME(MAPI_E_TIMEOUT),
    MAPI_NAME(MAPI_E_TABLE_EMPTY),
    MAPI_NAME(MAPI_E_TABLE_TOO_BIG),
    MAPI_NAME(MAPI_E_INVALID_BOOKMARK),
    MAPI_NAME(MAPI_E_WAIT),
    MAPI_NAME(MAPI_E_CANCEL),
    MAPI_NAME(MAPI_E_NOT_ME),
    MAPI_NAME(MAPI_E_CORRUPT_STORE),
    MAPI_NAME(MAPI_E_NOT_IN_QUEUE),
    MAPI_NAME(MAPI_E_NO_SUPPRESS),
    MAPI_NAME(MAPI_E_COLLISION),
    MAPI_NAME(MAPI_E_NOT_INITIALIZED),
    MAPI_NAME(MAPI_E_NON_STANDARD),
    MAPI_NAME(MAPI_E_NO_RECIPIENTS),
    MAPI_NAME(MAPI_E_SUBMITTED),
    MAPI_NAME(MAPI_E_HAS_FOLDERS),
    MAPI_NAME(MAPI_E_HAS_MESSAGES),
    MAPI_NAME(MAPI_E_FOLDER_CYCLE),
    MAPI_NAME(MAPI_E_AMBIGUOUS_RECIP),
};

#undef MAPI_NAME

struct SystemText {
    HRESULT hr;
    const char* text;
};

// Result codes of the streams and of the object model that have no MAPI name.
constexpr SystemText kSystemTexts[] = {
    {STG_E_INVALIDFUNCTION, "Unable to perform the requested operation."},
    {STG_E_ACCESSDENIED, "Access denied."},
    {STG_E_INVALIDPOINTER, "Invalid pointer."},
    {STG_E_MEDIUMFULL, "There is insufficient disk space to complete the operation."},
    {MapiCode(0x80004001), "Not implemented."},        // E_NOTIMPL
    {MapiCode(0x80004003), "Invalid pointer."},        // E_POINTER
    {MapiCode(0x80004004), "Operation aborted."},      // E_ABORT
    {MapiCode(0x8000FFFF), "Catastrophic failure."},   // E_UNEXPECTED
    {MapiCode(0x80070006), "The handle is invalid."},  // E_HANDLE
};

}  // namespace

const char* MapiErrorSymbol(HRESULT hr) {
    for (const MapiErrorNameEntry& entry : kNames) {
        if (entry.hr == hr) return entry.name;
    }
    return nullptr;
}

const char* SystemErrorText(HRESULT hr) {
    for (const SystemText& entry : kSystemTexts) {
        if (entry.hr == hr) return entry.text;
    }
    return nullptr;
}

const MapiErrorNameEntry* MapiErrorNameTable(size_t& count) {
    count = sizeof(kNames) / sizeof(kNames[0]);
    return kNames;
}
