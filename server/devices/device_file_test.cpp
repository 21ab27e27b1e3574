// User and device file format: whole-text comparisons both ways.
#include "server/devices/device_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "server/config/config_test_util.h"
#include "server/config/text_file.h"

namespace {

std::string Describe(const CFolderSetting& f) {
    return f.outlookPath + "|" + std::to_string(f.subfolders) + "|" + std::to_string(f.reserved) +
           "|" + f.virtualPath + "|" + std::to_string(f.defaultCode) + "|" + std::to_string(f.kind);
}

TEST(DeviceFile, WritesEveryFieldInOrder) {
    CDeviceConfig record;
    record.Name = "alice";
    record.Passwort = "Geheim";
    record.DeviceID = "0123456789ABCDEF0";
    record.ProfileName = "Default";
    record.SignaturShort = "mfg";
    record.Signatur = "Gruss\nAlice";
    record.SignaturAlways = true;
    record.TimeZoneDifference = -2;
    CFolderSetting inbox;
    inbox.outlookPath = "Personal Folders\\Inbox";
    inbox.virtualPath = "Inbox";
    inbox.defaultCode = kDefaultInbox;
    inbox.kind = kKindEmail;
    CFolderSetting unnamed;  // empty paths are written as one blank
    unnamed.subfolders = 1;
    unnamed.reserved = 7;
    unnamed.defaultCode = kDefaultTasks;
    unnamed.kind = kKindTask;
    record.folders = {inbox, unnamed};
    EXPECT_EQ(SerializeDeviceFile(record),
              "Name=alice\n"
              "Passwort=Geheim\n"
              "DeviceID=0123456789ABCDEF0\n"
              "ProfileName=Default\n"
              "SignaturShort=mfg\n"
              "SignaturAlways=1\n"
              "TimeZoneDifference=-2\n"
              "Folder=Personal Folders\\Inbox,0,0,Inbox,-4,1\n"
              "Folder= ,1,7, ,-2,5\n"
              "Signatur:\n"
              "Gruss\nAlice\n");
}

TEST(DefaultFolderCodes, KindAndSlotOfEachCode) {
    struct Case {
        int32_t code;
        int32_t kind;
        int slot;
    };
    for (Case c : {Case{kDefaultContacts, kKindContact, kSlotContacts},
                   Case{kDefaultTasks, kKindTask, kSlotTasks},
                   Case{kDefaultCalendar, kKindAppointment, kSlotCalendar},
                   Case{kDefaultInbox, kKindEmail, kSlotInbox},
                   Case{kDefaultDrafts, kKindEmail, kSlotDrafts},
                   Case{kDefaultOutbox, kKindEmail, kSlotOutbox},
                   Case{kDefaultSentItems, kKindEmail, kSlotSentItems},
                   Case{kDefaultDeletedItems, kKindEmail, kSlotDeletedItems},
                   // No default folder, and codes no folder has: e-mail, no slot.
                   Case{kNoDefaultFolder, kKindEmail, -1}, Case{-9, kKindEmail, -1},
                   Case{7, kKindEmail, -1}}) {
        EXPECT_EQ(KindForDefaultCode(c.code), c.kind) << c.code;
        EXPECT_EQ(DefaultFolderSlotForCode(c.code), c.slot) << c.code;
    }
}

TEST(DeviceFile, RoundTripKeepsFieldsAndBlankPaths) {
    std::string text =
        "Name=alice\nPasswort=Geheim\nDeviceID=\nProfileName=Default\nSignaturShort=\n"
        "SignaturAlways=0\nTimeZoneDifference=3\nFolder= ,1,7, ,-2,5\nSignatur:\nline 1\nline 2\n";
    CDeviceConfig record;
    ParseDeviceFile(text, record);
    ASSERT_EQ(record.folders.size(), 1u);
    EXPECT_EQ(Describe(record.folders[0]), "|1|7||-2|5");
    EXPECT_EQ(record.Signatur, "line 1\nline 2");
    EXPECT_EQ(record.TimeZoneDifference, 3);
    EXPECT_EQ(SerializeDeviceFile(record), text);
}

TEST(DeviceFile, WithoutSignaturLineEveryLineIsReadOnce) {
    CDeviceConfig record;
    ParseDeviceFile("Name=bob\nFolder=Store\\Contacts,0,0,Contacts,-1,1\nPasswort=pw", record);
    EXPECT_EQ(record.Name, "bob");
    EXPECT_EQ(record.Passwort, "pw");  // no line end: nothing cut off
    EXPECT_EQ(record.Signatur, "");
    ASSERT_EQ(record.folders.size(), 1u);
    EXPECT_EQ(Describe(record.folders[0]), "Store\\Contacts|0|0|Contacts|-1|2");
}

TEST(DeviceFile, KeysIgnoreCaseAndUnknownLinesAreSkipped) {
    CDeviceConfig record;
    ParseDeviceFile("NAME=x\r\npassWORT=a=b\r\nnoequals\r\nOther=1\r\nSIGNATUR:\r\nName=in sig\r\n",
                    record);
    EXPECT_EQ(record.Name, "x");
    EXPECT_EQ(record.Passwort, "a=b");
    EXPECT_EQ(record.Signatur, "Name=in sig");
}

TEST(DeviceFile, FolderValues) {
    // Without ",": the path alone, kind 1, code 0.
    EXPECT_EQ(Describe(ParseFolderValue("Store\\Mail")), "Store\\Mail|0|0||0|1");
    // The kind follows the default code, whatever the file says.
    EXPECT_EQ(Describe(ParseFolderValue("S\\T,0,0,T,-2,1")), "S\\T|0|0|T|-2|5");
    EXPECT_EQ(Describe(ParseFolderValue("S\\C,0,0,C,-3,1")), "S\\C|0|0|C|-3|3");
    EXPECT_EQ(Describe(ParseFolderValue("S\\K,0,0,K,-1,5")), "S\\K|0|0|K|-1|2");
    EXPECT_EQ(Describe(ParseFolderValue("S\\X,0,0,X,-4,5")), "S\\X|0|0|X|-4|1");
    // Runs of separators give no empty tokens.
    EXPECT_EQ(Describe(ParseFolderValue("S\\X,,1,,0,V,0,2")), "S\\X|1|0|V|0|1");
    // A comma in the path or the virtual path keeps the folder whole.
    EXPECT_EQ(Describe(ParseFolderValue("Mailbox\\Projekte, 2010,0,0,Projekte, 2010,0,1")),
              "Mailbox\\Projekte, 2010|0|0|Projekte, 2010|0|1");
    EXPECT_EQ(Describe(ParseFolderValue("Mailbox\\a,b,c,1,0,v,-8,1")), "Mailbox\\a,b,c|1|0|v|-8|1");
}

TEST(DeviceFile, CommaPathSurvivesWriteAndRead) {
    CDeviceConfig record;
    CFolderSetting folder;
    folder.outlookPath = "Mailbox\\Projekte, 2010";
    folder.virtualPath = "Projekte, 2010";
    record.folders = {folder};
    CDeviceConfig back;
    ParseDeviceFile(SerializeDeviceFile(record), back);
    ASSERT_EQ(back.folders.size(), 1u);
    EXPECT_EQ(Describe(back.folders[0]), Describe(folder));
}

TEST(DeviceFile, LineBreaksInValuesCannotAddLines) {
    CDeviceConfig record;
    record.Name = "eve\nDeviceID=X";
    record.Passwort = "a\rb";
    std::string text = SerializeDeviceFile(record);
    EXPECT_EQ(text.substr(0, 30), "Name=eve DeviceID=X\nPasswort=a");
    CDeviceConfig back;
    ParseDeviceFile(text, back);
    EXPECT_EQ(back.DeviceID, "");
}

TEST(DeviceFile, SignatureIsStableOverSaves) {
    CDeviceConfig record;
    record.Signatur = "Gruss";
    std::string first = SerializeDeviceFile(record);
    CDeviceConfig back;
    ParseDeviceFile(first, back);
    EXPECT_EQ(back.Signatur, "Gruss");
    EXPECT_EQ(SerializeDeviceFile(back), first);
}

TEST(DeviceFile, ReadAndWriteFiles) {
    TempFolder folder;
    std::string path = folder.Path() + "/alice.dxt";
    CPocketDevice missing;
    EXPECT_FALSE(missing.ReadDeviceFile(path));
    WriteWholeFile(path, "Name=alice\nPasswort=pw\nProfileName=NoSuchProfile\nSignatur:\nS\n");
    CPocketDevice record;
    ASSERT_TRUE(record.ReadDeviceFile(path));
    EXPECT_EQ(record.Config()->filePath, path);
    EXPECT_EQ(record.Config()->Signatur, "S");
    EXPECT_NE(record.lastLogonError, 0);  // no such profile: the log-on failed
    std::string copy = folder.Path() + "/copy.ifo";
    ASSERT_TRUE(record.WriteDeviceFile(copy));
    EXPECT_EQ(ReadWholeFile(copy),
              "Name=alice\nPasswort=pw\nDeviceID=\nProfileName=NoSuchProfile\nSignaturShort=\n"
              "SignaturAlways=0\nTimeZoneDifference=0\nSignatur:\nS\n");
    EXPECT_EQ(ModeOf(copy), 0600u);
    EXPECT_FALSE(record.WriteDeviceFile(folder.Path() + "/no/such/dir/x.ifo"));
}

// What a record holds must be what its file gives back on the next load: a
// signature line the reader would skip is cut (at a character's start) to what fits.
TEST(DeviceFile, ALongSignatureLineSurvivesTheNextLoad) {
    TempFolder folder;
    std::string path = folder.Path() + "/alice.dxt";
    std::string longLine;
    while (longLine.size() < 70000) longLine += "\xC3\xA4x";  // "äx"
    CPocketDevice record([&] {
        CDeviceConfig c;
        c.Name = "alice";
        c.ProfileName = "NoSuchProfile";
        c.Signatur = "Gruss\n" + longLine + "\nAlice";
        return c;
    }());
    ASSERT_TRUE(record.WriteDeviceFile(path));
    CPocketDevice again;
    ASSERT_TRUE(again.ReadDeviceFile(path));
    const std::string& kept = record.Config()->Signatur;
    // (compared as a whole, without printing 64 KiB on a failure)
    EXPECT_TRUE(again.Config()->Signatur == kept)
        << again.Config()->Signatur.size() << " bytes read";
    ASSERT_EQ(kept.rfind("Gruss\n", 0), 0u);
    ASSERT_GE(kept.size(), std::string("Gruss\n\nAlice").size());
    EXPECT_EQ(kept.substr(kept.size() - 6), "\nAlice");
    std::string cutLine = kept.substr(6, kept.size() - 12);
    EXPECT_LT(cutLine.size(), longLine.size());
    EXPECT_EQ(longLine.compare(0, cutLine.size(), cutLine), 0);
    EXPECT_NE(static_cast<unsigned char>(cutLine.back()), 0xC3);  // no half character
    // The line kept fills what the reader takes, line end included, less at most a
    // character.
    EXPECT_LE(cutLine.size() + 1, kMaxLineLength);
    EXPECT_GT(cutLine.size() + 1 + 2, kMaxLineLength);
}

// A long signature of short lines, and values near the limit, are kept whole.
TEST(DeviceFile, ASignatureLongerThanALineIsKeptWhole) {
    std::string signature;
    while (signature.size() < 3 * kMaxLineLength) signature += "eine Zeile der Signatur\n";
    std::string name(kMaxLineLength - std::string("Name=\n").size(), 'n');
    CPocketDevice record([&] {
        CDeviceConfig c;
        c.Name = name;
        c.Signatur = signature;
        return c;
    }());
    EXPECT_TRUE(record.Config()->Signatur == signature);
    EXPECT_TRUE(record.Config()->Name == name);
    CDeviceConfig back;
    ParseDeviceFile(SerializeDeviceFile(*record.Config()), back);
    EXPECT_TRUE(back.Signatur == signature) << back.Signatur.size() << " bytes read";
    EXPECT_TRUE(back.Name == name) << back.Name.size() << " bytes read";
}

// Every one-line value is cut likewise, so a long name or profile is not lost whole.
TEST(DeviceFile, LongValuesAreCutToTheirLine) {
    TempFolder folder;
    std::string path = folder.Path() + "/long.ifo";
    std::string longText(kMaxLineLength + 10, 'v');
    CPocketDevice record;
    record.EditConfig([&](CDeviceConfig& c) {
        c.Name = longText;
        c.ProfileName = longText;
        c.SignaturShort = longText;
        c.DeviceID = longText;
    });
    std::shared_ptr<const CDeviceConfig> kept = record.Config();
    EXPECT_EQ(kept->Name.size(), kMaxLineLength - std::string("Name=\n").size());
    EXPECT_EQ(kept->ProfileName.size(), kMaxLineLength - std::string("ProfileName=\n").size());
    ASSERT_TRUE(record.WriteDeviceFile(path));
    CPocketDevice again;
    ASSERT_TRUE(again.ReadDeviceFile(path));
    std::shared_ptr<const CDeviceConfig> read = again.Config();
    EXPECT_TRUE(read->Name == kept->Name) << read->Name.size() << " bytes read";
    EXPECT_TRUE(read->ProfileName == kept->ProfileName) << read->ProfileName.size();
    EXPECT_TRUE(read->SignaturShort == kept->SignaturShort) << read->SignaturShort.size();
    EXPECT_TRUE(read->DeviceID == kept->DeviceID) << read->DeviceID.size();
}

TEST(DeviceConfig, ASnapshotStaysAsItWasWhileTheRecordChanges) {
    CPocketDevice record;
    record.SetConfig([&] {
        CDeviceConfig c;
        c.Name = "alice";
        c.Passwort = "old";
        return c;
    }());
    std::shared_ptr<const CDeviceConfig> before = record.Config();
    std::shared_ptr<const CDeviceConfig> after = record.EditConfig([](CDeviceConfig& config) {
        config.Passwort = "new";
        config.folders.push_back([&] {
            CFolderSetting c;
            c.outlookPath = "Store\\Contacts";
            return c;
        }());
    });
    EXPECT_EQ(before->Passwort, "old");
    EXPECT_TRUE(before->folders.empty());
    EXPECT_EQ(after->Name, "alice");  // the rest carried over
    EXPECT_EQ(after->Passwort, "new");
    EXPECT_EQ(record.Config(), after);
}

TEST(DeviceConfig, ReadersAlwaysSeeAWholeConfiguration) {
    // Two values written in turn by one thread; the other never sees a mix.
    CPocketDevice record([&] {
        CDeviceConfig c;
        c.Name = "a";
        c.Passwort = "a";
        return c;
    }());
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            std::string value = i % 2 == 0 ? "b" : "a";
            record.SetConfig([&] {
                CDeviceConfig c;
                c.Name = value;
                c.Passwort = value;
                return c;
            }());
        }
        stop = true;
    });
    int mixed = 0;
    while (!stop) {
        std::shared_ptr<const CDeviceConfig> config = record.Config();
        if (config->Name != config->Passwort) ++mixed;
    }
    writer.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
