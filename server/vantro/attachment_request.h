// HandleAttachmentRequest: the bytes of one attachment for a link of the form
// "OutlookAttachments/<folder>/<entry ID>.EML/<file name>?device=<id>&username=<user>".
//
// Who may download: the device must already exist (the request never creates one),
// its user name must equal `username`, and the request must carry HTTP Basic
// credentials of that user (user name ignoring case, password exactly); otherwise the
// 401 answer with realm "Corvel" is sent and nothing is read from the store. What may
// be downloaded: only attachments of messages that lie in one of the device's
// configured or default folders, or in a sub-folder of one (IsFolderOffered of
// server/store/offered_folders.h); any other message is treated as not found.
//
// The answer is "HTTP/1.1 200 OK" with "Content-Type: application/binary" and the
// attachment's length, then its bytes, read from the store stream and sent in pieces
// of kAttachmentPieceBytes, so an attachment is never copied whole into an answer.
//
// Two steps, so the caller can hold its request lock only for the store lookups:
// PrepareAttachmentDownload (under the lock that serialises it with the Vantro
// requests, vantro_handlers.h) and SendAttachmentDownload (outside it; the download
// owns everything it reads from). Each download is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "common/http/html_command.h"
#include "platform/mapi/mapi.h"
#include "server/http/answer_stream.h"
#include "server/http/web_answers.h"
#include "server/mapi/mapi_ref.h"

class CDeviceList;

inline constexpr size_t kAttachmentPieceBytes = 64 * 1024;

struct CAttachmentLink {
    std::string folder;
    std::string entryId;         // hexadecimal, cut at the first "."
    std::string attachmentName;  // "%XX" decoded
};

// Splits the path of an attachment URL (query removed). False when the folder, item
// or name component is missing.
bool ParseAttachmentLink(const std::string& url, CAttachmentLink& link);

// What an attachment request comes to.
struct CAttachmentDownload {
    // The request named a known device and an existing message it may reach.
    bool knownMessage = false;
    // The whole 401 answer when the credentials did not fit; empty otherwise.
    std::string refusal;
    // The attachment's bytes at their start, and their count; null when none was found.
    CMapiRef<IStream> data;
    uint64_t size = 0;
    // The answer's "Date".
    std::time_t date = std::time(nullptr);
};

// Checks the request and looks the attachment up (see the top of this file). Store
// errors leave data null. Never throws.
CAttachmentDownload PrepareAttachmentDownload(CDeviceList& devices, const CHTMLCommand& request);

// Writes the answer of download to out: the refusal, or the header and the bytes in
// pieces of pieceBytes, or nothing when no attachment was found. Stops at the first
// write that fails (the peer went away) or when the stream ends early or fails (the
// answer is then short and the connection's close ends it). True when the whole
// answer was written. The stream is released when download is destroyed.
bool SendAttachmentDownload(CAttachmentDownload& download, IAnswerStream& out,
                            size_t pieceBytes = kAttachmentPieceBytes);

// Both steps at once; true when the request named a known device and an existing
// message it may reach.
bool HandleAttachmentRequest(CDeviceList& devices, const CHTMLCommand& request, IAnswerStream& out);
