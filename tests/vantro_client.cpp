// Test client for Vantro requests and answers.
#include "tests/vantro_client.h"

#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/wbxml/tag_table.h"
#include "common/wbxml/wbxml.h"

namespace {

// A name without the blanks some table names end in ("PR_SUBJECT ").
std::string_view Trimmed(std::string_view name) {
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    return name;
}

const WBXMLTag* FindByName(const std::string& name, int page) {
    for (const WBXMLTag* row = kVantroTagTable; row->name != nullptr; ++row) {
        if (page >= 0 && row->codePage != page) continue;
        if (name == row->name || name == ElementName(row->codePage, row->token)) return row;
        if (name == Trimmed(row->name) || name == Trimmed(ElementName(row->codePage, row->token)))
            return row;
    }
    return nullptr;
}

const WBXMLTag* Lookup(const std::string& spelled) {
    size_t colon = spelled.find(':');
    if (colon != std::string::npos && colon > 0) {
        int page = std::stoi(spelled.substr(0, colon));
        const WBXMLTag* row = FindByName(spelled.substr(colon + 1), page);
        if (row != nullptr) return row;
    } else {
        if (const WBXMLTag* row = FindByName(spelled, 0)) return row;
        if (const WBXMLTag* row = FindByName(spelled, -1)) return row;
    }
    throw std::invalid_argument("unknown element name " + spelled);
}

}  // namespace

std::string BuildVantroBody(const std::string& description) {
    CWBXML writer;
    writer.BeginDocument(1024);
    std::vector<size_t> open;  // indentation of each open container
    std::istringstream lines(description);
    std::string line;
    while (std::getline(lines, line)) {
        size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos) continue;
        while (!open.empty() && open.back() >= indent) {
            writer.EndTag();
            open.pop_back();
        }
        std::string rest = line.substr(indent);
        size_t space = rest.find(' ');
        std::string name = rest.substr(0, space);
        const WBXMLTag* row = Lookup(name);
        if (space == std::string::npos) {
            writer.StartTag(row->codePage, row->token);
            open.push_back(indent);
        } else {
            std::string value = rest.substr(space + 1);
            if (value == "~") {
                writer.WriteEmptyElement(row->codePage, row->token);
                continue;
            }
            if (value == "=") value.clear();
            writer.WriteElement(row->codePage, row->token, value);
        }
    }
    while (!open.empty()) {
        writer.EndTag();
        open.pop_back();
    }
    return writer.Document().ToString();
}

std::string DescribeVantroBody(std::string_view body) {
    CWBXML reader;
    reader.SetDocument(body);
    CWBXMLEvent event;
    std::string out;
    int depth = 0;
    // A start whose text follows is printed on one line with it.
    std::string pendingName;
    bool pending = false;
    auto nameOf = [](const CWBXMLEvent& e) {
        std::string name(ElementName(e.codePage, e.token));
        if (e.codePage != 0) name = std::to_string(e.codePage) + ":" + name;
        return name;
    };
    auto flushPending = [&] {
        if (!pending) return;
        out += std::string(static_cast<size_t>(depth - 1) * 2, ' ') + pendingName + "\n";
        pending = false;
    };
    for (bool more = true; more;) {
        more = reader.NextEvent(event);
        if (event.EventKind == kWBXMLNoEvent) break;
        if (event.EventKind == kWBXMLStartTag) {
            flushPending();
            ++depth;
            pendingName = nameOf(event);
            pending = true;
        } else if (event.EventKind == kWBXMLContent) {
            std::string value = event.value.empty() ? "=" : event.value;
            if (pending) {
                out += std::string(static_cast<size_t>(depth - 1) * 2, ' ') + pendingName + " " +
                       value + "\n";
                pending = false;
            } else {
                out += std::string(static_cast<size_t>(depth) * 2, ' ') + "!text " + value + "\n";
            }
        } else {
            flushPending();
            if (depth > 0) --depth;
        }
    }
    flushPending();
    if (depth > 0) out += "!cut\n";
    return out;
}

std::string VantroHttpRequest(const std::string& body) {
    return "POST vantro HTTP/1.1\r\nContent-Type: application/vantro\r\nVantro-Version: 1\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string AnswerBody(const std::string& answer) {
    size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos) return std::string();
    return answer.substr(end + 4);
}
