// The MAPI names and the message texts of result codes.
#include "server/mapi/mapi_error_names.h"

#include <string_view>

#include "common/base/code_text.h"
#include "platform/mapi/mapi_codes.h"
#include "platform/mapi/mapi_functions.h"

namespace {

// Result codes of the streams and of the object model that have no MAPI name.
constexpr CodeTextEntry<HRESULT> kSystemTexts[] = {
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
    const char* name = MapiErrorName(hr);
    if (name == nullptr || std::string_view(name).substr(0, 5) != "MAPI_") return nullptr;
    return name;
}

const char* SystemErrorText(HRESULT hr) { return TextOfCode(kSystemTexts, hr); }
