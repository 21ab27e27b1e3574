// The Recurrence block of an appointment's item element (code page 6) as element
// values: building it from a pattern, and applying a received one to a pattern.
// The values form a CWBXMLLiterals tree (plain data, no codec); recurrence_wbxml.h
// writes such a tree into a document. Values hold 8-bit (ANSI) text, as the
// element tree reader delivers it.
//
// The block, in this order (dates in the wire form of FormatItemDate):
//   RecurrenceType (device numbering: daily 0, weekly 1, monthly 2, monthly n-th 3,
//   yearly 5, yearly n-th 6, none -1), Occurrences (not for an endless series),
//   Interval, DayOfWeekMask, MonthOfYear (when set), NoEndDate, DayOfMonth (when
//   set), MonthOfYear again with the same month (when set), WeekOfMonth (when an
//   instance is set), PatternStartDate and StartTime (both the pattern start),
//   PatternEndDate and EndTime (both the pattern end, when set), SerieEndDate
//   (when set), Exceptions (when there are deleted dates or exceptions).
// Exceptions holds one Exception per deleted date that no exception covers
// (OriginalDate, Deleted "1"), then one per exception (OriginalDate, appointment
// page Start and End, Location, Subject, AllDayEvent, BusyStatus, ReminderSet and
// ReminderMinutesBeforeStart when overridden; readers that do not know the last
// three pass them over). Every
// OriginalDate is the occurrence's date with the time of day of the appointment's
// start; OriginalDate, Start and End are sent in UTC.
//
// Pure functions over values; safe from any number of threads.
#pragma once

#include <optional>
#include <string>

#include "common/wbxml/wbxml_literals.h"
#include "server/itemconv/recurrence_pattern.h"
#include "server/itemconv/time_zone.h"

// Page and tokens of the block.
inline constexpr int32_t kRecurrencePage = 6;
enum : int32_t {
    kTagRecurrence = 0x00,
    kTagException = 0x01,
    kTagExceptions = 0x02,
    kTagRecurrenceType = 0x03,
    kTagPatternStartDate = 0x04,
    kTagStartTime = 0x05,
    kTagEndTime = 0x06,
    kTagPatternEndDate = 0x07,
    kTagNoEndDate = 0x08,
    kTagOccurrences = 0x09,
    kTagInterval = 0x0A,
    kTagDayOfWeekMask = 0x0B,
    kTagDayOfMonth = 0x0C,
    kTagInstance = 0x0D,
    kTagMonthOfYear = 0x0F,
    kTagOriginalDate = 0x10,
    kTagDeleted = 0x11,
    kTagWeekOfMonth = 0x12,
    kTagSerieEndDate = 0x14,
};
// Appointment page fields used inside an Exception.
inline constexpr int32_t kAppointmentPage = 2;
enum : int32_t {
    kTagApptSubject = 0x01,
    kTagApptLocation = 0x02,
    kTagApptStart = 0x04,
    kTagApptDuration = 0x05,
    kTagApptEnd = 0x06,
    kTagApptAllDayEvent = 0x07,
    kTagApptBusyStatus = 0x08,
    kTagApptReminderSet = 0x0D,
    kTagApptReminderMinutes = 0x0F,  // ReminderMinutesBeforeStart
};

// The device's number for a kind, and the kind of a device number (any number
// that names none is kind none).
int DeviceRecurrenceType(int kind);
int KindOfDeviceRecurrenceType(long deviceType);

// The children of (6, 0x00 Recurrence) for pattern; zone converts the exception
// dates to UTC.
CWBXMLLiterals RecurrenceBlockElements(const RecurrencePattern& pattern, const CTimeZone& zone);

// ReadRecurrence without the store: applies the children of a received
// Recurrence element to pattern. wholeStart and wholeEnd are the appointment's
// start and end as the item holds them now (local), the base of the pattern
// start and end. The series rule (kind, interval, count, mask, days, month,
// instance, end flags) is built afresh from the block; deleted dates and
// exceptions are replaced only when the block carries Exceptions. A field whose
// value does not parse is skipped with a live trace line. The result is
// normalised, its series start is the received pattern start, and it is marked
// recurring (a kind of none is written back as not recurring). Its series end:
// for a series that ends by date the pattern end (the count is the Occurrences
// sent, else the number of occurrences up to that date); for one that ends after
// its count the SerieEndDate sent, else the date of the count-th occurrence; a
// block without Occurrences and without an end date describes an endless series.
// A block that describes no occurrence (an Interval below 1, an Occurrences of 0
// for a series without an end date, an end before the first occurrence) is
// refused: pattern stays as it was and the reason is returned.
std::optional<std::string> ApplyRecurrenceElements(RecurrencePattern& pattern,
                                                   const CWBXMLLiterals& children,
                                                   const CItemTime& wholeStart,
                                                   const CItemTime& wholeEnd,
                                                   const CTimeZone& zone);

// ReadException without the store: applies the children of a received
// Exceptions element. Every Exception's OriginalDate (read as UTC) becomes a
// deleted date; every Exception not marked Deleted becomes an exception whose
// original start is that OriginalDate, whose start and end are its Start and End
// (UTC; without Start the original start, without End the start plus one
// occurrence), with Subject, Location, AllDayEvent, BusyStatus, ReminderSet and
// ReminderMinutesBeforeStart as overrides; a reminder or busy-status override the
// Exception does not carry is kept from the pattern's earlier exception of the
// same day. An Exception without a readable OriginalDate is skipped with a live
// trace line.
void ApplyExceptionElements(RecurrencePattern& pattern, const CWBXMLLiterals& children,
                            const CTimeZone& zone);

// Devices that cannot show a series edit only its first occurrence and send the
// appointment back without a Recurrence block. For an item stored as recurring,
// the appointment-page fields for which this is true are then not applied, so
// the series keeps its times: Start, End and Duration.
bool IsSeriesTimeElement(int32_t codePage, int32_t token);
// True when an item element's fields named by IsSeriesTimeElement are to be kept
// as stored: the item is stored as recurring and its element has no Recurrence
// container among its top-level nodes.
bool KeepsSeriesTimes(bool storedRecurring, const CWBXMLLiterals& itemElement);
// The live trace line for such an item.
inline constexpr const char* kSeriesTimesKeptTrace = "recurring item edited on device, times kept";
