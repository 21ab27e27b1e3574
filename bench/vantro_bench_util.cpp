// Helpers of the benchmarks that run corvel as a program (vantro_bench.h).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "bench/vantro_bench.h"
#include "common/wbxml/wbxml.h"
#include "server/http/http_test_util.h"
#include "server/vantro/vantro_tags.h"

void WriteBenchLogon(CWBXML& doc) {
    doc.StartTag(vantro::kPage, vantro::kLogon);
    doc.WriteElement(vantro::kPage, vantro::kDeviceID, std::string_view("PPCB_Bench"));
    doc.WriteElement(vantro::kPage, vantro::kUserName, std::string_view("bench"));
    doc.WriteElement(vantro::kPage, vantro::kPassword, std::string_view("pw"));
    doc.EndTag();
}

std::string VantroHttpRequest(const CWBXML& doc) {
    std::string body = doc.Document().ToString();
    return "POST vantro HTTP/1.1\r\nContent-Type: application/vantro\r\nVantro-Version: "
           "1\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string GetDataRequest(std::string_view folderType, bool reset) {
    CWBXML doc;
    doc.BeginDocument(1024);
    WriteBenchLogon(doc);
    doc.StartTag(vantro::kPage, vantro::kSync);
    doc.StartTag(vantro::kPage, vantro::kGetData);
    doc.StartTag(vantro::kPage, vantro::kFolder);
    doc.WriteElement(vantro::kPage, vantro::kFolderType, folderType);
    if (reset) doc.WriteElement(vantro::kPage, vantro::kReset, std::string_view("1"));
    doc.EndTag();
    doc.EndTag();
    doc.EndTag();
    return VantroHttpRequest(doc);
}

std::int64_t PeakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
    }
    return 0;
}

double ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold blanks; the fields after it are
    // plain: state is field 3, utime 14 and stime 15.
    size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number >= 14) ticks += std::stod(field);
    }
    long perSecond = sysconf(_SC_CLK_TCK);
    return perSecond > 0 ? ticks / static_cast<double>(perSecond) : 0;
}

std::string Exchange(int port, const std::string& request) {
    CSocket socket = ConnectLoopback(port, 600);
    if (!socket.IsValid() || !SendAll(socket.Get(), request)) return std::string();
    std::string answer;
    std::vector<char> piece(65536);
    size_t wanted = std::string::npos;  // whole answer length, once the header is in
    while (answer.size() < wanted) {
        ssize_t got = recv(socket.Get(), piece.data(), piece.size(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        answer.append(piece.data(), static_cast<size_t>(got));
        if (wanted == std::string::npos) {
            size_t end = answer.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            std::smatch match;
            std::string header = answer.substr(0, end + 2);
            if (std::regex_search(
                    header, match,
                    std::regex("\r\nContent-Length: *([0-9]+)\r\n", std::regex::icase)))
                wanted = end + 4 + std::stoull(match[1].str());
        }
    }
    return answer;
}

std::string BodyOf(const std::string& answer) {
    size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

size_t CountElements(const std::string& document, int32_t page, int32_t token) {
    CWBXML reader;
    reader.SetDocument(document);
    CWBXMLEvent event;
    size_t count = 0;
    for (bool more = true; more;) {
        more = reader.NextEvent(event);
        if (event.EventKind == kWBXMLNoEvent) break;
        if (event.EventKind == kWBXMLStartTag && event.codePage == page && event.token == token)
            ++count;
    }
    return count;
}
