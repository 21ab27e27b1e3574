// CMAPIException texts and reporting.
#include "server/mapi/mapi_exception.h"

#include <cstdio>

#include "platform/win/message_box.h"
#include "server/mapi/mapi_error_names.h"

namespace {

std::string BuildText(HRESULT hr, const CMapiErrorDetails& details) {
    std::string name = CMAPIException::ResultText(hr);
    if (hr != MAPI_E_EXTENDED_ERROR || !details.present) return name;
    // Texts from the store go in as arguments, never as the format.
    std::string text = name;
    text += "\nErr=";
    text += details.error;
    text += "\nComponent=";
    text += details.component;
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "\nContext=%d,LowLevel=%d",
                  static_cast<int>(details.context), static_cast<int>(details.lowLevel));
    text += numbers;
    return text;
}

}  // namespace

CMAPIException::CMAPIException(HRESULT hr, std::string place)
    : CMAPIException(hr, std::move(place), CMapiErrorDetails{}) {}

CMAPIException::CMAPIException(HRESULT hr, std::string place, CMapiErrorDetails details)
    : hr_(hr), place_(std::move(place)), details_(std::move(details)) {
    text_ = BuildText(hr_, details_);
}

std::string CMAPIException::ResultText(HRESULT hr) {
    if (const char* name = MapiErrorSymbol(hr)) return name;
    if (const char* text = SystemErrorText(hr)) return text;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "Unknown Error %x", static_cast<unsigned>(hr));
    return buffer;
}

void CMAPIException::ReportError(const std::string& context) const noexcept {
    try {
        std::string text = text_;
        if (!place_.empty()) {
            text += "\r\nin ";
            text += place_;
        }
        ShowMessageBox(text, context);
    } catch (...) {
        // Reporting never raises a second failure.
    }
}
