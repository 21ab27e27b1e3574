// The handheld's times (OLE dates in local wall-clock time, the process's zone) and
// the record times of the vCard and iCalendar codec (common/formats/pim_record.h).
//
// Pure functions over values (the local zone is read from TZ once); any thread.
#pragma once

#include "common/formats/civil_time.h"
#include "common/formats/pim_record.h"

// The civil time of an OLE date; false for no date.
bool CivilOfOle(double date, pimfmt::CivilTime& out);
// The OLE date of a civil time (seconds past 59 read as 59); false when out of range.
bool OleOfCivil(const pimfmt::CivilTime& time, double& out);
// Local wall-clock time as a record time in the handheld's zone (a UTC time when
// that zone is UTC).
pimfmt::RecordTime LocalRecordTime(const pimfmt::CivilTime& local);
// The whole day of a local time.
pimfmt::RecordTime DayRecordTime(const pimfmt::CivilTime& local);
// The handheld's wall-clock time of a record time (zones resolves its zone name;
// dates and floating times stay as they are).
pimfmt::CivilTime HandheldLocal(const pimfmt::RecordTime& time, const pimfmt::FileZones& zones);
