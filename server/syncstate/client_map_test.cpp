// The ClientID map of a device folder: the index text, its marker, the rebuild from
// item properties, and the bounds of a ClientID.
#include "server/syncstate/client_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/base/text.h"
#include "platform/win/message_box.h"
#include "server/config/config_test_util.h"
#include "server/syncstate/contents_table_file.h"

namespace {

class ClientMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(temp_.Path() + "/PPC1");
        SetMessageBoxSink(
            [this](const std::string& text, const std::string&) { boxes_.push_back(text); });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        SetFileWriteFaultHook(nullptr);
    }
    CClientMap Map() { return CClientMap(temp_.Path(), "PPC1", "-1"); }
    std::string File(const std::string& name) { return temp_.Path() + "/PPC1/" + name; }
    // The record of key, mapped to clientId, with its field sets in use.
    static CClientMapRecord& MappedRecord(CClientMap& map, const std::string& key,
                                          const std::string& clientId) {
        map.MapClientId(key, clientId);
        CClientMapRecord& record = map.Record(key);
        record.hasFields = true;
        return record;
    }

    TempFolder temp_;
    std::vector<std::string> boxes_;
};

const std::string kEpoch = "00112233AABBCCDD";
// The head of an index of that epoch, the rows to follow.
const std::string kHead = "[ClientMap]\nVersion=1\nEpoch=" + kEpoch + "\n";

TEST_F(ClientMapTest, IndexTextByteForByte) {
    CClientMap map = Map();
    ASSERT_TRUE(map.Parse(kHead));
    CClientMapRecord& task = MappedRecord(map, "0A0B", "12@8F0C2A44D1E3B907");
    task.fields[MakeFieldId(3, 0x01)] = "Call Bob, today";
    task.fields[MakeFieldId(3, 0x0A)] = "line 1\r\nline 2\t100%";
    task.stored[MakeFieldId(3, 0x0A)] = 3;
    task.pendingGeneration = 7;
    task.pending[MakeFieldId(3, 0x01)] =
        "Gr\xC3\xBC\xC3\x9F"
        "e=x";
    // A desktop item the device holds but never named, and a ClientID of an older
    // handheld with bytes that need escaping.
    map.Record("0C");
    map.MapClientId("0D", "a b;%\t");
    map.Record("0D").matched = true;
    EXPECT_EQ(
        map.Serialize(),
        "[ClientMap]\nVersion=1\nEpoch=00112233AABBCCDD\n"
        "0A0B\t12@8F0C2A44D1E3B907\tf\t0301=Call Bob%2C today,030A=line 1%0D%0Aline 2%09100%25\t"
        "030A:0000000000000003\t7\t0301=Gr\xC3\xBC\xC3\x9F"
        "e=x\n"
        "0C\t\t\t\t\t0\t\n"
        "0D\ta%20b%3B%25%09\tm\t\t\t0\t\n");

    CClientMap back = Map();
    ASSERT_TRUE(back.Parse(map.Serialize()));
    EXPECT_EQ(back.Serialize(), map.Serialize());
    EXPECT_EQ(back.Epoch(), kEpoch);
    ASSERT_NE(back.FindByClientId("a b;%\t"), nullptr);
    EXPECT_EQ(back.FindByClientId("a b;%\t")->serverKey, "0D");
    EXPECT_TRUE(back.FindByClientId("a b;%\t")->matched);
    EXPECT_EQ(back.FindByClientId("12@8F0C2A44D1E3B907")->pending.size(), 1u);
    EXPECT_EQ(back.FindByServerKey("0C")->clientId, "");
}

TEST_F(ClientMapTest, TextsThatAreNoIndexAreRefused) {
    CClientMap map = Map();
    EXPECT_TRUE(map.Parse(kHead));
    EXPECT_TRUE(map.Parse(kHead + "0A\t\t\t\t\t0\t\n"));
    for (const std::string& bad : std::vector<std::string>{
             std::string(""), std::string("[ClientMap]\n"),
             "[ClientMap]\nVersion=2\nEpoch=" + kEpoch + "\n",
             std::string("[ClientMap]\nVersion=1\nEpoch=0011\n"),
             kHead + "0A\t\t\t\t\t0\n",                                   // six fields
             kHead + "0A\t\t\t\t\t0\t",                                   // cut line
             kHead + "0a\t\t\t\t\t0\t\n",                                 // key not upper hex
             kHead + "0A\t%4\t\t\t\t0\t\n",                               // cut escape
             kHead + "0A\tx y\t\t\t\t0\t\n",                              // unescaped blank
             kHead + "0A\t\tq\t\t\t0\t\n",                                // unknown flag
             kHead + "0A\t\t\t\t0301:12\t0\t\n",                          // short hash
             kHead + "0A\t\t\t0301=a,\t\t0\t\n",                          // dangling comma
             kHead + "0A\t\t\t0301=\t\t0\t\n",                            // no text
             kHead + "0A\t\t\t0301=a%2\t\t0\t\n",                         // cut escape
             kHead + "0A\t\t\t0301=a%2c\t\t0\t\n",                        // lower-case escape
             kHead + "0A\t\t\t0301=a\x01\t\t0\t\n",                       // control byte
             kHead + "0A\t\t\t\t\tx\t\n",                                 // generation
             kHead + "0A\t\t\t\t\t0\t\n0A\t\t\t\t\t0\t\n",                // key twice
             kHead + "0A\t" + std::string(65, '1') + "\t\t\t\t0\t\n"}) {  // ClientID too long
        EXPECT_FALSE(map.Parse(bad)) << bad;
    }
}

TEST_F(ClientMapTest, ClientIdBoundsAndStoreIdentity) {
    EXPECT_FALSE(IsUsableClientId(""));
    EXPECT_TRUE(IsUsableClientId("1"));
    EXPECT_TRUE(IsUsableClientId(std::string(64, '7')));
    EXPECT_FALSE(IsUsableClientId(std::string(65, '7')));
    EXPECT_EQ(ClientIdStoreIdentity("12@8F0C2A44D1E3B907"), "8F0C2A44D1E3B907");
    EXPECT_EQ(ClientIdStoreIdentity("12"), "");
    EXPECT_EQ(ClientIdStoreIdentity("12@"), "");

    CClientMap map = Map();
    map.MapClientId("0A", "12@AA");
    map.MapClientId("0B", "13");
    EXPECT_TRUE(map.MappedToIdentity("0A", "AA"));
    EXPECT_FALSE(map.MappedToIdentity("0A", "BB"));
    EXPECT_FALSE(map.MappedToIdentity("0A", ""));
    EXPECT_TRUE(map.MappedToIdentity("0B", ""));
    EXPECT_FALSE(map.MappedToIdentity("0C", ""));
}

TEST_F(ClientMapTest, AClientIdNamesOneItemAndAnItemHoldsOneClientId) {
    CClientMap map = Map();
    map.MapClientId("0A", "12@S");
    map.MapClientId("0B", "12@S");  // the device now names another item so
    EXPECT_EQ(map.FindByClientId("12@S")->serverKey, "0B");
    EXPECT_EQ(map.FindByServerKey("0A")->clientId, "");
    map.MapClientId("0B", "13@S");  // and names that item anew
    EXPECT_EQ(map.FindByClientId("12@S"), nullptr);
    EXPECT_EQ(map.FindByClientId("13@S")->serverKey, "0B");
    map.Remove("0B");
    EXPECT_EQ(map.FindByClientId("13@S"), nullptr);
    EXPECT_EQ(map.Size(), 1u);
    map.MapClientId("0C", "");
    EXPECT_EQ(map.FindByServerKey("0C"), nullptr);
}

TEST_F(ClientMapTest, PendingFieldsCountOnceTheirAnswerIsAcknowledged) {
    CClientMap map = Map();
    CClientMapRecord& a = map.Record("0A");
    a.pendingGeneration = 3;
    a.pending[MakeFieldId(1, 0x1D)] = "Doe";
    CClientMapRecord& b = map.Record("0B");
    b.hasFields = true;
    b.fields[MakeFieldId(1, 0x1D)] = "Roe";
    b.pendingGeneration = 4;
    b.pending[MakeFieldId(1, 0x1B)] = "Ann";
    map.ConfirmUpTo(2);  // an older answer: nothing
    EXPECT_FALSE(map.FindByServerKey("0A")->hasFields);
    map.ConfirmUpTo(3);
    EXPECT_TRUE(map.FindByServerKey("0A")->hasFields);
    EXPECT_EQ(map.FindByServerKey("0A")->fields, (CFieldValues{{MakeFieldId(1, 0x1D), "Doe"}}));
    EXPECT_EQ(map.FindByServerKey("0A")->stored,
              (CFieldHashes{{MakeFieldId(1, 0x1D), FieldTextHash("Doe")}}));
    EXPECT_EQ(map.FindByServerKey("0A")->pendingGeneration, 0u);
    EXPECT_EQ(map.FindByServerKey("0B")->fields, (CFieldValues{{MakeFieldId(1, 0x1D), "Roe"}}));
    map.ConfirmUpTo(9);
    EXPECT_EQ(map.FindByServerKey("0B")->fields, (CFieldValues{{MakeFieldId(1, 0x1B), "Ann"}}));
}

// A loaded index reads an item's field sets at their first use: new pending fields
// leave the others unread and as the index held them, and what is read later is
// what the index said.
TEST_F(ClientMapTest, FieldSetsReadFromTheIndexAtTheirFirstUse) {
    const std::string rowA =
        "0A\t1@S1\tf\t0301=Call Bob%2C today,030A=x\t0301:0000000000000011\t2\t0301=Old\n";
    const std::string rowB = "0B\t2@S1\tf\t011D=Roe\t011D:00000000000000AB\t0\t\n";
    CClientMap map = Map();
    ASSERT_TRUE(map.Parse(kHead + rowA + rowB));
    EXPECT_EQ(map.Serialize(), kHead + rowA + rowB);

    map.SetPending("0A", 6, CFieldValues{{MakeFieldId(3, 0x01), "New, later"}});
    map.SetPending("0C", 6, CFieldValues{{MakeFieldId(1, 0x1D), "Doe"}});
    EXPECT_TRUE(map.Changed());
    EXPECT_EQ(map.Serialize(),
              kHead + "0A\t1@S1\tf\t0301=Call Bob%2C today,030A=x\t0301:0000000000000011\t6\t" +
                  "0301=New%2C later\n" + rowB + "0C\t\t\t\t\t6\t011D=Doe\n");

    const CClientMapRecord* a = map.FindByClientId("1@S1");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->fields, (CFieldValues{{MakeFieldId(3, 0x01), "Call Bob, today"},
                                       {MakeFieldId(3, 0x0A), "x"}}));
    EXPECT_EQ(a->stored, (CFieldHashes{{MakeFieldId(3, 0x01), 0x11}}));
    EXPECT_EQ(a->pending, (CFieldValues{{MakeFieldId(3, 0x01), "New, later"}}));
    EXPECT_EQ(map.FindByServerKey("0B")->stored, (CFieldHashes{{MakeFieldId(1, 0x1D), 0xAB}}));

    // An acknowledged answer reads the record it confirms.
    CClientMap again = Map();
    ASSERT_TRUE(again.Parse(kHead + rowA + rowB));
    again.ConfirmUpTo(2);
    EXPECT_EQ(again.FindByServerKey("0A")->fields, (CFieldValues{{MakeFieldId(3, 0x01), "Old"}}));
    EXPECT_EQ(again.Serialize(), kHead + "0A\t1@S1\tf\t0301=Old\t0301:" +
                                     HexNumber(FieldTextHash("Old"), 16) + "\t0\t\n" + rowB);
}
TEST_F(ClientMapTest, ASavedMapWritesEveryLaterChangeOfItsSets) {
    // The same changes, once with saves between them and once without: a save
    // keeps what it wrote as the texts of the sets, and every change after it must
    // still reach the next index.
    auto first = [](CClientMap& map) {
        map.MapClientId("0A", "1@S1");
        CClientMapRecord& a = map.Record("0A");
        a.hasFields = true;
        a.fields[MakeFieldId(3, 0x01)] = "Call Bob, today";
        a.stored[MakeFieldId(3, 0x01)] = 0x11;
        map.SetPending("0B", 4, CFieldValues{{MakeFieldId(1, 0x1D), "Roe"}});
        map.SetPending("0C", 4, CFieldValues{{MakeFieldId(1, 0x1D), "Doe"}});
        map.SetPending("0D", 4, CFieldValues{{kDeleteSentField, "D"}});
    };
    auto second = [](CClientMap& map) {
        map.Record("0A").fields[MakeFieldId(3, 0x0A)] = "new";  // through Record
        map.ConfirmUpTo(4);                                     // 0B and 0C confirmed, 0D gone
        map.SetPending("0C", 5, CFieldValues{{MakeFieldId(1, 0x1D), "Doe, Jr"}});
        map.MapClientId("0B", "1@S1");  // taken from 0A
    };
    const std::string head = "[ClientMap]\nVersion=1\nEpoch=" + kEpoch + "\n";
    CClientMap unsaved = Map();
    ASSERT_TRUE(unsaved.Parse(head));
    first(unsaved);
    second(unsaved);

    CClientMap saved = Map();
    ASSERT_TRUE(saved.Parse(head));
    first(saved);
    std::string error;
    ASSERT_TRUE(saved.Save(error)) << error;
    EXPECT_EQ(saved.FindByServerKey("0C")->pending, (CFieldValues{{MakeFieldId(1, 0x1D), "Doe"}}));
    second(saved);
    EXPECT_EQ(saved.Serialize(), unsaved.Serialize());
    ASSERT_TRUE(saved.Save(error)) << error;
    EXPECT_EQ(saved.Serialize(), unsaved.Serialize());
    EXPECT_EQ(ReadWholeFile(File("-1.map")), unsaved.Serialize());
    EXPECT_NE(unsaved.Serialize().find("0A\t\tf\t0301=Call Bob%2C today,030A=new\t"),
              std::string::npos);
    EXPECT_NE(unsaved.Serialize().find("\t5\t011D=Doe%2C Jr\n"), std::string::npos);

    // A map loaded from that file and changed writes the change as well.
    CClientMap loaded = Map();
    ASSERT_EQ(loaded.Load(), CClientMap::LoadResult::kLoaded);
    loaded.SetPending("0A", 6, CFieldValues{{MakeFieldId(3, 0x01), "Later"}});
    unsaved.SetPending("0A", 6, CFieldValues{{MakeFieldId(3, 0x01), "Later"}});
    ASSERT_TRUE(loaded.Save(error)) << error;
    EXPECT_EQ(ReadWholeFile(File("-1.map")), unsaved.Serialize());
}

TEST_F(ClientMapTest, ALargeIndexIsReadToItsEnd) {
    // Far more than one read's worth of index.
    CClientMap map = Map();
    ASSERT_TRUE(map.Parse("[ClientMap]\nVersion=1\nEpoch=" + kEpoch + "\n"));
    for (int i = 0; i < 3000; ++i) {
        const std::string key = HexNumber(static_cast<std::uint64_t>(i), 8);
        map.MapClientId(key, std::to_string(i) + "@S1");
        map.SetPending(key, 2, CFieldValues{{MakeFieldId(1, 0x1D), "Surname " + key}});
    }
    std::string error;
    ASSERT_TRUE(map.Save(error)) << error;
    ASSERT_GT(map.Serialize().size(), 100000u);
    CClientMap loaded = Map();
    ASSERT_EQ(loaded.Load(), CClientMap::LoadResult::kLoaded);
    EXPECT_EQ(loaded.Size(), 3000u);
    EXPECT_EQ(loaded.Serialize(), map.Serialize());
}

TEST_F(ClientMapTest, ARecordWhoseDeleteWasSentGoesOnlyWhenThatAnswerIsAcknowledged) {
    CClientMap map = Map();
    ASSERT_TRUE(map.Parse(kHead));
    CClientMapRecord& c = MappedRecord(map, "0C", "5@S1");
    c.fields[MakeFieldId(3, 0x01)] = "Report";
    c.pendingGeneration = 5;  // a Delete
    c.pending[kDeleteSentField] = "D";
    // Written and read back, it is still there with what was last exchanged.
    CClientMap again = Map();
    ASSERT_TRUE(again.Parse(map.Serialize()));
    EXPECT_NE(map.Serialize().find("\t5\tFF3F=D\n"), std::string::npos) << map.Serialize();
    ASSERT_NE(again.FindByClientId("5@S1"), nullptr);
    EXPECT_EQ(again.FindByServerKey("0C")->fields.at(MakeFieldId(3, 0x01)), "Report");
    again.ConfirmUpTo(4);
    EXPECT_NE(again.FindByServerKey("0C"), nullptr);
    again.ConfirmUpTo(5);
    EXPECT_EQ(again.FindByServerKey("0C"), nullptr);
    EXPECT_EQ(again.FindByClientId("5@S1"), nullptr);
    EXPECT_TRUE(again.Changed());
}

TEST_F(ClientMapTest, AnItemMadeAgainIsNamedByTheOldKeyUntilItsDeleteIsAcknowledged) {
    CClientMap map = Map();
    ASSERT_TRUE(map.Parse(kHead));
    // 0C was made again as 0E, and 0E later as 0F; 0D names itself (a damaged index).
    map.Record("0C").pending[kReplacedByField] = "0E";
    map.Record("0E").pending[kReplacedByField] = "0F";
    map.Record("0D").pending[kReplacedByField] = "0D";
    EXPECT_EQ(map.ReplacementOf("0C"), "0F");
    EXPECT_EQ(map.ReplacementOf("0E"), "0F");
    EXPECT_EQ(map.ReplacementOf("0D"), "");
    EXPECT_EQ(map.ReplacementOf("0F"), "");
    EXPECT_EQ(map.ReplacementOf("99"), "");
    // The mark is no field an answer sent, beside a Delete's or alone.
    CClientMapRecord& c = map.Record("0C");
    c.pendingGeneration = 6;
    c.pending[kDeleteSentField] = "D";
    EXPECT_FALSE(c.PendingHoldsFields());
    c.pending[MakeFieldId(3, 0x01)] = "Report";
    EXPECT_TRUE(c.PendingHoldsFields());
    c.pending.erase(MakeFieldId(3, 0x01));
    // Written and read back it still names the new item, and goes with the Delete.
    CClientMap again = Map();
    ASSERT_TRUE(again.Parse(map.Serialize()));
    EXPECT_NE(map.Serialize().find("0C\t\t\t\t\t6\tFF3E=0E,FF3F=D\n"), std::string::npos)
        << map.Serialize();
    EXPECT_EQ(again.ReplacementOf("0C"), "0F");
    again.ConfirmUpTo(6);
    EXPECT_EQ(again.FindByServerKey("0C"), nullptr);
    EXPECT_EQ(again.ReplacementOf("0E"), "0F");
}

TEST_F(ClientMapTest, MarkerMakesTheNextLoadRebuildFromTheItems) {
    // No files: an empty map, nothing written by a save without changes.
    CClientMap first = Map();
    EXPECT_EQ(first.Load(), CClientMap::LoadResult::kNone);
    std::string error;
    EXPECT_TRUE(first.Save(error));
    EXPECT_FALSE(std::filesystem::exists(File("-1.map")));

    // A request marks the folder, maps an item and saves: index written, marker gone.
    ASSERT_TRUE(first.MarkDirty(error)) << error;
    EXPECT_EQ(ReadWholeFile(File("-1.map-dirty")), first.Epoch() + "\n");
    first.MapClientId("0A", "1@S");
    ASSERT_TRUE(first.Save(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(File("-1.map-dirty")));
    CClientMap loaded = Map();
    EXPECT_EQ(loaded.Load(), CClientMap::LoadResult::kLoaded);
    EXPECT_EQ(loaded.Epoch(), first.Epoch());
    EXPECT_EQ(loaded.FindByClientId("1@S")->serverKey, "0A");

    // The next request is killed after its store write: marker there, index old.
    ASSERT_TRUE(loaded.MarkDirty(error));
    CClientMap again = Map();
    ASSERT_EQ(again.Load(), CClientMap::LoadResult::kRebuild);
    again.Record("0A").hasFields = true;
    // The pass over the folder: 0A still holds 1@S, 0B got 2@S in the lost
    // request, 0C holds a ClientID of an older epoch (before a device reset), and an
    // item holding nothing.
    again.Rebuild({{"0A", again.PropertyValue("1@S")},
                   {"0B", again.PropertyValue("2@S")},
                   {"0C", "FFFFFFFFFFFFFFFF/3@S"},
                   {"0E", again.PropertyValue(std::string(65, '9'))}},
                  {"0A", "0B", "0C", "0D", "0E"});
    EXPECT_EQ(again.FindByClientId("1@S")->serverKey, "0A");
    EXPECT_TRUE(again.FindByClientId("1@S")->hasFields);  // what the index knew stays
    EXPECT_EQ(again.FindByClientId("2@S")->serverKey, "0B");
    EXPECT_EQ(again.FindByClientId("3@S"), nullptr);
    EXPECT_EQ(again.Size(), 2u);
    ASSERT_TRUE(again.Save(error));
    EXPECT_FALSE(std::filesystem::exists(File("-1.map-dirty")));
    CClientMap after = Map();
    EXPECT_EQ(after.Load(), CClientMap::LoadResult::kLoaded);
    EXPECT_EQ(after.FindByClientId("2@S")->serverKey, "0B");

    // An item deleted while the marker stood: its record goes with the rebuild.
    after.MarkDirty(error);
    CClientMap pruned = Map();
    ASSERT_EQ(pruned.Load(), CClientMap::LoadResult::kRebuild);
    pruned.Rebuild({{"0B", pruned.PropertyValue("2@S")}}, {"0B"});
    EXPECT_EQ(pruned.FindByClientId("1@S"), nullptr);
    EXPECT_EQ(pruned.Size(), 1u);
}

TEST_F(ClientMapTest, MarkerWithoutIndexKeepsItsEpoch) {
    // Killed in the very first request of a folder, after the item was saved.
    CClientMap first = Map();
    first.Load();
    std::string error;
    ASSERT_TRUE(first.MarkDirty(error));
    CClientMap again = Map();
    EXPECT_EQ(again.Load(), CClientMap::LoadResult::kRebuild);
    EXPECT_EQ(again.Epoch(), first.Epoch());
    again.Rebuild({{"0B", first.PropertyValue("2@S")}}, {"0B"});
    EXPECT_EQ(again.FindByClientId("2@S")->serverKey, "0B");
}

TEST_F(ClientMapTest, CorruptIndexIsSetAsideAndReported) {
    WriteWholeFile(File("-1.map"), "[ClientMap]\nVersion=1\nEpoch=" + kEpoch + "\n0A\tbroken\n");
    WriteWholeFile(File("-1.map-dirty"), kEpoch + "\n");
    CClientMap map = Map();
    EXPECT_EQ(map.Load(), CClientMap::LoadResult::kSetAside);
    EXPECT_EQ(map.Size(), 0u);
    EXPECT_NE(map.Epoch(), kEpoch);
    EXPECT_TRUE(std::filesystem::exists(File("-1.map.bad")));
    EXPECT_FALSE(std::filesystem::exists(File("-1.map")));
    EXPECT_FALSE(std::filesystem::exists(File("-1.map-dirty")));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].find("-1.map cannot be read; set aside as"), std::string::npos)
        << boxes_[0];
    // The map is written afresh at the end of the request.
    std::string error;
    ASSERT_TRUE(map.Save(error));
    CClientMap fresh = Map();
    EXPECT_EQ(fresh.Load(), CClientMap::LoadResult::kLoaded);
    EXPECT_EQ(fresh.Epoch(), map.Epoch());
}

TEST_F(ClientMapTest, FailedIndexWriteKeepsTheMarker) {
    CClientMap map = Map();
    map.Load();
    std::string error;
    ASSERT_TRUE(map.MarkDirty(error));
    map.MapClientId("0A", "1@S");
    SetFileWriteFaultHook([](FileWriteStep step) { return step == FileWriteStep::Rename; });
    EXPECT_FALSE(map.Save(error));
    EXPECT_NE(error.find("rename"), std::string::npos) << error;
    SetFileWriteFaultHook(nullptr);
    EXPECT_TRUE(std::filesystem::exists(File("-1.map-dirty")));
    EXPECT_EQ(Map().Load(), CClientMap::LoadResult::kRebuild);
    // A marker that cannot be written is an error the caller sees before any
    // store write.
    CClientMap other(temp_.Path(), "PPC1", "-2");
    SetFileWriteFaultHook([](FileWriteStep step) { return step == FileWriteStep::Sync; });
    EXPECT_FALSE(other.MarkDirty(error));
    EXPECT_FALSE(std::filesystem::exists(File("-2.map-dirty")));
}

TEST(FieldTextHash, LongTextsAreKeptByTheirHash) {
    const std::string longest(kMaxKeptFieldText, 'b');
    EXPECT_EQ(KeptFieldText(longest), longest);
    const std::string longer = longest + "c";
    std::string kept = KeptFieldText(longer);
    EXPECT_EQ(kept.size(), 17u);
    EXPECT_TRUE(IsHashOnly(kept));
    EXPECT_FALSE(IsHashOnly(longest));
    EXPECT_EQ(KeptFieldHash(kept), FieldTextHash(longer));
    EXPECT_EQ(KeptFieldHash("abc"), FieldTextHash("abc"));
    EXPECT_EQ(KeptFieldHashes({{MakeFieldId(1, 2), kept}, {MakeFieldId(1, 3), ""}}),
              (CFieldHashes{{MakeFieldId(1, 2), FieldTextHash(longer)}}));
    // Kept so in the index, and read back.
    CClientMap map("/nonexistent", "PPC1", "-1");
    ASSERT_TRUE(map.Parse(kHead));
    map.Record("0A").fields[MakeFieldId(1, 2)] = kept;
    CClientMap back("/nonexistent", "PPC1", "-1");
    ASSERT_TRUE(back.Parse(map.Serialize()));
    EXPECT_TRUE(IsHashOnly(back.FindByServerKey("0A")->fields.at(MakeFieldId(1, 2))));
}

TEST(FieldTextHash, IsFnv1a64) {
    EXPECT_EQ(FieldTextHash(""), 0xCBF29CE484222325ULL);
    EXPECT_EQ(FieldTextHash("a"), 0xAF63DC4C8601EC8CULL);
    EXPECT_NE(FieldTextHash("Smith"), FieldTextHash("Smith "));
    EXPECT_EQ(MakeFieldId(3, 0x0A), 0x030A);
    EXPECT_EQ(FieldPage(0x030A), 3);
    EXPECT_EQ(FieldToken(0x030A), 0x0A);
}

}  // namespace
