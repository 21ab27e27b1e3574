// CDataString: the growable byte buffer into which messages are received and
// answers, documents and texts are assembled. The held bytes are always followed
// by a zero byte, so the buffer can be read as text.
//
// Growth is geometric (at least the growth step, at least doubling), so filling a
// large buffer costs few reallocations. A failed allocation reports "Out of Memory"
// through the message box sink, leaves the buffer empty and marks it failed; later
// appends are ignored until Init or Reset, so a caller can end its request cleanly.
//
// One object belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class CDataString {
public:
    static constexpr size_t kDefaultSize = 10240;
    // Bytes kept free after an append of up to one growth step.
    static constexpr size_t kAppendSlack = 512;
    // Spare bytes past a text append.
    static constexpr size_t kTextSlack = 100;

    explicit CDataString(size_t initialSize = kDefaultSize, size_t growthStep = kDefaultSize);
    CDataString(const CDataString& other);
    CDataString& operator=(const CDataString& other);
    CDataString(CDataString&& other) noexcept;
    CDataString& operator=(CDataString&& other) noexcept;
    ~CDataString() = default;

    // Frees the old block, allocates initialSize bytes, empties the buffer and
    // clears bytes mode. False (and an "Out of Memory" report) when the block
    // cannot be had.
    bool Init(size_t initialSize, size_t growthStep);
    // Init with the sizes the buffer already has.
    bool Reset();
    // Appends exactly count bytes, zeros included, and sets bytes mode.
    void AppendBytes(size_t count, const void* bytes);
    // Appends a zero-terminated text without its terminator; null or empty appends nothing.
    void AppendText(const char* text);
    void AppendText(std::string_view text);
    // Cuts the held bytes back to length (no effect when length is not smaller).
    void Truncate(size_t length);
    // Releases the block.
    void Free();
    // Makes room for total bytes at once (a body whose length is known), so the
    // buffer is not copied again while it fills. False (and the report) when the
    // block cannot be had.
    bool ReserveExactly(size_t total);

    // The exact length in bytes mode; otherwise the length of the held text.
    size_t Length() const;
    size_t Capacity() const { return capacity_; }
    bool IsBytesMode() const { return bytesMode_; }
    // True after an allocation failed (until Init/Reset).
    bool Failed() const { return failed_; }
    // The held bytes, followed by a zero byte; never null.
    const char* Data() const { return data_ ? data_.get() : ""; }
    char* MutableData() { return data_.get(); }
    std::string_view View() const { return std::string_view(Data(), Length()); }
    std::string ToString() const { return std::string(View()); }

private:
    bool Reserve(size_t needed, const char* caption);
    bool GrowTo(size_t capacity, const char* caption);

    std::unique_ptr<char[]> data_;
    size_t length_ = 0;
    size_t capacity_ = 0;
    size_t initialSize_ = kDefaultSize;
    size_t growthStep_ = kDefaultSize;
    bool bytesMode_ = false;
    bool failed_ = false;
};
