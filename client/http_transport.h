// Skiff's HTTP transport: the connection step, the request writer and the answer
// reader for the one POST of a sync run.
//
// The request is written as
//   POST vantro HTTP/1.1\r\n            (the path without a leading "/")
//   <name>: <value>\r\n ...             (the request's headers in order; no Host)
//   Content-Length: <n>\r\n Content-Size: <n>\r\n   (only with a body)
//   \r\n <body>
// A server "host:port" is reached on that port, a bare host on port 80. A URL
// "https://..." goes over TLS (port 443 without one), the certificate judged as
// tls_connection.h says; one that is not trusted ends the request before any byte
// of it is written.
//
// The answer is read until it is complete (the header block has ended and, when it
// carries "Content-Length:", that many body bytes have arrived; bytes past the
// announced length are dropped), the peer closes, kMaxAnswerBytes is passed, or no
// byte arrives within the wait limit. A stop request does not end the read: the
// server acts on a request that has gone out whatever happens here, so its answer is
// still worth having; it only shortens the wait for the next byte to
// kStoppedAnswerWait. It is then split by
// the shared message parser in answer mode. The socket is closed before returning.
//
// Thread-safety: functions may run on any thread; one request object per thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/tls_connection.h"
#include "common/http/data_string.h"
#include "common/http/html_command.h"

// Largest answer read; a longer one is not complete and is not applied.
constexpr size_t kMaxAnswerBytes = size_t{256} * 1024 * 1024;
// Wait units of SendHttpRequest: 600 x 100 polls of 30 ms for the first byte.
constexpr int kAnswerWaitUnits = 600;
constexpr std::chrono::milliseconds kAnswerPollStep{30};
// The longest wait for the next byte of an answer once a stop was requested.
constexpr std::chrono::milliseconds kStoppedAnswerWait{60000};
// Polls of kAnswerPollStep that a connection attempt may take (30 s).
constexpr int kConnectPolls = 1000;
// The public address used only to choose a destination network.
constexpr const char* kConnMgrProbeUrl = "http://www.example.com/";

struct HttpRequest {
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The received answer: raw bytes, and split into status line, fields and body.
    CDataString answerBuffer{1024, 1024};
    CHTMLCommand answer;
    bool answerComplete = false;
    // HTTPS: the fingerprint kept for the server (empty: none), and what the
    // handshake found.
    std::string pinnedFingerprint;
    TlsHandshakeResult tls;
    std::chrono::milliseconds tlsHandshakeTimeout{30000};  // the longest a handshake may take
};

// Asks the connection manager for a connection (log lines "ConnMgrMapURL = %x",
// "connecting", "ConnMgrEstablish.. = %x"). Returns the handle, 0 when none was
// made; the run goes on either way.
uintptr_t OpenNetworkConnection();
// Releases a handle from OpenNetworkConnection (nothing for 0), letting the
// connection manager keep the connection cached.
void ReleaseNetworkConnection(uintptr_t handle);

// Host, port and path of a URL "http://host[:port]/path" ("http://" optional, any
// case; "https://" sets secure, and the port is 443 without one). False when the
// port is not a number from 1 to 65535.
bool SplitUrl(const std::string& url, std::string& host, uint16_t& port, std::string& path,
              bool* secure = nullptr);
// True when text begins with "https://" (any case).
bool IsHttpsUrl(std::string_view text);
// The URL of a configured server address: the address itself when it begins with
// "http://" or "https://" (any case), else "http://" and the address.
std::string ServerUrl(const std::string& server);

// Sends the request and reads its answer into request.answerBuffer and
// request.answer. True when a connection was made and the request written; false
// after a log line "%x %s" with the error code and "gethostbyname", "connect" or
// "send". stop, when set before the request was written, ends the connection
// attempt; after that, it shortens the wait for the answer (see above).
bool SendHttpRequest(const std::string& url, HttpRequest& request, const std::string& method,
                     const std::atomic<bool>* stop = nullptr,
                     std::chrono::milliseconds stoppedWait = kStoppedAnswerWait);

// Reads an answer from socket into buffer (re-initialised; followed by a zero byte
// that is not counted). Returns the bytes kept; complete tells whether the answer
// was whole. waitUnits x 100 polls of step without any byte end the read, and once
// stop is set, stoppedWait without a byte.
size_t ReadHttpAnswer(int socket, CDataString& buffer, int waitUnits, bool& complete,
                      const std::atomic<bool>* stop = nullptr,
                      std::chrono::milliseconds step = kAnswerPollStep,
                      std::chrono::milliseconds stoppedWait = kStoppedAnswerWait);

// The status code of an answer's status line ("HTTP/1.1 200 OK" gives 200); 0 when
// the text does not begin with "HTTP/" and a three-digit code.
int HttpStatusCode(std::string_view answer);

// Whether data[0, count) is a whole answer; when it is, wholeLength is the length
// to keep (header block plus announced body, or all bytes without a length). Pure.
bool IsAnswerComplete(const char* data, size_t count, size_t& wholeLength);
