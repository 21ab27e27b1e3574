// The contacts the item and protocol benchmarks handle: 30 fields per contact on
// the contact page, their property tags in a store, and the engine's own way of
// writing one (one SetProps and a save), so both benchmarks compare against the
// same baseline.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "server/itemconv/element_map.h"
#include "server/mapi/mapi_wrapper.h"

namespace benchcontacts {

// The 30 contact fields of item number item: (token on the contact page, value).
inline std::vector<std::pair<int32_t, std::string>> Fields(int item) {
    std::string n = std::to_string(item);
    return {
        {0x1B, "Given" + n},
        {0x1D, "Surname" + n},
        {0x1C, "Middle"},
        {0x1A, "Dr."},
        {0x05, "Sales"},
        {0x06, "Company " + n},
        {0x07, "mail" + n + "@example.org"},
        {0x0E, "second" + n + "@example.org"},
        {0x10, "third" + n + "@example.org"},
        {0x08, "+49 170 " + n},
        {0x0A, "+49 171 " + n},
        {0x0B, "+49 30 " + n},
        {0x19, "+49 30 9" + n},
        {0x0D, "+49 331 " + n},
        {0x11, "+49 331 9" + n},
        {0x13, "+49 172 " + n},
        {0x12, "+49 331 8" + n},
        {0x04, "+49 30 8" + n},
        {0x09, "Room " + n},
        {0x0C, "Engineer"},
        {0x0F, "Spouse"},
        {0x17, "Business, Private"},
        {0x18, "https://example.org/" + n},
        {0x1F, "Street " + n},
        {0x20, "Potsdam"},
        {0x22, "14467"},
        {0x23, "Germany"},
        {0x02, "20.05.1975 00:00.00:0"},
        {0x2F, "Surname" + n + ", Given" + n},
        {0x30, "Notes for contact " + n},
    };
}

// The property tags of the 30 fields in item's store, in the order of Fields.
inline std::vector<ULONG> FieldTags(IMessagePtr& item) {
    std::vector<ULONG> tags;
    for (auto& [token, value] : Fields(0)) {
        for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
            if (row->kind == kItemContact && row->token == token) {
                tags.push_back(ResolveElementTag(item, *row));
                break;
            }
        }
    }
    return tags;
}

// The property tags of the 30 fields in one store, resolved on first use (as the
// engine's own caller would hold them).
class StoreFieldTags {
public:
    const std::vector<ULONG>& Of(IMessagePtr& item) {
        if (tags_.empty()) tags_ = FieldTags(item);
        return tags_;
    }

private:
    std::vector<ULONG> tags_;
};

// Writes contact number item into the new message m with one SetProps and saves
// it, as the engine's own caller would; aborts the benchmark when the store refuses.
inline void WriteEngineContact(IMessagePtr& m, const std::vector<ULONG>& tags, int item) {
    auto fields = Fields(item);
    std::vector<CPropValue> values;
    for (size_t f = 0; f < fields.size(); ++f) {
        ULONG tag = tags[f];
        if (PROP_TYPE(tag) == PT_MV_STRING8) {
            values.push_back(CPropValue::MultiString8(tag, {"Business", "Private"}));
        } else if (PROP_TYPE(tag) == PT_SYSTIME) {
            values.push_back(CPropValue::Time(tag, FILETIME{0x7A7A0000, 0x01A9D3F0}));
        } else {
            values.push_back(CPropValue::String8(tag, fields[f].second));
        }
    }
    values.push_back(CPropValue::String8(PR_MESSAGE_CLASS, "IPM.Contact"));
    std::vector<SPropValue> raw;
    for (auto& v : values) raw.push_back(*v.Get());
    if (FAILED(m.Get()->SetProps(static_cast<ULONG>(raw.size()), raw.data(), nullptr)))
        std::abort();
    m.SaveChanges(KEEP_OPEN_READWRITE);
}

}  // namespace benchcontacts
