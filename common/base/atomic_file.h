// The one way files are replaced: the new content goes to a temporary file beside
// the target, is flushed to the disk, renamed over the target, and the folder is
// flushed so the rename survives a crash. A reader sees the old file or the new
// one, never a part.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Steps at which a test may make a write fail (CreateFolder is the step of the
// writers that create the target's folder first).
enum class FileWriteStep { CreateFolder, Open, Write, Sync, Rename };

// hook(step) returning true makes that step fail (at Write: after half the
// content has reached the temporary file, as a full disk would). An empty hook
// removes it. Any thread; the hook is called under a lock.
void SetFileWriteFaultHook(std::function<bool(FileWriteStep)> hook);
// True when the hook makes step fail now.
bool FileWriteFaultInjected(FileWriteStep step);

struct AtomicWriteOptions {
    // Mode 0600 (also when a temporary file was left from before); false: 0666
    // less the umask, as an ordinary new file.
    bool ownerOnly = true;
    // The temporary file is named path.tmp<process id> rather than path.tmp, so
    // two processes replacing one file do not share it.
    bool temporaryPerProcess = false;
};

struct FileWriteResult {
    bool ok = true;
    FileWriteStep failedAt = FileWriteStep::Open;
    // "cannot create <temporary>: <reason>", or "cannot <step> <path>: <reason>".
    std::string error;
    explicit operator bool() const { return ok; }
};

// Writes every byte to the open descriptor fd, again after a short write or an
// interrupted call; false on any other failure (errno tells which).
bool WriteAllTo(int fd, std::string_view bytes);

// Replaces path with content. On any failure the temporary file is removed and
// path keeps its previous content (or stays absent).
FileWriteResult WriteFileAtomically(const std::string& path, std::string_view content,
                                    const AtomicWriteOptions& options = {});
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error,
                         const AtomicWriteOptions& options = {});

// The same last steps for a temporary file written by other means: flushes it,
// renames it over path and flushes the folder; removes it on failure.
bool ReplaceWithTemporary(const std::string& temporary, const std::string& path,
                          std::string& error);

// The name WriteFileAtomically gives the temporary file of path.
std::string TemporaryPathFor(const std::string& path, const AtomicWriteOptions& options = {});
