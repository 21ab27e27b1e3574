// The protocol trace file wbxml.log.
#include "server/vantro/protocol_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "server/config/text_file.h"

namespace {

constexpr size_t kStreamBufferBytes = 64 * 1024;

}  // namespace

CProtocolLog::FileBuffer::FileBuffer(CProtocolLog& log) : log_(log), space_(kStreamBufferBytes) {
    setp(space_.data(), space_.data() + space_.size());
}

bool CProtocolLog::FileBuffer::Drain() {
    const size_t held = static_cast<size_t>(pptr() - pbase());
    setp(space_.data(), space_.data() + space_.size());
    return log_.WriteStreamed(space_.data(), held);
}

CProtocolLog::FileBuffer::int_type CProtocolLog::FileBuffer::overflow(int_type ch) {
    if (!Drain()) return traits_type::eof();
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    return ch;
}

std::streamsize CProtocolLog::FileBuffer::xsputn(const char* text, std::streamsize count) {
    const size_t size = static_cast<size_t>(count);
    const size_t room = static_cast<size_t>(epptr() - pptr());
    if (size <= room) {
        traits_type::copy(pptr(), text, size);
        pbump(static_cast<int>(size));
        return count;
    }
    // Larger than the room left: what is held goes first, then the text itself
    // when it would not fit in the empty buffer either.
    if (!Drain()) return 0;
    if (size >= space_.size()) return log_.WriteStreamed(text, size) ? count : 0;
    traits_type::copy(pptr(), text, size);
    pbump(static_cast<int>(size));
    return count;
}

CProtocolLog::CProtocolLog() : buffer_(*this), stream_(&buffer_) {}

CProtocolLog::~CProtocolLog() { Close(); }

bool CProtocolLog::Open(const std::string& dataFolder) {
    Close();
    stream_.clear();
    if (dataFolder.empty()) return false;
    std::string path = dataFolder + "/wbxml.log";
    RotateLogIfFull(path, kMaxLogBytes);
    escaper_ = CLogEscaper();
    streamLeft_ = static_cast<size_t>(-1);
    streamDropped_ = 0;
    // The trace holds personal data: owner-only.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::FILE* f = fdopen(fd, "a");
    if (f == nullptr) {
        close(fd);
        return false;
    }
    file_.reset(f);
    return true;
}

bool CProtocolLog::WriteFile(const char* data, size_t size) {
    if (!file_ || size == 0) return true;
    return std::fwrite(data, 1, size, file_.get()) == size;
}

bool CProtocolLog::WriteStreamed(const char* data, size_t size) {
    size_t taken = std::min(size, streamLeft_);
    if (streamLeft_ != static_cast<size_t>(-1)) streamLeft_ -= taken;
    streamDropped_ += size - taken;
    if (taken == 0) return true;
    escaped_.clear();
    escaper_.Append(escaped_, std::string_view(data, taken));
    return WriteFile(escaped_.data(), escaped_.size());
}

void CProtocolLog::Write(std::string_view text) {
    if (!buffer_.Drain()) stream_.setstate(std::ios::badbit);
    WriteFile(text.data(), text.size());
    if (!text.empty()) escaper_ = CLogEscaper(text.back() == '\n' || text.back() == '\r');
}

void CProtocolLog::LimitStream(size_t maxBytes) {
    if (!buffer_.Drain()) stream_.setstate(std::ios::badbit);
    streamLeft_ = maxBytes;
    streamDropped_ = 0;
}

size_t CProtocolLog::StreamDropped() {
    if (!buffer_.Drain()) stream_.setstate(std::ios::badbit);
    return streamDropped_;
}

void CProtocolLog::Close() {
    buffer_.Drain();
    file_.reset();
}

std::string CProtocolLog::EntryHead() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char line[64];
    std::snprintf(line, sizeof line, "\n!!!%02d.%02d.%04d %02d:%02d %s(%s) %s\n", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, "", "", "");
    return line;
}
