// HandleAttachmentRequest: the bytes of one attachment for a link of the form
// "OutlookAttachments/<folder>/<entry ID>.EML/<file name>?device=<id>&username=<user>".
//
// Who may download: the device must already exist (the request never creates one),
// its user name must equal `username`, and the request must carry HTTP Basic
// credentials of that user (user name ignoring case, password exactly); otherwise the
// 401 answer with realm "Corvel" is sent and nothing is read from the store.
//
// Any thread; the caller serialises it with the Vantro requests (vantro_handlers.h).
#pragma once

#include <string>

#include "common/http/data_string.h"
#include "common/http/html_command.h"

class Settings;

inline constexpr const char* kAttachmentRealm = "Corvel";

struct CAttachmentLink {
    std::string folder;
    std::string entryId;         // hexadecimal, cut at the first "."
    std::string attachmentName;  // "%XX" decoded
};

// Splits the path of an attachment URL (query removed). False when the folder, item
// or name component is missing.
bool ParseAttachmentLink(const std::string& url, CAttachmentLink& link);

// Every "%" followed by two hexadecimal digits becomes the byte they encode.
std::string DecodePercent(const std::string& text);

// Fills answer with the whole HTTP answer: "application/binary" and the attachment's
// bytes when found; the 401 answer when the credentials do not fit; empty otherwise.
// True when the request named a known device and an existing message.
bool HandleAttachmentRequest(Settings& settings, const CHTMLCommand& request, CDataString& answer);
