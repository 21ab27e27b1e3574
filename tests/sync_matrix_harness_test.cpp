// The pieces of the sync matrix harness: the JSON reader, the report parser, the
// reduced item view, and the relay that drops answers.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <thread>

#include "server/http/http_test_util.h"
#include "tests/sync_matrix_json.h"
#include "tests/sync_matrix_proxy.h"
#include "tests/sync_matrix_sides.h"

namespace {

// The whole answer to request, read until the other end closes.
std::string Ask(int port, const std::string& request) {
    CSocket client = ConnectLoopback(port);
    if (!client.IsValid() || !SendAll(client.Get(), request)) return "<no connection>";
    std::string answer;
    ReadUntilClosed(client.Get(), answer);
    return answer;
}

TEST(MatrixJson, ReadsWhatTheProgramsWrite) {
    std::string error;
    auto value = ParseJson(
        R"( [{"oid":12,"folder":"contacts","fields":{"FileAs":"Gro\u00df, J\"o\\e","Birthday":"","n":-1.5e3}},
                           {"ok":true,"no":false,"none":null,"list":[1,[2],{}]}] )",
        &error);
    ASSERT_TRUE(value.has_value()) << error;
    ASSERT_EQ(value->items.size(), 2u);
    const JsonValue& first = value->items[0];
    EXPECT_EQ(first.Text("oid"), "12");
    EXPECT_EQ(first.Find("fields")->Text("FileAs"), "Groß, J\"o\\e");
    EXPECT_EQ(first.Find("fields")->Text("n"), "-1.5e3");
    EXPECT_EQ(first.Find("fields")->Text("missing"), "");
    EXPECT_EQ(value->items[1].AsText(), R"({"ok":true,"no":false,"none":null,"list":[1,[2],{}]})");
    EXPECT_EQ(ParseJson(R"("\ud83d\ude00 \t")")->text, "\xF0\x9F\x98\x80 \t");
}

TEST(MatrixJson, RefusesBrokenDocuments) {
    std::string error;
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "{\"a\":1} x", "\"open", "\"\\x\"",
                            "\"\\ud800\"", "tru", "-", "\"a\tb\"", "{1:2}"}) {
        EXPECT_FALSE(ParseJson(bad, &error).has_value()) << bad;
    }
    EXPECT_EQ(error, "member name expected at offset 1");
    std::string deep(65, '['), closing(65, ']');
    EXPECT_FALSE(ParseJson(deep + closing).has_value());
    EXPECT_TRUE(ParseJson(deep.substr(1) + closing.substr(1)).has_value());
}

TEST(MatrixJson, FindsTheResultLineAmongLogLines) {
    auto value =
        FirstJsonLine("Syncing Folder Kontakte - 1 Elements\n{broken\n{\"started\":true}\n[1]\n");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->AsText(), "{\"started\":true}");
    EXPECT_FALSE(FirstJsonLine("no json here\n").has_value());
}

TEST(MatrixReport, ReadsEachFolderOfTheReportLine) {
    std::string out =
        "Saving status\n"
        "Sync report: Contacts: handheld +1 ~0 -2, desktop +12 ~1 -0 (held: desktop -21); "
        "Tasks: handheld +0 ~0 -0, desktop +0 ~0 -0; Calendar: handheld +3 ~4 -5, desktop +6 ~7 -8 "
        "(held: handheld -22, desktop -23)\n"
        "{\"started\":true}\n";
    EXPECT_EQ(ParseSyncReport(out, "Contacts").Text(), "H+1~0-2 D+12~1-0 held H-0 D-21");
    EXPECT_EQ(ParseSyncReport(out, "Tasks").Text(), "H+0~0-0 D+0~0-0");
    EXPECT_EQ(ParseSyncReport(out, "Calendar").Text(), "H+3~4-5 D+6~7-8 held H-22 D-23");
    EXPECT_EQ(ParseSyncReport(out, "Journal").Text(), "no report");
    EXPECT_EQ(ParseSyncReport("Sync report: no folder\n", "Contacts").Text(), "no report");
    // The last report of the output counts.
    EXPECT_EQ(
        ParseSyncReport("Sync report: Tasks: handheld +9 ~9 -9, desktop +9 ~9 -9\n" + out, "Tasks")
            .Text(),
        "H+0~0-0 D+0~0-0");
}

TEST(MatrixView, ComparesItemsInOneSortedForm) {
    EXPECT_EQ(NormalDate("10.12.2026 09:00.00:0"), "2026-12-10 09:00");
    EXPECT_EQ(NormalDate("2026-12-10T09:00:00Z"), "2026-12-10 09:00");
    EXPECT_EQ(NormalDate("2026-12-10T09:00:00.1234567Z"), "2026-12-10 09:00");
    EXPECT_EQ(NormalDate("10122026 09:00:00"), "10122026 09:00:00");
    std::vector<SideItem> items = {{"7", "b", "Raum 2", "2026-12-10 09:00", "2026-12-10 10:00", {}},
                                   {"3", "a", "", "", "", {{"text", "x"}, {"num", ""}}}};
    EXPECT_EQ(ViewOf(PimKind::kAppointments, items),
              "a |  |  |  | text=x\n"
              "b | Raum 2 | 2026-12-10 09:00 | 2026-12-10 10:00\n");
    EXPECT_EQ(ViewOf(PimKind::kTasks, items), "a |  | text=x\nb | Raum 2\n");
    // Extra fields in one form from both sides.
    const ExtraField* date = ExtraFieldOf(PimKind::kContacts, "date");
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(ShownExtra(*date, "17.05.1980 00:00.00:0"), "1980-05-17 00:00");
    EXPECT_EQ(ShownExtra(*date, "1980-05-17T00:00:00Z"), "1980-05-17 00:00");
    EXPECT_EQ(ShownExtra(*date, "1980-05-17"), "1980-05-17 00:00");
    const ExtraField* num = ExtraFieldOf(PimKind::kTasks, "num");
    ASSERT_NE(num, nullptr);
    EXPECT_EQ(ShownExtra(*num, "0"), "");
    EXPECT_EQ(ShownExtra(*num, "2"), "2");
    EXPECT_EQ(ExtraFieldOf(PimKind::kAppointments, "date"), nullptr);
    EXPECT_EQ(ExtraFieldOf(PimKind::kContacts, "num"), nullptr);
}

TEST(MatrixReport, ReadsMatchedKeptConflictsNotStoredAndANewStore) {
    std::string out =
        "Sync report: first sync of a new handheld store; Contacts: handheld +1 (1 matched) ~2 -0 "
        "(3 kept: changed on the handheld), desktop +2 (1 matched) ~0 -1 (1 kept: changed on the "
        "desktop), conflicts 4, not stored 5 (held: desktop -21); Tasks: handheld +0 ~0 -0, "
        "desktop +0 ~0 -0, conflicts 1\n";
    EXPECT_EQ(ParseSyncReport(out, "Contacts").Text(),
              "H+1~2-0 D+2~0-1 matched H1 D1 kept H3 D1 conflicts 4 notstored 5 held H-0 D-21 "
              "newstore");
    EXPECT_EQ(ParseSyncReport(out, "Tasks").Text(), "H+0~0-0 D+0~0-0 conflicts 1 newstore");
    EXPECT_EQ(ParseSyncReport(out, "Calendar").Text(), "no report");
}

TEST(MatrixProxy, ReadsOneMessageByItsLength) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    CSocket a(pair[0]), b(pair[1]);
    ASSERT_TRUE(SendAll(a.Get(), "POST /vantro HTTP/1.1\r\ncontent-LENGTH: 5\r\n\r\nhel"));
    std::thread rest([&] { SendAll(a.Get(), "lo and more"); });
    EXPECT_EQ(ReadHttpMessage(b.Get()), "POST /vantro HTTP/1.1\r\ncontent-LENGTH: 5\r\n\r\nhello");
    rest.join();
    a.Close();
    // Without a length the message ends with the connection; a cut header is nothing.
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    CSocket c(pair[0]), d(pair[1]);
    SendAll(c.Get(), "HTTP/1.1 200 OK\r\n\r\nbody");
    c.Close();
    EXPECT_EQ(ReadHttpMessage(d.Get()), "HTTP/1.1 200 OK\r\n\r\nbody");
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    CSocket e(pair[0]), f(pair[1]);
    SendAll(e.Get(), "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nshort");
    e.Close();
    EXPECT_EQ(ReadHttpMessage(f.Get()), "");
}

// A server that answers every request with its body reversed, counting requests.
class EchoServer {
public:
    EchoServer()
        : server_(2, [this](const CSocket& client) {
              std::string request = ReadHttpMessage(client.Get());
              std::string body = request.substr(request.find("\r\n\r\n") + 4);
              ++requests_;
              SendAll(client.Get(),
                      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + std::string(body.rbegin(), body.rend()));
          }) {}
    int Port() const { return server_.Port(); }
    int Requests() const { return requests_; }

private:
    std::atomic<int> requests_{0};  // before server_: its thread counts here
    LoopbackServer server_;
};

TEST(MatrixProxy, DropsTheAnswerAfterTheServerDidItsWork) {
    EchoServer server;
    AnswerDroppingProxy proxy(server.Port());
    ASSERT_NE(proxy.Port(), 0);
    proxy.DropAnswers(1);
    const std::string request = "POST /vantro HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc";
    EXPECT_EQ(Ask(proxy.Port(), request), "");
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_EQ(Ask(proxy.Port(), request), "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ncba");
    EXPECT_EQ(server.Requests(), 2);
    EXPECT_EQ(proxy.Relayed(), 2);
    EXPECT_EQ(proxy.Dropped(), 1);
}

}  // namespace
