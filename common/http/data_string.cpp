// CDataString: growable byte buffer.
#include "common/http/data_string.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/win/message_box.h"

CDataString::CDataString(size_t initialSize, size_t growthStep) { Init(initialSize, growthStep); }

CDataString::CDataString(const CDataString& other) { *this = other; }

CDataString& CDataString::operator=(const CDataString& other) {
    if (this == &other) return *this;
    initialSize_ = other.initialSize_;
    growthStep_ = other.growthStep_;
    Free();
    if (Reserve(std::max(other.length_ + 1, initialSize_), "CDataString::Realloc")) {
        std::memcpy(data_.get(), other.Data(), other.length_);
        length_ = other.length_;
        data_[length_] = 0;
    }
    bytesMode_ = other.bytesMode_;
    failed_ = other.failed_;
    return *this;
}

CDataString::CDataString(CDataString&& other) noexcept { *this = std::move(other); }

CDataString& CDataString::operator=(CDataString&& other) noexcept {
    if (this == &other) return *this;
    data_ = std::move(other.data_);
    length_ = other.length_;
    capacity_ = other.capacity_;
    initialSize_ = other.initialSize_;
    growthStep_ = other.growthStep_;
    bytesMode_ = other.bytesMode_;
    failed_ = other.failed_;
    other.length_ = 0;
    other.capacity_ = 0;
    other.bytesMode_ = false;
    return *this;
}

bool CDataString::Init(size_t initialSize, size_t growthStep) {
    Free();
    initialSize_ = std::max<size_t>(initialSize, 1);
    growthStep_ = std::max<size_t>(growthStep, 1);
    bytesMode_ = false;
    failed_ = false;
    return Reserve(initialSize_, "");
}

bool CDataString::Reset() { return Init(initialSize_, growthStep_); }

void CDataString::Free() {
    data_.reset();
    length_ = 0;
    capacity_ = 0;
}

size_t CDataString::Length() const { return length_; }

bool CDataString::Reserve(size_t needed, const char* caption) {
    if (needed <= capacity_) return true;
    size_t grown = capacity_ + growthStep_;
    grown = std::max(grown, capacity_ * 2);
    grown = std::max(grown, needed);
    return GrowTo(grown, caption);
}

bool CDataString::ReserveExactly(size_t total) {
    if (failed_) return false;
    if (total <= capacity_) return true;
    return GrowTo(total, "CDataString::Realloc");
}

bool CDataString::GrowTo(size_t grown, const char* caption) {
    std::unique_ptr<char[]> block(new (std::nothrow) char[grown]);
    if (!block) {
        Free();
        failed_ = true;
        ShowMessageBox("Out of Memory", caption);
        return false;
    }
    if (data_) std::memcpy(block.get(), data_.get(), length_);
    block[length_] = 0;
    data_ = std::move(block);
    capacity_ = grown;
    return true;
}

void CDataString::AppendBytes(size_t count, const void* bytes) {
    if (failed_) return;
    bytesMode_ = true;
    if (count == 0) return;
    // Keep some room free after the append, so small appends rarely reallocate.
    size_t slack = std::min(kAppendSlack, growthStep_);
    if (!Reserve(length_ + count + slack, "CDataString::Realloc")) return;
    std::memcpy(data_.get() + length_, bytes, count);
    length_ += count;
    data_[length_] = 0;
}

void CDataString::AppendText(const char* text) {
    if (text == nullptr || *text == 0) return;
    AppendText(std::string_view(text));
}

void CDataString::AppendText(std::string_view text) {
    if (failed_ || text.empty()) return;
    // A text ends at its first zero byte.
    size_t n = text.find('\0');
    if (n == std::string_view::npos) n = text.size();
    if (n == 0) return;
    if (!Reserve(length_ + n + kTextSlack, "CDataString::Realloc")) return;
    std::memcpy(data_.get() + length_, text.data(), n);
    length_ += n;
    data_[length_] = 0;
}

void CDataString::Truncate(size_t length) {
    if (length >= length_ || !data_) return;
    length_ = length;
    data_[length_] = 0;
}
