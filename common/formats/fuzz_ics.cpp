// libFuzzer target: the iCalendar component reader and the record conversion over
// arbitrary bytes. Each must end, and every record must write back out; a rule
// that is held must describe an occurrence and write a rule that reads back the
// same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/formats/ical_map.h"
#include "common/formats/rrule_map.h"
#include "common/formats/vcard_map.h"
#include "common/vcard/read_each.h"

namespace {

void CheckRule(const pimfmt::PimRecord& record) {
    auto start = record.times.find("Start");
    if (start == record.times.end() || !start->second.IsSet()) return;
    const pimfmt::CivilTime first = start->second.time;
    const pimfmt::RecordTime until = pimfmt::UntilOfRRule(record.recurrence->rule);
    recur::Rule rule;
    std::string why;
    if (!pimfmt::DayRuleOfRRule(record.recurrence->rule, first, until.time, rule, why)) return;
    if (!recur::FirstOccurrence(rule)) std::abort();
    recur::Rule again;
    const std::string text = pimfmt::RRuleOfDayRule(rule, pimfmt::FormatBasic(until.time, false));
    if (!pimfmt::DayRuleOfRRule(text, first, until.time, again, why) || !(again == rule))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (pimfmt::RecordKind kind : {pimfmt::RecordKind::kAppointment, pimfmt::RecordKind::kTask}) {
        std::istringstream in(text);
        pimfmt::IcsReader reader(in);
        pimfmt::FileZones zones;
        std::size_t rounds = 0;
        auto count = [&] {
            if (++rounds > size + 3) std::abort();
        };
        vcard::ReadEach<pimfmt::IcsComponent, pimfmt::EntryError>(
            reader,
            [&](const pimfmt::IcsComponent& c) {
                count();
                pimfmt::PimRecord record;
                std::string of;
                pimfmt::EntryError e;
                if (pimfmt::RecordFromComponent(c, kind, zones, record, of, e) ==
                    pimfmt::ComponentOutcome::kRecord) {
                    if (pimfmt::WriteComponent(record).empty()) std::abort();
                    if (record.recurrence) CheckRule(record);
                }
            },
            [&](const pimfmt::EntryError&) { count(); });
    }
    // The same bytes as vCard, through the contact mapping.
    std::istringstream in(text);
    vcard::VCardReader cards(in);
    vcard::VCardEntry entry;
    vcard::VCardError error;
    while (cards.Next(entry, error) != vcard::VCardReader::Result::kEnd) {
        pimfmt::PimRecord contact = pimfmt::ContactFromVCard(entry);
        if (pimfmt::WriteVCard(contact, 4).find("END:VCARD\r\n") == std::string::npos) std::abort();
    }
    return 0;
}
