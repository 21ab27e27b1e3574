// CSortedVectorMap: a map kept as one vector of (key, value) pairs sorted by key,
// for the few dozen fields of an item: one allocation for all of them instead of
// one per entry, and entries side by side in memory. Lookups are binary searches;
// an insertion in key order (as a file written in order is read back) appends.
// Unlike std::map, every insertion and erasure invalidates iterators and
// references into the map.
//
// Thread use: none of its own; an object belongs to its owner's thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

template <class Key, class Value>
class CSortedVectorMap {
public:
    using value_type = std::pair<Key, Value>;
    using iterator = typename std::vector<value_type>::iterator;
    using const_iterator = typename std::vector<value_type>::const_iterator;

    CSortedVectorMap() = default;
    // As std::map: of a key named twice the first entry counts.
    CSortedVectorMap(std::initializer_list<value_type> list) {
        entries_.reserve(list.size());
        for (const value_type& entry : list) emplace(entry.first, entry.second);
    }

    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void clear() { entries_.clear(); }

    iterator find(const Key& key) {
        iterator at = LowerBound(key);
        return at != entries_.end() && at->first == key ? at : entries_.end();
    }
    const_iterator find(const Key& key) const {
        const_iterator at = LowerBound(key);
        return at != entries_.end() && at->first == key ? at : entries_.end();
    }
    size_t count(const Key& key) const { return find(key) != end() ? 1 : 0; }
    const Value& at(const Key& key) const {
        const_iterator found = find(key);
        if (found == end()) throw std::out_of_range("CSortedVectorMap::at");
        return found->second;
    }

    Value& operator[](const Key& key) { return emplace(key, Value()).first->second; }

    // Inserts (key, value) unless key is there; the entry and whether it was inserted.
    std::pair<iterator, bool> emplace(const Key& key, Value value) {
        iterator at = LowerBound(key);
        if (at != entries_.end() && at->first == key) return {at, false};
        return {entries_.emplace(at, key, std::move(value)), true};
    }
    // Sets key to value; a hint at the end makes an insertion in key order an append.
    iterator insert_or_assign(const_iterator hint, const Key& key, Value value) {
        if (hint == entries_.end() && (entries_.empty() || entries_.back().first < key)) {
            entries_.emplace_back(key, std::move(value));
            return entries_.end() - 1;
        }
        auto [at, inserted] = emplace(key, Value());
        at->second = std::move(value);
        return at;
    }
    iterator insert_or_assign(const Key& key, Value value) {
        return insert_or_assign(entries_.begin(), key, std::move(value));
    }

    size_t erase(const Key& key) {
        iterator found = find(key);
        if (found == entries_.end()) return 0;
        entries_.erase(found);
        return 1;
    }
    iterator erase(const_iterator at) { return entries_.erase(at); }

    friend bool operator==(const CSortedVectorMap& a, const CSortedVectorMap& b) {
        return a.entries_ == b.entries_;
    }
    friend bool operator!=(const CSortedVectorMap& a, const CSortedVectorMap& b) {
        return !(a == b);
    }

private:
    iterator LowerBound(const Key& key) {
        return std::lower_bound(
            entries_.begin(), entries_.end(), key,
            [](const value_type& entry, const Key& k) { return entry.first < k; });
    }
    const_iterator LowerBound(const Key& key) const {
        return std::lower_bound(
            entries_.begin(), entries_.end(), key,
            [](const value_type& entry, const Key& k) { return entry.first < k; });
    }

    std::vector<value_type> entries_;  // sorted by key, each key once
};
