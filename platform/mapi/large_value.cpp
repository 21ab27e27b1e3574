// Large values: spool files and whole reads.
#include "platform/mapi/large_value.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace mapistore {

namespace {

HRESULT ErrnoError(int err) {
    return err == ENOSPC || err == EDQUOT ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR;
}

int OpenUnnamed(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // File systems without O_TMPFILE: a named file, unlinked at once.
    std::string name = dir + "/.spool-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

}  // namespace

HRESULT ReadWhole(const LargeBytes& bytes, std::uint64_t limit, std::string& out) {
    const std::uint64_t size = bytes.Size();
    if (size > limit) return MAPI_E_NOT_ENOUGH_MEMORY;
    out.clear();
    out.reserve(static_cast<std::size_t>(size));
    std::string piece;
    while (out.size() < size) {
        HRESULT hr = bytes.ReadAt(out.size(), kBlobChunkBytes, piece);
        if (FAILED(hr)) return hr;
        if (piece.empty()) return MAPI_E_CORRUPT_DATA;
        out += piece;
    }
    return S_OK;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

SpoolFile::~SpoolFile() { ::close(fd_); }

HRESULT SpoolFile::Create(const std::string& dir, std::shared_ptr<SpoolFile>& out) {
    int fd = OpenUnnamed(dir);
    if (fd < 0) {
        const char* tmp = std::getenv("TMPDIR");
        fd = OpenUnnamed(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    }
    if (fd < 0) return ErrnoError(errno);
    out.reset(new SpoolFile(fd));
    return S_OK;
}

HRESULT SpoolFile::CopyOf(const std::string& dir, const LargeBytes& source,
                          std::shared_ptr<SpoolFile>& out) {
    std::shared_ptr<SpoolFile> copy;
    HRESULT hr = Create(dir, copy);
    if (FAILED(hr)) return hr;
    std::string piece;
    for (std::uint64_t at = 0; at < source.Size(); at += piece.size()) {
        if (FAILED(hr = source.ReadAt(at, kBlobChunkBytes, piece))) return hr;
        if (piece.empty()) return MAPI_E_CORRUPT_DATA;
        if (FAILED(hr = copy->WriteAt(at, piece.data(), piece.size()))) return hr;
    }
    out = std::move(copy);
    return S_OK;
}

HRESULT SpoolFile::ReadAt(std::uint64_t offset, std::size_t n, std::string& out) const {
    out.clear();
    if (offset >= size_) return S_OK;
    if (n > size_ - offset) n = static_cast<std::size_t>(size_ - offset);
    out.resize(n);
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(fd_, out.data() + got, n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            out.clear();
            return r < 0 ? ErrnoError(errno) : MAPI_E_CORRUPT_DATA;
        }
        got += static_cast<std::size_t>(r);
    }
    return S_OK;
}

HRESULT SpoolFile::WriteAt(std::uint64_t offset, const void* data, std::size_t n) {
    if (offset + n > kMaxLargeValueBytes) return MAPI_E_NOT_ENOUGH_DISK;
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return ErrnoError(w < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(w);
    }
    if (offset + n > size_) size_ = offset + n;
    return S_OK;
}

HRESULT SpoolFile::Resize(std::uint64_t size) {
    if (size > kMaxLargeValueBytes) return MAPI_E_NOT_ENOUGH_DISK;
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return ErrnoError(errno);
    size_ = size;
    return S_OK;
}

}  // namespace mapistore
