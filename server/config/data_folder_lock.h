// CDataFolderLock: the lock a running server holds on its data folder, so that
// command-line tools that rewrite user files ("corvel user add") refuse to run
// beside it. The lock is an advisory lock on the file "corvel.lock" in the data
// folder; it ends with the process, so a crashed server leaves nothing stale.
//
// Thread use: one owner; the lock is held for the object's lifetime.
#pragma once

#include <string>

inline constexpr const char* kDataFolderLockName = "corvel.lock";

class CDataFolderLock {
public:
    CDataFolderLock() = default;
    CDataFolderLock(const CDataFolderLock&) = delete;
    CDataFolderLock& operator=(const CDataFolderLock&) = delete;
    ~CDataFolderLock();

    // Takes the lock of dataFolder (creating the lock file, mode 0600). False when
    // another process holds it, or with a reason in error when the file cannot be
    // made.
    bool TryAcquire(const std::string& dataFolder, std::string& error);
    bool IsHeld() const { return fd_ >= 0; }
    // After a failed TryAcquire: true when another process held the lock (rather
    // than the file failing).
    bool HeldByAnother() const { return heldByAnother_; }
    void Release();

private:
    int fd_ = -1;
    bool heldByAnother_ = false;
};
