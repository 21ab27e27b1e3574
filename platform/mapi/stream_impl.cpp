// Property streams.
#include "platform/mapi/stream_impl.h"

#include <algorithm>
#include <cstring>

#include "platform/mapi/mapi_guids.h"

namespace mapistore {

namespace {

constexpr std::uint64_t kMaxStreamBytes = 512ull * 1024 * 1024;

class PropertyStream : public RefCounted<IStream> {
public:
    PropertyStream(PropCore* owner, ULONG propId, ULONG type, std::string initial, bool writable)
        : owner_(ComPtr<IUnknown>::Share(owner->Self())),
          core_(owner),
          propId_(propId),
          type_(type),
          data_(std::move(initial)),
          committed_(data_),
          writable_(writable) {}

    HRESULT QueryInterface(REFIID riid, LPVOID* ppv) override {
        if (ppv == nullptr) return MAPI_E_INVALID_PARAMETER;
        if (riid == IID_IUnknown || riid == IID_IStream) {
            AddRef();
            *ppv = static_cast<IStream*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        std::uint64_t left = pos_ < data_.size() ? data_.size() - pos_ : 0;
        ULONG n = static_cast<ULONG>(std::min<std::uint64_t>(left, cb));
        if (n > 0) std::memcpy(pv, data_.data() + pos_, n);
        pos_ += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
        if (!writable_) return STG_E_ACCESSDENIED;
        std::lock_guard<std::mutex> lock(mutex_);
        if (pos_ + cb > kMaxStreamBytes) return STG_E_MEDIUMFULL;
        if (data_.size() < pos_ + cb) data_.resize(static_cast<std::size_t>(pos_ + cb), '\0');
        if (cb > 0) std::memcpy(data_.data() + pos_, pv, cb);
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
                base = static_cast<std::int64_t>(data_.size());
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        std::int64_t target = base + move.QuadPart;
        if (target < 0 || static_cast<std::uint64_t>(target) > kMaxStreamBytes)
            return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<std::uint64_t>(target);
        if (newPos) newPos->QuadPart = pos_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        if (size.QuadPart > kMaxStreamBytes) return STG_E_MEDIUMFULL;
        std::lock_guard<std::mutex> lock(mutex_);
        data_.resize(static_cast<std::size_t>(size.QuadPart), '\0');
        return S_OK;
    }

    HRESULT Commit(DWORD) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        std::string copy;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            copy = data_;
        }
        HRESULT hr;
        {
            std::lock_guard<std::recursive_mutex> lock(core_->Mutex());
            hr = core_->WriteStreamBytes(propId_, type_, copy);
        }
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> lock(mutex_);
        committed_ = std::move(copy);
        return S_OK;
    }

    HRESULT Revert() override {
        std::lock_guard<std::mutex> lock(mutex_);
        data_ = committed_;
        if (pos_ > data_.size()) pos_ = data_.size();
        return S_OK;
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = data_.size();
        stat->grfMode = writable_ ? STGM_READWRITE : STGM_READ;
        return S_OK;
    }

private:
    ComPtr<IUnknown> owner_;
    PropCore* core_;
    ULONG propId_;
    ULONG type_;
    std::mutex mutex_;
    std::string data_;
    std::string committed_;
    std::uint64_t pos_ = 0;
    bool writable_;
};

}  // namespace

HRESULT CreatePropertyStream(PropCore* owner, ULONG propId, ULONG type, std::string initial,
                             bool writable, LPUNKNOWN* out) {
    *out = new PropertyStream(owner, propId, type, std::move(initial), writable);
    return S_OK;
}

}  // namespace mapistore
