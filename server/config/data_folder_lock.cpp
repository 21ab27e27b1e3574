// The data folder lock of a running server.
#include "server/config/data_folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CDataFolderLock::~CDataFolderLock() { Release(); }

bool CDataFolderLock::TryAcquire(const std::string& dataFolder, std::string& error) {
    Release();
    heldByAnother_ = false;
    std::string path = dataFolder + "/" + kDataFolderLockName;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        heldByAnother_ = errno == EWOULDBLOCK;
        error = errno == EWOULDBLOCK ? "a running server holds " + dataFolder
                                     : path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void CDataFolderLock::Release() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}
