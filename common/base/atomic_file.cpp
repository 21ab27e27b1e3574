#include "common/base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "common/base/unique_fd.h"

namespace {

// The fault hook and the lock that guards it (tests set it, writers read it).
std::mutex gFaultHookMutex;
std::function<bool(FileWriteStep)> gFaultHook;

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// After a rename: the folder entry reaches the disk. A file system that cannot
// flush a folder has nothing more to offer; the file itself is in place then.
void SyncFolder(const std::string& path) {
    UniqueFd folder(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) fsync(folder.get());
}

FileWriteResult Failure(FileWriteStep step, const char* verb, const std::string& path, int error) {
    FileWriteResult result;
    result.ok = false;
    result.failedAt = step;
    result.error = std::string("cannot ") + verb + " " + path + ": " + std::strerror(error);
    return result;
}

FileWriteResult RenameIntoPlace(const std::string& temporary, const std::string& path) {
    int error = 0;
    if (FileWriteFaultInjected(FileWriteStep::Rename)) {
        error = EXDEV;
    } else if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(temporary.c_str());
        return Failure(FileWriteStep::Rename, "rename", path, error);
    }
    SyncFolder(path);
    return {};
}

}  // namespace

bool WriteAllTo(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void SetFileWriteFaultHook(std::function<bool(FileWriteStep)> hook) {
    std::lock_guard<std::mutex> lock(gFaultHookMutex);
    gFaultHook = std::move(hook);
}

bool FileWriteFaultInjected(FileWriteStep step) {
    std::lock_guard<std::mutex> lock(gFaultHookMutex);
    return gFaultHook && gFaultHook(step);
}

std::string TemporaryPathFor(const std::string& path, const AtomicWriteOptions& options) {
    return options.temporaryPerProcess ? path + ".tmp" + std::to_string(getpid()) : path + ".tmp";
}

FileWriteResult WriteFileAtomically(const std::string& path, std::string_view content,
                                    const AtomicWriteOptions& options) {
    const std::string temporary = TemporaryPathFor(path, options);
    const mode_t mode = options.ownerOnly ? 0600 : 0666;
    UniqueFd file(FileWriteFaultInjected(FileWriteStep::Open)
                      ? (errno = EACCES, -1)
                      : open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (file.get() < 0) return Failure(FileWriteStep::Open, "create", temporary, errno);
    const char* failedVerb = nullptr;
    FileWriteStep failedStep = FileWriteStep::Write;
    int error = 0;
    if (options.ownerOnly && fchmod(file.get(), 0600) != 0) {
        failedVerb = "mode";
        error = errno;
    } else if (FileWriteFaultInjected(FileWriteStep::Write)) {
        WriteAllTo(file.get(), content.substr(0, content.size() / 2));
        failedVerb = "write";
        error = ENOSPC;
    } else if (!WriteAllTo(file.get(), content)) {
        failedVerb = "write";
        error = errno;
    } else if (FileWriteFaultInjected(FileWriteStep::Sync)) {
        failedVerb = "flush";
        failedStep = FileWriteStep::Sync;
        error = EIO;
    } else if (fsync(file.get()) != 0) {
        failedVerb = "flush";
        failedStep = FileWriteStep::Sync;
        error = errno;
    }
    if (!file.Close() && failedVerb == nullptr) {
        failedVerb = "close";
        failedStep = FileWriteStep::Sync;
        error = errno;
    }
    if (failedVerb != nullptr) {
        unlink(temporary.c_str());
        return Failure(failedStep, failedVerb, path, error);
    }
    return RenameIntoPlace(temporary, path);
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error,
                         const AtomicWriteOptions& options) {
    FileWriteResult result = WriteFileAtomically(path, content, options);
    if (!result) error = result.error;
    return result.ok;
}

bool ReplaceWithTemporary(const std::string& temporary, const std::string& path,
                          std::string& error) {
    UniqueFd file(open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
    int failure = 0;
    if (file.get() < 0 || fsync(file.get()) != 0) {
        failure = errno;
    } else if (FileWriteFaultInjected(FileWriteStep::Sync)) {
        failure = EIO;
    }
    if (file.get() >= 0) file.Close();
    if (failure != 0) {
        unlink(temporary.c_str());
        error = Failure(FileWriteStep::Sync, "flush", path, failure).error;
        return false;
    }
    FileWriteResult result = RenameIntoPlace(temporary, path);
    if (!result) error = result.error;
    return result.ok;
}
