#include "server/itemconv/element_map.h"

#include <cstdio>

#include "common/base/text.h"
#include "server/mapi/gen_mapi_prop_ptr.h"
#include "server/mapi/mapi_exception.h"

namespace {

constexpr const char* A = kAddressSetText;
constexpr const char* P = kAppointmentSetText;
constexpr const char* T = kTaskSetText;
constexpr const char* C = kCommonSetText;
constexpr const char* S = kPublicStringsSetText;
constexpr const char16_t* kKeywords = u"Keywords";

// The business postal-address properties (street, locality, state or province,
// postal code, country).
constexpr ULONG kBusinessStreet = 0x3A29001E;
constexpr ULONG kBusinessCity = 0x3A27001E;
constexpr ULONG kBusinessState = 0x3A28001E;
constexpr ULONG kBusinessPostalCode = 0x3A2A001E;
constexpr ULONG kBusinessCountry = 0x3A26001E;

constexpr ElementMapEntry Fixed(int32_t kind, int32_t token, ULONG tag) {
    return {kind, token, tag, nullptr, 0, nullptr, 0, kSpecialNone};
}
constexpr ElementMapEntry Named(int32_t kind, int32_t token, const char* set, uint16_t id,
                                ULONG type) {
    return {kind, token, 0, set, id, nullptr, static_cast<uint16_t>(type), kSpecialNone};
}
constexpr ElementMapEntry Keywords(int32_t kind, int32_t token) {
    return {kind, token, 0, S, 0, kKeywords, static_cast<uint16_t>(PT_MV_STRING8), kSpecialNone};
}
constexpr ElementMapEntry NoProperty(int32_t kind, int32_t token) {
    return {kind, token, 0, nullptr, 0, nullptr, 0, kSpecialNone};
}
constexpr ElementMapEntry Special(int32_t kind, int32_t token, uint16_t handling) {
    return {kind, token, 0, nullptr, 0, nullptr, 0, handling};
}

}  // namespace

const ElementMapEntry kElementMap[] = {
    // Contacts.
    Fixed(1, 0x02, PR_BIRTHDAY),
    Fixed(1, 0x03, PR_WEDDING_ANNIVERSARY),
    Fixed(1, 0x05, PR_DEPARTMENT_NAME),
    Fixed(1, 0x06, PR_COMPANY_NAME),
    Named(1, 0x07, A, 0x8083, PT_STRING8),
    Fixed(1, 0x08, PR_MOBILE_TELEPHONE_NUMBER),
    Fixed(1, 0x0A, PR_PAGER_TELEPHONE_NUMBER),
    Fixed(1, 0x0B, PR_BUSINESS_TELEPHONE_NUMBER),
    Fixed(1, 0x19, PR_BUSINESS2_TELEPHONE_NUMBER),
    Fixed(1, 0x0D, PR_HOME_TELEPHONE_NUMBER),
    Fixed(1, 0x11, PR_HOME2_TELEPHONE_NUMBER),
    Fixed(1, 0x13, PR_CAR_TELEPHONE_NUMBER),
    Fixed(1, 0x15, PR_ASSISTANT_TELEPHONE_NUMBER),
    Fixed(1, 0x31, PR_CALLBACK_TELEPHONE_NUMBER),
    Fixed(1, 0x32, PR_PRIMARY_TELEPHONE_NUMBER),
    Fixed(1, 0x33, PR_OTHER_TELEPHONE_NUMBER),
    Fixed(1, 0x12, PR_HOME_FAX_NUMBER),
    Fixed(1, 0x04, PR_BUSINESS_FAX_NUMBER),
    Fixed(1, 0x09, PR_OFFICE_LOCATION),
    Fixed(1, 0x0C, PR_PROFESSION),
    Named(1, 0x0E, A, 0x8093, PT_STRING8),
    Fixed(1, 0x0F, PR_SPOUSE_NAME),
    Named(1, 0x10, A, 0x80A3, PT_STRING8),
    Fixed(1, 0x14, PR_ASSISTANT),
    Fixed(1, 0x16, PR_CHILDRENS_NAMES),
    Keywords(1, 0x17),
    Fixed(1, 0x18, PR_BUSINESS_HOME_PAGE),
    Fixed(1, 0x34, PR_DISPLAY_NAME_PREFIX),
    Fixed(1, 0x1A, PR_TITLE),
    Fixed(1, 0x1B, PR_GIVEN_NAME),
    Fixed(1, 0x1C, PR_MIDDLE_NAME),
    Fixed(1, 0x1D, PR_SURNAME),
    NoProperty(1, 0x1E),
    Fixed(1, 0x1F, PR_HOME_ADDRESS_STREET),
    Fixed(1, 0x20, PR_HOME_ADDRESS_CITY),
    Fixed(1, 0x21, PR_HOME_ADDRESS_STATE_OR_PROVINCE),
    Fixed(1, 0x22, PR_HOME_ADDRESS_POSTAL_CODE),
    Fixed(1, 0x23, PR_HOME_ADDRESS_COUNTRY),
    Fixed(1, 0x24, PR_OTHER_ADDRESS_STREET),
    Fixed(1, 0x25, PR_OTHER_ADDRESS_CITY),
    Fixed(1, 0x26, PR_OTHER_ADDRESS_STATE_OR_PROVINCE),
    Fixed(1, 0x27, PR_OTHER_ADDRESS_POSTAL_CODE),
    Fixed(1, 0x28, PR_OTHER_ADDRESS_COUNTRY),
    Fixed(1, 0x29, kBusinessStreet),
    Fixed(1, 0x2A, kBusinessCity),
    Fixed(1, 0x2B, kBusinessState),
    Fixed(1, 0x2C, kBusinessPostalCode),
    Fixed(1, 0x2D, kBusinessCountry),
    Named(1, kTokenContactFileAs, A, kLidFileAs, PT_STRING8),
    Fixed(1, 0x30, PR_BODY),

    // Tasks.
    Fixed(3, kTokenTaskSubject, PR_SUBJECT),
    Keywords(3, 0x02),
    Named(3, 0x03, T, 0x8104, PT_SYSTIME),
    Named(3, 0x04, T, 0x8105, PT_SYSTIME),
    NoProperty(3, 0x05),
    Fixed(3, 0x06, PR_IMPORTANCE),
    Named(3, 0x07, T, 0x811C, PT_BOOLEAN),
    Fixed(3, 0x08, PR_SENSITIVITY),
    NoProperty(3, 0x09),
    Fixed(3, 0x0A, PR_BODY),
    Named(3, 0x0B, C, 0x8503, PT_BOOLEAN),
    NoProperty(3, 0x0C),
    Named(3, 0x0D, C, 0x8502, PT_SYSTIME),
    NoProperty(3, 0x0E),

    // Appointments.
    Named(2, 0x00, P, 0x8223, PT_BOOLEAN),
    Fixed(2, kTokenAppointmentSubject, PR_SUBJECT),
    Named(2, 0x02, P, 0x8208, PT_STRING8),
    Keywords(2, 0x03),
    Named(2, 0x04, P, 0x820D, PT_SYSTIME),
    Named(2, 0x05, P, 0x8213, PT_LONG),
    Named(2, 0x06, P, 0x820E, PT_SYSTIME),
    Named(2, 0x07, P, 0x8215, PT_BOOLEAN),
    Named(2, 0x08, P, 0x8205, PT_LONG),
    Fixed(2, 0x09, PR_SENSITIVITY),
    Fixed(2, 0x0A, PR_BODY),
    NoProperty(2, 0x0B),
    Named(2, 0x0C, P, 0x8217, PT_LONG),
    Named(2, 0x0D, C, 0x8503, PT_BOOLEAN),
    NoProperty(2, 0x0E),
    Named(2, 0x0F, C, 0x8501, PT_LONG),
    NoProperty(2, 0x10),
    Special(2, 0x11, kSpecialRecurrence),

    // E-mail: each element bears the name of its property.
    Fixed(7, 0x02, PR_SENDER_EMAIL_ADDRESS),
    Fixed(7, 0x03, PR_SENDER_NAME),
    Fixed(7, 0x07, PR_EMAIL_ADDRESS),
    Fixed(7, 0x08, PR_DISPLAY_NAME),
    Fixed(7, 0x21, PR_CONVERSATION_KEY),
    Fixed(7, 0x22, PR_DEFERRED_DELIVERY_TIME),
    Fixed(7, 0x0A, PR_DELIVER_TIME),
    Fixed(7, 0x0B, PR_DISCARD_REASON),
    Fixed(7, 0x0C, PR_DISCLOSURE_OF_RECIPIENTS),
    Fixed(7, 0x0D, PR_IMPORTANCE),
    Fixed(7, 0x20, PR_LATEST_DELIVERY_TIME),
    Fixed(7, 0x0E, PR_MESSAGE_CLASS),
    Fixed(7, 0x0F, PR_ORIGINATOR_RETURN_ADDRESS),
    Fixed(7, 0x10, PR_PRIORITY),
    Fixed(7, 0x11, PR_RECEIPT_TIME),
    Fixed(7, 0x12, PR_REPLY_TIME),
    Fixed(7, 0x13, PR_REPORT_TAG),
    Fixed(7, 0x14, PR_REPORT_TIME),
    Fixed(7, 0x15, PR_INCOMPLETE_COPY),
    Fixed(7, 0x16, PR_SENSITIVITY),
    Fixed(7, 0x17, PR_SUBJECT),
    Fixed(7, 0x18, PR_CLIENT_SUBMIT_TIME),
    Fixed(7, 0x1F, PR_CREATION_TIME),
    Fixed(7, 0x26, PR_LAST_MODIFICATION_TIME),
    Fixed(7, 0x1E, PR_MESSAGE_DELIVERY_TIME),
    Fixed(7, 0x19, PR_RECEIVED_BY_NAME),
    Fixed(7, 0x24, PR_SENT_REPRESENTING_NAME),
    Fixed(7, 0x25, PR_RCVD_REPRESENTING_NAME),
    Fixed(7, 0x27, PR_PROVIDER_SUBMIT_TIME),
    Fixed(7, 0x28, PR_ORIGINAL_SUBJECT),
    Fixed(7, 0x29, PR_ORIGINAL_AUTHOR_NAME),
    Fixed(7, 0x2A, PR_ORIGINAL_SUBMIT_TIME),
    Fixed(7, 0x2C, PR_ORIGINAL_DELIVERY_TIME),
    Fixed(7, 0x1A, PR_MESSAGE_TO_ME),
    Fixed(7, 0x1B, PR_MESSAGE_CC_ME),
    Fixed(7, 0x2D, PR_MESSAGE_RECIP_ME),
    Fixed(7, 0x1C, PR_ORIGINAL_SENDER_NAME),
    Fixed(7, 0x2E, PR_ORIGINAL_SENT_REPRESENTING_NAME),
    Fixed(7, 0x2F, PR_START_DATE),
    Fixed(7, 0x30, PR_END_DATE),
    Fixed(7, 0x31, PR_RESPONSE_REQUESTED),
    Fixed(7, 0x32, PR_SENT_REPRESENTING_EMAIL_ADDRESS),
    Fixed(7, 0x33, PR_ORIGINAL_SENDER_EMAIL_ADDRESS),
    Fixed(7, 0x34, PR_ORIGINAL_SENT_REPRESENTING_EMAIL_ADDRESS),
    Fixed(7, 0x1D, PR_CONVERSATION_TOPIC),
    Fixed(7, 0x35, PR_ORIGINAL_DISPLAY_BCC),
    Fixed(7, 0x36, PR_ORIGINAL_DISPLAY_CC),
    Fixed(7, 0x37, PR_ORIGINAL_DISPLAY_TO),
    Fixed(7, 0x38, PR_RECEIVED_BY_EMAIL_ADDRESS),
    Fixed(7, 0x39, PR_RCVD_REPRESENTING_EMAIL_ADDRESS),
    Fixed(7, 0x3A, PR_ORIGINAL_AUTHOR_EMAIL_ADDRESS),
    Fixed(7, 0x3B, PR_TRANSPORT_MESSAGE_HEADERS),
    Fixed(7, 0x3D, PR_MESSAGE_FLAGS),
    Fixed(7, 0x01, PR_BODY_HTML),
    Fixed(7, 0x3C, PR_FLAG_STATUS),
    Special(7, 0x04, kSpecialAttachments),
    Special(7, 0x05, kSpecialRecipients),
    Fixed(7, 0x00, PR_BODY),
    // The table has always held this row twice; an item with flags writes them twice.
    Fixed(7, 0x3D, PR_MESSAGE_FLAGS),

    {-1, 0, 0, nullptr, 0, nullptr, 0, kSpecialNone},
};

size_t ElementMapSize() {
    static const size_t size = [] {
        size_t n = 0;
        while (kElementMap[n].kind != -1) ++n;
        return n;
    }();
    return size;
}

ItemKind ItemKindOfClass(std::string_view messageClass) {
    auto begins = [&](std::string_view prefix) {
        return messageClass.substr(0, prefix.size()) == prefix;
    };
    if (begins("IPM.Contact")) return kItemContact;
    if (begins("IPM.Appointment")) return kItemAppointment;
    if (begins("IPM.Task")) return kItemTask;
    if (begins("IPM.Note") || begins("IPM.Post")) return kItemEmail;
    return kItemNone;
}

namespace {

bool ReadHex(std::string_view text, size_t& pos, size_t digits, uint64_t& value) {
    value = 0;
    for (size_t i = 0; i < digits; ++i, ++pos) {
        if (pos >= text.size()) return false;
        int d = HexDigitValue(text[pos]);
        if (d < 0) return false;
        value = value * 16 + static_cast<uint64_t>(d);
    }
    return true;
}

bool ReadDash(std::string_view text, size_t& pos) {
    if (pos >= text.size() || text[pos] != '-') return false;
    ++pos;
    return true;
}

}  // namespace

bool ParseGuidText(std::string_view text, GUID& out) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    GUID g{};
    size_t pos = 0;
    uint64_t v = 0;
    if (!ReadHex(text, pos, 8, v)) return false;
    g.Data1 = static_cast<uint32_t>(v);
    if (!ReadDash(text, pos) || !ReadHex(text, pos, 4, v)) return false;
    g.Data2 = static_cast<uint16_t>(v);
    if (!ReadDash(text, pos) || !ReadHex(text, pos, 4, v)) return false;
    g.Data3 = static_cast<uint16_t>(v);
    if (!ReadDash(text, pos)) return false;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !ReadDash(text, pos)) return false;
        if (!ReadHex(text, pos, 2, v)) return false;
        g.Data4[i] = static_cast<uint8_t>(v);
    }
    out = g;
    return true;
}

bool HasProperty(const ElementMapEntry& row) {
    return row.propTag != 0 || row.propertySet != nullptr;
}

ULONG ResolveElementTag(CGenMapiPropPtr& item, const ElementMapEntry& row) {
    if (row.propTag != 0) return row.propTag;
    if (row.propertySet == nullptr) return 0;
    GUID set{};
    if (!ParseGuidText(row.propertySet, set))
        throw CMAPIException(MAPI_E_INVALID_PARAMETER, "ResolveElementTag");
    if (row.stringName != nullptr)
        return item.GetIDFromName(set, std::u16string(row.stringName), row.propType, MAPI_CREATE);
    return item.GetIDFromName(set, static_cast<LONG>(row.numericName), row.propType, MAPI_CREATE);
}

std::string ElementRowName(const ElementMapEntry& row) {
    char text[32];
    std::snprintf(text, sizeof text, "%d/0x%02X", static_cast<int>(row.kind),
                  static_cast<unsigned>(row.token));
    return text;
}
