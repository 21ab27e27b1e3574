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
    CHTMLCommand command;
    ReceiveResult received = ReceiveMessage(socket, command.Buffer(), limits);
    if (received.end == ReceiveEnd::kTooLarge) {
        AddLiveTraceF("Request dropped: larger than %zu bytes", limits.maxBytes);
        return;
    }
    if (received.end == ReceiveEnd::kNoMemory) {
        AddLiveTrace("Request dropped: out of memory while reading it");
        return;
    }
    if (received.count == 0) return;

    // 2. Log it.
    if (settings.TraceWEB()) {
        AppendToLogFile(
            settings.DataFolder() + "/web.log",
            FormatWebLogEntry(FormatLogStamp(std::time(nullptr)),
                              std::string_view(command.Buffer().Data(), received.count)));
    }

    // 3. Parse it; a request line without a URL ends here. The received bytes stay in
    // the buffer: forwarding sends them on.
    command.ParseMessage(true, command.Buffer().Data(), received.count);
    if (!command.HasURL()) return;

    // 4. Trace it.
    AddLiveTrace(RequestTraceLine(command));

    // 5-11. Route it.
    RouteRequest(socket, settings, command,
                 std::string_view(command.Buffer().Data(), received.count));
}
