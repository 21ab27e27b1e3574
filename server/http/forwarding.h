// Forwarding a request for a virtual directory whose URL begins with "http://" to
// another web server, relaying its answer unchanged and, while TraceWEB is on,
// logging both directions (web.log: the rewritten request, DumpMessage of it and of
// the answer; webbin.log: the answer bytes). Each log gets one entry per request,
// written as one unit, of at most kMaxLoggedBodyBytes of each message (a line says
// how much was left out); the text in web.log is escaped (log_text.h).
//
// The target is host[:port] of the URL; without a port, HttpPort. The request line
// loses "/" + name in front of its URL (nothing left: "/"); a "Host:" header becomes
// host[:port]. A target that cannot be resolved or connected, or that is this
// server itself (a local address at HttpPort), ends the request without an answer.
//
// Thread use: any thread.
#pragma once

#include <string>
#include <string_view>

#include "common/http/html_command.h"
#include "common/http/receive_message.h"
#include "server/config/settings.h"
#include "server/http/answer_stream.h"

struct CForwardTarget {
    std::string host;
    int port = 0;
    std::string hostHeader;  // host, or host:port when the URL named a port
};

// Host and port of a URL "http://host[:port][/...]" ("http://" in any case); port
// defaultPort when none is named. False for a malformed or empty host or port.
bool ParseForwardUrl(std::string_view url, int defaultPort, CForwardTarget& target);

// The request text to send: raw with its request line's URL made newUrl and its
// "Host:" value made hostHeader.
std::string RewriteRequest(std::string_view raw, std::string_view newUrl,
                           std::string_view hostHeader);

// The URL sent to the target: the raw request URL (query included) without "/" +
// name in front; when the raw URL does not begin with it (an encoded name), "/" +
// the decoded remaining path and the raw query. Always begins with "/".
std::string ForwardedUrl(std::string_view rawUrl, std::string_view name,
                         std::string_view remaining);

// Forwards request (raw: the bytes as received) for the directory record whose
// name is name and target URL is url, and relays the answer to out.
void ForwardRequest(IAnswerStream& out, Settings& settings, const std::string& url,
                    const std::string& name, const std::string& remaining, std::string_view raw,
                    const ReceiveLimits& limits = {});
