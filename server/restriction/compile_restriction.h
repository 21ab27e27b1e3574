// CCompileRestriction: one line of readable text for a MAPI restriction (the filter
// given to a table's Restrict), for trace lines such as "Restriction = %s\n".
//
// Forms, by restriction type (each leaf form ends with one space):
//   absent            (NULL)
//   RES_AND / RES_OR  "(" + parts joined with " and " / " or " + ")"
//   RES_NOT           "not (" + part + ")"
//   RES_CONTENT       property "=" fuzzy words value " "
//   RES_PROPERTY      property " " operator " " value " "
//   RES_COMPAREPROPS  property " " operator " " property " "
//   RES_BITMASK       property " = bitmask " mask " " (BMR_EQZ), else " <> bitmask "
//   RES_SIZE          " size(" property ") " operator " " size " "
//   RES_EXIST         "exist " property " "
//   RES_SUBRESTRICTION "Recipient(" (on PR_MESSAGE_RECIPIENTS) or "Attachment(",
//                     the inner restriction, ")"
//   RES_COMMENT       its inner restriction (a comment filters nothing)
//   other types       "unknown(" type ") "
// Operators RELOP_LT to RELOP_NE are "<", "<=", ">", ">=", "=", "<>" (RELOP_RE "~").
// Fuzzy words, each followed by a space, in this order: "prefix ", "substring ",
// "ignorecase ", "loose ".
//
// Properties: a standard one by its name with "PR" dropped and the rest in words
// with a capital first letter and no underscores (PR_MESSAGE_CLASS: MessageClass); a
// named one (id 0x8000 and above) by the name the store gives through
// GetNamesFromIDs: its string name, or for a numeric name the well-known name
// (Keywords, Email1Address, FileAs, WebPage, ...). Anything else: "0x%x" of the tag.
// Values: times "Date(day,month,year)" (UTC), strings in double quotes, anything
// else in its text form (PropValueText).
//
// Nesting deeper than kMaxDepth renders as "..." so a cyclic or runaway tree cannot
// exhaust the stack. Store failures while naming properties fall back to "0x%x";
// Compile never raises CMAPIException.
//
// One object belongs to one thread at a time (it caches the names it asked for).
#pragma once

#include <map>
#include <string>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_ref.h"

class CGenMapiPropPtr;

class CCompileRestriction {
public:
    static constexpr int kMaxDepth = 64;

    // namesSource: the object (usually the folder whose table is restricted) asked
    // for the names of named properties; null renders them as "0x%x".
    explicit CCompileRestriction(IMAPIProp* namesSource = nullptr);
    explicit CCompileRestriction(const CGenMapiPropPtr& namesSource);

    // The text of restriction (null: "(NULL)").
    std::string Compile(const SRestriction* restriction);

    // The readable name of a property tag.
    std::string PropertyName(ULONG tag);
    // The text of a value in a restriction ("(NULL)" for none).
    std::string ValueText(const SPropValue* value);

    static std::string RelationText(ULONG relop);
    static std::string FuzzyText(ULONG fuzzyLevel);
    // "PR_LAST_MODIFICATION_TIME" -> "LastModificationTime".
    static std::string StandardName(const std::string& prName);

private:
    void Append(std::string& out, const SRestriction* restriction, int depth);
    std::string NamedPropertyName(ULONG tag);

    CMapiRef<IMAPIProp> namesSource_;
    std::map<ULONG, std::string> namedCache_;  // by property id
};
