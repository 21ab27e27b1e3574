// Routing of one parsed request (the steps of `web` after its trace line):
//  - Vantro: URL exactly "vantro" or content type ("Content-Type", else
//    "ContentType") exactly "application/vantro": the protocol handler's request
//    operation; when it reports an answer, the answer is sent and routing ends;
//  - path beginning with "/OutlookAttachments" (decoded and normalised, see
//    CleanRequestPath): the attachment operation, which writes its answer to the
//    connection itself; a link not in the normal form the server writes its links
//    in (dot segments, doubled or encoded separators) gets no answer;
//  - anything but GET: no answer;
// With RequireTls on, a request that did not come over TLS gets, instead of its
// route: a Vantro request the answer of a refused log-on, an attachment download
// and a protected directory their 401 answer; credentials are not looked at, and a
// live trace line says why ("Refused over plain HTTP (RequireTls): <method> <url>").
// Other web files are served as before.
// A request that gets no answer (other than a Vantro request the protocol server
// did not answer) has a live trace line that says why: "No answer to <method>
// <url>: <reason>" (web_files.h lists the reasons of the web files).
//  - GET: the web files, after mapping the decoded URL to a virtual directory
//    (records in ascending order of their name, plain prefix), the Basic check of a
//    protected directory (the 401 answer with its realm when refused), forwarding for
//    an "http://" target, else the file system (see web_files.h). The path is
//    decoded once and normalised before it is matched, so "/./docs/x", "/%2e/docs/x"
//    and "/.//docs/x" meet the check of "docs" as "/docs/x" does; a file that lies
//    in another protected directory's folder is not served through any other
//    directory or the base folder. A URL holding ".." or a NUL, before or after
//    percent-decoding, gets no answer.
//
// Thread use: RouteRequest runs on many connection threads at once; the protocol
// handlers are installed once at start-up (SetProtocolHandlers is thread-safe).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/http/data_string.h"
#include "common/http/html_command.h"
#include "server/config/credential_check.h"
#include "server/config/settings.h"
#include "server/http/answer_stream.h"

// The Vantro server's operations, installed by the protocol server.
class IProtocolHandlers {
public:
    virtual ~IProtocolHandlers() = default;
    // Creates the shared store session; runs exactly once per installed object, on
    // the first request that reaches the protocol routes, even when several arrive
    // together.
    virtual void CreateSharedSession(Settings& settings) = 0;
    // Handles a Vantro request; true when answer holds a complete answer to send.
    virtual bool HandleVantroRequest(Settings& settings, const CHTMLCommand& request,
                                     CDataString& answer) = 0;
    // Handles an attachment download, writing its answer to out as it goes (the
    // header with the body's length, then the body in pieces); writing nothing
    // leaves the request without an answer. A peer that goes away mid-answer makes
    // out's writes fail; the handler then stops and frees what it holds.
    virtual void HandleAttachmentRequest(Settings& settings, const CHTMLCommand& request,
                                         IAnswerStream& out) = 0;

    // Runs change where no request runs beside it, for the protocol side owns the
    // devices' sync state. Never waits for a request: while one runs, change is
    // applied as it ends (before the next one begins). The default holds no
    // protocol state and runs it at once.
    virtual void BetweenRequests(Settings& settings, std::function<void(Settings&)> change);

    // Runs CreateSharedSession once.
    void EnsureSession(Settings& settings) {
        std::call_once(sessionOnce_, [&] { CreateSharedSession(settings); });
    }

private:
    std::once_flag sessionOnce_;
};

// Installs the protocol handlers (null: Vantro and attachment requests get no answer).
void SetProtocolHandlers(std::shared_ptr<IProtocolHandlers> handlers);
std::shared_ptr<IProtocolHandlers> GetProtocolHandlers();

// True when the request goes to the Vantro server.
bool IsVantroRequest(const CHTMLCommand& request);

struct CWebMapping {
    bool matched = false;
    CWebDirectory record;   // the matched record
    std::string name;       // its name, leading separators removed
    std::string remaining;  // the path after the name (the whole path when unmatched)
};

// Maps a clean request path (see CleanRequestPath) to a virtual directory.
CWebMapping MapToVirtualDirectory(const std::map<std::string, CWebDirectory>& directories,
                                  const std::string& cleanPath);

// Routes request (raw: the bytes as received; overTls: it came encrypted) and
// writes its answer to out. users answers the Basic check of a directory whose user
// name is "*" (none: nobody passes it).
void RouteRequest(IAnswerStream& out, Settings& settings, const CHTMLCommand& request,
                  std::string_view raw, bool overTls = false,
                  const ICredentialCheck* users = nullptr);
// The same, writing to a connected socket.
void RouteRequest(int socket, Settings& settings, const CHTMLCommand& request,
                  std::string_view raw);
