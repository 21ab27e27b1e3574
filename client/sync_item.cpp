// Reading, writing and comparing one PIM item through its field table.
#include "client/sync_item.h"

#include <cstdio>
#include <set>
#include <vector>

#include "client/appointment_recurrence.h"
#include "client/recurrence_text.h"
#include "client/value_forms.h"
#include "platform/pocketoutlook/pim_properties.h"

namespace {

const int kContactKeyTags[] = {47, 7, 27, 29, 11, 42};

// Starts reading a snapshot record: true when its first event opens the Collection
// element; more tells whether events follow.
bool OpenSnapshotRecord(CWBXML& reader, std::string_view record, CWBXMLEvent& event, bool& more) {
    reader.SetDocument(record);
    more = reader.NextEvent(event);
    return event.EventKind == kWBXMLStartTag && event.codePage == 0 &&
           event.token == vantro::kCollection;
}

enum class RecordWalk {
    kNotARecord,  // it does not open with a Collection element
    kBroken,      // an event that is no tag or text, or the end before the record's
    kWhole,
};

// Reads the elements inside a snapshot record's Collection: start(event) at each
// start tag, text(event, depth) at each text, end(depth) at each end tag, depth being
// how deep the element is (the Collection is 1, its fields 2).
template <class Start, class Text, class End>
RecordWalk WalkSnapshotRecord(std::string_view record, Start start, Text text, End end) {
    CWBXML reader;
    CWBXMLEvent event;
    bool more = false;
    if (!OpenSnapshotRecord(reader, record, event, more)) return RecordWalk::kNotARecord;
    int depth = 1;
    while (more && depth > 0) {
        more = reader.NextEvent(event);
        switch (event.EventKind) {
            case kWBXMLStartTag:
                start(event);
                ++depth;
                break;
            case kWBXMLContent:
                text(event, depth);
                break;
            case kWBXMLEndTag:
                end(depth);
                --depth;
                break;
            default:
                return RecordWalk::kBroken;
        }
    }
    return depth == 0 ? RecordWalk::kWhole : RecordWalk::kBroken;
}

}  // namespace

long SyncItem::GetOid() const {
    if (oid_ != -1) return oid_;
    return item_ ? item_->Oid() : -1;
}

std::string SyncItem::Read(int tag, bool wire) const {
    const FieldDef* f = FindField(table_, tag);
    if (!f || !item_) return "";
    switch (f->form) {
        case FieldForm::ObjectId:
            return std::to_string(GetOid());
        case FieldForm::Unused:
        case FieldForm::Empty:
            return "";
        case FieldForm::Recurrence:
            return wire ? "" : RecurrenceSignature(item_->GetRecurrence());
        case FieldForm::Text:
            return item_->GetText(f->property);
        case FieldForm::Date:
        case FieldForm::ContactDate: {
            double date = item_->GetDate(f->property);
            bool noDateToo = f->form == FieldForm::ContactDate;
            return wire ? FormatServerDate(date, noDateToo) : FormatClientDate(date, noDateToo);
        }
        case FieldForm::Long:
            return std::to_string(item_->GetLong(f->property));
        case FieldForm::TaskFlag:
            return item_->GetBool(f->property) ? "1" : "0";
        case FieldForm::AppointmentFlag:
            return item_->GetBool(f->property) ? "-1" : "0";
    }
    return "";
}

std::string SyncItem::GetField(int tag) const { return Read(tag, false); }
std::string SyncItem::GetWireField(int tag) const { return Read(tag, true); }

void SyncItem::SetField(int tag, std::string_view text) {
    const FieldDef* f = FindField(table_, tag);
    if (!f || !f->setOnReceive || !f->property || !item_) return;
    switch (f->form) {
        case FieldForm::Text:
            item_->SetText(f->property, text);
            break;
        case FieldForm::Date:
        case FieldForm::ContactDate: {
            double date;
            if (ParseDate(text, date)) item_->SetDate(f->property, date);
            break;
        }
        case FieldForm::Long:
            item_->SetLong(f->property, ParseDecimal(text));
            break;
        case FieldForm::TaskFlag:
        case FieldForm::AppointmentFlag:
            item_->SetBool(f->property, static_cast<int16_t>(ParseDecimal(text)) != 0);
            break;
        default:
            break;
    }
}

std::string SyncItem::FieldName(int tag) const {
    const FieldDef* f = FindField(table_, tag);
    return f && table_.namedFields ? f->name : "";
}

std::string SyncItem::SnapshotValue(int tag) const {
    if (tag == table_.bodyTag) {
        const FieldDef* f = FindField(table_, tag);
        if (!f || !item_) return "";
        char buf[16];
        std::snprintf(buf, sizeof buf, "%u", Crc32(item_->GetText(f->property)));
        return buf;
    }
    return GetField(tag);
}

void SyncItem::WriteFields(CWBXML& writer, bool forSnapshot) const {
    writer.StartTag(0, vantro::kCollection);
    for (int tag = 0; tag < table_.fieldCount; ++tag) {
        std::string value = forSnapshot ? SnapshotValue(tag) : GetWireField(tag);
        if (!value.empty()) writer.WriteElement(table_.codePage, tag, std::string_view(value));
    }
    if (!forSnapshot && table_.kind == kKindAppointments && item_)
        WriteRecurrenceBlock(writer, *item_, snapshotRecurring_);
    writer.EndTag();
}

int SyncItem::WriteChangedFields(CWBXML& writer, const std::map<int, std::string>& snapshotFields,
                                 std::map<int, std::string>* sent,
                                 const std::set<int>* alsoSent) const {
    int written = 0;
    bool recurrenceChanged = false, wasRecurring = false;
    writer.StartTag(0, vantro::kCollection);
    for (int tag = 0; tag < table_.fieldCount; ++tag) {
        auto old = snapshotFields.find(tag);
        std::string before = old == snapshotFields.end() ? std::string() : old->second;
        const FieldDef* f = FindField(table_, tag);
        const bool always = alsoSent != nullptr && alsoSent->count(tag) != 0;
        if (f && f->form == FieldForm::Recurrence) {
            // Never a field on the wire: the Recurrence block below carries it.
            wasRecurring = !before.empty();
            recurrenceChanged = always || SnapshotValue(tag) != before;
            if (recurrenceChanged && sent) (*sent)[tag] = GetField(tag);
            continue;
        }
        if (!always && SnapshotValue(tag) == before) continue;
        std::string value = GetWireField(tag);
        if (value.empty()) {
            writer.WriteEmptyElement(table_.codePage, tag);
        } else {
            writer.WriteElement(table_.codePage, tag, std::string_view(value));
        }
        if (sent) (*sent)[tag] = GetField(tag);
        ++written;
    }
    // A series goes whole with any change of it or of the appointment; one that
    // became single says so.
    if (table_.kind == kKindAppointments && item_) {
        bool recurring = item_->GetRecurrence() != nullptr;
        if ((recurring && (recurrenceChanged || written > 0)) || (!recurring && wasRecurring)) {
            WriteRecurrenceBlock(writer, *item_, wasRecurring);
            if (recurrenceChanged) ++written;
        }
    }
    writer.EndTag();
    return written;
}

void SyncItem::ClearField(int tag) {
    const FieldDef* f = FindField(table_, tag);
    if (!f || !f->property || !item_) return;
    switch (f->form) {
        case FieldForm::Text:
            item_->SetText(f->property, "");
            break;
        case FieldForm::Date:
        case FieldForm::ContactDate:
            item_->SetDate(f->property, PimDefaultDate(item_->DefaultFolder(), f->property));
            break;
        case FieldForm::Long:
            item_->SetLong(f->property, 0);
            break;
        case FieldForm::TaskFlag:
        case FieldForm::AppointmentFlag:
            item_->SetBool(f->property, false);
            break;
        default:
            break;
    }
}

void SyncItem::SetFields(const FieldRecord& record, bool whole) {
    std::set<int> carried;
    for (const auto& node : record) {
        if (!node->children && node->codePage == table_.codePage) {
            const FieldDef* f = FindField(table_, node->token);
            // An empty element (or one with an empty text) is a field that is empty.
            if (node->value.empty() && f && f->setOnReceive) {
                ClearField(node->token);
            } else {
                SetField(node->token, node->value);
            }
            carried.insert(node->token);
        }
    }
    // After the fields: a series repeats the appointment's Start and End.
    if (table_.kind == kKindAppointments && item_) ApplyRecurrenceRecord(*item_, record, whole);
    if (!whole) return;
    for (const FieldDef& f : table_.fields) {
        if (!carried.count(f.tag) && DesktopCarries(table_, f.tag)) ClearField(f.tag);
    }
}

bool SyncItem::ApplyFields(const FieldRecord& record) {
    if (!item_) return false;
    SetFields(record);
    return item_->Save();
}

std::string SyncItem::AllFieldsText() const {
    std::string text;
    for (const FieldDef& f : table_.fields) {
        if (f.form == FieldForm::ObjectId) continue;
        std::string value = GetField(f.tag);
        text += std::to_string(value.size()) + ":" + value + ";";
    }
    return text;
}

bool SyncItem::EqualsSnapshot(std::string_view data) const {
    bool equal = true;
    std::vector<bool> seen(static_cast<size_t>(table_.fieldCount), false);
    int field = -1;  // tag of the open field element
    bool fieldHadText = false;
    RecordWalk walk = WalkSnapshotRecord(
        data,
        [&](const CWBXMLEvent& event) {
            if (event.codePage != table_.codePage) equal = false;
            field = event.token;
            fieldHadText = false;
            if (field < table_.fieldCount) seen[static_cast<size_t>(field)] = true;
        },
        [&](const CWBXMLEvent& event, int) {
            fieldHadText = true;
            if (field < 0 || event.value != SnapshotValue(field)) equal = false;
            if (field >= 0 && FindField(table_, field) &&
                FindField(table_, field)->form == FieldForm::Recurrence)
                snapshotRecurring_ = !event.value.empty();
        },
        [&](int depth) {
            // A field written without text stands for the empty text.
            if (depth == 2 && field >= 0 && !fieldHadText && !SnapshotValue(field).empty()) {
                equal = false;
            }
            field = -1;
        });
    // A record broken off is compared as far as it goes.
    if (walk == RecordWalk::kNotARecord) return false;
    for (int tag = 0; tag < table_.fieldCount; ++tag) {
        if (!seen[static_cast<size_t>(tag)] && !SnapshotValue(tag).empty()) equal = false;
    }
    return equal;
}

std::string SyncItem::MatchKey() const {
    if (table_.kind == kKindContacts) {
        std::string key;
        for (int tag : kContactKeyTags) key += GetField(tag);
        return key;
    }
    return GetField(1);
}

std::string IncomingMatchKey(const ItemKindTable& table, const FieldRecord& record) {
    if (table.kind == kKindContacts) {
        std::string key;
        for (int tag : kContactKeyTags) key += FindValue(record, table.codePage, tag);
        return key;
    }
    return FindValue(record, table.codePage, 1);
}

bool SnapshotFields(const ItemKindTable& table, std::string_view record,
                    std::map<int, std::string>& fields) {
    int field = -1;
    bool wellFormed = true;
    RecordWalk walk = WalkSnapshotRecord(
        record,
        [&](const CWBXMLEvent& event) {
            field = event.codePage == table.codePage ? event.token : -1;
            if (field < 0) wellFormed = false;
        },
        [&](const CWBXMLEvent& event, int depth) {
            if (depth == 2 && field >= 0) fields[field] = event.value;
        },
        [&](int) { field = -1; });
    return walk == RecordWalk::kWhole && wellFormed;
}
