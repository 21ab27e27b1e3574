// The element tree's lists and the lookup over them.
#include "common/wbxml/wbxml_literals.h"

CWBXMLLiterals::CWBXMLLiterals() = default;
CWBXMLLiterals::~CWBXMLLiterals() = default;
CWBXMLLiterals::CWBXMLLiterals(CWBXMLLiterals&&) noexcept = default;
CWBXMLLiterals& CWBXMLLiterals::operator=(CWBXMLLiterals&&) noexcept = default;

CWBXMLLiteral& CWBXMLLiterals::Add(int32_t codePage, int32_t token, std::string value) {
    auto node = std::make_unique<CWBXMLLiteral>();
    node->codePage = codePage;
    node->token = token;
    node->value = std::move(value);
    nodes_.push_back(std::move(node));
    return *nodes_.back();
}

void CWBXMLLiterals::Clear() { nodes_.clear(); }

std::string FindValue(const CWBXMLLiterals& list, int32_t codePage, int32_t token) {
    for (const auto& node : list)
        if (node->codePage == codePage && node->token == token) return node->value;
    return std::string();
}
