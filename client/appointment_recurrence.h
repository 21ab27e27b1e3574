// The Recurrence block of an appointment on the wire (code page 6), both ways,
// between the handheld's recurrence (pim_recurrence.h) and the desktop's.
//
// Sent after the appointment's fields, in the order the desktop writes it:
//   Recurrence { RecurrenceType (daily 0, weekly 1, monthly 2, monthly n-th 3,
//   yearly 5, yearly n-th 6), Occurrences (unless the series has no end),
//   Interval, DayOfWeekMask, MonthOfYear (yearly kinds), NoEndDate (1 or 0),
//   DayOfMonth (monthly, yearly), WeekOfMonth (n-th kinds), PatternStartDate and
//   StartTime (both the pattern's start date with the time of the appointment's
//   Start), PatternEndDate and EndTime (a series that ends by date: its end date
//   with the time of the appointment's End), SerieEndDate (unless it has no end:
//   the date of its last occurrence, with the End's time), Exceptions (when
//   there are any) }
// Exceptions holds one Exception per removed or changed occurrence: OriginalDate
// (its original start) and Deleted "1", or OriginalDate with the appointment page's
// Start and End (the occurrence's times, changed or not), and Subject, Location,
// AllDayEvent, BusyStatus, ReminderSet (1 or 0) and ReminderMinutesBeforeStart when
// the exception changes them. OriginalDate, Start and End inside an Exception
// travel in UTC, converted with the handheld's time zone (the TZ setting, else the
// system's); every other date is local time. Dates are in the wire form
// "DD.MM.YYYY HH:MM.SS:0".
// An appointment that stopped recurring is sent with Recurrence { RecurrenceType
// "-1" }, so that the desktop makes it single too.
//
// Received: the fields are read in order as the desktop reads them (Occurrences
// ends the series after a count, PatternEndDate or EndTime by date, NoEndDate or an
// end in 4500 or later makes it endless; without any end it has none; the first
// MonthOfYear counts; DayOfWeekMask bits add up). RecurrenceType -1 makes the
// appointment single. A changed occurrence keeps as its own only the times that
// differ from the series'. A block that describes no occurrence is refused: the
// appointment keeps the recurrence it had, and the log says why.
//
// Pure functions except for the log line of a refusal; one thread at a time per item.
#pragma once

#include <optional>
#include <string>

#include "common/wbxml/wbxml.h"
#include "platform/pocketoutlook/pocket_outlook.h"

// Tokens of code page 6.
namespace recurtag {
constexpr int kPage = 6;
constexpr int kRecurrence = 0x00, kException = 0x01, kExceptions = 0x02, kRecurrenceType = 0x03,
              kPatternStartDate = 0x04, kStartTime = 0x05, kEndTime = 0x06, kPatternEndDate = 0x07,
              kNoEndDate = 0x08, kOccurrences = 0x09, kInterval = 0x0A, kDayOfWeekMask = 0x0B,
              kDayOfMonth = 0x0C, kInstance = 0x0D, kMonthOfYear = 0x0F, kOriginalDate = 0x10,
              kDeleted = 0x11, kWeekOfMonth = 0x12, kSerieEndDate = 0x14;
}  // namespace recurtag

// Local time of the handheld to UTC and back, for OLE dates (the zone rules in force
// at each date; a local time skipped by a change to daylight time maps with the
// offset before the change, a repeated one to its first instant).
double LocalToUtc(double local);
double UtcToLocal(double utc);

// Writes the Recurrence block of a recurring appointment; for a single one, the
// block with RecurrenceType -1 when wasRecurring, else nothing.
void WriteRecurrenceBlock(CWBXML& writer, const PimItem& appointment, bool wasRecurring);

struct ReceivedRecurrence {
    bool single = false;                      // RecurrenceType -1: the appointment recurs no more
    std::optional<PimRecurrence> recurrence;  // the series, when it can be stored
    std::string problem;                      // why the block was refused
};
// Reads the children of a received Recurrence element; appointment holds the
// item's Start and End as received (the times of every occurrence).
ReceivedRecurrence ReadRecurrenceBlock(const CWBXMLLiterals& children,
                                       const PimAppointmentFields& appointment);

// Applies a received item's record (the children of its COLLECTION) to the
// appointment's recurrence, after its fields: the Recurrence block makes it
// recurring (or single, for -1); without a block it is single when the record is
// the whole item (whole), else it keeps its recurrence. A refused block leaves the
// recurrence as it was and logs "Recurrence of <subject> not stored: <reason>".
// Nothing is saved.
void ApplyRecurrenceRecord(PimItem& appointment, const CWBXMLLiterals& record, bool whole);
