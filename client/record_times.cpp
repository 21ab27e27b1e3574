// Handheld times and record times.
#include "client/record_times.h"

#include "platform/pocketoutlook/ole_date.h"

using pimfmt::CivilTime;
using pimfmt::RecordTime;
using pimfmt::TimeForm;

bool CivilOfOle(double date, CivilTime& out) {
    SYSTEMTIME st;
    if (date == 0.0 || date == kOleNoDate || !VariantTimeToSystemTime(date, &st)) return false;
    out = CivilTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    return true;
}

bool OleOfCivil(const CivilTime& t, double& out) {
    SYSTEMTIME st;
    st.wYear = static_cast<uint16_t>(t.year);
    st.wMonth = static_cast<uint16_t>(t.month);
    st.wDay = static_cast<uint16_t>(t.day);
    st.wHour = static_cast<uint16_t>(t.hour);
    st.wMinute = static_cast<uint16_t>(t.minute);
    st.wSecond = static_cast<uint16_t>(t.second > 59 ? 59 : t.second);
    return SystemTimeToVariantTime(st, &out);
}

RecordTime LocalRecordTime(const CivilTime& local) {
    RecordTime t;
    const std::string zone = pimfmt::LocalZoneName();
    t.time = local;
    if (zone == "UTC") {
        t.form = TimeForm::kUtc;
        return t;
    }
    t.form = TimeForm::kZoned;
    t.zone = zone;
    return t;
}

RecordTime DayRecordTime(const CivilTime& local) {
    RecordTime t;
    t.time = CivilTime{local.year, local.month, local.day};
    t.form = TimeForm::kDate;
    return t;
}

CivilTime HandheldLocal(const RecordTime& t, const pimfmt::FileZones& zones) {
    const pimfmt::Zone& local = pimfmt::LocalZone();
    switch (t.form) {
        case TimeForm::kUtc:
            return local.ToLocal(t.time);
        case TimeForm::kZoned:
            if (const pimfmt::Zone* z = zones.Find(t.zone)) return local.ToLocal(z->ToUtc(t.time));
            return t.time;
        default:
            return t.time;
    }
}
