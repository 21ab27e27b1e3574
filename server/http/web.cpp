// web: receive, log, parse and trace one request.
#include "server/http/web.h"

#include <strings.h>

#include <algorithm>
#include <ctime>

#include "server/config/live_trace.h"
#include "server/config/log_text.h"
#include "server/config/text_file.h"
#include "server/http/web_routing.h"

std::string FormatWebLogEntry(const std::string& stamp, std::string_view received) {
    std::string_view text = received.substr(0, received.find('\0'));
    std::string_view firstLine = text.substr(0, text.find_first_of("\r\n"));
    std::string entry = "\r\n!!!" + stamp + " - ";
    CLogEscaper(false).Append(entry, firstLine);
    entry += "\r\n";
    CLogEscaper body;
    body.Append(entry, text.substr(0, std::min(text.size(), kMaxLoggedBodyBytes)));
    if (text.size() > kMaxLoggedBodyBytes) {
        if (entry.back() != '\n') entry += "\r\n";
        entry += NotLoggedLine(text.size() - kMaxLoggedBodyBytes, "\r\n");
    }
    return entry;
}

std::string RequestTraceLine(const CHTMLCommand& command) {
    std::string line = command.Method() + " " + command.URL();
    if (strcasecmp(command.URL().c_str(), "/Microsoft-Server-ActiveSync") == 0 &&
        command.URL().size() == sizeof("/Microsoft-Server-ActiveSync") - 1) {
        line += " " + command.GetParameter("Cmd");
    }
    return line;
}

void web(int socket, Settings& settings, const ReceiveLimits& limits) {
    // 1. Receive the whole request.
    CReceivedRequest request;
    ReceiveResult received = ReceiveMessage(socket, request.command.Buffer(), limits);
    if (received.end == ReceiveEnd::kTooLarge) {
        AddLiveTraceF("Request dropped: larger than %zu bytes", limits.maxBytes);
        return;
    }
    if (received.end == ReceiveEnd::kNoMemory) {
        AddLiveTrace("Request dropped: out of memory while reading it");
        return;
    }
    if (received.count == 0) return;
    request.count = received.count;
    CSocketAnswerStream out(socket);
    HandleRequest(settings, request, out);
}

void HandleRequest(Settings& settings, CReceivedRequest& request, IAnswerStream& out,
                   const ICredentialCheck* users) {
    CHTMLCommand& command = request.command;
    std::string_view received(command.Buffer().Data(), request.count);
    // 2. Log it.
    if (settings.TraceWEB()) {
        AppendToLogFile(settings.DataFolder() + "/web.log",
                        FormatWebLogEntry(FormatLogStamp(std::time(nullptr)), received));
    }

    // 3. Parse it; a request line without a URL ends here. Forwarding sends the
    // received bytes on, and only a GET is forwarded: only a GET keeps a copy of
    // them, any other request is parsed in its buffer without one.
    std::string raw;
    if (received.size() >= 3 && strncasecmp(received.data(), "GET", 3) == 0) {
        raw.assign(received);
        command.ParseMessage(true, raw.data(), raw.size());
    } else {
        command.ParseBuffer(true, request.count);
    }
    if (!command.HasURL()) return;

    // 4. Trace it.
    AddLiveTrace(RequestTraceLine(command));

    // 5-11. Route it.
    RouteRequest(out, settings, command, raw, request.overTls, users);
}
