// Test helper: the whole answer RouteRequest writes for one request, read from the
// other end of a socket pair once the server's end is closed.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "server/http/socket_util.h"
#include "server/http/web_routing.h"

// "no socket pair" when none can be made, so that the caller's check fails.
inline std::string RoutedAnswer(Settings& settings, const std::string& request) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return "no socket pair";
    CSocket server(pair[0]);
    CSocket client(pair[1]);
    CHTMLCommand command;
    command.ParseMessage(true, request.data(), request.size());
    RouteRequest(server.Get(), settings, command, request);
    server.Close();
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = read(client.Get(), buffer, sizeof buffer)) > 0)
        answer.append(buffer, static_cast<size_t>(n));
    return answer;
}
