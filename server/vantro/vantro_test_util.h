// The fixture of the protocol tests: requests built as element trees, run through
// CVantroRequest against a real store (StoreLayerTest, device PPC1 of alice), and
// answers rendered as text (page 0 only, or every page) or compared byte by byte.
// The AckStrings of the last answer are kept, so a test acknowledges what it got.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "server/devices/automatic_folders.h"
#include "server/itemconv/mapi_item_converter.h"
#include "server/store/store_test_util.h"
#include "server/vantro/vantro_request.h"
#include "server/vantro/vantro_tags.h"

namespace vantro_test {

using namespace vantro;

// One element of a request: a text element (isText), an empty element (isEmpty:
// the bare tag of a cleared field) or a container.
struct Node {
    int32_t page = 0;
    int32_t token = 0;
    bool isText = false;
    bool isEmpty = false;
    std::string text;
    std::vector<Node> children;
};

inline Node Text(int32_t token, std::string text, int32_t page = kPage) {
    return Node{page, token, true, false, std::move(text), {}};
}
inline Node Empty(int32_t token, int32_t page) { return Node{page, token, false, true, {}, {}}; }
inline Node Box(int32_t token, std::vector<Node> children) {
    return Node{kPage, token, false, false, std::string(), std::move(children)};
}

inline void Write(CWBXML& writer, const Node& node) {
    if (node.isText) {
        writer.WriteElement(node.page, node.token, node.text);
        return;
    }
    if (node.isEmpty) {
        writer.WriteEmptyElement(node.page, node.token);
        return;
    }
    writer.StartTag(node.page, node.token);
    for (const Node& child : node.children) Write(writer, child);
    writer.EndTag();
}

inline constexpr int32_t kContactPage = 1;
inline constexpr int32_t kAppointmentPage = 2;
inline constexpr int32_t kTaskPage = 3;
inline constexpr int32_t kFileAs = 0x2F;
inline constexpr int32_t kCompany = 0x06;
inline constexpr int32_t kMobile = 0x08;
inline constexpr int32_t kBirthday = 0x02;
inline constexpr int32_t kLastName = 0x1D;
inline constexpr int32_t kFirstName = 0x1B;
inline constexpr int32_t kTaskSubject = 0x01;
inline constexpr int32_t kTaskBody = 0x0A;
inline constexpr int32_t kTaskImportance = 0x06;

// An Add or Modify with keys and fields (children of COLLECTION).
inline Node Item(int32_t change, const std::string& clientId, std::vector<Node> fields,
                 const std::string& serverId = std::string()) {
    std::vector<Node> children;
    if (!serverId.empty()) children.push_back(Text(kServerID, serverId));
    if (!clientId.empty()) children.push_back(Text(kClientID, clientId));
    children.push_back(Box(kCollection, std::move(fields)));
    return Box(change, std::move(children));
}
inline Node Contact(int32_t change, const std::string& clientId, const std::string& fileAs,
                    const std::string& serverId = std::string()) {
    return Item(change, clientId, {Text(kFileAs, fileAs, kContactPage)}, serverId);
}

// The elements of an answer as "Name{...}" and "Name=value", separated by blanks;
// names of pages other than 0 carry "P:" before them. withFields false leaves the
// item fields (every page other than 0) out.
inline std::string Describe(std::string_view document, bool withFields = false) {
    CWBXML reader;
    reader.SetDocument(document.data(), document.size());
    CWBXMLEvent event;
    std::string out;
    std::vector<int32_t> pages;
    std::string pending;
    bool hasPending = false;
    bool afterText = false;
    auto shown = [&](int32_t page) { return withFields || page == kPage; };
    for (bool more = true; more;) {
        more = reader.NextEvent(event);
        if (event.EventKind == kWBXMLStartTag) {
            if (hasPending) out += pending + "{";
            pages.push_back(event.codePage);
            hasPending = shown(event.codePage);
            pending = (event.codePage != kPage ? std::to_string(event.codePage) + ":" : "") +
                      std::string(TagName(event.codePage, event.token));
            afterText = false;
        } else if (event.EventKind == kWBXMLContent) {
            if (hasPending) out += pending + "=" + event.value + " ";
            hasPending = false;
            afterText = true;
        } else if (event.EventKind == kWBXMLEndTag) {
            int32_t page = pages.empty() ? kPage : pages.back();
            if (!pages.empty()) pages.pop_back();
            if (afterText || !shown(page)) {
                afterText = false;
                hasPending = false;
                continue;
            }
            out += hasPending ? pending + "{} " : "} ";
            hasPending = false;
        } else {
            break;
        }
    }
    return out;
}

class VantroRequestTest : public StoreLayerTest {
protected:
    void SetUp() override {
        StoreLayerTest::SetUp();
        session_->SetItemConverter(std::make_shared<CMapiItemConverter>());
        contacts_ = DefaultFolder(-1);
        tasks_ = DefaultFolder(-2);
    }

    // The request body of a Logon of PPC1 followed by top.
    static std::string Body(const std::vector<Node>& top) {
        CWBXML writer;
        writer.BeginDocument(4096);
        Write(writer, Box(kLogon, {Text(kDeviceID, "PPC1_Pocket"), Text(kUserName, "alice"),
                                   Text(kPassword, "pw")}));
        for (const Node& node : top) Write(writer, node);
        return std::string(writer.Document().View());
    }
    // Runs one request with body; returns the answer document and keeps its
    // AckStrings (acks_) and the request's live trace (lastTrace_).
    std::string RunBody(const std::string& body) {
        std::string http =
            "POST vantro HTTP/1.1\r\nContent-Type: application/vantro\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body;
        CHTMLCommand request;
        request.ParseMessage(true, http.data(), http.size());
        CMobileMapiServer server(session_.get());
        CVantroRequest vantro(*settings_, *session_, server);
        CDataString answer;
        TakeTrace();
        EXPECT_TRUE(vantro.HandleVantroRequest(request, answer));
        lastTrace_ = TakeTrace();
        std::string document(vantro.Answer().Document().View());
        acks_ = AckStringsOf(document);
        return document;
    }
    // Runs a Logon of PPC1 followed by top; the answer's page-0 description
    // (every page with withFields).
    std::string Run(const std::vector<Node>& top, bool withFields = false) {
        lastDocument_ = RunBody(Body(top));
        return Describe(lastDocument_, withFields);
    }

    static std::vector<std::string> AckStringsOf(std::string_view document) {
        std::vector<std::string> acks;
        CWBXML reader;
        reader.SetDocument(document.data(), document.size());
        CWBXMLEvent event;
        for (bool more = true; more;) {
            more = reader.NextEvent(event);
            if (event.EventKind == kWBXMLContent && event.codePage == kPage &&
                event.token == kAckString)
                acks.push_back(event.value);
            if (event.EventKind == kWBXMLNoEvent) break;
        }
        return acks;
    }
    // An Acknlowledge of the AckStrings the last answer carried.
    Node Ack() const { return AckOf(acks_); }
    static Node AckOf(const std::vector<std::string>& acks) {
        std::vector<Node> texts;
        for (const std::string& ack : acks) texts.push_back(Text(kAckString, ack));
        return Box(kAcknlowledge, std::move(texts));
    }
    static Node GetFolder(const std::string& key, bool reset = false, int days = 0) {
        std::vector<Node> folder = {Text(kServerID, key)};
        if (reset) folder.push_back(Text(kReset, "1"));
        if (days != 0) folder.push_back(Text(kFilter, std::to_string(days)));
        return Box(kGetData, {Box(kFolder, std::move(folder))});
    }
    static Node GetContacts(bool reset = false) { return GetFolder("-1", reset); }
    // The device's Folder of code with Typ typ (none when empty), Reset 1 when reset.
    static Node DeviceFolder(const std::string& code, const std::string& typ,
                             std::vector<Node> changes, bool reset = false) {
        std::vector<Node> children = {Text(kClientID, code)};
        if (!typ.empty()) children.push_back(Text(kTyp, typ));
        if (reset) children.push_back(Text(kReset, "1"));
        for (Node& change : changes) children.push_back(std::move(change));
        return Box(kFolder, std::move(children));
    }
    static Node DeviceContacts(std::vector<Node> changes, bool reset = false) {
        return DeviceFolder("-1", "Contacts", std::move(changes), reset);
    }
    // The answer's Sync of folder code with its generation and items, each
    // "Add <key>" or "Modify <key>" (fields left out).
    static std::string SentFolder(const std::vector<std::string>& items, int generation,
                                  const std::string& code = "-1") {
        std::string out = "Sync{Folder{AckString=PPC1:" + code + ".csv:" + code + "_temp." +
                          std::to_string(generation) + ".csv ServerID=" + code +
                          " FolderPath=" + code + " ";
        for (const std::string& item : items) {
            size_t blank = item.find(' ');
            out += "Element{" + item.substr(0, blank) + "{ServerID=" + item.substr(blank + 1) +
                   " COLLECTION{} } } ";
        }
        return out + "} } ";
    }
    // A Response of the contacts folder with one Element per (ClientID, ServerID,
    // matched) mapping.
    static std::string Mappings(const std::vector<std::pair<std::string, std::string>>& mappings,
                                const std::string& code = "-1",
                                const std::vector<bool>& matched = {}) {
        std::string out = "Response{Folder{ClientID=" + code + " ServerID=" + code + " ";
        for (size_t i = 0; i < mappings.size(); ++i) {
            out +=
                "Element{ClientID=" + mappings[i].first + " ServerID=" + mappings[i].second + " ";
            if (i < matched.size() && matched[i]) out += "Matched=1 ";
            out += "} ";
        }
        return out + "} } ";
    }
    static std::string Mapping(const std::string& clientId, const std::string& serverId) {
        return Mappings({{clientId, serverId}});
    }
    // The keys of folder's items that are not in known, in table order.
    static std::vector<std::string> NewKeys(IMAPIFolderPtr& folder,
                                            const std::vector<std::string>& known) {
        std::vector<std::string> found;
        for (const std::string& key : Keys(folder)) {
            if (std::find(known.begin(), known.end(), key) == known.end()) found.push_back(key);
        }
        return found;
    }
    static std::string NewKey(IMAPIFolderPtr& folder, const std::vector<std::string>& known) {
        std::vector<std::string> keys = NewKeys(folder, known);
        return keys.size() == 1 ? keys[0] : std::string();
    }
    bool Traced(const std::string& line) const {
        return lastTrace_.find(line + "|") != std::string::npos;
    }
    std::string Prop(IMAPIFolderPtr& folder, const std::string& key, ULONG tag) {
        return OpenItem(folder, key).GetPropText(tag);
    }
    std::string DataFile(const std::string& name) {
        return ReadWholeFile(dataFolder_ + "/PPC1/" + name);
    }
    bool DataFileExists(const std::string& name) {
        return std::filesystem::exists(dataFolder_ + "/PPC1/" + name);
    }
    // Sets props of the item and saves it, as an edit on the desktop would.
    static void DesktopEdit(IMAPIFolderPtr& folder, const std::string& key,
                            const std::vector<std::pair<ULONG, std::string>>& props) {
        IMessagePtr message = OpenItem(folder, key);
        for (const auto& [tag, text] : props) message.SetStrProp(tag, text);
        message.SaveChanges(0);
    }
    // A contact in the store with the given props.
    static std::string NewContact(IMAPIFolderPtr& folder,
                                  const std::vector<std::pair<ULONG, std::string>>& props) {
        IMessagePtr message = folder.CreateMessage();
        message.SetStrProp(PR_MESSAGE_CLASS, "IPM.Contact");
        for (const auto& [tag, text] : props) message.SetStrProp(tag, text);
        message.SaveChanges(KEEP_OPEN_READWRITE);
        return message.GetEntryID().ToText();
    }
    // Gives the device the folders "Automatisch" would configure (inbox, outbox,
    // sent and deleted items, contacts, tasks, calendar), so that FolderType finds them.
    void ConfigureDefaultFolders() {
        CAutomaticFolders automatic = FindAutomaticFolders(Device().session.Get());
        ASSERT_TRUE(automatic.problems.empty());
        Device().EditConfig(
            [&](CDeviceConfig& config) { config.folders = std::move(automatic.folders); });
        Device().FindDefaultFolders();
    }
    ULONG FileAsTag() {
        return contacts_.GetIDFromName(PSETID_Address, 0x8005, PT_STRING8, MAPI_CREATE);
    }

    IMAPIFolderPtr contacts_;
    IMAPIFolderPtr tasks_;
    std::string lastTrace_;
    std::string lastDocument_;
    std::vector<std::string> acks_;
};

}  // namespace vantro_test
