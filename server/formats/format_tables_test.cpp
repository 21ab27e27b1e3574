// Every property of the desktop's contacts, tasks and appointments (the element
// map's rows) is named by the format's table: carried, or listed with a reason.
#include <gtest/gtest.h>

#include "common/formats/ical_map.h"
#include "common/formats/vcard_map.h"
#include "server/itemconv/element_map.h"

namespace {

TEST(FormatTables, NameEveryDesktopPropertyOfTheirKinds) {
    for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
        if (!HasProperty(*row)) continue;
        if (row->kind == kItemContact) {
            bool found = false;
            for (std::size_t i = 0; i < pimfmt::VCardMapSize(); ++i) {
                const pimfmt::VCardMapEntry& f = pimfmt::kVCardMap[i];
                if (f.token != row->token) continue;
                found = true;
                EXPECT_TRUE(f.property != nullptr || f.note != nullptr) << f.field;
            }
            EXPECT_TRUE(found) << "contact token " << row->token;
        } else if (row->kind == kItemTask || row->kind == kItemAppointment) {
            const pimfmt::RecordKind kind = row->kind == kItemTask
                                                ? pimfmt::RecordKind::kTask
                                                : pimfmt::RecordKind::kAppointment;
            bool found = false;
            for (std::size_t i = 0; i < pimfmt::ICalMapSize(); ++i) {
                const pimfmt::ICalMapEntry& f = pimfmt::kICalMap[i];
                if (f.kind != kind || f.token != row->token) continue;
                found = true;
                EXPECT_TRUE(f.property != nullptr || f.note != nullptr) << f.field;
            }
            EXPECT_TRUE(found) << "kind " << row->kind << " token " << row->token;
        }
    }
}

}  // namespace
