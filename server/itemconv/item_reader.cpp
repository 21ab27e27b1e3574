#include "server/itemconv/item_reader.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "common/wbxml/tag_table.h"
#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/itemconv/element_map.h"
#include "server/itemconv/recurrence_elements.h"
#include "server/itemconv/recurrence_message.h"
#include "server/itemconv/value_format.h"

namespace {

// State of one application of a tree.
class CItemApplier {
public:
    CItemApplier(IMessagePtr& message, const CWBXMLLiterals& fields, const CTimeZone& zone)
        : message_(message), fields_(fields), zone_(zone) {}

    bool Stored() const { return stored_; }
    // Loads the item's series before any field of the element changes it, so that a
    // series that comes back unchanged is recognised as such (ReadRecurrence).
    void LoadSeriesFirst() {
        for (const auto& node : fields_) {
            if (node->children && node->codePage == kRecurrencePage) {
                patternLoaded_ = LoadFromMessage(message_, pattern_, zone_);
                return;
            }
        }
    }
    const std::string& Refused() const { return refused_; }

    void ApplyNode(const CWBXMLLiteral& node) {
        if (node.children && node.codePage == kRecurrencePage) {
            if (node.token == kTagRecurrence && !node.children->Empty()) ApplySeries(node, true);
            if (node.token == kTagExceptions) ApplySeries(node, false);
        }
        if (!node.children && node.value.empty()) {
            ClearNode(node);
            return;
        }
        for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
            if (row->kind != node.codePage || row->token != node.token || !HasProperty(*row))
                continue;
            ApplyRow(*row, node);
        }
    }

private:
    void ApplySeries(const CWBXMLLiteral& node, bool recurrence) {
        bool ok = false;
        try {
            if (!patternLoaded_) {
                patternLoaded_ = LoadFromMessage(message_, pattern_, zone_);
            }
            if (patternLoaded_) {
                std::string refused;
                ok = recurrence
                         ? ReadRecurrence(message_, pattern_, *node.children, zone_, &refused)
                         : ReadException(message_, pattern_, *node.children, zone_);
                if (!refused.empty()) {
                    refused_ = "Recurrence: " + refused;
                    return;
                }
            }
        } catch (const std::exception&) {
            ok = false;
        }
        if (ok) {
            stored_ = true;
        } else {
            AddLiveTrace("Read Recurrence crashed");
        }
    }

    bool KeepSeriesTimes() {
        if (!keepSeriesTimes_) {
            ULONG tag =
                message_.GetIDFromName(PSETID_Appointment, kLidRecurring, PT_BOOLEAN, MAPI_CREATE);
            CPropValue value;
            bool recurring = SUCCEEDED(message_.GetOneProp(tag, value)) && !value.Empty() &&
                             value.Tag() == tag && value->Value.b != 0;
            keepSeriesTimes_ = KeepsSeriesTimes(recurring, fields_);
            if (*keepSeriesTimes_) AddLiveTrace("recurring item edited on device, times kept");
        }
        return *keepSeriesTimes_;
    }

    // A cleared field: the properties of its rows, when it is a field of the item's
    // own kind.
    void ClearNode(const CWBXMLLiteral& node) {
        const ItemKind kind = ItemKindOfClass(message_.GetPropText(PR_MESSAGE_CLASS));
        bool cleared = false;
        if (kind != kItemNone && node.codePage == kind) {
            for (const ElementMapEntry* row = kElementMap; row->kind != -1; ++row) {
                if (row->kind != node.codePage || row->token != node.token || !HasProperty(*row))
                    continue;
                ClearRow(*row, node);
                cleared = true;
            }
        }
        if (!cleared) {
            AddLiveTraceF("XMLtoMessage: empty field %s ignored, not a field of this kind",
                          std::string(TagName(node.codePage, node.token)).c_str());
        }
    }

    // The property a field of the item changes, or 0 when it changes none: the row
    // maps to no property, or it is a series time that the item keeps.
    ULONG TagToChange(const ElementMapEntry& row, const CWBXMLLiteral& node) {
        ULONG tag = 0;
        try {
            tag = ResolveElementTag(message_, row);
        } catch (const CMAPIException& e) {
            AddLiveTraceF("XMLtoMessage: field %s skipped, property not mapped: %s",
                          ElementRowName(row).c_str(), e.what());
            return 0;
        }
        if (tag != 0 && IsSeriesTimeElement(node.codePage, node.token) && KeepSeriesTimes())
            return 0;
        return tag;
    }

    void ClearRow(const ElementMapEntry& row, const CWBXMLLiteral& node) {
        const ULONG tag = TagToChange(row, node);
        if (tag == 0) return;
        CPropValue present;
        const bool isBody = PROP_ID(tag) == PROP_ID(PR_BODY);
        if (isBody ? message_.GetBody().empty() : FAILED(message_.GetOneProp(tag, present)))
            return;  // nothing to clear: the item stays as it is
        try {
            message_.DeleteProp(tag);
        } catch (const CMAPIException& e) {
            AddLiveTraceF("XMLtoMessage: field %s not cleared: %s", ElementRowName(row).c_str(),
                          e.what());
            return;
        }
        stored_ = true;
    }

    void ApplyRow(const ElementMapEntry& row, const CWBXMLLiteral& node) {
        const ULONG tag = TagToChange(row, node);
        if (tag == 0) return;
        if (tag == PR_BODY) {
            message_.SetBody(node.value);
            stored_ = true;
            return;
        }
        CPropValue value;
        switch (ElementTextToPropValue(tag, node.value, zone_, value)) {
            case ValueParse::kUnsupportedType:
                return;
            case ValueParse::kInvalid:
                AddLiveTraceF("XMLtoMessage: field %s skipped, value does not parse: %s",
                              std::string(ElementName(node.codePage, node.token)).c_str(),
                              node.value.c_str());
                return;
            case ValueParse::kOk:
                break;
        }
        message_.SetProp(*value.Get());
        if (tag == PR_SUBJECT) AddLiveTrace(node.value);
        stored_ = true;
    }

    IMessagePtr& message_;
    const CWBXMLLiterals& fields_;
    const CTimeZone& zone_;
    bool stored_ = false;
    std::string refused_;
    bool patternLoaded_ = false;
    RecurrencePattern pattern_;
    std::optional<bool> keepSeriesTimes_;
};

// "Surname, Given", or the given name alone, from the item's stored names.
std::string FileAsFromNames(IMessagePtr& message) {
    std::string surname = message.GetPropText(PR_SURNAME);
    std::string given = message.GetPropText(PR_GIVEN_NAME);
    return surname.empty() ? given : surname + ", " + given;
}

// The contact's file-as rule (see the header); derivedBefore: the text the names
// gave before the element was applied.
void ApplyFileAs(IMessagePtr& message, const CWBXMLLiterals& fields,
                 const std::string& derivedBefore) {
    if (message.GetPropText(PR_MESSAGE_CLASS) != "IPM.Contact") return;
    std::string fileAs = FileAsFromNames(message);
    if (fileAs.empty()) return;
    message.SetStrProp(PR_DISPLAY_NAME, fileAs);
    message.SetStrProp(PR_SUBJECT, fileAs);
    const CWBXMLLiteral* named = nullptr;
    for (const auto& node : fields) {
        if (node->codePage == kItemContact && node->token == kTokenContactFileAs && !node->children)
            named = node.get();
    }
    if (named != nullptr && !named->value.empty()) return;
    ULONG tag = message.GetIDFromName(PSETID_Address, kLidFileAs, PT_STRING8, MAPI_CREATE);
    std::string current = message.GetPropText(tag);
    if (named == nullptr && !current.empty() && current != derivedBefore) return;  // its own
    message.SetStrProp(tag, fileAs);
}

void Report(const std::string& text) { ShowMessageBox(text); }

}  // namespace

bool ClearsRequiredField(const CWBXMLLiterals& fields) {
    for (const auto& node : fields) {
        if (node->codePage == kItemEmail && node->token == kTokenMessageClass && !node->children &&
            node->value.empty())
            return true;
    }
    return false;
}

ItemApplyResult XMLtoMessage(IMessagePtr& message, const CWBXMLLiterals& fields,
                             const CTimeZone* zone, std::string* refused) {
    if (refused) refused->clear();
    if (ClearsRequiredField(fields)) {
        AddLiveTrace("XMLtoMessage: item refused, its message class would be cleared");
        return ItemApplyResult::kRefused;
    }
    CItemApplier applier(message, fields, zone ? *zone : ServerTimeZone());
    int step = 1;
    if (refused) refused->clear();
    try {
        applier.LoadSeriesFirst();
        const std::string derivedBefore = message.GetPropText(PR_MESSAGE_CLASS) == "IPM.Contact"
                                              ? FileAsFromNames(message)
                                              : std::string();
        for (const auto& node : fields) applier.ApplyNode(*node);
        if (refused) *refused = applier.Refused();
        if (!applier.Stored()) return ItemApplyResult::kNothingStored;
        step = 2;
        AddLiveTrace(message.GetItemName());
        step = 3;
        ApplyFileAs(message, fields, derivedBefore);
        step = 4;
        message.SaveChanges(KEEP_OPEN_READWRITE);
        return ItemApplyResult::kSaved;
    } catch (const CMAPIException& e) {
        Report(e.GetErrorText() + " XMLtoMessage in line " + std::to_string(step));
    } catch (const std::exception&) {
        char text[64];
        std::snprintf(text, sizeof text, "Crash on XMLtoMessage in line %d\n", step);
        Report(text);
    }
    return ItemApplyResult::kFailed;
}
