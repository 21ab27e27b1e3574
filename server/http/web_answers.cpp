// The 401 answer and the directory page.
#include "server/http/web_answers.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include "common/http/html_answer.h"
#include "common/wbxml/wbxml.h"
#include "server/http/web_path.h"

std::string UnauthorizedPage() {
    return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n"
           "<HTML>\n"
           "<HEAD>\n"
           "<TITLE>Error</TITLE>\n"
           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=ISO-8859-1\">\n"
           "</HEAD>\n"
           "<BODY><H1>401 Unauthorised.</H1></BODY>\n"
           "</HTML>\n";
}

std::string RefusedLogonAnswer() {
    CWBXML document;
    document.BeginDocument();
    CHTMLAnswer http;
    http.SetContentType("application/vantro.wbxml");
    http.SetStatus(403, "Forbidden");
    std::string_view body = document.Document().View();
    http.Body().AppendBytes(body.size(), body.data());
    CDataString answer;
    http.Serialize(answer);
    return answer.ToString();
}

std::string UnauthorizedAnswer(std::string_view realm) {
    std::string cleanRealm;
    for (char c : realm) {
        if (c != '\r' && c != '\n' && c != '"') cleanRealm += c;
    }
    std::string page = UnauthorizedPage();
    std::string answer =
        "HTTP/1.0 401 Authorization Required\n"
        "Server: HTTPd/1.0\n"
        "Date: Sat, 27 Nov 2004 10:18:15 GMT\n"
        "WWW-Authenticate: Basic realm=\"" +
        cleanRealm +
        "\"\n"
        "Content-Type: text/html\n"
        "Content-Length: " +
        std::to_string(page.size()) + "\n\n";
    return answer + page;
}

std::vector<CDirectoryEntry> ListDirectory(const std::string& folder) {
    std::vector<CDirectoryEntry> entries;
    struct DirCloser {
        void operator()(DIR* d) const { closedir(d); }
    };
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) return entries;
    while (dirent* entry = readdir(dir.get())) {
        CDirectoryEntry item;
        item.name = entry->d_name;
        struct stat info {};
        std::string full = folder + "/" + item.name;
        if (stat(full.c_str(), &info) == 0) {
            item.isDirectory = S_ISDIR(info.st_mode);
            item.size = static_cast<uint64_t>(info.st_size);
        }
        entries.push_back(std::move(item));
    }
    return entries;
}

std::string DirectoryPageBody(std::string_view title, std::string_view linkBase,
                              const std::vector<CDirectoryEntry>& entries) {
    std::string body =
        "<html>\n"
        "\n"
        "<head>\n"
        "<meta http-equiv=\"Content-Language\" content=\"de\">\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\n";
    body += "<title>" + HtmlEscape(title) + "</title>\n";
    body +=
        "</head>\n"
        "\n"
        "<body>\n"
        "\n"
        "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: "
        "collapse\" bordercolor=\"#111111\" width=\"100%\">\n";
    for (const CDirectoryEntry& entry : entries) {
        std::string href = CollapseSeparators(std::string(linkBase) + "/" + entry.name);
        std::string link =
            "<a href=\"" + HtmlEscape(href) + "\">" + HtmlEscape(entry.name) + "</a>";
        body += "  <tr>\n";
        body += "    <td width=\"70%\">";
        body += entry.isDirectory ? "[" + link + "]</td>\n" : link + "</td>\n";
        body += "    <td width=\"30%\">" +
                std::to_string(static_cast<int32_t>(static_cast<uint32_t>(entry.size))) + "</td>\n";
        body += "  </tr>\n";
    }
    return body;
}
