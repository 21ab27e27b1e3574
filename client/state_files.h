// Skiff's state files in its data folder.
//
// Snapshot (".dat", binary, little-endian): records of
//   object identifier (4 bytes) | length (4 bytes) | data (length bytes)
// where data is the item's snapshot document (03 01 6A 00, then COLLECTION with its
// fields). An end record has identifier 0 and length 0 and no data.
// Reading stops at the end record; at the end of the file without one (the records
// read whole still count, a partial one is dropped); and at a length above
// kMaxSnapshotRecord (a damaged file must not make the reader allocate gigabytes).
// A snapshot is written to a temporary file and renamed over the old one when it is
// complete, so a run that dies while writing leaves the previous snapshot intact.
//
// Server-id map (".txt"): one line "%s=%s\n" per entry (server ID, client ID), in
// the order of the server IDs. Written the same atomic way. Reading takes each line
// up to its first "="; lines without one, or with an empty server ID, are skipped.
//
// Objects belong to one thread at a time.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

constexpr uint32_t kMaxSnapshotRecord = 16u << 20;

class SnapshotReader {
public:
    enum Result { kRecord, kEnd };
    // Opens the file; false when it cannot be opened (a missing snapshot).
    bool Open(const std::string& path);
    bool IsOpen() const { return file_.is_open(); }
    // The next record into oid and data. kEnd at the end record, at the end of the
    // file, after a cut record or an overlong length (the file is then closed).
    Result Next(uint32_t& oid, std::string& data);
    void Close() { file_.close(); }
    // Records returned so far.
    int RecordsRead() const { return records_; }

private:
    std::ifstream file_;
    int records_ = 0;
};

class SnapshotWriter {
public:
    SnapshotWriter() = default;
    ~SnapshotWriter();  // an unfinished snapshot is discarded; the old file stays
    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    // Starts a snapshot for path; false when the temporary file cannot be created.
    bool Open(const std::string& path);
    void Add(uint32_t oid, const char* data, size_t length);
    // Writes the end record and puts the file in place. False when anything failed
    // (the old snapshot then stays as it was).
    bool Finish();

private:
    std::ofstream file_;
    std::string path_, temp_;
};

using IdMap = std::map<std::string, std::string>;  // server ID -> client ID

// Writes the map atomically; false when the file could not be written (the old one stays).
bool WriteIdMap(const std::string& path, const IdMap& map);
// Reads a map file; false when it cannot be opened (map left empty).
bool ReadIdMap(const std::string& path, IdMap& map);
// Appends the line "server=client\n" with one write; false when that failed.
bool AppendIdMapEntry(const std::string& path, const std::string& serverId,
                      const std::string& clientId);

// A file of lines (AckStrings, ClientIDs, store.txt): written atomically, one text
// per line; an empty list removes the file. Texts holding a line break or nothing
// are left out (they could not be read back as one text). False when the file
// could not be written or removed.
bool WriteLineFile(const std::string& path, const std::vector<std::string>& lines);
// The lines of the file (empty lines skipped, a CR before the LF dropped); empty
// when there is no file.
std::vector<std::string> ReadLineFile(const std::string& path);

constexpr const char* kAckFileName = "acknowledge.txt";

// The pending AckStrings (a line file).
inline bool WriteAckStrings(const std::string& path, const std::vector<std::string>& acks) {
    return WriteLineFile(path, acks);
}
inline std::vector<std::string> ReadAckStrings(const std::string& path) {
    return ReadLineFile(path);
}
