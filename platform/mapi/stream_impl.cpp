// Property streams.
#include "platform/mapi/stream_impl.h"

#include <algorithm>
#include <cstring>

#include "platform/mapi/mapi_guids.h"

namespace mapistore {

namespace {

// Strings are held in memory (they are converted whole on Commit).
constexpr std::uint64_t kMaxTextStreamBytes = 512ull * 1024 * 1024;

class PropertyStream : public RefCounted<IStream> {
public:
    PropertyStream(PropCore* owner, ULONG propId, ULONG type, std::string initial,
                   std::shared_ptr<const LargeBytes> large, bool writable)
        : owner_(ComPtr<IUnknown>::Share(owner->Self())),
          core_(owner),
          propId_(propId),
          type_(type),
          mem_(std::move(initial)),
          large_(std::move(large)),
          committedLarge_(large_),
          writable_(writable) {
        if (writable_) committedMem_ = mem_;
    }

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        return AnswerQueryInterface<IStream>(this, riid, ppv, IID_IStream);
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        if (pcbRead) *pcbRead = 0;
        std::lock_guard<std::mutex> lock(mutex_);
        if (large_ == nullptr) {
            std::uint64_t left = pos_ < mem_.size() ? mem_.size() - pos_ : 0;
            ULONG n = static_cast<ULONG>(std::min<std::uint64_t>(left, cb));
            if (n > 0) std::memcpy(pv, mem_.data() + pos_, n);
            pos_ += n;
            if (pcbRead) *pcbRead = n;
            return S_OK;
        }
        ULONG done = 0;
        while (done < cb && pos_ < large_->Size()) {
            HRESULT hr = large_->ReadAt(pos_, cb - done, piece_);
            if (FAILED(hr)) return hr;
            if (piece_.empty()) break;
            std::memcpy(static_cast<char*>(pv) + done, piece_.data(), piece_.size());
            done += static_cast<ULONG>(piece_.size());
            pos_ += piece_.size();
        }
        if (pcbRead) *pcbRead = done;
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        if (!writable_) return STG_E_ACCESSDENIED;
        std::lock_guard<std::mutex> lock(mutex_);
        if (pos_ + cb > MaxBytes()) return STG_E_MEDIUMFULL;
        if (large_ == nullptr && Spools(pos_ + cb)) {
            HRESULT hr = Spill();
            if (FAILED(hr)) return hr;
        }
        if (large_ != nullptr) {
            HRESULT hr = Own();
            if (FAILED(hr)) return hr;
            if (FAILED(hr = own_->WriteAt(pos_, pv, cb))) return hr;
        } else {
            if (mem_.size() < pos_ + cb) mem_.resize(static_cast<std::size_t>(pos_ + cb), '\0');
            if (cb > 0) std::memcpy(mem_.data() + pos_, pv, cb);
        }
        pos_ += cb;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::int64_t base;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<std::int64_t>(pos_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<std::int64_t>(Size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        std::int64_t target = base + move.QuadPart;
        if (target < 0 || static_cast<std::uint64_t>(target) > MaxBytes())
            return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<std::uint64_t>(target);
        if (newPos) newPos->QuadPart = pos_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        if (size.QuadPart > MaxBytes()) return STG_E_MEDIUMFULL;
        std::lock_guard<std::mutex> lock(mutex_);
        HRESULT hr = S_OK;
        if (large_ == nullptr && Spools(size.QuadPart) && FAILED(hr = Spill())) return hr;
        if (large_ == nullptr) {
            mem_.resize(static_cast<std::size_t>(size.QuadPart), '\0');
            return S_OK;
        }
        if (FAILED(hr = Own())) return hr;
        return own_->Resize(size.QuadPart);
    }

    HRESULT Commit(DWORD) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        std::lock_guard<std::mutex> lock(mutex_);
        HRESULT hr;
        if (large_ != nullptr) {
            {
                std::lock_guard<std::recursive_mutex> store(core_->Mutex());
                hr = core_->WriteStreamLarge(propId_, large_);
            }
            if (FAILED(hr)) return hr;
            // The object holds these bytes now: a later write works on a copy.
            own_.reset();
            committedLarge_ = large_;
            committedMem_.clear();
            return S_OK;
        }
        {
            std::lock_guard<std::recursive_mutex> store(core_->Mutex());
            hr = core_->WriteStreamBytes(propId_, type_, mem_);
        }
        if (FAILED(hr)) return hr;
        committedMem_ = mem_;
        committedLarge_.reset();
        return S_OK;
    }

    HRESULT Revert() override {
        std::lock_guard<std::mutex> lock(mutex_);
        mem_ = committedMem_;
        large_ = committedLarge_;
        own_.reset();
        pos_ = std::min<std::uint64_t>(pos_, Size());
        return S_OK;
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = Size();
        stat->grfMode = writable_ ? STGM_READWRITE : STGM_READ;
        return S_OK;
    }

private:
    std::uint64_t Size() const { return large_ != nullptr ? large_->Size() : mem_.size(); }
    std::uint64_t MaxBytes() const {
        return type_ == PT_BINARY ? kMaxLargeValueBytes : kMaxTextStreamBytes;
    }
    bool Spools(std::uint64_t size) const { return type_ == PT_BINARY && size > kLargeValueBytes; }
    std::string SpoolDirectory() const { return DirectoryOf(core_->store()->path()); }

    // The bytes in memory move to a new spool file.
    HRESULT Spill() {
        std::shared_ptr<SpoolFile> spool;
        HRESULT hr = SpoolFile::Create(SpoolDirectory(), spool);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = spool->WriteAt(0, mem_.data(), mem_.size()))) return hr;
        std::string().swap(mem_);
        own_ = spool;
        large_ = std::move(spool);
        return S_OK;
    }

    // A spool file of this stream's own to write into (a copy of shared bytes).
    HRESULT Own() {
        if (own_ != nullptr) return S_OK;
        std::shared_ptr<SpoolFile> copy;
        HRESULT hr = SpoolFile::CopyOf(SpoolDirectory(), *large_, copy);
        if (FAILED(hr)) return hr;
        own_ = copy;
        large_ = std::move(copy);
        return S_OK;
    }

    ComPtr<IUnknown> owner_;
    PropCore* core_;
    ULONG propId_;
    ULONG type_;
    std::mutex mutex_;  // guards everything below
    std::string mem_;
    std::shared_ptr<const LargeBytes> large_;  // set: the bytes are there, not in mem_
    std::shared_ptr<SpoolFile> own_;           // large_ when it may be written into
    std::string committedMem_;
    std::shared_ptr<const LargeBytes> committedLarge_;
    std::string piece_;
    std::uint64_t pos_ = 0;
    bool writable_;
};

}  // namespace

HRESULT CreatePropertyStream(PropCore* owner, ULONG propId, ULONG type, std::string initial,
                             std::shared_ptr<const LargeBytes> large, bool writable,
                             LPUNKNOWN* out) {
    *out = new PropertyStream(owner, propId, type, std::move(initial), std::move(large), writable);
    return S_OK;
}

}  // namespace mapistore
