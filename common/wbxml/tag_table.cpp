// The Vantro tag table and the name lookup over it.
#include "common/wbxml/tag_table.h"

#include <array>
#include <atomic>
#include <deque>
#include <mutex>
#include <string>

// clang-format off
constexpr WBXMLTag kVantroTagTable[] = {
    // Page 0: protocol, 43 rows.
    {0, 0x01, "Sync"},
    {0, 0x14, "COLLECTION"},
    {0, 0x15, "Folder"},
    {0, 0x16, "Folders"},
    {0, 0x17, "FolderName"},
    {0, 0x18, "ServerID"},
    {0, 0x19, "ClientID"},
    {0, 0x1A, "Name"},
    {0, 0x1B, "Typ"},
    {0, 0x1C, "BodySize"},
    {0, 0x1D, "Add"},
    {0, 0x1E, "Delete"},
    {0, 0x1F, "Modify"},
    {0, 0x20, "ReadFlag"},
    {0, 0x21, "Logon"},
    {0, 0x22, "DeviceID"},
    {0, 0x23, "UserName"},
    {0, 0x24, "Password"},
    {0, 0x25, "IsDefault"},
    {0, 0x26, "Response"},
    {0, 0x27, "Element"},
    {0, 0x28, "ReadState"},
    {0, 0x29, "Reset"},
    {0, 0x2A, "Acknlowledge"},
    {0, 0x2B, "ErrorCode"},
    {0, 0x2C, "AckString"},
    {0, 0x2D, "AllFolders"},
    {0, 0x2E, "FolderID"},
    {0, 0x2F, "FolderPath"},
    {0, 0x30, "Attach"},
    {0, 0x31, "AttachMethod"},
    {0, 0x32, "AttachSize"},
    {0, 0x33, "AttachName"},
    {0, 0x34, "AttachBase64"},
    {0, 0x35, "AttachLink"},
    {0, 0x36, "GetData"},
    {0, 0x37, "IncludeContent"},
    {0, 0x38, "FolderType"},
    {0, 0x39, "Filter"},
    {0, 0x3A, "Subfolders"},
    {0, 0x3B, "NewFolder"},
    {0, 0x3C, "Moved"},
    {0, 0x3D, "Matched"},
    // Page 1: contact fields, 51 rows.
    {1, 0x00, "ClientID"},
    {1, 0x01, "ServerID"},
    {1, 0x02, "Birthday"},
    {1, 0x03, "Aniversary"},
    {1, 0x04, "BusinessFaxNumber"},
    {1, 0x05, "Department"},
    {1, 0x06, "CompanyName"},
    {1, 0x07, "Email1Address"},
    {1, 0x08, "MobileTelephoneNumber"},
    {1, 0x09, "OfficeLocation"},
    {1, 0x0A, "PagerNumber"},
    {1, 0x0B, "BusinessTelephoneNumber"},
    {1, 0x0C, "JobTitle"},
    {1, 0x0D, "HomeTelephoneNumber"},
    {1, 0x0E, "Email2Address"},
    {1, 0x0F, "Spouse"},
    {1, 0x10, "Email3Address"},
    {1, 0x11, "Home2TelephoneNumber"},
    {1, 0x12, "HomeFaxNumber"},
    {1, 0x13, "CarTelephoneNumber"},
    {1, 0x14, "AssistantName"},
    {1, 0x15, "AssistantTelephoneNumber"},
    {1, 0x16, "Children"},
    {1, 0x17, "Categories"},
    {1, 0x18, "WebPage"},
    {1, 0x19, "Business2TelephoneNumber"},
    {1, 0x1A, "Title"},
    {1, 0x1B, "FirstName"},
    {1, 0x1C, "MiddleName"},
    {1, 0x1D, "LastName"},
    {1, 0x1E, "Suffix"},
    {1, 0x1F, "HomeAddressStreet"},
    {1, 0x20, "HomeAddressCity"},
    {1, 0x21, "HomeAddressState"},
    {1, 0x22, "HomeAddressPostalCode"},
    {1, 0x23, "HomeAddressCountry"},
    {1, 0x24, "OtherAddressStreet"},
    {1, 0x25, "OtherAddressCity"},
    {1, 0x26, "OtherAddressState"},
    {1, 0x27, "OtherAddressPostalCode"},
    {1, 0x28, "OtherAddressCountry"},
    {1, 0x29, "BusinessAddressStreet"},
    {1, 0x2A, "BusinessAddressCity"},
    {1, 0x2B, "BusinessAddressState"},
    {1, 0x2C, "BusinessAddressPostalCode"},
    {1, 0x2D, "BusinessAddressCountry"},
    {1, 0x2E, "RadioTelephoneNumber"},
    {1, 0x2F, "FileAs"},
    {1, 0x30, "Body"},
    {1, 0x34, "YomiFirstName"},
    {1, 0x35, "YomiCompanyName"},
    // Page 2: appointment fields, 17 rows.
    {2, 0x00, "IsRecurring"},
    {2, 0x01, "Subject"},
    {2, 0x02, "Location"},
    {2, 0x03, "Categories"},
    {2, 0x04, "Start"},
    {2, 0x05, "Duration"},
    {2, 0x06, "End"},
    {2, 0x07, "AllDayEvent"},
    {2, 0x08, "BusyStatus"},
    {2, 0x09, "Sensitivity"},
    {2, 0x0A, "Body"},
    {2, 0x0B, "PocketAppointment_Recipients"},
    {2, 0x0C, "MeetingStatus"},
    {2, 0x0D, "ReminderSet"},
    {2, 0x0E, "ReminderSoundFile"},
    {2, 0x0F, "ReminderMinutesBeforeStart"},
    {2, 0x10, "ReminderOptions"},
    // Page 3: task fields, 15 rows.
    {3, 0x00, "TaskIsRecurring"},
    {3, 0x01, "TaskSubject"},
    {3, 0x02, "TaskCategories"},
    {3, 0x03, "TaskStartDate"},
    {3, 0x04, "TaskDueDate"},
    {3, 0x05, "TaskDateCompleted"},
    {3, 0x06, "TaskImportance"},
    {3, 0x07, "TaskComplete"},
    {3, 0x08, "TaskSensitivity"},
    {3, 0x09, "TaskTeamTask"},
    {3, 0x0A, "TaskBody"},
    {3, 0x0B, "TaskReminderSet"},
    {3, 0x0C, "TaskReminderSoundFile"},
    {3, 0x0D, "TaskReminderTime"},
    {3, 0x0E, "TaskReminderOptions"},
    // Page 6: recurrence pattern, 21 rows.
    {6, 0x00, "Recurrence"},
    {6, 0x01, "Exception"},
    {6, 0x02, "Exceptions"},
    {6, 0x03, "RecurrenceType"},
    {6, 0x04, "PatternStartDate"},
    {6, 0x05, "StartTime"},
    {6, 0x06, "EndTime"},
    {6, 0x07, "PatternEndDate"},
    {6, 0x08, "NoEndDate"},
    {6, 0x09, "Occurrences"},
    {6, 0x0A, "Interval"},
    {6, 0x0B, "DayOfWeekMask"},
    {6, 0x0C, "DayOfMonth"},
    {6, 0x0D, "Instance"},
    {6, 0x0E, "Duration"},
    {6, 0x0F, "MonthOfYear"},
    {6, 0x10, "OriginalDate"},
    {6, 0x11, "Deleted"},
    {6, 0x12, "WeekOfMonth"},
    {6, 0x13, "DayOfWeek"},
    {6, 0x14, "SerieEndDate"},
    // Page 7: e-mail, 62 rows.
    {7, 0x00, "PR_BODY"},
    {7, 0x01, "PR_BODY_HTML"},
    {7, 0x02, "PR_SENDER_EMAIL_ADDRESS"},
    {7, 0x03, "PR_SENDER_NAME"},
    {7, 0x04, "Attachments"},
    {7, 0x05, "Email_Recipients"},
    {7, 0x06, "Email_Recipient"},
    {7, 0x07, "PR_EMAIL_ADDRESS"},
    {7, 0x08, "PR_DISPLAY_NAME"},
    {7, 0x09, "PR_RECIPIENT_TYPE"},
    {7, 0x0A, "PR_DELIVER_TIME"},
    {7, 0x0B, "PR_DISCARD_REASON"},
    {7, 0x0C, "PR_DISCLOSURE_OF_RECIPIENTS"},
    {7, 0x0D, "PR_IMPORTANCE"},
    {7, 0x0E, "PR_MESSAGE_CLASS "},
    {7, 0x0F, "PR_ORIGINATOR_RETURN_ADDRESS"},
    {7, 0x10, "PR_PRIORITY"},
    {7, 0x11, "PR_RECEIPT_TIME"},
    {7, 0x12, "PR_REPLY_TIME"},
    {7, 0x13, "PR_REPORT_TAG"},
    {7, 0x14, "PR_REPORT_TIME"},
    {7, 0x15, "PR_INCOMPLETE_COPY"},
    {7, 0x16, "PR_SENSITIVITY"},
    {7, 0x17, "PR_SUBJECT "},
    {7, 0x18, "PR_CLIENT_SUBMIT_TIME"},
    {7, 0x19, "PR_RECEIVED_BY_NAME"},
    {7, 0x1A, "PR_MESSAGE_TO_ME"},
    {7, 0x1B, "PR_MESSAGE_CC_ME"},
    {7, 0x1C, "PR_ORIGINAL_SENDER_NAME"},
    {7, 0x1D, "PR_CONVERSATION_TOPIC"},
    {7, 0x1E, "PR_MESSAGE_DELIVERY_TIME"},
    {7, 0x1F, "PR_CREATION_TIME"},
    {7, 0x20, "PR_LATEST_DELIVERY_TIME"},
    {7, 0x21, "PR_CONVERSATION_KEY"},
    {7, 0x22, "PR_DEFERRED_DELIVERY_TIME"},
    {7, 0x24, "PR_SENT_REPRESENTING_NAME"},
    {7, 0x25, "PR_RCVD_REPRESENTING_NAME"},
    {7, 0x26, "PR_LAST_MODIFICATION_TIME"},
    {7, 0x27, "PR_PROVIDER_SUBMIT_TIME"},
    {7, 0x28, "PR_ORIGINAL_SUBJECT"},
    {7, 0x29, "PR_ORIGINAL_AUTHOR_NAME"},
    {7, 0x2A, "PR_ORIGINAL_SUBMIT_TIME"},
    {7, 0x2B, "PR_REPLY_RECIPIENT_NAMES"},
    {7, 0x2C, "PR_ORIGINAL_DELIVERY_TIME"},
    {7, 0x2D, "PR_MESSAGE_RECIP_ME"},
    {7, 0x2E, "PR_ORIGINAL_SENT_REPRESENTING_NAME"},
    {7, 0x2F, "PR_START_DATE"},
    {7, 0x30, "PR_END_DATE"},
    {7, 0x31, "PR_RESPONSE_REQUESTED"},
    {7, 0x32, "PR_SENT_REPRESENTING_EMAIL_ADDRESS"},
    {7, 0x33, "PR_ORIGINAL_SENDER_EMAIL_ADDRESS"},
    {7, 0x34, "PR_ORIGINAL_SENT_REPRESENTING_EMAIL_ADDRESS"},
    {7, 0x35, "PR_ORIGINAL_DISPLAY_BCC"},
    {7, 0x36, "PR_ORIGINAL_DISPLAY_CC"},
    {7, 0x37, "PR_ORIGINAL_DISPLAY_TO"},
    {7, 0x38, "PR_RECEIVED_BY_EMAIL_ADDRESS"},
    {7, 0x39, "PR_RCVD_REPRESENTING_EMAIL_ADDRESS"},
    {7, 0x3A, "PR_ORIGINAL_AUTHOR_EMAIL_ADDRESS"},
    {7, 0x3B, "PR_TRANSPORT_MESSAGE_HEADERS"},
    {7, 0x3C, "PR_FLAG_STATUS"},
    {7, 0x3D, "PR_MESSAGE_FLAGS"},
    {7, 0x3E, "PR_FLAG_COMPLETE_TIME"},
    {0, 0, nullptr},
};
// clang-format on

namespace {

constexpr int kIndexedPages = 8;
constexpr int kTokens = 64;

size_t CountRows() {
    size_t n = 0;
    while (kVantroTagTable[n].name != nullptr) ++n;
    return n;
}

// Direct index (page, token) -> name, built at compile time from the table so
// that the first matching row wins, exactly as a search from the start would.
struct TagIndex {
    std::array<const char*, kIndexedPages * kTokens> full{};
    std::array<std::string_view, kIndexedPages * kTokens> cut{};
};

constexpr TagIndex BuildIndex() {
    TagIndex index;
    for (size_t i = 0; kVantroTagTable[i].name != nullptr; ++i) {
        const WBXMLTag& row = kVantroTagTable[i];
        if (row.codePage < 0 || row.codePage >= kIndexedPages || row.token < 0 ||
            row.token >= kTokens)
            continue;
        size_t slot = static_cast<size_t>(row.codePage * kTokens + row.token);
        if (index.full[slot] != nullptr) continue;  // a later duplicate never takes effect
        index.full[slot] = row.name;
        std::string_view name(row.name);
        size_t underscore = name.find('_');
        index.cut[slot] = underscore == std::string_view::npos ? name : name.substr(underscore + 1);
    }
    return index;
}

constexpr TagIndex kIndex = BuildIndex();

std::string Hex(int32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    uint32_t v = static_cast<uint32_t>(value);
    std::string text;
    do {
        text.insert(text.begin(), kDigits[v & 0xF]);
        v >>= 4;
    } while (v != 0);
    return text;
}

std::string FormatMiss(int32_t codePage, int32_t token) {
    return "unknown " + Hex(codePage) + " " + Hex(token);
}

// Miss texts of byte-sized pages and 6-bit tokens are kept for the life of the
// program (at most 256 * 64 of them), so reader events may hold views of them.
std::string_view InternMiss(int32_t codePage, int32_t token) {
    if (codePage < 0 || codePage > 255 || token < 0 || token >= kTokens) {
        thread_local std::string scratch;
        scratch = FormatMiss(codePage, token);
        return scratch;
    }
    // Readers find a kept text without a lock; only the first miss of a pair locks.
    static std::array<std::atomic<const std::string*>, 256 * kTokens> slots{};
    std::atomic<const std::string*>& slot = slots[static_cast<size_t>(codePage * kTokens + token)];
    if (const std::string* kept = slot.load(std::memory_order_acquire)) return *kept;
    static std::mutex mutex;
    static std::deque<std::string> texts;
    std::lock_guard<std::mutex> lock(mutex);
    if (const std::string* kept = slot.load(std::memory_order_relaxed)) return *kept;
    texts.push_back(FormatMiss(codePage, token));
    slot.store(&texts.back(), std::memory_order_release);
    return texts.back();
}

}  // namespace

size_t VantroTagTableSize() {
    static const size_t size = CountRows();
    return size;
}

const WBXMLTag* FindTagRow(const WBXMLTag* rows, int32_t codePage, int32_t token) {
    for (const WBXMLTag* row = rows; row->name != nullptr; ++row)
        if (row->codePage == codePage && row->token == token) return row;
    return nullptr;
}

std::string_view TagName(int32_t codePage, int32_t token) {
    if (codePage >= 0 && codePage < kIndexedPages && token >= 0 && token < kTokens) {
        const char* name = kIndex.full[static_cast<size_t>(codePage * kTokens + token)];
        if (name != nullptr) return name;
    }
    return InternMiss(codePage, token);
}

std::string_view ElementName(int32_t codePage, int32_t token) {
    if (codePage >= 0 && codePage < kIndexedPages && token >= 0 && token < kTokens) {
        size_t slot = static_cast<size_t>(codePage * kTokens + token);
        if (kIndex.full[slot] != nullptr) return kIndex.cut[slot];
    }
    return InternMiss(codePage, token);
}
