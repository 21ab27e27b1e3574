#include "server/itemconv/recurrence_wbxml.h"

#include "common/wbxml/text_convert.h"
#include "server/itemconv/recurrence_elements.h"

bool WriteLiterals(CWBXML& writer, const CWBXMLLiterals& list) {
    for (const auto& node : list) {
        if (node->children) {
            if (!writer.StartTag(node->codePage, node->token)) return false;
            if (!WriteLiterals(writer, *node->children)) return false;
            writer.EndTag();
        } else if (!writer.WriteElement(node->codePage, node->token,
                                        std::string_view(ToUtf8(node->value)))) {
            return false;
        }
    }
    return true;
}

bool WriteRecurrenceBlock(CWBXML& writer, const RecurrencePattern& pattern, const CTimeZone& zone) {
    if (!writer.StartTag(kRecurrencePage, kTagRecurrence)) return false;
    bool ok = WriteLiterals(writer, RecurrenceBlockElements(pattern, zone));
    writer.EndTag();
    return ok;
}
