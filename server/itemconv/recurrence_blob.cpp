#include "server/itemconv/recurrence_blob.h"

namespace {

constexpr std::size_t kMaxBlobString = 0xFFFE;

class Writer {
public:
    void U16(std::uint16_t v) {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void Bytes(const std::vector<std::uint8_t>& b) { out_.insert(out_.end(), b.begin(), b.end()); }
    void Block(const std::vector<std::uint8_t>& b) {
        U32(static_cast<std::uint32_t>(b.size()));
        Bytes(b);
    }
    // 8-bit string with its two lengths (characters + 1, characters).
    void String8(const std::string& s) {
        std::size_t n = s.size() < kMaxBlobString ? s.size() : kMaxBlobString;
        U16(static_cast<std::uint16_t>(n + 1));
        U16(static_cast<std::uint16_t>(n));
        out_.insert(out_.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    }
    void String16(const std::u16string& s) {
        std::size_t n = s.size() < 0xFFFF ? s.size() : 0xFFFF;
        U16(static_cast<std::uint16_t>(n));
        for (std::size_t i = 0; i < n; ++i) U16(static_cast<std::uint16_t>(s[i]));
    }
    std::vector<std::uint8_t> Take() { return std::move(out_); }

private:
    std::vector<std::uint8_t> out_;
};

// Reads little-endian fields; any read past the end marks the reader failed and
// yields zeros, so a caller checks ok() once per structure.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}

    bool ok() const { return ok_; }
    std::size_t remaining() const { return ok_ ? in_.size() - pos_ : 0; }
    std::size_t position() const { return pos_; }

    std::uint16_t U16() {
        if (!Need(2)) return 0;
        std::uint16_t v = static_cast<std::uint16_t>(in_[pos_] | (in_[pos_ + 1] << 8));
        pos_ += 2;
        return v;
    }
    std::uint32_t U32() {
        if (!Need(4)) return 0;
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | in_[pos_ + static_cast<std::size_t>(i)];
        pos_ += 4;
        return v;
    }
    std::vector<std::uint8_t> Bytes(std::size_t n) {
        if (!Need(n)) return {};
        std::vector<std::uint8_t> b(in_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                    in_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return b;
    }
    std::vector<std::uint8_t> Block() { return Bytes(U32()); }
    std::vector<std::uint32_t> Dates() {
        std::uint32_t count = U32();
        if (!Need(static_cast<std::size_t>(count) * 4)) return {};
        std::vector<std::uint32_t> dates;
        dates.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) dates.push_back(U32());
        return dates;
    }
    std::string String8() {
        U16();  // characters + 1; the second length is the one that counts
        std::uint16_t n = U16();
        if (n > kMaxBlobString) Bytes(in_.size() + 1);  // its first length cannot hold n + 1
        std::vector<std::uint8_t> b = Bytes(n);
        return std::string(b.begin(), b.end());
    }
    std::u16string String16() {
        std::uint16_t n = U16();
        if (!Need(static_cast<std::size_t>(n) * 2)) return {};
        std::u16string s;
        for (std::uint16_t i = 0; i < n; ++i) s += static_cast<char16_t>(U16());
        return s;
    }

private:
    bool Need(std::size_t n) {
        if (!ok_ || in_.size() - pos_ < n) {
            ok_ = false;
            return false;
        }
        return true;
    }

    std::span<const std::uint8_t> in_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

void WriteExceptionInfo(Writer& w, const CRecurExceptionInfo& e) {
    w.U32(e.startDateTime);
    w.U32(e.endDateTime);
    w.U32(e.originalStartDate);
    w.U16(e.overrideFlags);
    if (e.overrideFlags & kOverrideSubject) w.String8(e.subject);
    if (e.overrideFlags & kOverrideMeetingType) w.U32(e.meetingType);
    if (e.overrideFlags & kOverrideReminderDelta) w.U32(e.reminderDelta);
    if (e.overrideFlags & kOverrideReminderSet) w.U32(e.reminderSet);
    if (e.overrideFlags & kOverrideLocation) w.String8(e.location);
    if (e.overrideFlags & kOverrideBusyStatus) w.U32(e.busyStatus);
    if (e.overrideFlags & kOverrideAttachment) w.U32(e.attachment);
    if (e.overrideFlags & kOverrideAllDay) w.U32(e.subType);
    if (e.overrideFlags & kOverrideColor) w.U32(e.appointmentColor);
}

CRecurExceptionInfo ReadExceptionInfo(Reader& r) {
    CRecurExceptionInfo e;
    e.startDateTime = r.U32();
    e.endDateTime = r.U32();
    e.originalStartDate = r.U32();
    e.overrideFlags = r.U16();
    if (e.overrideFlags & kOverrideSubject) e.subject = r.String8();
    if (e.overrideFlags & kOverrideMeetingType) e.meetingType = r.U32();
    if (e.overrideFlags & kOverrideReminderDelta) e.reminderDelta = r.U32();
    if (e.overrideFlags & kOverrideReminderSet) e.reminderSet = r.U32();
    if (e.overrideFlags & kOverrideLocation) e.location = r.String8();
    if (e.overrideFlags & kOverrideBusyStatus) e.busyStatus = r.U32();
    if (e.overrideFlags & kOverrideAttachment) e.attachment = r.U32();
    if (e.overrideFlags & kOverrideAllDay) e.subType = r.U32();
    if (e.overrideFlags & kOverrideColor) e.appointmentColor = r.U32();
    return e;
}

bool HasTextOverride(std::uint16_t flags) {
    return (flags & (kOverrideSubject | kOverrideLocation)) != 0;
}

void WriteExtended(Writer& w, const CRecurExtendedException& x, std::uint16_t flags,
                   bool highlight) {
    if (highlight) {
        w.U32(x.changeHighlightSize);
        w.U32(x.changeHighlightValue);
        w.Bytes(x.changeHighlightReserved);
    }
    w.Block(x.reservedEE1);
    if (!HasTextOverride(flags)) return;
    w.U32(x.startDateTime);
    w.U32(x.endDateTime);
    w.U32(x.originalStartDate);
    if (flags & kOverrideSubject) w.String16(x.subject);
    if (flags & kOverrideLocation) w.String16(x.location);
    w.Block(x.reservedEE2);
}

CRecurExtendedException ReadExtended(Reader& r, std::uint16_t flags, bool highlight) {
    CRecurExtendedException x;
    if (highlight) {
        x.changeHighlightSize = r.U32();
        x.changeHighlightValue = r.U32();
        // The size counts the value and what follows it.
        if (x.changeHighlightSize < 4) {
            r.Bytes(r.remaining() + 1);  // malformed: fail the reader
            return x;
        }
        x.changeHighlightReserved = r.Bytes(x.changeHighlightSize - 4);
    }
    x.reservedEE1 = r.Block();
    if (!HasTextOverride(flags)) return x;
    x.startDateTime = r.U32();
    x.endDateTime = r.U32();
    x.originalStartDate = r.U32();
    if (flags & kOverrideSubject) x.subject = r.String16();
    if (flags & kOverrideLocation) x.location = r.String16();
    x.reservedEE2 = r.Block();
    return x;
}

// Reads the tail after the ExceptionInfo array in the document's full form; false
// when it does not fit exactly.
bool ReadFullTail(std::span<const std::uint8_t> tail, CRecurrenceBlob& blob) {
    Reader r(tail);
    blob.reservedBlock1 = r.Block();
    bool highlight = blob.writerVersion2 >= 0x3009;
    for (const CRecurExceptionInfo& e : blob.exceptions) {
        blob.extendedExceptions.push_back(ReadExtended(r, e.overrideFlags, highlight));
        if (!r.ok()) return false;
    }
    blob.reservedBlock2 = r.Block();
    return r.ok() && r.remaining() == 0;
}

}  // namespace

std::optional<std::size_t> PatternSpecificSize(std::uint16_t patternType) {
    switch (patternType) {
        case kPatternDay:
            return 0;
        case kPatternWeek:
        case kPatternMonth:
        case kPatternMonthEnd:
        case kPatternHjMonth:
        case kPatternHjMonthEnd:
            return 4;
        case kPatternMonthNth:
        case kPatternHjMonthNth:
            return 8;
        default:
            return std::nullopt;
    }
}

std::vector<std::uint8_t> EncodeRecurrenceBlob(const CRecurrenceBlob& blob) {
    Writer w;
    w.U16(blob.readerVersion);
    w.U16(blob.writerVersion);
    w.U16(blob.recurFrequency);
    w.U16(blob.patternType);
    w.U16(blob.calendarType);
    w.U32(blob.firstDateTime);
    w.U32(blob.period);
    w.U32(blob.slidingFlag);
    std::size_t specific = PatternSpecificSize(blob.patternType).value_or(0);
    if (specific >= 4) w.U32(blob.patternSpecific1);
    if (specific >= 8) w.U32(blob.patternSpecific2);
    w.U32(blob.endType);
    w.U32(blob.occurrenceCount);
    w.U32(blob.firstDOW);
    w.U32(static_cast<std::uint32_t>(blob.deletedInstanceDates.size()));
    for (std::uint32_t d : blob.deletedInstanceDates) w.U32(d);
    w.U32(static_cast<std::uint32_t>(blob.modifiedInstanceDates.size()));
    for (std::uint32_t d : blob.modifiedInstanceDates) w.U32(d);
    w.U32(blob.startDate);
    w.U32(blob.endDate);
    w.U32(blob.readerVersion2);
    w.U32(blob.writerVersion2);
    w.U32(blob.startTimeOffset);
    w.U32(blob.endTimeOffset);
    w.U16(static_cast<std::uint16_t>(blob.exceptions.size()));
    for (const CRecurExceptionInfo& e : blob.exceptions) WriteExceptionInfo(w, e);
    switch (blob.tail) {
        case CRecurTail::kNone:
            break;
        case CRecurTail::kReservedOnly:
            w.Block(blob.reservedBlock1);
            w.Block(blob.reservedBlock2);
            break;
        case CRecurTail::kFull: {
            w.Block(blob.reservedBlock1);
            bool highlight = blob.writerVersion2 >= 0x3009;
            for (std::size_t i = 0; i < blob.exceptions.size(); ++i) {
                CRecurExtendedException empty;
                if (highlight) empty.changeHighlightSize = 4;
                const CRecurExtendedException& x =
                    i < blob.extendedExceptions.size() ? blob.extendedExceptions[i] : empty;
                WriteExtended(w, x, blob.exceptions[i].overrideFlags, highlight);
            }
            w.Block(blob.reservedBlock2);
            break;
        }
        case CRecurTail::kRaw:
            w.Bytes(blob.rawTail);
            break;
    }
    return w.Take();
}

std::optional<CRecurrenceBlob> DecodeRecurrenceBlob(std::span<const std::uint8_t> bytes) {
    Reader r(bytes);
    CRecurrenceBlob blob;
    blob.readerVersion = r.U16();
    blob.writerVersion = r.U16();
    blob.recurFrequency = r.U16();
    blob.patternType = r.U16();
    blob.calendarType = r.U16();
    blob.firstDateTime = r.U32();
    blob.period = r.U32();
    blob.slidingFlag = r.U32();
    std::optional<std::size_t> specific = PatternSpecificSize(blob.patternType);
    if (!specific) return std::nullopt;
    if (*specific >= 4) blob.patternSpecific1 = r.U32();
    if (*specific >= 8) blob.patternSpecific2 = r.U32();
    blob.endType = r.U32();
    blob.occurrenceCount = r.U32();
    blob.firstDOW = r.U32();
    blob.deletedInstanceDates = r.Dates();
    blob.modifiedInstanceDates = r.Dates();
    blob.startDate = r.U32();
    blob.endDate = r.U32();
    blob.readerVersion2 = r.U32();
    blob.writerVersion2 = r.U32();
    blob.startTimeOffset = r.U32();
    blob.endTimeOffset = r.U32();
    std::uint16_t exceptionCount = r.U16();
    // Each ExceptionInfo takes at least 14 bytes: refuse counts the rest cannot hold
    // before reserving anything.
    if (!r.ok() || static_cast<std::size_t>(exceptionCount) * 14 > r.remaining())
        return std::nullopt;
    for (std::uint16_t i = 0; i < exceptionCount; ++i) {
        blob.exceptions.push_back(ReadExceptionInfo(r));
        if (!r.ok()) return std::nullopt;
    }

    std::span<const std::uint8_t> tail = bytes.subspan(r.position());
    if (tail.empty()) {
        blob.tail = CRecurTail::kNone;
        return blob;
    }
    if (ReadFullTail(tail, blob)) {
        blob.tail = CRecurTail::kFull;
        return blob;
    }
    blob.extendedExceptions.clear();
    blob.reservedBlock1.clear();
    blob.reservedBlock2.clear();
    Reader sizes(tail);
    blob.reservedBlock1 = sizes.Block();
    blob.reservedBlock2 = sizes.Block();
    if (sizes.ok() && sizes.remaining() == 0) {
        blob.tail = CRecurTail::kReservedOnly;
        return blob;
    }
    blob.reservedBlock1.clear();
    blob.reservedBlock2.clear();
    blob.tail = CRecurTail::kRaw;
    blob.rawTail.assign(tail.begin(), tail.end());
    return blob;
}
