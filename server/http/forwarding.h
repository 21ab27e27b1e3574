// Forwarding a request for a virtual directory whose URL begins with "http://" to
// another web server, relaying its answer unchanged and, while TraceWEB is on,
// logging both directions (web.log: the rewritten request, DumpMessage of it and of
// the answer; webbin.log: the answer bytes). Each log gets one entry per request,
// written as one unit, of at most kMaxLoggedBodyBytes of each message (a line says
// how much was left out); the text in web.log is escaped (log_text.h).
//
// The target is host[:port] of the URL; without a port, 80. The request line loses
// "/" + name in front of its URL (nothing left: "/"); a "Host:" header becomes
// host[:port]; a hop header "X-Corvel-Hop: <this process's token>" is added. A
// target that cannot be resolved or connected, that is this server itself (a local
// address at a port this process listens on), or a request that already carries
// this process's hop token (it went round and came back) ends the request without
// an answer, with a live trace line for the last two.
//
// Thread use: any thread.
#pragma once

#include <string>
#include <string_view>

#include "common/http/html_command.h"
#include "common/http/receive_message.h"
#include "server/config/settings.h"
#include "server/http/answer_stream.h"

// The port forwarding assumes for a URL without one.
inline constexpr int kDefaultForwardPort = 80;
inline constexpr const char* kHopHeader = "X-Corvel-Hop";

// The ports this process listens on (web servers register theirs while they
// listen); thread-safe.
void RegisterListeningPort(int port);
void UnregisterListeningPort(int port);
bool IsListeningPort(int port);
// This process's hop token: random, the same for the process's life.
const std::string& HopToken();

struct CForwardTarget {
    std::string host;
    int port = 0;
    std::string hostHeader;  // host, or host:port when the URL named a port
};

// Host and port of a URL "http://host[:port][/...]" ("http://" in any case); port
// defaultPort when none is named. False for a malformed or empty host or port.
bool ParseForwardUrl(std::string_view url, int defaultPort, CForwardTarget& target);

// The request text to send: raw with its request line's URL made newUrl and its
// "Host:" value made hostHeader; a non-empty hopToken adds the line
// "X-Corvel-Hop: <hopToken>" at the end of the head.
std::string RewriteRequest(std::string_view raw, std::string_view newUrl,
                           std::string_view hostHeader, std::string_view hopToken = {});

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
