// CWBXMLLiterals and CWBXMLLiteral: the element tree that CWBXML::BuildTree
// builds from a document. A list owns its nodes; a node owns its child list.
// A tree belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CWBXMLLiteral;

// An ordered list of owned nodes, in document order.
class CWBXMLLiterals {
public:
    CWBXMLLiterals();
    ~CWBXMLLiterals();
    CWBXMLLiterals(const CWBXMLLiterals&) = delete;
    CWBXMLLiterals& operator=(const CWBXMLLiterals&) = delete;
    CWBXMLLiterals(CWBXMLLiterals&&) noexcept;
    CWBXMLLiterals& operator=(CWBXMLLiterals&&) noexcept;

    // Appends a node and returns it; the list owns it.
    CWBXMLLiteral& Add(int32_t codePage, int32_t token, std::string value = std::string());
    size_t Size() const { return nodes_.size(); }
    bool Empty() const { return nodes_.empty(); }
    const CWBXMLLiteral& operator[](size_t index) const { return *nodes_[index]; }
    CWBXMLLiteral& operator[](size_t index) { return *nodes_[index]; }
    // Destroys every node (and their subtrees).
    void Clear();

    auto begin() const { return nodes_.begin(); }
    auto end() const { return nodes_.end(); }

private:
    std::vector<std::unique_ptr<CWBXMLLiteral>> nodes_;
};

// One node: a field (value, no children) or a container (children, empty value).
struct CWBXMLLiteral {
    int32_t codePage = 0;
    int32_t token = 0;
    std::string value;
    // Absent for a leaf.
    std::unique_ptr<CWBXMLLiterals> children;
};

// A copy of the value of the first node of list (direct children only, in
// order) with that page and token; the empty text when there is none.
std::string FindValue(const CWBXMLLiterals& list, int32_t codePage, int32_t token);
