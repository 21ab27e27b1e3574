// Recurring appointments between the desktop and the handheld, end to end: the
// published example blobs there and back, and the rows of the sync matrix for
// series (created on each side, an occurrence moved or removed, the series deleted,
// its end changed, on both sides).
#include <gtest/gtest.h>

#include <algorithm>

#include "server/itemconv/item_time.h"
#include "server/itemconv/recurrence_vectors_test.h"
#include "tests/recurrence_sides.h"

namespace {

struct Vector {
    const char* name;
    const char* hex;
};
const Vector kVectors[] = {{"V1", kV1}, {"V2", kV2}, {"V3", kV3},   {"V4", kV4},   {"V6", kV6},
                           {"V8", kV8}, {"V9", kV9}, {"V10", kV10}, {"V11", kV11}, {"V12", kV12}};

std::uint32_t Minutes(int y, int m, int d, int h = 0, int mi = 0) {
    return static_cast<std::uint32_t>(DaysFrom1601(y, m, d) * 1440 + h * 60 + mi);
}

// A desktop series from a published blob, with the blob's own times.
std::string AddPublished(RecurrenceSides& sides, const std::string& subject, const char* hex) {
    std::optional<CRecurrenceBlob> blob = DecodeRecurrenceBlob(HexBytes(hex));
    if (!blob) return "";
    return sides.DesktopSeries(subject, hex, IsoOfMinutes(blob->startDate + blob->startTimeOffset),
                               IsoOfMinutes(blob->startDate + blob->endTimeOffset));
}

// A published series added on the desktop as "Simple" and synced: its key on the
// desktop and its oid on the handheld.
struct SyncedSeries {
    std::string key;
    std::string oid;
};

SyncedSeries SyncPublished(RecurrenceSides& sides, const char* hex) {
    SyncedSeries series{AddPublished(sides, "Simple", hex), ""};
    sides.Sync();
    series.oid = sides.HandheldOid("Simple");
    return series;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// Every published blob reaches the handheld as a series and comes back, after an
// edit of the appointment there, as the very bytes it was.
TEST(RecurrenceEndToEnd, PublishedBlobsGoToTheHandheldAndBackUnchanged) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    for (const Vector& v : kVectors) ASSERT_NE("", AddPublished(sides, v.name, v.hex)) << v.name;
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +10 ~0 -0, desktop +0 ~0 -0"));

    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        std::string oid = sides.HandheldOid(v.name);
        ASSERT_NE("", oid);
        EXPECT_TRUE(Contains(sides.HandheldShow(oid), "\nRecurrence=")) << sides.HandheldShow(oid);
        EXPECT_EQ(0, sides.Skiff({"pim", "set", oid, "Location=Raum 1"}).status);
    }
    // Weekly on Monday, Thursday and Friday, 12 times, as published; with the 16
    // April occurrence moved to 11:00 under its own subject.
    std::vector<std::string> v1 =
        sides.HandheldOccurrences(sides.HandheldOid("V1"), "2007-03-01", "2007-05-31");
    ASSERT_EQ(12U, v1.size());
    EXPECT_EQ("2007-03-26 10:00 10:30 V1", v1.front());
    EXPECT_EQ("2007-04-20 10:00 10:30 V1", v1.back());
    std::vector<std::string> v2 =
        sides.HandheldOccurrences(sides.HandheldOid("V2"), "2007-04-16", "2007-04-16");
    EXPECT_EQ(std::vector<std::string>{"2007-04-16 11:00 11:30 Simple Recurrence with exceptions "
                                       "changed"},
              v2);
    // Every three days until 4 May, the 19th and 22nd removed.
    EXPECT_EQ(
        8U, sides.HandheldOccurrences(sides.HandheldOid("V3"), "2011-01-01", "2011-12-31").size());
    // The n-monthly series: the 10 May occurrence on 11 May.
    std::vector<std::string> v4 =
        sides.HandheldOccurrences(sides.HandheldOid("V4"), "2008-05-01", "2008-05-31");
    EXPECT_EQ(std::vector<std::string>{"2008-05-11 14:00 17:00 V4 changed"}, v4);

    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~0 -0, desktop +0 ~10 -0"));
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        std::string key = sides.DesktopKey(v.name);
        EXPECT_EQ(v.hex, sides.DesktopBlobHex(key));
        EXPECT_EQ("Raum 1", sides.DesktopProperty(key, "PSETID_Appointment:0x8208"));
    }

    // A series changed on the handheld is written in the system's own form; every
    // field that differs from the published blob has its reason.
    std::string oid = sides.HandheldOid("V1");
    ASSERT_EQ(
        0,
        sides.Skiff({"pim", "set", oid, "--recurrence", "weekly;on=mon,thu,fri;count=13"}).status);
    sides.Sync();
    std::optional<CRecurrenceBlob> published = DecodeRecurrenceBlob(HexBytes(kV1));
    std::optional<CRecurrenceBlob> written = sides.DesktopBlob(sides.DesktopKey("V1"));
    ASSERT_TRUE(published && written);
    CRecurrenceBlob expected = *published;
    expected.occurrenceCount = 13;            // the change
    expected.endDate = Minutes(2007, 4, 23);  // its 13th occurrence
    expected.firstDateTime = 0;               // weekly: always 0 in the system's form
    expected.firstDOW = 1;                    // weeks begin on Monday
    expected.writerVersion2 = 0x3006;         // the system's writer version
    EXPECT_EQ(expected, *written);
}

TEST(RecurrenceEndToEnd, SeriesMadeOnTheHandheld) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    ASSERT_EQ(0, sides
                     .Skiff({"pim", "add", "calendar", "Subject=Jour fixe",
                             "Start=2026-03-02 09:00", "End=2026-03-02 10:00", "Location=Raum 1",
                             "--recurrence", "weekly;on=mon,thu;count=6"})
                     .status);
    std::string oid = sides.HandheldOid("Jour fixe");
    ASSERT_EQ(0, sides.Skiff({"pim", "occurrence", oid, "2026-03-05", "--delete"}).status);
    ASSERT_EQ(0, sides
                     .Skiff({"pim", "occurrence", oid, "2026-03-09", "Start=2026-03-09 11:00",
                             "Location=Raum 2"})
                     .status);
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~0 -0, desktop +1 ~0 -0"));

    std::string key = sides.DesktopKey("Jour fixe");
    std::optional<CRecurrenceBlob> blob = sides.DesktopBlob(key);
    ASSERT_TRUE(blob);
    EXPECT_EQ(kRecurFrequencyWeekly, blob->recurFrequency);
    EXPECT_EQ(0x12U, blob->patternSpecific1);
    EXPECT_EQ(kEndAfterCount, blob->endType);
    EXPECT_EQ(6U, blob->occurrenceCount);
    EXPECT_EQ(Minutes(2026, 3, 19), blob->endDate);  // 2, 5, 9, 12, 16 and 19 March
    EXPECT_EQ((std::vector<std::uint32_t>{Minutes(2026, 3, 5), Minutes(2026, 3, 9)}),
              blob->deletedInstanceDates);
    ASSERT_EQ(1U, blob->exceptions.size());
    EXPECT_EQ(Minutes(2026, 3, 9, 9), blob->exceptions[0].originalStartDate);
    EXPECT_EQ(Minutes(2026, 3, 9, 11), blob->exceptions[0].startDateTime);
    EXPECT_EQ(Minutes(2026, 3, 9, 12), blob->exceptions[0].endDateTime);
    EXPECT_EQ("Raum 2", blob->exceptions[0].location);
    EXPECT_EQ("1", sides.DesktopProperty(key, "PSETID_Appointment:0x8223"));
    EXPECT_EQ("2026-03-02T09:00:00Z", sides.DesktopProperty(key, "PSETID_Appointment:0x820D"));
    // Nothing is owed afterwards, on either side.
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~0 -0, desktop +0 ~0 -0"));
}

TEST(RecurrenceEndToEnd, OccurrencesMovedAndRemovedOnTheDesktop) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    const auto [key, oid] = SyncPublished(sides, kV1);
    ASSERT_EQ(12U, sides.HandheldOccurrences(oid, "2007-03-01", "2007-05-31").size());

    // The desktop moves the 16 April occurrence (the published V2).
    ASSERT_TRUE(sides.SetDesktopBlob(key, kV2));
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~1 -0, desktop +0 ~0 -0"));
    EXPECT_EQ(std::vector<std::string>{"2007-04-16 11:00 11:30 Simple Recurrence with exceptions "
                                       "changed"},
              sides.HandheldOccurrences(oid, "2007-04-16", "2007-04-16"));

    // ...and removes the occurrence of 2 April.
    CRecurrenceBlob blob = *DecodeRecurrenceBlob(HexBytes(kV2));
    blob.deletedInstanceDates.insert(blob.deletedInstanceDates.begin(), Minutes(2007, 4, 2));
    ASSERT_TRUE(sides.SetDesktopBlob(key, HexText(EncodeRecurrenceBlob(blob))));
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~1 -0, desktop +0 ~0 -0"));
    EXPECT_TRUE(sides.HandheldOccurrences(oid, "2007-04-02", "2007-04-02").empty());
    EXPECT_EQ(11U, sides.HandheldOccurrences(oid, "2007-03-01", "2007-05-31").size());
    EXPECT_TRUE(Contains(sides.HandheldShow(oid), "Exception=2007-04-02 10:00 deleted\n"))
        << sides.HandheldShow(oid);
}

TEST(RecurrenceEndToEnd, OccurrencesMovedAndRemovedOnTheHandheld) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    const auto [key, oid] = SyncPublished(sides, kV1);
    ASSERT_EQ(0, sides.Skiff({"pim", "occurrence", oid, "2007-04-02", "--delete"}).status);
    ASSERT_EQ(0, sides
                     .Skiff({"pim", "occurrence", oid, "2007-04-05", "Start=2007-04-05 14:00",
                             "End=2007-04-05 15:00", "Subject=Moved"})
                     .status);
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~0 -0, desktop +0 ~1 -0"));
    std::optional<CRecurrenceBlob> blob = sides.DesktopBlob(key);
    ASSERT_TRUE(blob);
    EXPECT_EQ((std::vector<std::uint32_t>{Minutes(2007, 4, 2), Minutes(2007, 4, 5)}),
              blob->deletedInstanceDates);
    ASSERT_EQ(1U, blob->exceptions.size());
    EXPECT_EQ(Minutes(2007, 4, 5, 14), blob->exceptions[0].startDateTime);
    EXPECT_EQ("Moved", blob->exceptions[0].subject);
    EXPECT_EQ(12U, blob->occurrenceCount);  // a removed occurrence still counts
    EXPECT_EQ(Minutes(2007, 4, 20), blob->endDate);
    // The series itself is whole on the desktop: still twelve, one of them moved.
    EXPECT_EQ("1", sides.DesktopProperty(key, "PSETID_Appointment:0x8223"));
}

TEST(RecurrenceEndToEnd, SeriesDeletedOnEitherSide) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    std::string first = AddPublished(sides, "First", kV1);
    ASSERT_EQ(0, sides
                     .Skiff({"pim", "add", "calendar", "Subject=Second", "Start=2026-03-02 09:00",
                             "End=2026-03-02 10:00", "--recurrence", "daily;count=5"})
                     .status);
    sides.Sync();
    ASSERT_NE("", sides.DesktopKey("Second"));

    // Deleted on the handheld: the whole series goes on the desktop.
    ASSERT_EQ(0, sides.Skiff({"pim", "delete", sides.HandheldOid("First")}).status);
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~0 -0, desktop +0 ~0 -1"));
    EXPECT_EQ("", sides.DesktopKey("First"));
    // Deleted on the desktop: no occurrence stays on the handheld.
    ASSERT_EQ(0, sides.Store({"delete", sides.DesktopKey("Second")}).status);
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~0 -1, desktop +0 ~0 -0"));
    EXPECT_EQ("", sides.HandheldOid("Second"));
    EXPECT_EQ("[]\n",
              sides.Skiff({"pim", "occurrences", "2000-01-01", "2100-01-01", "--json"}).out);
}

TEST(RecurrenceEndToEnd, SeriesEndChangedOnEitherSide) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    const auto [key, oid] = SyncPublished(sides, kV1);

    // The handheld ends it on 12 April instead of after 12 occurrences.
    ASSERT_EQ(0, sides
                     .Skiff({"pim", "set", oid, "--recurrence",
                             "weekly;on=mon,thu,fri;start=2007-03-26;until=2007-04-12"})
                     .status);
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~0 -0, desktop +0 ~1 -0"));
    std::optional<CRecurrenceBlob> blob = sides.DesktopBlob(key);
    ASSERT_TRUE(blob);
    EXPECT_EQ(kEndAfterDate, blob->endType);
    EXPECT_EQ(Minutes(2007, 4, 12), blob->endDate);
    EXPECT_EQ(8U, blob->occurrenceCount);  // its occurrences up to that day

    // The desktop makes it end after 4 occurrences, on the Monday 2 April.
    blob->endType = kEndAfterCount;
    blob->occurrenceCount = 4;
    blob->endDate = Minutes(2007, 4, 2);
    ASSERT_TRUE(sides.SetDesktopBlob(key, HexText(EncodeRecurrenceBlob(*blob))));
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~1 -0, desktop +0 ~0 -0"));
    EXPECT_TRUE(Contains(sides.HandheldShow(oid),
                         "Recurrence=weekly;interval=1;on=mon,thu,fri;start=2007-03-26;count=4;"
                         "last=2007-04-02\n"))
        << sides.HandheldShow(oid);
    std::vector<std::string> left = sides.HandheldOccurrences(oid, "2007-03-01", "2007-05-31");
    ASSERT_EQ(4U, left.size());
    EXPECT_EQ("2007-04-02 10:00 10:30 Simple", left.back());
    // Sent back unchanged, the desktop keeps its end date.
    ASSERT_EQ(0, sides.Skiff({"pim", "set", oid, "Location=Raum 3"}).status);
    sides.Sync();
    EXPECT_EQ(Minutes(2007, 4, 2), sides.DesktopBlob(key)->endDate);
}

// Both sides in a zone with daylight saving time: the series keeps its local times
// and its removed and moved occurrences their days, there and back, although the
// exceptions travel in UTC.
TEST(RecurrenceEndToEnd, ASeriesAcrossTheChangeToSummerTimeKeepsItsDays) {
    RecurrenceSides sides("Europe/Berlin");
    ASSERT_EQ("", sides.Error());
    ASSERT_EQ(0, sides
                     .Skiff({"pim", "add", "calendar", "Subject=Weekly", "Start=2024-03-18 10:00",
                             "End=2024-03-18 10:30", "--recurrence", "weekly;on=mon;count=4"})
                     .status);
    std::string oid = sides.HandheldOid("Weekly");
    ASSERT_EQ(0, sides.Skiff({"pim", "occurrence", oid, "2024-04-01", "--delete"}).status);
    ASSERT_EQ(
        0, sides.Skiff({"pim", "occurrence", oid, "2024-03-25", "Start=2024-03-25 11:00"}).status);
    const std::vector<std::string> expected = {"2024-03-18 10:00 10:30 Weekly",
                                               "2024-03-25 11:00 11:30 Weekly changed",
                                               "2024-04-08 10:00 10:30 Weekly"};
    ASSERT_EQ(expected, sides.HandheldOccurrences(oid, "2024-03-01", "2024-04-30"));
    sides.Sync();

    std::string key = sides.DesktopKey("Weekly");
    EXPECT_EQ("2024-03-18T09:00:00Z", sides.DesktopProperty(key, "PSETID_Appointment:0x820D"));
    std::optional<CRecurrenceBlob> blob = sides.DesktopBlob(key);
    ASSERT_TRUE(blob);
    EXPECT_EQ(600U, blob->startTimeOffset);  // local 10:00, winter and summer alike
    EXPECT_EQ((std::vector<std::uint32_t>{Minutes(2024, 3, 25), Minutes(2024, 4, 1)}),
              blob->deletedInstanceDates);
    ASSERT_EQ(1U, blob->exceptions.size());
    EXPECT_EQ(Minutes(2024, 3, 25, 10), blob->exceptions[0].originalStartDate);
    EXPECT_EQ(Minutes(2024, 3, 25, 11), blob->exceptions[0].startDateTime);
    EXPECT_EQ(Minutes(2024, 4, 8), blob->endDate);

    // A desktop edit brings the series back whole; nothing moves.
    ASSERT_EQ(0, sides.Store({"set", key, "PSETID_Appointment:0x8208:PT_STRING8=Raum 9"}).status);
    EXPECT_TRUE(Contains(sides.Sync(), "Calendar: handheld +0 ~1 -0, desktop +0 ~0 -0"));
    EXPECT_TRUE(Contains(sides.HandheldShow(oid), "Location=Raum 9\n"));
    EXPECT_EQ(expected, sides.HandheldOccurrences(oid, "2024-03-01", "2024-04-30"));
}

// The whole series moved to 11:00 on the handheld: every occurrence moves on the
// desktop too, the moved single occurrence keeps its own time.
TEST(RecurrenceEndToEnd, SeriesMovedOnTheHandheld) {
    RecurrenceSides sides;
    ASSERT_EQ("", sides.Error());
    const auto [key, oid] = SyncPublished(sides, kV2);
    ASSERT_EQ(
        0,
        sides.Skiff({"pim", "set", oid, "Start=2007-03-26 11:00", "End=2007-03-26 11:30"}).status);
    std::string report = sides.Sync();
    EXPECT_TRUE(Contains(report, "Calendar: handheld +0 ~0 -0, desktop +0 ~1 -0")) << report;
    EXPECT_EQ("2007-03-26T11:00:00Z", sides.DesktopProperty(key, "PSETID_Appointment:0x820D"));
    EXPECT_EQ("2007-03-26T11:30:00Z", sides.DesktopProperty(key, "PSETID_Appointment:0x820E"));
    std::optional<CRecurrenceBlob> blob = sides.DesktopBlob(key);
    ASSERT_TRUE(blob);
    EXPECT_EQ(660U, blob->startTimeOffset);
    EXPECT_EQ(690U, blob->endTimeOffset);
    EXPECT_EQ(12U, blob->occurrenceCount);
    EXPECT_EQ(Minutes(2007, 4, 20), blob->endDate);
    ASSERT_EQ(1U, blob->exceptions.size());
    EXPECT_EQ(Minutes(2007, 4, 16, 11), blob->exceptions[0].startDateTime);
    // Nothing comes back that would undo it.
    std::vector<std::string> shown = sides.HandheldOccurrences(oid, "2007-03-01", "2007-05-31");
    ASSERT_EQ(12U, shown.size());
    EXPECT_EQ("2007-03-29 11:00 11:30 Simple", shown[1]);
}
