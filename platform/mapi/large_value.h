// Values too large to hold in memory: binary properties written through a stream
// beyond kLargeValueBytes. Their bytes stay on disk, in the store's chunk rows or,
// until the object is saved, in an unnamed spool file beside the store; a Value
// holds them by reference and readers take them piece by piece.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/mapi/mapi_codes.h"

namespace mapistore {

// A stream holds up to this many bytes in memory; beyond, it spools to a file and
// the value is stored in chunk rows.
constexpr std::uint64_t kLargeValueBytes = 1024 * 1024;
// The size of one chunk row.
constexpr std::size_t kBlobChunkBytes = 1024 * 1024;
// The largest value a stream or a whole read accepts.
constexpr std::uint64_t kMaxLargeValueBytes = 4ull * 1024 * 1024 * 1024;

// Read-only bytes of a large value.
class LargeBytes {
public:
    virtual ~LargeBytes() = default;
    virtual std::uint64_t Size() const = 0;
    // Up to n bytes from offset into out (replacing its content; fewer at the end).
    virtual HRESULT ReadAt(std::uint64_t offset, std::size_t n, std::string& out) const = 0;
};

// All bytes of a value into out, piece by piece. MAPI_E_NOT_ENOUGH_MEMORY beyond
// limit bytes.
HRESULT ReadWhole(const LargeBytes& bytes, std::uint64_t limit, std::string& out);

// An unnamed temporary file (gone with its last reference), in a directory's file
// system so that large values do not fill memory-backed /tmp.
class SpoolFile : public LargeBytes {
public:
    ~SpoolFile() override;
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // A new empty file in dir (the system's temporary directory when that fails).
    static HRESULT Create(const std::string& dir, std::shared_ptr<SpoolFile>& out);
    // A new file holding the bytes of source, copied piece by piece.
    static HRESULT CopyOf(const std::string& dir, const LargeBytes& source,
                          std::shared_ptr<SpoolFile>& out);

    std::uint64_t Size() const override { return size_; }
    HRESULT ReadAt(std::uint64_t offset, std::size_t n, std::string& out) const override;
    HRESULT WriteAt(std::uint64_t offset, const void* data, std::size_t n);
    HRESULT Resize(std::uint64_t size);

private:
    explicit SpoolFile(int fd) : fd_(fd) {}
    int fd_;
    std::uint64_t size_ = 0;
};

// The directory part of a file path ("." when there is none).
std::string DirectoryOf(const std::string& path);

}  // namespace mapistore
