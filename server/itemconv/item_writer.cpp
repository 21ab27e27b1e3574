#include "server/itemconv/item_writer.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

#include "common/base/text.h"
#include "common/wbxml/text_convert.h"
#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/itemconv/element_map.h"
#include "server/itemconv/html_to_text.h"
#include "server/itemconv/recurrence_message.h"
#include "server/itemconv/recurrence_wbxml.h"
#include "server/itemconv/value_format.h"

namespace {

constexpr int32_t kProtocolPage = 0;
constexpr int32_t kTokenCollection = 0x14;
constexpr int32_t kTokenAttach = 0x30;
constexpr int32_t kTokenAttachMethod = 0x31;
constexpr int32_t kTokenAttachSize = 0x32;
constexpr int32_t kTokenAttachName = 0x33;
constexpr int32_t kTokenAttachLink = 0x35;
constexpr int32_t kEmailPage = 7;
constexpr int32_t kTokenAttachments = 0x04;
constexpr int32_t kTokenRecipients = 0x05;
constexpr int32_t kTokenRecipient = 0x06;
constexpr int32_t kTokenRecipientAddress = 0x07;
constexpr int32_t kTokenRecipientName = 0x08;
constexpr int32_t kTokenRecipientType = 0x09;

// The writer with a count of the elements this item has open, so that a failure
// can close exactly those.
class CItemElementWriter {
public:
    explicit CItemElementWriter(CWBXML& writer) : writer_(writer) {}

    void Start(int32_t page, int32_t token) {
        if (writer_.StartTag(page, token)) ++depth_;
    }
    void End() {
        if (depth_ == 0) return;
        writer_.EndTag();
        --depth_;
    }
    void CloseTo(int depth) {
        while (depth_ > depth) End();
    }
    void Field(int32_t page, int32_t token, std::string_view text) {
        writer_.WriteElement(page, token, text);
    }
    void FieldIfNotEmpty(int32_t page, int32_t token, std::string_view text) {
        writer_.WriteElementIfNotEmpty(page, token, text);
    }
    int Depth() const { return depth_; }
    CWBXML& Raw() { return writer_; }

private:
    CWBXML& writer_;
    int depth_ = 0;
};

void WriteAttachments(IMessagePtr& message, CItemElementWriter& out,
                      const CItemWriteContext& context) {
    IMAPITablePtr table;
    try {
        table = message.GetAttachmentTable();
    } catch (const CMAPIException&) {
        return;
    }
    CRowSet rows = table.QueryAllRows(CPropTagArray{PR_ATTACH_METHOD, PR_ATTACH_LONG_FILENAME,
                                                    PR_ATTACH_SIZE, PR_ATTACH_FILENAME});
    if (rows.Empty()) return;
    std::string entryId = message.GetEntryID().ToText();
    out.Start(kEmailPage, kTokenAttachments);
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SRow& row = rows[i];
        std::string name = CRowSet::Text(row, PR_ATTACH_LONG_FILENAME);
        if (name.empty()) name = CRowSet::Text(row, PR_ATTACH_FILENAME);
        out.Start(kProtocolPage, kTokenAttach);
        out.Field(kProtocolPage, kTokenAttachMethod,
                  std::to_string(CRowSet::Long(row, PR_ATTACH_METHOD)));
        out.Field(kProtocolPage, kTokenAttachSize,
                  std::to_string(CRowSet::Long(row, PR_ATTACH_SIZE)));
        out.Field(kProtocolPage, kTokenAttachLink,
                  ToUtf8(AttachmentLink(context.folderName, entryId, name, context.deviceId,
                                        context.userName)));
        out.Field(kProtocolPage, kTokenAttachName, ToUtf8(name));
        out.End();
    }
    out.End();
}

void WriteRecipients(IMessagePtr& message, CItemElementWriter& out) {
    int depth = out.Depth();
    try {
        IMAPITablePtr table = message.GetRecipientTable();
        CRowSet rows =
            table.QueryAllRows(CPropTagArray{PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_RECIPIENT_TYPE});
        if (rows.Empty()) return;
        out.Start(kEmailPage, kTokenRecipients);
        for (ULONG i = 0; i < rows.Count(); ++i) {
            const SRow& row = rows[i];
            out.Start(kEmailPage, kTokenRecipient);
            out.Field(kEmailPage, kTokenRecipientName, ToUtf8(CRowSet::Text(row, PR_DISPLAY_NAME)));
            out.Field(kEmailPage, kTokenRecipientAddress,
                      ToUtf8(CRowSet::Text(row, PR_EMAIL_ADDRESS)));
            out.Field(kEmailPage, kTokenRecipientType,
                      std::to_string(CRowSet::Long(row, PR_RECIPIENT_TYPE)));
            out.End();
        }
        out.End();
    } catch (const CMAPIException&) {
        out.CloseTo(depth);
    }
}

void WriteRecurrence(IMessagePtr& message, CItemElementWriter& out, const CTimeZone& zone) {
    RecurrencePattern pattern;
    if (!LoadFromMessage(message, pattern, zone)) return;
    // A single appointment has no series to describe (its block would carry
    // year-0 dates).
    if (!pattern.recurring || pattern.kind == kRecurNone) return;
    WriteRecurrenceBlock(out.Raw(), pattern, zone);
}

}  // namespace

std::string PercentEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            AppendHexByte(out, c);
        }
    }
    return out;
}

std::string AttachmentLink(std::string_view folderName, std::string_view entryIdText,
                           std::string_view fileName, std::string_view deviceId,
                           std::string_view userName) {
    std::string link = "OutlookAttachments/";
    link += PercentEncode(folderName);
    link += '/';
    link += entryIdText;
    link += ".EML/";
    link += PercentEncode(fileName);
    link += "?device=";
    link += deviceId;
    link += "&username=";
    link += userName;
    return link;
}

bool MessageToXML(IMessagePtr& message, CWBXML& writer, const CItemWriteContext& context) {
    const CTimeZone& zone = context.zone ? *context.zone : ServerTimeZone();
    int step = 1;
    ItemKind kind = ItemKindOfClass(message.GetPropText(PR_MESSAGE_CLASS));
    if (kind == kItemNone) return false;

    CItemElementWriter out(writer);
    try {
        step = 2;
        out.Start(kProtocolPage, kTokenCollection);
        step = 3;
        std::string body = message.GetBody();
        bool html = LooksLikeHtml(body);
        // A fragment without an html tag is HTML when the mail's headers say so.
        if (!html && kind == kItemEmail && body.find('<') != std::string::npos)
            html = HeadersSayHtml(message.GetPropText(PR_TRANSPORT_MESSAGE_HEADERS));
        body = html ? HtmlBodyToUtf8(body) : ToUtf8(body);

        step = 4;
        std::vector<const ElementMapEntry*> rows;
        std::vector<ULONG> rowTags;
        std::vector<ULONG> asked;
        for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
            if (row->kind != kind) continue;
            ULONG tag = 0;
            try {
                tag = ResolveElementTag(message, *row);
            } catch (const CMAPIException& e) {
                AddLiveTraceF("MessageToXML: field %s skipped, property not mapped: %s",
                              ElementRowName(*row).c_str(), e.what());
                continue;
            }
            if (tag == 0 && row->specialHandling == kSpecialNone) continue;
            rows.push_back(row);
            rowTags.push_back(tag);
            if (tag != 0 && tag != PR_BODY &&
                std::find(asked.begin(), asked.end(), tag) == asked.end()) {
                asked.push_back(tag);
            }
        }

        step = 5;
        CPropArray values;
        if (!asked.empty()) values = message.GetProps(CPropTagArray(asked));

        step = 6;
        for (size_t i = 0; i < rows.size(); ++i) {
            const ElementMapEntry& row = *rows[i];
            ULONG tag = rowTags[i];
            if (row.specialHandling == kSpecialAttachments) {
                step = 7;
                WriteAttachments(message, out, context);
            } else if (row.specialHandling == kSpecialRecipients) {
                step = 8;
                WriteRecipients(message, out);
            } else if (row.specialHandling == kSpecialRecurrence) {
                step = 9;
                WriteRecurrence(message, out, zone);
            } else if (tag == PR_BODY) {
                out.FieldIfNotEmpty(kind, row.token, body);
            } else {
                if (tag == PR_TRANSPORT_MESSAGE_HEADERS && !context.includeHeaders) continue;
                const SPropValue* value = values.Find(tag);
                if (value == nullptr) continue;
                out.FieldIfNotEmpty(kind, row.token, PropValueToElementText(*value, zone));
            }
            step = 6;
        }
        step = 10;
        out.CloseTo(0);
    } catch (const std::exception&) {
        char text[80];
        std::snprintf(text, sizeof text, "Error in CMobileMapiMessage::MessageToXML line %d", step);
        ShowMessageBox(text);
        try {
            out.CloseTo(0);
        } catch (const std::exception&) {
            // The document cannot grow any more; the caller ends its request.
        }
    }
    return true;
}
