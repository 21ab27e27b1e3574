// web: the request handler every connection thread runs. It reads one request,
// writes it to web.log when TraceWEB is on, parses it and adds a line for it to
// the live trace. It never closes the socket (the connection thread does).
//
// Requests that are not read whole are dropped without an answer: nothing
// received, a request past the size limit (with a live trace line that says
// so), a buffer that cannot grow, or a request line without a URL.
// Runs on many connection threads at once; Settings is read only.
#pragma once

#include <string>

#include "common/http/html_command.h"
#include "common/http/receive_message.h"
#include "server/config/credential_check.h"
#include "server/config/settings.h"
#include "server/http/answer_stream.h"
#include "server/http/connection_loop.h"

void web(int socket, Settings& settings, const ReceiveLimits& limits = {});

// The steps of web after the reading, for a request the connection loop read
// whole: log, parse, trace and route it, writing the answer to out (users: see
// RouteRequest).
void HandleRequest(Settings& settings, CReceivedRequest& request, IAnswerStream& out,
                   const ICredentialCheck* users = nullptr);

// The web.log entry for a received request: "\r\n!!!<stamp> - <first line>\r\n"
// followed by the received text up to its first zero byte, escaped (log_text.h),
// and of that text at most kMaxLoggedBodyBytes, then a line saying how much was
// left out.
std::string FormatWebLogEntry(const std::string& stamp, std::string_view received);

// The live trace line of a parsed request: "<method> <url>", and for
// "/Microsoft-Server-ActiveSync" (any case) a blank and the "Cmd" parameter.
std::string RequestTraceLine(const CHTMLCommand& command);
