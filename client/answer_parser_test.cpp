#include "client/answer_parser.h"

#include <gtest/gtest.h>

#include "client/sync_report.h"
#include "client/test_bytes.h"

namespace {

using namespace vantro;
using namespace testbytes;

constexpr int kReadFlag = 0x20;
constexpr int kFolderPath = 0x2F;

std::string ResponsePart() {
    return kHeader + S(kResponse) + S(kFolder) + T(kClientID, "-1") + T(kServerID, "-1") +
           S(kElement) + T(kClientID, "5") + T(kServerID, "AA") + kEnd + S(kElement) +
           T(kClientID, "6") + T(kErrorCode, "1") + kEnd + kEnd + kEnd;
}

std::string FullAnswer() {
    return ResponsePart() + S(kSync) + S(kFolder) + T(kAckString, "D:-2.csv:-2_temp.csv") +
           T(kServerID, "-2") + T(kFolderPath, "Aufgaben") + S(kElement) + S(kModify) +
           T(kServerID, "T1") + S(kCollection) + P(3) + T(1, "Sub") + kEnd + P(0) + kEnd + kEnd +
           S(kElement) + S(kDelete) + T(kServerID, "T2") + kEnd + kEnd + S(kElement) +
           S(kReadFlag) + T(kServerID, "T3") + kEnd + kEnd + kEnd + kEnd;
}

TEST(AnswerParserTest, MappingsErrorsChangesAndAckStrings) {
    ParsedAnswer a = ParseAnswer(FullAnswer());
    ASSERT_TRUE(a.whole);
    ASSERT_EQ(1u, a.mappingFolders.size());
    const AnswerMappingFolder& m = a.mappingFolders[0];
    EXPECT_EQ("-1", m.serverId);
    EXPECT_EQ("-1", m.clientId);
    ASSERT_EQ(2u, m.mappings.size());
    EXPECT_EQ("5", m.mappings[0].clientId);
    EXPECT_EQ("AA", m.mappings[0].serverId);
    EXPECT_EQ("", m.mappings[0].errorCode);
    EXPECT_EQ("6", m.mappings[1].clientId);
    EXPECT_EQ("", m.mappings[1].serverId);
    EXPECT_EQ("1", m.mappings[1].errorCode);

    ASSERT_EQ(1u, a.changeFolders.size());
    const AnswerChangeFolder& f = a.changeFolders[0];
    EXPECT_EQ("-2", f.serverId);
    EXPECT_EQ(std::vector<std::string>{"D:-2.csv:-2_temp.csv"}, f.ackStrings);
    // ReadFlag is passed over: a Modify and a Delete remain.
    ASSERT_EQ(2u, f.changes.size());
    EXPECT_EQ(kModify, f.changes[0].change);
    EXPECT_EQ("T1", f.changes[0].serverId);
    EXPECT_EQ("Sub", FindValue(f.changes[0].record, 3, 1));
    EXPECT_EQ(kDelete, f.changes[1].change);
    EXPECT_EQ("T2", f.changes[1].serverId);
    EXPECT_TRUE(f.changes[1].record.Empty());
}

TEST(AnswerParserTest, WholeOnlyWhenEveryElementIsClosed) {
    // The header alone is a whole, empty answer; fewer bytes are none.
    ParsedAnswer empty = ParseAnswer(kHeader);
    EXPECT_TRUE(empty.whole);
    EXPECT_TRUE(empty.mappingFolders.empty() && empty.changeFolders.empty());
    EXPECT_FALSE(ParseAnswer(kHeader.substr(0, 3)).whole);

    std::string full = FullAnswer();
    // Cut anywhere after the header: never whole, except right after the Response,
    // where the rest is a whole document of its own (the HTTP length tells that case).
    size_t responseEnd = ResponsePart().size();
    EXPECT_TRUE(ParseAnswer(full.substr(0, responseEnd)).whole);
    for (size_t cut = kHeader.size() + 1; cut < full.size(); ++cut) {
        if (cut == responseEnd) continue;
        EXPECT_FALSE(ParseAnswer(full.substr(0, cut)).whole) << "cut at " << cut;
    }
    // An end without an open element.
    EXPECT_FALSE(ParseAnswer(full + kEnd).whole);
    // A cut inside an item keeps the item out, whatever follows.
    std::string cutItem = kHeader + S(kSync) + S(kFolder) + T(kServerID, "-2") + S(kElement) +
                          S(kAdd) + T(kServerID, "X") + S(kCollection) + P(3) + S(1) + "\x03" +
                          "unterminated";
    ParsedAnswer cut = ParseAnswer(cutItem);
    EXPECT_FALSE(cut.whole);
}

TEST(AnswerParserTest, FoldersOutsideResponseBeforeSyncAreNoChanges) {
    // A Folder before any Sync and outside Response carries nothing the client takes.
    std::string doc = kHeader + S(kFolder) + T(kServerID, "-2") + S(kElement) + S(kDelete) +
                      T(kServerID, "T9") + kEnd + kEnd + kEnd;
    ParsedAnswer a = ParseAnswer(doc);
    EXPECT_TRUE(a.whole);
    EXPECT_TRUE(a.changeFolders.empty());
    EXPECT_TRUE(a.mappingFolders.empty());
}

SideCounts Counts(int added, int changed, int deleted, int matched = 0, int kept = 0) {
    SideCounts c;
    c.added = added, c.changed = changed, c.deleted = deleted, c.matched = matched, c.kept = kept;
    return c;
}

TEST(SyncReportTest, LineAndJson) {
    SyncReport report;
    report.folders.resize(3);
    std::vector<FolderReport>& f = report.folders;
    f[0].name = "Contacts";
    f[0].handheld = Counts(1, 0, 0);
    f[0].desktop = Counts(2, 1, 0);
    f[1].name = "Tasks";
    f[1].desktop.deleted = 3;
    f[1].heldHandheld = 25;
    f[2].name = "Calendar";
    f[2].heldHandheld = 21;
    f[2].heldDesktop = 30;
    EXPECT_EQ(
        "Sync report: Contacts: handheld +1 ~0 -0, desktop +2 ~1 -0; Tasks: handheld +0 ~0 -0, "
        "desktop +0 ~0 -3 (held: handheld -25); Calendar: handheld +0 ~0 -0, desktop +0 ~0 -0 "
        "(held: handheld -21, desktop -30)",
        FormatReportLine(report));
    EXPECT_TRUE(MassDeleteHeld(report));
    f.resize(1);
    EXPECT_FALSE(MassDeleteHeld(report));
    EXPECT_EQ(
        "[{\"folder\":\"Contacts\",\"handheld\":{\"added\":1,\"matched\":0,\"changed\":0,"
        "\"deleted\":0,\"kept\":0},\"desktop\":{\"added\":2,\"matched\":0,\"changed\":1,"
        "\"deleted\":0,\"kept\":0},\"conflicts\":0,\"notStored\":0,\"held\":{\"handheld\":0,"
        "\"desktop\":0}}]",
        ReportJson(report));
    EXPECT_EQ("Sync report: no folder", FormatReportLine({}));
    EXPECT_EQ("[]", ReportJson({}));
}

TEST(SyncReportTest, MatchedKeptConflictsNotStoredAndANewStoreAreShownAsSuch) {
    SyncReport report;
    report.newHandheldStore = true;
    report.folders.resize(2);
    report.folders[0].name = "Contacts";
    report.folders[0].handheld = Counts(1, 0, 0, 0, 1);
    report.folders[0].desktop = Counts(2, 0, 0, 1, 1);
    report.folders[0].conflicts = 1;
    report.folders[1].name = "Tasks";
    report.folders[1].notStored = 2;
    report.folders[1].heldDesktop = 22;
    EXPECT_EQ(
        "Sync report: first sync of a new handheld store; Contacts: handheld +1 ~0 -0 (1 kept: "
        "changed on the handheld), desktop +2 (1 matched) ~0 -0 (1 kept: changed on the "
        "desktop), conflicts 1; Tasks: handheld +0 ~0 -0, desktop +0 ~0 -0, not stored 2 (held: "
        "desktop -22)",
        FormatReportLine(report));
    EXPECT_EQ(2, NotStoredCount(report));
    EXPECT_EQ(1, ConflictCount(report));
    std::string json = ReportJson(report);
    EXPECT_NE(std::string::npos,
              json.find("\"desktop\":{\"added\":2,\"matched\":1,\"changed\":0,\"deleted\":0,"
                        "\"kept\":1},\"conflicts\":1,\"notStored\":0"))
        << json;
}

TEST(AnswerParserTest, MatchedMappings) {
    std::string doc = kHeader + S(kResponse) + S(kFolder) + T(kClientID, "-2") +
                      T(kServerID, "-2") + S(kElement) + T(kClientID, "5@AB") + T(kServerID, "0A") +
                      T(kMatched, "1") + kEnd + S(kElement) + T(kClientID, "6@AB") +
                      T(kServerID, "0B") + kEnd + kEnd + kEnd;
    ParsedAnswer a = ParseAnswer(doc);
    ASSERT_TRUE(a.whole);
    ASSERT_EQ(2u, a.mappingFolders.at(0).mappings.size());
    EXPECT_TRUE(a.mappingFolders[0].mappings[0].matched);
    EXPECT_EQ("5@AB", a.mappingFolders[0].mappings[0].clientId);
    EXPECT_FALSE(a.mappingFolders[0].mappings[1].matched);
}

}  // namespace
