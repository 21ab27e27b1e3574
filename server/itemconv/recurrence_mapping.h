// Between a RecurrencePattern and the recurrence blob's fields.
//
// The values written follow the system's own blob form; where they knowingly
// differ from the calendar protocol document's, the difference is kept on purpose
// (stored blobs and the handhelds rely on them):
//  - WriterVersion2 is 0x3006 and the blob ends with two zero reserved sizes,
//    without ExtendedException entries, also when it has exceptions;
//  - ModifiedInstanceDates holds each exception's original date, not its new one;
//  - FirstDateTime is (interval - 1) x 1440 for a daily series, 0 for a weekly one,
//    and month sums over a repeating non-leap year for monthly and yearly ones;
//  - a series that ends by date carries the occurrence count it was given (1 from
//    the wire);
//  - FirstDOW is 1 (Monday); subject and location are 8-bit only;
//  - a yearly series every n years has the Period 12 x n (12 for every year), so
//    that the interval a device sets is kept.
// Where the system's description names no time or order, the document's values
// are used: an endless series ends on 4500-12-31 23:59 (0x5AE980DF), and the date
// arrays run from the earliest to the latest date.
//
// Pure functions; safe from any number of threads.
#pragma once

#include <optional>

#include "server/itemconv/recurrence_blob.h"
#include "server/itemconv/recurrence_pattern.h"

// Minutes of FirstDateTime for a pattern (see above).
std::uint32_t FirstDateTimeOf(const RecurrencePattern& pattern);

// The blob for a normalised pattern (NormalisePattern). The series start gives
// StartDate and the times of day; the deleted dates and the exceptions' original
// dates (each at midnight, without repeats, earliest first) give
// DeletedInstanceDates; the exceptions, earliest original start first, give
// ModifiedInstanceDates and ExceptionInfo with only the override flags in
// kWrittenOverrides and texts cut to kMaxExceptionText bytes.
CRecurrenceBlob BlobFromPattern(const RecurrencePattern& pattern);

// Fills the rule fields, the series start and end, the deleted dates and the
// exceptions of pattern from a blob (the store's reading of a recurring item).
// recurrenceType is the store's type (1 daily, 2 weekly, 3 monthly, 4 yearly);
// without one, the blob's RecurFrequency decides. The pattern start and end
// become the blob's StartDate and EndDate with the times of day of the
// appointment's start and end (or of the blob's time offsets when the appointment
// has none), and the series start and end take the same values; a series that
// ends after a count has no pattern end. The result is normalised.
void ApplyBlobToPattern(const CRecurrenceBlob& blob, std::optional<int> recurrenceType,
                        RecurrencePattern& pattern);
