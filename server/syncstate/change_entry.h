// One detected change of a folder (new, modified, moved, deleted, read state) and
// the change list a folder keeps, plus move detection across the lists of several
// folders of one request.
//
// Thread use: plain values; a change list belongs to one folder object and is used
// by the request thread that synchronises its device.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CAbstractVantroFolder;

// Kinds of a change entry (the numbers travel into the answer as element states).
enum ChangeKind : int {
    kChangeNone = 0,  // absorbed into a move
    kChangeNew = 1,
    kChangeModified = 2,
    kChangeMoved = 3,
    kChangeDeleted = 4,
    kChangeReadState = 5,
};

class CAbstractChangeEntry {
public:
    virtual ~CAbstractChangeEntry() = default;

    virtual std::string GetKey() const = 0;
    virtual std::string GetSecondaryText() const = 0;
    virtual std::string GetSourcePath() const = 0;
    virtual std::string GetDestinationPath() const = 0;
    virtual void SetSecondaryText(const std::string& text) = 0;
    // The folder whose change list holds the entry (not owned).
    virtual void SetFolder(CAbstractVantroFolder* folder) = 0;
    virtual CAbstractVantroFolder* GetFolder() const = 0;
};

class CChangeEntry : public CAbstractChangeEntry {
public:
    CChangeEntry() = default;
    CChangeEntry(int kind, std::string key, std::string label)
        : key_(std::move(key)), label_(std::move(label)), kind_(kind) {}

    std::string GetKey() const override { return key_; }
    std::string GetSecondaryText() const override { return secondary_; }
    std::string GetSourcePath() const override { return sourcePath_; }
    std::string GetDestinationPath() const override { return destinationPath_; }
    void SetSecondaryText(const std::string& text) override { secondary_ = text; }
    void SetFolder(CAbstractVantroFolder* folder) override { folder_ = folder; }
    CAbstractVantroFolder* GetFolder() const override { return folder_; }

    virtual int GetKind() const { return kind_; }
    virtual void SetKind(int kind) { kind_ = kind; }

    const std::string& Key() const { return key_; }
    const std::string& Label() const { return label_; }
    void SetSourcePath(const std::string& path) { sourcePath_ = path; }
    void SetDestinationPath(const std::string& path) { destinationPath_ = path; }
    // For kind 3: the folder the item came from (not owned).
    CAbstractVantroFolder* GetSourceFolder() const { return sourceFolder_; }
    void SetSourceFolder(CAbstractVantroFolder* folder) { sourceFolder_ = folder; }
    // For kind 5: the new read state (0 or 1).
    int GetReadFlag() const { return readFlag_; }
    void SetReadFlag(int value) { readFlag_ = value; }

private:
    std::string key_;
    std::string secondary_;
    std::string label_;
    std::string sourcePath_;
    std::string destinationPath_;
    CAbstractVantroFolder* folder_ = nullptr;
    CAbstractVantroFolder* sourceFolder_ = nullptr;
    int kind_ = kChangeNone;
    int readFlag_ = 0;
};

// A folder's change list. Entries are held by pointer so that references handed
// out (GetChangeEntry, the request's collected entries) stay valid while the list
// grows; they end when the list is cleared or recomputed.
using ChangeList = std::vector<std::unique_ptr<CChangeEntry>>;

// The list as text, one line per entry: "<kind> <key> <label>", with
// " read=<flag>" for kind 5 and " from=<source path> to=<destination path>" for
// kind 3. For traces and tests.
std::string DumpChangeList(const ChangeList& list);

// Finds items that left one folder and appeared in another during the same
// request: for every entry N of kind new, in order, every entry D of kind deleted
// with the same key becomes kind none, and N becomes kind moved with D's folder as
// its source folder, destination path = pathOf(N's folder) and source path =
// pathOf(D's folder); the last such D decides the source. Deleted entries are
// indexed by key, so the work grows with the number of entries, not its square.
// Entries of other kinds are left alone; the pointers stay the caller's.
void DetectMoves(const std::vector<CChangeEntry*>& collected,
                 const std::function<std::string(CAbstractVantroFolder*)>& pathOf);
