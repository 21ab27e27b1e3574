// Two-way requests against a real store: the device's changes and a GetData of the
// same folders in one request, answered without echoes, with items that vanished
// passed over, refused operations skipped, and per-folder counts in the live trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "server/config/sync_log.h"
#include "server/itemconv/mapi_item_converter.h"
#include "server/store/store_test_util.h"
#include "server/vantro/vantro_request.h"
#include "server/vantro/vantro_tags.h"

namespace {

using namespace vantro;

// One element of a request: a text element (text set) or a container.
struct Node {
    int32_t page = 0;
    int32_t token = 0;
    bool isText = false;
    std::string text;
    std::vector<Node> children;
};

Node Text(int32_t token, std::string text, int32_t page = kPage) {
    return Node{page, token, true, std::move(text), {}};
}
Node Box(int32_t token, std::vector<Node> children) {
    return Node{kPage, token, false, std::string(), std::move(children)};
}

void Write(CWBXML& writer, const Node& node) {
    if (node.isText) {
        writer.WriteElement(node.page, node.token, node.text);
        return;
    }
    writer.StartTag(node.page, node.token);
    for (const Node& child : node.children) Write(writer, child);
    writer.EndTag();
}

constexpr int32_t kContactPage = 1;
constexpr int32_t kFileAs = 0x2F;

Node Contact(int32_t change, const std::string& clientId, const std::string& fileAs,
             const std::string& serverId = std::string()) {
    std::vector<Node> children;
    if (!serverId.empty()) children.push_back(Text(kServerID, serverId));
    children.push_back(Text(kClientID, clientId));
    children.push_back(Box(kCollection, {Text(kFileAs, fileAs, kContactPage)}));
    return Box(change, std::move(children));
}

// The protocol elements of an answer (page 0 only; item fields are left out) as
// "Name{...}" and "Name=value", separated by blanks.
std::string Describe(std::string_view document) {
    CWBXML reader;
    reader.SetDocument(document.data(), document.size());
    CWBXMLEvent event;
    std::string out;
    std::vector<int32_t> pages;
    std::string pending;
    bool hasPending = false;
    bool afterText = false;
    for (bool more = true; more;) {
        more = reader.NextEvent(event);
        if (event.EventKind == kWBXMLStartTag) {
            if (hasPending) out += pending + "{";
            pages.push_back(event.codePage);
            hasPending = event.codePage == kPage;
            pending = std::string(TagName(event.codePage, event.token));
            afterText = false;
        } else if (event.EventKind == kWBXMLContent) {
            if (hasPending) out += pending + "=" + event.value + " ";
            hasPending = false;
            afterText = true;
        } else if (event.EventKind == kWBXMLEndTag) {
            int32_t page = pages.empty() ? kPage : pages.back();
            if (!pages.empty()) pages.pop_back();
            if (afterText || page != kPage) {
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

class VantroSyncTest : public StoreLayerTest {
protected:
    void SetUp() override {
        StoreLayerTest::SetUp();
        session_->SetItemConverter(std::make_shared<CMapiItemConverter>());
        contacts_ = DefaultFolder(-1);
    }

    // Runs one request of a Logon of PPC1 followed by top; returns the answer's
    // description and keeps the live trace of the request in trace_.
    std::string Run(std::vector<Node> top) {
        CWBXML writer;
        writer.BeginDocument(4096);
        Write(writer, Box(kLogon, {Text(kDeviceID, "PPC1_Pocket"), Text(kUserName, "alice"),
                                   Text(kPassword, "pw")}));
        for (const Node& node : top) Write(writer, node);
        std::string body(writer.Document().View());
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
        return Describe(vantro.Answer().Document().View());
    }

    static Node Ack() { return Box(kAcknlowledge, {Text(kAckString, "PPC1:-1.csv:-1_temp.csv")}); }
    static Node GetContacts(bool reset = false) {
        std::vector<Node> folder = {Text(kServerID, "-1")};
        if (reset) folder.push_back(Text(kReset, "1"));
        return Box(kGetData, {Box(kFolder, std::move(folder))});
    }
    static Node DeviceContacts(std::vector<Node> changes) {
        std::vector<Node> children = {Text(kClientID, "-1"), Text(kTyp, "Contacts")};
        for (Node& change : changes) children.push_back(std::move(change));
        return Box(kFolder, std::move(children));
    }
    // The answer's Sync of the contacts folder with items, each "Add <key>" or
    // "Modify <key>".
    static std::string SentFolder(const std::vector<std::string>& items) {
        std::string out =
            "Sync{Folder{AckString=PPC1:-1.csv:-1_temp.csv ServerID=-1 FolderPath=-1 ";
        for (const std::string& item : items) {
            size_t blank = item.find(' ');
            out += "Element{" + item.substr(0, blank) + "{ServerID=" + item.substr(blank + 1) +
                   " COLLECTION{} } } ";
        }
        return out + "} } ";
    }
    static std::string Mapping(const std::string& clientId, const std::string& serverId) {
        return "Response{Folder{ClientID=-1 ServerID=-1 Element{ClientID=" + clientId +
               " ServerID=" + serverId + " } } } ";
    }
    // The key of the one item of folder that is not in known.
    static std::string NewKey(IMAPIFolderPtr& folder, const std::vector<std::string>& known) {
        std::string found;
        for (const std::string& key : Keys(folder)) {
            if (std::find(known.begin(), known.end(), key) == known.end()) found = key;
        }
        return found;
    }
    bool Traced(const std::string& line) const {
        return lastTrace_.find(line + "|") != std::string::npos;
    }

    // Anna and Bert in the store, sent to the device and acknowledged.
    void SyncedContacts(std::string& anna, std::string& bert) {
        anna = AddItem(contacts_, "Anna", "IPM.Contact");
        bert = AddItem(contacts_, "Bert", "IPM.Contact");
        ASSERT_EQ(Run({Box(kSync, {GetContacts(true)})}),
                  SentFolder({"Add " + anna, "Add " + bert}));
        Run({Ack()});
    }

    IMAPIFolderPtr contacts_;
    std::string lastTrace_;
};

TEST_F(VantroSyncTest, DeviceChangesComeFirstAndAreNotEchoed) {
    std::string anna, bert;
    SyncedContacts(anna, bert);
    TouchItem(contacts_, anna, "Anna on the desktop");

    std::string answer = Run(
        {Ack(), Box(kSync, {DeviceContacts({Contact(kAdd, "11", "Doe, Jane")}), GetContacts()})});
    std::string jane = NewKey(contacts_, {anna, bert});
    ASSERT_FALSE(jane.empty());
    EXPECT_EQ(answer, Mapping("11", jane) + SentFolder({"Modify " + anna}));
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 1, changed 0, deleted 0; sent added 0, changed 1, "
               "deleted 0"))
        << lastTrace_;
    // The same counts are the device's last sync in its sync.log.
    std::optional<CLastSync> last = ReadLastSync(settings_->DataFolder(), "PPC1");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->folders, (std::vector<CSyncFolderLine>{{"Contacts", {0, 1, 0}, {1, 0, 0}}}));

    // Acknowledged: the device's Jane is in the baseline and nothing is owed. The
    // folder still gets its line.
    EXPECT_EQ(Run({Ack(), Box(kSync, {GetContacts()})}), "");
    last = ReadLastSync(settings_->DataFolder(), "PPC1");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->folders, (std::vector<CSyncFolderLine>{{"Contacts", {0, 0, 0}, {0, 0, 0}}}));
    std::string log = ReadWholeFile(SyncLogPath(settings_->DataFolder(), "PPC1"));
    std::string header = SyncLogHeader("PPC1");
    ASSERT_EQ(log.rfind(header, 0), 0u) << log;
    // The first sync, its acknowledgement (no folder, no line), and the two above.
    EXPECT_EQ(std::count(log.begin() + static_cast<long>(header.size()), log.end(), '\n'), 3)
        << log;
}

TEST_F(VantroSyncTest, FirstRunWithResetSendsOnlyTheStoresItems) {
    std::string anna = AddItem(contacts_, "Anna", "IPM.Contact");
    std::string answer =
        Run({Box(kSync, {DeviceContacts({Contact(kAdd, "11", "Doe, Jane")}), GetContacts(true)})});
    std::string jane = NewKey(contacts_, {anna});
    ASSERT_FALSE(jane.empty());
    EXPECT_EQ(answer, Mapping("11", jane) + SentFolder({"Add " + anna}));
    std::string snapshot = ReadWholeFile(StatePath("-1_temp"));
    EXPECT_NE(snapshot.find("\n" + anna + ";"), std::string::npos);
    EXPECT_NE(snapshot.find("\n" + jane + ";"), std::string::npos);
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 1, changed 0, deleted 0; sent added 1, changed 0, "
               "deleted 0"))
        << lastTrace_;
}

TEST_F(VantroSyncTest, ItemsChangedOnBothSidesOrDeletedByTheDevice) {
    std::string anna, bert;
    SyncedContacts(anna, bert);
    TouchItem(contacts_, anna, "Anna 2");
    TouchItem(contacts_, bert, "Bert 2");

    std::string answer =
        Run({Ack(), Box(kSync, {DeviceContacts({Box(kDelete, {Text(kServerID, anna)}),
                                                Contact(kModify, "12", "Bert B", bert)}),
                                GetContacts()})});
    // The desktop's edit of Anna wins over the device's deletion: she stays and goes
    // back to the device; Bert comes back as the store now holds him.
    EXPECT_EQ(answer, SentFolder({"Modify " + anna, "Modify " + bert}));
    EXPECT_EQ(Keys(contacts_), (std::vector<std::string>{anna, bert}));
    EXPECT_TRUE(Traced("Deleting " + anna + " passed over: changed on the desktop")) << lastTrace_;
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 0, changed 1, deleted 0; sent added 0, changed 2, "
               "deleted 0"))
        << lastTrace_;

    // Acknowledged, a deletion of the unchanged Anna is carried out.
    Run({Ack()});
    answer = Run({Box(kSync, {DeviceContacts({Box(kDelete, {Text(kServerID, anna)})})})});
    EXPECT_EQ(Keys(contacts_), std::vector<std::string>{bert});

    // A Modify for an item deleted on the desktop meanwhile stores it afresh and maps it.
    Run({Ack()});
    contacts_.DeleteMessages({*CByteBuffer::ParseHex(bert)});
    answer = Run({Box(kSync, {DeviceContacts({Contact(kModify, "12", "Bert C", bert)})})});
    std::string again = NewKey(contacts_, {});
    ASSERT_FALSE(again.empty());
    EXPECT_NE(again, bert);
    EXPECT_EQ(answer, Mapping("12", again));
}

TEST_F(VantroSyncTest, RefusedOperationsArePassedOverAndTheRestIsHandled) {
    IMAPIFolderPtr top(CMapiRef<IMAPIFolder>::Share(
        OpenFolderEntry(Device().session.get(), Device().ipmSubtree).get()));
    IMAPIFolderPtr hidden = top.CreateFolder("Private", OPEN_IF_EXISTS);
    std::string secret = AddItem(hidden, "secret", "IPM.Contact");
    std::string hiddenKey = hidden.GetEntryID().ToText();

    std::string answer = Run({Box(
        kSync,
        {DeviceContacts({Box(kDelete, {Text(kServerID, secret)}),
                         Contact(kModify, "4", "Overwritten", secret), Contact(kAdd, "5", "Kept")}),
         Box(kGetData, {Box(kFolder, {Text(kServerID, hiddenKey), Text(kReset, "1")})}),
         Box(kFolder, {Text(kFolderPath, "Private"), Text(kTyp, "Contacts"),
                       Contact(kAdd, "6", "Smuggled")})})});
    std::string kept = NewKey(contacts_, {});
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(answer, Mapping("5", kept));
    EXPECT_EQ(Keys(hidden), std::vector<std::string>{secret});
    EXPECT_EQ(OpenItem(hidden, secret).GetPropText(PR_SUBJECT), "secret");
    EXPECT_TRUE(Traced("Deleting " + secret + " refused: not in a folder offered to device PPC1"))
        << lastTrace_;
    EXPECT_TRUE(Traced("Item " + secret + " refused: not in a folder offered to device PPC1"))
        << lastTrace_;
    EXPECT_TRUE(Traced("Folder " + hiddenKey + " refused: not offered to device PPC1"))
        << lastTrace_;
    EXPECT_TRUE(Traced("Folder Private refused: not offered to device PPC1")) << lastTrace_;
    EXPECT_TRUE(
        Traced("Folder Contacts: device added 1, changed 0, deleted 0; sent added 0, changed 0, "
               "deleted 0"))
        << lastTrace_;
}

TEST_F(VantroSyncTest, AFolderFoundByPathTakesTheKindNameOfTheRequest) {
    // "Contacts" matches by FileAs, so the second Add updates the first contact.
    for (const char* clientId : {"1", "2"}) {
        Run({Box(kSync, {Box(kFolder, {Text(kFolderPath, "-1"), Text(kTyp, "Contacts"),
                                       Contact(kAdd, clientId, "Doe, Jane")})})});
    }
    EXPECT_EQ(Keys(contacts_).size(), 1u);
}

}  // namespace
