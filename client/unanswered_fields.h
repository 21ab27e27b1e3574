// UnansweredFields: the fields of a folder's Modifies whose answer never came back
// (lost, or a run ended or stopped before the answer was applied). The desktop may
// hold them as sent or not at all, so the snapshot alone cannot tell whether an
// item differs from what the desktop holds: a field set back to its snapshot value
// after such a Modify would never travel. Until an answer is applied, every such
// field goes again with the item's next Modify, whatever the snapshot says.
//
// File "<folder>.unanswered", one item a line: its ClientID, a tab, the field tags
// in decimal separated by commas. Written atomically; no entries removes the file.
// Older versions do not know the file and pass it over.
//
// Owned by its SyncFolder; one thread at a time.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

class UnansweredFields {
public:
    explicit UnansweredFields(std::string path) : path_(std::move(path)) {}

    // Reads the file; oidOf gives an item's identifier for its ClientID (0 for none
    // of this folder's store: the line is passed over, as are unreadable lines).
    void Load(const std::function<long(std::string_view)>& oidOf);
    // Writes the file; clientIdOf gives an item's ClientID. False when it could not
    // be written.
    bool Save(const std::function<std::string(long)>& clientIdOf) const;

    // The fields of a Modify of oid that was sent, added to those noted before.
    void Note(long oid, const std::set<int>& tags);
    // The fields of oid still unanswered, or null when there are none.
    const std::set<int>* Of(long oid) const;
    // An answer was applied: the desktop holds what every Modify carried.
    void Clear() { fields_.clear(); }
    bool Empty() const { return fields_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::map<long, std::set<int>> fields_;
};
