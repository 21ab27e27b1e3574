// Change entries: the dump and move detection across folders.
#include "server/syncstate/change_entry.h"

#include <gtest/gtest.h>

namespace {

// Folders are only compared by address here; their path comes from the table below.
CAbstractVantroFolder* FakeFolder(int n) {
    return reinterpret_cast<CAbstractVantroFolder*>(static_cast<std::uintptr_t>(0x1000 * n));
}

std::string PathOf(CAbstractVantroFolder* folder) {
    if (folder == FakeFolder(1)) return "-4";
    if (folder == FakeFolder(2)) return "-4/Projekte";
    if (folder == FakeFolder(3)) return "Archiv";
    return "?";
}

CChangeEntry* Add(ChangeList& list, int kind, const std::string& key,
                  CAbstractVantroFolder* folder) {
    list.push_back(std::make_unique<CChangeEntry>(kind, key, "item " + key));
    list.back()->SetFolder(folder);
    return list.back().get();
}

TEST(ChangeEntry, DumpShowsKindKeyLabelAndDetails) {
    ChangeList list;
    Add(list, kChangeNew, "AA", nullptr);
    Add(list, kChangeReadState, "BB", nullptr)->SetReadFlag(1);
    CChangeEntry* moved = Add(list, kChangeMoved, "CC", nullptr);
    moved->SetSourcePath("-4");
    moved->SetDestinationPath("Archiv");
    Add(list, kChangeDeleted, "DD", nullptr);
    EXPECT_EQ(DumpChangeList(list),
              "1 AA item AA\n"
              "5 BB item BB read=1\n"
              "3 CC item CC from=-4 to=Archiv\n"
              "4 DD item DD\n");
}

TEST(DetectMoves, NewAndDeletedWithOneKeyBecomeAMove) {
    ChangeList inbox, projects, archive;
    Add(inbox, kChangeDeleted, "K1", FakeFolder(1));
    Add(inbox, kChangeModified, "K2", FakeFolder(1));
    Add(inbox, kChangeDeleted, "K3", FakeFolder(1));
    Add(projects, kChangeNew, "K1", FakeFolder(2));
    Add(projects, kChangeNew, "K9", FakeFolder(2));
    Add(archive, kChangeDeleted, "K1", FakeFolder(3));  // same key in a third folder

    std::vector<CChangeEntry*> collected;
    for (ChangeList* list : {&inbox, &projects, &archive}) {
        for (auto& entry : *list) {
            if (entry->GetKind() == kChangeNew || entry->GetKind() == kChangeDeleted)
                collected.push_back(entry.get());
        }
    }
    DetectMoves(collected, PathOf);

    // Every matching deletion is absorbed; the last one names the source.
    EXPECT_EQ(DumpChangeList(inbox),
              "0 K1 item K1\n"
              "2 K2 item K2\n"
              "4 K3 item K3\n");
    EXPECT_EQ(DumpChangeList(archive), "0 K1 item K1\n");
    EXPECT_EQ(DumpChangeList(projects),
              "3 K1 item K1 from=Archiv to=-4/Projekte\n"
              "1 K9 item K9\n");
    EXPECT_EQ(projects[0]->GetSourceFolder(), FakeFolder(3));
}

TEST(DetectMoves, ADeletionIsAbsorbedOnlyOnce) {
    ChangeList list;
    Add(list, kChangeDeleted, "K1", FakeFolder(1));
    Add(list, kChangeNew, "K1", FakeFolder(2));
    Add(list, kChangeNew, "K1", FakeFolder(3));
    std::vector<CChangeEntry*> collected;
    for (auto& entry : list) collected.push_back(entry.get());
    DetectMoves(collected, PathOf);
    EXPECT_EQ(DumpChangeList(list),
              "0 K1 item K1\n"
              "3 K1 item K1 from=-4 to=-4/Projekte\n"
              "1 K1 item K1\n");
}

}  // namespace
