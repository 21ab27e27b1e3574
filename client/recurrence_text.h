// The text form of a handheld recurrence: what "skiff pim" shows and takes, and
// what the snapshot files keep of a recurring appointment.
//
// Pattern: the kind, then ";"-separated settings, in this order when written:
//   daily|weekly|monthly|monthnth|yearly|yearnth
//   ;interval=N           (written always; 1 when not given)
//   ;on=mon,thu           weekdays (sun mon tue wed thu fri sat): weekly, n-th kinds
//   ;week=1..4|last       which of those days in the month: n-th kinds
//   ;day=D                day of the month: monthly, yearly
//   ;month=M              month 1-12: yearly kinds
//   ;start=YYYY-MM-DD     the first day the series may fall on
//   ;count=N | ;until=YYYY-MM-DD   the end (neither: no end)
// for example "weekly;interval=2;on=mon,thu;start=2024-03-04;count=6". Reading takes
// the settings in any order and any case; a missing start is taken from a default.
//
// Exception: the original start, then "deleted" or the changed fields:
//   "2024-03-07 10:00 deleted"
//   "2024-03-14 10:00 Start=2024-03-14 11:00;End=2024-03-14 11:30;Subject=Review"
// with the fields Start, End, Subject, Location, ReminderSet, ReminderMinutesBeforeStart,
// BusyStatus, AllDayEvent (texts written as they stand; ";" in them is written "\;"
// and "\" as "\\").
//
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/pocketoutlook/pim_recurrence.h"

std::string FormatRecurrencePattern(const PimRecurrencePattern& pattern);
// The pattern of text; false with a message in error for text that is no pattern
// (unknown kind or setting, a value out of its form, count and until both given).
// defaultStart: the start when the text names none. The pattern is not checked for
// occurrences (RecurrenceProblem does that).
bool ParseRecurrencePattern(std::string_view text, double defaultStart,
                            PimRecurrencePattern& pattern, std::string& error);

std::string FormatException(const PimException& exception);
// The changed fields of an exception from "NAME=VALUE" texts (names as above,
// ignoring case; dates as "skiff pim" takes them, flags 1/0/true/false/-1). False
// with a message for an unknown name or a bad value.
bool ApplyExceptionField(std::string_view name, std::string_view value, PimException& exception,
                         std::string& error);

// The whole recurrence in one line, as the snapshot keeps it: the pattern, then
// each exception after " | ". The empty text for none.
std::string RecurrenceSignature(const PimRecurrence* recurrence);

// A date or date and time in the forms "skiff pim" takes: "YYYY-MM-DD[ HH:MM[:SS]]",
// the wire form "DD.MM.YYYY HH:MM.SS:0" and the client form "DDMMYYYY HH:MM:SS".
bool ParseUserDate(std::string_view text, double& date);
// "YYYY-MM-DD HH:MM" (seconds when not 0); "YYYY-MM-DD" when dateOnly.
std::string FormatUserDate(double date, bool dateOnly = false);
