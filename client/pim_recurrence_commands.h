// The "skiff pim" commands for recurring appointments: setting a series on an
// appointment, removing or changing single occurrences, and listing the
// occurrences of the calendar.
//
//   skiff pim add calendar FIELD=VALUE... --recurrence TEXT
//   skiff pim set OID [FIELD=VALUE...] [--recurrence TEXT | --no-recurrence]
//   skiff pim occurrence OID DATE (--delete | --restore | FIELD=VALUE...)
//   skiff pim occurrences FROM TO
//
// TEXT is a pattern in the form of recurrence_text.h; its start defaults to the
// appointment's Start. The appointment is the series' first occurrence: a Start on
// a day the pattern does not name moves, with End, to the first day it does
// (keeping the times), and a new Start moves the pattern's start with it (and the
// exceptions' original times, AlignExceptions). DATE is
// the day (or day and time) an occurrence was to start; FROM and TO bound the
// starts listed (a TO without a time includes that whole day). Occurrences are
// listed in order of their starts, one per line: start, end, object identifier,
// subject, and "changed" for one an exception changed; with --json an array of
// {oid, start, end, subject, location, changed, originalStart}.
//
// Exit statuses as for the other pim commands: 0 done, 1 failed (store, no such
// item), 2 bad input (a pattern or field that does not read, a pattern that
// describes no occurrence, a DATE that is no occurrence).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/pocketoutlook/pocket_outlook.h"

struct RecurrenceChange {
    bool set = false;    // --recurrence given: text holds the pattern
    bool clear = false;  // --no-recurrence
    std::string text;
};

// Applies a change of the series to an appointment after its fields were assigned
// (startBefore: its Start before them, 0 for a new item). False with a message in
// error for input that cannot be stored.
bool ApplyRecurrenceChange(PimItem& item, const RecurrenceChange& change, double startBefore,
                           std::string& error);

// The lines "skiff pim show" adds for a recurring appointment ("Recurrence=...",
// one "Exception=..." each), and the same as JSON members (",\"recurrence\":...,
// \"exceptions\":[...]"); nothing for others.
std::vector<std::pair<std::string, std::string>> RecurrenceFields(const PimItem& item);
std::string RecurrenceJson(const PimItem& item);

int PimChangeOccurrence(long oid, const std::string& date, bool remove, bool restore,
                        const std::vector<std::string>& assignments, bool json, std::ostream& out,
                        std::ostream& err);
int PimListOccurrences(const std::string& from, const std::string& to, bool json, std::ostream& out,
                       std::ostream& err);
