// MessageToXML: one store item written as an item element into an answer.
//
// The element: start tag (0, 0x14 COLLECTION), one field element per row of the
// item's kind (element_map.h) whose property has a value, in table order, the
// attachment list, recipient list and recurrence block where their rows stand,
// end tag. Values take the text forms of value_format.h; the body is read through
// the body stream, and an HTML body (LooksLikeHtml) goes out as its text
// rendering (HtmlToText).
//
// Attachment list (e-mail): (7, 0x04 Attachments) holding one (0, 0x30 Attach)
// per attachment with (0, 0x31) method, (0, 0x32) size, (0, 0x35) download link
// and (0, 0x33) name (the long file name, else the short one). The link is
// "OutlookAttachments/<folder>/<entry ID>.EML/<name>?device=<id>&username=<user>"
// with the folder and file name percent-encoded (every byte other than A-Z a-z
// 0-9 - . _ ~), so that blanks, "/" and "?" in names cannot break the request
// line; the entry ID is upper-case hexadecimal; device and user stand as they are.
// Recurrence block (appointments stored as recurring with a series; nothing for a
// single appointment): recurrence_wbxml.h.
// Recipient list (e-mail): (7, 0x05) holding one (7, 0x06) per recipient row with
// (7, 0x08) display name, (7, 0x07) address and (7, 0x09) type, the texts written
// even when empty.
//
// Runs on the request thread that owns the item and the document.
#pragma once

#include <string>
#include <string_view>

#include "common/wbxml/wbxml.h"
#include "server/itemconv/time_zone.h"
#include "server/mapi/mapi_wrapper.h"

// What the element needs beyond the item.
struct CItemWriteContext {
    std::string folderName;      // display name of the item's folder (download links)
    std::string deviceId;        // the requesting device (download links)
    std::string userName;        // the user logged on (download links)
    bool includeHeaders = true;  // write PR_TRANSPORT_MESSAGE_HEADERS
    // Whole bodies. Bodies are never shortened; the flag is kept for callers that
    // pass it.
    bool wholeBody = true;
    const CTimeZone* zone = nullptr;  // null: the server's zone
};

// Writes message into writer. False, with nothing written, when the message class
// has no item kind (or cannot be read). True otherwise. A store error or other
// failure after the start tag ends the item: "Error in
// CMobileMapiMessage::MessageToXML line %d" (the step reached: 1 class, 2 start,
// 3 body, 4 tags, 5 values, 6 fields, 7 attachments, 8 recipients, 9 recurrence,
// 10 end) goes to the message box sink (error.log and live trace), the fields
// written so far stay, every element still open is closed, and true is returned.
// A named row the store cannot map is skipped with a live trace line; a failure
// opening the attachment table writes no list; a store error in the recipient list
// ends the list where it stands and the item goes on.
bool MessageToXML(IMessagePtr& message, CWBXML& writer, const CItemWriteContext& context);

// The download link of one attachment (see the top of this file).
std::string AttachmentLink(std::string_view folderName, std::string_view entryIdText,
                           std::string_view fileName, std::string_view deviceId,
                           std::string_view userName);

// Percent-encodes every byte other than A-Z a-z 0-9 - . _ ~ ("%2F", upper case).
std::string PercentEncode(std::string_view text);
